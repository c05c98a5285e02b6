#pragma once
// The clip for footage too big to hold: each sampled frame is decoded once (in parallel for image
// sequences, in one forward pass for movies) into a small pool of reusable buffers, one per
// decoding thread, and written at the render depth into one scratch file. A plate rendered in
// bands then reads just the band's rows of each frame back, so memory holds a band of every
// frame, never the frames themselves.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/files/ScratchFile.h"
#include "cli/footage/ClipFrameSource.h"

namespace framemeld::cli {

class ScratchFrameSource final : public ClipFrameSource {
public:
    // The scratch file is made in `folder` (see ScratchFile); `threads` decode at once, each with
    // one frame-sized buffer.
    ScratchFrameSource(const Clip &clip, const FootageFormat &format, Depth depth, int threads,
                       const std::atomic<bool> *cancel, const std::string &folder);

    // Decodes the frames not yet in the file. The scratch file grows by the new frames first, so
    // a full disk stops the run before any decoding.
    void prepare(const std::vector<int> &frames, const Progress &progress = {}) override;

    // Reads the area's rows of the frame from the scratch file.
    void fillArea(int index, const PF_LRect &area, runner::World &into) override;

    std::uint64_t scratchBytes() const override;

protected:
    // A whole-frame stage only while the file is empty: its frames are stored as staged then.
    void checkStageFits(const FrameStage &stage) const override;

private:
    std::uint64_t frameBytes() const;
    std::uint64_t slotOffset(int index);

    ScratchFile file_;
    std::vector<std::int64_t> slots_; // by clip frame: its place in the file, -1 until decoded
    std::int64_t slotCount_ = 0;
    // The stages applied to each frame before it is written into the file (those added before
    // the first frame was decoded); the later ones are applied as rows are read back.
    std::size_t storedStages_ = 0;
};

} // namespace framemeld::cli
