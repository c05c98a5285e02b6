#pragma once
// What OpenImageIO makes of file names and single files.

#include <atomic>
#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

#include "cli/formats/OiioModule.h"

namespace framemeld::cli::oiio {

// From OpenImageIO's "extension_list", read once.
const FootageExtensions &knownExtensions();

std::string extensionOf(const std::string &path);

// Opens the still image `path` with OpenImageIO's reader `reader` (a format name, as
// FileContent gives it) and that reader alone. Returns null and sets `failure` to the reader's
// reason when it cannot open the file.
std::unique_ptr<OIIO::ImageInput> openStill(const std::string &path, const std::string &reader,
                                            const OIIO::ImageSpec *config, std::string &failure);

// See OiioModule::openFile.
Clip openClipFile(const std::string &path, const std::atomic<bool> *cancel);

} // namespace framemeld::cli::oiio
