// --align through the framemeld program as a user runs it: a clip moved by known whole-pixel
// shifts is registered to the reference and its plate lines up with it; a still clip is left
// unwarped, byte for byte the plate of --align none; pixels a warped frame does not cover are
// held out (so the frames that do cover them win, where transparent black would have agreed
// with itself and won); the plate is the same in memory, in a scratch file, on a farm split and
// on one thread; and every refusal comes before the render with nothing written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "MovingClip.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

using framemeld::cli::test::movingclip::kHeight;
using framemeld::cli::test::movingclip::kMargin;
using framemeld::cli::test::movingclip::kWidth;

std::size_t index(long long value)
{
    return static_cast<std::size_t>(value);
}

void writeClip(const TempDir &dir, const std::vector<Shift> &shifts)
{
    writeMovingClip(dir, shifts);
}

std::vector<std::uint8_t> readPlate(const std::string &path, int &channels)
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> samples = readSamples<std::uint8_t>(path, width, height, channels);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    return samples;
}

} // namespace

TEST(AlignEndToEnd, AStillClipIsLeftUnwarpedAndGivesThePlateOfAlignNone)
{
    TempDir in;
    TempDir out;
    writeClip(in, std::vector<Shift>(7, Shift{0, 0}));
    const std::string shot = in.file("shot.%d.png");
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("none.png"), "-q"}).exitStatus, 0);
    for (const char *model : {"translation", "similarity", "perspective"}) {
        const std::string plate = out.file(std::string(model) + ".png");
        const auto run = runFramemeld({shot, "-o", plate, "--align", model, "--json", "-q"});
        ASSERT_EQ(run.exitStatus, 0) << run.output;
        EXPECT_THAT(run.output, HasSubstr("\"still\": true"));
        const auto transforms = transformsOf(run.output);
        ASSERT_EQ(transforms.size(), 7u);
        for (const auto &m : transforms) {
            EXPECT_EQ(m, (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1})) << model;
        }
        EXPECT_EQ(fileBytes(plate), fileBytes(out.file("none.png"))) << model;
    }
}

TEST(AlignEndToEnd, AMovingClipIsRegisteredToTheReferenceAndItsPlateLinesUpWithIt)
{
    TempDir in;
    TempDir out;
    writeClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    const auto run = runFramemeld({shot, "-o", out.file("plate.png"), "--align", "translation",
                                   "--reference", "0", "--json", "-q"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("\"still\": false"));
    EXPECT_THAT(run.output, HasSubstr("\"reference\": 0"));
    const auto transforms = transformsOf(run.output);
    ASSERT_EQ(transforms.size(), kHandheld.size());
    for (std::size_t f = 0; f < kHandheld.size(); ++f) {
        // The scene moved by (-dx, -dy) in frame f: back into frame 0 is a shift by (dx, dy).
        EXPECT_NEAR(transforms[f][2], kHandheld[f].dx, 0.1) << "frame " << f;
        EXPECT_NEAR(transforms[f][5], kHandheld[f].dy, 0.1) << "frame " << f;
    }

    // The plate is frame 0's view of the scene wherever enough frames cover it, and far from
    // it without alignment.
    const auto reference = [&] {
        int channels = 0;
        return readPlate(in.file("shot.0.png"), channels);
    }();
    const auto meanError = [&](const std::string &path) {
        int channels = 0;
        const std::vector<std::uint8_t> plate = readPlate(path, channels);
        double sum = 0;
        long count = 0;
        for (int y = kMargin; y < kHeight - kMargin; ++y) {
            for (int x = kMargin; x < kWidth - kMargin; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const long long i = static_cast<long long>(y) * kWidth + x;
                    sum += std::abs(static_cast<int>(plate[index(i * channels + c)]) -
                                    static_cast<int>(reference[index(i * 3 + c)]));
                    ++count;
                }
            }
        }
        return sum / static_cast<double>(count);
    };
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("none.png"), "-q"}).exitStatus, 0);
    EXPECT_LT(meanError(out.file("plate.png")), 0.5);
    EXPECT_GT(meanError(out.file("none.png")), 5.0);
}

