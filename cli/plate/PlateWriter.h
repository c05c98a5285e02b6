#pragma once
// Writes the rendered plate to an image file whose format follows the extension. The file
// appears whole or not at all: it is written to a temporary file of its own in the target folder
// (see TemporaryPlateFile.h), checked, synced and renamed into place only when complete. An
// output that is a symbolic link updates the file the link points to.

#include <atomic>
#include <string>

#include "cli/core/PlateImage.h"

namespace framemeld::cli {

// Throws RunError naming the file when it cannot be written, CancelledError when `cancel` was
// set by the time the file is complete; in both cases no file is left behind.
void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel);

} // namespace framemeld::cli
