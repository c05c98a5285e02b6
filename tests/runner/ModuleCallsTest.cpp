// The record of which module call is in flight, which the tool's crash and exit handlers read, and
// the SDK names its messages use.
#include "runner/ModuleCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>

#include "ScriptedEffect.h"
#include "runner/Host.h"
#include "runner/SdkNames.h"

using namespace framemeld::runner;
using testing::ElementsAre;

namespace {

std::string inFlight()
{
    const char *what = moduleCallInFlight();
    return what ? what : "(none)";
}

TEST(ModuleCalls, EveryCommandIsInFlightWhileTheModuleRunsItOnAnyThread)
{
    framemeld::scripted::reset();
    std::mutex mutex;
    std::set<std::string> seen;
    const auto note = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        seen.insert(inFlight());
    };
    auto &script = framemeld::scripted::script();
    script.globalSetup = [&](PF_InData *in, PF_OutData *out, void *extra) {
        note();
        return framemeld::scripted::defaultGlobalSetup(in, out, extra);
    };
    static std::function<void()> s_noteOnWorker;
    s_noteOnWorker = note;
    script.render = [&](PF_InData *in, PF_OutData *, void *) {
        note();
        const void *table = nullptr;
        in->pica_basicP->AcquireSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1, &table);
        const auto *iterate = static_cast<const PF_Iterate8Suite1 *>(table);
        const PF_Err err =
            iterate->iterate_generic(4, nullptr, [](void *, A_long, A_long, A_long) -> PF_Err {
                s_noteOnWorker();
                return PF_Err_NONE;
            });
        in->pica_basicP->ReleaseSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1);
        return err;
    };

    EXPECT_EQ(moduleCallInFlight(), nullptr);
    Host host(&framemeld::scripted::entry, HostOptions{3, {}, 0});
    ASSERT_TRUE(host.setup().ok());
    InMemoryFrameSource source(4, 3, PixelDepth::Bits8);
    source.addFrame();
    EXPECT_EQ(host.render(source).err(), PF_Err_NONE);
    EXPECT_EQ(moduleCallInFlight(), nullptr);
    // The workers' calls count as the render's.
    EXPECT_THAT(seen, ElementsAre("PF_Cmd_GLOBAL_SETUP", "PF_Cmd_SMART_RENDER"));
    framemeld::scripted::reset();
    s_noteOnWorker = nullptr;
}

TEST(ModuleCalls, ScopesNestAndLoadingAModuleIsACallIntoIt)
{
    {
        const ModuleCallScope outer("outer");
        {
            const ModuleCallScope inner("inner");
            EXPECT_EQ(inFlight(), "inner");
        }
        EXPECT_EQ(inFlight(), "outer");
    }
    EXPECT_EQ(moduleCallInFlight(), nullptr);
    PluginModule module(FRAMEMELD_TINY_EFFECT_PATH);
    EXPECT_EQ(moduleCallInFlight(), nullptr);
}

TEST(SdkNames, ErrorsShowNameMeaningAndNumber)
{
    EXPECT_EQ(describeError(PF_Err_OUT_OF_MEMORY), "PF_Err_OUT_OF_MEMORY (out of memory; code 4)");
    EXPECT_EQ(describeError(PF_Err_BAD_CALLBACK_PARAM),
              "PF_Err_BAD_CALLBACK_PARAM (bad argument to a host callback; code 516)");
    EXPECT_EQ(describeError(PF_Interrupt_CANCEL), "PF_Interrupt_CANCEL (cancelled; code 517)");
    EXPECT_EQ(describeError(-7), "error code -7 (not an SDK error code)");
    EXPECT_EQ(describeCommand(PF_Cmd_SMART_PRE_RENDER), "PF_Cmd_SMART_PRE_RENDER");
    EXPECT_EQ(describeCommand(PF_Cmd_GPU_DEVICE_SETDOWN), "PF_Cmd_GPU_DEVICE_SETDOWN");
    EXPECT_EQ(describeCommand(PF_Cmd_NUM_CMDS), "command " + std::to_string(PF_Cmd_NUM_CMDS));
    EXPECT_EQ(commandName(PF_Cmd_RESERVED1), nullptr);
}

} // namespace
