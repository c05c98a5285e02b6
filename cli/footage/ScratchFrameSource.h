#pragma once
// The clip for footage too big to hold: each sampled frame is decoded once (in parallel for image
// sequences, in one forward pass for movies) into a small pool of reusable buffers, one per
// decoding thread, and written at the render depth into one scratch file. A plate rendered in
// strips then reads just the strip's rows of each frame back, so memory holds a strip of every
// frame, never the frames themselves.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/files/ScratchFile.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "runner/FrameSource.h"

namespace framemeld::cli {

class ScratchFrameSource final : public runner::FrameSource {
public:
    // The scratch file is made in `folder` (see ScratchFile); `threads` decode at once, each with
    // one frame-sized buffer.
    ScratchFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                       const std::atomic<bool> *cancel, const std::string &folder);

    // As FootageFrameSource::decode. The scratch file grows by the new frames first, so a full
    // disk stops the run before any decoding.
    void decode(const std::vector<int> &frames,
                const std::function<void(long long done, long long total)> &progress = {});

    int frameCount() const override { return clip_.frameCount; }
    int width() const override { return format_.width; }
    int height() const override { return format_.height; }
    Depth depth() const override { return depth_; }

    // A whole frame, read back and then held (a render of one strip covering the plate asks so).
    const runner::World &frame(int index) override;
    // Reads the area's rows of the frame from the scratch file.
    void fillArea(int index, const PF_LRect &area, runner::World &into) override;

    // Bytes of decoded frames in the scratch file.
    std::uint64_t scratchBytes() const;

private:
    std::uint64_t frameBytes() const;
    std::uint64_t slotOffset(int index);

    const Clip &clip_;
    FootageFormat format_;
    Depth depth_;
    int threads_;
    const std::atomic<bool> *cancel_;
    ScratchFile file_;
    std::vector<std::int64_t> slots_; // by clip frame: its place in the file, -1 until decoded
    std::int64_t slotCount_ = 0;
    std::map<int, runner::World> wholeFrames_;
};

} // namespace framemeld::cli
