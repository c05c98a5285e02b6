#include "cli/footage/MotionProbe.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace framemeld::cli {
namespace {

constexpr int kLongestProxySide = 480;

// The rows of a block that are read: the middle half once blocks are 4 rows tall or more. Reading
// a frame is bound by memory, and skipping whole rows halves what is read, while the proxy, which
// still averages every column, registers as well.
struct BlockRows {
    int first;
    int count;
};

BlockRows blockRows(int scale)
{
    return scale < 4 ? BlockRows{0, scale} : BlockRows{scale / 4, scale / 2};
}

// The sum of r + 2g + b over each block's columns in one footage row, proxy pixel by proxy
// pixel: exact for integer samples, in column order for float ones, so a block's value is the
// same whichever way its rows arrive.
template <typename Sample>
void integerRowSums(const unsigned char *row, int scale, double *out, int width)
{
    const auto *samples = reinterpret_cast<const Sample *>(row);
    for (int px = 0; px < width; ++px) {
        const Sample *p = samples + 4 * px * scale;
        // Exact in 32 bits: frames are at most 30000 pixels a side, so blocks at most 64 wide.
        std::uint32_t sum = 0;
        for (int dx = 0; dx < scale; ++dx, p += 4) {
            sum += static_cast<std::uint32_t>(p[1]) + 2u * p[2] + p[3];
        }
        out[px] = static_cast<double>(sum);
    }
}

void floatRowSums(const unsigned char *row, int scale, double *out, int width)
{
    for (int px = 0; px < width; ++px) {
        const unsigned char *p = row + static_cast<std::size_t>(px * scale) * 4 * sizeof(float);
        double sum = 0;
        for (int dx = 0; dx < scale; ++dx, p += 4 * sizeof(float)) {
            float argb[4];
            std::memcpy(argb, p, sizeof(argb));
            sum += static_cast<double>(argb[1]) + 2.0 * static_cast<double>(argb[2]) +
                   static_cast<double>(argb[3]);
        }
        out[px] = sum;
    }
}

void rowSums(const unsigned char *row, Depth depth, int scale, double *out, int width)
{
    switch (depth) {
    case Depth::Bits8: integerRowSums<std::uint8_t>(row, scale, out, width); break;
    case Depth::Bits16: integerRowSums<std::uint16_t>(row, scale, out, width); break;
    case Depth::Float32: floatRowSums(row, scale, out, width); break;
    }
}

// A block's grey value from the sum of its rows' sums.
float blockValue(double sum, Depth depth, int scale)
{
    const double fullScale = depth == Depth::Bits8 ? 255.0 : depth == Depth::Bits16 ? 32768.0 : 1.0;
    double v = sum / (4.0 * fullScale * scale * blockRows(scale).count);
    if (depth == Depth::Float32) {
        if (!std::isfinite(v)) {
            v = std::numeric_limits<double>::quiet_NaN();
        } else if (v > 1.0) {
            v = 1.0 + std::log(v);
        }
    }
    return static_cast<float>(v);
}

// The proxy row `py` from the sums of its block's rows, in row order.
void finishProxyRow(const std::vector<std::vector<double>> &rows, Depth depth, GreyProxy &proxy,
                    int py)
{
    float *out = proxy.values.data() + static_cast<std::size_t>(py * proxy.width);
    for (std::size_t px = 0; px < static_cast<std::size_t>(proxy.width); ++px) {
        double sum = 0;
        for (const std::vector<double> &row : rows) {
            sum += row[px];
        }
        out[px] = blockValue(sum, depth, proxy.scale);
    }
}

GreyProxy emptyProxy(int width, int height, int scale)
{
    GreyProxy proxy;
    proxy.scale = scale < 1 ? 1 : scale;
    proxy.width = width / proxy.scale;
    proxy.height = height / proxy.scale;
    proxy.values.assign(
        static_cast<std::size_t>(proxy.width) * static_cast<std::size_t>(proxy.height), 0.0f);
    return proxy;
}

} // namespace

int greyProxyScale(int width, int height)
{
    int scale = 1;
    while (width / scale > kLongestProxySide || height / scale > kLongestProxySide) {
        scale *= 2;
    }
    return scale;
}

