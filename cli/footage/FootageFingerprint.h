#pragma once
// What the frames of a run are, independent of the names they were reached by: farm nodes see
// the same footage under other mount points and other spellings of the path, so a merge compares
// this instead of the INPUT text. For each sampled frame (or the movie, once): its number, the
// file's size, and its bytes, all of them for a file of up to 1 MiB and otherwise 16 blocks of
// 64 KiB spread evenly from its first byte to its last (headers, and samples from every part),
// all through the 64-bit hash of ContentHash.h. Reading at most 1 MiB a frame keeps it cheap
// beside the decoding. It tells footage apart (other frames, other files, another render of a
// shot); a change that falls only between the blocks of a large file goes unnoticed.

#include <string>
#include <vector>

#include "cli/core/Clip.h"

namespace framemeld::cli {

// 16 hex digits. Throws RunError naming the file when one cannot be read.
std::string footageFingerprint(const Clip &clip, const std::vector<int> &frames);

} // namespace framemeld::cli
