#include "RenderHarness.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "engine/FramemeldParameter.h"
#include "engine/Pixel.h"
#include "host/FramemeldParams.h"
#include "tests/engine/ConsensusOracle.h"

namespace framemeld::rendertest {

namespace {

std::uint32_t Mix(std::uint32_t seed, int k, int x, int y, int c)
{
    std::uint64_t h = seed * 0x9E3779B97F4A7C15ull;
    for (int v : {k, x, y, c}) {
        h ^= static_cast<std::uint64_t>(static_cast<std::uint32_t>(v)) + 0x9E3779B97F4A7C15ull +
             (h << 6) + (h >> 2);
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    return static_cast<std::uint32_t>(h >> 16);
}

// Channel c (0 alpha, 1 red, 2 green, 3 blue) of frame k at (x, y), in the depth's host units.
double ChannelValue(rn::PixelDepth depth, std::uint32_t seed, int k, int x, int y, int c)
{
    const bool outlier = Mix(seed, k, x, y, 9) % 5 == 0;
    const std::uint32_t noise = Mix(seed, k, x, y, c) % 5; // 0..4
    const double level = 30.0 + static_cast<double>(Mix(seed, -1, x, y, c) % 190);
    switch (depth) {
    case rn::PixelDepth::Bits8:
        if (outlier) {
            return c == 0 ? (Mix(seed, k, x, y, 7) % 2 ? 255.0 : 0.0)
                          : Mix(seed, k, x, y, c + 20) % 256;
        }
        if (c == 0) {
            return 255.0;
        }
        return level + static_cast<double>(noise % 3) - 1.0;
    case rn::PixelDepth::Bits16:
        if (outlier) {
            return Mix(seed, k, x, y, c + 20) % 65536; // beyond 32768 now and then
        }
        if (c == 0) {
            return 32768.0;
        }
        return level * 128.0 + (static_cast<double>(noise) - 2.0) * 200.0;
    case rn::PixelDepth::Float32:
        if (outlier) {
            return static_cast<double>(Mix(seed, k, x, y, c + 20) % 1000) / 400.0 - 0.5;
        }
        if (c == 0) {
            return 1.0;
        }
        return level / 255.0 + (static_cast<double>(noise) - 2.0) * 0.006;
    }
    return 0.0;
}

void WriteFrame(rn::World &world, std::uint32_t seed, int k)
{
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            double v[4];
            for (int c = 0; c < 4; ++c) {
                v[c] = ChannelValue(world.depth(), seed, k, x, y, c);
            }
            switch (world.depth()) {
            case rn::PixelDepth::Bits8: {
                PF_Pixel8 &p = world.at<PF_Pixel8>(x, y);
                p.alpha = static_cast<A_u_char>(v[0]);
                p.red = static_cast<A_u_char>(v[1]);
                p.green = static_cast<A_u_char>(v[2]);
                p.blue = static_cast<A_u_char>(v[3]);
                break;
            }
            case rn::PixelDepth::Bits16: {
                PF_Pixel16 &p = world.at<PF_Pixel16>(x, y);
                p.alpha = static_cast<A_u_short>(v[0]);
                p.red = static_cast<A_u_short>(v[1]);
                p.green = static_cast<A_u_short>(v[2]);
                p.blue = static_cast<A_u_short>(v[3]);
                break;
            }
            case rn::PixelDepth::Float32: {
                PF_PixelFloat &p = world.at<PF_PixelFloat>(x, y);
                p.alpha = static_cast<float>(v[0]);
                p.red = static_cast<float>(v[1]);
                p.green = static_cast<float>(v[2]);
                p.blue = static_cast<float>(v[3]);
                break;
            }
            }
        }
    }
}

// The host's 16-bit scale: 32768 is full scale.
float From16(A_u_short v)
{
    return static_cast<float>(v) / 32768.0f;
}

A_u_short To16(float value)
{
    const double clamped =
        std::isnan(value) ? 0.0 : std::min(1.0, std::max(0.0, static_cast<double>(value)));
    return static_cast<A_u_short>(std::trunc(clamped * 32768.0));
}

bool Visible(const SampledFrame &frame, int x, int y)
{
    return frame.world != nullptr && x < frame.visibleWidth && y < frame.visibleHeight;
}

template <typename T, typename HostPixel> Pixel<T> Sample(const SampledFrame &frame, int x, int y)
{
    if (!Visible(frame, x, y)) {
        return Pixel<T>{};
    }
    const HostPixel &p = frame.world->at<HostPixel>(x, y);
    if constexpr (std::is_same<HostPixel, PF_Pixel16>::value) {
        return Pixel<T>{From16(p.red), From16(p.green), From16(p.blue), From16(p.alpha)};
    } else {
        return Pixel<T>{p.red, p.green, p.blue, p.alpha};
    }
}

template <typename T, typename HostPixel>
void FillExpected(const std::vector<SampledFrame> &frames, const FramemeldParameter &parameter,
                  rn::World &plate)
{
    std::vector<Pixel<T>> samples(frames.size() + 1);
    for (int y = 0; y < plate.height(); ++y) {
        for (int x = 0; x < plate.width(); ++x) {
            for (std::size_t k = 0; k < frames.size(); ++k) {
                samples[k] = Sample<T, HostPixel>(frames[k], x, y);
            }
            const Pixel<T> result = framemeld::oracle::consensusPixel(samples.data(), parameter);
            HostPixel &out = plate.at<HostPixel>(x, y);
            if constexpr (std::is_same<HostPixel, PF_Pixel16>::value) {
                out.alpha = To16(result.alpha);
                out.red = To16(result.red);
                out.green = To16(result.green);
                out.blue = To16(result.blue);
            } else {
                out.alpha = result.alpha;
                out.red = result.red;
                out.green = result.green;
                out.blue = result.blue;
            }
        }
    }
}

template <typename HostPixel> bool SamePixel(const HostPixel &a, const HostPixel &b)
{
    return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

template <typename HostPixel> std::string Describe(const HostPixel &p)
{
    std::ostringstream text;
    text << "(a " << +p.alpha << ", r " << +p.red << ", g " << +p.green << ", b " << +p.blue << ")";
    return text.str();
}

template <typename HostPixel>
::testing::AssertionResult ComparePixels(const rn::World &expected, const rn::World &actual)
{
    long mismatches = 0;
    std::ostringstream first;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const HostPixel &e = expected.at<HostPixel>(x, y);
            const HostPixel &a = actual.at<HostPixel>(x, y);
            if (!SamePixel(e, a)) {
                if (++mismatches <= 3) {
                    first << "\n  at (" << x << ", " << y << ") expected " << Describe(e)
                          << ", got " << Describe(a);
                }
            }
        }
    }
    if (mismatches == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << mismatches << " of " << expected.width() * expected.height()
           << " pixels differ:" << first.str();
}

} // namespace

