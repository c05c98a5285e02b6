#include "cli/align/Warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace framemeld::cli::align {
namespace {

// One host pixel as four floats, alpha first as in memory.
using V4 = float __attribute__((vector_size(16)));

constexpr int kPhases = 256; // sub-pixel positions are rounded to 1/256 pixel
constexpr int kTileWidth = 64;
constexpr int kTileHeight = 128;
constexpr double kPi = 3.14159265358979323846;

struct Kernel {
    int radius = 1;             // 2 * radius taps, from floor(x) - radius + 1 to floor(x) + radius
    std::vector<float> weights; // kPhases rows of taps; row p for the fraction p / kPhases
    std::vector<V4> spread;     // the same, each weight in all four lanes
};

double sinc(double x)
{
    return x == 0 ? 1.0 : std::sin(kPi * x) / (kPi * x);
}

double kernelValue(WarpFilter filter, double t)
{
    t = std::fabs(t);
    switch (filter) {
    case WarpFilter::Bilinear: return t < 1 ? 1 - t : 0;
    case WarpFilter::Bicubic: {
        constexpr double a = -0.5; // Keys' cubic (Catmull-Rom)
        if (t < 1) {
            return ((a + 2) * t - (a + 3)) * t * t + 1;
        }
        return t < 2 ? ((a * t - 5 * a) * t + 8 * a) * t - 4 * a : 0;
    }
    case WarpFilter::Lanczos3: return t < 3 ? sinc(t) * sinc(t / 3) : 0;
    case WarpFilter::Lanczos4: return t < 4 ? sinc(t) * sinc(t / 4) : 0;
    }
    return 0;
}

Kernel makeKernel(WarpFilter filter)
{
    Kernel kernel;
    switch (filter) {
    case WarpFilter::Bilinear: kernel.radius = 1; break;
    case WarpFilter::Bicubic: kernel.radius = 2; break;
    case WarpFilter::Lanczos3: kernel.radius = 3; break;
    case WarpFilter::Lanczos4: kernel.radius = 4; break;
    }
    const int taps = 2 * kernel.radius;
    kernel.weights.resize(static_cast<std::size_t>(kPhases * taps));
    for (int p = 0; p < kPhases; ++p) {
        const double fraction = static_cast<double>(p) / kPhases;
        double sum = 0;
        std::vector<double> w(static_cast<std::size_t>(taps));
        for (int k = 0; k < taps; ++k) {
            w[static_cast<std::size_t>(k)] =
                kernelValue(filter, (k - kernel.radius + 1) - fraction);
            sum += w[static_cast<std::size_t>(k)];
        }
        for (int k = 0; k < taps; ++k) {
            kernel.weights[static_cast<std::size_t>(p * taps + k)] =
                static_cast<float>(w[static_cast<std::size_t>(k)] / sum);
        }
    }
    for (float w : kernel.weights) {
        kernel.spread.push_back(V4{w, w, w, w});
    }
    return kernel;
}

const Kernel &kernelFor(WarpFilter filter)
{
    static const Kernel kernels[] = {
        makeKernel(WarpFilter::Bilinear), makeKernel(WarpFilter::Bicubic),
        makeKernel(WarpFilter::Lanczos3), makeKernel(WarpFilter::Lanczos4)};
    return kernels[static_cast<int>(filter)];
}

// Target pixel (u, v) to source position (x, y), both with pixel centres on whole numbers.
struct Mapping {
    double a = 1, b = 0, c = 0, d = 0, e = 1, f = 0, g = 0, h = 0, i = 1;
    bool affine = true;

