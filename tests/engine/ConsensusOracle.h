// Reference for the consensus of one pixel string, written as a plain step-by-step transcription
// of the rule and kept deliberately unoptimised, so that any faster engine can be checked against
// it bit for bit. Shared by the engine's and the render's test suites.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <type_traits>
#include <vector>

#include "engine/FramemeldParameter.h"
#include "engine/Pixel.h"

namespace framemeld::oracle {

// Truncation toward zero into 0..255; NaN and negatives give 0, anything above 255 gives 255.
inline unsigned char saturatedByte(double value)
{
    if (std::isnan(value) || value <= 0.0) {
        return 0;
    }
    if (value >= 255.0) {
        return 255;
    }
    return static_cast<unsigned char>(std::trunc(value));
}

// The consensus pixel of samples[0 .. parameter.frameCount - 1]. T is unsigned char (expects
// bitDepth 0) or float (expects bitDepth 2). When ratings is given it receives every sample's
// rating, for diagnosing a mismatch.
template <typename T>
Pixel<T> consensusPixel(const Pixel<T> *samples, const FramemeldParameter &parameter,
                        std::vector<float> *ratings = nullptr)
{
    static_assert(std::is_same<T, unsigned char>::value || std::is_same<T, float>::value,
                  "only 8-bit and float pixels have a consensus");
    constexpr bool eightBit = std::is_same<T, unsigned char>::value;
    const int n = parameter.frameCount;

    // Step 1: tolerance.
    float divergence = parameter.divergence;
    if (parameter.bitDepth == 2) {
        divergence = static_cast<float>(static_cast<double>(parameter.divergence) * 0.01);
    }
    const int byteTolerance = saturatedByte(static_cast<double>(divergence));
    const float floatTolerance = divergence;

    // Step 2: nothing to rate.
    if (n < 1) {
        if (ratings != nullptr) {
            ratings->clear();
        }
        return Pixel<T>{0, 0, 0, 0};
    }

    // Step 5, as a function: all four components agree, red first, stopping at the first that
    // does not.
    auto componentAgrees = [&](T a, T b) -> bool {
        if constexpr (eightBit) {
            const int difference = static_cast<int>(a) - static_cast<int>(b);
            return std::abs(difference) < byteTolerance;
        } else {
            // A NaN difference never agrees; any other keeps the comparison below, which under
            // a NaN tolerance lets every other difference agree.
            const float difference = a - b;
            if (std::isnan(difference)) {
                return false;
            }
            return !(std::fabs(difference) >= floatTolerance);
        }
    };
    auto pixelsAgree = [&](const Pixel<T> &a, const Pixel<T> &b) -> bool {
        const T first[4] = {a.red, a.green, a.blue, a.alpha};
        const T second[4] = {b.red, b.green, b.blue, b.alpha};
        for (int c = 0; c < 4; ++c) {
            if (!componentAgrees(first[c], second[c])) {
                return false;
            }
        }
        return true;
    };

    // Step 3.
    std::vector<float> rating(static_cast<std::size_t>(n), 0.0f);
    float highest = 0.0f;

    // Step 4: rating pass.
    for (int i = 0; i < n; ++i) {
        float c = 1.0f;
        for (int j = 0; j < i; ++j) {
            if (pixelsAgree(samples[j], samples[i])) {
                rating[static_cast<std::size_t>(j)] += 1.0f;
                c += 1.0f;
                if (rating[static_cast<std::size_t>(j)] > highest) {
                    highest = rating[static_cast<std::size_t>(j)];
                }
            }
        }
        if (c > highest) {
            highest = c;
        }
        rating[static_cast<std::size_t>(i)] = c;
    }

    // A float sample with a NaN or an infinity in any component never enters the mean.
    auto mayEnterMean = [](const Pixel<T> &sample) -> bool {
        if constexpr (eightBit) {
            return true;
        } else {
            return std::isfinite(sample.red) && std::isfinite(sample.green) &&
                   std::isfinite(sample.blue) && std::isfinite(sample.alpha);
        }
    };

    // Step 6: selection, summed in index order in single precision.
    const float cutoff = highest - parameter.ratingRange;
    float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float selected = 0.0f;
    for (int k = 0; k < n; ++k) {
        if (rating[static_cast<std::size_t>(k)] > cutoff && mayEnterMean(samples[k])) {
            const T component[4] = {samples[k].red, samples[k].green, samples[k].blue,
                                    samples[k].alpha};
            for (int c = 0; c < 4; ++c) {
                sum[c] += static_cast<float>(component[c]);
            }
            selected += 1.0f;
        }
    }

    if (ratings != nullptr) {
        *ratings = rating;
    }

    // Step 7: output.
    if (selected == 0.0f) {
        return Pixel<T>{0, 0, 0, 0};
    }
    T result[4];
    for (int c = 0; c < 4; ++c) {
        const float quotient = sum[c] / selected;
        if constexpr (eightBit) {
            result[c] = saturatedByte(static_cast<double>(quotient));
        } else {
            result[c] = quotient;
        }
    }
    return Pixel<T>{result[0], result[1], result[2], result[3]};
}

} // namespace framemeld::oracle
