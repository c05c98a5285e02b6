#pragma once
// The module's slider defaults for --help, read in a child process: the help must come out even
// when the module crashes, exits or hangs while it loads.

#include <chrono>
#include <optional>
#include <string>

namespace framemeld::cli {

struct ModuleDefaults {
    double divergence = 0.0;
    double ratingRange = 0.0;
};

// Loads the module in a child process and reads its "Divergence" and "Rating Range" defaults.
// Empty when the child cannot give them within `timeout` (the module does not load, lacks the
// sliders, crashes, exits or hangs); a crash or exit is reported on stderr by the child's
// guard. Call before this process starts threads of its own.
std::optional<ModuleDefaults> probeModuleDefaults(const std::string &modulePath,
                                                  std::chrono::milliseconds timeout);

} // namespace framemeld::cli
