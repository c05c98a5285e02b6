// Footage read strip by strip from its files: every strip's rows are exactly the rows of the whole
// frame as the in-memory source decodes it, for each layout a row reader has to get right (EXR
// blocks and tiles, a data window off the frame's corner, TIFF strips and tiles, DPX), and the
// plan keeps strips on the file's blocks.
#include "cli/footage/FileRowsFrameSource.h"
#include "cli/footage/EncodeStage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "CliTestSupport.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/MemoryFrameSource.h"
#include "cli/footage/NoiseMeasurement.h"
#include "cli/plan/MemoryPlan.h"
#include "runner/StripRender.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr int kWidth = 37;
constexpr int kHeight = 70;
constexpr int kFrames = 3;

struct Layout {
    std::string name;
    std::string extension;
    OIIO::TypeDesc type;
    int channels;
    std::string compression;  // "" for the writer's own
    int tile = 0;             // tile side, 0 for scanlines
    int tiffRowsPerStrip = 0; // TIFF only
    bool dataWindow = false;  // stored pixels off the frame's corner, smaller than it
    int expectedBlock = 1;
};

// Samples that differ per position, channel and frame, within what every type holds exactly
// enough that the host conversion is the only rounding.
float sample(int frame, int x, int y, int c)
{
    return static_cast<float>((x * 13 + y * 7 + c * 29 + frame * 5) % 97) / 96.0f;
}

void writeFrames(const TempDir &dir, const Layout &layout)
{
    for (int f = 0; f < kFrames; ++f) {
        OIIO::ImageSpec spec(kWidth, kHeight, layout.channels, layout.type);
        spec.full_width = kWidth;
        spec.full_height = kHeight;
        if (layout.dataWindow) {
            spec.x = 3;
            spec.y = 5;
            spec.width = kWidth - 9;
            spec.height = kHeight - 17;
        }
        if (layout.tile > 0) {
            spec.tile_width = layout.tile;
            spec.tile_height = layout.tile;
        }
        if (!layout.compression.empty()) {
            spec.attribute("compression", layout.compression);
        }
        if (layout.tiffRowsPerStrip > 0) {
            spec.attribute("tiff:RowsPerStrip", layout.tiffRowsPerStrip);
        }
        if (layout.extension == "dpx") {
            spec.attribute("oiio:BitsPerSample", 10);
        }
        spec.attribute("oiio:UnassociatedAlpha", 1);
        std::vector<float> values;
        for (int y = 0; y < spec.height; ++y) {
            for (int x = 0; x < spec.width; ++x) {
                for (int c = 0; c < layout.channels; ++c) {
                    values.push_back(sample(f, x, y, c));
                }
            }
        }
        const std::string path = dir.file("f." + std::to_string(f) + "." + layout.extension);
        auto output = OIIO::ImageOutput::create(path);
        ASSERT_TRUE(output) << OIIO::geterror();
        ASSERT_TRUE(output->open(path, spec)) << output->geterror();
        ASSERT_TRUE(output->write_image(OIIO::TypeDesc::FLOAT, values.data()))
            << output->geterror();
        ASSERT_TRUE(output->close()) << output->geterror();
    }
}

bool sameRows(const World &frame, int top, const World &strip)
{
    const std::size_t bytes =
        static_cast<std::size_t>(frame.width()) * framemeld::runner::bytesPerPixel(frame.depth());
    for (int y = 0; y < strip.height(); ++y) {
        if (std::memcmp(frame.row(top + y), strip.row(y), bytes) != 0) {
            ADD_FAILURE() << "row " << top + y << " differs";
            return false;
        }
    }
    return true;
}

const std::vector<Layout> &layouts()
{
    static const std::vector<Layout> all = {
        {"EXR half zip, RGBA", "exr", OIIO::TypeDesc::HALF, 4, "zip", 0, 0, false, 16},
        {"EXR float piz, RGB, data window", "exr", OIIO::TypeDesc::FLOAT, 3, "piz", 0, 0, true, 32},
        {"EXR half tiled 16, grey, data window", "exr", OIIO::TypeDesc::HALF, 1, "zip", 16, 0, true,
         16},
        {"EXR half uncompressed, RGBA", "exr", OIIO::TypeDesc::HALF, 4, "none", 0, 0, false, 1},
        {"TIFF 16-bit deflate strips of 8, RGBA", "tif", OIIO::TypeDesc::UINT16, 4, "zip", 0, 8,
         false, 8},
        {"TIFF 8-bit tiled 16, RGB", "tif", OIIO::TypeDesc::UINT8, 3, "", 16, 0, false, 16},
        {"DPX 10-bit, RGB", "dpx", OIIO::TypeDesc::UINT16, 3, "", 0, 0, false, 1},
    };
    return all;
}

