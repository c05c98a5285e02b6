// The memory budget: sizes as users write them, the limits a process really has (cgroup v1 and
// v2 files, /proc/meminfo), and how a budget becomes a strip height.
#include "cli/job/MemoryBudget.h"
#include "cli/plan/MemorySize.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/plan/MemoryPlan.h"
#include "render/SmartRender.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::bytesPerPixel;
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
    EXPECT_EQ(parseMemorySize("--memory", "0.5k"), 512u);
    EXPECT_EQ(parseMemorySize("--memory", "1.0009765625K"), 1025u) << "exact, not rounded";
    EXPECT_EQ(parseMemorySize("--memory", "3P"), 3ull << 50);
    // The limit the refusal names is itself taken.
    EXPECT_EQ(parseMemorySize("--memory", "8E"), 1ull << 63);
    EXPECT_EQ(parseMemorySize("--memory", "8EiB"), 1ull << 63);
    // Only DIGITS[.DIGITS][UNIT]: hexadecimal, exponents, a dot alone and blanks are no sizes.
    for (const char *bad : {"0",
                            "0M",
                            "0.1",
                            "",
                            "M",
                            "-1G",
                            "4X",
                            "4 G",
                            "G4",
                            "nan",
                            "inf",
                            "1e30",
                            "99999999T",
                            " 4G",
                            "+4G",
                            "0x10G",
                            "0x1p30",
                            "1e3K",
                            "4G ",
                            "1.",
                            ".5G",
                            "1..5G",
                            "1.5.5G",
                            "8.000000000000000001E",
                            "9E",
                            "9223372036854775809",
                            "99999999999999999999999999E"}) {
        try {
            parseMemorySize("--memory", bad);
            ADD_FAILURE() << "took \"" << bad << "\"";
        } catch (const UsageError &error) {
            EXPECT_THAT(error.what(), HasSubstr("--memory needs a size")) << bad;
        }
    }
    try {
        parseMemorySize("--memory", "9E");
    } catch (const UsageError &error) {
        EXPECT_THAT(error.what(), HasSubstr("(at most 8E)"));
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

MemoryPlanInput input(int width, int height, PixelDepth depth, int frames, std::uint64_t budget)
{
    MemoryPlanInput in;
    in.width = width;
    in.height = height;
    in.depth = depth;
    in.frames = frames;
    in.threads = 2;
    in.fileBytesPerPixel = 3; // 8-bit RGB files
    in.budget = budget;
    return in;
}

std::uint64_t roomy(MemoryPlanInput in, std::uint64_t MemoryPlan::*field)
{
    in.budget = std::uint64_t{1} << 50;
    return planMemory(in).*field;
}

// The plan counts the plug-in's float band store from its own copy of the band height: the tool
// does not include the plug-in's sources, this test includes both.
TEST(MemoryPlan, CountsTheFloatBandsThePlugInRenders)
{
    EXPECT_EQ(framemeld::cli::kFloatBandRows, ::kFloatBandRows);
    // Beside the plate, a float band holds that many rows of every sampled frame.
    const MemoryPlan floats = planMemory(input(640, 360, PixelDepth::Float32, 7, 1ull << 40));
    EXPECT_EQ(floats.bandFixedBytes - worldBytes(640, 360, PixelDepth::Float32),
              7ull * ::kFloatBandRows * 640 * 16);
}

TEST(MemoryPlan, AClipThatFitsStaysWholeAndOneThatDoesNotGetsTheTallestStrips)
{
    const MemoryPlan fits = planMemory(input(100, 50, PixelDepth::Bits8, 10, 64 * kMiB));
    EXPECT_EQ(fits.storage, FrameStorage::Memory);
    EXPECT_EQ(fits.bandRows, 50);
    EXPECT_EQ(fits.decodeThreads, 2);
    // Ten frames held whole, whatever else the run needs.
    EXPECT_GE(fits.wholeClipBytes, 10 * worldBytes(100, 50, PixelDepth::Bits8));

    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        MemoryPlanInput tight = input(1000, 500, depth, 40, 0);
        tight.budget = roomy(tight, &MemoryPlan::wholeClipBytes) / 2;
        const MemoryPlan plan = planMemory(tight);
        EXPECT_NE(plan.storage, FrameStorage::Memory);
        ASSERT_GE(plan.bandRows, 1);
        EXPECT_LT(plan.bandRows, 500);
        // A row of a strip is a row of every frame and of the output.
        EXPECT_EQ(plan.bandRowBytes, 41 * worldBytes(1000, 1, depth));
        EXPECT_GE(plan.bandFixedBytes, worldBytes(1000, 500, depth)) << "the plate is counted";
        // The strip height is the largest within the budget: one row more would not fit.
        const auto rows = static_cast<std::uint64_t>(plan.bandRows);
        EXPECT_LE(plan.bandFixedBytes + rows * plan.bandRowBytes, tight.budget);
        EXPECT_GT(plan.bandFixedBytes + (rows + 1) * plan.bandRowBytes, tight.budget);
    }
}

