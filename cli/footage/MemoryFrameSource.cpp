#include "cli/footage/MemoryFrameSource.h"

#include <set>

namespace framemeld::cli {

MemoryFrameSource::MemoryFrameSource(const Clip &clip, const FootageFormat &format, Depth depth,
                                     int threads, const std::atomic<bool> *cancel)
    : ClipFrameSource(clip, format, depth, threads, cancel)
{}

void MemoryFrameSource::prepare(const std::vector<int> &frames, const Progress &progress)
{
    std::vector<int> missing;
    std::set<int> seen;
    for (const int frame : frames) {
        checkFrame(frame);
        if (wholeFrames().count(frame) == 0 && seen.insert(frame).second) {
            missing.push_back(frame);
        }
    }
    // Worlds are made here, on one thread, so that the decoding threads only fill them; they
    // join the held frames only once every one is whole.
    std::vector<runner::World> decoded;
    decoded.reserve(missing.size());
    for (std::size_t i = 0; i < missing.size(); ++i) {
        decoded.emplace_back(format_.width, format_.height, depth_);
    }
    DecodeRequest request = decodeRequest(missing, threads_);
    request.progress = progress;
    request.target = [&decoded](std::size_t index) {
        runner::World &world = decoded[index];
        return FrameTarget{world.row(0), world.rowStride()};
    };
    request.decoded = [&](std::size_t index, const FrameTarget &) {
        runner::World &world = decoded[index];
        applyStages(missing[index], PF_LRect{0, 0, world.width(), world.height()}, world);
    };
    decode(request);
    for (std::size_t i = 0; i < missing.size(); ++i) {
        wholeFrames().emplace(missing[i], std::move(decoded[i]));
    }
}

runner::World MemoryFrameSource::makeFrame(int index)
{
    runner::World world(format_.width, format_.height, depth_);
    DecodeRequest request = decodeRequest({index}, threads_);
    request.target = [&world](std::size_t) { return FrameTarget{world.row(0), world.rowStride()}; };
    decode(request);
    applyStages(index, PF_LRect{0, 0, world.width(), world.height()}, world);
    return world;
}

std::size_t MemoryFrameSource::decodedBytes() const
{
    std::size_t bytes = 0;
    for (const auto &entry : wholeFrames()) {
        bytes += entry.second.byteSize();
    }
    return bytes;
}

} // namespace framemeld::cli
