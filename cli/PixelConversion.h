#pragma once
// Between the samples of an image file (interleaved, in file channel order) and the host's
// pixels (alpha, red, green, blue per pixel), one row at a time.
//
// Scales: 8 bits are the same 0..255 on both sides. The host's 16-bit scale tops out at 32768,
// not 65535, so 16-bit file values are mapped with rounding both ways: host = round(v * 32768 /
// 65535) and back file = round(h * 65535 / 32768). A round trip moves a value by at most one
// step of the host scale. Float is unchanged, 1.0 being full scale on both sides.

#include <cstdint>

namespace framemeld::cli {

// Which file channel feeds each host component; alpha -1 means the file has none and the host
// pixel is opaque.
struct ChannelMap {
    int fileChannels = 3;
    int red = 0;
    int green = 1;
    int blue = 2;
    int alpha = -1;
};

// From the file's channel count and its alpha channel (-1: none): one channel is grey, two are
// grey and alpha; otherwise the first three channels that are not alpha carry the colour.
ChannelMap channelMapFor(int fileChannels, int alphaChannel);

inline std::uint16_t fileToHost16(std::uint16_t v) {
    // v * 32768 / 65535 never ends in exactly .5 (65535 is odd), so adding just under half a
    // step rounds to nearest.
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(v) * 32768u + 32767u) / 65535u);
}

inline std::uint16_t hostToFile16(std::uint16_t h) {
    const std::uint32_t clamped = h > 32768u ? 32768u : h;  // the host never goes past full scale
    return static_cast<std::uint16_t>((clamped * 65535u + 16384u) / 32768u);
}

// File row -> host row of `width` pixels (4 components each, alpha first).
void fileRowToHost(const std::uint8_t* file, const ChannelMap& map, int width, std::uint8_t* host);
void fileRowToHost(const std::uint16_t* file, const ChannelMap& map, int width, std::uint16_t* host);
void fileRowToHost(const float* file, const ChannelMap& map, int width, float* host);

// Host row -> file row with `fileChannels` channels: 3 (RGB, alpha dropped) or 4 (RGBA).
void hostRowToFile(const std::uint8_t* host, int width, int fileChannels, std::uint8_t* file);
void hostRowToFile(const std::uint16_t* host, int width, int fileChannels, std::uint16_t* file);
void hostRowToFile(const float* host, int width, int fileChannels, float* file);

}  // namespace framemeld::cli
