#include "cli/files/ScratchFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/core/CliError.h"

namespace framemeld::cli {
namespace {

std::string systemError(int error)
{
    return std::strerror(error);
}

} // namespace

ScratchFile::ScratchFile(const std::string &folder) : folder_(folder)
{
#ifdef O_TMPFILE
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
#endif
    if (fd_ < 0) {
        // File systems without unnamed files: a name no one can guess, gone as soon as it exists.
        std::string name = folder + "/.framemeld-scratch-XXXXXX";
        std::vector<char> path(name.begin(), name.end());
        path.push_back('\0');
        fd_ = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd_ >= 0) {
            ::unlink(path.data());
        }
    }
    if (fd_ < 0) {
        throw RunError("cannot make a scratch file in " + folder + " (" + systemError(errno) +
                       "); set TMPDIR to a writable folder");
    }
}

ScratchFile::~ScratchFile()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ScratchFile::reserve(std::uint64_t bytes)
{
    if (bytes == 0) {
        return;
    }
    const int error = ::posix_fallocate(fd_, 0, static_cast<off_t>(bytes));
    if (error == ENOSPC || error == EFBIG || error == EDQUOT) {
        throw RunError("not enough disk space in " + folder_ + " for the scratch file of " +
                       std::to_string(bytes / (1024 * 1024) + 1) + " MiB that this budget needs (" +
                       systemError(error) + "); set TMPDIR to a folder on a larger disk");
    }
    if (error != 0) {
        throw RunError("cannot reserve the scratch file in " + folder_ + " (" + systemError(error) +
                       ")");
    }
}

void ScratchFile::writeAt(std::uint64_t offset, const void *data, std::size_t size) const
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    while (size > 0) {
        const ssize_t written = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            throw RunError("cannot write the scratch file in " + folder_ + " (" +
                           systemError(error) + ")" +
                           (error == ENOSPC ? "; set TMPDIR to a folder on a larger disk" : ""));
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
}

void ScratchFile::readAt(std::uint64_t offset, void *data, std::size_t size) const
{
    auto *bytes = static_cast<unsigned char *>(data);
    while (size > 0) {
        const ssize_t read = ::pread(fd_, bytes, size, static_cast<off_t>(offset));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read <= 0) {
            throw RunError("cannot read back the scratch file in " + folder_ + " (" +
                           (read < 0 ? systemError(errno) : std::string("it is shorter")) + ")");
        }
        bytes += read;
        size -= static_cast<std::size_t>(read);
        offset += static_cast<std::uint64_t>(read);
    }
}

bool ScratchFile::inMemory(const std::string &folder)
{
    struct statfs status {};
    if (::statfs(folder.c_str(), &status) != 0) {
        return false; // a folder that cannot be asked fails on its own when the file is made
    }
    constexpr long kTmpfs = 0x01021994;
    constexpr long kRamfs = static_cast<long>(0x858458f6);
    const auto type = static_cast<long>(status.f_type);
    return type == kTmpfs || type == kRamfs;
}

std::string ScratchFile::defaultFolder()
{
    // A tmpfs is memory, charged to the run's cgroup as its budget is: frames moved there to
    // leave memory free would take the same memory again, and a cgroup's limit kills the run.
    const char *asked = std::getenv("TMPDIR");
    if (asked != nullptr && asked[0] != '\0') {
        if (inMemory(asked)) {
            throw RunError(std::string("the scratch file for frames that do not fit the memory "
                                       "budget would be in $TMPDIR (") +
                           asked +
                           "), a file system in memory (tmpfs), which takes the memory the "
                           "budget leaves free; set TMPDIR to a folder on a disk");
        }
        return asked;
    }
    for (const char *folder : {"/tmp", "/var/tmp"}) {
        if (!inMemory(folder)) {
            return folder;
        }
    }
    throw RunError("the scratch file for frames that do not fit the memory budget would be in "
                   "memory: /tmp and /var/tmp are file systems in memory (tmpfs); set TMPDIR to a "
                   "folder on a disk");
}

} // namespace framemeld::cli
