// A plate split across a render farm: strips rendered with --rows and joined by merge give the
// single run's plate byte for byte; bad rows are usage errors before any work; strips that do not
// belong together are refused with nothing written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "cli/plan/MemoryPlan.h"

using framemeld::runner::PixelDepth;
using namespace framemeld::cli;
using namespace framemeld::cli::test;
using testing::HasSubstr;

namespace {

constexpr int kWidth = 36;
constexpr int kHeight = 30;
constexpr int kFrames = 6;

// A still gradient with grain per frame and a block moving across it: consensus work in every
// row, and rows that differ from each other, so a strip put at the wrong place shows.
float sample(int frame, int x, int y, int channel)
{
    if (x >= frame * 6 && x < frame * 6 + 8 && y > 3 && y < 22) {
        return 0.95f - 0.2f * static_cast<float>(channel);
    }
    const float grain = static_cast<float>((x * 7 + y * 13 + frame * 29 + channel * 3) % 11) / 400;
    return 0.1f + 0.03f * static_cast<float>(channel) + static_cast<float>(y) / 45 + grain;
}

// RGB (or RGBA with an alpha that varies over the frame) frames shot.10 ... of `fileType`.
void writeClip(const TempDir &dir, const std::string &extension, OIIO::TypeDesc fileType,
               int width = kWidth, int channels = 3)
{
    for (int f = 0; f < kFrames; ++f) {
        std::vector<float> values;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < channels; ++c) {
                    values.push_back(c == 3 ? 1.0f - static_cast<float>((x + y + f) % 7) / 10
                                            : sample(f, x, y, c));
                }
            }
        }
        writeImage(dir.file("shot." + std::to_string(10 + f) + "." + extension), width, kHeight,
                   channels, fileType, OIIO::TypeDesc::FLOAT, values.data());
    }
}

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The budget under which the plan renders through the scratch file in strips of `rows` rows.
// EXR files (zip, 16-row blocks) are read strip by strip from the files, PNG through the scratch
// file: each plan has its own costs.
std::string budgetForRows(PixelDepth depth, int fileBytesPerPixel, int rows, bool exr)
{
    MemoryPlanInput input;
    input.width = kWidth;
    input.height = kHeight;
    input.depth = depth;
    input.frames = kFrames;
    input.threads = 2;
    input.fileBytesPerPixel = fileBytesPerPixel;
    input.rowAccess = exr;
    input.rowBlock = exr ? 16 : 1;
    input.budget = std::uint64_t{1} << 40;
    const MemoryPlan roomy = planMemory(input);
    return std::to_string(
        std::max(roomy.minimumBudget, roomy.bandFixedBytes + 2 * roomy.decoderBytes +
                                          std::uint64_t(rows) * roomy.bandRowBytes));
}

const std::vector<std::string> kSettings = {"--every", "1", "--divergence", "5", "--threads", "2"};

