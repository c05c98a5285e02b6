// The warp through the OpenCV module: copies, constants, coverage, the pixel convention, depths,
// HDR, ringing, alpha and strips.

#include "AlignClips.h"
#include "cli/formats/AlignModule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace framemeld::cli::align;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr double kPi = 3.14159265358979323846;
const PixelDepth kDepths[] = {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32};
const WarpFilter kFilters[] = {WarpFilter::Bilinear, WarpFilter::Bicubic, WarpFilter::Lanczos3,
                               WarpFilter::Lanczos4};

Transform similarity(double angleDegrees, double scale, double tx, double ty, double cx = 0,
                     double cy = 0)
{
    const double a = angleDegrees * kPi / 180;
    const double c = std::cos(a) * scale;
    const double s = std::sin(a) * scale;
    Transform t;
    t.m = {c, -s, cx - c * cx + s * cy + tx, s, c, cy - s * cx - c * cy + ty, 0, 0, 1};
    return t;
}

// The four channels of a pixel as doubles, alpha first.
std::array<double, 4> pixelAt(const World &w, int x, int y)
{
    switch (w.depth()) {
    case PixelDepth::Bits8: {
        const PF_Pixel8 &p = w.at<PF_Pixel8>(x, y);
        return {1.0 * p.alpha, 1.0 * p.red, 1.0 * p.green, 1.0 * p.blue};
    }
    case PixelDepth::Bits16: {
        const PF_Pixel16 &p = w.at<PF_Pixel16>(x, y);
        return {1.0 * p.alpha, 1.0 * p.red, 1.0 * p.green, 1.0 * p.blue};
    }
    case PixelDepth::Float32: {
        const PF_PixelFloat &p = w.at<PF_PixelFloat>(x, y);
        return {static_cast<double>(p.alpha), static_cast<double>(p.red),
                static_cast<double>(p.green), static_cast<double>(p.blue)};
    }
    }
    return {};
}

void setPixel(World &w, int x, int y, const std::array<double, 4> &c)
{
    switch (w.depth()) {
    case PixelDepth::Bits8:
        w.at<PF_Pixel8>(x, y) = {static_cast<A_u_char>(c[0]), static_cast<A_u_char>(c[1]),
                                 static_cast<A_u_char>(c[2]), static_cast<A_u_char>(c[3])};
        break;
    case PixelDepth::Bits16:
        w.at<PF_Pixel16>(x, y) = {static_cast<A_u_short>(c[0]), static_cast<A_u_short>(c[1]),
                                  static_cast<A_u_short>(c[2]), static_cast<A_u_short>(c[3])};
        break;
    case PixelDepth::Float32:
        w.at<PF_PixelFloat>(x, y) = {static_cast<float>(c[0]), static_cast<float>(c[1]),
                                     static_cast<float>(c[2]), static_cast<float>(c[3])};
        break;
    }
}

World filled(int width, int height, PixelDepth depth, const std::array<double, 4> &c)
{
    World w(width, height, depth);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            setPixel(w, x, y, c);
        }
    }
    return w;
}

World noiseWorld(int width, int height, PixelDepth depth, std::uint64_t seed)
{
    cv::RNG rng(seed);
    World w(width, height, depth);
    const double full = framemeld::runner::channelFullScale(depth);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::array<double, 4> c;
            for (double &v : c) {
                v = depth == PixelDepth::Float32 ? rng.uniform(-0.5, 3.0)
                                                 : std::floor(rng.uniform(0.0, full + 1));
            }
            setPixel(w, x, y, c);
        }
    }
    return w;
}

struct Warped {
    World world;
    std::vector<CoverageSpan> spans;
    WarpReport report;
};

Warped warp(const World &source, const Transform &t, WarpSettings settings = {},
            AlphaKind alpha = AlphaKind::Opaque, int width = -1, int height = -1)
{
    Warped out;
    out.world = World(width < 0 ? source.width() : width, height < 0 ? source.height() : height,
                      source.depth());
    out.world.fillBytes(0xA5); // every pixel must be written, covered or not
    out.spans.resize(static_cast<std::size_t>(out.world.height()));
    out.report = alignModule().warpFrame(frameView(source, alpha), t, frameTarget(out.world), 0,
                                         out.spans.data(), settings);
    return out;
}

// Whether the centre of target pixel (u, v) maps inside the source's area: the coverage rule.
bool centreInside(const Transform &t, int u, int v, int width, int height, double slack)
{
    Transform inverse;
    invert(t, inverse);
    double x = 0, y = 0;
    if (!applyTransform(inverse, u + 0.5, v + 0.5, x, y)) {
        return false;
    }
    return x >= -slack && x <= width + slack && y >= -slack && y <= height + slack;
}

