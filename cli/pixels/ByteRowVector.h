#pragma once
// 8-bit file rows rendered at 8 bits: the samples go over unchanged into the host's alpha-first
// pixels, four pixels per byte shuffle (SSSE3) for the layouts nearly every file has.

#include <cstdint>

#include "cli/pixels/PixelConversion.h"

namespace framemeld::cli {

// Whether this processor can run the byte shuffle; asked once.
bool hasByteRowVector();

// Copies the row as fileRowToHost<uint8_t, uint8_t> does and returns true; returns false, having
// written nothing, when the processor lacks SSSE3 or the layout is not grey, grey and alpha, RGB
// or RGBA in file order.
bool byteRowToHostVector(const std::uint8_t *file, const ChannelMap &map, int width,
                         std::uint8_t *host);

} // namespace framemeld::cli
