// What a run does with what surrounds it: another run writing the same plate or the same strip at
// once (the survivor is one run's file whole, a strip beside its own record), a $TMPDIR that is a
// file system in memory, a SIGKILL while the plate is written, standard descriptors closed by the
// caller, and a Ctrl-C while a large file named as an image is probed. Every point of a run is
// judged by its progress lines and open files, never by the clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "CliTestSupport.h"
#include "RunningFramemeld.h"
#include "cli/plan/MemoryPlan.h"

using namespace framemeld::cli;
using namespace framemeld::cli::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 48;
constexpr int kHeight = 32;
constexpr int kFrames = 8;

std::string fileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// kFrames frames of 8-bit RGB shot.1.png ... whose samples depend on `seed`, so two clips give
// two different plates.
void writeClip(const TempDir &dir, int seed)
{
    for (int f = 1; f <= kFrames; ++f) {
        std::vector<std::uint8_t> pixels;
        for (int i = 0; i < kWidth * kHeight * 3; ++i) {
            pixels.push_back(static_cast<std::uint8_t>((i * 7 + f * 13 + seed * 101) % 251));
        }
        writeImage(dir.file("shot." + std::to_string(f) + ".png"), kWidth, kHeight, 3,
                   OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8, pixels.data());
    }
}

// A budget under which the clip above goes through the scratch file, in strips of a few rows.
std::string scratchBudget()
{
    MemoryPlanInput input;
    input.width = kWidth;
    input.height = kHeight;
    input.depth = framemeld::runner::PixelDepth::Bits8;
    input.frames = kFrames;
    input.threads = 2;
    input.fileBytesPerPixel = 3;
    input.budget = std::uint64_t{1} << 40;
    const MemoryPlan roomy = planMemory(input);
    return std::to_string(std::max(roomy.minimumBudget, roomy.bandFixedBytes + roomy.decoderBytes +
                                                            std::uint64_t{4} * roomy.bandRowBytes));
}

std::vector<std::string> linesOf(RunningFramemeld &run, int &status)
{
    std::vector<std::string> lines;
    for (std::string line; run.nextLine(line);) {
        lines.push_back(line);
    }
    status = run.finish();
    return lines;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) {
        text += line + "\n";
    }
    return text;
}

// Two runs of different clips started together, writing the same file; repeated, since which
// one writes last is theirs to decide. Whatever the order, the survivor is one of the two
// runs' files whole: a plate, or a strip with its own record, which merge checks by the strip's
// bytes.
TEST(RunSurroundings, TwoRunsWritingOneNameLeaveOneRunsFilesWhole)
{
    TempDir a, b, single;
    writeClip(a, 1);
    writeClip(b, 2);
    const std::vector<std::string> settings = {"--divergence", "5", "--threads", "1", "-q"};
    auto args = [&](const TempDir &clip, const std::string &output,
                    std::vector<std::string> extra) {
        std::vector<std::string> all = {clip.file("shot.%d.png"), "-o", output};
        all.insert(all.end(), settings.begin(), settings.end());
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    };
    ASSERT_EQ(runFramemeld(args(a, single.file("a.png"), {})).exitStatus, 0);
    ASSERT_EQ(runFramemeld(args(b, single.file("b.png"), {})).exitStatus, 0);
    const std::string plateA = fileBytes(single.file("a.png"));
    const std::string plateB = fileBytes(single.file("b.png"));
    ASSERT_NE(plateA, plateB);

    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        TempDir out;
        {
            RunningFramemeld first(args(a, out.file("plate.png"), {}));
            RunningFramemeld second(args(b, out.file("plate.png"), {}));
            EXPECT_EQ(first.finish(), 0);
            EXPECT_EQ(second.finish(), 0);
        }
        EXPECT_THAT(out.entries(), ElementsAre("plate.png")) << "no temporary file is left";
        const std::string plate = fileBytes(out.file("plate.png"));
        EXPECT_TRUE(plate == plateA || plate == plateB);

        const std::string strip = out.file("strip.png");
        {
            RunningFramemeld first(args(a, strip, {"--rows", "0:32"}));
            RunningFramemeld second(args(b, strip, {"--rows", "0:32"}));
            EXPECT_EQ(first.finish(), 0);
            EXPECT_EQ(second.finish(), 0);
        }
        EXPECT_THAT(out.entries(),
                    ElementsAre("plate.png", "strip.png", "strip.png.framemeld-strip.json"));
        const CommandReport merged = runFramemeld({"merge", "-o", out.file("merged.png"), strip});
        ASSERT_EQ(merged.exitStatus, 0)
            << "the strip and its record are one run's: " << merged.output;
        const std::string mergedPlate = fileBytes(out.file("merged.png"));
        EXPECT_TRUE(mergedPlate == plateA || mergedPlate == plateB);
    }
}

