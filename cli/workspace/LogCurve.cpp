#include "cli/workspace/LogCurve.h"

#include <cmath>

namespace framemeld::cli {
namespace {

constexpr double kLn2 = 0.69314718055994530942;

// The break, on both sides of the curve, and the slope of the line below it.
const double kBreakLinear = kLogMidGrey * std::exp2(kLogBreakStops);
const double kBreakCode = kLogMidGreyCode + kLogBreakStops / kLogStopsPerUnit;
const double kToeSlope = 1.0 / (kLogStopsPerUnit * kLn2 * kBreakLinear);

// The same in single precision, as the frames hold their samples: a frame's millions of samples
// are encoded with log2f and exp2f, which stay within a unit in the last place.
const float kBreakLinearF = static_cast<float>(kBreakLinear);
const float kBreakCodeF = static_cast<float>(kBreakCode);
const float kToeSlopeF = static_cast<float>(kToeSlope);
const float kInverseMidGreyF = static_cast<float>(1.0 / kLogMidGrey);
const float kMidGreyF = static_cast<float>(kLogMidGrey);
const float kInverseStopsF = static_cast<float>(1.0 / kLogStopsPerUnit);
const float kStopsF = static_cast<float>(kLogStopsPerUnit);
const float kMidCodeF = static_cast<float>(kLogMidGreyCode);

inline float encodeOne(float x)
{
    // NaN fails the test and stays NaN through the line.
    if (x >= kBreakLinearF) {
        return kMidCodeF + std::log2(x * kInverseMidGreyF) * kInverseStopsF;
    }
    return (x - kBreakLinearF) * kToeSlopeF + kBreakCodeF;
}

inline float decodeOne(float y)
{
    if (y >= kBreakCodeF) {
        return kMidGreyF * std::exp2((y - kMidCodeF) * kStopsF);
    }
    return (y - kBreakCodeF) / kToeSlopeF + kBreakLinearF;
}

template <float (*Curve)(float)> class CurveTransform final : public ColourTransform {
public:
    void apply(float *red, std::size_t count, std::ptrdiff_t stride) const override
    {
        for (std::size_t i = 0; i < count; ++i, red += stride) {
            red[0] = Curve(red[0]);
            red[1] = Curve(red[1]);
            red[2] = Curve(red[2]);
        }
    }
    bool perChannel() const override { return true; }
};

} // namespace

double logEncode(double linear)
{
    if (linear >= kBreakLinear) {
        return kLogMidGreyCode + std::log2(linear / kLogMidGrey) / kLogStopsPerUnit;
    }
    return (linear - kBreakLinear) * kToeSlope + kBreakCode;
}

double logDecode(double code)
{
    if (code >= kBreakCode) {
        return kLogMidGrey * std::exp2((code - kLogMidGreyCode) * kLogStopsPerUnit);
    }
    return (code - kBreakCode) / kToeSlope + kBreakLinear;
}

std::shared_ptr<const ColourTransform> logEncoding()
{
    static const auto transform = std::make_shared<const CurveTransform<encodeOne>>();
    return transform;
}

std::shared_ptr<const ColourTransform> logDecoding()
{
    static const auto transform = std::make_shared<const CurveTransform<decodeOne>>();
    return transform;
}

} // namespace framemeld::cli
