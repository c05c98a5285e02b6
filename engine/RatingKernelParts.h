// Scalar pieces shared by the vector rating kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/RatingKernels.h"

namespace framemeld_rating {

// The byte kernels count each sample's later partners in 8-bit lanes, which a candidate raises by
// at most one; they are moved into the 32-bit ratings before they can wrap.
constexpr int kColumnFlushInterval = 255;

inline void flushColumns(unsigned char *columns, std::uint32_t *ratings, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    ratings[k] += columns[k];
    columns[k] = 0;
  }
}

// The values b with |value - b| <= reach, clipped to 0..255: b agrees with value exactly when
// low <= b <= high.
struct ByteWindow {
  unsigned char low;
  unsigned char high;
};

inline ByteWindow byteWindow(unsigned char value, int reach) {
  const int low = value - reach;
  const int high = value + reach;
  return ByteWindow{static_cast<unsigned char>(low < 0 ? 0 : low), static_cast<unsigned char>(high > 255 ? 255 : high)};
}

// The plain form of the selected sums, which the vector kernel sets without one of their own
// share.
void sumSelectedBytesPortable(const SamplePlanes<unsigned char> &samples, const std::uint32_t *ratings,
                              std::uint32_t lowest, std::uint32_t sums[4], std::uint32_t *selected);

} // namespace framemeld_rating
