// Pixel strings as a static shot gives them: a background with a little sensor noise at every
// sample, and 10 to 30 % of the samples taken by something passing (a moving object whose values
// drift a little from frame to frame) or by isolated outliers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "engine/Pixel.h"

namespace framemeld::footage {

template <typename T> class FootageStrings {
public:
    explicit FootageStrings(std::uint32_t seed) : random_(seed) {}

    std::vector<Pixel<T>> make(int n)
    {
        std::uniform_real_distribution<double> level(0.05, 0.95);
        const Pixel<T> background = pixel(level(random_), level(random_), level(random_), 1.0);
        const Pixel<T> object = pixel(level(random_), level(random_), level(random_), 1.0);
        const double outlierShare = std::uniform_real_distribution<double>(0.10, 0.30)(random_);
        // The object covers one run of consecutive frames; the rest of the outliers are scattered.
        const int objectRun = static_cast<int>(outlierShare * n * 0.7);
        const int objectStart =
            n > objectRun
                ? static_cast<int>(random_() % static_cast<std::uint32_t>(n - objectRun + 1))
                : 0;
        std::bernoulli_distribution scattered(outlierShare * 0.3);

        std::vector<Pixel<T>> samples;
        samples.reserve(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            if (k >= objectStart && k < objectStart + objectRun) {
                samples.push_back(noisy(object, 0.02));
            } else if (scattered(random_)) {
                samples.push_back(pixel(unit(), unit(), unit(), 1.0));
            } else {
                samples.push_back(noisy(background, 0.006));
            }
        }
        return samples;
    }

private:
    double unit() { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); }

    static T component(double value)
    {
        if constexpr (std::is_same<T, unsigned char>::value) {
            return static_cast<unsigned char>(
                std::clamp(static_cast<int>(value * 255.0 + 0.5), 0, 255));
        } else {
            return static_cast<float>(value);
        }
    }

    static Pixel<T> pixel(double red, double green, double blue, double alpha)
    {
        return Pixel<T>{component(red), component(green), component(blue), component(alpha)};
    }

    // Gaussian noise of the given deviation (in full-scale units) on the colour, none on alpha.
    Pixel<T> noisy(const Pixel<T> &centre, double deviation)
    {
        std::normal_distribution<double> noise(0.0, deviation);
        const double scale = std::is_same<T, unsigned char>::value ? 1.0 / 255.0 : 1.0;
        const auto level = [scale](T value) { return static_cast<double>(value) * scale; };
        return pixel(level(centre.red) + noise(random_), level(centre.green) + noise(random_),
                     level(centre.blue) + noise(random_), level(centre.alpha));
    }

    std::mt19937 random_;
};

} // namespace framemeld::footage