    double w(double u, double v) const { return g * u + h * v + i; }
    double x(double u, double v) const { return (a * u + b * v + c) / w(u, v); }
    double y(double u, double v) const { return (d * u + e * v + f) / w(u, v); }
};

Mapping mappingOf(const Transform &frameToReference)
{
    Transform toFrame;
    if (!invert(frameToReference, toFrame)) {
        throw std::invalid_argument("warpFrame: the transform cannot be inverted");
    }
    // Our coordinates put pixel centres at + 0.5: source index = H(target index + 0.5) - 0.5.
    Transform in = identityTransform();
    in.m[2] = 0.5;
    in.m[5] = 0.5;
    Transform out = identityTransform();
    out.m[2] = -0.5;
    out.m[5] = -0.5;
    const Transform m = normalised(multiply(out, multiply(toFrame, in)));
    Mapping map;
    map.a = m.m[0];
    map.b = m.m[1];
    map.c = m.m[2];
    map.d = m.m[3];
    map.e = m.m[4];
    map.f = m.m[5];
    map.g = m.m[6];
    map.h = m.m[7];
    map.i = m.m[8];
    map.affine = map.g == 0 && map.h == 0;
    return map;
}

void spansOf(const Mapping &m, int sourceWidth, int sourceHeight, int targetWidth, int targetTop,
             int rows, CoverageSpan *spans)
{
    const double right = sourceWidth - 0.5;
    const double bottom = sourceHeight - 0.5;
    for (int j = 0; j < rows; ++j) {
        const double v = targetTop + j;
        double lo = -INFINITY;
        double hi = INFINITY;
        bool empty = false;
        // alpha u >= beta
        const auto constrain = [&](double alpha, double beta) {
            if (alpha > 0) {
                lo = std::max(lo, beta / alpha);
            } else if (alpha < 0) {
                hi = std::min(hi, beta / alpha);
            } else if (beta > 0) {
                empty = true;
            }
        };
        const double wv = m.h * v + m.i;
        const double xv = m.b * v + m.c;
        const double yv = m.e * v + m.f;
        constrain(m.a + 0.5 * m.g, -xv - 0.5 * wv);      // x >= -0.5
        constrain(right * m.g - m.a, xv - right * wv);   // x <= W - 0.5
        constrain(m.d + 0.5 * m.g, -yv - 0.5 * wv);      // y >= -0.5
        constrain(bottom * m.g - m.d, yv - bottom * wv); // y <= H - 0.5
        constrain(m.g, 1e-12 - wv);                      // in front: w > 0
        CoverageSpan span;
        if (!empty && lo <= hi) {
            const double first = std::ceil(lo - 1e-9);
            const double last = std::floor(hi + 1e-9);
            span.first = static_cast<int>(std::clamp(first, 0.0, static_cast<double>(targetWidth)));
            span.end =
                static_cast<int>(std::clamp(last + 1, 0.0, static_cast<double>(targetWidth)));
            if (span.end < span.first) {
                span.end = span.first;
            }
        }
        if (span.first == span.end) {
            span = CoverageSpan{};
        }
        spans[j] = span;
    }
}

inline int floorToInt(double x)
{
    const int i = static_cast<int>(x);
    return x < i ? i - 1 : i;
}

// Where a sub-pixel position falls: the tap window's base and the weights' row.
inline void locate(double x, int &base, int &phase)
{
    base = floorToInt(x);
    phase = static_cast<int>(static_cast<float>(x - base) * kPhases + 0.5f);
    if (phase == kPhases) {
        ++base;
        phase = 0;
    }
}

inline V4 vmin(V4 a, V4 b)
{
    return a < b ? a : b;
}

inline V4 vmax(V4 a, V4 b)
{
    return a > b ? a : b;
}

template <class Pixel> struct PixelIo {
    using Channel = decltype(Pixel::red);
    static constexpr bool kFloat = std::is_floating_point_v<Channel>;
    static constexpr float kFull = std::is_same_v<Channel, A_u_char>    ? 255.0f
                                   : std::is_same_v<Channel, A_u_short> ? 32768.0f
                                                                        : 1.0f;

    template <bool Premultiply> static V4 load(const unsigned char *row, int x)
    {
        const unsigned char *at = row + static_cast<std::size_t>(x) * sizeof(Pixel);
        V4 v;
#if defined(__SSE2__)
        if constexpr (std::is_same_v<Channel, A_u_char>) {
            std::int32_t bytes;
            std::memcpy(&bytes, at, 4);
            const __m128i zero = _mm_setzero_si128();
            const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);
            v = reinterpret_cast<V4>(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
        } else if constexpr (std::is_same_v<Channel, A_u_short>) {
            const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at));
            v = reinterpret_cast<V4>(
                _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, _mm_setzero_si128())));
        } else {
            std::memcpy(&v, at, sizeof v);
        }
#else
        Pixel p;
        std::memcpy(&p, at, sizeof(Pixel));
        v = V4{static_cast<float>(p.alpha), static_cast<float>(p.red), static_cast<float>(p.green),
               static_cast<float>(p.blue)};
