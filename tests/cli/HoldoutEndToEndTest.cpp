// Holdout mattes in, confidence and difference mattes out, through the framemeld program as a
// user runs it: a lingerer held out by its own matte gives the background at 8, 16 and 32 bits,
// and the plate equals, byte for byte, the module's render of frames prepared the way README.md
// tells a host user; pixels held out everywhere are honest holes; the confidence and the mattes
// say what agrees with the plate, in memory, in bands and on a farm split; and every refusal
// comes before any render with nothing written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>

#include "CliTestSupport.h"
#include "cli/job/PlateExamination.h"
#include "cli/plan/MemoryPlan.h"
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

constexpr int kWidth = 20;
constexpr int kHeight = 12;

struct Box {
    int left, top, right, bottom;
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

const Box kLingerer{5, 3, 12, 9};

// A still gradient with grain well inside the Divergence; `object` stands in the box in the
// frames `present` says.
float backgroundValue(int frame, int x, int y, int channel)
{
    const float grain = static_cast<float>((x * 7 + y * 13 + frame * 5 + channel * 3) % 5) * 0.003f;
    return 0.15f + 0.02f * static_cast<float>(x) + 0.03f * static_cast<float>(y) +
           0.05f * static_cast<float>(channel) + grain;
}

struct Clip {
    int frames = 10;
    Box box = kLingerer;
    std::vector<bool> present; // by frame: the object stands in the box
    float object[3] = {0.9f, 0.1f, 0.2f};

    float value(int f, int x, int y, int c) const
    {
        return present[static_cast<std::size_t>(f)] && box.contains(x, y)
                   ? object[c]
                   : backgroundValue(f, x, y, c);
    }
};

Clip lingererClip(int frames, int standing)
{
    Clip clip;
    clip.frames = frames;
    for (int f = 0; f < frames; ++f) {
        clip.present.push_back(f < standing);
    }
    return clip;
}

struct Format {
    const char *extension;
    OIIO::TypeDesc type;
    PixelDepth depth;
    const char *divergence; // of 255 at 8 bits, percent at 16 and 32
};

const Format kFormats[] = {{"png", OIIO::TypeDesc::UINT8, PixelDepth::Bits8, "12"},
                           {"tif", OIIO::TypeDesc::UINT16, PixelDepth::Bits16, "4"},
                           {"exr", OIIO::TypeDesc::FLOAT, PixelDepth::Float32, "4"}};

// shot.101 ... as RGB files of the format, with sensor noise of `noiseLevels` (of 255) on top
// when asked.
void writeFootage(const TempDir &dir, const Clip &clip, const Format &format,
                  double noiseLevels = 0)
{
    std::mt19937 random(24);
    std::normal_distribution<double> noise(0.0, noiseLevels / 255.0);
    for (int f = 0; f < clip.frames; ++f) {
        std::vector<float> values;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const double grain = noiseLevels > 0 ? noise(random) : 0.0;
                    values.push_back(
                        static_cast<float>(static_cast<double>(clip.value(f, x, y, c)) + grain));
                }
            }
        }
        writeImage(dir.file("shot." + std::to_string(101 + f) + "." + format.extension), kWidth,
                   kHeight, 3, format.type, OIIO::TypeDesc::FLOAT, values.data());
    }
}

// One 8-bit grey matte: 255 inside `box` when `on`, else 0 (inverted: the other way round).
void writeMatte(const std::string &path, const Box &box, bool on, bool inverted = false)
{
    std::vector<std::uint8_t> grey;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool held = on && box.contains(x, y);
            grey.push_back(held != inverted ? 255 : 0);
        }
    }
    writeImage(path, kWidth, kHeight, 1, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, grey.data());
}

// matte.101 ...: the lingerer's own matte, on in the frames it stands in.
void writeMatteSequence(const TempDir &dir, const Clip &clip)
{
    for (int f = 0; f < clip.frames; ++f) {
        writeMatte(dir.file("matte." + std::to_string(101 + f) + ".png"), clip.box,
                   clip.present[static_cast<std::size_t>(f)]);
    }
}

