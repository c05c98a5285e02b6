#pragma once
// Working spaces from an OpenColorIO configuration: the library's CPU processors between the
// footage's colour space and the one asked for, behind the tool's ColourTransform.

#include <string>

#include "cli/formats/OiioModule.h"

namespace framemeld::cli::oiio {

// See OiioModule::colourSpaceTransforms.
ColourSpaceTransforms colourSpaceTransforms(const std::string &configPath,
                                            const std::string &footageTag, bool sceneLinear,
                                            const std::string &workingSpace);

} // namespace framemeld::cli::oiio
