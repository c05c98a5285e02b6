// What the framemeld program does to the files around its output: it never writes through a
// link planted at its temporary name, never replaces an input or a file the user may not write,
// updates the file a linked output points to, and leaves an existing plate untouched and no
// temporary file behind when the disk is full or the run is stopped.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "CliTestSupport.h"
#include "RunningFramemeld.h"

using namespace framemeld::cli::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace fs = std::filesystem;

namespace {

std::string contentOf(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Grain compresses badly, so every format's plate is far larger than a few kilobytes.
void writeNoiseFrame(const std::string &path, int width, int height, OIIO::TypeDesc type)
{
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(width * height * 3));
    std::uint32_t state = 12345;
    for (std::uint16_t &sample : samples) {
        state = state * 1103515245u + 12345u;
        sample = static_cast<std::uint16_t>(state >> 16);
    }
    writeImage(path, width, height, 3, type, OIIO::TypeDesc::UINT16, samples.data());
}

// Every format OpenImageIO writes, by one of its extensions.
std::map<std::string, std::string> writableFormats()
{
    std::map<std::string, std::string> extensions;
    const std::string list = OIIO::get_string_attribute("extension_list");
    for (std::size_t pos = 0; pos < list.size();) {
        std::size_t end = list.find(';', pos);
        end = end == std::string::npos ? list.size() : end;
        const std::string entry = list.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t colon = entry.find(':');
        extensions[entry.substr(0, colon)] = entry.substr(colon + 1, entry.find(',') - colon - 1);
    }
    std::map<std::string, std::string> writable;
    const std::string outputs = OIIO::get_string_attribute("output_format_list");
    for (std::size_t pos = 0; pos < outputs.size();) {
        std::size_t end = outputs.find(',', pos);
        end = end == std::string::npos ? outputs.size() : end;
        const std::string format = outputs.substr(pos, end - pos);
        pos = end + 1;
        if (extensions.count(format) != 0) {
            writable[format] = extensions[format];
        }
    }
    return writable;
}

TEST(OutputSafety, AFullDiskLeavesTheOldPlateAndNoTemporaryFileInEveryFormat)
{
    TempDir in, out;
    writeNoiseFrame(in.file("frame.png"), 96, 96, OIIO::TypeDesc::UINT8);
    std::vector<std::string> offered;
    for (const auto &[format, extension] : writableFormats()) {
        const std::string plate = out.file("plate." + extension);
        const auto unlimited = runFramemeld({in.file("frame.png"), "-o", plate, "-q"});
        if (unlimited.exitStatus == 2) {
            continue; // a format the tool does not offer
        }
        ASSERT_EQ(unlimited.exitStatus, 0) << format << ": " << unlimited.output;
        ASSERT_GT(fs::file_size(plate), 4096u) << format;
        offered.push_back(format);
        // PNG goes through the tool's own codec at 8 bits, through OpenImageIO at 32.
        for (const char *depth : {"8", "32"}) {
            if (format != "png" && std::string(depth) == "32") {
                continue;
            }
            writeText(plate, "the old plate");
            const auto full =
                runFramemeld({in.file("frame.png"), "-o", plate, "-q", "--depth", depth},
                             RunConditions{4096, false});
            EXPECT_EQ(full.exitStatus, 1) << format << " at " << depth << ": " << full.output;
            EXPECT_THAT(full.output, HasSubstr(plate + ": cannot write the output (")) << format;
            EXPECT_THAT(full.output, Not(HasSubstr("()"))) << format << ": a reason is given";
            EXPECT_THAT(full.output, Not(HasSubstr(".framemeld-"))) << format;
            EXPECT_EQ(contentOf(plate), "the old plate") << format << " at " << depth;
            EXPECT_THAT(out.entries(), ElementsAre("plate." + extension)) << format;
        }
        fs::remove(plate);
    }
    // JPEG and WebP are lossy and written only when their quality is given (exit 2 here).
    for (const char *format :
         {"png", "openexr", "tiff", "dpx", "bmp", "targa", "sgi", "fits", "gif"}) {
        EXPECT_THAT(offered, testing::Contains(format));
    }
}

TEST(OutputSafety, AnInputFrameIsNeverTheOutput)
{
    TempDir in, out;
    for (int f = 1; f <= 3; ++f) {
        writeNoiseFrame(in.file("f_00" + std::to_string(f) + ".png"), 8, 6, OIIO::TypeDesc::UINT8);
    }
    const std::string frame = in.file("f_001.png");
    const std::string before = contentOf(frame);
    fs::create_symlink(frame, out.file("link.png"));
    fs::create_hard_link(in.file("f_002.png"), out.file("hard.png"));
    // The same file by its own name, through a link, by another spelling, as a hard link.
    for (const std::string &output :
         {frame, out.file("link.png"), in.path() + "/./f_001.png", out.file("hard.png")}) {
        const auto run = runFramemeld({in.file("f_%03d.png"), "-o", output, "-q"});
        EXPECT_EQ(run.exitStatus, 1) << output << ": " << run.output;
        EXPECT_THAT(run.output, HasSubstr(output + ": is the input ")) << output;
    }
    const auto single = runFramemeld({frame, "-o", frame, "-q"});
    EXPECT_EQ(single.exitStatus, 1) << single.output;
    EXPECT_EQ(contentOf(frame), before);
    EXPECT_THAT(in.entries(), ElementsAre("f_001.png", "f_002.png", "f_003.png"));
}

TEST(OutputSafety, APlateIsNeverWrittenWhereTheNextRunWouldTakeItForAFrame)
{
    TempDir in;
    for (int f = 1; f <= 3; ++f) {
        writeNoiseFrame(in.file("f_00" + std::to_string(f) + ".png"), 8, 6, OIIO::TypeDesc::UINT8);
    }
    // Into the folder of frames, or under a name the numbered pattern matches: refused at once.
    const std::vector<std::vector<std::string>> refused = {
        {in.path(), "-o", in.file("plate.png")},
        {in.path() + "/.", "-o", in.file("plate.exr")},
        {in.file("f_%03d.png"), "-o", in.file("f_004.png")},
        {in.file("f_###.png"), "-o", in.file("f_-01.png")},
    };
    for (const auto &args : refused) {
        auto withQuiet = args;
        withQuiet.push_back("-q");
        const auto run = runFramemeld(withQuiet);
        EXPECT_EQ(run.exitStatus, 1) << args[2] << ": " << run.output;
        EXPECT_THAT(run.output, HasSubstr("would be taken for a frame on the next run")) << args[2];
    }
    EXPECT_THAT(in.entries(), ElementsAre("f_001.png", "f_002.png", "f_003.png"));

    // Beside a numbered sequence under another name, the plate is no frame of it.
    const auto beside = runFramemeld({in.file("f_%03d.png"), "-o", in.file("plate.png"), "-q"});
    EXPECT_EQ(beside.exitStatus, 0) << beside.output;
    const auto again = runFramemeld({in.file("f_%03d.png"), "-o", in.file("plate2.png"), "-q"});
    EXPECT_EQ(again.exitStatus, 0) << again.output;
}

TEST(OutputSafety, AFileTheUserMayNotWriteIsNotReplaced)
{
    TempDir in, out;
    writeNoiseFrame(in.file("frame.png"), 8, 6, OIIO::TypeDesc::UINT8);
    const std::string plate = out.file("plate.png");
    writeText(plate, "someone else's plate");
    fs::permissions(plate, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // The folder is writable by all, so only the check on the file itself stops a rename.
    fs::permissions(out.path(), fs::perms::all);
    fs::permissions(in.path(), fs::perms::all);
    const bool root = geteuid() == 0;
    const auto run =
        runFramemeld({in.file("frame.png"), "-o", plate, "-q"}, RunConditions{0, root});
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr(plate + ": cannot write the output, the file exists and "
                                              "is not writable"));
    EXPECT_EQ(contentOf(plate), "someone else's plate");
    EXPECT_THAT(out.entries(), ElementsAre("plate.png"));
}

TEST(OutputSafety, ALinkedOutputUpdatesTheFileItPointsTo)
{
    TempDir in, out;
    writeNoiseFrame(in.file("frame.png"), 8, 6, OIIO::TypeDesc::UINT8);
    fs::create_directory(out.file("shots"));
    writeText(out.file("shots/plate.tif"), "old");
    fs::create_symlink("shots/plate.tif", out.file("plate.tif"));
    fs::create_symlink("shots/new.png", out.file("dangling.png"));
    for (const char *name : {"plate.tif", "dangling.png"}) {
        const auto run = runFramemeld({in.file("frame.png"), "-o", out.file(name), "-q"});
        ASSERT_EQ(run.exitStatus, 0) << name << ": " << run.output;
        EXPECT_TRUE(fs::is_symlink(out.file(name))) << name << " stays a link";
    }
    int w = 0, h = 0, c = 0;
    readSamples<std::uint8_t>(out.file("shots/plate.tif"), w, h, c);
    EXPECT_EQ(w, 8);
    readSamples<std::uint8_t>(out.file("shots/new.png"), w, h, c);
    EXPECT_EQ(h, 6);
    EXPECT_THAT(out.entries(), ElementsAre("dangling.png", "plate.tif", "shots"));
}

TEST(OutputSafety, NamesWithControlCharactersAreEscapedInMessages)
{
    TempDir in, out;
    writeNoiseFrame(in.file("frame.png"), 8, 6, OIIO::TypeDesc::UINT8);
    const auto run =
        runFramemeld({in.file("frame.png"), "-o", out.file("no\n\x1b[2Jsuch/plate.png"), "-q"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_THAT(run.output, HasSubstr("no\\n\\x1b[2Jsuch/plate.png: cannot write the output"));
    EXPECT_THAT(run.output, Not(HasSubstr("\x1b")));

    // A name of 254 bytes still leaves room for the temporary file's.
    const std::string longName = std::string(250, 'p') + ".exr";
    const auto longRun = runFramemeld({in.file("frame.png"), "-o", out.file(longName), "-q"});
    EXPECT_EQ(longRun.exitStatus, 0) << longRun.output;
    EXPECT_THAT(out.entries(), ElementsAre(longName));
}

// Sends `first` (and then `second`, when not 0) once the run's progress says the render is done:
// the plate is written next, through a file that has no name until it is complete, so no file
// appears to wait for. The pipe to stderr holds a page, so the run is no further along than the
// write when the line is read.
int stopWhileWriting(std::vector<std::string> args, int first, int second)
{
    args.push_back("--progress");
    RunningFramemeld run(args);
    for (std::string line; run.nextLine(line);) {
        if (isProgressLine(line) && line.find(" phase=rendering ") != std::string::npos &&
            progressValue(line, "percent") == 100) {
            kill(run.pid(), first);
            if (second != 0) {
                kill(run.pid(), second);
            }
            break;
        }
    }
    return run.finish();
}

TEST(OutputSafety, SigtermOrSighupWhileWritingLeavesNoTemporaryFile)
{
    TempDir in;
    // Large enough that deflating it takes a good part of a second.
    writeNoiseFrame(in.file("frame.tif"), 1600, 1200, OIIO::TypeDesc::UINT16);
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        TempDir out;
        const int status =
            stopWhileWriting({in.file("frame.tif"), "-o", out.file("plate.tif")}, signalNumber, 0);
        EXPECT_EQ(status, 130) << "cancelled, as by Ctrl-C";
        EXPECT_THAT(out.entries(), IsEmpty());
    }
    // Asked twice, the run ends at once, by the signal, and still removes its temporary file.
    TempDir out;
    const int status =
        stopWhileWriting({in.file("frame.tif"), "-o", out.file("plate.tif")}, SIGTERM, SIGHUP);
    EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGHUP) << status;
    EXPECT_THAT(out.entries(), IsEmpty());
}

} // namespace
