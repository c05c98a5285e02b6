#pragma once
// Sizes of memory as users write them (--memory 4G) and as messages show them.

#include <cstdint>
#include <string>

namespace framemeld::cli {

// "512M", "4G", "1.5G", "800000" (bytes), "64K", "2T": digits, a decimal part at will, and a unit
// K, M, G, T, P or E (powers of 1024) that may end in "B" or "iB" ("4GiB", "512MB"), in either
// case; a fraction of a byte is dropped. Throws UsageError naming `option` for anything else
// (hexadecimal, exponents, signs, blanks), for 0 and for sizes past 8E (2^63 bytes).
std::uint64_t parseMemorySize(const std::string &option, const std::string &text);

// "1.5 GiB", "640 KiB", "17 bytes": sizes in messages.
std::string memoryText(std::uint64_t bytes);

} // namespace framemeld::cli