// The code README.md gives a host user for the k-th sampled frame (k from 0), written out here
// from the README's own words: levels L a tolerance T apart, the grid point g = k mod (L^3 - 1),
// skipping the all-black point, each colour's digit turned by two levels, alpha 0.
struct HostCode {
    int red, green, blue; // in levels of 255 at 8 bits, in 1/32768 at 16 and 32 bits
};
HostCode readmeCode(PixelDepth depth, double divergence, long k)
{
    int step = 0;
    int top = 0;
    if (depth == PixelDepth::Bits8) {
        step = static_cast<int>(static_cast<float>(divergence));
        top = 255;
    } else {
        const float tolerance =
            static_cast<float>(static_cast<double>(static_cast<float>(divergence)) * 0.01);
        step = static_cast<int>(std::ceil(static_cast<double>(tolerance) * 32768.0));
        top = 32768;
    }
    const long levels = top / step + 1;
    const long shift = 2 % levels;
    const long blackDigit = (levels - shift) % levels;
    const long blackPoint = blackDigit * (1 + levels + levels * levels);
    long point = k % (levels * levels * levels - 1);
    if (point >= blackPoint) {
        ++point;
    }
    int level[3];
    for (int c = 0; c < 3; ++c) {
        level[c] = static_cast<int>((point % levels + shift) % levels);
        point /= levels;
    }
    return HostCode{level[0] * step, level[1] * step, level[2] * step};
}

// A file's samples in their stored type: 8-bit, 16-bit or float, whichever `depth` reads.
struct Samples {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;
    std::vector<float> floats;
};
Samples readAt(PixelDepth depth, const std::string &path)
{
    Samples samples;
    int w = 0, h = 0, c = 0;
    if (depth == PixelDepth::Bits8) {
        samples.bytes = readSamples<std::uint8_t>(path, w, h, c);
    } else if (depth == PixelDepth::Bits16) {
        samples.words = readSamples<std::uint16_t>(path, w, h, c);
    } else {
        samples.floats = readSamples<float>(path, w, h, c);
    }
    return samples;
}

// The host's 16-bit scale is 0..32768.
A_u_short hostOf16(std::uint16_t v)
{
    return static_cast<A_u_short>(std::lround(v * 32768.0 / 65535.0));
}

// The clip as a host user prepares it for the effect: footage as the host reads the files, and
// where the matte holds out, the frame's code with alpha 0.
InMemoryFrameSource preparedForTheHost(const Clip &clip, const Format &format, double divergence,
                                       const TempDir &footage)
{
    InMemoryFrameSource source(kWidth, kHeight, format.depth);
    for (int f = 0; f < clip.frames; ++f) {
        World &frame = source.addFrame();
        const Samples s = readAt(
            format.depth, footage.file("shot." + std::to_string(101 + f) + "." + format.extension));
        const HostCode code = readmeCode(format.depth, divergence, f);
        const bool held = clip.present[static_cast<std::size_t>(f)];
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool out = held && clip.box.contains(x, y);
                const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 3);
                if (format.depth == PixelDepth::Bits8) {
                    frame.at<PF_Pixel8>(x, y) =
                        out ? PF_Pixel8{0, static_cast<A_u_char>(code.red),
                                        static_cast<A_u_char>(code.green),
                                        static_cast<A_u_char>(code.blue)}
                            : PF_Pixel8{255, s.bytes[i], s.bytes[i + 1], s.bytes[i + 2]};
                } else if (format.depth == PixelDepth::Bits16) {
                    frame.at<PF_Pixel16>(x, y) =
                        out ? PF_Pixel16{0, static_cast<A_u_short>(code.red),
                                         static_cast<A_u_short>(code.green),
                                         static_cast<A_u_short>(code.blue)}
                            : PF_Pixel16{32768, hostOf16(s.words[i]), hostOf16(s.words[i + 1]),
                                         hostOf16(s.words[i + 2])};
                } else {
                    frame.at<PF_PixelFloat>(x, y) =
                        out ? PF_PixelFloat{0.0f, static_cast<float>(code.red) / 32768.0f,
                                            static_cast<float>(code.green) / 32768.0f,
                                            static_cast<float>(code.blue) / 32768.0f}
                            : PF_PixelFloat{1.0f, s.floats[i], s.floats[i + 1], s.floats[i + 2]};
                }
            }
        }
    }
    return source;
}