CommandReport renderRows(const std::string &input, const std::string &output,
                         const std::string &rows, std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {input, "-o", output, "--rows", rows, "-q"};
    args.insert(args.end(), kSettings.begin(), kSettings.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return runFramemeld(args);
}

TEST(FarmSplit, ThreeUnevenStripsMergeIntoTheSingleRunsPlate)
{
    struct Case {
        std::string input;
        OIIO::TypeDesc fileType;
        PixelDepth depth;
        int fileBytesPerPixel;
        std::string plate;
        int channels = 3;
    };
    const std::vector<Case> cases = {
        {"png", OIIO::TypeDesc::UINT8, PixelDepth::Bits8, 3, "png"},
        {"png", OIIO::TypeDesc::UINT16, PixelDepth::Bits16, 6, "png"},
        {"exr", OIIO::TypeDesc::FLOAT, PixelDepth::Float32, 12, "exr"},
        // Unassociated alpha: the strips are stored unpremultiplied and premultiplied again on
        // reading, which must give back the render's samples.
        {"png", OIIO::TypeDesc::UINT8, PixelDepth::Bits8, 4, "png", 4},
        {"exr", OIIO::TypeDesc::HALF, PixelDepth::Float32, 16, "exr", 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input + " " + c.fileType.c_str() + " to " + c.plate + " with " +
                     std::to_string(c.channels) + " channels");
        TempDir in, out;
        writeClip(in, c.input, c.fileType, kWidth, c.channels);
        const std::string input = in.file("shot.%d." + c.input);
        const std::string whole = out.file("whole." + c.plate);
        std::vector<std::string> args = {input, "-o", whole, "-q"};
        args.insert(args.end(), kSettings.begin(), kSettings.end());
        const auto single = runFramemeld(args);
        ASSERT_EQ(single.exitStatus, 0) << single.output;

        // The middle strip is read in one request of its 14 rows, within a budget for no more.
        const std::vector<std::pair<std::string, std::vector<std::string>>> strips = {
            {"0:5", {}},
            {"5:19",
             {"--memory", budgetForRows(c.depth, c.fileBytesPerPixel, 14, c.input == "exr")}},
            {"19:30", {}}};
        std::vector<std::string> merge = {"merge", "-o", out.file("merged." + c.plate)};
        for (std::size_t i = strips.size(); i-- > 0;) { // any order will do
            const std::string name = out.file("strip" + std::to_string(i) + "." + c.plate);
            const auto run = renderRows(input, name, strips[i].first, strips[i].second);
            ASSERT_EQ(run.exitStatus, 0) << run.output;
            ASSERT_TRUE(fileExists(name + ".framemeld-strip.json"));
            merge.push_back(name);
        }
        int w = 0, h = 0, ch = 0;
        const auto middle = readSamples<float>(out.file("strip1." + c.plate), w, h, ch);
        EXPECT_EQ(w, kWidth);
        EXPECT_EQ(h, 14);

        const auto merged = runFramemeld(merge);
        ASSERT_EQ(merged.exitStatus, 0) << merged.output;
        EXPECT_THAT(merged.output, HasSubstr("merged 3 strips"));
        const auto expected = readSamples<float>(whole, w, h, ch);
        const auto actual = readSamples<float>(out.file("merged." + c.plate), w, h, ch);
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(actual[i], expected[i])
                << "pixel " << i / static_cast<std::size_t>(ch) % kWidth << ","
                << i / static_cast<std::size_t>(ch) / kWidth;
        }
        if (c.plate == "png") {
            EXPECT_TRUE(fileBytes(out.file("merged." + c.plate)) == fileBytes(whole));
        }
    }
}

TEST(FarmSplit, BadRowsAreUsageErrorsBeforeAnyWork)
{
    TempDir in, out;
    writeClip(in, "png", OIIO::TypeDesc::UINT8);
    // A broken frame: a run that decoded anything would fail on it instead.
    std::ofstream(in.file("shot.12.png"), std::ios::trunc) << "broken";
    const std::string input = in.file("shot.%d.png");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"5:3", "holds no row"},       {"4:4", "holds no row"},
        {"abc", "needs FIRST:END"},    {"3:", "needs FIRST:END"},
        {"-1:4", "needs FIRST:END"},   {"1.5:4", "needs FIRST:END"},
        {"0:31", "outside the frame"}, {"29:99999999999", "needs FIRST:END"},
        {"", "needs FIRST:END"},
    };
    for (const auto &[rows, message] : cases) {
        SCOPED_TRACE("--rows " + rows);
        const auto run = renderRows(input, out.file("strip.png"), rows);
        EXPECT_EQ(run.exitStatus, 2) << run.output;
        EXPECT_THAT(run.output, HasSubstr(message));
        EXPECT_THAT(run.output, testing::Not(HasSubstr("shot.12")));
    }
    EXPECT_TRUE(out.entries().empty());
}

