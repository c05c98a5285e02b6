#pragma once
// PNG plates out through the tool's own codec (cli/png/), the common case of the tool and the
// one that must not wait on OpenImageIO. Float plates stay with OpenImageIO, which rounds them
// to 16 bits its own way.

#include <cstdio>
#include <string>

#include "cli/core/PlateImage.h"

namespace framemeld::cli {

// Whether the plate goes out through the codec: a .png name, an integer render depth, and the
// samples of that depth (or no type asked for).
bool writesPngPlate(const std::string &path, Depth depth, const std::string &dataType = {});

// Writes the plate as PNG (RGBA when options.withAlpha, straight alpha as PNG declares it,
// compressed at options.compression's deflate level) to `file`, open for writing; messages name
// `name`, the output the user asked for.
void writePngPlate(std::FILE *file, const std::string &name, const PlateImage &plate,
                   const PlateFileOptions &options);

} // namespace framemeld::cli
