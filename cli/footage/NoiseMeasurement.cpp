#include "cli/footage/NoiseMeasurement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

namespace framemeld::cli {
namespace {

using runner::PixelDepth;
using runner::World;

// About this many positions per frame: enough that the median is steady to a fraction of a level,
// few enough that the estimate costs a small share of the render. Whole rows are taken, a fixed
// number of rows apart, so that every cache line read serves sixteen 8-bit pixels.
constexpr double kGridPositions = 65536.0;

// Nonzero float differences are binned this finely (in full scale): far below one slider step
// (0.0001).
constexpr double kFloatBinWidth = 1.0 / 65536.0;

int rowStep(int width, int height)
{
    const double area = static_cast<double>(width) * static_cast<double>(height);
    return std::max(1, static_cast<int>(std::floor(area / kGridPositions)));
}

// A histogram of absolute channel differences. Bin 0 holds exact equality at every depth, so that
// footage whose frames mostly repeat reads as noiseless; integer depths then bin whole levels,
// float bins kFloatBinWidth wide, with everything past full scale in the last bin.
// Each colour channel counts into its own lane, so that runs of equal differences do not wait
// on one counter; the lanes are summed before the median.
class DifferenceHistogram {
public:
    explicit DifferenceHistogram(PixelDepth depth)
        : depth_(depth), bins_(depth == PixelDepth::Float32
                                   ? static_cast<std::size_t>(1.0 / kFloatBinWidth) + 2
                                   : static_cast<std::size_t>(runner::channelFullScale(depth)) + 1),
          lanes_(3 * bins_, 0)
    {}

    void addLevels(std::size_t lane, int a, int b)
    {
        ++lanes_[lane * bins_ + static_cast<std::size_t>(a > b ? a - b : b - a)];
    }

    void addFloat(std::size_t lane, float a, float b)
    {
        const double difference = std::fabs(static_cast<double>(a) - static_cast<double>(b));
        if (std::isnan(difference)) {
            return; // a NaN agrees with anything in the engine; it says nothing about noise
        }
        const double bin = difference == 0.0 ? 0.0 : 1.0 + std::floor(difference / kFloatBinWidth);
        const std::size_t last = bins_ - 1;
        ++lanes_[lane * bins_ +
                 (bin >= static_cast<double>(last) ? last : static_cast<std::size_t>(bin))];
    }

    // Folds the lanes together; call once, after the last add.
    void merge()
    {
        counts_.assign(bins_, 0);
        for (std::size_t lane = 0; lane < 3; ++lane) {
            for (std::size_t k = 0; k < bins_; ++k) {
                counts_[k] += lanes_[lane * bins_ + k];
            }
        }
    }

    long long total() const
    {
        long long sum = 0;
        for (const long long count : counts_) {
            sum += count;
        }
        return sum;
    }

    // The median difference in full scale, interpolated inside its bin so that quantised
    // footage still gives a continuous answer: level k >= 1 stands for the true differences
    // that round to it, [k - 0.5, k + 0.5). A median among the exact zeros is zero.
    double median() const
    {
        const long long all = total();
        if (all == 0) {
            return 0.0;
        }
        const double half = static_cast<double>(all) / 2.0;
        long long below = 0;
        for (std::size_t k = 0; k < counts_.size(); ++k) {
            const long long count = counts_[k];
            if (count > 0 && static_cast<double>(below + count) >= half) {
                if (k == 0) {
                    return 0.0;
                }
                double low = 0.0;
                double high = 0.0;
                double unit = 0.0;
                if (depth_ == PixelDepth::Float32) {
                    low = static_cast<double>(k - 1);
                    high = low + 1.0;
                    unit = kFloatBinWidth;
                } else {
                    low = static_cast<double>(k) - 0.5;
                    high = static_cast<double>(k) + 0.5;
                    unit = 1.0 / runner::channelFullScale(depth_);
                }
                const double share =
                    (half - static_cast<double>(below)) / static_cast<double>(count);
                return (low + share * (high - low)) * unit;
            }
            below += count;
        }
        return 0.0;
    }

private:
    PixelDepth depth_;
    std::size_t bins_;
    std::vector<std::uint32_t> lanes_; // 2^32 differences per channel is far past any clip
    std::vector<long long> counts_;
};

// Rows `a` and `b` of `frames`, position by position.
template <class Pixel>
void addRowPair(const World &frames, int a, int b, DifferenceHistogram &histogram)
{
    const Pixel *rowA = frames.row<Pixel>(a);
    const Pixel *rowB = frames.row<Pixel>(b);
    for (int x = 0; x < frames.width(); ++x) {
        const Pixel &p = rowA[x];
        const Pixel &q = rowB[x];
        if constexpr (std::is_same_v<Pixel, PF_PixelFloat>) {
            histogram.addFloat(0, p.red, q.red);
            histogram.addFloat(1, p.green, q.green);
            histogram.addFloat(2, p.blue, q.blue);
        } else {
            histogram.addLevels(0, p.red, q.red);
            histogram.addLevels(1, p.green, q.green);
            histogram.addLevels(2, p.blue, q.blue);
        }
    }
}

// Every consecutive pair of rows of `frames` (a row of each sampled frame, in sampled order).
template <class Pixel> void addConsecutive(const World &frames, DifferenceHistogram &histogram)
{
    for (int i = 1; i < frames.height(); ++i) {
        addRowPair<Pixel>(frames, i - 1, i, histogram);
    }
}

NoiseEstimate finish(DifferenceHistogram &histogram)
{
    NoiseEstimate estimate;
    histogram.merge();
    estimate.differences = histogram.total();
    // The difference of two samples of the same noise has sigma * sqrt(2); the median of its
    // absolute value is 0.6745 of that sigma.
    estimate.sigma = histogram.median() * 1.4826 / std::sqrt(2.0);
    return estimate;
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

NoiseEstimate estimateTemporalNoise(FrameRows &source, const std::vector<int> &frames)
{
    if (frames.size() < 2) {
        return {};
    }
    const std::vector<int> rows = noiseSampleRows(source.width(), source.height());
    if (rows.empty()) {
        return {};
    }
    World across(source.width(), static_cast<int>(frames.size()), source.depth());
    DifferenceHistogram histogram(source.depth());
    for (const int row : rows) {
        source.gatherRow(row, frames, across);
        switch (across.depth()) {
        case PixelDepth::Bits8: addConsecutive<PF_Pixel8>(across, histogram); break;
        case PixelDepth::Bits16: addConsecutive<PF_Pixel16>(across, histogram); break;
        case PixelDepth::Float32: addConsecutive<PF_PixelFloat>(across, histogram); break;
        }
    }
    return finish(histogram);
}

} // namespace framemeld::cli
