#pragma once
// The working space a run encodes its frames into, made from the choice (plan/WorkingSpaceChoice.h)
// before any frame is decoded, so that a colour space the configuration lacks, or no
// configuration at all, stops the run at once.

#include <string>

#include "cli/core/FootageFormat.h"
#include "cli/plan/WorkingSpaceChoice.h"
#include "cli/workspace/WorkingSpace.h"

namespace framemeld::cli {

struct WorkingSpaceSetup {
    WorkingSpace space;
    std::string footageSpace; // a named colour space: the one the footage was taken to be in
};

// `ocioConfig` is --ocio-config, or empty for $OCIO; only a named colour space needs either
// (UsageError without both). Throws as OiioModule::colourSpaceTransforms does.
WorkingSpaceSetup setUpWorkingSpace(const WorkingSpaceChoice &choice, const FootageFormat &format,
                                    Depth depth, const std::string &ocioConfig);

} // namespace framemeld::cli
