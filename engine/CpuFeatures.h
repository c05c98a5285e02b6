// What the processor the code runs on can execute, asked once at run time, so that one build
// serves every machine of its architecture. The plug-in's rating kernels and the tool's row
// conversions ask the same detector (the tool links it as framemeld_cpu_features).
#pragma once

namespace framemeld::cpu {

// True when the processor and the operating system both support AVX2 (the OS must save the
// 256-bit registers on a thread switch). Always false on processors other than x86-64.
bool hasAvx2();

// True when the processor has SSSE3 (byte shuffles); always false off x86-64.
bool hasSsse3();

// True when the processor and the operating system support AVX and F16C (half-float
// conversions on 128-bit registers, encoded with VEX, so the OS must save the AVX state).
bool hasF16c();

} // namespace framemeld::cpu