TEST(FileRowsFrameSource, EveryStripIsTheWholeFramesRowsForEveryLayoutAndDepth)
{
    for (const Layout &layout : layouts()) {
        SCOPED_TRACE(layout.name);
        TempDir in;
        writeFrames(in, layout);
        const Clip clip = discoverClip(in.file("f.%d." + layout.extension));
        const FootageFormat format = probeFootage(clip);
        ASSERT_TRUE(format.rowAccess);
        EXPECT_EQ(format.rowBlock, layout.expectedBlock);
        for (const PixelDepth depth :
             {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
            SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
            MemoryFrameSource whole(clip, format, depth, 2, nullptr);
            FileRowsFrameSource rows(clip, format, depth, 2, nullptr);
            rows.prepare({2, 0, 1, 0});
            // Strips of one row, of an odd height crossing blocks, tiles and the data window's
            // edges, and one covering the frame.
            for (const int height : {1, 9, 23, kHeight}) {
                for (const PF_LRect &area :
                     framemeld::runner::stripAreas(kWidth, kHeight, height)) {
                    for (const int frame : {1, 0, 2}) {
                        World strip = rows.takeArea(frame, area);
                        ASSERT_TRUE(strip.valid());
                        ASSERT_EQ(strip.height(), area.bottom - area.top);
                        ASSERT_TRUE(sameRows(whole.frame(frame), area.top, strip))
                            << "strip " << area.top << ".." << area.bottom << " of frame " << frame;
                    }
                    // Handed out once; asked again, the runner fills one of its own.
                    EXPECT_FALSE(rows.takeArea(0, area).valid());
                    World again(kWidth, area.bottom - area.top, depth);
                    rows.fillArea(0, area, again);
                    EXPECT_TRUE(sameRows(whole.frame(0), area.top, again));
                }
            }
            // Part of a row: the files hold whole rows, the area's columns are kept.
            World part(11, 4, depth);
            rows.fillArea(1, PF_LRect{20, 30, 31, 34}, part);
            const std::size_t pixel = framemeld::runner::bytesPerPixel(depth);
            for (int y = 0; y < 4; ++y) {
                EXPECT_EQ(
                    std::memcmp(part.row(y), whole.frame(1).row(30 + y) + 20 * pixel, 11 * pixel),
                    0);
            }
            EXPECT_TRUE(sameRows(whole.frame(2), 0, rows.frame(2)));
            // One row of several frames at once, in the order asked (the noise estimate's reads).
            World across(kWidth, 3, depth);
            rows.gatherRow(41, {2, 0, 2}, across);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(
                    std::memcmp(across.row(i), whole.frame(i == 1 ? 0 : 2).row(41), kWidth * pixel),
                    0);
            }
        }
    }
}

// However a run holds its frames, the noise the automatic Divergence rests on is the same, to
// the last bit, in the footage's values and in the working space the frames are encoded into as
// they are decoded: the memory budget must never change the plate.
TEST(FileRowsFrameSource, TheNoiseEstimateIsTheSameWhateverHoldsTheFrames)
{
    TempDir in;
    writeFrames(in, layouts().front());
    const Clip clip = discoverClip(in.file("f.%d.exr"));
    const FootageFormat format = probeFootage(clip);
    const std::vector<int> sampled = {0, 2, 1, 2};
    for (const PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        SCOPED_TRACE(framemeld::runner::bitsPerChannel(depth));
        double linearSigma = 0.0;
        for (const WorkingSpace &space : {WorkingSpace::linear(depth), WorkingSpace::log(depth)}) {
            SCOPED_TRACE(space.name());
            std::vector<NoiseEstimate> estimates;
            for (const FrameStorage storage :
                 {FrameStorage::Memory, FrameStorage::ScratchFile, FrameStorage::FileRows}) {
                const auto frames = makeClipFrameSource(storage, clip, format, depth, 2, nullptr);
                if (space.changesPixels()) {
                    frames->addStage(StageOrder::Encode,
                                     std::make_shared<EncodeStage>(space, depth));
                }
                frames->prepare(sampled);
                estimates.push_back(estimateTemporalNoise(*frames, sampled, 2));
            }
            ASSERT_GT(estimates[0].deviations, 0);
            EXPECT_GT(estimates[0].sigma, 0.0);
            for (const NoiseEstimate &other : estimates) {
                EXPECT_EQ(other.sigma, estimates[0].sigma);
                EXPECT_EQ(other.deviations, estimates[0].deviations);
            }
            if (space.changesPixels()) {
                EXPECT_NE(estimates[0].sigma, linearSigma) << "the frames were not encoded";
            } else {
                linearSigma = estimates[0].sigma;
            }
        }
    }
}

