#pragma once
// Frames through OpenImageIO: any still format it reads, and the format of a movie's frames
// (movies themselves are decoded by cli/oiio/movie/MovieReader.h).

#include <string>

#include "cli/core/Clip.h"
#include "cli/core/DecodeRequest.h"

namespace framemeld::cli::oiio {

// The format of the clip's first frame (a still image, or a movie's first picture).
FootageFormat probeClipFormat(const Clip &clip);

// One still image file into `target`, as OiioModule::decodeStill.
void decodeImageFile(const std::string &path, const DecodeRequest &request,
                     const FrameTarget &target);

} // namespace framemeld::cli::oiio