#endif
        if constexpr (Premultiply) {
            const float k = v[0] * (1.0f / kFull);
            const V4 scale = {1.0f, k, k, k};
            v *= scale;
        }
        return v;
    }

    template <bool Unpremultiply> static void store(unsigned char *row, int x, V4 v)
    {
        if constexpr (Unpremultiply) {
            const float k = v[0] > 0 ? kFull / v[0] : 0.0f;
            const V4 scale = {1.0f, k, k, k};
            v *= scale;
        }
        Pixel p;
        if constexpr (kFloat) {
            p.alpha = v[0];
            p.red = v[1];
            p.green = v[2];
            p.blue = v[3];
        } else {
            // Within 0..full scale (NaN to 0), rounded half up.
            const V4 zero = {0, 0, 0, 0};
            const V4 full = {kFull, kFull, kFull, kFull};
            const V4 half = {0.5f, 0.5f, 0.5f, 0.5f};
            v = (v > zero ? v : zero);
            v = (v < full ? v : full) + half;
#if defined(__SSE2__)
            const __m128i q = _mm_cvttps_epi32(reinterpret_cast<__m128>(v));
            unsigned char *at = row + static_cast<std::size_t>(x) * sizeof(Pixel);
            if constexpr (std::is_same_v<Channel, A_u_char>) {
                const __m128i words = _mm_packs_epi32(q, q);
                const std::int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
                std::memcpy(at, &bytes, 4);
            } else {
                // 0..32768 does not fit a signed 16-bit pack: shift it down, pack, flip back.
                const __m128i shifted = _mm_sub_epi32(q, _mm_set1_epi32(32768));
                const __m128i words = _mm_xor_si128(_mm_packs_epi32(shifted, shifted),
                                                    _mm_set1_epi16(static_cast<short>(0x8000)));
                _mm_storel_epi64(reinterpret_cast<__m128i *>(at), words);
            }
            return;
#else
            using I4 = int __attribute__((vector_size(16)));
            const I4 q = __builtin_convertvector(v, I4);
            p.alpha = static_cast<Channel>(q[0]);
            p.red = static_cast<Channel>(q[1]);
            p.green = static_cast<Channel>(q[2]);
            p.blue = static_cast<Channel>(q[3]);
#endif
        }
        std::memcpy(row + static_cast<std::size_t>(x) * sizeof(Pixel), &p, sizeof(Pixel));
    }
};

// One filtered value from taps s[0 .. 2 R) (s[R - 1] is the sample at the window's base), with
// the weights of its phase spread over the four lanes; optionally kept between the two samples
// that bracket the position. Exact (for float): the nearest sample plus the weighted differences
// to it, so that a constant stays exactly the same value; integer results are rounded anyway.
template <int R, bool ClampRinging, bool Exact = true>
inline V4 filtered(const V4 *s, const V4 *w, int phase)
{
    V4 value;
    if constexpr (Exact) {
        const V4 nearest = phase >= kPhases / 2 ? s[R] : s[R - 1];
        V4 sum = w[0] * (s[0] - nearest);
        for (int k = 1; k < 2 * R; ++k) {
            sum += w[k] * (s[k] - nearest);
        }
        value = nearest + sum;
    } else {
        value = w[0] * s[0];
        for (int k = 1; k < 2 * R; ++k) {
            value += w[k] * s[k];
        }
    }
    if constexpr (ClampRinging) {
        value = vmax(vmin(value, vmax(s[R - 1], s[R])), vmin(s[R - 1], s[R]));
    }
    return value;
}

// Runtime radius for the slow paths.
inline V4 filteredAny(const V4 *s, const V4 *w, int radius, int phase, bool clampRinging)
{
    switch (radius * 2 + (clampRinging ? 1 : 0)) {
    case 2: return filtered<1, false>(s, w, phase);
    case 3: return filtered<1, true>(s, w, phase);
    case 4: return filtered<2, false>(s, w, phase);
    case 5: return filtered<2, true>(s, w, phase);
    case 6: return filtered<3, false>(s, w, phase);
    case 7: return filtered<3, true>(s, w, phase);
    case 8: return filtered<4, false>(s, w, phase);
    default: return filtered<4, true>(s, w, phase);
    }
}

struct WarpJob {
    const HostFrameView *source;
    const HostFrameTarget *target;
    int targetTop;
    const Mapping *map;
    const CoverageSpan *spans;
    const Kernel *kernel;
    bool clampRinging;
    bool premultiply;
};

