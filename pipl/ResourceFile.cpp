#include "pipl/ResourceFile.h"

#include <stdexcept>

namespace framemeld::pipl {
namespace {

constexpr std::uint32_t kDataAreaOffset = 256; // the header and its reserved bytes come first
constexpr std::uint16_t kTypeListOffset = 28;  // from the map's start
constexpr std::uint32_t kTypeListSize = 2 + 8; // one type
constexpr std::uint32_t kReferenceSize = 12;   // one resource
constexpr std::uint32_t kMapSize = kTypeListOffset + kTypeListSize + kReferenceSize;
constexpr std::uint16_t kNoName = 0xFFFF;

void PutU16(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFFu));
    out.push_back(static_cast<std::uint8_t>(value & 0xFFu));
}

void PutU32(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    PutU16(out, value >> 16);
    PutU16(out, value & 0xFFFFu);
}

} // namespace

std::vector<std::uint8_t> SingleResourceFile(std::uint32_t type, std::int16_t id,
                                             const std::vector<std::uint8_t> &data)
{
    if (data.size() > 0xFFFFFFu - 4u) {
        throw std::length_error("resource too large for a classic resource file");
    }
    const auto dataAreaLength = static_cast<std::uint32_t>(4 + data.size());
    const std::uint32_t mapOffset = kDataAreaOffset + dataAreaLength;

    std::vector<std::uint8_t> header;
    PutU32(header, kDataAreaOffset);
    PutU32(header, mapOffset);
    PutU32(header, dataAreaLength);
    PutU32(header, kMapSize);

    std::vector<std::uint8_t> file(header);
    file.resize(kDataAreaOffset, 0);

    PutU32(file, static_cast<std::uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());

    file.insert(file.end(), header.begin(), header.end());
    PutU32(file, 0); // next map handle, filled in by the resource manager in memory
    PutU16(file, 0); // file reference number
    PutU16(file, 0); // file attributes
    PutU16(file, kTypeListOffset);
    PutU16(file, kMapSize); // name list offset: the (empty) name list ends the map

    PutU16(file, 0); // number of types minus one
    PutU32(file, type);
    PutU16(file, 0);             // resources of this type minus one
    PutU16(file, kTypeListSize); // its reference list, from the type list's start

    PutU16(file, static_cast<std::uint16_t>(id));
    PutU16(file, kNoName);
    PutU32(file, 0); // attributes (top byte) and offset of the length word in the data area
    PutU32(file, 0); // reserved handle
    return file;
}

} // namespace framemeld::pipl
