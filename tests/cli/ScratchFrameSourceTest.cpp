// Footage through the scratch file: each frame decoded once, rows read back exactly as the
// in-memory source holds them, and a file that never shows in the folder nor outlives the run.
#include "cli/footage/ScratchFrameSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/MemoryFrameSource.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

constexpr int kWidth = 7;
constexpr int kHeight = 5;
constexpr int kFrames = 6;

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

// Frames whose samples differ per position, channel and frame, as 8-bit PNG with alpha or float
// EXR (values outside 0..1 included).
void writeSequence(const TempDir &dir, const std::string &extension)
{
    for (int f = 0; f < kFrames; ++f) {
        const std::string name = dir.file("seq." + std::to_string(100 + f) + "." + extension);
        std::vector<float> samples;
        for (int i = 0; i < kWidth * kHeight * 4; ++i) {
            samples.push_back(static_cast<float>((i * 37 + f * 11) % 256) / 200.0f - 0.1f);
        }
        if (extension == "exr") {
            test::writeImage(name, kWidth, kHeight, 4, OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT,
                             samples.data());
        } else {
            std::vector<std::uint8_t> bytes;
            for (int i = 0; i < kWidth * kHeight * 4; ++i) {
                bytes.push_back(static_cast<std::uint8_t>((i * 37 + f * 11) % 256));
            }
            test::writeImage(name, kWidth, kHeight, 4, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                             bytes.data());
        }
    }
}

bool sameRow(const World &a, int ya, int xa, const World &b, int yb, int width)
{
    const std::size_t pixel = framemeld::runner::bytesPerPixel(a.depth());
    return std::memcmp(a.row(ya) + static_cast<std::size_t>(xa) * pixel, b.row(yb),
                       static_cast<std::size_t>(width) * pixel) == 0;
}

TEST(ScratchFrameSource, AreasMatchTheInMemoryFramesAtEveryDepth)
{
    for (const std::string extension : {"png", "exr"}) {
        TempDir in;
        writeSequence(in, extension);
        const Footage footage = open(in.file("seq.%d." + extension));
        for (const PixelDepth depth :
             {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
            MemoryFrameSource memory(footage.clip, footage.format, depth, 2, nullptr);
            TempDir scratch;
            ScratchFrameSource source(footage.clip, footage.format, depth, 3, nullptr,
                                      scratch.path());
            source.prepare({4, 0, 2, 5, 1, 3});
            EXPECT_EQ(source.scratchBytes(), static_cast<std::uint64_t>(kFrames) * kWidth *
                                                 kHeight * framemeld::runner::bytesPerPixel(depth));
            for (int f = 0; f < kFrames; ++f) {
                const World &whole = memory.frame(f);
                // A full-width strip, and an area that starts inside a row.
                for (const PF_LRect area : {PF_LRect{0, 1, kWidth, 4}, PF_LRect{2, 3, 6, 5}}) {
                    World part(area.right - area.left, area.bottom - area.top, depth);
                    source.fillArea(f, area, part);
                    for (int y = area.top; y < area.bottom; ++y) {
                        ASSERT_TRUE(sameRow(whole, y, area.left, part, y - area.top,
                                            area.right - area.left))
                            << extension << " frame " << f << " row " << y;
                    }
                }
                const World &back = source.frame(f);
                for (int y = 0; y < kHeight; ++y) {
                    ASSERT_TRUE(sameRow(whole, y, 0, back, y, kWidth)) << extension << " " << f;
                }
            }
            EXPECT_THAT(scratch.entries(), IsEmpty()) << "the scratch file has no name";
        }
    }
}

TEST(ScratchFrameSource, MovieFramesGoThroughTheFileInOnePass)
{
    if (!test::haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed; movies not tested";
    }
    TempDir in, scratch;
    writeSequence(in, "png");
    // PNG inside a QuickTime movie: lossless, so every decoded value can be checked.
    ASSERT_EQ(test::runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-framerate", "10",
                                "-start_number", "100", "-i", in.file("seq.%d.png"), "-c:v", "png",
                                in.file("clip.mov")})
                  .exitStatus,
              0);
    const Footage footage = open(in.file("clip.mov"));
    ASSERT_EQ(footage.clip.kind, ClipKind::Movie);
    MemoryFrameSource memory(footage.clip, footage.format, PixelDepth::Bits16, 1, nullptr);
    ScratchFrameSource source(footage.clip, footage.format, PixelDepth::Bits16, 2, nullptr,
                              scratch.path());
    long long lastDone = 0;
    source.prepare({5, 1, 3}, [&](long long done, long long) {
        EXPECT_EQ(done, lastDone + 1) << "one forward pass";
        lastDone = done;
    });
    EXPECT_EQ(lastDone, 5);
    for (const int f : {1, 3, 5}) {
        World part(kWidth, 2, PixelDepth::Bits16);
        source.fillArea(f, PF_LRect{0, 2, kWidth, 4}, part);
        const World &whole = memory.frame(f);
        for (int y = 2; y < 4; ++y) {
            ASSERT_TRUE(sameRow(whole, y, 0, part, y - 2, kWidth)) << "frame " << f;
        }
    }
}

