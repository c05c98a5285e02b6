// Scalar pieces shared by the vector rating kernels.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/RatingKernels.h"

namespace framemeld::rating {

// The byte kernels count each sample's later partners in 8-bit lanes, which a candidate raises by
// at most one; they are moved into the 32-bit ratings before they can wrap.
constexpr int kColumnFlushInterval = 255;

inline void flushColumns(unsigned char *columns, std::uint32_t *ratings, std::size_t count)
{
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

inline ByteWindow byteWindow(unsigned char value, int reach)
{
    const int low = value - reach;
    const int high = value + reach;
    return ByteWindow{static_cast<unsigned char>(low < 0 ? 0 : low),
                      static_cast<unsigned char>(high > 255 ? 255 : high)};
}

// Whether every sample's alpha has the same bits (true for no samples).
template <typename T> bool sameAlphaEverywhere(const SamplePlanes<T> &samples)
{
    using Bits = typename std::conditional<sizeof(T) == 1, std::uint8_t, std::uint32_t>::type;
    static_assert(sizeof(Bits) == sizeof(T), "compared as bits of the same size");
    if (samples.count < 1) {
        return true;
    }
    Bits first;
    std::memcpy(&first, &samples.alpha[0], sizeof first);
    Bits differences = 0;
    for (int k = 1; k < samples.count; ++k) {
        Bits bits;
        std::memcpy(&bits, &samples.alpha[k], sizeof bits);
        differences |= static_cast<Bits>(bits ^ first);
    }
    return differences == 0;
}

// One component under the float rule, in the scalar form that the vector kernels mirror.
inline bool floatComponentAgrees(float difference, float tolerance)
{
    return !std::isnan(difference) && !(std::fabs(difference) >= tolerance);
}

// Whether a float sample's alpha agrees with the same alpha under the float rule.
inline bool alphaAgreesWithItself(const SamplePlanes<float> &samples, float tolerance)
{
    if (samples.count < 1) {
        return true;
    }
    return floatComponentAgrees(samples.alpha[0] - samples.alpha[0], tolerance);
}

// The plain form of the selected sums, which the vector kernel sets without one of their own
// share.
void sumSelectedBytesPortable(const SamplePlanes<unsigned char> &samples,
                              const std::uint32_t *ratings, std::uint32_t lowest,
                              std::uint32_t sums[4], std::uint32_t *selected);

} // namespace framemeld::rating
