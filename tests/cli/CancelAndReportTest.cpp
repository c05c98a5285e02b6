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

} // namespace
