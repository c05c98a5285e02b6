// The scoped suite cache and the error-reporting acquire/release pair.
#include "FakeHost.h"
#include "host/AEFX_SuiteHelper.h"
#include "host/AEGP_SuiteHandler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using framemeld::fakehost::FakeHost;
using framemeld::fakehost::SuiteKey;

const SuiteKey kAnsi{kPFANSISuite, kPFANSISuiteVersion1};
const SuiteKey kIterate8{kPFIterate8Suite, kPFIterate8SuiteVersion1};
const SuiteKey kIterateFloat{kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1};

// Runs body and returns the int it throws, or -1 when it throws nothing.
template <typename Body> int ThrownInt(Body body)
{
    try {
        body();
    } catch (int thrown) {
        return thrown;
    }
    return -1;
}

TEST(AEGP_SuiteHandler, NullBasicSuiteThrowsBeforeTouchingAnything)
{
    FakeHost host;
    EXPECT_EQ(ThrownInt([] { AEGP_SuiteHandler suites(nullptr); }), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.TotalCalls(), 0);
}

TEST(AEGP_SuiteHandler, AcquiresOnceOnFirstUseAndReleasesOnceAtScopeEnd)
{
    FakeHost host;
    {
        AEGP_SuiteHandler suites(&host.basic);
        EXPECT_EQ(host.acquireCalls, 0); // nothing before first use
        EXPECT_EQ(suites.ANSICallbacksSuite1(), &host.ansiSuite);
        EXPECT_EQ(suites.ANSICallbacksSuite1(), &host.ansiSuite);
        EXPECT_EQ(suites.Iterate8Suite1(), &host.iterate8Suite);
        EXPECT_EQ(suites.IterateFloatSuite1(), &host.iterateFloatSuite);
        EXPECT_EQ(suites.IterateFloatSuite1(), &host.iterateFloatSuite);
        EXPECT_EQ(host.acquires[kAnsi], 1);
        EXPECT_EQ(host.acquires[kIterate8], 1);
        EXPECT_EQ(host.acquires[kIterateFloat], 1);
        EXPECT_EQ(host.releaseCalls, 0);
    }
    EXPECT_EQ(host.releases[kAnsi], 1);
    EXPECT_EQ(host.releases[kIterate8], 1);
    EXPECT_EQ(host.releases[kIterateFloat], 1);
    EXPECT_EQ(host.releaseCalls, 3);
}

TEST(AEGP_SuiteHandler, UnusedHandlerReleasesNothing)
{
    FakeHost host;
    {
        AEGP_SuiteHandler suites(&host.basic);
    }
    EXPECT_EQ(host.TotalCalls(), 0);
}

TEST(AEGP_SuiteHandler, ExplicitReleaseThenScopeEndReleasesEachAcquisitionOnce)
{
    FakeHost host;
    {
        AEGP_SuiteHandler suites(&host.basic);
        suites.ANSICallbacksSuite1();
        suites.ReleaseAllSuites();
        EXPECT_EQ(host.releases[kAnsi], 1);
        // Used again after the release: acquired afresh, and released again at the end.
        suites.ANSICallbacksSuite1();
        EXPECT_EQ(host.acquires[kAnsi], 2);
    }
    EXPECT_EQ(host.releases[kAnsi], 2);
    EXPECT_EQ(host.Outstanding(), 0);
}

TEST(AEGP_SuiteHandler, ReleaseSuiteForgetsTheCachedSlot)
{
    FakeHost host;
    {
        AEGP_SuiteHandler suites(&host.basic);
        suites.Iterate8Suite1();
        suites.ANSICallbacksSuite1();
        suites.ReleaseSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1);
        EXPECT_EQ(host.releases[kIterate8], 1);
    }
    EXPECT_EQ(host.releases[kIterate8], 1);
    EXPECT_EQ(host.releases[kAnsi], 1);
    EXPECT_EQ(host.Outstanding(), 0);
}

TEST(AEGP_SuiteHandler, MissingSuiteThrowsAndReleasesWhatWasAcquired)
{
    FakeHost host;
    host.withheld.insert(kIterateFloat);
    const int thrown = ThrownInt([&] {
        AEGP_SuiteHandler suites(&host.basic);
        suites.ANSICallbacksSuite1();
        suites.IterateFloatSuite1();
    });
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(host.releases[kAnsi], 1);
    EXPECT_EQ(host.releases.count(kIterateFloat), 0u);
    EXPECT_EQ(host.Outstanding(), 0);
}

