#pragma once
// Where the plate really goes, and the checks, made before any work, that keep it from destroying
// the footage or failing after a long render.

#include <string>

#include "cli/core/Clip.h"

namespace framemeld::cli {

// Checks before any work is done that the output can be written: a known format by extension
// (UsageError otherwise), an existing, writable folder, and no existing file (or file a link
// points to) that the user may not write (RunError otherwise).
void checkOutputPath(const std::string &path);

// The same checks for an output of any kind (a motion file), the format aside: RunError.
void checkWritableOutput(const std::string &path);

// `path` with a symbolic link at its last part followed (link after link), so that a linked
// output updates the file the link points to instead of replacing the link. Throws RunError for
// a loop of links.
std::string resolvedOutputPath(const std::string &path);

// Throws RunError when the output is the same file (device and inode, through links and other
// spellings of the name) as a frame of the clip or its movie: the plate would replace it.
void checkOutputIsNoInput(const std::string &output, const Clip &clip);

// Throws RunError when a plate at `output` would be found as a frame of `input` on the next run:
// a file in the folder of frames that `input` names, or a name its numbered pattern matches. The
// next plate would then be made from this one.
void checkOutputStaysOutOfTheClip(const std::string &output, const std::string &input);

} // namespace framemeld::cli
