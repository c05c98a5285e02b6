// The framemeld program run as a user runs it, checked against the host runner's direct render
// of the same frames with the same slider values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "CliTestSupport.h"
#include "runner/FrameSource.h"
#include "runner/Host.h"
#include "runner/PluginModule.h"

using framemeld::runner::Host;
using framemeld::runner::InMemoryFrameSource;
using framemeld::runner::PixelDepth;
using framemeld::runner::PluginModule;
using framemeld::runner::World;
using namespace framemeld::cli::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

constexpr int kWidth = 24;
constexpr int kHeight = 16;
constexpr int kFrames = 9;

// Slider values of the runs below, away from the defaults so that a value lost on the way shows.
const std::vector<std::string> kSliderArgs = {"--start",      "1", "--every",        "2",
                                              "--divergence", "6", "--rating-range", "1.5"};

struct Sliders {
    double start = 1, end = kFrames - 1, every = 2, divergence = 6, ratingRange = 1.5;
};

// The plate as the runner renders it straight from in-memory frames.
World directPlate(InMemoryFrameSource &source, const Sliders &sliders)
{
    PluginModule module(modulePath());
    Host host(module.entryPoint());
    const auto setup = host.setup();
    EXPECT_TRUE(setup.ok());
    host.setParameter("Start Frame", sliders.start);
    host.setParameter("End Frame", sliders.end);
    host.setParameter("Every n-th Frame", sliders.every);
    host.setParameter("Divergence", sliders.divergence);
    host.setParameter("Rating Range", sliders.ratingRange);
    auto result = host.render(source);
    EXPECT_EQ(result.err(), PF_Err_NONE);
    return result.output.clone();
}

// A still background with a little grain, a block that moves across it and, on one frame, a
// flash over everything: what a clean plate should see through.
double sceneValue(int frame, int x, int y, int channel)
{
    const bool block = x >= frame * 2 && x < frame * 2 + 6 && y >= 4 && y < 10;
    if (frame == 5 || block) {
        return channel == 0 ? 0.9 : 0.1;
    }
    const double grain = ((x * 7 + y * 13 + frame * 5 + channel * 3) % 5) * 0.004;
    return 0.2 + 0.5 * (x + channel * 3) / (kWidth + 6.0) + 0.2 * y / kHeight + grain;
}

double sceneAlpha(int frame, int x, int y)
{
    return ((x + y + frame) % 11 == 0) ? 0.5 : 1.0;
}

// `firstNumber` names the clip's first frame on the command line: the first file's number for a
// numbered sequence, 0 for a folder or a movie; the sliders above count from it.
std::vector<std::string> cliArgs(const std::string &input, const std::string &output,
                                 long long firstNumber = 0)
{
    std::vector<std::string> args{input, "-o", output, "--quiet"};
    args.insert(args.end(), kSliderArgs.begin(), kSliderArgs.end());
    args[5] = std::to_string(firstNumber + std::stoll(args[5]));
    return args;
}

TEST(CliEndToEnd, PngSequenceMatchesTheDirectRenderAtEightBits)
{
    TempDir in, out;
    InMemoryFrameSource source(kWidth, kHeight, PixelDepth::Bits8);
    for (int f = 0; f < kFrames; ++f) {
        World &frame = source.addFrame();
        std::vector<std::uint8_t> rgba;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                PF_Pixel8 &p = frame.at<PF_Pixel8>(x, y);
                p.red = static_cast<A_u_char>(std::lround(sceneValue(f, x, y, 0) * 255));
                p.green = static_cast<A_u_char>(std::lround(sceneValue(f, x, y, 1) * 255));
                p.blue = static_cast<A_u_char>(std::lround(sceneValue(f, x, y, 2) * 255));
                p.alpha = static_cast<A_u_char>(std::lround(sceneAlpha(f, x, y) * 255));
                rgba.insert(rgba.end(), {p.red, p.green, p.blue, p.alpha});
            }
        }
        writeImage(in.file("shot." + std::to_string(101 + f) + ".png"), kWidth, kHeight, 4,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgba.data());
    }
    const World expected = directPlate(source, Sliders{});

    const auto run = runFramemeld(cliArgs(in.file("shot.%d.png"), out.file("plate.png"), 101));
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_EQ(run.output, "") << "--quiet prints nothing";
    int w = 0, h = 0, c = 0;
    const auto plate = readSamples<std::uint8_t>(out.file("plate.png"), w, h, c);
    ASSERT_EQ(w, kWidth);
    ASSERT_EQ(h, kHeight);
    ASSERT_EQ(c, 4) << "the footage's alpha is kept";
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const PF_Pixel8 &e = expected.at<PF_Pixel8>(x, y);
            const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 4);
            ASSERT_EQ(plate[i], e.red) << x << "," << y;
            ASSERT_EQ(plate[i + 1], e.green) << x << "," << y;
            ASSERT_EQ(plate[i + 2], e.blue) << x << "," << y;
            ASSERT_EQ(plate[i + 3], e.alpha) << x << "," << y;
        }
    }
    EXPECT_THAT(out.entries(), ElementsAre("plate.png")) << "no temporary file left";
}

