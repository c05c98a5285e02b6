#pragma once
// The rendered plate as the host left it, and how it is to be stored.

#include <cstddef>
#include <string>

#include "cli/core/FootageFormat.h"
#include "cli/core/PlateMetadata.h"

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
    bool unassociatedAlpha = false; // the plate's colours are straight (unpremultiplied)
    // One grey channel, the red one: confidence images and difference mattes are one number a
    // pixel, and a file of three equal channels would only triple their size.
    bool singleChannel = false;
    // The samples to store, as oiiotool names them (plate/PlateStorage.h chooses); empty: the
    // render depth's own type, or the nearest one the format holds.
    std::string dataType;
    // The format's own name of its compression ("piz", "dwaa:45", "zip:4", "deflate:9");
    // empty: the library's default for the format.
    std::string compression;
    PlateMetadata metadata; // the reference frame's attributes and the plate's provenance
};

} // namespace framemeld::cli
