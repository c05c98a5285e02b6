#include "cli/job/MotionFile.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

// Three frames of a 320x240 clip, numbered from 1001, registered to 1003 with matrices whose
// decimal forms need all 17 digits.
AlignmentReport sampleAlignment()
{
    AlignmentReport alignment;
    alignment.model = "perspective";
    alignment.reference = 1003;
    alignment.passes = 2;
    alignment.largestDisplacement = 4.123456789012345;
    alignment.still = false;
    const std::vector<std::array<double, 9>> matrices = {
        {1.0000000000000002, 1.0 / 3.0, -2.5, 2e-17, 0.9999999999999999, 3.0000000000000004, 1e-7,
         -3.3e-8, 1},
        {0.1 + 0.2, 0, 1.5, 0, 1, -0.75, 0, 0, 1},
        {1, 0, 0, 0, 1, 0, 0, 0, 1},
    };
    for (std::size_t k = 0; k < matrices.size(); ++k) {
        AlignedFrameReport frame;
        frame.frame = 1001 + static_cast<long long>(k);
        frame.matrix = matrices[k];
        frame.support = 0.9 - 0.1 * static_cast<double>(k);
        frame.residual = 1.7;
        frame.features = 500;
        frame.matches = 300 - static_cast<int>(k);
        frame.inliers = 250;
        alignment.frames.push_back(frame);
    }
    alignment.frames[2].support = NAN; // written as null, as --json writes it
    return alignment;
}

