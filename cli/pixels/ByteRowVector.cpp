#include "cli/pixels/ByteRowVector.h"

#include <cstring>

#include "engine/CpuFeatures.h"

// Only the functions below are compiled for SSSE3 (through a target attribute), and they run only
// after the processor was asked, so one build serves processors without it.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
#define FRAMEMELD_SSSE3_ROWS 1
#define FRAMEMELD_SSSE3 __attribute__((target("ssse3")))
#endif

namespace framemeld::cli {
namespace {

#if defined(FRAMEMELD_SSSE3_ROWS)

// Shuffle masks: host byte i of four pixels takes file byte mask[i]; -1 leaves a zero that the
// opaque alpha is or-ed into.
FRAMEMELD_SSSE3 inline __m128i mask(char b0, char b1, char b2, char b3, char b4, char b5, char b6,
                                    char b7, char b8, char b9, char b10, char b11, char b12,
                                    char b13, char b14, char b15)
{
    return _mm_setr_epi8(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15);
}

FRAMEMELD_SSSE3 inline __m128i opaqueAlpha()
{
    return _mm_set1_epi32(0xff);
}

FRAMEMELD_SSSE3 void rgbRow(const std::uint8_t *file, int width, std::uint8_t *host)
{
    const __m128i order = mask(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    const __m128i alpha = opaqueAlpha();
    int x = 0;
    // Sixteen bytes are read for the twelve of four pixels, so the loop stops two pixels short.
    for (; x + 6 <= width; x += 4, file += 12, host += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(file));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(host),
                         _mm_or_si128(_mm_shuffle_epi8(in, order), alpha));
    }
    for (; x < width; ++x, file += 3, host += 4) {
        host[0] = 255;
        host[1] = file[0];
        host[2] = file[1];
        host[3] = file[2];
    }
}

FRAMEMELD_SSSE3 void rgbaRow(const std::uint8_t *file, int width, std::uint8_t *host)
{
    const __m128i order = mask(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
    int x = 0;
    for (; x + 4 <= width; x += 4, file += 16, host += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(file));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(host), _mm_shuffle_epi8(in, order));
    }
    for (; x < width; ++x, file += 4, host += 4) {
        host[0] = file[3];
        host[1] = file[0];
        host[2] = file[1];
        host[3] = file[2];
    }
}

FRAMEMELD_SSSE3 void greyRow(const std::uint8_t *file, int width, std::uint8_t *host)
{
    const __m128i order = mask(-1, 0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3);
    const __m128i alpha = opaqueAlpha();
    int x = 0;
    for (; x + 4 <= width; x += 4, file += 4, host += 16) {
        int four = 0;
        std::memcpy(&four, file, sizeof four);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(host),
                         _mm_or_si128(_mm_shuffle_epi8(_mm_cvtsi32_si128(four), order), alpha));
    }
    for (; x < width; ++x, ++file, host += 4) {
        host[0] = 255;
        host[1] = host[2] = host[3] = file[0];
    }
}

FRAMEMELD_SSSE3 void greyAlphaRow(const std::uint8_t *file, int width, std::uint8_t *host)
{
    const __m128i order = mask(1, 0, 0, 0, 3, 2, 2, 2, 5, 4, 4, 4, 7, 6, 6, 6);
    int x = 0;
    for (; x + 4 <= width; x += 4, file += 8, host += 16) {
        const __m128i in = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(file));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(host), _mm_shuffle_epi8(in, order));
    }
    for (; x < width; ++x, file += 2, host += 4) {
        host[0] = file[1];
        host[1] = host[2] = host[3] = file[0];
    }
}

#endif

} // namespace

bool hasByteRowVector()
{
#if defined(FRAMEMELD_SSSE3_ROWS)
    return cpu::hasSsse3();
#else
    return false;
#endif
}

bool byteRowToHostVector(const std::uint8_t *file, const ChannelMap &map, int width,
                         std::uint8_t *host)
{
#if defined(FRAMEMELD_SSSE3_ROWS)
    if (width <= 0 || !hasByteRowVector()) {
        return false;
    }
    switch (rowLayoutOf(map)) {
    case RowLayout::Grey: greyRow(file, width, host); return true;
    case RowLayout::GreyAlpha: greyAlphaRow(file, width, host); return true;
    case RowLayout::Rgb: rgbRow(file, width, host); return true;
    case RowLayout::Rgba: rgbaRow(file, width, host); return true;
    case RowLayout::Other: return false;
    }
    return false;
#else
    (void)file;
    (void)map;
    (void)width;
    (void)host;
    return false;
#endif
}

} // namespace framemeld::cli
