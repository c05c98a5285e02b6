// A small clip made in code, the same bytes on every platform: a static background with fine
// noise, a partly transparent corner, values above full scale in float, and a square that
// crosses the picture. Used to compare the plug-in's output between builds byte for byte, so
// it favours awkward values (odd sizes, non-round fractions) over pretty ones.
#pragma once

#include "runner/FrameSource.h"

namespace framemeld::packaging {

constexpr int kClipWidth = 45;
constexpr int kClipHeight = 29;
constexpr int kClipFrames = 16;

// Fills `source` (kClipWidth x kClipHeight, any depth) with kClipFrames frames.
void AddGeneratedClip(runner::InMemoryFrameSource &source);

} // namespace framemeld::packaging
