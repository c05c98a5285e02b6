#pragma once
// Registration inside the OpenCV module: the prepared reference, one frame against it, the
// plate of a first pass, the whole clip, and the cheap estimate for the summary's advice.

#include <memory>
#include <vector>

#include "cli/formats/AlignModule.h"

namespace framemeld::cli::align {

int registrationShrinkFor(int width, int height);
int motionShrinkFor(int width, int height);

std::unique_ptr<Reference> prepareRegistrationReference(const GreyImageView &reference,
                                                        const RegistrationSettings &settings);

FrameRegistration registerOneFrame(const Reference &reference, const GreyImageView &frame,
                                   const Transform *initial);

// The same with the frame's (or the reference's) features found already (detectFeatures on the
// reference's feature level of the proxy).
struct FeatureSet;
std::unique_ptr<Reference> prepareRegistrationReference(const GreyImageView &reference,
                                                        const RegistrationSettings &settings,
                                                        const FeatureSet *known);
FrameRegistration registerOneFrame(const Reference &reference, const GreyImageView &frame,
                                   const Transform *initial, const FeatureSet *known);
int featureLevelOf(const Reference &reference);

GreyImage makeProxyPlate(const std::vector<GreyImageView> &frames,
                         const std::vector<const Transform *> &frameToReference,
                         const GreyImageView &referenceFrame);

ClipRegistration registerWholeClip(const std::vector<GreyImageView> &frames, std::size_t reference,
                                   const RegistrationSettings &settings);

MotionEstimate estimateClipMotion(const std::vector<GreyImageView> &proxies, std::size_t reference);

} // namespace framemeld::cli::align