class FarmMergeRefusal : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir();
        writeClip(*dir_, "png", OIIO::TypeDesc::UINT8);
        TempDir narrow;
        writeClip(narrow, "png", OIIO::TypeDesc::UINT8, kWidth - 4);
        const std::string input = dir_->file("shot.%d.png");
        const std::vector<std::pair<std::string, std::string>> strips = {{"top.png", "0:10"},
                                                                         {"bottom.png", "10:30"},
                                                                         {"late.png", "20:30"},
                                                                         {"overlap.png", "8:30"}};
        for (const auto &[name, rows] : strips) {
            ASSERT_EQ(renderRows(input, dir_->file(name), rows).exitStatus, 0);
        }
        ASSERT_EQ(
            renderRows(input, dir_->file("other.png"), "10:30", {"--divergence", "9"}).exitStatus,
            0);
        ASSERT_EQ(renderRows(input, dir_->file("deep.png"), "10:30", {"--depth", "16"}).exitStatus,
                  0);
        ASSERT_EQ(
            renderRows(narrow.file("shot.%d.png"), dir_->file("narrow.png"), "10:30").exitStatus,
            0);
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }

    // Merges the named strips into a fresh folder, which must stay empty.
    CommandReport merge(const std::vector<std::string> &names)
    {
        std::vector<std::string> args = {"merge", "-o", out_.file("plate.png")};
        for (const std::string &name : names) {
            args.push_back(dir_->file(name));
        }
        auto report = runFramemeld(args);
        EXPECT_TRUE(out_.entries().empty()) << "a refused merge left a file";
        return report;
    }

    static TempDir *dir_;
    TempDir out_;
};
TempDir *FarmMergeRefusal::dir_ = nullptr;

TEST_F(FarmMergeRefusal, TheTwoStripsThatTileThePlateMerge)
{
    const auto run = runFramemeld({"merge", "-o", out_.file("plate.png"), dir_->file("bottom.png"),
                                   dir_->file("top.png"), "-q"});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(fileExists(out_.file("plate.png")));
}

TEST_F(FarmMergeRefusal, GapsAndOverlapsAreRefused)
{
    auto run = merge({"top.png", "late.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("no strip holds rows 10:20"));
    run = merge({"bottom.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("no strip holds rows 0:10"));
    run = merge({"top.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("no strip holds rows 10:30"));
    run = merge({"top.png", "overlap.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("overlaps"));
    run = merge({"top.png", "bottom.png", "bottom.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("overlaps"));
}

TEST_F(FarmMergeRefusal, StripsOfOtherSettingsSizesOrDepthsAreRefused)
{
    auto run = merge({"top.png", "other.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("different settings (divergence"));
    run = merge({"top.png", "deep.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("different settings (depth"));
    run = merge({"top.png", "narrow.png"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("plates of different sizes (32x30 and 36x30)"));
}

TEST_F(FarmMergeRefusal, AStripWithoutItsRecordOrWithAnotherImageIsRefused)
{
    TempDir copies;
    std::ofstream(copies.file("lost.png"), std::ios::binary) << fileBytes(dir_->file("top.png"));
    auto run = runFramemeld(
        {"merge", "-o", out_.file("plate.png"), copies.file("lost.png"), dir_->file("bottom.png")});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("no strip record"));
    EXPECT_TRUE(out_.entries().empty());

    // The record of one strip beside the image of another.
    std::ofstream(copies.file("swapped.png"), std::ios::binary)
        << fileBytes(dir_->file("bottom.png"));
    std::ofstream(copies.file("swapped.png.framemeld-strip.json"), std::ios::binary)
        << fileBytes(dir_->file("top.png.framemeld-strip.json"));
    run = runFramemeld({"merge", "-o", out_.file("plate.png"), copies.file("swapped.png"),
                        dir_->file("bottom.png")});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("its record says 36x10"));

    std::ofstream(copies.file("lost.png.framemeld-strip.json"), std::ios::binary)
        << "{\"kind\": \"framemeld-strip\", \"version\": 1, \"top\": ";
    run = runFramemeld(
        {"merge", "-o", out_.file("plate.png"), copies.file("lost.png"), dir_->file("bottom.png")});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("not a valid strip record"));
    EXPECT_TRUE(out_.entries().empty());
}

TEST_F(FarmMergeRefusal, AMergeWithoutOutputOrStripsIsAUsageError)
{
    auto run = runFramemeld({"merge", dir_->file("top.png")});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_THAT(run.output, HasSubstr("no output file"));
    run = merge({});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_THAT(run.output, HasSubstr("no strips given"));
    run = runFramemeld({"merge", "-o", out_.file("plate.png"), "--rows", "0:3"});
    EXPECT_EQ(run.exitStatus, 2);
}

} // namespace
