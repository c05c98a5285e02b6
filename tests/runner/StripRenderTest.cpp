// Renders of part of the layer: the checked-out frames cover only the requested rectangle and say
// where it lies, the frame source is asked for just those rows, and a plate rendered strip by
// strip is stitched into the same bytes as the whole-frame render.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScriptedEffect.h"
#include "TinyEffectFixture.h"
#include "runner/StripRender.h"

using namespace framemeld::runnertest;

namespace {

const PixelDepth kDepths[] = {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32};

std::string depthName(PixelDepth depth)
{
    return std::to_string(bitsPerChannel(depth)) + "-bit";
}

// The pixel bytes of every row (padding left out) are equal.
::testing::AssertionResult sameBytes(const World &expected, const World &actual)
{
    if (expected.width() != actual.width() || expected.height() != actual.height() ||
        expected.depth() != actual.depth()) {
        return ::testing::AssertionFailure()
               << "expected " << expected.width() << "x" << expected.height() << ", got "
               << actual.width() << "x" << actual.height();
    }
    const std::size_t bytes =
        static_cast<std::size_t>(expected.width()) * bytesPerPixel(expected.depth());
    for (int y = 0; y < expected.height(); ++y) {
        if (bytes != 0 && std::memcmp(expected.row(y), actual.row(y), bytes) != 0) {
            return ::testing::AssertionFailure() << "row " << y << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

// A copy of a checked-out world's pixels, taken while the plug-in holds it.
World copyOf(const PF_EffectWorld &world, PixelDepth depth)
{
    World copy(world.width, world.height, depth);
    const std::size_t bytes = static_cast<std::size_t>(world.width) * bytesPerPixel(depth);
    for (A_long y = 0; y < world.height; ++y) {
        std::memcpy(copy.row(static_cast<int>(y)),
                    reinterpret_cast<const unsigned char *>(world.data) +
                        static_cast<std::ptrdiff_t>(y) * world.rowbytes,
                    bytes);
    }
    return copy;
}

// Pattern footage made for any area on request; asking for a whole frame is an error, so a render
// that passes shows it never needed one. Can be told to fail from a row on.
class AreaOnlySource final : public FrameSource {
public:
    AreaOnlySource(int width, int height, PixelDepth depth, int frames)
        : width_(width), height_(height), depth_(depth), frames_(frames)
    {}

    int frameCount() const override { return frames_; }
    int width() const override { return width_; }
    int height() const override { return height_; }
    PixelDepth depth() const override { return depth_; }
    const World &frame(int) override { throw std::runtime_error("a whole frame was asked for"); }

    void fillArea(int index, const PF_LRect &area, World &into) override
    {
        areas.push_back(area);
        if (area.bottom > failFromRow) {
            throw std::runtime_error("row decoder failed");
        }
        if (wrongSize) {
            into = World(into.width() + 1, into.height(), depth_);
            return;
        }
        for (int y = 0; y < into.height(); ++y) {
            for (int x = 0; x < into.width(); ++x) {
                const int lx = x + area.left;
                const int ly = y + area.top;
                switch (depth_) {
                case PixelDepth::Bits8:
                    fillPixel(into.at<PF_Pixel8>(x, y), index, lx, ly, depth_);
                    break;
                case PixelDepth::Bits16:
                    fillPixel(into.at<PF_Pixel16>(x, y), index, lx, ly, depth_);
                    break;
                case PixelDepth::Float32:
                    fillPixel(into.at<PF_PixelFloat>(x, y), index, lx, ly, depth_);
                    break;
                }
            }
        }
    }

    std::vector<PF_LRect> areas;
    int failFromRow = 1 << 30;
    bool wrongSize = false;

private:
    int width_;
    int height_;
    PixelDepth depth_;
    int frames_;
};

// The tiny effect's mean image, checked at its place in the layer.
void expectMeanAt(const World &output, int frames, int present, int left, int top)
{
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            switch (output.depth()) {
            case PixelDepth::Bits8:
                expectChannels(output.at<PF_Pixel8>(x, y), frames, present, 1.0, x + left, y + top,
                               output.depth());
                break;
            case PixelDepth::Bits16:
                expectChannels(output.at<PF_Pixel16>(x, y), frames, present, 1.0, x + left, y + top,
                               output.depth());
                break;
            case PixelDepth::Float32:
                expectChannels(output.at<PF_PixelFloat>(x, y), frames, present, 1.0, x + left,
                               y + top, output.depth());
                break;
            }
        }
    }
}

TEST(StripAreas, PartitionTheRowsTopDownWithTheRestInTheLastStrip)
{
    struct Case {
        int height;
        int rows;
    };
    for (const Case c : {Case{10, 1}, Case{10, 3}, Case{10, 4}, Case{10, 5}, Case{10, 10},
                         Case{10, 11}, Case{1, 1}, Case{7, 2147483647}}) {
        SCOPED_TRACE(std::to_string(c.height) + " rows in strips of " + std::to_string(c.rows));
        const std::vector<PF_LRect> areas = stripAreas(6, c.height, c.rows);
        ASSERT_FALSE(areas.empty());
        A_long next = 0;
        for (std::size_t i = 0; i < areas.size(); ++i) {
            EXPECT_EQ(areas[i].left, 0);
            EXPECT_EQ(areas[i].right, 6);
            EXPECT_EQ(areas[i].top, next);
            const A_long rows = areas[i].bottom - areas[i].top;
            if (i + 1 < areas.size()) {
                EXPECT_EQ(rows, c.rows);
            } else {
                EXPECT_GE(rows, 1);
                EXPECT_LE(rows, c.rows);
            }
            next = areas[i].bottom;
        }
        EXPECT_EQ(next, c.height);
    }
    const std::vector<PF_LRect> empty = stripAreas(4, 0, 3);
    ASSERT_EQ(empty.size(), 1U);
    EXPECT_EQ(empty[0].bottom, 0);
    EXPECT_EQ(empty[0].right, 4);
    EXPECT_THROW(stripAreas(4, 5, 0), std::invalid_argument);
    EXPECT_THROW(stripAreas(-1, 5, 2), std::invalid_argument);
}

// The scripted effect's render checks out frame 0 and the output and keeps copies of both.
struct SeenWorlds {
    PF_EffectWorld frame{};
    PF_EffectWorld output{};
    World framePixels;
};

void scriptCheckoutCapture(SeenWorlds &seen, PixelDepth depth)
{
    framemeld::scripted::reset();
    framemeld::scripted::script().render = [&seen, depth](PF_InData *in, PF_OutData *,
                                                          void *extraP) -> PF_Err {
        auto *extra = static_cast<PF_SmartRenderExtra *>(extraP);
        PF_EffectWorld *frame = nullptr;
        PF_EffectWorld *output = nullptr;
        PF_Err err = extra->cb->checkout_layer_pixels(in->effect_ref, 0, &frame);
        if (!err) {
            err = extra->cb->checkout_output(in->effect_ref, &output);
        }
        if (!err && frame && output) {
            seen.frame = *frame;
            seen.output = *output;
            seen.framePixels = copyOf(*frame, depth);
        }
        return err;
    };
}

TEST(PartialCheckouts, FramesCoverTheRequestedRectangleAndCarryItsOrigin)
{
    struct Case {
        PF_LRect request;
        PF_LRect covered; // the request within the 7 x 9 layer
    };
    const Case cases[] = {
        {{2, 3, 6, 8}, {2, 3, 6, 8}},  // inside
        {{0, 4, 7, 5}, {0, 4, 7, 5}},  // one full row
        {{5, 6, 12, 20}, {5, 6, 7, 9}} // past the bottom-right corner
    };
    for (PixelDepth depth : kDepths) {
        InMemoryFrameSource source(7, 9, depth);
        addPatternFrames(source, 1);
        for (const Case &c : cases) {
            SCOPED_TRACE(depthName(depth) + " at " + std::to_string(c.request.left) + "," +
                         std::to_string(c.request.top));
            SeenWorlds seen;
            scriptCheckoutCapture(seen, depth);
            Host host(&framemeld::scripted::entry, HostOptions{1, {}, 0});
            ASSERT_TRUE(host.setup().ok());
            RenderRequest request;
            request.area = c.request;
            const RenderResult result = host.render(source, request);
            ASSERT_EQ(result.err(), PF_Err_NONE);
            EXPECT_TRUE(violations(result.accounting).empty());

            const A_long width = c.covered.right - c.covered.left;
            const A_long height = c.covered.bottom - c.covered.top;
            EXPECT_EQ(seen.frame.width, width);
            EXPECT_EQ(seen.frame.height, height);
            EXPECT_EQ(seen.frame.origin_x, c.covered.left);
            EXPECT_EQ(seen.frame.origin_y, c.covered.top);
            // The output lines up with the frames: same size, same place in the layer.
            EXPECT_EQ(seen.output.width, width);
            EXPECT_EQ(seen.output.height, height);
            EXPECT_EQ(seen.output.origin_x, c.covered.left);
            EXPECT_EQ(seen.output.origin_y, c.covered.top);

            World expected(width, height, depth);
            copyPixels(source.frame(0), c.covered, expected, 0, 0);
            EXPECT_TRUE(sameBytes(expected, seen.framePixels));
        }
    }
    framemeld::scripted::reset();
}

TEST(PartialCheckouts, AWholeFrameRequestStillGetsTheSourcesOwnFrame)
{
    SeenWorlds seen;
    scriptCheckoutCapture(seen, PixelDepth::Bits8);
    Host host(&framemeld::scripted::entry, HostOptions{1, {}, 0});
    ASSERT_TRUE(host.setup().ok());
    InMemoryFrameSource source(4, 3, PixelDepth::Bits8);
    addPatternFrames(source, 1);
    ASSERT_EQ(host.render(source).err(), PF_Err_NONE);
    EXPECT_EQ(seen.frame.data, source.frame(0).effectWorld()->data);
    EXPECT_EQ(seen.frame.origin_x, 0);
    EXPECT_EQ(seen.frame.origin_y, 0);
    framemeld::scripted::reset();
}

TEST(PartialCheckouts, FramesComeFromTheSourceByAreaAndTimesOutsideTheClipAreTransparent)
{
    for (PixelDepth depth : kDepths) {
        SCOPED_TRACE(depthName(depth));
        TinyEffectHost tiny(2);
        tiny.host.setParameter("Frames", 4);
        AreaOnlySource source(6, 8, depth, 2); // frames 2 and 3 lie outside the clip
        RenderRequest request;
        request.area = PF_LRect{1, 5, 5, 7};
        const RenderResult result = tiny.host.render(source, request);
        ASSERT_EQ(result.err(), PF_Err_NONE) << result.record.hostErrors.size();
        EXPECT_TRUE(violations(result.accounting).empty());
        ASSERT_EQ(source.areas.size(), 2U);
        for (const PF_LRect &area : source.areas) {
            EXPECT_EQ(area.left, 1);
            EXPECT_EQ(area.top, 5);
            EXPECT_EQ(area.right, 5);
            EXPECT_EQ(area.bottom, 7);
        }
        ASSERT_EQ(result.output.width(), 4);
        ASSERT_EQ(result.output.height(), 2);
        expectMeanAt(result.output, 4, 2, 1, 5);
    }
}

TEST(PartialCheckouts, ASourceThatFailsFailsTheCheckoutWithItsReason)
{
    TinyEffectHost tiny(1);
    RenderRequest request;
    request.area = PF_LRect{0, 2, 5, 4};

    AreaOnlySource throwing(5, 6, PixelDepth::Bits8, 3);
    throwing.failFromRow = 3;
    RenderResult result = tiny.host.render(throwing, request);
    EXPECT_EQ(result.smartRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    ASSERT_EQ(result.record.hostErrors.size(), 1U);
    EXPECT_NE(result.record.hostErrors[0].find("row decoder failed"), std::string::npos);
    EXPECT_FALSE(result.record.pixelCheckouts.at(0).gotWorld);

    AreaOnlySource resizing(5, 6, PixelDepth::Bits8, 3);
    resizing.wrongSize = true;
    result = tiny.host.render(resizing, request);
    EXPECT_EQ(result.smartRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    ASSERT_EQ(result.record.hostErrors.size(), 1U);
    EXPECT_NE(result.record.hostErrors[0].find("rows 2..4 of frame 0"), std::string::npos);
}

TEST(PlateInStrips, IsTheWholeFrameRenderByteForByte)
{
    for (PixelDepth depth : kDepths) {
        InMemoryFrameSource source(9, 11, depth);
        addPatternFrames(source, 3);
        TinyEffectHost tiny(2);
        tiny.host.setParameter("Frames", 3);
        const RenderResult whole = tiny.host.render(source);
        ASSERT_EQ(whole.err(), PF_Err_NONE);
        for (int rows : {1, 2, 4, 11, 40}) {
            SCOPED_TRACE(depthName(depth) + ", strips of " + std::to_string(rows));
            World plate(9, 11, depth);
            plate.fillBytes(0x77);
            const StripsOutcome outcome = renderPlateInStrips(tiny.host, source, plate, rows);
            ASSERT_TRUE(outcome.complete) << outcome.problem;
            EXPECT_TRUE(outcome.problem.empty());
            EXPECT_EQ(outcome.strips.size(), static_cast<std::size_t>((11 + rows - 1) / rows));
            for (const StripReport &strip : outcome.strips) {
                EXPECT_TRUE(violations(strip.accounting).empty());
                EXPECT_EQ(strip.record.pixelCheckouts.size(), 3U);
            }
            EXPECT_TRUE(sameBytes(whole.output, plate));
        }
    }
}

TEST(PlateInStrips, NeedsNoWholeFrameAndAsksOnlyForEachStripsRows)
{
    TinyEffectHost tiny(3);
    tiny.host.setParameter("Frames", 2);
    AreaOnlySource source(5, 10, PixelDepth::Bits16, 2);
    World plate(5, 10, PixelDepth::Bits16);
    const StripsOutcome outcome = renderPlateInStrips(tiny.host, source, plate, 3);
    ASSERT_TRUE(outcome.complete) << outcome.problem;
    ASSERT_EQ(source.areas.size(), 8U); // two frames for each of four strips
    for (std::size_t i = 0; i < source.areas.size(); ++i) {
        const A_long top = static_cast<A_long>(i / 2) * 3;
        EXPECT_EQ(source.areas[i].top, top);
        EXPECT_EQ(source.areas[i].bottom, std::min<A_long>(top + 3, 10));
    }
    expectMeanAt(plate, 2, 2, 0, 0);
}

TEST(PlateInStrips, StopsAtTheFirstFailedStripAndLeavesTheRestAlone)
{
    TinyEffectHost tiny(2);
    tiny.host.setParameter("Frames", 2);
    AreaOnlySource source(4, 9, PixelDepth::Bits8, 2);
    source.failFromRow = 5; // the second strip of four rows needs rows up to 8
    World plate(4, 9, PixelDepth::Bits8);
    plate.fillBytes(0x77);
    const StripsOutcome outcome = renderPlateInStrips(tiny.host, source, plate, 4);

    EXPECT_FALSE(outcome.complete);
    ASSERT_EQ(outcome.strips.size(), 2U);
    EXPECT_EQ(outcome.err(), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_NE(outcome.problem.find("rows 4..8"), std::string::npos) << outcome.problem;
    EXPECT_EQ(outcome.strips[1].area.top, 4);
    EXPECT_TRUE(violations(outcome.strips[1].accounting).empty());
    for (int y = 0; y < 9; ++y) {
        const bool untouched = plate.at<PF_Pixel8>(0, y).red == 0x77;
        EXPECT_EQ(untouched, y >= 4) << "row " << y;
    }
}

TEST(PlateInStrips, AStripThatDrawsNothingIsAFailureNotAHole)
{
    framemeld::scripted::reset(); // its default render succeeds without checking out an output
    Host host(&framemeld::scripted::entry, HostOptions{1, {}, 0});
    ASSERT_TRUE(host.setup().ok());
    InMemoryFrameSource source(3, 4, PixelDepth::Bits8);
    addPatternFrames(source, 1);
    World plate(3, 4, PixelDepth::Bits8);
    const StripsOutcome outcome = renderPlateInStrips(host, source, plate, 2);
    EXPECT_FALSE(outcome.complete);
    EXPECT_EQ(outcome.strips.size(), 1U);
    EXPECT_EQ(outcome.err(), PF_Err_NONE);
    EXPECT_NE(outcome.problem.find("without checking out its output"), std::string::npos);
}

TEST(PlateInStrips, RefusesRequestsThatCannotBeStitched)
{
    TinyEffectHost tiny(1);
    InMemoryFrameSource source(3, 4, PixelDepth::Bits8);
    addPatternFrames(source, 1);
    World wrongSize(3, 5, PixelDepth::Bits8);
    EXPECT_THROW(renderPlateInStrips(tiny.host, source, wrongSize, 2), std::invalid_argument);
    World wrongDepth(3, 4, PixelDepth::Bits16);
    EXPECT_THROW(renderPlateInStrips(tiny.host, source, wrongDepth, 2), std::invalid_argument);
    World plate(3, 4, PixelDepth::Bits8);
    EXPECT_THROW(renderPlateInStrips(tiny.host, source, plate, 0), std::invalid_argument);
    RenderRequest withArea;
    withArea.area = PF_LRect{0, 0, 3, 2};
    EXPECT_THROW(renderPlateInStrips(tiny.host, source, plate, 2, withArea), std::invalid_argument);
}

} // namespace
