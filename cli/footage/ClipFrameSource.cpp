#include "cli/footage/ClipFrameSource.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

#include "cli/core/ParallelItems.h"
#include "cli/files/ScratchFile.h"
#include "cli/footage/FileRowsFrameSource.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/MemoryFrameSource.h"
#include "cli/footage/ScratchFrameSource.h"

namespace framemeld::cli {

ClipFrameSource::ClipFrameSource(const Clip &clip, const FootageFormat &format, Depth depth,
                                 int threads, const std::atomic<bool> *cancel)
    : clip_(clip), format_(format), depth_(depth), threads_(threads < 1 ? 1 : threads),
      cancel_(cancel)
{}

ClipFrameSource::~ClipFrameSource() = default;

const runner::World &ClipFrameSource::frame(int index)
{
    checkFrame(index);
    auto held = wholeFrames_.find(index);
    if (held == wholeFrames_.end()) {
        held = wholeFrames_.emplace(index, makeFrame(index)).first;
    }
    return held->second;
}

runner::World ClipFrameSource::makeFrame(int index)
{
    runner::World world(format_.width, format_.height, depth_);
    if (format_.width > 0 && format_.height > 0) {
        fillArea(index, PF_LRect{0, 0, format_.width, format_.height}, world);
    }
    return world;
}

void ClipFrameSource::gatherRow(int row, const std::vector<int> &frames, runner::World &into)
{
    checkRowGather(row, frames, into);
    runner::World line(format_.width, 1, depth_);
    const std::size_t bytes =
        static_cast<std::size_t>(format_.width) * runner::bytesPerPixel(depth_);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        fillArea(frames[i], PF_LRect{0, row, format_.width, row + 1}, line);
        std::memcpy(into.row(static_cast<int>(i)), line.row(0), bytes);
    }
}

void ClipFrameSource::checkStageFits(const FrameStage &) const {}

void ClipFrameSource::addStage(StageOrder order, std::shared_ptr<const FrameStage> stage)
{
    if (stage) {
        checkStageFits(*stage);
    }
    preparation_.add(order, stage);
    // The frames held whole already passed the earlier stages; this one follows them there,
    // frame by frame on the decoding threads.
    std::vector<std::pair<int, runner::World *>> held;
    for (auto &[index, world] : wholeFrames_) {
        held.emplace_back(index, &world);
    }
    forEachItem(held.size(), threads_, [&](std::size_t i) {
        runner::World &world = *held[i].second;
        stage->apply(held[i].first, PF_LRect{0, 0, world.width(), world.height()}, world.row(0),
                     world.rowStride());
    });
}

void ClipFrameSource::checkFrame(int index) const
{
    if (index < 0 || index >= clip_.frameCount) {
        throw std::out_of_range("frame " + std::to_string(index) + " is not in the clip");
    }
}

void ClipFrameSource::checkArea(const PF_LRect &area, const runner::World &into) const
{
    if (area.left < 0 || area.top < 0 || area.right > format_.width ||
        area.bottom > format_.height || area.left >= area.right || area.top >= area.bottom) {
        throw std::invalid_argument("the area is empty or not within the frame");
    }
    if (!into.valid() || into.width() != area.right - area.left ||
        into.height() != area.bottom - area.top || into.depth() != depth_) {
        throw std::invalid_argument("the world does not have the area's size and the depth");
    }
}

void ClipFrameSource::checkRowGather(int row, const std::vector<int> &frames,
                                     const runner::World &into) const
{
    if (row < 0 || row >= format_.height) {
        throw std::invalid_argument("the row is not within the frame");
    }
    if (!into.valid() || into.width() != format_.width ||
        into.height() != static_cast<int>(frames.size()) || into.depth() != depth_) {
        throw std::invalid_argument("the world does not hold a row of each frame at the depth");
    }
    for (const int frame : frames) {
        checkFrame(frame);
    }
}

DecodeRequest ClipFrameSource::decodeRequest(std::vector<int> frames, int threads) const
{
    DecodeRequest request;
    request.clip = &clip_;
    request.format = format_;
    request.frames = std::move(frames);
    request.depth = depth_;
    request.threads = threads;
    request.cancel = cancel_;
    return request;
}

void ClipFrameSource::decode(const DecodeRequest &request)
{
    const auto start = std::chrono::steady_clock::now();
    struct Timed {
        std::chrono::steady_clock::time_point start;
        double &seconds;
        ~Timed()
        {
            seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
    } timed{start, readSeconds_};
    decodeFrames(request);
}

std::unique_ptr<ClipFrameSource> makeClipFrameSource(FrameStorage storage, const Clip &clip,
                                                     const FootageFormat &format, Depth depth,
                                                     int threads, const std::atomic<bool> *cancel)
{
    switch (storage) {
    case FrameStorage::Memory:
        return std::make_unique<MemoryFrameSource>(clip, format, depth, threads, cancel);
    case FrameStorage::ScratchFile:
        return std::make_unique<ScratchFrameSource>(clip, format, depth, threads, cancel,
                                                    ScratchFile::defaultFolder());
    case FrameStorage::FileRows:
        return std::make_unique<FileRowsFrameSource>(clip, format, depth, threads, cancel);
    }
    throw std::logic_error("no frame source for this storage");
}

} // namespace framemeld::cli
