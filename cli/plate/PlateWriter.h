#pragma once
// Writes the rendered plate to an image file whose format follows the extension. The file
// appears whole or not at all: it is written to a temporary file of its own in the target folder
// (see TemporaryPlateFile.h), checked, synced and renamed into place only when complete. An
// output that is a symbolic link updates the file the link points to.

#include <atomic>
#include <memory>
#include <string>

#include "cli/core/PlateImage.h"
#include "cli/plate/TemporaryPlateFile.h"

namespace framemeld::cli {

// Throws RunError naming the file when it cannot be written, CancelledError when `cancel` was
// set by the time the file is complete; in both cases no file is left behind.
void writePlate(const std::string &path, const PlateImage &plate, const PlateFileOptions &options,
                const std::atomic<bool> *cancel);

// As writePlate, but the file is left finished and not yet in place, for a caller that puts it
// in place together with another (a farm strip and its record).
std::unique_ptr<TemporaryPlateFile> writePlateAside(const std::string &path,
                                                    const PlateImage &plate,
                                                    const PlateFileOptions &options,
                                                    const std::atomic<bool> *cancel);

// How many colour and alpha samples of the plate lie outside 0..1 (a float render; 0 for an
// integer one): what an integer plate type clips.
long long samplesOutsideUnitRange(const PlateImage &plate);

} // namespace framemeld::cli
