// Footage made hostile by the test itself (patched headers, cut files, special files): every run
// fails naming the file and its fault, never passes off a wrong plate, and never costs more than
// the file weighs. The tool runs under an address-space limit, so a regression fails here instead
// of eating the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/formats/OiioModule.h"
#include "runner/World.h"

using framemeld::runner::PixelDepth;
using framemeld::runner::World;
using namespace framemeld::cli;
using namespace framemeld::cli::test;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true; // sanitizers reserve terabytes of address space up front
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Enough for the tool with the OpenImageIO module loaded and small frames; far below what any of
// the claims below would cost if believed.
constexpr int kAddressSpaceMiB = 1024;

std::vector<std::uint8_t> readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void cutTo(const std::string &from, const std::string &to, std::size_t keep)
{
    std::vector<std::uint8_t> bytes = readBytes(from);
    ASSERT_GT(bytes.size(), keep);
    bytes.resize(keep);
    writeBytes(to, bytes);
}

// The tool on one input with a plate to write, single-threaded, under the address-space limit
// and a limit of processor time (a reader spinning on a file that never ends fails instead of
// hanging). Processor time, not the wall clock: a loaded machine slows the run, not its count.
CommandReport runLimited(const std::string &input, const std::string &plate,
                         std::vector<std::string> extra = {})
{
    const std::string limits =
        kSanitized ? std::string("ulimit -t 120")
                   : "ulimit -t 120 && ulimit -v " + std::to_string(kAddressSpaceMiB * 1024);
    std::vector<std::string> args{"sh",
                                  "-c",
                                  limits + " && exec \"$@\"",
                                  "sh",
                                  framemeldPath(),
                                  input,
                                  "-o",
                                  plate,
                                  "-q",
                                  "--threads",
                                  "1",
                                  "--plugin",
                                  modulePath()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runProgram(args);
}

// Frames with a gentle ramp, so that a black part of a plate cannot pass for the picture.
std::vector<std::uint8_t> ramp(int width, int height, int channels)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height * channels));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(40 + (i * 7) % 200);
    }
    return pixels;
}

