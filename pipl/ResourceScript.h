// The Windows resource script that puts a PiPL into the .aex. The bytes go in as string
// literals of \x escapes: resource compilers do not NUL-terminate strings in user-defined raw
// data, so the resource holds exactly the given bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framemeld::pipl {

constexpr int kPiplResourceId = 16000;

// Resource type "PIPL", id 16000, language 1033 (US English).
std::string WindowsResourceScript(const std::vector<std::uint8_t> &pipl);

} // namespace framemeld::pipl
