// `framemeld align` and --motion through the program as a user runs them: the plate warped with
// the motion file is byte for byte the plate of --align, on one machine or split across a farm;
// the file does not depend on the thread count; and every file that does not fit the run, and
// every command line that contradicts it, is refused before the render with nothing written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "MovingClip.h"

using namespace framemeld::cli::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string> &more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// `text` with its first `from` replaced by `to`.
std::string edited(std::string text, const std::string &from, const std::string &to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(MotionFileEndToEnd, ThePlateWarpedWithTheFileIsThePlateOfAlign)
{
    TempDir in;
    TempDir out;
    writeMovingClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    const std::string motion = out.file("motion.json");

    const auto aligned = runFramemeld({"align", shot, "-o", motion});
    ASSERT_EQ(aligned.exitStatus, 0) << aligned.output;
    EXPECT_THAT(aligned.output, HasSubstr("framemeld: wrote " + motion +
                                          ": 9 frames registered to frame 4 (similarity, 1 pass"));
    EXPECT_THAT(aligned.output, HasSubstr("pixels of motion\n"));
    EXPECT_THAT(out.entries(), ElementsAre("motion.json")); // nothing but the file
    const std::string file = fileBytes(motion);
    EXPECT_THAT(file, HasSubstr("{\"framemeld_motion\": 1, \"model\": \"similarity\", \"width\": "
                                "240, \"height\": 180, \"reference\": 4, "));
    EXPECT_THAT(file, HasSubstr("\"still\": false"));

    const auto fromFile =
        runFramemeld({shot, "-o", out.file("file.png"), "--motion", motion, "--json", "-q"});
    ASSERT_EQ(fromFile.exitStatus, 0) << fromFile.output;
    const auto direct =
        runFramemeld({shot, "-o", out.file("direct.png"), "--align", "similarity", "--json", "-q"});
    ASSERT_EQ(direct.exitStatus, 0) << direct.output;
    EXPECT_TRUE(fileBytes(out.file("file.png")) == fileBytes(out.file("direct.png")));
    // --json reports the file's alignment as --align reports its own.
    EXPECT_EQ(transformsOf(fromFile.output), transformsOf(file));
    EXPECT_EQ(transformsOf(fromFile.output), transformsOf(direct.output));
    EXPECT_THAT(fromFile.output, HasSubstr("\"model\": \"similarity\", \"reference\": 4"));

    // The render warps with what the file says, not with a registration of its own: with
    // every matrix made the identity, the frames stay as they are, as without --align.
    std::string unmoved = file;
    const std::string key = "\"frame_to_reference\": [";
    for (auto at = unmoved.find(key); at != std::string::npos; at = unmoved.find(key, at + 1)) {
        const auto open = at + key.size() - 1;
        unmoved.replace(open, unmoved.find(']', open) + 1 - open, "[1, 0, 0, 0, 1, 0, 0, 0, 1]");
    }
    writeText(out.file("unmoved.json"), unmoved);
    const auto fromUnmoved = runFramemeld({shot, "-o", out.file("unmoved.png"), "--motion",
                                           out.file("unmoved.json"), "--json", "-q"});
    ASSERT_EQ(fromUnmoved.exitStatus, 0) << fromUnmoved.output;
    EXPECT_EQ(transformsOf(fromUnmoved.output),
              std::vector<std::vector<double>>(9, {1, 0, 0, 0, 1, 0, 0, 0, 1}));
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("none.png"), "-q"}).exitStatus, 0);
    EXPECT_TRUE(fileBytes(out.file("unmoved.png")) == fileBytes(out.file("none.png")));
    EXPECT_TRUE(fileBytes(out.file("unmoved.png")) != fileBytes(out.file("direct.png")));

    // Another model and reference, given again to the render: the same as they agree.
    const std::string translation = out.file("translation.json");
    ASSERT_EQ(runFramemeld({"align", shot, "-o", translation, "--align", "translation",
                            "--reference", "0", "-q"})
                  .exitStatus,
              0);
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("t-file.png"), "--motion", translation, "--align",
                            "translation", "--reference", "0", "-q"})
                  .exitStatus,
              0);
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("t-direct.png"), "--align", "translation",
                            "--reference", "0", "-q"})
                  .exitStatus,
              0);
    EXPECT_TRUE(fileBytes(out.file("t-file.png")) == fileBytes(out.file("t-direct.png")));
    EXPECT_TRUE(fileBytes(out.file("t-file.png")) != fileBytes(out.file("file.png")));
}

