#pragma once
// Writes a grey, RGB or RGBA PNG, 8 or 16 bits per sample, compressed with libdeflate at zlib's
// default level so files come out the size users know from other tools, in a fraction of the time.

#include <cstdio>
#include <functional>
#include <string>

namespace framemeld::cli::png {

// Fills row y (0 at the top) with width * channels interleaved samples: uint8, or uint16 in the
// host's byte order for 16 bits. Rows are asked for in order, once each. It may throw.
using PngRowSource = std::function<void(int y, void *row)>;

// Writes the PNG to `file`, open for writing, and flushes it; the caller opens, syncs, closes
// and renames. All rows are gathered and compressed before the first byte is written, so a
// throwing row source leaves the file empty. Throws RunError "<name>: cannot write the output
// (<reason>)" when a write fails, and std::invalid_argument for a shape outside channels 1|3|4,
// bitDepth 8|16, sides 1..2^24. `level` is zlib's compression level, 0 to 9 (-1: its default, 6).
void writePng(std::FILE *file, const std::string &name, int width, int height, int channels,
              int bitDepth, const PngRowSource &rowSource, int level = -1);

} // namespace framemeld::cli::png
