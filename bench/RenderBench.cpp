// The plug-in's render alone, through the host runner, on frames already in memory: no decoding,
// no file, and memory touched before the clock starts, so the figures show the render's own cost
// at each depth and thread count. The clip imitates the plate benchmark's footage: a textured
// still background with per-frame noise and a box crossing it.
//
//   render_bench [--benchmark_filter=...]   (FRAMEMELD_RENDER_BENCH_FRAMES, default 100)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "runner/Host.h"
#include "runner/PluginModule.h"

namespace {

namespace rn = framemeld::runner;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

int frameCount()
{
    const char *text = std::getenv("FRAMEMELD_RENDER_BENCH_FRAMES");
    const int frames = text != nullptr ? std::atoi(text) : 100;
    return frames > 0 ? frames : 100;
}

// One 8-bit value per channel, scaled to the depth the way the tool converts 8-bit footage.
template <class Pixel> Pixel fromEightBit(int red, int green, int blue);
template <> PF_Pixel8 fromEightBit<PF_Pixel8>(int red, int green, int blue)
{
    return PF_Pixel8{255, static_cast<A_u_char>(red), static_cast<A_u_char>(green),
                     static_cast<A_u_char>(blue)};
}
template <> PF_Pixel16 fromEightBit<PF_Pixel16>(int red, int green, int blue)
{
    auto scale = [](int v) { return static_cast<A_u_short>((v * 32768 + 127) / 255); };
    return PF_Pixel16{32768, scale(red), scale(green), scale(blue)};
}
template <> PF_PixelFloat fromEightBit<PF_PixelFloat>(int red, int green, int blue)
{
    return PF_PixelFloat{1.0f, static_cast<float>(red) / 255.0f, static_cast<float>(green) / 255.0f,
                         static_cast<float>(blue) / 255.0f};
}

template <class Pixel> std::unique_ptr<rn::InMemoryFrameSource> makeClip(int frames)
{
    auto clip =
        std::make_unique<rn::InMemoryFrameSource>(kWidth, kHeight, rn::depthOfPixel<Pixel>());
    std::mt19937 random(20261208u);
    std::uniform_int_distribution<int> noise(-10, 10);
    auto clampByte = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    for (int f = 0; f < frames; ++f) {
        rn::World &frame = clip->addFrame();
        const int boxLeft = (17 * f) % (kWidth - 260);
        const int boxTop = 400;
        for (int y = 0; y < kHeight; ++y) {
            Pixel *row = frame.row<Pixel>(y);
            for (int x = 0; x < kWidth; ++x) {
                const bool box =
                    x >= boxLeft && x < boxLeft + 260 && y >= boxTop && y < boxTop + 260;
                const int red = box ? 208 : (x * 7 + y * 3) % 256;
                const int green = box ? 48 : (x * 3 + y * 5) % 256;
                const int blue = box ? 32 : (x ^ y) % 256;
                row[x] = fromEightBit<Pixel>(clampByte(red + noise(random)),
                                             clampByte(green + noise(random)),
                                             clampByte(blue + noise(random)));
            }
        }
    }
    return clip;
}

template <class Pixel> void BM_Render(benchmark::State &state)
{
    const int frames = frameCount();
    static rn::PluginModule module(FRAMEMELD_BENCH_MODULE_PATH);
    auto clip = makeClip<Pixel>(frames);
    rn::HostOptions options;
    options.threads = static_cast<unsigned>(state.range(0));
    rn::Host host(module.entryPoint(), options);
    if (!host.setup().ok()) {
        state.SkipWithError("the module's setup failed");
        return;
    }
    host.setParameter("Start Frame", 0);
    host.setParameter("End Frame", frames - 1);
    host.setParameter("Divergence", 2);
    // One render outside the clock: the output world and the render's stores are first touched
    // here.
    if (host.render(*clip).err() != PF_Err_NONE) {
        state.SkipWithError("the render failed");
        return;
    }
    for (auto _ : state) {
        const rn::RenderResult result = host.render(*clip);
        benchmark::DoNotOptimize(result.output.row(0));
    }
    state.counters["frames"] = frames;
}

BENCHMARK_TEMPLATE(BM_Render, PF_Pixel8)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_Render, PF_Pixel16)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_Render, PF_PixelFloat)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
