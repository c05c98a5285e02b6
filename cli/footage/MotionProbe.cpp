#include "cli/footage/MotionProbe.h"

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

// r + 2g + b of one pixel, read without alignment assumptions about the row.
template <typename Sample> double weightedGrey(const unsigned char *pixel)
{
    Sample argb[4];
    std::memcpy(argb, pixel, sizeof(argb));
    return static_cast<double>(argb[1]) + 2.0 * static_cast<double>(argb[2]) +
           static_cast<double>(argb[3]);
}

// Integer footage: the sums stay exact, whatever the block size.
template <typename Sample>
void integerProxy(const unsigned char *pixels, std::ptrdiff_t rowBytes, GreyProxy &proxy,
                  double fullScale)
{
    const int scale = proxy.scale;
    const BlockRows rows = blockRows(scale);
    const double norm = 1.0 / (4.0 * fullScale * scale * rows.count);
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(proxy.width));
    for (int py = 0; py < proxy.height; ++py) {
        std::fill(sums.begin(), sums.end(), 0);
        for (int dy = rows.first; dy < rows.first + rows.count; ++dy) {
            const auto *row = reinterpret_cast<const Sample *>(
                pixels + static_cast<std::ptrdiff_t>(py * scale + dy) * rowBytes);
            for (int px = 0; px < proxy.width; ++px) {
                const Sample *p = row + 4 * px * scale;
                std::uint32_t sum = 0;
                for (int dx = 0; dx < scale; ++dx, p += 4) {
                    sum += static_cast<std::uint32_t>(p[1]) + 2u * p[2] + p[3];
                }
                sums[static_cast<std::size_t>(px)] += sum;
            }
        }
        float *out = proxy.values.data() + static_cast<std::size_t>(py * proxy.width);
        for (int px = 0; px < proxy.width; ++px) {
            out[px] =
                static_cast<float>(static_cast<double>(sums[static_cast<std::size_t>(px)]) * norm);
        }
    }
}

void floatProxy(const unsigned char *pixels, std::ptrdiff_t rowBytes, GreyProxy &proxy)
{
    const int scale = proxy.scale;
    const BlockRows rows = blockRows(scale);
    const double norm = 1.0 / (4.0 * scale * rows.count);
    const std::size_t pixelBytes = 4 * sizeof(float);
    for (int py = 0; py < proxy.height; ++py) {
        for (int px = 0; px < proxy.width; ++px) {
            double sum = 0;
            for (int dy = rows.first; dy < rows.first + rows.count; ++dy) {
                const unsigned char *p = pixels +
                                         static_cast<std::ptrdiff_t>(py * scale + dy) * rowBytes +
                                         static_cast<std::ptrdiff_t>(px * scale) *
                                             static_cast<std::ptrdiff_t>(pixelBytes);
                for (int dx = 0; dx < scale; ++dx, p += pixelBytes) {
                    sum += weightedGrey<float>(p);
                }
            }
            double v = sum * norm;
            if (!std::isfinite(v)) {
                v = std::numeric_limits<double>::quiet_NaN();
            } else if (v > 1.0) {
                v = 1.0 + std::log(v);
            }
            proxy.values[static_cast<std::size_t>(py * proxy.width + px)] = static_cast<float>(v);
        }
    }
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
    GreyProxy proxy;
    proxy.scale = scale < 1 ? 1 : scale;
    proxy.width = width / proxy.scale;
    proxy.height = height / proxy.scale;
    proxy.values.assign(
        static_cast<std::size_t>(proxy.width) * static_cast<std::size_t>(proxy.height), 0.0f);
    if (proxy.values.empty()) {
        return proxy;
    }
    switch (depth) {
    case Depth::Bits8: integerProxy<std::uint8_t>(pixels, rowBytes, proxy, 255.0); break;
    case Depth::Bits16: integerProxy<std::uint16_t>(pixels, rowBytes, proxy, 32768.0); break;
    case Depth::Float32: floatProxy(pixels, rowBytes, proxy); break;
    }
    return proxy;
}

MotionProbe::MotionProbe(Depth depth, int width, int height)
    : depth_(depth), scale_(greyProxyScale(width, height))
{}

std::size_t MotionProbe::bytesPerFrame(int width, int height)
{
    const int scale = greyProxyScale(width, height);
    return static_cast<std::size_t>(width / scale) * static_cast<std::size_t>(height / scale) *
           sizeof(float);
}

void MotionProbe::apply(int frame, const PF_LRect &area, unsigned char *pixels,
                        std::ptrdiff_t rowBytes) const
{
    {
        const std::lock_guard<std::mutex> lock(lock_);
        if (proxies_.count(frame) != 0) {
            return;
        }
    }
    auto proxy = std::make_shared<const GreyProxy>(makeGreyProxy(
        pixels, rowBytes, area.right - area.left, area.bottom - area.top, depth_, scale_));
    const std::lock_guard<std::mutex> lock(lock_);
    proxies_.emplace(frame, std::move(proxy));
}

std::shared_ptr<const GreyProxy> MotionProbe::proxy(int frame) const
{
    const std::lock_guard<std::mutex> lock(lock_);
    const auto found = proxies_.find(frame);
    return found == proxies_.end() ? nullptr : found->second;
}

} // namespace framemeld::cli
