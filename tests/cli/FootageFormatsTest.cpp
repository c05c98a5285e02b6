// The formats read through OpenImageIO, sample for sample: every layout (grey, grey and alpha,
// RGB, RGBA, more channels than used), 8 and 16 bits, 10-bit DPX, half and float EXR in several
// compressions, TIFF and EXR in strips and in tiles, at every render depth. Each frame spans
// several of the reader's row chunks and tile rows, and the expected host samples come from
// OpenImageIO reading the whole image by itself, not from the reader under test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/MemoryFrameSource.h"
#include "cli/pixels/PixelConversion.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr int kWidth = 37;
constexpr int kHeight = 150; // more than two of the reader's chunks, not a whole number of tiles

struct FrameFile {
    std::string name;
    int channels;
    OIIO::TypeDesc type;
    std::string compression;
    int tile = 0;                                       // 0: scanlines or strips
    OIIO::TypeDesc alphaType = OIIO::TypeDesc::UNKNOWN; // another kind for the alpha channel
};

std::string describe(const FrameFile &file)
{
    return file.name + " (" + std::to_string(file.channels) + " channels, " + file.type.c_str() +
           ", " + (file.compression.empty() ? "default" : file.compression) +
           (file.tile > 0 ? ", tiled" : "") + ")";
}

// Samples spread over the whole range and beyond it (negative and above 1 for the float files),
// differing per pixel and channel, with the fine steps that integer files round away.
std::vector<float> frameValues(int channels)
{
    std::vector<float> values;
    for (int i = 0; i < kWidth * kHeight * channels; ++i) {
        values.push_back(static_cast<float>((i * 7919) % 2003) / 1800.0f - 0.05f);
    }
    return values;
}

void writeFrame(const std::string &path, const FrameFile &file)
{
    OIIO::ImageSpec spec(kWidth, kHeight, file.channels, file.type);
    if (file.channels == 2 || file.channels >= 4) {
        spec.alpha_channel = file.channels == 2 ? 1 : 3;
    }
    if (file.channels == 1) {
        spec.channelnames = {"Y"};
    } else if (file.channels == 2) {
        spec.channelnames = {"Y", "A"};
    } else if (file.channels == 5) {
        spec.channelnames = {"R", "G", "B", "A", "Z"};
    }
    if (file.alphaType != OIIO::TypeDesc::UNKNOWN) {
        spec.channelformats.assign(static_cast<std::size_t>(file.channels), file.type);
        spec.channelformats[static_cast<std::size_t>(spec.alpha_channel)] = file.alphaType;
    }
    if (file.tile > 0) {
        spec.tile_width = file.tile;
        spec.tile_height = file.tile;
    }
    if (!file.compression.empty()) {
        spec.attribute("compression", file.compression);
    }
    if (file.type == OIIO::TypeDesc::UINT16 && file.name.find(".dpx") != std::string::npos) {
        spec.attribute("oiio:BitsPerSample", 10);
    }
    spec.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << OIIO::geterror();
    ASSERT_TRUE(out->open(path, spec)) << out->geterror();
    const std::vector<float> values = frameValues(file.channels);
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, values.data())) << out->geterror();
    ASSERT_TRUE(out->close()) << out->geterror();
}