// Unmounted when the test ends, however it ends.
class TmpfsFolder {
public:
    explicit TmpfsFolder(const std::string &path) : path_(path)
    {
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64m") == 0) {
            mounted_ = true;
        } else {
            failure_ = std::strerror(errno);
        }
    }
    ~TmpfsFolder()
    {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    TmpfsFolder(const TmpfsFolder &) = delete;
    TmpfsFolder &operator=(const TmpfsFolder &) = delete;
    bool mounted() const { return mounted_; }
    const std::string &failure() const { return failure_; }

private:
    std::string path_;
    bool mounted_ = false;
    std::string failure_;
};

// A scratch file in memory would take the memory its budget keeps free: a run that needs one
// there is refused before it reads a frame; a run that holds its frames in memory does not care
// where $TMPDIR is.
TEST(RunSurroundings, AScratchFileOnATmpfsIsRefusedBeforeAnyFrameIsRead)
{
    TempDir in, mountPoint;
    writeClip(in, 1);
    TmpfsFolder tmpfs(mountPoint.path());
    if (!tmpfs.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (" << tmpfs.failure()
                     << "); needs root in a namespace that may mount";
    }
    const std::vector<std::string> args = {in.file("shot.%d.png"), "--memory",  scratchBudget(),
                                           "--progress",           "--threads", "2"};
    // On a disk, the budget sends the frames to the scratch file.
    {
        TempDir out, disk;
        LaunchOptions launch;
        launch.environment = {{"TMPDIR", disk.path()}};
        auto onDisk = args;
        onDisk.insert(onDisk.end(), {"-o", out.file("plate.png")});
        RunningFramemeld run(onDisk, launch);
        int status = -1;
        const std::string text = joined(linesOf(run, status));
        ASSERT_EQ(status, 0) << text;
        ASSERT_THAT(text, HasSubstr("of frames in a scratch file"));
    }
    TempDir out;
    LaunchOptions launch;
    launch.environment = {{"TMPDIR", mountPoint.path()}};
    auto inMemory = args;
    inMemory.insert(inMemory.end(), {"-o", out.file("plate.png")});
    RunningFramemeld run(inMemory, launch);
    int status = -1;
    const std::vector<std::string> lines = linesOf(run, status);
    EXPECT_EQ(status, 1) << joined(lines);
    EXPECT_THAT(joined(lines), HasSubstr("would be in $TMPDIR (" + mountPoint.path() +
                                         "), a file system in memory (tmpfs)"));
    for (const std::string &line : lines) {
        if (isProgressLine(line)) {
            EXPECT_LE(progressValue(line, "frames_read"), 0) << "read before refusing: " << line;
        }
    }
    EXPECT_THAT(out.entries(), IsEmpty());
    EXPECT_TRUE(fs::is_empty(mountPoint.path()));

    // Frames that fit the budget need no scratch file.
    auto roomy = std::vector<std::string>{
        in.file("shot.%d.png"), "-o", out.file("plate.png"), "-q", "--memory", "1G"};
    RunningFramemeld fits(roomy, launch);
    EXPECT_EQ(fits.finish(), 0);
    EXPECT_TRUE(fileExists(out.file("plate.png")));
}

// Whether the program is still running (not yet ended: a process that has ended stays until it
// is reaped, with no descriptors).
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    return end != std::string::npos && end + 2 < text.size() && text[end + 2] != 'Z' &&
           text[end + 2] != 'X';
}

