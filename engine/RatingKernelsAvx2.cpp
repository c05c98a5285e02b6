// The rating pass with AVX2: 32 byte pairs or 8 float pairs per step. Only these functions are
// compiled for AVX2 (through a target attribute), so nothing shared with the rest of the
// program, such as an inline function from a header, can carry AVX2 instructions onto a
// processor without them; the kernels are chosen only after the processor was asked.
#include "engine/RatingKernels.h"

// Left out of gcc builds for Windows: gcc cannot align the stack to 32 bytes there, yet spills
// 256-bit registers with aligned moves, which faults at run time. MSVC and clang are not affected.
#if defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
#define FRAMEMELD_NO_AVX2_KERNELS 1
#endif

#if ((defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))) || defined(_M_X64) ||      \
     defined(_M_AMD64)) &&                                                                         \
    !defined(FRAMEMELD_NO_AVX2_KERNELS)

#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "engine/RatingKernelParts.h"

#if defined(_MSC_VER) && !defined(__clang__)
#define FRAMEMELD_AVX2 // MSVC hands out AVX2 intrinsics without a target switch.
#else
#define FRAMEMELD_AVX2 __attribute__((target("avx2")))
#endif

namespace framemeld::rating {

namespace {

constexpr int kFloatLanes = 8;

// Loading at kIntPrefix + lanes - t gives all-ones in the first t lanes and zero in the rest.
alignas(32) const std::int32_t kIntPrefix[2 * kFloatLanes] = {-1, -1, -1, -1, -1, -1, -1, -1};

FRAMEMELD_AVX2 inline __m256i load(const void *address)
{
    return _mm256_loadu_si256(static_cast<const __m256i *>(address));
}
FRAMEMELD_AVX2 inline void store(void *address, __m256i value)
{
    _mm256_storeu_si256(static_cast<__m256i *>(address), value);
}

FRAMEMELD_AVX2 inline std::uint32_t sumInts(__m256i values)
{
    __m128i sums =
        _mm_add_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
    sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 8));
    sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 4));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums));
}

// The byte kernel works on tiles of 16 by 16 samples. One block of 16 stays in place while the
// other turns past it one lane at a time (a rotation within each 128-bit half), so 16 steps test
// all 256 pairs of the tile without a single broadcast, and the turning block's counters turn
// with it and come back into place at the end. Each register holds two tiles side by side.
constexpr int kTile = 16;
// Counters are bytes; a tile adds at most kTile to a lane, so they are widened before 15 tiles.
constexpr int kTilesBetweenFlushes = 15;

struct ByteWindows {
    __m256i low[4];
    __m256i high[4];
};

// The values b that agree with each sample: low <= b <= high, from |a - b| <= reach.
FRAMEMELD_AVX2 inline ByteWindows windowsOf(const __m256i *values, __m256i reach)
{
    ByteWindows windows;
    for (int c = 0; c < 4; ++c) {
        windows.low[c] = _mm256_subs_epu8(values[c], reach);
        windows.high[c] = _mm256_adds_epu8(values[c], reach);
    }
    return windows;
}

// All-ones in each lane whose sample lies within the windows in every component tested: all
// four, or red, green and blue where alpha is known to agree for every pair.
template <int Components>
FRAMEMELD_AVX2 inline __m256i bytesAgree(const ByteWindows &windows, const __m256i *values)
{
    __m256i outside = _mm256_or_si256(_mm256_subs_epu8(windows.low[0], values[0]),
                                      _mm256_subs_epu8(values[0], windows.high[0]));
    for (int c = 1; c < Components; ++c) {
        outside = _mm256_or_si256(outside, _mm256_subs_epu8(windows.low[c], values[c]));
        outside = _mm256_or_si256(outside, _mm256_subs_epu8(values[c], windows.high[c]));
    }
    return _mm256_cmpeq_epi8(outside, _mm256_setzero_si256());
}

FRAMEMELD_AVX2 inline __m256i turn(__m256i lanes)
{
    return _mm256_alignr_epi8(lanes, lanes, 1);
}

// All-ones in the lanes of blocks `block` and `block + 1` that hold a sample.
FRAMEMELD_AVX2 inline __m256i samplesPresent(int count, int block)
{
    const int remaining = count - block * kTile;
    const __m256i lane =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(remaining > 32 ? 32 : remaining)),
                             lane);
}

FRAMEMELD_AVX2 inline void loadBlocks(const SamplePlanes<unsigned char> &samples, int block,
                                      __m256i *values)
{
    const unsigned char *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    for (int c = 0; c < 4; ++c) {
        values[c] = load(planes[c] + block * kTile);
    }
}