World hostRender(InMemoryFrameSource &source, double divergence, double ratingRange)
{
    PluginModule module(modulePath());
    Host host(module.entryPoint());
    EXPECT_TRUE(host.setup().ok());
    host.setParameter("Start Frame", 0);
    host.setParameter("End Frame", source.frameCount() - 1);
    host.setParameter("Every n-th Frame", 1);
    host.setParameter("Divergence", divergence);
    host.setParameter("Rating Range", ratingRange);
    auto result = host.render(source);
    EXPECT_EQ(result.err(), PF_Err_NONE);
    return result.output.clone();
}

// The plate's samples as floats of full scale, and as stored.
std::vector<float> plateValues(const std::string &path, int &channels)
{
    int w = 0, h = 0;
    auto values = readSamples<float>(path, w, h, channels);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    return values;
}

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A budget under which 8-bit PNG frames go through the scratch file, rendered and measured in
// bands of 4 rows, with the confidence and the mattes of `frames` frames beside them.
std::string budgetForBands(int frames)
{
    framemeld::cli::MemoryPlanInput input;
    input.width = kWidth;
    input.height = kHeight;
    input.depth = PixelDepth::Bits8;
    input.frames = frames;
    input.threads = 2;
    input.fileBytesPerPixel = 3;
    input.budget = std::uint64_t{1} << 40;
    const framemeld::cli::MemoryPlan roomy = framemeld::cli::planMemory(input);
    const std::uint64_t beside =
        framemeld::cli::PlateExamination::bytesFor(kWidth, kHeight, frames, true, true) +
        framemeld::cli::worldBytes(kWidth, kHeight, PixelDepth::Bits8);
    return std::to_string(
        std::max(roomy.minimumBudget,
                 roomy.bandFixedBytes + 2 * roomy.decoderBytes + 4 * roomy.bandRowBytes) +
        beside);
}

std::vector<std::string> run(const std::string &input, const std::string &plate,
                             const Format &format, std::vector<std::string> more = {})
{
    std::vector<std::string> args{
        input, "-o", plate, "--divergence", format.divergence, "--rating-range", "1", "--quiet"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(HoldoutEndToEnd, ALingererHeldOutByItsOwnMatteGivesTheBackgroundAsTheHostWould)
{
    // 7 of 10 frames: it wins any consensus without the matte; with it the 3 others show.
    const Clip clip = lingererClip(10, 7);
    for (const Format &format : kFormats) {
        SCOPED_TRACE(format.extension);
        TempDir in, out;
        writeFootage(in, clip, format);
        writeMatteSequence(in, clip);
        const std::string shot = in.file(std::string("shot.%d.") + format.extension);
        const std::string plain = out.file(std::string("plain.") + format.extension);
        const std::string held = out.file(std::string("held.") + format.extension);

        // In the footage's own values: the host below is handed the frames unencoded.
        auto report = runFramemeld(run(shot, plain, format, {"--working-space", "linear"}));
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        report = runFramemeld(
            run(shot, held, format,
                {"--holdout", in.file("matte.%d.png"), "--json", "--working-space", "linear"}));
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        EXPECT_THAT(report.output, HasSubstr("\"holes\": 0"));

        int channels = 0;
        const auto without = plateValues(plain, channels);
        const auto with = plateValues(held, channels);
        ASSERT_EQ(channels, 3);
        const int x = 8, y = 5; // inside the box
        const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * 3);
        EXPECT_NEAR(without[i], clip.object[0], 0.01) << "without the matte the lingerer wins";
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(with[i + static_cast<std::size_t>(c)], backgroundValue(9, x, y, c), 0.02)
                << "channel " << c;
        }

        // The host, given frames prepared as README.md says, renders the same plate.
        const double divergence = std::stod(format.divergence);
        InMemoryFrameSource prepared = preparedForTheHost(clip, format, divergence, in);
        const World expected = hostRender(prepared, divergence, 1);
        const Samples s = readAt(format.depth, held);
        const auto file16 = [](A_u_short v) {
            return static_cast<std::uint16_t>(std::lround(v * 65535.0 / 32768.0));
        };
        for (int yy = 0; yy < kHeight; ++yy) {
            for (int xx = 0; xx < kWidth; ++xx) {
                const std::size_t p = static_cast<std::size_t>((yy * kWidth + xx) * 3);
                if (format.depth == PixelDepth::Bits8) {
                    const PF_Pixel8 &e = expected.at<PF_Pixel8>(xx, yy);
                    ASSERT_THAT((std::vector<int>{s.bytes[p], s.bytes[p + 1], s.bytes[p + 2]}),
                                ElementsAre(e.red, e.green, e.blue))
                        << xx << "," << yy;
                } else if (format.depth == PixelDepth::Bits16) {
                    const PF_Pixel16 &e = expected.at<PF_Pixel16>(xx, yy);
                    ASSERT_THAT((std::vector<int>{s.words[p], s.words[p + 1], s.words[p + 2]}),
                                ElementsAre(file16(e.red), file16(e.green), file16(e.blue)))
                        << xx << "," << yy;
                } else {
                    const PF_PixelFloat &e = expected.at<PF_PixelFloat>(xx, yy);
                    ASSERT_THAT((std::vector<float>{s.floats[p], s.floats[p + 1], s.floats[p + 2]}),
                                ElementsAre(e.red, e.green, e.blue))
                        << xx << "," << yy;
                }
            }
        }
    }
}

