// EXR windows in every way a run holds its frames: the frame is the display window joined with the
// stored pixels, overscan included and in its place, and a data window inside the display window
// leaves the rest of the frame transparent. Memory, the scratch file and rows read from the files
// must agree pixel for pixel, whole frames and strips of rows alike.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "CliTestSupport.h"
#include "cli/core/CliError.h"
#include "cli/core/PlateMetadata.h"
#include "cli/footage/ClipFrameSource.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr int kFrames = 4;

struct Windows {
    int dataX, dataY, dataWidth, dataHeight;
    int displayX, displayY, displayWidth, displayHeight;
};

// A value for every stored sample that tells its place and frame apart.
float storedSample(int frame, int x, int y, int channel)
{
    return static_cast<float>(x * 3 + y * 41 + channel * 7 + frame) / 256.0f - 0.25f;
}

void writeFrame(const std::string &path, const Windows &w, int frame)
{
    auto output = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(output);
    OIIO::ImageSpec spec(w.dataWidth, w.dataHeight, 4, OIIO::TypeDesc::FLOAT);
    spec.x = w.dataX;
    spec.y = w.dataY;
    spec.full_x = w.displayX;
    spec.full_y = w.displayY;
    spec.full_width = w.displayWidth;
    spec.full_height = w.displayHeight;
    spec.attribute("compression", "zip");
    std::vector<float> samples;
    for (int y = w.dataY; y < w.dataY + w.dataHeight; ++y) {
        for (int x = w.dataX; x < w.dataX + w.dataWidth; ++x) {
            for (int c = 0; c < 4; ++c) {
                samples.push_back(storedSample(frame, x, y, c));
            }
        }
    }
    ASSERT_TRUE(output->open(path, spec)) << output->geterror();
    ASSERT_TRUE(output->write_image(OIIO::TypeDesc::FLOAT, samples.data()));
    ASSERT_TRUE(output->close());
}

// What the frame's pixel (x, y) must hold: the stored sample, or transparent black where nothing
// is stored. (x, y) count from the frame's top-left, which is at (frameX, frameY).
float expectedSample(const Windows &w, int frameX, int frameY, int frame, int x, int y, int channel)
{
    const int fileX = frameX + x;
    const int fileY = frameY + y;
    const bool stored = fileX >= w.dataX && fileX < w.dataX + w.dataWidth && fileY >= w.dataY &&
                        fileY < w.dataY + w.dataHeight;
    return stored ? storedSample(frame, fileX, fileY, channel) : 0.0f;
}

// The host's float pixels are alpha first.
float hostSample(const World &world, int x, int y, int channel)
{
    const auto *row = reinterpret_cast<const float *>(world.row(y));
    return row[x * 4 + (channel == 3 ? 0 : channel + 1)];
}

