// libFuzzer target: the consensus engine against the step-by-step oracle, bit for bit, on pixel
// strings and parameters made from the input: any length up to past the engine's stack buffer,
// values clustered around the tolerance or taken raw (NaN, infinities, denormals at float), whole
// samples broken to NaN or infinity as bad frames deliver them, and
// "Divergence" and "Rating Range" inside their slider ranges, fractional, or any float at all.
// Runs the engine through create()/process() and every set of rating kernels this processor
// has, and checks that process() leaves the string and the parameter record alone.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "engine/ConsensusPass.h"
#include "engine/FramemeldEngine.h"
#include "engine/RatingKernels.h"
#include "tests/engine/ConsensusOracle.h"

namespace {

float FloatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A slider value as the engine may receive it: usually in range, sometimes on or between whole
// steps, sometimes any float a damaged project could carry.
float SliderValue(FuzzedDataProvider &input, float low, float high)
{
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: return input.ConsumeFloatingPointInRange(low, high);
    case 1: return static_cast<float>(input.ConsumeIntegralInRange(0, 12)) * 0.5f;
    case 2: return FloatFromBits(input.ConsumeIntegral<std::uint32_t>());
    default: return static_cast<float>(input.ConsumeIntegralInRange(0, 101));
    }
}

template <typename T> T Component(FuzzedDataProvider &input, T base, float tolerance);

template <> unsigned char Component(FuzzedDataProvider &input, unsigned char base, float tolerance)
{
    if (input.ConsumeBool()) {
        return input.ConsumeIntegral<unsigned char>();
    }
    const int reach = std::isfinite(tolerance)
                          ? static_cast<int>(std::fmin(std::fabs(tolerance), 255.0f)) + 1
                          : 3;
    const int value = base + input.ConsumeIntegralInRange(-reach, reach);
    return static_cast<unsigned char>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// NaN of either sign and payload, or an infinity: a random bit pattern is one of these only once
// in 256 tries.
float NonFinite(FuzzedDataProvider &input)
{
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: return std::numeric_limits<float>::infinity();
    case 1: return -std::numeric_limits<float>::infinity();
    case 2: return std::numeric_limits<float>::quiet_NaN();
    default: // any NaN: exponent all ones, a mantissa that is not zero
        return FloatFromBits(0x7F800000u | (input.ConsumeIntegral<std::uint32_t>() & 0x807FFFFFu) |
                             1u);
    }
}

template <> float Component(FuzzedDataProvider &input, float base, float tolerance)
{
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: return FloatFromBits(input.ConsumeIntegral<std::uint32_t>());
    case 4: return NonFinite(input);
    case 1:
        return base +
               tolerance * static_cast<float>(input.ConsumeIntegralInRange(-2, 2)); // on the edge
    default: return base + input.ConsumeFloatingPointInRange(-0.05f, 0.05f);
    }
}

template <typename T> bool SameComponent(T a, T b)
{
    if constexpr (sizeof(T) == 1) {
        return a == b;
    } else {
        return std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, sizeof a) == 0;
    }
}

template <typename T> bool SamePixel(const Pixel<T> &a, const Pixel<T> &b)
{
    return SameComponent(a.red, b.red) && SameComponent(a.green, b.green) &&
           SameComponent(a.blue, b.blue) && SameComponent(a.alpha, b.alpha);
}

template <typename T>
[[noreturn]] void Mismatch(const char *who, const FramemeldParameter &parameter,
                           const std::vector<Pixel<T>> &samples, const Pixel<T> &got,
                           const Pixel<T> &expected)
{
    std::fprintf(stderr,
                 "%s differs from the oracle: bitDepth %d divergence %.9g ratingRange %.9g n %d\n",
                 who, parameter.bitDepth, static_cast<double>(parameter.divergence),
                 static_cast<double>(parameter.ratingRange), parameter.frameCount);
    for (std::size_t k = 0; k < samples.size() && k < 16; ++k) {
        std::fprintf(stderr, "  sample %zu: %.9g %.9g %.9g %.9g\n", k,
                     static_cast<double>(samples[k].red), static_cast<double>(samples[k].green),
                     static_cast<double>(samples[k].blue), static_cast<double>(samples[k].alpha));
    }
    std::fprintf(stderr, "  got %.9g %.9g %.9g %.9g, expected %.9g %.9g %.9g %.9g\n",
                 static_cast<double>(got.red), static_cast<double>(got.green),
                 static_cast<double>(got.blue), static_cast<double>(got.alpha),
                 static_cast<double>(expected.red), static_cast<double>(expected.green),
                 static_cast<double>(expected.blue), static_cast<double>(expected.alpha));
    std::abort();
}