TEST(HoldoutEndToEnd, AStillMatteHeldOutEverywhereLeavesAnHonestHoleThatIsCounted)
{
    const Clip clip = lingererClip(8, 0); // the background alone
    const Box hole{2, 2, 6, 5};           // 12 pixels held out in every frame
    for (const Format &format : kFormats) {
        SCOPED_TRACE(format.extension);
        TempDir in, out;
        writeFootage(in, clip, format);
        writeMatte(in.file("garbage.png"), hole, true);
        writeMatte(in.file("drawn-the-other-way.png"), hole, true, true);
        const std::string shot = in.file(std::string("shot.%d.") + format.extension);
        const std::string plate = out.file(std::string("plate.") + format.extension);
        auto report =
            runFramemeld(run(shot, plate, format, {"--holdout", in.file("garbage.png"), "--json"}));
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        EXPECT_THAT(report.output, HasSubstr("\"holes\": 12"));
        EXPECT_THAT(report.output, HasSubstr("\"hole_share\": 0.05"));
        int channels = 0;
        const auto values = plateValues(plate, channels);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t i = static_cast<std::size_t>((y * kWidth + x) * channels);
                if (hole.contains(x, y)) {
                    EXPECT_EQ(values[i], 0.0f) << x << "," << y;
                    EXPECT_EQ(values[i + 1], 0.0f) << x << "," << y;
                } else {
                    EXPECT_NEAR(values[i], backgroundValue(0, x, y, 0), 0.02) << x << "," << y;
                }
            }
        }
        // A footage without alpha gives a plate without alpha: the hole shows as black there,
        // and the summary names it.
        const std::string inverted = out.file(std::string("inverted.") + format.extension);
        report = runFramemeld({shot, "-o", inverted, "--divergence", format.divergence,
                               "--rating-range", "1", "--holdout",
                               in.file("drawn-the-other-way.png"), "--holdout-invert"});
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        EXPECT_THAT(report.output, HasSubstr("12 of the plate's pixels (5.00 %) are holes, "
                                             "black (the plate has no alpha)"));
        EXPECT_EQ(plateValues(inverted, channels), values) << "--holdout-invert turns it round";
    }
}

// The share of agreeing frames and the mattes, as 8-bit values.
struct Measured {
    std::vector<std::uint8_t> confidence;
    std::vector<std::vector<std::uint8_t>> mattes;
};

Measured readMeasures(const TempDir &out, int frames, const std::string &extension = "png")
{
    Measured measured;
    int w = 0, h = 0, c = 0;
    measured.confidence = readSamples<std::uint8_t>(out.file("confidence." + extension), w, h, c);
    EXPECT_EQ(c, 1) << "one channel";
    for (int f = 0; f < frames; ++f) {
        measured.mattes.push_back(readSamples<std::uint8_t>(
            out.file("diff." + std::to_string(101 + f) + ".png"), w, h, c));
        EXPECT_EQ(c, 1);
        EXPECT_EQ(w, kWidth);
    }
    return measured;
}