TEST(FrameWindows, EveryFrameStorageHoldsTheWindowsUnion)
{
    struct Case {
        const char *what;
        Windows windows;
        int frameX, frameY, frameWidth, frameHeight;
    };
    const std::vector<Case> cases = {
        // Overscan on every side of a display window that does not start at 0,0.
        {"overscan", {-3, -2, 22, 13, 0, 0, 16, 9}, -3, -2, 22, 13},
        {"overscan on one side", {4, 5, 16, 9, 4, 5, 12, 9}, 4, 5, 16, 9},
        // Stored pixels inside the display window: the frame is the display window.
        {"a data window inside", {5, 2, 6, 4, 0, 0, 16, 9}, 0, 0, 16, 9},
        // Reaching out on the left and stopping short on the right.
        {"both", {-4, 1, 10, 5, 0, 0, 12, 8}, -4, 0, 16, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir in;
        for (int f = 0; f < kFrames; ++f) {
            writeFrame(in.file("shot." + std::to_string(f) + ".exr"), c.windows, f);
        }
        const Clip clip = discoverClip(in.file("shot.%d.exr"));
        const FootageFormat format = probeFootage(clip);
        ASSERT_EQ(format.width, c.frameWidth);
        ASSERT_EQ(format.height, c.frameHeight);
        EXPECT_EQ(format.windows.frameX, c.frameX);
        EXPECT_EQ(format.windows.frameY, c.frameY);
        EXPECT_EQ(format.windows.displayX, c.windows.displayX);
        EXPECT_EQ(format.windows.displayWidth, c.windows.displayWidth);

        for (const FrameStorage storage :
             {FrameStorage::Memory, FrameStorage::ScratchFile, FrameStorage::FileRows}) {
            SCOPED_TRACE(static_cast<int>(storage));
            auto source =
                makeClipFrameSource(storage, clip, format, PixelDepth::Float32, 2, nullptr);
            source->prepare({0, 1, 2, 3});
            for (int f = 0; f < kFrames; ++f) {
                const World &whole = source->frame(f);
                // Rows from the middle of the frame, as a band of a budgeted render reads them.
                const PF_LRect area{1, 2, c.frameWidth, c.frameHeight - 1};
                World part(area.right - area.left, area.bottom - area.top, PixelDepth::Float32);
                source->fillArea(f, area, part);
                for (int y = 0; y < c.frameHeight; ++y) {
                    for (int x = 0; x < c.frameWidth; ++x) {
                        for (int ch = 0; ch < 4; ++ch) {
                            const float expected =
                                expectedSample(c.windows, c.frameX, c.frameY, f, x, y, ch);
                            ASSERT_EQ(hostSample(whole, x, y, ch), expected)
                                << "frame " << f << " pixel " << x << "," << y;
                            if (x >= area.left && y >= area.top && y < area.bottom) {
                                ASSERT_EQ(hostSample(part, x - area.left, y - area.top, ch),
                                          expected)
                                    << "area of frame " << f << " pixel " << x << "," << y;
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(FrameWindows, FramesAreHeldToTheClipsDisplayWindow)
{
    // A later frame whose picture is another size is refused naming it; one whose display window
    // sits elsewhere (the same size) is placed by its own window.
    TempDir in;
    const Windows first{-2, -2, 12, 8, 0, 0, 8, 4};
    writeFrame(in.file("shot.0.exr"), first, 0);
    writeFrame(in.file("shot.1.exr"), {-2, -2, 12, 8, 0, 0, 9, 4}, 1);
    const Clip clip = discoverClip(in.file("shot.%d.exr"));
    const FootageFormat format = probeFootage(clip);
    auto source =
        makeClipFrameSource(FrameStorage::Memory, clip, format, PixelDepth::Float32, 1, nullptr);
    try {
        source->prepare({0, 1});
        ADD_FAILURE() << "a frame of another picture size was taken";
    } catch (const RunError &error) {
        EXPECT_THAT(error.what(), testing::HasSubstr("shot.1.exr: the frame is 9x4, the clip's "
                                                     "first frame 8x4"));
    }
}

TEST(FrameWindows, TheStripRecordCarriesTheWindows)
{
    PlateMetadata metadata;
    metadata.bitsPerSample = 10;
    metadata.attributes.push_back({"PixelAspectRatio", "float", std::string(4, '\0')});
    // Plain footage encodes as before windows were carried, so old and new records agree.
    const std::string plain = encodePlateMetadata(metadata);
    EXPECT_EQ(decodePlateMetadata(plain), metadata);
    metadata.windows = {0, 0, 16, 9, -3, -2, 22, 13};
    const std::string placed = encodePlateMetadata(metadata);
    EXPECT_EQ(placed.compare(0, plain.size(), plain), 0);
    const PlateMetadata back = decodePlateMetadata(placed);
    EXPECT_EQ(back, metadata);
    EXPECT_TRUE(back.windows.overscan());
    // Cut short or with windows that hold no frame, the record is refused.
    EXPECT_THROW(decodePlateMetadata(placed.substr(0, placed.size() - 1)), std::runtime_error);
    metadata.windows.frameWidth = 0;
    metadata.windows.frameX = 5;
    EXPECT_THROW(decodePlateMetadata(encodePlateMetadata(metadata)), std::runtime_error);
}

} // namespace
