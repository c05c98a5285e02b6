// The footage-reading side of odd inputs, each with files made by FFmpeg and oiiotool as users
// make them: DPX rows that end inside a word, luminance/chroma EXR, palette TIFF, movies with
// alpha, lossless 12-bit movies, trimmed MP4s, containers known by content, rotated movies,
// large non-images, frames replaced during a run, names that hold '#', numbered folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/footage/FileRowsFrameSource.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::HasSubstr;

namespace {

bool run(std::vector<std::string> args)
{
    const auto report = test::runProgram(args);
    EXPECT_EQ(report.exitStatus, 0) << args[0] << ": " << report.output;
    return report.exitStatus == 0;
}

bool ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"});
    return test::runProgram(args).exitStatus == 0;
}

struct Footage {
    Clip clip;
    FootageFormat format;
};

Footage open(const std::string &input)
{
    Footage footage{discoverClip(input), {}};
    footage.format = probeFootage(footage.clip);
    return footage;
}

std::vector<World> decode(const Footage &footage, const std::vector<int> &frames, PixelDepth depth)
{
    std::vector<World> worlds;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        worlds.emplace_back(footage.format.width, footage.format.height, depth);
    }
    DecodeRequest request;
    request.clip = &footage.clip;
    request.format = footage.format;
    request.frames = frames;
    request.depth = depth;
    request.target = [&](std::size_t index) {
        return FrameTarget{worlds[index].row(0), worlds[index].rowStride()};
    };
    decodeFrames(request);
    return worlds;
}

// Host pixels are alpha, red, green, blue.
template <typename Sample> Sample host(const World &world, int x, int y, int channel)
{
    return reinterpret_cast<const Sample *>(world.row(y))[x * 4 + channel];
}

std::string errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const RunError &error) {
        return error.what();
    }
    return "no error";
}

std::vector<std::uint8_t> readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FootageInput, TenBitRgbaDpxRowsThatEndInsideAWordKeepTheirLastAlpha)
{
    if (!test::haveProgram("oiiotool"))
        GTEST_SKIP() << "oiiotool makes the DPX";
    TempDir dir;
    // 40 RGBA pixels are 160 samples: 53 words of three and one word holding the last alpha.
    ASSERT_TRUE(run({"oiiotool", "--pattern", "constant:color=0.25,0.5,0.75,0.502", "40x3", "4",
                     "-d", "uint10", "-o", dir.file("f.dpx")}));
    const Footage footage = open(dir.file("f.dpx"));
    for (const PixelDepth depth : {PixelDepth::Bits16, PixelDepth::Float32}) {
        const std::vector<World> frames = decode(footage, {0}, depth);
        for (int y = 0; y < 3; ++y) {
            if (depth == PixelDepth::Bits16) {
                EXPECT_EQ(host<std::uint16_t>(frames[0], 39, y, 0),
                          host<std::uint16_t>(frames[0], 0, y, 0))
                    << "row " << y;
            } else {
                EXPECT_NEAR(host<float>(frames[0], 39, y, 0), 514.0f / 1023.0f, 1e-4f)
                    << "row " << y;
            }
        }
    }
}

TEST(FootageInput, LuminanceChromaExrIsRefusedNamingItsChannels)
{
    if (!test::haveProgram("oiiotool"))
        GTEST_SKIP() << "oiiotool makes the EXR";
    TempDir dir;
    ASSERT_TRUE(run({"oiiotool", "--pattern", "constant:color=0.5,0.1,-0.1", "8x8", "3",
                     "--chnames", "Y,RY,BY", "-d", "half", "-o", dir.file("yc.exr")}));
    const std::string message = errorOf([&] { open(dir.file("yc.exr")); });
    EXPECT_THAT(message, HasSubstr(dir.file("yc.exr") + ": the channels Y, BY, RY"));
    EXPECT_THAT(message, HasSubstr("luminance and chroma (BY, RY)"));

    // Luminance alone is grey, and stays readable.
    ASSERT_TRUE(run({"oiiotool", "--pattern", "constant:color=0.5", "8x8", "1", "--chnames", "Y",
                     "-d", "half", "-o", dir.file("y.exr")}));
    const Footage grey = open(dir.file("y.exr"));
    const std::vector<World> frames = decode(grey, {0}, PixelDepth::Float32);
    EXPECT_FLOAT_EQ(host<float>(frames[0], 3, 3, 1), 0.5f);
    EXPECT_FLOAT_EQ(host<float>(frames[0], 3, 3, 3), 0.5f);
}

