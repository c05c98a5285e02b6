#pragma once
// Grey proxies of host frames and the planes registration works on (inside the OpenCV module).

#include <cstdint>
#include <vector>

#include "cli/formats/AlignModule.h"

namespace framemeld::cli::align {

// A float image owned by the module, rows `width` apart; `valid` empty means every pixel.
struct Plane {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;
    std::vector<std::uint8_t> valid;

    float at(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    bool validAt(int x, int y) const
    {
        return valid.empty() ||
               valid[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(x)] != 0;
    }
};

// Whether `shrink` is a power of two from 1 to 64.
bool isProxyShrink(int shrink);

// The grey proxy of a host frame (see AlignModule::greyProxy).
GreyImage makeGreyProxy(const HostFrameView &frame, int shrink);

// A copy of a view's pixels (and valid bytes) as a plane.
Plane planeOf(const GreyImageView &view);

// Half the size, each pixel the mean of a 2 x 2 block (the odd last row or column left out);
// valid where all four were.
Plane halved(const Plane &plane);

// Smoothed with the binomial kernel 1 4 6 4 1 / 16 along each axis (edges repeated); the valid
// bytes carried over, shrunk by the two pixels the kernel reaches.
Plane smoothed(const Plane &plane);

// The same plane as 8-bit grey (0..1 to 0..255, rounded, clipped), for the feature detectors.
std::vector<std::uint8_t> bytesOf(const Plane &plane);

// Bilinear sample at (x, y) in pixel-centre-on-whole-number coordinates; false outside
// [0, width - 1] x [0, height - 1] or next to an invalid pixel.
inline bool sampleBilinear(const Plane &plane, double x, double y, float &value)
{
    if (!(x >= 0 && y >= 0 && x <= plane.width - 1 && y <= plane.height - 1)) {
        return false;
    }
    int x0 = static_cast<int>(x);
    int y0 = static_cast<int>(y);
    if (x0 >= plane.width - 1) {
        x0 = plane.width - 2 < 0 ? 0 : plane.width - 2;
    }
    if (y0 >= plane.height - 1) {
        y0 = plane.height - 2 < 0 ? 0 : plane.height - 2;
    }
    const int x1 = x0 + 1 < plane.width ? x0 + 1 : x0;
    const int y1 = y0 + 1 < plane.height ? y0 + 1 : y0;
    if (!plane.valid.empty() && (!plane.validAt(x0, y0) || !plane.validAt(x1, y0) ||
                                 !plane.validAt(x0, y1) || !plane.validAt(x1, y1))) {
        return false;
    }
    const float fx = static_cast<float>(x - x0);
    const float fy = static_cast<float>(y - y0);
    const float top = plane.at(x0, y0) + fx * (plane.at(x1, y0) - plane.at(x0, y0));
    const float bottom = plane.at(x0, y1) + fx * (plane.at(x1, y1) - plane.at(x0, y1));
    value = top + fy * (bottom - top);
    return true;
}

} // namespace framemeld::cli::align
