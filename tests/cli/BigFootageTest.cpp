// Footage rendered within a memory budget: through the scratch file and in strips, the plate is
// the whole-frame render's, byte for byte; the scratch file leaves nothing behind on any exit; a
// budget too small is said before any decoding.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "RunningFramemeld.h"
#include "cli/job/MemoryBudget.h"
#include "cli/plan/MemoryPlan.h"
#include "cli/plan/MemorySize.h"

using framemeld::runner::PixelDepth;
using namespace framemeld::cli;
using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 30;
constexpr int kFrames = 7;
constexpr int kRowsPerStrip = 3;

// A still background, a block that moves across it and grain that differs per frame: a plate
// with consensus work in every row.
float sample(int frame, int x, int y, int channel)
{
    if (x >= frame * 5 && x < frame * 5 + 9 && y > 4 && y < 20) {
        return 0.9f - 0.1f * static_cast<float>(channel);
    }
    const float grain = static_cast<float>((x * 7 + y * 13 + frame * 29 + channel * 3) % 11) / 400;
    return 0.2f + 0.02f * static_cast<float>(channel) + static_cast<float>(y) / 60 + grain;
}

void writeClip(const TempDir &dir, const std::string &extension)
{
    for (int f = 0; f < kFrames; ++f) {
        std::vector<float> values;
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                for (int c = 0; c < 4; ++c) {
                    const float v =
                        c == 3 ? 1.0f - static_cast<float>((x + f) % 5) / 10 : sample(f, x, y, c);
                    values.push_back(v);
                    bytes.push_back(static_cast<std::uint8_t>(std::lround(v * 255)));
                }
            }
        }
        const std::string name = dir.file("shot." + std::to_string(10 + f) + "." + extension);
        if (extension == "exr") {
            writeImage(name, kWidth, kHeight, 4, OIIO::TypeDesc::HALF, OIIO::TypeDesc::FLOAT,
                       values.data());
        } else {
            writeImage(name, kWidth, kHeight, 4, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                       bytes.data());
        }
    }
}

MemoryPlanInput clipPlan(PixelDepth depth, int fileBytesPerPixel)
{
    MemoryPlanInput input;
    input.width = kWidth;
    input.height = kHeight;
    input.depth = depth;
    input.frames = kFrames;
    input.threads = 2;
    input.fileBytesPerPixel = fileBytesPerPixel;
    input.budget = std::uint64_t{1} << 40;
    return input;
}

