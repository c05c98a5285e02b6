#include "cli/mattes/HoldoutRow.h"

#include <cstddef>
#include <stdexcept>

namespace framemeld::mattes {

namespace {

template <class HostPixel, class Flag>
void overwrite(const HostPixel &code, const Flag *matte, unsigned char *row, int width)
{
    HostPixel *pixels = reinterpret_cast<HostPixel *>(row);
    for (int x = 0; x < width; ++x) {
        if (matte[x]) {
            pixels[x] = code;
        }
    }
}

template <class Flag>
void applyRow(const HoldoutCodes &codes, long frameIndex, const Flag *matte, unsigned char *row,
              int width)
{
    switch (codes.depth()) {
    case runner::PixelDepth::Bits8: overwrite(codes.code8(frameIndex), matte, row, width); break;
    case runner::PixelDepth::Bits16: overwrite(codes.code16(frameIndex), matte, row, width); break;
    case runner::PixelDepth::Float32:
        overwrite(codes.codeFloat(frameIndex), matte, row, width);
        break;
    }
}

} // namespace

void applyHoldoutRow(const HoldoutCodes &codes, long frameIndex, const std::uint8_t *matte,
                     unsigned char *row, int width)
{
    applyRow(codes, frameIndex, matte, row, width);
}

void applyHoldoutRow(const HoldoutCodes &codes, long frameIndex, const bool *matte,
                     unsigned char *row, int width)
{
    applyRow(codes, frameIndex, matte, row, width);
}

void applyHoldout(const HoldoutCodes &codes, long frameIndex, const std::uint8_t *matte,
                  runner::World &frame)
{
    if (frame.depth() != codes.depth()) {
        throw std::invalid_argument("a holdout prepared for one depth applied to a frame of "
                                    "another");
    }
    const auto width = static_cast<std::size_t>(frame.width());
    for (int y = 0; y < frame.height(); ++y) {
        applyHoldoutRow(codes, frameIndex, matte + static_cast<std::size_t>(y) * width,
                        frame.row(y), frame.width());
    }
}

} // namespace framemeld::mattes
