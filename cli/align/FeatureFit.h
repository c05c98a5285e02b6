#pragma once
// Keypoints on a proxy, matched against the reference's and fitted at the motion model by RANSAC
// (inside the OpenCV module).

#include <vector>

#include <opencv2/core.hpp>

#include "cli/align/GreyProxy.h"
#include "cli/formats/AlignModule.h"

namespace framemeld::cli::align {

struct FeatureSet {
    std::vector<cv::KeyPoint> keypoints; // OpenCV's coordinates: pixel centres on whole numbers
    cv::Mat descriptors;
    int width = 0; // of the plane they were found on
    int height = 0;
};

// ORB or AKAZE keypoints spread over the plane (at most a few per cell of a 16 x 9 grid, the
// strongest), away from invalid pixels, in an order that does not depend on the threads.
FeatureSet detectFeatures(const Plane &plane, FeatureKind kind);

struct FeatureFit {
    RegistrationFailure failure = RegistrationFailure::None;
    Transform frameToReference; // in the plane's own coordinates (AlignTransform.h convention)
    // The other motions the matches support (something large moving through the shot), for the
    // direct method to weigh against the first: it keeps what most of the reference agrees with.
    std::vector<Transform> alternatives;
    int features = 0;
    int matches = 0;
    int inliers = 0;
};

// Matches the frame's features to the reference's (two nearest neighbours, ratio test) and fits
// the model to the matches by RANSAC, then to its inliers by least squares; of up to three
// motions found in turn, the one whose inliers cover most of the frame.
FeatureFit fitFeatures(const FeatureSet &reference, const FeatureSet &frame, MotionModel model);

} // namespace framemeld::cli::align
