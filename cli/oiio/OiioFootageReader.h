#pragma once
// Frames through OpenImageIO: any still format it reads, and the format of a movie's frames
// (movies themselves are decoded by cli/movie/MovieReader.h).

#include <string>

#include "cli/core/Clip.h"
#include "cli/core/DecodeRequest.h"

namespace framemeld::cli::oiio {

FootageFormat probeFootage(const Clip &clip);

void decodeStill(const std::string &path, const DecodeRequest &request, const FrameTarget &target);

} // namespace framemeld::cli::oiio
