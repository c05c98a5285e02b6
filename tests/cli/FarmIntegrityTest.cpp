// A farm's strips are merged only when they are what their records say and make the plate a
// single run writes: the same bytes (cmp) for EXR and TIFF plates, the footage compared by its
// fingerprint and not by its path, and every strip, record and output that is not right refused
// with nothing written and nothing lost.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Four half-float frames of 24x18 with alpha, something moving through them.
void halfClip(const TempDir &dir, float shift = 0.0f)
{
    for (int f = 0; f < 4; ++f) {
        std::vector<float> values;
        for (int y = 0; y < 18; ++y) {
            for (int x = 0; x < 24; ++x) {
                const bool block = x >= f * 5 && x < f * 5 + 6 && y > 4;
                values.push_back(block ? 0.9f : 0.1f + static_cast<float>(y) / 40 + shift);
                values.push_back(0.3f + static_cast<float>(x) / 80);
                values.push_back(1.5f); // above full scale, as float footage may be
                values.push_back(1.0f - static_cast<float>((x + y) % 5) / 10);
            }
        }
        writeImage(dir.file("shot." + std::to_string(101 + f) + ".exr"), 24, 18, 4,
                   OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT, values.data());
    }
}

const std::vector<std::string> kSettings = {"--divergence", "4", "--threads", "2", "-q"};