TEST(Warp, TheIdentityCopiesEveryPixel)
{
    for (PixelDepth depth : kDepths) {
        const World source = noiseWorld(37, 23, depth, 1);
        const Warped w = warp(source, identityTransform());
        EXPECT_TRUE(w.report.copied);
        EXPECT_EQ(w.report.coveredPixels, 37 * 23);
        for (int y = 0; y < 23; ++y) {
            EXPECT_EQ(w.spans[static_cast<std::size_t>(y)].first, 0);
            EXPECT_EQ(w.spans[static_cast<std::size_t>(y)].end, 37);
            EXPECT_EQ(std::memcmp(w.world.row(y), source.row(y),
                                  37 * framemeld::runner::bytesPerPixel(depth)),
                      0);
        }
    }
}

TEST(Warp, AShiftByWholePixelsCopiesAndLeavesTheBorderUncovered)
{
    for (PixelDepth depth : kDepths) {
        const World source = noiseWorld(40, 30, depth, 2);
        // The frame's point x lands on x + 3 in the reference, y on y - 2.
        const Warped w = warp(source, similarity(0, 1, 3, -2));
        EXPECT_TRUE(w.report.copied);
        EXPECT_EQ(w.report.coveredPixels, 37 * 28);
        for (int v = 0; v < 30; ++v) {
            const CoverageSpan &s = w.spans[static_cast<std::size_t>(v)];
            if (v >= 28) {
                EXPECT_EQ(s.first, s.end) << v;
            } else {
                EXPECT_EQ(s.first, 3);
                EXPECT_EQ(s.end, 40);
            }
            for (int u = 0; u < 40; ++u) {
                const bool covered = u >= s.first && u < s.end;
                const std::array<double, 4> got = pixelAt(w.world, u, v);
                const std::array<double, 4> want =
                    covered ? pixelAt(source, u - 3, v + 2) : std::array<double, 4>{0, 0, 0, 0};
                EXPECT_EQ(got, want) << u << "," << v;
            }
        }
    }
}

TEST(Warp, AConstantImageStaysExactlyConstantWhereCoveredAndTransparentElsewhere)
{
    const Transform moves[] = {similarity(1.3, 1.01, 0.37, -0.81, 20, 15),
                               similarity(-0.6, 0.995, -2.5, 1.25, 20, 15),
                               similarity(40, 1, 3, 2, 20, 15)}; // past the two-pass limit
    Transform perspective = similarity(0.5, 1, 0.3, 0.2, 20, 15);
    perspective.m[6] = 4e-4;
    perspective.m[7] = -3e-4;
    for (PixelDepth depth : kDepths) {
        const std::array<double, 4> value =
            depth == PixelDepth::Bits8 ? std::array<double, 4>{255, 200, 100, 50}
            : depth == PixelDepth::Bits16
                ? std::array<double, 4>{32768, 30000, 12345, 1}
                : std::array<double, 4>{1, 0.625, 4.5, -0.25}; // floats exactly
        const World source = filled(41, 31, depth, value);
        for (WarpFilter filter : kFilters) {
            for (bool clampRinging : {false, true}) {
                WarpSettings settings;
                settings.filter = filter;
                settings.clampRinging = clampRinging;
                for (const Transform &t : {moves[0], moves[1], moves[2], perspective}) {
                    const Warped w = warp(source, t, settings);
                    EXPECT_FALSE(w.report.copied);
                    long long covered = 0;
                    for (int v = 0; v < 31; ++v) {
                        const CoverageSpan &s = w.spans[static_cast<std::size_t>(v)];
                        covered += s.end - s.first;
                        for (int u = 0; u < 41; ++u) {
                            const bool in = u >= s.first && u < s.end;
                            // The rule, away from pixels whose centre maps onto the edge itself.
                            if (centreInside(t, u, v, 41, 31, -1e-6)) {
                                EXPECT_TRUE(in) << u << "," << v;
                            } else if (!centreInside(t, u, v, 41, 31, 1e-6)) {
                                EXPECT_FALSE(in) << u << "," << v;
                            }
                            const std::array<double, 4> got = pixelAt(w.world, u, v);
                            const std::array<double, 4> want =
                                in ? value : std::array<double, 4>{0, 0, 0, 0};
                            ASSERT_EQ(got, want)
                                << warpFilterName(filter) << " at " << u << "," << v << ", "
                                << framemeld::runner::bitsPerChannel(depth) << " bits";
                        }
                    }
                    EXPECT_EQ(covered, w.report.coveredPixels);
                }
            }
        }
    }
}

