// The rating pass with SSE2, which every x86-64 processor has: 16 byte pairs or 4 float pairs
// per step.
#include "engine/RatingKernels.h"

#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64)

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "engine/RatingKernelParts.h"

namespace framemeld::rating {

namespace {

constexpr int kByteLanes = 16;
constexpr int kFloatLanes = 4;

// Loading a prefix table at lanes - t gives all-ones in the first t lanes and zero in the rest.
alignas(16) const unsigned char kBytePrefix[2 * kByteLanes] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
alignas(16) const std::int32_t kIntPrefix[2 * kFloatLanes] = {-1, -1, -1, -1};

__m128i load(const void *address)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(address));
}
void store(void *address, __m128i value)
{
    _mm_storeu_si128(static_cast<__m128i *>(address), value);
}

std::uint32_t sumBytes(__m128i counts)
{
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums) +
                                      _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}

std::uint32_t sumInts(__m128i values)
{
    __m128i sums = _mm_add_epi32(values, _mm_srli_si128(values, 8));
    sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 4));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums));
}

struct ByteCandidate {
    __m128i low[4];
    __m128i high[4];
};

ByteCandidate byteCandidate(const SamplePlanes<unsigned char> &samples, int i, int reach)
{
    const unsigned char *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    ByteCandidate candidate;
    for (int c = 0; c < 4; ++c) {
        const ByteWindow window = byteWindow(planes[c][i], reach);
        candidate.low[c] = _mm_set1_epi8(static_cast<char>(window.low));
        candidate.high[c] = _mm_set1_epi8(static_cast<char>(window.high));
    }
    return candidate;
}

// All-ones in each lane whose sample lies within the candidate's window in every component.
__m128i bytesAgree(const ByteCandidate &candidate, const SamplePlanes<unsigned char> &samples,
                   int offset)
{
    const __m128i red = load(samples.red + offset);
    const __m128i green = load(samples.green + offset);
    const __m128i blue = load(samples.blue + offset);
    const __m128i alpha = load(samples.alpha + offset);
    __m128i outside =
        _mm_or_si128(_mm_subs_epu8(candidate.low[0], red), _mm_subs_epu8(red, candidate.high[0]));
    outside = _mm_or_si128(outside, _mm_subs_epu8(candidate.low[1], green));
    outside = _mm_or_si128(outside, _mm_subs_epu8(green, candidate.high[1]));
    outside = _mm_or_si128(outside, _mm_subs_epu8(candidate.low[2], blue));
    outside = _mm_or_si128(outside, _mm_subs_epu8(blue, candidate.high[2]));
    outside = _mm_or_si128(outside, _mm_subs_epu8(candidate.low[3], alpha));
    outside = _mm_or_si128(outside, _mm_subs_epu8(alpha, candidate.high[3]));
    return _mm_cmpeq_epi8(outside, _mm_setzero_si128());
}

void rateBytes(const SamplePlanes<unsigned char> &samples, unsigned char tolerance,
               std::uint32_t *ratings, unsigned char *columns)
{
    const int count = samples.count;
    const std::size_t padded = paddedCount(count);
    std::memset(ratings, 0, padded * sizeof *ratings);
    std::memset(columns, 0, padded);
    const int reach = tolerance - 1;

    int sinceFlush = 0;
    for (int i = 0; i < count; ++i) {
        if (sinceFlush == kColumnFlushInterval) {
            flushColumns(columns, ratings, static_cast<std::size_t>(i));
            sinceFlush = 0;
        }
        ++sinceFlush;

        const ByteCandidate candidate = byteCandidate(samples, i, reach);
        const int fullBlocks = i / kByteLanes;
        std::uint32_t partners = 0;
        // A lane of the row count gains at most one per block: sum it before it can wrap.
        for (int block = 0; block < fullBlocks;) {
            const int chunkEnd = fullBlocks - block > kColumnFlushInterval
                                     ? block + kColumnFlushInterval
                                     : fullBlocks;
            __m128i row = _mm_setzero_si128();
            for (; block < chunkEnd; ++block) {
                const int offset = block * kByteLanes;
                const __m128i agree = bytesAgree(candidate, samples, offset);
                store(columns + offset, _mm_sub_epi8(load(columns + offset), agree));
                row = _mm_sub_epi8(row, agree);
            }
            partners += sumBytes(row);
        }
        const int tail = i % kByteLanes;
        if (tail != 0) {
            const int offset = fullBlocks * kByteLanes;
            const __m128i agree = _mm_and_si128(bytesAgree(candidate, samples, offset),
                                                load(kBytePrefix + kByteLanes - tail));
            store(columns + offset, _mm_sub_epi8(load(columns + offset), agree));
            partners += sumBytes(_mm_sub_epi8(_mm_setzero_si128(), agree));
        }
        ratings[i] += 1 + partners;
    }
    flushColumns(columns, ratings, static_cast<std::size_t>(count));
}

