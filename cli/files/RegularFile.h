#pragma once
// Files the tool reads that it wrote itself (strip records) or that stand for a strip: they must
// be plain files of a sensible size. A FIFO would block the read for ever, /dev/zero never ends,
// a folder fails with an error that reads like a lack of memory, a sparse file of a gigabyte
// costs a gigabyte of reading; each is refused at once, by what the open file is, before a byte
// is read.

#include <cstdint>
#include <string>
#include <vector>

namespace framemeld::cli {

// Why `path` (links followed) is no regular file, in words for a message ("is a folder", "is a
// FIFO", ...); empty when it is one. A name that does not exist gives the system's reason.
std::string whyNotARegularFile(const std::string &path);

// Reads the regular file `path` whole when it holds at most `maxBytes`. Opens without blocking,
// so a FIFO named there never waits for a writer. Returns an empty string, or the reason it could
// not (see whyNotARegularFile; "holds N bytes, more than ..." for a file too large).
std::string readSmallRegularFile(const std::string &path, std::uint64_t maxBytes,
                                 std::vector<std::uint8_t> &bytes);

} // namespace framemeld::cli
