// Direct addressing of pixels in a host world, and how much of a world may be read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "AE_Effect.h"

// Pixel (x, y) from the world's base address: (y × rowbytes) / pixel size + x, with the product
// formed in 64 bits so tall or wide worlds do not overflow.
template <typename HostPixel>
HostPixel *WorldPixel(HostPixel *base, A_long rowbytes, A_long x, A_long y) {
  const std::int64_t row_offset = static_cast<std::int64_t>(y) * static_cast<std::int64_t>(rowbytes);
  const std::int64_t index = row_offset / static_cast<std::int64_t>(sizeof(HostPixel)) + x;
  return base + static_cast<std::ptrdiff_t>(index);
}

// True when pixel (x, y) lies inside the world's own pixels. A null world covers nothing; a
// world whose rowbytes cannot hold its width is read only as far as its rows reach, so a
// malformed world is never read past its buffer.
template <typename HostPixel>
bool WorldCovers(const PF_EffectWorld *world, A_long x, A_long y) {
  if (world == nullptr || x < 0 || y < 0 || y >= world->height || x >= world->width) {
    return false;
  }
  const std::int64_t reach = static_cast<std::int64_t>(x + 1) * static_cast<std::int64_t>(sizeof(HostPixel));
  return reach <= world->rowbytes;
}