// A smooth image given by a function of the pixel centre, in float.
double smooth(double x, double y)
{
    return 0.5 + 0.3 * std::sin(x * 0.21 + 0.4) * std::cos(y * 0.17 - 0.3) +
           0.1 * std::sin((x + y) * 0.05);
}

TEST(Warp, ResamplesAtTheCentresTheTransformNames)
{
    // warped(u, v) is the frame at T^-1 of the reference pixel's centre (u + 0.5, v + 0.5),
    // the frame's own pixel (i, j) being the value at (i + 0.5, j + 0.5).
    World source(64, 48, PixelDepth::Float32);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const float v = static_cast<float>(smooth(x + 0.5, y + 0.5));
            source.at<PF_PixelFloat>(x, y) = {1, v, v, v};
        }
    }
    const Transform t = similarity(2.5, 1.02, 1.3, -0.7, 32, 24);
    Transform inverse;
    ASSERT_TRUE(invert(t, inverse));
    for (WarpFilter filter : {WarpFilter::Bicubic, WarpFilter::Lanczos3, WarpFilter::Lanczos4}) {
        WarpSettings settings;
        settings.filter = filter;
        const Warped w = warp(source, t, settings);
        double worst = 0;
        for (int v = 8; v < 40; ++v) {
            for (int u = 8; u < 56; ++u) {
                double x = 0, y = 0;
                applyTransform(inverse, u + 0.5, v + 0.5, x, y);
                worst = std::max(
                    worst, std::fabs(static_cast<double>(w.world.at<PF_PixelFloat>(u, v).red) -
                                     smooth(x, y)));
            }
        }
        EXPECT_LT(worst, 2e-3) << warpFilterName(filter);
    }
}

TEST(Warp, ARoundTripComesBackClose)
{
    for (PixelDepth depth : kDepths) {
        const double full = framemeld::runner::channelFullScale(depth);
        World source(80, 60, depth);
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 80; ++x) {
                const double v = std::round(smooth(x + 0.5, y + 0.5) * full *
                                            (depth == PixelDepth::Float32 ? 1e6 : 1)) /
                                 (depth == PixelDepth::Float32 ? 1e6 : 1);
                setPixel(source, x, y, {full, v, v, v});
            }
        }
        const Transform t = similarity(1, 1, 0.4, 0.3, 40, 30);
        Transform back;
        invert(t, back);
        const Warped there = warp(source, t);
        const Warped again = warp(there.world, back);
        double worst = 0;
        for (int y = 10; y < 50; ++y) {
            for (int x = 10; x < 70; ++x) {
                worst = std::max(
                    worst,
                    std::fabs(pixelAt(again.world, x, y)[1] - pixelAt(source, x, y)[1]) / full);
            }
        }
        EXPECT_LT(worst, 0.01) << framemeld::runner::bitsPerChannel(depth);
    }
}

TEST(Warp, FloatKeepsHdrValuesAndTheClampKeepsLanczosFromRinging)
{
    // A hard vertical edge from 0.2 to 5.0 (a highlight) across the frame.
    World source(40, 20, PixelDepth::Float32);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x) {
            const float v = x < 20 ? 0.2f : 5.0f;
            source.at<PF_PixelFloat>(x, y) = {1, v, v, v};
        }
    }
    const Transform t = similarity(0, 1, 0.43, 0.2);
    for (bool clampRinging : {false, true}) {
        WarpSettings settings;
        settings.filter = WarpFilter::Lanczos3;
        settings.clampRinging = clampRinging;
        const Warped w = warp(source, t, settings);
        float lowest = 10, highest = -10;
        for (int y = 2; y < 18; ++y) {
            for (int x = 2; x < 38; ++x) {
                lowest = std::min(lowest, w.world.at<PF_PixelFloat>(x, y).red);
                highest = std::max(highest, w.world.at<PF_PixelFloat>(x, y).red);
            }
        }
        if (clampRinging) {
            EXPECT_GE(lowest, 0.2f);
            EXPECT_LE(highest, 5.0f);
            EXPECT_EQ(highest, 5.0f); // far from the edge the highlight is untouched
        } else {
            EXPECT_LT(lowest, 0.2f - 0.05f); // Lanczos rings, and float does not clip it
            EXPECT_GT(highest, 5.0f + 0.05f);
        }
    }
}

