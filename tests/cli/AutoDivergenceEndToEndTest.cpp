// `--divergence auto` as a user runs it: the values it reports (Divergence and Rating Range)
// reproduce its plate, sample for sample, when given by hand, and do not change with the thread
// count.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrames = 20; // enough for the wider automatic Rating Range

// The background behind the grain, channel c at (x, y).
double backgroundValue(int x, int y, int c)
{
    return 0.3 + 0.4 * x / kWidth + 0.1 * c + 0.1 * y / kHeight;
}

// A textured background with grain of `levels` (of 255), a block crossing it, as 8-bit PNGs or
// float EXRs.
void writeNoisyClip(const TempDir &dir, bool asFloat, double levels)
{
    std::mt19937 random(11);
    std::normal_distribution<double> grain(0.0, levels / 255.0);
    for (int f = 0; f < kFrames; ++f) {
        std::vector<float> rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool block = x >= f * 5 && x < f * 5 + 12 && y >= 10 && y < 30;
                for (int c = 0; c < 3; ++c) {
                    const double value = block ? (c == 0 ? 0.9 : 0.1) : backgroundValue(x, y, c);
                    rgb.push_back(static_cast<float>(value + grain(random)));
                }
            }
        }
        const std::string name = "clip." + std::to_string(f) + (asFloat ? ".exr" : ".png");
        writeImage(dir.file(name), kWidth, kHeight, 3,
                   asFloat ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8, OIIO::TypeDesc::FLOAT,
                   rgb.data());
    }
}

// Every sample of the plate, exactly as stored (EXR headers carry the time of writing, so the
// files themselves differ).
std::vector<float> plateSamples(const std::string &path)
{
    int width = 0, height = 0, channels = 0;
    return readSamples<float>(path, width, height, channels);
}

// The value the summary reports, as printed.
std::string reportedDivergence(const std::string &output)
{
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("divergence ([0-9.]+) \\(auto: "))) {
        ADD_FAILURE() << "no automatic divergence in: " << output;
        return "";
    }
    return match[1];
}

// The Rating Range the summary reports as chosen, as printed.
std::string reportedRatingRange(const std::string &output)
{
    std::smatch match;
    if (!std::regex_search(output, match, std::regex(", rating range ([0-9.]+) \\(auto\\)\n"))) {
        ADD_FAILURE() << "no automatic rating range in: " << output;
        return "";
    }
    return match[1];
}

// Mean absolute difference from the background, in full scale.
double meanError(const std::vector<float> &plate)
{
    double sum = 0.0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                const auto at = static_cast<std::size_t>((y * kWidth + x) * 3 + c);
                sum += std::fabs(static_cast<double>(plate[at]) - backgroundValue(x, y, c));
            }
        }
    }
    return sum / (kWidth * kHeight * 3);
}

