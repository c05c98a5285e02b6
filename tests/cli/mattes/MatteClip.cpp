#include "MatteClip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "RenderHarness.h"
#include "cli/mattes/AgreementTest.h"
#include "cli/mattes/HoldoutRow.h"
#include "cli/mattes/HonestHoles.h"
#include "tests/engine/ConsensusOracle.h"

namespace framemeld::mattestest {

namespace {

// Noise of -1, 0 or +1 steps, a step being one level at 8 bits and 0.004 at 16 and 32: pairs of
// background samples differ by two steps at most, far inside the clip's divergence.
float noise(rn::PixelDepth depth, int k, int x, int y, int c)
{
    const int steps = (k * 7 + x * 3 + y * 5 + c) % 3 - 1;
    return static_cast<float>(steps) * (depth == rn::PixelDepth::Bits8 ? 1.0f / 255.0f : 0.004f);
}

A_u_char toByte(float v)
{
    return static_cast<A_u_char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

A_u_short toDeep16(float v)
{
    return static_cast<A_u_short>(std::lround(std::clamp(v, 0.0f, 1.0f) * 32768.0f));
}

float from16(A_u_short v)
{
    return static_cast<float>(v) / 32768.0f;
}

// The render's store of a float result into 16 bits.
A_u_short store16(float v)
{
    if (!(v > 0.0f)) {
        return 0;
    }
    return v >= 1.0f ? A_u_short{32768} : static_cast<A_u_short>(v * 32768.0f);
}

std::unique_ptr<rn::InMemoryFrameSource> sourceOf(const std::vector<rn::World> &worlds,
                                                  rn::PixelDepth depth)
{
    auto source =
        std::make_unique<rn::InMemoryFrameSource>(MatteClip::kWidth, MatteClip::kHeight, depth);
    for (const rn::World &world : worlds) {
        source->addFrame(world.clone());
    }
    return source;
}

template <typename T, typename HostPixel> Pixel<T> enginePixel(const HostPixel &p)
{
    if constexpr (std::is_same<HostPixel, PF_Pixel16>::value) {
        return Pixel<T>{from16(p.red), from16(p.green), from16(p.blue), from16(p.alpha)};
    } else {
        return Pixel<T>{p.red, p.green, p.blue, p.alpha};
    }
}

template <typename T, typename HostPixel>
void fillExpected(const MatteClip &clip, double ratingRange, rn::World &plate)
{
    FramemeldParameter parameter;
    parameter.bitDepth = std::is_same<T, float>::value ? 2 : 0;
    parameter.divergence = static_cast<float>(clip.divergence());
    parameter.ratingRange = static_cast<float>(ratingRange);
    for (int y = 0; y < plate.height(); ++y) {
        for (int x = 0; x < plate.width(); ++x) {
            std::vector<Pixel<T>> visible;
            bool anyHeldOut = false;
            for (int k = 0; k < clip.frames(); ++k) {
                if (clip.heldOut(k, x, y)) {
                    anyHeldOut = true;
                } else {
                    visible.push_back(enginePixel<T>(clip.frame(k).at<HostPixel>(x, y)));
                }
            }
            parameter.frameCount = static_cast<int>(visible.size());
            std::vector<float> ratings;
            const Pixel<T> result =
                framemeld::oracle::consensusPixel(visible.data(), parameter, &ratings);
            const float highest = std::max(
                1.0f, ratings.empty() ? 0.0f : *std::max_element(ratings.begin(), ratings.end()));
            HostPixel &out = plate.at<HostPixel>(x, y);
            if (anyHeldOut && !(highest - parameter.ratingRange >= 1.0f)) {
                out = HostPixel{};
            } else if constexpr (std::is_same<HostPixel, PF_Pixel16>::value) {
                out = PF_Pixel16{store16(result.alpha), store16(result.red), store16(result.green),
                                 store16(result.blue)};
            } else {
                out = HostPixel{result.alpha, result.red, result.green, result.blue};
            }
        }
    }
}

} // namespace

std::vector<int> frameRange(int first, int end)
{
    std::vector<int> frames;
    for (int k = first; k < end; ++k) {
        frames.push_back(k);
    }
    return frames;
}

MatteClip::MatteClip(rn::PixelDepth depth, int frames) : depth_(depth), frameCount_(frames)
{
    rn::RowPadding padding;
    padding.pixels = 5; // unlike the runner's output worlds
    for (int k = 0; k < frames; ++k) {
        worlds_.emplace_back(kWidth, kHeight, depth, padding);
        mattes_.emplace_back(static_cast<std::size_t>(kWidth * kHeight), 0);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                Colour c = background(x, y);
                c.red += noise(depth, k, x, y, 0);
                c.green += noise(depth, k, x, y, 1);
                c.blue += noise(depth, k, x, y, 2);
                write(worlds_.back(), x, y, c);
            }
        }
    }
}

double MatteClip::divergence() const
{
    return depth_ == rn::PixelDepth::Bits8 ? 10.0 : 4.0;
}

Colour MatteClip::background(int x, int y) const
{
    return Colour{0.1f + 0.05f * static_cast<float>(x), 0.3f + 0.04f * static_cast<float>(y), 0.5f,
                  1.0f};
}

void MatteClip::write(rn::World &world, int x, int y, Colour c) const
{
    switch (depth_) {
    case rn::PixelDepth::Bits8: world.at<PF_Pixel8>(x, y) = hostPixel8(c); break;
    case rn::PixelDepth::Bits16: world.at<PF_Pixel16>(x, y) = hostPixel16(c); break;
    case rn::PixelDepth::Float32:
        world.at<PF_PixelFloat>(x, y) = PF_PixelFloat{c.alpha, c.red, c.green, c.blue};
        break;
    }
}