template <class Pixel> void clearPixels(const WarpJob &job, int row, int first, int end)
{
    if (end > first) {
        unsigned char *out =
            job.target->pixels + static_cast<std::ptrdiff_t>(row) * job.target->rowBytes;
        std::memset(out + static_cast<std::size_t>(first) * sizeof(Pixel), 0,
                    static_cast<std::size_t>(end - first) * sizeof(Pixel));
    }
}

// Whether rows-then-columns passes are sound for this mapping over the target: the source's
// rows must run across the target's columns (rotations up to about 26 degrees, no mirroring).
bool separable(const Mapping &m, int targetWidth, int targetTop, int rows)
{
    const double us[2] = {0.0, targetWidth - 1.0};
    const double vs[2] = {1.0 * targetTop, targetTop + rows - 1.0};
    for (double u : us) {
        for (double v : vs) {
            const double w = m.w(u, v);
            if (!(w > 0)) {
                return false;
            }
            const double x = m.x(u, v);
            const double y = m.y(u, v);
            const double xu = (m.a - x * m.g) / w;
            const double xv = (m.b - x * m.h) / w;
            const double yu = (m.d - y * m.g) / w;
            const double yv = (m.e - y * m.h) / w;
            if (!(yv > 0) || yv < 2 * std::fabs(yu)) {
                return false;
            }
            const double along = xu - xv * yu / yv; // how fast x moves along a source row
            if (!(along > 0.25)) {
                return false;
            }
        }
    }
    return true;
}

// Where a sub-pixel position falls, in float (positions are clamped to the frame and a little
// beyond, where float resolves far finer than the 1/256 pixel of the weights).
inline void locateFloat(float x, int &base, int &phase)
{
    base = static_cast<int>(x);
    base -= x < static_cast<float>(base) ? 1 : 0;
    phase = static_cast<int>((x - static_cast<float>(base)) * kPhases + 0.5f);
    if (phase == kPhases) {
        ++base;
        phase = 0;
    }
}

