#include "packaging/plate_dump/GeneratedClip.h"

#include <algorithm>
#include <cstdint>

namespace framemeld::packaging {

namespace {

// A fixed integer hash, so the noise does not depend on any library's random generator.
std::uint32_t Hash(int frame, int x, int y, int channel)
{
    std::uint32_t h = static_cast<std::uint32_t>(frame) * 0x9E3779B1u;
    h ^= static_cast<std::uint32_t>(x) * 0x85EBCA77u;
    h ^= static_cast<std::uint32_t>(y) * 0xC2B2AE3Du;
    h ^= static_cast<std::uint32_t>(channel) * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

bool InSquare(int frame, int x, int y)
{
    const int left = 2 + frame * 5 / 2;
    const int top = 1 + frame * 3 / 2;
    return x >= left && x < left + 7 && y >= top && y < top + 6;
}

// Channel value in 1/1000ths of full scale; channel 0 is alpha as in the host's pixels.
int Thousandths(int frame, int x, int y, int channel)
{
    if (InSquare(frame, x, y)) {
        static const int square[] = {1000, 980, 75, 120};
        return square[channel];
    }
    if (channel == 0) {
        return (x < 6 && y < 5) ? 500 : 1000;
    }
    const int base[] = {0, 100 + 17 * x, 850 - 23 * y, 300 + 7 * ((x * y) % 61)};
    const int noise = static_cast<int>(Hash(frame, x, y, channel) % 21u) - 10;
    // The top row runs past full scale where float can carry it.
    return base[channel] + noise + (y == 0 ? 400 : 0);
}

} // namespace

void AddGeneratedClip(runner::InMemoryFrameSource &source)
{
    for (int f = 0; f < kClipFrames; ++f) {
        runner::World &world = source.addFrame();
        for (int y = 0; y < kClipHeight; ++y) {
            for (int x = 0; x < kClipWidth; ++x) {
                int v[4];
                for (int c = 0; c < 4; ++c) {
                    v[c] = Thousandths(f, x, y, c);
                }
                switch (world.depth()) {
                case runner::PixelDepth::Bits8: {
                    const auto to8 = [](int t) {
                        return static_cast<A_u_char>(std::clamp(t * 255 / 1000, 0, 255));
                    };
                    world.at<PF_Pixel8>(x, y) = {to8(v[0]), to8(v[1]), to8(v[2]), to8(v[3])};
                    break;
                }
                case runner::PixelDepth::Bits16: {
                    // Odd steps, so values fall between the 8-bit ones.
                    const auto to16 = [](int t) {
                        return static_cast<A_u_short>(
                            std::clamp(t * 32768 / 1000 + t % 7, 0, 32768));
                    };
                    world.at<PF_Pixel16>(x, y) = {to16(v[0]), to16(v[1]), to16(v[2]), to16(v[3])};
                    break;
                }
                case runner::PixelDepth::Float32: {
                    // Exactly rounded quotients: the same float on every conforming platform.
                    const auto toFloat = [](int t) {
                        return static_cast<PF_FpShort>(static_cast<float>(t) / 1000.0f);
                    };
                    world.at<PF_PixelFloat>(x, y) = {toFloat(v[0]), toFloat(v[1]), toFloat(v[2]),
                                                     toFloat(v[3])};
                    break;
                }
                }
            }
        }
    }
}

} // namespace framemeld::packaging
