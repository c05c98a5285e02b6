#include "cli/footage/FootageDiscovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"

using namespace framemeld::cli;
using framemeld::cli::test::haveProgram;
using framemeld::cli::test::runProgram;
using framemeld::cli::test::TempDir;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

void writeTinyPng(const std::string &path)
{
    const std::uint8_t pixels[2 * 2 * 3] = {};
    test::writeImage(path, 2, 2, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, pixels);
}

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

std::string runErrorOf(const std::string &input)
{
    try {
        discoverClip(input);
    } catch (const RunError &error) {
        return error.what();
    }
    ADD_FAILURE() << "no error for " << input;
    return {};
}

// The error a run of every frame of the clip stops at: a frame without its file.
std::string missingFrameErrorOf(const std::string &input)
{
    try {
        const Clip clip = discoverClip(input);
        std::vector<int> all(static_cast<std::size_t>(clip.frameCount));
        for (int f = 0; f < clip.frameCount; ++f) {
            all[static_cast<std::size_t>(f)] = f;
        }
        requireSampledFrames(clip, all, input);
    } catch (const RunError &error) {
        return error.what();
    }
    ADD_FAILURE() << "no error for " << input;
    return {};
}

std::vector<std::string> baseNames(const Clip &clip)
{
    std::vector<std::string> names;
    for (const std::string &path : clip.frameFiles) {
        names.push_back(path.substr(path.rfind('/') + 1));
    }
    return names;
}

TEST(SequencePattern, RecognisesHashesAndPrintfPlaceholders)
{
    SequencePattern hashes;
    ASSERT_TRUE(parseSequencePattern("shots/a/shot.####.exr", hashes));
    EXPECT_EQ(hashes.directory, "shots/a");
    EXPECT_EQ(hashes.prefix, "shot.");
    EXPECT_EQ(hashes.suffix, ".exr");
    EXPECT_EQ(hashes.padding, 4);
    EXPECT_EQ(hashes.fileNameFor(7), "shot.0007.exr");
    EXPECT_EQ(hashes.fileNameFor(12345), "shot.12345.exr");

    SequencePattern printf;
    ASSERT_TRUE(parseSequencePattern("shot_%05d.png", printf));
    EXPECT_EQ(printf.directory, "");
    EXPECT_EQ(printf.prefix, "shot_");
    EXPECT_EQ(printf.padding, 5);

    SequencePattern unpadded;
    ASSERT_TRUE(parseSequencePattern("100%_frame%d.tif", unpadded)); // a lone % is no placeholder
    EXPECT_EQ(unpadded.prefix, "100%_frame");
    EXPECT_EQ(unpadded.padding, 0);

    SequencePattern none;
    EXPECT_FALSE(parseSequencePattern("plate.exr", none));
    EXPECT_FALSE(parseSequencePattern("shot.%4d.png", none));      // space padding names no files
    EXPECT_FALSE(parseSequencePattern("a##b##.png", none));        // two placeholders
    EXPECT_FALSE(parseSequencePattern("dir####/plate.png", none)); // only the file name counts
}

TEST(SequencePattern, NumbersCountFromTheFirstFileAcrossDigitWidths)
{
    TempDir dir;
    for (const char *name : {"shot.0998.png", "shot.0999.png", "shot.1000.png", "shot.1001.png",
                             "shot.01.png", "shot.00999.png", "other.0001.png", "shot.0500.exr"}) {
        writeTinyPng(dir.file(name));
    }
    const Clip clip = discoverClip(dir.file("shot.####.png"));
    EXPECT_EQ(clip.kind, ClipKind::ImageSequence);
    EXPECT_EQ(clip.frameCount, 4);
    EXPECT_THAT(baseNames(clip),
                ElementsAre("shot.0998.png", "shot.0999.png", "shot.1000.png", "shot.1001.png"));
    EXPECT_EQ(clip.describeFrame(2), dir.file("shot.1000.png"));

    const Clip printf = discoverClip(dir.file("shot.%04d.png"));
    EXPECT_EQ(printf.frameFiles, clip.frameFiles);
}

TEST(SequencePattern, UnpaddedNumbersSortByValue)
{
    TempDir dir;
    for (int i = 1; i <= 11; ++i) {
        writeTinyPng(dir.file("f" + std::to_string(i) + ".png"));
    }
    const Clip clip = discoverClip(dir.file("f%d.png"));
    ASSERT_EQ(clip.frameCount, 11);
    EXPECT_EQ(baseNames(clip)[1], "f2.png");
    EXPECT_EQ(baseNames(clip)[10], "f11.png");
}

TEST(SequencePattern, FramesBeforeZeroKeepTheirPlaceInNumericOrder)
{
    TempDir dir;
    for (const char *name :
         {"f_-002.png", "f_-001.png", "f_000.png", "f_001.png", "f_002.png", "f_-000.png"}) {
        writeTinyPng(dir.file(name));
    }
    const Clip clip = discoverClip(dir.file("f_###.png"));
    EXPECT_THAT(baseNames(clip),
                ElementsAre("f_-002.png", "f_-001.png", "f_000.png", "f_001.png", "f_002.png"));
    EXPECT_EQ(discoverClip(dir.file("f_%03d.png")).frameFiles, clip.frameFiles);

    // A gap among them is named as the file would be.
    std::filesystem::remove(dir.file("f_-001.png"));
    EXPECT_THAT(missingFrameErrorOf(dir.file("f_###.png")),
                HasSubstr(dir.file("f_-001.png") + ": frame missing"));

    SequencePattern pattern;
    ASSERT_TRUE(parseSequencePattern("f_%03d.png", pattern));
    EXPECT_EQ(pattern.fileNameFor(-7), "f_-007.png");
}

