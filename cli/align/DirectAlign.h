#pragma once
// The robust direct method (inside the OpenCV module): the grey levels of well-textured
// reference pixels compared with the frame at the estimated transform, refined by inverse
// compositional Gauss-Newton steps with Tukey weights, so that the pixels that disagree (what
// moves through the shot, what the frame does not show) drop out. A gain and an offset between
// the two are fitted on the way, so that exposure drift does not bias the geometry.

#include <vector>

#include "cli/align/GreyProxy.h"
#include "cli/formats/AlignModule.h"

namespace framemeld::cli::align {

// The reference pixels of one pyramid level: positions (AlignTransform.h convention, in the
// level's pixels), smoothed grey values and the steepest-descent rows of the model.
struct DirectLevel {
    int shrink = 1; // full-size pixels per pixel of this level
    int width = 0;
    int height = 0;
    int parameters = 0;
    double centreX = 0;
    double centreY = 0;
    double scale = 1; // normalised coordinates: (x - centre) / scale
    std::vector<float> x;
    std::vector<float> y;
    std::vector<float> value;
    std::vector<float> jacobian; // parameters per point
};

int parameterCount(MotionModel model);

// The `perCell` strongest gradients of each 16 x 16 cell of the smoothed reference (valid pixels
// only).
DirectLevel prepareDirectLevel(const Plane &smoothedReference, int shrink, MotionModel model,
                               int perCell);

struct DirectFit {
    bool ok = false;
    Transform referenceToFrame; // level coordinates
    double gain = 1;
    double offset = 0;
    int points = 0; // reference points the frame covered at the end
    double support = 0;
    double residual = 0; // RMS over the agreeing points, levels of 255
};

// Refines `referenceToFrame` (level coordinates) on one level; ok false when the frame covers
// too few of the points or the steps diverge.
DirectFit alignDirect(const DirectLevel &level, const Plane &smoothedFrame, MotionModel model,
                      const Transform &referenceToFrame, int maxIterations);

// Share of the covered points that agree within `tolerance` (0..1 grey) at a transform, with the
// gain and offset fitted by least squares over the agreeing points.
DirectFit measureAgreement(const DirectLevel &level, const Plane &smoothedFrame,
                           const Transform &referenceToFrame, double tolerance);

} // namespace framemeld::cli::align
