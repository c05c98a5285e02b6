// The working space's pixel work and its choice: the log curve (mid grey, the smooth hand-over to
// its toe, 0 and negative values, its inverse), rows encoded and decoded at each depth with alpha
// left alone, tables at 8 and 16 bits only for transforms that keep channels apart, and which
// footage `auto` puts through the log curve.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/plan/WorkingSpaceChoice.h"
#include "cli/workspace/LogCurve.h"
#include "cli/workspace/WorkingSpace.h"

using framemeld::cli::chooseWorkingSpace;
using framemeld::cli::ColourTransform;
using framemeld::cli::FootageFormat;
using framemeld::cli::isSceneLinear;
using framemeld::cli::logDecode;
using framemeld::cli::logEncode;
using framemeld::cli::logEncoding;
using framemeld::cli::WorkingSpace;
using framemeld::cli::WorkingSpaceRequest;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

World copyOf(const World &world)
{
    World copy(world.width(), world.height(), world.depth());
    const std::size_t bytes =
        static_cast<std::size_t>(world.width()) * framemeld::runner::bytesPerPixel(world.depth());
    for (int y = 0; y < world.height(); ++y) {
        std::memcpy(copy.row(y), world.row(y), bytes);
    }
    return copy;
}

bool sameRows(const World &a, const World &b)
{
    const std::size_t bytes =
        static_cast<std::size_t>(a.width()) * framemeld::runner::bytesPerPixel(a.depth());
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.row(y), b.row(y), bytes) != 0) {
            return false;
        }
    }
    return true;
}

TEST(WorkingSpace, TheLogCurveIsCentredOnMidGreyAndSmoothThroughItsToe)
{
    EXPECT_DOUBLE_EQ(logEncode(0.18), 0.5);
    EXPECT_DOUBLE_EQ(logEncode(0.36) - logEncode(0.18), 1.0 / 16.0); // a stop is 1/16
    // The hand-over 8 stops below mid grey: same value and same slope on both sides.
    const double breakPoint = 0.18 / 256.0;
    const double h = breakPoint * 1e-6;
    EXPECT_NEAR(logEncode(breakPoint), 0.0, 1e-15);
    const double below = (logEncode(breakPoint) - logEncode(breakPoint - h)) / h;
    const double above = (logEncode(breakPoint + h) - logEncode(breakPoint)) / h;
    EXPECT_NEAR(below / above, 1.0, 1e-4);
    // 0 and negative values are codes like any other, in order, and come back.
    EXPECT_NEAR(logEncode(0.0), -1.0 / (16.0 * std::log(2.0)), 1e-12);
    double previous = -std::numeric_limits<double>::infinity();
    for (const double x : {-1.0, -0.01, -1e-4, 0.0, 1e-4, breakPoint, 0.01, 0.18, 1.0, 100.0}) {
        const double code = logEncode(x);
        EXPECT_GT(code, previous) << x;
        previous = code;
        EXPECT_NEAR(logDecode(code), x, 1e-12 * (1.0 + std::fabs(x))) << x;
    }
    EXPECT_TRUE(std::isnan(logEncode(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(logDecode(logEncode(std::numeric_limits<double>::infinity())),
              std::numeric_limits<double>::infinity());
}

// Float frames: colour through the single-precision curve, close to the exact one, and back to
// within a few parts in a million; alpha as it was.
TEST(WorkingSpace, FloatRowsGoThroughTheCurveAndBackWithAlphaLeftAlone)
{
    const WorkingSpace log = WorkingSpace::log(PixelDepth::Float32);
    World frame(7, 3, PixelDepth::Float32);
    const std::vector<float> values = {-0.05f, 0.0f,  1e-5f, 0.0005f, 0.003f, 0.01f, 0.05f,
                                       0.18f,  0.42f, 1.0f,  3.5f,    20.0f,  250.0f};
    std::size_t next = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            auto &p = frame.at<PF_PixelFloat>(x, y);
            p.alpha = 0.25f * static_cast<float>(x % 4);
            p.red = values[next++ % values.size()];
            p.green = values[next++ % values.size()];
            p.blue = values[next++ % values.size()];
        }
    }
    World encoded = copyOf(frame);
    log.encode(encoded);
    World decoded = copyOf(encoded);
    log.decode(decoded);
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const auto &p = frame.at<PF_PixelFloat>(x, y);
            const auto &e = encoded.at<PF_PixelFloat>(x, y);
            const auto &d = decoded.at<PF_PixelFloat>(x, y);
            EXPECT_EQ(e.alpha, p.alpha);
            EXPECT_EQ(d.alpha, p.alpha);
            for (const auto [in, code, back] : {std::array<float, 3>{p.red, e.red, d.red},
                                                {p.green, e.green, d.green},
                                                {p.blue, e.blue, d.blue}}) {
                const double exact = logEncode(static_cast<double>(in));
                EXPECT_NEAR(code, exact, 2e-7 * (1.0 + std::fabs(exact))) << in;
                EXPECT_NEAR(back, in, 3e-6 * std::fabs(static_cast<double>(in)) + 1e-9) << in;
            }
        }
    }
    const WorkingSpace linear = WorkingSpace::linear(PixelDepth::Float32);
    World untouched = copyOf(frame);
    linear.encode(untouched);
    EXPECT_TRUE(sameRows(untouched, frame));
}

