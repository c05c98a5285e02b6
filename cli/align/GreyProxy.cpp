#include "cli/align/GreyProxy.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <type_traits>

#include <opencv2/imgproc.hpp>

namespace framemeld::cli::align {
namespace {

constexpr double kRed = 0.2126;
constexpr double kGreen = 0.7152;
constexpr double kBlue = 0.0722;

// Float luma above full scale, compressed (continuous, with a continuous slope at 1).
inline double compressed(double v)
{
    if (!(v > 0)) {
        return 0; // negative and NaN
    }
    return v <= 1 ? v : 1 + std::log(std::fmin(v, 1e30));
}

// Luma weights in 1/65536 (summing to 65536), for integer samples.
constexpr std::uint32_t kRedFixed = 13933;
constexpr std::uint32_t kGreenFixed = 46871;
constexpr std::uint32_t kBlueFixed = 4732;

template <class Pixel> void proxyRows(const HostFrameView &frame, int shrink, GreyImage &proxy)
{
    using Channel = decltype(Pixel::red);
    constexpr bool isFloat = std::is_floating_point_v<Channel>;
    const double full = runner::channelFullScale(runner::depthOfPixel<Pixel>());
    const bool withAlpha = frame.alpha != AlphaKind::Opaque;
    const auto width = static_cast<std::size_t>(proxy.width);
    const auto used = width * static_cast<std::size_t>(shrink); // frame columns the proxy covers
    const double area = static_cast<double>(shrink) * shrink;
    std::vector<double> grey(width);
    std::vector<double> alpha(width);
    std::vector<std::uint32_t> luma(used);
    std::vector<double> lumaFloat(used);
    std::vector<std::uint64_t> greySum(width);
    std::vector<std::uint64_t> alphaSum(width);
    for (int py = 0; py < proxy.height; ++py) {
        std::fill(grey.begin(), grey.end(), 0.0);
        std::fill(alpha.begin(), alpha.end(), 0.0);
        std::fill(greySum.begin(), greySum.end(), 0);
        std::fill(alphaSum.begin(), alphaSum.end(), 0);
        for (int dy = 0; dy < shrink; ++dy) {
            const auto *row = reinterpret_cast<const Pixel *>(
                frame.pixels + static_cast<std::ptrdiff_t>(py * shrink + dy) * frame.rowBytes);
            if constexpr (isFloat) {
                for (std::size_t x = 0; x < used; ++x) {
                    const Pixel &p = row[x];
                    lumaFloat[x] = compressed(kRed * static_cast<double>(p.red) +
                                              kGreen * static_cast<double>(p.green) +
                                              kBlue * static_cast<double>(p.blue));
                }
                for (std::size_t px = 0; px < width; ++px) {
                    double sum = 0;
                    double alphaTotal = 0;
                    for (int dx = 0; dx < shrink; ++dx) {
                        const std::size_t x =
                            px * static_cast<std::size_t>(shrink) + static_cast<std::size_t>(dx);
                        sum += lumaFloat[x];
                        alphaTotal += static_cast<double>(row[x].alpha);
                    }
                    grey[px] += sum;
                    alpha[px] += alphaTotal;
                }
            } else {
                for (std::size_t x = 0; x < used; ++x) {
                    const Pixel &p = row[x];
                    luma[x] = kRedFixed * p.red + kGreenFixed * p.green + kBlueFixed * p.blue;
                }
                for (std::size_t px = 0; px < width; ++px) {
                    std::uint64_t sum = 0;
                    for (int dx = 0; dx < shrink; ++dx) {
                        sum += luma[px * static_cast<std::size_t>(shrink) +
                                    static_cast<std::size_t>(dx)];
                    }
                    greySum[px] += sum;
                }
                if (withAlpha) {
                    for (std::size_t px = 0; px < width; ++px) {
                        std::uint64_t sum = 0;
                        for (int dx = 0; dx < shrink; ++dx) {
                            sum += row[px * static_cast<std::size_t>(shrink) +
                                       static_cast<std::size_t>(dx)]
                                       .alpha;
                        }
                        alphaSum[px] += sum;
                    }
                }
            }
        }
        if constexpr (!isFloat) {
            for (std::size_t px = 0; px < width; ++px) {
                grey[px] = static_cast<double>(greySum[px]) / 65536.0;
                alpha[px] = static_cast<double>(alphaSum[px]);
            }
        }
        float *out = proxy.pixels.data() + static_cast<std::size_t>(py) * width;
        for (std::size_t px = 0; px < width; ++px) {
            const double mean = grey[px] / area;
            out[px] = static_cast<float>(isFloat ? mean : mean / full);
        }
        if (withAlpha) {
            std::uint8_t *valid = proxy.valid.data() + static_cast<std::size_t>(py) * width;
            for (std::size_t px = 0; px < width; ++px) {
                valid[px] = alpha[px] / area >= 0.5 * full ? 1 : 0;
            }
        }
    }
}

} // namespace

bool isProxyShrink(int shrink)
{
    return shrink >= 1 && shrink <= 64 && (shrink & (shrink - 1)) == 0;
}

GreyImage makeGreyProxy(const HostFrameView &frame, int shrink)
{
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) {
        throw std::invalid_argument("greyProxy: the frame view describes no pixels");
    }
    const auto pixelBytes = static_cast<std::ptrdiff_t>(runner::bytesPerPixel(frame.depth));
    if (frame.rowBytes < frame.width * pixelBytes) {
        throw std::invalid_argument("greyProxy: rows shorter than the frame is wide");
    }
    if (!isProxyShrink(shrink) || frame.width / shrink < 1 || frame.height / shrink < 1) {
        throw std::invalid_argument("greyProxy: the shrink must be a power of two from 1 to 64, "
                                    "at most the frame's size");
    }
    GreyImage proxy;
    proxy.width = frame.width / shrink;
    proxy.height = frame.height / shrink;
    proxy.shrink = shrink;
    proxy.frameWidth = frame.width;
    proxy.frameHeight = frame.height;
    proxy.pixels.resize(static_cast<std::size_t>(proxy.width) *
                        static_cast<std::size_t>(proxy.height));
    if (frame.alpha != AlphaKind::Opaque) {
        proxy.valid.resize(proxy.pixels.size());
    }
    switch (frame.depth) {
    case runner::PixelDepth::Bits8: proxyRows<PF_Pixel8>(frame, shrink, proxy); break;
    case runner::PixelDepth::Bits16: proxyRows<PF_Pixel16>(frame, shrink, proxy); break;
    case runner::PixelDepth::Float32: proxyRows<PF_PixelFloat>(frame, shrink, proxy); break;
    }
    return proxy;
}

