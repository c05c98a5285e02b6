// The entry point as the host sees it: which commands it answers, what About and global setup
// write, and how every kind of failure below it comes back as an error code.
#include "FakeHost.h"
#include "host/Framemeld.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using framemeld::fakehost::FakeHost;
using framemeld::fakehost::FaultKind;

PF_Err Call(PF_Cmd cmd, FakeHost &host, void *extra = nullptr)
{
    return EntryPointFunc(cmd, &host.in_data, &host.out_data, nullptr, nullptr, extra);
}

std::vector<unsigned char> Snapshot(const void *record, std::size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(record);
    return std::vector<unsigned char>(bytes, bytes + size);
}

bool Handled(PF_Cmd cmd)
{
    return cmd == PF_Cmd_ABOUT || cmd == PF_Cmd_GLOBAL_SETUP || cmd == PF_Cmd_PARAMS_SETUP ||
           cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER;
}

TEST(EntryPoint, UnhandledCommandsReturnNoneAndTouchNothing)
{
    std::vector<PF_Cmd> commands;
    for (PF_Cmd cmd = 0; cmd <= 40; ++cmd) {
        if (!Handled(cmd)) {
            commands.push_back(cmd);
        }
    }
    commands.push_back(123456);
    commands.push_back(-1);

    for (const PF_Cmd cmd : commands) {
        FakeHost host;
        std::memset(&host.out_data, 0xA5, sizeof host.out_data);
        const auto outBefore = Snapshot(&host.out_data, sizeof host.out_data);
        const auto inBefore = Snapshot(&host.in_data, sizeof host.in_data);
        int extra = 7;

        EXPECT_EQ(Call(cmd, host, &extra), PF_Err_NONE) << "command " << cmd;
        EXPECT_EQ(Snapshot(&host.out_data, sizeof host.out_data), outBefore) << "command " << cmd;
        EXPECT_EQ(Snapshot(&host.in_data, sizeof host.in_data), inBefore) << "command " << cmd;
        EXPECT_EQ(host.TotalCalls(), 0) << "command " << cmd;
        EXPECT_EQ(extra, 7);

        // Answered at once: not even the records are looked at.
        EXPECT_EQ(EntryPointFunc(cmd, nullptr, nullptr, nullptr, nullptr, nullptr), PF_Err_NONE);
    }
}

TEST(EntryPoint, AboutWritesExactlyTheTextWithOneAcquireAndOneRelease)
{
    FakeHost host;
    std::memset(&host.out_data, 0xA5, sizeof host.out_data);
    PF_OutData expected;
    std::memcpy(&expected, &host.out_data, sizeof expected);
    const char text[] = "Framemeld for After Effects, v2.2\r";
    std::memcpy(expected.return_msg, text, sizeof text); // with its NUL, nothing more

    EXPECT_EQ(Call(PF_Cmd_ABOUT, host), PF_Err_NONE);

    EXPECT_EQ(Snapshot(&host.out_data, sizeof host.out_data), Snapshot(&expected, sizeof expected));
    const framemeld::fakehost::SuiteKey ansi{kPFANSISuite, kPFANSISuiteVersion1};
    EXPECT_EQ(host.acquires[ansi], 1);
    EXPECT_EQ(host.releases[ansi], 1);
    EXPECT_EQ(host.releaseCalls, 1);
    EXPECT_EQ(host.ansiSprintfCalls, 1);
}

