#include "cli/footage/ScratchFrameSource.h"

#include <memory>
#include <mutex>
#include <stdexcept>

namespace framemeld::cli {
namespace {

// Frame-sized buffers handed to the decoding threads and taken back as each frame is written
// away: as many exist as frames are decoded at once, however many frames the clip has.
class BufferPool {
public:
    explicit BufferPool(std::size_t bytes) : bytes_(bytes) {}

    unsigned char *take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty()) {
            owned_.push_back(std::make_unique<unsigned char[]>(bytes_));
            return owned_.back().get();
        }
        unsigned char *buffer = free_.back();
        free_.pop_back();
        return buffer;
    }

    void giveBack(unsigned char *buffer)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(buffer);
    }

private:
    std::size_t bytes_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<unsigned char[]>> owned_;
    std::vector<unsigned char *> free_;
};

} // namespace

ScratchFrameSource::ScratchFrameSource(const Clip &clip, const FootageFormat &format, Depth depth,
                                       int threads, const std::atomic<bool> *cancel,
                                       const std::string &folder)
    : clip_(clip), format_(format), depth_(depth), threads_(threads), cancel_(cancel),
      file_(folder), slots_(static_cast<std::size_t>(clip.frameCount), -1)
{}

std::uint64_t ScratchFrameSource::frameBytes() const
{
    return static_cast<std::uint64_t>(format_.width) * static_cast<std::uint64_t>(format_.height) *
           runner::bytesPerPixel(depth_);
}

void ScratchFrameSource::decode(const std::vector<int> &frames,
                                const std::function<void(long long, long long)> &progress)
{
    DecodeRequest request;
    request.clip = &clip_;
    request.format = format_;
    request.depth = depth_;
    request.threads = threads_;
    request.cancel = cancel_;
    request.progress = progress;

    std::vector<std::int64_t> requestSlots;
    for (const int frame : frames) {
        if (frame < 0 || frame >= clip_.frameCount) {
            throw std::out_of_range("frame " + std::to_string(frame) + " is not in the clip");
        }
        std::int64_t &slot = slots_[static_cast<std::size_t>(frame)];
        if (slot >= 0) {
            continue;
        }
        slot = slotCount_ + static_cast<std::int64_t>(request.frames.size());
        request.frames.push_back(frame);
        requestSlots.push_back(slot);
    }
    if (request.frames.empty()) {
        return;
    }
    const std::uint64_t bytes = frameBytes();
    const auto forget = [&] {
        // A frame that did not reach the file must not pass for decoded footage later.
        for (const int frame : request.frames) {
            slots_[static_cast<std::size_t>(frame)] = -1;
        }
    };
    try {
        file_.reserve((static_cast<std::uint64_t>(slotCount_) + request.frames.size()) * bytes);

        const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(
            static_cast<std::uint64_t>(format_.width) * runner::bytesPerPixel(depth_));
        BufferPool pool(static_cast<std::size_t>(bytes));
        request.target = [&pool, rowBytes](std::size_t) {
            return FrameTarget{pool.take(), rowBytes};
        };
        request.decoded = [&](std::size_t index, const FrameTarget &target) {
            // Given back even when the write fails, so the buffer is not lost to the pool.
            struct GiveBack {
                BufferPool &pool;
                unsigned char *buffer;
                ~GiveBack() { pool.giveBack(buffer); }
            } giveBack{pool, target.pixels};
            file_.writeAt(static_cast<std::uint64_t>(requestSlots[index]) * bytes, target.pixels,
                          static_cast<std::size_t>(bytes));
        };
        decodeFrames(request);
    } catch (...) {
        forget();
        throw;
    }
    slotCount_ += static_cast<std::int64_t>(request.frames.size());
}

std::uint64_t ScratchFrameSource::slotOffset(int index)
{
    if (index < 0 || index >= clip_.frameCount) {
        throw std::out_of_range("frame " + std::to_string(index) + " is not in the clip");
    }
    if (slots_[static_cast<std::size_t>(index)] < 0) {
        decode({index});
    }
    return static_cast<std::uint64_t>(slots_[static_cast<std::size_t>(index)]) * frameBytes();
}

const runner::World &ScratchFrameSource::frame(int index)
{
    const auto held = wholeFrames_.find(index);
    if (held != wholeFrames_.end()) {
        return held->second;
    }
    runner::World world(format_.width, format_.height, depth_);
    if (format_.width > 0 && format_.height > 0) {
        fillArea(index, PF_LRect{0, 0, format_.width, format_.height}, world);
    }
    return wholeFrames_.emplace(index, std::move(world)).first->second;
}

void ScratchFrameSource::fillArea(int index, const PF_LRect &area, runner::World &into)
{
    if (area.left < 0 || area.top < 0 || area.right > format_.width ||
        area.bottom > format_.height || area.left >= area.right || area.top >= area.bottom) {
        throw std::invalid_argument("the area is empty or not within the frame");
    }
    if (!into.valid() || into.width() != area.right - area.left ||
        into.height() != area.bottom - area.top || into.depth() != depth_) {
        throw std::invalid_argument("the world does not have the area's size and the depth");
    }
    const std::uint64_t frameStart = slotOffset(index);
    const std::uint64_t pixel = runner::bytesPerPixel(depth_);
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(format_.width) * pixel;
    const std::size_t readBytes =
        static_cast<std::size_t>(static_cast<std::uint64_t>(area.right - area.left) * pixel);
    for (int y = area.top; y < area.bottom; ++y) {
        const std::uint64_t offset = frameStart + static_cast<std::uint64_t>(y) * rowBytes +
                                     static_cast<std::uint64_t>(area.left) * pixel;
        file_.readAt(offset, into.row(y - area.top), readBytes);
    }
}

std::uint64_t ScratchFrameSource::scratchBytes() const
{
    return static_cast<std::uint64_t>(slotCount_) * frameBytes();
}

} // namespace framemeld::cli