rn::EntryPoint ModuleEntryPoint()
{
    static rn::PluginModule module(FRAMEMELD_MODULE_PATH);
    return module.entryPoint();
}

std::unique_ptr<rn::Host> MakeHost(const Sliders &sliders, const HostSetup &setup)
{
    rn::HostOptions options;
    options.threads = setup.threads;
    options.outputFill = setup.outputFill;
    auto host = std::make_unique<rn::Host>(ModuleEntryPoint(), options);
    const rn::SetupResult result = host->setup();
    EXPECT_TRUE(result.ok()) << (result.problems.empty() ? std::string() : result.problems.front());
    const std::pair<PF_ParamIndex, double> values[] = {{PARAM_START_FRAME, sliders.start},
                                                       {PARAM_END_FRAME, sliders.end},
                                                       {PARAM_EVERY_NTH, sliders.every},
                                                       {PARAM_DIVERGENCE, sliders.divergence},
                                                       {PARAM_RATING_RANGE, sliders.ratingRange}};
    for (const auto &[index, value] : values) {
        EXPECT_EQ(host->setParameter(index, value), value) << "slider " << index;
    }
    return host;
}

std::unique_ptr<rn::InMemoryFrameSource> MakeClip(int width, int height, rn::PixelDepth depth,
                                                  int frameCount, std::uint32_t seed)
{
    rn::RowPadding padding;
    padding.pixels = 7; // the runner's output worlds use 3
    auto clip = std::make_unique<rn::InMemoryFrameSource>(width, height, depth, padding);
    for (int k = 0; k < frameCount; ++k) {
        WriteFrame(clip->addFrame(), seed, k);
    }
    return clip;
}

