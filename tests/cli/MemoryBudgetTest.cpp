// The memory budget: sizes as users write them, the limits a process really has (cgroup v1 and
// v2 files, /proc/meminfo), and how a budget becomes a strip height.
#include "cli/MemoryBudget.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CliTestSupport.h"
#include "cli/CliError.h"
#include "cli/StripPlan.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using testing::HasSubstr;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

void writeFile(const std::string &path, const std::string &text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(MemoryBudget, ReadsSizesWithBinaryUnitsAndRefusesTheRest)
{
    EXPECT_EQ(parseMemorySize("--memory", "512M"), 512 * kMiB);
    EXPECT_EQ(parseMemorySize("--memory", "4G"), 4096 * kMiB);
    EXPECT_EQ(parseMemorySize("--memory", "4gib"), 4096 * kMiB);
    EXPECT_EQ(parseMemorySize("--memory", "1.5G"), 1536 * kMiB);
    EXPECT_EQ(parseMemorySize("--memory", "64K"), 65536u);
    EXPECT_EQ(parseMemorySize("--memory", "800000"), 800000u);
    EXPECT_EQ(parseMemorySize("--memory", "2TB"), 2ull << 40);
    for (const char *bad : {"0", "0M", "0.1", "", "M", "-1G", "4X", "4 G", "G4", "nan", "inf",
                            "1e30", "99999999T", " 4G", "+4G"}) {
        try {
            parseMemorySize("--memory", bad);
            ADD_FAILURE() << "took \"" << bad << "\"";
        } catch (const UsageError &error) {
            EXPECT_THAT(error.what(), HasSubstr("--memory needs a size")) << bad;
        }
    }
}

TEST(MemoryBudget, SizesInMessagesRoundUp)
{
    EXPECT_EQ(memoryText(17), "17 bytes");
    EXPECT_EQ(memoryText(1536), "1.5 KiB");
    EXPECT_EQ(memoryText(512 * kMiB), "512.0 MiB");
    EXPECT_EQ(memoryText(512 * kMiB + 1), "512.1 MiB") << "a quoted minimum must be enough";
    EXPECT_EQ(memoryText(3ull << 40), "3.0 TiB");
}

TEST(MemoryBudget, CgroupVersionTwoTakesTheTightestLimitUpTheTree)
{
    TempDir dir;
    writeFile(dir.file("self"), "0::/jobs/job7/step0\n");
    writeFile(dir.file("root/jobs/memory.max"), "8589934592\n");
    writeFile(dir.file("root/jobs/job7/memory.max"), "1073741824\n");
    writeFile(dir.file("root/jobs/job7/step0/memory.max"), "max\n");
    EXPECT_EQ(cgroupMemoryLimit(dir.file("self"), dir.file("root")), 1024 * kMiB);

    writeFile(dir.file("root/jobs/job7/memory.max"), "max\n");
    writeFile(dir.file("root/jobs/memory.max"), "max\n");
    EXPECT_EQ(cgroupMemoryLimit(dir.file("self"), dir.file("root")), std::nullopt);
}

TEST(MemoryBudget, CgroupVersionOneReadsTheMemoryControllerOnly)
{
    TempDir dir;
    // A container: the process's path is not under the mount, whose root is the container's.
    writeFile(dir.file("self"), "9:name=systemd:/\n5:cpu,cpuacct:/box\n4:memory:/box/task\n0::/\n");
    writeFile(dir.file("root/memory/memory.limit_in_bytes"), "2147483648\n");
    writeFile(dir.file("root/cpu,cpuacct/memory.limit_in_bytes"), "1024\n");
    EXPECT_EQ(cgroupMemoryLimit(dir.file("self"), dir.file("root")), 2048 * kMiB);

    // v1's "unlimited" is a number near 2^63.
    writeFile(dir.file("root/memory/memory.limit_in_bytes"), "9223372036854771712\n");
    EXPECT_EQ(cgroupMemoryLimit(dir.file("self"), dir.file("root")), std::nullopt);
    EXPECT_EQ(cgroupMemoryLimit(dir.file("missing"), dir.file("root")), std::nullopt);
}

TEST(MemoryBudget, AvailableMemoryComesFromMemAvailable)
{
    TempDir dir;
    writeFile(dir.file("meminfo"), "MemTotal:       32000000 kB\nMemFree:          100000 kB\n"
                                   "MemAvailable:   21875436 kB\nBuffers:           12 kB\n");
    EXPECT_EQ(availableMemory(dir.file("meminfo")), 21875436ull * 1024);
    writeFile(dir.file("old"), "MemTotal:       32000000 kB\n");
    EXPECT_EQ(availableMemory(dir.file("old")), std::nullopt);
    EXPECT_EQ(memoryBudget(123456u), 123456u) << "--memory wins";
    EXPECT_GT(memoryBudget(std::nullopt), 0u);
}

StripPlanInput input(int width, int height, PixelDepth depth, int frames, std::uint64_t budget)
{
    StripPlanInput in;
    in.width = width;
    in.height = height;
    in.depth = depth;
    in.frames = frames;
    in.threads = 2;
    in.budget = budget;
    return in;
}

TEST(StripPlan, AClipThatFitsStaysWholeAndOneThatDoesNotGetsTheTallestStrips)
{
    const StripPlanInput whole = input(100, 50, PixelDepth::Bits8, 10, 64 * kMiB);
    const StripPlan fits = planStrips(whole);
    EXPECT_TRUE(fits.wholeClip);
    EXPECT_EQ(fits.rowsPerStrip, 50);
    EXPECT_EQ(fits.decodeThreads, 2);

    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        StripPlanInput tight = input(100, 50, depth, 10, 0);
        tight.budget = planStrips(input(100, 50, depth, 10, 1ull << 40)).wholeClipBytes - 1;
        const StripPlan plan = planStrips(tight);
        EXPECT_FALSE(plan.wholeClip);
        ASSERT_GE(plan.rowsPerStrip, 1);
        EXPECT_LT(plan.rowsPerStrip, 50);
        // The strip height is the largest within the budget: one row more would not fit.
        const std::uint64_t row = worldBytes(100, 1, depth);
        const std::uint64_t fixed = plan.minimumBudget - 11 * row;
        EXPECT_LE(fixed + 11 * row * static_cast<std::uint64_t>(plan.rowsPerStrip), tight.budget);
        EXPECT_GT(fixed + 11 * row * static_cast<std::uint64_t>(plan.rowsPerStrip + 1),
                  tight.budget);
    }
}

