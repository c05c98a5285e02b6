// The rating pass with AVX2: 32 byte pairs or 8 float pairs per step. Only these functions are
// compiled for AVX2 (through a target attribute), so nothing shared with the rest of the
// program, such as an inline function from a header, can carry AVX2 instructions onto a
// processor without them; the kernels are chosen only after the processor was asked.
#include "engine/RatingKernels.h"

#if (defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))) || defined(_M_X64) || defined(_M_AMD64)

#include <immintrin.h>

#include <cstring>

#include "engine/RatingKernelParts.h"

#if defined(_MSC_VER) && !defined(__clang__)
#define FRAMEMELD_AVX2 // MSVC hands out AVX2 intrinsics without a target switch.
#else
#define FRAMEMELD_AVX2 __attribute__((target("avx2")))
#endif

namespace framemeld_rating {

namespace {

constexpr int kByteLanes = 32;
constexpr int kFloatLanes = 8;

// Loading at prefix + lanes - t gives all-ones in the first t lanes and zero in the rest.
alignas(32) const unsigned char kBytePrefix[2 * kByteLanes] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
alignas(32) const std::int32_t kIntPrefix[2 * kFloatLanes] = {-1, -1, -1, -1, -1, -1, -1, -1};

FRAMEMELD_AVX2 inline __m256i load(const void *address) {
  return _mm256_loadu_si256(static_cast<const __m256i *>(address));
}
FRAMEMELD_AVX2 inline void store(void *address, __m256i value) {
  _mm256_storeu_si256(static_cast<__m256i *>(address), value);
}

FRAMEMELD_AVX2 inline std::uint32_t sumBytes(__m256i counts) {
  const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
  const __m128i halves = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(halves) + _mm_cvtsi128_si32(_mm_srli_si128(halves, 8)));
}

FRAMEMELD_AVX2 inline std::uint32_t sumInts(__m256i values) {
  __m128i sums = _mm_add_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
  sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 8));
  sums = _mm_add_epi32(sums, _mm_srli_si128(sums, 4));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums));
}

struct ByteCandidate {
  __m256i low[4];
  __m256i high[4];
};

FRAMEMELD_AVX2 inline ByteCandidate byteCandidate(const SamplePlanes<unsigned char> &samples, int i, int reach) {
  const unsigned char *planes[4] = {samples.red, samples.green, samples.blue, samples.alpha};
  ByteCandidate candidate;
  for (int c = 0; c < 4; ++c) {
    const ByteWindow window = byteWindow(planes[c][i], reach);
    candidate.low[c] = _mm256_set1_epi8(static_cast<char>(window.low));
    candidate.high[c] = _mm256_set1_epi8(static_cast<char>(window.high));
  }
  return candidate;
}

// All-ones in each lane whose sample lies within the candidate's window in every component.
FRAMEMELD_AVX2 inline __m256i bytesAgree(const ByteCandidate &candidate, const SamplePlanes<unsigned char> &samples,
                                         int offset) {
  const __m256i red = load(samples.red + offset);
  const __m256i green = load(samples.green + offset);
  const __m256i blue = load(samples.blue + offset);
  const __m256i alpha = load(samples.alpha + offset);
  __m256i outside = _mm256_or_si256(_mm256_subs_epu8(candidate.low[0], red), _mm256_subs_epu8(red, candidate.high[0]));
  outside = _mm256_or_si256(outside, _mm256_subs_epu8(candidate.low[1], green));
  outside = _mm256_or_si256(outside, _mm256_subs_epu8(green, candidate.high[1]));
  outside = _mm256_or_si256(outside, _mm256_subs_epu8(candidate.low[2], blue));
  outside = _mm256_or_si256(outside, _mm256_subs_epu8(blue, candidate.high[2]));
  outside = _mm256_or_si256(outside, _mm256_subs_epu8(candidate.low[3], alpha));
  outside = _mm256_or_si256(outside, _mm256_subs_epu8(alpha, candidate.high[3]));
  return _mm256_cmpeq_epi8(outside, _mm256_setzero_si256());
}

FRAMEMELD_AVX2 void rateBytes(const SamplePlanes<unsigned char> &samples, unsigned char tolerance,
                              std::uint32_t *ratings, unsigned char *columns) {
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
      const int chunkEnd = fullBlocks - block > kColumnFlushInterval ? block + kColumnFlushInterval : fullBlocks;
      __m256i row = _mm256_setzero_si256();
      for (; block < chunkEnd; ++block) {
        const int offset = block * kByteLanes;
        const __m256i agree = bytesAgree(candidate, samples, offset);
        store(columns + offset, _mm256_sub_epi8(load(columns + offset), agree));
        row = _mm256_sub_epi8(row, agree);
      }
      partners += sumBytes(row);
    }
    const int tail = i % kByteLanes;
    if (tail != 0) {
      const int offset = fullBlocks * kByteLanes;
      const __m256i agree =
          _mm256_and_si256(bytesAgree(candidate, samples, offset), load(kBytePrefix + kByteLanes - tail));
      store(columns + offset, _mm256_sub_epi8(load(columns + offset), agree));
      partners += sumBytes(_mm256_sub_epi8(_mm256_setzero_si256(), agree));
    }
    ratings[i] += 1 + partners;
  }
  flushColumns(columns, ratings, static_cast<std::size_t>(count));
}

// All-ones in each lane whose sample is at least the tolerance away in some component. The
// ordered comparison leaves NaN differences out, so they agree.
FRAMEMELD_AVX2 inline __m256i floatsApart(const __m256 *candidate, const float *const *planes, int offset,
                                          __m256 tolerance) {
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  __m256 apart = _mm256_setzero_ps();
  for (int c = 0; c < 4; ++c) {
    const __m256 difference =
        _mm256_and_ps(_mm256_sub_ps(_mm256_loadu_ps(planes[c] + offset), candidate[c]), magnitude);
    apart = _mm256_or_ps(apart, _mm256_cmp_ps(difference, tolerance, _CMP_GE_OQ));
  }
  return _mm256_castps_si256(apart);
}

// Starts every rating at the sample count and takes one off for each sample that does not
// agree, which saves inverting the comparison in the inner loop.
FRAMEMELD_AVX2 void rateFloats(const SamplePlanes<float> &samples, float tolerance, std::uint32_t *ratings) {
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
      const __m256i apart = floatsApart(candidate, planes, offset, limit);
      store(ratings + offset, _mm256_add_epi32(load(ratings + offset), apart));
      row = _mm256_add_epi32(row, apart);
    }
    const int tail = i % kFloatLanes;
    if (tail != 0) {
      const int offset = fullBlocks * kFloatLanes;
      const __m256i apart =
          _mm256_and_si256(floatsApart(candidate, planes, offset, limit), load(kIntPrefix + kFloatLanes - tail));
      store(ratings + offset, _mm256_add_epi32(load(ratings + offset), apart));
      row = _mm256_add_epi32(row, apart);
    }
    ratings[i] += sumInts(row);
  }
}

const RatingKernels kKernels{"avx2", rateBytes, rateFloats};

} // namespace

const RatingKernels *const kAvx2Kernels = &kKernels;

} // namespace framemeld_rating

#else

namespace framemeld_rating {
const RatingKernels *const kAvx2Kernels = nullptr;
} // namespace framemeld_rating

#endif
