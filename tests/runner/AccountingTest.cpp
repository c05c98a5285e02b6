// Misbehaving plug-ins, one fault each, and what the accounting says about them.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "ScriptedEffect.h"
#include "runner/Host.h"

using namespace framemeld::runner;

namespace {

class Misbehaviour : public ::testing::Test {
protected:
    void SetUp() override
    {
        framemeld::scripted::reset();
        source.addFrame();
    }
    void TearDown() override { framemeld::scripted::reset(); }

    RenderResult render()
    {
        EXPECT_TRUE(host.setup().ok());
        return host.render(source);
    }

    static bool mentions(const std::vector<std::string> &lines, const std::string &text)
    {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
            return line.find(text) != std::string::npos;
        });
    }

    Host host{&framemeld::scripted::entry, HostOptions{2, {}, 0xAB}};
    InMemoryFrameSource source{3, 2, PixelDepth::Bits8};
};

using Smart = PF_SmartRenderExtra;

TEST_F(Misbehaviour, AWellBehavedRenderHasNoViolations)
{
    const RenderResult result = render();
    EXPECT_EQ(result.err(), PF_Err_NONE);
    EXPECT_TRUE(violations(result.accounting).empty());
    EXPECT_EQ(framemeld::scripted::g_deletes.load(), 1);
}

TEST_F(Misbehaviour, ASuiteAcquiredMoreOftenThanReleased)
{
    framemeld::scripted::script().render = [](PF_InData *in, PF_OutData *, void *) {
        const void *suite = nullptr;
        in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        in->pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        in->pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        return PF_Err_NONE;
    };
    const auto found = violations(render().accounting);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_NE(found[0].find("\"PF World Suite\" version 2 acquired 2 times but released 1"),
              std::string::npos);
    EXPECT_NE(found[0].find("SMART_RENDER"), std::string::npos);
}

TEST_F(Misbehaviour, AParameterCheckedOutButNotCheckedIn)
{
    framemeld::scripted::script().preRender = [](PF_InData *in, PF_OutData *out, void *extra) {
        PF_ParamDef def{};
        PF_CHECKOUT_PARAM(in, 1, in->current_time, in->time_step, in->time_scale, &def);
        return framemeld::scripted::defaultPreRender(in, out, extra);
    };
    const auto found = violations(render().accounting);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_NE(found[0].find("1 parameter checkouts but 0 checkins during PF_Cmd_SMART_PRE_RENDER"),
              std::string::npos);
}

