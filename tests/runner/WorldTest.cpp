#include "runner/World.h"
#include "runner/FrameSource.h"

#include <gtest/gtest.h>

using namespace framemeld::runner;

namespace {

class WorldLayout : public ::testing::TestWithParam<PixelDepth> {};

TEST_P(WorldLayout, RowsArePaddedByAnOddPixelCountPlusBytesThatKeepChannelsAligned)
{
    const PixelDepth depth = GetParam();
    const std::size_t pixel = bytesPerPixel(depth);
    for (std::size_t width : {1U, 2U, 7U, 64U}) {
        World world(static_cast<int>(width), 3, depth);
        const auto rowbytes = static_cast<std::size_t>(world.rowStride());
        EXPECT_GT(rowbytes, width * pixel);
        // Not a whole number of pixels: stepping rows by rowbytes / pixel size goes wrong.
        EXPECT_NE(rowbytes % pixel, 0U) << "width " << width;
        EXPECT_EQ(rowbytes % bytesPerChannel(depth), 0U);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(world.row(2)) % bytesPerChannel(depth), 0U);
        // The block ends with the last pixel, so reading past it is an out-of-bounds access.
        EXPECT_EQ(world.byteSize(), 2 * rowbytes + width * pixel);
    }
}

TEST_P(WorldLayout, RecordDescribesThePixelsAndIsRecognisedThroughCopies)
{
    const PixelDepth depth = GetParam();
    World world(5, 4, depth);
    const PF_EffectWorld *record = world.effectWorld();
    EXPECT_EQ(record->width, 5);
    EXPECT_EQ(record->height, 4);
    EXPECT_EQ(reinterpret_cast<const unsigned char *>(record->data), world.row(0));
    EXPECT_EQ(PF_WORLD_IS_DEEP(record), depth != PixelDepth::Bits8);
    EXPECT_EQ(record->extent_hint.right, 5);
    EXPECT_EQ(record->extent_hint.bottom, 4);

    const PF_EffectWorld copy = *record;
    EXPECT_EQ(World::depthOf(&copy), depth);

    PF_EffectWorld foreign{};
    foreign.width = 5;
    foreign.data = record->data;
    EXPECT_FALSE(World::depthOf(&foreign).has_value());
    EXPECT_FALSE(World::depthOf(nullptr).has_value());
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, WorldLayout,
                         ::testing::Values(PixelDepth::Bits8, PixelDepth::Bits16,
                                           PixelDepth::Float32));

TEST(World, StartsTransparentAndCopiesKeepTheirOwnPixels)
{
    World world(3, 2, PixelDepth::Bits16);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const PF_Pixel16 &p = world.at<PF_Pixel16>(x, y);
            EXPECT_EQ(p.alpha + p.red + p.green + p.blue, 0);
        }
    }
    world.at<PF_Pixel16>(2, 1).red = 32768;

    World copy = world.clone();
    EXPECT_EQ(copy.rowStride(), world.rowStride());
    EXPECT_EQ(copy.at<PF_Pixel16>(2, 1).red, 32768);
    copy.at<PF_Pixel16>(2, 1).red = 1;
    EXPECT_EQ(world.at<PF_Pixel16>(2, 1).red, 32768);

    World part = world.cropped(2, 1);
    EXPECT_EQ(part.width(), 2);
    EXPECT_EQ(part.height(), 1);
    EXPECT_THROW(world.cropped(4, 1), std::invalid_argument);

    World moved = std::move(world);
    EXPECT_EQ(moved.at<PF_Pixel16>(2, 1).red, 32768);
    EXPECT_FALSE(world.valid()); // NOLINT(bugprone-use-after-move): the moved-from state is defined
}

