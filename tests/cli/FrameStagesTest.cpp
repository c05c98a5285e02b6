// A frame stage changes what the plug-in reads in the same way whichever source holds the frames:
// in memory (in place, once), through a scratch file and from the files' rows (as they are read),
// through every way the runner and the measurements read (whole frames, areas, handed-over bands,
// rows of every frame); stages keep their order; a whole-frame stage is refused where rows come
// from the files; the working space's encoding is the stage before the holdout codes, and the
// motion probe reads the footage before the encoding, changing nothing, whole or a band of rows
// at a time.
#include "cli/footage/FrameStages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "CliTestSupport.h"
#include "cli/files/ScratchFile.h"
#include "cli/footage/EncodeStage.h"
#include "cli/footage/FileRowsFrameSource.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/FootageDiscovery.h"
#include "cli/footage/MemoryFrameSource.h"
#include "cli/footage/MotionProbe.h"
#include "cli/footage/ScratchFrameSource.h"
#include "cli/workspace/WorkingSpace.h"

using namespace framemeld::cli;
using framemeld::cli::test::TempDir;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr int kWidth = 9;
constexpr int kHeight = 7;
constexpr int kFrames = 4;

// Marks each pixel it sees with the frame and the pixel's place, so that a stage applied to the
// wrong frame, rows or columns, twice or not at all, shows in the value.
class Marker final : public FrameStage {
public:
    explicit Marker(float step, bool whole = false) : step_(step), whole_(whole) {}
    bool wholeFrame() const override { return whole_; }
    void apply(int frame, const PF_LRect &area, unsigned char *pixels,
               std::ptrdiff_t rowBytes) const override
    {
        for (int y = area.top; y < area.bottom; ++y) {
            auto *row = reinterpret_cast<PF_PixelFloat *>(pixels + (y - area.top) * rowBytes);
            for (int x = area.left; x < area.right; ++x) {
                PF_PixelFloat &p = row[x - area.left];
                // Not commutative with another marker: the order of two stages shows too.
                p.red = p.red * 0.5f + step_ * static_cast<float>(1 + frame + 10 * y + 100 * x);
            }
        }
    }

private:
    float step_;
    bool whole_;
};

float decoded(int frame, int x, int y)
{
    return static_cast<float>((x * 3 + y * 5 + frame) % 11) / 10.0f;
}

float staged(int frame, int x, int y, float step)
{
    return decoded(frame, x, y) * 0.5f + step * static_cast<float>(1 + frame + 10 * y + 100 * x);
}

void writeClip(const TempDir &dir, const std::string &extension)
{
    for (int f = 0; f < kFrames; ++f) {
        std::vector<float> values;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                values.insert(values.end(), {decoded(f, x, y), 0.25f, 0.5f});
            }
        }
        framemeld::cli::test::writeImage(
            dir.file("f." + std::to_string(f) + "." + extension), kWidth, kHeight, 3,
            extension == "exr" ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT16,
            OIIO::TypeDesc::FLOAT, values.data());
    }
}

// Every way a source is read gives the staged value.
void expectStagedEverywhere(ClipFrameSource &source, float step, float tolerance)
{
    const std::vector<int> frames{0, 1, 2, 3};
    for (int f : frames) {
        const PF_LRect area{2, 1, 7, 5};
        World part(5, 4, PixelDepth::Float32);
        source.fillArea(f, area, part);
        for (int y = 1; y < 5; ++y) {
            for (int x = 2; x < 7; ++x) {
                EXPECT_NEAR(part.at<PF_PixelFloat>(x - 2, y - 1).red, staged(f, x, y, step),
                            tolerance)
                    << "area of frame " << f << " at " << x << "," << y;
            }
        }
    }
    World rows(kWidth, kFrames, PixelDepth::Float32);
    source.gatherRow(3, frames, rows);
    for (int f : frames) {
        EXPECT_NEAR(rows.at<PF_PixelFloat>(4, f).red, staged(f, 4, 3, step), tolerance);
    }
    source.prepare(frames);
    const PF_LRect band{0, 2, kWidth, 6};
    for (int f : frames) {
        World handed = source.takeArea(f, band);
        if (!handed.valid()) {
            handed = World(kWidth, 4, PixelDepth::Float32);
            source.fillArea(f, band, handed);
        }
        EXPECT_NEAR(handed.at<PF_PixelFloat>(8, 3).red, staged(f, 8, 5, step), tolerance)
            << "band of frame " << f;
    }
}

