// The framemeld program as scripts and pipelines use it: --version, --json, the numbering of
// sequence frames, "--" and a stdout that cannot be written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "CliTestSupport.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

void writeSequence(const TempDir &dir, const std::string &stem, int first, int frames)
{
    const std::vector<std::uint8_t> rgb(8 * 6 * 3, 90);
    for (int f = 0; f < frames; ++f) {
        writeImage(dir.file(stem + "." + std::to_string(first + f) + ".png"), 8, 6, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
}

std::string quoted(const std::string &word)
{
    std::string text = "'";
    for (char c : word) {
        text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return text + "'";
}

// Runs framemeld with stdout alone piped into a Python check of the JSON it printed; the
// command's exit status is checked by the script too, as `expectedStatus`.
CommandReport checkJson(const std::vector<std::string> &args, int expectedStatus,
                        const std::string &pythonChecks)
{
    std::string command = quoted(framemeldPath());
    for (const std::string &arg : args) {
        command += " " + quoted(arg);
    }
    command += " 2>/dev/null > \"$0\"; status=$?; [ $status -eq " + std::to_string(expectedStatus) +
               " ] || { echo status $status; exit 1; }; " + "python3 -c " +
               quoted("import json,sys; d=json.load(open(sys.argv[1])); " + pythonChecks) +
               " \"$0\"";
    TempDir scratch;
    return runProgram({"sh", "-c", command, scratch.file("out.json")});
}

TEST(CliEveryday, VersionNamesTheToolTheModuleAndOpenImageIO)
{
    const auto run = runFramemeld({"--version"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, StartsWith("framemeld " FRAMEMELD_PROJECT_VERSION "\n"));
    EXPECT_THAT(run.output, HasSubstr("plug-in module: Framemeld 2.2, " + modulePath()));
    EXPECT_THAT(run.output, testing::ContainsRegex("OpenImageIO: [0-9]+\\.[0-9]+.*framemeld-oiio"));

    TempDir dir;
    std::ofstream(dir.file("fake.so")) << "not a module";
    const auto broken = runFramemeld({"--version", "--plugin", dir.file("fake.so")});
    EXPECT_EQ(broken.exitStatus, 1);
    EXPECT_THAT(broken.output, HasSubstr("framemeld: cannot load the plug-in module"));
    const auto missing = runFramemeld({"--version", "--plugin", dir.file("none.so")});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_THAT(missing.output, HasSubstr(dir.file("none.so") + ": no such plug-in module"));
}

TEST(CliEveryday, AFullStdoutIsAFailure)
{
    for (const char *option : {"--help", "--version"}) {
        const auto run =
            runProgram({"sh", "-c", quoted(framemeldPath()) + " " + option + " >/dev/full"});
        EXPECT_EQ(run.exitStatus, 1) << option;
        EXPECT_THAT(run.output, HasSubstr("cannot write to standard output")) << option;
    }
}

TEST(CliEveryday, ASequenceOrAFolderOfItsFilesGoesByTheFileNumbers)
{
    TempDir in, out;
    writeSequence(in, "shot", 1001, 6);
    const auto run = runFramemeld({in.file("shot.####.png"), "-o", out.file("p.png"), "--start",
                                   "1001", "--end", "1004", "--every", "3"});
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_THAT(run.output, HasSubstr("from 2 of 6 frames (every 3rd frame, 1001 to 1004; file "
                                      "numbers 1001 to 1006)"));

    // The same files as a folder carry the same numbers.
    const auto folder = runFramemeld({in.path(), "-o", out.file("q.png"), "--end", "5"});
    EXPECT_EQ(folder.exitStatus, 2);
    EXPECT_THAT(folder.output, HasSubstr("the clip has 6 frames (file numbers 1001 to 1006)"));

    const auto help = runFramemeld({"--help", in.file("shot.####.png")});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_THAT(help.output, HasSubstr("--start and --end take file numbers 1001 to 1006"));
}

TEST(CliEveryday, DoubleDashMakesADashedNameAnInput)
{
    TempDir in, out;
    writeSequence(in, "x", 0, 1);
    std::filesystem::rename(in.file("x.0.png"), in.file("-x.png"));
    const auto run = runProgram({"sh", "-c",
                                 "cd " + quoted(in.path()) + " && " + quoted(framemeldPath()) +
                                     " -q -o " + quoted(out.file("p.png")) + " -- -x.png"});
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(fileExists(out.file("p.png")));
}

TEST(CliEveryday, JsonReportsTheRunAndItsFailures)
{
    if (!haveProgram("python3")) {
        GTEST_SKIP() << "python3 is not installed";
    }
    TempDir in, out;
    writeSequence(in, "shot", 1001, 6);
    const std::string input = in.file("shot.####.png");

    auto run =
        checkJson({input, "-o", out.file("p.png"), "--json", "--start", "1002", "--every", "2",
                   "--divergence", "3.5"},
                  0,
                  "assert d['exit_status'] == 0 and d['message'] is None, d;"
                  "assert d['frames_sampled'] == [1002, 1004, 1006], d;"
                  "assert d['clip'] == {'frames': 6, 'numbering': 'file numbers', "
                  "'first': 1001, 'last': 1006}, d;"
                  "s = d['settings'];"
                  "assert (s['Start Frame'], s['End Frame'], s['Every n-th Frame']) == "
                  "(1, 5, 2), s;"
                  "assert s['Divergence'] == 3.5 and s['Rating Range'] == 1, s;"
                  "assert s['divergence_auto'] is False and s['temporal_noise'] is None;"
                  "assert s['rating_range_auto'] is False, s;"
                  "assert d['plate'] == {'width': 8, 'height': 6, 'render_bits': 8}, d;"
                  "assert set(d['seconds']) == {'read', 'estimate', 'render', 'motion', 'write'};"
                  "assert d['output'].endswith('p.png') and d['input'].endswith('.png')");
    EXPECT_EQ(run.exitStatus, 0) << run.output;

    // Automatic: the Divergence the render used, the noise it came from, and the rule between
    // them (8 bits: one level past 4 sigma).
    run = checkJson({input, "-o", out.file("a.png"), "--json"}, 0,
                    "s = d['settings'];"
                    "assert s['divergence_auto'] is True, s;"
                    "n = s['temporal_noise'];"
                    "assert isinstance(n, (int, float)) and n >= 0, s;"
                    "assert s['Divergence'] == min(100, 1 + round(4 * n)), s;"
                    // Six frames are too few for a Rating Range wider than the plug-in's 1.
                    "assert s['rating_range_auto'] is True and s['Rating Range'] == 1, s");
    EXPECT_EQ(run.exitStatus, 0) << run.output;

    // Failures: a usage error before anything is known, and one found on the clip.
    run = checkJson({"--json", input, "-o", out.file("q.png"), "--every", "x"}, 2,
                    "assert d['exit_status'] == 2 and '--every needs a number' in d['message'];"
                    "assert d['plate'] is None and d['frames_sampled'] is None");
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    run = checkJson({"--json", input, "-o", out.file("q.png"), "--start", "3"}, 2,
                    "assert d['exit_status'] == 2 and 'no file of the clip carries' in "
                    "d['message'];"
                    "assert d['clip']['first'] == 1001 and d['settings'] is None");
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_FALSE(fileExists(out.file("q.png")));
}

} // namespace