TEST(World, RefusesMismatchedPixelTypesAndImpossibleLayouts)
{
    World world(2, 2, PixelDepth::Float32);
    EXPECT_THROW(world.row<PF_Pixel8>(0), std::logic_error);
    EXPECT_NO_THROW(world.row<PF_PixelFloat>(0));

    EXPECT_THROW(World(-1, 2, PixelDepth::Bits8), std::invalid_argument);
    EXPECT_THROW(World(2, 30001, PixelDepth::Bits8), std::invalid_argument);
    EXPECT_THROW(World(2, 2, PixelDepth::Float32, RowPadding{3, 2}), std::invalid_argument);

    World empty(0, 0, PixelDepth::Bits8);
    EXPECT_NE(empty.effectWorld()->data, nullptr);
    EXPECT_EQ(empty.byteSize(), 0U);
}

TEST(World, CopiesAnAreaBetweenPlacesAndRefusesOneThatDoesNotFit)
{
    World from(5, 4, PixelDepth::Bits8);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            from.at<PF_Pixel8>(x, y).red = static_cast<A_u_char>(10 * y + x);
        }
    }
    World to(4, 4, PixelDepth::Bits8);
    to.fillBytes(0xEE);
    copyPixels(from, PF_LRect{2, 1, 5, 3}, to, 1, 2);
    EXPECT_EQ(to.at<PF_Pixel8>(1, 2).red, 12);
    EXPECT_EQ(to.at<PF_Pixel8>(3, 3).red, 24);
    EXPECT_EQ(to.at<PF_Pixel8>(0, 2).red, 0xEE); // left of the area
    EXPECT_EQ(to.at<PF_Pixel8>(1, 1).red, 0xEE); // above it

    EXPECT_THROW(copyPixels(from, PF_LRect{3, 0, 6, 1}, to, 0, 0), std::invalid_argument);
    EXPECT_THROW(copyPixels(from, PF_LRect{-1, 0, 1, 1}, to, 0, 0), std::invalid_argument);
    EXPECT_THROW(copyPixels(from, PF_LRect{0, 0, 2, 2}, to, 3, 0), std::invalid_argument);
    World deeper(4, 4, PixelDepth::Bits16);
    EXPECT_THROW(copyPixels(from, PF_LRect{0, 0, 1, 1}, deeper, 0, 0), std::invalid_argument);
    EXPECT_NO_THROW(copyPixels(from, PF_LRect{2, 2, 2, 9}, to, 0, 0)); // empty: nothing to copy
}

TEST(InMemoryFrameSource, GivesAnyAreaOfAFrame)
{
    InMemoryFrameSource source(4, 3, PixelDepth::Float32);
    World &frame = source.addFrame();
    frame.at<PF_PixelFloat>(3, 2).blue = 0.25f;
    frame.at<PF_PixelFloat>(2, 1).blue = 0.5f;
    World area(2, 2, PixelDepth::Float32);
    source.fillArea(0, PF_LRect{2, 1, 4, 3}, area);
    EXPECT_EQ(area.at<PF_PixelFloat>(0, 0).blue, 0.5f);
    EXPECT_EQ(area.at<PF_PixelFloat>(1, 1).blue, 0.25f);
    EXPECT_EQ(area.at<PF_PixelFloat>(1, 0).blue, 0.0f);
    EXPECT_THROW(source.fillArea(1, PF_LRect{0, 0, 1, 1}, area), std::out_of_range);
}

TEST(InMemoryFrameSource, HoldsFramesOfOneFormatAtStableAddresses)
{
    InMemoryFrameSource source(4, 3, PixelDepth::Bits8);
    World &first = source.addFrame();
    first.at<PF_Pixel8>(1, 1).green = 9;
    for (int i = 0; i < 40; ++i) {
        source.addFrame();
    }
    EXPECT_EQ(&source.frame(0), &first);
    EXPECT_EQ(source.frame(0).at<PF_Pixel8>(1, 1).green, 9);
    EXPECT_EQ(source.frameCount(), 41);
    EXPECT_THROW(source.frame(41), std::out_of_range);
    EXPECT_THROW(source.addFrame(World(4, 3, PixelDepth::Bits16)), std::invalid_argument);
    EXPECT_THROW(source.addFrame(World(5, 3, PixelDepth::Bits8)), std::invalid_argument);
}

} // namespace
