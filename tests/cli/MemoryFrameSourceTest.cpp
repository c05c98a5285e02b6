// Decoding footage into the worlds the runner hands to the plug-in (FootageDecoder through
// MemoryFrameSource, which is how the tool uses it).
#include "cli/footage/MemoryFrameSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <OpenImageIO/half.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::HasSubstr;

namespace {

constexpr int kWidth = 5;
constexpr int kHeight = 3;

// A frame whose samples differ per position, channel and frame.
std::vector<std::uint8_t> pattern8(int frame, int channels)
{
    std::vector<std::uint8_t> samples;
    for (int i = 0; i < kWidth * kHeight * channels; ++i) {
        samples.push_back(static_cast<std::uint8_t>((i * 37 + frame * 11) % 256));
    }
    return samples;
}

void writeSequence8(const TempDir &dir, int frames)
{
    for (int f = 0; f < frames; ++f) {
        const auto samples = pattern8(f, 3);
        test::writeImage(dir.file("seq." + std::to_string(1000 + f) + ".png"), kWidth, kHeight, 3,
                         OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, samples.data());
    }
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

TEST(MemoryFrameSource, EightBitFilesArriveAsTheyAreWithOpaqueAlpha)
{
    TempDir dir;
    writeSequence8(dir, 2);
    const Footage footage = open(dir.file("seq.####.png"));
    EXPECT_EQ(footage.format.naturalDepth, PixelDepth::Bits8);
    EXPECT_FALSE(footage.format.hasAlpha);

    MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 2, nullptr);
    source.prepare({1});
    const World &frame = source.frame(1);
    const auto expected = pattern8(1, 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const PF_Pixel8 &p = frame.at<PF_Pixel8>(x, y);
            const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 3);
            ASSERT_EQ(p.alpha, 255);
            ASSERT_EQ(p.red, expected[i]);
            ASSERT_EQ(p.green, expected[i + 1]);
            ASSERT_EQ(p.blue, expected[i + 2]);
        }
    }
}

TEST(MemoryFrameSource, SixteenBitFilesMapOntoTheHostScaleAndKeepAlpha)
{
    TempDir dir;
    const std::vector<std::uint16_t> rgba = {0, 1, 65535, 32767, 40000, 2, 3, 65534};
    test::writeImage(dir.file("deep.tif"), 2, 1, 4, OIIO::TypeDesc::UINT16, OIIO::TypeDesc::UINT16,
                     rgba.data());
    const Footage footage = open(dir.file("deep.tif"));
    EXPECT_EQ(footage.format.naturalDepth, PixelDepth::Bits16);
    EXPECT_TRUE(footage.format.hasAlpha);

    MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Bits16, 1, nullptr);
    const PF_Pixel16 &first = source.frame(0).at<PF_Pixel16>(0, 0);
    EXPECT_EQ(first.red, 0);
    EXPECT_EQ(first.green, 1);
    EXPECT_EQ(first.blue, 32768);
    EXPECT_EQ(first.alpha, 16384);
    const PF_Pixel16 &second = source.frame(0).at<PF_Pixel16>(1, 0);
    EXPECT_EQ(second.red, 20000); // 40000 * 32768 / 65535 = 20000.3
    EXPECT_EQ(second.alpha, 32767);
}

TEST(MemoryFrameSource, HalfAndFloatFilesRenderAtThirtyTwoBitsUnchanged)
{
    TempDir dir;
    const std::vector<float> values = {-0.5f, 0.25f, 1.75f, 0.125f, 3.0f, 0.0f};
    test::writeImage(dir.file("f.exr"), 2, 1, 3, OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT,
                     values.data());
    test::writeImage(dir.file("h.exr"), 2, 1, 3, OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT,
                     values.data());
    for (const char *name : {"f.exr", "h.exr"}) {
        const Footage footage = open(dir.file(name));
        EXPECT_EQ(footage.format.naturalDepth, PixelDepth::Float32) << name;
        MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Float32, 1, nullptr);
        const PF_PixelFloat &p = source.frame(0).at<PF_PixelFloat>(0, 0);
        EXPECT_EQ(p.red, -0.5f) << name;
        EXPECT_EQ(p.green, 0.25f) << name;
        EXPECT_EQ(p.blue, 1.75f) << name;
        EXPECT_EQ(p.alpha, 1.0f) << name;
        EXPECT_EQ(source.frame(0).at<PF_PixelFloat>(1, 0).green, 3.0f) << name;
    }
}

