// Every rating kernel this processor can run, against the step-by-step oracle's ratings: lengths
// on both sides of every vector width, the tail blocks, padding that would agree if it were
// counted, and counts large enough to make the narrow lane counters wrap if they were not
// emptied in time.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ConsensusOracle.h"
#include "EngineHarness.h"
#include "SampleStrings.h"
#include "engine/CpuFeatures.h"
#include "engine/RatingKernels.h"

namespace {

using framemeld::rating::Isa;
using framemeld::rating::RatingKernels;
using framemeld::samples::Generator;
using framemeld::samples::Kind;

std::vector<const RatingKernels *> availableKernels()
{
    std::vector<const RatingKernels *> kernels;
    for (Isa isa : {Isa::Portable, Isa::Sse2, Isa::Avx2}) {
        if (const RatingKernels *set = framemeld::rating::kernelsFor(isa)) {
            kernels.push_back(set);
        }
    }
    return kernels;
}

// A sample that agrees with itself under any positive tolerance, so that a padding lane that a
// kernel counted would show up as an extra partner: the first float sample free of NaN and
// infinities (which agree with nothing), or the first byte sample; zeros when there is none.
template <typename T> Pixel<T> paddingSample(const std::vector<Pixel<T>> &samples)
{
    for (const Pixel<T> &sample : samples) {
        if (std::isfinite(static_cast<double>(sample.red)) &&
            std::isfinite(static_cast<double>(sample.green)) &&
            std::isfinite(static_cast<double>(sample.blue)) &&
            std::isfinite(static_cast<double>(sample.alpha))) {
            return sample;
        }
    }
    return Pixel<T>{};
}

// The samples as planes, with the padding filled by copies of paddingSample().
template <typename T> struct Planes {
    explicit Planes(const std::vector<Pixel<T>> &samples) : count(static_cast<int>(samples.size()))
    {
        const std::size_t padded = framemeld::rating::paddedCount(count);
        const Pixel<T> filler = paddingSample(samples);
        red.assign(padded, filler.red);
        green.assign(padded, filler.green);
        blue.assign(padded, filler.blue);
        alpha.assign(padded, filler.alpha);
        for (std::size_t k = 0; k < samples.size(); ++k) {
            red[k] = samples[k].red;
            green[k] = samples[k].green;
            blue[k] = samples[k].blue;
            alpha[k] = samples[k].alpha;
        }
    }
    framemeld::rating::SamplePlanes<T> view() const
    {
        return {red.data(), green.data(), blue.data(), alpha.data(), count};
    }

    int count;
    std::vector<T> red, green, blue, alpha;
};

std::vector<std::uint32_t> kernelRatings(const RatingKernels &kernels,
                                         const std::vector<Pixel<unsigned char>> &samples,
                                         unsigned char tolerance)
{
    const Planes<unsigned char> planes(samples);
    const std::size_t padded = framemeld::rating::paddedCount(planes.count);
    std::vector<std::uint32_t> ratings(padded, 0xDEADBEEFu);
    std::vector<unsigned char> columns(padded, 0xA5);
    kernels.bytes(planes.view(), tolerance, ratings.data(), columns.data());
    ratings.resize(samples.size());
    return ratings;
}

std::vector<std::uint32_t> kernelRatings(const RatingKernels &kernels,
                                         const std::vector<Pixel<float>> &samples, float tolerance)
{
    const Planes<float> planes(samples);
    std::vector<std::uint32_t> ratings(framemeld::rating::paddedCount(planes.count), 0xDEADBEEFu);
    std::vector<std::uint32_t> rows(ratings.size(), 0xA5A5A5A5u);
    kernels.floats(planes.view(), tolerance, ratings.data(), rows.data());
    ratings.resize(samples.size());
    return ratings;
}

template <typename T>
std::vector<std::uint32_t> oracleRatings(const std::vector<Pixel<T>> &samples, float divergence)
{
    const int bitDepth = std::numeric_limits<T>::is_integer ? 0 : 2;
    const FramemeldParameter parameter = framemeld::enginetest::parameterFor(
        bitDepth, divergence, 1.0f, static_cast<int>(samples.size()));
    std::vector<float> ratings;
    framemeld::oracle::consensusPixel(samples.data(), parameter, &ratings);
    return std::vector<std::uint32_t>(ratings.begin(), ratings.end());
}

// Reports the first differing rating; returns whether all matched.
template <typename T>
bool sameRatings(const RatingKernels &kernels, const std::vector<Pixel<T>> &samples,
                 float divergence, const std::vector<std::uint32_t> &expected,
                 const std::vector<std::uint32_t> &actual, const char *what)
{
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (expected[k] != actual[k]) {
            ADD_FAILURE() << kernels.name << " kernel, " << what << " string of " << samples.size()
                          << ", divergence " << divergence << ": sample " << k << " rated "
                          << actual[k] << ", oracle " << expected[k];
            return false;
        }
    }
    return true;
}

