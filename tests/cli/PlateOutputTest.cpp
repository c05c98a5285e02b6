// Plates that go back into the comp: alpha stored as each format declares it, the samples and
// compression the user names, the reference frame's attributes and the plate's provenance kept,
// and the same bytes from the same inputs. Footage is made by FFmpeg and oiiotool as a user's
// would be.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace {

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool run(std::vector<std::string> args)
{
    const CommandReport report = runProgram(args);
    EXPECT_EQ(report.exitStatus, 0) << args[0] << ": " << report.output;
    return report.exitStatus == 0;
}

// Three identical frames shot.1.EXT ... of one colour with alpha, written by FFmpeg (straight
// RGBA: PNG, ProRes 4444) or oiiotool (premultiplied EXR).
void straightPngClip(const TempDir &dir)
{
    for (int i = 1; i <= 3; ++i) {
        run({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
             "color=c=0xFF8040@0.5:s=16x8,format=rgba", "-frames:v", "1",
             dir.file("shot." + std::to_string(i) + ".png")});
    }
}

void premultipliedExrClip(const TempDir &dir)
{
    for (int i = 1; i <= 3; ++i) {
        run({"oiiotool", "--pattern", "fill:color=0.5,0.25,0.125,0.5", "16x8", "4", "-d", "half",
             "-o", dir.file("shot." + std::to_string(i) + ".exr")});
    }
}

template <typename T>
std::vector<T> firstPixel(const std::string &path, int &channels, OIIO::TypeDesc *stored = nullptr)
{
    int width = 0;
    int height = 0;
    std::vector<T> samples = readSamples<T>(path, width, height, channels, stored);
    samples.resize(static_cast<std::size_t>(channels));
    return samples;
}

