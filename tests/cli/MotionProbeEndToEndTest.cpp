// The motion probe through the framemeld program as a user runs it, without --align: a clip
// whose camera moved says so in the summary and in --json, with the model to try (a similarity
// for one that turns); a still clip says nothing; the figures are the same whether the frames
// are held in memory, in a scratch file or read from their files a few rows at a time, on one
// thread or several, whole or on a farm node; runs that cannot measure say why; and the probe
// leaves the plate as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::Not;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

std::size_t idx(int i)
{
    return static_cast<std::size_t>(i);
}

struct Shift {
    int dx, dy;
    double degrees = 0; // turned about the frame's centre, after the shift
};

// shot.0 ... as 8-bit RGB PNG files (or float EXR ones) of a smooth textured scene, frame f
// showing it moved by shifts[f], and a grey square that crosses the frame as a person would.
void writeClip(const TempDir &dir, const std::vector<Shift> &shifts,
               const std::string &extension = "png")
{
    std::mt19937 random(41);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    struct Wave {
        double kx, ky, phase, amplitude;
    };
    std::vector<Wave> waves;
    for (int k = 0; k < 20; ++k) {
        const double length = 10.0 + 40.0 * unit(random);
        const double angle = 2 * M_PI * unit(random);
        waves.push_back(Wave{2 * M_PI / length * std::cos(angle),
                             2 * M_PI / length * std::sin(angle), 2 * M_PI * unit(random),
                             0.04 * unit(random)});
    }
    for (std::size_t f = 0; f < shifts.size(); ++f) {
        std::vector<float> rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                // The scene point this pixel shows: the pixel turned back, then shifted back.
                const double t = -shifts[f].degrees * M_PI / 180.0;
                const double cx = kWidth / 2.0, cy = kHeight / 2.0;
                const double sx = std::cos(t) * (x - cx) - std::sin(t) * (y - cy) + cx;
                const double sy = std::sin(t) * (x - cx) + std::cos(t) * (y - cy) + cy;
                double v = 0.5;
                for (const Wave &w : waves) {
                    v += w.amplitude * std::cos(w.kx * (sx - shifts[f].dx) +
                                                w.ky * (sy - shifts[f].dy) + w.phase);
                }
                const int left = 10 + 25 * static_cast<int>(f);
                if (x >= left && x < left + 20 && y >= 40 && y < 60) {
                    v = 0.9;
                }
                rgb.insert(rgb.end(), {static_cast<float>(v * 0.9), static_cast<float>(v),
                                       static_cast<float>(v * 1.05)});
            }
        }
        writeImage(dir.file("shot." + std::to_string(f) + "." + extension), kWidth, kHeight, 3,
                   extension == "exr" ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8,
                   OIIO::TypeDesc::FLOAT, rgb.data());
    }
}

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The "motion" object of --json, as printed.
std::string motionOf(const std::string &output)
{
    std::smatch found;
    if (!std::regex_search(output, found, std::regex("\"motion\": (\\{[^}]*\\}|null)"))) {
        return "none";
    }
    return found[1];
}

double displacementOf(const std::string &motion)
{
    std::smatch found;
    if (!std::regex_search(motion, found, std::regex("\"largest_displacement\": ([-0-9.e]+)"))) {
        return -1;
    }
    return std::stod(found[1]);
}

