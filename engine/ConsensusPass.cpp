#include "engine/ConsensusPass.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace framemeld::consensus {

namespace {

using framemeld::rating::paddedCount;
using framemeld::rating::SamplePlanes;

// Truncates toward zero into 0..255, saturating at both ends and taking NaN as 0. A plain cast
// of a float outside (-1, 256) to an unsigned byte is undefined behaviour, and a divergence read
// from a project file is not guaranteed to lie within the slider's range.
unsigned char truncateToByte(float value)
{
    if (!(value > 0.0f)) {
        return 0;
    }
    if (value >= 255.0f) {
        return 255;
    }
    return static_cast<unsigned char>(value);
}

// "Divergence" counts levels out of 255 for 8-bit data but percent of full scale for float data.
// The product is formed in double and rounded once, so the float tolerance is the float nearest
// to divergence / 100 as the slider gives it (2 -> 0.02f).
float scaledDivergence(const FramemeldParameter &parameter)
{
    if (parameter.bitDepth == 2) {
        return static_cast<float>(static_cast<double>(parameter.divergence) * 0.01);
    }
    return parameter.divergence;
}

// The working memory of one call: the samples as component planes, the ratings and the byte
// kernels' column counters, each padded for the kernels. The strings that footage gives fit a
// buffer on the stack, so a render allocates nothing per pixel; longer ones take one heap block,
// whose cost vanishes beside their n(n - 1)/2 pair tests.
template <typename T> class Scratch {
public:
    explicit Scratch(int count) : padded_(paddedCount(count))
    {
        const std::size_t bytes = padded_ * (2 * sizeof(std::uint32_t) + 4 * sizeof(T));
        unsigned char *base = stack_;
        if (bytes > sizeof stack_) {
            heap_.reset(new unsigned char[bytes]);
            base = heap_.get();
        }
        ratings_ = reinterpret_cast<std::uint32_t *>(base);
        base += padded_ * sizeof(std::uint32_t);
        counters_ = reinterpret_cast<std::uint32_t *>(base);
        base += padded_ * sizeof(std::uint32_t);
        for (T *&plane : planes_) {
            plane = reinterpret_cast<T *>(base);
            base += padded_ * sizeof(T);
        }
    }

    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    // Writes the planes, zeroing their padding so that no kernel ever reads memory never written.
    void gather(const PixelString<Pixel<T>> &samples, int count)
    {
        // Local copies: the compiler cannot tell that the stores leave the plane pointers alone.
        T *const red = planes_[0];
        T *const green = planes_[1];
        T *const blue = planes_[2];
        T *const alpha = planes_[3];
        Pixel<T> *const *const pixels = samples.pixels;
        for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
            const Pixel<T> sample = *pixels[k];
            red[k] = sample.red;
            green[k] = sample.green;
            blue[k] = sample.blue;
            alpha[k] = sample.alpha;
        }
        for (T *plane : planes_) {
            std::memset(plane + count, 0, (padded_ - static_cast<std::size_t>(count)) * sizeof(T));
        }
    }

    SamplePlanes<T> planes(int count) const
    {
        return SamplePlanes<T>{planes_[0], planes_[1], planes_[2], planes_[3], count};
    }
    std::uint32_t *ratings() { return ratings_; }
    // Kernel scratch: 32-bit counters, or the same memory as byte counters.
    std::uint32_t *counters() { return counters_; }
    unsigned char *byteCounters() { return reinterpret_cast<unsigned char *>(counters_); }
    const T *plane(int component) const { return planes_[component]; }

private:
    // Up to 256 float samples or 512 byte ones, with their padding.
    static constexpr std::size_t kStackBytes =
        (256 + framemeld::rating::kBlock) * (2 * sizeof(std::uint32_t) + 4 * sizeof(float));

    alignas(64) unsigned char stack_[kStackBytes];
    std::unique_ptr<unsigned char[]> heap_;
    std::size_t padded_;
    std::uint32_t *ratings_ = nullptr;
    T *planes_[4] = {};
    std::uint32_t *counters_ = nullptr;
};

void rate(const framemeld::rating::RatingKernels &kernels, Scratch<unsigned char> &scratch,
          int count, float divergence)
{
    const unsigned char tolerance = truncateToByte(divergence);
    if (tolerance == 0) {
        // |a - b| < 0 never holds: every sample stands alone.
        for (int k = 0; k < count; ++k) {
            scratch.ratings()[k] = 1;
        }
        return;
    }
    kernels.bytes(scratch.planes(count), tolerance, scratch.ratings(), scratch.byteCounters());
}

void rate(const framemeld::rating::RatingKernels &kernels, Scratch<float> &scratch, int count,
          float divergence)
{
    kernels.floats(scratch.planes(count), divergence, scratch.ratings(), scratch.counters());
}

// Byte sums may be kept as integers while 255 n stays below 2^24: every partial float sum would
// then be a whole number that float holds exactly, so the float sum in index order has the same
// value. Longer byte strings, and all float ones, are summed in float in index order.
constexpr int kExactByteSumCount = 65793;

unsigned char meanComponent(float sum, float selected, unsigned char)
{
    return truncateToByte(sum / selected);
}
// Out-of-range values pass through: float footage may legitimately exceed 0..1.
float meanComponent(float sum, float selected, float)
{
    return sum / selected;
}