TEST(HoldoutEndToEnd, ConfidenceAndMattesSayWhereTheFramesAgreeWithThePlate)
{
    const Format &png = kFormats[0];
    // Static: every frame agrees everywhere.
    {
        TempDir in, out;
        const Clip still = lingererClip(6, 0);
        writeFootage(in, still, png);
        const auto report = runFramemeld(run(in.file("shot.%d.png"), out.file("plate.png"), png,
                                             {"--confidence", out.file("confidence.png"),
                                              "--mattes", out.file("diff.####.png"), "--json"}));
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        EXPECT_THAT(report.output, HasSubstr("\"confidence\": \"" + out.file("confidence.png")));
        EXPECT_THAT(report.output, HasSubstr(out.file("diff.0106.png") + "\"]"));
        int w = 0, h = 0, c = 0;
        const auto confidence = readSamples<std::uint8_t>(out.file("confidence.png"), w, h, c);
        EXPECT_EQ(c, 1);
        EXPECT_THAT(confidence, testing::Each(255));
        for (int f = 0; f < 6; ++f) {
            const auto matte = readSamples<std::uint8_t>(
                out.file("diff.0" + std::to_string(101 + f) + ".png"), w, h, c);
            EXPECT_THAT(matte, testing::Each(0)) << "frame " << 101 + f;
        }
    }
    // An object that stands 9 of 20 frames contests the background: 11 of 20 agree with the
    // plate there, and the object's frames differ exactly in its box.
    TempDir in;
    const Clip contest = lingererClip(20, 9);
    writeFootage(in, contest, png);
    const std::string shot = in.file("shot.%d.png");
    std::string wholeConfidence;
    std::vector<std::string> wholeMattes;
    const std::vector<std::vector<std::string>> ways = {
        {}, {"--memory", budgetForBands(20)}, {"--threads", "1"}};
    for (const auto &way : ways) {
        SCOPED_TRACE(way.empty() ? "in memory" : way[0] + " " + way[1]);
        TempDir out;
        std::vector<std::string> more{"--confidence", out.file("confidence.png"), "--mattes",
                                      out.file("diff.%d.png")};
        more.insert(more.end(), way.begin(), way.end());
        std::vector<std::string> args = run(shot, out.file("plate.png"), png, more);
        args.erase(std::find(args.begin(), args.end(), "--quiet"));
        const auto report = runFramemeld(args);
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        if (!way.empty() && way[0] == "--memory") {
            EXPECT_THAT(report.output,
                        HasSubstr("in a scratch file, rendered in strips of 4 rows"));
        }
        const Measured measured = readMeasures(out, 20);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t i = static_cast<std::size_t>(y * kWidth + x);
                const bool contested = contest.box.contains(x, y);
                ASSERT_EQ(measured.confidence[i], contested ? 140 : 255) << x << "," << y;
                for (int f = 0; f < 20; ++f) {
                    ASSERT_EQ(measured.mattes[static_cast<std::size_t>(f)][i],
                              contested && f < 9 ? 255 : 0)
                        << "frame " << f << " at " << x << "," << y;
                }
            }
        }
        if (wholeConfidence.empty()) {
            wholeConfidence = fileBytes(out.file("confidence.png"));
            wholeMattes.push_back(fileBytes(out.file("diff.101.png")));
        } else {
            EXPECT_EQ(fileBytes(out.file("confidence.png")), wholeConfidence);
            EXPECT_EQ(fileBytes(out.file("diff.101.png")), wholeMattes.front());
        }
    }
    // Split across a farm: each node writes its rows of both, and merge joins the confidence
    // strips into the single run's image byte for byte.
    TempDir farm;
    for (const auto &[rows, name] : {std::pair<std::string, std::string>{"0:5", "a"},
                                     std::pair<std::string, std::string>{"5:12", "b"}}) {
        const auto report =
            runFramemeld(run(shot, farm.file("plate-" + name + ".png"), png,
                             {"--rows", rows, "--confidence", farm.file("conf-" + name + ".png"),
                              "--mattes", farm.file("diff-" + name + ".####.png")}));
        ASSERT_EQ(report.exitStatus, 0) << report.output;
    }
    const auto merged = runFramemeld({"merge", "-o", farm.file("confidence.png"),
                                      farm.file("conf-b.png"), farm.file("conf-a.png")});
    ASSERT_EQ(merged.exitStatus, 0) << merged.output;
    EXPECT_EQ(fileBytes(farm.file("confidence.png")), wholeConfidence);
    const auto mattes = runFramemeld({"merge", "-o", farm.file("diff.101.png"),
                                      farm.file("diff-a.0101.png"), farm.file("diff-b.0101.png")});
    ASSERT_EQ(mattes.exitStatus, 0) << mattes.output;
    EXPECT_EQ(fileBytes(farm.file("diff.101.png")), wholeMattes.front());
    // Their strips are checked as the plate's are: a plate strip is no confidence strip, and a
    // strip whose bytes are not those its record was written with is refused.
    const auto mixed = runFramemeld(
        {"merge", "-o", farm.file("mixed.png"), farm.file("plate-a.png"), farm.file("conf-b.png")});
    EXPECT_EQ(mixed.exitStatus, 1) << mixed.output;
    EXPECT_THAT(mixed.output, HasSubstr("conf-b.png and "));
    std::string changed = fileBytes(farm.file("diff-a.0101.png"));
    changed.back() = static_cast<char>(changed.back() ^ 1); // the end chunk's checksum, unread
    {
        std::ofstream replaced(farm.file("diff-a.0101.png"), std::ios::binary | std::ios::trunc);
        replaced << changed;
    }
    const auto tampered =
        runFramemeld({"merge", "-o", farm.file("tampered.png"), farm.file("diff-a.0101.png"),
                      farm.file("diff-b.0101.png")});
    EXPECT_EQ(tampered.exitStatus, 1) << tampered.output;
    EXPECT_THAT(tampered.output, HasSubstr("is not the file its record describes"));
    EXPECT_FALSE(fileExists(farm.file("mixed.png")));
    EXPECT_FALSE(fileExists(farm.file("tampered.png")));
}