TEST(CliEndToEnd, SixteenBitTiffSequenceMatchesTheDirectRender)
{
    TempDir in, out;
    InMemoryFrameSource source(kWidth, kHeight, PixelDepth::Bits16);
    for (int f = 0; f < kFrames; ++f) {
        World &frame = source.addFrame();
        std::vector<std::uint16_t> rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                PF_Pixel16 &p = frame.at<PF_Pixel16>(x, y);
                A_u_short *host[3] = {&p.red, &p.green, &p.blue};
                for (int ch = 0; ch < 3; ++ch) {
                    const auto v =
                        static_cast<std::uint16_t>(std::lround(sceneValue(f, x, y, ch) * 65535));
                    rgb.push_back(v);
                    *host[ch] = static_cast<A_u_short>(std::lround(v * 32768.0 / 65535.0));
                }
                p.alpha = 32768;
            }
        }
        writeImage(in.file("deep_" + std::to_string(f) + ".tif"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT16, OIIO::TypeDesc::UINT16, rgb.data());
    }
    const World expected = directPlate(source, Sliders{});

    // A folder of frames; the depth follows the footage.
    const auto run = runFramemeld(cliArgs(in.path(), out.file("plate.tif")));
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    int w = 0, h = 0, c = 0;
    OIIO::TypeDesc stored;
    const auto plate = readSamples<std::uint16_t>(out.file("plate.tif"), w, h, c, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::UINT16);
    ASSERT_EQ(c, 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const PF_Pixel16 &e = expected.at<PF_Pixel16>(x, y);
            const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 3);
            ASSERT_EQ(plate[i], std::lround(e.red * 65535.0 / 32768.0)) << x << "," << y;
            ASSERT_EQ(plate[i + 2], std::lround(e.blue * 65535.0 / 32768.0)) << x << "," << y;
        }
    }
}

