#include "cli/job/WorkingSpaceSetup.h"

#include <cstdlib>

#include "cli/core/CliError.h"
#include "cli/formats/OiioModule.h"

namespace framemeld::cli {

WorkingSpaceSetup setUpWorkingSpace(const WorkingSpaceChoice &choice, const FootageFormat &format,
                                    Depth depth, const std::string &ocioConfig)
{
    switch (choice.kind) {
    case WorkingSpaceRequest::Kind::Log: return {WorkingSpace::log(depth), {}};
    case WorkingSpaceRequest::Kind::Named: break;
    case WorkingSpaceRequest::Kind::Auto:
    case WorkingSpaceRequest::Kind::Linear: return {WorkingSpace::linear(depth), {}};
    }
    std::string config = ocioConfig;
    if (config.empty()) {
        const char *fromEnvironment = std::getenv("OCIO");
        config = fromEnvironment != nullptr ? fromEnvironment : "";
    }
    if (config.empty()) {
        throw UsageError("--working-space " + choice.name +
                         " names a colour space of an OpenColorIO configuration: give "
                         "--ocio-config FILE or set $OCIO (or give auto, linear or log)");
    }
    const ColourSpaceTransforms transforms = oiioModule().colourSpaceTransforms(
        config, format.colourSpace, isSceneLinear(format), choice.name);
    return {WorkingSpace::colourSpace(transforms.workingSpace, depth, transforms.encode,
                                      transforms.decode),
            transforms.footageSpace};
}

} // namespace framemeld::cli
