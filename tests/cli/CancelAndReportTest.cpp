// How a run ends when it is stopped or cannot say how it ended: signals at any point of the run,
// the progress lines a farm reads, and the --json report when stdout will not take it. Every wait
// is on the tool's own output (a progress line, the end of stderr), never on a clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CliTestSupport.h"
#include "RunningFramemeld.h"

using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace {

const char *const kVtest = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

std::string fileText(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// `frames` frames of 32x24 8-bit RGB, shot.1.png (or another extension) ... in `dir`.
void writeShortClip(const TempDir &dir, int frames, const std::string &extension = "png")
{
    constexpr int kWidth = 32;
    constexpr int kHeight = 24;
    for (int f = 1; f <= frames; ++f) {
        std::vector<std::uint8_t> pixels;
        for (int i = 0; i < kWidth * kHeight * 3; ++i) {
            pixels.push_back(static_cast<std::uint8_t>((i * 7 + f * 13) % 251));
        }
        writeImage(dir.file("shot." + std::to_string(f) + "." + extension), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, pixels.data());
    }
}

// The progress lines of `lines` from the one that starts with `marker` on (the marker's own line
// excluded); all of them when `marker` is empty.
std::vector<std::string> progressLinesAfter(const std::vector<std::string> &lines,
                                            const std::string &marker)
{
    std::vector<std::string> after;
    bool seen = marker.empty();
    for (const std::string &line : lines) {
        if (!seen) {
            seen = line.find(marker) != std::string::npos;
        } else if (isProgressLine(line)) {
            after.push_back(line);
        }
    }
    return after;
}

// The run is cancelled once its lines say it is decoding, and must stop within a few of its own
// steps of the signal: the decoders stop before their next frame, wherever the machine's load
// has put them.
TEST(CliEndToEnd, CtrlCCancelsAndLeavesNoOutput)
{
    if (!fileExists(kVtest)) {
        GTEST_SKIP() << kVtest << " is missing (package opencv-doc)";
    }
    TempDir out;
    // Every frame of the clip (795), each line a percent of reading them: the run is always far
    // from its end when the signal comes, however far ahead of the reader the one page of the
    // pipe lets it be.
    RunningFramemeld run({kVtest, "-o", out.file("plate.png"), "--every", "1", "--threads", "2",
                          "--quiet", "--progress"});
    std::vector<std::string> before;
    long long readAtSignal = -1;
    for (std::string line; readAtSignal < 0 && run.nextLine(line);) {
        before.push_back(line);
        if (progressValue(line, "frames_read") >= 8) {
            readAtSignal = progressValue(line, "frames_read");
            ASSERT_EQ(kill(run.pid(), SIGINT), 0);
        }
    }
    ASSERT_GE(readAtSignal, 0) << "the run printed no progress line while reading";
    EXPECT_EQ(run.finish(), 130);
    std::vector<std::string> lines = before;
    lines.insert(lines.end(), run.rest().begin(), run.rest().end());

    // The handler's line marks the signal in the same stream as the steps.
    const std::vector<std::string> after =
        progressLinesAfter(lines, "framemeld: cancelling (Ctrl-C again to stop at once)");
    EXPECT_LE(after.size(), 3U) << "steps after the signal: " << testing::PrintToString(after);
    const std::vector<std::string> all = progressLinesAfter(lines, "");
    ASSERT_FALSE(all.empty());
    EXPECT_LT(progressValue(all.back(), "frames_read"), 795) << all.back();
    EXPECT_THAT(all.back(), HasSubstr("phase=reading-frames")) << "stopped while reading";
    EXPECT_THAT(lines.back(), HasSubstr("cancelled; no output written"));
    EXPECT_THAT(out.entries(), IsEmpty());
}

// A signal that is already there when the program starts (here held back by the mask it
// inherits, the way one sent in its first instants would be) cancels the run as a later one
// does: exit status 130 and the --json object, not death by the signal. SIGTERM is named as such.
TEST(CliSignals, ASignalAtStartUpCancelsWithTheReport)
{
    TempDir in, out, logs;
    writeShortClip(in, 3);
    LaunchOptions launch;
    launch.stdoutTo = LaunchOptions::Stdout::File;
    launch.stdoutFile = logs.file("report.json");
    launch.pendingSignal = SIGTERM;
    RunningFramemeld run({in.file("shot.%d.png"), "-o", out.file("plate.png"), "--json"}, launch);
    EXPECT_EQ(run.finish(), 130);
    const std::string report = fileText(logs.file("report.json"));
    EXPECT_THAT(report, HasSubstr("\"exit_status\": 130, \"message\": \"cancelled; no output "
                                  "written\""));
    std::string messages;
    for (const std::string &line : run.rest()) {
        messages += line + "\n";
    }
    EXPECT_THAT(messages, HasSubstr("cancelling on SIGTERM"));
    EXPECT_THAT(messages, Not(HasSubstr("Ctrl-C")));
    EXPECT_THAT(out.entries(), IsEmpty());
}

// The exit status says what happened to the plate. A --json report that stdout will not take (a
// full device, a closed descriptor, a pipe nobody reads) is said on stderr and changes neither
// the plate nor the status, for a run that wrote its plate and for one that failed.
TEST(CliReport, AStdoutThatWillNotTakeTheReportChangesNeitherPlateNorStatus)
{
    TempDir in;
    writeShortClip(in, 3);
    using Stdout = LaunchOptions::Stdout;
    for (const Stdout where : {Stdout::Full, Stdout::Closed, Stdout::BrokenPipe}) {
        TempDir out;
        LaunchOptions launch;
        launch.stdoutTo = where;
        RunningFramemeld run({in.file("shot.%d.png"), "-o", out.file("plate.png"), "--json", "-q"},
                             launch);
        EXPECT_EQ(run.finish(), 0) << static_cast<int>(where);
        ASSERT_EQ(run.rest().size(), 1U) << testing::PrintToString(run.rest());
        EXPECT_THAT(run.rest()[0], HasSubstr("cannot write the JSON report to standard output"));
        EXPECT_THAT(run.rest()[0], HasSubstr("the plate was written"));
        EXPECT_TRUE(fileExists(out.file("plate.png"))) << static_cast<int>(where);

        RunningFramemeld failed(
            {in.file("shot.%d.png"), "-o", out.file("plate.png"), "--json", "--end", "99"}, launch);
        EXPECT_EQ(failed.finish(), 2) << static_cast<int>(where);
        ASSERT_EQ(failed.rest().size(), 2U) << testing::PrintToString(failed.rest());
        EXPECT_THAT(failed.rest()[1], HasSubstr("cannot write the JSON report"));
        EXPECT_THAT(failed.rest()[1], Not(HasSubstr("the plate was written")));
    }
}

// A failed run's report holds only what happened: no phase was timed, and the Divergence and
// Rating Range it would have measured or set were never given to the plug-in.
TEST(CliReport, AFailedRunReportsNullForWhatItDidNotReach)
{
    TempDir in, out;
    writeShortClip(in, 4);
    std::ofstream(in.file("shot.3.png"), std::ios::trunc) << "cut";
    for (const std::vector<std::string> &sliders :
         std::vector<std::vector<std::string>>{{}, {"--divergence", "5", "--rating-range", "1"}}) {
        std::vector<std::string> args{in.file("shot.%d.png"), "-o", out.file("plate.png"), "--json",
                                      "-q"};
        args.insert(args.end(), sliders.begin(), sliders.end());
        const CommandReport run = runFramemeld(args);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_THAT(run.output, HasSubstr("\"frames_sampled\": [1, 2, 3, 4]"));
        EXPECT_THAT(run.output, HasSubstr("\"Every n-th Frame\": 1, \"Divergence\": null, "
                                          "\"Rating Range\": null"));
        EXPECT_THAT(run.output, HasSubstr("\"seconds\": null}"));
        EXPECT_THAT(out.entries(), IsEmpty());
    }
}

// --progress gives its lines on a stderr that is no terminal, through each way the frames are
// held (in memory, through the scratch file, read from the files band by band): every phase
// from 0 to 100 percent a step at a time, and every sampled frame read by the end.
TEST(CliProgress, LinesForEveryWayTheFramesAreHeld)
{
    TempDir in;
    writeShortClip(in, 5);
    writeShortClip(in, 5, "tif");
    struct Case {
        std::string input;
        std::vector<std::string> extra;
        std::vector<std::string> phases;
    };
    // 32x24 RGB at 8 bits: 15 KiB of frames, which 12K cannot hold beside the plate. PNG goes
    // through the scratch file, TIFF is read from its files as the strips render.
    const std::vector<Case> cases = {
        {"shot.%d.png", {}, {"reading-frames", "rendering"}},
        {"shot.%d.png", {"--memory", "12K", "--threads", "1"}, {"reading-and-rendering"}},
        {"shot.%d.tif", {"--memory", "12K", "--threads", "1"}, {"reading-and-rendering"}},
    };
    for (const Case &c : cases) {
        TempDir out;
        std::vector<std::string> args{
            in.file(c.input), "-o", out.file("plate.png"), "-q", "--progress", "--divergence", "3"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        RunningFramemeld run(args);
        ASSERT_EQ(run.finish(), 0) << c.input << testing::PrintToString(run.rest());
        const std::vector<std::string> lines = progressLinesAfter(run.rest(), "");
        ASSERT_EQ(lines.size(), run.rest().size()) << "only progress lines with -q";
        std::vector<std::string> phases;
        long long percent = -1;
        for (const std::string &line : lines) {
            const auto at = line.find(" phase=");
            ASSERT_NE(at, std::string::npos) << line;
            const std::string phase = line.substr(at + 7, line.find(' ', at + 7) - at - 7);
            const long long now = progressValue(line, "percent");
            if (phases.empty() || phases.back() != phase) {
                EXPECT_EQ(now, 0) << line;
                phases.push_back(phase);
            } else {
                EXPECT_GT(now, percent) << line;
            }
            percent = now;
            EXPECT_EQ(progressValue(line, "frames"), 5) << line;
            EXPECT_GE(progressValue(line, "elapsed"), 0) << line;
        }
        EXPECT_EQ(phases, c.phases) << c.input;
        EXPECT_EQ(progressValue(lines.back(), "percent"), 100);
        EXPECT_EQ(progressValue(lines.back(), "frames_read"), 5);
        EXPECT_TRUE(fileExists(out.file("plate.png")));
    }
}

} // namespace
