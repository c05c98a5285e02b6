#include "runner/FrameSource.h"

#include <stdexcept>
#include <string>

namespace framemeld::runner {

FrameSource::~FrameSource() = default;

void FrameSource::fillArea(int index, const PF_LRect &area, World &into)
{
    copyPixels(frame(index), area, into, 0, 0);
}

World FrameSource::takeArea(int, const PF_LRect &)
{
    return World();
}

InMemoryFrameSource::InMemoryFrameSource(int width, int height, PixelDepth depth,
                                         RowPadding padding)
    : width_(width), height_(height), depth_(depth), padding_(padding)
{
    // Checks the size and padding once, before any frame exists, without allocating a frame.
    World probeRow(width, 0, depth, padding);
    World probeColumn(0, height, depth, padding);
}

World &InMemoryFrameSource::addFrame()
{
    frames_.emplace_back(width_, height_, depth_, padding_);
    return frames_.back();
}

World &InMemoryFrameSource::addFrame(World frame)
{
    if (!frame.valid() || frame.width() != width_ || frame.height() != height_ ||
        frame.depth() != depth_) {
        throw std::invalid_argument("frame does not match the source's size and depth");
    }
    frames_.push_back(std::move(frame));
    return frames_.back();
}

World &InMemoryFrameSource::frameForWriting(int index)
{
    if (index < 0 || index >= frameCount()) {
        throw std::out_of_range("no frame " + std::to_string(index));
    }
    return frames_[static_cast<std::size_t>(index)];
}

const World &InMemoryFrameSource::frame(int index)
{
    return frameForWriting(index);
}

} // namespace framemeld::runner
