#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "ScriptedEffect.h"
#include "runner/Host.h"

using namespace framemeld::runner;

namespace {

class TinyEffectSetup : public ::testing::Test {
protected:
    PluginModule module{FRAMEMELD_TINY_EFFECT_PATH};
    Host host{module.entryPoint(), HostOptions{1, {}, 0}};
};

TEST_F(TinyEffectSetup, ReportsVersionFlagsAndEveryRegisteredDefinition)
{
    const SetupResult setup = host.setup();
    ASSERT_TRUE(setup.ok()) << setup.problems.front();
    EXPECT_EQ(setup.version, PF_VERSION(1, 2, 3, PF_Stage_BETA, 4));
    EXPECT_EQ(setup.outFlags, PF_OutFlag_DEEP_COLOR_AWARE);
    EXPECT_EQ(setup.outFlags2, PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE);
    EXPECT_EQ(setup.numParams, 6);
    EXPECT_TRUE(violations(setup.accounting).empty());
    EXPECT_EQ(setup.record.calls.of(HostFunction::AddParam), 5);

    const auto &params = host.parameters();
    ASSERT_EQ(params.size(), 5U);
    const Parameter &gain = host.parameter(2);
    EXPECT_EQ(gain.name(), "Gain");
    EXPECT_EQ(gain.type(), PF_Param_FLOAT_SLIDER);
    EXPECT_EQ(gain.id(), 2);
    EXPECT_EQ(gain.validMin(), 0.0);
    EXPECT_EQ(gain.validMax(), 4.0);
    EXPECT_EQ(gain.sliderMax(), 2.0);
    EXPECT_EQ(gain.defaultValue(), 1.0);
    EXPECT_EQ(gain.precision(), 2);
    EXPECT_EQ(gain.definition.u.fs_d.slider_max, 2.0f); // the whole record is kept

    EXPECT_EQ(host.parameter(1).validMax(), 16.0);
    EXPECT_EQ(host.parameter(3).validMax(), 3.0); // popup: 1..num_choices
    EXPECT_EQ(host.parameter(4).defaultValue(), 45.0);
    EXPECT_EQ(host.findParameter("Invert"), 5);
    EXPECT_FALSE(host.findParameter("invert").has_value());
    EXPECT_THROW(host.parameter(0), std::out_of_range);
    EXPECT_THROW(host.parameter(6), std::out_of_range);
}

TEST_F(TinyEffectSetup, ValuesAreClampedToTheValidRangeAsTheHostDoes)
{
    ASSERT_TRUE(host.setup().ok());
    EXPECT_EQ(host.setParameter("Gain", 9.5), 4.0);
    EXPECT_EQ(host.setParameter("Gain", -1.0), 0.0);
    EXPECT_EQ(host.setParameter("Gain", std::numeric_limits<double>::infinity()), 4.0);
    EXPECT_EQ(host.setParameter("Gain", 1.25), 1.25);
    EXPECT_EQ(host.setParameter(1, 2.6), 3.0);    // whole-number slider rounds
    EXPECT_EQ(host.setParameter(1, 100.0), 16.0); // valid, not slider, maximum
    EXPECT_EQ(host.setParameter("Path", 0.0), 1.0);
    EXPECT_EQ(host.setParameter("Invert", 7.0), 1.0);
    EXPECT_EQ(host.setParameter("Angle", -200.0), -90.0);
    EXPECT_EQ(host.parameter(2).value, 1.25);

    EXPECT_THROW(host.setParameter("Gain", std::nan("")), std::invalid_argument);
    EXPECT_EQ(host.parameter(2).value, 1.25);
    EXPECT_THROW(host.setParameter("Nope", 1.0), std::out_of_range);
    EXPECT_THROW(host.setParameter(9, 1.0), std::out_of_range);
}

TEST_F(TinyEffectSetup, AboutUsesTheAnsiSuiteAndBalancesIt)
{
    ASSERT_TRUE(host.setup().ok());
    const CommandReport about = host.sendCommand(PF_Cmd_ABOUT);
    EXPECT_EQ(about.outcome.err, PF_Err_NONE);
    EXPECT_EQ(about.outcome.message(), "Tiny effect 1.2");
    ASSERT_EQ(about.accounting.commands.size(), 1U);
    ASSERT_EQ(about.accounting.commands[0].suites.size(), 1U);
    EXPECT_EQ(about.accounting.commands[0].suites[0].name, "PF ANSI Suite");
    EXPECT_EQ(about.accounting.commands[0].suites[0].acquired, 1);
    EXPECT_TRUE(violations(about.accounting).empty());
}

class ScriptedSetup : public ::testing::Test {
protected:
    void SetUp() override { framemeld::scripted::reset(); }
    void TearDown() override { framemeld::scripted::reset(); }
    Host host{&framemeld::scripted::entry, HostOptions{1, {}, 0}};
};

TEST_F(ScriptedSetup, AModuleWithoutSmartRenderCannotBeDriven)
{
    framemeld::scripted::script().globalSetup = [](PF_InData *in, PF_OutData *out, void *extra) {
        framemeld::scripted::defaultGlobalSetup(in, out, extra);
        out->out_flags2 = PF_OutFlag2_FLOAT_COLOR_AWARE;
        return PF_Err_NONE;
    };
    const SetupResult setup = host.setup();
    EXPECT_FALSE(setup.ok());
    ASSERT_EQ(setup.problems.size(), 1U);
    EXPECT_NE(setup.problems[0].find("SUPPORTS_SMART_RENDER"), std::string::npos);
    EXPECT_EQ(setup.outFlags2, PF_OutFlag2_FLOAT_COLOR_AWARE);
    InMemoryFrameSource source(2, 2, PixelDepth::Bits8);
    source.addFrame();
    EXPECT_THROW(host.render(source), std::logic_error);
}

TEST_F(ScriptedSetup, AModuleThatNeverSetsItsVersionIsAProblem)
{
    framemeld::scripted::script().globalSetup = [](PF_InData *in, PF_OutData *out, void *extra) {
        framemeld::scripted::defaultGlobalSetup(in, out, extra);
        out->my_version = 0;
        return PF_Err_NONE;
    };
    const SetupResult setup = host.setup();
    ASSERT_EQ(setup.problems.size(), 1U);
    EXPECT_NE(setup.problems[0].find("my_version"), std::string::npos);
}

TEST_F(ScriptedSetup, DeepRendersNeedTheFlagsThatAcceptThem)
{
    framemeld::scripted::script().globalSetup = [](PF_InData *, PF_OutData *out, void *) {
        out->my_version = 1;
        out->out_flags2 = PF_OutFlag2_SUPPORTS_SMART_RENDER;
        return PF_Err_NONE;
    };
    ASSERT_TRUE(host.setup().ok());
    for (PixelDepth depth : {PixelDepth::Bits16, PixelDepth::Float32}) {
        InMemoryFrameSource source(2, 2, depth);
        source.addFrame();
        EXPECT_THROW(host.render(source), std::invalid_argument);
    }
    InMemoryFrameSource eightBit(2, 2, PixelDepth::Bits8);
    eightBit.addFrame();
    EXPECT_EQ(host.render(eightBit).err(), PF_Err_NONE);
    EXPECT_THROW(host.sendCommand(PF_Cmd_SMART_RENDER), std::invalid_argument);
}

TEST_F(ScriptedSetup, AFailedGlobalSetupSkipsParameterSetup)
{
    framemeld::scripted::script().globalSetup = [](PF_InData *, PF_OutData *, void *) -> PF_Err {
        return PF_Err_OUT_OF_MEMORY;
    };
    const SetupResult setup = host.setup();
    EXPECT_FALSE(setup.ok());
    EXPECT_EQ(setup.globalSetup.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(setup.paramsSetup.sent);
    EXPECT_TRUE(host.parameters().empty());
}

TEST_F(ScriptedSetup, AParameterCountThatDisagreesWithTheRegistrationsIsAProblem)
{
    framemeld::scripted::script().paramsSetup = [](PF_InData *in, PF_OutData *out, void *extra) {
        framemeld::scripted::defaultParamsSetup(in, out, extra);
        out->num_params = 3;
        return PF_Err_NONE;
    };
    const SetupResult setup = host.setup();
    ASSERT_EQ(setup.problems.size(), 1U);
    EXPECT_NE(setup.problems[0].find("num_params 3"), std::string::npos);
}

TEST_F(ScriptedSetup, AddParamIsRefusedOutsideParameterSetupAndAtAWrongIndex)
{
    static PF_Err lateAdd = PF_Err_NONE;
    static PF_Err wrongIndex = PF_Err_NONE;
    framemeld::scripted::script().paramsSetup = [](PF_InData *in, PF_OutData *out, void *extra) {
        PF_ParamDef def{};
        def.param_type = PF_Param_CHECKBOX;
        wrongIndex = PF_ADD_PARAM(in, 5, &def);
        return framemeld::scripted::defaultParamsSetup(in, out, extra);
    };
    framemeld::scripted::script().other = [](PF_InData *in, PF_OutData *, void *) {
        PF_ParamDef def{};
        def.param_type = PF_Param_CHECKBOX;
        lateAdd = PF_ADD_PARAM(in, -1, &def);
        return PF_Err_NONE;
    };
    ASSERT_TRUE(host.setup().ok());
    host.sendCommand(PF_Cmd_USER_CHANGED_PARAM);
    EXPECT_EQ(wrongIndex, PF_Err_INVALID_INDEX);
    EXPECT_EQ(lateAdd, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.parameters().size(), 1U);
}

TEST_F(ScriptedSetup, CheckoutParamHandsOutTheDefinitionWithTheCurrentValue)
{
    static PF_ParamDef seen;
    static PF_Err badIndex = PF_Err_NONE;
    framemeld::scripted::script().other = [](PF_InData *in, PF_OutData *, void *) {
        std::memset(&seen, 0, sizeof seen);
        PF_Err err = PF_CHECKOUT_PARAM(in, 1, 0, 1, 25, &seen);
        PF_CHECKIN_PARAM(in, &seen);
        PF_ParamDef other{};
        badIndex = PF_CHECKOUT_PARAM(in, 2, 0, 1, 25, &other);
        return err;
    };
    ASSERT_TRUE(host.setup().ok());
    host.setParameter("Amount", 7.5);
    const CommandReport result = host.sendCommand(PF_Cmd_USER_CHANGED_PARAM);
    EXPECT_EQ(result.outcome.err, PF_Err_NONE);
    EXPECT_EQ(seen.param_type, PF_Param_FLOAT_SLIDER);
    EXPECT_STREQ(seen.name, "Amount");
    EXPECT_EQ(seen.u.fs_d.value, 7.5);
    EXPECT_EQ(seen.u.fs_d.valid_max, 10.0f);
    EXPECT_EQ(badIndex, PF_Err_INVALID_INDEX);
    EXPECT_TRUE(violations(result.accounting).empty());
}

} // namespace