TEST(CliEndToEnd, IdenticalSixteenBitFramesComeBackWithinOneHostStep)
{
    TempDir in, out;
    std::vector<std::uint16_t> rgb;
    for (std::uint32_t i = 0; i < 64 * 3; ++i) {
        rgb.push_back(static_cast<std::uint16_t>(i * 1031 + i / 3));
    }
    for (int f = 0; f < 3; ++f) {
        writeImage(in.file("same." + std::to_string(f) + ".tif"), 64, 1, 3, OIIO::TypeDesc::UINT16,
                   OIIO::TypeDesc::UINT16, rgb.data());
    }
    const auto run = runFramemeld({in.file("same.#.tif"), "-o", out.file("plate.tif"), "-q"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    int w = 0, h = 0, c = 0;
    const auto plate = readSamples<std::uint16_t>(out.file("plate.tif"), w, h, c);
    ASSERT_EQ(plate.size(), rgb.size());
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        ASSERT_LE(std::abs(static_cast<int>(plate[i]) - static_cast<int>(rgb[i])), 2)
            << "more than one step of the host's 16-bit scale at " << i;
    }
}

TEST(CliEndToEnd, FloatExrSequenceMatchesTheDirectRenderUnclipped)
{
    TempDir in, out;
    InMemoryFrameSource source(kWidth, kHeight, PixelDepth::Float32);
    for (int f = 0; f < kFrames; ++f) {
        World &frame = source.addFrame();
        std::vector<float> rgba;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                PF_PixelFloat &p = frame.at<PF_PixelFloat>(x, y);
                // Scene-linear values past 1.0 and a little below 0.
                p.red = static_cast<float>(sceneValue(f, x, y, 0) * 3.0 - 0.1);
                p.green = static_cast<float>(sceneValue(f, x, y, 1));
                p.blue = static_cast<float>(sceneValue(f, x, y, 2) * 1.5);
                p.alpha = static_cast<float>(sceneAlpha(f, x, y));
                rgba.insert(rgba.end(), {p.red, p.green, p.blue, p.alpha});
            }
        }
        writeImage(in.file("cg.00" + std::to_string(10 + f) + ".exr"), kWidth, kHeight, 4,
                   OIIO::TypeDesc::FLOAT, OIIO::TypeDesc::FLOAT, rgba.data());
    }
    const World expected = directPlate(source, Sliders{});

    // In the footage's own values, as the direct render sees them; auto would run this
    // scene-linear clip through the log curve.
    std::vector<std::string> args = cliArgs(in.file("cg.####.exr"), out.file("plate.exr"), 10);
    args.insert(args.end(), {"--working-space", "linear"});
    const auto run = runFramemeld(args);
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    int w = 0, h = 0, c = 0;
    OIIO::TypeDesc stored;
    const auto plate = readSamples<float>(out.file("plate.exr"), w, h, c, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::FLOAT);
    ASSERT_EQ(c, 4);
    bool sawPastOne = false;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const PF_PixelFloat &e = expected.at<PF_PixelFloat>(x, y);
            const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 4);
            ASSERT_EQ(plate[i], e.red) << x << "," << y;
            ASSERT_EQ(plate[i + 1], e.green) << x << "," << y;
            ASSERT_EQ(plate[i + 2], e.blue) << x << "," << y;
            ASSERT_EQ(plate[i + 3], e.alpha) << x << "," << y;
            sawPastOne = sawPastOne || plate[i] > 1.0f;
        }
    }
    EXPECT_TRUE(sawPastOne);
}

TEST(CliEndToEnd, MovieMatchesTheDirectRenderOfItsFrames)
{
    if (!haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed; movie input not tested";
    }
    TempDir in, out;
    InMemoryFrameSource source(kWidth, kHeight, PixelDepth::Bits8);
    for (int f = 0; f < kFrames; ++f) {
        World &frame = source.addFrame();
        std::vector<std::uint8_t> rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                PF_Pixel8 &p = frame.at<PF_Pixel8>(x, y);
                p.red = static_cast<A_u_char>(std::lround(sceneValue(f, x, y, 0) * 255));
                p.green = static_cast<A_u_char>(std::lround(sceneValue(f, x, y, 1) * 255));
                p.blue = static_cast<A_u_char>(std::lround(sceneValue(f, x, y, 2) * 255));
                p.alpha = 255;
                rgb.insert(rgb.end(), {p.red, p.green, p.blue});
            }
        }
        writeImage(in.file("f" + std::to_string(f) + ".png"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
    // PNG inside QuickTime is lossless, so the movie's frames are exactly the ones above.
    ASSERT_EQ(runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-framerate", "10", "-i",
                          in.file("f%d.png"), "-c:v", "png", in.file("clip.mov")})
                  .exitStatus,
              0);
    const World expected = directPlate(source, Sliders{});

    const auto run = runFramemeld(cliArgs(in.file("clip.mov"), out.file("plate.png")));
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    int w = 0, h = 0, c = 0;
    const auto plate = readSamples<std::uint8_t>(out.file("plate.png"), w, h, c);
    ASSERT_EQ(c, 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const PF_Pixel8 &e = expected.at<PF_Pixel8>(x, y);
            const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 3);
            ASSERT_EQ(plate[i], e.red) << x << "," << y;
            ASSERT_EQ(plate[i + 2], e.blue) << x << "," << y;
        }
    }
}