struct FloatCandidate {
    __m128 value[4];
};

// All-ones in each lane whose sample disagrees in some component: its difference is NaN or at
// least the tolerance away. Both come from one unordered comparison, !(|d| < tolerance), except
// under a NaN tolerance, where only a NaN difference disagrees.
template <bool NaNTolerance>
__m128i floatsApart(const FloatCandidate &candidate, const SamplePlanes<float> &samples, int offset,
                    __m128 tolerance)
{
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const float *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    __m128 apart = _mm_setzero_ps();
    for (int c = 0; c < 4; ++c) {
        const __m128 difference = _mm_sub_ps(_mm_loadu_ps(planes[c] + offset), candidate.value[c]);
        if constexpr (NaNTolerance) {
            apart = _mm_or_ps(apart, _mm_cmpunord_ps(difference, difference));
        } else {
            apart = _mm_or_ps(apart, _mm_cmpnlt_ps(_mm_and_ps(difference, magnitude), tolerance));
        }
    }
    return _mm_castps_si128(apart);
}

// Starts every rating at the sample count and takes one off for each sample that does not
// agree, which saves inverting the comparison in the inner loop. A candidate's own count goes
// to rows[] and joins the ratings at the end: written into ratings[] at once, it would sit in
// the middle of the vector that the next candidate loads, which the processor cannot forward
// from a store and so makes it wait.
template <bool NaNTolerance>
void rateFloatsWith(const SamplePlanes<float> &samples, float tolerance, std::uint32_t *ratings,
                    std::uint32_t *rows)
{
    const int count = samples.count;
    const std::size_t padded = paddedCount(count);
    for (std::size_t k = 0; k < padded; ++k) {
        ratings[k] = static_cast<std::uint32_t>(count);
    }
    const __m128 limit = _mm_set1_ps(tolerance);
    const float *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
    for (int i = 0; i < count; ++i) {
        FloatCandidate candidate;
        for (int c = 0; c < 4; ++c) {
            candidate.value[c] = _mm_set1_ps(planes[c][i]);
        }
        const int fullBlocks = i / kFloatLanes;
        __m128i row = _mm_setzero_si128();
        for (int block = 0; block < fullBlocks; ++block) {
            const int offset = block * kFloatLanes;
            const __m128i apart = floatsApart<NaNTolerance>(candidate, samples, offset, limit);
            store(ratings + offset, _mm_add_epi32(load(ratings + offset), apart));
            row = _mm_add_epi32(row, apart);
        }
        const int tail = i % kFloatLanes;
        if (tail != 0) {
            const int offset = fullBlocks * kFloatLanes;
            const __m128i apart =
                _mm_and_si128(floatsApart<NaNTolerance>(candidate, samples, offset, limit),
                              load(kIntPrefix + kFloatLanes - tail));
            store(ratings + offset, _mm_add_epi32(load(ratings + offset), apart));
            row = _mm_add_epi32(row, apart);
        }
        rows[i] = sumInts(row);
    }
    for (int k = 0; k < count; ++k) {
        ratings[k] += rows[k];
    }
}

void rateFloats(const SamplePlanes<float> &samples, float tolerance, std::uint32_t *ratings,
                std::uint32_t *rows)
{
    if (std::isnan(tolerance)) {
        rateFloatsWith<true>(samples, tolerance, ratings, rows);
    } else {
        rateFloatsWith<false>(samples, tolerance, ratings, rows);
    }
}

const RatingKernels kKernels{"sse2", rateBytes, rateFloats, sumSelectedBytesPortable};

} // namespace

const RatingKernels *const kSse2Kernels = &kKernels;

} // namespace framemeld::rating

#else

namespace framemeld::rating {
const RatingKernels *const kSse2Kernels = nullptr;
} // namespace framemeld::rating

#endif
