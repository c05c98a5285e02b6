// What the processor the plug-in runs on can execute, asked once at run time, so that one build
// serves every machine of its architecture.
#pragma once

namespace framemeld::cpu {

// True when the processor and the operating system both support AVX2 (the OS must save the
// 256-bit registers on a thread switch). Always false on processors other than x86-64.
bool hasAvx2();

} // namespace framemeld::cpu
