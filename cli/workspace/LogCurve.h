#pragma once
// The `log` working space's curve: scene-linear values to a logarithmic code centred on mid grey,
// so that the Divergence, one number for the whole frame, means the same ratio in the shadows as
// in the highlights. Compositors judge differences in stops, and in linear light a tolerance
// wide enough for the highlights' noise swallows a whole shadow.
//
//   code = 0.5 + log2(x / 0.18) / 16                 for x >= 0.18 * 2^-8 (code 0)
//   code = (x - 0.18 * 2^-8) * slope                 below, slope = 1 / (16 ln 2 * 0.18 * 2^-8)
//
// Mid grey (0.18) is at 0.5; one unit of code is 16 stops, so 0..1 holds 8 stops either side of
// mid grey (0.0007 to 46) and a Divergence of 1 (hundredths of full scale) is 0.16 stops. Below
// 8 stops under mid grey the curve goes on as the straight line that meets the logarithm with
// the same slope, so 0 is a code like any other (-0.092), negative values (sensor noise around
// black) stay negative and distinct, and the curve is one smooth, rising function of every real
// value with an exact inverse: the plate decoded after the render is the consensus of the
// footage's own values. It is OpenColorIO's LogCameraTransform with base 2, log side slope 1/16,
// lin side slope 1/0.18, log side offset 0.5 and lin side break 0.18 * 2^-8, so a host can
// apply the same curve through OpenColorIO. NaN stays NaN, infinities stay infinite.

#include <memory>

#include "cli/core/ColourTransform.h"

namespace framemeld::cli {

inline constexpr double kLogMidGrey = 0.18;
inline constexpr double kLogMidGreyCode = 0.5;
inline constexpr double kLogStopsPerUnit = 16.0;
// Where the logarithm hands over to its tangent line, in stops from mid grey.
inline constexpr double kLogBreakStops = -8.0;

double logEncode(double linear);
double logDecode(double code);

// The curve and its inverse as transforms of colour channels (both per channel).
std::shared_ptr<const ColourTransform> logEncoding();
std::shared_ptr<const ColourTransform> logDecoding();

} // namespace framemeld::cli
