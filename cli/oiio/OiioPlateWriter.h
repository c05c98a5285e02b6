#pragma once
// Plates through OpenImageIO, in any format it writes.

#include <string>

#include "cli/core/PlateImage.h"

namespace framemeld::cli::oiio {

bool writesFormatOf(const std::string &path);

// See OiioModule::writePlate.
void writePlate(int fd, const std::string &shownAs, const PlateImage &plate,
                const PlateFileOptions &options);

} // namespace framemeld::cli::oiio