// A run of the clip in `in`, its plate into `plate`, with the output (stderr and the JSON).
CommandReport runOn(const TempDir &in, const std::string &plate,
                    std::vector<std::string> extra = {}, const std::string &extension = "png")
{
    std::vector<std::string> args = {
        in.file("shot.%d." + extension), "-o", plate, "--json", "--plugin", modulePath()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runFramemeld(args);
}

const std::vector<Shift> kShaking = {{0, 0}, {1, 0}, {2, 1}, {1, 2}, {0, 1}};

TEST(MotionProbeEndToEnd, AShakenClipSaysItMovesAndNamesTheAlignToTry)
{
    TempDir in, out;
    writeClip(in, kShaking);
    const auto run = runOn(in, out.file("plate.png"));
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    // Frame 0 lies (-2, -1) from the middle frame (2, 1): 2.24 pixels.
    EXPECT_THAT(run.output, HasSubstr("framemeld: the sampled frames move against each other, up "
                                      "to 2.2"));
    EXPECT_THAT(run.output, HasSubstr("(frame 0 against frame 2): the plate is soft where they "
                                      "do; try --align translation\n"));
    const std::string motion = motionOf(run.output);
    EXPECT_THAT(motion, HasSubstr("\"measured\": true"));
    EXPECT_THAT(motion, HasSubstr("\"suggested_align\": \"translation\""));
    EXPECT_THAT(motion, HasSubstr("\"frames_measured\": 4"));
    EXPECT_NEAR(displacementOf(motion), std::hypot(2.0, 1.0), 0.15);

    // Through a scratch file, and on one thread: the same figures. (Rendered at 32 bits, so that
    // the budget that sends the frames to the scratch file has room for their proxies, a quarter
    // of a float frame each at this size.)
    const auto scratch = runOn(in, out.file("scratch.png"),
                               {"--memory", "1000K", "--threads", "1", "--depth", "32"});
    ASSERT_EQ(scratch.exitStatus, 0) << scratch.output;
    ASSERT_THAT(scratch.output, HasSubstr("in a scratch file"));
    EXPECT_EQ(motionOf(scratch.output), motion);
    const auto wide = runOn(in, out.file("wide.png"), {"--depth", "32"});
    ASSERT_EQ(wide.exitStatus, 0) << wide.output;
    EXPECT_EQ(fileBytes(out.file("scratch.png")), fileBytes(out.file("wide.png")));
    // A farm node's rows: the whole frames are still registered, to the same figures.
    const auto node = runOn(in, out.file("rows.png"), {"--rows", "0:60"});
    ASSERT_EQ(node.exitStatus, 0) << node.output;
    EXPECT_EQ(motionOf(node.output), motion);

    // Float EXR frames, held whole or read from their files a few rows at a time: one figure.
    TempDir exr;
    writeClip(exr, kShaking, "exr");
    const auto held = runOn(exr, out.file("held.exr"), {}, "exr");
    ASSERT_EQ(held.exitStatus, 0) << held.output;
    const auto strips = runOn(exr, out.file("strips.exr"), {"--memory", "1200K"}, "exr");
    ASSERT_EQ(strips.exitStatus, 0) << strips.output;
    ASSERT_THAT(strips.output, HasSubstr("read from the files in strips"));
    EXPECT_NEAR(displacementOf(motionOf(held.output)), std::hypot(2.0, 1.0), 0.15);
    EXPECT_EQ(motionOf(strips.output), motionOf(held.output));
    EXPECT_THAT(strips.output, HasSubstr("try --align translation"));
}

TEST(MotionProbeEndToEnd, AClipThatTurnsAsksForASimilarity)
{
    TempDir in, out;
    writeClip(in, {{0, 0, -4.0}, {0, 0, -2.0}, {0, 0, 0.0}, {0, 0, 2.0}, {0, 0, 4.0}});
    const auto run = runOn(in, out.file("plate.png"));
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr(", turning or zooming): the plate is soft where they do; try "
                                      "--align similarity\n"));
    EXPECT_THAT(motionOf(run.output), HasSubstr("\"suggested_align\": \"similarity\""));
}