TEST(FrameStages, EverySourceAppliesAStageToWhatThePlugInReads)
{
    TempDir dir;
    writeClip(dir, "tif");
    writeClip(dir, "exr");
    const float step = 1.0f / 4096.0f;
    const float tolerance = 1.0f / 32768.0f; // the 16-bit files' own step
    for (const std::string extension : {"tif", "exr"}) {
        const Clip clip = discoverClip(dir.file("f.%d." + extension));
        const FootageFormat format = probeFootage(clip);
        std::vector<std::unique_ptr<ClipFrameSource>> sources;
        sources.push_back(
            std::make_unique<MemoryFrameSource>(clip, format, PixelDepth::Float32, 2, nullptr));
        sources.push_back(std::make_unique<ScratchFrameSource>(
            clip, format, PixelDepth::Float32, 2, nullptr, ScratchFile::defaultFolder()));
        if (format.rowAccess) {
            sources.push_back(std::make_unique<FileRowsFrameSource>(
                clip, format, PixelDepth::Float32, 2, nullptr));
        }
        for (auto &source : sources) {
            SCOPED_TRACE(extension);
            source->prepare({0, 1, 2, 3});
            // Added after the frames are decoded, as the holdout is once its codes are known.
            source->addStage(StageOrder::Holdout, std::make_shared<Marker>(step));
            expectStagedEverywhere(*source, step, tolerance);
            const World &whole = source->frame(2);
            EXPECT_NEAR(whole.at<PF_PixelFloat>(6, 6).red, staged(2, 6, 6, step), tolerance);
        }
    }
}

TEST(FrameStages, StagesKeepTheirOrderAndWholeFrameStagesGoWhereWholeFramesAre)
{
    FramePreparation preparation;
    preparation.add(StageOrder::Encode, std::make_shared<Marker>(1.0f));
    EXPECT_THROW(preparation.add(StageOrder::Warp, std::make_shared<Marker>(1.0f)),
                 std::logic_error)
        << "a warp after an encode would run in the wrong order";
    preparation.add(StageOrder::Holdout, std::make_shared<Marker>(2.0f));
    EXPECT_EQ(preparation.size(), 2u);

    TempDir dir;
    writeClip(dir, "exr");
    const Clip clip = discoverClip(dir.file("f.%d.exr"));
    const FootageFormat format = probeFootage(clip);
    FileRowsFrameSource rows(clip, format, PixelDepth::Float32, 1, nullptr);
    EXPECT_THROW(rows.addStage(StageOrder::Warp, std::make_shared<Marker>(1.0f, true)),
                 std::invalid_argument);

    // A scratch file stores a whole-frame stage given before its frames are decoded; once it
    // holds frames it can no longer give one whole frames.
    ScratchFrameSource scratch(clip, format, PixelDepth::Float32, 1, nullptr,
                               ScratchFile::defaultFolder());
    const float step = 1.0f / 4096.0f;
    scratch.addStage(StageOrder::Warp, std::make_shared<Marker>(step, true));
    scratch.prepare({0, 1, 2, 3});
    EXPECT_THROW(scratch.addStage(StageOrder::Warp, std::make_shared<Marker>(step, true)),
                 std::invalid_argument);
    expectStagedEverywhere(scratch, step, 1e-6f);
}

} // namespace

