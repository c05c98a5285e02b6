#pragma once
// Frame lists as compositors type them, oiiotool's and Nuke's way: "1001-1100x4" (every 4th frame
// from 1001 up to 1100), lists of numbers and ranges ("1001,1005,1009", "1001-1040,1100-1150x2").
// The plug-in samples one evenly spaced range (Start, Start + Every, ... up to End), so a list is
// taken when its frames are exactly such a range, and refused, saying where the spacing breaks,
// when they are not.

#include <string>
#include <vector>

namespace framemeld::cli {

struct FrameRange {
    long long first = 0;
    long long last = 0; // the range's end as typed; the frames stop at or before it
    long long step = 1;
};

// Throws UsageError naming `text` when it is not a list of N, N-M or N-MxS items separated by
// commas (or spaces), with M not below N and S at least 1.
std::vector<FrameRange> parseFrameList(const std::string &text);

// The one evenly spaced range the listed frames make.
struct EvenFrames {
    long long start = 0;
    long long end = 0; // the last listed frame
    long long every = 1;
    long long count = 0;
};

// Throws UsageError (the option named as `option`, e.g. "--frames 1001-1040,1100-1150x2") when
// the frames are not one evenly spaced range, or when the list names more frames than a clip
// can have.
EvenFrames evenFrames(const std::vector<FrameRange> &ranges, const std::string &option);

} // namespace framemeld::cli
