// The iterate family as the runner offers it: worker threads, indices, clipping, progress,
// cancel and errors, seen from inside a scripted effect's render.
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "ScriptedEffect.h"
#include "runner/Host.h"

using namespace framemeld::runner;

namespace {

struct Worlds {
    PF_EffectWorld *frame = nullptr;
    PF_EffectWorld *output = nullptr;
};

// Runs `body` inside SMART_RENDER with frame 0 and the output checked out.
class IterateFixture : public ::testing::Test {
protected:
    void SetUp() override { framemeld::scripted::reset(); }
    void TearDown() override { framemeld::scripted::reset(); }

    RenderResult renderWith(unsigned threads, PixelDepth depth, int width, int height,
                            std::function<PF_Err(PF_InData *, Worlds)> body,
                            std::optional<PF_LRect> area = std::nullopt)
    {
        framemeld::scripted::script().render = [body](PF_InData *in, PF_OutData *, void *extraP) {
            auto *extra = static_cast<PF_SmartRenderExtra *>(extraP);
            Worlds worlds;
            PF_Err err = extra->cb->checkout_layer_pixels(in->effect_ref, 0, &worlds.frame);
            if (!err) {
                err = extra->cb->checkout_output(in->effect_ref, &worlds.output);
            }
            return err ? err : body(in, worlds);
        };
        host = std::make_unique<Host>(&framemeld::scripted::entry, HostOptions{threads, {}, 0});
        host->faults() = plan;
        EXPECT_TRUE(host->setup().ok());
        InMemoryFrameSource source(width, height, depth);
        source.addFrame();
        RenderRequest request;
        request.area = area;
        return host->render(source, request);
    }

    FaultPlan plan;
    std::unique_ptr<Host> host;
};

const PF_Iterate8Suite1 *iterate8Suite(PF_InData *in)
{
    const void *suite = nullptr;
    in->pica_basicP->AcquireSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1, &suite);
    return static_cast<const PF_Iterate8Suite1 *>(suite);
}

void releaseIterate8(PF_InData *in)
{
    in->pica_basicP->ReleaseSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1);
}

constexpr unsigned kThreads = 3;

struct GenericLog {
    std::array<std::atomic<int>, kThreads> busy{};
    std::array<std::atomic<int>, 512> visits{};
    std::atomic<int> overlaps{0};
    std::atomic<int> outOfRange{0};
    std::atomic<int> calls{0};
    std::atomic<A_long> iterationsSeen{0};
    std::atomic<A_long> failAt{-1};
};
GenericLog *g_log = nullptr;

PF_Err loggingIteration(void *, A_long thread, A_long i, A_long iterations)
{
    GenericLog &log = *g_log;
    ++log.calls;
    log.iterationsSeen = iterations;
    if (thread < 0 || thread >= static_cast<A_long>(kThreads) || i < 0 || i >= 512) {
        ++log.outOfRange;
        return PF_Err_NONE;
    }
    if (log.busy[static_cast<std::size_t>(thread)].exchange(1) != 0) {
        ++log.overlaps;
    }
    ++log.visits[static_cast<std::size_t>(i)];
    volatile int spin = 0;
    for (int k = 0; k < 2000; ++k) {
        spin = spin + k;
    }
    log.busy[static_cast<std::size_t>(thread)] = 0;
    return i == log.failAt ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
}