TEST(FootageInput, UncompressedPaletteTiffIsWeighedByItsIndices)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the palette TIFF";
    TempDir dir;
    // 8-bit indices: the file holds a quarter of what its RGB expands to, a third plus palette.
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:duration=0.1", "-frames:v", "1",
                        "-pix_fmt", "pal8", "-compression_algo", "raw", dir.file("p.tiff")}));
    const Footage footage = open(dir.file("p.tiff"));
    EXPECT_EQ(footage.format.width, 320);
    const std::vector<World> frames = decode(footage, {0}, PixelDepth::Bits8);
    // The colours the palette looks up, as OpenImageIO reads the whole image by itself.
    auto in = OIIO::ImageInput::open(dir.file("p.tiff"));
    ASSERT_TRUE(in) << OIIO::geterror();
    std::vector<std::uint8_t> rgb(std::size_t{320} * 240 * 3);
    ASSERT_TRUE(in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, rgb.data()));
    int differing = 0;
    long long colour = 0;
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            for (int c = 0; c < 3; ++c) {
                const std::uint8_t want =
                    rgb[(static_cast<std::size_t>(y) * 320 + static_cast<std::size_t>(x)) * 3 +
                        static_cast<std::size_t>(c)];
                differing += host<std::uint8_t>(frames[0], x, y, 1 + c) != want;
                colour += want;
            }
        }
    }
    EXPECT_GT(colour, 0) << "the palette's colours, not black";
    EXPECT_EQ(differing, 0);
}

// A movie whose pixels carry alpha: an opaque square on a half-transparent ground.
bool writeAlphaMovie(const std::string &path, const std::vector<std::string> &codec)
{
    std::vector<std::string> args = {
        "-f", "lavfi", "-i", "color=c=0x3366CC80:size=32x24:rate=10:duration=0.5,format=rgba"};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(path);
    return ffmpeg(args);
}

TEST(FootageInput, MoviesKeepTheAlphaTheirPixelsCarry)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movies";
    TempDir dir;
    const std::vector<std::pair<std::string, std::vector<std::string>>> movies = {
        {"png.mov", {"-c:v", "png"}},
        {"qtrle.mov", {"-c:v", "qtrle", "-pix_fmt", "argb"}},
        {"prores.mov", {"-c:v", "prores_ks", "-profile:v", "4", "-pix_fmt", "yuva444p10le"}},
    };
    for (const auto &[name, codec] : movies) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(writeAlphaMovie(dir.file(name), codec));
        const Footage footage = open(dir.file(name));
        EXPECT_TRUE(footage.format.hasAlpha);
        EXPECT_EQ(footage.format.channels, 4);
        const std::vector<World> frames = decode(footage, {2}, PixelDepth::Float32);
        EXPECT_NEAR(host<float>(frames[0], 10, 10, 0), 128.0f / 255.0f, 0.01f);
    }
}

TEST(FootageInput, LosslessTwelveBitRgbMoviesGiveTheirSamplesBack)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movie";
    TempDir dir;
    // A 12-bit ramp in every channel, FFV1 (lossless) in planar 12-bit RGB.
    if (!ffmpeg({"-f", "lavfi", "-i",
                 "gradients=size=64x32:rate=10:duration=0.3:c0=0x102030:c1=0xF0E0D0,format=rgb48le",
                 "-c:v", "ffv1", "-pix_fmt", "gbrp12le", dir.file("ramp.mkv")})) {
        GTEST_SKIP() << "ffmpeg has no FFV1 encoder or gradients source";
    }
    const std::string raw = dir.file("ramp.gbrp12");
    ASSERT_TRUE(ffmpeg({"-i", dir.file("ramp.mkv"), "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                        "gbrp12le", raw}));
    const std::vector<std::uint8_t> bytes = readBytes(raw);
    ASSERT_EQ(bytes.size(), std::size_t{64} * 32 * 3 * 2);
    const auto stored = [&](int plane, int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(plane) * 64 * 32 +
                                static_cast<std::size_t>(y) * 64 + static_cast<std::size_t>(x)) *
                               2;
        return bytes[at] | (bytes[at + 1] << 8);
    };
    const Footage footage = open(dir.file("ramp.mkv"));
    EXPECT_EQ(footage.format.naturalDepth, PixelDepth::Bits16);
    const std::vector<World> frames = decode(footage, {0}, PixelDepth::Float32);
    int worst = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            // Planes G, B, R; host channels A, R, G, B.
            const int planeOf[3] = {2, 0, 1};
            for (int c = 0; c < 3; ++c) {
                const float value = host<float>(frames[0], x, y, 1 + c) * 4095.0f;
                worst =
                    std::max(worst, static_cast<int>(std::lround(std::fabs(
                                        value - static_cast<float>(stored(planeOf[c], x, y))))));
            }
        }
    }
    EXPECT_EQ(worst, 0) << "twelve-bit levels off the stored samples";
}

