#pragma once
// Open files that close themselves, and the one way the tool reads a whole file into memory.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace framemeld::cli {

struct FileCloser {
    void operator()(std::FILE *file) const noexcept
    {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Reads `file` from its start to its end into `bytes` (resized to fit, its capacity kept for the
// next file). Returns an empty string, or the reason it could not: the system's error text, or
// "truncated file" when the file shrank while it was read.
std::string readWholeFile(std::FILE *file, std::vector<std::uint8_t> &bytes);

} // namespace framemeld::cli
