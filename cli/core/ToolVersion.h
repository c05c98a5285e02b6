#pragma once
// The tool's release, as every report names it: --version, --json and the strip records.

namespace framemeld::cli {

// From CMake's project(VERSION).
const char *toolVersion();

} // namespace framemeld::cli
