#include "cli/files/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace framemeld::cli {
namespace {

std::string kindOf(const struct stat &status)
{
    if (S_ISREG(status.st_mode)) {
        return {};
    }
    if (S_ISDIR(status.st_mode)) {
        return "is a folder";
    }
    if (S_ISFIFO(status.st_mode)) {
        return "is a FIFO";
    }
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
        return "is a device";
    }
    if (S_ISSOCK(status.st_mode)) {
        return "is a socket";
    }
    return "is not a regular file";
}

} // namespace

std::string whyNotARegularFile(const std::string &path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::strerror(errno);
    }
    return kindOf(status);
}

std::string readSmallRegularFile(const std::string &path, std::uint64_t maxBytes,
                                 std::vector<std::uint8_t> &bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    struct stat status {};
    std::string problem;
    if (::fstat(fd, &status) != 0) {
        problem = std::strerror(errno);
    } else if (!(problem = kindOf(status)).empty()) {
    } else if (static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        problem = "holds " + std::to_string(status.st_size) + " bytes, more than the " +
                  std::to_string(maxBytes) + " such a file can hold";
    } else {
        bytes.resize(static_cast<std::size_t>(status.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t step = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (step < 0 && errno == EINTR) {
                continue;
            }
            if (step < 0) {
                problem = std::strerror(errno);
                break;
            }
            if (step == 0) {
                problem = "truncated file";
                break;
            }
            done += static_cast<std::size_t>(step);
        }
    }
    ::close(fd);
    return problem;
}

} // namespace framemeld::cli