TEST(HoldoutEndToEnd, TheConfidenceKeepsTheRenderDepth)
{
    // 11 of 20 agree: 0.55 exactly in float, round(0.55 x 32768) on the 16-bit host scale.
    const Clip contest = lingererClip(20, 9);
    for (const Format &format : {kFormats[1], kFormats[2]}) {
        SCOPED_TRACE(format.extension);
        TempDir in, out;
        writeFootage(in, contest, format);
        const std::string confidence = out.file(std::string("confidence.") + format.extension);
        const auto report =
            runFramemeld(run(in.file(std::string("shot.%d.") + format.extension),
                             out.file("plate.exr"), format, {"--confidence", confidence}));
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        int channels = 0;
        const auto values = plateValues(confidence, channels);
        ASSERT_EQ(channels, 1);
        const float contested =
            format.depth == PixelDepth::Float32
                ? 0.55f
                : std::lround(std::lround(0.55 * 32768) * 65535.0 / 32768) / 65535.0f;
        EXPECT_FLOAT_EQ(values[static_cast<std::size_t>(5 * kWidth + 8)], contested);
        EXPECT_FLOAT_EQ(values[0], 1.0f);
    }
}

// The value the summary reports for an automatic Divergence, as printed.
std::string automaticDivergence(const std::string &output)
{
    std::smatch match;
    if (!std::regex_search(output, match, std::regex("divergence ([0-9.]+) \\(auto: "))) {
        ADD_FAILURE() << "no automatic divergence in: " << output;
        return "";
    }
    return match[1];
}