TEST(EntryPoint, AboutWithoutSuitesReturnsBadCallbackParamAndWritesNothing)
{
    {
        FakeHost host;
        host.in_data.pica_basicP = nullptr;
        std::memset(&host.out_data, 0xA5, sizeof host.out_data);
        const auto before = Snapshot(&host.out_data, sizeof host.out_data);
        EXPECT_EQ(Call(PF_Cmd_ABOUT, host), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(Snapshot(&host.out_data, sizeof host.out_data), before);
        EXPECT_EQ(host.TotalCalls(), 0);
    }
    {
        FakeHost host;
        host.withheld.insert({kPFANSISuite, kPFANSISuiteVersion1});
        std::memset(&host.out_data, 0xA5, sizeof host.out_data);
        const auto before = Snapshot(&host.out_data, sizeof host.out_data);
        EXPECT_EQ(Call(PF_Cmd_ABOUT, host), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(Snapshot(&host.out_data, sizeof host.out_data), before);
        EXPECT_EQ(host.releaseCalls, 0); // nothing was acquired, so nothing goes back
    }
}

TEST(EntryPoint, GlobalSetupWritesVersionAndFlagsOnly)
{
    FakeHost host;
    std::memset(&host.out_data, 0xA5, sizeof host.out_data);
    PF_OutData expected;
    std::memcpy(&expected, &host.out_data, sizeof expected);
    expected.my_version = 0x00110601;
    expected.out_flags = 0x06000400;
    expected.out_flags2 = 0x00001400;

    EXPECT_EQ(Call(PF_Cmd_GLOBAL_SETUP, host), PF_Err_NONE);

    EXPECT_EQ(Snapshot(&host.out_data, sizeof host.out_data), Snapshot(&expected, sizeof expected));
    EXPECT_EQ(host.TotalCalls(), 0);
    // The packed version decodes back to 2.2.0, release stage, build 1.
    EXPECT_EQ(PF_Version_VERS(host.out_data.my_version), 2u);
    EXPECT_EQ(PF_Version_SUBVERS(host.out_data.my_version), 2u);
    EXPECT_EQ(PF_Version_BUGFIX(host.out_data.my_version), 0u);
    EXPECT_EQ(PF_Version_STAGE(host.out_data.my_version), static_cast<A_u_long>(PF_Stage_RELEASE));
    EXPECT_EQ(PF_Version_BUILD(host.out_data.my_version), 1u);
}

struct ThrownCase {
    const char *what;
    FaultKind kind;
    int code;
    PF_Err expected;
};

const ThrownCase kThrownCases[] = {
    {"int", FaultKind::ThrowInt, 1234, 1234},
    {"missing suite int", FaultKind::ThrowInt, PF_Err_BAD_CALLBACK_PARAM,
     PF_Err_BAD_CALLBACK_PARAM},
    {"bad_alloc", FaultKind::ThrowBadAlloc, 0, PF_Err_OUT_OF_MEMORY},
    {"runtime_error", FaultKind::ThrowOther, 0, PF_Err_INTERNAL_STRUCT_DAMAGED},
};

TEST(EntryPoint, ExceptionsFromParamsSetupBecomeErrorCodes)
{
    for (const ThrownCase &c : kThrownCases) {
        FakeHost host;
        host.addParamFault = {c.kind, 2, c.code};
        EXPECT_EQ(Call(PF_Cmd_PARAMS_SETUP, host), c.expected) << c.what;
        EXPECT_EQ(host.addedParams.size(), 1u) << c.what;
    }
}

TEST(EntryPoint, ExceptionsInsideAboutBecomeErrorCodesAndReleaseTheSuite)
{
    for (const ThrownCase &c : kThrownCases) {
        FakeHost host;
        host.ansiSprintfFault = {c.kind, 1, c.code};
        EXPECT_EQ(Call(PF_Cmd_ABOUT, host), c.expected) << c.what;
        EXPECT_EQ(host.acquireCalls, 1) << c.what;
        EXPECT_EQ(host.Outstanding(), 0) << c.what;
    }
    for (const ThrownCase &c : kThrownCases) {
        FakeHost host;
        host.acquireFault = {c.kind, 1, c.code};
        EXPECT_EQ(Call(PF_Cmd_ABOUT, host), c.expected) << c.what;
        EXPECT_EQ(host.releaseCalls, 0) << c.what;
    }
}

} // namespace