// The budget for the clip above whose strips have kRowsPerStrip rows (or, for footage read from
// its files, one block of `rowBlock` rows), or as few as the smallest budget allows; and that
// strip height.
std::pair<std::string, int> stripBudget(PixelDepth depth, int fileBytesPerPixel, int rowBlock = 0)
{
    MemoryPlanInput input = clipPlan(depth, fileBytesPerPixel);
    input.rowAccess = rowBlock > 0;
    input.rowBlock = std::max(1, rowBlock);
    const MemoryPlan roomy = planMemory(input);
    const std::uint64_t rows = rowBlock > 0 ? static_cast<std::uint64_t>(rowBlock) : kRowsPerStrip;
    // One decoding thread's worth: two would cost more than this small clip held whole.
    input.budget = std::max(roomy.minimumBudget,
                            roomy.bandFixedBytes + roomy.decoderBytes + rows * roomy.bandRowBytes);
    return {std::to_string(input.budget), planMemory(input).bandRows};
}

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Points TMPDIR of the programs this test runs at a folder of its own.
class ScratchFolder {
public:
    ScratchFolder()
    {
        const char *previous = std::getenv("TMPDIR");
        previous_ = previous != nullptr ? previous : "";
        hadPrevious_ = previous != nullptr;
        setenv("TMPDIR", dir_.path().c_str(), 1);
    }
    ~ScratchFolder()
    {
        if (hadPrevious_) {
            setenv("TMPDIR", previous_.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    const TempDir &dir() const { return dir_; }

private:
    TempDir dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// PNG goes through the scratch file; EXR (zip, blocks of 16 rows) is read strip by strip from
// its files, one block a strip, and leaves no scratch file either.
TEST(BigFootage, StripsThroughTheScratchFileOrFromTheFilesGiveTheWholeFramePlate)
{
    struct Case {
        std::string input;
        std::string depth;
        PixelDepth pixels;
        std::string plate;
    };
    const std::vector<Case> cases = {
        {"png", "8", PixelDepth::Bits8, "png"},    {"png", "16", PixelDepth::Bits16, "tif"},
        {"png", "32", PixelDepth::Float32, "tif"}, {"exr", "32", PixelDepth::Float32, "exr"},
        {"exr", "16", PixelDepth::Bits16, "png"},  {"exr", "8", PixelDepth::Bits8, "tif"},
    };
    TempDir pngIn, exrIn;
    writeClip(pngIn, "png");
    writeClip(exrIn, "exr");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input + " at " + c.depth + " bits to " + c.plate);
        const TempDir &in = c.input == "png" ? pngIn : exrIn;
        // RGBA: 8-bit PNG, half EXR (which the plan counts at its float depth)
        const bool exr = c.input == "exr";
        const auto [budget, rows] = stripBudget(c.pixels, exr ? 16 : 4, exr ? 16 : 0);
        ASSERT_LT(rows, kHeight) << "one strip tests nothing";
        const std::string input = in.file("shot.%d." + c.input);
        TempDir out;
        ScratchFolder scratch;
        const std::vector<std::string> common = {
            input, "--depth", c.depth, "--every", "1", "--divergence", "4", "--threads", "2"};
        auto whole = common;
        whole.insert(whole.end(), {"-o", out.file("whole." + c.plate), "-q"});
        auto strips = common;
        strips.insert(strips.end(), {"-o", out.file("strips." + c.plate), "--memory", budget});

        const auto wholeRun = runFramemeld(whole);
        ASSERT_EQ(wholeRun.exitStatus, 0) << wholeRun.output;
        const auto stripRun = runFramemeld(strips);
        ASSERT_EQ(stripRun.exitStatus, 0) << stripRun.output;
        EXPECT_THAT(stripRun.output, HasSubstr((exr ? "read from the files in strips of "
                                                    : "rendered in strips of ") +
                                               std::to_string(rows) + " rows"));

        // Sample for sample first, for a message that says where; then the files themselves.
        int w = 0, h = 0, ch = 0;
        const auto expected = readSamples<float>(out.file("whole." + c.plate), w, h, ch);
        const auto actual = readSamples<float>(out.file("strips." + c.plate), w, h, ch);
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(actual[i], expected[i])
                << "sample " << i % static_cast<std::size_t>(ch) << " of pixel "
                << i / static_cast<std::size_t>(ch) % kWidth << ","
                << i / static_cast<std::size_t>(ch) / kWidth;
        }
        if (c.plate == "png") { // TIFF headers carry the time of writing
            EXPECT_TRUE(fileBytes(out.file("strips." + c.plate)) ==
                        fileBytes(out.file("whole." + c.plate)));
        }
        EXPECT_THAT(scratch.dir().entries(), IsEmpty()) << "scratch left after success";
    }
}

// The summary line that names the Divergence, or "" when there is none.
std::string divergenceLine(const std::string &output)
{
    const auto start = output.find("framemeld: divergence ");
    if (start == std::string::npos) {
        return {};
    }
    return output.substr(start, output.find('\n', start) - start);
}

// `--divergence auto` measures the noise over rows a fixed number apart; through the scratch file
// it reads the same rows back, so the budget changes neither the Divergence nor the plate. The
// frames are large enough that the estimate skips rows, and only the rows it reads are noisy: an
// estimate from other rows, or none, picks another value.
TEST(BigFootage, AutoDivergenceIsTheSameWhateverTheBudget)
{
    constexpr int width = 520;
    constexpr int height = 300;
    constexpr int frames = 6;
    TempDir in;
    std::uint32_t state = 12345;
    for (int f = 0; f < frames; ++f) {
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool block = x >= f * 60 && x < f * 60 + 80 && y > 100 && y < 200;
                for (int c = 0; c < 3; ++c) {
                    state = state * 1664525u + 1013904223u;
                    const int grain = y % 2 == 1 ? static_cast<int>(state >> 29) - 4 : 0;
                    const int value = block ? 230 - 40 * c : 60 + (x + 2 * y + 30 * c) % 120;
                    bytes.push_back(static_cast<std::uint8_t>(value + grain));
                }
            }
        }
        writeImage(in.file("big." + std::to_string(f) + ".png"), width, height, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, bytes.data());
    }
    for (const auto &[bits, depth] : {std::pair<std::string, PixelDepth>{"8", PixelDepth::Bits8},
                                      {"32", PixelDepth::Float32}}) {
        SCOPED_TRACE(bits + " bits");
        MemoryPlanInput plan;
        plan.width = width;
        plan.height = height;
        plan.depth = depth;
        plan.frames = frames;
        plan.threads = 2;
        plan.fileBytesPerPixel = 3;
        plan.budget = std::uint64_t{1} << 40;
        const MemoryPlan roomy = planMemory(plan);
        const std::uint64_t budget =
            std::max(roomy.minimumBudget, roomy.bandFixedBytes + 16 * roomy.bandRowBytes);

        TempDir out;
        ScratchFolder scratch;
        const std::vector<std::string> common = {in.file("big.%d.png"), "--depth", bits,
                                                 "--threads", "2"};
        auto whole = common;
        whole.insert(whole.end(), {"-o", out.file("whole.tif")});
        auto strips = common;
        strips.insert(strips.end(),
                      {"-o", out.file("strips.tif"), "--memory", std::to_string(budget)});
        const auto wholeRun = runFramemeld(whole);
        ASSERT_EQ(wholeRun.exitStatus, 0) << wholeRun.output;
        const auto stripRun = runFramemeld(strips);
        ASSERT_EQ(stripRun.exitStatus, 0) << stripRun.output;
        EXPECT_THAT(stripRun.output, HasSubstr("rendered in strips of"));
        EXPECT_THAT(wholeRun.output, testing::Not(HasSubstr("rendered in strips of")));

        const std::string chosen = divergenceLine(wholeRun.output);
        EXPECT_THAT(chosen, HasSubstr("(auto: temporal noise"));
        // The grain is about 2.3 levels of 255 on the rows read: wider than the noiseless value.
        const std::string noiseless = bits == "8" ? "divergence 5 " : "divergence 1.57 ";
        EXPECT_THAT(chosen, testing::Not(HasSubstr(noiseless)));
        EXPECT_EQ(divergenceLine(stripRun.output), chosen);

        int w = 0, h = 0, ch = 0;
        const auto expected = readSamples<float>(out.file("whole.tif"), w, h, ch);
        const auto actual = readSamples<float>(out.file("strips.tif"), w, h, ch);
        EXPECT_TRUE(actual == expected) << "the plates differ";
        EXPECT_THAT(scratch.dir().entries(), IsEmpty());
    }
}

