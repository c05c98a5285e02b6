#pragma once
// Whether the sampled frames move against each other, from their grey proxies (MotionProbe.h):
// each frame is registered to the reference with a translation per tile of a 3 x 3 grid (an
// integer search on a coarse level with a truncated absolute difference, then Lucas-Kanade with
// Tukey weights down to the proxy), so a person walking through a tile is weighed out of it, and
// the tiles of a frame vote for its motion, so one that lingers over a third of the frame does
// not make a locked-off camera look like it moves. Tiles without texture, or whose frame does not
// match the reference there (a cut, a fade), give no figure instead of a false one.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "cli/footage/MotionProbe.h"

namespace framemeld::cli {

// Frames that move by more than this many footage pixels make a plate visibly softer.
inline constexpr double kMotionThreshold = 0.5;

struct MotionMeasurement {
    bool measured = false;
    std::string reason;             // why not, when not measured
    double largestDisplacement = 0; // footage pixels, over the frames and the tiles that agree
    int largestFrame = -1;          // the clip frame that moved most
    int reference = -1;             // the clip frame the others were registered to
    // Some frame's tiles moved differently (by more than half a pixel): the camera turned or
    // zoomed, and a translation would not line the frames up.
    bool tilesDisagree = false;
    int framesMeasured = 0;       // frames registered, the reference left out
    int framesWithoutTexture = 0; // frames too few tiles of which could be registered

    bool moves() const { return measured && largestDisplacement > kMotionThreshold; }
    // The --align model to try; empty when the frames hold still.
    std::string suggestedAlign() const;
};

// Registers each of `frames` (clip frame, proxy; all of one size) to `frames[reference]`, on
// `threads`. The figures do not depend on the thread count.
MotionMeasurement measureMotion(const std::vector<std::pair<int, const GreyProxy *>> &frames,
                                std::size_t reference, int threads);

} // namespace framemeld::cli
