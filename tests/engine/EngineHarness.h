// Runs the engine on plain arrays of pixels, as the render's workers would feed it.
#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/FramemeldEngine.h"

namespace framemeld::enginetest {

inline FramemeldParameter parameterFor(int bitDepth, float divergence, float ratingRange,
                                       int frameCount)
{
    FramemeldParameter parameter;
    parameter.bitDepth = bitDepth;
    parameter.divergence = divergence;
    parameter.ratingRange = ratingRange;
    parameter.frameCount = frameCount;
    return parameter;
}

template <typename T>
void fillString(PixelString<Pixel<T>> &string, const std::vector<Pixel<T>> &samples)
{
    for (int k = 0; k < string.length; ++k) {
        string[k] = samples[static_cast<std::size_t>(k)];
    }
}

// The engine's result for samples with the given parameter; frameCount is taken from the number
// of samples. The result starts as a poison pattern so that an unwritten component shows.
template <typename T>
Pixel<T> runEngine(FramemeldEngine<Pixel<T>> &engine, FramemeldParameter parameter,
                   const std::vector<Pixel<T>> &samples)
{
    parameter.frameCount = static_cast<int>(samples.size());
    PixelString<Pixel<T>> string(0, 0, parameter.frameCount);
    fillString(string, samples);
    Pixel<T> out;
    std::memset(&out, 0xA5, sizeof out);
    engine.process(&parameter, &string, &out);
    return out;
}

template <typename T> std::unique_ptr<FramemeldEngine<Pixel<T>>> makeEngine()
{
    return std::unique_ptr<FramemeldEngine<Pixel<T>>>(FramemeldEngine<Pixel<T>>::create());
}

template <typename T> bool sameBits(const Pixel<T> &a, const Pixel<T> &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Bit for bit, except that all NaNs count as one: which operand's NaN an addition passes on is
// up to the compiler's choice of operand order, so neither sign nor payload of a NaN result is
// part of the rule. Signed zeros still differ.
inline bool sameComponent(unsigned char a, unsigned char b)
{
    return a == b;
}
inline bool sameComponent(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

template <typename T> bool sameResult(const Pixel<T> &a, const Pixel<T> &b)
{
    return sameComponent(a.red, b.red) && sameComponent(a.green, b.green) &&
           sameComponent(a.blue, b.blue) && sameComponent(a.alpha, b.alpha);
}

} // namespace framemeld::enginetest