TEST(HoldoutEndToEnd, TheAutomaticDivergenceComesFromTheFramesAsDecodedInEveryWayOfHoldingThem)
{
    // The codes depend on the Divergence, and measured on frames that carry them the grain would
    // look far larger than it is: here a band of 12 of the 20 columns, a little further right in
    // every frame, is held out, so most differences between frames would involve a code, and
    // every pixel still shows the background in 4 of the 10 frames. The frames read back band by
    // band or strip by strip must get the same codes as the frames held whole.
    const Format &png = kFormats[0];
    const Clip clip = lingererClip(10, 0);
    TempDir in;
    writeFootage(in, clip, png, 3.0);
    for (int f = 0; f < clip.frames; ++f) {
        std::vector<std::uint8_t> grey;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                grey.push_back((x - 2 * f + kWidth) % kWidth < 12 ? 255 : 0);
            }
        }
        writeImage(in.file("matte." + std::to_string(101 + f) + ".png"), kWidth, kHeight, 1,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, grey.data());
    }
    const std::string shot = in.file("shot.%d.png");
    const auto runAuto = [&](const TempDir &out, std::vector<std::string> more) {
        std::vector<std::string> args{
            shot, "-o", out.file("plate.png"), "--divergence", "auto", "--rating-range", "1"};
        args.insert(args.end(), more.begin(), more.end());
        return runFramemeld(args);
    };
    TempDir plainOut;
    const auto plain = runAuto(plainOut, {});
    ASSERT_EQ(plain.exitStatus, 0) << plain.output;
    const std::string divergence = automaticDivergence(plain.output);

    const std::string matte = in.file("matte.%d.png");
    std::string wholePlate, wholeConfidence;
    const std::vector<std::vector<std::string>> ways = {{}, {"--memory", budgetForBands(10)}};
    for (const auto &way : ways) {
        SCOPED_TRACE(way.empty() ? "in memory" : "in bands");
        TempDir out;
        std::vector<std::string> more{"--holdout",    matte,
                                      "--confidence", out.file("confidence.png"),
                                      "--mattes",     out.file("diff.%d.png")};
        more.insert(more.end(), way.begin(), way.end());
        const auto held = runAuto(out, more);
        ASSERT_EQ(held.exitStatus, 0) << held.output;
        EXPECT_EQ(automaticDivergence(held.output), divergence);
        if (way.empty()) {
            wholePlate = fileBytes(out.file("plate.png"));
            wholeConfidence = fileBytes(out.file("confidence.png"));
            int channels = 0;
            const auto values = plateValues(out.file("plate.png"), channels);
            const std::size_t i = static_cast<std::size_t>((5 * kWidth + 8) * channels);
            EXPECT_NEAR(values[i], backgroundValue(9, 8, 5, 0), 0.04) << "the background";
            // Four noisy samples of the background at each pixel agree, but for the odd pixel
            // where the grain keeps every pair just apart at a tolerance of two sigmas.
            const std::smatch holes = [&] {
                std::smatch m;
                std::regex_search(held.output, m, std::regex(": (\\d+) of the plate's pixels"));
                return m;
            }();
            ASSERT_FALSE(holes.empty()) << held.output;
            EXPECT_LT(std::stoi(holes[1]), kWidth * kHeight / 50) << held.output;
        } else {
            EXPECT_THAT(held.output, HasSubstr("in a scratch file, rendered in strips of"));
            EXPECT_EQ(fileBytes(out.file("plate.png")), wholePlate);
            EXPECT_EQ(fileBytes(out.file("confidence.png")), wholeConfidence);
        }
    }
    // A farm split: every node measures the same Divergence, so the strips join into the plate.
    TempDir farm;
    std::vector<std::string> strips;
    for (const char *rows : {"0:7", "7:12"}) {
        const std::string strip = farm.file(std::string("plate-") + rows[0] + ".png");
        std::vector<std::string> args{
            shot, "-o",     strip, "--divergence", "auto", "--rating-range",
            "1",  "--rows", rows,  "--holdout",    matte};
        const auto report = runFramemeld(args);
        ASSERT_EQ(report.exitStatus, 0) << report.output;
        strips.push_back(strip);
    }
    const auto merged = runFramemeld({"merge", "-o", farm.file("plate.png"), strips[0], strips[1]});
    ASSERT_EQ(merged.exitStatus, 0) << merged.output;
    EXPECT_EQ(fileBytes(farm.file("plate.png")), wholePlate);
}