TEST(AutoDivergenceEndToEnd, ReportedValueGivesTheSamePlateAsAuto)
{
    struct Case {
        bool asFloat;
        const char *extension;
    };
    for (const Case &c : {Case{false, ".png"}, Case{true, ".exr"}}) {
        SCOPED_TRACE(c.extension);
        TempDir in, out;
        writeNoisyClip(in, c.asFloat, 3.0);
        const std::string input = in.file(std::string("clip.%d") + c.extension);

        // No --divergence means auto.
        const auto byDefault =
            runFramemeld({input, "-o", out.file(std::string("default") + c.extension)});
        ASSERT_EQ(byDefault.exitStatus, 0) << byDefault.output;
        const std::string value = reportedDivergence(byDefault.output);
        ASSERT_FALSE(value.empty());
        const std::string range = reportedRatingRange(byDefault.output);
        EXPECT_EQ(range, "2");
        // Three levels of grain need more than the plug-in's 2 at 8 bits; in float, hundredths.
        if (c.asFloat) {
            EXPECT_GT(std::stod(value), 0.01);
            EXPECT_NEAR(std::stod(value) * 100.0, std::round(std::stod(value) * 100.0), 1e-9);
        } else {
            EXPECT_GT(std::stod(value), 2.0);
            EXPECT_EQ(std::stod(value), std::floor(std::stod(value)));
        }

        for (const char *threads : {"1", "2"}) {
            const auto automatic =
                runFramemeld({input, "-o", out.file(std::string("auto") + threads + c.extension),
                              "--divergence", "auto", "--threads", threads});
            ASSERT_EQ(automatic.exitStatus, 0) << automatic.output;
            EXPECT_EQ(reportedDivergence(automatic.output), value) << threads << " threads";
            EXPECT_EQ(reportedRatingRange(automatic.output), range) << threads << " threads";
        }
        const auto given = runFramemeld({input, "-o", out.file(std::string("given") + c.extension),
                                         "--divergence", value, "--rating-range", range});
        ASSERT_EQ(given.exitStatus, 0) << given.output;
        EXPECT_THAT(given.output,
                    testing::HasSubstr("divergence " + value + ", rating range " + range + "\n"));
        // The Divergence alone leaves the plug-in's Rating Range of 1: another plate, and one
        // further from the background, which is why auto widens it.
        const auto narrow = runFramemeld(
            {input, "-o", out.file(std::string("narrow") + c.extension), "--divergence", value});
        ASSERT_EQ(narrow.exitStatus, 0) << narrow.output;
        EXPECT_THAT(narrow.output,
                    testing::HasSubstr("divergence " + value + ", rating range 1\n"));

        const std::vector<float> plate =
            plateSamples(out.file(std::string("default") + c.extension));
        ASSERT_EQ(plate.size(), std::size_t{kWidth * kHeight * 3});
        for (const char *name : {"auto1", "auto2", "given"}) {
            EXPECT_TRUE(plateSamples(out.file(name + std::string(c.extension))) == plate) << name;
        }
        const std::vector<float> narrowPlate =
            plateSamples(out.file(std::string("narrow") + c.extension));
        ASSERT_EQ(narrowPlate.size(), plate.size());
        EXPECT_TRUE(narrowPlate != plate);
        if (c.asFloat) {
            EXPECT_LT(meanError(plate), meanError(narrowPlate));
        } else {
            // The 8-bit engine truncates the mean, which leaves the two about level at 3 levels
            // of grain (the wider range wins on heavier grain).
            EXPECT_NEAR(meanError(plate), meanError(narrowPlate), 0.05 / 255.0);
        }
    }
}

// A number given on the command line wins over auto, and the last of several --divergence wins;
// each slider is automatic or given on its own.
TEST(AutoDivergenceEndToEnd, AGivenNumberIsUsedAsItIs)
{
    TempDir in, out;
    writeNoisyClip(in, false, 3.0);
    const auto run = runFramemeld({in.file("clip.%d.png"), "-o", out.file("p.png"), "--divergence",
                                   "auto", "--divergence", "7"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, testing::HasSubstr("framemeld: divergence 7, rating range 1\n"));
    const auto back = runFramemeld({in.file("clip.%d.png"), "-o", out.file("q.png"), "--divergence",
                                    "7", "--divergence", "auto"});
    ASSERT_EQ(back.exitStatus, 0) << back.output;
    EXPECT_THAT(back.output, testing::HasSubstr("(auto: temporal noise"));

    // A given Rating Range is used with the automatic Divergence, and `auto` chooses it beside
    // a given Divergence.
    const auto givenRange =
        runFramemeld({in.file("clip.%d.png"), "-o", out.file("r.png"), "--rating-range", "3.5"});
    ASSERT_EQ(givenRange.exitStatus, 0) << givenRange.output;
    EXPECT_THAT(givenRange.output, testing::ContainsRegex("\\(auto: temporal noise [0-9.]+ "
                                                          "levels of 255\\), rating range 3.5\n"));
    const auto autoRange = runFramemeld({in.file("clip.%d.png"), "-o", out.file("s.png"),
                                         "--divergence", "7", "--rating-range", "auto"});
    ASSERT_EQ(autoRange.exitStatus, 0) << autoRange.output;
    EXPECT_THAT(autoRange.output,
                testing::HasSubstr("framemeld: divergence 7, rating range 2 (auto)\n"));
}

} // namespace