CommandReport render(const std::string &input, const std::string &output,
                     std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {input, "-o", output, "--divergence", "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runFramemeld(args);
}

std::string attributeOf(const std::string &path, const std::string &name)
{
    auto input = OIIO::ImageInput::open(path);
    if (!input) {
        return "(unreadable)";
    }
    const OIIO::ParamValue *value = input->spec().find_attribute(name);
    return value == nullptr ? "(none)" : value->get_string();
}

TEST(PlateOutput, AlphaIsStoredAsEachFormatDeclaresIt)
{
    TempDir in, out;
    straightPngClip(in);
    const std::string straight = in.file("shot.#.png");
    int channels = 0;

    // Straight colour (255, 128, 64 at alpha 127) into EXR is premultiplied.
    ASSERT_EQ(render(straight, out.file("a.exr"), {"-q"}).exitStatus, 0);
    const auto exr = firstPixel<float>(out.file("a.exr"), channels);
    ASSERT_EQ(channels, 4);
    EXPECT_NEAR(exr[3], 127.0 / 255, 1e-3);
    EXPECT_NEAR(exr[0], exr[3], 2e-3);
    EXPECT_NEAR(exr[1], 128.0 / 255 * double(exr[3]), 2e-3);
    // PNG stays straight, TIFF holds it straight and says so.
    ASSERT_EQ(render(straight, out.file("a.png"), {"-q"}).exitStatus, 0);
    EXPECT_EQ(firstPixel<std::uint8_t>(out.file("a.png"), channels),
              (std::vector<std::uint8_t>{255, 128, 64, 127}));
    ASSERT_EQ(render(straight, out.file("a.tif"), {"-q"}).exitStatus, 0);
    EXPECT_EQ(firstPixel<std::uint8_t>(out.file("a.tif"), channels),
              (std::vector<std::uint8_t>{255, 128, 64, 127}));
    EXPECT_EQ(attributeOf(out.file("a.tif"), "tiff:UnassociatedAlpha"), "1");

    // Premultiplied EXR into PNG is divided out, by the tool's own writer (8 and 16 bits) and by
    // the library's (a 32-bit render); into EXR it stays as it is.
    TempDir premultiplied;
    premultipliedExrClip(premultiplied);
    const std::string exrClip = premultiplied.file("shot.#.exr");
    ASSERT_EQ(render(exrClip, out.file("p8.png"), {"-q", "--depth", "8"}).exitStatus, 0);
    EXPECT_EQ(firstPixel<std::uint8_t>(out.file("p8.png"), channels),
              (std::vector<std::uint8_t>{255, 128, 64, 128}));
    for (const std::string depth : {"16", "32"}) {
        const std::string plate = out.file("p" + depth + ".png");
        ASSERT_EQ(render(exrClip, plate, {"-q", "--depth", depth}).exitStatus, 0);
        EXPECT_EQ(firstPixel<std::uint16_t>(plate, channels),
                  (std::vector<std::uint16_t>{65535, 32768, 16384, 32768}))
            << depth;
    }
    ASSERT_EQ(render(exrClip, out.file("p.exr"), {"-q"}).exitStatus, 0);
    EXPECT_EQ(firstPixel<float>(out.file("p.exr"), channels),
              (std::vector<float>{0.5f, 0.25f, 0.125f, 0.5f}));
    // In linear values: the log working space's round trip is exact only to a few parts per
    // million.
    ASSERT_EQ(render(exrClip, out.file("p.tif"), {"-q", "--working-space", "linear"}).exitStatus,
              0);
    EXPECT_EQ(firstPixel<float>(out.file("p.tif"), channels),
              (std::vector<float>{0.5f, 0.25f, 0.125f, 0.5f}));
    EXPECT_THAT(attributeOf(out.file("p.tif"), "tiff:UnassociatedAlpha"), Not("1"));

    // ProRes 4444 holds straight alpha: its EXR plate is premultiplied.
    if (haveProgram("ffmpeg")) {
        const std::string movie = in.file("alpha.mov");
        ASSERT_TRUE(run({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "color=c=0xFF8040@0.5:s=32x16:d=0.2:r=25,format=rgba", "-c:v", "prores_ks",
                         "-profile:v", "4444", "-pix_fmt", "yuva444p10le", movie}));
        ASSERT_EQ(render(movie, out.file("m.exr"), {"-q"}).exitStatus, 0);
        const auto fromMovie = firstPixel<float>(out.file("m.exr"), channels);
        ASSERT_EQ(channels, 4);
        EXPECT_NEAR(fromMovie[3], 0.5, 0.01);
        EXPECT_NEAR(fromMovie[0], 0.5, 0.02);
        EXPECT_NEAR(fromMovie[1], 0.25, 0.02);
    }
}

TEST(PlateOutput, DataTypeAndCompressionAreTheUsersOrTheFootages)
{
    TempDir in, out;
    premultipliedExrClip(in);
    const std::string clip = in.file("shot.#.exr");
    int channels = 0;
    OIIO::TypeDesc stored;

    // Half in, half out; asked for, float; and the compressions by the format's own names.
    ASSERT_EQ(render(clip, out.file("h.exr"), {"-q"}).exitStatus, 0);
    firstPixel<float>(out.file("h.exr"), channels, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::HALF);
    ASSERT_EQ(
        render(clip, out.file("f.exr"), {"-q", "--data-type", "float", "--compression", "piz"})
            .exitStatus,
        0);
    firstPixel<float>(out.file("f.exr"), channels, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::FLOAT);
    EXPECT_EQ(attributeOf(out.file("f.exr"), "compression"), "piz");
    ASSERT_EQ(render(clip, out.file("d.exr"), {"-q", "--compression", "dwaa:45"}).exitStatus, 0);
    EXPECT_EQ(attributeOf(out.file("d.exr"), "compression"), "dwaa");
    EXPECT_EQ(attributeOf(out.file("d.exr"), "openexr:dwaCompressionLevel"), "45");
    ASSERT_EQ(render(clip, out.file("l.tif"), {"-q", "--compression", "lzw"}).exitStatus, 0);
    EXPECT_EQ(attributeOf(out.file("l.tif"), "compression"), "lzw");
    ASSERT_EQ(render(clip, out.file("u.tif"), {"-q", "--data-type", "uint16"}).exitStatus, 0);
    firstPixel<std::uint16_t>(out.file("u.tif"), channels, &stored);
    EXPECT_EQ(stored, OIIO::TypeDesc::UINT16);

    TempDir png;
    straightPngClip(png);
    ASSERT_EQ(
        render(png.file("shot.#.png"), out.file("z0.png"), {"-q", "--compression", "deflate:0"})
            .exitStatus,
        0);
    ASSERT_EQ(
        render(png.file("shot.#.png"), out.file("z9.png"), {"-q", "--compression", "deflate:9"})
            .exitStatus,
        0);
    EXPECT_GT(fileBytes(out.file("z0.png")).size(), fileBytes(out.file("z9.png")).size());
    EXPECT_EQ(firstPixel<std::uint8_t>(out.file("z0.png"), channels),
              firstPixel<std::uint8_t>(out.file("z9.png"), channels));

    // An integer type from a float render says what it clips.
    TempDir bright;
    for (int i = 1; i <= 3; ++i) {
        run({"oiiotool", "--pattern", "fill:color=2.5,0.5,0.25", "8x4", "3", "-d", "half", "-o",
             bright.file("hdr." + std::to_string(i) + ".exr")});
    }
    const auto clipped =
        render(bright.file("hdr.#.exr"), out.file("c.tif"), {"--data-type", "uint16"});
    ASSERT_EQ(clipped.exitStatus, 0) << clipped.output;
    EXPECT_THAT(clipped.output, HasSubstr("the plate stores uint16 samples: values of the 32-bit "
                                          "render outside 0..1 are clipped (32 samples were)"));

    // Refused before any work, with nothing written.
    TempDir refused;
    const std::vector<std::vector<std::string>> bad = {
        {"x.exr", "--data-type", "uint7"},
        {"x.exr", "--data-type", "uint16"},
        {"x.png", "--data-type", "half"},
        {"x.tif", "--compression", "piz"},
        {"x.exr", "--compression", "dwaa:x"},
        {"x.png", "--compression", "deflate:12"},
        {"x.dpx", "--compression", "zip"},
        {"x.jpg"},
        {"x.webp"},
        {"x.jp2"},
    };
    for (const auto &args : bad) {
        std::vector<std::string> extra(args.begin() + 1, args.end());
        extra.push_back("-q");
        const auto report = render(clip, refused.file(args[0]), extra);
        EXPECT_EQ(report.exitStatus, 2) << args[0] << " " << report.output;
        EXPECT_THAT(report.output, Not(IsEmpty()));
    }
    EXPECT_THAT(refused.entries(), IsEmpty());
    const auto jpeg = render(clip, refused.file("x.jpg"), {"--compression", "jpeg:90"});
    EXPECT_EQ(jpeg.exitStatus, 0) << jpeg.output;
    EXPECT_THAT(jpeg.output, HasSubstr("lossy"));
}

TEST(PlateOutput, TheSameInputsGiveTheSameBytes)
{
    // Same names in two folders: a DPX header records the file's name.
    TempDir in, first, second;
    premultipliedExrClip(in);
    const std::string clip = in.file("shot.#.exr");
    for (const std::string name : {"plate.exr", "plate.tif", "plate.dpx"}) {
        ASSERT_EQ(render(clip, first.file(name), {"-q"}).exitStatus, 0);
        ASSERT_EQ(render(clip, second.file(name), {"-q"}).exitStatus, 0);
        EXPECT_TRUE(fileBytes(first.file(name)) == fileBytes(second.file(name))) << name;
        // No time stamp, so a plate made in another second is the same file too.
        EXPECT_EQ(attributeOf(first.file(name), "DateTime"), "(none)") << name;
    }
}

TEST(PlateOutput, TheReferenceFramesAttributesAndTheProvenanceAreKept)
{
    TempDir in, out;
    for (int i = 1001; i <= 1003; ++i) {
        ASSERT_TRUE(run({"oiiotool",
                         "--pattern",
                         "fill:color=0.2,0.4,0.6",
                         "16x8",
                         "3",
                         "-d",
                         "half",
                         "--attrib:type=timecode",
                         "smpte:TimeCode",
                         "01:00:00:" + std::to_string(i - 1000 + 10),
                         "--attrib:type=rational",
                         "FramesPerSecond",
                         "24/1",
                         "--attrib",
                         "Copyright",
                         "Tessaran Studio",
                         "--attrib",
                         "studio:shot",
                         "sh010",
                         "--attrib:type=float",
                         "PixelAspectRatio",
                         "2.0",
                         "-o",
                         in.file("shot." + std::to_string(i) + ".exr")}));
    }
    const auto report =
        render(in.file("shot.####.exr"), out.file("plate.exr"), {"-q", "--start", "1002"});
    ASSERT_EQ(report.exitStatus, 0) << report.output;
    const std::string plate = out.file("plate.exr");
    // The reference frame is the first one sampled: 1002.
    EXPECT_EQ(attributeOf(plate, "smpte:TimeCode"), "01:00:00:12");
    EXPECT_EQ(attributeOf(plate, "FramesPerSecond"), "24/1");
    EXPECT_EQ(attributeOf(plate, "Copyright"), "Tessaran Studio");
    EXPECT_EQ(attributeOf(plate, "studio:shot"), "sh010");
    EXPECT_EQ(attributeOf(plate, "PixelAspectRatio"), "2");
    EXPECT_THAT(attributeOf(plate, "framemeld:provenance"),
                HasSubstr("; input " + in.file("shot.####.exr") +
                          "; Start Frame 1, End Frame 2, Every n-th Frame 1, Divergence 5, "
                          "Rating Range 1; 32-bit render"));
    EXPECT_THAT(attributeOf(plate, "Software"), HasSubstr("framemeld "));

    // 10-bit DPX comes back 10-bit, with its timecode.
    for (int i = 1; i <= 2; ++i) {
        ASSERT_TRUE(run({"oiiotool", "--pattern", "fill:color=0.2,0.4,0.6", "16x8", "3", "-d",
                         "uint10", "--attrib:type=timecode", "smpte:TimeCode", "10:00:00:00", "-o",
                         in.file("scan." + std::to_string(i) + ".dpx")}));
    }
    ASSERT_EQ(render(in.file("scan.#.dpx"), out.file("scan.dpx"), {"-q"}).exitStatus, 0);
    EXPECT_EQ(attributeOf(out.file("scan.dpx"), "oiio:BitsPerSample"), "10");
    EXPECT_EQ(attributeOf(out.file("scan.dpx"), "smpte:TimeCode"), "10:00:00:00");
}

} // namespace
