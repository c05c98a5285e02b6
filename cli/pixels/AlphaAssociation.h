#pragma once
// Colour with alpha is stored two ways: straight (PNG, most TIFFs, movies: the colour as it is,
// alpha beside it) and premultiplied (EXR: the colour already multiplied by alpha). The plug-in
// averages whatever the footage holds, so the plate holds what its frames held; a plate format
// that declares the other association gets it here, once, in float, as the plate is written.
//
// Rows are interleaved RGBA in file order. Where alpha is 0 the colour cannot be divided out and
// is kept as it is.

#include <cstdint>

namespace framemeld::cli {

void premultiplyRow(float *rgba, int width);
void unpremultiplyRow(float *rgba, int width);

// The same for integer samples (full scale 255 or 65535): through float, rounded back, colours
// above full scale (more colour than alpha, which premultiplied samples cannot mean) clipped.
void unpremultiplyRow(std::uint8_t *rgba, int width);
void unpremultiplyRow(std::uint16_t *rgba, int width);

} // namespace framemeld::cli
