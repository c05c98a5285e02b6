#pragma once
// Half-float file rows widened to float host rows with the processor's own conversion (F16C),
// for the layouts nearly every EXR file has. The instruction is exact for every finite half,
// subnormals included, but turns signalling NaNs quiet; rows holding any infinity or NaN are left
// to the scalar conversion, so the host gets the same bits either way.

#include <cstdint>

#include "cli/pixels/PixelConversion.h"

namespace framemeld::cli {

// Whether this processor (and its operating system) can run the vector conversion; asked once.
bool hasHalfRowVector();

// Converts the row as halfRowToHost<float> does and returns true; returns false, having written
// nothing, when the processor lacks F16C, the layout is not grey, grey and alpha, RGB or RGBA in
// file order, or the row holds an infinity or a NaN.
bool halfRowToFloatVector(const std::uint16_t *file, const ChannelMap &map, int width, float *host);

} // namespace framemeld::cli
