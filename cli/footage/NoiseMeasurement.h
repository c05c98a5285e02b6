#pragma once
// The footage's temporal noise, measured from the sampled frames, for `--divergence auto`
// (plan/AutoSettings.h turns it into the slider's value). The consensus needs a tolerance wide
// enough that the background's own wobble (sensor grain, compression) agrees with itself, and no
// wider, or whatever lingers in front of it merges with it; the width of that wobble is a
// property of the clip, so it is measured from the clip and nothing else.

#include <vector>

#include "cli/footage/FrameRows.h"

namespace framemeld::cli {

struct NoiseEstimate {
    // Standard deviation of one channel's temporal noise, in units of full scale (1.0 = 255
    // levels at 8 bits, 32768 at 16 bits, 1.0 in float).
    double sigma = 0.0;
    // Channel differences the estimate rests on; 0 when fewer than two frames were given.
    long long differences = 0;
};

// Temporal noise of `frames` (clip frames in sampled order): the colour channels' differences
// between consecutive frames at a fixed grid of positions, and their median turned into a sigma.
// The median ignores whatever moves through the shot as long as it changes fewer than half of
// the differences, and a grid that depends only on the frame size makes the result the same on
// any machine and thread count. The rows are read a row of every frame at a time, so only one
// row of each frame is in memory at once, and the value cannot depend on how the frames are
// held.
NoiseEstimate estimateTemporalNoise(FrameRows &source, const std::vector<int> &frames);

// The rows the estimate reads from a frame of this size: a fixed number apart, set by the size
// alone.
std::vector<int> noiseSampleRows(int width, int height);

} // namespace framemeld::cli