void MatteClip::placeObject(const Box &box, const std::vector<int> &frames, Colour colour)
{
    for (int k : frames) {
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                write(worlds_[static_cast<std::size_t>(k)], x, y, colour);
            }
        }
    }
}

void MatteClip::holdOut(const Box &box, const std::vector<int> &frames)
{
    for (int k : frames) {
        for (int y = box.top; y < box.bottom; ++y) {
            for (int x = box.left; x < box.right; ++x) {
                mattes_[static_cast<std::size_t>(k)][index(x, y)] = 1;
            }
        }
    }
}

std::unique_ptr<rn::InMemoryFrameSource>
MatteClip::prepared(const framemeld::mattes::HoldoutCodes &codes) const
{
    auto source = unprepared();
    for (int k = 0; k < frameCount_; ++k) {
        framemeld::mattes::applyHoldout(codes, k, matte(k).data(), source->frameForWriting(k));
    }
    return source;
}

std::unique_ptr<rn::InMemoryFrameSource> MatteClip::naivelyPrepared() const
{
    auto source = unprepared();
    for (int k = 0; k < frameCount_; ++k) {
        rn::World &world = source->frameForWriting(k);
        const std::size_t size = rn::bytesPerPixel(depth_);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if (heldOut(k, x, y)) {
                    std::fill_n(world.row(y) + static_cast<std::size_t>(x) * size, size, 0);
                }
            }
        }
    }
    return source;
}

std::unique_ptr<rn::InMemoryFrameSource> MatteClip::unprepared() const
{
    return sourceOf(worlds_, depth_);
}

PF_Pixel8 hostPixel8(Colour c)
{
    return PF_Pixel8{toByte(c.alpha), toByte(c.red), toByte(c.green), toByte(c.blue)};
}

PF_Pixel16 hostPixel16(Colour c)
{
    return PF_Pixel16{toDeep16(c.alpha), toDeep16(c.red), toDeep16(c.green), toDeep16(c.blue)};
}

rn::World renderPlate(rn::FrameSource &source, double divergence, double ratingRange)
{
    framemeld::rendertest::Sliders sliders;
    sliders.end = source.frameCount() - 1;
    sliders.divergence = divergence;
    sliders.ratingRange = ratingRange;
    auto host = framemeld::rendertest::MakeHost(sliders, {2, 0});
    rn::RenderResult result = host->render(source);
    EXPECT_EQ(result.err(), PF_Err_NONE);
    EXPECT_TRUE(framemeld::rendertest::Balanced(result.accounting));
    return std::move(result.output);
}

long makeHoles(const MatteClip &clip, rn::FrameSource &prepared,
               const framemeld::mattes::HoldoutCodes &codes, double ratingRange, rn::World &plate)
{
    std::vector<const unsigned char *> frameRows(static_cast<std::size_t>(clip.frames()));
    std::vector<const std::uint8_t *> matteRows(frameRows.size());
    framemeld::mattes::HoleRowInput input;
    input.codes = &codes;
    input.ratingRange = ratingRange;
    input.frameCount = clip.frames();
    input.width = plate.width();
    input.frameRows = frameRows.data();
    input.matteRows = matteRows.data();
    long holes = 0;
    for (int y = 0; y < plate.height(); ++y) {
        for (int k = 0; k < clip.frames(); ++k) {
            const auto slot = static_cast<std::size_t>(k);
            frameRows[slot] = prepared.frame(k).row(y);
            matteRows[slot] = clip.matte(k).data() + static_cast<std::size_t>(y * plate.width());
        }
        holes += framemeld::mattes::makeHolesHonest(input, plate.row(y));
    }
    return holes;
}

rn::World expectedPlate(const MatteClip &clip, double ratingRange)
{
    rn::World plate(MatteClip::kWidth, MatteClip::kHeight, clip.depth());
    switch (clip.depth()) {
    case rn::PixelDepth::Bits8:
        fillExpected<unsigned char, PF_Pixel8>(clip, ratingRange, plate);
        break;
    case rn::PixelDepth::Bits16: fillExpected<float, PF_Pixel16>(clip, ratingRange, plate); break;
    case rn::PixelDepth::Float32:
        fillExpected<float, PF_PixelFloat>(clip, ratingRange, plate);
        break;
    }
    return plate;
}

bool agreesWith(const rn::World &world, int x, int y, Colour colour, double divergence)
{
    const framemeld::mattes::AgreementTest test(world.depth(), divergence);
    switch (world.depth()) {
    case rn::PixelDepth::Bits8: return test.agrees(world.at<PF_Pixel8>(x, y), hostPixel8(colour));
    case rn::PixelDepth::Bits16:
        return test.agrees(world.at<PF_Pixel16>(x, y), hostPixel16(colour));
    case rn::PixelDepth::Float32:
        return test.agrees(world.at<PF_PixelFloat>(x, y),
                           PF_PixelFloat{colour.alpha, colour.red, colour.green, colour.blue});
    }
    return false;
}

bool isTransparentBlack(const rn::World &world, int x, int y)
{
    const std::size_t size = rn::bytesPerPixel(world.depth());
    const unsigned char *bytes = world.row(y) + static_cast<std::size_t>(x) * size;
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

} // namespace framemeld::mattestest
