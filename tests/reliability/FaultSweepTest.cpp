// Every host call the plug-in makes, failing in turn: during setup and About, and during a render
// at each depth (pre-render and render counted together, as the host counts one frame). Then a
// cancel at every poll, and every suite withheld. After each run the plug-in must have answered
// with the injected code (or the one it owes for that call), kept the runner's books balanced,
// freed its pre-render data and every heap block, drawn nothing but plate pixels and written
// nothing into the footage.
#include <iostream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "AE_EffectCBSuites.h"
#include "AllocationLedger.h"
#include "ReliabilityKit.h"

namespace framemeld::reliability {
namespace {

constexpr PF_Err kInjected = 0x4D2; // a code the plug-in never makes up itself

const rn::PixelDepth kDepths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                  rn::PixelDepth::Float32};

std::string DepthName(rn::PixelDepth depth)
{
    return std::to_string(rn::bitsPerChannel(depth)) + "-bit";
}

// Three sampled frames of a clip tall enough for a float render to make a full and a partial band.
Sliders ThreeFrames()
{
    Sliders sliders;
    sliders.end = 2;
    sliders.divergence = 3;
    sliders.ratingRange = 1.5;
    return sliders;
}

struct SweepCase {
    rn::PixelDepth depth;
    unsigned threads;
    bool oddWorlds; // sampled frame 1 comes as a null world, frame 2 smaller than the output
};

std::string CaseName(const ::testing::TestParamInfo<SweepCase> &info)
{
    return "Bits" + std::to_string(rn::bitsPerChannel(info.param.depth)) +
           (info.param.oddWorlds ? "OddWorlds" : "");
}

class RenderFaultSweep : public ::testing::TestWithParam<SweepCase> {
protected:
    void SetUp() override
    {
        const SweepCase c = GetParam();
        clip = MakeHostileClip(3, 12, c.depth, 3, 11);
        host = NewHost(c.threads);
        sliders = SetSliders(*host, ThreeFrames());
        if (c.oddWorlds) {
            base.nullWorldCheckouts = {1};
            base.smallerWorldCheckouts = {{2, rn::SmallerWorld{2, 7}}};
        }
        plate = ExpectedPlate(*clip, sliders, base);
        footage = std::make_unique<ClipSnapshot>(*clip);
    }

    Expectation Expect(bool complete) const
    {
        Expectation expectation;
        expectation.plate = &plate;
        expectation.complete = complete;
        expectation.footage = footage.get();
        return expectation;
    }

    std::unique_ptr<rn::InMemoryFrameSource> clip;
    std::unique_ptr<rn::Host> host;
    Sliders sliders;
    rn::FaultPlan base;
    rn::World plate;
    std::unique_ptr<ClipSnapshot> footage;
};

TEST_P(RenderFaultSweep, EachHostCallFailingInTurnIsAnsweredCleanly)
{
    host->faults() = base;
    const framemeld::ledger::Books before = framemeld::ledger::Read();
    const CheckedRender clean = RenderAndCheck(*host, *clip, Expect(true));
    ASSERT_TRUE(clean.ok()) << clean.Report();
    // The heap checks below mean something only if the ledger sees the module allocate.
    ASSERT_GT(framemeld::ledger::Read().totalBlocks, before.totalBlocks);
    const long calls = clean.result.record.calls.total;
    ASSERT_GT(calls, 30);

    std::set<rn::HostFunction> faulted;
    long injected = 0;
    for (long k = 1; k <= calls; ++k) {
        rn::FaultPlan plan = base;
        plan.failNthCall = k;
        plan.failNthCallCode = kInjected;
        host->faults() = plan;
        const CheckedRender run = RenderAndCheck(*host, *clip, Expect(false));
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(calls));
        EXPECT_TRUE(run.ok()) << run.Report();

        const rn::RenderResult &result = run.result;
        if (result.record.injectedFaults.empty()) {
            // Rows went to the workers differently this time and the render made fewer calls.
            EXPECT_GT(GetParam().threads, 1u);
            EXPECT_EQ(result.err(), PF_Err_NONE);
            EXPECT_TRUE(OutputProblems(result.output, Expect(true)).empty());
            continue;
        }
        ASSERT_EQ(result.record.injectedFaults.size(), 1u);
        ++injected;
        const rn::HostFunction failed = result.record.injectedFaults.front().function;
        faulted.insert(failed);
        SCOPED_TRACE(rn::hostFunctionName(failed));
        switch (failed) {
        case rn::HostFunction::CheckinParam:
        case rn::HostFunction::ReleaseSuite:
            // Giving something back cannot be refused: nothing to undo, the plate is whole.
            EXPECT_EQ(result.err(), PF_Err_NONE);
            EXPECT_TRUE(OutputProblems(result.output, Expect(true)).empty());
            break;
        case rn::HostFunction::AcquireSuite:
            EXPECT_EQ(result.err(), PF_Err_BAD_CALLBACK_PARAM);
            break;
        case rn::HostFunction::Abort:
            // A per-pixel poll skips its pixel and carries on; any other poll ends the render.
            if (result.err() == PF_Err_NONE) {
                EXPECT_NE(GetParam().depth, rn::PixelDepth::Float32);
                EXPECT_EQ(UndrawnPixels(result.output), 1);
            } else {
                EXPECT_EQ(result.err(), kInjected);
            }
            break;
        default: EXPECT_EQ(result.err(), kInjected); break;
        }
    }
    host->faults() = {};