TEST(ScratchFrameSource, DecodesEachFrameOnceWithOneBufferPerThread)
{
    TempDir in, scratch;
    writeSequence(in, "png");
    const Footage footage = open(in.file("seq.%d.png"));
    ScratchFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 2, nullptr,
                              scratch.path());
    long long reports = 0;
    source.prepare({1, 3, 3, 5}, [&](long long, long long total) {
        ++reports;
        EXPECT_EQ(total, 3) << "a repeat is decoded once";
    });
    EXPECT_EQ(reports, 3);
    source.prepare({1, 3});
    EXPECT_EQ(source.scratchBytes(), 3u * kWidth * kHeight * 4) << "decoded frames are not redone";

    // A frame that was not planned is decoded when asked for, into a new place in the file.
    World part(kWidth, 1, PixelDepth::Bits8);
    source.fillArea(4, PF_LRect{0, 2, kWidth, 3}, part);
    EXPECT_EQ(source.scratchBytes(), 4u * kWidth * kHeight * 4);
    MemoryFrameSource memory(footage.clip, footage.format, PixelDepth::Bits8, 1, nullptr);
    EXPECT_TRUE(sameRow(memory.frame(4), 2, 0, part, 0, kWidth));

    World wrong(kWidth, 2, PixelDepth::Bits8);
    EXPECT_THROW(source.fillArea(4, PF_LRect{0, 2, kWidth, 3}, wrong), std::invalid_argument);
    EXPECT_THROW(source.fillArea(4, PF_LRect{0, 4, kWidth, 6}, part), std::invalid_argument);
}

TEST(ScratchFrameSource, AFailedDecodeKeepsNothingAndACancelStops)
{
    TempDir in, scratch;
    writeSequence(in, "png");
    std::ofstream(in.file("seq.103.png"), std::ios::trunc) << "truncated";
    const Footage footage = open(in.file("seq.%d.png"));
    ScratchFrameSource source(footage.clip, footage.format, PixelDepth::Bits8, 2, nullptr,
                              scratch.path());
    try {
        source.prepare({0, 1, 2, 3, 4});
        FAIL() << "a broken frame was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr(in.file("seq.103.png")));
    }
    EXPECT_EQ(source.scratchBytes(), 0u);
    World part(kWidth, 1, PixelDepth::Bits8);
    EXPECT_THROW(source.fillArea(3, PF_LRect{0, 0, kWidth, 1}, part), RunError)
        << "the broken frame is tried again, not read from a stale place";

    std::atomic<bool> cancel{true};
    ScratchFrameSource cancelled(footage.clip, footage.format, PixelDepth::Bits8, 2, &cancel,
                                 scratch.path());
    EXPECT_THROW(cancelled.prepare({0, 1, 2}), CancelledError);
    EXPECT_EQ(cancelled.scratchBytes(), 0u);
}

// A disk that cannot take the frames, played by a file size limit: the run stops with a clear
// message before decoding a single frame.
TEST(ScratchFrameSource, ADiskTooSmallIsSaidBeforeDecoding)
{
    TempDir in, scratch;
    writeSequence(in, "png");
    const Footage footage = open(in.file("seq.%d.png"));
    ScratchFrameSource source(footage.clip, footage.format, PixelDepth::Float32, 1, nullptr,
                              scratch.path());
    struct rlimit previous {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    struct sigaction ignore {
    }, previousAction{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previousAction);
    struct rlimit small = previous;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    long long decoded = 0;
    std::string message;
    try {
        source.prepare({0, 1, 2}, [&](long long, long long) { ++decoded; });
    } catch (const RunError &error) {
        message = error.what();
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    sigaction(SIGXFSZ, &previousAction, nullptr);
    EXPECT_THAT(message, HasSubstr("not enough disk space in " + scratch.path()));
    EXPECT_THAT(message, HasSubstr("TMPDIR"));
    EXPECT_EQ(decoded, 0);
    EXPECT_EQ(source.scratchBytes(), 0u);
}

} // namespace
