// An independent reader for the PiPL byte formats, the classic resource file and the Windows
// resource script, so the tests check the generator's output against the formats themselves
// rather than against the generator's own code. Every reader throws std::runtime_error on
// anything malformed, including stray bytes and non-zero padding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framemeld::piplread {

enum class Order { Little, Big };

struct RawProperty {
    std::uint32_t vendor = 0;
    std::uint32_t key = 0;
    std::uint32_t id = 0;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> data; // exactly `length` bytes
};

// Windows form: 16-bit 1, version, count, properties (little-endian).
std::vector<RawProperty> ReadWindows(const std::vector<std::uint8_t> &bytes);
// macOS form: version, count, properties (big-endian).
std::vector<RawProperty> ReadMac(const std::vector<std::uint8_t> &bytes);

std::uint32_t Key(const char (&code)[5]);
std::string KeyName(std::uint32_t key);

std::uint32_t U32(const std::vector<std::uint8_t> &data, Order order);
std::uint16_t U16At(const std::vector<std::uint8_t> &data, std::size_t at, Order order);
// A Pascal string; any bytes after it must be zero padding.
std::string Pascal(const std::vector<std::uint8_t> &data);
// A NUL-terminated string; any bytes after the NUL must be zero.
std::string CString(const std::vector<std::uint8_t> &data);

struct Resource {
    std::uint32_t type = 0;
    std::int16_t id = 0;
    std::uint8_t attributes = 0;
    bool named = false;
    std::vector<std::uint8_t> data;
};
// Every resource of a classic resource file (data fork layout), after checking the header,
// its copy in the map and every offset.
std::vector<Resource> ReadResourceFile(const std::vector<std::uint8_t> &file);

struct ScriptResource {
    int language = -1; // from a preceding LANGUAGE statement, as primary | sub << 10
    std::string id;
    std::string type;
    std::vector<std::uint8_t> data; // string literals decoded, not NUL-terminated
};
// The resources of a resource script whose raw data is given as string literals.
std::vector<ScriptResource> ReadResourceScript(const std::string &text);

// The resources of a compiled Windows .res file (as windres -O res writes it).
struct ResEntry {
    std::string type; // name, or "#<n>" for a numeric type
    std::string name;
    std::uint16_t language = 0;
    std::vector<std::uint8_t> data;
};
std::vector<ResEntry> ReadRes(const std::vector<std::uint8_t> &file);

std::vector<std::uint8_t> ReadFileBytes(const std::string &path);

} // namespace framemeld::piplread
