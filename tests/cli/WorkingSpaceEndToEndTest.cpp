// `--working-space` as a user runs it: a clip of identical frames comes back as it went in; dark
// objects over a dark scene-linear background leave no ghost in the default space, where linear
// light lets them in; a colour space of an OpenColorIO configuration gives the plate of the same
// curve; every way of holding the frames encodes them alike; and the run says which space its
// Divergence and noise are in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "cli/plan/MemoryPlan.h"

using framemeld::runner::PixelDepth;
using namespace framemeld::cli;
using namespace framemeld::cli::test;
using testing::HasSubstr;

namespace {

std::vector<float> plateSamples(const std::string &path)
{
    int width = 0, height = 0, channels = 0;
    return readSamples<float>(path, width, height, channels);
}

// Sets an environment variable for the programs this test runs, and puts it back.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char *name, const char *value) : name_(name)
    {
        const char *previous = std::getenv(name);
        had_ = previous != nullptr;
        previous_ = had_ ? previous : "";
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvironmentVariable()
    {
        if (had_) {
            setenv(name_.c_str(), previous_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    std::string previous_;
    bool had_ = false;
};

// ---- identical frames ----------------------------------------------------------------------

constexpr int kStillWidth = 48;
constexpr int kStillHeight = 20;

// Scene-linear values from below black to far above white, over every row.
float stillValue(int x, int y, int c)
{
    const double stops = (x + kStillWidth * (y % 4)) / 12.0 - 10.0 + c * 0.3; // -10 .. +6
    if (x == 0) {
        return c == 0 ? 0.0f : -0.002f * static_cast<float>(y + 1);
    }
    return static_cast<float>(0.18 * std::exp2(stops));
}

// A clip of identical frames goes into the working space, through the consensus (the mean of
// equal samples) and back: at 32 bits it is the frame within 6 parts in a million (the curve's
// single precision and the plug-in's float mean, magnified by the decoding's exponent); at 16
// bits within half a step of the log code (16 / 32768 of a stop) and half a level.
TEST(WorkingSpaceEndToEnd, ARoundTripLeavesIdenticalFramesAsTheyWere)
{
    TempDir in, out;
    std::vector<float> rgb;
    for (int y = 0; y < kStillHeight; ++y) {
        for (int x = 0; x < kStillWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                rgb.push_back(stillValue(x, y, c));
            }
        }
    }
    for (int f = 0; f < 9; ++f) {
        writeImage(in.file("still." + std::to_string(f) + ".exr"), kStillWidth, kStillHeight, 3,
                   OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT, rgb.data());
    }
    const std::string input = in.file("still.%d.exr");
    for (const char *space : {"auto", "log"}) {
        SCOPED_TRACE(space);
        const auto run = runFramemeld(
            {input, "-o", out.file(std::string(space) + ".exr"), "--working-space", space});
        ASSERT_EQ(run.exitStatus, 0) << run.output;
        EXPECT_THAT(run.output, HasSubstr(std::string("working space log") +
                                          (space == std::string("auto") ? " (auto)" : "") + "\n"));
        const std::vector<float> plate = plateSamples(out.file(std::string(space) + ".exr"));
        ASSERT_EQ(plate.size(), rgb.size());
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            ASSERT_NEAR(plate[i], rgb[i], 6e-6 * std::fabs(static_cast<double>(rgb[i])) + 1e-9)
                << "sample " << i;
        }
    }
    // 16 bits: the frames reach the plug-in clipped to 0..1 and rounded, then encoded.
    const auto run = runFramemeld(
        {input, "-o", out.file("sixteen.tif"), "--working-space", "log", "--depth", "16"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    int w = 0, h = 0, ch = 0;
    const auto plate = readSamples<std::uint16_t>(out.file("sixteen.tif"), w, h, ch);
    ASSERT_EQ(plate.size(), rgb.size());
    const double step = std::exp2(16.0 / 32768.0 / 2.0) - 1.0;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        const double stored =
            std::round(static_cast<double>(std::clamp(rgb[i], 0.0f, 1.0f)) * 32768.0) / 32768.0;
        if (stored < 0.18 / 256.0) {
            continue; // below the code's 0: every such value comes back as 8 stops under grey
        }
        // The tool writes 16-bit plates full scale to full scale.
        EXPECT_NEAR(plate[i] / 65535.0, stored, stored * step + 1.0 / 32768.0) << "sample " << i;
    }
}

// ---- dark objects over a dark background -----------------------------------------------------

constexpr int kWidth = 160;
constexpr int kHeight = 96;
constexpr int kFrames = 40;

// Scene-linear frames: the left half a dark background at 0.01, the right half a bright one at
// 0.5, each mildly textured; a dark object (0.05) crossing the dark half, a bright one (0.9) the
// bright half, each place on their paths covered in about a fifth of the frames; noise that grows
// with the signal (shot noise and a floor), 0.001 on the dark background, 0.007 on the bright.
struct LinearClip {
    std::vector<float> background;
    std::vector<bool> darkPath;
    std::vector<bool> darkUntouched;
    std::vector<bool> bright;
};

LinearClip writeLinearClip(const TempDir &dir)
{
    LinearClip clip;
    const std::size_t pixels = static_cast<std::size_t>(kWidth) * kHeight;
    clip.background.resize(pixels);
    clip.darkPath.assign(pixels, false);
    clip.bright.assign(pixels, false);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double level = x < kWidth / 2 ? 0.01 : 0.5;
            clip.background[static_cast<std::size_t>(y * kWidth + x)] =
                static_cast<float>(level * (1 + 0.1 * std::sin(x / 7.0) * std::cos(y / 5.0)));
            clip.bright[static_cast<std::size_t>(y * kWidth + x)] = x >= kWidth / 2 + 2;
        }
    }
    std::mt19937 random(20261211);
    std::normal_distribution<double> unit(0.0, 1.0);
    for (int t = 0; t < kFrames; ++t) {
        std::vector<float> rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const int half = x < kWidth / 2 ? 0 : 1;
                const int centre = half * kWidth / 2 + 10 + (t * 7 + 13 * half) % (kWidth / 2 - 20);
                const bool object = std::abs(x - centre) <= 4 && (y % 48) >= 8 && (y % 48) < 40;
                const std::size_t at = static_cast<std::size_t>(y * kWidth + x);
                double value = clip.background[at];
                if (object) {
                    value = half == 0 ? 0.05 : 0.9;
                    if (half == 0) {
                        clip.darkPath[at] = true;
                    }
                }
                for (int c = 0; c < 3; ++c) {
                    const double sigma = std::sqrt(1e-4 * value + 2e-4 * 2e-4);
                    rgb.push_back(static_cast<float>(value + sigma * unit(random)));
                }
            }
        }
        writeImage(dir.file("dark." + std::to_string(t) + ".exr"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT, rgb.data());
    }
    clip.darkUntouched.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        clip.darkUntouched[i] = static_cast<int>(i % kWidth) < kWidth / 2 - 2 && !clip.darkPath[i];
    }
    return clip;
}

