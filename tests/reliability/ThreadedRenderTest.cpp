// Renders on many worker threads (FRAMEMELD_TEST_THREADS, 8 when unset), meant to run under
// ThreadSanitizer as well: plates at every depth, a cancel arriving while every worker is busy,
// faults hitting whichever worker makes the k-th call, and several hosts on several threads.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ReliabilityKit.h"

namespace framemeld::reliability {
namespace {

constexpr PF_Err kInjected = 0x4D2;
const rn::PixelDepth kDepths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                  rn::PixelDepth::Float32};

std::string DepthName(rn::PixelDepth depth)
{
    return std::to_string(rn::bitsPerChannel(depth)) + "-bit";
}

Sliders EverySecondFrame()
{
    Sliders sliders;
    sliders.start = 1;
    sliders.end = 17;
    sliders.every = 2;
    sliders.divergence = 4;
    sliders.ratingRange = 2;
    return sliders;
}

TEST(ThreadedRender, EveryDepthDrawsThePlateOnManyWorkers)
{
    const unsigned threads = WorkerThreads(8);
    for (rn::PixelDepth depth : kDepths) {
        SCOPED_TRACE(DepthName(depth) + " on " + std::to_string(threads) + " workers");
        auto clip = MakeHostileClip(17, 43, depth, 18, 3);
        auto host = NewHost(threads);
        const Sliders sliders = SetSliders(*host, EverySecondFrame());
        const rn::World plate = ExpectedPlate(*clip, sliders);
        const ClipSnapshot footage(*clip);
        for (int round = 0; round < 3; ++round) {
            const CheckedRender run =
                RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, &footage});
            EXPECT_TRUE(run.ok()) << run.Report();
        }
    }
}

// The user cancels a third of the way through: from then on the host answers every poll and
// progress report with the cancel code while the other workers are still drawing their rows.
// Worker 0 makes the report that cancels (only it reports rows), so the cancel reaches the host
// with it; should worker 0 get no row that far down, the render has to finish whole instead.
TEST(ThreadedRender, ACancelPartWayStopsEveryWorker)
{
    const unsigned threads = WorkerThreads(8);
    for (rn::PixelDepth depth : kDepths) {
        SCOPED_TRACE(DepthName(depth));
        const int height = 61;
        auto clip = MakeHostileClip(9, height, depth, 18, 4);
        auto host = NewHost(threads);
        const Sliders sliders = SetSliders(*host, EverySecondFrame());
        const rn::World plate = ExpectedPlate(*clip, sliders);
        const A_long frames = 9;
        std::atomic<bool> &cancel = host->cancelFlag();
        host->setProgressHook([&cancel, frames, height](A_long done, A_long) {
            if (done >= frames + height / 3) {
                cancel.store(true);
            }
        });
        int cancelled = 0;
        for (int round = 0; round < 4; ++round) {
            cancel.store(false);
            const CheckedRender run =
                RenderAndCheck(*host, *clip, Expectation{&plate, kFill, false, nullptr});
            EXPECT_TRUE(run.ok()) << run.Report();
            if (cancel.load()) {
                ++cancelled;
                EXPECT_EQ(run.result.err(), PF_Interrupt_CANCEL);
            } else {
                EXPECT_EQ(run.result.err(), PF_Err_NONE);
                EXPECT_EQ(UndrawnPixels(run.result.output), 0);
            }
        }
        cancel.store(false);
        host->setProgressHook({});
        RecordProperty(DepthName(depth) + " renders cancelled", cancelled);
    }
}