TEST(MotionProbeEndToEnd, AStillClipSaysNothingAndItsPlateIsTheUnprobedOne)
{
    // Float EXR frames, which can also be read a few rows at a time.
    TempDir in, out;
    writeClip(in, std::vector<Shift>(5, Shift{0, 0}), "exr");
    const auto run = runOn(in, out.file("plate.exr"), {}, "exr");
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, Not(HasSubstr("move against each other")));
    const std::string motion = motionOf(run.output);
    EXPECT_THAT(motion, HasSubstr("\"measured\": true"));
    EXPECT_THAT(motion, HasSubstr("\"suggested_align\": null"));
    EXPECT_THAT(motion, HasSubstr("\"frames_measured\": 4"));
    EXPECT_LT(displacementOf(motion), 0.1);

    // Frames read a few rows at a time are probed row by row as the bands decode them: the same
    // figures, and the plate of a run that held them whole.
    const auto rows = runOn(in, out.file("rows.exr"), {"--memory", "1200K"}, "exr");
    ASSERT_EQ(rows.exitStatus, 0) << rows.output;
    ASSERT_THAT(rows.output, HasSubstr("read from the files in strips"));
    EXPECT_EQ(motionOf(rows.output), motion);
    EXPECT_EQ(fileBytes(out.file("rows.exr")), fileBytes(out.file("plate.exr")));
    // Past a megabyte the proxies count against the budget: where they would take more than half
    // of it, the probe is left out rather than the run holding more than --memory. (Twenty frames:
    // 1.5 MB of proxies.)
    TempDir many;
    writeClip(many, std::vector<Shift>(20, Shift{0, 0}), "exr");
    const auto tight = runOn(many, out.file("tight.exr"), {"--memory", "2M"}, "exr");
    ASSERT_EQ(tight.exitStatus, 0) << tight.output;
    ASSERT_THAT(tight.output, HasSubstr("read from the files in strips"));
    EXPECT_EQ(motionOf(tight.output), "{\"measured\": false, \"reason\": \"the memory budget "
                                      "leaves no room for the frames' proxies\"}");
    const auto roomy = runOn(many, out.file("roomy.exr"), {"--memory", "4M"}, "exr");
    ASSERT_EQ(roomy.exitStatus, 0) << roomy.output;
    ASSERT_THAT(roomy.output, HasSubstr("read from the files in strips"));
    EXPECT_THAT(motionOf(roomy.output), HasSubstr("\"measured\": true"));
    EXPECT_EQ(fileBytes(out.file("tight.exr")), fileBytes(out.file("roomy.exr")));
    // A farm node reading so sees only its rows: no figure, and the plate rows are the same.
    const auto node = runOn(in, out.file("node.exr"), {"--memory", "800K", "--rows", "0:8"}, "exr");
    ASSERT_EQ(node.exitStatus, 0) << node.output;
    EXPECT_EQ(motionOf(node.output), "{\"measured\": false, \"reason\": \"a farm node that reads "
                                     "its frames a few rows at a time sees only its own rows\"}");
    // That node ran no probe: its rows are the probed plate's, sample for sample.
    int w = 0, h = 0, ch = 0;
    const auto plate = readSamples<float>(out.file("plate.exr"), w, h, ch);
    const auto strip = readSamples<float>(out.file("node.exr"), w, h, ch);
    ASSERT_EQ(h, 8);
    ASSERT_EQ(strip.size(), idx(kWidth * 8 * ch));
    EXPECT_TRUE(std::equal(strip.begin(), strip.end(), plate.begin()));

    // An aligned run measures nothing of its own.
    const auto aligned = runOn(in, out.file("aligned.exr"), {"--align", "translation"}, "exr");
    if (aligned.exitStatus == 0) {
        EXPECT_EQ(motionOf(aligned.output),
                  "{\"measured\": false, \"reason\": \"--align registers the frames\"}");
    }
}

TEST(MotionProbeEndToEnd, FlatFootageAndFailedRunsReportNoFigure)
{
    TempDir in, out;
    const std::vector<float> grey(idx(kWidth * kHeight * 3), 0.4f);
    for (int f = 0; f < 3; ++f) {
        writeImage(in.file("shot." + std::to_string(f) + ".png"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::FLOAT, grey.data());
    }
    const auto flat = runOn(in, out.file("plate.png"));
    ASSERT_EQ(flat.exitStatus, 0) << flat.output;
    EXPECT_EQ(motionOf(flat.output), "{\"measured\": false, \"reason\": \"the frames have too "
                                     "little texture to register\"}");
    EXPECT_THAT(flat.output, Not(HasSubstr("move against each other")));

    const auto failed = runOn(in, out.file("plate.png"), {"--divergence", "1000"});
    EXPECT_NE(failed.exitStatus, 0);
    EXPECT_EQ(motionOf(failed.output), "null");
}

} // namespace
