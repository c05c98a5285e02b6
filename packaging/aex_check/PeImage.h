// What a Windows host sees of a PE image before it runs any of its code: the machine, the
// exported names, the DLLs it needs and its resources. Read from the file's bytes alone, so the
// check runs on the build machine without Windows tools.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace framemeld::packaging {

// The bytes are not a PE image, or a structure in it points outside the file.
class PeFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kOptionalHeaderPe32Plus = 0x20b;
constexpr std::uint16_t kCharacteristicDll = 0x2000;

struct PeResource {
    std::string type; // a name ("PIPL") or "#<id>" for a numbered type ("#16" = version)
    std::string name; // likewise: "#16000"
    std::uint32_t language = 0;
    std::vector<std::uint8_t> data;
};

struct PeImage {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t optionalHeaderMagic = 0;
    // Exported names; exports by ordinal only appear as "#<ordinal>".
    std::vector<std::string> exports;
    // DLL names as stored, ordinary and delay-loaded imports alike.
    std::vector<std::string> imports;
    std::vector<PeResource> resources;

    bool isDll() const noexcept { return (characteristics & kCharacteristicDll) != 0; }
};

// Throws PeFormatError for anything malformed; never reads outside `bytes`.
PeImage ReadPeImage(const std::vector<std::uint8_t> &bytes);

std::vector<std::uint8_t> ReadFileBytes(const std::string &path); // throws std::runtime_error

} // namespace framemeld::packaging
