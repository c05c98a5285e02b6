// The motion probe on frames made from a smooth random texture, evaluated exactly at every
// sub-pixel shift and turn: known shifts come back within a sixth of a pixel at every depth and
// proxy scale, identical frames give nothing, a bright object crossing a third of a still frame
// does not make the camera move, a turn asks for a similarity, and flat frames say they cannot be
// measured instead of passing for still. The probe leaves the frames as they were.
#include "cli/footage/MotionEstimate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "runner/World.h"

using namespace framemeld::cli;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::HasSubstr;

namespace {

std::size_t idx(int i)
{
    return static_cast<std::size_t>(i);
}

// A sum of plane waves (wavelengths 12 to 60 footage pixels): smooth, textured everywhere, and
// exact at any shift or turn, since moving a plane wave only changes its vector and phase.
class Texture {
public:
    explicit Texture(unsigned seed, double amplitude = 0.3)
    {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int k = 0; k < 24; ++k) {
            const double wavelength = 12.0 + 48.0 * unit(random);
            const double angle = 2 * M_PI * unit(random);
            waves_.push_back(Wave{2 * M_PI / wavelength * std::cos(angle),
                                  2 * M_PI / wavelength * std::sin(angle), 2 * M_PI * unit(random),
                                  amplitude / 24.0 * 2.0 * unit(random)});
        }
    }

    // Grey values of the frame that shows the texture moved by (dx, dy) and turned by `degrees`
    // about the frame's centre: frame(R p + d) = texture(p).
    std::vector<double> frame(int width, int height, double dx, double dy, double degrees = 0) const
    {
        std::vector<double> grey(idx(width) * idx(height), 0.5);
        const double t = degrees * M_PI / 180.0;
        const double cx = width / 2.0, cy = height / 2.0;
        std::vector<double> cosX(idx(width)), sinX(idx(width)), cosY(idx(height)),
            sinY(idx(height));
        for (const Wave &w : waves_) {
            // p = R^-1 (q - c - d) + c, so k.p = k'.(q - c - d) + k.c with k' = R k.
            const double kx = std::cos(t) * w.kx - std::sin(t) * w.ky;
            const double ky = std::sin(t) * w.kx + std::cos(t) * w.ky;
            const double phase = w.phase + w.kx * cx + w.ky * cy - kx * (cx + dx) - ky * (cy + dy);
            for (int x = 0; x < width; ++x) {
                cosX[idx(x)] = std::cos(kx * x);
                sinX[idx(x)] = std::sin(kx * x);
            }
            for (int y = 0; y < height; ++y) {
                cosY[idx(y)] = std::cos(ky * y + phase);
                sinY[idx(y)] = std::sin(ky * y + phase);
            }
            for (int y = 0; y < height; ++y) {
                double *row = grey.data() + idx(y) * idx(width);
                for (std::size_t x = 0; x < idx(width); ++x) {
                    row[x] += w.amplitude * (cosX[x] * cosY[idx(y)] - sinX[x] * sinY[idx(y)]);
                }
            }
        }
        return grey;
    }

private:
    struct Wave {
        double kx, ky, phase, amplitude;
    };
    std::vector<Wave> waves_;
};

// Grey values as host pixels at `depth`, the colour channels unequal so that the weighting shows.
World worldOf(const std::vector<double> &grey, int width, int height, PixelDepth depth)
{
    World world(width, height, depth);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double v = grey[idx(y) * idx(width) + idx(x)];
            if (depth != PixelDepth::Float32) {
                v = std::clamp(v, 0.0, 1.0);
            }
            const double r = v * 0.9, g = v,
                         b = depth == PixelDepth::Float32 ? v * 1.1 : std::min(1.0, v * 1.1);
            if (depth == PixelDepth::Bits8) {
                auto *p = reinterpret_cast<PF_Pixel8 *>(world.row(y)) + x;
                *p = PF_Pixel8{255, static_cast<A_u_char>(std::lround(r * 255)),
                               static_cast<A_u_char>(std::lround(g * 255)),
                               static_cast<A_u_char>(std::lround(b * 255))};
            } else if (depth == PixelDepth::Bits16) {
                auto *p = reinterpret_cast<PF_Pixel16 *>(world.row(y)) + x;
                *p = PF_Pixel16{32768, static_cast<A_u_short>(std::lround(r * 32768)),
                                static_cast<A_u_short>(std::lround(g * 32768)),
                                static_cast<A_u_short>(std::lround(b * 32768))};
            } else {
                auto *p = reinterpret_cast<PF_PixelFloat *>(world.row(y)) + x;
                *p = PF_PixelFloat{1.0f, static_cast<float>(r), static_cast<float>(g),
                                   static_cast<float>(b)};
            }
        }
    }
    return world;
}

