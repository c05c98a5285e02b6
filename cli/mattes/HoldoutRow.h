// Where a holdout matte says foreground, the frame's sample is replaced by that frame's code
// (HoldoutCodes) before the plug-in sees it, one row at a time, so the tool can prepare frames
// as it decodes them, whole or strip by strip, in the memory it already holds them in.
#pragma once

#include <cstdint>

#include "cli/mattes/HoldoutCodes.h"
#include "runner/World.h"

namespace framemeld::mattes {

// Writes the code of sampled frame `frameIndex` over every pixel of `row` (`width` host pixels
// of codes.depth()) whose matte entry is non-zero (held out); other pixels keep their value.
// Throws std::out_of_range when the frame has no code (see HoldoutCodes::code8).
void applyHoldoutRow(const HoldoutCodes &codes, long frameIndex, const std::uint8_t *matte,
                     unsigned char *row, int width);
void applyHoldoutRow(const HoldoutCodes &codes, long frameIndex, const bool *matte,
                     unsigned char *row, int width);

// The same over a whole frame: `matte` holds frame.width() entries per row, rows one after
// another. Throws std::invalid_argument when the frame's depth is not the codes' depth.
void applyHoldout(const HoldoutCodes &codes, long frameIndex, const std::uint8_t *matte,
                  runner::World &frame);

} // namespace framemeld::mattes