struct PlateErrors {
    double ghost = 0.0;          // mean signed error over the dark object's path
    double pathError = 0.0;      // mean absolute error there
    double untouchedError = 0.0; // and where nothing passed on the dark background
    double brightError = 0.0;    // mean absolute error on the bright background
};

PlateErrors errorsOf(const std::vector<float> &plate, const LinearClip &clip)
{
    PlateErrors errors;
    double path = 0, untouched = 0, bright = 0;
    for (std::size_t i = 0; i < clip.background.size(); ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const double error = plate[i * 3 + c] - clip.background[i];
            if (clip.darkPath[i]) {
                errors.ghost += error;
                errors.pathError += std::fabs(error);
                ++path;
            } else if (clip.darkUntouched[i]) {
                errors.untouchedError += std::fabs(error);
                ++untouched;
            } else if (clip.bright[i]) {
                errors.brightError += std::fabs(error);
                ++bright;
            }
        }
    }
    errors.ghost /= path;
    errors.pathError /= path;
    errors.untouchedError /= untouched;
    errors.brightError /= bright;
    return errors;
}

TEST(WorkingSpaceEndToEnd, DarkObjectsOverADarkLinearBackgroundLeaveNoGhost)
{
    TempDir in, out;
    const LinearClip clip = writeLinearClip(in);
    const std::string input = in.file("dark.%d.exr");
    const double darkNoise = std::sqrt(1e-4 * 0.01 + 2e-4 * 2e-4);

    const auto automatic = runFramemeld({input, "-o", out.file("auto.exr")});
    ASSERT_EQ(automatic.exitStatus, 0) << automatic.output;
    EXPECT_THAT(automatic.output, testing::ContainsRegex("temporal noise [0-9.e-]+ stops\\), "
                                                         "rating range 2 \\(auto\\), working "
                                                         "space log \\(auto\\)\n"));
    const auto linear =
        runFramemeld({input, "-o", out.file("linear.exr"), "--working-space", "linear"});
    ASSERT_EQ(linear.exitStatus, 0) << linear.output;
    EXPECT_THAT(linear.output,
                HasSubstr(" linear), rating range 2 (auto), working space linear\n"));

    const PlateErrors inLog = errorsOf(plateSamples(out.file("auto.exr")), clip);
    const PlateErrors inLinear = errorsOf(plateSamples(out.file("linear.exr")), clip);
    // No ghost: over the object's path the plate is the background as well as where nothing
    // passed, and far within the noise of one frame.
    EXPECT_LT(std::fabs(inLog.ghost), 0.1 * darkNoise);
    EXPECT_LT(inLog.pathError, 1.5 * inLog.untouchedError);
    EXPECT_LT(inLog.pathError, 0.5 * darkNoise);
    // The log mean is not the linear mean, yet on the bright background the plate is no further
    // from it than the linear consensus'.
    EXPECT_LE(inLog.brightError, inLinear.brightError);

    // What the test is there to catch: a tolerance that is one linear number wide enough for the
    // bright half's noise (as a floor of 10 levels of 255 made it) lets the dark object in.
    const auto wide = runFramemeld(
        {input, "-o", out.file("wide.exr"), "--working-space", "linear", "--divergence", "5"});
    ASSERT_EQ(wide.exitStatus, 0) << wide.output;
    const PlateErrors inWide = errorsOf(plateSamples(out.file("wide.exr")), clip);
    EXPECT_GT(inWide.ghost, darkNoise);
}