// Adds 32 byte counters to ratings[0 .. 32).
FRAMEMELD_AVX2 inline void addByteCounts(__m256i counts, std::uint32_t *ratings)
{
    const __m128i halves[2] = {_mm256_castsi256_si128(counts), _mm256_extracti128_si256(counts, 1)};
    for (int h = 0; h < 2; ++h) {
        const __m256i low = _mm256_cvtepu8_epi32(halves[h]);
        const __m256i high = _mm256_cvtepu8_epi32(_mm_srli_si128(halves[h], 8));
        std::uint32_t *target = ratings + h * kTile;
        store(target, _mm256_add_epi32(load(target), low));
        store(target + 8, _mm256_add_epi32(load(target + 8), high));
    }
}

// Adds the counts of one block held twice (once per half) to ratings[0 .. 16).
FRAMEMELD_AVX2 inline void addRowCounts(__m256i counts, std::uint32_t *ratings)
{
    const __m256i sum = _mm256_add_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(counts)),
                                         _mm256_cvtepu8_epi16(_mm256_extracti128_si256(counts, 1)));
    store(ratings,
          _mm256_add_epi32(load(ratings), _mm256_cvtepu16_epi32(_mm256_castsi256_si128(sum))));
    store(ratings + 8, _mm256_add_epi32(load(ratings + 8),
                                        _mm256_cvtepu16_epi32(_mm256_extracti128_si256(sum, 1))));
}

// The pairs within blocks `block` and `block + 1`, each block against itself. Turning by r
// pairs lane l with lane l + r; over r = 1 .. 7 both members are credited, and at r = 8, where
// every pair shows up twice, only the lane's own sample is.
template <bool Partial, int Components>
FRAMEMELD_AVX2 inline void diagonalTiles(const SamplePlanes<unsigned char> &samples, int block,
                                         __m256i reach, std::uint32_t *ratings)
{
    __m256i turning[4];
    loadBlocks(samples, block, turning);
    const ByteWindows windows = windowsOf(turning, reach);
    const __m256i present = Partial ? samplesPresent(samples.count, block) : _mm256_set1_epi8(-1);
    __m256i presentTurning = present;
    __m256i own = _mm256_setzero_si256();
    __m256i partners = _mm256_setzero_si256();
    for (int r = 1; r <= kTile / 2; ++r) {
        for (int c = 0; c < Components; ++c) {
            turning[c] = turn(turning[c]);
        }
        partners = turn(partners);
        __m256i agree = bytesAgree<Components>(windows, turning);
        if (Partial) {
            presentTurning = turn(presentTurning);
            agree = _mm256_and_si256(agree, _mm256_and_si256(present, presentTurning));
        }
        own = _mm256_sub_epi8(own, agree);
        if (r < kTile / 2) {
            partners = _mm256_sub_epi8(partners, agree);
        }
    }
    partners = _mm256_alignr_epi8(partners, partners, kTile / 2); // back into place
    addByteCounts(_mm256_add_epi8(own, partners), ratings + block * kTile);
}

// The 2 x 256 pairs between block `fixed` (both halves) and blocks `block`, `block + 1`.
template <bool Partial, int Components>
FRAMEMELD_AVX2 inline __m256i offDiagonalTiles(const ByteWindows &fixed,
                                               const SamplePlanes<unsigned char> &samples,
                                               int block, unsigned char *columns, __m256i row)
{
    __m256i turning[4];
    loadBlocks(samples, block, turning);
    unsigned char *counters = columns + block * kTile;
    __m256i column = load(counters);
    __m256i present = Partial ? samplesPresent(samples.count, block) : _mm256_setzero_si256();
    for (int r = 0; r < kTile; ++r) {
        __m256i agree = bytesAgree<Components>(fixed, turning);
        if (Partial) {
            agree = _mm256_and_si256(agree, present);
            present = turn(present);
        }
        row = _mm256_sub_epi8(row, agree);
        column = _mm256_sub_epi8(column, agree);
        for (int c = 0; c < Components; ++c) {
            turning[c] = turn(turning[c]);
        }
        column = turn(column);
    }
    store(counters, column);
    return row;
}

