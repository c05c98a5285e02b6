// The module loaded through the CLI's session, as main() drives it.
#include "cli/plugin/PluginSession.h"
#include "cli/plan/SamplingPlan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "runner/FrameSource.h"

using namespace framemeld::cli;
using framemeld::runner::InMemoryFrameSource;
using framemeld::runner::PixelDepth;
using testing::HasSubstr;

namespace {

InMemoryFrameSource greySource(int frames)
{
    InMemoryFrameSource source(40, 30, PixelDepth::Bits8);
    for (int f = 0; f < frames; ++f) {
        auto &world = source.addFrame();
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                world.at<PF_Pixel8>(x, y) = PF_Pixel8{255, 60, 60, 60};
            }
        }
    }
    return source;
}

TEST(PluginSession, RendersWithThePlannedSlidersAndReportsProgress)
{
    PluginSession session(test::modulePath(), 2);
    InMemoryFrameSource source = greySource(4);
    SliderRequest options;
    options.every = 2;
    session.apply(planSampling(options, session.sliderRanges(), FrameNumbering{4}));
    // Reports may come from the render's worker threads.
    std::atomic<long> lastDone{0}, lastTotal{0};
    const auto plate = session.render(source, [&](long done, long total) {
        lastDone = done;
        lastTotal = total;
    });
    ASSERT_TRUE(plate.valid());
    EXPECT_EQ(plate.at<PF_Pixel8>(39, 29).red, 60);
    EXPECT_GT(lastTotal.load(), 0);
    EXPECT_GT(lastDone.load(), 0);
}

TEST(PluginSession, ACancelDuringTheRenderStopsIt)
{
    PluginSession session(test::modulePath(), 2);
    InMemoryFrameSource source = greySource(6);
    session.apply(planSampling(SliderRequest{}, session.sliderRanges(), FrameNumbering{6}));
    std::atomic<long> reports{0};
    EXPECT_THROW(session.render(source,
                                [&](long, long) {
                                    if (++reports == 1) {
                                        session.cancelFlag().store(true);
                                    }
                                }),
                 CancelledError);
    EXPECT_GE(reports.load(), 1);
}

TEST(PluginSession, AFileThatIsNoModuleIsNamed)
{
    try {
        PluginSession session(FRAMEMELD_CLI_PATH, 1); // an executable, not a plug-in module
        FAIL() << "loaded a program as a module";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr("cannot load the plug-in module"));
        EXPECT_THAT(error.what(), HasSubstr(FRAMEMELD_CLI_PATH));
    }
}

} // namespace
