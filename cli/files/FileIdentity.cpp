#include "cli/files/FileIdentity.h"

#include <sys/stat.h>

namespace framemeld::cli {

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
}

std::optional<FileIdentity> identityOf(const std::string &path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.modifiedSeconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
    identity.modifiedNanoseconds = static_cast<std::int64_t>(status.st_mtim.tv_nsec);
    return identity;
}

} // namespace framemeld::cli
