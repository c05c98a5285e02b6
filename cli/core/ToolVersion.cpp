#include "cli/core/ToolVersion.h"

#ifndef FRAMEMELD_PROJECT_VERSION
#error "FRAMEMELD_PROJECT_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace framemeld::cli {

const char *toolVersion()
{
    return FRAMEMELD_PROJECT_VERSION;
}

} // namespace framemeld::cli
