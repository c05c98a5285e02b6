// Pixel, PixelString and FramemeldParameter: the plain types shared by the render and the engine.
#include <cstddef>
#include <new>
#include <type_traits>

#include <gtest/gtest.h>

#include "engine/FramemeldParameter.h"
#include "engine/Pixel.h"
#include "engine/PixelString.h"

namespace {

// The render copies host pixels component by component into this order, and records built
// elsewhere rely on the field order and types.
static_assert(std::is_same<decltype(Pixel<float>::red), float>::value, "float components");
static_assert(offsetof(Pixel<unsigned char>, red) == 0 &&
                  offsetof(Pixel<unsigned char>, green) == 1 &&
                  offsetof(Pixel<unsigned char>, blue) == 2 &&
                  offsetof(Pixel<unsigned char>, alpha) == 3,
              "8-bit pixel is red, green, blue, alpha, one byte each");
static_assert(offsetof(Pixel<float>, alpha) == 3 * sizeof(float) &&
                  sizeof(Pixel<float>) == 4 * sizeof(float),
              "float pixel is red, green, blue, alpha");
static_assert(std::is_same<decltype(FramemeldParameter::bitDepth), int>::value &&
                  std::is_same<decltype(FramemeldParameter::divergence), float>::value &&
                  std::is_same<decltype(FramemeldParameter::ratingRange), float>::value &&
                  std::is_same<decltype(FramemeldParameter::frameCount), int>::value,
              "parameter record field types");
static_assert(offsetof(FramemeldParameter, bitDepth) < offsetof(FramemeldParameter, divergence) &&
                  offsetof(FramemeldParameter, divergence) <
                      offsetof(FramemeldParameter, ratingRange) &&
                  offsetof(FramemeldParameter, ratingRange) <
                      offsetof(FramemeldParameter, frameCount),
              "parameter record field order");
static_assert(!std::is_copy_constructible<PixelString<Pixel<float>>>::value &&
                  !std::is_copy_assignable<PixelString<Pixel<float>>>::value,
              "a copied string would free its pixels twice");

TEST(FramemeldParameter, DefaultsAreThoseOfAFreshRecord)
{
    const FramemeldParameter onStack;
    const FramemeldParameter *onHeap = new FramemeldParameter;
    for (const FramemeldParameter *parameter :
         {&onStack, static_cast<const FramemeldParameter *>(onHeap)}) {
        EXPECT_EQ(parameter->bitDepth, 0);
        EXPECT_EQ(parameter->divergence, 0.01f);
        EXPECT_EQ(parameter->ratingRange, 1.0f);
        EXPECT_EQ(parameter->frameCount, 0);
    }
    delete onHeap;
}

TEST(PixelString, NewStringHoldsZeroedSeparateElementsAndItsPosition)
{
    PixelString<Pixel<unsigned char>> bytes(7, 11, 3);
    EXPECT_EQ(bytes.x, 7);
    EXPECT_EQ(bytes.y, 11);
    ASSERT_EQ(bytes.length, 3);
    for (int k = 0; k < 3; ++k) {
        ASSERT_NE(bytes.pixels[k], nullptr);
        EXPECT_EQ(&bytes[k], bytes.pixels[k]);
        EXPECT_EQ(bytes[k].red, 0);
        EXPECT_EQ(bytes[k].green, 0);
        EXPECT_EQ(bytes[k].blue, 0);
        EXPECT_EQ(bytes[k].alpha, 0);
    }

    // Writing one element leaves its neighbours alone.
    PixelString<Pixel<float>> floats(0, 0, 3);
    floats[1] = Pixel<float>{0.25f, 0.5f, 0.75f, 1.0f};
    EXPECT_EQ(floats[0].alpha, 0.0f);
    EXPECT_EQ(floats[1].green, 0.5f);
    EXPECT_EQ(floats[2].red, 0.0f);
    const PixelString<Pixel<float>> &readOnly = floats;
    EXPECT_EQ(readOnly[1].alpha, 1.0f);
}

TEST(PixelString, EmptyStringHasNoElements)
{
    PixelString<Pixel<float>> empty(3, 4, 0);
    EXPECT_EQ(empty.length, 0);
    EXPECT_EQ(empty.x, 3);
    EXPECT_EQ(empty.y, 4);
    // Leaks or a double free of the empty array are left to the sanitizer build.
}

// A pixel that counts its live instances and can be told to fail its k-th construction.
struct CountedPixel {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    float alpha = 0.0f;

    static int live;
    static int constructionsBeforeFailure; // negative: never fail

    CountedPixel()
    {
        if (constructionsBeforeFailure == 0) {
            throw std::bad_alloc();
        }
        if (constructionsBeforeFailure > 0) {
            --constructionsBeforeFailure;
        }
        ++live;
    }
    ~CountedPixel() { --live; }
    CountedPixel(const CountedPixel &) = delete;
    CountedPixel &operator=(const CountedPixel &) = delete;
};
int CountedPixel::live = 0;
int CountedPixel::constructionsBeforeFailure = -1;

TEST(PixelString, OwnsEveryElementAndFreesThemAllEvenWhenConstructionFails)
{
    CountedPixel::live = 0;
    CountedPixel::constructionsBeforeFailure = -1;
    {
        PixelString<CountedPixel> string(0, 0, 5);
        EXPECT_EQ(CountedPixel::live, 5);
        for (int k = 0; k < 5; ++k) {
            for (int other = 0; other < k; ++other) {
                EXPECT_NE(string.pixels[k], string.pixels[other])
                    << "elements " << k << " and " << other << " share memory";
            }
        }
    }
    EXPECT_EQ(CountedPixel::live, 0) << "a pixel outlived its string";

    // The third element cannot be made: the two made before it are destroyed, and the sanitizer
    // build sees the string's memory freed.
    CountedPixel::constructionsBeforeFailure = 2;
    EXPECT_THROW(PixelString<CountedPixel>(0, 0, 5), std::bad_alloc);
    EXPECT_EQ(CountedPixel::live, 0);
    CountedPixel::constructionsBeforeFailure = -1;
}

TEST(PixelString, NegativeLengthIsRefusedWithoutLeaking)
{
    EXPECT_THROW(PixelString<Pixel<float>>(0, 0, -1), std::bad_array_new_length);
}

} // namespace