// What OpenImageIO makes of the whole file on its own: integer samples as stored, half and float
// as float.
template <typename File> std::vector<File> wholeImage(const std::string &path, int &channels)
{
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    EXPECT_TRUE(in) << OIIO::geterror();
    if (!in) {
        return {};
    }
    channels = in->spec().nchannels;
    std::vector<File> samples(static_cast<std::size_t>(kWidth * kHeight * channels));
    EXPECT_TRUE(in->read_image(0, 0, 0, channels, OIIO::BaseTypeFromC<File>::value, samples.data()))
        << in->geterror();
    // OpenImageIO leaves unwritten the samples of a 10-bit DPX row's last word when it holds
    // fewer than three (RGBA 37 pixels wide: the last alpha). Those come from what was written:
    // 16 bits, their top 10 stored, widened back by repeating the top bits.
    const std::size_t rowSamples = static_cast<std::size_t>(kWidth * channels);
    if constexpr (std::is_same_v<File, std::uint16_t>) {
        if (in->spec().get_int_attribute("oiio:BitsPerSample", 0) == 10 && rowSamples % 3 != 0) {
            const std::vector<float> written = frameValues(channels);
            for (std::size_t row = 0; row < static_cast<std::size_t>(kHeight); ++row) {
                for (std::size_t s = rowSamples / 3 * 3; s < rowSamples; ++s) {
                    const float v = std::clamp(written[row * rowSamples + s], 0.0f, 1.0f);
                    const auto tenBits = static_cast<unsigned>(std::lround(v * 65535.0f)) >> 6;
                    samples[row * rowSamples + s] =
                        static_cast<std::uint16_t>((tenBits << 6) | (tenBits >> 4));
                }
            }
        }
    }
    return samples;
}

template <typename Host> Host opaque();
template <> std::uint8_t opaque<std::uint8_t>()
{
    return 255;
}
template <> std::uint16_t opaque<std::uint16_t>()
{
    return 32768;
}
template <> float opaque<float>()
{
    return 1.0f;
}

template <typename Host> bool same(Host a, Host b)
{
    if constexpr (std::is_same_v<Host, float>) {
        return a == b || (std::isnan(a) && std::isnan(b));
    } else {
        return a == b;
    }
}

// Compares every host sample of the decoded frame with the whole-image read converted by
// toHostSample; returns the number of differences (the first few are reported).
template <typename File, typename Host, typename Pixel>
int countDifferences(const std::string &path, const World &world, const std::string &what)
{
    int channels = 0;
    const std::vector<File> file = wholeImage<File>(path, channels);
    if (file.empty()) {
        return -1;
    }
    // Grey files feed all three colours; the alpha is the second channel of two or the fourth.
    const int green = channels >= 3 ? 1 : 0;
    const int blue = channels >= 3 ? 2 : 0;
    const int alpha = channels == 2 ? 1 : (channels >= 4 ? 3 : -1);
    int differences = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const File *s = file.data() + static_cast<std::size_t>((y * kWidth + x) * channels);
            const Pixel &p = world.at<Pixel>(x, y);
            const Host want[4] = {alpha < 0 ? opaque<Host>() : toHostSample<File, Host>(s[alpha]),
                                  toHostSample<File, Host>(s[0]),
                                  toHostSample<File, Host>(s[green]),
                                  toHostSample<File, Host>(s[blue])};
            const Host got[4] = {p.alpha, p.red, p.green, p.blue};
            for (int c = 0; c < 4; ++c) {
                if (!same(got[c], want[c]) && ++differences <= 3) {
                    ADD_FAILURE() << what << " at " << x << "," << y << " component " << c
                                  << ": got " << +got[c] << ", OpenImageIO gives " << +want[c];
                }
            }
        }
    }
    return differences;
}

template <typename File> void checkEveryDepth(const TempDir &dir, const FrameFile &file)
{
    const std::string path = dir.file(file.name);
    writeFrame(path, file);
    const Clip clip = discoverClip(path);
    const FootageFormat format = probeFootage(clip);
    const std::string what = describe(file);
    {
        MemoryFrameSource source(clip, format, PixelDepth::Bits8, 2, nullptr);
        EXPECT_EQ((countDifferences<File, std::uint8_t, PF_Pixel8>(path, source.frame(0),
                                                                   what + " at 8 bits")),
                  0);
    }
    {
        MemoryFrameSource source(clip, format, PixelDepth::Bits16, 2, nullptr);
        EXPECT_EQ((countDifferences<File, std::uint16_t, PF_Pixel16>(path, source.frame(0),
                                                                     what + " at 16 bits")),
                  0);
    }
    {
        MemoryFrameSource source(clip, format, PixelDepth::Float32, 2, nullptr);
        EXPECT_EQ((countDifferences<File, float, PF_PixelFloat>(path, source.frame(0),
                                                                what + " at 32 bits")),
                  0);
    }
}

