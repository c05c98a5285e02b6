// The tiny effect module loaded into a Host, and footage whose expected render is easy to state.
#pragma once

#include <cmath>

#include <gtest/gtest.h>

#include "runner/Host.h"

namespace framemeld::runnertest {

using namespace framemeld::runner;

// Channel c of pixel (x, y) of frame k, in 0..254 before scaling to the depth.
inline int pattern(int k, int x, int y, int c)
{
    return (k * 40 + x * 3 + y * 5 + c * 11) % 255;
}

inline double scaled(int value, PixelDepth depth)
{
    switch (depth) {
    case PixelDepth::Bits8: return value;
    case PixelDepth::Bits16: return value * 128.0;
    case PixelDepth::Float32: return value / 255.0;
    }
    return 0.0;
}

template <class Pixel> void fillPixel(Pixel &p, int k, int x, int y, PixelDepth depth)
{
    using Channel = decltype(p.red);
    p.alpha = static_cast<Channel>(scaled(pattern(k, x, y, 0), depth));
    p.red = static_cast<Channel>(scaled(pattern(k, x, y, 1), depth));
    p.green = static_cast<Channel>(scaled(pattern(k, x, y, 2), depth));
    p.blue = static_cast<Channel>(scaled(pattern(k, x, y, 3), depth));
}

inline void addPatternFrames(InMemoryFrameSource &source, int count)
{
    for (int k = source.frameCount(), end = source.frameCount() + count; k < end; ++k) {
        World &frame = source.addFrame();
        for (int y = 0; y < frame.height(); ++y) {
            for (int x = 0; x < frame.width(); ++x) {
                switch (source.depth()) {
                case PixelDepth::Bits8:
                    fillPixel(frame.at<PF_Pixel8>(x, y), k, x, y, source.depth());
                    break;
                case PixelDepth::Bits16:
                    fillPixel(frame.at<PF_Pixel16>(x, y), k, x, y, source.depth());
                    break;
                case PixelDepth::Float32:
                    fillPixel(frame.at<PF_PixelFloat>(x, y), k, x, y, source.depth());
                    break;
                }
            }
        }
    }
}

// The tiny effect's output for channel c at (x, y): gain x the mean over `frames` frames, of
// which only the first `present` exist (the rest are transparent).
inline double expectedChannel(int frames, int present, double gain, int x, int y, int c,
                              PixelDepth depth)
{
    double sum = 0;
    for (int k = 0; k < present; ++k) {
        sum += scaled(pattern(k, x, y, c), depth);
    }
    const double value = sum * gain / frames;
    if (depth == PixelDepth::Float32) {
        return value;
    }
    return static_cast<double>(std::lround(std::min(value, channelFullScale(depth))));
}

template <class Pixel>
void expectChannels(const Pixel &p, int frames, int present, double gain, int x, int y,
                    PixelDepth depth)
{
    const double tolerance = depth == PixelDepth::Float32 ? 1e-5 : 0.0;
    const double channels[4] = {static_cast<double>(p.alpha), static_cast<double>(p.red),
                                static_cast<double>(p.green), static_cast<double>(p.blue)};
    for (int c = 0; c < 4; ++c) {
        EXPECT_NEAR(channels[c], expectedChannel(frames, present, gain, x, y, c, depth), tolerance)
            << "pixel " << x << "," << y << " channel " << c;
    }
}

inline void expectMeanImage(const World &output, int frames, int present, double gain)
{
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            switch (output.depth()) {
            case PixelDepth::Bits8:
                expectChannels(output.at<PF_Pixel8>(x, y), frames, present, gain, x, y,
                               output.depth());
                break;
            case PixelDepth::Bits16:
                expectChannels(output.at<PF_Pixel16>(x, y), frames, present, gain, x, y,
                               output.depth());
                break;
            case PixelDepth::Float32:
                expectChannels(output.at<PF_PixelFloat>(x, y), frames, present, gain, x, y,
                               output.depth());
                break;
            }
        }
    }
}

struct TinyEffectModule {
    PluginModule module{FRAMEMELD_TINY_EFFECT_PATH};
};

class TinyEffectHost {
public:
    explicit TinyEffectHost(unsigned threads)
        : host(module.entryPoint(), HostOptions{threads, {}, 0})
    {
        const SetupResult setup = host.setup();
        if (!setup.ok()) {
            ADD_FAILURE() << "tiny effect setup failed: " << setup.problems.front();
        }
    }
    PluginModule module{FRAMEMELD_TINY_EFFECT_PATH};
    Host host;
};

} // namespace framemeld::runnertest
