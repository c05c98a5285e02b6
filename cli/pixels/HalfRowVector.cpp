#include "cli/pixels/HalfRowVector.h"

#include <cstddef>

#include "engine/CpuFeatures.h"

// Only the functions below are compiled for AVX and F16C (through a target attribute), and they
// run only after the processor was asked, so one build serves processors without them.
// Left out of gcc builds for Windows, as the engine's AVX2 kernels are: gcc cannot align the stack
// to 32 bytes there, yet may spill 256-bit registers with aligned moves.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) &&                            \
    !(defined(_WIN32) && defined(__GNUC__) && !defined(__clang__))
#include <immintrin.h>
#define FRAMEMELD_F16C_ROWS 1
#define FRAMEMELD_F16C __attribute__((target("avx,f16c")))
#endif

namespace framemeld::cli {
namespace {

#if defined(FRAMEMELD_F16C_ROWS)

constexpr std::uint16_t kExponentBits = 0x7c00;

// Whether any sample has the all-ones exponent of infinities and NaNs.
FRAMEMELD_F16C bool holdsNonFinite(const std::uint16_t *samples, std::size_t count)
{
    const __m128i exponent = _mm_set1_epi16(static_cast<short>(kExponentBits));
    __m128i found = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + i));
        found = _mm_or_si128(found, _mm_cmpeq_epi16(_mm_and_si128(v, exponent), exponent));
    }
    if (_mm_movemask_epi8(found) != 0) {
        return true;
    }
    for (; i < count; ++i) {
        if ((samples[i] & kExponentBits) == kExponentBits) {
            return true;
        }
    }
    return false;
}

// Four half samples (exactly four are read) as four floats.
FRAMEMELD_F16C inline __m128 widenFour(const std::uint16_t *samples)
{
    return _mm_cvtph_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(samples)));
}

// The permutes below put the host's alpha-first order together: lane 0 is alpha.
FRAMEMELD_F16C void rgbaRow(const std::uint16_t *file, int width, float *host)
{
    int x = 0;
    for (; x + 2 <= width; x += 2, file += 8, host += 8) {
        const __m256 pair =
            _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(file)));
        _mm256_storeu_ps(host, _mm256_permute_ps(pair, _MM_SHUFFLE(2, 1, 0, 3)));
    }
    if (x < width) {
        _mm_storeu_ps(host, _mm_permute_ps(widenFour(file), _MM_SHUFFLE(2, 1, 0, 3)));
    }
}

FRAMEMELD_F16C void rgbRow(const std::uint16_t *file, int width, float *host)
{
    const __m128 opaque = _mm_set1_ps(1.0f);
    int x = 0;
    // Four samples are read for three, so the last pixel is left to the scalar conversion.
    for (; x + 1 < width; ++x, file += 3, host += 4) {
        const __m128 pixel = _mm_permute_ps(widenFour(file), _MM_SHUFFLE(2, 1, 0, 0));
        _mm_storeu_ps(host, _mm_blend_ps(pixel, opaque, 1));
    }
    if (x < width) {
        host[0] = 1.0f;
        host[1] = halfToFloat(file[0]);
        host[2] = halfToFloat(file[1]);
        host[3] = halfToFloat(file[2]);
    }
}

FRAMEMELD_F16C void greyRow(const std::uint16_t *file, int width, float *host)
{
    const __m128 opaque = _mm_set1_ps(1.0f);
    int x = 0;
    for (; x + 4 <= width; x += 4, file += 4, host += 16) {
        const __m128 four = widenFour(file);
        _mm_storeu_ps(host, _mm_blend_ps(_mm_permute_ps(four, 0x00), opaque, 1));
        _mm_storeu_ps(host + 4, _mm_blend_ps(_mm_permute_ps(four, 0x55), opaque, 1));
        _mm_storeu_ps(host + 8, _mm_blend_ps(_mm_permute_ps(four, 0xaa), opaque, 1));
        _mm_storeu_ps(host + 12, _mm_blend_ps(_mm_permute_ps(four, 0xff), opaque, 1));
    }
    for (; x < width; ++x, ++file, host += 4) {
        host[0] = 1.0f;
        host[1] = host[2] = host[3] = halfToFloat(file[0]);
    }
}

FRAMEMELD_F16C void greyAlphaRow(const std::uint16_t *file, int width, float *host)
{
    int x = 0;
    for (; x + 2 <= width; x += 2, file += 4, host += 8) {
        const __m128 two = widenFour(file); // grey, alpha, grey, alpha
        _mm_storeu_ps(host, _mm_permute_ps(two, _MM_SHUFFLE(0, 0, 0, 1)));
        _mm_storeu_ps(host + 4, _mm_permute_ps(two, _MM_SHUFFLE(2, 2, 2, 3)));
    }
    if (x < width) {
        host[0] = halfToFloat(file[1]);
        host[1] = host[2] = host[3] = halfToFloat(file[0]);
    }
}

#endif

} // namespace

bool hasHalfRowVector()
{
#if defined(FRAMEMELD_F16C_ROWS)
    return cpu::hasF16c();
#else
    return false;
#endif
}

bool halfRowToFloatVector(const std::uint16_t *file, const ChannelMap &map, int width, float *host)
{
#if defined(FRAMEMELD_F16C_ROWS)
    const RowLayout layout = rowLayoutOf(map);
    if (width <= 0 || layout == RowLayout::Other || !hasHalfRowVector() ||
        holdsNonFinite(file, static_cast<std::size_t>(width) *
                                 static_cast<std::size_t>(map.fileChannels))) {
        return false;
    }
    switch (layout) {
    case RowLayout::Grey: greyRow(file, width, host); break;
    case RowLayout::GreyAlpha: greyAlphaRow(file, width, host); break;
    case RowLayout::Rgb: rgbRow(file, width, host); break;
    case RowLayout::Rgba: rgbaRow(file, width, host); break;
    case RowLayout::Other: break;
    }
    return true;
#else
    (void)file;
    (void)map;
    (void)width;
    (void)host;
    return false;
#endif
}

} // namespace framemeld::cli