TEST(MotionFileEndToEnd, AStillClipsFileHoldsTheIdentityAndRendersThePlateOfAlignNone)
{
    TempDir in;
    TempDir out;
    writeMovingClip(in, std::vector<Shift>(5, Shift{0, 0}));
    const std::string shot = in.file("shot.%d.png");
    const auto aligned = runFramemeld(
        {"align", shot, "-o", out.file("m.json"), "--align", "perspective", "--every", "2"});
    ASSERT_EQ(aligned.exitStatus, 0) << aligned.output;
    EXPECT_THAT(aligned.output, HasSubstr("3 frames registered to frame 2 (perspective"));
    EXPECT_THAT(aligned.output, HasSubstr("a still clip, which a render leaves unwarped"));
    const std::string file = fileBytes(out.file("m.json"));
    EXPECT_THAT(file, HasSubstr("\"still\": true"));
    for (const auto &m : transformsOf(file)) {
        EXPECT_EQ(m, (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    }
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("file.png"), "--every", "2", "--motion",
                            out.file("m.json"), "-q"})
                  .exitStatus,
              0);
    ASSERT_EQ(runFramemeld({shot, "-o", out.file("none.png"), "--every", "2", "-q"}).exitStatus, 0);
    EXPECT_TRUE(fileBytes(out.file("file.png")) == fileBytes(out.file("none.png")));
}

TEST(MotionFileEndToEnd, TheFileIsTheSameOnAnyThreadCountAndAFarmOfItMergesToTheSingleRun)
{
    TempDir in;
    TempDir out;
    writeMovingClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    const std::string motion = out.file("m.json");
    ASSERT_EQ(runFramemeld({"align", shot, "-o", motion, "--threads", "1", "-q"}).exitStatus, 0);
    ASSERT_EQ(runFramemeld({"align", shot, "-o", out.file("two.json"), "--threads", "2", "-q"})
                  .exitStatus,
              0);
    EXPECT_EQ(fileBytes(out.file("two.json")), fileBytes(motion));

    const std::vector<std::string> render{shot, "--motion", motion, "-q"};
    const auto run = [&](const std::vector<std::string> &args) {
        const auto report = runFramemeld(with(render, args));
        EXPECT_EQ(report.exitStatus, 0) << report.output;
    };
    run({"-o", out.file("single.png")});
    run({"-o", out.file("top.png"), "--rows", "0:70"});
    run({"-o", out.file("middle.png"), "--rows", "70:140", "--memory", "1M"});
    run({"-o", out.file("bottom.png"), "--rows", "140:180", "--threads", "1"});
    const auto merged = runFramemeld({"merge", "-o", out.file("merged.png"), out.file("bottom.png"),
                                      out.file("top.png"), out.file("middle.png"), "-q"});
    ASSERT_EQ(merged.exitStatus, 0) << merged.output;
    EXPECT_TRUE(fileBytes(out.file("merged.png")) == fileBytes(out.file("single.png")));

    // A node that registered for itself warps as the file does; one that warped otherwise, or
    // not at all, would leave a seam: its strip is not merged.
    const auto node = [&](const std::vector<std::string> &args) {
        const auto report = runFramemeld(
            with({shot, "-o", out.file("other.png"), "--rows", "140:180", "-q"}, args));
        EXPECT_EQ(report.exitStatus, 0) << report.output;
        return runFramemeld({"merge", "-o", out.file("seam.png"), out.file("top.png"),
                             out.file("middle.png"), out.file("other.png"), "-q"});
    };
    EXPECT_EQ(node({"--align", "similarity"}).exitStatus, 0);
    EXPECT_TRUE(fileBytes(out.file("seam.png")) == fileBytes(out.file("single.png")));
    std::remove(out.file("seam.png").c_str());
    for (const std::vector<std::string> &other :
         {std::vector<std::string>{"--align", "translation"}, std::vector<std::string>{}}) {
        const auto refused = node(other);
        EXPECT_EQ(refused.exitStatus, 1) << refused.output;
        EXPECT_THAT(refused.output, HasSubstr("were rendered with different settings"));
        EXPECT_FALSE(fileExists(out.file("seam.png")));
    }
}

