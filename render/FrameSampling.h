// Which frames of the input layer a render samples, and at what times.
#pragma once

#include <cstdint>
#include <limits>

#include "AE_Effect.h"

struct FrameSampling {
    A_long start;
    A_long end;  // never below start
    A_long step; // at least 1
};

// A slider value as a whole frame number: truncated toward zero. The host clamps sliders to their
// valid range, but an expression can still deliver anything, so NaN reads as 0 and values beyond
// the A_long range saturate instead of being converted with undefined behaviour.
A_long TruncateSliderValue(double value);

// Start, end and step from the three slider values. Start and end are held to the frame sliders'
// valid range 0..9999; then an end below the start becomes the start and a step that truncates to
// 0 or below becomes 1.
FrameSampling MakeFrameSampling(double start_value, double end_value, double every_value);

// The time of frame `frame` in units of time_scale (frame × time_step), when it fits in an A_long.
bool FrameTime(std::int64_t frame, A_long time_step, A_long *time);

// Calls visit(id, time) for frames start, start + step, ... up to end, with ids 0, 1, 2, ... and
// returns how many frames were visited. The frame numbers are formed in 64 bits, and sampling
// stops at the first frame whose time would leave the A_long range (or when the ids would), so
// neither a frame number nor a time is ever computed with overflow; such a frame could not be
// requested from the host anyway.
template <typename Visit>
A_long ForEachSampledFrame(const FrameSampling &sampling, A_long time_step, Visit &&visit)
{
    A_long id = 0;
    for (std::int64_t frame = sampling.start; frame <= sampling.end; frame += sampling.step) {
        A_long time = 0;
        if (id == std::numeric_limits<A_long>::max() || !FrameTime(frame, time_step, &time)) {
            break;
        }
        visit(id, time);
        ++id;
    }
    return id;
}
