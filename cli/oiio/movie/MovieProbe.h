#pragma once
// What a movie is, from FFmpeg's own view of it: its frame size as it plays (rotation applied),
// whether its pixels carry alpha and how deep they are, and how many frames it shows. The count
// is what a decode yields, not what the header claims: an edit list (a trimmed MP4) hides the
// pictures before its start, and containers without an index say nothing exact at all.

#include <atomic>
#include <string>

#include "cli/core/FootageFormat.h"

namespace framemeld::cli::movie {

// The format of the movie's frames (see MovieContainer for the stream chosen). Throws RunError
// naming `path` when FFmpeg cannot read it, it has no video that decodes, or a rotation the tool
// cannot honour; CancelledError when `cancel` is set.
FootageFormat probeMovieFormat(const std::string &path, const std::atomic<bool> *cancel);

// The frames the movie shows. From the container's index where it is whole (MOV and MP4: the
// samples an edit list keeps), else from the time stamps of every video packet, read without
// decoding any. Throws RunError naming `path` for a movie without frames or one that claims more
// than its bytes could hold; CancelledError when `cancel` is set.
long long countMovieFrames(const std::string &path, const std::atomic<bool> *cancel);

} // namespace framemeld::cli::movie