TEST(FootageInput, ATrimmedMp4CountsTheFramesItShows)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movie";
    TempDir dir;
    if (!ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=4", "-c:v", "libx264",
                 "-g", "10", "-bf", "2", dir.file("full.mp4")})) {
        GTEST_SKIP() << "ffmpeg has no H.264 encoder";
    }
    // Cut between key frames without re-encoding: an edit list hides the pictures before 1.25 s.
    ASSERT_TRUE(
        ffmpeg({"-ss", "1.25", "-i", dir.file("full.mp4"), "-c", "copy", dir.file("cut.mp4")}));
    const auto counted = test::runProgram({"ffprobe", "-v", "error", "-count_frames",
                                           "-show_entries", "stream=nb_read_frames", "-of",
                                           "default=nw=1:nk=1", dir.file("cut.mp4")});
    const int shown = std::stoi(counted.output);
    const Footage footage = open(dir.file("cut.mp4"));
    EXPECT_EQ(footage.clip.frameCount, shown);
    // The last frame it counts decodes.
    EXPECT_NO_THROW(decode(footage, {shown - 1}, PixelDepth::Bits8));
}

TEST(FootageInput, ContainersAreKnownByContentAndNeedVideoThatDecodes)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movies";
    TempDir dir;
    for (const std::string name : {"clip.mkv", "clip.mxf", "clip.m2ts", "clip.webm"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> codec = {"-c:v", "mpeg2video"};
        if (name == "clip.webm" || name == "clip.mkv") {
            codec = {"-c:v", "ffv1"};
        }
        if (name == "clip.webm") {
            codec = {"-c:v", "libvpx", "-b:v", "1M"};
        }
        std::vector<std::string> args = {"-f", "lavfi", "-i",
                                         "testsrc=size=64x48:rate=25:duration=0.4"};
        args.insert(args.end(), codec.begin(), codec.end());
        args.push_back(dir.file(name));
        if (!ffmpeg(args)) {
            ADD_FAILURE() << "ffmpeg could not write " << name;
            continue;
        }
        // Named by content: the same bytes under a name no reader knows.
        const std::string renamed = dir.file(name + ".footage");
        std::filesystem::copy_file(dir.file(name), renamed);
        for (const std::string &path : {dir.file(name), renamed}) {
            const Footage footage = open(path);
            EXPECT_EQ(footage.clip.kind, ClipKind::Movie);
            EXPECT_EQ(footage.clip.frameCount, 10);
            EXPECT_EQ(footage.format.width, 64);
            EXPECT_NO_THROW(decode(footage, {0, 9}, PixelDepth::Bits8));
        }
    }

    // Sound alone: refused with what the container holds.
    ASSERT_TRUE(
        ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=0.5", dir.file("sound.mkv")}));
    const std::string sound = errorOf([&] { discoverClip(dir.file("sound.mkv")); });
    EXPECT_THAT(sound, HasSubstr(dir.file("sound.mkv") + ": the movie has no video"));
    EXPECT_THAT(sound, HasSubstr("audio"));
}

// Writes the display matrix {a, b, c, d} (16.16 fixed point) into the movie's track header, as
// a camera that records turned or mirrored does.
void setTrackMatrix(const std::string &path, const std::int32_t matrix[4])
{
    std::vector<std::uint8_t> bytes = readBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t box = text.find("tkhd");
    ASSERT_NE(box, std::string::npos);
    ASSERT_EQ(bytes[box + 4], 0) << "a version 0 track header";
    const std::size_t at = box + 44; // after the times, the track id, the duration and volume
    const std::int32_t values[4] = {matrix[0], matrix[1], matrix[2], matrix[3]};
    const std::size_t slots[4] = {0, 1, 3, 4};
    for (int i = 0; i < 4; ++i) {
        const auto word = static_cast<std::uint32_t>(values[i]);
        for (int b = 0; b < 4; ++b) {
            bytes[at + slots[i] * 4 + static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(word >> (24 - 8 * b));
        }
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

TEST(FootageInput, RotatedMoviesStandAsTheyPlay)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movies";
    TempDir dir;
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=48x32:rate=10:duration=0.3", "-c:v",
                        "ffv1", "-pix_fmt", "bgr0", dir.file("flat.mov")}));
    for (const int tag : {90, 180, 270}) {
        SCOPED_TRACE(tag);
        const std::string turned = dir.file("turned" + std::to_string(tag) + ".mov");
        ASSERT_TRUE(ffmpeg({"-i", dir.file("flat.mov"), "-c", "copy", "-metadata:s:v:0",
                            "rotate=" + std::to_string(tag), turned}));
        const Footage footage = open(turned);
        EXPECT_NE(footage.format.rotation, 0);
        EXPECT_EQ(footage.format.width, tag == 180 ? 48 : 32);
        // FFmpeg's own player turns it as it plays: its decode with the rotation applied.
        const std::string raw = dir.file("upright.rgb");
        ASSERT_TRUE(
            ffmpeg({"-i", turned, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", raw}));
        const std::vector<std::uint8_t> upright = readBytes(raw);
        ASSERT_EQ(upright.size(), static_cast<std::size_t>(footage.format.width) *
                                      static_cast<std::size_t>(footage.format.height) * 3);
        const std::vector<World> frames = decode(footage, {0}, PixelDepth::Bits8);
        int differing = 0;
        for (int y = 0; y < footage.format.height; ++y) {
            for (int x = 0; x < footage.format.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const std::size_t at = (static_cast<std::size_t>(y) *
                                                static_cast<std::size_t>(footage.format.width) +
                                            static_cast<std::size_t>(x)) *
                                               3 +
                                           static_cast<std::size_t>(c);
                    differing += host<std::uint8_t>(frames[0], x, y, 1 + c) != upright[at];
                }
            }
        }
        EXPECT_EQ(differing, 0);
    }
    // Turns that are no quarter turn, and mirrors, cannot be honoured: said, naming the file.
    const std::int32_t askew[4] = {56756, 32768, -32768, 56756}; // 30 degrees
    const std::int32_t mirrored[4] = {-65536, 0, 0, 65536};
    for (const std::int32_t *matrix : {askew, mirrored}) {
        const std::string odd = dir.file(matrix == askew ? "askew.mov" : "mirrored.mov");
        std::filesystem::copy_file(dir.file("flat.mov"), odd);
        setTrackMatrix(odd, matrix);
        const std::string message = errorOf([&] { open(odd); });
        EXPECT_THAT(message, HasSubstr(odd + ": the movie's display matrix "));
        EXPECT_THAT(message,
                    HasSubstr(matrix == askew ? "turns the picture by " : "mirrors the picture"));
    }
}

TEST(FootageInput, ALargeFileThatIsNoImageIsWeighedByItsFirstBytes)
{
    TempDir dir;
    {
        // 16 MiB of text named as a PNG: nothing reads it whole.
        std::ofstream junk(dir.file("junk.png"), std::ios::binary);
        const std::string line(1023, 'x');
        for (int i = 0; i < 16 * 1024; ++i) {
            junk << line << '\n';
        }
    }
    const std::string message = errorOf([&] { discoverClip(dir.file("junk.png")); });
    EXPECT_THAT(message,
                HasSubstr(dir.file("junk.png") + ": cannot read it as an image or a movie"));
    EXPECT_THAT(message, HasSubstr("first bytes"));
    // As a frame of a folder, the same.
    EXPECT_THAT(errorOf([&] { open(dir.path()); }), HasSubstr("first bytes"));
}

TEST(FootageInput, CountingAMovieStopsWhenTheRunIsCancelled)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movie";
    TempDir dir;
    // A transport stream has no index: its frames are counted by reading every packet.
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=2", "-c:v",
                        "mpeg2video", dir.file("clip.ts")}));
    std::atomic<bool> cancel{true};
    EXPECT_THROW(discoverClip(dir.file("clip.ts"), &cancel), CancelledError);
    cancel = false;
    EXPECT_EQ(discoverClip(dir.file("clip.ts"), &cancel).frameCount, 50);
}