// ---- a colour space of an OpenColorIO configuration -----------------------------------------

// A configuration whose "framemeld log" is the tool's own log curve, written as OpenColorIO's
// LogCameraTransform, and a matrix space, so that a named space can be checked against `log`.
void writeConfig(const std::string &path)
{
    std::ofstream config(path);
    config << R"(ocio_profile_version: 2
roles:
  scene_linear: lin
  default: lin
displays:
  none:
    - !<View> {name: raw, colorspace: lin}
colorspaces:
  - !<ColorSpace>
    name: lin
    isdata: false
  - !<ColorSpace>
    name: framemeld log
    isdata: false
    from_scene_reference: !<LogCameraTransform> {base: 2, log_side_slope: 0.0625, lin_side_slope: 5.5555555555555556, log_side_offset: 0.5, lin_side_break: 0.000703125}
  - !<ColorSpace>
    name: swapped
    isdata: false
    from_scene_reference: !<MatrixTransform> {matrix: [0, 1, 0, 0,  0, 0, 1, 0,  1, 0, 0, 0,  0, 0, 0, 1]}
)";
}

TEST(WorkingSpaceEndToEnd, AColourSpaceOfAConfigurationByName)
{
    TempDir in, out;
    writeLinearClip(in);
    const std::string input = in.file("dark.%d.exr");
    const std::string config = in.file("studio.ocio");
    writeConfig(config);

    const auto log = runFramemeld({input, "-o", out.file("log.exr"), "--working-space", "log",
                                   "--divergence", "2", "--json"});
    ASSERT_EQ(log.exitStatus, 0) << log.output;
    const auto named =
        runFramemeld({input, "-o", out.file("named.exr"), "--working-space", "framemeld log",
                      "--ocio-config", config, "--divergence", "2"});
    ASSERT_EQ(named.exitStatus, 0) << named.output;
    EXPECT_THAT(named.output, HasSubstr("working space framemeld log from lin\n"));
    const std::vector<float> logPlate = plateSamples(out.file("log.exr"));
    const std::vector<float> namedPlate = plateSamples(out.file("named.exr"));
    ASSERT_EQ(namedPlate.size(), logPlate.size());
    // OpenColorIO's own logarithm against the tool's: the same consensus, to 1 part in 10^4.
    for (std::size_t i = 0; i < logPlate.size(); ++i) {
        ASSERT_NEAR(namedPlate[i], logPlate[i],
                    1e-4 * std::fabs(static_cast<double>(logPlate[i])) + 1e-7)
            << i;
    }

    // A space that mixes channels (here, exactly: it only moves them) goes there and back, so
    // the plate is the linear consensus's, channel for channel. The configuration from $OCIO.
    {
        const EnvironmentVariable ocio("OCIO", config.c_str());
        const auto swapped = runFramemeld({input, "-o", out.file("swapped.exr"), "--working-space",
                                           "swapped", "--divergence", "2", "--json"});
        ASSERT_EQ(swapped.exitStatus, 0) << swapped.output;
        EXPECT_THAT(swapped.output, HasSubstr("\"working_space\": \"swapped\""));
        EXPECT_THAT(swapped.output, HasSubstr("\"footage_space\": \"lin\""));
        EXPECT_THAT(swapped.output, HasSubstr("\"noise_units\": \"code values\""));
    }
    const auto linear = runFramemeld({input, "-o", out.file("linear.exr"), "--working-space", "log",
                                      "--working-space", "linear", "--divergence", "2"});
    ASSERT_EQ(linear.exitStatus, 0) << linear.output;
    EXPECT_TRUE(plateSamples(out.file("swapped.exr")) == plateSamples(out.file("linear.exr")));
    EXPECT_FALSE(plateSamples(out.file("log.exr")) == plateSamples(out.file("linear.exr")));

    // Refused before any frame is read: a name the configuration lacks (exit 2, with the names
    // it has), no configuration at all (2), a configuration that cannot be read (1).
    const auto unknown = runFramemeld(
        {input, "-o", out.file("x.exr"), "--working-space", "ACEScct", "--ocio-config", config});
    EXPECT_EQ(unknown.exitStatus, 2) << unknown.output;
    EXPECT_THAT(unknown.output, HasSubstr("lin, framemeld log, swapped"));
    {
        const EnvironmentVariable noConfig("OCIO", nullptr);
        const auto none = runFramemeld({input, "-o", out.file("x.exr"), "--working-space", "lin"});
        EXPECT_EQ(none.exitStatus, 2) << none.output;
        EXPECT_THAT(none.output, HasSubstr("--ocio-config"));
    }
    const auto unreadable = runFramemeld({input, "-o", out.file("x.exr"), "--working-space", "lin",
                                          "--ocio-config", in.file("missing.ocio")});
    EXPECT_EQ(unreadable.exitStatus, 1) << unreadable.output;
    EXPECT_THAT(unreadable.output, HasSubstr("missing.ocio"));
    EXPECT_FALSE(fileExists(out.file("x.exr")));
}

