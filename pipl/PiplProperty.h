// One property of a PiPL, the property list the host reads from the plug-in file without
// running any of its code. The logical value is kept apart from its byte encoding because the
// same list is written little-endian for Windows and big-endian for macOS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framemeld::pipl {

// Four-character code in the host's numeric form: the first character in the top byte.
constexpr std::uint32_t FourCharCode(const char (&code)[5])
{
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// Every property of an effect's PiPL carries this vendor.
constexpr std::uint32_t kVendorAdobe = FourCharCode("8BIM");

// The shapes property data can take; each encodes differently per platform.
enum class ValueKind {
    FourChar,     // u32 code, e.g. the kind 'eFKT'
    PascalString, // length byte then characters
    CString,      // characters then NUL
    U32,
    U16Pair, // two u16, first then second (e.g. major, minor)
    U16,
};

struct Property {
    std::uint32_t key = 0;
    ValueKind kind = ValueKind::U32;
    std::string text;         // PascalString, CString
    std::uint32_t number = 0; // FourChar, U32, U16
    std::uint16_t first = 0;  // U16Pair
    std::uint16_t second = 0; // U16Pair

    static Property FourChar(std::uint32_t key, std::uint32_t code);
    static Property Pascal(std::uint32_t key, std::string text);
    static Property CStr(std::uint32_t key, std::string text);
    static Property Long(std::uint32_t key, std::uint32_t value);
    static Property ShortPair(std::uint32_t key, std::uint16_t first, std::uint16_t second);
    static Property Short(std::uint32_t key, std::uint16_t value);
};

using PropertyList = std::vector<Property>;

} // namespace framemeld::pipl