TEST(HoldoutEndToEnd, EveryRefusalComesBeforeTheRenderWithNothingWritten)
{
    const Format &png = kFormats[0];
    TempDir in;
    const Clip clip = lingererClip(8, 4);
    writeFootage(in, clip, png);
    const std::string shot = in.file("shot.%d.png");
    // A matte of another size.
    {
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(kWidth + 1) * kHeight, 255);
        writeImage(in.file("wide.png"), kWidth + 1, kHeight, 1, OIIO::TypeDesc::UINT8,
                   OIIO::TypeDesc::UINT8, grey.data());
    }
    // A sequence that lacks a sampled frame (104).
    for (int f : {101, 102, 103, 105, 106, 107, 108}) {
        writeMatte(in.file("gap." + std::to_string(f) + ".png"), kLingerer, true);
    }
    // An RGBA matte drawn in colour on an opaque alpha: its alpha holds everything out.
    {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kWidth) * kHeight * 4, 255);
        writeImage(in.file("opaque.png"), kWidth, kHeight, 4, OIIO::TypeDesc::UINT8,
                   OIIO::TypeDesc::UINT8, rgba.data());
    }
    writeMatte(in.file("matte.png"), kLingerer, true);

    struct Case {
        std::vector<std::string> args; // beside INPUT -o OUTPUT
        int exitStatus;
        std::string says;
    };
    TempDir out;
    const std::vector<Case> cases = {
        {{"--holdout", in.file("wide.png")}, 1, "the matte is 21x12, the footage 20x12"},
        {{"--holdout", in.file("gap.%d.png")}, 1, "no matte for frame 104, which is sampled"},
        {{"--holdout", in.file("opaque.png")}, 1, "marks every pixel of every sampled frame"},
        {{"--holdout", in.file("none.png")}, 1, "--holdout " + in.file("none.png")},
        // Past 50 % a 16-bit render has two levels a channel: 7 codes for 8 sampled frames.
        {{"--holdout", in.file("matte.png"), "--depth", "16", "--divergence", "100"},
         2,
         "can keep at most 7 sampled frames apart, and this run samples 8"},
        {{"--confidence", out.file("plate.png")}, 1, "is also the file of -o"},
        {{"--mattes", out.file("d.####.png"), "--confidence", out.file("d.0102.png")},
         1,
         "is also the file of --confidence"},
        {{"--mattes", in.file("shot.%d.png")}, 1, "is the input"},
        {{"--confidence", in.file("matte.png"), "--holdout", in.file("matte.png")},
         1,
         "is the input"},
        {{"--mattes", out.file("diff.png")}, 2, "with the frame number in it"},
        {{"--confidence", out.file("c.xyz")}, 2, "unknown image format"},
        {{"--holdout-invert"}, 2, "give the matte with --holdout"},
    };
    for (const Case &refused : cases) {
        std::vector<std::string> args{shot, "-o", out.file("plate.png"), "--rating-range", "1"};
        args.insert(args.end(), refused.args.begin(), refused.args.end());
        const auto report = runFramemeld(args);
        EXPECT_EQ(report.exitStatus, refused.exitStatus) << report.output;
        EXPECT_THAT(report.output, HasSubstr(refused.says));
        EXPECT_THAT(report.output, testing::Not(HasSubstr("wrote"))) << "no render";
        EXPECT_THAT(out.entries(), IsEmpty()) << refused.says;
    }
}

TEST(HoldoutEndToEnd, AFailedWriteLeavesNoneOfTheRunsFiles)
{
    // The plate is far larger than a matte, so a file size limit between the two lets the
    // confidence and every matte be written and fails the plate, the last file.
    const Format &png = kFormats[0];
    TempDir in, out;
    writeFootage(in, lingererClip(6, 2), png);
    const auto report = runFramemeld({in.file("shot.%d.png"), "-o", out.file("plate.png"),
                                      "--divergence", "12", "--mattes", out.file("diff.####.png"),
                                      "--confidence", out.file("confidence.png")},
                                     RunConditions{150});
    ASSERT_EQ(report.exitStatus, 1) << report.output;
    EXPECT_THAT(report.output, HasSubstr("plate.png"));
    EXPECT_THAT(out.entries(), IsEmpty());
}

} // namespace
