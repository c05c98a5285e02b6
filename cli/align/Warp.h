#pragma once
// Resampling frames into the reference (inside the OpenCV module, on the module's own code: the
// filters are applied as two separable passes over tiles, rows then columns, in float).

#include "cli/formats/AlignModule.h"

namespace framemeld::cli::align {

WarpReport warpHostFrame(const HostFrameView &source, const Transform &frameToReference,
                         const HostFrameTarget &target, int targetTop, CoverageSpan *coverage,
                         const WarpSettings &settings);

// The covered spans alone (what warpHostFrame reports), for a source of sourceWidth x
// sourceHeight and target rows targetTop .. targetTop + rows - 1 of targetWidth pixels.
void coverageSpans(const Transform &frameToReference, int sourceWidth, int sourceHeight,
                   int targetWidth, int targetTop, int rows, CoverageSpan *spans);

} // namespace framemeld::cli::align
