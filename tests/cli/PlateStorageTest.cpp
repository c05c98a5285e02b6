// What a plate file stores: the footage's type where the render keeps it, the format's nearest
// otherwise, the user's --data-type and --compression held to what each format takes, and lossy
// formats only when asked for by name.
#include "cli/plate/PlateStorage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/core/CliError.h"

using namespace framemeld::cli;
using framemeld::runner::PixelDepth;
using testing::HasSubstr;

namespace {

PlateStorage storageOf(const std::string &path, PixelDepth depth, PixelDepth footageDepth,
                       const std::string &footageType, const std::string &dataType = {},
                       const std::string &compression = {})
{
    PlateStorageRequest request;
    request.depth = depth;
    request.footageDepth = footageDepth;
    request.footageType = footageType;
    request.dataType = dataType;
    request.compression = compression;
    return choosePlateStorage(path, request);
}

std::string usageMessage(const std::string &path, const std::string &dataType,
                         const std::string &compression)
{
    try {
        storageOf(path, PixelDepth::Float32, PixelDepth::Float32, "half", dataType, compression);
    } catch (const UsageError &error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(PlateStorage, TheFootagesTypeIsKeptAtItsOwnDepthAndTheRenderDepthsOtherwise)
{
    // Half in, half out; float in, float out.
    EXPECT_EQ(storageOf("p.exr", PixelDepth::Float32, PixelDepth::Float32, "half").dataType,
              "half");
    EXPECT_EQ(storageOf("p.exr", PixelDepth::Float32, PixelDepth::Float32, "float").dataType,
              "float");
    // Rendered at another depth than the footage's: the render's, or the format's nearest.
    EXPECT_EQ(storageOf("p.exr", PixelDepth::Bits16, PixelDepth::Float32, "half").dataType,
              "float");
    EXPECT_EQ(storageOf("p.exr", PixelDepth::Bits8, PixelDepth::Bits8, "uint8").dataType, "half");
    EXPECT_EQ(storageOf("p.tif", PixelDepth::Float32, PixelDepth::Bits16, "uint16").dataType,
              "float");
    EXPECT_EQ(storageOf("p.png", PixelDepth::Float32, PixelDepth::Float32, "half").dataType,
              "uint16");
    // 10-bit DPX stays 10-bit at its own depth; as TIFF it is 16-bit.
    EXPECT_EQ(storageOf("p.dpx", PixelDepth::Bits16, PixelDepth::Bits16, "uint10").dataType,
              "uint10");
    EXPECT_EQ(storageOf("p.tif", PixelDepth::Bits16, PixelDepth::Bits16, "uint10").dataType,
              "uint16");
    // TIFF keeps its deflate level 4; a lossy format asked for by name says it is lossy.
    EXPECT_EQ(storageOf("p.tif", PixelDepth::Bits8, PixelDepth::Bits8, "uint8").compression,
              "zip:4");
    EXPECT_FALSE(storageOf("p.tif", PixelDepth::Bits8, PixelDepth::Bits8, "uint8").lossy);
    EXPECT_TRUE(
        storageOf("p.webp", PixelDepth::Bits8, PixelDepth::Bits8, "uint8", {}, "webp:80").lossy);
}

TEST(PlateStorage, TypesAndCompressionsAreHeldToWhatTheFormatTakes)
{
    EXPECT_EQ(usageMessage("p.exr", "half", "dwaa:45"), "(accepted)");
    EXPECT_EQ(usageMessage("p.exr", "float", "piz"), "(accepted)");
    EXPECT_EQ(usageMessage("p.tif", "uint16", "lzw"), "(accepted)");
    EXPECT_EQ(usageMessage("p.png", "uint8", "deflate:9"), "(accepted)");
    EXPECT_EQ(usageMessage("p.jpg", "uint8", "jpeg:90"), "(accepted)");

    EXPECT_THAT(usageMessage("p.exr", "uint16", ""), HasSubstr("EXR plates hold half, float"));
    EXPECT_THAT(usageMessage("p.png", "float", ""), HasSubstr("PNG plates hold uint8, uint16"));
    EXPECT_THAT(usageMessage("p.exr", "", "deflate"), HasSubstr("EXR plates take none, rle"));
    EXPECT_THAT(usageMessage("p.exr", "", "dwaa:x"), HasSubstr("--compression dwaa:x"));
    EXPECT_THAT(usageMessage("p.tif", "", "piz"), HasSubstr("TIFF plates take"));
    EXPECT_THAT(usageMessage("p.png", "", "deflate:10"), HasSubstr("PNG plates take"));
    EXPECT_THAT(usageMessage("p.dpx", "", "zip"), HasSubstr("DPX is not compressed"));
    EXPECT_THAT(usageMessage("p.bmp", "", "zip"), HasSubstr("not those of p.bmp"));
    // A lossy format is written only when its loss is asked for by name.
    EXPECT_THAT(usageMessage("p.jpg", "", ""), HasSubstr("JPEG plates are lossy"));
    EXPECT_THAT(usageMessage("p.jpg", "", "jpeg"), HasSubstr("jpeg:1-100"));
    EXPECT_THAT(usageMessage("p.webp", "", ""), HasSubstr("WebP plates are lossy"));
}

TEST(PlateStorage, WhatClipsAndWhatHoldsWhat)
{
    EXPECT_TRUE(clipsHdr("uint16", PixelDepth::Float32));
    EXPECT_FALSE(clipsHdr("half", PixelDepth::Float32));
    EXPECT_FALSE(clipsHdr("uint8", PixelDepth::Bits16));

    EXPECT_TRUE(typeHolds("float", "half"));
    EXPECT_TRUE(typeHolds("half", "half"));
    EXPECT_TRUE(typeHolds("uint16", "uint10"));
    EXPECT_TRUE(typeHolds("half", "uint8"));
    EXPECT_FALSE(typeHolds("uint16", "float"));
    EXPECT_FALSE(typeHolds("uint16", "half"));
    EXPECT_FALSE(typeHolds("half", "float"));
    EXPECT_FALSE(typeHolds("uint8", "uint16"));
}

} // namespace
