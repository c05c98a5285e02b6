#pragma once
// Which file a name stands for, and which version of it: device, inode, size and modification
// time. A run that reads a frame more than once (band by band, from the files) compares each
// read with the first, so footage re-rendered under it (each frame replaced by a rename, as
// renderers do, or rewritten in place) stops the run instead of mixing two versions in a plate.

#include <cstdint>
#include <optional>
#include <string>

namespace framemeld::cli {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const FileIdentity &other) const;
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

// The identity of the file `path` names now (links followed); nothing when it cannot be stat'ed.
std::optional<FileIdentity> identityOf(const std::string &path);

} // namespace framemeld::cli
