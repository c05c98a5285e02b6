#include "cli/png/PngFormat.h"

#include <limits>

#include <libdeflate.h>

namespace framemeld::cli::png::format {
namespace {

bool isLetter(std::uint8_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int channelsOf(int colourType)
{
    switch (colourType) {
    case kColourGrey: return 1;
    case kColourRgb: return 3;
    case kColourPalette: return 1;
    case kColourGreyAlpha: return 2;
    case kColourRgba: return 4;
    default: return 0;
    }
}

bool depthAllowed(int colourType, int bitDepth)
{
    switch (colourType) {
    case kColourGrey:
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case kColourPalette: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case kColourRgb:
    case kColourGreyAlpha:
    case kColourRgba: return bitDepth == 8 || bitDepth == 16;
    default: return false;
    }
}

std::string sizeText(std::uint32_t width, std::uint32_t height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

} // namespace

bool isValidChunkName(const std::uint8_t *type)
{
    return isLetter(type[0]) && isLetter(type[1]) && isLetter(type[2]) && isLetter(type[3]);
}

std::string chunkName(const std::uint8_t *type)
{
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>(type[i]);
        name += isLetter(type[i]) ? c : '?';
    }
    return name;
}

std::uint32_t chunkCrc(const std::uint8_t *typeAndData, std::size_t dataLength)
{
    return libdeflate_crc32(0, typeAndData, 4 + dataLength);
}

HeaderCheck checkHeader(const std::uint8_t *data)
{
    HeaderCheck check;
    const std::uint32_t width = readBigEndian32(data);
    const std::uint32_t height = readBigEndian32(data + 4);
    const int bitDepth = data[8];
    const int colourType = data[9];
    const int compression = data[10];
    const int filterMethod = data[11];
    const int interlace = data[12];

    if (width == 0 || height == 0 || width > kMaxChunkLength || height > kMaxChunkLength) {
        check.invalid = "invalid image size " + sizeText(width, height);
        return check;
    }
    if (!depthAllowed(colourType, bitDepth)) {
        check.invalid = "invalid bit depth " + std::to_string(bitDepth) + " for colour type " +
                        std::to_string(colourType);
        return check;
    }
    if (compression != 0 || filterMethod != 0 || interlace > 1) {
        check.invalid = "invalid image header";
        return check;
    }
    if (width > kMaxSide || height > kMaxSide) {
        check.invalid = "image too large (" + sizeText(width, height) + ")";
        return check;
    }

    PngInfo &info = check.info;
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
    info.bitDepth = bitDepth;
    info.colourType = colourType;
    info.channels = channelsOf(colourType);
    info.hasAlpha = colourType == kColourGreyAlpha || colourType == kColourRgba;

    // Sides are at most 2^24 and a pixel at most 8 bytes, so this cannot overflow 64 bits.
    const std::uint64_t row = std::uint64_t{width} * static_cast<std::uint64_t>(info.channels) *
                              static_cast<std::uint64_t>(bitDepth == 16 ? 2 : 1);
    const std::uint64_t total = std::uint64_t{height} * (row + 1);
    if (total > kMaxInflatedBytes || total > std::numeric_limits<std::size_t>::max() / 2) {
        check.invalid = "image too large (" + sizeText(width, height) + ")";
        return check;
    }

    if (colourType == kColourPalette) {
        check.unsupported = "palette colour";
    } else if (bitDepth < 8) {
        check.unsupported = "bit depth " + std::to_string(bitDepth);
    } else if (interlace == 1) {
        check.unsupported = "interlaced";
    }
    return check;
}

ChunkCheck checkChunkKind(const std::uint8_t *type, const PngInfo &info)
{
    ChunkCheck check;
    if (!isValidChunkName(type)) {
        check.invalid = "damaged chunk name";
    } else if (isChunk(type, "IHDR")) {
        check.invalid = "second IHDR chunk";
    } else if (isChunk(type, "PLTE")) {
        // A suggested palette in a truecolour file changes nothing; in a grey one it is illegal.
        if (info.colourType == kColourGrey || info.colourType == kColourGreyAlpha) {
            check.invalid = "PLTE chunk in a grey image";
        }
    } else if (isChunk(type, "tRNS")) {
        check.unsupported = "tRNS chunk";
    } else if (isCritical(type) && !isChunk(type, "IDAT") && !isChunk(type, "IEND")) {
        check.unsupported = "unknown critical chunk " + chunkName(type);
    }
    return check;
}

std::size_t rowBytes(const PngInfo &info)
{
    return static_cast<std::size_t>(info.width) * static_cast<std::size_t>(info.channels) *
           static_cast<std::size_t>(info.bitDepth == 16 ? 2 : 1);
}

std::size_t filteredImageBytes(const PngInfo &info)
{
    return static_cast<std::size_t>(info.height) * (rowBytes(info) + 1);
}

} // namespace framemeld::cli::png::format
