#pragma once
// Between the samples of an image file (interleaved, in file channel order) and the host's
// pixels (alpha, red, green, blue per pixel), one row at a time.
//
// Scales: 8 bits are the same 0..255 on both sides. The host's 16-bit scale tops out at 32768,
// not 65535, so 16-bit file values are mapped with rounding both ways: host = round(v * 32768 /
// 65535) and back file = round(h * 65535 / 32768). A round trip moves a value by at most one
// step of the host scale. Float is unchanged, 1.0 being full scale on both sides.

#include <cstdint>
#include <type_traits>

#include "AE_Effect.h"

namespace framemeld::cli {

// The host's 16-bit full scale, as the SDK names it.
inline constexpr std::uint32_t kHostFullScale16 = PF_MAX_CHAN16;

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

// The layouts nearly every file has, channels in file order, which the vector row conversions
// handle; anything else is Other.
enum class RowLayout { Other, Grey, GreyAlpha, Rgb, Rgba };
RowLayout rowLayoutOf(const ChannelMap &map);

inline std::uint16_t fileToHost16(std::uint16_t v)
{
    // v * 32768 / 65535 is v / 2 + v / 131070, the second term under a half: rounded to nearest
    // that is v / 2 for even v and (v + 1) / 2 for odd v (the exact value lies just above the
    // half). Without the division, rows of it vectorise (an average with zero).
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(v) + 1u) >> 1);
}

inline std::uint16_t hostToFile16(std::uint16_t h)
{
    // The host never goes past full scale.
    const std::uint32_t clamped = h > kHostFullScale16 ? kHostFullScale16 : h;
    return static_cast<std::uint16_t>((clamped * 65535u + kHostFullScale16 / 2) / kHostFullScale16);
}

// One file sample (8-bit, 16-bit, or float for half and float files) as a host component, at the
// same or another depth: integer scales map full scale onto full scale with rounding to nearest
// (fileToHost16 is the 16-bit to 16-bit case); floats going to integers are clipped to 0..1
// first (NaN to 0) and rounded, halves up; integers going to float are divided by their full
// scale.
template <typename File, typename Host> Host toHostSample(File value)
{
    static_assert(std::is_same_v<File, std::uint8_t> || std::is_same_v<File, std::uint16_t> ||
                  std::is_same_v<File, float>);
    static_assert(std::is_same_v<Host, std::uint8_t> || std::is_same_v<Host, std::uint16_t> ||
                  std::is_same_v<Host, float>);
    constexpr auto fullScale = [](auto sample, bool host) {
        using T = decltype(sample);
        if constexpr (std::is_same_v<T, std::uint8_t>) {
            return 255u;
        } else if constexpr (std::is_same_v<T, std::uint16_t>) {
            return host ? kHostFullScale16 : 65535u;
        } else {
            return 1u;
        }
    };
    constexpr std::uint32_t from = fullScale(File{}, false);
    constexpr std::uint32_t to = fullScale(Host{}, true);

    if constexpr (std::is_same_v<File, float> && std::is_same_v<Host, float>) {
        return value;
    } else if constexpr (std::is_same_v<Host, float>) {
        return static_cast<float>(value) / static_cast<float>(from);
    } else if constexpr (std::is_same_v<File, float>) {
        if (!(value > 0.0f)) {
            return 0; // negative and NaN
        }
        if (value >= 1.0f) {
            return static_cast<Host>(to);
        }
        return static_cast<Host>(value * static_cast<float>(to) + 0.5f);
    } else {
        // Integer to integer. from is odd (255, 65535), so the exact quotient never ends in .5
        // and adding just under half rounds to nearest.
        return static_cast<Host>((static_cast<std::uint32_t>(value) * to + from / 2) / from);
    }
}

// A half-float file sample (IEEE 754 binary16, as its bits) widened to float: exact, every half
// value being a float; infinities and NaNs stay what they are.
float halfToFloat(std::uint16_t bits);

// File row -> host row of `width` pixels (4 components each, alpha first). File and host sample
// types may differ (a render at another depth than the footage's); see toHostSample.
template <typename File, typename Host>
void fileRowToHost(const File *file, const ChannelMap &map, int width, Host *host);

// The same for a row of half-float samples (their bits): each sample is halfToFloat, then
// toHostSample<float, Host>, so a half file gives the host what its float copy gives.
template <typename Host>
void halfRowToHost(const std::uint16_t *file, const ChannelMap &map, int width, Host *host);

// Host row -> file row with `fileChannels` channels: 1 (red alone, as grey), 3 (RGB, alpha
// dropped) or 4 (RGBA).
void hostRowToFile(const std::uint8_t *host, int width, int fileChannels, std::uint8_t *file);
void hostRowToFile(const std::uint16_t *host, int width, int fileChannels, std::uint16_t *file);
void hostRowToFile(const float *host, int width, int fileChannels, float *file);

} // namespace framemeld::cli