TEST(BigFootage, ABudgetTooSmallIsSaidBeforeAnyDecodingWithTheSmallestThatWorks)
{
    TempDir in, out;
    writeClip(in, "png");
    // Frame 4 is broken: a run that decoded anything would say so instead.
    std::ofstream(in.file("shot.14.png"), std::ios::trunc) << "broken";
    MemoryPlanInput input = clipPlan(PixelDepth::Bits8, 4);
    input.threads = 1;
    const std::uint64_t minimum = planMemory(input).minimumBudget;

    const auto run = runFramemeld({in.file("shot.%d.png"), "-o", out.file("plate.png"), "--every",
                                   "1", "--threads", "1", "--memory", std::to_string(minimum - 1)});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr("cannot hold one row of each of the 7 sampled frames"));
    EXPECT_THAT(run.output, HasSubstr("at least " + memoryText(minimum)));
    EXPECT_THAT(out.entries(), IsEmpty());

    // The quoted budget is enough (up to the broken frame, which then shows).
    const auto enough =
        runFramemeld({in.file("shot.%d.png"), "-o", out.file("plate.png"), "--every", "1",
                      "--threads", "1", "--memory", std::to_string(minimum)});
    EXPECT_EQ(enough.exitStatus, 1);
    EXPECT_THAT(enough.output, HasSubstr(in.file("shot.14.png")));
}

TEST(BigFootage, BadBudgetsAreUsageErrors)
{
    TempDir in, out;
    writeClip(in, "png");
    for (const char *bad : {"0", "-5M", "12Q", "lots", ""}) {
        const auto run =
            runFramemeld({in.file("shot.%d.png"), "-o", out.file("plate.png"), "--memory", bad});
        EXPECT_EQ(run.exitStatus, 2) << bad << ": " << run.output;
        EXPECT_THAT(run.output, HasSubstr("--memory needs a size such as 512M or 4G")) << bad;
    }
    EXPECT_THAT(out.entries(), IsEmpty());
}

TEST(BigFootage, AFailedRunLeavesNoScratchFileNorOutput)
{
    TempDir in, out;
    ScratchFolder scratch;
    writeClip(in, "png");
    std::ofstream(in.file("shot.15.png"), std::ios::trunc) << "broken";
    const auto run = runFramemeld({in.file("shot.%d.png"), "-o", out.file("plate.png"), "--every",
                                   "1", "--memory", stripBudget(PixelDepth::Bits8, 4).first});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr(in.file("shot.15.png")));
    EXPECT_THAT(out.entries(), IsEmpty());
    EXPECT_THAT(scratch.dir().entries(), IsEmpty());
}