void writeRampImage(const std::string &path, int width, int height, const char *compression)
{
    const std::vector<std::uint8_t> pixels = ramp(width, height, 3);
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out);
    OIIO::ImageSpec spec(width, height, 3, OIIO::TypeDesc::UINT8);
    if (compression != nullptr) {
        spec.attribute("compression", compression);
    }
    ASSERT_TRUE(out->open(path, spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
    ASSERT_TRUE(out->close());
}

// Sets a classic little-endian TIFF's width and height tags, whatever their type.
void patchTiffSize(const std::string &path, std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> bytes = readBytes(path);
    ASSERT_EQ(std::memcmp(bytes.data(), "II*\0", 4), 0);
    auto get16 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    const std::uint32_t ifd = get16(4) | (get16(6) << 16);
    const std::uint32_t entries = get16(ifd);
    int patched = 0;
    for (std::uint32_t e = 0; e < entries; ++e) {
        const std::size_t at = ifd + 2 + e * 12;
        const std::uint32_t tag = get16(at);
        if (tag != 256 && tag != 257) {
            continue;
        }
        const std::uint32_t value = tag == 256 ? width : height;
        const bool isShort = get16(at + 2) == 3;
        ASSERT_TRUE(!isShort || value < 65536);
        for (int b = 0; b < (isShort ? 2 : 4); ++b) {
            bytes[at + 8 + static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(value >> (8 * b));
        }
        ++patched;
    }
    ASSERT_EQ(patched, 2);
    writeBytes(path, bytes);
}

void expectRefused(const CommandReport &run, const std::string &message, const TempDir &out)
{
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_THAT(run.output, HasSubstr("framemeld: " + message));
    EXPECT_THAT(run.output, Not(HasSubstr("libpng")));
    EXPECT_THAT(out.entries(), IsEmpty());
}

TEST(HostileFootage, DamagedPngsAreRefusedWithTheProbesReasonNeverHandedOn)
{
    TempDir in, out;
    const std::vector<std::uint8_t> pixels = ramp(4, 4, 3);
    writeImage(in.file("good.png"), 4, 4, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
               pixels.data());
    const std::vector<std::uint8_t> good = readBytes(in.file("good.png"));

    // After the header: a text chunk claiming 2 GiB, in a file of about a hundred bytes.
    std::vector<std::uint8_t> claim(good.begin(), good.begin() + 33);
    const std::uint8_t text[] = {0x7F, 0xFF, 0xFF, 0xFF, 't', 'E', 'X', 't', 'k', 0, 'v'};
    claim.insert(claim.end(), std::begin(text), std::end(text));
    claim.resize(128, 0);
    writeBytes(in.file("claim.png"), claim);
    expectRefused(runLimited(in.file("claim.png"), out.file("plate.png")),
                  in.file("claim.png") + ": cannot decode the frame (truncated file)", out);

    // As a later frame of a sequence, through the decoder rather than the first frame's probe.
    writeBytes(in.file("s0.png"), good);
    writeBytes(in.file("s1.png"), claim);
    expectRefused(runLimited(in.file("s%d.png"), out.file("plate.png")),
                  in.file("s1.png") + ": cannot decode the frame (truncated file)", out);
}

TEST(HostileFootage, PngsForOpenImageIOAreRefusedWhenCut)
{
    if (!haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg makes the palette file";
    }
    // A palette PNG goes to OpenImageIO, whose libpng wrote its own complaint to stderr.
    TempDir in, out;
    ASSERT_EQ(runProgram({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                          "testsrc=size=64x48", "-frames:v", "1", "-pix_fmt", "pal8",
                          in.file("whole.png")})
                  .exitStatus,
              0);
    cutTo(in.file("whole.png"), in.file("cut.png"), readBytes(in.file("whole.png")).size() - 40);
    expectRefused(runLimited(in.file("cut.png"), out.file("plate.png")),
                  in.file("cut.png") + ": cannot decode the frame (truncated file)", out);
}

TEST(HostileFootage, TiffsClaimingMorePixelsThanTheyHoldAreRefused)
{
    TempDir in, out;
    writeRampImage(in.file("zip.tif"), 120, 80, "zip");
    for (const std::uint32_t side : {29999u, 8000u}) {
        SCOPED_TRACE(side);
        const std::string path = in.file("patched" + std::to_string(side) + ".tif");
        std::filesystem::copy_file(in.file("zip.tif"), path);
        patchTiffSize(path, side, side);
        const auto run = runLimited(path, out.file("plate.png"));
        expectRefused(run, path + ": the header claims", out);
        EXPECT_THAT(run.output, HasSubstr(std::to_string(side) + "x" + std::to_string(side)));
        EXPECT_THAT(run.output, HasSubstr("can hold (zip)"));
    }
}

TEST(HostileFootage, ExrHeaderAttributesClaimingMoreThanTheFileAreRefused)
{
    // OpenEXR allocates an attribute's stated size before reading it (found by the fuzzer).
    TempDir in, out;
    writeRampImage(in.file("frame.exr"), 4, 4, "zip");
    std::vector<std::uint8_t> bytes = readBytes(in.file("frame.exr"));
    const std::string attribute("screenWindowWidth\0float\0", 24);
    const auto at = std::search(bytes.begin(), bytes.end(), attribute.begin(), attribute.end());
    ASSERT_NE(at, bytes.end());
    const auto size = at + static_cast<std::ptrdiff_t>(attribute.size());
    ASSERT_EQ(*size, 4);
    *(size + 3) = 0x70; // 0x70000004 bytes
    writeBytes(in.file("claim.exr"), bytes);
    expectRefused(runLimited(in.file("claim.exr"), out.file("plate.png")),
                  in.file("claim.exr") + ": damaged EXR header (attribute screenWindowWidth "
                                         "claims 1879048196 bytes past the end of the file)",
                  out);
}

// Sets the four 32-bit little-endian fields of an EXR box2i attribute named `name`.
void patchExrBox(std::vector<std::uint8_t> &bytes, const std::string &name,
                 const std::int32_t (&box)[4])
{
    const std::string head = name + std::string("\0box2i\0\x10\0\0\0", 11);
    const auto at = std::search(bytes.begin(), bytes.end(), head.begin(), head.end());
    ASSERT_NE(at, bytes.end());
    const auto value = static_cast<std::size_t>(at - bytes.begin()) + head.size();
    for (std::size_t i = 0; i < 16; ++i) {
        bytes[value + i] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(box[i / 4]) >> (8 * (i % 4)));
    }
}

TEST(HostileFootage, ExrDataWindowsClaimingMoreThanTheFileHoldsAreRefused)
{
    // OpenEXR sizes its line buffers (a compression's rows x width x channels) from the data
    // window while opening: 488 bytes claiming 16777222x4 pixels took 1.6 GB (the fuzzer).
    TempDir in, out;
    writeRampImage(in.file("frame.exr"), 4, 4, "zip");
    const std::vector<std::uint8_t> frame = readBytes(in.file("frame.exr"));
    const std::string size = std::to_string(frame.size());
    struct Case {
        const char *name;
        std::int32_t box[4];
        std::string message;
    };
    const Case cases[] = {
        {"wide.exr",
         {0, 0, 16777221, 3},
         "data window of 16777222x4 pixels, more than the file's " + size +
             " bytes can hold (zip))"},
        {"tall.exr",
         {0, 0, 0, 99999999},
         "data window of 1x100000000 pixels in 6250000 blocks, more offsets than the file's " +
             size + " bytes hold)"},
        {"inverted.exr", {0, 0, -5, 3}, "data window inverted)"},
        {"overflow.exr",
         {-2147483647 - 1, 0, 2147483647, 3},
         "data window of 4294967296x4 pixels overflows)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = frame;
        patchExrBox(bytes, "dataWindow", c.box);
        writeBytes(in.file(c.name), bytes);
        expectRefused(runLimited(in.file(c.name), out.file("plate.png")),
                      in.file(c.name) + ": damaged EXR header (" + c.message, out);
    }

    // One row fits, but OpenEXR's buffers hold whole blocks, DWAB's of 256 rows.
    std::vector<std::uint8_t> row = frame;
    patchExrBox(row, "dataWindow", {0, 0, 999999, 0});
    const std::string compression("compression\0compression\0\x01\0\0\0", 28);
    const auto code = std::search(row.begin(), row.end(), compression.begin(), compression.end());
    ASSERT_NE(code, row.end());
    *(code + static_cast<std::ptrdiff_t>(compression.size())) = 9; // DWAB
    writeBytes(in.file("row.exr"), row);
    expectRefused(runLimited(in.file("row.exr"), out.file("plate.png")),
                  in.file("row.exr") + ": damaged EXR header (data window of 1000000x1 pixels " +
                      "in blocks of 1000000x256, more than the file's " + size +
                      " bytes can hold (dwab))",
                  out);

    // A tiled file's buffers hold whole tiles, however small its window.
    const std::vector<std::uint8_t> pixels = ramp(4, 4, 3);
    OIIO::ImageSpec spec(4, 4, 3, OIIO::TypeDesc::HALF);
    spec.tile_width = 4;
    spec.tile_height = 4;
    auto tiled = OIIO::ImageOutput::create("exr");
    ASSERT_TRUE(tiled && tiled->open(in.file("tiled.exr"), spec) &&
                tiled->write_image(OIIO::TypeDesc::UINT8, pixels.data()) && tiled->close());
    std::vector<std::uint8_t> bytes = readBytes(in.file("tiled.exr"));
    const std::string tiles("tiles\0tiledesc\0\x09\0\0\0\x04\0\0\0\x04\0\0\0", 27);
    const auto at = std::search(bytes.begin(), bytes.end(), tiles.begin(), tiles.end());
    ASSERT_NE(at, bytes.end());
    for (const std::ptrdiff_t side : {19, 23}) { // 65536 pixels wide and high
        *(at + side) = 0x00;
        *(at + side + 2) = 0x01;
    }
    writeBytes(in.file("tiled-claim.exr"), bytes);
    expectRefused(runLimited(in.file("tiled-claim.exr"), out.file("plate.png")),
                  in.file("tiled-claim.exr") +
                      ": damaged EXR header (data window of 4x4 pixels in " +
                      "blocks of 65536x65536, " + "more than the file's " +
                      std::to_string(bytes.size()) + " bytes can hold (zip))",
                  out);
}

TEST(HostileFootage, FlatExrFramesCompressedToTheBoundStillOpen)
{
    // Black frames compress best: these are the real files nearest each bound.
    TempDir in;
    struct Case {
        const char *name;
        int width, height;
        OIIO::TypeDesc type;
        const char *compression;
    };
    const Case cases[] = {
        {"hd-zip.exr", 1920, 1080, OIIO::TypeDesc::HALF, "zip"},
        {"row-zip.exr", 8192, 1, OIIO::TypeDesc::HALF, "zip"},
        {"hd-pxr24.exr", 1920, 1080, OIIO::TypeDesc::FLOAT, "pxr24"},
        {"4k-dwaa.exr", 4096, 2160, OIIO::TypeDesc::HALF, "dwaa"},
        {"4k-dwab.exr", 4096, 2160, OIIO::TypeDesc::HALF, "dwab"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OIIO::ImageSpec spec(c.width, c.height, 4, c.type);
        spec.attribute("compression", c.compression);
        const std::vector<float> black(static_cast<std::size_t>(c.width * c.height * 4), 0.0f);
        auto exr = OIIO::ImageOutput::create("exr");
        ASSERT_TRUE(exr && exr->open(in.file(c.name), spec) &&
                    exr->write_image(OIIO::TypeDesc::FLOAT, black.data()) && exr->close());
        Clip clip;
        clip.frameFiles = {in.file(c.name)};
        clip.frameCount = 1;
        FootageFormat format;
        ASSERT_NO_THROW(format = probeFootage(clip)) << std::filesystem::file_size(in.file(c.name));
        EXPECT_EQ(format.width, c.width);
        EXPECT_EQ(format.height, c.height);
    }
}

TEST(HostileFootage, DpxUserDataClaimingMoreThanTheFileIsRefused)
{
    // OpenImageIO's DPX reader reads the user data by its stated size, "undefined" (all ones)
    // included: 4 GiB for a file of a few kilobytes (found by the fuzzer).
    TempDir in, out;
    writeRampImage(in.file("frame.dpx"), 4, 4, nullptr);
    std::vector<std::uint8_t> bytes = readBytes(in.file("frame.dpx"));
    for (std::size_t i = 32; i < 36; ++i) {
        bytes[i] = 0xFF;
    }
    writeBytes(in.file("claim.dpx"), bytes);
    expectRefused(runLimited(in.file("claim.dpx"), out.file("plate.png")),
                  in.file("claim.dpx") + ": damaged DPX header (user data of 4294967295 bytes, "
                                         "more than the file holds)",
                  out);
}

TEST(HostileFootage, CutFilesFailNamingTheFileInsteadOfGoingBlack)
{
    TempDir in, out;
    struct Case {
        const char *name;
        const char *compression;
        const char *message;
    };
    const Case cases[] = {
        {"raw.tif", "none", "more than the file's"},
        {"zip.tif", "zip", "cannot decode the frame ("},
        {"lzw.tif", "lzw", "cannot decode the frame ("},
        {"frame.dpx", nullptr, "more than the file's"},
        {"frame.exr", "zip", "cannot decode the frame ("},
    };
    // 10-bit DPX: three samples to a 32-bit word, weighed to the byte.
    {
        OIIO::ImageSpec spec(97, 5, 3, OIIO::TypeDesc::UINT16);
        spec.attribute("oiio:BitsPerSample", 10);
        const std::vector<std::uint16_t> samples(97 * 5 * 3, 700);
        auto dpx = OIIO::ImageOutput::create("dpx");
        ASSERT_TRUE(dpx && dpx->open(in.file("whole10.dpx"), spec) &&
                    dpx->write_image(OIIO::TypeDesc::UINT16, samples.data()) && dpx->close());
        const auto whole = runLimited(in.file("whole10.dpx"), out.file("plate.png"));
        EXPECT_EQ(whole.exitStatus, 0) << whole.output;
        std::filesystem::remove(out.file("plate.png"));
        cutTo(in.file("whole10.dpx"), in.file("cut10.dpx"),
              readBytes(in.file("whole10.dpx")).size() - 100);
        expectRefused(runLimited(in.file("cut10.dpx"), out.file("plate.png")),
                      in.file("cut10.dpx") + ": the file ends 100 bytes before its last pixel",
                      out);
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string whole = in.file(std::string("whole-") + c.name);
        const std::string cut = in.file(c.name);
        writeRampImage(whole, 96, 256, c.compression);
        cutTo(whole, cut, readBytes(whole).size() / 2);
        const auto run = runLimited(cut, out.file("plate.png"));
        expectRefused(run, cut + ": ", out);
        EXPECT_THAT(run.output, HasSubstr(c.message));
        EXPECT_THAT(run.output, Not(HasSubstr("()")));
        EXPECT_THAT(run.output, Not(HasSubstr("( )")));
    }
}

TEST(HostileFootage, SpecialFilesAreRefusedAtOnce)
{
    TempDir in, out;
    ASSERT_EQ(runProgram({"mkfifo", in.file("pipe.exr")}).exitStatus, 0);
    for (const std::string &input : {std::string("/dev/zero"), in.file("pipe.exr")}) {
        SCOPED_TRACE(input);
        expectRefused(runLimited(input, out.file("plate.png")), input + ": not a regular file",
                      out);
    }
}

TEST(HostileFootage, UnreadableFramesSayWhy)
{
    TempDir in;
    const std::vector<std::uint8_t> pixels = ramp(4, 4, 3);
    for (const char *name : {"f0.png", "f1.png", "f2.tif"}) {
        writeImage(in.file(name), 4, 4, 3, OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT8,
                   pixels.data());
    }
    Clip clip;
    clip.frameFiles = {in.file("f0.png"), in.file("f1.png"), in.file("f2.tif")};
    clip.frameCount = 3;
    const FootageFormat format = probeFootage(clip);

    // Gone between discovery and decoding: whatever the format, the system's reason is given.
    std::filesystem::remove(in.file("f1.png"));
    std::filesystem::remove(in.file("f2.tif"));
    for (const int frame : {1, 2}) {
        World target(4, 4, PixelDepth::Bits8);
        DecodeRequest request;
        request.clip = &clip;
        request.format = format;
        request.frames = {frame};
        request.target = [&](std::size_t) {
            return FrameTarget{target.row(0), target.rowStride()};
        };
        try {
            decodeFrames(request);
            ADD_FAILURE() << "a missing frame decoded";
        } catch (const RunError &error) {
            EXPECT_EQ(std::string(error.what()),
                      clip.frameFiles[static_cast<std::size_t>(frame)] +
                          ": cannot open the frame (No such file or directory)");
        }
    }
}

// How a windowed EXR is stored: float or half samples, in scanlines or in square tiles.
struct ExrLayout {
    OIIO::TypeDesc type;
    int tile; // 0: scanlines
};

// Sample `index` of a windowed EXR: whole numbers that half holds exactly.
float windowedSample(std::size_t index)
{
    return 1.0f + static_cast<float>(index % 2000);
}

// A display window of `fullWidth` x `fullHeight`; the frame's data window `x`, `y`, `width` x
// `height` (which may reach outside it) holds RGBA samples numbered by windowedSample.
std::string writeWindowedExr(const TempDir &dir, const std::string &name, const ExrLayout &layout,
                             int x, int y, int width, int height, int fullWidth, int fullHeight)
{
    const std::string path = dir.file(name);
    OIIO::ImageSpec spec(width, height, 4, layout.type);
    spec.x = x;
    spec.y = y;
    spec.full_x = 0;
    spec.full_y = 0;
    spec.full_width = fullWidth;
    spec.full_height = fullHeight;
    spec.alpha_channel = 3;
    if (layout.tile > 0) {
        spec.tile_width = layout.tile;
        spec.tile_height = layout.tile;
    }
    std::vector<float> samples(static_cast<std::size_t>(width * height * 4));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = windowedSample(i);
    }
    auto out = OIIO::ImageOutput::create(path);
    EXPECT_TRUE(out && out->open(path, spec) &&
                out->write_image(OIIO::TypeDesc::FLOAT, samples.data()) && out->close());
    return path;
}

// Every layout, as the chunked, tiled and half reads each place the data window on their own; the
// tall case spans several row chunks and starts its reads a tile row above the display window.
TEST(HostileFootage, ExrDataWindowsArePlacedInTheDisplayWindow)
{
    TempDir in;
    struct Case {
        const char *name;
        int x, y, width, height;
        int fullWidth = 8, fullHeight = 6;
    };
    const Case cases[] = {
        {"inside", 2, 1, 4, 3},      {"whole", 0, 0, 8, 6},
        {"overscan", -2, -1, 12, 8}, {"corner", 6, 4, 5, 5},
        {"outside", 20, 20, 2, 2},   {"tall-overscan", -1, -20, 10, 180, 8, 150},
    };
    const ExrLayout layouts[] = {
        {OIIO::TypeDesc::FLOAT, 0},
        {OIIO::TypeDesc::HALF, 0},
        {OIIO::TypeDesc::FLOAT, 16},
        {OIIO::TypeDesc::HALF, 16},
    };
    for (const ExrLayout &layout : layouts) {
        for (const Case &c : cases) {
            const std::string name = std::string(c.name) + "-" + layout.type.c_str() + "-t" +
                                     std::to_string(layout.tile) + ".exr";
            SCOPED_TRACE(name);
            const std::string path = writeWindowedExr(in, name, layout, c.x, c.y, c.width, c.height,
                                                      c.fullWidth, c.fullHeight);
            Clip clip;
            clip.frameFiles = {path};
            clip.frameCount = 1;
            const FootageFormat format = probeFootage(clip);
            ASSERT_EQ(format.width, c.fullWidth);
            ASSERT_EQ(format.height, c.fullHeight);

            World target(c.fullWidth, c.fullHeight, PixelDepth::Float32);
            target.fillBytes(0x55); // what a fresh allocation may hold
            DecodeRequest request;
            request.clip = &clip;
            request.format = format;
            request.frames = {0};
            request.depth = PixelDepth::Float32;
            request.target = [&](std::size_t) {
                return FrameTarget{target.row(0), target.rowStride()};
            };
            decodeFrames(request);

            for (int y = 0; y < c.fullHeight; ++y) {
                const auto *row = reinterpret_cast<const float *>(target.row(y));
                for (int x = 0; x < c.fullWidth; ++x) {
                    const bool stored =
                        x >= c.x && x < c.x + c.width && y >= c.y && y < c.y + c.height;
                    const auto index =
                        static_cast<std::size_t>(((y - c.y) * c.width + (x - c.x)) * 4);
                    auto sample = [&](std::size_t s) {
                        return stored ? windowedSample(index + s) : 0.0f;
                    };
                    // Host pixels are alpha, red, green, blue.
                    const float expected[4] = {sample(3), sample(0), sample(1), sample(2)};
                    for (int s = 0; s < 4; ++s) {
                        ASSERT_EQ(row[x * 4 + s], expected[s]) << "pixel " << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(HostileFootage, MoviesWhoseFramesCannotBeCountedAreRefused)
{
    if (!haveProgram("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg makes the movies";
    }
    TempDir in, out;
    auto ffmpeg = [&](std::vector<std::string> tail) {
        std::vector<std::string> args{
            "ffmpeg",    "-nostdin", "-loglevel", "error",
            "-f",        "lavfi",    "-i",        "testsrc=size=64x48:rate=10",
            "-frames:v", "30"};
        args.insert(args.end(), tail.begin(), tail.end());
        ASSERT_EQ(runProgram(args).exitStatus, 0);
    };

    // The same stream in a container is read whole.
    for (const char *name : {"boxed.mp4", "boxed.avi"}) {
        ffmpeg({"-c:v", "mpeg4", in.file(name)});
        const auto boxed = runLimited(in.file(name), out.file("plate.png"), {"--end", "29"});
        EXPECT_EQ(boxed.exitStatus, 0) << boxed.output;
        std::filesystem::rename(out.file("plate.png"), out.file(std::string(name) + ".png"));
    }
    // A raw MPEG-4 stream has no time stamps (OpenImageIO counted 3 of its 30 frames): its
    // frames are counted as they decode, so it gives the boxed stream's plate.
    ffmpeg({"-c:v", "mpeg4", "-f", "m4v", in.file("raw.m4v")});
    const auto raw = runLimited(in.file("raw.m4v"), out.file("plate.png"), {"--end", "29"});
    EXPECT_EQ(raw.exitStatus, 0) << raw.output;
    EXPECT_EQ(readBytes(out.file("plate.png")), readBytes(out.file("boxed.mp4.png")));
    for (const char *plate : {"plate.png", "boxed.mp4.png", "boxed.avi.png"}) {
        std::filesystem::remove(out.file(plate));
    }

    // With its head cut off, an MP4 claims about 10^9 frames and an AVI a few: both are refused
    // before anything is sized by the claim, even when one frame is asked for.
    for (const char *name : {"boxed.mp4", "boxed.avi"}) {
        const std::string headless = in.file(std::string("headless-") + name);
        std::vector<std::uint8_t> bytes = readBytes(in.file(name));
        bytes.erase(bytes.begin(), bytes.begin() + 2000);
        writeBytes(headless, bytes);
        const auto run = runLimited(headless, out.file("plate.png"), {"--end", "0"});
        // Without its head no demuxer knows the container: refused by its first bytes.
        expectRefused(run, headless + ": cannot read it as an image or a movie", out);
        EXPECT_THAT(run.output, HasSubstr("no container FFmpeg's libraries know"));
    }
}

} // namespace
