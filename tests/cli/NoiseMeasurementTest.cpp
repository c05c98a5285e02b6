// The noise estimate behind `--divergence auto` on frames with known noise, and the slider value
// it becomes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "cli/footage/FrameRows.h"
#include "cli/footage/NoiseMeasurement.h"
#include "cli/plan/AutoSettings.h"
#include "runner/FrameSource.h"

using framemeld::cli::divergenceForNoise;
using framemeld::cli::estimateTemporalNoise;
using framemeld::cli::kAgreementFloorLevels;
using framemeld::cli::kAgreementSigmas;
using framemeld::cli::noiseSampleRows;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 128;
constexpr int kFrames = 10;

// A textured still, in full scale, away from the clipping ends.
double backgroundValue(int x, int y, int channel)
{
    return 0.5 + 0.3 * std::sin(x / 9.0 + channel) * std::cos(y / 7.0 - channel);
}

// An object far from the background wherever it is.
double objectValue(int x, int y, int channel)
{
    return channel == 1 ? 0.02 : 0.95 - 0.001 * ((x + y) % 7);
}

void store(World &world, int x, int y, const double rgb[3])
{
    switch (world.depth()) {
    case PixelDepth::Bits8: {
        auto &p = world.at<PF_Pixel8>(x, y);
        auto level = [](double v) {
            return static_cast<A_u_char>(std::clamp(std::lround(v * 255.0), 0L, 255L));
        };
        p = {255, level(rgb[0]), level(rgb[1]), level(rgb[2])};
        break;
    }
    case PixelDepth::Bits16: {
        auto &p = world.at<PF_Pixel16>(x, y);
        auto level = [](double v) {
            return static_cast<A_u_short>(std::clamp(std::lround(v * 32768.0), 0L, 32768L));
        };
        p = {32768, level(rgb[0]), level(rgb[1]), level(rgb[2])};
        break;
    }
    case PixelDepth::Float32: {
        auto &p = world.at<PF_PixelFloat>(x, y);
        p = {1.0f, static_cast<float>(rgb[0]), static_cast<float>(rgb[1]),
             static_cast<float>(rgb[2])};
        break;
    }
    }
}

// Frames of the background with Gaussian noise of `sigma` (full scale); where `covered` says so,
// an object instead, with the same noise.
template <class Covered>
std::vector<World> clip(PixelDepth depth, double sigma, Covered covered, unsigned seed = 7)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, sigma > 0.0 ? sigma : 1.0);
    std::vector<World> frames;
    for (int t = 0; t < kFrames; ++t) {
        World frame(kWidth, kHeight, depth);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                double rgb[3];
                for (int c = 0; c < 3; ++c) {
                    const double clean =
                        covered(t, x, y) ? objectValue(x, y, c) : backgroundValue(x, y, c);
                    rgb[c] = clean + (sigma > 0.0 ? noise(random) : 0.0);
                }
                store(frame, x, y, rgb);
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::vector<World> stillClip(PixelDepth depth, double sigma)
{
    return clip(depth, sigma, [](int, int, int) { return false; });
}

// Frames held as worlds, read a row of every frame at a time; notes the rows it was asked for.
class WorldRows final : public framemeld::cli::FrameRows {
public:
    explicit WorldRows(const std::vector<World> &frames) : frames_(frames) {}

    int width() const override { return frames_.front().width(); }
    int height() const override { return frames_.front().height(); }
    PixelDepth depth() const override { return frames_.front().depth(); }
    void gatherRow(int row, const std::vector<int> &frames, World &into) override
    {
        rowsRead.insert(row);
        const std::size_t bytes =
            static_cast<std::size_t>(width()) * framemeld::runner::bytesPerPixel(depth());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            std::memcpy(into.row(static_cast<int>(i)),
                        frames_.at(static_cast<std::size_t>(frames[i])).row(row), bytes);
        }
    }

    std::set<int> rowsRead;

private:
    const std::vector<World> &frames_;
};

std::vector<int> inOrder(const std::vector<World> &frames)
{
    std::vector<int> order(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        order[i] = static_cast<int>(i);
    }
    return order;
}

framemeld::cli::NoiseEstimate estimate(const std::vector<World> &frames)
{
    WorldRows rows(frames);
    return estimateTemporalNoise(rows, inOrder(frames));
}

double estimatedLevels(const std::vector<World> &frames)
{
    return estimate(frames).sigma * 255.0;
}

// Known noise is found within 5 % at 16 bits and in float, and within 10 % at 8 bits (where
// rounding to whole levels adds noise of its own), from half a level to six levels of 255.
TEST(AutoDivergence, EstimateFindsKnownNoiseAtEachDepth)
{
    struct Case {
        PixelDepth depth;
        double levels;
        double low;  // the least share of the true sigma accepted
        double high; // the largest
    };
    for (const Case &c :
         {Case{PixelDepth::Bits8, 1.0, 0.9, 1.1}, Case{PixelDepth::Bits8, 3.0, 0.9, 1.1},
          Case{PixelDepth::Bits8, 6.0, 0.9, 1.1}, Case{PixelDepth::Bits16, 0.5, 0.95, 1.05},
          Case{PixelDepth::Bits16, 3.0, 0.95, 1.05}, Case{PixelDepth::Float32, 0.5, 0.95, 1.05},
          Case{PixelDepth::Float32, 6.0, 0.95, 1.05}}) {
        SCOPED_TRACE(::testing::Message() << "depth " << framemeld::runner::bitsPerChannel(c.depth)
                                          << ", sigma " << c.levels << " levels");
        const double found = estimatedLevels(stillClip(c.depth, c.levels / 255.0));
        EXPECT_GE(found, c.levels * c.low);
        EXPECT_LE(found, c.levels * c.high);
    }
}

