#pragma once
// The pieces of the PNG file layout that the probe, the decoder and the writer share: the
// signature, big-endian fields, chunk names and the checks every header goes through.

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/png/PngInfo.h"

namespace framemeld::cli::png::format {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::size_t kSignatureSize = sizeof kSignature;
constexpr std::size_t kChunkOverhead = 12;             // length, type, CRC
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu; // the format's own limit
constexpr std::size_t kHeaderLength = 13;
// Larger sides than this are refused before any size is computed from them.
constexpr std::uint32_t kMaxSide = 1u << 24;
// No image whose filtered rows inflate to more than this is accepted (1 TiB).
constexpr std::uint64_t kMaxInflatedBytes = std::uint64_t{1} << 40;

inline std::uint32_t readBigEndian32(const std::uint8_t *p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

inline void writeBigEndian32(std::uint8_t *p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 24);
    p[1] = static_cast<std::uint8_t>(value >> 16);
    p[2] = static_cast<std::uint8_t>(value >> 8);
    p[3] = static_cast<std::uint8_t>(value);
}

inline bool hasSignature(const std::uint8_t *data, std::size_t size)
{
    if (size < kSignatureSize) {
        return false;
    }
    for (std::size_t i = 0; i < kSignatureSize; ++i) {
        if (data[i] != kSignature[i]) {
            return false;
        }
    }
    return true;
}

inline bool isChunk(const std::uint8_t *type, const char (&name)[5])
{
    return type[0] == name[0] && type[1] == name[1] && type[2] == name[2] && type[3] == name[3];
}

// Chunk names are four ASCII letters; anything else means the stream is out of step.
bool isValidChunkName(const std::uint8_t *type);
// A critical chunk (upper-case first letter) the reader must understand to show the image.
inline bool isCritical(const std::uint8_t *type)
{
    return (type[0] & 0x20) == 0;
}
std::string chunkName(const std::uint8_t *type);

// The CRC the file stores for a chunk covers its type and its data.
std::uint32_t chunkCrc(const std::uint8_t *typeAndData, std::size_t dataLength);

// The verdict on an IHDR chunk's 13 bytes.
struct HeaderCheck {
    PngInfo info;
    // Set when the header breaks the format (zero or huge sizes, impossible depths): the file is
    // damaged or hostile.
    std::string invalid;
    // Set when the header is valid but describes an image this reader leaves to the general one.
    std::string unsupported;
};
HeaderCheck checkHeader(const std::uint8_t *data);

// The verdict on a chunk other than IHDR, by its name alone, for an accepted header.
struct ChunkCheck {
    std::string invalid;
    std::string unsupported;
};
ChunkCheck checkChunkKind(const std::uint8_t *type, const PngInfo &info);

// Bytes of one row of samples (without the filter byte) and of the whole filtered stream.
// Only meaningful for headers that checkHeader() accepted.
std::size_t rowBytes(const PngInfo &info);
std::size_t filteredImageBytes(const PngInfo &info);

} // namespace framemeld::cli::png::format