TEST(AEGP_SuiteHandler, AcquireErrorCountsAsMissingButHandsThePointerBack)
{
    FakeHost host;
    host.acquireErrorWithPointer = true;
    const int thrown = ThrownInt([&] {
        AEGP_SuiteHandler suites(&host.basic);
        suites.Iterate8Suite1();
    });
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM);
    // Released once, before the throw, and not again when the handler goes out of scope.
    EXPECT_EQ(host.releases[kIterate8], 1);
    EXPECT_EQ(host.releaseCalls, 1);
}

class AEFXSuiteHelper : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memset(&host.out_data, 0, sizeof host.out_data);
        host.out_data.out_flags = PF_OutFlag_PIX_INDEPENDENT;
    }

    bool ShowsMessage() const
    {
        return (host.out_data.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) != 0;
    }

    FakeHost host;
};

TEST_F(AEFXSuiteHelper, AcquireAndReleaseSucceedQuietly)
{
    void *suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                "unused", &suite),
              PF_Err_NONE);
    EXPECT_EQ(suite, &host.ansiSuite);
    EXPECT_EQ(AEFX_ReleaseSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                "unused"),
              PF_Err_NONE);
    EXPECT_EQ(host.Outstanding(), 0);
    EXPECT_EQ(host.out_data.out_flags, PF_OutFlag_PIX_INDEPENDENT);
    EXPECT_STREQ(host.out_data.return_msg, "");
}

TEST_F(AEFXSuiteHelper, MissingSuiteWritesDefaultMessage)
{
    void *suite = &host; // must come back NULL
    EXPECT_EQ(AEFX_AcquireSuite(&host.in_data, &host.out_data, "PF Nonexistent Suite", 1, nullptr,
                                &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(suite, nullptr);
    EXPECT_TRUE(ShowsMessage());
    EXPECT_TRUE(host.out_data.out_flags & PF_OutFlag_PIX_INDEPENDENT); // other flags kept
    EXPECT_STREQ(host.out_data.return_msg, "Not able to acquire AEFX Suite.");
}

TEST_F(AEFXSuiteHelper, NoBasicSuiteWritesTheCallersMessage)
{
    host.in_data.pica_basicP = nullptr;
    void *suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                "Couldn't load suite.", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(ShowsMessage());
    EXPECT_STREQ(host.out_data.return_msg, "Couldn't load suite.");
}

TEST_F(AEFXSuiteHelper, ReleaseWithoutBasicSuiteReports)
{
    host.in_data.pica_basicP = nullptr;
    EXPECT_EQ(AEFX_ReleaseSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                nullptr),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(ShowsMessage());
    EXPECT_STREQ(host.out_data.return_msg, "Not able to release AEFX Suite.");

    std::memset(host.out_data.return_msg, 0, sizeof host.out_data.return_msg);
    EXPECT_EQ(AEFX_ReleaseSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                "Custom."),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(host.out_data.return_msg, "Custom.");
    EXPECT_EQ(host.releaseCalls, 0);
}

TEST_F(AEFXSuiteHelper, MessagesAreCopiedLiterallyAndBounded)
{
    host.withheld.insert(kAnsi);
    void *suite = nullptr;
    // A '%' in the message must not be taken as a conversion.
    EXPECT_EQ(AEFX_AcquireSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                "100% %s %n missing", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(host.out_data.return_msg, "100% %s %n missing");

    // An over-long message is cut to what return_msg holds; the next field stays intact.
    host.out_data.start_sampL = 0x5A5A5A5A;
    const std::string longMessage(400, 'm');
    EXPECT_EQ(AEFX_AcquireSuite(&host.in_data, &host.out_data, kPFANSISuite, kPFANSISuiteVersion1,
                                longMessage.c_str(), &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(std::string(host.out_data.return_msg), std::string(255, 'm'));
    EXPECT_EQ(host.out_data.start_sampL, 0x5A5A5A5A);
}

} // namespace