// The mean pixel of four component sums over the selected count; transparent black when nothing
// was selected. The count is below 2^24 like every rating, and byte sums of the strings that are
// summed as integers stay below 2^24 too, so both convert to float exactly.
template <typename T, typename Sum> Pixel<T> meanPixel(const Sum (&sums)[4], std::uint32_t selected)
{
    if (selected == 0) {
        return Pixel<T>{};
    }
    const float divisor = static_cast<float>(selected);
    return Pixel<T>{meanComponent(static_cast<float>(sums[0]), divisor, T{}),
                    meanComponent(static_cast<float>(sums[1]), divisor, T{}),
                    meanComponent(static_cast<float>(sums[2]), divisor, T{}),
                    meanComponent(static_cast<float>(sums[3]), divisor, T{})};
}

// The smallest rating r with r > cutoff, for whole-number ratings; above every rating when the
// cutoff is NaN or beyond them all.
std::uint64_t lowestSelectedRating(float cutoff)
{
    if (!(cutoff < 4294967296.0f)) {
        return std::uint64_t{1} << 32;
    }
    if (cutoff < 0.0f) {
        return 0;
    }
    return static_cast<std::uint64_t>(cutoff) + 1; // truncation is the floor here
}

// A component, or +0 where mask is zero; done on the bits so that the compiler keeps it free of
// branches, since which samples pass is as unpredictable as footage.
inline float masked(unsigned char value, std::uint32_t mask)
{
    return static_cast<float>(value & mask);
}
inline float masked(float value, std::uint32_t mask)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits &= mask;
    float result;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

// Whether a sample may enter the mean (1) or not (0). A float sample with a NaN or an infinity in
// any component never does: one such value makes the whole sum NaN or infinite, which a plate
// must not show however the sample was rated. Such samples come from broken renders and scans;
// the mean of the others is the plate. Tested on the exponent bits, without branches.
inline std::uint32_t entersMean(unsigned char, unsigned char, unsigned char, unsigned char)
{
    return 1u;
}
inline std::uint32_t isFinite(float value)
{
    constexpr std::uint32_t kExponent = 0x7F800000u;
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & kExponent) != kExponent ? 1u : 0u;
}
inline std::uint32_t entersMean(float red, float green, float blue, float alpha)
{
    return isFinite(red) & isFinite(green) & isFinite(blue) & isFinite(alpha);
}

// A float sum may take +0.0 for a sample left out: a running sum that starts at +0.0 is never
// -0.0, and x + 0.0 == x for every other x, NaN and infinities included.
template <typename Accumulator, typename T>
Pixel<T> meanOfSelected(const Scratch<T> &scratch, const std::uint32_t *ratings, int count,
                        std::uint64_t lowest)
{
    static_assert(sizeof(Accumulator) == 4, "float sums, or byte sums of short strings");
    const T *const red = scratch.plane(0);
    const T *const green = scratch.plane(1);
    const T *const blue = scratch.plane(2);
    const T *const alpha = scratch.plane(3);
    Accumulator sums[4] = {0, 0, 0, 0};
    std::uint32_t selected = 0;
    for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
        const std::uint32_t chosen =
            (ratings[k] >= lowest ? 1u : 0u) & entersMean(red[k], green[k], blue[k], alpha[k]);
        const std::uint32_t mask = 0u - chosen;
        sums[0] += static_cast<Accumulator>(masked(red[k], mask));
        sums[1] += static_cast<Accumulator>(masked(green[k], mask));
        sums[2] += static_cast<Accumulator>(masked(blue[k], mask));
        sums[3] += static_cast<Accumulator>(masked(alpha[k], mask));
        selected += chosen;
    }
    return meanPixel<T>(sums, selected);
}

template <typename T>
Pixel<T> mean(const framemeld::rating::RatingKernels &kernels, const Scratch<T> &scratch,
              const std::uint32_t *ratings, int count, float cutoff)
{
    const std::uint64_t lowest = lowestSelectedRating(cutoff);
    if (lowest > static_cast<std::uint64_t>(count)) {
        return Pixel<T>{}; // no rating reaches it: nothing is selected
    }
    if constexpr (sizeof(T) == 1) {
        if (count <= kExactByteSumCount) {
            std::uint32_t sums[4];
            std::uint32_t selected = 0;
            kernels.byteSums(scratch.planes(count), ratings, static_cast<std::uint32_t>(lowest),
                             sums, &selected);
            return meanPixel<T>(sums, selected);
        }
    }
    return meanOfSelected<float>(scratch, ratings, count, lowest);
}

} // namespace

template <typename T>
Pixel<T> consensusOf(const framemeld::rating::RatingKernels &kernels,
                     const FramemeldParameter &parameter, const PixelString<Pixel<T>> &samples)
{
    const int count = parameter.frameCount;
    if (count < 1) {
        return Pixel<T>{};
    }
    Scratch<T> scratch(count);
    scratch.gather(samples, count);
    rate(kernels, scratch, count, scaledDivergence(parameter));

    // Ratings are whole numbers far below 2^24, so the float comparisons below see them exactly.
    const std::uint32_t *ratings = scratch.ratings();
    std::uint32_t highest = 0;
    for (int k = 0; k < count; ++k) {
        highest = ratings[k] > highest ? ratings[k] : highest;
    }
    const float cutoff = static_cast<float>(highest) - parameter.ratingRange;
    return mean(kernels, scratch, ratings, count, cutoff);
}

template Pixel<unsigned char> consensusOf(const framemeld::rating::RatingKernels &,
                                          const FramemeldParameter &,
                                          const PixelString<Pixel<unsigned char>> &);
template Pixel<float> consensusOf(const framemeld::rating::RatingKernels &,
                                  const FramemeldParameter &, const PixelString<Pixel<float>> &);

} // namespace framemeld::consensus