template <class Pixel, int R, bool ClampRinging, bool Premultiply>
void warpSeparable(const WarpJob &job)
{
    using Io = PixelIo<Pixel>;
    constexpr int taps = 2 * R;
    const Mapping &m = *job.map;
    const V4 *weights = job.kernel->spread.data();
    constexpr bool exact = PixelIo<Pixel>::kFloat;
    const int sourceWidth = job.source->width;
    const int sourceHeight = job.source->height;
    const int targetWidth = job.target->width;
    const int rows = job.target->height;
    const double xLow = -R - 2.0, xHigh = sourceWidth + R + 1.0;
    const double yLow = -R - 2.0, yHigh = sourceHeight + R + 1.0;

    std::vector<V4> between; // the first pass: source rows r0.. across the tile's columns
    std::vector<V4> segment;
    float along[kTileWidth];
    float down[kTileWidth];
    for (int tileTop = 0; tileTop < rows; tileTop += kTileHeight) {
        const int tileRows = std::min(kTileHeight, rows - tileTop);
        for (int tileLeft = 0; tileLeft < targetWidth; tileLeft += kTileWidth) {
            const int tileColumns = std::min(kTileWidth, targetWidth - tileLeft);
            bool any = false;
            for (int j = 0; j < tileRows && !any; ++j) {
                const CoverageSpan &s = job.spans[tileTop + j];
                any = s.first < tileLeft + tileColumns && s.end > tileLeft && s.end > s.first;
            }
            if (!any) {
                for (int j = 0; j < tileRows; ++j) {
                    clearPixels<Pixel>(job, tileTop + j, tileLeft, tileLeft + tileColumns);
                }
                continue;
            }
            // Source rows the tile reaches: its corners bound y (a projective map is monotonic
            // along lines).
            double yMin = INFINITY, yMax = -INFINITY;
            for (int cu = 0; cu < 2; ++cu) {
                for (int cv = 0; cv < 2; ++cv) {
                    const double u = tileLeft + cu * (tileColumns - 1.0);
                    const double v = job.targetTop + tileTop + cv * (tileRows - 1.0);
                    const double y = std::clamp(m.y(u, v), yLow, yHigh);
                    yMin = std::min(yMin, y);
                    yMax = std::max(yMax, y);
                }
            }
            const int r0 = floorToInt(yMin) - R;
            const int r1 = floorToInt(yMax) + R + 1;
            const int betweenRows = r1 - r0 + 1;
            between.resize(static_cast<std::size_t>(betweenRows) * kTileWidth);

            // First pass: along each source row, at the x where each target column crosses it.
            for (int r = r0; r <= r1; ++r) {
                double xMin = INFINITY, xMax = -INFINITY;
                if (m.affine) {
                    // x = a u + b v + c with v = (r - d u - f) / e: linear in u.
                    const double slope = m.a - m.b * m.d / m.e;
                    const double x0 = m.a * tileLeft + m.b * (r - m.d * tileLeft - m.f) / m.e + m.c;
                    const double first = std::clamp(x0, xLow, xHigh);
                    const double last = std::clamp(x0 + slope * (tileColumns - 1), xLow, xHigh);
                    xMin = std::min(first, last);
                    xMax = std::max(first, last);
                    for (int uu = 0; uu < tileColumns; ++uu) {
                        along[uu] = static_cast<float>(std::clamp(x0 + slope * uu, xLow, xHigh));
                    }
                } else {
                    for (int uu = 0; uu < tileColumns; ++uu) {
                        const double u = tileLeft + uu;
                        const double v = (r * (m.g * u + m.i) - m.d * u - m.f) / (m.e - r * m.h);
                        double x = (m.a * u + m.b * v + m.c) / (m.g * u + m.h * v + m.i);
                        x = std::isfinite(x) ? std::clamp(x, xLow, xHigh) : xLow;
                        along[uu] = static_cast<float>(x);
                        xMin = std::min(xMin, x);
                        xMax = std::max(xMax, x);
                    }
                }
                const int s0 = floorToInt(xMin) - R;
                const int s1 = floorToInt(xMax) + R + 1;
                segment.resize(static_cast<std::size_t>(s1 - s0 + 1));
                const unsigned char *sourceRow =
                    job.source->pixels +
                    static_cast<std::ptrdiff_t>(std::clamp(r, 0, sourceHeight - 1)) *
                        job.source->rowBytes;
                V4 *seg = segment.data();
                const int inFirst = std::max(s0, 0);
                const int inLast = std::min(s1, sourceWidth - 1);
                for (int k = s0; k < inFirst && k <= s1; ++k) {
                    seg[k - s0] = Io::template load<Premultiply>(sourceRow, 0);
                }
                for (int k = inFirst; k <= inLast; ++k) {
                    seg[k - s0] = Io::template load<Premultiply>(sourceRow, k);
                }
                for (int k = std::max(inLast + 1, s0); k <= s1; ++k) {
                    seg[k - s0] = Io::template load<Premultiply>(sourceRow, sourceWidth - 1);
                }
                V4 *out = between.data() + static_cast<std::size_t>(r - r0) * kTileWidth;
                for (int uu = 0; uu < tileColumns; ++uu) {
                    int base = 0, phase = 0;
                    locateFloat(along[uu], base, phase);
                    out[uu] = filtered<R, ClampRinging, exact>(seg + (base - R + 1 - s0),
                                                               weights + phase * taps, phase);
                }
            }

            // Second pass: down each target column, between the first pass's rows.
            for (int j = 0; j < tileRows; ++j) {
                const int row = tileTop + j;
                const CoverageSpan &span = job.spans[row];
                const int first = std::clamp(span.first, tileLeft, tileLeft + tileColumns);
                const int end = std::clamp(span.end, first, tileLeft + tileColumns);
                clearPixels<Pixel>(job, row, tileLeft, first);
                clearPixels<Pixel>(job, row, end, tileLeft + tileColumns);
                if (end <= first) {
                    continue;
                }
                unsigned char *outRow =
                    job.target->pixels + static_cast<std::ptrdiff_t>(row) * job.target->rowBytes;
                const double v = job.targetTop + row;
                if (m.affine) {
                    const double y0 = m.d * first + m.e * v + m.f;
                    for (int u = first; u < end; ++u) {
                        down[u - tileLeft] =
                            static_cast<float>(std::clamp(y0 + m.d * (u - first), yLow, yHigh));
                    }
                } else {
                    for (int u = first; u < end; ++u) {
                        down[u - tileLeft] = static_cast<float>(std::clamp(m.y(u, v), yLow, yHigh));
                    }
                }
                for (int u = first; u < end; ++u) {
                    int base = 0, phase = 0;
                    locateFloat(down[u - tileLeft], base, phase);
                    base = std::clamp(base, r0 + R - 1, r1 - R);
                    const V4 *top = between.data() +
                                    static_cast<std::size_t>(base - R + 1 - r0) * kTileWidth +
                                    (u - tileLeft);
                    V4 column[static_cast<std::size_t>(taps)];
                    for (int k = 0; k < taps; ++k) {
                        column[k] = top[static_cast<std::size_t>(k) * kTileWidth];
                    }
                    Io::template store<Premultiply>(
                        outRow, u,
                        filtered<R, ClampRinging, exact>(column, weights + phase * taps, phase));
                }
            }
        }
    }
}

