#pragma once
// Writes the rendered plate to an image file whose format follows the extension. The file
// appears whole or not at all: it is written under a hidden temporary name in the target folder
// and renamed into place only when complete.

#include <atomic>
#include <cstddef>
#include <string>

#include "cli/FootageDecoder.h"

namespace framemeld::cli {

// The plate as the host left it: rows of alpha-first pixels at the render depth.
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
};

// Checks before any work is done that the output can be written: a known format by extension
// (UsageError otherwise) and an existing, writable folder (RunError otherwise).
void checkOutputPath(const std::string &path);

// Throws RunError naming the file when it cannot be written, CancelledError when `cancel` was
// set by the time the file is complete; in both cases no file is left behind.
void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel);

} // namespace framemeld::cli