TEST(MemoryPlan, ABudgetBelowTheSmallestPlanNamesTheSmallestThatWorks)
{
    // Many frames: one row of each outweighs decoding one frame.
    MemoryPlanInput many = input(4000, 3000, PixelDepth::Float32, 2000, 0);
    // Few large frames: decoding one frame (file, decoded image, buffer) outweighs a strip.
    MemoryPlanInput few = input(4000, 3000, PixelDepth::Bits8, 3, 0);
    few.fileBytesPerPixel = 8; // 16-bit RGBA files
    for (MemoryPlanInput in : {many, few}) {
        const std::uint64_t minimum = roomy(in, &MemoryPlan::minimumBudget);
        in.budget = minimum;
        const MemoryPlan atMinimum = planMemory(in);
        EXPECT_NE(atMinimum.storage, FrameStorage::Memory);
        EXPECT_GE(atMinimum.bandRows, 1);
        EXPECT_LE(
            static_cast<std::uint64_t>(atMinimum.decodeThreads) * 4000 * 3000 *
                (bytesPerPixel(in.depth) + 2 * static_cast<std::uint64_t>(in.fileBytesPerPixel)),
            minimum)
            << "decode buffers within the budget";
        in.budget = minimum - 1;
        try {
            planMemory(in);
            ADD_FAILURE() << "a budget one byte short was taken";
        } catch (const RunError &error) {
            EXPECT_THAT(error.what(), HasSubstr("cannot hold one row of each of the " +
                                                std::to_string(in.frames) + " sampled frames"));
            EXPECT_THAT(error.what(), HasSubstr("at least " + memoryText(minimum)));
        }
    }
    const std::uint64_t fewMinimum = roomy(few, &MemoryPlan::minimumBudget);
    EXPECT_GE(fewMinimum, 4000ull * 3000 * (4 + 2 * 8)) << "buffer, file and decoded image";
    EXPECT_EQ(roomy(many, &MemoryPlan::minimumBudget),
              roomy(many, &MemoryPlan::bandFixedBytes) + roomy(many, &MemoryPlan::bandRowBytes));
}

TEST(MemoryPlan, DecodingThreadsShareTheBudget)
{
    MemoryPlanInput in = input(1000, 1000, PixelDepth::Bits8, 100, 0);
    in.threads = 8;
    const std::uint64_t perThread = 1000ull * 1000 * (4 + 2 * 3);
    in.budget = 3 * perThread + 10;
    ASSERT_NE(planMemory(in).storage, FrameStorage::Memory);
    EXPECT_EQ(planMemory(in).decodeThreads, 3);
    in.budget = std::uint64_t{1} << 40;
    in.frames = 1000000; // too many to hold whole, yet every thread gets its buffer
    EXPECT_EQ(planMemory(in).decodeThreads, 8);
}

} // namespace
