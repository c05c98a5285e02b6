#pragma once
// What `framemeld --help [INPUT]` prints: the help with the plug-in's own slider defaults when the
// module is at hand and gives them safely (the help is still worth showing without them), and,
// with INPUT, which numbering --start and --end take for it.

#include "cli/app/Options.h"

namespace framemeld::cli {

// Prints on stdout; throws RunError when stdout cannot be written.
void printHelp(const Options &options);

} // namespace framemeld::cli