    // The sweep reached every kind of call that the clean render made. With several workers the
    // calls of one render come in another order (and number) than in the clean one.
    for (std::size_t f = 0; f < rn::kHostFunctionCount && GetParam().threads == 1; ++f) {
        if (clean.result.record.calls.perFunction[f] > 0) {
            EXPECT_EQ(faulted.count(static_cast<rn::HostFunction>(f)), 1u)
                << rn::hostFunctionName(static_cast<rn::HostFunction>(f)) << " never failed";
        }
    }
    std::cout << "[ sweep    ] " << DepthName(GetParam().depth) << ", " << GetParam().threads
              << " thread(s): " << injected << " faults injected over " << calls << " calls\n";
}

// One worker polls in a fixed order, so a cancel arriving at any poll must reach the host (with
// several workers see ThreadedRenderTest).
using CancelSweep = RenderFaultSweep;

TEST_P(CancelSweep, ACancelAtEveryPollEndsTheRenderWithTheCancelCode)
{
    host->faults() = base;
    const CheckedRender clean = RenderAndCheck(*host, *clip, Expect(true));
    ASSERT_TRUE(clean.ok()) << clean.Report();
    const long polls = clean.result.record.abortPolls + clean.result.record.iterateCancelPolls;
    ASSERT_GT(polls, 3);

    for (long k = 1; k <= polls; ++k) {
        rn::FaultPlan plan = base;
        plan.cancelAfterPolls = k;
        host->faults() = plan;
        const CheckedRender run = RenderAndCheck(*host, *clip, Expect(false));
        SCOPED_TRACE("cancel at poll " + std::to_string(k) + " of " + std::to_string(polls));
        EXPECT_TRUE(run.ok()) << run.Report();
        EXPECT_EQ(run.result.err(), PF_Interrupt_CANCEL);
        // Once cancelled the render stops asking: at most the polls of the row it was in follow.
        EXPECT_LE(run.result.record.abortPolls + run.result.record.iterateCancelPolls,
                  k + clip->width() + 1);
    }
    host->faults() = {};
    std::cout << "[ sweep    ] " << DepthName(GetParam().depth) << ": cancelled at each of "
              << polls << " polls\n";
}

const SweepCase kOneWorker[] = {
    {rn::PixelDepth::Bits8, 1, false},   {rn::PixelDepth::Bits16, 1, false},
    {rn::PixelDepth::Float32, 1, false}, {rn::PixelDepth::Bits8, 1, true},
    {rn::PixelDepth::Bits16, 1, true},   {rn::PixelDepth::Float32, 1, true}};
const SweepCase kManyWorkers[] = {{rn::PixelDepth::Bits8, WorkerThreads(4), false},
                                  {rn::PixelDepth::Bits16, WorkerThreads(4), true},
                                  {rn::PixelDepth::Float32, WorkerThreads(4), true}};

