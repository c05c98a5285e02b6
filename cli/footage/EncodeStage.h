#pragma once
// A working space other than `linear` changes the values the plug-in compares, so its encoding is
// one of the frame stages (FrameStages.h), in the Encode slot: after any warp, before the holdout
// codes, which must keep the values they were given. Through the stage it reaches every way the
// frames are held (in memory, in a scratch file, read from their files row by row) and every
// reader of them: the plug-in, the noise measurement, the examination of the plate.

#include "cli/core/FootageFormat.h"
#include "cli/footage/FrameStages.h"
#include "cli/workspace/WorkingSpace.h"

namespace framemeld::cli {

class EncodeStage : public FrameStage {
public:
    // Throws std::invalid_argument for a space that changes no pixel (such a run has no stage)
    // and for one at another depth than the frames'.
    EncodeStage(WorkingSpace space, Depth frameDepth);

    void apply(int frame, const PF_LRect &area, unsigned char *pixels,
               std::ptrdiff_t rowBytes) const override;

private:
    const WorkingSpace space_;
};

} // namespace framemeld::cli