TEST(MotionFileEndToEnd, AlignRefusesWhatItCannotDoWithNothingWritten)
{
    TempDir in;
    writeMovingClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    TempDir out;
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"align", shot, "-o", out.file("m.json"), "--align", "none"}, 2, "not none"},
        {{"align", shot, "-o", out.file("m.json"), "--rows", "0:10"},
         2,
         "align: --rows is an option of the render, not of align"},
        {{"align", "-o", out.file("m.json")}, 2, "align: no INPUT given"},
        {{"align", shot}, 2, "align: no motion file given: use -o MOTION.json"},
        {{"align", shot, "-o", out.file("m.json"), "--reference", "3", "--every", "2"},
         2,
         "--reference 3 is not a sampled frame"},
        {{"align", shot, "-o", out.file("m.json"), "--end", "40"}, 2, "--end"},
        {{"align", shot, "-o", out.file("no/such/m.json")}, 1, "does not exist"},
        {{"align", in.file("missing.%d.png"), "-o", out.file("m.json")}, 1, "missing.%d.png"},
    };
    for (const Case &refused : cases) {
        const auto report = runFramemeld(refused.args);
        EXPECT_EQ(report.exitStatus, refused.exitStatus) << report.output;
        EXPECT_THAT(report.output, HasSubstr(refused.says));
        EXPECT_THAT(out.entries(), IsEmpty()) << refused.says;
    }
    // --json reports a refusal as the render does.
    const auto json =
        runFramemeld({"align", shot, "-o", out.file("m.json"), "--align", "none", "--json"});
    EXPECT_THAT(json.output, HasSubstr("{\"exit_status\": 2, \"message\": \"align registers"));
}

// A farm's align step is as long as reading the clip: --progress says how far it is, in the
// render's own lines, and changes nothing in the file.
TEST(MotionFileEndToEnd, AlignReportsItsPhasesWithProgressLines)
{
    TempDir in;
    writeMovingClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    TempDir out;
    const auto quiet = runFramemeld({"align", shot, "-o", out.file("quiet.json"), "-q"});
    ASSERT_EQ(quiet.exitStatus, 0) << quiet.output;
    const auto told =
        runFramemeld({"align", shot, "-o", out.file("told.json"), "--progress", "--threads", "2"});
    ASSERT_EQ(told.exitStatus, 0) << told.output;
    EXPECT_THAT(told.output, testing::ContainsRegex("progress percent=0 phase=reading-frames "));
    EXPECT_THAT(told.output, testing::ContainsRegex("progress percent=100 phase=reading-frames "
                                                    "frames_read=9 frames=9 "));
    EXPECT_THAT(told.output, testing::ContainsRegex("progress percent=0 phase=registering "));
    EXPECT_THAT(told.output, testing::ContainsRegex("progress percent=100 phase=registering "));
    // Registering comes after the reading, and the summary after both.
    EXPECT_LT(told.output.find("phase=reading-frames"), told.output.find("phase=registering"));
    EXPECT_LT(told.output.rfind("phase=registering"), told.output.find("framemeld: wrote"));
    EXPECT_EQ(fileBytes(out.file("told.json")), fileBytes(out.file("quiet.json")));
}

