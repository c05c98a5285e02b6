// The SDK macros do what effect code expects of them: the interaction and utility macros reach
// the right host callback with the arguments in order, version packing survives a round trip,
// the error chaining keeps the first failure, and the fixed-point and struct helpers compute
// what they claim.

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectPixelFormat.h"
#include "AE_Macros.h"

namespace {

// What the fake host callbacks last saw.
struct Seen {
    PF_ProgPtr effect_ref = nullptr;
    A_long a = 0, b = 0, c = 0, d = 0;
    const void *pointer = nullptr;
};
Seen g_seen;

PF_Err FakeCheckout(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                    PF_ParamDef *param)
{
    g_seen = {ref, index, time, step, static_cast<A_long>(scale), param};
    return 7;
}
PF_Err FakeCheckin(PF_ProgPtr ref, PF_ParamDef *param)
{
    g_seen = {ref, 0, 0, 0, 0, param};
    return 8;
}
PF_Err FakeAddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDefPtr def)
{
    g_seen = {ref, index, 0, 0, 0, def};
    return 9;
}
PF_Err FakeAbort(PF_ProgPtr ref)
{
    g_seen = {ref, 0, 0, 0, 0, nullptr};
    return PF_Interrupt_CANCEL;
}
PF_Err FakeProgress(PF_ProgPtr ref, A_long current, A_long total)
{
    g_seen = {ref, current, total, 0, 0, nullptr};
    return 11;
}

int FakeSprintf(A_char *dst, const A_char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int written = std::vsnprintf(dst, PF_MAX_EFFECT_MSG_LEN + 1, fmt, args);
    va_end(args);
    return written;
}
A_char *FakeStrcpy(A_char *dst, const A_char *src)
{
    return std::strcpy(dst, src);
}

PF_Err FakePixelData8(PF_EffectWorld *world, PF_PixelPtr, PF_Pixel8 **out)
{
    *out = reinterpret_cast<PF_Pixel8 *>(world->data);
    return PF_Err_NONE;
}
PF_Err FakePixelData16(PF_EffectWorld *world, PF_PixelPtr, PF_Pixel16 **out)
{
    *out = reinterpret_cast<PF_Pixel16 *>(world->data);
    return 12;
}

class SdkMacros : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen = {};
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(&effect_token);
        in.inter.checkout_param = FakeCheckout;
        in.inter.checkin_param = FakeCheckin;
        in.inter.add_param = FakeAddParam;
        in.inter.abort = FakeAbort;
        in.inter.progress = FakeProgress;
        utils.ansi.sprintf = FakeSprintf;
        utils.ansi.strcpy = FakeStrcpy;
        utils.get_pixel_data8 = FakePixelData8;
        utils.get_pixel_data16 = FakePixelData16;
        in.utils = &utils;
    }

    int effect_token = 0;
    PF_InData in{};
    PF_UtilCallbacks utils{};
};

TEST_F(SdkMacros, InteractionMacrosPassEffectRefThenArgumentsInOrder)
{
    PF_ParamDef def{};
    EXPECT_EQ(PF_CHECKOUT_PARAM(&in, 3, 100, 4, 24, &def), 7);
    EXPECT_EQ(g_seen.effect_ref, in.effect_ref);
    EXPECT_EQ(g_seen.a, 3);
    EXPECT_EQ(g_seen.b, 100);
    EXPECT_EQ(g_seen.c, 4);
    EXPECT_EQ(g_seen.d, 24);
    EXPECT_EQ(g_seen.pointer, &def);

    g_seen = {};
    EXPECT_EQ(PF_CHECKIN_PARAM(&in, &def), 8);
    EXPECT_EQ(g_seen.effect_ref, in.effect_ref);
    EXPECT_EQ(g_seen.pointer, &def);

    g_seen = {};
    EXPECT_EQ(PF_ADD_PARAM(&in, -1, &def), 9);
    EXPECT_EQ(g_seen.effect_ref, in.effect_ref);
    EXPECT_EQ(g_seen.a, -1);
    EXPECT_EQ(g_seen.pointer, &def);

    g_seen = {};
    EXPECT_EQ(PF_ABORT(&in), PF_Interrupt_CANCEL);
    EXPECT_EQ(g_seen.effect_ref, in.effect_ref);

    g_seen = {};
    EXPECT_EQ(PF_PROGRESS(&in, 5, 9), 11);
    EXPECT_EQ(g_seen.effect_ref, in.effect_ref);
    EXPECT_EQ(g_seen.a, 5);
    EXPECT_EQ(g_seen.b, 9);
}

TEST_F(SdkMacros, UtilityMacrosUseTheInDataOfTheCallingScope)
{
    PF_InData *in_data = &in;
    A_char text[PF_MAX_EFFECT_MSG_LEN + 1] = {};
    EXPECT_EQ(PF_SPRINTF(text, "%s %d", "frames", 12), 9);
    EXPECT_STREQ(text, "frames 12");
    EXPECT_EQ(PF_STRCPY(text, "plate"), text);
    EXPECT_STREQ(text, "plate");

    PF_Pixel16 pixels16[2] = {};
    PF_EffectWorld world{};
    world.data = reinterpret_cast<PF_PixelPtr>(pixels16);
    PF_Pixel8 *first8 = nullptr;
    PF_Pixel16 *first16 = nullptr;
    EXPECT_EQ(PF_GET_PIXEL_DATA8(&world, nullptr, &first8), PF_Err_NONE);
    EXPECT_EQ(reinterpret_cast<void *>(first8), static_cast<void *>(pixels16));
    EXPECT_EQ(PF_GET_PIXEL_DATA16(&world, nullptr, &first16), 12);
    EXPECT_EQ(first16, pixels16);
}

