#pragma once
// The reference frame's attributes as the plate is to carry them, and back into a plate's spec.
//
// Carried: every attribute OpenImageIO reads from the frame, except those that describe how the
// frame file itself was stored (its compression, chunking, packing, channel layout, alpha
// association: the plate's own writer sets those) and the frame's time stamp (a plate made
// again from the same footage must be the same bytes). Each format's writer then keeps what its
// format holds: EXR every attribute, its own and a studio's custom ones; TIFF, DPX and PNG
// their tags; a format's prefixed attributes ("dpx:", "tiff:") only into files of that format.

#include <OpenImageIO/imageio.h>

#include <string>

#include "cli/core/Clip.h"
#include "cli/core/PlateMetadata.h"

namespace framemeld::cli::oiio {

// Of frame `frame` of the clip (a movie: its container's attributes, frame rate and pixel
// aspect, not a timecode of its first frame). Throws RunError naming the file.
PlateMetadata frameMetadata(const Clip &clip, int frame);

// The metadata's attributes and provenance into `spec`, then "Software" as the tool names itself.
void applyPlateMetadata(const PlateMetadata &metadata, OIIO::ImageSpec &spec);

} // namespace framemeld::cli::oiio
