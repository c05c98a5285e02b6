#pragma once
// The rendered plate as the host left it, and how it is to be stored.

#include <cstddef>

#include "cli/core/FootageFormat.h"

namespace framemeld::cli {

// Rows of alpha-first pixels at the render depth.
struct PlateImage {
    int width = 0;
    int height = 0;
    Depth depth = Depth::Bits8;
    const unsigned char *pixels = nullptr;
    std::ptrdiff_t rowBytes = 0;
};

struct PlateFileOptions {
    bool withAlpha = false;         // write RGBA when the footage had alpha (and the format can)
    bool unassociatedAlpha = false; // the colours are stored unpremultiplied, as in the footage
    // One grey channel, the red one: confidence images and difference mattes are one number a
    // pixel, and a file of three equal channels would only triple their size.
    bool singleChannel = false;
};

} // namespace framemeld::cli
