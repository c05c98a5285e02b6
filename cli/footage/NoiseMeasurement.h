#pragma once
// The footage's temporal noise, measured from the sampled frames, for `--divergence auto`
// (plan/AutoSettings.h turns it into the slider's value). The consensus needs a tolerance wide
// enough that the background's own wobble (sensor grain, compression) agrees with itself, and no
// wider, or whatever lingers in front of it merges with it; the width of that wobble is a
// property of the clip, so it is measured from the clip and nothing else.
//
// Consecutive frames are the wrong yardstick for compressed video: a codec copies unchanged
// blocks from frame to frame, so most consecutive differences are exact zeros whatever the noise
// it coded into the blocks, and how many copies there are depends on how far apart the sampled
// frames lie (--every). The spread of every sample of a place about that place's middle sees the
// noise between the copies, and is the same in expectation however densely the clip is sampled.

#include <vector>

#include "cli/footage/FrameRows.h"

namespace framemeld::cli {

struct NoiseEstimate {
    // Standard deviation of one channel's samples about their place's middle, in full scale
    // (1.0 = 255 levels at 8 bits, 32768 at 16 bits, 1.0 in float).
    double sigma = 0.0;
    // Channel samples the figure rests on (the middle sample of each place not counted); 0 when
    // fewer than two frames were given.
    long long deviations = 0;
};

// The noise of `frames` (clip frames in sampled order, repeats allowed; at least two for a
// figure), read one sampled row of every frame at a time through `source.gatherRow`.
//
// At each sampled place and colour channel the middle is the samples' median, unless they crowd
// together far from it (the sample with the most others within a level of 255 has more company
// than the median and lies further from it than 8 levels and than three sigmas of the median
// absolute deviation): then the median of the samples within 4 levels of that crowd. Where the
// samples crowd is the background wherever it holds still, even under someone who stands for
// most of the clip but wanders by a few levels. The absolute deviations of the other samples from
// the middle are pooled over the whole grid. Sigma is their root mean square up to one cut (three
// sigmas of the pooled median's estimate, never below 4 levels of 255), corrected for the cut as
// for Gaussian noise and for the middle's own error; the cut keeps what passes in front out, and a
// mean square, unlike a median, stays above zero when most samples repeat their neighbour's value
// exactly and a few jump. NaN samples are left out. At 8 bits the figure holds the rounding of
// the samples and of each place's median too (a twelfth of a level squared each), which no
// correction can take out of footage whose samples mostly repeat exactly.
//
// The rows are read on the calling thread, a few at a time, and measured on up to `threads`
// threads; the deviations are pooled in integer counts, so the figure is the same bit for bit
// whatever the thread count, and, since the grid depends on the frame size alone, whatever holds
// the frames or the memory budget.
NoiseEstimate estimateTemporalNoise(FrameRows &source, const std::vector<int> &frames,
                                    int threads = 1);

// The rows the estimate reads from a frame of this size: a fixed number apart, set by the size
// alone.
std::vector<int> noiseSampleRows(int width, int height);

} // namespace framemeld::cli
