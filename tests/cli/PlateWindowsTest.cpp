// A plate that overlays its frames in the comp: EXR overscan (a data window beyond the display
// window) rendered and written back with both windows and the pixel aspect, the display window
// alone for formats without a data window (and said so), the same bytes through farm strips and a
// budgeted run, and footage with channels a plate would not keep refused by their names. The
// footage is made by oiiotool, as a user's would be.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "cli/plan/MemoryPlan.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;

namespace {

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Three equal half frames shot.1001.exr ... with a gradient over their stored pixels (so that a
// pixel out of place shows), premultiplied colour under an alpha that falls to a half, `data` and
// `display` as oiiotool's geometry ("24x14-4-3").
void exrClip(const TempDir &dir, const std::string &data, const std::string &display)
{
    for (int i = 1001; i <= 1003; ++i) {
        const CommandReport made = runProgram(
            {"oiiotool", "--pattern",
             "fill:topleft=0.1,0.2,0.3,1:topright=0.9,0.2,0.3,1:bottomleft=0.1,0.8,0.3,1:"
             "bottomright=0.45,0.4,0.3,0.5",
             data, "4", "--fullsize", display, "-d", "half", "--attrib:type=float",
             "PixelAspectRatio", "2.0", "-o", dir.file("shot." + std::to_string(i) + ".exr")});
        ASSERT_EQ(made.exitStatus, 0) << made.output;
    }
}

struct Picture {
    OIIO::ImageSpec spec;
    std::vector<float> samples; // the data window's, RGBA
};

Picture readPicture(const std::string &path)
{
    Picture picture;
    auto input = OIIO::ImageInput::open(path);
    if (!input) {
        ADD_FAILURE() << path << ": " << OIIO::geterror();
        return picture;
    }
    picture.spec = input->spec();
    picture.samples.resize(picture.spec.image_pixels() *
                           static_cast<std::size_t>(picture.spec.nchannels));
    EXPECT_TRUE(input->read_image(0, 0, 0, picture.spec.nchannels, OIIO::TypeDesc::FLOAT,
                                  picture.samples.data()));
    return picture;
}

// The sample of `picture` at the file coordinates (x, y), or transparent black outside its
// data window.
float sampleAt(const Picture &picture, int x, int y, int channel)
{
    const OIIO::ImageSpec &spec = picture.spec;
    if (x < spec.x || y < spec.y || x >= spec.x + spec.width || y >= spec.y + spec.height) {
        return 0.0f;
    }
    const auto pixel = static_cast<std::size_t>(y - spec.y) * static_cast<std::size_t>(spec.width) +
                       static_cast<std::size_t>(x - spec.x);
    return picture.samples[pixel * static_cast<std::size_t>(spec.nchannels) +
                           static_cast<std::size_t>(channel)];
}

// Every pixel of `plate`'s data window holds what the footage frame holds there.
void expectSamePixels(const Picture &plate, const Picture &frame, double tolerance)
{
    const OIIO::ImageSpec &spec = plate.spec;
    ASSERT_EQ(spec.nchannels, 4);
    for (int y = spec.y; y < spec.y + spec.height; ++y) {
        for (int x = spec.x; x < spec.x + spec.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                ASSERT_NEAR(sampleAt(plate, x, y, c), sampleAt(frame, x, y, c), tolerance)
                    << "pixel " << x << "," << y << " channel " << c;
            }
        }
    }
}

// A budget under which the frames above are read from their files a few rows at a time.
std::string rowsBudget()
{
    framemeld::cli::MemoryPlanInput input;
    input.width = 24;
    input.height = 14;
    input.depth = framemeld::runner::PixelDepth::Float32;
    input.frames = 3;
    input.threads = 2;
    input.fileBytesPerPixel = 8;
    input.rowAccess = true;
    input.rowBlock = 16;
    input.budget = std::uint64_t{1} << 40;
    const framemeld::cli::MemoryPlan roomy = framemeld::cli::planMemory(input);
    return std::to_string(std::max(roomy.minimumBudget, roomy.bandFixedBytes +
                                                            2 * roomy.decoderBytes +
                                                            std::uint64_t{4} * roomy.bandRowBytes));
}

CommandReport render(const std::string &input, const std::string &output,
                     std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {input, "-o", output, "--divergence", "5", "--threads", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runFramemeld(args);
}

TEST(PlateWindows, OverscanIsRenderedAndKeptWithBothWindowsAndThePixelAspect)
{
    TempDir in, out;
    exrClip(in, "24x14-4-3", "16x8+0+0");
    const std::string clip = in.file("shot.####.exr");
    const Picture frame = readPicture(in.file("shot.1001.exr"));

    const CommandReport exr = render(clip, out.file("plate.exr"));
    ASSERT_EQ(exr.exitStatus, 0) << exr.output;
    EXPECT_THAT(exr.output, HasSubstr("wrote " + out.file("plate.exr") + " (24x14,"));
    EXPECT_THAT(exr.output, HasSubstr("the plate keeps the footage's overscan: data window 24x14 "
                                      "at -4,-3, display window 16x8 at 0,0"));
    const Picture plate = readPicture(out.file("plate.exr"));
    EXPECT_EQ(plate.spec.x, -4);
    EXPECT_EQ(plate.spec.y, -3);
    EXPECT_EQ(plate.spec.width, 24);
    EXPECT_EQ(plate.spec.height, 14);
    EXPECT_EQ(plate.spec.full_x, 0);
    EXPECT_EQ(plate.spec.full_y, 0);
    EXPECT_EQ(plate.spec.full_width, 16);
    EXPECT_EQ(plate.spec.full_height, 8);
    EXPECT_EQ(plate.spec.get_float_attribute("PixelAspectRatio"), 2.0f);
    EXPECT_EQ(plate.spec.format, OIIO::TypeDesc::HALF);
    // Equal frames give themselves back, overscan and all.
    expectSamePixels(plate, frame, 1e-3);

    // PNG holds no data window: the display window alone, and the summary says what is missing.
    const CommandReport png = render(clip, out.file("plate.png"));
    ASSERT_EQ(png.exitStatus, 0) << png.output;
    EXPECT_THAT(png.output, HasSubstr("wrote " + out.file("plate.png") + " (16x8,"));
    EXPECT_THAT(png.output, HasSubstr("the footage's overscan is left out: the plate's format "
                                      "holds no data window, so it is the display window (16x8 "
                                      "at 0,0) alone"));
    const Picture shown = readPicture(out.file("plate.png"));
    EXPECT_EQ(shown.spec.x, 0);
    EXPECT_EQ(shown.spec.width, 16);
    EXPECT_EQ(shown.spec.height, 8);
    // The library gives PNG's straight colour premultiplied, as the EXR holds it.
    expectSamePixels(shown, frame, 1e-3);
}

TEST(PlateWindows, StripsAndABudgetedRunGiveTheSinglePlateByteForByte)
{
    TempDir in, out;
    exrClip(in, "24x14-4-3", "16x8+0+0");
    const std::string clip = in.file("shot.####.exr");
    ASSERT_EQ(render(clip, out.file("whole.exr"), {"-q"}).exitStatus, 0);
    ASSERT_EQ(render(clip, out.file("whole.png"), {"-q"}).exitStatus, 0);

    // Rows read from the files a few at a time.
    const CommandReport budgeted = render(clip, out.file("budget.exr"), {"--memory", rowsBudget()});
    ASSERT_EQ(budgeted.exitStatus, 0) << budgeted.output;
    EXPECT_THAT(budgeted.output, HasSubstr("read from the files in strips of"));
    EXPECT_TRUE(fileBytes(out.file("budget.exr")) == fileBytes(out.file("whole.exr")));

    // Strips are rows of the whole frame, overscan included; the merge writes the windows.
    for (const std::string format : {"exr", "png"}) {
        SCOPED_TRACE(format);
        std::vector<std::string> merge = {"merge", "-o", out.file("merged." + format)};
        for (const std::string rows : {"0:5", "5:14"}) {
            const std::string strip = out.file("strip" + rows.substr(0, 1) + "." + format);
            const CommandReport run = render(clip, strip, {"-q", "--rows", rows});
            ASSERT_EQ(run.exitStatus, 0) << run.output;
            EXPECT_EQ(readPicture(strip).spec.width, 24);
            merge.push_back(strip);
        }
        const CommandReport merged = runFramemeld(merge);
        ASSERT_EQ(merged.exitStatus, 0) << merged.output;
        EXPECT_TRUE(fileBytes(out.file("merged." + format)) ==
                    fileBytes(out.file("whole." + format)));
        EXPECT_THAT(merged.output,
                    HasSubstr(format == "exr" ? "keeps the footage's overscan"
                                              : "the footage's overscan is left out"));
    }
}

TEST(PlateWindows, ADataWindowInsideThePictureLeavesTheRestTransparent)
{
    TempDir in, out;
    exrClip(in, "6x4+5+2", "16x8+0+0");
    const CommandReport run = render(in.file("shot.####.exr"), out.file("plate.exr"));
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, testing::Not(HasSubstr("overscan")));
    const Picture plate = readPicture(out.file("plate.exr"));
    // The plate is the picture: its data window is the display window.
    EXPECT_EQ(plate.spec.x, 0);
    EXPECT_EQ(plate.spec.y, 0);
    EXPECT_EQ(plate.spec.width, 16);
    EXPECT_EQ(plate.spec.height, 8);
    EXPECT_EQ(plate.spec.full_width, 16);
    expectSamePixels(plate, readPicture(in.file("shot.1001.exr")), 1e-3);
}

TEST(PlateWindows, ChannelsBeyondColourAndAlphaAreRefusedByName)
{
    TempDir in, out;
    for (int i = 1; i <= 2; ++i) {
        const CommandReport made =
            runProgram({"oiiotool", "--pattern", "constant:color=0.5,0.4,0.3,1,7,0,1", "16x8", "7",
                        "--chnames", "R,G,B,A,Z,N.x,N.y", "-d", "half", "-o",
                        in.file("shot." + std::to_string(i) + ".exr")});
        ASSERT_EQ(made.exitStatus, 0) << made.output;
    }
    const CommandReport run = render(in.file("shot.#.exr"), out.file("plate.exr"));
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr("shot.1.exr: the frame has channels beyond colour and alpha "
                                      "(Z, N.x, N.y)"));
    EXPECT_TRUE(out.entries().empty());
}

} // namespace