TEST(MotionFileEndToEnd, ARenderRefusesAFileThatDoesNotFitWithNothingWritten)
{
    TempDir in;
    writeMovingClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    TempDir files;
    const std::string motion = files.file("m.json");
    ASSERT_EQ(runFramemeld({"align", shot, "-o", motion, "-q"}).exitStatus, 0);
    const std::string good = fileBytes(motion);
    const std::string identity = "[1, 0, 0, 0, 1, 0, 0, 0, 1]";
    // The first matrix that is not the reference's.
    const std::string first = "\"frame\": 0, \"frame_to_reference\": [";
    const auto firstMatrix = good.find(first) + first.size() - 1;
    const std::string moved =
        good.substr(firstMatrix, good.find(']', firstMatrix) + 1 - firstMatrix);

    struct Case {
        std::string name;
        std::string text; // empty: no file of that name at all
        std::vector<std::string> args;
        int exitStatus;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"gone.json", "", {}, 1, "gone.json: cannot read the motion file (No such file"},
        {"cut.json", good.substr(0, 100), {}, 1, "cut.json:1:101: the document ends inside"},
        {"garbage.json", good + "}", {}, 1, "after the document's value"},
        {"v2.json",
         edited(good, "\"framemeld_motion\": 1", "\"framemeld_motion\": 2"),
         {},
         1,
         "v2.json:1:22: version 2, where this framemeld reads version 1"},
        {"nomodel.json",
         edited(good, "\"model\": \"similarity\", ", ""),
         {},
         1,
         "nomodel.json:1:1: the document has no \"model\""},
        {"size.json",
         edited(good, "\"width\": 240", "\"width\": 320"),
         {},
         1,
         "size.json: the motion file is of 320x180 frames, and this clip's are 240x180"},
        {"ref.json",
         edited(good, "\"reference\": 4", "\"reference\": 12"),
         {},
         1,
         "ref.json:1:90: the reference, frame 12, is none of the frames listed"},
        {"singular.json",
         edited(good, moved, "[1, 2, 3, 2, 4, 6, 0, 0, 1]"),
         {},
         1,
         "singular.json:2:38: frame 0: the matrix cannot be inverted"},
        {"nan.json",
         edited(good, moved, "[1, 0, null, 0, 1, 0, 0, 0, 1]"),
         {},
         1,
         "frame 0: \"frame_to_reference\" holds null where a finite number must be"},
        {"short.json",
         edited(good, moved, "[1, 0, 0, 0, 1, 0, 0, 0]"),
         {},
         1,
         "holds 8 values, not the 9 of a 3x3 matrix"},
        {"moved.json",
         edited(good, "\"frame\": 4, \"frame_to_reference\": " + identity,
                "\"frame\": 4, \"frame_to_reference\": " + moved),
         {},
         1,
         "frame 4 is the reference, and its matrix is not the identity"},
        {"m.json",
         good,
         {"--every", "2"},
         2,
         "m.json: the motion file holds other frames than this run samples; it has frames 1, 3, "
         "5, 7 that this run does not sample (give the same --start, --end, --every or --frames "
         "as to `framemeld align`)"},
        {"m.json", good, {"--end", "7"}, 2, "it has frame 8 that this run does not sample"},
        {"m.json",
         good,
         {"--align", "perspective"},
         2,
         "--align perspective differs from the model of " + motion + ", similarity"},
        {"m.json", good, {"--align", "none"}, 2, "give one of the two"},
        {"m.json",
         good,
         {"--reference", "0"},
         2,
         "--reference 0 differs from the reference of " + motion + ", frame 4"},
        // The file's warp leaves uncovered pixels held out, as --align's does, and names itself.
        {"m.json",
         good,
         {"--depth", "16", "--divergence", "100"},
         2,
         "--motion (pixels a warped frame does not cover are held out): at Divergence 100 a "
         "16-bit render can keep at most 7 sampled frames apart, and this run samples 9"},
    };
    TempDir out;
    for (const Case &refused : cases) {
        const std::string path = files.file(refused.name);
        if (!refused.text.empty() && refused.name != "m.json") {
            writeText(path, refused.text);
        }
        const auto report =
            runFramemeld(with({shot, "-o", out.file("plate.png"), "--motion", path}, refused.args));
        EXPECT_EQ(report.exitStatus, refused.exitStatus) << report.output;
        EXPECT_THAT(report.output, HasSubstr(refused.says)) << refused.name;
        EXPECT_THAT(out.entries(), IsEmpty()) << refused.name;
    }
    EXPECT_EQ(fileBytes(motion), good); // a render only reads it
}

// Registration holds every frame's grey proxy at once, before the frames themselves: a budget
// that holds the frames but not that is said, and a motion file made elsewhere gets past it with
// the same plate.
TEST(MotionFileEndToEnd, ABudgetTooSmallForRegistrationIsSaidAndAMotionFileGetsPastIt)
{
    TempDir in;
    TempDir out;
    writeMovingClip(in, kHandheld);
    const std::string shot = in.file("shot.%d.png");
    const std::string motion = out.file("motion.json");
    ASSERT_EQ(runFramemeld({"align", shot, "-o", motion, "-q"}).exitStatus, 0);
    const std::vector<std::string> tight = {"--memory", "1500K", "--threads", "2", "-q"};

    const auto refused =
        runFramemeld(with({shot, "-o", out.file("plate.png"), "--align", "similarity"}, tight));
    EXPECT_EQ(refused.exitStatus, 1) << refused.output;
    EXPECT_THAT(refused.output, HasSubstr("registering 9 frames holds their grey proxies"));
    EXPECT_THAT(refused.output, HasSubstr("--motion"));
    EXPECT_THAT(out.entries(), ElementsAre("motion.json"));

    const auto fromFile =
        runFramemeld(with({shot, "-o", out.file("plate.png"), "--motion", motion}, tight));
    ASSERT_EQ(fromFile.exitStatus, 0) << fromFile.output;
    ASSERT_EQ(
        runFramemeld({shot, "-o", out.file("roomy.png"), "--align", "similarity", "-q"}).exitStatus,
        0);
    EXPECT_TRUE(fileBytes(out.file("plate.png")) == fileBytes(out.file("roomy.png")));
}

} // namespace