TEST(FileRowsFrameSource, OnlySampledFramesAndWholeWidthStripsAreReadAhead)
{
    TempDir in;
    writeFrames(in, layouts().front());
    const Clip clip = discoverClip(in.file("f.%d.exr"));
    const FootageFormat format = probeFootage(clip);
    FileRowsFrameSource rows(clip, format, PixelDepth::Float32, 2, nullptr);
    rows.prepare({0, 2});
    EXPECT_FALSE(rows.takeArea(1, PF_LRect{0, 0, kWidth, 10}).valid()) << "frame 1 not sampled";
    EXPECT_FALSE(rows.takeArea(0, PF_LRect{1, 0, kWidth, 10}).valid()) << "not whole rows";
    EXPECT_TRUE(rows.takeArea(0, PF_LRect{0, 0, kWidth, 10}).valid());
    EXPECT_NEAR(rows.framesRead(), 2.0 * 10 / kHeight, 1e-9) << "each sampled frame's rows once";
    EXPECT_THROW(rows.prepare({kFrames}), std::out_of_range);

    // PNG has no row access: the tool's scratch path serves it, this source refuses it.
    TempDir png;
    const std::vector<std::uint8_t> bytes(kWidth * kHeight * 3, 100);
    test::writeImage(png.file("p.0.png"), kWidth, kHeight, 3, OIIO::TypeDesc::UINT8,
                     OIIO::TypeDesc::UINT8, bytes.data());
    const Clip pngClip = discoverClip(png.file("p.%d.png"));
    const FootageFormat pngFormat = probeFootage(pngClip);
    EXPECT_FALSE(pngFormat.rowAccess);
    EXPECT_THROW(FileRowsFrameSource(pngClip, pngFormat, PixelDepth::Bits8, 1, nullptr),
                 std::invalid_argument);
}

TEST(MemoryPlan, StripsReadFromFilesStayOnTheFilesBlocksAndNeedNoFrameBuffers)
{
    MemoryPlanInput input;
    input.width = 3840;
    input.height = 2160;
    input.depth = PixelDepth::Float32;
    input.frames = 200;
    input.threads = 2;
    input.fileBytesPerPixel = 8; // half RGBA
    input.budget = std::uint64_t{4} << 30;
    const MemoryPlan scratch = planMemory(input);
    EXPECT_NE(scratch.storage, FrameStorage::Memory);
    EXPECT_NE(scratch.storage, FrameStorage::FileRows);

    input.rowAccess = true;
    for (const int block : {1, 16, 32, 256}) {
        SCOPED_TRACE(block);
        input.rowBlock = block;
        const MemoryPlan plan = planMemory(input);
        EXPECT_EQ(plan.storage, FrameStorage::FileRows);
        EXPECT_EQ(plan.decodeThreads, 2);
        EXPECT_EQ(plan.bandRows % block, 0);
        const std::uint64_t used = plan.bandFixedBytes + 2 * plan.decoderBytes +
                                   static_cast<std::uint64_t>(plan.bandRows) * plan.bandRowBytes;
        EXPECT_LE(used, input.budget);
        EXPECT_GT(used + static_cast<std::uint64_t>(block) * plan.bandRowBytes, input.budget)
            << "a block more would still have fit";
        // No whole frame is ever decoded at once: a thread holds a few blocks, less than one
        // frame as stored.
        EXPECT_EQ(plan.minimumBudget, plan.bandFixedBytes + plan.bandRowBytes + plan.decoderBytes);
        EXPECT_LT(plan.decoderBytes, std::uint64_t{3840} * 2160 * 8);
    }
}

} // namespace
