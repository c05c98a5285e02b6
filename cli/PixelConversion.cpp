#include "cli/PixelConversion.h"

#include <cstddef>

namespace framemeld::cli {
namespace {

// The host's alpha-first component order.
constexpr std::size_t kA = 0, kR = 1, kG = 2, kB = 3;

template <typename T, typename Convert>
void toHost(const T* file, const ChannelMap& map, int width, T* host, T opaque, Convert convert) {
    const auto channels = static_cast<std::size_t>(map.fileChannels);
    const auto r = static_cast<std::size_t>(map.red);
    const auto g = static_cast<std::size_t>(map.green);
    const auto b = static_cast<std::size_t>(map.blue);
    for (int x = 0; x < width; ++x, file += channels, host += 4) {
        host[kR] = convert(file[r]);
        host[kG] = convert(file[g]);
        host[kB] = convert(file[b]);
        host[kA] = map.alpha < 0 ? opaque : convert(file[static_cast<std::size_t>(map.alpha)]);
    }
}

template <typename T, typename Convert>
void toFile(const T* host, int width, int fileChannels, T* file, Convert convert) {
    const bool withAlpha = fileChannels >= 4;
    for (int x = 0; x < width; ++x, host += 4) {
        *file++ = convert(host[kR]);
        *file++ = convert(host[kG]);
        *file++ = convert(host[kB]);
        if (withAlpha) *file++ = convert(host[kA]);
    }
}

template <typename T>
T same(T value) {
    return value;
}

}  // namespace

ChannelMap channelMapFor(int fileChannels, int alphaChannel) {
    ChannelMap map;
    map.fileChannels = fileChannels;
    if (alphaChannel >= fileChannels) alphaChannel = -1;
    map.alpha = alphaChannel;
    int colour[3] = {0, 0, 0};
    int found = 0;
    for (int c = 0; c < fileChannels && found < 3; ++c) {
        if (c != alphaChannel) colour[found++] = c;
    }
    if (found < 3) colour[1] = colour[2] = colour[0];  // grey: one channel feeds all three
    map.red = colour[0];
    map.green = colour[1];
    map.blue = colour[2];
    return map;
}

void fileRowToHost(const std::uint8_t* file, const ChannelMap& map, int width, std::uint8_t* host) {
    toHost(file, map, width, host, std::uint8_t{255}, same<std::uint8_t>);
}

void fileRowToHost(const std::uint16_t* file, const ChannelMap& map, int width,
                   std::uint16_t* host) {
    toHost(file, map, width, host, std::uint16_t{32768}, fileToHost16);
}

void fileRowToHost(const float* file, const ChannelMap& map, int width, float* host) {
    toHost(file, map, width, host, 1.0f, same<float>);
}

void hostRowToFile(const std::uint8_t* host, int width, int fileChannels, std::uint8_t* file) {
    toFile(host, width, fileChannels, file, same<std::uint8_t>);
}

void hostRowToFile(const std::uint16_t* host, int width, int fileChannels, std::uint16_t* file) {
    toFile(host, width, fileChannels, file, hostToFile16);
}

void hostRowToFile(const float* host, int width, int fileChannels, float* file) {
    toFile(host, width, fileChannels, file, same<float>);
}

}  // namespace framemeld::cli