template <int Components>
FRAMEMELD_AVX2 void rateByteTiles(const SamplePlanes<unsigned char> &samples,
                                  unsigned char tolerance, std::uint32_t *ratings,
                                  unsigned char *columns)
{
    const int count = samples.count;
    const std::size_t padded = paddedCount(count);
    std::memset(ratings, 0, padded * sizeof *ratings);
    std::memset(columns, 0, padded);
    const __m256i reach = _mm256_set1_epi8(static_cast<char>(tolerance - 1));
    const int blocks = (count + kTile - 1) / kTile;
    // Whether blocks b and b + 1 hold fewer than 32 samples.
    const auto partial = [count](int block) { return (block + 2) * kTile > count; };

    for (int block = 0; block < blocks; block += 2) {
        if (partial(block)) {
            diagonalTiles<true, Components>(samples, block, reach, ratings);
        } else {
            diagonalTiles<false, Components>(samples, block, reach, ratings);
        }
    }

    const unsigned char *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    int sinceColumnFlush = 0;
    for (int fixedBlock = 0; fixedBlock + 1 < blocks; ++fixedBlock) {
        __m256i values[4];
        for (int c = 0; c < 4; ++c) {
            values[c] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(planes[c] + fixedBlock * kTile)));
        }
        const ByteWindows fixed = windowsOf(values, reach);
        std::uint32_t *rowRatings = ratings + fixedBlock * kTile;
        __m256i row = _mm256_setzero_si256();
        int sinceRowFlush = 0;
        for (int block = fixedBlock + 1; block < blocks; block += 2) {
            row = partial(block)
                      ? offDiagonalTiles<true, Components>(fixed, samples, block, columns, row)
                      : offDiagonalTiles<false, Components>(fixed, samples, block, columns, row);
            if (++sinceRowFlush == kTilesBetweenFlushes) {
                addRowCounts(row, rowRatings);
                row = _mm256_setzero_si256();
                sinceRowFlush = 0;
            }
        }
        addRowCounts(row, rowRatings);
        if (++sinceColumnFlush == kTilesBetweenFlushes) {
            flushColumns(columns, ratings, static_cast<std::size_t>(blocks + 1) * kTile);
            sinceColumnFlush = 0;
        }
    }
    flushColumns(columns, ratings, static_cast<std::size_t>(blocks + 1) * kTile);
    for (int k = 0; k < count; ++k) {
        ratings[k] += 1;
    }
}

// Footage is mostly opaque: with one alpha for every sample and a tolerance of at least 1, alpha
// agrees for every pair and only the colour needs testing.
FRAMEMELD_AVX2 void rateBytes(const SamplePlanes<unsigned char> &samples, unsigned char tolerance,
                              std::uint32_t *ratings, unsigned char *columns)
{
    if (sameAlphaEverywhere(samples)) {
        rateByteTiles<3>(samples, tolerance, ratings, columns);
    } else {
        rateByteTiles<4>(samples, tolerance, ratings, columns);
    }
}

// All-ones in each lane whose sample disagrees in some component: its difference is NaN or at
// least the tolerance away. Both come from one unordered comparison, !(|d| < tolerance), except
// under a NaN tolerance, where only a NaN difference disagrees.
template <int Components, bool NaNTolerance>
FRAMEMELD_AVX2 inline __m256i floatsApart(const __m256 *candidate, const float *const *planes,
                                          int offset, __m256 tolerance)
{
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    __m256 apart = _mm256_setzero_ps();
    for (int c = 0; c < Components; ++c) {
        const __m256 difference = _mm256_sub_ps(_mm256_loadu_ps(planes[c] + offset), candidate[c]);
        if constexpr (NaNTolerance) {
            apart = _mm256_or_ps(apart, _mm256_cmp_ps(difference, difference, _CMP_UNORD_Q));
        } else {
            apart = _mm256_or_ps(
                apart, _mm256_cmp_ps(_mm256_and_ps(difference, magnitude), tolerance, _CMP_NLT_UQ));
        }
    }
    return _mm256_castps_si256(apart);
}

// Starts every rating at the sample count and takes one off for each sample that does not
// agree, which saves inverting the comparison in the inner loop. A candidate's own count goes
// to rows[] and joins the ratings at the end: written into ratings[] at once, it would sit in
// the middle of the vector that the next candidate loads, which the processor cannot forward
// from a store and so makes it wait.
template <int Components, bool NaNTolerance>
FRAMEMELD_AVX2 void rateFloatsWith(const SamplePlanes<float> &samples, float tolerance,
                                   std::uint32_t *ratings, std::uint32_t *rows)
{
    const int count = samples.count;
    const std::size_t padded = paddedCount(count);
    for (std::size_t k = 0; k < padded; ++k) {
        ratings[k] = static_cast<std::uint32_t>(count);
    }
    const __m256 limit = _mm256_set1_ps(tolerance);
    const float *const planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    for (int i = 0; i < count; ++i) {
        __m256 candidate[4];
        for (int c = 0; c < 4; ++c) {
            candidate[c] = _mm256_set1_ps(planes[c][i]);
        }
        const int fullBlocks = i / kFloatLanes;
        __m256i row = _mm256_setzero_si256();
        for (int block = 0; block < fullBlocks; ++block) {
            const int offset = block * kFloatLanes;
            const __m256i apart =
                floatsApart<Components, NaNTolerance>(candidate, planes, offset, limit);
            store(ratings + offset, _mm256_add_epi32(load(ratings + offset), apart));
            row = _mm256_add_epi32(row, apart);
        }
        const int tail = i % kFloatLanes;
        if (tail != 0) {
            const int offset = fullBlocks * kFloatLanes;
            const __m256i apart = _mm256_and_si256(
                floatsApart<Components, NaNTolerance>(candidate, planes, offset, limit),
                load(kIntPrefix + kFloatLanes - tail));
            store(ratings + offset, _mm256_add_epi32(load(ratings + offset), apart));
            row = _mm256_add_epi32(row, apart);
        }
        rows[i] = sumInts(row);
    }
    for (int k = 0; k < count; ++k) {
        ratings[k] += rows[k];
    }
}