GreyProxy makeGreyProxy(const unsigned char *pixels, std::ptrdiff_t rowBytes, int width, int height,
                        Depth depth, int scale)
{
    GreyProxy proxy = emptyProxy(width, height, scale);
    const BlockRows used = blockRows(proxy.scale);
    std::vector<std::vector<double>> rows(
        static_cast<std::size_t>(used.count),
        std::vector<double>(static_cast<std::size_t>(proxy.width)));
    for (int py = 0; py < proxy.height; ++py) {
        for (int k = 0; k < used.count; ++k) {
            rowSums(pixels +
                        static_cast<std::ptrdiff_t>(py * proxy.scale + used.first + k) * rowBytes,
                    depth, proxy.scale, rows[static_cast<std::size_t>(k)].data(), proxy.width);
        }
        finishProxyRow(rows, depth, proxy, py);
    }
    return proxy;
}

MotionProbe::MotionProbe(Depth depth, int width, int height, ProbeReads reads)
    : depth_(depth), width_(width), height_(height), scale_(greyProxyScale(width, height)),
      reads_(reads)
{}

MotionProbe::~MotionProbe() = default;

std::size_t MotionProbe::bytesPerFrame(int width, int height)
{
    const int scale = greyProxyScale(width, height);
    return static_cast<std::size_t>(width / scale) * static_cast<std::size_t>(height / scale) *
           sizeof(float);
}

// A frame whose rows come a band at a time: the proxy rows done so far, and the sums of the rows
// seen of the blocks begun.
struct MotionProbe::Partial {
    GreyProxy proxy;
    std::vector<bool> done;
    int blocksDone = 0;
    std::map<int, std::vector<std::vector<double>>> begun; // by proxy row; empty: not seen yet
};

void MotionProbe::apply(int frame, const PF_LRect &area, unsigned char *pixels,
                        std::ptrdiff_t rowBytes) const
{
    {
        const std::lock_guard<std::mutex> lock(lock_);
        if (proxies_.count(frame) != 0) {
            return;
        }
    }
    if (reads_ == ProbeReads::WholeFrames) {
        auto proxy = std::make_shared<const GreyProxy>(makeGreyProxy(
            pixels, rowBytes, area.right - area.left, area.bottom - area.top, depth_, scale_));
        const std::lock_guard<std::mutex> lock(lock_);
        proxies_.emplace(frame, std::move(proxy));
        return;
    }
    if (area.left != 0 || area.right != width_) {
        return; // a part of a row says nothing about a block's columns
    }
    // The sums of the rows the proxy uses, made outside the lock; kept only for the rows not seen.
    const BlockRows used = blockRows(scale_);
    const int proxyWidth = width_ / scale_;
    const int proxyHeight = height_ / scale_;
    std::vector<std::pair<int, std::vector<double>>> sums;
    for (int y = area.top; y < area.bottom; ++y) {
        const int dy = y % scale_;
        if (y / scale_ >= proxyHeight || dy < used.first || dy >= used.first + used.count) {
            continue;
        }
        std::vector<double> row(static_cast<std::size_t>(proxyWidth));
        rowSums(pixels + static_cast<std::ptrdiff_t>(y - area.top) * rowBytes, depth_, scale_,
                row.data(), proxyWidth);
        sums.emplace_back(y, std::move(row));
    }
    const std::lock_guard<std::mutex> lock(lock_);
    if (proxies_.count(frame) != 0) {
        return;
    }
    std::unique_ptr<Partial> &partial = partials_[frame];
    if (!partial) {
        partial = std::make_unique<Partial>();
        partial->proxy = emptyProxy(width_, height_, scale_);
        partial->done.assign(static_cast<std::size_t>(proxyHeight), false);
    }
    for (auto &[y, row] : sums) {
        const int py = y / scale_;
        if (partial->done[static_cast<std::size_t>(py)]) {
            continue;
        }
        auto &block = partial->begun[py];
        block.resize(static_cast<std::size_t>(used.count));
        auto &slot = block[static_cast<std::size_t>(y % scale_ - used.first)];
        if (!slot.empty()) {
            continue; // read again: the first reading counts
        }
        slot = std::move(row);
        const bool whole = std::none_of(block.begin(), block.end(),
                                        [](const std::vector<double> &r) { return r.empty(); });
        if (whole) {
            finishProxyRow(block, depth_, partial->proxy, py);
            partial->begun.erase(py);
            partial->done[static_cast<std::size_t>(py)] = true;
            ++partial->blocksDone;
        }
    }
    if (partial->blocksDone == proxyHeight) {
        proxies_.emplace(frame, std::make_shared<const GreyProxy>(std::move(partial->proxy)));
        partials_.erase(frame);
    }
}

std::shared_ptr<const GreyProxy> MotionProbe::proxy(int frame) const
{
    const std::lock_guard<std::mutex> lock(lock_);
    const auto found = proxies_.find(frame);
    return found == proxies_.end() ? nullptr : found->second;
}

} // namespace framemeld::cli
