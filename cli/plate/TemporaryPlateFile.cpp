#include "cli/plate/TemporaryPlateFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "cli/core/CliError.h"

namespace fs = std::filesystem;

namespace framemeld::cli {
namespace {

// The file being written, for removal from a signal handler or an exit() deep in a library:
// a fixed buffer and a lock-free flag, the only things such a context may touch. The tool
// writes one plate at a time.
char g_pendingPath[PATH_MAX];
std::atomic<bool> g_pendingSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void removeAtExit()
{
    removeTemporaryPlateFileNow();
}

void setPending(const std::string &path)
{
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(removeAtExit); });
    g_pendingSet.store(false);
    if (path.size() < sizeof g_pendingPath) {
        std::memcpy(g_pendingPath, path.c_str(), path.size() + 1);
        g_pendingSet.store(true);
    }
}

void clearPending(const std::string &path)
{
    if (g_pendingSet.load() && path == g_pendingPath) {
        g_pendingSet.store(false);
    }
}

std::string randomHex()
{
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        std::random_device device;
        for (unsigned char &byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string folderOf(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

RunError cannotWrite(const std::string &shownAs, int error)
{
    return RunError(shownAs + ": cannot write the output (" + std::strerror(error) + ")");
}

} // namespace

std::string temporaryPlateName(const std::string &fileName, const std::string &randomPart)
{
    const fs::path name(fileName);
    std::string stem = name.stem().string();
    std::string extension = name.extension().string();
    const std::string middle = ".framemeld-" + randomPart;
    const std::size_t fixed = 1 + middle.size();
    if (fixed + extension.size() > NAME_MAX) {
        extension.clear(); // cannot happen with the extensions a writer takes
    }
    const std::size_t room = NAME_MAX - fixed - extension.size();
    if (stem.size() > room) {
        std::size_t cut = room;
        // Never split a UTF-8 sequence: the shortened name stays readable in a listing.
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        stem.resize(cut);
    }
    return "." + stem + middle + extension;
}

TemporaryPlateFile::TemporaryPlateFile(const std::string &target, const std::string &shownAs)
    : target_(target), shownAs_(shownAs)
{
    const std::string folder = folderOf(target);
#ifdef O_TMPFILE
    fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        unnamed_ = true;
        return;
    }
    // Only a file system without unnamed files falls back to a name; a folder that cannot be
    // written to fails the same way below, with the system's reason.
#endif
    const std::string fileName = fs::path(target).filename().string();
    // 64 random bits make a clash all but impossible; a few tries cover a planted name anyway.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string candidate = folder + "/" + temporaryPlateName(fileName, randomHex());
        // Known before it exists, so that a signal right after the file appears removes it.
        setPending(candidate);
        const int fd =
            open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            path_ = std::move(candidate);
            return;
        }
        const int failure = errno;
        clearPending(candidate);
        errno = failure;
        if (errno != EEXIST) {
            throw cannotWrite(shownAs_, errno);
        }
    }
    throw RunError(shownAs_ + ": cannot write the output (no free temporary name in " + folder +
                   ")");
}

TemporaryPlateFile::~TemporaryPlateFile()
{
    if (fd_ >= 0) {
        close(fd_);
    }
    if (!path_.empty()) {
        unlink(path_.c_str());
        clearPending(path_);
    }
}

void TemporaryPlateFile::writeText(const std::string &bytes, const std::string &what)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t step = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            throw RunError(shownAs_ + ": cannot write the " + what + " (" +
                           std::string(step < 0 ? std::strerror(errno) : "nothing written") + ")");
        }
        written += static_cast<std::size_t>(step);
    }
}

void TemporaryPlateFile::finish()
{
    if (finished_) {
        return;
    }
    struct stat status {};
    if (fstat(fd_, &status) != 0) {
        throw cannotWrite(shownAs_, errno);
    }
    if (status.st_size == 0) {
        throw RunError(shownAs_ + ": cannot write the output (the writer wrote nothing)");
    }
    // A full disk or an I/O error may only show when the data reaches the disk.
    if (fsync(fd_) != 0) {
        throw cannotWrite(shownAs_, errno);
    }
    finished_ = true;
}

// The unnamed file gets a hidden name for the rename: linkat() cannot replace an existing file.
void TemporaryPlateFile::linkUnnamedFile()
{
    const std::string fileName = fs::path(target_).filename().string();
    const std::string folder = folderOf(target_);
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string candidate = folder + "/" + temporaryPlateName(fileName, randomHex());
        setPending(candidate);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            path_ = std::move(candidate);
            unnamed_ = false;
            return;
        }
        const int failure = errno;
        clearPending(candidate);
        if (failure != EEXIST) {
            throw RunError(shownAs_ + ": cannot put the output in place (" +
                           std::strerror(failure) + ")");
        }
    }
    throw RunError(shownAs_ + ": cannot put the output in place (no free temporary name in " +
                   folder + ")");
}

void TemporaryPlateFile::putInPlace()
{
    finish();
    if (unnamed_) {
        linkUnnamedFile();
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        throw cannotWrite(shownAs_, errno);
    }
    // rename() replaces whatever is at the target, a link included, and never follows it.
    if (rename(path_.c_str(), target_.c_str()) != 0) {
        throw RunError(shownAs_ + ": cannot put the output in place (" + std::strerror(errno) +
                       ")");
    }
    clearPending(path_);
    path_.clear();
    // The new name survives a crash only once the folder is synced too.
    const int folder = open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
}

void removeTemporaryPlateFileNow() noexcept
{
    if (g_pendingSet.exchange(false)) {
        unlink(g_pendingPath);
    }
}

} // namespace framemeld::cli