// ---- every way of holding the frames -------------------------------------------------------

// The frames are encoded as they are decoded, whatever holds them: in memory, read from their
// files strip by strip (EXR), or through the scratch file (PNG); the estimate measures the
// encoded frames in each, so the Divergence and the plate are the same.
TEST(WorkingSpaceEndToEnd, EveryWayOfHoldingTheFramesEncodesThemAlike)
{
    TempDir in;
    writeLinearClip(in);
    // The same clip as 16-bit PNGs, rendered in float through the log curve by request.
    for (int t = 0; t < kFrames; ++t) {
        int w = 0, h = 0, ch = 0;
        auto samples = readSamples<float>(in.file("dark." + std::to_string(t) + ".exr"), w, h, ch);
        for (float &v : samples) {
            v = std::clamp(v * 1.5f, 0.0f, 1.0f);
        }
        writeImage(in.file("dark." + std::to_string(t) + ".png"), w, h, ch, OIIO::TypeDesc::UINT16,
                   OIIO::TypeDesc::FLOAT, samples.data());
    }
    struct Case {
        const char *extension;
        std::vector<std::string> options;
        const char *strips;
    };
    for (const Case &c :
         {Case{"exr", {}, "read from the files in strips of"},
          Case{"png", {"--working-space", "log", "--depth", "32"}, "rendered in strips of"}}) {
        SCOPED_TRACE(c.extension);
        MemoryPlanInput plan;
        plan.width = kWidth;
        plan.height = kHeight;
        plan.depth = PixelDepth::Float32;
        plan.frames = kFrames;
        plan.threads = 2;
        plan.fileBytesPerPixel = c.extension == std::string("exr") ? 12 : 6;
        plan.rowAccess = c.extension == std::string("exr");
        plan.budget = std::uint64_t{1} << 40;
        const MemoryPlan roomy = planMemory(plan);
        const std::uint64_t budget =
            std::max(roomy.minimumBudget,
                     roomy.bandFixedBytes + roomy.decoderBytes + 20 * roomy.bandRowBytes);
        TempDir out;
        std::vector<std::string> whole = {in.file(std::string("dark.%d.") + c.extension), "-o",
                                          out.file("whole.exr"), "--threads", "2"};
        whole.insert(whole.end(), c.options.begin(), c.options.end());
        std::vector<std::string> strips = whole;
        strips[2] = out.file("strips.exr");
        strips.insert(strips.end(), {"--memory", std::to_string(budget)});
        const auto wholeRun = runFramemeld(whole);
        ASSERT_EQ(wholeRun.exitStatus, 0) << wholeRun.output;
        const auto stripRun = runFramemeld(strips);
        ASSERT_EQ(stripRun.exitStatus, 0) << stripRun.output;
        EXPECT_THAT(stripRun.output, HasSubstr(c.strips));
        std::smatch chosen;
        ASSERT_TRUE(std::regex_search(wholeRun.output, chosen,
                                      std::regex("framemeld: divergence [^\n]*working space log")))
            << wholeRun.output;
        EXPECT_THAT(stripRun.output, HasSubstr(chosen.str()));
        EXPECT_TRUE(plateSamples(out.file("strips.exr")) == plateSamples(out.file("whole.exr")));
    }
}

// A farm's strips of one plate must share the working space: the record says it, and merge
// refuses strips rendered in different spaces.
TEST(WorkingSpaceEndToEnd, StripsOfDifferentWorkingSpacesDoNotMerge)
{
    TempDir in, out;
    writeLinearClip(in);
    const std::string input = in.file("dark.%d.exr");
    const auto top = runFramemeld({input, "-o", out.file("top.exr"), "--rows", "0:48",
                                   "--divergence", "2", "--working-space", "log"});
    ASSERT_EQ(top.exitStatus, 0) << top.output;
    const auto bottom = runFramemeld({input, "-o", out.file("bottom.exr"), "--rows", "48:96",
                                      "--divergence", "2", "--working-space", "linear"});
    ASSERT_EQ(bottom.exitStatus, 0) << bottom.output;
    const auto merged = runFramemeld(
        {"merge", "-o", out.file("plate.exr"), out.file("top.exr"), out.file("bottom.exr")});
    EXPECT_EQ(merged.exitStatus, 1) << merged.output;
    EXPECT_THAT(merged.output, HasSubstr("workingSpace"));
    EXPECT_FALSE(fileExists(out.file("plate.exr")));
}

} // namespace
