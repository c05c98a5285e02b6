// The two ways a run shows its progress on stderr: the bar a person watches, held to a few
// redraws a second, and the lines a render manager parses, one per step. Both take a clock, so
// the tests say when time passes instead of waiting for it.
#include "cli/app/ProgressBar.h"
#include "cli/app/ProgressLines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

using framemeld::cli::phaseWord;
using framemeld::cli::ProgressBar;
using framemeld::cli::ProgressLines;

namespace {

// A stream whose text the test reads back.
class CapturedStream {
public:
    CapturedStream() : stream_(open_memstream(&buffer_, &size_)) {}
    ~CapturedStream()
    {
        std::fclose(stream_);
        std::free(buffer_);
    }
    CapturedStream(const CapturedStream &) = delete;
    CapturedStream &operator=(const CapturedStream &) = delete;

    std::FILE *stream() { return stream_; }
    std::string text()
    {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }

private:
    char *buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *stream_;
};

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::size_t redraws(const std::string &text)
{
    std::size_t count = 0;
    for (const char c : text) {
        count += c == '\r' ? 1 : 0;
    }
    return count;
}

TEST(ProgressBar, RedrawsAFewTimesASecondHoweverOftenItIsFed)
{
    CapturedStream out;
    double now = 100.0;
    {
        ProgressBar bar(out.stream(), true, [&now] { return now; });
        bar.startPhase("Rendering");
        // A thousand reports at one moment: the phase's start is all that shows.
        for (int i = 1; i <= 1000; ++i) {
            bar.advance(i / 2000.0);
        }
        EXPECT_EQ(redraws(out.text()), 1U);
        // Time passes in steps shorter than the redraw interval: one redraw per interval.
        for (int step = 1; step <= 40; ++step) {
            now += ProgressBar::kRedrawSeconds / 4;
            bar.advance(0.5 + step / 100.0);
        }
        EXPECT_EQ(redraws(out.text()), 1U + 10U);
        // The end shows even when it comes within the interval.
        bar.advance(1.0);
        bar.finish();
    }
    const std::string text = out.text();
    EXPECT_EQ(redraws(text), 12U);
    EXPECT_THAT(text, testing::EndsWith("100%\x1b[K\n"));
    // A six-second run of a thousand reports a phase stays well under a kilobyte a second.
    EXPECT_LT(text.size(), 12U * 80U);
}

TEST(ProgressBar, ADisabledBarWritesNothing)
{
    CapturedStream out;
    {
        ProgressBar bar(out.stream(), false, [] { return 0.0; });
        bar.startPhase("Reading frames");
        bar.advance(0.5);
        bar.finish();
    }
    EXPECT_EQ(out.text(), "");
}

TEST(ProgressLines, OneLinePerWholePercentOfEachPhaseWithFramesAndElapsedTime)
{
    CapturedStream out;
    double now = 50.0;
    ProgressLines lines(out.stream(), [&now] { return now; });
    lines.framesRead(0, 400);
    lines.startPhase("Reading frames");
    for (int frame = 1; frame <= 400; ++frame) {
        now += 0.01;
        lines.framesRead(frame, 400);
        lines.advance(frame / 400.0);
    }
    lines.startPhase("Rendering");
    // Rows of a render report far more often than a percent changes, and out of order from
    // several threads; no line goes back.
    for (int row = 1; row <= 1000; ++row) {
        lines.advance(row / 1000.0);
        lines.advance((row - 1) / 1000.0);
    }
    lines.finish();

    const std::vector<std::string> printed = linesOf(out.text());
    ASSERT_EQ(printed.size(), 2U * 101U) << "a line at the start of each phase and per percent";
    const std::regex shape("framemeld: progress percent=([0-9]+) phase=([a-z-]+) "
                           "frames_read=([0-9]+) frames=400 elapsed=([0-9]+\\.[0-9]{2})");
    int previousPercent = -1;
    std::string previousPhase;
    for (const std::string &line : printed) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int percent = std::stoi(match[1]);
        if (match[2] == previousPhase) {
            EXPECT_EQ(percent, previousPercent + 1) << line;
        } else {
            EXPECT_EQ(percent, 0) << line;
        }
        previousPercent = percent;
        previousPhase = match[2];
    }
    EXPECT_EQ(printed[0], "framemeld: progress percent=0 phase=reading-frames frames_read=0 "
                          "frames=400 elapsed=0.00");
    EXPECT_EQ(printed[50], "framemeld: progress percent=50 phase=reading-frames "
                           "frames_read=200 frames=400 elapsed=2.00");
    EXPECT_EQ(printed.back(), "framemeld: progress percent=100 phase=rendering "
                              "frames_read=400 frames=400 elapsed=4.00");
}

TEST(ProgressLines, FinishCompletesAPhaseWhoseLastStepWasShortOfTheWhole)
{
    CapturedStream out;
    ProgressLines lines(out.stream(), [] { return 0.0; });
    lines.startPhase("Reading and rendering");
    lines.advance(0.995);
    lines.finish();
    lines.finish(); // nothing more
    const std::vector<std::string> printed = linesOf(out.text());
    ASSERT_EQ(printed.size(), 3U);
    EXPECT_THAT(printed[1], testing::HasSubstr("percent=99 phase=reading-and-rendering"));
    EXPECT_THAT(printed[2], testing::HasSubstr("percent=100 phase=reading-and-rendering"));
}

TEST(ProgressLines, PhaseLabelsBecomeSingleWords)
{
    EXPECT_EQ(phaseWord("Reading and rendering"), "reading-and-rendering");
    EXPECT_EQ(phaseWord("  Écrire: the plate! "), "crire-the-plate");
    EXPECT_EQ(phaseWord("--"), "unnamed");
}

} // namespace
