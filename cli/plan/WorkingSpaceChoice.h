#pragma once
// Which working space a run uses (see workspace/WorkingSpace.h for what one is), decided from
// what the user asked and what the footage says of itself, before any frame is read. `auto` puts
// scene-linear float footage through the log curve, since compositors judge differences there in
// stops, not in linear units, and leaves display-referred and integer footage as it is, whose
// values already are an encoding made for the eye.

#include <string>

#include "cli/core/FootageFormat.h"

namespace framemeld::cli {

// `--working-space`: auto (also what nothing means), linear, log, or a colour space of an
// OpenColorIO configuration by name.
struct WorkingSpaceRequest {
    enum class Kind { Auto, Linear, Log, Named };
    Kind kind = Kind::Auto;
    std::string name; // Named: the colour space

    // "auto", "linear", "log", or anything else as a colour space's name.
    static WorkingSpaceRequest parse(const std::string &text);
};

// Whether the footage holds scene-linear light: half or float samples (EXR as compositors hand it
// over, float TIFF, PFM) whose colour-space tag (FootageFormat::colourSpace) is missing or names
// linear light: it contains "linear" or starts with "lin_" (in any case), or is ACEScg,
// ACES2065-1 or ACES. Any other tag (sRGB, Rec709, a gamma, ACEScct, a camera log, ...) says the
// values already carry an encoding; integer samples are display-referred or encoded by nature.
bool isSceneLinear(const FootageFormat &format);

// The working space in force: what `auto` means for this footage at this render depth (the log
// curve for scene-linear footage rendered in float; else linear, the values as they are, since at
// 8 and 16 bits the frames reach the plug-in already clipped and rounded to the depth), or what
// was asked. Never Kind::Auto.
struct WorkingSpaceChoice {
    WorkingSpaceRequest::Kind kind = WorkingSpaceRequest::Kind::Linear;
    std::string name;       // Named: the colour space
    bool automatic = false; // chosen by `auto`
};
WorkingSpaceChoice chooseWorkingSpace(const WorkingSpaceRequest &request,
                                      const FootageFormat &format, Depth renderDepth);

} // namespace framemeld::cli
