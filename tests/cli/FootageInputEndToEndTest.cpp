// Odd footage through the whole program: frame lists on a clip rendered on 4s, frames too large
// for the host, 12-digit frame numbers, trimmed and rotated movies, containers named by nothing
// but their content. Each failure has its exit status and leaves no output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;

namespace {

void writeGrey(const std::string &path, int width, int height, std::uint8_t value)
{
    const std::vector<std::uint8_t> rgb(
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, value);
    writeImage(path, width, height, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
}

bool ffmpeg(std::vector<std::string> args)
{
    args.insert(args.begin(), {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"});
    return runProgram(args).exitStatus == 0;
}

std::string jsonOf(const CommandReport &report)
{
    const std::size_t at = report.output.find("{\"exit_status\"");
    return at == std::string::npos ? std::string() : report.output.substr(at);
}

TEST(FootageInputEndToEnd, AClipRenderedOnFoursRendersWithAFrameList)
{
    TempDir in, out;
    for (int number = 1001; number <= 1021; number += 4) {
        writeGrey(in.file("shot." + std::to_string(number) + ".png"), 8, 6, 100);
    }
    const std::string input = in.file("shot.####.png");
    const std::string plate = out.file("plate.png");

    const auto listed = runFramemeld(
        {input, "-o", plate, "--frames", "1001-1021x4", "--divergence", "3", "-q", "--json"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.output;
    EXPECT_TRUE(fileExists(plate));
    const std::string json = jsonOf(listed);
    EXPECT_THAT(json, HasSubstr("\"frames_sampled\": [1001, 1005, 1009, 1013, 1017, 1021]"));
    EXPECT_THAT(json, HasSubstr("\"files_sampled\": [\"" + in.file("shot.1001.png") + "\", \"" +
                                in.file("shot.1005.png") + "\""));
    EXPECT_THAT(json, HasSubstr("\"Start Frame\": 0, \"End Frame\": 20, \"Every n-th Frame\": 4"));
    std::filesystem::remove(plate);

    // The same with --start and --every, and the folder by its own numbers.
    const auto folder = runFramemeld(
        {in.path(), "-o", plate, "--start", "1005", "--every", "4", "--divergence", "3", "-q"});
    EXPECT_EQ(folder.exitStatus, 0) << folder.output;
    std::filesystem::remove(plate);

    // A sampled frame without its file, a list the plug-in cannot sample: refused, no plate.
    const auto holes = runFramemeld({input, "-o", plate, "--frames", "1001-1021x2", "-q"});
    EXPECT_EQ(holes.exitStatus, 1);
    EXPECT_THAT(holes.output, HasSubstr(in.file("shot.1003.png") + ": frame missing"));
    const auto uneven =
        runFramemeld({input, "-o", plate, "--frames", "1001-1005x4,1013-1021x8", "-q"});
    EXPECT_EQ(uneven.exitStatus, 2);
    EXPECT_THAT(uneven.output, HasSubstr("is not one evenly spaced range"));
    EXPECT_FALSE(fileExists(plate));
}

TEST(FootageInputEndToEnd, FramesTooLargeForTheHostAreNamed)
{
    TempDir in, out;
    writeGrey(in.file("wide.png"), 30001, 2, 10);
    const auto run = runFramemeld({in.file("wide.png"), "-o", out.file("plate.png")});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr(in.file("wide.png") + ": the frame is 30001x2 pixels"));
    EXPECT_TRUE(out.entries().empty());
}

TEST(FootageInputEndToEnd, TwelveDigitFrameNumbersCanBeGiven)
{
    TempDir in, out;
    for (long long number = 100000000001LL; number <= 100000000003LL; ++number) {
        writeGrey(in.file("f." + std::to_string(number) + ".png"), 8, 6, 60);
    }
    const auto run = runFramemeld({in.file("f.%d.png"), "-o", out.file("plate.png"), "--start",
                                   "100000000002", "--divergence", "3", "-q", "--json"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(jsonOf(run), HasSubstr("\"frames_sampled\": [100000000002, 100000000003]"));
}

TEST(FootageInputEndToEnd, MoviesAsTheyPlayWhateverTheirContainer)
{
    if (!haveProgram("ffmpeg"))
        GTEST_SKIP() << "ffmpeg makes the movies";
    TempDir in, out;
    ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", "testsrc=size=48x32:rate=10:duration=1", "-c:v",
                        "ffv1", "-pix_fmt", "bgr0", in.file("flat.mkv")}));
    // Named by nothing but its content.
    std::filesystem::copy_file(in.file("flat.mkv"), in.file("flat.take"));
    const auto anyName = runFramemeld({in.file("flat.take"), "-o", out.file("plate.png"), "-q"});
    EXPECT_EQ(anyName.exitStatus, 0) << anyName.output;
    std::filesystem::remove(out.file("plate.png"));

    ASSERT_TRUE(ffmpeg({"-i", in.file("flat.mkv"), "-c", "copy", "-metadata:s:v:0", "rotate=90",
                        in.file("turned.mov")}));
    const auto turned = runFramemeld({in.file("turned.mov"), "-o", out.file("plate.png")});
    ASSERT_EQ(turned.exitStatus, 0) << turned.output;
    EXPECT_THAT(turned.output, HasSubstr("(32x48, 8-bit render)"));
    EXPECT_THAT(turned.output, HasSubstr("degrees clockwise, upright as it plays"));

    // A trimmed MP4 (an edit list) renders whole by default.
    if (ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=4", "-c:v", "libx264",
                "-g", "10", "-bf", "2", in.file("full.mp4")})) {
        ASSERT_TRUE(
            ffmpeg({"-ss", "1.25", "-i", in.file("full.mp4"), "-c", "copy", in.file("cut.mp4")}));
        const auto cut = runFramemeld({in.file("cut.mp4"), "-o", out.file("cut.png"), "-q"});
        EXPECT_EQ(cut.exitStatus, 0) << cut.output;
    }
}

} // namespace
