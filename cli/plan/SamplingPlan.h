#pragma once
// Turns the slider options into the values handed to the plug-in and the list of frames it will
// ask for. Ranges come from the plug-in's registered slider definitions; the clip length bounds
// the frame numbers, since the "End Frame" slider reaches far past most clips.

#include <optional>
#include <string>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/plan/Sliders.h"

namespace framemeld::cli {

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

// The clip's numbering: file numbers for a numbered image sequence, from 0 otherwise.
FrameNumbering numberingOf(const Clip &clip);

// What the user asked of the sliders, frames in the clip's own numbering; unset values take the
// whole clip, every frame and the plug-in's defaults.
struct SliderRequest {
    std::optional<double> start;
    std::optional<double> end;
    std::optional<double> every;
    // A frame list ("1001-1100x4", see FrameList.h) in place of start, end and every.
    std::optional<std::string> frames;
    SliderChoice divergence;
    SliderChoice ratingRange;
};

// The slider values are the plug-in's: layer frames counted from 0.
struct SamplingPlan : SliderValues {
    std::vector<int> frames; // the frames the plug-in samples, in request order
};

// Throws UsageError when a given slider value lies outside its valid range, naming the range.
// --start and --end wait for the clip, since their numbers depend on its numbering.
void checkSliderRanges(const SliderRequest &request, const SliderRanges &ranges);

// Throws as checkSliderRanges does, and also when --start or --end names a frame the clip does
// not have (naming its first and last number and the numbering in force), or when --start comes
// after --end. A frame list is mapped onto Start, End and Every and held to the same checks; it
// is refused when it is not one evenly spaced range or comes with --start, --end or --every.
SamplingPlan planSampling(const SliderRequest &request, const SliderRanges &ranges,
                          const FrameNumbering &numbering);

// The frames the plug-in requests for these slider values: start, start + every, ... up to and
// including end.
std::vector<int> sampledFrames(int start, int end, int every);

} // namespace framemeld::cli
