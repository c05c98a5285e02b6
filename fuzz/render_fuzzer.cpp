// libFuzzer target: whole renders of small clips through the host runner and the built module.
// The input chooses the clip (size, depth, row padding, frame contents with raw values such as
// NaN, infinities and 16-bit values past full scale), the five sliders (in range, fractional,
// far out of range), the rendered time, the worker count and the output rows' padding, and
// faults: null or smaller sampled frames, the k-th host call failing, a cancel after k polls, a
// withheld suite, a failed output checkout. Every render must keep the runner's books, give
// back the module's heap, leave the footage alone, draw nothing but plate pixels, and answer
// with a code that its faults explain; a render without faults must draw the whole plate, and no
// float plate may hold a NaN.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "AE_EffectCBSuites.h"
#include "ReliabilityKit.h"

namespace {

using namespace framemeld::reliability;

constexpr PF_Err kInjected = 0x4D2;
constexpr int kMaxSampledFrames = 48;

struct Tally {
    long renders = 0;
    long faulted = 0;
    long lostCancels = 0;
    ~Tally()
    {
        std::fprintf(
            stderr,
            "render fuzzer: %ld renders, %ld with faults, %ld cancels lost by the row workers\n",
            renders, faulted, lostCancels);
    }
};
Tally g_tally;

rn::Host &HostFor(unsigned threads, int paddingChoice)
{
    static std::unique_ptr<rn::Host> hosts[3][3];
    std::unique_ptr<rn::Host> &slot = hosts[threads - 1][paddingChoice];
    if (!slot) {
        const rn::RowPadding paddings[] = {{3, -1}, {0, 0}, {7, -1}};
        rn::HostOptions options;
        options.threads = threads;
        options.outputFill = kFill;
        options.outputPadding = paddings[paddingChoice];
        slot = std::make_unique<rn::Host>(Module(), options);
        if (!slot->setup().ok()) {
            std::abort();
        }
    }
    return *slot;
}

double SliderWish(FuzzedDataProvider &input, double low, double high)
{
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0: return input.ConsumeFloatingPointInRange(low, high);
    case 1: return static_cast<double>(input.ConsumeIntegralInRange(0, 20));
    case 2:
        return static_cast<double>(input.ConsumeIntegralInRange(0, 20)) +
               input.ConsumeProbability<double>();
    case 3: return input.ConsumeFloatingPointInRange(-1.0e6, 1.0e6);
    default: {
        const double value = input.ConsumeFloatingPoint<double>(); // any double but NaN
        return std::isnan(value) ? high : value;
    }
    }
}

void WriteChannel(rn::World &frame, int x, int y, int channel, std::uint32_t raw)
{
    unsigned char *pixel =
        frame.row(y) + static_cast<std::size_t>(x) * rn::bytesPerPixel(frame.depth());
    const std::size_t size = rn::bytesPerChannel(frame.depth());
    std::memcpy(pixel + static_cast<std::size_t>(channel) * size, &raw, size); // little-endian host
}

std::unique_ptr<rn::InMemoryFrameSource> MakeClip(FuzzedDataProvider &input)
{
    const rn::PixelDepth depths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                     rn::PixelDepth::Float32};
    const rn::PixelDepth depth = depths[input.ConsumeIntegralInRange(0, 2)];
    const int width = input.ConsumeIntegralInRange(0, 12);
    const int height = input.ConsumeIntegralInRange(0, 23);
    const int frames = input.ConsumeIntegralInRange(1, 8);
    rn::RowPadding padding;
    padding.pixels = input.ConsumeIntegralInRange(0, 5);
    padding.bytes =
        input.ConsumeIntegralInRange(0, 3) * static_cast<int>(rn::bytesPerChannel(depth));
    auto clip = MakeHostileClip(width, height, depth, frames,
                                input.ConsumeIntegral<std::uint32_t>(), padding);
    // Raw values over the generated footage: any bits, or at float a NaN or an infinity in one
    // channel or in the whole pixel, as broken frames carry them.
    const int overrides = width * height > 0 ? input.ConsumeIntegralInRange(0, 24) : 0;
    for (int i = 0; i < overrides; ++i) {
        rn::World &frame = clip->frameForWriting(input.ConsumeIntegralInRange(0, frames - 1));
        const int x = input.ConsumeIntegralInRange(0, width - 1);
        const int y = input.ConsumeIntegralInRange(0, height - 1);
        const int channel = input.ConsumeIntegralInRange(0, 3);
        if (depth != rn::PixelDepth::Float32 || input.ConsumeBool()) {
            WriteChannel(frame, x, y, channel, input.ConsumeIntegral<std::uint32_t>());
            continue;
        }
        const std::uint32_t nonFinite[] = {0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0x7F800000u,
                                           0xFF800000u};
        const std::uint32_t raw = nonFinite[input.ConsumeIntegralInRange(0, 4)];
        if (input.ConsumeBool()) {
            WriteChannel(frame, x, y, channel, raw);
        } else {
            for (int c = 0; c < 4; ++c) {
                WriteChannel(frame, x, y, c, raw);
            }
        }
    }
    return clip;
}

int SampledCount(const Sliders &s)
{
    const long start = static_cast<long>(s.start);
    const long end = std::max(start, static_cast<long>(s.end));
    const long step = std::max(1L, static_cast<long>(s.every));
    return static_cast<int>((end - start) / step + 1);
}