TEST(StripPlan, ABudgetBelowOneRowOfEveryFrameNamesTheSmallestThatWorks)
{
    const StripPlan smallest = planStrips(input(4000, 3000, PixelDepth::Float32, 200, 1ull << 40));
    const std::uint64_t minimum = smallest.minimumBudget;
    const StripPlan atMinimum = planStrips(input(4000, 3000, PixelDepth::Float32, 200, minimum));
    EXPECT_FALSE(atMinimum.wholeClip);
    EXPECT_EQ(atMinimum.rowsPerStrip, 1);
    try {
        planStrips(input(4000, 3000, PixelDepth::Float32, 200, minimum - 1));
        FAIL() << "a budget one byte short was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), HasSubstr("cannot hold one row of each of the 200 sampled"));
        EXPECT_THAT(error.what(), HasSubstr("at least " + memoryText(minimum)));
    }
}

TEST(StripPlan, DecodingThreadsShareTheBudgetFrameByFrame)
{
    StripPlanInput in = input(1000, 1000, PixelDepth::Bits8, 100, 0);
    in.threads = 8;
    StripPlanInput roomy = in;
    roomy.budget = 1ull << 40;
    in.budget = planStrips(roomy).minimumBudget;
    const StripPlan plan = planStrips(in);
    const std::uint64_t frame = 1000ull * 1000 * 4;
    EXPECT_EQ(static_cast<std::uint64_t>(plan.decodeThreads), in.budget / frame);
    EXPECT_LE(static_cast<std::uint64_t>(plan.decodeThreads) * frame, in.budget);
    in.budget = 1ull << 40;
    in.frames = 1000000; // too many to hold whole, yet every thread gets its buffer
    EXPECT_EQ(planStrips(in).decodeThreads, 8);
}

} // namespace