TEST_F(IterateFixture, GenericIterationsEachRunOnceOnWorkersThatNeverShareAnIndex)
{
    GenericLog log;
    g_log = &log;
    PF_Err err = PF_Err_NONE;
    const RenderResult result =
        renderWith(kThreads, PixelDepth::Bits8, 2, 2, [&](PF_InData *in, Worlds) {
            const PF_Iterate8Suite1 *suite = iterate8Suite(in);
            err = suite->iterate_generic(300, nullptr, &loggingIteration);
            PF_Err viaUtils = in->utils->iterate_generic(200, nullptr, &loggingIteration);
            releaseIterate8(in);
            return err ? err : viaUtils;
        });
    EXPECT_EQ(result.err(), PF_Err_NONE);
    EXPECT_EQ(log.calls.load(), 500);
    EXPECT_EQ(log.overlaps.load(), 0);
    EXPECT_EQ(log.outOfRange.load(), 0);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(log.visits[static_cast<std::size_t>(i)].load(), i < 200 ? 2 : 1) << i;
    }
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(IterateFixture, OncePerProcessorMakesOneCallPerWorkerWithItsOwnIndex)
{
    GenericLog log;
    g_log = &log;
    static std::mutex mutex;
    static std::vector<std::pair<A_long, A_long>> pairs;
    pairs.clear();
    const RenderResult result =
        renderWith(kThreads, PixelDepth::Bits8, 2, 2, [&](PF_InData *in, Worlds) {
            return in->utils->iterate_generic(
                PF_Iterations_ONCE_PER_PROCESSOR, nullptr,
                [](void *refcon, A_long thread, A_long i, A_long iterations) {
                    std::lock_guard<std::mutex> lock(mutex);
                    pairs.emplace_back(thread, i);
                    return loggingIteration(refcon, thread, i, iterations);
                });
        });
    EXPECT_EQ(result.err(), PF_Err_NONE);
    EXPECT_EQ(log.iterationsSeen.load(), static_cast<A_long>(kThreads));
    ASSERT_EQ(pairs.size(), kThreads);
    for (const auto &[thread, i] : pairs) {
        EXPECT_EQ(thread, i);
    }
}