TEST(FootageInput, AFrameReplacedBetweenStripsStopsTheRun)
{
    TempDir dir;
    const auto writeFrame = [&](const std::string &path, float value) {
        const std::vector<float> samples(16 * 64 * 3, value);
        test::writeImage(path, 16, 64, 3, OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT,
                         samples.data());
    };
    for (int f = 0; f < 3; ++f) {
        writeFrame(dir.file("f." + std::to_string(f) + ".exr"), 0.25f);
    }
    const Footage footage = open(dir.file("f.%d.exr"));
    ASSERT_TRUE(footage.format.rowAccess);
    FileRowsFrameSource rows(footage.clip, footage.format, PixelDepth::Float32, 2, nullptr);
    rows.prepare({0, 1, 2});
    EXPECT_TRUE(rows.takeArea(1, PF_LRect{0, 0, 16, 32}).valid());

    // A renderer replaces frame 1 as renderers do: a new file renamed over the old one.
    writeFrame(dir.file("new.exr"), 0.75f);
    std::filesystem::rename(dir.file("new.exr"), dir.file("f.1.exr"));
    EXPECT_THAT(errorOf([&] {
                    rows.takeArea(1, PF_LRect{0, 32, 16, 64});
                }),
                HasSubstr(dir.file("f.1.exr") + ": the frame file changed while the plate"));

    // Rewritten in place, the same.
    FileRowsFrameSource again(footage.clip, footage.format, PixelDepth::Float32, 2, nullptr);
    again.prepare({0, 2});
    EXPECT_TRUE(again.takeArea(0, PF_LRect{0, 0, 16, 32}).valid());
    {
        std::ofstream(dir.file("f.2.exr"), std::ios::app) << "more";
    }
    EXPECT_THAT(errorOf([&] {
                    again.takeArea(0, PF_LRect{0, 32, 16, 64});
                }),
                HasSubstr(dir.file("f.2.exr") + ": the frame file changed"));
}

