#include "cli/footage/NoiseMeasurement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <thread>
#include <type_traits>

namespace framemeld::cli {
namespace {

using runner::PixelDepth;
using runner::World;

// About this many places per frame. Each place gives one deviation per sampled frame and
// channel, so even short clips pool far more deviations than the figure needs; whole rows are
// taken so that every cache line read serves several pixels.
constexpr double kGridPlaces = 32768.0;

// Float deviations are binned this finely (in full scale), far below one slider step (0.0001),
// which only places the cut and the median.
constexpr int kFloatBinBits = 16;
// Within a bin a float deviation is kept to this many more bits, as an integer, so that the sum
// of squares is exact integer arithmetic: the same whichever thread added which row.
constexpr int kFloatFractionBits = 16;

// Deviations beyond this many sigmas of the pooled median's estimate are taken for something
// in front of the background.
constexpr double kCutSigmas = 3.0;
// The cut never closes below this (in full scale). Compressed video is mostly exact copies with
// the odd jump of a few levels where a block was coded anew: the median there reads 0, and the
// jumps are the noise the consensus has to tolerate.
constexpr double kSmallestCut = 4.0 / 255.0;
// Samples within this much of one another (full scale) count as crowding together: one level
// of 255, the finest step of 8-bit footage.
constexpr double kCrowdWindow = 1.0 / 255.0;

constexpr double kPi = 3.14159265358979323846;

int rowStep(int width, int height)
{
    const double area = static_cast<double>(width) * static_cast<double>(height);
    return std::max(1, static_cast<int>(std::floor(area / kGridPlaces)));
}

// Pooled absolute deviations, in integers only, so that histograms filled on several threads
// add up to the same figure in any order. Integer depths bin whole levels; float bins
// 2^-kFloatBinBits of full scale wide, everything from full scale up in the last bin, and keeps
// per bin the sum and the sum of squares of where in the bin each deviation fell.
class DeviationHistogram {
public:
    explicit DeviationHistogram(PixelDepth depth)
        : depth_(depth), fullScale_(runner::channelFullScale(depth)),
          counts_(depth == PixelDepth::Float32
                      ? (std::size_t{1} << kFloatBinBits) + 1
                      : static_cast<std::size_t>(runner::channelFullScale(depth)) + 1,
                  0)
    {
        if (depth == PixelDepth::Float32) {
            fractions_.assign(counts_.size(), 0);
            fractionSquares_.assign(counts_.size(), 0);
        }
    }

    void addLevels(int deviation) { ++counts_[static_cast<std::size_t>(deviation)]; }

    void addFloat(double deviation)
    {
        // Past full scale (infinities too, and inf - inf) all count as full scale.
        const double clamped = deviation <= 1.0 ? deviation : 1.0;
        const auto fixed = static_cast<std::uint64_t>(
            std::ldexp(clamped, kFloatBinBits + kFloatFractionBits)); // at most 2^32
        const std::size_t k = static_cast<std::size_t>(fixed >> kFloatFractionBits);
        const std::uint64_t fraction = fixed & ((std::uint64_t{1} << kFloatFractionBits) - 1);
        ++counts_[k];
        fractions_[k] += fraction;
        fractionSquares_[k] += fraction * fraction;
    }

    void add(const DeviationHistogram &other)
    {
        for (std::size_t k = 0; k < counts_.size(); ++k) {
            counts_[k] += other.counts_[k];
        }
        for (std::size_t k = 0; k < fractions_.size(); ++k) {
            fractions_[k] += other.fractions_[k];
            fractionSquares_[k] += other.fractionSquares_[k];
        }
    }

    long long total() const
    {
        long long all = 0;
        for (const std::uint64_t count : counts_) {
            all += static_cast<long long>(count);
        }
        return all;
    }