INSTANTIATE_TEST_SUITE_P(OneWorker, RenderFaultSweep, ::testing::ValuesIn(kOneWorker), CaseName);
INSTANTIATE_TEST_SUITE_P(ManyWorkers, RenderFaultSweep, ::testing::ValuesIn(kManyWorkers),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(OneWorker, CancelSweep, ::testing::ValuesIn(kOneWorker), CaseName);

// A suite the render needs is "bad callback parameter" when withheld; one it does not need
// changes nothing. The world suite's absence is also shown to the user.
TEST(WithheldSuites, EachSuiteWithheldInTurn)
{
    const char *offered[] = {kPFANSISuite, kPFWorldSuite, kPFIterate8Suite, kPFIterateFloatSuite};
    for (rn::PixelDepth depth : kDepths) {
        auto clip = MakeHostileClip(4, 11, depth, 4, 5);
        auto host = NewHost(2);
        const Sliders sliders = SetSliders(*host, ThreeFrames());
        const rn::World plate = ExpectedPlate(*clip, sliders);
        const ClipSnapshot footage(*clip);
        Expectation whole{&plate, kFill, true, &footage};
        const CheckedRender clean = RenderAndCheck(*host, *clip, whole);
        ASSERT_TRUE(clean.ok()) << clean.Report();
        std::set<std::string> used;
        for (const rn::CommandTally &command : clean.result.accounting.commands) {
            for (const rn::SuiteUse &suite : command.suites) {
                used.insert(suite.name);
            }
        }

        for (const char *suite : offered) {
            SCOPED_TRACE(DepthName(depth) + " without " + suite);
            host->faults().withheldSuites = {suite};
            const bool needed = used.count(suite) != 0;
            Expectation expectation{&plate, kFill, !needed, &footage};
            const CheckedRender run = RenderAndCheck(*host, *clip, expectation);
            EXPECT_TRUE(run.ok()) << run.Report();
            EXPECT_EQ(run.result.err(), needed ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE);
            if (needed) {
                EXPECT_EQ(UndrawnPixels(run.result.output),
                          run.result.output.width() * run.result.output.height());
            }
            const bool shown =
                (run.result.smartRender.out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
            EXPECT_EQ(shown, std::string(suite) == kPFWorldSuite);
            EXPECT_EQ(run.result.smartRender.message(), shown ? "Couldn't load suite." : "");
        }
        host->faults() = {};
    }
}

// Setup registers the sliders through add_param; About prints through the ANSI suite. Each of
// their calls failing in turn gives the error back and leaves a host that can set up again.
TEST(SetupFaultSweep, EachCallOfSetupAndAboutFailingInTurn)
{
    rn::Host clean(Module(), rn::HostOptions{1, {}, kFill});
    const rn::SetupResult cleanSetup = clean.setup();
    ASSERT_TRUE(cleanSetup.ok());
    const long setupCalls = cleanSetup.record.calls.total;
    EXPECT_EQ(setupCalls, cleanSetup.record.calls.of(rn::HostFunction::AddParam));
    ASSERT_GE(setupCalls, 5);

    for (long k = 1; k <= setupCalls; ++k) {
        SCOPED_TRACE("setup call " + std::to_string(k));
        rn::Host host(Module(), rn::HostOptions{1, {}, kFill});
        host.faults().failNthCall = k;
        host.faults().failNthCallCode = kInjected;
        const rn::SetupResult failed = host.setup();
        EXPECT_FALSE(failed.ok());
        EXPECT_EQ(failed.globalSetup.err, PF_Err_NONE);
        EXPECT_EQ(failed.paramsSetup.err, kInjected);
        EXPECT_EQ(static_cast<long>(host.parameters().size()), k - 1);
        EXPECT_TRUE(rn::violations(failed.accounting).empty());

        host.faults() = {};
        const rn::SetupResult again = host.setup();
        EXPECT_TRUE(again.ok());
        EXPECT_EQ(host.parameters().size(), clean.parameters().size());
    }

    const rn::CommandReport about = clean.sendCommand(PF_Cmd_ABOUT);
    ASSERT_EQ(about.outcome.err, PF_Err_NONE);
    const long aboutCalls = about.record.calls.total;
    ASSERT_GE(aboutCalls, 2); // acquire and release the ANSI suite
    for (long k = 1; k <= aboutCalls; ++k) {
        SCOPED_TRACE("About call " + std::to_string(k));
        clean.faults().failNthCall = k;
        clean.faults().failNthCallCode = kInjected;
        const rn::CommandReport run = clean.sendCommand(PF_Cmd_ABOUT);
        ASSERT_EQ(run.record.injectedFaults.size(), 1u);
        EXPECT_TRUE(rn::violations(run.accounting).empty());
        if (run.record.injectedFaults.front().function == rn::HostFunction::AcquireSuite) {
            EXPECT_EQ(run.outcome.err, PF_Err_BAD_CALLBACK_PARAM);
            EXPECT_EQ(run.outcome.message(), "");
        } else {
            EXPECT_EQ(run.outcome.err, PF_Err_NONE);
            EXPECT_EQ(run.outcome.message(), about.outcome.message());
        }
    }
    clean.faults() = {};
    std::cout << "[ sweep    ] setup: " << setupCalls << " faults, About: " << aboutCalls
              << " faults\n";
}

} // namespace
} // namespace framemeld::reliability