// A budget the machine cannot honour (here an address-space limit well below it): the run ends
// with a message and no output, not with a crash.
TEST(BigFootage, AnAllocationThatFailsAnywayIsReportedNotACrash)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#else
    TempDir in, out;
    const int side = 1000;
    const std::vector<std::uint8_t> grey(static_cast<std::size_t>(side * side * 3), 77);
    for (int f = 0; f < 30; ++f) {
        writeImage(in.file("big." + std::to_string(f) + ".png"), side, side, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, grey.data());
    }
    // 30 frames of 16 MB at 32 bits fit the 4 GiB budget, not the 400 MB of address space.
    const std::string command = "ulimit -v 400000; exec '" + framemeldPath() + "' '" +
                                in.file("big.%d.png") + "' -o '" + out.file("plate.png") +
                                "' --depth 32 --threads 1 --memory 4G -q";
    const auto run = runProgram({"sh", "-c", command});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr("out of memory"));
    EXPECT_THAT(out.entries(), IsEmpty());
#endif
}

// The scratch file among the process's open files, as /proc shows it: under `folder`, deleted.
bool holdsScratchFileIn(pid_t pid, const std::string &folder)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = opendir(fds.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent *entry = readdir(dir)) {
        char target[4096];
        const std::string link = fds + "/" + entry->d_name;
        const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
        if (size > 0) {
            const std::string path(target, static_cast<std::size_t>(size));
            found = found || (path.rfind(folder + "/", 0) == 0 &&
                              path.find("(deleted)") != std::string::npos);
        }
    }
    closedir(dir);
    return found;
}

// The scratch file is in use once the run's lines say it is decoding into it: no clock.
TEST(BigFootage, SigtermMidRunLeavesNoScratchFile)
{
    const char *const movie = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
    if (!fileExists(movie)) {
        GTEST_SKIP() << movie << " is missing (package opencv-doc)";
    }
    TempDir out, scratch;
    LaunchOptions launch;
    launch.environment = {{"TMPDIR", scratch.path()}};
    // Every frame of the clip within 16 MiB: hundreds of frames decoded into the scratch file.
    RunningFramemeld run({movie, "-o", out.file("plate.png"), "--every", "1", "--memory", "16M",
                          "--quiet", "--progress"},
                         launch);
    bool decoding = false;
    for (std::string line; !decoding && run.nextLine(line);) {
        decoding = progressValue(line, "frames_read") > 0;
    }
    ASSERT_TRUE(decoding) << "the run printed no line while decoding";
    EXPECT_TRUE(holdsScratchFileIn(run.pid(), scratch.path()))
        << "the run is decoding without its scratch file";
    EXPECT_THAT(scratch.entries(), IsEmpty()) << "the scratch file has a name while in use";
    ASSERT_EQ(kill(run.pid(), SIGTERM), 0);
    // SIGTERM cancels like Ctrl-C, and says so by its own name.
    EXPECT_EQ(run.finish(), 130);
    EXPECT_THAT(run.rest(), testing::Contains(HasSubstr("cancelling on SIGTERM")));
    EXPECT_THAT(scratch.entries(), IsEmpty());
    EXPECT_THAT(out.entries(), IsEmpty());
}

// A frame cut short fails the run with the footage's own message, the file named as when the
// frames are read before the render, whether the frames are held whole, read from the files band
// by band or read for a farm node's rows: not as the plug-in's failure to render, nor as frame 0.
TEST(BigFootage, AFrameCutShortIsNamedTheSameWayWhereverItIsRead)
{
    TempDir in;
    writeClip(in, "exr");
    const std::string cut = in.file("shot.13.exr");
    const std::string whole = fileBytes(cut);
    // The header and the first blocks stay: the frame probes well and fails only in its last rows.
    std::ofstream(cut, std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() - 64);
    const std::vector<std::vector<std::string>> ways = {
        {},
        {"--memory", stripBudget(PixelDepth::Float32, 16, 16).first},
        {"--rows", "16:30"},
    };
    std::vector<std::string> messages;
    for (const std::vector<std::string> &way : ways) {
        TempDir out;
        // A Divergence given, so that the bands are the first to read the frames' last rows.
        std::vector<std::string> args{in.file("shot.%d.exr"), "-o", out.file("plate.exr"),
                                      "--divergence",         "3",  "-q"};
        args.insert(args.end(), way.begin(), way.end());
        const CommandReport run = runFramemeld(args);
        EXPECT_EQ(run.exitStatus, 1) << run.output;
        EXPECT_THAT(run.output, HasSubstr(cut + ": cannot decode the frame")) << run.output;
        EXPECT_THAT(run.output, testing::Not(HasSubstr("plug-in failed"))) << run.output;
        EXPECT_THAT(out.entries(), IsEmpty());
        messages.push_back(run.output);
    }
    EXPECT_EQ(messages[1], messages[0]);
    EXPECT_EQ(messages[2], messages[0]);
}

} // namespace