template <typename T> void Check(FuzzedDataProvider &input)
{
    constexpr bool eightBit = sizeof(T) == 1;
    FramemeldParameter parameter;
    parameter.bitDepth = eightBit ? 0 : 2;
    parameter.divergence = SliderValue(input, 0.0f, 100.0f);
    parameter.ratingRange = SliderValue(input, 0.1f, 20.0f);
    parameter.frameCount = input.ConsumeIntegralInRange(0, input.ConsumeBool() ? 40 : 600);
    const float tolerance = eightBit ? parameter.divergence : parameter.divergence * 0.01f;

    // A few cluster centres, so that agreement, ties and separate groups all come up.
    const int clusters = input.ConsumeIntegralInRange(1, 4);
    std::vector<Pixel<T>> centres;
    for (int c = 0; c < clusters; ++c) {
        if constexpr (eightBit) {
            centres.push_back(Pixel<T>{input.ConsumeIntegral<T>(), input.ConsumeIntegral<T>(),
                                       input.ConsumeIntegral<T>(),
                                       input.ConsumeBool() ? T{255} : input.ConsumeIntegral<T>()});
        } else {
            centres.push_back(Pixel<T>{input.ConsumeFloatingPointInRange(-0.5f, 1.5f),
                                       input.ConsumeFloatingPointInRange(-0.5f, 1.5f),
                                       input.ConsumeFloatingPointInRange(-0.5f, 1.5f),
                                       input.ConsumeBool() ? 1.0f : 0.0f});
        }
    }
    std::vector<Pixel<T>> samples(static_cast<std::size_t>(parameter.frameCount));
    for (Pixel<T> &sample : samples) {
        const Pixel<T> &centre =
            centres[input.ConsumeIntegralInRange<std::size_t>(0, centres.size() - 1)];
        sample = Pixel<T>{
            Component(input, centre.red, tolerance), Component(input, centre.green, tolerance),
            Component(input, centre.blue, tolerance), Component(input, centre.alpha, tolerance)};
        if constexpr (!eightBit) {
            if (input.ConsumeIntegralInRange(0, 7) == 0) { // a broken frame
                const float value = NonFinite(input);
                sample = Pixel<T>{value, value, value, value};
            }
        }
    }

    PixelString<Pixel<T>> string(3, 4, parameter.frameCount);
    for (int k = 0; k < parameter.frameCount; ++k) {
        string[k] = samples[static_cast<std::size_t>(k)];
    }
    const Pixel<T> expected = framemeld::oracle::consensusPixel(samples.data(), parameter);

    std::unique_ptr<FramemeldEngine<Pixel<T>>> engine(FramemeldEngine<Pixel<T>>::create());
    const FramemeldParameter before = parameter;
    Pixel<T> out{};
    engine->process(&parameter, &string, &out);
    if (!SamePixel(out, expected)) {
        Mismatch("the engine", parameter, samples, out, expected);
    }
    if (std::memcmp(&before, &parameter, sizeof before) != 0 || string.x != 3 || string.y != 4) {
        std::fprintf(stderr, "process() changed its parameter record or string\n");
        std::abort();
    }
    for (int k = 0; k < parameter.frameCount; ++k) {
        if (std::memcmp(&string[k], &samples[static_cast<std::size_t>(k)], sizeof(Pixel<T>)) != 0) {
            std::fprintf(stderr, "process() changed sample %d\n", k);
            std::abort();
        }
    }

    using framemeld::rating::Isa;
    for (Isa isa : {Isa::Portable, Isa::Sse2, Isa::Avx2}) {
        if (const framemeld::rating::RatingKernels *kernels = framemeld::rating::kernelsFor(isa)) {
            const Pixel<T> got = framemeld::consensus::consensusOf(*kernels, parameter, string);
            if (!SamePixel(got, expected)) {
                Mismatch(kernels->name, parameter, samples, got, expected);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool()) {
        Check<unsigned char>(input);
    } else {
        Check<float>(input);
    }
    return 0;
}