CommandReport renderTo(const std::string &input, const std::string &output,
                       std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {input, "-o", output};
    args.insert(args.end(), kSettings.begin(), kSettings.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return runFramemeld(args);
}

TEST(FarmIntegrity, MergesAreTheSingleRunsBytesWhateverPathTheNodesGaveTheFootage)
{
    TempDir in, out;
    halfClip(in);
    const std::string absolute = in.file("shot.###.exr");
    // The second node reaches the same files by another path.
    const std::string other =
        in.path() + "/./../" + in.path().substr(in.path().rfind('/') + 1) + "/shot.%03d.exr";
    for (const std::string ext : {"exr", "tif"}) {
        SCOPED_TRACE(ext);
        ASSERT_EQ(renderTo(absolute, out.file("whole." + ext)).exitStatus, 0);
        ASSERT_EQ(renderTo(absolute, out.file("a." + ext), {"--rows", "0:7"}).exitStatus, 0);
        ASSERT_EQ(renderTo(other, out.file("b." + ext), {"--rows", "7:18"}).exitStatus, 0);
        const auto merged = runFramemeld(
            {"merge", "-o", out.file("merged." + ext), out.file("b." + ext), out.file("a." + ext)});
        ASSERT_EQ(merged.exitStatus, 0) << merged.output;
        // Only the provenance names INPUT: the same text on every node gives the same bytes.
        ASSERT_EQ(renderTo(absolute, out.file("b." + ext), {"--rows", "7:18"}).exitStatus, 0);
        ASSERT_EQ(runFramemeld({"merge", "-o", out.file("merged." + ext), out.file("b." + ext),
                                out.file("a." + ext), "-q"})
                      .exitStatus,
                  0);
        EXPECT_TRUE(fileBytes(out.file("merged." + ext)) == fileBytes(out.file("whole." + ext)));
    }
    // Bands of a memory budget give the single run's bytes too.
    ASSERT_EQ(renderTo(absolute, out.file("bands.exr"), {"--memory", "40K"}).exitStatus, 0);
    EXPECT_TRUE(fileBytes(out.file("bands.exr")) == fileBytes(out.file("whole.exr")));
}

class FarmMergeIntegrity : public testing::Test {
protected:
    void SetUp() override
    {
        halfClip(in_);
        input_ = in_.file("shot.###.exr");
        ASSERT_EQ(renderTo(input_, strip("a.exr"), {"--rows", "0:9"}).exitStatus, 0);
        ASSERT_EQ(renderTo(input_, strip("b.exr"), {"--rows", "9:18"}).exitStatus, 0);
    }

    std::string strip(const std::string &name) const { return out_.file(name); }

    // The merge fails with status 1, saying `words`, and writes nothing.
    void expectRefused(const std::vector<std::string> &strips, const std::string &words,
                       const std::string &plate = "plate.exr")
    {
        std::vector<std::string> args = {"merge", "-o", out_.file(plate)};
        args.insert(args.end(), strips.begin(), strips.end());
        const auto before = out_.entries();
        const auto report = runFramemeld(args);
        EXPECT_EQ(report.exitStatus, 1) << report.output;
        EXPECT_THAT(report.output, HasSubstr(words));
        EXPECT_EQ(out_.entries(), before);
    }

    TempDir in_, out_;
    std::string input_;
};

TEST_F(FarmMergeIntegrity, AStripThatIsNotTheFileItsRecordDescribesIsRefused)
{
    // Another image of the right size copied over a strip.
    ASSERT_EQ(
        renderTo(input_, strip("other.exr"), {"--rows", "0:9", "--divergence", "9"}).exitStatus, 0);
    const std::string kept = fileBytes(strip("a.exr"));
    std::ofstream(strip("a.exr"), std::ios::binary) << fileBytes(strip("other.exr"));
    expectRefused({strip("a.exr"), strip("b.exr")}, "a.exr: the strip is not the file its record "
                                                    "describes");
    std::ofstream(strip("a.exr"), std::ios::binary) << kept;

    // A strip rendered again from changed footage: its record says other frames.
    TempDir changed;
    halfClip(changed, 0.05f);
    ASSERT_EQ(renderTo(changed.file("shot.###.exr"), strip("b.exr"), {"--rows", "9:18"}).exitStatus,
              0);
    expectRefused({strip("a.exr"), strip("b.exr")}, "were rendered from different footage");
}

TEST_F(FarmMergeIntegrity, AStripThatCannotHoldTheRendersSamplesIsRefused)
{
    // 16-bit PNG strips of a 32-bit render, merged into a float plate.
    ASSERT_EQ(renderTo(input_, strip("a.png"), {"--rows", "0:9"}).exitStatus, 0);
    ASSERT_EQ(renderTo(input_, strip("b.png"), {"--rows", "9:18"}).exitStatus, 0);
    expectRefused({strip("a.png"), strip("b.png")},
                  "the strip stores uint16 samples, which cannot hold the half plate");
    // Into a PNG plate they are what a single run writes.
    const auto png =
        runFramemeld({"merge", "-o", out_.file("plate.png"), strip("a.png"), strip("b.png"), "-q"});
    EXPECT_EQ(png.exitStatus, 0) << png.output;
}

TEST_F(FarmMergeIntegrity, TheOutputMayBeNoneOfItsOwnStripsByAnyName)
{
    const std::string before = fileBytes(strip("a.exr"));
    expectRefused({strip("a.exr"), strip("b.exr")}, "one of the files being merged", "a.exr");
    ASSERT_EQ(symlink(strip("a.exr").c_str(), out_.file("link.exr").c_str()), 0);
    expectRefused({strip("a.exr"), strip("b.exr")}, "one of the files being merged", "link.exr");
    ASSERT_EQ(link(strip("b.exr").c_str(), out_.file("hard.exr").c_str()), 0);
    expectRefused({strip("a.exr"), strip("b.exr")}, "one of the files being merged", "hard.exr");
    EXPECT_TRUE(fileBytes(strip("a.exr")) == before);
}

TEST_F(FarmMergeIntegrity, StripsThatAreNoFilesAndPlatesBeyondTheBudgetAreRefusedUnread)
{
    ASSERT_EQ(std::rename(strip("a.exr").c_str(), strip("kept.exr").c_str()), 0);
    ASSERT_EQ(mkfifo(strip("a.exr").c_str(), 0600), 0);
    expectRefused({strip("a.exr"), strip("b.exr")}, "a.exr: cannot read the strip (it is a FIFO)");
    unlink(strip("a.exr").c_str());
    ASSERT_EQ(std::rename(strip("kept.exr").c_str(), strip("a.exr").c_str()), 0);

    const auto report = runFramemeld(
        {"merge", "-o", out_.file("plate.exr"), strip("a.exr"), strip("b.exr"), "--memory", "2K"});
    EXPECT_EQ(report.exitStatus, 1);
    EXPECT_THAT(report.output, HasSubstr("does not fit the memory budget of 2048 bytes"));
}

TEST(FarmIntegrity, AStripWhoseRecordCannotBeWrittenLeavesTheOldStripInPlace)
{
    TempDir in, out;
    halfClip(in);
    const std::string input = in.file("shot.###.exr");
    const std::string strip = out.file("s.exr");
    std::ofstream(strip) << "an older file";
    ASSERT_EQ(mkdir((strip + ".framemeld-strip.json").c_str(), 0700), 0);
    const auto folder = renderTo(input, strip, {"--rows", "0:9"});
    EXPECT_EQ(folder.exitStatus, 1);
    EXPECT_THAT(folder.output, HasSubstr("cannot write the strip record (it is a folder)"));
    EXPECT_EQ(fileBytes(strip), "an older file");

    const std::string longName = out.file(std::string(240, 'n') + ".exr");
    std::ofstream(longName) << "an older file";
    const auto tooLong = renderTo(input, longName, {"--rows", "0:9"});
    EXPECT_EQ(tooLong.exitStatus, 1);
    EXPECT_THAT(tooLong.output, HasSubstr("name is too long"));
    EXPECT_EQ(fileBytes(longName), "an older file");
    EXPECT_THAT(out.entries(),
                ElementsAre(std::string(240, 'n') + ".exr", "s.exr", "s.exr.framemeld-strip.json"));
}

} // namespace