TEST_F(Misbehaviour, CheckingOutAnIdThatWasNeverRequestedOrTwice)
{
    static PF_Err unrequested = PF_Err_NONE;
    framemeld::scripted::script().render = [](PF_InData *in, PF_OutData *, void *extra) {
        PF_EffectWorld *world = nullptr;
        Smart *smart = static_cast<Smart *>(extra);
        unrequested = smart->cb->checkout_layer_pixels(in->effect_ref, 7, &world);
        smart->cb->checkout_layer_pixels(in->effect_ref, 0, &world);
        return smart->cb->checkout_layer_pixels(in->effect_ref, 0, &world);
    };
    const RenderResult result = render();
    EXPECT_EQ(unrequested, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(result.accounting.unrequestedCheckouts, std::vector<A_long>{7});
    EXPECT_EQ(result.accounting.repeatedCheckouts, std::vector<A_long>{0});
    const auto found = violations(result.accounting);
    EXPECT_TRUE(mentions(found, "checkout id 7 was checked out but never requested"));
    EXPECT_TRUE(mentions(found, "checkout id 0 was checked out more than once"));
}

TEST_F(Misbehaviour, PreRenderDataWithoutADeleteFunction)
{
    framemeld::scripted::script().preRender = [](PF_InData *in, PF_OutData *out, void *extra) {
        const PF_Err err = framemeld::scripted::defaultPreRender(in, out, extra);
        auto *output = static_cast<PF_PreRenderExtra *>(extra)->output;
        delete static_cast<int *>(output->pre_render_data);
        static int leaked = 0;
        output->pre_render_data = &leaked;
        output->delete_pre_render_data_func = nullptr;
        return err;
    };
    const RenderResult result = render();
    EXPECT_TRUE(result.accounting.deleteFunctionMissing);
    EXPECT_TRUE(mentions(violations(result.accounting), "without a delete function"));
}

TEST_F(Misbehaviour, DataAttachedByAFailedPreRenderIsStillDeletedOnceAndNoRenderFollows)
{
    framemeld::scripted::script().preRender = [](PF_InData *, PF_OutData *, void *extra) -> PF_Err {
        framemeld::scripted::attachCountedData(static_cast<PF_PreRenderExtra *>(extra));
        return PF_Err_OUT_OF_MEMORY;
    };
    const RenderResult result = render();
    EXPECT_EQ(result.err(), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(result.smartRender.sent);
    EXPECT_EQ(framemeld::scripted::g_deletes.load(), 1);
    EXPECT_EQ(result.accounting.preRenderDataDeletes, 1);
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(Misbehaviour, ExceptionsLeavingThePluginAreCaughtRecordedAndFailTheCommand)
{
    framemeld::scripted::script().render = [](PF_InData *, PF_OutData *, void *) -> PF_Err {
        throw std::runtime_error("render exploded");
    };
    const RenderResult result = render();
    EXPECT_EQ(result.smartRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(mentions(violations(result.accounting), "render exploded"));
    EXPECT_EQ(framemeld::scripted::g_deletes.load(), 1);

    framemeld::scripted::script().render = [](PF_InData *in, PF_OutData *, void *) {
        return in->utils->iterate_generic(8, nullptr,
                                          [](void *, A_long, A_long i, A_long) -> PF_Err {
                                              if (i == 3) {
                                                  throw 77;
                                              }
                                              return PF_Err_NONE;
                                          });
    };
    const RenderResult worker = host.render(source);
    EXPECT_EQ(worker.smartRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(mentions(violations(worker.accounting), "int 77"));
}

TEST_F(Misbehaviour, CallbacksTheRunnerDoesNotOfferFailAndAreRecorded)
{
    struct Seen {
        PF_Err copy = -1, registerUi = -1, platform = -1, app = -1;
        PF_Handle handle = reinterpret_cast<PF_Handle>(1);
        SPErr handleSuite = 0, iterate8v2 = 0;
        const void *suite = reinterpret_cast<const void *>(1);
    };
    static Seen seen;
    framemeld::scripted::script().render = [](PF_InData *in, PF_OutData *, void *) {
        seen.copy = in->utils->copy(in->effect_ref, nullptr, nullptr, nullptr, nullptr);
        seen.registerUi = in->inter.register_ui(in->effect_ref, nullptr);
        seen.platform = in->utils->get_platform_data(in->effect_ref, 0, nullptr);
        seen.app = in->utils->app(in->effect_ref, 1, 2, 3);
        seen.handle = in->utils->host_new_handle(16);
        seen.handleSuite =
            in->pica_basicP->AcquireSuite(kPFHandleSuite, kPFHandleSuiteVersion1, &seen.suite);
        const void *other = nullptr;
        seen.iterate8v2 =
            in->pica_basicP->AcquireSuite(kPFIterate8Suite, kPFIterate8SuiteVersion2, &other);
        return PF_Err_NONE;
    };
    const RenderResult result = render();
    EXPECT_EQ(seen.copy, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(seen.registerUi, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(seen.platform, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(seen.app, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(seen.handle, nullptr);
    EXPECT_NE(seen.handleSuite, kSPNoError);
    EXPECT_EQ(seen.suite, nullptr);
    EXPECT_NE(seen.iterate8v2, kSPNoError);
    const std::vector<std::string> expected{"copy", "register_ui", "get_platform_data", "app",
                                            "host_new_handle"};
    EXPECT_EQ(result.record.refusedCalls, expected);
    // Asking for a suite the host lacks is allowed; only imbalance is a violation.
    EXPECT_TRUE(violations(result.accounting).empty());
}

TEST_F(Misbehaviour, CallbacksUsedOutsideTheirCommandOrWithAForeignReferenceAreRefused)
{
    struct Seen {
        PF_Err layerAtRender = -1, outputAtPreRender = -1, foreignRef = -1;
    };
    static Seen seen;
    // Each command's callbacks are kept and tried during the other command.
    static PF_PreRenderCallbacks preCallbacks{};
    static PF_SmartRenderCallbacks smartCallbacks{};
    framemeld::scripted::script().preRender = [](PF_InData *in, PF_OutData *out, void *extra) {
        preCallbacks = *static_cast<PF_PreRenderExtra *>(extra)->cb;
        PF_EffectWorld *world = nullptr;
        if (smartCallbacks.checkout_output) {
            seen.outputAtPreRender = smartCallbacks.checkout_output(in->effect_ref, &world);
        }
        return framemeld::scripted::defaultPreRender(in, out, extra);
    };
    framemeld::scripted::script().render = [](PF_InData *in, PF_OutData *, void *extra) {
        smartCallbacks = *static_cast<Smart *>(extra)->cb;
        PF_CheckoutResult answer{};
        seen.layerAtRender =
            preCallbacks.checkout_layer(in->effect_ref, 0, 5, nullptr, 0, 1, 25, &answer);
        PF_EffectWorld *world = nullptr;
        seen.foreignRef =
            smartCallbacks.checkout_output(reinterpret_cast<PF_ProgPtr>(&answer), &world);
        return PF_Err_NONE;
    };
    render();
    host.render(source);
    EXPECT_EQ(seen.layerAtRender, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(seen.outputAtPreRender, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(seen.foreignRef, PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(Misbehaviour, OutputPixelsTheRenderLeavesAloneKeepTheFillByte)
{
    framemeld::scripted::script().render = [](PF_InData *in, PF_OutData *, void *extra) {
        PF_EffectWorld *output = nullptr;
        return static_cast<Smart *>(extra)->cb->checkout_output(in->effect_ref, &output);
    };
    const RenderResult result = render();
    ASSERT_TRUE(result.output.valid());
    for (int y = 0; y < result.output.height(); ++y) {
        for (int x = 0; x < result.output.width(); ++x) {
            EXPECT_EQ(result.output.at<PF_Pixel8>(x, y).green, 0xAB);
        }
    }
}

} // namespace