// At 8 and 16 bits a curve goes through a table of every level; what it gives is the encoded
// value clipped to 0..1 and rounded, and the way back lands within half a step of the log code.
TEST(WorkingSpace, IntegerRowsAreClippedAndRoundedToTheDepth)
{
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16}) {
        SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
        const double full = framemeld::runner::channelFullScale(depth);
        const auto top = static_cast<int>(full);
        const WorkingSpace log = WorkingSpace::log(depth);
        // Every level once, 256 to a row.
        const int rowsNeeded = top / 256 + 1;
        World row(256, rowsNeeded, depth);
        for (int at = 0; at < 256 * rowsNeeded; ++at) {
            const int level = std::min(at, top);
            if (depth == PixelDepth::Bits8) {
                row.at<PF_Pixel8>(at % 256, at / 256) = {
                    static_cast<A_u_char>(255 - level % 256), static_cast<A_u_char>(level),
                    static_cast<A_u_char>(level), static_cast<A_u_char>(level)};
            } else {
                row.at<PF_Pixel16>(at % 256, at / 256) = {
                    static_cast<A_u_short>(top - level), static_cast<A_u_short>(level),
                    static_cast<A_u_short>(level), static_cast<A_u_short>(level)};
            }
        }
        World encoded = copyOf(row);
        log.encode(encoded);
        World decoded = copyOf(encoded);
        log.decode(decoded);
        auto channel = [depth](const World &w, int level, int c) -> double {
            const int x = level % 256;
            const int y = level / 256;
            if (depth == PixelDepth::Bits8) {
                const auto &p = w.at<PF_Pixel8>(x, y);
                return c == 0 ? p.alpha : c == 1 ? p.red : c == 2 ? p.green : p.blue;
            }
            const auto &p = w.at<PF_Pixel16>(x, y);
            return c == 0 ? p.alpha : c == 1 ? p.red : c == 2 ? p.green : p.blue;
        };
        for (int level = 0; level <= top; ++level) {
            const double code = channel(encoded, level, 1);
            EXPECT_EQ(code, std::round(std::clamp(logEncode(level / full), 0.0, 1.0) * full))
                << level;
            EXPECT_EQ(channel(encoded, level, 3), code) << level;
            EXPECT_EQ(channel(encoded, level, 0), channel(row, level, 0)) << "alpha";
            // Below the code's 0 (8 stops under mid grey) everything is 0.18 / 256; above, the
            // way back is off by at most half a step of the code.
            if (code > 0.0) {
                const double stops = 16.0 / full / 2.0;
                EXPECT_NEAR(channel(decoded, level, 2) / full, level / full,
                            level / full * (std::exp2(stops) - 1.0) + 0.5 / full)
                    << level;
            }
        }
    }
}

// A transform that mixes channels (a matrix, as between colour spaces) cannot be a table of
// levels: at an integer depth each pixel goes through floats.
class RotateChannels final : public ColourTransform {
public:
    void apply(float *red, std::size_t count, std::ptrdiff_t stride) const override
    {
        for (std::size_t i = 0; i < count; ++i, red += stride) {
            const float r = red[0];
            red[0] = red[1];
            red[1] = red[2];
            red[2] = r;
        }
    }
    bool perChannel() const override { return false; }
};

