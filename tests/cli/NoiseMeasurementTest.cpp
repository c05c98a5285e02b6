// The temporal noise measure behind `--divergence auto`: known Gaussian noise at each depth past
// moving objects, the noise H.264 leaves in a clip it encoded, the same figure however sparsely
// the clip is sampled and on however many threads, and only the grid's rows read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "cli/footage/FrameRows.h"
#include "cli/footage/NoiseMeasurement.h"
#include "cli/plan/AutoSettings.h"

using framemeld::cli::automaticDivergence;
using framemeld::cli::estimateTemporalNoise;
using framemeld::cli::NoiseEstimate;
using framemeld::cli::noiseSampleRows;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
namespace test = framemeld::cli::test;

namespace {

// A textured still in full scale, away from the clipping ends, with fine detail for a codec to
// get wrong.
double backgroundValue(int x, int y, int channel)
{
    return 0.45 + 0.2 * std::sin(x / 9.0 + channel) * std::cos(y / 7.0 - channel) +
           0.05 * std::sin(x / 2.1) * std::sin(y / 2.9);
}

void store(World &world, int x, int y, int channel, double value)
{
    switch (world.depth()) {
    case PixelDepth::Bits8: {
        auto &p = world.at<PF_Pixel8>(x, y);
        const auto level = static_cast<A_u_char>(std::clamp(std::lround(value * 255.0), 0L, 255L));
        p.alpha = 255;
        (channel == 0 ? p.red : channel == 1 ? p.green : p.blue) = level;
        break;
    }
    case PixelDepth::Bits16: {
        auto &p = world.at<PF_Pixel16>(x, y);
        const auto level =
            static_cast<A_u_short>(std::clamp(std::lround(value * 32768.0), 0L, 32768L));
        p.alpha = 32768;
        (channel == 0 ? p.red : channel == 1 ? p.green : p.blue) = level;
        break;
    }
    case PixelDepth::Float32: {
        auto &p = world.at<PF_PixelFloat>(x, y);
        p.alpha = 1.0f;
        (channel == 0 ? p.red : channel == 1 ? p.green : p.blue) = static_cast<float>(value);
        break;
    }
    }
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

std::vector<int> everyNth(int count, int every)
{
    std::vector<int> order;
    for (int f = 0; f < count; f += every) {
        order.push_back(f);
    }
    return order;
}

NoiseEstimate measure(const std::vector<World> &frames, int every = 1, int threads = 1)
{
    WorldRows rows(frames);
    return estimateTemporalNoise(rows, everyNth(static_cast<int>(frames.size()), every), threads);
}

// Frames of the background with Gaussian noise of `levels` (of 255); a block far from the
// background crosses it, covering each place it passes in about a sixth of the frames.
std::vector<World> noisyClip(PixelDepth depth, double levels, int width, int height, int count,
                             bool crossing, unsigned seed = 5)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> grain(0.0, levels / 255.0);
    std::vector<World> frames;
    for (int t = 0; t < count; ++t) {
        World frame(width, height, depth);
        const int left = (t * width / 6) % width;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool block = crossing && x >= left && x < left + width / 6 && y > height / 5;
                for (int c = 0; c < 3; ++c) {
                    const double clean = block ? (c == 1 ? 0.05 : 0.9) : backgroundValue(x, y, c);
                    store(frame, x, y, c, clean + (levels > 0.0 ? grain(random) : 0.0));
                }
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

TEST(NoiseMeasurement, FindsGaussianNoiseAtEachDepthPastMovingObjects)
{
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
        for (const double levels : {0.7, 2.0, 6.0}) {
            SCOPED_TRACE(levels);
            const auto frames = noisyClip(depth, levels, 128, 96, 24, true);
            const NoiseEstimate noise = measure(frames);
            // At 8 bits the figure also holds the rounding of the samples and of each place's
            // median, a twelfth of a level squared each (the rule was fitted with it in).
            const double stored =
                depth == PixelDepth::Bits8 ? std::sqrt(levels * levels + 2.0 / 12.0) : levels;
            EXPECT_NEAR(noise.sigma * 255.0, stored, 0.06 * stored);
            // Every sample of every grid place but the middle one.
            EXPECT_EQ(noise.deviations, 128LL * 96 * 3 * 23);
        }
        // A still clip without noise is noiseless however many objects cross it.
        EXPECT_EQ(measure(noisyClip(depth, 0.0, 128, 96, 24, true)).sigma, 0.0);
    }
}

TEST(NoiseMeasurement, NeedsTwoFramesAndSkipsNaNSamples)
{
    auto frames = noisyClip(PixelDepth::Float32, 2.0, 64, 32, 12, false);
    WorldRows rows(frames);
    const NoiseEstimate one = estimateTemporalNoise(rows, {3});
    EXPECT_EQ(one.deviations, 0);
    EXPECT_EQ(one.sigma, 0.0);
    EXPECT_TRUE(rows.rowsRead.empty()) << "nothing to compare, nothing read";

    const NoiseEstimate clean = measure(frames);
    // A NaN says nothing about noise (the engine lets it agree with anything); an infinity is
    // as far from the background as anything can be, and the cut keeps it out.
    frames[4].at<PF_PixelFloat>(10, 10).red = std::numeric_limits<float>::quiet_NaN();
    frames[5].at<PF_PixelFloat>(11, 10).green = std::numeric_limits<float>::infinity();
    const NoiseEstimate spoilt = measure(frames);
    EXPECT_EQ(spoilt.deviations, clean.deviations - 1);
    EXPECT_TRUE(std::isfinite(spoilt.sigma));
    EXPECT_NEAR(spoilt.sigma, clean.sigma, 0.01 * clean.sigma);
}

// Frames large enough that the estimate skips rows: the rows it reads are noisy and the others
// still, so an estimate from the wrong rows reads as noiseless. It reads exactly the sampled
// rows, in any sampled order, frames repeated or not.
TEST(NoiseMeasurement, ReadsTheSampledRowsOfEveryFrame)
{
    constexpr int width = 640;
    constexpr int height = 256;
    const std::vector<int> sampled = noiseSampleRows(width, height);
    const std::set<int> sampledSet(sampled.begin(), sampled.end());
    ASSERT_LT(sampled.size(), std::size_t{height} / 2) << "the frame must skip rows";
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
        std::mt19937 random(11);
        std::normal_distribution<double> noise(0.0, 2.0 / 255.0);
        std::vector<World> frames;
        for (int t = 0; t < 4; ++t) {
            World &frame = frames.emplace_back(width, height, depth);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        store(frame, x, y, c,
                              backgroundValue(x, y, c) +
                                  (sampledSet.count(y) != 0 ? noise(random) : 0.0));
                    }
                }
            }
        }
        WorldRows rows(frames);
        const NoiseEstimate sampledOrder = estimateTemporalNoise(rows, {0, 2, 1, 2, 3});
        EXPECT_GT(sampledOrder.sigma * 255.0, 1.5);
        EXPECT_EQ(rows.rowsRead, sampledSet);
        EXPECT_EQ(sampledOrder.deviations, static_cast<long long>(4 * 3 * sampled.size()) * width);
    }
}

