// The plate rendered strip by strip, each strip a host request of its own, against the same
// plate rendered whole: byte for byte at every depth, for strips of one row, of odd heights, with
// a shorter last strip and with one strip over everything, on several worker threads. Each strip
// may read its sampled frames only over its own rows.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RenderHarness.h"
#include "runner/StripRender.h"

namespace framemeld::rendertest {
namespace {

// The clip as the render sees it, noting every whole frame and every area asked for.
class WatchedClip final : public rn::FrameSource {
public:
    explicit WatchedClip(rn::FrameSource &clip) : clip_(clip) {}

    int frameCount() const override { return clip_.frameCount(); }
    int width() const override { return clip_.width(); }
    int height() const override { return clip_.height(); }
    rn::PixelDepth depth() const override { return clip_.depth(); }
    const rn::World &frame(int index) override
    {
        ++wholeFrames;
        return clip_.frame(index);
    }
    void fillArea(int index, const PF_LRect &area, rn::World &into) override
    {
        areas.push_back(area);
        clip_.fillArea(index, area, into);
    }

    int wholeFrames = 0;
    std::vector<PF_LRect> areas;

private:
    rn::FrameSource &clip_;
};

::testing::AssertionResult SameBytes(const rn::World &expected, const rn::World &actual)
{
    if (expected.width() != actual.width() || expected.height() != actual.height() ||
        expected.depth() != actual.depth()) {
        return ::testing::AssertionFailure() << "the plates differ in size or depth";
    }
    const std::size_t bytes =
        static_cast<std::size_t>(expected.width()) * rn::bytesPerPixel(expected.depth());
    int differing = 0;
    int first = -1;
    for (int y = 0; y < expected.height(); ++y) {
        if (bytes != 0 && std::memcmp(expected.row(y), actual.row(y), bytes) != 0) {
            first = first < 0 ? y : first;
            ++differing;
        }
    }
    if (differing != 0) {
        return ::testing::AssertionFailure()
               << differing << " rows differ, the first is row " << first;
    }
    return ::testing::AssertionSuccess();
}

TEST(StripRender, StitchedStripsAreTheWholeFrameRenderByteForByte)
{
    Sliders sliders;
    sliders.start = 1;
    sliders.end = 11;
    sliders.every = 2;
    const int kWidth = 19;
    const int kHeight = 23;
    const A_long kSampled = 6;
    // One row; odd heights, the float render's band height, 23 = 3 x 7 + 2 (a short last strip);
    // the whole height; more than the whole height.
    const int kStripRows[] = {1, 3, 7, 10, 23, 64};
    for (rn::PixelDepth depth :
         {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
        auto clip = MakeClip(kWidth, kHeight, depth, 13, 5);
        for (unsigned threads : {2u, 3u}) {
            auto host = MakeHost(sliders, HostSetup{threads, 0x5A});
            const rn::RenderResult whole = host->render(*clip);
            ASSERT_EQ(whole.err(), PF_Err_NONE);
            for (int rows : kStripRows) {
                SCOPED_TRACE(std::to_string(rn::bitsPerChannel(depth)) + "-bit, " +
                             std::to_string(threads) + " threads, strips of " +
                             std::to_string(rows) + " rows");
                WatchedClip watched(*clip);
                rn::World plate(kWidth, kHeight, depth);
                plate.fillBytes(0xA5); // a row left unwritten cannot pass for a rendered one
                const rn::StripsOutcome outcome =
                    rn::renderPlateInStrips(*host, watched, plate, rows);
                ASSERT_TRUE(outcome.complete) << outcome.problem;
                EXPECT_TRUE(SameBytes(whole.output, plate));

                const std::size_t strips = static_cast<std::size_t>((kHeight + rows - 1) / rows);
                ASSERT_EQ(outcome.strips.size(), strips);
                for (const rn::StripReport &strip : outcome.strips) {
                    EXPECT_TRUE(Balanced(strip.accounting));
                    ASSERT_EQ(strip.record.pixelCheckouts.size(),
                              static_cast<std::size_t>(kSampled));
                    for (const rn::PixelCheckout &checkout : strip.record.pixelCheckouts) {
                        EXPECT_TRUE(checkout.gotWorld);
                    }
                }
                if (strips == 1) {
                    // One strip over everything is the whole-frame request, served from the
                    // clip's own frames.
                    EXPECT_EQ(watched.wholeFrames, kSampled);
                    EXPECT_TRUE(watched.areas.empty());
                    continue;
                }
                EXPECT_EQ(watched.wholeFrames, 0);
                ASSERT_EQ(watched.areas.size(), strips * static_cast<std::size_t>(kSampled));
                for (std::size_t i = 0; i < watched.areas.size(); ++i) {
                    const PF_LRect &area = watched.areas[i];
                    const PF_LRect &strip =
                        outcome.strips[i / static_cast<std::size_t>(kSampled)].area;
                    EXPECT_EQ(area.left, 0);
                    EXPECT_EQ(area.right, kWidth);
                    EXPECT_EQ(area.top, strip.top);
                    EXPECT_EQ(area.bottom, strip.bottom);
                }
            }
        }
    }
}

} // namespace
} // namespace framemeld::rendertest
