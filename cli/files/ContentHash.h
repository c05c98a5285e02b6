#pragma once
// A fingerprint of bytes: FNV-1a with 64 bits. It is there to notice that a file is not the one a
// record was made from (a strip rendered again, footage replaced, an unrelated image copied over
// a strip), not to stand against someone forging files, so a small, fixed, documented function
// that needs no library is enough, and its value is the same on every machine.

#include <cstddef>
#include <cstdint>
#include <string>

namespace framemeld::cli {

class ContentHash {
public:
    void add(const void *bytes, std::size_t size);
    void addNumber(std::uint64_t value); // as 8 little-endian bytes
    std::uint64_t value() const { return state_; }
    std::string hex() const; // 16 lower-case hex digits

private:
    std::uint64_t state_ = 0xcbf29ce484222325ULL;
};

// The hash of everything in the open file `fd` (read with pread from its start, the file offset
// left alone) and its size. Returns an empty string, or the system's reason it could not.
std::string hashOpenFile(int fd, ContentHash &hash, std::uint64_t &size);

} // namespace framemeld::cli
