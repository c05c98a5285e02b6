// The consensus engine on footage-like strings, one thread: the engine as the render calls it,
// each rating kernel set on its own, and the step-by-step reference transcription of the rule,
// all in one run so that their ratios hold whatever else the machine is doing.
//
// Counters: ns_per_pixel (time per output pixel) and pair_tests_per_s (n(n - 1)/2 pair tests
// per pixel over the time). Run through bench/engine-ratios.sh for the ratios.
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include <benchmark/benchmark.h>

#include "ConsensusOracle.h"
#include "FootageStrings.h"
#include "engine/ConsensusPass.h"
#include "engine/FramemeldEngine.h"
#include "engine/RatingKernels.h"

namespace {

// Enough distinct strings that branch predictors cannot learn them, few enough to stay in cache.
constexpr int kStrings = 64;

template <typename T> struct Workload {
    explicit Workload(int n) : parameter()
    {
        parameter.bitDepth = std::is_same<T, float>::value ? 2 : 0;
        parameter.divergence = 2.0f; // the slider's default
        parameter.ratingRange = 1.0f;
        parameter.frameCount = n;
        framemeld::footage::FootageStrings<T> footage(0x5EED0000u + static_cast<std::uint32_t>(n));
        for (int s = 0; s < kStrings; ++s) {
            plain.push_back(footage.make(n));
            strings.push_back(std::make_unique<PixelString<Pixel<T>>>(0, 0, n));
            for (int k = 0; k < n; ++k) {
                (*strings.back())[k] = plain.back()[static_cast<std::size_t>(k)];
            }
        }
    }

    FramemeldParameter parameter;
    std::vector<std::vector<Pixel<T>>> plain;
    std::vector<std::unique_ptr<PixelString<Pixel<T>>>> strings;
};

void setCounters(benchmark::State &state, int n)
{
    const double pixels = static_cast<double>(state.iterations());
    state.counters["ns_per_pixel"] = benchmark::Counter(
        pixels * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["pair_tests_per_s"] = benchmark::Counter(
        pixels * static_cast<double>(n) * (n - 1) / 2.0, benchmark::Counter::kIsRate);
}

template <typename T> void Engine(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Workload<T> work(n);
    std::unique_ptr<FramemeldEngine<Pixel<T>>> engine(FramemeldEngine<Pixel<T>>::create());
    std::size_t s = 0;
    for (auto _ : state) {
        Pixel<T> out;
        engine->process(&work.parameter, work.strings[s].get(), &out);
        benchmark::DoNotOptimize(out);
        s = (s + 1) % kStrings;
    }
    setCounters(state, n);
}

template <typename T> void Kernels(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const auto *kernels =
        framemeld::rating::kernelsFor(static_cast<framemeld::rating::Isa>(state.range(1)));
    if (kernels == nullptr) {
        state.SkipWithError("this processor lacks the instruction set");
        return;
    }
    state.SetLabel(kernels->name);
    Workload<T> work(n);
    std::size_t s = 0;
    for (auto _ : state) {
        Pixel<T> out =
            framemeld::consensus::consensusOf(*kernels, work.parameter, *work.strings[s]);
        benchmark::DoNotOptimize(out);
        s = (s + 1) % kStrings;
    }
    setCounters(state, n);
}

template <typename T> void Reference(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Workload<T> work(n);
    std::size_t s = 0;
    for (auto _ : state) {
        Pixel<T> out = framemeld::oracle::consensusPixel(work.plain[s].data(), work.parameter);
        benchmark::DoNotOptimize(out);
        s = (s + 1) % kStrings;
    }
    setCounters(state, n);
}

void Lengths(benchmark::internal::Benchmark *b)
{
    for (int n : {10, 30, 100, 300}) {
        b->Arg(n);
    }
}

void LengthsAndKernels(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"n", "isa"});
    for (int n : {10, 30, 100, 300}) {
        for (auto isa : {framemeld::rating::Isa::Portable, framemeld::rating::Isa::Sse2,
                         framemeld::rating::Isa::Avx2}) {
            b->Args({n, static_cast<int>(isa)});
        }
    }
}

BENCHMARK_TEMPLATE(Engine, unsigned char)->Apply(Lengths)->ArgName("n");
BENCHMARK_TEMPLATE(Engine, float)->Apply(Lengths)->ArgName("n");
BENCHMARK_TEMPLATE(Reference, unsigned char)->Apply(Lengths)->ArgName("n");
BENCHMARK_TEMPLATE(Reference, float)->Apply(Lengths)->ArgName("n");
BENCHMARK_TEMPLATE(Kernels, unsigned char)->Apply(LengthsAndKernels);
BENCHMARK_TEMPLATE(Kernels, float)->Apply(LengthsAndKernels);

} // namespace

BENCHMARK_MAIN();