// The rows are measured side by side and pooled in integers: the figure is the same to the last
// bit on any number of threads, fewer or more than there are rows.
TEST(NoiseMeasurement, TheFigureIsTheSameOnAnyNumberOfThreads)
{
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
        const auto frames = noisyClip(depth, 2.5, 300, 240, 17, true, 9);
        ASSERT_GT(noiseSampleRows(300, 240).size(), 3u);
        const NoiseEstimate one = measure(frames, 1, 1);
        ASSERT_GT(one.sigma, 0.0);
        for (const int threads : {2, 3, 64}) {
            const NoiseEstimate many = measure(frames, 1, threads);
            EXPECT_EQ(many.sigma, one.sigma) << threads << " threads";
            EXPECT_EQ(many.deviations, one.deviations) << threads << " threads";
        }
    }
}

// ---- H.264 ----------------------------------------------------------------------------------

constexpr int kMovieWidth = 192;
constexpr int kMovieHeight = 108;

std::vector<std::uint8_t> readWhole(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `frames` (8-bit) through libx264 at `crf` and back, decoded by FFmpeg to 8-bit RGB; empty when
// FFmpeg or its H.264 encoder is missing.
std::vector<World> throughH264(const std::vector<World> &frames, int crf)
{
    test::TempDir dir;
    {
        std::ofstream raw(dir.file("in.rgb"), std::ios::binary);
        for (const World &frame : frames) {
            for (int y = 0; y < frame.height(); ++y) {
                for (int x = 0; x < frame.width(); ++x) {
                    const PF_Pixel8 &p = frame.at<PF_Pixel8>(x, y);
                    const char rgb[3] = {static_cast<char>(p.red), static_cast<char>(p.green),
                                         static_cast<char>(p.blue)};
                    raw.write(rgb, 3);
                }
            }
        }
    }
    const std::string size = std::to_string(kMovieWidth) + "x" + std::to_string(kMovieHeight);
    const auto encoded = test::runProgram({"ffmpeg",   "-nostdin", "-loglevel",
                                           "error",    "-y",       "-f",
                                           "rawvideo", "-pix_fmt", "rgb24",
                                           "-s",       size,       "-r",
                                           "25",       "-i",       dir.file("in.rgb"),
                                           "-c:v",     "libx264",  "-preset",
                                           "medium",   "-crf",     std::to_string(crf),
                                           "-pix_fmt", "yuv420p",  dir.file("clip.mp4")});
    if (encoded.exitStatus != 0) {
        return {};
    }
    const auto decoded = test::runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i",
                                           dir.file("clip.mp4"), "-f", "rawvideo", "-pix_fmt",
                                           "rgb24", dir.file("out.rgb")});
    EXPECT_EQ(decoded.exitStatus, 0) << decoded.output;
    const std::vector<std::uint8_t> bytes = readWhole(dir.file("out.rgb"));
    const std::size_t frameBytes = static_cast<std::size_t>(kMovieWidth) * kMovieHeight * 3;
    EXPECT_EQ(bytes.size(), frameBytes * frames.size());
    std::vector<World> result;
    for (std::size_t f = 0; f < bytes.size() / frameBytes; ++f) {
        World frame(kMovieWidth, kMovieHeight, PixelDepth::Bits8);
        const std::uint8_t *src = bytes.data() + f * frameBytes;
        for (int y = 0; y < kMovieHeight; ++y) {
            for (int x = 0; x < kMovieWidth; ++x, src += 3) {
                frame.at<PF_Pixel8>(x, y) = {255, src[0], src[1], src[2]};
            }
        }
        result.push_back(std::move(frame));
    }
    return result;
}

