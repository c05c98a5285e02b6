// With PF_DEEP_COLOR_AWARE defined first, a world's data pointer is opaque, so pixel access must
// state its depth; without it the pointer is an 8-bit pixel pointer (SdkPlatformTest.cpp).

#define PF_DEEP_COLOR_AWARE 1

#include <type_traits>

#include <gtest/gtest.h>

#include "AE_Effect.h"

namespace {

TEST(SdkDeepColor, WorldDataIsOpaqueWhenTheEffectDeclaresDeepColor)
{
    EXPECT_FALSE((std::is_convertible<PF_PixelPtr, PF_Pixel8 *>::value));
    EXPECT_FALSE((std::is_convertible<PF_PixelPtr, PF_PixelFloat *>::value));
    EXPECT_TRUE(std::is_pointer<PF_PixelPtr>::value);
    EXPECT_EQ(sizeof(PF_PixelPtr), sizeof(void *));

    PF_PixelFloat pixel{1.0f, 0.5f, 0.25f, 0.0f};
    PF_EffectWorld world{};
    world.data = reinterpret_cast<PF_PixelPtr>(&pixel);
    EXPECT_FLOAT_EQ(reinterpret_cast<PF_PixelFloat *>(world.data)->green, 0.25f);
}

} // namespace