template <class Pixel, int R> void warpSeparableWith(const WarpJob &job)
{
    if (job.clampRinging) {
        job.premultiply ? warpSeparable<Pixel, R, true, true>(job)
                        : warpSeparable<Pixel, R, true, false>(job);
    } else {
        job.premultiply ? warpSeparable<Pixel, R, false, true>(job)
                        : warpSeparable<Pixel, R, false, false>(job);
    }
}

template <class Pixel> void warpSeparableAny(const WarpJob &job)
{
    switch (job.kernel->radius) {
    case 1: warpSeparableWith<Pixel, 1>(job); break;
    case 2: warpSeparableWith<Pixel, 2>(job); break;
    case 3: warpSeparableWith<Pixel, 3>(job); break;
    default: warpSeparableWith<Pixel, 4>(job); break;
    }
}

// The general case (large rotations, mirroring, strong perspective): the same filter as one
// two-dimensional window per target pixel.
template <class Pixel> void warpDirect(const WarpJob &job)
{
    using Io = PixelIo<Pixel>;
    const Mapping &m = *job.map;
    const int radius = job.kernel->radius;
    const int taps = 2 * radius;
    const int sourceWidth = job.source->width;
    const int sourceHeight = job.source->height;
    V4 window[8][8];
    V4 rowsDone[8];
    for (int row = 0; row < job.target->height; ++row) {
        const CoverageSpan &span = job.spans[row];
        clearPixels<Pixel>(job, row, 0, span.first);
        clearPixels<Pixel>(job, row, span.end, job.target->width);
        unsigned char *outRow =
            job.target->pixels + static_cast<std::ptrdiff_t>(row) * job.target->rowBytes;
        const double v = job.targetTop + row;
        for (int u = span.first; u < span.end; ++u) {
            const double x = std::clamp(m.x(u, v), -radius - 2.0, sourceWidth + radius + 1.0);
            const double y = std::clamp(m.y(u, v), -radius - 2.0, sourceHeight + radius + 1.0);
            int bx = 0, px = 0, by = 0, py = 0;
            locate(x, bx, px);
            locate(y, by, py);
            for (int ky = 0; ky < taps; ++ky) {
                const unsigned char *sourceRow =
                    job.source->pixels + static_cast<std::ptrdiff_t>(std::clamp(
                                             by - radius + 1 + ky, 0, sourceHeight - 1)) *
                                             job.source->rowBytes;
                for (int kx = 0; kx < taps; ++kx) {
                    const int at = std::clamp(bx - radius + 1 + kx, 0, sourceWidth - 1);
                    window[ky][kx] = job.premultiply ? Io::template load<true>(sourceRow, at)
                                                     : Io::template load<false>(sourceRow, at);
                }
                rowsDone[ky] = filteredAny(window[ky], job.kernel->spread.data() + px * taps,
                                           radius, px, job.clampRinging);
            }
            const V4 value = filteredAny(rowsDone, job.kernel->spread.data() + py * taps, radius,
                                         py, job.clampRinging);
            job.premultiply ? Io::template store<true>(outRow, u, value)
                            : Io::template store<false>(outRow, u, value);
        }
    }
}

