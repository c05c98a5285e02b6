#include "cli/pixels/AlphaAssociation.h"

#include <cmath>
#include <limits>

namespace framemeld::cli {
namespace {

template <typename T> void unpremultiplyIntegers(T *rgba, int width)
{
    constexpr float full = static_cast<float>(std::numeric_limits<T>::max());
    for (int x = 0; x < width; ++x) {
        T *pixel = rgba + 4 * x;
        if (pixel[3] == 0) {
            continue;
        }
        const float alpha = static_cast<float>(pixel[3]) / full;
        for (int c = 0; c < 3; ++c) {
            const float straight = static_cast<float>(pixel[c]) / full / alpha;
            pixel[c] = static_cast<T>(std::lround(std::fmin(straight, 1.0f) * full));
        }
    }
}

} // namespace

void premultiplyRow(float *rgba, int width)
{
    for (int x = 0; x < width; ++x) {
        float *pixel = rgba + 4 * x;
        for (int c = 0; c < 3; ++c) {
            pixel[c] *= pixel[3];
        }
    }
}

void unpremultiplyRow(float *rgba, int width)
{
    for (int x = 0; x < width; ++x) {
        float *pixel = rgba + 4 * x;
        if (pixel[3] != 0.0f) {
            for (int c = 0; c < 3; ++c) {
                pixel[c] /= pixel[3];
            }
        }
    }
}

void unpremultiplyRow(std::uint8_t *rgba, int width)
{
    unpremultiplyIntegers(rgba, width);
}

void unpremultiplyRow(std::uint16_t *rgba, int width)
{
    unpremultiplyIntegers(rgba, width);
}

} // namespace framemeld::cli