Plane planeOf(const GreyImageView &view)
{
    if (view.pixels == nullptr || view.width <= 0 || view.height <= 0 ||
        view.rowBytes < view.width * static_cast<std::ptrdiff_t>(sizeof(float)) ||
        view.rowBytes % static_cast<std::ptrdiff_t>(sizeof(float)) != 0) {
        throw std::invalid_argument("grey image view describes no pixels");
    }
    Plane plane;
    plane.width = view.width;
    plane.height = view.height;
    const auto width = static_cast<std::size_t>(view.width);
    plane.pixels.resize(width * static_cast<std::size_t>(view.height));
    for (int y = 0; y < view.height; ++y) {
        const auto *row = reinterpret_cast<const float *>(
            reinterpret_cast<const unsigned char *>(view.pixels) + y * view.rowBytes);
        std::copy(row, row + width,
                  plane.pixels.begin() +
                      static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * width));
    }
    if (view.valid != nullptr) {
        plane.valid.resize(plane.pixels.size());
        for (int y = 0; y < view.height; ++y) {
            const std::uint8_t *row = view.valid + y * view.validRowBytes;
            for (std::size_t x = 0; x < width; ++x) {
                plane.valid[static_cast<std::size_t>(y) * width + x] = row[x] != 0 ? 1 : 0;
            }
        }
    }
    return plane;
}

Plane halved(const Plane &plane)
{
    Plane half;
    half.width = std::max(1, plane.width / 2);
    half.height = std::max(1, plane.height / 2);
    const auto width = static_cast<std::size_t>(half.width);
    half.pixels.resize(width * static_cast<std::size_t>(half.height));
    if (!plane.valid.empty()) {
        half.valid.resize(half.pixels.size());
    }
    for (int y = 0; y < half.height; ++y) {
        const int y0 = std::min(2 * y, plane.height - 1);
        const int y1 = std::min(2 * y + 1, plane.height - 1);
        for (int x = 0; x < half.width; ++x) {
            const int x0 = std::min(2 * x, plane.width - 1);
            const int x1 = std::min(2 * x + 1, plane.width - 1);
            const std::size_t at =
                static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
            half.pixels[at] =
                (plane.at(x0, y0) + plane.at(x1, y0) + plane.at(x0, y1) + plane.at(x1, y1)) * 0.25f;
            if (!plane.valid.empty()) {
                half.valid[at] = plane.validAt(x0, y0) && plane.validAt(x1, y0) &&
                                         plane.validAt(x0, y1) && plane.validAt(x1, y1)
                                     ? 1
                                     : 0;
            }
        }
    }
    return half;
}

Plane smoothed(const Plane &plane)
{
    Plane out;
    out.width = plane.width;
    out.height = plane.height;
    out.pixels.resize(plane.pixels.size());
    const cv::Mat in(plane.height, plane.width, CV_32F, const_cast<float *>(plane.pixels.data()));
    cv::Mat result(plane.height, plane.width, CV_32F, out.pixels.data());
    const cv::Mat kernel =
        (cv::Mat_<float>(1, 5) << 1.0f / 16, 4.0f / 16, 6.0f / 16, 4.0f / 16, 1.0f / 16);
    cv::sepFilter2D(in, result, CV_32F, kernel, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    if (!plane.valid.empty()) {
        // A smoothed pixel is valid when the whole 5 x 5 window it draws on was.
        out.valid.resize(plane.valid.size());
        const cv::Mat valid(plane.height, plane.width, CV_8U,
                            const_cast<std::uint8_t *>(plane.valid.data()));
        cv::Mat eroded(plane.height, plane.width, CV_8U, out.valid.data());
        cv::erode(valid, eroded, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)),
                  cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    }
    return out;
}

std::vector<std::uint8_t> bytesOf(const Plane &plane)
{
    std::vector<std::uint8_t> bytes(plane.pixels.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const float v = plane.pixels[i] * 255.0f + 0.5f;
        bytes[i] = static_cast<std::uint8_t>(!(v > 0) ? 0.0f : (v >= 255 ? 255.0f : v));
    }
    return bytes;
}

} // namespace framemeld::cli::align