    // The median deviation in full scale, interpolated inside its bin so that quantised footage
    // gives a continuous answer: level k >= 1 stands for the deviations that round to it,
    // [k - 0.5, k + 0.5), level 0 for [0, 0.5); a float bin for its own width.
    double median() const
    {
        const double half = static_cast<double>(total()) / 2.0;
        double below = 0.0;
        for (std::size_t k = 0; k < counts_.size(); ++k) {
            const double count = static_cast<double>(counts_[k]);
            if (count > 0.0 && below + count >= half) {
                const double share = (half - below) / count;
                if (depth_ == PixelDepth::Float32) {
                    return std::ldexp(static_cast<double>(k) + share, -kFloatBinBits);
                }
                const double low = k == 0 ? 0.0 : static_cast<double>(k) - 0.5;
                const double high = static_cast<double>(k) + 0.5;
                return (low + share * (high - low)) / fullScale_;
            }
            below += count;
        }
        return 0.0;
    }

    // The mean square of the deviations up to `cut` (full scale); 0 when there are none.
    double meanSquareUpTo(double cut) const
    {
        const double lastBin = static_cast<double>(counts_.size() - 1);
        const double unit =
            depth_ == PixelDepth::Float32 ? std::ldexp(1.0, -kFloatBinBits) : 1.0 / fullScale_;
        // A tiny allowance, so that a cut of exactly k levels takes level k despite rounding.
        const auto top = static_cast<std::size_t>(std::min(lastBin, std::floor(cut / unit + 1e-9)));
        double count = 0.0;
        double squares = 0.0;
        for (std::size_t k = 0; k <= top; ++k) {
            const double n = static_cast<double>(counts_[k]);
            count += n;
            if (depth_ == PixelDepth::Float32) {
                // Each deviation is (k + f / 2^F) bins, f its fraction: the sum of squares in
                // bins^2 is n k^2 + 2 k sum(f) / 2^F + sum(f^2) / 2^2F.
                const double kk = static_cast<double>(k);
                const double inBins =
                    n * kk * kk +
                    2.0 * kk * std::ldexp(static_cast<double>(fractions_[k]), -kFloatFractionBits) +
                    std::ldexp(static_cast<double>(fractionSquares_[k]), -2 * kFloatFractionBits);
                squares += inBins * unit * unit;
            } else {
                const double level = static_cast<double>(k) / fullScale_;
                squares += level * level * n;
            }
        }
        return count > 0.0 ? squares / count : 0.0;
    }

private:
    PixelDepth depth_;
    double fullScale_;
    std::vector<std::uint64_t> counts_;
    std::vector<std::uint64_t> fractions_;       // float only: sums of 16-bit fractions
    std::vector<std::uint64_t> fractionSquares_; // float only: sums of their squares
};

// The mean square of Gaussian X of sigma 1 given |X| <= t: what the cut leaves of 1.
double cutMeanSquareOfUnitGaussian(double t)
{
    if (!std::isfinite(t)) {
        return 1.0;
    }
    const double inside = std::erf(t / std::sqrt(2.0));
    return inside > 0.0 ? 1.0 - 2.0 * t * std::exp(-t * t / 2.0) / std::sqrt(2.0 * kPi) / inside
                        : 0.0;
}

// One cut, not a cut iterated to a fixed point: on heavy-tailed codec noise a cut that follows
// its own result can run off to a wider one on some samplings of a clip and not on others.
//
// Deviations from a place's sample median also carry that median's own error, about
// pi / 2 sigma^2 / n for n Gaussian samples; taking it out keeps short samplings (--every) from
// reading a few percent noisier than long ones.
double sigmaFrom(const DeviationHistogram &histogram, std::size_t samples)
{
    const double medianShare = kPi / 2.0 / static_cast<double>(std::max<std::size_t>(samples, 1));
    const double first = histogram.median() / 0.6745;
    const double cut = std::max(kCutSigmas * first, kSmallestCut);
    const double t = first > 0.0 ? cut / first : std::numeric_limits<double>::infinity();
    const double kept = cutMeanSquareOfUnitGaussian(t);
    return kept > 0.0 ? std::sqrt(histogram.meanSquareUpTo(cut) / kept / (1.0 + medianShare)) : 0.0;
}

// Channel `channel` of every row of `across` at column x into `values`, NaNs left out.
template <class Pixel, class Value>
void columnOf(const World &across, int x, int channel, std::vector<Value> &values)
{
    values.clear();
    for (int i = 0; i < across.height(); ++i) {
        const Pixel &p = across.row<Pixel>(i)[x];
        const auto sample = channel == 0 ? p.red : channel == 1 ? p.green : p.blue;
        if constexpr (std::is_floating_point_v<Value>) {
            if (std::isnan(sample)) {
                continue;
            }
        }
        values.push_back(static_cast<Value>(sample));
    }
}

// Where a place's samples crowd together most: the first sample, in sorted order, with the
// most others within `window` of it. Unlike the median this is the background wherever the
// background holds still, even when something that wanders by a few levels (a person breathing)
// covers the place for most of the clip: his samples spread out, the background's pile up.
template <class Value> std::size_t densestSample(const std::vector<Value> &sorted, Value window)
{
    std::size_t best = 0;
    std::size_t bestCount = 0;
    std::size_t low = 0;
    std::size_t high = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        while (sorted[i] - sorted[low] > window) {
            ++low;
        }
        while (high < sorted.size() && sorted[high] - sorted[i] <= window) {
            ++high;
        }
        if (high - low > bestCount) {
            bestCount = high - low;
            best = i;
        }
    }
    return best;
}

// `values` (whole levels 0..255) in ascending order, through `counts` (256 zeros, left zero):
// far faster than comparing for a few hundred samples, and the same order.
void sortLevels(std::vector<int> &values, std::vector<std::size_t> &counts)
{
    int low = 255;
    int high = 0;
    for (const int v : values) {
        ++counts[static_cast<std::size_t>(v)];
        low = std::min(low, v);
        high = std::max(high, v);
    }
    std::size_t at = 0;
    for (int v = low; v <= high; ++v) {
        std::size_t &count = counts[static_cast<std::size_t>(v)];
        for (; count > 0; --count) {
            values[at++] = v;
        }
    }
}

// The median of the samples' absolute deviations from `median` (the upper one for an even
// count), with `spreads` as scratch.
template <class Value>
double medianDeviation(const std::vector<Value> &values, Value median, std::vector<double> &spreads)
{
    spreads.clear();
    for (const Value v : values) {
        spreads.push_back(std::fabs(static_cast<double>(v) - static_cast<double>(median)));
    }
    const auto half = spreads.begin() + static_cast<std::ptrdiff_t>(spreads.size() / 2);
    std::nth_element(spreads.begin(), half, spreads.end());
    return *half;
}

// How many of the sorted samples lie within `window` of `value`.
template <class Value>
std::size_t crowdAround(const std::vector<Value> &sorted, Value value, Value window)
{
    const auto first = std::lower_bound(sorted.begin(), sorted.end(), value - window);
    const auto last = std::upper_bound(sorted.begin(), sorted.end(), value + window);
    return static_cast<std::size_t>(last - first);
}

// What one measuring thread holds: its histogram and its scratch.
struct RowMeasure {
    explicit RowMeasure(PixelDepth depth) : histogram(depth) {}

