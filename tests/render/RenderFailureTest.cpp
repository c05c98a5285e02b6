// Every host call of a render failing in turn: the render returns the call's code (or, for the
// calls whose failure the effect deliberately ignores, carries on), leaves the runner's books
// balanced, and lets no exception escape. Leaks show as a LeakSanitizer report at exit.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

constexpr PF_Err kInjected = 0x4D2; // no code the effect makes up itself
constexpr unsigned char kFill = 0xAB;

long PixelsHoldingFill(const rn::World &world)
{
    long count = 0;
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            count += HoldsFill(world, x, y, kFill) ? 1 : 0;
        }
    }
    return count;
}

TEST(RenderFailure, EachHostCallFailingInTurnReturnsItsCode)
{
    Sliders sliders;
    sliders.end = 2;
    for (rn::PixelDepth depth :
         {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        auto clip = MakeClip(4, 12, depth, 3);
        const rn::World expected =
            ExpectedPlate(SampledFrames(*clip, sliders), sliders, 4, 12, depth);
        auto host = MakeHost(sliders, HostSetup{2, kFill});
        const rn::RenderResult clean = host->render(*clip);
        ASSERT_EQ(clean.err(), PF_Err_NONE);
        const long calls = clean.record.calls.total;
        ASSERT_GT(calls, 20);

        host->faults().failNthCallCode = kInjected;
        for (long k = 1; k <= calls; ++k) {
            host->faults().failNthCall = k;
            const rn::RenderResult result = host->render(*clip);
            if (result.record.injectedFaults.empty()) {
                // Worker 0 took fewer rows this time (fewer of its row-end calls): no call k.
                EXPECT_EQ(result.err(), PF_Err_NONE);
                EXPECT_TRUE(SamePixels(expected, result.output));
                continue;
            }
            ASSERT_EQ(result.record.injectedFaults.size(), 1u) << "call " << k;
            const rn::HostFunction failed = result.record.injectedFaults.front().function;
            SCOPED_TRACE(std::string("call ") + std::to_string(k) + ": " +
                         rn::hostFunctionName(failed));
            EXPECT_TRUE(Balanced(result.accounting));
            EXPECT_TRUE(result.accounting.escapedExceptions.empty());

            switch (failed) {
            case rn::HostFunction::CheckinParam:
            case rn::HostFunction::ReleaseSuite:
                // Giving back cannot be refused; the effect has nothing to undo.
                EXPECT_EQ(result.err(), PF_Err_NONE);
                EXPECT_TRUE(SamePixels(expected, result.output));
                break;
            case rn::HostFunction::AcquireSuite:
                // A missing suite is the host's "bad callback parameter", whatever it answered.
                EXPECT_EQ(result.err(), PF_Err_BAD_CALLBACK_PARAM);
                break;
            case rn::HostFunction::Abort:
                // A failing per-pixel poll skips that pixel only; any other poll ends the render.
                if (result.err() == PF_Err_NONE) {
                    EXPECT_NE(depth, rn::PixelDepth::Float32);
                    EXPECT_EQ(PixelsHoldingFill(result.output), 1);
                } else {
                    EXPECT_EQ(result.err(), kInjected);
                }
                break;
            default: EXPECT_EQ(result.err(), kInjected); break;
            }
        }
    }
}

TEST(RenderFailure, AWithheldSuiteStopsTheRenderWithItsMessage)
{
    Sliders sliders;
    sliders.end = 2;
    struct Case {
        const char *suite;
        rn::PixelDepth depth;
    };
    const Case cases[] = {{"PF World Suite", rn::PixelDepth::Bits8},
                          {"PF World Suite", rn::PixelDepth::Float32},
                          {"PF Iterate8 Suite", rn::PixelDepth::Bits8},
                          {"PF Iterate8 Suite", rn::PixelDepth::Bits16},
                          {"PF iterateFloat Suite", rn::PixelDepth::Float32}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.suite) + " at " + std::to_string(rn::bitsPerChannel(c.depth)));
        auto clip = MakeClip(3, 4, c.depth, 3);
        auto host = MakeHost(sliders, HostSetup{2, kFill});
        host->faults().withheldSuites = {c.suite};
        const rn::RenderResult result = host->render(*clip);
        EXPECT_EQ(result.preRender.err, PF_Err_NONE);
        EXPECT_EQ(result.smartRender.err, PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_TRUE(Balanced(result.accounting));
        EXPECT_TRUE(result.accounting.escapedExceptions.empty());
        if (std::string(c.suite) == "PF World Suite") {
            EXPECT_EQ(result.smartRender.message(), "Couldn't load suite.");
            EXPECT_NE(result.smartRender.out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0);
            EXPECT_TRUE(result.record.pixelCheckouts.empty());
            EXPECT_EQ(result.record.outputCheckouts, 0);
        } else {
            ASSERT_TRUE(result.output.valid());
            EXPECT_EQ(PixelsHoldingFill(result.output), 3 * 4);
        }
    }
}

TEST(RenderFailure, AFailedOutputCheckoutDrawsNothing)
{
    Sliders sliders;
    sliders.end = 1;
    auto clip = MakeClip(3, 3, rn::PixelDepth::Bits16, 2);
    auto host = MakeHost(sliders);
    host->faults().failOutputCheckout = PF_Err_OUT_OF_MEMORY;
    const rn::RenderResult result = host->render(*clip);
    EXPECT_EQ(result.err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(result.record.calls.of(rn::HostFunction::Abort), 0);
    EXPECT_EQ(result.record.calls.of(rn::HostFunction::GetPixelFormat), 0);
    EXPECT_TRUE(Balanced(result.accounting));
}

} // namespace
} // namespace framemeld::rendertest