TEST(AlignEndToEnd, PixelsAWarpedFrameDoesNotCoverAreHeldOutSoTheFramesThatCoverThemWin)
{
    // Four frames at the reference, five moved so that their footage ends 6 pixels short of
    // the reference's right edge. Uncovered pixels handed over as transparent black would agree
    // with one another, five against four, and the plate's right columns would be transparent.
    TempDir in;
    TempDir out;
    std::vector<Shift> shifts(4, Shift{0, 0});
    shifts.insert(shifts.end(), 5, Shift{-6, 0});
    writeClip(in, shifts);
    const std::string shot = in.file("shot.%d.png");
    const auto run = runFramemeld({shot, "-o", out.file("plate.png"), "--align", "translation",
                                   "--reference", "0", "--rating-range", "1", "--json", "-q"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("\"holes\": 0"));
    int channels = 0;
    const std::vector<std::uint8_t> reference = readPlate(in.file("shot.0.png"), channels);
    int plateChannels = 0;
    const std::vector<std::uint8_t> again = readPlate(out.file("plate.png"), plateChannels);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = kWidth - 6; x < kWidth; ++x) {
            const long long i = static_cast<long long>(y) * kWidth + x;
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(again[index(i * plateChannels + c)], reference[index(i * 3 + c)])
                    << "x " << x << " y " << y;
            }
            if (plateChannels == 4) {
                ASSERT_EQ(again[index(i * 4 + 3)], 255) << "x " << x << " y " << y;
            }
        }
    }

    // Where no frame but the reference's own covers a pixel, the pixel is an honest hole,
    // counted: the reference alone cannot outvote the codes of the rest.
    std::vector<Shift> mostlyAway{{0, 0}, {-6, 0}, {-6, 0}, {-6, 0}, {-6, 0}};
    TempDir sparse;
    writeClip(sparse, mostlyAway);
    const auto holes =
        runFramemeld({sparse.file("shot.%d.png"), "-o", out.file("holes.png"), "--align",
                      "translation", "--reference", "0", "--rating-range", "1", "--json", "-q"});
    ASSERT_EQ(holes.exitStatus, 0) << holes.output;
    EXPECT_THAT(holes.output, HasSubstr("\"holes\": " + std::to_string(6 * kHeight)));
}

// A box that stands in the scene in six of nine frames wins the consensus where it stands. Drawn
// as shot in each frame's holdout matte, it moves with its frame into the reference and is held
// out there, so the three frames that see behind it decide: the plate is the one of the clip
// without the box. The summary counts the holes once, for the matte and the borders together.
TEST(AlignEndToEnd, AHoldoutMatteMovesWithItsFrameAndHoldsOutWhatStandsInTheScene)
{
    TempDir in;
    TempDir mattes;
    TempDir clean;
    TempDir out;
    const std::vector<bool> box{true, true, true, true, true, true, false, false, false};
    writeMovingClip(in, kHandheld, box);
    writeBoxMattes(mattes, kHandheld, box);
    writeMovingClip(clean, kHandheld);
    const auto render = [&](const TempDir &clip, const std::string &plate,
                            std::vector<std::string> more) {
        std::vector<std::string> args{
            clip.file("shot.%d.png"), "-o", out.file(plate),  "--align", "similarity",
            "--divergence",           "2",  "--rating-range", "1"};
        args.insert(args.end(), more.begin(), more.end());
        const auto report = runFramemeld(args);
        EXPECT_EQ(report.exitStatus, 0) << report.output;
        return report.output;
    };
    render(clean, "clean.png", {"-q"});
    render(in, "unheld.png", {"-q"});
    const std::string summary = render(in, "held.png", {"--holdout", mattes.file("matte.%d.png")});
    EXPECT_THAT(summary, HasSubstr("once the borders and the holdout are held out"));
    EXPECT_EQ(summary.find("are holes"), summary.rfind("are holes")) << summary;

    int width = 0, height = 0, channels = 0;
    const auto plateOf = [&](const std::string &name) {
        return readSamples<std::uint8_t>(out.file(name), width, height, channels);
    };
    const auto cleanPlate = plateOf("clean.png");
    const auto unheld = plateOf("unheld.png");
    const auto held = plateOf("held.png");
    ASSERT_EQ(held.size(), cleanPlate.size());
    ASSERT_EQ(unheld.size(), cleanPlate.size());
    // The box in the reference's pixels (frame 4, the middle one).
    const Shift reference = kHandheld[4];
    const int left = movingclip::kBoxX - kMargin - reference.dx;
    const int top = movingclip::kBoxY - kMargin - reference.dy;
    long boxWon = 0, differs = 0;
    for (int y = top; y < top + movingclip::kBoxHeight; ++y) {
        for (int x = left; x < left + movingclip::kBoxWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                const std::size_t at =
                    index((static_cast<long long>(y) * width + x) * channels + c);
                boxWon += unheld[at] != cleanPlate[at];
                differs += held[at] != cleanPlate[at];
            }
        }
    }
    EXPECT_GT(boxWon, 3L * movingclip::kBoxWidth * movingclip::kBoxHeight / 2); // without the matte
    EXPECT_EQ(differs, 0);
}