std::string sampleText()
{
    return motionFileText(sampleAlignment(), 320, 240);
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

// The message parseMotionFile refuses `text` with (a RunError), or "" when it takes it.
std::string refusal(const std::string &text)
{
    try {
        parseMotionFile(text, "m.json");
    } catch (const RunError &error) {
        return error.what();
    }
    return "";
}

MotionRun sampleRun()
{
    MotionRun run;
    run.width = 320;
    run.height = 240;
    run.frames = {1001, 1002, 1003};
    return run;
}

// The failure checkMotionFileFitsRun raises for `run`: its exit status and message.
std::pair<int, std::string> misfit(const MotionRun &run)
{
    const MotionFile file = parseMotionFile(sampleText(), "m.json");
    try {
        checkMotionFileFitsRun(file, "m.json", run);
    } catch (const CliError &error) {
        return {error.exitStatus(), error.what()};
    }
    return {0, ""};
}

TEST(MotionFile, ReadsBackExactlyWhatItWrote)
{
    const AlignmentReport written = sampleAlignment();
    const MotionFile file = parseMotionFile(sampleText(), "m.json");
    EXPECT_EQ(file.model, align::MotionModel::Perspective);
    EXPECT_EQ(file.width, 320);
    EXPECT_EQ(file.height, 240);
    const AlignmentReport &read = file.alignment;
    EXPECT_EQ(read.model, "perspective");
    EXPECT_EQ(read.reference, 1003);
    EXPECT_EQ(read.passes, 2);
    EXPECT_EQ(read.largestDisplacement, written.largestDisplacement);
    EXPECT_FALSE(read.still);
    ASSERT_EQ(read.frames.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(read.frames[k].frame, written.frames[k].frame);
        // Bit for bit: the plate warped with them must be the plate of the registration.
        EXPECT_EQ(read.frames[k].matrix, written.frames[k].matrix) << "frame " << k;
        EXPECT_EQ(read.frames[k].matches, written.frames[k].matches);
        EXPECT_EQ(read.frames[k].inliers, 250);
        EXPECT_EQ(read.frames[k].features, 500);
        EXPECT_EQ(read.frames[k].residual, 1.7);
    }
    EXPECT_EQ(read.frames[0].support, written.frames[0].support);
    EXPECT_TRUE(std::isnan(read.frames[2].support));
    // And what it reads it writes again the same.
    EXPECT_EQ(motionFileText(read, file.width, file.height), sampleText());
}

TEST(MotionFile, RefusesADocumentThatIsNoMotionFileSayingWhere)
{
    const std::string good = sampleText();
    ASSERT_EQ(refusal(good), "");
    struct Case {
        std::string text;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"", "m.json:1:1: no JSON value"},
        {good.substr(0, good.size() / 2), "the document ends inside"},
        {good + "x", "after the document's value"},
        {"[1, 2]", "m.json:1:1: the document is an array, not an object"},
        {edited(good, "\"framemeld_motion\": 1, ", ""), "no \"framemeld_motion\" version"},
        {edited(good, "\"framemeld_motion\": 1", "\"framemeld_motion\": 2"),
         "m.json:1:22: version 2, where this framemeld reads version 1"},
        {edited(good, "\"framemeld_motion\": 1", "\"framemeld_motion\": \"1\""),
         "version a string"},
        {edited(good, "\"perspective\"", "\"affine\""),
         "the model \"affine\" is none of translation"},
        {edited(good, "\"perspective\"", "\"none\""), "the model \"none\" is none of"},
        {edited(good, "\"width\": 320, ", ""), "the document has no \"width\""},
        {edited(good, "\"height\": 240", "\"height\": 240.5"),
         "\"height\" must be a whole number from 1 to 1000000000, not 240.5"},
        {edited(good, "\"still\": false", "\"still\": 0"), "\"still\" is a number, not a boolean"},
        {edited(good, "\"passes\": 2", "\"passes\": 3"), "\"passes\" must be a whole number"},
        {edited(good, "\"frames\": [", "\"frames\": 7, \"x\": ["), "\"frames\" is a number"},
        {edited(good, "\"width\"", "\"height\": 1, \"width\""), "appears twice in one object"},
        {edited(good, "{\"frame\": 1002", "{\"frame\": 1003"),
         "frame 1003 is the reference, and its matrix is not the identity"},
        {edited(good, "{\"frame\": 1002", "{\"frame\": 1001"),
         "frame 1001 is listed twice, with different matrices"},
        {edited(good, "\"frame\": 1001, ", ""), "frames[0] has no \"frame\""},
        {edited(good, "\"inliers\": 250}", "\"inliers\": -1}"), "\"inliers\" must be a whole"},
        {edited(good, "[0.30000000000000004, 0, 1.5, 0, 1, -0.75, 0, 0, 1]",
                "[0.30000000000000004, 0, 1.5, 0, 1, -0.75, 0, 0]"),
         "frame 1002: \"frame_to_reference\" holds 8 values, not the 9 of a 3x3 matrix"},
        {edited(good, "[0.30000000000000004, 0, 1.5, 0, 1, -0.75, 0, 0, 1]",
                "[0.30000000000000004, 0, 1.5, 0, 1, -0.75, 0, null, 1]"),
         "frame 1002: \"frame_to_reference\" holds null where a finite number must be"},
        {edited(good, "[0.30000000000000004, 0, 1.5, 0, 1, -0.75, 0, 0, 1]",
                "[1, 2, 0, 2, 4, 0, 0, 0, 1]"),
         "frame 1002: the matrix cannot be inverted"},
        {edited(good, "[0.30000000000000004, 0, 1.5, 0, 1, -0.75, 0, 0, 1]",
                "[1e308, 0, 0, 0, 1e308, 0, 0, 0, 1e308]"),
         "frame 1002: the matrix cannot be inverted"}, // its determinant is infinite
        {edited(good, "[1, 0, 0, 0, 1, 0, 0, 0, 1]", "[1, 0, 0.5, 0, 1, 0, 0, 0, 1]"),
         "frame 1003 is the reference, and its matrix is not the identity"},
        {edited(good, "\"reference\": 1003", "\"reference\": 1004"),
         "the reference, frame 1004, is none of the frames listed"},
        {edited(good, "\"still\": false", "\"still\": true"),
         "frame 1001: the clip is marked still, so its frames are not warped, yet this "
         "matrix is not the identity"},
        {good.substr(0, good.find("\"frames\"")) + "\"frames\": []}", "\"frames\" lists no frame"},
    };
    for (const Case &bad : cases) {
        const std::string says = refusal(bad.text);
        EXPECT_THAT(says, HasSubstr(bad.says)) << bad.text;
        EXPECT_THAT(says, HasSubstr("m.json:")) << bad.text;
    }
}

