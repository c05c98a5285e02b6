// Progress reports (order and scale) and interruption: during the frame checkout, per pixel in
// the row workers, and at the end of a row.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

constexpr unsigned char kFill = 0xAB; // a byte pattern no plate pixel of these clips can have

Sliders SixFrames()
{
    Sliders sliders;
    sliders.end = 5;
    return sliders;
}

std::vector<A_long> Done(const std::vector<rn::ProgressReport> &reports)
{
    std::vector<A_long> done;
    for (const rn::ProgressReport &report : reports) {
        done.push_back(report.done);
    }
    return done;
}

TEST(RenderProgress, CountsFrameCheckoutsThenRowsOnOneScale)
{
    const A_long n = 6;
    const int width = 4;
    const int height = 23;
    for (rn::PixelDepth depth :
         {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        auto clip = MakeClip(width, height, depth, 6);
        auto host = MakeHost(SixFrames(), HostSetup{1, 0});
        const rn::RenderResult result = host->render(*clip);
        ASSERT_EQ(result.err(), PF_Err_NONE);

        std::vector<A_long> expected;
        for (A_long i = 0; i < n; ++i) {
            expected.push_back(i);
        }
        if (depth == rn::PixelDepth::Float32) {
            for (A_long first_row : {0, 10, 20}) {
                expected.push_back(n + first_row); // from the band
                expected.push_back(n + first_row); // after the band
            }
        } else {
            for (A_long row = 0; row < height; ++row) {
                expected.push_back(n + row);
            }
        }
        EXPECT_EQ(Done(result.record.progress), expected);
        for (const rn::ProgressReport &report : result.record.progress) {
            EXPECT_EQ(report.total, n + height);
        }
        if (depth == rn::PixelDepth::Float32) {
            for (const rn::ProgressReport &report : result.record.iterateProgress) {
                EXPECT_GE(report.done, n);
                EXPECT_LE(report.done, n + height);
                EXPECT_EQ(report.total, n + height);
            }
        }
    }
}

TEST(RenderProgress, OnlyWorkerZeroReportsRowsWhenThreadsShareThem)
{
    auto clip = MakeClip(3, 40, rn::PixelDepth::Bits8, 6);
    auto host = MakeHost(SixFrames(), HostSetup{3, 0});
    const rn::RenderResult result = host->render(*clip);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    const std::vector<A_long> done = Done(result.record.progress);
    ASSERT_GE(done.size(), 6u);
    EXPECT_LE(done.size(), 6u + 40u);
    for (std::size_t i = 0; i < done.size(); ++i) {
        if (i < 6) {
            EXPECT_EQ(done[i], static_cast<A_long>(i));
        } else {
            EXPECT_GE(done[i], 6);
            EXPECT_LT(done[i], 46);
            if (i > 6) {
                EXPECT_GT(done[i], done[i - 1]); // worker 0 takes rows in increasing order
            }
        }
    }
}

TEST(RenderProgress, AnInterruptionDuringTheCheckoutStopsBeforeTheOutput)
{
    auto clip = MakeClip(3, 3, rn::PixelDepth::Bits8, 6);
    auto host = MakeHost(SixFrames());
    host->faults().callFaults = {{rn::HostFunction::Progress, 2, PF_Interrupt_CANCEL}};
    rn::RenderResult result = host->render(*clip);
    EXPECT_EQ(result.err(), PF_Interrupt_CANCEL);
    EXPECT_EQ(result.record.pixelCheckouts.size(), 2u);
    EXPECT_EQ(result.record.outputCheckouts, 0);
    EXPECT_EQ(result.record.calls.of(rn::HostFunction::IterateGeneric), 0);
    EXPECT_TRUE(Balanced(result.accounting));

    // The user cancels before the render starts: the first progress report answers it.
    host->faults() = {};
    host->cancelFlag() = true;
    result = host->render(*clip);
    host->cancelFlag() = false;
    EXPECT_EQ(result.err(), PF_Interrupt_CANCEL);
    EXPECT_EQ(result.record.pixelCheckouts.size(), 1u);
    EXPECT_FALSE(result.output.valid());
    EXPECT_TRUE(Balanced(result.accounting));
}

// Polls with one worker: the render's own abort check, then per pixel, then at the row's end.
TEST(RenderProgress, AnInterruptionPerPixelLeavesTheRestOfTheOutputAlone)
{
    const int width = 9;
    const int height = 4;
    const Sliders sliders = SixFrames();
    for (rn::PixelDepth depth : {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        auto clip = MakeClip(width, height, depth, 6);
        const rn::World expected =
            ExpectedPlate(SampledFrames(*clip, sliders), sliders, width, height, depth);
        struct Case {
            long cancelAt;
            int pixelsWritten; // in row 0; later rows stay untouched
        };
        for (const Case c : {Case{5, 3}, Case{width + 2, width}}) {
            SCOPED_TRACE(c.cancelAt);
            auto host = MakeHost(sliders, HostSetup{1, kFill});
            host->faults().cancelAfterPolls = c.cancelAt;
            const rn::RenderResult result = host->render(*clip);
            EXPECT_EQ(result.err(), PF_Interrupt_CANCEL);
            EXPECT_TRUE(Balanced(result.accounting));
            ASSERT_TRUE(result.output.valid());
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    if (y == 0 && x < c.pixelsWritten) {
                        EXPECT_FALSE(HoldsFill(result.output, x, y, kFill)) << x;
                    } else {
                        EXPECT_TRUE(HoldsFill(result.output, x, y, kFill)) << x << "," << y;
                    }
                }
            }
            // What was written is the plate.
            rn::World written = result.output.cropped(c.pixelsWritten, 1);
            EXPECT_TRUE(SamePixels(expected.cropped(c.pixelsWritten, 1), written));
            // No progress for row 0: worker 0 returned the interruption instead.
            EXPECT_EQ(result.record.progress.size(), 6u);
        }
    }
}

TEST(RenderProgress, AnInterruptionInAFloatRenderEndsIt)
{
    auto clip = MakeClip(5, 25, rn::PixelDepth::Float32, 6);
    for (long cancelAt : {1L, 3L, 20L}) {
        SCOPED_TRACE(cancelAt);
        auto host = MakeHost(SixFrames(), HostSetup{2, kFill});
        host->faults().cancelAfterPolls = cancelAt;
        const rn::RenderResult result = host->render(*clip);
        EXPECT_EQ(result.err(), PF_Interrupt_CANCEL);
        EXPECT_TRUE(Balanced(result.accounting));
    }
}

} // namespace
} // namespace framemeld::rendertest
