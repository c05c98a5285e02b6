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
    : ClipFrameSource(clip, format, depth, threads, cancel), file_(folder),
      slots_(static_cast<std::size_t>(clip.frameCount), -1)
{}

std::uint64_t ScratchFrameSource::frameBytes() const
{
    return static_cast<std::uint64_t>(format_.width) * static_cast<std::uint64_t>(format_.height) *
           runner::bytesPerPixel(depth_);
}

void ScratchFrameSource::prepare(const std::vector<int> &frames, const Progress &progress)
{
    DecodeRequest request = decodeRequest({}, threads_);
    request.progress = progress;

    std::vector<std::int64_t> requestSlots;
    for (const int frame : frames) {
        checkFrame(frame);
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
    if (slotCount_ == 0) {
        storedStages_ = preparation().size();
    }
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
            if (storedStages_ > 0) {
                // Only the stored stages: the rest follow as rows are read back.
                preparation().apply(request.frames[index],
                                    PF_LRect{0, 0, format_.width, format_.height}, target.pixels,
                                    rowBytes, 0, storedStages_);
            }
            file_.writeAt(static_cast<std::uint64_t>(requestSlots[index]) * bytes, target.pixels,
                          static_cast<std::size_t>(bytes));
        };
        decode(request);
    } catch (...) {
        forget();
        throw;
    }
    slotCount_ += static_cast<std::int64_t>(request.frames.size());
}

std::uint64_t ScratchFrameSource::slotOffset(int index)
{
    checkFrame(index);
    if (slots_[static_cast<std::size_t>(index)] < 0) {
        prepare({index});
    }
    return static_cast<std::uint64_t>(slots_[static_cast<std::size_t>(index)]) * frameBytes();
}

void ScratchFrameSource::fillArea(int index, const PF_LRect &area, runner::World &into)
{
    checkArea(area, into);
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
    applyStages(index, area, into, storedStages_);
}

void ScratchFrameSource::checkStageFits(const FrameStage &stage) const
{
    if (stage.wholeFrame() && slotCount_ > 0) {
        throw std::invalid_argument("a whole-frame stage added after frames reached the scratch "
                                    "file");
    }
}

std::uint64_t ScratchFrameSource::scratchBytes() const
{
    return static_cast<std::uint64_t>(slotCount_) * frameBytes();
}

} // namespace framemeld::cli
