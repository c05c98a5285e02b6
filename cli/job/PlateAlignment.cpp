#include "cli/job/PlateAlignment.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>

#include "cli/core/CliError.h"
#include "cli/files/ContentHash.h"
#include "cli/footage/FrameAlignment.h"
#include "cli/footage/WarpStage.h"

namespace framemeld::cli {

AlignmentReport registerPlate(const PlateAlignmentRequest &request)
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
    registration.memory = request.memory;
    registration.decoded = request.decoded;
    registration.registering = request.registering;
    const FrameAlignment aligned =
        request.heldFrame
            ? alignHeldFrames(module, registration, request.firstNumber, request.heldFrame)
            : alignFrames(module, registration, request.firstNumber);

    AlignmentReport report;
    report.model = align::motionModelName(request.model);
    report.reference = request.firstNumber + request.reference;
    report.passes = aligned.passes;
    report.largestDisplacement = aligned.largestDisplacement;
    report.still = aligned.still;
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
        report.frames.push_back(entry);
    }
    return report;
}

PlateAlignment warpPlate(const PlateAlignmentRequest &request, const AlignmentReport &motion,
                         std::shared_ptr<HoldoutMattes> &mattes)
{
    if (motion.frames.size() != request.frames.size()) {
        throw std::invalid_argument("warpPlate: not one transform per sampled frame");
    }
    PlateAlignment result;
    result.report = motion;
    if (motion.still) {
        return result;
    }
    const align::AlignModule &module = align::alignModule();
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
    for (std::size_t k = 0; k < request.frames.size(); ++k) {
        align::Transform transform;
        transform.m = motion.frames[k].matrix;
        frameToReference.emplace(request.frames[k], transform);
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

PlateAlignment alignPlate(const PlateAlignmentRequest &request,
                          std::shared_ptr<HoldoutMattes> &mattes)
{
    return warpPlate(request, registerPlate(request), mattes);
}

std::string transformsDigest(const AlignmentReport &motion)
{
    ContentHash hash;
    for (const AlignedFrameReport &frame : motion.frames) {
        hash.addNumber(static_cast<std::uint64_t>(frame.frame));
        for (const double value : frame.matrix) {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            hash.addNumber(bits);
        }
    }
    return hash.hex();
}

int referenceFrame(const std::optional<long long> &reference, const SamplingPlan &plan,
                   long long firstNumber)
{
    if (!reference) {
        return plan.frames[plan.frames.size() / 2];
    }
    const long long frame = *reference - firstNumber;
    if (std::find(plan.frames.begin(), plan.frames.end(), frame) == plan.frames.end()) {
        throw UsageError("--reference " + std::to_string(*reference) +
                         " is not a sampled frame (this run samples frames " +
                         std::to_string(firstNumber + plan.frames.front()) + " to " +
                         std::to_string(firstNumber + plan.frames.back()) + ", every " +
                         std::to_string(plan.every) + ")");
    }
    return static_cast<int>(frame);
}

} // namespace framemeld::cli