// The noise the encoder left in a clip of a still scene: each place's temporal standard
// deviation about its own mean (Bessel-corrected), root mean square over places and channels,
// in levels of 255. What a compositor would call the clip's temporal noise.
double noiseLeftInStillClip(const std::vector<World> &frames)
{
    const double n = static_cast<double>(frames.size());
    double sumOfVariances = 0.0;
    for (int y = 0; y < kMovieHeight; ++y) {
        for (int x = 0; x < kMovieWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0.0;
                double squares = 0.0;
                for (const World &frame : frames) {
                    const PF_Pixel8 &p = frame.at<PF_Pixel8>(x, y);
                    const double v = c == 0 ? p.red : c == 1 ? p.green : p.blue;
                    sum += v;
                    squares += v * v;
                }
                sumOfVariances += (squares - sum * sum / n) / (n - 1.0);
            }
        }
    }
    return std::sqrt(sumOfVariances / (kMovieWidth * kMovieHeight * 3.0));
}

// Within 20 % of the noise the encoder left, at three qualities.
TEST(NoiseMeasurement, ReadsTheNoiseH264LeftInAStillClip)
{
    if (!test::haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg makes the movies";
    }
    // The consecutive-difference estimate this replaced read 0 on every one of these: the codec
    // copies most blocks unchanged from frame to frame.
    const auto clean = noisyClip(PixelDepth::Bits8, 1.5, kMovieWidth, kMovieHeight, 48, false);
    for (const int crf : {18, 26, 34}) {
        SCOPED_TRACE("crf " + std::to_string(crf));
        const std::vector<World> movie = throughH264(clean, crf);
        if (movie.empty()) {
            GTEST_SKIP() << "ffmpeg has no H.264 encoder";
        }
        const double left = noiseLeftInStillClip(movie);
        ASSERT_GT(left, 0.1) << "the codec left no noise to find";
        EXPECT_NEAR(measure(movie).sigma * 255.0, left, 0.2 * left);
    }
}

TEST(NoiseMeasurement, SparserSamplingOfACompressedClipGivesTheSameDivergence)
{
    if (!test::haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg makes the movies";
    }
    const auto clip = noisyClip(PixelDepth::Bits8, 1.0, kMovieWidth, kMovieHeight, 64, true);
    for (const int crf : {18, 26}) {
        SCOPED_TRACE("crf " + std::to_string(crf));
        const std::vector<World> movie = throughH264(clip, crf);
        if (movie.empty()) {
            GTEST_SKIP() << "ffmpeg has no H.264 encoder";
        }
        const double everyFrame = measure(movie).sigma;
        ASSERT_GT(everyFrame, 0.0);
        const double divergence = automaticDivergence(everyFrame, PixelDepth::Bits8);
        // Every 4th of 64 frames is the sparsest sampling of 16 frames or more.
        for (const int every : {2, 3, 4}) {
            SCOPED_TRACE("every " + std::to_string(every));
            const double sparse = measure(movie, every).sigma;
            EXPECT_NEAR(sparse, everyFrame, 0.15 * everyFrame);
            EXPECT_NEAR(automaticDivergence(sparse, PixelDepth::Bits8), divergence, 1.0);
        }
    }
}

} // namespace
