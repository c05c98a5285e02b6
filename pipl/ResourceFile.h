// A classic Mac resource file (the resource map stored in the data fork, as Rez -useDF writes
// it) holding exactly one resource. The macOS host finds the PiPL in <executable>.rsrc in the
// bundle's Resources folder in this form.
#pragma once

#include <cstdint>
#include <vector>

namespace framemeld::pipl {

// Throws std::length_error when the data does not fit the format's 24-bit offsets.
std::vector<std::uint8_t> SingleResourceFile(std::uint32_t type, std::int16_t id,
                                             const std::vector<std::uint8_t> &data);

} // namespace framemeld::pipl