TEST(Warp, IntegerDepthsStayWithinTheirScale)
{
    for (PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16}) {
        const double full = framemeld::runner::channelFullScale(depth);
        World source(40, 20, depth);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 40; ++x) {
                const double v = (x / 3) % 2 ? full : 0;
                setPixel(source, x, y, {full, v, v, v});
            }
        }
        WarpSettings settings;
        settings.filter = WarpFilter::Lanczos4;
        settings.clampRinging = false;
        const Warped w = warp(source, similarity(0.3, 1, 0.5, 0.5, 20, 10), settings);
        bool reachedTop = false;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 40; ++x) {
                for (double c : pixelAt(w.world, x, y)) {
                    EXPECT_LE(c, full);
                    EXPECT_GE(c, 0);
                    reachedTop = reachedTop || c == full;
                }
            }
        }
        EXPECT_TRUE(reachedTop);
    }
}

TEST(Warp, StraightAlphaLendsNoColourFromTransparentPixels)
{
    for (PixelDepth depth : kDepths) {
        const double full = framemeld::runner::channelFullScale(depth);
        World source(30, 10, depth);
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 30; ++x) {
                // Opaque red on the left; transparent on the right, with green left in its colour.
                setPixel(source, x, y,
                         x < 15 ? std::array<double, 4>{full, full, 0, 0}
                                : std::array<double, 4>{0, 0, full, 0});
            }
        }
        const Warped w = warp(source, similarity(0, 1, 0.5, 0), {}, AlphaKind::Straight);
        for (int x = 1; x < 29; ++x) {
            const std::array<double, 4> p = pixelAt(w.world, x, 5);
            if (p[0] > 0) {
                EXPECT_LE(p[2], full * 0.004 + 1) << "green bled into " << x;
                EXPECT_NEAR(p[1], full, full * 0.004 + 1) << x;
            }
        }
        // Without the alpha kind the green bleeds, which is what Straight is for.
        const Warped wrong = warp(source, similarity(0, 1, 0.5, 0), {}, AlphaKind::Premultiplied);
        EXPECT_GT(pixelAt(wrong.world, 15, 5)[2], full * 0.1);
    }
}

TEST(Warp, StripsOfTheTargetEqualTheWholeTarget)
{
    for (PixelDepth depth : kDepths) {
        const World source = noiseWorld(50, 40, depth, 5);
        const Transform t = similarity(0.8, 1.003, 1.7, -0.4, 25, 20);
        const Warped whole = warp(source, t);
        World strip(50, 40, depth);
        std::vector<CoverageSpan> spans(40);
        for (int top : {0, 13, 29}) {
            const int rows = top == 0 ? 13 : top == 13 ? 16 : 11;
            World part(50, rows, depth);
            alignModule().warpFrame(frameView(source, AlphaKind::Opaque), t, frameTarget(part), top,
                                    spans.data() + top, {});
            for (int y = 0; y < rows; ++y) {
                std::memcpy(strip.row(top + y), part.row(y),
                            50 * framemeld::runner::bytesPerPixel(depth));
            }
        }
        for (int y = 0; y < 40; ++y) {
            EXPECT_EQ(std::memcmp(strip.row(y), whole.world.row(y),
                                  50 * framemeld::runner::bytesPerPixel(depth)),
                      0)
                << y;
            EXPECT_EQ(spans[static_cast<std::size_t>(y)].first,
                      whole.spans[static_cast<std::size_t>(y)].first);
            EXPECT_EQ(spans[static_cast<std::size_t>(y)].end,
                      whole.spans[static_cast<std::size_t>(y)].end);
        }
    }
}

TEST(Warp, CoverageMaskExpandsTheSpans)
{
    const std::vector<CoverageSpan> spans = {{1, 3}, {0, 0}, {2, 4}};
    const std::vector<std::uint8_t> mask = coverageMask(spans, 4);
    const std::vector<std::uint8_t> want = {0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 255, 255};
    EXPECT_EQ(mask, want);
}

TEST(Warp, MismatchedViewsAndSingularTransformsAreRefused)
{
    const World source = noiseWorld(10, 10, PixelDepth::Bits8, 1);
    World other(10, 10, PixelDepth::Bits16);
    EXPECT_THROW(alignModule().warpFrame(frameView(source, AlphaKind::Opaque), identityTransform(),
                                         frameTarget(other), 0, nullptr, {}),
                 std::invalid_argument);
    World target(10, 10, PixelDepth::Bits8);
    Transform flat = identityTransform();
    flat.m[4] = 0;
    EXPECT_THROW(alignModule().warpFrame(frameView(source, AlphaKind::Opaque), flat,
                                         frameTarget(target), 0, nullptr, {}),
                 std::invalid_argument);
}

} // namespace