TEST(AlignEndToEnd, ThePlateIsTheSameInMemoryInAScratchFileOnAFarmAndOnOneThread)
{
    TempDir in;
    TempDir out;
    writeClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    const std::vector<std::string> align{"--align", "similarity", "-q"};
    const auto run = [&](std::vector<std::string> args) {
        std::vector<std::string> all{shot};
        all.insert(all.end(), args.begin(), args.end());
        all.insert(all.end(), align.begin(), align.end());
        const auto report = runFramemeld(all);
        EXPECT_EQ(report.exitStatus, 0) << report.output;
    };
    run({"-o", out.file("memory.png")});
    // Registration holds a proxy of every frame, as large as the frames at this size: within a
    // budget that sends the frames to the scratch file, the transforms come from a motion file.
    const std::string motion = out.file("motion.json");
    ASSERT_EQ(runFramemeld({"align", shot, "-o", motion, "-q"}).exitStatus, 0);
    run({"-o", out.file("scratch.png"), "--memory", "1M", "--motion", motion});
    run({"-o", out.file("one.png"), "--threads", "1"});
    run({"-o", out.file("top.png"), "--rows", "0:70"});
    run({"-o", out.file("middle.png"), "--rows", "70:140", "--memory", "1M", "--motion", motion});
    run({"-o", out.file("bottom.png"), "--rows", "140:180"});
    ASSERT_EQ(runFramemeld({"merge", "-o", out.file("merged.png"), out.file("top.png"),
                            out.file("middle.png"), out.file("bottom.png"), "-q"})
                  .exitStatus,
              0);
    const std::string memory = fileBytes(out.file("memory.png"));
    EXPECT_EQ(fileBytes(out.file("scratch.png")), memory);
    EXPECT_EQ(fileBytes(out.file("one.png")), memory);
    EXPECT_EQ(fileBytes(out.file("merged.png")), memory);
}

TEST(AlignEndToEnd, EveryRefusalComesBeforeTheRenderWithNothingWritten)
{
    TempDir in;
    writeClip(in, kHandheld);
    // A cut: a flat frame in the middle of the clip has nothing to register.
    std::vector<float> flat(index(kWidth) * index(kHeight) * 3, 0.5f);
    TempDir cut;
    writeClip(cut, kHandheld);
    writeImage(cut.file("shot.6.png"), kWidth, kHeight, 3, OIIO::TypeDesc::UINT8,
               OIIO::TypeDesc::FLOAT, flat.data());
    struct Case {
        std::string input;
        std::vector<std::string> args;
        int exitStatus;
        std::string says;
    };
    const std::vector<Case> cases = {
        {in.file("shot.%d.png"), {"--align", "affine"}, 2, "--align must be none, translation"},
        {in.file("shot.%d.png"),
         {"--align", "similarity", "--reference", "3", "--every", "2"},
         2,
         "--reference 3 is not a sampled frame"},
        {in.file("shot.%d.png"), {"--reference", "3"}, 2, "give --align"},
        {cut.file("shot.%d.png"), {"--align", "similarity"}, 1, "frame 6: "},
        // Uncovered pixels take held-out codes, and past 50 % a 16-bit render has 7 of them.
        {in.file("shot.%d.png"),
         {"--align", "similarity", "--depth", "16", "--divergence", "100"},
         2,
         "--align (pixels a warped frame does not cover are held out): at Divergence 100 a 16-bit "
         "render can keep at most 7 sampled frames apart, and this run samples 9"},
    };
    TempDir out;
    for (const Case &refused : cases) {
        std::vector<std::string> args{refused.input, "-o", out.file("plate.png")};
        args.insert(args.end(), refused.args.begin(), refused.args.end());
        const auto report = runFramemeld(args);
        EXPECT_EQ(report.exitStatus, refused.exitStatus) << report.output;
        EXPECT_THAT(report.output, HasSubstr(refused.says));
        EXPECT_THAT(out.entries(), IsEmpty()) << refused.says;
    }
}