TEST(WorkingSpace, TransformsThatMixChannelsGoPixelByPixel)
{
    const auto rotate = std::make_shared<RotateChannels>();
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
        const WorkingSpace space = WorkingSpace::colourSpace("rotated", depth, rotate, rotate);
        EXPECT_EQ(space.name(), "rotated");
        World frame(3, 2, depth);
        for (int x = 0; x < 3; ++x) {
            for (int y = 0; y < 2; ++y) {
                if (depth == PixelDepth::Bits8) {
                    frame.at<PF_Pixel8>(x, y) = {200, 10, static_cast<A_u_char>(100 + x), 250};
                } else if (depth == PixelDepth::Bits16) {
                    frame.at<PF_Pixel16>(x, y) = {32768, 10, static_cast<A_u_short>(1000 + x),
                                                  32000};
                } else {
                    frame.at<PF_PixelFloat>(x, y) = {0.5f, 0.1f, 0.2f + static_cast<float>(x),
                                                     7.0f};
                }
            }
        }
        World encoded = copyOf(frame);
        space.encode(encoded);
        for (int x = 0; x < 3; ++x) {
            if (depth == PixelDepth::Bits8) {
                const auto &p = encoded.at<PF_Pixel8>(x, 1);
                EXPECT_EQ(p.alpha, 200);
                EXPECT_EQ(p.red, 100 + x);
                EXPECT_EQ(p.green, 250);
                EXPECT_EQ(p.blue, 10);
            } else if (depth == PixelDepth::Bits16) {
                const auto &p = encoded.at<PF_Pixel16>(x, 1);
                EXPECT_EQ(p.red, 1000 + x);
                EXPECT_EQ(p.green, 32000);
                EXPECT_EQ(p.blue, 10);
            } else {
                const auto &p = encoded.at<PF_PixelFloat>(x, 1);
                EXPECT_EQ(p.alpha, 0.5f);
                EXPECT_EQ(p.red, 0.2f + static_cast<float>(x));
                EXPECT_EQ(p.green, 7.0f); // float keeps values past 1
                EXPECT_EQ(p.blue, 0.1f);
            }
        }
    }
    EXPECT_EQ(WorkingSpace::log(PixelDepth::Float32).units().name, "stops");
    EXPECT_EQ(WorkingSpace::log(PixelDepth::Float32).units().perFullScale, 16.0);
    EXPECT_EQ(WorkingSpace::linear(PixelDepth::Bits16).units().name, "levels of 255");
    EXPECT_EQ(WorkingSpace::linear(PixelDepth::Float32).units().name, "linear");
    World wrongDepth(2, 2, PixelDepth::Bits8);
    EXPECT_THROW(WorkingSpace::log(PixelDepth::Float32).encode(wrongDepth), std::invalid_argument);
}

FootageFormat footage(const char *sampleType, const char *tag)
{
    FootageFormat format;
    format.sampleType = sampleType;
    format.naturalDepth =
        std::string(sampleType).find("int") == 0 || std::string(sampleType).find("uint") == 0
            ? PixelDepth::Bits8
            : PixelDepth::Float32;
    format.colourSpace = tag;
    return format;
}

TEST(WorkingSpace, AutoPutsSceneLinearFloatFootageThroughTheLogCurveOnly)
{
    EXPECT_TRUE(isSceneLinear(footage("half", "")));
    EXPECT_TRUE(isSceneLinear(footage("float", "Linear")));
    EXPECT_TRUE(isSceneLinear(footage("half", "ACEScg")));
    EXPECT_TRUE(isSceneLinear(footage("float", "lin_rec709")));
    EXPECT_TRUE(isSceneLinear(footage("half", "Utility - Linear - sRGB")));
    EXPECT_FALSE(isSceneLinear(footage("half", "sRGB")));
    EXPECT_FALSE(isSceneLinear(footage("float", "ACEScct")));
    EXPECT_FALSE(isSceneLinear(footage("half", "Rec709")));
    EXPECT_FALSE(isSceneLinear(footage("uint16", "Linear")));
    EXPECT_FALSE(isSceneLinear(footage("uint8", "")));

    using Kind = WorkingSpaceRequest::Kind;
    const WorkingSpaceRequest automatic = WorkingSpaceRequest::parse("auto");
    EXPECT_EQ(automatic.kind, Kind::Auto);
    const auto exr = chooseWorkingSpace(automatic, footage("half", "Linear"), PixelDepth::Float32);
    EXPECT_EQ(exr.kind, Kind::Log);
    EXPECT_TRUE(exr.automatic);
    // Rendered at 16 bits the frames reach the plug-in clipped and rounded: left as they are.
    EXPECT_EQ(chooseWorkingSpace(automatic, footage("half", ""), PixelDepth::Bits16).kind,
              Kind::Linear);
    EXPECT_EQ(chooseWorkingSpace(automatic, footage("uint8", "sRGB"), PixelDepth::Float32).kind,
              Kind::Linear);
    EXPECT_EQ(chooseWorkingSpace(automatic, footage("float", "sRGB"), PixelDepth::Float32).kind,
              Kind::Linear);

    const auto asked = chooseWorkingSpace(WorkingSpaceRequest::parse("log"), footage("uint8", ""),
                                          PixelDepth::Bits8);
    EXPECT_EQ(asked.kind, Kind::Log);
    EXPECT_FALSE(asked.automatic);
    EXPECT_EQ(chooseWorkingSpace(WorkingSpaceRequest::parse("linear"), footage("half", ""),
                                 PixelDepth::Float32)
                  .kind,
              Kind::Linear);
    const auto named = chooseWorkingSpace(WorkingSpaceRequest::parse("ACEScct"),
                                          footage("half", ""), PixelDepth::Float32);
    EXPECT_EQ(named.kind, Kind::Named);
    EXPECT_EQ(named.name, "ACEScct");
}

} // namespace
