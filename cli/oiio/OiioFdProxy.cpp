#include "cli/oiio/OiioFdProxy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace framemeld::cli::oiio {

FdProxy::FdProxy(int fd, const std::string &name, Mode mode) : IOProxy(name, mode), fd_(fd) {}

size_t FdProxy::read(void *buffer, size_t size)
{
    const size_t got = pread(buffer, size, m_pos);
    m_pos += static_cast<int64_t>(got);
    return got;
}

size_t FdProxy::write(const void *buffer, size_t size)
{
    const size_t put = pwrite(buffer, size, m_pos);
    m_pos += static_cast<int64_t>(put);
    return put;
}

size_t FdProxy::pread(void *buffer, size_t size, int64_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd_, static_cast<char *>(buffer) + done, size - done,
                                    static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            failure_ = failure_ != 0 ? failure_ : errno;
        }
        if (got <= 0) {
            break; // end of file is the reader's to judge
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

size_t FdProxy::pwrite(const void *buffer, size_t size, int64_t offset)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t put = ::pwrite(fd_, static_cast<const char *>(buffer) + done, size - done,
                                     static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            failure_ = failure_ != 0 ? failure_ : (put < 0 ? errno : EIO);
            break;
        }
        done += static_cast<size_t>(put);
    }
    return done;
}

size_t FdProxy::size() const
{
    struct stat status {};
    return fstat(fd_, &status) == 0 ? static_cast<size_t>(status.st_size) : 0;
}

std::string descriptorPath(int fd)
{
#ifdef __linux__
    return "/proc/self/fd/" + std::to_string(fd);
#else
    return "/dev/fd/" + std::to_string(fd);
#endif
}

} // namespace framemeld::cli::oiio
