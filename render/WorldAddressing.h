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
HostPixel *WorldPixel(HostPixel *base, A_long rowbytes, A_long x, A_long y) {
  const std::int64_t row_offset = static_cast<std::int64_t>(y) * static_cast<std::int64_t>(rowbytes);
  char *row = reinterpret_cast<char *>(base) + static_cast<std::ptrdiff_t>(row_offset);
  return reinterpret_cast<HostPixel *>(row) + x;
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