TEST(MotionFile, HoldsItsFramesToTheRunsSampledFramesAndOptions)
{
    EXPECT_EQ(misfit(sampleRun()).first, 0);

    MotionRun other = sampleRun();
    other.width = 640;
    EXPECT_EQ(misfit(other),
              std::make_pair(1, std::string("m.json: the motion file is of 320x240 frames, and "
                                            "this clip's are 640x240")));

    other = sampleRun();
    other.frames = {1001, 1003, 1005, 1007};
    const auto [status, message] = misfit(other);
    EXPECT_EQ(status, 2);
    EXPECT_THAT(message, HasSubstr("m.json: the motion file holds other frames than this run "
                                   "samples; it lacks frames 1005, 1007; it has frame 1002 that "
                                   "this run does not sample"));
    EXPECT_THAT(message, HasSubstr("give the same --start, --end, --every or --frames"));
    other.frames = {1001, 1002};
    EXPECT_THAT(misfit(other).second, HasSubstr("it has frame 1003 that this run does not"));
    other.frames = {1003, 1002, 1001};
    EXPECT_THAT(misfit(other).second, HasSubstr("it lists them in another order"));
    other.frames = {1001, 1002, 1003, 1003};
    EXPECT_THAT(misfit(other).second, HasSubstr("it lacks frame 1003 (give"));

    other = sampleRun();
    other.model = align::MotionModel::Similarity;
    EXPECT_EQ(misfit(other), std::make_pair(2, std::string("--align similarity differs from the "
                                                           "model of m.json, perspective (leave "
                                                           "--align out with --motion, or give "
                                                           "the same)")));
    other.model = align::MotionModel::Perspective;
    EXPECT_EQ(misfit(other).first, 0);
    other.reference = 1001;
    EXPECT_EQ(misfit(other).first, 2);
    EXPECT_THAT(misfit(other).second,
                HasSubstr("--reference 1001 differs from the reference of m.json, frame 1003"));
    other.reference = 1003;
    EXPECT_EQ(misfit(other).first, 0);
}

TEST(MotionFile, IsWrittenWholeOrNotAtAllAndReadOnlyFromAPlainFile)
{
    TempDir dir;
    const std::string path = dir.file("m.json");
    writeMotionFile(path, sampleText());
    EXPECT_THAT(dir.entries(), ElementsAre("m.json"));
    EXPECT_EQ(readMotionFile(path).alignment.frames.size(), 3u);
    writeMotionFile(path, "{}\n"); // replaces it
    EXPECT_THAT(dir.entries(), ElementsAre("m.json"));
    EXPECT_THROW(readMotionFile(path), RunError);

    EXPECT_THROW(writeMotionFile(dir.file("no/such/folder/m.json"), sampleText()), RunError);
    EXPECT_THAT(dir.entries(), ElementsAre("m.json"));

    const auto readRefusal = [](const std::string &from) -> std::string {
        try {
            readMotionFile(from);
        } catch (const RunError &error) {
            return error.what();
        }
        return "";
    };
    EXPECT_THAT(readRefusal(dir.file("missing.json")),
                HasSubstr("missing.json: cannot read the motion file (No such file"));
    EXPECT_THAT(readRefusal(dir.path()), HasSubstr("cannot read the motion file (is a folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_THAT(readRefusal(dir.file("fifo")), HasSubstr("cannot read the motion file"));
    {
        std::ofstream big(dir.file("big.json"));
        big.seekp(static_cast<std::streamoff>(kMotionFileMaxBytes));
        big << ' ';
    }
    EXPECT_THAT(readRefusal(dir.file("big.json")), HasSubstr("more than"));
}

} // namespace
