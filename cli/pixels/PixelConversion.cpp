#include "cli/pixels/PixelConversion.h"

#include <array>
#include <cstddef>

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
    return 32768;
}
template <> constexpr float opaque<float>()
{
    return 1.0f;
}

template <typename T, typename Convert>
void toFile(const T *host, int width, int fileChannels, T *file, Convert convert)
{
    const bool withAlpha = fileChannels >= 4;
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

} // namespace

template <typename File, typename Host>
void fileRowToHost(const File *file, const ChannelMap &map, int width, Host *host)
{
    if constexpr (std::is_same_v<File, std::uint8_t>) {
        if constexpr (std::is_same_v<Host, std::uint8_t>) {
            if (copyEightBitRgb(file, map, width, host)) {
                return;
            }
        }
        eightBitRowToHost(file, map, width, host);
        return;
    }
    const auto channels = static_cast<std::size_t>(map.fileChannels);
    const auto r = static_cast<std::size_t>(map.red);
    const auto g = static_cast<std::size_t>(map.green);
    const auto b = static_cast<std::size_t>(map.blue);
    for (int x = 0; x < width; ++x, file += channels, host += 4) {
        host[kR] = toHostSample<File, Host>(file[r]);
        host[kG] = toHostSample<File, Host>(file[g]);
        host[kB] = toHostSample<File, Host>(file[b]);
        host[kA] = map.alpha < 0
                       ? opaque<Host>()
                       : toHostSample<File, Host>(file[static_cast<std::size_t>(map.alpha)]);
    }
}

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

} // namespace framemeld::cli