    DeviationHistogram histogram;
    std::vector<int> levels;
    std::vector<float> floats;
    std::vector<double> spreads;
    std::vector<std::size_t> levelCounts = std::vector<std::size_t>(256, 0);
};

// The deviations of every place of `across` (a row of each sampled frame) into the histogram.
template <class Pixel, class Value>
void addRow(const World &across, std::vector<Value> &values, RowMeasure &measure)
{
    const bool eightBit = across.depth() == PixelDepth::Bits8;
    const double fullScale = runner::channelFullScale(across.depth());
    const auto window = static_cast<Value>(kCrowdWindow * fullScale);
    const auto near = static_cast<Value>(kSmallestCut * fullScale);
    for (int x = 0; x < across.width(); ++x) {
        for (int channel = 0; channel < 3; ++channel) {
            columnOf<Pixel>(across, x, channel, values);
            if (values.size() < 2) {
                continue;
            }
            if constexpr (std::is_integral_v<Value>) {
                if (eightBit) {
                    sortLevels(values, measure.levelCounts);
                } else {
                    std::sort(values.begin(), values.end());
                }
            } else {
                std::sort(values.begin(), values.end());
            }
            // The middle is a sample of the place: the median, or the median of the samples
            // near where they crowd. It is left out of the deviations (its own is always 0),
            // which is what makes the mean square of the rest unbiased for the spread about the
            // true middle.
            std::size_t middle = (values.size() - 1) / 2;
            const Value peak = values[densestSample(values, window)];
            const Value median = values[middle];
            const Value apart = peak > median ? peak - median : median - peak;
            // The crowd stands for the place only where it is a population of its own: denser
            // than the median's company, and further from the median than plain noise of the
            // median's own spread would put it (three sigmas of its median absolute
            // deviation); under plain noise the densest spot is itself noisy, and the median the
            // better middle. The cheap tests go first: most places fail them.
            if (apart > 2 * near &&
                crowdAround(values, peak, window) > crowdAround(values, median, window) &&
                static_cast<double>(apart) >
                    3.0 * medianDeviation(values, median, measure.spreads) / 0.6745) {
                const auto first = std::lower_bound(values.begin(), values.end(), peak - near);
                const auto last = std::upper_bound(values.begin(), values.end(), peak + near);
                middle = static_cast<std::size_t>(first - values.begin()) +
                         (static_cast<std::size_t>(last - first) - 1) / 2;
            }
            const Value centre = values[middle];
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i == middle) {
                    continue;
                }
                if constexpr (std::is_floating_point_v<Value>) {
                    measure.histogram.addFloat(
                        std::fabs(static_cast<double>(values[i]) - static_cast<double>(centre)));
                } else {
                    measure.histogram.addLevels(values[i] > centre ? values[i] - centre
                                                                   : centre - values[i]);
                }
            }
        }
    }
}