std::vector<SampledFrame> SampledFrames(rn::FrameSource &clip, const Sliders &sliders,
                                        const rn::FaultPlan &faults)
{
    const int start = static_cast<int>(sliders.start);
    const int end = std::max(start, static_cast<int>(sliders.end));
    const int step = std::max(1, static_cast<int>(sliders.every));
    std::vector<SampledFrame> frames;
    for (int f = start; f <= end; f += step) {
        const A_long id = static_cast<A_long>(frames.size());
        SampledFrame frame;
        if (f < clip.frameCount() && faults.nullWorldCheckouts.count(id) == 0) {
            frame.world = &clip.frame(f);
            frame.visibleWidth = clip.width();
            frame.visibleHeight = clip.height();
            const auto smaller = faults.smallerWorldCheckouts.find(id);
            if (smaller != faults.smallerWorldCheckouts.end()) {
                frame.visibleWidth = std::min(frame.visibleWidth, smaller->second.width);
                frame.visibleHeight = std::min(frame.visibleHeight, smaller->second.height);
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

rn::World ExpectedPlate(const std::vector<SampledFrame> &frames, const Sliders &sliders, int width,
                        int height, rn::PixelDepth depth)
{
    FramemeldParameter parameter;
    parameter.bitDepth = depth == rn::PixelDepth::Bits8 ? 0 : 2;
    parameter.divergence = static_cast<float>(sliders.divergence);
    parameter.ratingRange = static_cast<float>(sliders.ratingRange);
    parameter.frameCount = static_cast<int>(frames.size());
    rn::World plate(width, height, depth);
    switch (depth) {
    case rn::PixelDepth::Bits8:
        FillExpected<unsigned char, PF_Pixel8>(frames, parameter, plate);
        break;
    case rn::PixelDepth::Bits16: FillExpected<float, PF_Pixel16>(frames, parameter, plate); break;
    case rn::PixelDepth::Float32:
        FillExpected<float, PF_PixelFloat>(frames, parameter, plate);
        break;
    }
    return plate;
}

::testing::AssertionResult SamePixels(const rn::World &expected, const rn::World &actual)
{
    if (!actual.valid()) {
        return ::testing::AssertionFailure() << "no output world";
    }
    if (expected.width() != actual.width() || expected.height() != actual.height() ||
        expected.depth() != actual.depth()) {
        return ::testing::AssertionFailure()
               << "output is " << actual.width() << "x" << actual.height() << ", expected "
               << expected.width() << "x" << expected.height();
    }
    switch (expected.depth()) {
    case rn::PixelDepth::Bits8: return ComparePixels<PF_Pixel8>(expected, actual);
    case rn::PixelDepth::Bits16: return ComparePixels<PF_Pixel16>(expected, actual);
    case rn::PixelDepth::Float32: return ComparePixels<PF_PixelFloat>(expected, actual);
    }
    return ::testing::AssertionFailure() << "unknown depth";
}

bool HoldsFill(const rn::World &world, int x, int y, unsigned char fill)
{
    const std::size_t size = rn::bytesPerPixel(world.depth());
    const unsigned char *bytes = world.row(y) + static_cast<std::size_t>(x) * size;
    return std::all_of(bytes, bytes + size, [fill](unsigned char b) { return b == fill; });
}

::testing::AssertionResult Balanced(const rn::Accounting &accounting)
{
    const std::vector<std::string> broken = rn::violations(accounting);
    if (broken.empty()) {
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (const std::string &rule : broken) {
        failure << "\n  " << rule;
    }
    return failure;
}

} // namespace framemeld::rendertest
