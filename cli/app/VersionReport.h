#pragma once
// What `framemeld --version` tells: the tool's release, the plug-in module it would run with and
// where that came from, and the OpenImageIO module's library when it can be loaded. Bug reports
// need all three, since the module and the OpenImageIO module are found at run time.

#include <string>

#include "AE_Effect.h"

namespace framemeld::cli {

// "2.2", or "2.2.1" when the bug-fix number is not 0, from a PF_VERSION-packed value.
std::string moduleVersionText(A_u_long packed);

// Prints the report on stdout, the tool's own line first, before the module is loaded: a module
// that fails, crashes or exits while it loads still leaves that line. Throws RunError when the
// plug-in module cannot be found or loaded, or stdout cannot be written; a missing OpenImageIO
// module is reported, not thrown.
void printVersion(const std::string &requestedPlugin);

} // namespace framemeld::cli
