// Platform-dependent choices of the stand-in, the names it must not declare, and the packing
// guarantee: records keep the host layout even when the includer packs tighter, and the
// includer's own packing is restored afterwards.

#include <cstddef>
#include <cstring>
#include <type_traits>

#include <gtest/gtest.h>

#pragma pack(push, 4)
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectPixelFormat.h"
#include "AE_EffectSuites.h"
#include "SPBasic.h"
struct PackedAfterSdkHeaders {
    char tag;
    double value;
};
#pragma pack(pop)

namespace {

TEST(SdkPacking, RecordsKeepTheHostLayoutUnderATighterIncluderPacking)
{
    EXPECT_EQ(offsetof(PF_LayerDef, data), 24u);
    EXPECT_EQ(offsetof(PF_OutData, global_data), 40u);
    EXPECT_EQ(offsetof(PF_InData, src_snd), 352u);
    EXPECT_EQ(sizeof(PF_UtilCallbacks), 552u);
    EXPECT_EQ(offsetof(PF_PreRenderInput, gpu_data), 48u);
    // The includer's packing of 4 is back in force after the SDK headers.
    EXPECT_EQ(offsetof(PackedAfterSdkHeaders, value), 4u);
}

TEST(SdkPlatform, ScalarTypesFollowTheWindowsSwitchOfTheHostHeaders)
{
#ifdef _WINDOWS
    EXPECT_TRUE((std::is_same<PF_Boolean, char>::value));
    EXPECT_TRUE((std::is_same<PF_Handle, void **>::value));
    EXPECT_TRUE((std::is_same<SPBoolean, int>::value));
#else
    EXPECT_TRUE((std::is_same<PF_Boolean, unsigned char>::value));
    EXPECT_TRUE((std::is_same<PF_Handle, char **>::value));
    EXPECT_TRUE((std::is_same<SPBoolean, unsigned char>::value));
#endif
    EXPECT_TRUE((std::is_same<PF_PixelPtr, PF_Pixel8 *>::value));
    EXPECT_TRUE(std::is_signed<A_long>::value);
    EXPECT_TRUE(std::is_unsigned<A_u_long>::value);
    EXPECT_TRUE((std::is_same<A_Boolean, unsigned char>::value));
}

TEST(SdkPlatform, FlagEnumsStaySignedSoFlagArithmeticOnALongFieldsIsSignClean)
{
    EXPECT_TRUE(std::is_signed<std::underlying_type<decltype(PF_OutFlag_NONE)>::type>::value);
    EXPECT_TRUE(std::is_signed<std::underlying_type<decltype(PF_WorldFlag_DEEP)>::type>::value);
    EXPECT_TRUE(std::is_signed<std::underlying_type<decltype(PF_PixelFormat_ARGB32)>::type>::value);
    PF_OutFlags flags = PF_OutFlag_NONE;
    flags |= PF_OutFlag_AUDIO_EFFECT_ONLY;
    EXPECT_EQ(static_cast<A_u_long>(flags), 0x80000000u);
}

TEST(SdkPlatform, NamesTheMirroredSdkDoesNotDeclareAreAbsent)
{
#ifdef PF_DEF_NAME
    ADD_FAILURE() << "PF_DEF_NAME belongs to newer SDKs; plug-in code defines its own fallback";
#endif
#ifdef DllExport
    ADD_FAILURE() << "DllExport comes from the SDK's utility entry header, not its public headers";
#endif
#if !defined(__linux__) || !defined(AE_OS_LINUX)
    ADD_FAILURE() << "the Linux branch of AEConfig.h is not in effect";
#endif
    SUCCEED();
}

TEST(SdkSuites, NamesAndVersionsMatchWhatTheHostRegisters)
{
    EXPECT_STREQ(kSPBasicSuite, "SP Basic Suite");
    EXPECT_EQ(kSPBasicSuiteVersion, 4);
    EXPECT_STREQ(kPFANSISuite, "PF ANSI Suite");
    EXPECT_EQ(kPFANSISuiteVersion1, 1);
    EXPECT_STREQ(kPFWorldSuite, "PF World Suite");
    EXPECT_EQ(kPFWorldSuiteVersion2, 2);
    EXPECT_STREQ(kPFIterate8Suite, "PF Iterate8 Suite");
    EXPECT_EQ(kPFIterate8SuiteVersion1, 1);
    EXPECT_STREQ(kPFIterate16Suite, "PF iterate16 Suite");
    EXPECT_STREQ(kPFIterateFloatSuite, "PF iterateFloat Suite");
    EXPECT_EQ(kPFIterateFloatSuiteVersion1, 1);
    EXPECT_STREQ(kPFHandleSuite, "PF Handle Suite");
    EXPECT_EQ(kPFHandleSuiteVersion1, 2);
    EXPECT_STREQ(kPFPixelDataSuite, "PF Pixel Data Suite");
    EXPECT_STREQ(kPFEffectSequenceDataSuite, "PF Effect Sequence Data Suite");
    EXPECT_TRUE((std::is_same<PF_IterateFloatSuite1, PF_iterateFloatSuite1>::value));
    EXPECT_TRUE((std::is_same<PF_Iterate16Suite1, PF_iterate16Suite1>::value));
}

} // namespace
