#include "engine/CpuFeatures.h"

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_AMD64))
#include <immintrin.h>
#include <intrin.h>
#define FRAMEMELD_X64_MSVC 1
#elif (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <cpuid.h>
#define FRAMEMELD_X64_GNU 1
#endif

namespace framemeld::cpu {

namespace {

#if defined(FRAMEMELD_X64_MSVC) || defined(FRAMEMELD_X64_GNU)

constexpr unsigned kSsse3Bit = 1u << 9;    // leaf 1, ecx
constexpr unsigned kOsxsaveBit = 1u << 27; // leaf 1, ecx
constexpr unsigned kAvxBit = 1u << 28;     // leaf 1, ecx
constexpr unsigned kF16cBit = 1u << 29;    // leaf 1, ecx
constexpr unsigned kAvx2Bit = 1u << 5;     // leaf 7, ebx
constexpr unsigned kYmmStateMask = 0x6u;   // XCR0: SSE and AVX register state enabled by the OS

bool cpuid(unsigned leaf, unsigned subleaf, unsigned registers[4])
{
#if defined(FRAMEMELD_X64_MSVC)
    int values[4];
    __cpuid(values, 0);
    if (static_cast<unsigned>(values[0]) < leaf) {
        return false;
    }
    __cpuidex(values, static_cast<int>(leaf), static_cast<int>(subleaf));
    for (int k = 0; k < 4; ++k) {
        registers[k] = static_cast<unsigned>(values[k]);
    }
    return true;
#else
    return __get_cpuid_count(leaf, subleaf, &registers[0], &registers[1], &registers[2],
                             &registers[3]) != 0;
#endif
}

unsigned long long extendedControlRegister0()
{
#if defined(FRAMEMELD_X64_MSVC)
    return _xgetbv(0);
#else
    // Spelled out rather than _xgetbv(), which would need the whole unit compiled for XSAVE.
    unsigned low = 0;
    unsigned high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
#endif
}

// AVX instructions run: the processor has them and the operating system saves their registers.
bool avxUsable(const unsigned leaf1[4])
{
    return (leaf1[2] & kOsxsaveBit) != 0 && (leaf1[2] & kAvxBit) != 0 &&
           (extendedControlRegister0() & kYmmStateMask) == kYmmStateMask;
}

bool probeAvx2()
{
    unsigned leaf1[4] = {};
    if (!cpuid(1, 0, leaf1) || !avxUsable(leaf1)) {
        return false;
    }
    unsigned leaf7[4] = {};
    return cpuid(7, 0, leaf7) && (leaf7[1] & kAvx2Bit) != 0;
}

bool probeSsse3()
{
    unsigned leaf1[4] = {};
    return cpuid(1, 0, leaf1) && (leaf1[2] & kSsse3Bit) != 0;
}

bool probeF16c()
{
    unsigned leaf1[4] = {};
    return cpuid(1, 0, leaf1) && avxUsable(leaf1) && (leaf1[2] & kF16cBit) != 0;
}

#else

bool probeAvx2()
{
    return false;
}

bool probeSsse3()
{
    return false;
}

bool probeF16c()
{
    return false;
}

#endif

} // namespace

bool hasAvx2()
{
    static const bool supported = probeAvx2();
    return supported;
}

bool hasSsse3()
{
    static const bool supported = probeSsse3();
    return supported;
}

bool hasF16c()
{
    static const bool supported = probeF16c();
    return supported;
}

} // namespace framemeld::cpu
