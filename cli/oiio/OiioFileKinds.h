#pragma once
// What OpenImageIO makes of file names and single files.

#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>

#include "cli/formats/OiioModule.h"

namespace framemeld::cli::oiio {

// From OpenImageIO's "extension_list", read once.
const FootageExtensions &knownExtensions();

std::string extensionOf(const std::string &path);

// Opens a still image or a movie. Returns null and sets `failure` when nothing reads it; for an
// extension OpenImageIO's movie reader does not take (.mkv, .webm, ...) the failure says which it
// does take. Throws RunError for an EXR or DPX whose header claims more than the file holds.
std::unique_ptr<OIIO::ImageInput> openFootageFile(const std::string &path, std::string &failure);

// See OiioModule::openFile.
Clip openClipFile(const std::string &path);

} // namespace framemeld::cli::oiio