// Whether any pixel of a float output holds a NaN: no footage, however broken, and no slider may
// put one there (the fill pattern is a finite number).
bool HoldsNaN(const rn::World &output)
{
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            const PF_PixelFloat &p = output.at<PF_PixelFloat>(x, y);
            if (std::isnan(p.alpha) || std::isnan(p.red) || std::isnan(p.green) ||
                std::isnan(p.blue)) {
                return true;
            }
        }
    }
    return false;
}

[[noreturn]] void Fail(const std::string &what, const CheckedRender &run)
{
    std::fprintf(stderr, "render fuzzer: %s\n%s\n", what.c_str(), run.Report().c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // Read first, so that short inputs (which run out of bytes and read zeros) still vary it.
    const unsigned faults = input.ConsumeIntegral<unsigned char>();
    auto clip = MakeClip(input);
    const unsigned threads = input.ConsumeIntegralInRange(1u, 3u);
    rn::Host &host = HostFor(threads, input.ConsumeIntegralInRange(0, 2));

    Sliders wanted;
    wanted.start = SliderWish(input, 0, 12);
    wanted.end = SliderWish(input, 0, 12);
    wanted.every = SliderWish(input, 1, 4);
    wanted.divergence = SliderWish(input, 0, 100);
    wanted.ratingRange = SliderWish(input, 0.1, 20);
    Sliders stored = SetSliders(host, wanted);
    if (SampledCount(stored) > kMaxSampledFrames) { // keeps each render quick
        stored = SetSliders(
            host,
            Sliders{stored.start, stored.start + (kMaxSampledFrames - 1) * std::floor(stored.every),
                    stored.every, stored.divergence, stored.ratingRange});
    }
    const int n = SampledCount(stored);

    rn::FaultPlan plan;
    if (faults & 1u) {
        for (int i = input.ConsumeIntegralInRange(1, 3); i > 0; --i) {
            plan.nullWorldCheckouts.insert(input.ConsumeIntegralInRange(0, n - 1));
        }
    }
    if (faults & 2u) {
        for (int i = input.ConsumeIntegralInRange(1, 3); i > 0; --i) {
            plan.smallerWorldCheckouts[input.ConsumeIntegralInRange(0, n - 1)] =
                rn::SmallerWorld{input.ConsumeIntegralInRange(0, clip->width()),
                                 input.ConsumeIntegralInRange(0, clip->height())};
        }
    }
    const bool failCall = (faults & 4u) != 0;
    const bool cancel = (faults & 8u) != 0;
    const bool withhold = (faults & 16u) != 0;
    const bool failOutput = (faults & 32u) != 0;
    if (failCall) {
        plan.failNthCall = input.ConsumeIntegralInRange(1, 400);
        plan.failNthCallCode = kInjected;
    }
    if (cancel) {
        plan.cancelAfterPolls = input.ConsumeIntegralInRange(1, 300);
    }
    if (withhold) {
        const char *suites[] = {kPFANSISuite, kPFWorldSuite, kPFIterate8Suite,
                                kPFIterateFloatSuite};
        plan.withheldSuites = {suites[input.ConsumeIntegralInRange(0, 3)]};
    }
    if (failOutput) {
        plan.failOutputCheckout = PF_Err_OUT_OF_MEMORY;
    }
    rn::RenderRequest request;
    request.frame = input.ConsumeIntegralInRange(0, 30);
    request.timeStep = input.ConsumeIntegralInRange(1, 3);
    const A_u_long scales[] = {1, 24, 25, 30000};
    request.timeScale = scales[input.ConsumeIntegralInRange(0, 3)];

    const rn::World plate = ExpectedPlate(*clip, stored, plan);
    const ClipSnapshot footage(*clip);
    host.faults() = plan;
    const CheckedRender run =
        RenderAndCheck(host, *clip, Expectation{&plate, kFill, false, &footage}, request);
    host.faults() = {};
    ++g_tally.renders;
    if (!run.ok()) {
        Fail("a rule was broken", run);
    }
    if (run.result.output.valid() && run.result.output.depth() == rn::PixelDepth::Float32 &&
        HoldsNaN(run.result.output)) {
        Fail("a NaN reached the float plate", run);
    }

    const rn::RenderRecord &record = run.result.record;
    const bool injected = !record.injectedFaults.empty();
    const bool anyFault = injected || cancel || withhold || failOutput;
    g_tally.faulted += anyFault ? 1 : 0;
    const PF_Err err = run.result.err();
    const long undrawn = run.result.output.valid() ? UndrawnPixels(run.result.output) : 0;
    if (err == PF_Err_NONE) {
        if (!run.result.output.valid()) {
            Fail("success without an output", run);
        }
        if (undrawn == 0 ||
            OutputProblems(run.result.output, Expectation{&plate, kFill, true, nullptr}).empty()) {
            return 0;
        }
        if (injected && record.injectedFaults.front().function == rn::HostFunction::Abort &&
            undrawn == 1) {
            return 0; // a failed per-pixel poll skips that pixel only
        }
        if (cancel && threads > 1) {
            ++g_tally.lostCancels; // known: a cancel after worker 0's last row reaches no one
            return 0;
        }
        Fail("success with " + std::to_string(undrawn) + " pixels undrawn", run);
    }
    const bool explained = (injected && err == kInjected) ||
                           (err == PF_Err_BAD_CALLBACK_PARAM && (withhold || injected)) ||
                           (err == PF_Interrupt_CANCEL && cancel) ||
                           (err == PF_Err_OUT_OF_MEMORY && failOutput);
    if (!explained) {
        Fail("error " + std::to_string(err) + " that no fault explains", run);
    }
    return 0;
}
