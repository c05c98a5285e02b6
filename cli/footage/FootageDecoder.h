#pragma once
// Decodes the requested frames of a clip into host pixels (alpha, red, green, blue) at the
// render depth, straight into storage the caller provides, so a decoded frame exists once.
// Image sequences decode on several threads, one frame per thread at a time, reading only the
// requested files; a movie decodes in one forward pass from the first requested frame to the
// last, keeping only the requested ones, the codec itself decoding on `threads`.

#include "cli/core/Clip.h"
#include "cli/core/DecodeRequest.h"
#include "cli/core/FootageFormat.h"
#include "cli/core/PlateMetadata.h"

namespace framemeld::cli {

// Reads the header of frame 0. Throws RunError naming the file when it cannot be read.
FootageFormat probeFootage(const Clip &clip);

// The attributes frame `frame` gives the plate (none for the PNG frames the tool reads itself).
// Throws RunError naming the file.
PlateMetadata frameMetadata(const Clip &clip, int frame);

// Throws RunError naming the file (and movie frame) on unreadable frames or frames whose size
// differs from the first one; CancelledError when cancelled.
void decodeFrames(const DecodeRequest &request);

} // namespace framemeld::cli
