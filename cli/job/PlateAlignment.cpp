#include "cli/job/PlateAlignment.h"

#include <map>

#include "cli/footage/FrameAlignment.h"
#include "cli/footage/WarpStage.h"

namespace framemeld::cli {

PlateAlignment alignPlate(const PlateAlignmentRequest &request,
                          std::shared_ptr<HoldoutMattes> &mattes)
{
    const align::AlignModule &module = align::alignModule();
    FrameAlignmentRequest registration;
    registration.clip = request.clip;
    registration.format = request.format;
    registration.depth = request.depth;
    registration.frames = request.frames;
    registration.reference = request.reference;
    registration.model = request.model;
    registration.threads = request.threads;
    registration.cancel = request.cancel;
    const FrameAlignment aligned = alignFrames(module, registration, request.firstNumber);

    PlateAlignment result;
    result.report.model = align::motionModelName(request.model);
    result.report.reference = request.firstNumber + request.reference;
    result.report.passes = aligned.passes;
    result.report.largestDisplacement = aligned.largestDisplacement;
    result.report.still = aligned.still;
    for (std::size_t k = 0; k < aligned.frames.size(); ++k) {
        const align::FrameRegistration &frame = aligned.registered[k];
        AlignedFrameReport entry;
        entry.frame = request.firstNumber + aligned.frames[k];
        // A still clip is left as it is: what the plate was made with is the identity.
        entry.matrix = aligned.still ? align::identityTransform().m : frame.frameToReference.m;
        entry.support = frame.support;
        entry.residual = frame.residual;
        entry.features = frame.features;
        entry.matches = frame.matches;
        entry.inliers = frame.inliers;
        result.report.frames.push_back(entry);
    }
    if (aligned.still) {
        return result;
    }

    const int width = request.format.width;
    const int height = request.format.height;
    // The artist's mattes are drawn on the frames as shot: each moves with its frame.
    const bool drawnMattes = mattes != nullptr;
    if (!mattes) {
        mattes = std::make_shared<HoldoutMattes>(
            HoldoutMattes::nothingHeldOut(*request.clip, width, height, request.frames));
    }
    std::map<int, align::Transform> frameToReference;
    std::vector<align::CoverageSpan> covered(static_cast<std::size_t>(height));
    for (std::size_t k = 0; k < aligned.frames.size(); ++k) {
        const align::Transform &transform = aligned.registered[k].frameToReference;
        frameToReference.emplace(aligned.frames[k], transform);
        if (transform.m == align::identityTransform().m) {
            continue;
        }
        if (drawnMattes) {
            mattes->warpToReference(static_cast<int>(k), transform);
        }
        module.coverage(transform, width, height, width, 0, height, covered.data());
        mattes->holdOutUncovered(static_cast<int>(k), covered);
    }
    result.warp = std::make_shared<WarpStage>(module, std::move(frameToReference),
                                              alphaKindOf(request.format), request.depth);
    return result;
}

} // namespace framemeld::cli