TEST(MemoryFrameSource, AnotherDepthConvertsWithRoundingAndClipping)
{
    TempDir dir;
    const std::vector<float> values = {-0.5f, 0.5f, 1.75f};
    test::writeImage(dir.file("f.exr"), 1, 1, 3, OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT,
                     values.data());
    const Footage floats = open(dir.file("f.exr"));
    MemoryFrameSource to8(floats.clip, floats.format, PixelDepth::Bits8, 1, nullptr);
    const PF_Pixel8 &p8 = to8.frame(0).at<PF_Pixel8>(0, 0);
    EXPECT_EQ(p8.red, 0);
    EXPECT_EQ(p8.green, 128); // 127.5 rounds up
    EXPECT_EQ(p8.blue, 255);
    EXPECT_EQ(p8.alpha, 255);
    MemoryFrameSource to16(floats.clip, floats.format, PixelDepth::Bits16, 1, nullptr);
    const PF_Pixel16 &p16 = to16.frame(0).at<PF_Pixel16>(0, 0);
    EXPECT_EQ(p16.red, 0);
    EXPECT_EQ(p16.green, 16384);
    EXPECT_EQ(p16.blue, 32768);

    const std::uint8_t bytes[] = {0, 51, 255};
    test::writeImage(dir.file("b.png"), 1, 1, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                     bytes);
    const Footage eight = open(dir.file("b.png"));
    MemoryFrameSource toFloat(eight.clip, eight.format, PixelDepth::Float32, 1, nullptr);
    const PF_PixelFloat &pf = toFloat.frame(0).at<PF_PixelFloat>(0, 0);
    EXPECT_EQ(pf.red, 0.0f);
    EXPECT_FLOAT_EQ(pf.green, 0.2f);
    EXPECT_EQ(pf.blue, 1.0f);
}

TEST(MemoryFrameSource, DecodesOnlyTheRequestedFramesOnce)
{
    TempDir dir;
    writeSequence8(dir, 6);
    const Footage footage = open(dir.file("seq.%04d.png"));
    MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 3, nullptr);
    std::atomic<int> done{0};
    const auto countFrames = [&done](long long, long long total) {
        ++done;
        EXPECT_EQ(total, 3);
    };
    source.prepare({1, 3, 5, 3}, countFrames);
    EXPECT_EQ(done.load(), 3);
    const std::size_t oneFrame = World(kWidth, kHeight, PixelDepth::Bits8).byteSize();
    EXPECT_EQ(source.decodedBytes(), 3 * oneFrame);

    source.prepare({1, 3}, countFrames); // already there: nothing read again
    EXPECT_EQ(done.load(), 3);
    EXPECT_EQ(source.frame(3).at<PF_Pixel8>(0, 0).red, pattern8(3, 3)[0]);
    EXPECT_EQ(source.decodedBytes(), 3 * oneFrame);
    // A frame outside the plan is still served, read when asked for.
    EXPECT_EQ(source.frame(4).at<PF_Pixel8>(0, 0).red, pattern8(4, 3)[0]);
    EXPECT_EQ(source.decodedBytes(), 4 * oneFrame);
    EXPECT_THROW(source.frame(6), std::out_of_range);
}

TEST(MemoryFrameSource, BadFramesAreNamedAndNothingHalfDecodedStays)
{
    TempDir dir;
    writeSequence8(dir, 6);
    const std::vector<std::uint8_t> wide(7 * kHeight * 3, 9);
    test::writeImage(dir.file("seq.1004.png"), 7, kHeight, 3, OIIO::TypeDesc::UINT8,
                     OIIO::TypeDesc::UINT8, wide.data());
    const Footage footage = open(dir.file("seq.####.png"));
    MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 3, nullptr);
    try {
        source.prepare({0, 1, 2, 3, 4, 5});
        FAIL() << "a frame of another size was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(dir.file("seq.1004.png") + ": the frame is 7x3, the "
                                                                       "clip's first frame 5x3"));
    }
    EXPECT_EQ(source.decodedBytes(), 0u);

    std::ofstream(dir.file("seq.1002.png"), std::ios::trunc) << "truncated";
    try {
        source.prepare({2});
        FAIL() << "a broken frame was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(dir.file("seq.1002.png") + ": cannot read the frame"));
    }
}

TEST(MemoryFrameSource, ACancelStopsDecoding)
{
    TempDir dir;
    writeSequence8(dir, 4);
    const Footage footage = open(dir.file("seq.####.png"));
    std::atomic<bool> cancel{true};
    MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 2, &cancel);
    EXPECT_THROW(source.prepare({0, 1, 2, 3}), CancelledError);
    EXPECT_EQ(source.decodedBytes(), 0u);
}

