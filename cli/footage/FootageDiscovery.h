#pragma once
// Finds the frames that make up the clip named on the command line: a numbered image sequence
// (shot.####.exr, shot.%04d.png), a folder of frames, a movie file, or a single still image.
// Nothing is decoded here; only a movie is opened, to count its frames.

#include <atomic>
#include <string>
#include <vector>

#include "cli/core/Clip.h"

namespace framemeld::cli {

// Throws RunError naming the input when nothing usable is found: a missing file or folder, a
// pattern that matches no file, a movie without video frames; frames missing from a numbered
// sequence are noted (Clip::missingFrames), not refused here;
// CancelledError when `cancel` is set while a movie is read to count its frames.
Clip discoverClip(const std::string &input, const std::atomic<bool> *cancel = nullptr);

// Throws RunError naming the first of `frames` (clip frames) that no file of the clip carries,
// as a sequence with a hole is refused; frames between them that are not sampled may be missing.
void requireSampledFrames(const Clip &clip, const std::vector<int> &frames,
                          const std::string &input);

// A numbered file name pattern: prefix, frame number padded to `padding` digits, suffix.
struct SequencePattern {
    std::string directory; // "" for the current folder
    std::string prefix;
    std::string suffix;
    int padding = 0; // 0: any number of digits (%d)

    std::string fileNameFor(long long number) const;
};

// Recognises "####" (four digits) or printf-style "%04d" / "%d" in the last path component.
// Returns false when the name holds no such placeholder.
bool parseSequencePattern(const std::string &path, SequencePattern &pattern);

// Orders names as people read them: digit runs compare by value, so "f9.png" < "f10.png";
// names that differ only in padding fall back to plain comparison.
bool naturalLess(const std::string &a, const std::string &b);

} // namespace framemeld::cli