// Whether one of the program's descriptors is a file in `folder` (an unnamed one shows as
// "FOLDER/#INODE (deleted)").
bool writesInto(pid_t pid, const std::string &folder)
{
    std::error_code error;
    for (const auto &entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(entry.path(), linkError).string();
        if (target.rfind(folder + "/", 0) == 0) {
            return true;
        }
    }
    return false;
}

// Grain compresses badly, so the plate takes a good part of a second to deflate.
void writeNoiseFrame(const std::string &path)
{
    constexpr int kNoiseWidth = 1600;
    constexpr int kNoiseHeight = 1200;
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(kNoiseWidth * kNoiseHeight * 3));
    std::uint32_t state = 12345;
    for (std::uint16_t &sample : samples) {
        state = state * 1103515245u + 12345u;
        sample = static_cast<std::uint16_t>(state >> 16);
    }
    writeImage(path, kNoiseWidth, kNoiseHeight, 3, OIIO::TypeDesc::UINT16, OIIO::TypeDesc::UINT16,
               samples.data());
}

// The plate has no name until it is whole (O_TMPFILE, linked into place), so a SIGKILL as it is
// written leaves no partial file, hidden or not, and the plate that was there untouched. The
// kill comes once the render's progress is at 100 % and the program has a file open in the
// output's folder: the plate is being written.
TEST(RunSurroundings, SigkillWhileThePlateIsWrittenLeavesNoPartialFile)
{
    TempDir in, out;
    writeNoiseFrame(in.file("frame.tif"));
    const std::string plate = out.file("plate.tif");
    std::ofstream(plate, std::ios::binary) << "the plate of an earlier run";
    int killedWriting = 0;
    for (int round = 0; round < 3; ++round) {
        RunningFramemeld run({in.file("frame.tif"), "-o", plate, "--progress"});
        for (std::string line; run.nextLine(line);) {
            if (isProgressLine(line) && line.find(" phase=rendering ") != std::string::npos &&
                progressValue(line, "percent") == 100) {
                break;
            }
        }
        while (running(run.pid())) {
            if (writesInto(run.pid(), out.path())) {
                kill(run.pid(), SIGKILL);
                ++killedWriting;
                break;
            }
        }
        const int status = run.finish();
        if (status == 0) {
            continue; // done before it was seen writing: nothing to judge this round
        }
        EXPECT_EQ(status, 128 + SIGKILL);
        EXPECT_THAT(out.entries(), ElementsAre("plate.tif"));
        EXPECT_EQ(fileBytes(plate), "the plate of an earlier run");
    }
    EXPECT_GT(killedWriting, 0) << "no round was caught writing its plate";
}

// With stdin and stderr closed by the caller, the first files the run opens would take
// descriptors 0 and 2, and the progress lines written to stderr would land in them: the scratch
// file's frames, or the plate. The descriptors are held first, so the plate is the one a run
// with every descriptor open writes, byte for byte.
TEST(RunSurroundings, ClosedStandardDescriptorsTakeNothingOfTheRun)
{
    TempDir in, out;
    writeClip(in, 1);
    const std::string input = in.file("shot.%d.png");
    const std::string budget = scratchBudget();
    const auto open = runFramemeld(
        {input, "-o", out.file("open.png"), "--memory", budget, "--progress", "--divergence", "5"});
    ASSERT_EQ(open.exitStatus, 0) << open.output;
    ASSERT_THAT(open.output, HasSubstr("of frames in a scratch file"));
    for (const std::string closing : {"2>&-", "<&- 2>&-", "<&- >&- 2>&-"}) {
        SCOPED_TRACE(closing);
        const std::string plate = out.file("closed.png");
        fs::remove(plate);
        const CommandReport closed = runProgram(
            {"sh", "-c",
             "exec \"$0\" \"$1\" -o \"$2\" --memory \"$3\" --progress --divergence 5 " + closing,
             framemeldPath(), input, plate, budget});
        EXPECT_EQ(closed.exitStatus, 0) << closed.output;
        EXPECT_TRUE(fileBytes(plate) == fileBytes(out.file("open.png")));
        // A failure still exits with its status, its message having nowhere to go.
        const CommandReport failed =
            runProgram({"sh", "-c", "exec \"$0\" \"$1\" -o \"$2\" " + closing, framemeldPath(),
                        in.file("missing.%d.png"), out.file("never.png")});
        EXPECT_EQ(failed.exitStatus, 1) << failed.output;
        EXPECT_FALSE(fileExists(out.file("never.png")));
    }
}