TEST(MemoryFrameSource, MovieFramesCountFromTheFirstAndComeInAnyOrder)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed; movies not tested";
    TempDir dir;
    writeSequence8(dir, 8);
    // PNG inside a QuickTime movie: lossless, so every decoded value can be checked.
    ASSERT_EQ(test::runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-framerate", "10",
                                "-start_number", "1000", "-i", dir.file("seq.%04d.png"), "-c:v",
                                "png", dir.file("clip.mov")})
                  .exitStatus,
              0);
    const Footage footage = open(dir.file("clip.mov"));
    ASSERT_EQ(footage.clip.kind, ClipKind::Movie);
    ASSERT_EQ(footage.clip.frameCount, 8);
    EXPECT_EQ(footage.format.naturalDepth, PixelDepth::Bits8);

    MemoryFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 2, nullptr);
    long long lastDone = 0, lastTotal = 0;
    source.prepare({6, 0, 3}, [&](long long done, long long total) {
        EXPECT_EQ(done, lastDone + 1) << "one forward pass";
        lastDone = done;
        lastTotal = total;
    });
    EXPECT_EQ(lastDone, 7); // frames 0 to 6 passed through once
    EXPECT_EQ(lastTotal, 7);
    for (const int f : {0, 3, 6}) {
        const auto expected = pattern8(f, 3);
        const World &frame = source.frame(f);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 3);
                ASSERT_EQ(frame.at<PF_Pixel8>(x, y).red, expected[i]) << "frame " << f;
                ASSERT_EQ(frame.at<PF_Pixel8>(x, y).blue, expected[i + 2]) << "frame " << f;
            }
        }
    }
}

// OpenImageIO's movie reader cannot start a pass at the last frames of a movie with reordered
// frames; the frames must still come, the same as from a pass from the start.
TEST(MemoryFrameSource, MoviePassesStartingNearTheEndGiveTheFramesOfAWholePass)
{
    if (!test::haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed; movies not tested";
    TempDir dir;
    writeSequence8(dir, 40);
    if (test::runProgram({"ffmpeg",
                          "-nostdin",
                          "-loglevel",
                          "error",
                          "-framerate",
                          "10",
                          "-start_number",
                          "1000",
                          "-i",
                          dir.file("seq.%04d.png"),
                          "-c:v",
                          "libx264",
                          "-g",
                          "12",
                          "-bf",
                          "3",
                          "-vf",
                          "scale=64:48",
                          "-pix_fmt",
                          "yuv420p",
                          dir.file("clip.mp4")})
            .exitStatus != 0) {
        GTEST_SKIP() << "ffmpeg has no H.264 encoder";
    }
    const Footage footage = open(dir.file("clip.mp4"));
    ASSERT_EQ(footage.clip.frameCount, 40);
    MemoryFrameSource whole(footage.clip, footage.format, PixelDepth::Bits16, 1, nullptr);
    ASSERT_NO_THROW(whole.prepare({0, 30, 37, 38, 39}));
    for (const std::vector<int> &requested :
         std::vector<std::vector<int>>{{38, 39}, {39}, {30, 38}}) {
        SCOPED_TRACE("from frame " + std::to_string(requested.front()));
        MemoryFrameSource late(footage.clip, footage.format, PixelDepth::Bits16, 1, nullptr);
        ASSERT_NO_THROW(late.prepare(requested));
        for (const int f : requested) {
            for (int y = 0; y < footage.format.height; ++y) {
                const auto bytes =
                    static_cast<std::size_t>(footage.format.width) * sizeof(PF_Pixel16);
                ASSERT_EQ(std::memcmp(late.frame(f).row(y), whole.frame(f).row(y), bytes), 0)
                    << "frame " << f << " row " << y;
            }
        }
    }

    // A pass started again decodes into the storage already handed out and hands each frame on
    // once, as the scratch-file path relies on (its pool gives out a buffer per target call).
    const std::vector<int> requested{39, 38};
    std::vector<World> worlds;
    for (std::size_t i = 0; i < requested.size(); ++i) {
        worlds.emplace_back(footage.format.width, footage.format.height, PixelDepth::Bits16);
    }
    std::vector<int> targetCalls(requested.size(), 0);
    std::vector<int> decodedCalls(requested.size(), 0);
    DecodeRequest request;
    request.clip = &footage.clip;
    request.format = footage.format;
    request.frames = requested;
    request.depth = PixelDepth::Bits16;
    request.target = [&](std::size_t index) {
        ++targetCalls[index];
        return FrameTarget{worlds[index].row(0), worlds[index].rowStride()};
    };
    request.decoded = [&](std::size_t index, const FrameTarget &target) {
        ++decodedCalls[index];
        EXPECT_EQ(target.pixels, worlds[index].row(0));
    };
    ASSERT_NO_THROW(decodeFrames(request));
    for (std::size_t i = 0; i < requested.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(requested[i]));
        EXPECT_EQ(targetCalls[i], 1);
        EXPECT_EQ(decodedCalls[i], 1);
        for (int y = 0; y < footage.format.height; ++y) {
            const auto bytes = static_cast<std::size_t>(footage.format.width) * sizeof(PF_Pixel16);
            ASSERT_EQ(std::memcmp(worlds[i].row(y), whole.frame(requested[i]).row(y), bytes), 0)
                << "row " << y;
        }
    }
}

} // namespace
