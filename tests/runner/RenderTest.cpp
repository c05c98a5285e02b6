#include <atomic>
#include <tuple>

#include "TinyEffectFixture.h"

using namespace framemeld::runnertest;

namespace {

enum Path { Generic = 1, Iterate = 2, OncePerWorker = 3 };

class RenderEveryDepthAndPath : public ::testing::TestWithParam<std::tuple<PixelDepth, int>> {};

TEST_P(RenderEveryDepthAndPath, DrawsTheMeanOfTheRequestedFramesWithCleanAccounting)
{
    const auto [depth, path] = GetParam();
    TinyEffectHost tiny(3);
    tiny.host.setParameter("Frames", 3);
    tiny.host.setParameter("Gain", 1.5);
    tiny.host.setParameter("Path", path);

    InMemoryFrameSource source(7, 5, depth);
    addPatternFrames(source, 4);
    RenderRequest request;
    request.frame = 2;
    request.timeStep = 2;
    request.timeScale = 50;
    const RenderResult result = tiny.host.render(source, request);

    ASSERT_EQ(result.err(), PF_Err_NONE);
    EXPECT_TRUE(violations(result.accounting).empty()) << violations(result.accounting).front();
    ASSERT_TRUE(result.output.valid());
    EXPECT_EQ(result.output.width(), 7);
    EXPECT_EQ(result.output.height(), 5);
    EXPECT_EQ(result.output.depth(), depth);
    expectMeanImage(result.output, 3, 3, 1.5);

    ASSERT_EQ(result.record.layerRequests.size(), 3U);
    for (A_long i = 0; i < 3; ++i) {
        const LayerRequest &r = result.record.layerRequests[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.checkoutId, i);
        EXPECT_EQ(r.whatTime, i * 2);
        EXPECT_EQ(r.timeScale, 50U);
        EXPECT_EQ(r.frame, i);
    }
    ASSERT_EQ(result.record.pixelCheckouts.size(), 3U);
    for (const PixelCheckout &c : result.record.pixelCheckouts) {
        EXPECT_TRUE(c.gotWorld);
    }
    EXPECT_EQ(result.record.outputCheckouts, 1);
    EXPECT_EQ(result.accounting.preRenderDataDeletes, 1);
    ASSERT_EQ(result.accounting.commands.size(), 2U);
    EXPECT_EQ(result.accounting.commands[0].paramCheckouts, 3);
}

INSTANTIATE_TEST_SUITE_P(Tiny, RenderEveryDepthAndPath,
                         ::testing::Combine(::testing::Values(PixelDepth::Bits8, PixelDepth::Bits16,
                                                              PixelDepth::Float32),
                                            ::testing::Values(Generic, Iterate, OncePerWorker)));

TEST(Render, TimesOutsideTheClipGiveTransparentFrames)
{
    TinyEffectHost tiny(2);
    tiny.host.setParameter("Frames", 4);
    InMemoryFrameSource source(3, 2, PixelDepth::Bits16);
    addPatternFrames(source, 2);
    const RenderResult result = tiny.host.render(source);

    ASSERT_EQ(result.err(), PF_Err_NONE);
    ASSERT_EQ(result.record.layerRequests.size(), 4U);
    EXPECT_EQ(result.record.layerRequests[1].frame, 1);
    EXPECT_FALSE(result.record.layerRequests[2].frame.has_value());
    EXPECT_FALSE(result.record.layerRequests[3].frame.has_value());
    expectMeanImage(result.output, 4, 2, 1.0);
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST(Render, TheOutputCoversTheRequestedAreaOnly)
{
    TinyEffectHost tiny(1);
    InMemoryFrameSource source(6, 6, PixelDepth::Bits8);
    addPatternFrames(source, 3);
    RenderRequest request;
    request.area = PF_LRect{1, 2, 4, 9};
    const RenderResult result = tiny.host.render(source, request);

    ASSERT_EQ(result.err(), PF_Err_NONE);
    EXPECT_EQ(result.output.width(), 3);
    EXPECT_EQ(result.output.height(), 4);
    EXPECT_EQ(result.output.effectWorld()->origin_x, 1);
    EXPECT_EQ(result.output.effectWorld()->origin_y, 2);
}

TEST(Render, ProgressReportsReachTheHookInOrder)
{
    TinyEffectHost tiny(1);
    std::vector<std::pair<A_long, A_long>> seen;
    tiny.host.setProgressHook([&](A_long done, A_long total) { seen.emplace_back(done, total); });
    InMemoryFrameSource source(2, 4, PixelDepth::Bits8);
    addPatternFrames(source, 3);
    const RenderResult result = tiny.host.render(source);

    ASSERT_EQ(result.err(), PF_Err_NONE);
    const std::vector<std::pair<A_long, A_long>> expected{{1, 4}, {2, 4}, {3, 4}, {4, 4}};
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(result.record.progress.size(), 4U);
    EXPECT_EQ(result.record.progress.back().done, 4);
    EXPECT_EQ(result.record.abortPolls, 4);
}

TEST(Render, ACancelRequestAnswersPollsAndProgressWithTheCancelCode)
{
    TinyEffectHost tiny(2);
    InMemoryFrameSource source(4, 4, PixelDepth::Float32);
    addPatternFrames(source, 3);
    tiny.host.cancelFlag() = true;
    const RenderResult cancelled = tiny.host.render(source);
    EXPECT_EQ(cancelled.smartRender.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(violations(cancelled.accounting).empty());
    EXPECT_EQ(cancelled.accounting.preRenderDataDeletes, 1);

    // The runner leaves the flag to its owner.
    EXPECT_TRUE(tiny.host.cancelFlag().load());
    tiny.host.cancelFlag() = false;
    EXPECT_EQ(tiny.host.render(source).err(), PF_Err_NONE);
}

// A caller that routes Ctrl-C to a flag before the host exists hands that flag to the host, which
// then answers to it and never to one of its own.
TEST(Render, AnOutsideCancelFlagIsTheOneTheHostAnswersTo)
{
    std::atomic<bool> outside{false};
    TinyEffectModule tinyModule;
    HostOptions options{2, {}, 0};
    options.cancel = &outside;
    Host host(tinyModule.module.entryPoint(), options);
    ASSERT_TRUE(host.setup().ok());
    EXPECT_EQ(&host.cancelFlag(), &outside);
    InMemoryFrameSource source(4, 4, PixelDepth::Float32);
    addPatternFrames(source, 3);
    outside = true;
    EXPECT_EQ(host.render(source).smartRender.err, PF_Interrupt_CANCEL);
    outside = false;
    EXPECT_EQ(host.render(source).err(), PF_Err_NONE);
}

TEST(Render, RejectsRequestsItCannotExpressInHostTime)
{
    TinyEffectHost tiny(1);
    InMemoryFrameSource source(2, 2, PixelDepth::Bits8);
    addPatternFrames(source, 1);
    RenderRequest request;
    request.timeStep = 0;
    EXPECT_THROW(tiny.host.render(source, request), std::invalid_argument);
    request.timeStep = 1 << 20;
    request.frame = 1 << 12;
    EXPECT_THROW(tiny.host.render(source, request), std::invalid_argument);
}

} // namespace