void measureRow(const World &across, RowMeasure &measure)
{
    switch (across.depth()) {
    case PixelDepth::Bits8: addRow<PF_Pixel8>(across, measure.levels, measure); break;
    case PixelDepth::Bits16: addRow<PF_Pixel16>(across, measure.levels, measure); break;
    case PixelDepth::Float32: addRow<PF_PixelFloat>(across, measure.floats, measure); break;
    }
}

} // namespace

std::vector<int> noiseSampleRows(int width, int height)
{
    const int step = rowStep(width, height);
    std::vector<int> rows;
    for (int y = step / 2; y < height; y += step) {
        rows.push_back(y);
    }
    return rows;
}

NoiseEstimate estimateTemporalNoise(FrameRows &source, const std::vector<int> &frames, int threads)
{
    if (frames.size() < 2 || source.width() <= 0 || source.height() <= 0) {
        return {};
    }
    const std::vector<int> rows = noiseSampleRows(source.width(), source.height());
    if (rows.empty()) {
        return {};
    }
    // A row of every frame per measuring thread is held at once; the rows are read here, one
    // after another (a source reads its own rows on its own threads), then measured side by side.
    const std::size_t workers =
        std::min(rows.size(), static_cast<std::size_t>(std::max(1, threads)));
    std::vector<World> batch;
    std::vector<RowMeasure> measures;
    for (std::size_t w = 0; w < workers; ++w) {
        batch.emplace_back(source.width(), static_cast<int>(frames.size()), source.depth());
        measures.emplace_back(source.depth());
    }
    for (std::size_t first = 0; first < rows.size(); first += workers) {
        const std::size_t count = std::min(workers, rows.size() - first);
        for (std::size_t i = 0; i < count; ++i) {
            source.gatherRow(rows[first + i], frames, batch[i]);
        }
        std::vector<std::exception_ptr> failures(count);
        std::vector<std::thread> helpers;
        for (std::size_t i = 1; i < count; ++i) {
            helpers.emplace_back([&, i] {
                try {
                    measureRow(batch[i], measures[i]);
                } catch (...) {
                    failures[i] = std::current_exception();
                }
            });
        }
        try {
            measureRow(batch[0], measures[0]);
        } catch (...) {
            failures[0] = std::current_exception();
        }
        for (std::thread &helper : helpers) {
            helper.join();
        }
        for (const std::exception_ptr &failure : failures) {
            if (failure) {
                std::rethrow_exception(failure);
            }
        }
    }
    DeviationHistogram &pooled = measures.front().histogram;
    for (std::size_t w = 1; w < measures.size(); ++w) {
        pooled.add(measures[w].histogram);
    }
    NoiseEstimate noise;
    noise.deviations = pooled.total();
    noise.sigma = sigmaFrom(pooled, frames.size());
    return noise;
}

} // namespace framemeld::cli