template <class Pixel> void copyShifted(const WarpJob &job, int dx, int dy)
{
    for (int row = 0; row < job.target->height; ++row) {
        const CoverageSpan &span = job.spans[row];
        clearPixels<Pixel>(job, row, 0, span.first);
        clearPixels<Pixel>(job, row, span.end, job.target->width);
        if (span.end > span.first) {
            const int sourceRow = job.targetTop + row + dy;
            std::memcpy(
                job.target->pixels + static_cast<std::ptrdiff_t>(row) * job.target->rowBytes +
                    static_cast<std::size_t>(span.first) * sizeof(Pixel),
                job.source->pixels + static_cast<std::ptrdiff_t>(sourceRow) * job.source->rowBytes +
                    static_cast<std::size_t>(span.first + dx) * sizeof(Pixel),
                static_cast<std::size_t>(span.end - span.first) * sizeof(Pixel));
        }
    }
}

template <class Pixel> WarpReport warpAs(const WarpJob &job)
{
    const Mapping &m = *job.map;
    WarpReport report;
    for (int row = 0; row < job.target->height; ++row) {
        report.coveredPixels += job.spans[row].end - job.spans[row].first;
    }
    // A shift by whole pixels (the identity included) is a copy.
    const double rx = std::nearbyint(m.c);
    const double ry = std::nearbyint(m.f);
    if (m.affine && m.a == 1 && m.b == 0 && m.d == 0 && m.e == 1 && m.i == 1 &&
        std::fabs(m.c - rx) < 1e-9 && std::fabs(m.f - ry) < 1e-9 && std::fabs(rx) < 1e9 &&
        std::fabs(ry) < 1e9) {
        copyShifted<Pixel>(job, static_cast<int>(rx), static_cast<int>(ry));
        report.copied = true;
        return report;
    }
    if (separable(m, job.target->width, job.targetTop, job.target->height)) {
        warpSeparableAny<Pixel>(job);
    } else {
        warpDirect<Pixel>(job);
    }
    return report;
}

// A transform that is the identity to within rounding is the identity.
Mapping snapped(Mapping m)
{
    const auto snap = [](double &value, double to) {
        if (std::fabs(value - to) < 1e-12) {
            value = to;
        }
    };
    snap(m.a, 1);
    snap(m.b, 0);
    snap(m.d, 0);
    snap(m.e, 1);
    snap(m.g, 0);
    snap(m.h, 0);
    snap(m.i, 1);
    m.affine = m.g == 0 && m.h == 0;
    return m;
}

} // namespace

void coverageSpans(const Transform &frameToReference, int sourceWidth, int sourceHeight,
                   int targetWidth, int targetTop, int rows, CoverageSpan *spans)
{
    spansOf(snapped(mappingOf(frameToReference)), sourceWidth, sourceHeight, targetWidth, targetTop,
            rows, spans);
}

WarpReport warpHostFrame(const HostFrameView &source, const Transform &frameToReference,
                         const HostFrameTarget &target, int targetTop, CoverageSpan *coverage,
                         const WarpSettings &settings)
{
    if (source.pixels == nullptr || target.pixels == nullptr || source.width <= 0 ||
        source.height <= 0 || target.width <= 0 || target.height <= 0) {
        throw std::invalid_argument("warpFrame: a view describes no pixels");
    }
    if (source.depth != target.depth) {
        throw std::invalid_argument("warpFrame: the source and the target differ in depth");
    }
    const auto pixelBytes = static_cast<std::ptrdiff_t>(runner::bytesPerPixel(source.depth));
    if (source.rowBytes < source.width * pixelBytes ||
        target.rowBytes < target.width * pixelBytes) {
        throw std::invalid_argument("warpFrame: rows shorter than the frame is wide");
    }
    const Mapping map = snapped(mappingOf(frameToReference));
    std::vector<CoverageSpan> spans(static_cast<std::size_t>(target.height));
    spansOf(map, source.width, source.height, target.width, targetTop, target.height, spans.data());
    WarpJob job{&source,
                &target,
                targetTop,
                &map,
                spans.data(),
                &kernelFor(settings.filter),
                settings.clampRinging,
                source.alpha == AlphaKind::Straight};
    WarpReport report;
    switch (source.depth) {
    case runner::PixelDepth::Bits8: report = warpAs<PF_Pixel8>(job); break;
    case runner::PixelDepth::Bits16: report = warpAs<PF_Pixel16>(job); break;
    case runner::PixelDepth::Float32: report = warpAs<PF_PixelFloat>(job); break;
    }
    if (coverage != nullptr) {
        std::copy(spans.begin(), spans.end(), coverage);
    }
    return report;
}

} // namespace framemeld::cli::align
