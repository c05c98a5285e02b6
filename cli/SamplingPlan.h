#pragma once
// Turns the slider options into the values handed to the plug-in and the list of frames it will
// ask for. Ranges come from the plug-in's registered slider definitions; the clip length bounds
// the frame numbers, since the "End Frame" slider reaches far past most clips.

#include <string>
#include <vector>

#include "cli/Options.h"

namespace framemeld::cli {

// One registered slider, as far as the command line cares.
struct SliderRange {
    std::string label; // the name the host shows, e.g. "Every n-th Frame"
    double validMin = 0.0;
    double validMax = 0.0;
    double defaultValue = 0.0;
};

struct SliderRanges {
    SliderRange start;
    SliderRange end;
    SliderRange every;
    SliderRange divergence;
    SliderRange ratingRange;
};

struct SamplingPlan {
    int start = 0;
    int end = 0;
    int every = 1;
    double divergence = 0.0;
    double ratingRange = 0.0;
    std::vector<int> frames; // the frames the plug-in samples, in request order
};

// Throws UsageError when a given slider value lies outside its valid range, naming the range.
void checkSliderRanges(const Options &options, const SliderRanges &ranges);

// Throws as checkSliderRanges does, and also when a frame lies past the clip (naming its length),
// or when --start comes after --end.
SamplingPlan planSampling(const Options &options, const SliderRanges &ranges, int clipLength);

// The frames the plug-in requests for these slider values: start, start + every, ... up to and
// including end.
std::vector<int> sampledFrames(int start, int end, int every);

} // namespace framemeld::cli
