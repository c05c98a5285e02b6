#include "cli/footage/FootageFrameSource.h"

#include <stdexcept>

namespace framemeld::cli {

FootageFrameSource::FootageFrameSource(const Clip &clip, const FootageFormat &format, Depth depth,
                                       int threads, const std::atomic<bool> *cancel)
    : clip_(clip), format_(format), depth_(depth), threads_(threads), cancel_(cancel)
{}

void FootageFrameSource::decode(const std::vector<int> &frames,
                                const std::function<void(long long, long long)> &progress)
{
    DecodeRequest request;
    request.clip = &clip_;
    request.format = format_;
    request.depth = depth_;
    request.threads = threads_;
    request.cancel = cancel_;
    request.progress = progress;

    // Worlds are made here, on one thread, so that the decoding threads only fill them.
    std::vector<runner::World *> targets;
    for (const int frame : frames) {
        if (frame < 0 || frame >= clip_.frameCount) {
            throw std::out_of_range("frame " + std::to_string(frame) + " is not in the clip");
        }
        auto &slot = frames_[frame];
        if (slot) {
            continue;
        }
        slot = std::make_unique<runner::World>(format_.width, format_.height, depth_);
        request.frames.push_back(frame);
        targets.push_back(slot.get());
    }
    request.target = [&targets](std::size_t index) {
        runner::World &world = *targets[index];
        return FrameTarget{world.row(0), world.rowStride()};
    };
    try {
        decodeFrames(request);
    } catch (...) {
        // A frame that did not finish must not pass for decoded footage later.
        for (const int frame : request.frames) {
            frames_.erase(frame);
        }
        throw;
    }
}

const runner::World &FootageFrameSource::frame(int index)
{
    if (index < 0 || index >= clip_.frameCount) {
        throw std::out_of_range("frame " + std::to_string(index) + " is not in the clip");
    }
    auto found = frames_.find(index);
    if (found == frames_.end() || !found->second) {
        decode({index});
        found = frames_.find(index);
    }
    return *found->second;
}

std::size_t FootageFrameSource::decodedBytes() const
{
    std::size_t bytes = 0;
    for (const auto &entry : frames_) {
        if (entry.second) {
            bytes += entry.second->byteSize();
        }
    }
    return bytes;
}

} // namespace framemeld::cli
