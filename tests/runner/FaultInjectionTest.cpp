#include <set>

#include "ScriptedEffect.h"
#include "TinyEffectFixture.h"

using namespace framemeld::runnertest;

namespace {

constexpr PF_Err kInjected = 4242;

// Releases cannot be refused (the runner takes the suite or parameter back anyway), and the
// tiny effect, like most plug-ins, ignores the result of releasing a suite.
bool resultIsIgnored(HostFunction function)
{
    return function == HostFunction::ReleaseSuite;
}

struct SweepCase {
    PixelDepth depth;
    int path;
};

class FaultSweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(FaultSweep, FailingAnyOneHostCallEndsTheRenderWithThatCodeAndCleanAccounting)
{
    const SweepCase c = GetParam();
    TinyEffectHost tiny(1);
    tiny.host.setParameter("Path", c.path);
    InMemoryFrameSource source(3, 2, c.depth);
    addPatternFrames(source, 3);

    const RenderResult clean = tiny.host.render(source);
    ASSERT_EQ(clean.err(), PF_Err_NONE);
    const long total = clean.record.calls.total;
    ASSERT_GT(total, 10);

    std::set<HostFunction> faulted;
    for (long k = 1; k <= total; ++k) {
        tiny.host.faults().failNthCall = k;
        tiny.host.faults().failNthCallCode = kInjected;
        const RenderResult result = tiny.host.render(source);
        SCOPED_TRACE("call " + std::to_string(k));
        ASSERT_EQ(result.record.injectedFaults.size(), 1U);
        const InjectedFault &fault = result.record.injectedFaults[0];
        EXPECT_EQ(fault.call, k);
        faulted.insert(fault.function);
        if (resultIsIgnored(fault.function)) {
            EXPECT_EQ(result.err(), PF_Err_NONE);
        } else {
            EXPECT_EQ(result.err(), kInjected) << hostFunctionName(fault.function);
        }
        EXPECT_LE(result.record.calls.total, total);
        const auto found = violations(result.accounting);
        EXPECT_TRUE(found.empty()) << found.front();
    }
    tiny.host.faults() = FaultPlan{};
    // The sweep reached every kind of call the render makes.
    for (std::size_t f = 0; f < kHostFunctionCount; ++f) {
        if (clean.record.calls.perFunction[f] > 0) {
            EXPECT_EQ(faulted.count(static_cast<HostFunction>(f)), 1U)
                << hostFunctionName(static_cast<HostFunction>(f));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tiny, FaultSweep,
                         ::testing::Values(SweepCase{PixelDepth::Bits8, 1},
                                           SweepCase{PixelDepth::Bits16, 2},
                                           SweepCase{PixelDepth::Float32, 2},
                                           SweepCase{PixelDepth::Bits8, 3}));

class Faults : public ::testing::Test {
protected:
    Faults() : source(3, 2, PixelDepth::Bits8) { addPatternFrames(source, 3); }
    TinyEffectHost tiny{1};
    InMemoryFrameSource source;
};

TEST_F(Faults, ACallFaultHitsTheNthCallOfOneFunctionOnly)
{
    tiny.host.faults().callFaults.push_back(
        CallFault{HostFunction::CheckoutLayerPixels, 2, PF_Err_OUT_OF_MEMORY});
    const RenderResult result = tiny.host.render(source);
    EXPECT_EQ(result.smartRender.err, PF_Err_OUT_OF_MEMORY);
    ASSERT_EQ(result.record.pixelCheckouts.size(), 2U);
    EXPECT_EQ(result.record.pixelCheckouts[0].result, PF_Err_NONE);
    EXPECT_EQ(result.record.pixelCheckouts[1].result, PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(result.record.pixelCheckouts[1].gotWorld);
    EXPECT_EQ(result.record.calls.of(HostFunction::CheckoutLayerPixels), 2);
}

TEST_F(Faults, AWithheldSuiteIsRefusedAndCounted)
{
    tiny.host.faults().withheldSuites.insert(kPFIterate8Suite);
    const RenderResult result = tiny.host.render(source);
    EXPECT_NE(result.smartRender.err, PF_Err_NONE);
    const CommandTally &render = result.accounting.commands.at(1);
    bool seen = false;
    for (const SuiteUse &use : render.suites) {
        if (use.name == kPFIterate8Suite) {
            seen = true;
            EXPECT_EQ(use.refused, 1);
            EXPECT_EQ(use.acquired, 0);
        }
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(Faults, ANullWorldIsHandedOutWithoutAnError)
{
    tiny.host.faults().nullWorldCheckouts.insert(1);
    const RenderResult result = tiny.host.render(source);
    ASSERT_EQ(result.record.pixelCheckouts.size(), 3U);
    EXPECT_EQ(result.record.pixelCheckouts[1].result, PF_Err_NONE);
    EXPECT_FALSE(result.record.pixelCheckouts[1].gotWorld);
    EXPECT_TRUE(result.record.pixelCheckouts[2].gotWorld);
    EXPECT_EQ(result.smartRender.err, PF_Err_BAD_CALLBACK_PARAM); // the tiny effect refuses it
}

TEST_F(Faults, AFailedOutputCheckoutLeavesNoOutput)
{
    tiny.host.faults().failOutputCheckout = PF_Err_OUT_OF_MEMORY;
    const RenderResult result = tiny.host.render(source);
    EXPECT_EQ(result.smartRender.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(result.record.outputCheckouts, 1);
    EXPECT_FALSE(result.output.valid());
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(Faults, CancelAfterKPollsCancelsFromThatPollOn)
{
    tiny.host.faults().cancelAfterPolls = 2;
    const RenderResult result = tiny.host.render(source);
    EXPECT_EQ(result.smartRender.err, PF_Interrupt_CANCEL);
    EXPECT_EQ(result.record.abortPolls, 2); // row 0 went through, row 1 saw the cancel
    EXPECT_FALSE(tiny.host.cancelFlag().load());

    // Counting starts again with every render.
    tiny.host.faults().cancelAfterPolls = 3;
    EXPECT_EQ(tiny.host.render(source).smartRender.err, PF_Err_NONE);
}

TEST(SmallerWorld, IsASeparateCopyOfTheFramesTopLeftCorner)
{
    framemeld::scripted::reset();
    struct Seen {
        A_long width = 0, height = 0;
        int red = -1;
        bool ownStorage = false;
    } seen;
    static const World *s_frame = nullptr;
    framemeld::scripted::script().render = [&](PF_InData *in, PF_OutData *, void *extraP) {
        auto *extra = static_cast<PF_SmartRenderExtra *>(extraP);
        PF_EffectWorld *world = nullptr;
        const PF_Err err = extra->cb->checkout_layer_pixels(in->effect_ref, 0, &world);
        if (world) {
            seen.width = world->width;
            seen.height = world->height;
            seen.red = reinterpret_cast<PF_Pixel8 *>(world->data)[1].red;
            seen.ownStorage = world->data != s_frame->effectWorld()->data;
        }
        return err;
    };
    Host host(&framemeld::scripted::entry, HostOptions{1, {}, 0});
    ASSERT_TRUE(host.setup().ok());
    InMemoryFrameSource source(4, 3, PixelDepth::Bits8);
    addPatternFrames(source, 1);
    s_frame = &source.frame(0);
    host.faults().smallerWorldCheckouts[0] = SmallerWorld{2, 1};
    const RenderResult result = host.render(source);
    EXPECT_EQ(result.err(), PF_Err_NONE);
    EXPECT_EQ(seen.width, 2);
    EXPECT_EQ(seen.height, 1);
    EXPECT_EQ(seen.red, pattern(0, 1, 0, 1));
    EXPECT_TRUE(seen.ownStorage);
    framemeld::scripted::reset();
}

} // namespace