template <bool NaNTolerance>
FRAMEMELD_AVX2 void rateFloatsUnder(const SamplePlanes<float> &samples, float tolerance,
                                    std::uint32_t *ratings, std::uint32_t *rows)
{
    if (sameAlphaEverywhere(samples) && alphaAgreesWithItself(samples, tolerance)) {
        rateFloatsWith<3, NaNTolerance>(samples, tolerance, ratings, rows);
    } else {
        rateFloatsWith<4, NaNTolerance>(samples, tolerance, ratings, rows);
    }
}

// With one alpha for every sample, every pair's alpha difference is the same (0, or NaN for an
// infinite or NaN alpha): alpha then agrees for all pairs or for none, and when it agrees for
// all only the colour needs testing.
FRAMEMELD_AVX2 void rateFloats(const SamplePlanes<float> &samples, float tolerance,
                               std::uint32_t *ratings, std::uint32_t *rows)
{
    if (std::isnan(tolerance)) {
        rateFloatsUnder<true>(samples, tolerance, ratings, rows);
    } else {
        rateFloatsUnder<false>(samples, tolerance, ratings, rows);
    }
}

FRAMEMELD_AVX2 inline std::uint32_t sumLongs(__m256i lanes)
{
    const __m128i halves =
        _mm_add_epi64(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si64(halves) +
                                      _mm_cvtsi128_si64(_mm_unpackhi_epi64(halves, halves)));
}

// 32 samples per step: the ratings become a byte mask that keeps the selected components, and
// sums of absolute differences against zero add them up in 64-bit lanes.
FRAMEMELD_AVX2 void sumSelectedBytes(const SamplePlanes<unsigned char> &samples,
                                     const std::uint32_t *ratings, std::uint32_t lowest,
                                     std::uint32_t sums[4], std::uint32_t *selected)
{
    const int count = samples.count;
    // Ratings never exceed the count, so the signed comparison below sees them as they are.
    const __m256i threshold = _mm256_set1_epi32(static_cast<int>(lowest) - 1);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i lane =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i zero = _mm256_setzero_si256();
    const unsigned char *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    __m256i totals[4] = {zero, zero, zero, zero};
    __m256i chosen = zero;
    for (int k = 0; k < count; k += 32) {
        const __m256i first =
            _mm256_packs_epi32(_mm256_cmpgt_epi32(load(ratings + k), threshold),
                               _mm256_cmpgt_epi32(load(ratings + k + 8), threshold));
        const __m256i second =
            _mm256_packs_epi32(_mm256_cmpgt_epi32(load(ratings + k + 16), threshold),
                               _mm256_cmpgt_epi32(load(ratings + k + 24), threshold));
        __m256i mask = _mm256_permutevar8x32_epi32(_mm256_packs_epi16(first, second), order);
        const int remaining = count - k;
        mask = _mm256_and_si256(
            mask, _mm256_cmpgt_epi8(
                      _mm256_set1_epi8(static_cast<char>(remaining > 32 ? 32 : remaining)), lane));
        for (int c = 0; c < 4; ++c) {
            totals[c] = _mm256_add_epi64(
                totals[c], _mm256_sad_epu8(_mm256_and_si256(load(planes[c] + k), mask), zero));
        }
        chosen = _mm256_add_epi64(
            chosen, _mm256_sad_epu8(_mm256_and_si256(mask, _mm256_set1_epi8(1)), zero));
    }
    for (int c = 0; c < 4; ++c) {
        sums[c] = sumLongs(totals[c]);
    }
    *selected = sumLongs(chosen);
}

const RatingKernels kKernels{"avx2", rateBytes, rateFloats, sumSelectedBytes};

} // namespace

const RatingKernels *const kAvx2Kernels = &kKernels;

} // namespace framemeld::rating

#else

namespace framemeld::rating {
const RatingKernels *const kAvx2Kernels = nullptr;
} // namespace framemeld::rating

#endif
