// Seeded generators of pixel strings for comparing the engine with the oracle: strings that look
// like footage (a background, a few passing objects, outliers) as well as noise, lattices whose
// differences fall exactly on the tolerance, alpha splits, tied groups, non-finite values and
// whole broken frames.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/Pixel.h"

namespace framemeld::samples {

enum class Kind {
    Footage,
    NarrowNoise,
    WideNoise,
    Lattice,
    AlphaSplit,
    TiedGroups,
    Extremes,
    BrokenFrames
};

inline const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Footage: return "footage";
    case Kind::NarrowNoise: return "narrow noise";
    case Kind::WideNoise: return "wide noise";
    case Kind::Lattice: return "tolerance lattice";
    case Kind::AlphaSplit: return "alpha split";
    case Kind::TiedGroups: return "tied groups";
    case Kind::Extremes: return "extremes";
    case Kind::BrokenFrames: return "broken frames";
    }
    return "?";
}

constexpr Kind kAllKinds[] = {Kind::Footage,  Kind::NarrowNoise, Kind::WideNoise,
                              Kind::Lattice,  Kind::AlphaSplit,  Kind::TiedGroups,
                              Kind::Extremes, Kind::BrokenFrames};

// Draws only from std::mt19937's raw output, whose sequence the standard fixes, so a seed names
// the same strings on every platform.
template <typename T> class Generator {
public:
    static constexpr bool kEightBit = std::is_same<T, unsigned char>::value;

    explicit Generator(std::uint32_t seed) : random_(seed) {}

    // n samples of the given kind. tolerance is the engine's per-component tolerance (levels for
    // 8-bit, full-scale units for float); the lattice steps are taken from it.
    std::vector<Pixel<T>> make(Kind kind, int n, double tolerance)
    {
        std::vector<Pixel<T>> samples;
        samples.reserve(static_cast<std::size_t>(std::max(n, 0)));
        switch (kind) {
        case Kind::Footage: footage(samples, n); break;
        case Kind::NarrowNoise: noise(samples, n, kEightBit ? 8.0 : 0.06); break;
        case Kind::WideNoise: noise(samples, n, kEightBit ? 255.0 : 1.0); break;
        case Kind::Lattice: lattice(samples, n, tolerance); break;
        case Kind::AlphaSplit: alphaSplit(samples, n); break;
        case Kind::TiedGroups: tiedGroups(samples, n); break;
        case Kind::Extremes: extremes(samples, n); break;
        case Kind::BrokenFrames: brokenFrames(samples, n); break;
        }
        return samples;
    }

private:
    std::uint32_t below(std::uint32_t bound)
    {
        return static_cast<std::uint32_t>(random_()) % bound;
    }
    double unit() { return static_cast<double>(random_() >> 8) / 16777216.0; }

    // A component from a value in full-scale units (0..1 maps to 0..255 for bytes).
    static T component(double value)
    {
        if constexpr (kEightBit) {
            return static_cast<unsigned char>(std::clamp(std::lround(value * 255.0), 0L, 255L));
        } else {
            return static_cast<float>(value);
        }
    }

    // Moves a component by a few small steps, so that differences land on both sides of the
    // common tolerances.
    T jittered(T value, int amplitude)
    {
        const int steps =
            static_cast<int>(below(static_cast<std::uint32_t>(2 * amplitude + 1))) - amplitude;
        if constexpr (kEightBit) {
            return static_cast<unsigned char>(std::clamp(int{value} + steps, 0, 255));
        } else {
            return value + static_cast<float>(steps) * 0.005f;
        }
    }

    Pixel<T> randomPixel(double low, double width)
    {
        return Pixel<T>{component(low + width * unit()), component(low + width * unit()),
                        component(low + width * unit()), component(low + width * unit())};
    }

    Pixel<T> near(const Pixel<T> &centre, int amplitude)
    {
        return Pixel<T>{jittered(centre.red, amplitude), jittered(centre.green, amplitude),
                        jittered(centre.blue, amplitude), jittered(centre.alpha, amplitude)};
    }

    void footage(std::vector<Pixel<T>> &samples, int n)
    {
        const int amplitude = 1 + static_cast<int>(below(4));
        Pixel<T> background = randomPixel(0.0, 1.0);
        background.alpha = component(1.0);
        std::vector<Pixel<T>> objects;
        for (std::uint32_t k = 0, count = 1 + below(3); k < count; ++k) {
            objects.push_back(randomPixel(0.0, 1.0));
        }
        for (int k = 0; k < n; ++k) {
            const std::uint32_t roll = below(100);
            if (roll < 55) {
                samples.push_back(near(background, amplitude));
            } else if (roll < 85) {
                samples.push_back(
                    near(objects[below(static_cast<std::uint32_t>(objects.size()))], amplitude));
            } else {
                samples.push_back(randomPixel(-0.1, 1.2));
            }
        }
    }

    void noise(std::vector<Pixel<T>> &samples, int n, double width)
    {
        const double fullWidth = kEightBit ? width / 255.0 : width;
        const double low = (1.0 - fullWidth) * unit();
        for (int k = 0; k < n; ++k) {
            samples.push_back(randomPixel(low, fullWidth));
        }
    }

    // Samples that differ from a common pixel in one component by exactly the tolerance, by one
    // step less, or by minus the tolerance, so that pairs land on both sides of the boundary.
    void lattice(std::vector<Pixel<T>> &samples, int n, double tolerance)
    {
        T offsets[4];
        if constexpr (kEightBit) {
            const int step = static_cast<int>(std::clamp(std::trunc(tolerance), 1.0, 127.0));
            for (int k = 0; k < 4; ++k) {
                offsets[k] = static_cast<unsigned char>(128 + (k == 0   ? 0
                                                               : k == 1 ? step
                                                               : k == 2 ? step - 1
                                                                        : -step));
            }
        } else {
            const float step =
                std::isfinite(tolerance) && tolerance > 0.0 ? static_cast<float>(tolerance) : 0.02f;
            offsets[0] = 0.0f;
            offsets[1] = step;
            offsets[2] = std::nextafter(step, 0.0f);
            offsets[3] = -step;
        }
        for (int k = 0; k < n; ++k) {
            Pixel<T> sample{offsets[0], offsets[0], offsets[0], offsets[0]};
            T *moved[] = {&sample.red, &sample.green, &sample.blue, &sample.alpha};
            *moved[below(4)] = offsets[below(4)];
            samples.push_back(sample);
        }
    }

    void alphaSplit(std::vector<Pixel<T>> &samples, int n)
    {
        const Pixel<T> colour = randomPixel(0.0, 1.0);
        for (int k = 0; k < n; ++k) {
            Pixel<T> sample = near(colour, 1);
            sample.alpha = component(below(2) == 0 ? 0.0 : 1.0);
            samples.push_back(sample);
        }
    }

    // Groups of equal size, far apart, in shuffled order; the remainder are outliers.
    void tiedGroups(std::vector<Pixel<T>> &samples, int n)
    {
        const int groups = 2 + static_cast<int>(below(3));
        const int size = std::max(1, n / groups);
        for (int k = 0; k < n; ++k) {
            const int group = k / size;
            if (group < groups) {
                const double level = 0.1 + 0.25 * group;
                samples.push_back(Pixel<T>{component(level), component(level),
                                           component(1.0 - level), component(1.0)});
            } else {
                samples.push_back(randomPixel(0.0, 1.0));
            }
        }
        for (std::size_t k = samples.size(); k > 1; --k) {
            std::swap(samples[k - 1], samples[below(static_cast<std::uint32_t>(k))]);
        }
    }

    // Footage with some components replaced by the ends of the range: 0 and 255 for bytes; NaN,
    // infinities, signed zero, huge, tiny and out-of-range values for float.
    void extremes(std::vector<Pixel<T>> &samples, int n)
    {
        footage(samples, n);
        for (Pixel<T> &sample : samples) {
            for (T *value : {&sample.red, &sample.green, &sample.blue, &sample.alpha}) {
                if (below(5) == 0) {
                    *value = extremeValue();
                }
            }
        }
    }

    // Footage in which some frames are broken as a whole: a NaN or infinite pixel, or one with a
    // single NaN or infinite component, several alike so that equal infinities meet. Bytes get
    // black and white frames.
    void brokenFrames(std::vector<Pixel<T>> &samples, int n)
    {
        footage(samples, n);
        for (Pixel<T> &sample : samples) {
            if (below(4) != 0) {
                continue;
            }
            if constexpr (kEightBit) {
                const T level = below(2) == 0 ? 0 : 255;
                sample = Pixel<T>{level, level, level, level};
            } else {
                const T broken[] = {std::numeric_limits<float>::quiet_NaN(),
                                    std::numeric_limits<float>::infinity(),
                                    -std::numeric_limits<float>::infinity()};
                const T value = broken[below(3)];
                if (below(2) == 0) {
                    sample = Pixel<T>{value, value, value, value};
                } else {
                    T *components[] = {&sample.red, &sample.green, &sample.blue, &sample.alpha};
                    *components[below(4)] = value;
                }
            }
        }
    }

    T extremeValue()
    {
        if constexpr (kEightBit) {
            return below(2) == 0 ? 0 : 255;
        } else {
            constexpr float kValues[] = {std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         -0.0f,
                                         -0.3f,
                                         1.7f,
                                         1e30f,
                                         -1e30f,
                                         std::numeric_limits<float>::max(),
                                         std::numeric_limits<float>::denorm_min()};
            return kValues[below(sizeof kValues / sizeof kValues[0])];
        }
    }

    std::mt19937 random_;
};

} // namespace framemeld::samples