// An object as wide as half the frame, sweeping across it slowly or fast, changes a few
// differences at its edges, which moves the median by no more than 15 %.
TEST(AutoDivergence, MovingObjectsDoNotInflateTheEstimate)
{
    const double sigma = 2.0 / 255.0;
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Float32}) {
        const double clean = estimatedLevels(stillClip(depth, sigma));
        for (const int speed : {4, 12}) {
            SCOPED_TRACE(::testing::Message() << "speed " << speed << " pixels per frame");
            const double withObject =
                estimatedLevels(clip(depth, sigma, [speed](int t, int x, int) {
                    const int left = t * speed;
                    return x >= left && x < left + kWidth / 2;
                }));
            EXPECT_NEAR(withObject, clean, clean * 0.15);
        }
    }
}

TEST(AutoDivergence, IdenticalFramesGiveTheNarrowestTolerance)
{
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        const auto estimate = ::estimate(stillClip(depth, 0.0));
        EXPECT_EQ(estimate.sigma, 0.0);
        EXPECT_EQ(estimate.differences, 3LL * kWidth * kHeight * (kFrames - 1));
        // The narrowest value the rule gives: any noise at all widens it.
        const double divergence = divergenceForNoise(estimate.sigma, depth);
        EXPECT_EQ(divergence, divergenceForNoise(0.0, depth));
        for (const double sigma : {0.5 / 255.0, 1.0 / 255.0, 5.0 / 255.0}) {
            EXPECT_GE(divergenceForNoise(sigma, depth), divergence);
        }
        EXPECT_GT(divergenceForNoise(1.0 / 255.0, depth), divergence);
    }
}

TEST(AutoDivergence, EstimateNeedsTwoFramesOfOneKind)
{
    const auto frames = stillClip(PixelDepth::Bits8, 0.01);
    WorldRows rows(frames);
    EXPECT_EQ(estimateTemporalNoise(rows, {0}).differences, 0);
    EXPECT_EQ(estimateTemporalNoise(rows, {}).sigma, 0.0);
    EXPECT_TRUE(rows.rowsRead.empty()) << "nothing to compare, nothing read";
}

// Frames large enough that the estimate skips rows: the rows it reads (odd ones) are noisy and
// the others still, so an estimate from the wrong rows reads as noiseless. It reads exactly the
// sampled rows, in any sampled order, frames repeated or not.
TEST(AutoDivergence, TheEstimateReadsTheSampledRowsOfEveryFrame)
{
    constexpr int width = 640;
    constexpr int height = 256;
    ASSERT_EQ(noiseSampleRows(width, height).front(), 1) << "the frame must skip rows";
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        SCOPED_TRACE(::testing::Message() << framemeld::runner::bitsPerChannel(depth) << " bits");
        std::mt19937 random(11);
        std::normal_distribution<double> noise(0.0, 2.0 / 255.0);
        std::vector<World> frames;
        for (int t = 0; t < 4; ++t) {
            World &frame = frames.emplace_back(width, height, depth);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    double rgb[3];
                    for (int c = 0; c < 3; ++c) {
                        rgb[c] = backgroundValue(x, y, c) + (y % 2 == 1 ? noise(random) : 0.0);
                    }
                    store(frame, x, y, rgb);
                }
            }
        }
        WorldRows rows(frames);
        const auto sampledOrder = estimateTemporalNoise(rows, {0, 2, 1, 2, 3});
        EXPECT_GT(sampledOrder.sigma * 255.0, 1.5);
        const std::vector<int> sampled = noiseSampleRows(width, height);
        EXPECT_EQ(rows.rowsRead, std::set<int>(sampled.begin(), sampled.end()));
        EXPECT_EQ(sampledOrder.differences, static_cast<long long>(4 * 3 * sampled.size()) * width);
    }
}

// The value is one the host's slider holds, so setting the slider to it gives the same plate.
TEST(AutoDivergence, DivergenceIsWholeLevelsAt8BitsAndHundredthsElsewhere)
{
    for (double levels = 0.0; levels < 20.0; levels += 0.37) {
        const double sigma = levels / 255.0;
        const double eight = divergenceForNoise(sigma, PixelDepth::Bits8);
        EXPECT_EQ(eight, std::floor(eight));
        // Differences strictly below the Divergence agree, so the widest agreeing difference,
        // one level less, lies within half a level of the wanted tolerance.
        const double wanted = kAgreementSigmas * levels + kAgreementFloorLevels;
        EXPECT_LE(std::fabs(eight - 1.0 - wanted), 0.5);

        const double sixteen = divergenceForNoise(sigma, PixelDepth::Bits16);
        EXPECT_EQ(sixteen, divergenceForNoise(sigma, PixelDepth::Float32));
        EXPECT_NEAR(sixteen * 100.0, std::round(sixteen * 100.0), 1e-9);
        // Hundredths of full scale: within half a step of the tolerance.
        EXPECT_NEAR(sixteen, wanted / 255.0 * 100.0, 0.005 + 1e-12);
    }
    // No noise reads as none; the slider's top is the limit.
    EXPECT_EQ(divergenceForNoise(-1.0, PixelDepth::Bits8),
              divergenceForNoise(0.0, PixelDepth::Bits8));
    EXPECT_EQ(divergenceForNoise(10.0, PixelDepth::Bits8), 100.0);
    EXPECT_EQ(divergenceForNoise(10.0, PixelDepth::Float32), 100.0);
}

} // namespace