// The proxies of `frames` (grey values), through the probe as a run makes them.
std::vector<GreyProxy> proxiesOf(const std::vector<std::vector<double>> &frames, int width,
                                 int height, PixelDepth depth)
{
    MotionProbe probe(depth, width, height);
    std::vector<GreyProxy> proxies;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        World world = worldOf(frames[i], width, height, depth);
        probe.apply(static_cast<int>(i), PF_LRect{0, 0, width, height}, world.row(0),
                    world.rowStride());
        proxies.push_back(*probe.proxy(static_cast<int>(i)));
    }
    return proxies;
}

MotionMeasurement measure(const std::vector<GreyProxy> &proxies, std::size_t reference,
                          int threads = 2)
{
    std::vector<std::pair<int, const GreyProxy *>> frames;
    for (std::size_t i = 0; i < proxies.size(); ++i) {
        frames.emplace_back(static_cast<int>(i), &proxies[i]);
    }
    return measureMotion(frames, reference, threads);
}

struct ShiftCase {
    PixelDepth depth;
    int width, height;
};

class KnownShifts : public testing::TestWithParam<ShiftCase> {};

TEST_P(KnownShifts, AreRecoveredWithinASixthOfAPixel)
{
    const ShiftCase c = GetParam();
    const Texture texture(7);
    for (const auto &[dx, dy] : std::vector<std::pair<double, double>>{
             {0.3, 0.0}, {0.0, -0.7}, {0.7, 0.0}, {-2.5, 0.0}, {1.5, 2.0}}) {
        SCOPED_TRACE(testing::Message() << "shift " << dx << ", " << dy);
        const auto proxies = proxiesOf(
            {texture.frame(c.width, c.height, 0, 0), texture.frame(c.width, c.height, dx, dy)},
            c.width, c.height, c.depth);
        const MotionMeasurement m = measure(proxies, 0);
        ASSERT_TRUE(m.measured) << m.reason;
        EXPECT_NEAR(m.largestDisplacement, std::hypot(dx, dy), 0.15);
        EXPECT_EQ(m.largestFrame, 1);
        EXPECT_EQ(m.reference, 0);
        EXPECT_EQ(m.framesMeasured, 1);
        EXPECT_EQ(m.suggestedAlign(), std::hypot(dx, dy) > 0.5 ? "translation" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, KnownShifts,
                         testing::Values(ShiftCase{PixelDepth::Bits8, 256, 192},
                                         ShiftCase{PixelDepth::Bits16, 256, 192},
                                         ShiftCase{PixelDepth::Float32, 256, 192},
                                         // Proxies at a quarter and half the size.
                                         ShiftCase{PixelDepth::Bits8, 1280, 720},
                                         ShiftCase{PixelDepth::Float32, 960, 400}));

TEST(MotionEstimate, IdenticalFramesHoldStillWhateverTheThreads)
{
    const Texture texture(3);
    const auto still = texture.frame(256, 160, 0, 0);
    const auto proxies = proxiesOf({still, still, still, still}, 256, 160, PixelDepth::Bits8);
    const MotionMeasurement m = measure(proxies, 2);
    ASSERT_TRUE(m.measured) << m.reason;
    EXPECT_EQ(m.largestDisplacement, 0.0);
    EXPECT_FALSE(m.moves());
    EXPECT_EQ(m.suggestedAlign(), "");
    EXPECT_EQ(m.framesMeasured, 3);
    EXPECT_EQ(m.reference, 2);

    // A shaking clip: the same figures on one thread as on several.
    std::vector<std::vector<double>> shaking;
    for (int k = 0; k < 7; ++k) {
        shaking.push_back(texture.frame(256, 160, 0.4 * k - 1.1, 0.3 * (k % 3)));
    }
    const auto moving = proxiesOf(shaking, 256, 160, PixelDepth::Bits16);
    const MotionMeasurement one = measure(moving, 3, 1);
    const MotionMeasurement many = measure(moving, 3, 5);
    ASSERT_TRUE(one.measured);
    EXPECT_EQ(one.largestDisplacement, many.largestDisplacement);
    EXPECT_EQ(one.largestFrame, many.largestFrame);
    EXPECT_EQ(one.framesMeasured, 6);
    // Frame 0 against frame 3: (-1.2, -0) pixels; frame 6: (1.2, 0); frame 5 (0.8, 0.6) is 1.0.
    EXPECT_NEAR(one.largestDisplacement, 1.2, 0.15);
    EXPECT_EQ(one.suggestedAlign(), "translation");
}

TEST(MotionEstimate, ABrightObjectCrossingAThirdOfAStillFrameIsNoCameraMotion)
{
    const int width = 384, height = 216;
    const Texture background(11);
    const Texture object(12, 0.6);
    const auto still = background.frame(width, height, 0, 0);
    std::vector<std::vector<double>> frames;
    for (int k = 0; k < 5; ++k) {
        // Textured and bright, as wide as a third of the frame, moving 9 pixels a frame.
        const auto look = object.frame(width, height, 9.0 * k, 2.0 * k);
        std::vector<double> frame = still;
        const int left = 20 + 9 * k;
        for (int y = 0; y < height; ++y) {
            for (int x = left; x < left + width / 3 && x < width; ++x) {
                const std::size_t i = idx(y) * idx(width) + idx(x);
                frame[i] = std::min(1.0, 0.35 + look[i]);
            }
        }
        frames.push_back(frame);
    }
    const MotionMeasurement m = measure(proxiesOf(frames, width, height, PixelDepth::Bits8), 2);
    ASSERT_TRUE(m.measured) << m.reason;
    EXPECT_LT(m.largestDisplacement, 0.3);
    EXPECT_FALSE(m.moves());
    EXPECT_EQ(m.framesMeasured, 4);
}

TEST(MotionEstimate, GrainIsNeitherMotionNorTexture)
{
    const int width = 320, height = 200;
    std::mt19937 random(17);
    std::normal_distribution<double> grain(0.0, 0.02);
    const auto grainy = [&](std::vector<double> frame) {
        for (double &v : frame) {
            v += grain(random);
        }
        return frame;
    };
    // A still textured shot with fresh grain on every frame holds still.
    const Texture texture(21);
    const auto still = texture.frame(width, height, 0, 0);
    std::vector<std::vector<double>> shot;
    for (int k = 0; k < 5; ++k) {
        shot.push_back(grainy(still));
    }
    const MotionMeasurement m = measure(proxiesOf(shot, width, height, PixelDepth::Bits8), 2);
    ASSERT_TRUE(m.measured) << m.reason;
    EXPECT_LT(m.largestDisplacement, 0.15);
    EXPECT_FALSE(m.moves());

    // Grain over a flat grey: nothing to register, however much the grain has of a gradient.
    std::vector<std::vector<double>> flat;
    for (int k = 0; k < 5; ++k) {
        flat.push_back(grainy(std::vector<double>(idx(width * height), 0.5)));
    }
    const MotionMeasurement g = measure(proxiesOf(flat, width, height, PixelDepth::Bits16), 2);
    EXPECT_FALSE(g.moves()) << g.largestDisplacement;
    EXPECT_FALSE(g.measured);
}

TEST(MotionEstimate, ATurnOfADegreeAsksForASimilarity)
{
    const int width = 384, height = 256;
    const Texture texture(5);
    const auto proxies =
        proxiesOf({texture.frame(width, height, 0, 0), texture.frame(width, height, 0.2, 0, 1.0)},
                  width, height, PixelDepth::Bits8);
    const MotionMeasurement m = measure(proxies, 0);
    ASSERT_TRUE(m.measured) << m.reason;
    EXPECT_TRUE(m.tilesDisagree);
    EXPECT_EQ(m.suggestedAlign(), "similarity");
    // The corner tiles' centres lie 154 pixels from the centre: 2.7 pixels at a degree.
    EXPECT_GT(m.largestDisplacement, 2.0);
    EXPECT_LT(m.largestDisplacement, 3.5);
}

TEST(MotionEstimate, FlatFramesCannotBeMeasuredRatherThanPassingForStill)
{
    const std::vector<double> flat(idx(256 * 160), 0.4);
    const auto proxies = proxiesOf({flat, flat, flat}, 256, 160, PixelDepth::Bits8);
    const MotionMeasurement m = measure(proxies, 1);
    EXPECT_FALSE(m.measured);
    EXPECT_THAT(m.reason, HasSubstr("texture"));
    EXPECT_EQ(m.framesWithoutTexture, 2);
    EXPECT_EQ(m.suggestedAlign(), "");

    // A textured reference and a frame faded to flat: the flat one is not counted as still.
    const Texture texture(9);
    const auto faded =
        proxiesOf({texture.frame(256, 160, 0, 0), texture.frame(256, 160, 1, 0), flat}, 256, 160,
                  PixelDepth::Bits8);
    const MotionMeasurement f = measure(faded, 0);
    ASSERT_TRUE(f.measured);
    EXPECT_EQ(f.framesMeasured, 1);
    EXPECT_EQ(f.framesWithoutTexture, 1);
    EXPECT_NEAR(f.largestDisplacement, 1.0, 0.15);

    const MotionMeasurement one = measure({proxies[0]}, 0);
    EXPECT_FALSE(one.measured);
    EXPECT_FALSE(one.reason.empty());
}

TEST(MotionProbe, ReadsFramesWithoutChangingThemAndKeepsTheFirstProxy)
{
    const Texture texture(4);
    const int width = 200, height = 120;
    MotionProbe probe(PixelDepth::Float32, width, height);
    World world = worldOf(texture.frame(width, height, 0, 0), width, height, PixelDepth::Float32);
    // Samples that are not finite, and HDR values: the proxy stays usable around them.
    auto *row = reinterpret_cast<PF_PixelFloat *>(world.row(30));
    row[40].red = std::numeric_limits<float>::quiet_NaN();
    row[41].green = std::numeric_limits<float>::infinity();
    row[150].blue = 1e30f;
    const std::size_t rowBytes = idx(width) * sizeof(PF_PixelFloat);
    std::vector<unsigned char> before;
    for (int y = 0; y < height; ++y) {
        before.insert(before.end(), world.row(y), world.row(y) + rowBytes);
    }
    probe.apply(3, PF_LRect{0, 0, width, height}, world.row(0), world.rowStride());
    for (int y = 0; y < height; ++y) {
        ASSERT_EQ(std::memcmp(world.row(y), before.data() + idx(y) * rowBytes, rowBytes), 0);
    }
    const auto proxy = probe.proxy(3);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(proxy->width, width);
    EXPECT_TRUE(std::isnan(proxy->at(40, 30)));
    EXPECT_TRUE(std::isnan(proxy->at(41, 30)));
    EXPECT_TRUE(std::isfinite(proxy->at(150, 30)));
    EXPECT_LT(proxy->at(150, 30), 100.0f);
    EXPECT_FALSE(probe.proxy(4));

    // A frame read a second time (changed by a later stage, say) keeps its first proxy.
    World other = worldOf(texture.frame(width, height, 5, 0), width, height, PixelDepth::Float32);
    probe.apply(3, PF_LRect{0, 0, width, height}, other.row(0), other.rowStride());
    EXPECT_EQ(probe.proxy(3).get(), proxy.get());

    // A shifted frame with the bad samples still registers to it.
    World shifted =
        worldOf(texture.frame(width, height, 0.7, 0), width, height, PixelDepth::Float32);
    probe.apply(5, PF_LRect{0, 0, width, height}, shifted.row(0), shifted.rowStride());
    const MotionMeasurement m = measureMotion({{3, proxy.get()}, {5, probe.proxy(5).get()}}, 0, 1);
    ASSERT_TRUE(m.measured) << m.reason;
    EXPECT_NEAR(m.largestDisplacement, 0.7, 0.15);
    EXPECT_EQ(m.largestFrame, 5);
}

TEST(MotionProbe, RowsGivenBandByBandMakeTheProxyOfTheWholeFrame)
{
    const Texture texture(8);
    // Blocks of 1 and of 4 rows (the middle two read), at each depth.
    for (const auto &[width, height] : std::vector<std::pair<int, int>>{{90, 70}, {1000, 61}}) {
        for (const PixelDepth depth :
             {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
            SCOPED_TRACE(testing::Message()
                         << width << "x" << height << " depth " << static_cast<int>(depth));
            World world = worldOf(texture.frame(width, height, 0.3, 0), width, height, depth);
            MotionProbe whole(depth, width, height);
            whole.apply(0, PF_LRect{0, 0, width, height}, world.row(0), world.rowStride());
            MotionProbe rows(depth, width, height, ProbeReads::RowBands);
            EXPECT_FALSE(rows.wholeFrame());
            const auto band = [&](int top, int bottom) {
                rows.apply(0, PF_LRect{0, top, width, bottom}, world.row(top), world.rowStride());
            };
            // Bands that split blocks, a band read again, the bottom first, a part of a row.
            rows.apply(0, PF_LRect{3, 10, width, 20}, world.row(10), world.rowStride());
            band(40, height);
            band(0, 7);
            band(5, 9);
            EXPECT_FALSE(rows.proxy(0)) << "a proxy with rows not yet seen";
            band(9, 40);
            const auto made = rows.proxy(0);
            ASSERT_TRUE(made);
            const auto expected = whole.proxy(0);
            ASSERT_EQ(made->width, expected->width);
            ASSERT_EQ(made->height, expected->height);
            EXPECT_EQ(made->values, expected->values);
            band(0, height); // a frame read again keeps its proxy
            EXPECT_EQ(rows.proxy(0).get(), made.get());
        }
    }
}

TEST(MotionProbe, ProxiesAverageBlocksOfAScaleThatKeepsTheLongerSideUnder480)
{
    EXPECT_EQ(greyProxyScale(480, 270), 1);
    EXPECT_EQ(greyProxyScale(481, 100), 2);
    EXPECT_EQ(greyProxyScale(1920, 1080), 4);
    EXPECT_EQ(greyProxyScale(3840, 2160), 8);
    EXPECT_EQ(greyProxyScale(100, 2000), 8);
    // 8-bit blocks of 2 x 2: r + 2g + b over 4, the partial column at the right left out.
    World world(5, 2, PixelDepth::Bits8);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 5; ++x) {
            reinterpret_cast<PF_Pixel8 *>(world.row(y))[x] =
                PF_Pixel8{0, static_cast<A_u_char>(40 * x), 100, static_cast<A_u_char>(10 * y)};
        }
    }
    const GreyProxy proxy =
        makeGreyProxy(world.row(0), world.rowStride(), 5, 2, PixelDepth::Bits8, 2);
    ASSERT_EQ(proxy.width, 2);
    ASSERT_EQ(proxy.height, 1);
    EXPECT_FLOAT_EQ(proxy.at(0, 0), static_cast<float>((20 + 200 + 5) / 4.0 / 255.0));
    EXPECT_FLOAT_EQ(proxy.at(1, 0), static_cast<float>((100 + 200 + 5) / 4.0 / 255.0));
}

} // namespace