TEST(SequencePattern, AGapNamesTheMissingFile)
{
    TempDir dir;
    for (const char *name : {"s.0001.png", "s.0002.png", "s.0004.png"}) {
        writeTinyPng(dir.file(name));
    }
    const std::string message = missingFrameErrorOf(dir.file("s.####.png"));
    EXPECT_THAT(message, HasSubstr(dir.file("s.0003.png") + ": frame missing"));
    EXPECT_THAT(message, HasSubstr("numbers 1 to 4"));
}

TEST(SequencePattern, OneNumberTwiceIsRefused)
{
    TempDir dir;
    writeTinyPng(dir.file("s1.png"));
    writeTinyPng(dir.file("s01.png"));
    EXPECT_THAT(runErrorOf(dir.file("s%d.png")), HasSubstr("frame number 1 is there twice"));
}

TEST(SequencePattern, NothingMatchingOrNoFolderIsAnError)
{
    TempDir dir;
    writeTinyPng(dir.file("a.0001.png"));
    EXPECT_THAT(runErrorOf(dir.file("b.####.png")), HasSubstr("no files match"));
    EXPECT_THAT(runErrorOf(dir.file("missing/a.####.png")), HasSubstr("does not exist"));
}

TEST(FolderOfFrames, TakesImagesInNameOrderAndSkipsTheRest)
{
    TempDir dir;
    for (const char *name : {"frame10.png", "frame9.png", "frame1.PNG", ".frame0.png"}) {
        writeTinyPng(dir.file(name));
    }
    writeText(dir.file("notes.txt"), "not a frame");
    writeText(dir.file("take.mov"), "a movie is no frame of a folder");
    std::filesystem::create_directory(dir.file("sub.png"));
    const Clip clip = discoverClip(dir.path());
    EXPECT_THAT(baseNames(clip), ElementsAre("frame1.PNG", "frame9.png", "frame10.png"));
}

TEST(FolderOfFrames, AnEmptyFolderIsAnError)
{
    TempDir dir;
    writeText(dir.file("readme.txt"), "x");
    EXPECT_THAT(runErrorOf(dir.path()), HasSubstr("no image files in the folder"));
}

TEST(SingleFile, AStillImageIsAOneFrameClipAndJunkIsNamed)
{
    TempDir dir;
    writeTinyPng(dir.file("still.png"));
    const Clip still = discoverClip(dir.file("still.png"));
    EXPECT_EQ(still.kind, ClipKind::ImageSequence);
    EXPECT_EQ(still.frameCount, 1);

    writeText(dir.file("broken.png"), "not a png");
    EXPECT_THAT(runErrorOf(dir.file("broken.png")),
                HasSubstr(dir.file("broken.png") + ": cannot read it as an image or a movie"));
    writeText(dir.file("data.xyz"), "unknown");
    EXPECT_THAT(runErrorOf(dir.file("data.xyz")),
                HasSubstr(dir.file("data.xyz") + ": cannot read"));
    EXPECT_THAT(runErrorOf(dir.file("nothing.mov")), HasSubstr("no such file or folder"));
}

TEST(SingleFile, MoviesCountTheirFramesAndNeedAVideoStream)
{
    if (!haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed; movie discovery not tested";
    }
    TempDir dir;
    auto ffmpeg = [](const std::string &source, const std::string &output) {
        return runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", source,
                           "-pix_fmt", "yuv420p", output})
            .exitStatus;
    };
    ASSERT_EQ(ffmpeg("testsrc=size=32x24:rate=10:duration=0.7", dir.file("clip.mp4")), 0);
    const Clip movie = discoverClip(dir.file("clip.mp4"));
    EXPECT_EQ(movie.kind, ClipKind::Movie);
    EXPECT_EQ(movie.frameCount, 7);
    EXPECT_EQ(movie.describeFrame(3), dir.file("clip.mp4") + " (frame 3)");

    // Any container FFmpeg demuxes, whatever its name.
    ASSERT_EQ(ffmpeg("testsrc=size=32x24:rate=10:duration=0.7", dir.file("clip.mkv")), 0);
    const Clip matroska = discoverClip(dir.file("clip.mkv"));
    EXPECT_EQ(matroska.kind, ClipKind::Movie);
    EXPECT_EQ(matroska.frameCount, 7);

    ASSERT_EQ(runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                          "sine=frequency=440:duration=0.5", dir.file("sound.mp4")})
                  .exitStatus,
              0);
    const std::string sound = runErrorOf(dir.file("sound.mp4"));
    EXPECT_THAT(sound, HasSubstr(dir.file("sound.mp4") + ": the movie has no video"));
    EXPECT_THAT(sound, HasSubstr("audio (aac)")) << "what the container holds is said";
}

TEST(NaturalOrder, ComparesDigitRunsByValue)
{
    EXPECT_TRUE(naturalLess("f9.png", "f10.png"));
    EXPECT_FALSE(naturalLess("f10.png", "f9.png"));
    EXPECT_TRUE(naturalLess("a2b3", "a2b10"));
    EXPECT_TRUE(naturalLess("a", "ab"));
    EXPECT_TRUE(naturalLess("a.png", "b.png"));
    // Equal values in different padding still get a strict order, both ways round.
    EXPECT_NE(naturalLess("f01", "f1"), naturalLess("f1", "f01"));
    EXPECT_FALSE(naturalLess("same", "same"));
}

} // namespace