TEST(FrameStages, TheWorkingSpaceEncodesBeforeTheHoldoutCodesInEverySource)
{
    EXPECT_THROW(EncodeStage(WorkingSpace::linear(PixelDepth::Float32), PixelDepth::Float32),
                 std::invalid_argument)
        << "a space that changes nothing needs no stage";
    EXPECT_THROW(EncodeStage(WorkingSpace::log(PixelDepth::Bits16), PixelDepth::Float32),
                 std::invalid_argument);

    TempDir dir;
    writeClip(dir, "exr");
    const Clip clip = discoverClip(dir.file("f.%d.exr"));
    const FootageFormat format = probeFootage(clip);
    const WorkingSpace log = WorkingSpace::log(PixelDepth::Float32);
    const auto encoded = [&log](int frame, int x, int y) {
        World pixel(1, 1, PixelDepth::Float32);
        pixel.at<PF_PixelFloat>(0, 0) = PF_PixelFloat{1.0f, decoded(frame, x, y), 0.25f, 0.5f};
        log.encode(pixel);
        return pixel.at<PF_PixelFloat>(0, 0).red;
    };
    const float step = 1.0f / 4096.0f;
    std::vector<std::unique_ptr<ClipFrameSource>> sources;
    sources.push_back(
        std::make_unique<MemoryFrameSource>(clip, format, PixelDepth::Float32, 2, nullptr));
    sources.push_back(std::make_unique<ScratchFrameSource>(clip, format, PixelDepth::Float32, 2,
                                                           nullptr, ScratchFile::defaultFolder()));
    sources.push_back(
        std::make_unique<FileRowsFrameSource>(clip, format, PixelDepth::Float32, 2, nullptr));
    for (auto &source : sources) {
        // As a run does: the encoding before the frames are read, the codes once they are known.
        source->addStage(StageOrder::Encode,
                         std::make_shared<EncodeStage>(log, PixelDepth::Float32));
        source->prepare({0, 1, 2, 3});
        source->addStage(StageOrder::Holdout, std::make_shared<Marker>(step));
        for (int f = 0; f < kFrames; ++f) {
            World whole(kWidth, kHeight, PixelDepth::Float32);
            source->fillArea(f, PF_LRect{0, 0, kWidth, kHeight}, whole);
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const float expected = encoded(f, x, y) * 0.5f +
                                           step * static_cast<float>(1 + f + 10 * y + 100 * x);
                    ASSERT_NEAR(whole.at<PF_PixelFloat>(x, y).red, expected, 1e-6f)
                        << "frame " << f << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(FrameStages, TheMotionProbeSeesTheFootageAsDecodedInEverySource)
{
    TempDir dir;
    writeClip(dir, "exr");
    const Clip clip = discoverClip(dir.file("f.%d.exr"));
    const FootageFormat format = probeFootage(clip);
    const WorkingSpace log = WorkingSpace::log(PixelDepth::Float32);
    std::vector<std::unique_ptr<ClipFrameSource>> sources;
    sources.push_back(
        std::make_unique<MemoryFrameSource>(clip, format, PixelDepth::Float32, 2, nullptr));
    sources.push_back(std::make_unique<ScratchFrameSource>(clip, format, PixelDepth::Float32, 2,
                                                           nullptr, ScratchFile::defaultFolder()));
    for (auto &source : sources) {
        const auto probe = std::make_shared<MotionProbe>(PixelDepth::Float32, kWidth, kHeight);
        source->addStage(StageOrder::Probe, probe);
        source->addStage(StageOrder::Encode,
                         std::make_shared<EncodeStage>(log, PixelDepth::Float32));
        source->prepare({0, 1, 2, 3});
        for (int f = 0; f < kFrames; ++f) {
            const auto proxy = probe->proxy(f);
            ASSERT_TRUE(proxy) << "frame " << f;
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    // r + 2g + b over 4 of the file's values, not of their encoding.
                    ASSERT_NEAR(proxy->at(x, y), (decoded(f, x, y) + 2 * 0.25f + 0.5f) / 4, 1e-6f)
                        << "frame " << f << " at " << x << "," << y;
                }
            }
            // What the plug-in reads is the encoding alone: the probe changed nothing.
            World pixel(1, 1, PixelDepth::Float32);
            source->fillArea(f, PF_LRect{3, 2, 4, 3}, pixel);
            World expected(1, 1, PixelDepth::Float32);
            expected.at<PF_PixelFloat>(0, 0) = PF_PixelFloat{1.0f, decoded(f, 3, 2), 0.25f, 0.5f};
            log.encode(expected);
            EXPECT_EQ(pixel.at<PF_PixelFloat>(0, 0).red, expected.at<PF_PixelFloat>(0, 0).red);
        }
    }
    // Frames read a few rows at a time are never whole: a probe of whole frames is refused, and
    // one of row bands sees each frame's rows as decoded, as the bands read them.
    FileRowsFrameSource rows(clip, format, PixelDepth::Float32, 1, nullptr);
    EXPECT_THROW(rows.addStage(StageOrder::Probe,
                               std::make_shared<MotionProbe>(PixelDepth::Float32, kWidth, kHeight)),
                 std::invalid_argument);
    const auto bands =
        std::make_shared<MotionProbe>(PixelDepth::Float32, kWidth, kHeight, ProbeReads::RowBands);
    rows.addStage(StageOrder::Probe, bands);
    rows.addStage(StageOrder::Encode, std::make_shared<EncodeStage>(log, PixelDepth::Float32));
    rows.prepare({0, 1, 2, 3});
    World band(kWidth, kFrames, PixelDepth::Float32);
    for (int y = 0; y < kHeight; ++y) {
        EXPECT_FALSE(bands->proxy(2)) << "row " << y;
        rows.gatherRow(y, {0, 1, 2, 3}, band);
    }
    for (int f = 0; f < kFrames; ++f) {
        const auto proxy = bands->proxy(f);
        ASSERT_TRUE(proxy) << "frame " << f;
        EXPECT_NEAR(proxy->at(5, 4), (decoded(f, 5, 4) + 2 * 0.25f + 0.5f) / 4, 1e-6f);
    }
}