// Every fifth host call failing in turn, with the calls spread over all workers.
TEST(ThreadedRender, FaultsOnAnyWorkerAreAnsweredCleanly)
{
    const unsigned threads = WorkerThreads(8);
    for (rn::PixelDepth depth : kDepths) {
        SCOPED_TRACE(DepthName(depth));
        auto clip = MakeHostileClip(5, 23, depth, 5, 6);
        auto host = NewHost(threads);
        Sliders wanted;
        wanted.end = 4;
        const Sliders sliders = SetSliders(*host, wanted);
        const rn::World plate = ExpectedPlate(*clip, sliders);
        const CheckedRender clean =
            RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, nullptr});
        ASSERT_TRUE(clean.ok()) << clean.Report();
        for (long k = 1; k <= clean.result.record.calls.total; k += 5) {
            host->faults().failNthCall = k;
            host->faults().failNthCallCode = kInjected;
            const CheckedRender run =
                RenderAndCheck(*host, *clip, Expectation{&plate, kFill, false, nullptr});
            SCOPED_TRACE("call " + std::to_string(k));
            EXPECT_TRUE(run.ok()) << run.Report();
            const PF_Err err = run.result.err();
            EXPECT_TRUE(err == PF_Err_NONE || err == kInjected || err == PF_Err_BAD_CALLBACK_PARAM)
                << err;
        }
        host->faults() = {};
    }
}

// Hosts on separate threads take turns inside the runner, but the plug-in is entered from all of
// those threads, each with its own records.
TEST(ThreadedRender, HostsOnSeveralThreadsEachGetTheirOwnPlate)
{
    const unsigned workers = WorkerThreads(8);
    struct Job {
        rn::PixelDepth depth;
        std::uint32_t seed;
        std::vector<std::string> problems;
    };
    std::vector<Job> jobs = {{rn::PixelDepth::Bits8, 21, {}},
                             {rn::PixelDepth::Bits16, 22, {}},
                             {rn::PixelDepth::Float32, 23, {}},
                             {rn::PixelDepth::Bits8, 24, {}}};
    std::vector<std::thread> threads;
    for (Job &job : jobs) {
        threads.emplace_back([&job, workers] {
            auto clip = MakeHostileClip(11, 14, job.depth, 12, job.seed);
            auto host = NewHost(workers);
            for (int round = 0; round < 4; ++round) {
                Sliders wanted = EverySecondFrame();
                wanted.start = round;
                const Sliders sliders = SetSliders(*host, wanted);
                const rn::World plate = ExpectedPlate(*clip, sliders);
                Expectation expectation{&plate, kFill, true, nullptr};
                expectation.heapBalance =
                    false; // the other threads' renders move the books meanwhile
                const CheckedRender run = RenderAndCheck(*host, *clip, expectation);
                if (!run.ok()) {
                    job.problems.push_back(run.Report());
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (const Job &job : jobs) {
        for (const std::string &problem : job.problems) {
            ADD_FAILURE() << DepthName(job.depth) << ": " << problem;
        }
    }
}

// A cancel that arrives after worker 0 has polled at the end of its last row must still reach the
// host: the other workers skip their remaining pixels and return PF_Err_NONE, so without a poll
// after the rows the render would report success with pixels it never drew.
TEST(ThreadedRender, ACancelAfterWorkerZerosLastRowStillReachesTheHost)
{
    for (rn::PixelDepth depth : {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16}) {
        SCOPED_TRACE(DepthName(depth));
        auto clip = MakeHostileClip(60, 3, depth, 3, 1);
        auto host = NewHost(2);
        Sliders wanted;
        wanted.end = 2;
        const Sliders sliders = SetSliders(*host, wanted);
        const rn::World plate = ExpectedPlate(*clip, sliders);
        const CheckedRender clean =
            RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, nullptr});
        ASSERT_TRUE(clean.ok()) << clean.Report();
        const long polls = clean.result.record.abortPolls;
        for (long k = polls - 70; k <= polls; ++k) {
            host->faults().cancelAfterPolls = k;
            const CheckedRender run =
                RenderAndCheck(*host, *clip, Expectation{&plate, kFill, false, nullptr});
            EXPECT_TRUE(run.ok()) << run.Report();
            if (run.result.err() == PF_Err_NONE) {
                EXPECT_EQ(UndrawnPixels(run.result.output), 0)
                    << "cancel at poll " << k << " of " << polls;
            }
        }
    }
}

} // namespace
} // namespace framemeld::reliability
