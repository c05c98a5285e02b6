// The rating pass in plain C++, for every processor and compiler. Branch-free per pair, so that a
// compiler may vectorise it where it can.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/RatingKernelParts.h"
#include "engine/RatingKernels.h"

namespace framemeld::rating {

namespace {

void rateBytes(const SamplePlanes<unsigned char> &samples, unsigned char tolerance,
               std::uint32_t *ratings, unsigned char * /*columns*/)
{
    const int limit = tolerance;
    for (int i = 0; i < samples.count; ++i) {
        const int red = samples.red[i];
        const int green = samples.green[i];
        const int blue = samples.blue[i];
        const int alpha = samples.alpha[i];
        std::uint32_t partners = 0;
        for (int j = 0; j < i; ++j) {
            const std::uint32_t agree =
                static_cast<std::uint32_t>((std::abs(samples.red[j] - red) < limit) &
                                           (std::abs(samples.green[j] - green) < limit) &
                                           (std::abs(samples.blue[j] - blue) < limit) &
                                           (std::abs(samples.alpha[j] - alpha) < limit));
            ratings[j] += agree;
            partners += agree;
        }
        ratings[i] = 1 + partners;
    }
}

// 1 when a float component agrees, else 0, so that the four tests combine without branches.
inline std::uint32_t agreement(float difference, float tolerance)
{
    return floatComponentAgrees(difference, tolerance) ? 1u : 0u;
}

void rateFloats(const SamplePlanes<float> &samples, float tolerance, std::uint32_t *ratings,
                std::uint32_t * /*rows*/)
{
    for (int i = 0; i < samples.count; ++i) {
        const float red = samples.red[i];
        const float green = samples.green[i];
        const float blue = samples.blue[i];
        const float alpha = samples.alpha[i];
        std::uint32_t partners = 0;
        for (int j = 0; j < i; ++j) {
            const std::uint32_t agree = agreement(samples.red[j] - red, tolerance) &
                                        agreement(samples.green[j] - green, tolerance) &
                                        agreement(samples.blue[j] - blue, tolerance) &
                                        agreement(samples.alpha[j] - alpha, tolerance);
            ratings[j] += agree;
            partners += agree;
        }
        ratings[i] = 1 + partners;
    }
}

const RatingKernels kKernels{"portable", rateBytes, rateFloats, sumSelectedBytesPortable};

} // namespace

// Branch-free: which samples pass is as unpredictable as footage.
void sumSelectedBytesPortable(const SamplePlanes<unsigned char> &samples,
                              const std::uint32_t *ratings, std::uint32_t lowest,
                              std::uint32_t sums[4], std::uint32_t *selected)
{
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
    std::uint32_t alpha = 0;
    std::uint32_t chosenCount = 0;
    for (int k = 0; k < samples.count; ++k) {
        const std::uint32_t chosen = ratings[k] >= lowest ? 1u : 0u;
        const std::uint32_t mask = 0u - chosen;
        red += samples.red[k] & mask;
        green += samples.green[k] & mask;
        blue += samples.blue[k] & mask;
        alpha += samples.alpha[k] & mask;
        chosenCount += chosen;
    }
    sums[0] = red;
    sums[1] = green;
    sums[2] = blue;
    sums[3] = alpha;
    *selected = chosenCount;
}

const RatingKernels *const kPortableKernels = &kKernels;

} // namespace framemeld::rating
