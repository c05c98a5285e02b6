// Byte encodings of a PiPL. Windows hosts read it little-endian with a 16-bit 1 in front and
// string padding counted in the property length; macOS hosts read it big-endian with padding
// after the counted data. Everything else (order, keys, values) is the same.
#pragma once

#include "pipl/PiplProperty.h"

#include <cstdint>
#include <vector>

namespace framemeld::pipl {

enum class ByteOrder { Windows, MacOS };

// Throws std::length_error for a Pascal string over 255 characters and std::invalid_argument
// for a string holding a NUL, since neither can be read back as written.
std::vector<std::uint8_t> Encode(const PropertyList &properties, ByteOrder order);

} // namespace framemeld::pipl
