#include "cli/footage/FootageFingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>

#include "cli/core/CliError.h"
#include "cli/files/ContentHash.h"

namespace framemeld::cli {
namespace {

constexpr std::uint64_t kBlockBytes = 64 * 1024;
constexpr std::uint64_t kBlocks = 16;

RunError unreadable(const std::string &path, int error)
{
    return RunError(path + ": cannot read the frame to fingerprint it (" + std::strerror(error) +
                    ")");
}

void readAt(int fd, const std::string &path, std::uint64_t offset, std::uint64_t size,
            std::vector<unsigned char> &buffer, ContentHash &hash)
{
    buffer.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t step = ::pread(fd, buffer.data() + done, buffer.size() - done,
                                     static_cast<off_t>(offset + done));
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step < 0) {
            throw unreadable(path, errno);
        }
        if (step == 0) {
            throw RunError(path + ": the frame shrank while it was fingerprinted");
        }
        done += static_cast<std::size_t>(step);
    }
    hash.add(buffer.data(), buffer.size());
}

void addFile(const std::string &path, ContentHash &hash, std::vector<unsigned char> &buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw unreadable(path, errno);
    }
    try {
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            throw unreadable(path, errno);
        }
        const auto size = static_cast<std::uint64_t>(status.st_size);
        hash.addNumber(size);
        if (size <= kBlocks * kBlockBytes) {
            readAt(fd, path, 0, size, buffer, hash);
        } else {
            const std::uint64_t stride = (size - kBlockBytes) / (kBlocks - 1);
            for (std::uint64_t block = 0; block < kBlocks; ++block) {
                readAt(fd, path, block * stride, kBlockBytes, buffer, hash);
            }
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

} // namespace

std::string footageFingerprint(const Clip &clip, const std::vector<int> &frames)
{
    ContentHash hash;
    std::vector<unsigned char> buffer;
    if (clip.kind == ClipKind::Movie) {
        addFile(clip.moviePath, hash, buffer);
        for (const int frame : frames) {
            hash.addNumber(static_cast<std::uint64_t>(frame));
        }
        return hash.hex();
    }
    for (const int frame : std::set<int>(frames.begin(), frames.end())) {
        hash.addNumber(static_cast<std::uint64_t>(frame));
        addFile(clip.frameFiles.at(static_cast<std::size_t>(frame)), hash, buffer);
    }
    return hash.hex();
}

} // namespace framemeld::cli