// How far into `path` the program has read: the furthest position of its descriptors of the
// file, from /proc; -1 while it has none open.
long long positionIn(pid_t pid, const std::string &path)
{
    long long furthest = -1;
    std::error_code error;
    const std::string proc = "/proc/" + std::to_string(pid);
    for (const auto &entry : fs::directory_iterator(proc + "/fd", error)) {
        std::error_code linkError;
        if (fs::read_symlink(entry.path(), linkError) != path) {
            continue;
        }
        std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
        std::string key;
        long long position = 0;
        if (info >> key >> position && key == "pos:") {
            furthest = std::max(furthest, position);
        }
    }
    return furthest;
}

// How many bytes the program has read through read() and its kin so far, from /proc; -1 once it
// has gone. A position alone cannot say it: the movie library seeks to the end of a stream to
// time it, which is no reading on.
long long bytesReadBy(pid_t pid)
{
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

// A file named .png that is no image: the first bytes of a transport stream, then two gigabytes
// of nothing (a hole, so it costs no disk). Weighed by its first bytes it is a movie, and counting
// its frames reads on through the hole; a Ctrl-C while it does cancels at once: exit status 130
// with the --json report, before any frame is read (no progress line at all). (Asking the library
// for the reader its name gives, before the weighing, had every reader try the file in turn, one
// of them seeking through the whole hole with no way to cancel.)
TEST(RunSurroundings, CtrlCWhileALargeFileNamedAsAnImageIsProbedCancels)
{
    if (!haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed; a transport stream cannot be made";
    }
    TempDir in, out, logs;
    const std::string big = in.file("big.png");
    const CommandReport made = runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f",
                                           "lavfi", "-i", "testsrc=size=64x48:rate=25", "-t", "2",
                                           "-c:v", "mpeg2video", "-f", "mpegts", big});
    ASSERT_EQ(made.exitStatus, 0) << made.output;
    ASSERT_EQ(::truncate(big.c_str(), std::int64_t{2} << 30), 0) << std::strerror(errno);

    LaunchOptions launch;
    launch.stdoutTo = LaunchOptions::Stdout::File;
    launch.stdoutFile = logs.file("report.json");
    RunningFramemeld run({big, "-o", out.file("plate.png"), "--progress", "--json"}, launch);
    // Once the program has the file open it is weighing or counting it; until then it is not.
    long long position = -1;
    while (position < 0 && running(run.pid())) {
        position = positionIn(run.pid(), big);
        if (position < 0) {
            ::sched_yield();
        }
    }
    ASSERT_GE(position, 0) << "the program ended before it opened the file";
    const long long readAtSignal = bytesReadBy(run.pid());
    ::kill(run.pid(), SIGINT);
    // Promptly is judged by what is read, not the clock: after the signal the program reads on
    // for a few of its reads at most, nowhere near through the file's two gigabytes.
    long long readAtEnd = readAtSignal;
    while (running(run.pid())) {
        readAtEnd = std::max(readAtEnd, bytesReadBy(run.pid()));
    }
    ASSERT_GE(readAtSignal, 0) << "the program's reads cannot be counted";
    EXPECT_LT(readAtEnd - readAtSignal, 64LL << 20)
        << "read on from " << readAtSignal << " to " << readAtEnd << " bytes";
    int status = -1;
    const std::vector<std::string> lines = linesOf(run, status);
    EXPECT_EQ(status, 130) << joined(lines);
    for (const std::string &line : lines) {
        EXPECT_FALSE(isProgressLine(line)) << "got as far as " << line;
    }
    EXPECT_THAT(fileBytes(logs.file("report.json")),
                HasSubstr("\"exit_status\": 130, \"message\": \"cancelled; no output written\""));
    EXPECT_THAT(out.entries(), IsEmpty());
}

} // namespace
