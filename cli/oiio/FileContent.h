#pragma once
// What a file is, weighed by its first bytes before any reader is let at it. OpenImageIO, asked
// to open a file its name's reader refuses, offers it to every reader it has in turn, and some of
// them read the whole file first: a few hundred megabytes of anything named .png cost minutes and
// gigabytes before the last one says no. So the still format is read off the file's signature,
// a movie is known by FFmpeg's demuxers from the same bytes, and only a format without a
// signature (Targa, ...) is left to the reader its extension names; no file is passed round.

#include <string>

namespace framemeld::cli::oiio {

enum class ContentKind {
    Still,  // an image file; `reader` is the OpenImageIO reader to open it with
    Movie,  // a container FFmpeg's demuxers read
    Unknown // none of these: the file is refused
};

struct FileContent {
    ContentKind kind = ContentKind::Unknown;
    std::string reader; // OpenImageIO's format name for a still ("openexr", "tiff", ...)
};

// Reads at most the first 64 KiB of `path`. Throws RunError naming the file when it cannot be
// read at all.
FileContent weighFileContent(const std::string &path);

// OpenImageIO's reader for the still format whose signature starts `bytes`, or "".
std::string stillReaderBySignature(const unsigned char *bytes, std::size_t size);

} // namespace framemeld::cli::oiio
