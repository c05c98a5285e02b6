#pragma once
// Frames through OpenImageIO: any still format it reads, and movies.

#include <string>

#include "cli/footage/Clip.h"
#include "cli/footage/FootageDecoder.h"

namespace framemeld::cli::oiio {

FootageFormat probeFootage(const Clip &clip);

void decodeStill(const std::string &path, const DecodeRequest &request, const FrameTarget &target);

void decodeMovie(const DecodeRequest &request);

} // namespace framemeld::cli::oiio
