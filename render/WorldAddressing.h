// Direct addressing of pixels in a host world, and how much of a world may be read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AE_Effect.h"

// Pixel (x, y) from the world's base address: row y starts y × rowbytes bytes after the base,
// with the product formed in 64 bits so tall or wide worlds do not overflow. Rows are stepped in
// bytes, not in whole pixels, because a host may pad rows to a length that is no multiple of the
// pixel size (dividing rowbytes by the pixel size would then drift a little further off every row).
template <typename HostPixel>
HostPixel *WorldPixel(HostPixel *base, A_long rowbytes, A_long x, A_long y)
{
    const std::int64_t row_offset =
        static_cast<std::int64_t>(y) * static_cast<std::int64_t>(rowbytes);
    char *row = reinterpret_cast<char *>(base) + static_cast<std::ptrdiff_t>(row_offset);
    return reinterpret_cast<HostPixel *>(row) + x;
}

// How many pixels of row `row` a world can be read for: its width, but no more than its rows
// reach, so a malformed world is never read past its buffer. 0 for a null world, a row outside
// it, or a world without pixels.
template <typename HostPixel> A_long ReadableWidth(const PF_EffectWorld *world, A_long row)
{
    if (world == nullptr || row < 0 || row >= world->height || world->width <= 0 ||
        world->rowbytes <= 0) {
        return 0;
    }
    const A_long reach = world->rowbytes / static_cast<A_long>(sizeof(HostPixel));
    return world->width < reach ? world->width : reach;
}