std::vector<int> testedLengths()
{
    std::vector<int> lengths;
    for (int n = 0; n <= 140; ++n) {
        lengths.push_back(n);
    }
    for (int n : {191, 192, 193, 255, 256, 257, 511}) {
        lengths.push_back(n);
    }
    return lengths;
}

TEST(RatingKernels, X64BuildsCarryTheVectorKernels)
{
#if defined(__x86_64__) || defined(_M_X64)
    EXPECT_NE(framemeld::rating::kernelsFor(Isa::Sse2), nullptr);
#if !(defined(_WIN32) && defined(__GNUC__) &&                                                      \
      !defined(__clang__)) // gcc for Windows leaves AVX2 out
    EXPECT_NE(framemeld::rating::kAvx2Kernels, nullptr);
#endif
    const bool avx2 = framemeld::cpu::hasAvx2() && framemeld::rating::kAvx2Kernels != nullptr;
    EXPECT_EQ(framemeld::rating::kernelsFor(Isa::Avx2) != nullptr, avx2);
    EXPECT_EQ(&framemeld::rating::bestKernels(), avx2 ? framemeld::rating::kernelsFor(Isa::Avx2)
                                                      : framemeld::rating::kernelsFor(Isa::Sse2));
#endif
    ASSERT_NE(framemeld::rating::kernelsFor(Isa::Portable), nullptr);
    std::string tested;
    for (const RatingKernels *kernels : availableKernels()) {
        tested += std::string(tested.empty() ? "" : ", ") + kernels->name;
    }
    RecordProperty("kernels", tested);
}

TEST(RatingKernels, EightBitRatingsMatchTheOracle)
{
    Generator<unsigned char> generator(20260811u);
    for (const RatingKernels *kernels : availableKernels()) {
        for (int n : testedLengths()) {
            for (Kind kind : framemeld::samples::kAllKinds) {
                for (float divergence : {1.0f, 2.0f, 3.0f, 10.0f, 100.0f, 255.0f}) {
                    const auto samples = generator.make(kind, n, divergence);
                    const auto tolerance = static_cast<unsigned char>(divergence);
                    if (!sameRatings(*kernels, samples, divergence,
                                     oracleRatings(samples, divergence),
                                     kernelRatings(*kernels, samples, tolerance),
                                     framemeld::samples::kindName(kind))) {
                        return;
                    }
                }
            }
        }
    }
}

TEST(RatingKernels, FloatRatingsMatchTheOracle)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    Generator<float> generator(20260812u);
    for (const RatingKernels *kernels : availableKernels()) {
        for (int n : testedLengths()) {
            for (Kind kind : framemeld::samples::kAllKinds) {
                for (float divergence : {0.0f, 2.0f, 2.1f, 10.0f, 100.0f, -1.0f, nan, infinity}) {
                    const float tolerance =
                        static_cast<float>(static_cast<double>(divergence) * 0.01);
                    const auto samples = generator.make(kind, n, static_cast<double>(tolerance));
                    if (!sameRatings(*kernels, samples, divergence,
                                     oracleRatings(samples, divergence),
                                     kernelRatings(*kernels, samples, tolerance),
                                     framemeld::samples::kindName(kind))) {
                        return;
                    }
                }
            }
        }
    }
}

