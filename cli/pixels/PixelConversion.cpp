#include "cli/pixels/PixelConversion.h"

#include "cli/pixels/ByteRowVector.h"
#include "cli/pixels/HalfRowVector.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

namespace framemeld::cli {
namespace {

// The host's alpha-first component order.
constexpr std::size_t kA = 0, kR = 1, kG = 2, kB = 3;

template <typename Host> constexpr Host opaque();
template <> constexpr std::uint8_t opaque<std::uint8_t>()
{
    return 255;
}
template <> constexpr std::uint16_t opaque<std::uint16_t>()
{
    return static_cast<std::uint16_t>(kHostFullScale16);
}
template <> constexpr float opaque<float>()
{
    return 1.0f;
}

template <typename T, typename Convert>
void toFile(const T *host, int width, int fileChannels, T *file, Convert convert)
{
    const bool withAlpha = fileChannels >= 4;
    if (fileChannels == 1) {
        for (int x = 0; x < width; ++x, host += 4) {
            *file++ = convert(host[kR]);
        }
        return;
    }
    for (int x = 0; x < width; ++x, host += 4) {
        *file++ = convert(host[kR]);
        *file++ = convert(host[kG]);
        *file++ = convert(host[kB]);
        if (withAlpha) {
            *file++ = convert(host[kA]);
        }
    }
}

template <typename T> T same(T value)
{
    return value;
}

// 8-bit RGB and RGBA files rendered at 8 bits, the tool's everyday case: the samples go over
// unchanged, in a loop the compiler can keep tight.
bool copyEightBitRgb(const std::uint8_t *file, const ChannelMap &map, int width, std::uint8_t *host)
{
    if (map.red != 0 || map.green != 1 || map.blue != 2) {
        return false;
    }
    if (map.fileChannels == 3 && map.alpha < 0) {
        for (int x = 0; x < width; ++x, file += 3, host += 4) {
            host[kA] = 255;
            host[kR] = file[0];
            host[kG] = file[1];
            host[kB] = file[2];
        }
        return true;
    }
    if (map.fileChannels == 4 && map.alpha == 3) {
        for (int x = 0; x < width; ++x, file += 4, host += 4) {
            host[kA] = file[3];
            host[kR] = file[0];
            host[kG] = file[1];
            host[kB] = file[2];
        }
        return true;
    }
    return false;
}

// Every 8-bit sample converted once, by toHostSample itself, so a lookup gives the same value;
// a float division per sample made 8-bit footage rendered at 32 bits slow to read.
template <typename Host> const std::array<Host, 256> &eightBitTable()
{
    static const std::array<Host, 256> table = [] {
        std::array<Host, 256> values{};
        for (unsigned v = 0; v < 256; ++v) {
            values[v] = toHostSample<std::uint8_t, Host>(static_cast<std::uint8_t>(v));
        }
        return values;
    }();
    return table;
}

template <typename Host>
void eightBitRowToHost(const std::uint8_t *file, const ChannelMap &map, int width, Host *host)
{
    const std::array<Host, 256> &table = eightBitTable<Host>();
    const auto channels = static_cast<std::size_t>(map.fileChannels);
    const auto r = static_cast<std::size_t>(map.red);
    const auto g = static_cast<std::size_t>(map.green);
    const auto b = static_cast<std::size_t>(map.blue);
    for (int x = 0; x < width; ++x, file += channels, host += 4) {
        host[kR] = table[file[r]];
        host[kG] = table[file[g]];
        host[kB] = table[file[b]];
        host[kA] =
            map.alpha < 0 ? opaque<Host>() : table[file[static_cast<std::size_t>(map.alpha)]];
    }
}

// The layouts nearly every file has, with their channel positions known to the compiler so that
// the row loop has no index loads or alpha test and can be vectorised; any other layout takes
// the general loop.
template <int Channels, int Alpha, typename File, typename Host, typename Convert>
void layoutRowToHost(const File *file, int width, Host *host, Convert convert)
{
    constexpr int colour1 = Channels >= 3 ? 1 : 0;
    constexpr int colour2 = Channels >= 3 ? 2 : 0;
    for (int x = 0; x < width; ++x, file += Channels, host += 4) {
        host[kR] = convert(file[0]);
        host[kG] = convert(file[colour1]);
        host[kB] = convert(file[colour2]);
        if constexpr (Alpha < 0) {
            host[kA] = opaque<Host>();
        } else {
            host[kA] = convert(file[Alpha]);
        }
    }
}

template <typename File, typename Host, typename Convert>
void anyRowToHost(const File *file, const ChannelMap &map, int width, Host *host, Convert convert)
{
    const bool inOrder =
        map.red == 0 && ((map.green == 1 && map.blue == 2) || (map.green == 0 && map.blue == 0));
    const bool grey = map.green == 0;
    if (inOrder && !grey && map.fileChannels == 3 && map.alpha < 0) {
        layoutRowToHost<3, -1>(file, width, host, convert);
        return;
    }
    if (inOrder && !grey && map.fileChannels == 4 && map.alpha == 3) {
        layoutRowToHost<4, 3>(file, width, host, convert);
        return;
    }
    if (inOrder && grey && map.fileChannels == 1 && map.alpha < 0) {
        layoutRowToHost<1, -1>(file, width, host, convert);
        return;
    }
    if (inOrder && grey && map.fileChannels == 2 && map.alpha == 1) {
        layoutRowToHost<2, 1>(file, width, host, convert);
        return;
    }
    const auto channels = static_cast<std::size_t>(map.fileChannels);
    const auto r = static_cast<std::size_t>(map.red);
    const auto g = static_cast<std::size_t>(map.green);
    const auto b = static_cast<std::size_t>(map.blue);
    for (int x = 0; x < width; ++x, file += channels, host += 4) {
        host[kR] = convert(file[r]);
        host[kG] = convert(file[g]);
        host[kB] = convert(file[b]);
        host[kA] =
            map.alpha < 0 ? opaque<Host>() : convert(file[static_cast<std::size_t>(map.alpha)]);
    }
}

// Every half value converted once, by halfToFloat and toHostSample, so a lookup gives the same
// value as the arithmetic.
template <typename Host> const std::vector<Host> &halfTable()
{
    static const std::vector<Host> table = [] {
        std::vector<Host> values(65536);
        for (std::uint32_t v = 0; v < 65536; ++v) {
            values[v] = toHostSample<float, Host>(halfToFloat(static_cast<std::uint16_t>(v)));
        }
        return values;
    }();
    return table;
}

} // namespace

float halfToFloat(std::uint16_t bits)
{
    const std::uint32_t sign = static_cast<std::uint32_t>(bits & 0x8000u) << 16;
    const std::uint32_t exponent = (bits >> 10) & 0x1fu;
    const std::uint32_t mantissa = bits & 0x3ffu;
    std::uint32_t out = 0;
    if (exponent == 0) {
        // Zero and subnormals: mantissa * 2^-24, exact in float.
        const float magnitude = static_cast<float>(mantissa) * 5.9604644775390625e-8f;
        std::memcpy(&out, &magnitude, sizeof out);
        out |= sign;
    } else if (exponent == 31) {
        out = sign | 0x7f800000u | (mantissa << 13); // infinity, NaN with its payload
    } else {
        out = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    }
    float value = 0;
    std::memcpy(&value, &out, sizeof value);
    return value;
}

template <typename File, typename Host>
void fileRowToHost(const File *file, const ChannelMap &map, int width, Host *host)
{
    if constexpr (std::is_same_v<File, std::uint8_t>) {
        if constexpr (std::is_same_v<Host, std::uint8_t>) {
            if (byteRowToHostVector(file, map, width, host) ||
                copyEightBitRgb(file, map, width, host)) {
                return;
            }
        }
        eightBitRowToHost(file, map, width, host);
        return;
    }
    if constexpr (std::is_same_v<File, std::uint16_t> && std::is_same_v<Host, std::uint16_t>) {
        anyRowToHost(file, map, width, host, [](std::uint16_t v) { return fileToHost16(v); });
        return;
    }
    anyRowToHost(file, map, width, host, toHostSample<File, Host>);
}

template <typename Host>
void halfRowToHost(const std::uint16_t *file, const ChannelMap &map, int width, Host *host)
{
    if constexpr (std::is_same_v<Host, float>) {
        if (halfRowToFloatVector(file, map, width, host)) {
            return;
        }
    }
    const Host *table = halfTable<Host>().data();
    anyRowToHost(file, map, width, host, [table](std::uint16_t bits) { return table[bits]; });
}

template void halfRowToHost<std::uint8_t>(const std::uint16_t *, const ChannelMap &, int,
                                          std::uint8_t *);
template void halfRowToHost<std::uint16_t>(const std::uint16_t *, const ChannelMap &, int,
                                           std::uint16_t *);
template void halfRowToHost<float>(const std::uint16_t *, const ChannelMap &, int, float *);

#define FRAMEMELD_FILE_ROW_TO_HOST(File, Host)                                                     \
    template void fileRowToHost<File, Host>(const File *, const ChannelMap &, int, Host *);
FRAMEMELD_FILE_ROW_TO_HOST(std::uint8_t, std::uint8_t)
FRAMEMELD_FILE_ROW_TO_HOST(std::uint8_t, std::uint16_t)
FRAMEMELD_FILE_ROW_TO_HOST(std::uint8_t, float)
FRAMEMELD_FILE_ROW_TO_HOST(std::uint16_t, std::uint8_t)
FRAMEMELD_FILE_ROW_TO_HOST(std::uint16_t, std::uint16_t)
FRAMEMELD_FILE_ROW_TO_HOST(std::uint16_t, float)
FRAMEMELD_FILE_ROW_TO_HOST(float, std::uint8_t)
FRAMEMELD_FILE_ROW_TO_HOST(float, std::uint16_t)
FRAMEMELD_FILE_ROW_TO_HOST(float, float)
#undef FRAMEMELD_FILE_ROW_TO_HOST

ChannelMap channelMapFor(int fileChannels, int alphaChannel)
{
    ChannelMap map;
    map.fileChannels = fileChannels;
    if (alphaChannel >= fileChannels) {
        alphaChannel = -1;
    }
    map.alpha = alphaChannel;
    int colour[3] = {0, 0, 0};
    int found = 0;
    for (int c = 0; c < fileChannels && found < 3; ++c) {
        if (c != alphaChannel) {
            colour[found++] = c;
        }
    }
    if (found < 3) {
        colour[1] = colour[2] = colour[0]; // grey: one channel feeds all three
    }
    map.red = colour[0];
    map.green = colour[1];
    map.blue = colour[2];
    return map;
}

void hostRowToFile(const std::uint8_t *host, int width, int fileChannels, std::uint8_t *file)
{
    toFile(host, width, fileChannels, file, same<std::uint8_t>);
}

void hostRowToFile(const std::uint16_t *host, int width, int fileChannels, std::uint16_t *file)
{
    toFile(host, width, fileChannels, file, hostToFile16);
}

void hostRowToFile(const float *host, int width, int fileChannels, float *file)
{
    toFile(host, width, fileChannels, file, same<float>);
}

RowLayout rowLayoutOf(const ChannelMap &map)
{
    const bool grey = map.red == 0 && map.green == 0 && map.blue == 0;
    const bool rgb = map.red == 0 && map.green == 1 && map.blue == 2;
    if (grey && map.fileChannels == 1 && map.alpha < 0) {
        return RowLayout::Grey;
    }
    if (grey && map.fileChannels == 2 && map.alpha == 1) {
        return RowLayout::GreyAlpha;
    }
    if (rgb && map.fileChannels == 3 && map.alpha < 0) {
        return RowLayout::Rgb;
    }
    if (rgb && map.fileChannels == 4 && map.alpha == 3) {
        return RowLayout::Rgba;
    }
    return RowLayout::Other;
}

} // namespace framemeld::cli
