// The run called as a library, the way a pipeline or a binding calls it: the same plate, report
// and refusals as the command line, progress through the caller's sink, a cancel through the
// caller's flag.
#include "cli/job/RenderJob.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/job/MergeJob.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

// A grey background with a bright square that moves through three of six frames.
std::string writeClip(const TempDir &dir)
{
    for (int f = 0; f < 6; ++f) {
        std::vector<std::uint8_t> rgb(24 * 16 * 3, 70);
        if (f % 2 == 1) {
            for (int y = 4; y < 10; ++y) {
                for (int x = 3 * f; x < 3 * f + 6; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        rgb[static_cast<std::size_t>((y * 24 + x) * 3 + c)] = 250;
                    }
                }
            }
        }
        test::writeImage(dir.file("shot." + std::to_string(1001 + f) + ".png"), 24, 16, 3,
                         OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, rgb.data());
    }
    return dir.file("shot.####.png");
}

std::string contents(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string withoutTimes(const std::string &json)
{
    return std::regex_replace(json, std::regex("\"seconds\": \\{[^}]*\\}"), "\"seconds\": {}");
}

class RecordedProgress final : public JobProgress {
public:
    void startPhase(const std::string &label) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        phases.push_back(label);
    }
    void advance(double done) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        outOfRange = outOfRange || done < 0.0 || done > 1.0;
        last = done;
    }
    void framesRead(long long read, long long sampled) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        lastRead = std::max(lastRead, read); // decoding threads report out of order
        lastSampled = sampled;
    }
    void finish() override { finished = true; }

    std::vector<std::string> phases;
    long long lastRead = -1;
    long long lastSampled = -1;
    double last = -1;
    bool outOfRange = false;
    std::atomic<bool> finished{false};

private:
    std::mutex mutex_;
};

RenderJobSpec specFor(const std::string &input, const std::string &output)
{
    RenderJobSpec spec;
    spec.input = input;
    spec.output = output;
    spec.plugin = test::modulePath();
    spec.threads = 2;
    return spec;
}

TEST(RenderJob, GivesTheCommandLinesPlateAndReport)
{
    TempDir in, out;
    const std::string clip = writeClip(in);
    RenderJobSpec spec = specFor(clip, out.file("job.png"));
    spec.sliders.start = 1002;
    RecordedProgress progress;
    const RunReport report = RenderJob(spec).run(JobControl{&progress, nullptr});
    ASSERT_EQ(report.exitStatus, kExitOk) << report.message;
    EXPECT_EQ(report.plateWidth, 24);
    ASSERT_TRUE(report.plan);
    EXPECT_EQ(report.plan->frames.size(), 5u);
    EXPECT_TRUE(report.divergenceAuto);
    EXPECT_EQ(progress.phases, (std::vector<std::string>{"Reading frames", "Rendering"}));
    EXPECT_EQ(progress.last, 1.0);
    EXPECT_FALSE(progress.outOfRange);
    EXPECT_EQ(progress.lastRead, 5);
    EXPECT_EQ(progress.lastSampled, 5);
    EXPECT_TRUE(progress.finished);

    const auto cli =
        test::runFramemeld({clip, "-o", out.file("cli.png"), "--start", "1002", "--plugin",
                            test::modulePath(), "--threads", "2", "--json", "-q"});
    ASSERT_EQ(cli.exitStatus, 0) << cli.output;
    EXPECT_EQ(contents(out.file("job.png")), contents(out.file("cli.png")));
    std::string json = report.json();
    json = std::regex_replace(json, std::regex("job\\.png"), "cli.png");
    EXPECT_EQ(withoutTimes(json), withoutTimes(cli.output));
}

TEST(RenderJob, RefusalsComeBackInTheReportWithTheirExitStatus)
{
    TempDir in, out;
    const std::string clip = writeClip(in);
    RenderJobSpec spec = specFor(clip, out.file("plate.png"));
    spec.sliders.divergence = SliderChoice::of(500);
    const RunReport outside = RenderJob(spec).run();
    EXPECT_EQ(outside.exitStatus, kExitUsage);
    EXPECT_THAT(outside.message, HasSubstr("outside the valid range of \"Divergence\""));

    const RunReport missing = RenderJob(specFor(in.file("none.####.png"), out.file("p.png"))).run();
    EXPECT_EQ(missing.exitStatus, kExitFailure);
    EXPECT_FALSE(missing.message.empty());
    EXPECT_THAT(out.entries(), IsEmpty());
}

TEST(RenderJob, ACancelFlagSetBeforeTheRunStopsItWithNothingWritten)
{
    TempDir in, out;
    const std::string clip = writeClip(in);
    std::atomic<bool> cancel{true};
    const RunReport report =
        RenderJob(specFor(clip, out.file("plate.png"))).run(JobControl{nullptr, &cancel});
    EXPECT_EQ(report.exitStatus, kExitCancelled);
    EXPECT_EQ(report.message, "cancelled; no output written");
    EXPECT_THAT(out.entries(), IsEmpty());
}

TEST(RenderJob, StripsRenderedAsJobsMergeIntoTheWholePlate)
{
    TempDir in, out;
    const std::string clip = writeClip(in);
    ASSERT_EQ(RenderJob(specFor(clip, out.file("whole.png"))).run().exitStatus, kExitOk);
    std::vector<std::string> strips;
    for (const RowSpan rows : {RowSpan{0, 7}, RowSpan{7, 16}}) {
        RenderJobSpec spec = specFor(clip, out.file("rows" + std::to_string(rows.top) + ".png"));
        spec.rows = rows;
        ASSERT_EQ(RenderJob(spec).run().exitStatus, kExitOk);
        strips.push_back(spec.output);
    }
    const RunReport merged = MergeJob(MergeJobSpec{out.file("merged.png"), strips}).run();
    ASSERT_EQ(merged.exitStatus, kExitOk) << merged.message;
    EXPECT_EQ(merged.stripsMerged, 2);
    EXPECT_EQ(contents(out.file("merged.png")), contents(out.file("whole.png")));
}

} // namespace
