// The rating pass of the consensus, in several implementations that give identical ratings: a
// portable one, and vector ones for x86-64 (SSE2 everywhere, AVX2 where the processor has it).
// Each tests a candidate against many earlier samples at once, without an early exit, and
// credits both members of every agreeing pair, so every pair is still tested exactly once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace framemeld::rating {

// Samples are handed to the kernels split into component planes, so that one vector load takes
// the same component of many samples. Every plane, the ratings and the byte scratch hold at
// least paddedCount(count) elements; the kernels read and write the padding (up to one block
// past the last block) but never let it change a rating. A block is the widest vector's 16 bytes
// per half; the padding stays small because short strings are common and must stay cheap.
constexpr int kBlock = 16;

inline std::size_t paddedCount(int count)
{
    const std::size_t n = count > 0 ? static_cast<std::size_t>(count) : 0;
    return (n + kBlock - 1) / kBlock * kBlock + kBlock;
}

template <typename T> struct SamplePlanes {
    const T *red;
    const T *green;
    const T *blue;
    const T *alpha;
    int count;
};

// 8-bit rule: a component agrees when |a - b| < tolerance. The caller handles tolerance 0 (no
// pair agrees); the kernels take tolerance >= 1. columns is byte scratch for the kernel.
using ByteRating = void (*)(const SamplePlanes<unsigned char> &samples, unsigned char tolerance,
                            std::uint32_t *ratings, unsigned char *columns);

// Float rule: a component agrees unless its difference is NaN or |a - b| >= tolerance. A NaN
// difference (a NaN sample, or equal infinities) must not agree: it would let a broken sample
// collect partners. Any tolerance, NaN and infinities included; under a NaN tolerance every
// other difference agrees. rows is scratch for the kernel.
using FloatRating = void (*)(const SamplePlanes<float> &samples, float tolerance,
                             std::uint32_t *ratings, std::uint32_t *rows);

// The sums of each component over the samples rated at least `lowest`, and how many those are.
// For counts up to 65793, where 255 per sample cannot overflow the 24 bits that keep these sums
// equal to float sums in index order. 1 <= lowest <= count + 1.
using ByteSums = void (*)(const SamplePlanes<unsigned char> &samples, const std::uint32_t *ratings,
                          std::uint32_t lowest, std::uint32_t sums[4], std::uint32_t *selected);

// ratings[k] receives 1 plus the number of other samples that agree with sample k. Float sums
// have no kernel: they must run in index order, one add after the other, which no vector form
// does faster than plain code.
struct RatingKernels {
    const char *name;
    ByteRating bytes;
    FloatRating floats;
    ByteSums byteSums;
};

enum class Isa { Portable, Sse2, Avx2 };

// The kernels for one instruction set, or null when this build or this processor lacks it.
const RatingKernels *kernelsFor(Isa isa);

// The fastest kernels this processor runs, chosen on first use.
const RatingKernels &bestKernels();

// Implementations, one unit each; an implementation that this build cannot compile is null.
extern const RatingKernels *const kPortableKernels;
extern const RatingKernels *const kSse2Kernels;
extern const RatingKernels *const kAvx2Kernels;

} // namespace framemeld::rating
