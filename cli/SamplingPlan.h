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

// How the command line names the clip's frames. Users of sequence tools expect --start 1001 to
// be the file shot.1001.exr, so a numbered image sequence goes by the numbers its files carry;
// a folder of frames and a movie count from 0. The plug-in's sliders count layer frames from 0
// whatever the footage, so the plan maps one to the other.
struct FrameNumbering {
    int frameCount = 0;
    long long first = 0; // the number of the clip's first frame
    bool fileNumbers = false;

    long long last() const { return first + frameCount - 1; }
    // "file numbers 1001 to 1100" or "frames counted from 0: 0 to 794", for the summary line.
    std::string describe() const;
};

// The slider values are the plug-in's: layer frames counted from 0.
struct SamplingPlan {
    int start = 0;
    int end = 0;
    int every = 1;
    double divergence = 0.0;
    double ratingRange = 0.0;
    std::vector<int> frames; // the frames the plug-in samples, in request order
};

// Throws UsageError when a given slider value lies outside its valid range, naming the range.
// --start and --end wait for the clip, since their numbers depend on its numbering.
void checkSliderRanges(const Options &options, const SliderRanges &ranges);

// Throws as checkSliderRanges does, and also when --start or --end names a frame the clip does
// not have (naming its first and last number and the numbering in force), or when --start comes
// after --end.
SamplingPlan planSampling(const Options &options, const SliderRanges &ranges,
                          const FrameNumbering &numbering);

// The frames the plug-in requests for these slider values: start, start + every, ... up to and
// including end.
std::vector<int> sampledFrames(int start, int end, int every);

} // namespace framemeld::cli
