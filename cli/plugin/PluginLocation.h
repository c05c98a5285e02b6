#pragma once
// Where the Framemeld module comes from: --plugin when given, else the module that sits next to
// (or one folder above) the program, else the installed one in ../lib/framemeld/ from the
// program's folder, else the one this build produced.

#include <string>
#include <vector>

namespace framemeld::cli {

// The places looked at, in order, when --plugin is not given.
std::vector<std::string> defaultPluginCandidates();

// Returns the module to load, as a path with a slash in it (a bare name given to --plugin is a
// file in the current folder). Throws RunError naming every place looked at when none exists,
// or the given path when --plugin names a missing file.
std::string locatePlugin(const std::string &requested);

} // namespace framemeld::cli
