// The tool's own PNG route against the OpenImageIO module on the same files: the same frames, the
// same formats, the same plates; and the module stays unloaded when PNG is all a run needs.
#include "cli/formats/PngFrameReader.h"
#include "cli/formats/PngPlateWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/files/FileHandle.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/formats/OiioModule.h"
#include "cli/png/PngWriter.h"
#include "runner/World.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::HasSubstr;
using testing::Not;

namespace {

PlateFileOptions optionsOf(bool withAlpha, bool unassociatedAlpha)
{
    PlateFileOptions options;
    options.withAlpha = withAlpha;
    options.unassociatedAlpha = unassociatedAlpha;
    return options;
}

constexpr int kWidth = 13; // odd, so rows are no multiple of anything convenient
constexpr int kHeight = 5;

template <typename T> std::vector<T> noise(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<T> samples(count);
    for (T &sample : samples) {
        sample = static_cast<T>(random());
    }
    return samples;
}

std::string writeNoisePng(const TempDir &dir, int channels, int bits)
{
    const std::string path =
        dir.file("c" + std::to_string(channels) + "b" + std::to_string(bits) + ".png");
    const auto count = static_cast<std::size_t>(kWidth * kHeight * channels);
    if (bits == 8) {
        const auto samples = noise<std::uint8_t>(count, static_cast<unsigned>(channels));
        test::writeImage(path, kWidth, kHeight, channels, OIIO::TypeDesc::UINT8,
                         OIIO::TypeDesc::UINT8, samples.data());
    } else {
        const auto samples = noise<std::uint16_t>(count, static_cast<unsigned>(channels));
        test::writeImage(path, kWidth, kHeight, channels, OIIO::TypeDesc::UINT16,
                         OIIO::TypeDesc::UINT16, samples.data());
    }
    return path;
}

Clip stillClip(const std::string &path)
{
    Clip clip;
    clip.frameFiles.push_back(path);
    clip.frameCount = 1;
    return clip;
}

DecodeRequest requestFor(const Clip &clip, const FootageFormat &format, PixelDepth depth)
{
    DecodeRequest request;
    request.clip = &clip;
    request.format = format;
    request.frames = {0};
    request.depth = depth;
    return request;
}

std::vector<unsigned char> bytesOf(const World &world)
{
    std::vector<unsigned char> bytes;
    for (int y = 0; y < world.height(); ++y) {
        const unsigned char *row = world.row(y);
        bytes.insert(bytes.end(), row,
                     row + world.width() *
                               static_cast<int>(framemeld::runner::bytesPerPixel(world.depth())));
    }
    return bytes;
}

PlateImage viewOf(const World &world)
{
    return PlateImage{world.width(), world.height(), world.depth(), world.row(0),
                      world.rowStride()};
}

TEST(PngFootage, FramesAndFormatsMatchOpenImageIOForEveryLayoutAndDepth)
{
    TempDir dir;
    for (const int channels : {1, 2, 3, 4}) {
        for (const int bits : {8, 16}) {
            SCOPED_TRACE("channels " + std::to_string(channels) + ", bits " + std::to_string(bits));
            const std::string path = writeNoisePng(dir, channels, bits);
            const Clip clip = stillClip(path);

            const auto ours = probePngFootage(path);
            ASSERT_TRUE(ours.has_value());
            const FootageFormat theirs = oiioModule().probe(clip);
            EXPECT_EQ(ours->width, theirs.width);
            EXPECT_EQ(ours->height, theirs.height);
            EXPECT_EQ(ours->channels, theirs.channels);
            EXPECT_EQ(ours->hasAlpha, theirs.hasAlpha);
            EXPECT_EQ(ours->unassociatedAlpha, theirs.unassociatedAlpha);
            EXPECT_EQ(ours->naturalDepth, theirs.naturalDepth);
            EXPECT_EQ(ours->sampleType, theirs.sampleType);

            for (const PixelDepth depth :
                 {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
                World viaCodec(kWidth, kHeight, depth);
                World viaOiio(kWidth, kHeight, depth);
                const DecodeRequest request = requestFor(clip, theirs, depth);
                PngFrameReader reader;
                ASSERT_TRUE(reader.decode(path, request,
                                          FrameTarget{viaCodec.row(0), viaCodec.rowStride()}));
                oiioModule().decodeStill(path, request,
                                         FrameTarget{viaOiio.row(0), viaOiio.rowStride()});
                EXPECT_EQ(bytesOf(viaCodec), bytesOf(viaOiio))
                    << "render depth " << bitsPerChannel(depth);
            }
        }
    }
}

TEST(PngFootage, PngsTheCodecLeavesAloneGoToOpenImageIOUntouched)
{
    if (!test::haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg makes the palette and 1-bit files";
    }
    TempDir dir;
    for (const std::string format : {"pal8", "monob"}) {
        SCOPED_TRACE(format);
        const std::string path = dir.file(format + ".png");
        ASSERT_EQ(
            test::runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                              "testsrc=size=16x8", "-frames:v", "1", "-pix_fmt", format, path})
                .exitStatus,
            0);
        EXPECT_FALSE(probePngFootage(path).has_value());

        const Clip clip = stillClip(path);
        const FootageFormat format8 = probeFootage(clip); // falls through to OpenImageIO
        EXPECT_EQ(format8.width, 16);
        World target(16, 8, PixelDepth::Bits8);
        target.fillBytes(7);
        const std::vector<unsigned char> before = bytesOf(target);
        PngFrameReader reader;
        EXPECT_FALSE(reader.decode(path, requestFor(clip, format8, PixelDepth::Bits8),
                                   FrameTarget{target.row(0), target.rowStride()}));
        EXPECT_EQ(bytesOf(target), before);
    }
}