TEST(CliEndToEnd, AnotherDepthConvertsTheFootage)
{
    TempDir in, out;
    InMemoryFrameSource source(kWidth, kHeight, PixelDepth::Float32);
    for (int f = 0; f < 3; ++f) {
        World &frame = source.addFrame();
        std::vector<std::uint8_t> rgb;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                PF_PixelFloat &p = frame.at<PF_PixelFloat>(x, y);
                const auto r = static_cast<std::uint8_t>(std::lround(sceneValue(f, x, y, 0) * 255));
                p.red = p.green = p.blue = r / 255.0f;
                p.alpha = 1.0f;
                rgb.insert(rgb.end(), {r, r, r});
            }
        }
        writeImage(in.file("g." + std::to_string(f) + ".png"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
    Sliders sliders;
    sliders.start = 0;
    sliders.end = 2;
    sliders.every = 1;
    sliders.divergence = 2;
    sliders.ratingRange = 1;
    const World expected = directPlate(source, sliders);

    const auto run =
        runFramemeld({in.file("g.%d.png"), "-o", out.file("plate.exr"), "--depth", "32", "-q"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    int w = 0, h = 0, c = 0;
    const auto plate = readSamples<float>(out.file("plate.exr"), w, h, c);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(plate[static_cast<std::size_t>((y * kWidth + x) * c)],
                      expected.at<PF_PixelFloat>(x, y).red);
        }
    }
}

// A short sequence of 8-bit frames for the error cases.
void writeSmallSequence(const TempDir &dir, const std::string &stem, int frames)
{
    const std::vector<std::uint8_t> rgb(8 * 6 * 3, 90);
    for (int f = 0; f < frames; ++f) {
        writeImage(dir.file(stem + "." + std::to_string(1000 + f) + ".png"), 8, 6, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
}

struct Failure {
    std::vector<std::string> args;
    int exitStatus;
    std::string message;
};

void expectFailures(const TempDir &out, const std::vector<Failure> &failures)
{
    for (const Failure &failure : failures) {
        const auto run = runFramemeld(failure.args);
        EXPECT_EQ(run.exitStatus, failure.exitStatus)
            << testing::PrintToString(failure.args) << "\n"
            << run.output;
        EXPECT_THAT(run.output, HasSubstr(failure.message)) << testing::PrintToString(failure.args);
        EXPECT_THAT(run.output, testing::StartsWith("framemeld: "));
        EXPECT_THAT(out.entries(), IsEmpty())
            << "output left by " << testing::PrintToString(failure.args);
    }
}

TEST(CliEndToEnd, FootageErrorsNameTheFileAndLeaveNoOutput)
{
    TempDir in, out;
    writeSmallSequence(in, "ok", 6);
    writeSmallSequence(in, "gap", 6);
    std::filesystem::remove(in.file("gap.1003.png"));
    writeSmallSequence(in, "broken", 6);
    std::ofstream(in.file("broken.1003.png"), std::ios::trunc) << "not a png";
    writeSmallSequence(in, "sizes", 6);
    const std::vector<std::uint8_t> big(9 * 6 * 3, 1);
    writeImage(in.file("sizes.1004.png"), 9, 6, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
               big.data());
    std::ofstream(in.file("clip.xyz")) << "what is this";
    const std::string plate = out.file("plate.png");

    expectFailures(
        out, {
                 {{in.file("gap.####.png"), "-o", plate},
                  1,
                  in.file("gap.1003.png") + ": frame missing"},
                 {{in.file("broken.####.png"), "-o", plate},
                  1,
                  in.file("broken.1003.png") + ": cannot read"},
                 {{in.file("sizes.####.png"), "-o", plate},
                  1,
                  in.file("sizes.1004.png") + ": the frame is 9x6, the clip's first frame 8x6"},
                 {{in.file("clip.xyz"), "-o", plate},
                  1,
                  in.file("clip.xyz") + ": cannot read it as an image"},
                 {{in.file("none.####.png"), "-o", plate}, 1, "no files match"},
                 {{in.file("ok.####.png"), "-o", out.file("plate.xyz")}, 2, "unknown image format"},
                 {{in.file("ok.####.png"), "-o", out.file("no/plate.png")},
                  1,
                  out.file("no/plate.png") + ": cannot write the output"},
             });

    // Only the sampled frames are read: the broken frame 3 is skipped by frames 0, 2, 4.
    const auto skipping =
        runFramemeld({in.file("broken.####.png"), "-o", plate, "--every", "2", "-q"});
    EXPECT_EQ(skipping.exitStatus, 0) << skipping.output;
    EXPECT_TRUE(fileExists(plate));
}

TEST(CliEndToEnd, WrongOptionsAreUsageErrorsWithTheValidRange)
{
    TempDir in, out;
    writeSmallSequence(in, "ok", 6);
    const std::string input = in.file("ok.####.png");
    const std::string plate = out.file("plate.png");
    expectFailures(
        out, {
                 {{}, 2, "no INPUT given"},
                 {{input, "-o", plate, "--every", "0"}, 2, "\"Every n-th Frame\": 1 to 100"},
                 {{input, "-o", plate, "--rating-range", "0"}, 2, "\"Rating Range\": 0.1 to 9999"},
                 {{input, "-o", plate, "--divergence", "101"}, 2, "\"Divergence\": 0 to 100"},
                 {{input, "-o", plate, "--end", "1006"},
                  2,
                  "past the end of the clip: the clip has 6 frames (file numbers 1000 to 1005)"},
                 {{input, "-o", plate, "--start", "4"},
                  2,
                  "--start 4 is a number no file of the clip carries: the clip has 6 frames "
                  "(file numbers 1000 to 1005)"},
                 {{input, "-o", plate, "--start", "1004", "--end", "1002"},
                  2,
                  "the range has no frames"},
                 {{input, "-o", plate, "--depth", "10"}, 2, "--depth must be 8, 16 or 32"},
             });
}

TEST(CliEndToEnd, AModuleThatDoesNotLoadIsNamed)
{
    TempDir in, out;
    writeSmallSequence(in, "ok", 2);
    std::ofstream(in.file("fake.so")) << "not a shared object";
    expectFailures(
        out, {
                 {{in.file("ok.####.png"), "-o", out.file("p.png"), "--plugin", in.file("fake.so")},
                  1,
                  "cannot load the plug-in module"},
                 {{in.file("ok.####.png"), "-o", out.file("p.png"), "--plugin", in.file("none.so")},
                  1,
                  in.file("none.so") + ": no such plug-in module"},
             });
}

TEST(CliEndToEnd, HelpShowsThePluginsDefaults)
{
    const auto run = runFramemeld({"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_THAT(run.output, HasSubstr("Usage: framemeld INPUT -o OUTPUT"));
    // Divergence, as the module registers it
    EXPECT_THAT(run.output, HasSubstr("own default: 2)"));
    EXPECT_THAT(run.output, testing::Not(HasSubstr("the plug-in's default")));
}

TEST(CliEndToEnd, TheSummaryNamesTheSampledFrames)
{
    TempDir in, out;
    writeSmallSequence(in, "ok", 6);
    const auto run = runFramemeld(
        {in.file("ok.####.png"), "-o", out.file("p.png"), "--every", "2", "--start", "1001"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    // Not a terminal, so no progress bar; the summary still comes.
    EXPECT_THAT(run.output, testing::Not(HasSubstr("Rendering")));
    EXPECT_THAT(run.output, HasSubstr("wrote " + out.file("p.png") +
                                      " (8x6, 8-bit render) from 3 of "
                                      "6 frames (every 2nd frame, 1001 to 1005; file numbers "
                                      "1000 to 1005)"));
    EXPECT_THAT(run.output,
                testing::ContainsRegex("read [0-9]+\\.[0-9]+ s \\([0-9]+\\.[0-9] frames/s\\), "
                                       "estimate [0-9]+\\.[0-9]+ s, render [0-9]+\\.[0-9]+ s, "
                                       "write [0-9]+\\.[0-9]+ s"));
    EXPECT_THAT(run.output, testing::ContainsRegex("divergence [0-9.]+ \\(auto: temporal noise"));
}

const char *const kVtest = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

TEST(CliEndToEnd, VtestSmokeRun)
{
    if (!fileExists(kVtest)) {
        GTEST_SKIP() << kVtest << " is missing (package opencv-doc)";
    }
    TempDir out;
    // A few frames from the start: decoding under the sanitizers is slow.
    const auto run =
        runFramemeld({kVtest, "-o", out.file("plate.png"), "--every", "20", "--end", "40"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("(768x576, 8-bit render) from 3 of 795 frames"));
    int w = 0, h = 0, c = 0;
    readSamples<std::uint8_t>(out.file("plate.png"), w, h, c);
    EXPECT_EQ(w, 768);
    EXPECT_EQ(h, 576);
}

} // namespace