TEST(SdkVersion, PackingRoundTripsEveryFieldWithoutBleeding)
{
    for (A_u_long vers = 0; vers < 128; ++vers) {
        const A_u_long packed = PF_VERSION(vers, 15, 15, PF_Stage_RELEASE, 511);
        ASSERT_EQ(PF_Version_VERS(packed), vers);
        ASSERT_EQ(PF_Version_SUBVERS(packed), 15u);
        ASSERT_EQ(PF_Version_BUGFIX(packed), 15u);
        ASSERT_EQ(PF_Version_STAGE(packed), static_cast<A_u_long>(PF_Stage_RELEASE));
        ASSERT_EQ(PF_Version_BUILD(packed), 511u);
    }
    // Out-of-range arguments are masked, not carried into the neighbouring field.
    EXPECT_EQ(PF_VERSION(0, 16, 0, 0, 512), 0u);
    EXPECT_EQ(PF_VERSION(0, 0, 0, 4, 0), 0u);
    EXPECT_EQ(PF_Version_VERS(PF_VERSION(2, 2, 0, PF_Stage_DEVELOP, 1)), 2u);
}

PF_Err Step(A_long *calls, PF_Err result)
{
    ++*calls;
    return result;
}

TEST(SdkErrorChaining, ErrSkipsStepsAfterAFailureAndErr2AlwaysRunsButKeepsTheFirst)
{
    PF_Err err = PF_Err_NONE;
    PF_Err err2 = PF_Err_NONE;
    A_long calls = 0;
    ERR(Step(&calls, PF_Err_NONE));
    ERR(Step(&calls, PF_Err_OUT_OF_MEMORY));
    ERR(Step(&calls, PF_Err_BAD_CALLBACK_PARAM));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);

    ERR2(Step(&calls, PF_Err_INVALID_INDEX));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(err2, PF_Err_INVALID_INDEX);

    err = PF_Err_NONE;
    ERR2(Step(&calls, PF_Err_INVALID_CALLBACK));
    EXPECT_EQ(err, PF_Err_INVALID_CALLBACK);
    ERR2(Step(&calls, PF_Err_NONE));
    EXPECT_EQ(err, PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(calls, 5);
}

TEST(SdkStructHelpers, ClearZeroesEveryByteAndCopyCopiesThemAll)
{
    PF_ParamDef def;
    std::memset(&def, 0xAB, sizeof def);
    AEFX_CLR_STRUCT(def);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&def);
    for (std::size_t i = 0; i < sizeof def; ++i) {
        ASSERT_EQ(bytes[i], 0u) << "byte " << i;
    }

    PF_ParamDef source;
    std::memset(&source, 0x5C, sizeof source);
    AEFX_COPY_STRUCT(source, def);
    EXPECT_EQ(std::memcmp(&source, &def, sizeof def), 0);
}

TEST(SdkFixedPoint, ConversionsRoundAndKeepSign)
{
    EXPECT_EQ(INT2FIX(3), 3 * 65536);
    EXPECT_EQ(INT2FIX(-3), -3 * 65536);
    EXPECT_EQ(FIX2INT(INT2FIX(-7)), -7);
    EXPECT_EQ(FIX2INT(A_Fixed_ONE + A_Fixed_HALF), 1);
    EXPECT_EQ(FIX2INT_ROUND(A_Fixed_ONE + A_Fixed_HALF), 2);
    EXPECT_EQ(FLOAT2FIX(1.5), 98304);
    EXPECT_EQ(FLOAT2FIX(-1.5), -98304);
    EXPECT_DOUBLE_EQ(FIX_2_FLOAT(FLOAT2FIX(0.25)), 0.25);
    EXPECT_DOUBLE_EQ(RATIO2FLOAT((PF_RationalScale{1, 4})), 0.25);
}

TEST(SdkChannels, EightBitFullScaleMapsToTheHostSixteenBitFullScale)
{
    EXPECT_EQ(CONVERT8TO16(0), 0);
    EXPECT_EQ(CONVERT8TO16(PF_MAX_CHAN8), PF_MAX_CHAN16);
    EXPECT_EQ(CONVERT8TO16(PF_HALF_CHAN8), 16448);
}

TEST(SdkPixelFormats, FourCcIsTheCharactersInLittleEndianOrder)
{
    const A_long formats[] = {PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128};
    const char *const spelled[] = {"argb", "ae16", "ae32"};
    for (int i = 0; i < 3; ++i) {
        const A_u_long value = static_cast<A_u_long>(formats[i]);
        const char chars[5] = {
            static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
            static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF), '\0'};
        EXPECT_STREQ(chars, spelled[i]);
    }
}

} // namespace
