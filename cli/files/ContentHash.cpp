#include "cli/files/ContentHash.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace framemeld::cli {

void ContentHash::add(const void *bytes, std::size_t size)
{
    const auto *at = static_cast<const unsigned char *>(bytes);
    std::uint64_t state = state_;
    for (std::size_t i = 0; i < size; ++i) {
        state = (state ^ at[i]) * 0x100000001b3ULL;
    }
    state_ = state;
}

void ContentHash::addNumber(std::uint64_t value)
{
    unsigned char bytes[8];
    for (unsigned char &byte : bytes) {
        byte = static_cast<unsigned char>(value & 0xff);
        value >>= 8;
    }
    add(bytes, sizeof bytes);
}

std::string ContentHash::hex() const
{
    static const char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    std::uint64_t value = state_;
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = digits[value & 15];
        value >>= 4;
    }
    return text;
}

std::string hashOpenFile(int fd, ContentHash &hash, std::uint64_t &size)
{
    std::vector<unsigned char> buffer(1 << 20);
    size = 0;
    while (true) {
        const ssize_t step = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(size));
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step < 0) {
            return std::strerror(errno);
        }
        if (step == 0) {
            return {};
        }
        hash.add(buffer.data(), static_cast<std::size_t>(step));
        size += static_cast<std::uint64_t>(step);
    }
}

} // namespace framemeld::cli
