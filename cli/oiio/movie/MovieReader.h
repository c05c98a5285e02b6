#pragma once
// Movie frames straight from FFmpeg's libraries: the codec decodes on the run's threads (frame
// threads for long-GOP codecs such as H.264, slice threads for intra codecs such as ProRes), and
// each kept picture is converted from its own depth into the host world.
//
// Frames are numbered as the movie's time stamps place them (frame n is shown at n / rate from
// the stream's start), which is how OpenImageIO's reader, that counts the clip's frames, numbers
// them too.

#include "cli/core/DecodeRequest.h"

namespace framemeld::cli::movie {

// Decodes request.frames of the movie request.clip in one forward pass (see decodeFrames):
// from the key frame at or before the first requested frame to the last, keeping only the
// requested ones. A requested frame that no picture starts at (a gap in the time stamps) gets the
// picture on screen at its time. Throws RunError naming the file and frame when a frame cannot be
// decoded, differs in size from request.format or lies past the movie's last picture;
// CancelledError when request.cancel is set (checked between frames).
void decodeMovie(const DecodeRequest &request);

} // namespace framemeld::cli::movie
