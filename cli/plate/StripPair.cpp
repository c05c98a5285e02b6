#include "cli/plate/StripPair.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

std::string folderOf(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Held while the pair goes in place. A folder that cannot be locked (some network file systems)
// is written unlocked: the record's checksum of its image still tells a merge of a mixed pair.
class FolderLock {
public:
    explicit FolderLock(const std::string &folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int fd_;
};

} // namespace

void putPairInPlace(TemporaryPlateFile &image, TemporaryPlateFile &record)
{
    image.finish();
    record.finish();
    const FolderLock lock(folderOf(image.target()));
    // The image that is there now, kept under a second name until the record is in place.
    const std::string kept =
        folderOf(image.target()) + "/" +
        temporaryPlateName(fs::path(image.target()).filename().string(), "kept");
    ::unlink(kept.c_str()); // one left by a run that was killed here
    struct stat status {};
    const bool hadImage = ::lstat(image.target().c_str(), &status) == 0;
    const bool keptImage = hadImage && ::link(image.target().c_str(), kept.c_str()) == 0;
    if (hadImage && !keptImage) {
        // No second name to be had (a file system without hard links): the record goes first,
        // so a failure leaves at worst the old image beside a record whose checksum refuses it.
        record.putInPlace();
        image.putInPlace();
        return;
    }
    image.putInPlace();
    try {
        record.putInPlace();
    } catch (...) {
        if (keptImage) {
            ::rename(kept.c_str(), image.target().c_str());
        } else {
            ::unlink(image.target().c_str());
        }
        throw;
    }
    if (keptImage) {
        ::unlink(kept.c_str());
    }
}

} // namespace framemeld::cli
