#include "cli/files/FileHandle.h"

#include <cerrno>
#include <cstring>

namespace framemeld::cli {

std::string readWholeFile(std::FILE *file, std::vector<std::uint8_t> &bytes)
{
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return std::strerror(errno);
    }
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        return std::strerror(errno);
    }
    const auto size = static_cast<std::size_t>(end);
    bytes.resize(size);
    if (size > 0 && std::fread(bytes.data(), 1, size, file) != size) {
        if (std::ferror(file)) {
            return std::strerror(errno);
        }
        return "truncated file";
    }
    return {};
}

} // namespace framemeld::cli
