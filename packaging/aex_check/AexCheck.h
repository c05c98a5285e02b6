// What a Windows effect module must look like for the host to load it on a machine that has
// nothing but Windows and the host: a 64-bit DLL, one exported entry point, the PiPL resource
// where the host looks for it, and imports from Windows' own DLLs only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packaging/aex_check/PeImage.h"

namespace framemeld::packaging {

struct AexExpectations {
    std::string entryPoint = "EntryPointFunc";
    std::string piplType = "PIPL";
    std::string piplName = "#16000";
    std::uint32_t piplLanguage = 1033;
    std::vector<std::uint8_t> pipl; // the generator's Windows PiPL bytes
};

// Whether a DLL name belongs to Windows itself (kernel32, user32, msvcrt, the universal CRT's
// api-ms-win-* sets ...), compared without regard to case. Compiler runtimes such as
// libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll are not.
bool IsWindowsSystemDll(const std::string &dll);

// One line per fault, empty when the image passes.
std::vector<std::string> CheckAex(const PeImage &image, const AexExpectations &expected);

} // namespace framemeld::packaging