// Opaque footage has one alpha throughout, which lets a kernel leave alpha out of the pair test
// when it agrees for every pair, and only then: the same alpha in every sample, including NaN,
// infinite and zero alphas, and tolerances under which equal alphas do not agree.
template <typename T>
void compareConstantAlpha(std::uint32_t seed, const std::vector<T> &alphas,
                          const std::vector<float> &divergences)
{
    Generator<T> generator(seed);
    for (const RatingKernels *kernels : availableKernels()) {
        for (int n : {0, 1, 2, 17, 33, 64, 100, 129, 300}) {
            for (Kind kind : framemeld::samples::kAllKinds) {
                for (T alpha : alphas) {
                    for (float divergence : divergences) {
                        const bool eightBit = std::numeric_limits<T>::is_integer;
                        const float tolerance =
                            eightBit ? divergence
                                     : static_cast<float>(static_cast<double>(divergence) * 0.01);
                        auto samples = generator.make(kind, n, static_cast<double>(tolerance));
                        for (Pixel<T> &sample : samples) {
                            sample.alpha = alpha;
                        }
                        std::vector<std::uint32_t> actual;
                        if (eightBit) {
                            if (tolerance < 1.0f) {
                                continue; // the caller answers tolerance 0 without a kernel
                            }
                            actual = kernelRatings(*kernels, samples, static_cast<T>(tolerance));
                        } else {
                            actual = kernelRatings(*kernels, samples, tolerance);
                        }
                        if (!sameRatings(*kernels, samples, divergence,
                                         oracleRatings(samples, divergence), actual,
                                         "constant-alpha")) {
                            return;
                        }
                    }
                }
            }
        }
    }
}

TEST(RatingKernels, StringsWithOneAlphaThroughoutMatchTheOracle)
{
    compareConstantAlpha<unsigned char>(20260813u, {255, 0, 17}, {1.0f, 2.0f, 10.0f, 255.0f});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    compareConstantAlpha<float>(20260814u, {1.0f, 0.0f, -0.0f, nan, infinity, 3.5f},
                                {2.0f, 0.0f, -1.0f, nan, 100.0f});
}

// Thousands of samples that all agree, or two interleaved groups that agree only among
// themselves: every lane counter then fills as fast as it can, past the point where an 8-bit
// counter wraps, both along a candidate's row and down a sample's column.
TEST(RatingKernels, LongStringsCountEveryPartnerWithoutWrapping)
{
    constexpr int kCount = 8300; // more than 255 blocks of the widest byte vector
    const std::vector<Pixel<unsigned char>> same(kCount, Pixel<unsigned char>{40, 80, 120, 255});
    std::vector<Pixel<unsigned char>> interleaved;
    for (int k = 0; k < kCount; ++k) {
        interleaved.push_back(k % 2 == 0 ? Pixel<unsigned char>{40, 80, 120, 255}
                                         : Pixel<unsigned char>{41, 80, 200, 255});
    }
    const std::vector<Pixel<float>> sameFloats(3000, Pixel<float>{0.25f, 0.5f, 0.75f, 1.0f});

    for (const RatingKernels *kernels : availableKernels()) {
        SCOPED_TRACE(kernels->name);
        const auto all = kernelRatings(*kernels, same, 1);
        const auto halves = kernelRatings(*kernels, interleaved, 2);
        const auto floats = kernelRatings(*kernels, sameFloats, 0.02f);
        for (int k = 0; k < kCount; ++k) {
            const std::size_t at = static_cast<std::size_t>(k);
            if (all[at] != static_cast<std::uint32_t>(kCount) ||
                halves[at] != static_cast<std::uint32_t>(kCount / 2) ||
                (k < 3000 && floats[at] != 3000u)) {
                ADD_FAILURE() << "sample " << k << " rated " << all[at] << " among equals, "
                              << halves[at] << " in its half"
                              << (k < 3000
                                      ? ", " + std::to_string(floats[at]) + " among equal floats"
                                      : "");
                break;
            }
        }
    }
}

} // namespace
