#include "cli/footage/NoiseMeasurement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

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

// Rows `rowsA` of `a` against rows `rowsB` of `b`, position by position.
template <class Pixel>
void addPair(const World &a, const std::vector<int> &rowsA, const World &b,
             const std::vector<int> &rowsB, DifferenceHistogram &histogram)
{
    for (std::size_t k = 0; k < rowsA.size(); ++k) {
        const Pixel *rowA = a.row<Pixel>(rowsA[k]);
        const Pixel *rowB = b.row<Pixel>(rowsB[k]);
        for (int x = 0; x < a.width(); ++x) {
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
}

void addPair(const World &a, const std::vector<int> &rowsA, const World &b,
             const std::vector<int> &rowsB, DifferenceHistogram &histogram)
{
    switch (a.depth()) {
    case PixelDepth::Bits8: addPair<PF_Pixel8>(a, rowsA, b, rowsB, histogram); break;
    case PixelDepth::Bits16: addPair<PF_Pixel16>(a, rowsA, b, rowsB, histogram); break;
    case PixelDepth::Float32: addPair<PF_PixelFloat>(a, rowsA, b, rowsB, histogram); break;
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

NoiseEstimate estimateTemporalNoise(const std::vector<const World *> &frames)
{
    if (frames.size() < 2) {
        return {};
    }
    const World &first = *frames.front();
    for (const World *frame : frames) {
        if (frame->width() != first.width() || frame->height() != first.height() ||
            frame->depth() != first.depth()) {
            throw std::invalid_argument("noise estimate: frames differ in size or depth");
        }
    }
    const std::vector<int> rows = noiseSampleRows(first.width(), first.height());
    DifferenceHistogram histogram(first.depth());
    for (std::size_t i = 1; i < frames.size(); ++i) {
        addPair(*frames[i - 1], rows, *frames[i], rows, histogram);
    }
    return finish(histogram);
}

NoiseEstimate estimateTemporalNoise(runner::FrameSource &source, const std::vector<int> &frames)
{
    if (frames.size() < 2) {
        return {};
    }
    const int width = source.width();
    const std::vector<int> rows = noiseSampleRows(width, source.height());
    const int rowCount = static_cast<int>(rows.size());
    if (rowCount == 0) {
        return {}; // as the whole-frame estimate of so short a frame: no differences
    }
    // The sampled rows of a frame stacked in order: only these and the previous frame's are held.
    std::vector<int> stacked(rows.size());
    for (int k = 0; k < rowCount; ++k) {
        stacked[static_cast<std::size_t>(k)] = k;
    }
    const std::size_t rowBytes =
        static_cast<std::size_t>(width) * runner::bytesPerPixel(source.depth());
    World line(width, 1, source.depth());
    World previous(width, rowCount, source.depth());
    World current(width, rowCount, source.depth());
    auto readRows = [&](int frame, World &into) {
        for (int k = 0; k < rowCount; ++k) {
            PF_LRect area{};
            area.left = 0;
            area.top = rows[static_cast<std::size_t>(k)];
            area.right = width;
            area.bottom = area.top + 1;
            source.fillArea(frame, area, line);
            std::memcpy(into.row(k), line.row(0), rowBytes);
        }
    };
    DifferenceHistogram histogram(source.depth());
    readRows(frames.front(), previous);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        readRows(frames[i], current);
        addPair(previous, stacked, current, stacked, histogram);
        std::swap(previous, current);
    }
    return finish(histogram);
}

NoiseEstimate estimateTemporalNoise(int width, int height, PixelDepth depth,
                                    const std::vector<int> &frames, const FrameRowGather &gather)
{
    if (frames.size() < 2) {
        return {};
    }
    const std::vector<int> rows = noiseSampleRows(width, height);
    if (rows.empty()) {
        return {};
    }
    World across(width, static_cast<int>(frames.size()), depth);
    DifferenceHistogram histogram(depth);
    for (const int row : rows) {
        gather(row, frames, across);
        for (int i = 1; i < across.height(); ++i) {
            addPair(across, {i - 1}, across, {i}, histogram);
        }
    }
    return finish(histogram);
}

} // namespace framemeld::cli