TEST(PngFootage, PlatesMatchWhatOpenImageIOWritesAndNameTheUsersFile)
{
    TempDir dir;
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16}) {
        for (const bool withAlpha : {false, true}) {
            SCOPED_TRACE(std::to_string(bitsPerChannel(depth)) +
                         (withAlpha ? " bits, RGBA" : " bits, RGB"));
            World plate(kWidth, kHeight, depth);
            const auto rowBytes =
                static_cast<std::size_t>(kWidth) * framemeld::runner::bytesPerPixel(depth);
            const auto samples = noise<std::uint8_t>(rowBytes * kHeight, 99);
            for (int y = 0; y < kHeight; ++y) {
                std::memcpy(plate.row(y), samples.data() + static_cast<std::size_t>(y) * rowBytes,
                            rowBytes);
            }
            if (depth == PixelDepth::Bits16) {
                // The host's 16-bit scale ends at 32768.
                for (int y = 0; y < kHeight; ++y) {
                    auto *row = reinterpret_cast<std::uint16_t *>(plate.row(y));
                    for (int i = 0; i < kWidth * 4; ++i) {
                        row[i] = static_cast<std::uint16_t>(row[i] % 32769u);
                    }
                }
            }
            const PlateFileOptions options = optionsOf(withAlpha, true);
            {
                UniqueFile ours(std::fopen(dir.file("ours.png").c_str(), "wb"));
                ASSERT_TRUE(ours);
                writePngPlate(ours.get(), dir.file("ours.png"), viewOf(plate), options);
            }
            {
                UniqueFile theirs(std::fopen(dir.file("theirs.png").c_str(), "w+b"));
                ASSERT_TRUE(theirs);
                oiioModule().writePlate(fileno(theirs.get()), dir.file("theirs.png"), viewOf(plate),
                                        options);
            }
            int w = 0, h = 0, c = 0, w2 = 0, h2 = 0, c2 = 0;
            OIIO::TypeDesc ours, theirs;
            const auto a = test::readSamples<std::uint16_t>(dir.file("ours.png"), w, h, c, &ours);
            const auto b =
                test::readSamples<std::uint16_t>(dir.file("theirs.png"), w2, h2, c2, &theirs);
            EXPECT_EQ(c, withAlpha ? 4 : 3);
            EXPECT_EQ(ours, theirs);
            EXPECT_EQ(a, b);
        }
    }

    // Written through a temporary file, failures name the file the user asked for.
    World plate(2, 2, PixelDepth::Bits8);
    UniqueFile full(std::fopen("/dev/full", "wb"));
    ASSERT_TRUE(full);
    try {
        writePngPlate(full.get(), dir.file("p.png"), viewOf(plate), {});
        FAIL() << "writing to a full device succeeded";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(dir.file("p.png") + ": cannot write the output"));
    }
}

TEST(PngFootage, APngRunNeverLoadsOpenImageIOAndOtherFormatsDo)
{
    if (!test::haveProgram("env")) {
        GTEST_SKIP();
    }
    TempDir dir;
    for (int f = 0; f < 3; ++f) {
        const auto samples = noise<std::uint8_t>(static_cast<std::size_t>(kWidth * kHeight * 3),
                                                 static_cast<unsigned>(f));
        test::writeImage(dir.file("f" + std::to_string(f) + ".png"), kWidth, kHeight, 3,
                         OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, samples.data());
    }
    TempDir plates;
    auto run = [&](const std::string &input, const std::string &output) {
        return test::runProgram({"env", "LD_DEBUG=files", test::framemeldPath(), input, "-o",
                                 plates.file(output), "-q", "--plugin", test::modulePath()});
    };
    // Named as a sequence, or as the folder that holds them.
    for (const std::string &input : {dir.file("f%d.png"), dir.path()}) {
        SCOPED_TRACE(input);
        const test::CommandReport png = run(input, "plate.png");
        ASSERT_EQ(png.exitStatus, 0) << png.output;
        EXPECT_THAT(png.output, Not(HasSubstr("libOpenImageIO")));
        std::filesystem::remove(plates.file("plate.png"));
    }
    const test::CommandReport exr = run(dir.file("f%d.png"), "plate.exr");
    ASSERT_EQ(exr.exitStatus, 0) << exr.output;
    EXPECT_THAT(exr.output, HasSubstr("libOpenImageIO"));
}

} // namespace
