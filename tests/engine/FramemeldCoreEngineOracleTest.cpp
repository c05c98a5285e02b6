// The engine against the step-by-step oracle, bit for bit, on many generated strings of every
// kind, over the tolerances and rating ranges where off-by-one and rounding faults hide.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ConsensusOracle.h"
#include "EngineHarness.h"
#include "SampleStrings.h"
#include "engine/ConsensusPass.h"
#include "engine/RatingKernels.h"

namespace {

using framemeld::enginetest::parameterFor;
using framemeld::samples::Generator;
using framemeld::samples::Kind;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

template <typename T> struct Depth;

template <> struct Depth<unsigned char> {
    static constexpr int kBitDepth = 0;
    // Around the integer boundaries, the slider's ends, and values only a damaged project holds.
    static std::vector<float> divergences()
    {
        return {0.0f, 1.0f, 2.0f, 2.9f, 3.0f, 10.0f, 100.0f, -1.0f, 300.0f, kNaN, kInfinity};
    }
    static double tolerance(float divergence)
    {
        return framemeld::oracle::saturatedByte(static_cast<double>(divergence));
    }
};

template <> struct Depth<float> {
    static constexpr int kBitDepth = 2;
    static std::vector<float> divergences()
    {
        return {0.0f, 0.5f, 2.0f, 2.1f, 2.9f, 3.0f, 10.0f, 100.0f, -1.0f, kNaN, kInfinity};
    }
    static double tolerance(float divergence)
    {
        return static_cast<double>(static_cast<float>(static_cast<double>(divergence) * 0.01));
    }
};

std::string componentText(unsigned char value)
{
    return std::to_string(value);
}
std::string componentText(float value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

template <typename T> std::string pixelText(const Pixel<T> &pixel)
{
    return "(" + componentText(pixel.red) + ", " + componentText(pixel.green) + ", " +
           componentText(pixel.blue) + ", " + componentText(pixel.alpha) + ")";
}

// Compares one string under one parameter record; returns false and reports on any difference.
// run(parameter, string, out) computes the consensus, through the engine or a chosen kernel set.
template <typename T, typename Run>
bool matchesOracle(Run run, const FramemeldParameter &parameter,
                   const std::vector<Pixel<T>> &samples, const char *kind)
{
    PixelString<Pixel<T>> string(5, 6, parameter.frameCount);
    framemeld::enginetest::fillString(string, samples);
    FramemeldParameter given = parameter;
    Pixel<T> out;
    std::memset(&out, 0xA5, sizeof out);
    run(given, string, out);

    std::vector<float> ratings;
    const Pixel<T> expected =
        framemeld::oracle::consensusPixel(samples.data(), parameter, &ratings);

    std::ostringstream fault;
    if (!framemeld::enginetest::sameResult(out, expected)) {
        fault << "result " << pixelText(out) << ", oracle " << pixelText(expected) << "\n";
    }
    if (std::memcmp(&given, &parameter, sizeof parameter) != 0) {
        fault << "the parameter record was changed\n";
    }
    for (int k = 0; k < string.length; ++k) {
        if (!framemeld::enginetest::sameBits(string[k], samples[static_cast<std::size_t>(k)])) {
            fault << "sample " << k << " was changed\n";
        }
    }
    if (fault.str().empty()) {
        return true;
    }
    fault << kind << " string of " << parameter.frameCount << ", divergence "
          << parameter.divergence << ", rating range " << parameter.ratingRange << "\n";
    for (std::size_t k = 0; k < samples.size(); ++k) {
        fault << "  " << k << ": " << pixelText(samples[k]) << " rated " << ratings[k] << "\n";
    }
    ADD_FAILURE() << fault.str();
    return false;
}

std::vector<float> ratingRangesFor(int n)
{
    // Above the highest possible rating as well, where the plain mean results.
    return {0.0f, 0.1f, 1.0f, 1.5f, 2.0f, static_cast<float>(n) + 1.0f, kNaN};
}

template <typename T> auto throughProcess(FramemeldEngine<Pixel<T>> &engine)
{
    return [&engine](FramemeldParameter &parameter, PixelString<Pixel<T>> &string, Pixel<T> &out) {
        engine.process(&parameter, &string, &out);
    };
}

template <typename T> void compareEveryKindAndLength(std::uint32_t seed)
{
    auto engine = framemeld::enginetest::makeEngine<T>();
    Generator<T> generator(seed);
    int failures = 0;
    for (int n = 0; n <= 64; ++n) {
        for (Kind kind : framemeld::samples::kAllKinds) {
            for (float divergence : Depth<T>::divergences()) {
                const auto samples = generator.make(kind, n, Depth<T>::tolerance(divergence));
                for (float range : ratingRangesFor(n)) {
                    const FramemeldParameter parameter =
                        parameterFor(Depth<T>::kBitDepth, divergence, range, n);
                    if (!matchesOracle(throughProcess(*engine), parameter, samples,
                                       framemeld::samples::kindName(kind)) &&
                        ++failures == 3) {
                        return;
                    }
                }
            }
        }
    }
}

template <typename T> void compareLongStrings(std::uint32_t seed)
{
    auto engine = framemeld::enginetest::makeEngine<T>();
    Generator<T> generator(seed);
    for (int n : {100, 257, 1000, 2000}) {
        for (Kind kind : {Kind::Footage, Kind::TiedGroups, Kind::Extremes, Kind::NarrowNoise}) {
            // Each pair test costs the same whatever the range, so the long strings take one range
            // each.
            for (auto [divergence, range] : {std::pair<float, float>{2.0f, 1.0f}, {3.0f, 1.5f}}) {
                const auto samples = generator.make(kind, n, Depth<T>::tolerance(divergence));
                const FramemeldParameter parameter =
                    parameterFor(Depth<T>::kBitDepth, divergence, range, n);
                if (!matchesOracle(throughProcess(*engine), parameter, samples,
                                   framemeld::samples::kindName(kind))) {
                    return;
                }
            }
        }
    }
}

TEST(FramemeldCoreEngineOracle, EightBitMatchesOnShortStringsOfEveryLength)
{
    compareEveryKindAndLength<unsigned char>(20260801u);
}
TEST(FramemeldCoreEngineOracle, FloatMatchesOnShortStringsOfEveryLength)
{
    compareEveryKindAndLength<float>(20260802u);
}
TEST(FramemeldCoreEngineOracle, EightBitMatchesOnLongStrings)
{
    compareLongStrings<unsigned char>(20260803u);
}
TEST(FramemeldCoreEngineOracle, FloatMatchesOnLongStrings)
{
    compareLongStrings<float>(20260804u);
}

// The engine runs the fastest rating kernels of the processor; every other set it could fall
// back to must give the same pixels, through the selection and the mean as well.
template <typename T> void compareEveryKernelSet(std::uint32_t seed)
{
    using framemeld::rating::Isa;
    for (Isa isa : {Isa::Portable, Isa::Sse2, Isa::Avx2}) {
        const framemeld::rating::RatingKernels *kernels = framemeld::rating::kernelsFor(isa);
        if (kernels == nullptr) {
            continue;
        }
        auto run = [kernels](FramemeldParameter &parameter, PixelString<Pixel<T>> &string,
                             Pixel<T> &out) {
            out = framemeld::consensus::consensusOf(*kernels, parameter, string);
        };
        Generator<T> generator(seed);
        for (int n = 0; n <= 70; ++n) {
            for (Kind kind : framemeld::samples::kAllKinds) {
                for (float divergence : {0.0f, 2.0f, 3.0f, 10.0f, kNaN}) {
                    const auto samples = generator.make(kind, n, Depth<T>::tolerance(divergence));
                    for (float range : {1.0f, 1.5f, static_cast<float>(n) + 1.0f}) {
                        const FramemeldParameter parameter =
                            parameterFor(Depth<T>::kBitDepth, divergence, range, n);
                        if (!matchesOracle<T>(run, parameter, samples, kernels->name)) {
                            return;
                        }
                    }
                }
            }
        }
    }
}

TEST(FramemeldCoreEngineOracle, EveryKernelSetGivesTheSameEightBitPixels)
{
    compareEveryKernelSet<unsigned char>(20260806u);
}
TEST(FramemeldCoreEngineOracle, EveryKernelSetGivesTheSameFloatPixels)
{
    compareEveryKernelSet<float>(20260807u);
}

// With more than 65793 bytes selected, 255 n no longer fits the float mantissa: the float sums in
// index order lose low bits, and the mean must show exactly that loss, as an exact integer sum
// would not.
TEST(FramemeldCoreEngineOracle, EightBitMeanOfVeryLongStringsKeepsFloatSummation)
{
    // The exact mean is 240 in red and green; the float sums lose enough to give 239.
    constexpr int kCount = 70000;
    constexpr int kBright = 65800;
    std::vector<Pixel<unsigned char>> samples;
    for (int k = 0; k < kCount; ++k) {
        samples.push_back(k < kBright ? Pixel<unsigned char>{255, 255, 255, 255}
                                      : Pixel<unsigned char>{5, 5, 0, 255});
    }
    ASSERT_EQ((kBright * 255 + (kCount - kBright) * 5) % kCount, 0);

    // Divergence 0: no pair agrees, every rating is 1 and all samples are averaged, so the rule's
    // result is the running float sum of each component over the count.
    float sums[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (const Pixel<unsigned char> &sample : samples) {
        sums[0] += static_cast<float>(sample.red);
        sums[1] += static_cast<float>(sample.green);
        sums[2] += static_cast<float>(sample.blue);
        sums[3] += static_cast<float>(sample.alpha);
    }
    unsigned char expected[4];
    for (int c = 0; c < 4; ++c) {
        expected[c] = static_cast<unsigned char>(sums[c] / static_cast<float>(kCount));
    }
    ASSERT_EQ(expected[0], 239) << "the data no longer shows the rounding";

    auto engine = framemeld::enginetest::makeEngine<unsigned char>();
    const Pixel<unsigned char> result =
        framemeld::enginetest::runEngine(*engine, parameterFor(0, 0.0f, 1.0f, 0), samples);
    EXPECT_EQ(result.red, expected[0]);
    EXPECT_EQ(result.green, expected[1]);
    EXPECT_EQ(result.blue, expected[2]);
    EXPECT_EQ(result.alpha, expected[3]);
}

// The render calls one engine with one parameter record from many host threads at once.
TEST(FramemeldCoreEngineOracle, OneEngineServesManyThreadsAtOnce)
{
    constexpr int kThreads = 4;
    constexpr int kStringsPerThread = 150;
    const FramemeldParameter parameter = parameterFor(2, 2.0f, 1.0f, 48);
    Generator<float> generator(20260805u);
    std::vector<std::vector<Pixel<float>>> strings;
    std::vector<Pixel<float>> expected;
    for (int k = 0; k < kThreads * kStringsPerThread; ++k) {
        strings.push_back(generator.make(k % 2 == 0 ? Kind::Footage : Kind::Extremes,
                                         parameter.frameCount, 0.02));
        expected.push_back(framemeld::oracle::consensusPixel(strings.back().data(), parameter));
    }

    auto engine = framemeld::enginetest::makeEngine<float>();
    FramemeldParameter shared = parameter;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            PixelString<Pixel<float>> string(0, t, shared.frameCount);
            for (int s = t * kStringsPerThread; s < (t + 1) * kStringsPerThread; ++s) {
                framemeld::enginetest::fillString(string, strings[static_cast<std::size_t>(s)]);
                Pixel<float> out{};
                engine->process(&shared, &string, &out);
                if (!framemeld::enginetest::sameResult(out,
                                                       expected[static_cast<std::size_t>(s)])) {
                    ++mismatches[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread &worker : workers) {
        worker.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[static_cast<std::size_t>(t)], 0) << "thread " << t;
    }
}

} // namespace