TEST_F(IterateFixture, TheFirstGenericErrorIsReturnedAndLaterIterationsAreNotStarted)
{
    GenericLog log;
    log.failAt = 5;
    g_log = &log;
    const RenderResult result = renderWith(1, PixelDepth::Bits8, 2, 2, [&](PF_InData *in, Worlds) {
        return in->utils->iterate_generic(100, nullptr, &loggingIteration);
    });
    EXPECT_EQ(result.smartRender.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(log.calls.load(), 6);

    GenericLog threaded;
    threaded.failAt = 5;
    g_log = &threaded;
    const RenderResult many =
        renderWith(kThreads, PixelDepth::Bits8, 2, 2, [&](PF_InData *in, Worlds) {
            return in->utils->iterate_generic(400, nullptr, &loggingIteration);
        });
    EXPECT_EQ(many.smartRender.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_LT(threaded.calls.load(), 400);
}

TEST_F(IterateFixture, GenericIterateRefusesBadArguments)
{
    std::array<PF_Err, 3> errs{};
    renderWith(1, PixelDepth::Bits8, 2, 2, [&](PF_InData *in, Worlds) {
        errs[0] = in->utils->iterate_generic(-2, nullptr, &loggingIteration);
        errs[1] = in->utils->iterate_generic(3, nullptr, nullptr);
        errs[2] = in->utils->iterate_generic(0, nullptr, &loggingIteration);
        return PF_Err_NONE;
    });
    EXPECT_EQ(errs[0], PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(errs[1], PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(errs[2], PF_Err_NONE);
}

// What the float pixel function saw.
struct PixelLog {
    std::mutex mutex;
    std::vector<std::array<A_long, 2>> positions;
    PF_EffectWorld *src = nullptr;
    PF_EffectWorld *dst = nullptr;
    int wrongPointers = 0;
    A_long failAtRow = -1;
};
template <class Pixel> Pixel *pixelAt(PF_EffectWorld *world, A_long x, A_long y)
{
    return reinterpret_cast<Pixel *>(static_cast<char *>(static_cast<void *>(world->data)) +
                                     static_cast<std::ptrdiff_t>(y) * world->rowbytes) +
           x;
}

PF_Err loggingPixel(void *refcon, A_long x, A_long y, PF_PixelFloat *in, PF_PixelFloat *out)
{
    PixelLog &log = *static_cast<PixelLog *>(refcon);
    std::lock_guard<std::mutex> lock(log.mutex);
    log.positions.push_back({x, y});
    if (in != pixelAt<PF_PixelFloat>(log.src, x, y) ||
        out != pixelAt<PF_PixelFloat>(log.dst, x, y)) {
        ++log.wrongPointers;
    }
    out->green = 0.5f;
    return y == log.failAtRow ? PF_Err_INTERNAL_STRUCT_DAMAGED : PF_Err_NONE;
}

PF_Err floatIterate(PF_InData *in, A_long base, A_long final, PF_EffectWorld *src,
                    const PF_Rect *area, PixelLog &log, PF_EffectWorld *dst)
{
    log.src = src;
    log.dst = dst;
    const void *suite = nullptr;
    if (PF_Err err = in->pica_basicP->AcquireSuite(kPFIterateFloatSuite,
                                                   kPFIterateFloatSuiteVersion1, &suite)) {
        return err;
    }
    const auto *iterate = static_cast<const PF_IterateFloatSuite1 *>(suite);
    const PF_Err err = iterate->iterate(in, base, final, src, area, &log, &loggingPixel, dst);
    in->pica_basicP->ReleaseSuite(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1);
    return err;
}

TEST_F(IterateFixture, FloatIterateVisitsEveryPixelOnceWithTheMatchingSourceAndDestination)
{
    PixelLog log;
    const RenderResult result =
        renderWith(kThreads, PixelDepth::Float32, 5, 4, [&](PF_InData *in, Worlds w) {
            return floatIterate(in, 0, 4, w.frame, nullptr, log, w.output);
        });
    ASSERT_EQ(result.err(), PF_Err_NONE);
    EXPECT_EQ(log.wrongPointers, 0);
    std::sort(log.positions.begin(), log.positions.end());
    std::vector<std::array<A_long, 2>> expected;
    for (A_long x = 0; x < 5; ++x) {
        for (A_long y = 0; y < 4; ++y) {
            expected.push_back({x, y});
        }
    }
    EXPECT_EQ(log.positions, expected);
    EXPECT_EQ(result.output.at<PF_PixelFloat>(4, 3).green, 0.5f);
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(IterateFixture, FloatIterateClipsTheAreaToBothWorlds)
{
    PixelLog log;
    // The output is 3 x 3 (the requested area); the frame is 5 x 4.
    const RenderResult result = renderWith(
        2, PixelDepth::Float32, 5, 4,
        [&](PF_InData *in, Worlds w) {
            const PF_Rect area{-2, 1, 10, 7};
            return floatIterate(in, 0, 4, w.frame, &area, log, w.output);
        },
        PF_LRect{0, 0, 3, 3});
    ASSERT_EQ(result.err(), PF_Err_NONE);
    EXPECT_EQ(log.wrongPointers, 0);
    ASSERT_EQ(log.positions.size(), 6U);
    for (const auto &[x, y] : log.positions) {
        EXPECT_TRUE(x >= 0 && x < 3 && y >= 1 && y < 3) << x << "," << y;
    }
}

TEST_F(IterateFixture, FloatIterateReportsProgressFromBaseToFinalAndPollsBetweenRows)
{
    PixelLog log;
    const RenderResult result =
        renderWith(1, PixelDepth::Float32, 2, 4, [&](PF_InData *in, Worlds w) {
            return floatIterate(in, 10, 30, w.frame, nullptr, log, w.output);
        });
    ASSERT_EQ(result.err(), PF_Err_NONE);
    ASSERT_EQ(result.record.iterateProgress.size(), 4U);
    const A_long expected[] = {15, 20, 25, 30};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(result.record.iterateProgress[i].done, expected[i]);
        EXPECT_EQ(result.record.iterateProgress[i].total, 30);
    }
    EXPECT_EQ(result.record.iterateCancelPolls, 4);
    EXPECT_TRUE(result.record.progress.empty()); // the plug-in itself reported nothing
}

TEST_F(IterateFixture, FloatIterateStopsAtACancelBetweenRows)
{
    PixelLog log;
    plan.cancelAfterPolls = 3;
    const RenderResult result =
        renderWith(1, PixelDepth::Float32, 2, 5, [&](PF_InData *in, Worlds w) {
            return floatIterate(in, 0, 5, w.frame, nullptr, log, w.output);
        });
    EXPECT_EQ(result.smartRender.err, PF_Interrupt_CANCEL);
    EXPECT_EQ(log.positions.size(), 4U); // rows 0 and 1, then the third poll cancels
    EXPECT_EQ(result.record.iterateCancelPolls, 3);
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(IterateFixture, FloatIterateReturnsThePixelFunctionsErrorAndStops)
{
    PixelLog log;
    log.failAtRow = 1;
    const RenderResult result =
        renderWith(1, PixelDepth::Float32, 3, 4, [&](PF_InData *in, Worlds w) {
            return floatIterate(in, 0, 4, w.frame, nullptr, log, w.output);
        });
    EXPECT_EQ(result.smartRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(log.positions.size(), 4U); // row 0, then the first pixel of row 1
}

TEST_F(IterateFixture, IterateRefusesMissingWorldsAndWorldsOfAnotherDepth)
{
    PixelLog log;
    std::array<PF_Err, 3> errs{};
    renderWith(1, PixelDepth::Bits8, 2, 2, [&](PF_InData *in, Worlds w) {
        errs[0] = floatIterate(in, 0, 1, w.frame, nullptr, log, w.output); // 8-bit worlds
        errs[1] = floatIterate(in, 0, 1, w.frame, nullptr, log, nullptr);
        PF_EffectWorld foreign = *w.output;
        foreign.reserved0 = nullptr;
        errs[2] = in->utils->iterate(
            in, 0, 1, w.frame, nullptr, nullptr,
            [](void *, A_long, A_long, PF_Pixel *, PF_Pixel *) -> PF_Err { return PF_Err_NONE; },
            &foreign);
        return PF_Err_NONE;
    });
    EXPECT_EQ(errs[0], PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(errs[1], PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(errs[2], PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(log.positions.empty());
}

TEST_F(IterateFixture, PixelDataAndPixelFormatAnswerOnlyForTheRunnersOwnWorlds)
{
    struct Seen {
        PF_Err data8 = -1, data16 = -1, data16Wrong = -1, format = -1, formatForeign = -1;
        PF_Pixel8 *first8 = nullptr;
        PF_Pixel16 *first16 = reinterpret_cast<PF_Pixel16 *>(1);
        PF_Pixel8 *given = nullptr;
        PF_PixelFormat pixelFormat = 0, foreignFormat = 0;
        void *expected = nullptr;
    } seen;
    renderWith(1, PixelDepth::Bits8, 3, 2, [&](PF_InData *in_data, Worlds w) {
        PF_InData *in = in_data;
        seen.expected = w.frame->data;
        seen.data8 = PF_GET_PIXEL_DATA8(w.frame, nullptr, &seen.first8);
        PF_Pixel8 *second = seen.first8 + 1;
        PF_GET_PIXEL_DATA8(w.frame, reinterpret_cast<PF_PixelPtr>(second), &seen.given);
        seen.data16Wrong = PF_GET_PIXEL_DATA16(w.frame, nullptr, &seen.first16);
        const void *suite = nullptr;
        in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        const auto *worlds = static_cast<const PF_WorldSuite2 *>(suite);
        seen.format = worlds->PF_GetPixelFormat(w.output, &seen.pixelFormat);
        PF_EffectWorld foreign{};
        seen.formatForeign = worlds->PF_GetPixelFormat(&foreign, &seen.foreignFormat);
        in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        return PF_Err_NONE;
    });
    EXPECT_EQ(seen.data8, PF_Err_NONE);
    EXPECT_EQ(static_cast<void *>(seen.first8), seen.expected);
    EXPECT_EQ(seen.given, seen.first8 + 1);
    EXPECT_EQ(seen.data16Wrong, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(seen.first16, nullptr);
    EXPECT_EQ(seen.format, PF_Err_NONE);
    EXPECT_EQ(seen.pixelFormat, PF_PixelFormat_ARGB32);
    EXPECT_EQ(seen.formatForeign, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(seen.foreignFormat, PF_PixelFormat_INVALID);
}

} // namespace
