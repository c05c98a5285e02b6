#pragma once
// Which part of the rendered frame a plate file holds. The frame is the footage's display window
// joined with its overscan (see cli/core/FrameWindows.h); EXR stores both windows, so its plate
// is the whole frame; a format that cannot hold a data window gets the display window alone, the
// picture the footage shows, and the summary says the overscan was left out.

#include <string>

#include "cli/core/PlateImage.h"

namespace framemeld::cli {

// Whether the output's format (by its extension) holds a data window beside the display window.
bool plateHoldsWindows(const std::string &path);

// Whether writing `windows` to `path` leaves the footage's overscan out.
bool overscanLeftOut(const std::string &path, const FrameWindows &windows);

// The pixels of `frame` (a whole rendered frame, `windows.frame*` in size) that the file at
// `path` holds: the frame itself, or its display window.
PlateImage plateImageFor(const std::string &path, const PlateImage &frame,
                         const FrameWindows &windows);

} // namespace framemeld::cli