TEST(FootageInput, AnImageWhoseNameHoldsAPatternIsThatImage)
{
    TempDir dir;
    const std::vector<std::uint8_t> rgb(4 * 4 * 3, 77);
    for (const std::string name : {"take#2.png", "100%done.png", "v%d.png"}) {
        SCOPED_TRACE(name);
        test::writeImage(dir.file(name), 4, 4, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                         rgb.data());
        const Clip clip = discoverClip(dir.file(name));
        ASSERT_EQ(clip.frameCount, 1);
        EXPECT_EQ(clip.frameFiles[0], dir.file(name));
    }
    // Where no such file exists, the name is a pattern as before.
    test::writeImage(dir.file("v7.png"), 4, 4, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                     rgb.data());
    std::filesystem::remove(dir.file("v%d.png"));
    const Clip sequence = discoverClip(dir.file("v%d.png"));
    EXPECT_TRUE(sequence.fileNumbers);
    EXPECT_EQ(sequence.firstNumber, 7);
}

TEST(FootageInput, NumberedFoldersAndPatternsKeepTheirNumbersAndTheirGaps)
{
    TempDir dir;
    const std::vector<std::uint8_t> rgb(4 * 4 * 3, 50);
    for (const int number : {1001, 1005, 1009}) {
        test::writeImage(dir.file("shot." + std::to_string(number) + ".png"), 4, 4, 3,
                         OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
    for (const std::string &input : {dir.file("shot.####.png"), dir.path()}) {
        SCOPED_TRACE(input);
        const Clip clip = discoverClip(input);
        EXPECT_TRUE(clip.fileNumbers);
        EXPECT_EQ(clip.firstNumber, 1001);
        EXPECT_EQ(clip.frameCount, 9);
        EXPECT_EQ(clip.missingFrames, (std::vector<int>{1, 2, 3, 5, 6, 7}));
        EXPECT_EQ(clip.frameFiles[4], dir.file("shot.1005.png"));
        EXPECT_NO_THROW(requireSampledFrames(clip, {0, 4, 8}, input));
        EXPECT_EQ(errorOf([&] {
                      requireSampledFrames(clip, {0, 2, 4}, input);
                  }),
                  dir.file("shot.1003.png") + ": frame missing from the sequence " + input +
                      " (numbers 1001 to 1009)");
    }
    // Names alike but for more than their number: counted from 0 in name order, as before.
    test::writeImage(dir.file("other.png"), 4, 4, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                     rgb.data());
    const Clip mixed = discoverClip(dir.path());
    EXPECT_FALSE(mixed.fileNumbers);
    EXPECT_EQ(mixed.frameCount, 4);
    EXPECT_TRUE(mixed.missingFrames.empty());
}

} // namespace