TEST(FootageFormats, TiffInStripsAndTilesAtEightAndSixteenBits)
{
    TempDir dir;
    for (const int channels : {1, 2, 3, 4}) {
        for (const int tile : {0, 16}) {
            const std::string stem = "c" + std::to_string(channels) + "t" + std::to_string(tile);
            checkEveryDepth<std::uint8_t>(
                dir, {stem + "-8.tif", channels, OIIO::TypeDesc::UINT8, "zip", tile});
            checkEveryDepth<std::uint16_t>(
                dir, {stem + "-16.tif", channels, OIIO::TypeDesc::UINT16, "zip", tile});
        }
    }
}

TEST(FootageFormats, TenBitDpx)
{
    TempDir dir;
    for (const int channels : {3, 4}) {
        checkEveryDepth<std::uint16_t>(
            dir, {"c" + std::to_string(channels) + ".dpx", channels, OIIO::TypeDesc::UINT16, ""});
    }
    // The packing itself: full scale and zero survive exactly, and a 10-bit file has at most
    // 1024 distinct values per channel whatever the host depth.
    int channels = 0;
    const auto samples = wholeImage<std::uint16_t>(dir.file("c3.dpx"), channels);
    std::vector<bool> seen(65536, false);
    int distinct = 0;
    for (const std::uint16_t s : samples) {
        if (!seen[s]) {
            seen[s] = true;
            ++distinct;
        }
    }
    EXPECT_LE(distinct, 1024);
    EXPECT_TRUE(seen[0]);
    EXPECT_TRUE(seen[65535]);
}

TEST(FootageFormats, HalfExrInEveryCompressionAndLayout)
{
    TempDir dir;
    for (const char *compression : {"zip", "piz", "dwaa", "none"}) {
        for (const int channels : {1, 2, 3, 4}) {
            checkEveryDepth<float>(
                dir, {std::string(compression) + "-c" + std::to_string(channels) + ".exr", channels,
                      OIIO::TypeDesc::HALF, compression});
        }
    }
    checkEveryDepth<float>(dir, {"tiled.exr", 4, OIIO::TypeDesc::HALF, "zip", 32});
    // A channel beyond colour and alpha would be lost in the plate: the frame is refused by it.
    const std::string deep = dir.file("deep.exr");
    writeFrame(deep, {"deep.exr", 5, OIIO::TypeDesc::HALF, "zip"});
    try {
        probeFootage(discoverClip(deep));
        ADD_FAILURE() << "a frame with a Z channel was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), testing::HasSubstr("channels beyond colour and alpha (Z)"));
    }
}

TEST(FootageFormats, FloatExrAndMixedChannelKinds)
{
    TempDir dir;
    for (const int channels : {1, 3, 4}) {
        checkEveryDepth<float>(
            dir, {"f" + std::to_string(channels) + ".exr", channels, OIIO::TypeDesc::FLOAT, "zip"});
    }
    checkEveryDepth<float>(dir, {"tiled.exr", 3, OIIO::TypeDesc::FLOAT, "zip", 16});
    checkEveryDepth<float>(dir,
                           {"mixed.exr", 4, OIIO::TypeDesc::HALF, "zip", 0, OIIO::TypeDesc::FLOAT});
}

// A run told to use one thread must not have OpenEXR decode on a pool the size of the machine.
TEST(FootageFormats, TheLibrariesThreadPoolsFollowTheRunsThreadCount)
{
    TempDir dir;
    const std::string path = dir.file("pool.exr");
    writeFrame(path, {"pool.exr", 3, OIIO::TypeDesc::HALF, "zip"});
    const Clip clip = discoverClip(path);
    const FootageFormat format = probeFootage(clip);
    for (const int threads : {1, 3, 2}) {
        MemoryFrameSource source(clip, format, PixelDepth::Float32, threads, nullptr);
        source.frame(0);
        EXPECT_EQ(OIIO::get_int_attribute("exr_threads"), threads == 1 ? -1 : threads)
            << threads << " threads";
    }
}

} // namespace
