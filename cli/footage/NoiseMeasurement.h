#pragma once
// The footage's temporal noise, measured from the sampled frames, for `--divergence auto`
// (plan/AutoSettings.h turns it into the slider's value). The consensus needs a tolerance wide
// enough that the background's own wobble (sensor grain, compression) agrees with itself, and no
// wider, or whatever lingers in front of it merges with it; the width of that wobble is a
// property of the clip, so it is measured from the clip and nothing else.

#include <cstddef>
#include <functional>
#include <vector>

#include "runner/FrameSource.h"
#include "runner/World.h"

namespace framemeld::cli {

struct NoiseEstimate {
    // Standard deviation of one channel's temporal noise, in units of full scale (1.0 = 255
    // levels at 8 bits, 32768 at 16 bits, 1.0 in float).
    double sigma = 0.0;
    // Channel differences the estimate rests on; 0 when fewer than two frames were given.
    long long differences = 0;
};

// Temporal noise of `frames` (in sampled order, one depth and size): the colour channels'
// differences between consecutive frames at a fixed grid of positions, and their median
// turned into a sigma. The median ignores whatever moves through the shot as long as it
// changes fewer than half of the differences, and a grid that depends only on the frame size
// makes the result the same on any machine and thread count. Throws std::invalid_argument when
// the frames differ in size or depth.
NoiseEstimate estimateTemporalNoise(const std::vector<const runner::World *> &frames);

// The same estimate from the same rows, read through `source.fillArea` one row at a time, for a
// source that holds no whole frames (the scratch file behind a plate rendered in strips): the
// value does not depend on how the frames are held. `frames` are clip indices in sampled order;
// only two frames' sampled rows are in memory at once.
NoiseEstimate estimateTemporalNoise(runner::FrameSource &source, const std::vector<int> &frames);

// Row `row` of each of `frames` (clip indices, in sampled order) into row i of `into`, a world
// of the frame's width, frames.size() rows and the render depth.
using FrameRowGather =
    std::function<void(int row, const std::vector<int> &frames, runner::World &into)>;

// The same estimate again, gathered one sampled row at a time across every frame, for a source
// that reads a row of many frames at once faster than many rows of one (footage read from its
// files on several threads); only one row of each frame is in memory at once. The differences
// are the same, so is the value.
NoiseEstimate estimateTemporalNoise(int width, int height, runner::PixelDepth depth,
                                    const std::vector<int> &frames, const FrameRowGather &gather);

// The rows the estimate reads from a frame of this size: a fixed number apart, set by the size
// alone.
std::vector<int> noiseSampleRows(int width, int height);

} // namespace framemeld::cli
