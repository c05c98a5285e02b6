#include "cli/mattes/PlateAgreement.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace framemeld::mattes {

namespace {

// The agreement test of AgreementTest, written without branches so that the loop over a row
// runs on the processor's vector units: this pass is to cost little beside the render.
// At 8 bits: strictly below the whole-level tolerance.
inline int agreeing(const PF_Pixel8 &a, const PF_Pixel8 &b, int tolerance)
{
    return static_cast<int>(std::abs(a.red - b.red) < tolerance) &
           static_cast<int>(std::abs(a.green - b.green) < tolerance) &
           static_cast<int>(std::abs(a.blue - b.blue) < tolerance) &
           static_cast<int>(std::abs(a.alpha - b.alpha) < tolerance);
}

// In float a difference below the tolerance agrees; NaN compares false, so it never does, as
// in the engine.
inline int below(float a, float b, float tolerance)
{
    return static_cast<int>(std::fabs(a - b) < tolerance);
}

inline int agreeing(const PF_Pixel16 &a, const PF_Pixel16 &b, float tolerance)
{
    return below(engineValue(a.red), engineValue(b.red), tolerance) &
           below(engineValue(a.green), engineValue(b.green), tolerance) &
           below(engineValue(a.blue), engineValue(b.blue), tolerance) &
           below(engineValue(a.alpha), engineValue(b.alpha), tolerance);
}

inline int agreeing(const PF_PixelFloat &a, const PF_PixelFloat &b, float tolerance)
{
    return below(a.red, b.red, tolerance) & below(a.green, b.green, tolerance) &
           below(a.blue, b.blue, tolerance) & below(a.alpha, b.alpha, tolerance);
}

template <class HostPixel, class Tolerance>
void agreementRow(const AgreementRowInput &input, Tolerance tolerance, float *confidence,
                  std::uint8_t *const *differences)
{
    const HostPixel *plate = reinterpret_cast<const HostPixel *>(input.plateRow);
    const int n = input.frameCount;
    const auto width = static_cast<std::size_t>(input.width);
    // Frame by frame over the row, so that each frame's row is read once, in order.
    thread_local std::vector<int> counts;
    counts.assign(width, 0);
    int *const count = counts.data();
    for (int k = 0; k < n; ++k) {
        const HostPixel *row = reinterpret_cast<const HostPixel *>(input.frameRows[k]);
        std::uint8_t *difference = differences != nullptr ? differences[k] : nullptr;
        if (difference != nullptr) {
            for (std::size_t x = 0; x < width; ++x) {
                const int agrees = agreeing(row[x], plate[x], tolerance);
                count[x] += agrees;
                difference[x] = static_cast<std::uint8_t>(kDiffers * (1 - agrees));
            }
        } else {
            for (std::size_t x = 0; x < width; ++x) {
                count[x] += agreeing(row[x], plate[x], tolerance);
            }
        }
    }
    if (confidence != nullptr) {
        for (std::size_t x = 0; x < width; ++x) {
            confidence[x] = n > 0 ? static_cast<float>(count[x]) / static_cast<float>(n) : 0.0f;
        }
    }
}

} // namespace

void plateAgreementRow(const AgreementRowInput &input, float *confidence,
                       std::uint8_t *const *differences)
{
    const AgreementTest &test = *input.test;
    switch (test.depth()) {
    case runner::PixelDepth::Bits8:
        agreementRow<PF_Pixel8>(input, test.byteTolerance(), confidence, differences);
        break;
    case runner::PixelDepth::Bits16:
        agreementRow<PF_Pixel16>(input, test.floatTolerance(), confidence, differences);
        break;
    case runner::PixelDepth::Float32:
        agreementRow<PF_PixelFloat>(input, test.floatTolerance(), confidence, differences);
        break;
    }
}

} // namespace framemeld::mattes
