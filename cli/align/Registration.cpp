#include "cli/align/Registration.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <opencv2/core.hpp>

#include "cli/align/DirectAlign.h"
#include "cli/align/FeatureFit.h"
#include "cli/align/GreyProxy.h"

namespace framemeld::cli::align {
namespace {

constexpr int kRegistrationWidth = 1024; // registration proxies are narrower than this
constexpr int kMotionWidth = 320;        // the cheap estimate's proxies are narrower than this
constexpr int kFeatureWidth = 800;       // features are found on a level narrower than this
constexpr int kCoarsestWidth = 64;       // the direct method's coarsest level is this wide
constexpr int kFinestPerCell = 6;        // direct points per 16 x 16 cell of the finest level
constexpr int kCoarsePerCell = 12;       // and of the coarser ones
constexpr double kAgreement = 12.0 / 255.0;
constexpr double kMinimumSupport = 0.3;
constexpr double kSecondPassSupport = 0.8;
constexpr double kPlateTolerance = 8.0 / 255.0;
constexpr double kPlateSupportShare = 0.85;
constexpr std::size_t kPlateFrames = 31;

class PreparedReference final : public Reference {
public:
    RegistrationSettings settings;
    int shrink = 1;
    int width = 0;
    int height = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    int featureLevel = 0;
    int coarsestLevel = 0;
    std::vector<DirectLevel> direct; // level l shrinks the base by 2^l
    FeatureSet features;
};

int levelWidth(int width, int level)
{
    return std::max(1, width >> level);
}

// The level of a proxy pyramid features are found on: the first narrower than kFeatureWidth.
int featureLevelFor(int width)
{
    int level = 0;
    while (levelWidth(width, level) >= kFeatureWidth) {
        ++level;
    }
    return level;
}

// Levels of a plane: [0] the plane itself, each next one half the last.
std::vector<Plane> pyramidOf(Plane base, int levels)
{
    std::vector<Plane> pyramid;
    pyramid.push_back(std::move(base));
    for (int l = 1; l < levels; ++l) {
        pyramid.push_back(halved(pyramid.back()));
    }
    return pyramid;
}

void checkView(const GreyImageView &view, const char *what)
{
    if (view.pixels == nullptr || view.width <= 0 || view.height <= 0 ||
        !isProxyShrink(view.shrink) || view.frameWidth / view.shrink != view.width ||
        view.frameHeight / view.shrink != view.height) {
        throw std::invalid_argument(std::string(what) +
                                    ": the grey proxy does not describe a frame shrunk by a "
                                    "power of two");
    }
}

std::string percent(double share)
{
    return std::to_string(static_cast<int>(std::lround(share * 100))) + " %";
}

// Scale and orientation checks: a frame is not mirrored, folded or scaled past a factor of two.
bool plausible(const Transform &t, int width, int height, std::string &why)
{
    if (!isUsable(t)) {
        why = "the fitted transform is singular";
        return false;
    }
    const double corners[4][2] = {
        {0, 0}, {1.0 * width, 0}, {1.0 * width, 1.0 * height}, {0, 1.0 * height}};
    double mapped[4][2];
    for (int i = 0; i < 4; ++i) {
        if (!applyTransform(t, corners[i][0], corners[i][1], mapped[i][0], mapped[i][1])) {
            why = "the fitted transform sends a corner of the frame to infinity";
            return false;
        }
    }
    double area = 0;
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        const double cross =
            (mapped[j][0] - mapped[i][0]) * (mapped[(j + 1) % 4][1] - mapped[j][1]) -
            (mapped[j][1] - mapped[i][1]) * (mapped[(j + 1) % 4][0] - mapped[j][0]);
        if (!(cross > 0)) {
            why = "the fitted transform folds or mirrors the frame";
            return false;
        }
        area += mapped[i][0] * mapped[j][1] - mapped[j][0] * mapped[i][1];
    }
    const double ratio = area / 2 / (static_cast<double>(width) * height);
    if (!(ratio > 0.25 && ratio < 4)) {
        why = "the fitted transform scales the frame by " + std::to_string(std::sqrt(ratio));
        return false;
    }
    return true;
}

void fail(FrameRegistration &result, RegistrationFailure failure, const std::string &reason)
{
    result.failure = failure;
    result.reason = reason;
}

std::string featureReason(const FeatureFit &fit, const PreparedReference &reference)
{
    switch (fit.failure) {
    case RegistrationFailure::TooFewFeatures:
        if (reference.features.keypoints.size() < 24) {
            return "too few features in the reference (" +
                   std::to_string(reference.features.keypoints.size()) +
                   " found): it has too little texture to register against";
        }
        return "too few features (" + std::to_string(fit.features) +
               " found): the frame has too little texture to register";
    case RegistrationFailure::TooFewMatches:
        return "too few matches with the reference (" + std::to_string(fit.matches) + " of " +
               std::to_string(fit.features) + " features): a cut, or a different view?";
    case RegistrationFailure::TooLittleSupport:
        return "too little support: at best " + std::to_string(fit.inliers) + " of " +
               std::to_string(fit.matches) + " matches agree on one " +
               motionModelName(reference.settings.model);
    default: return "cannot be registered";
    }
}

// The direct method from `current` (frame to reference), level `startLevel` down to the finest,
// then the support there and the checks; `smooth` holds the frame's smoothed levels.
FrameRegistration refineFrom(const PreparedReference &reference, const std::vector<Plane> &smooth,
                             MotionModel model, Transform current, int startLevel,
                             const FeatureFit &features, FrameRegistration result)
{
    const RegistrationMethod method = reference.settings.method;
    if (method != RegistrationMethod::Features) {
        for (int l = startLevel; l >= 0; --l) {
            const DirectLevel &level = reference.direct[static_cast<std::size_t>(l)];
            const Plane &frame = smooth[static_cast<std::size_t>(l)];
            Transform toFrame;
            if (!invert(rescaled(current, 1.0 / level.shrink), toFrame)) {
                fail(result, RegistrationFailure::Implausible, "the fitted transform is singular");
                return result;
            }
            const DirectFit fit = alignDirect(level, frame, model, toFrame, l == 0 ? 12 : 20);
            Transform back;
            if (!fit.ok || !invert(fit.referenceToFrame, back)) {
                if (features.failure != RegistrationFailure::None) {
                    fail(result, features.failure, featureReason(features, reference));
                } else {
                    fail(result, RegistrationFailure::TooLittleSupport,
                         "too little support: too few of the reference's textured pixels agree "
                         "with the frame");
                }
                return result;
            }
            current = rescaled(back, level.shrink);
        }
    }

    // Support at the finest level, whatever the method.
    const DirectLevel &finest = reference.direct.front();
    Transform toFrame;
    if (!invert(rescaled(current, 1.0 / finest.shrink), toFrame)) {
        fail(result, RegistrationFailure::Implausible, "the fitted transform is singular");
        return result;
    }
    const DirectFit agreement = measureAgreement(finest, smooth.front(), toFrame, kAgreement);
    result.support = agreement.support;
    result.residual = agreement.residual;
    result.frameToReference = normalised(current);
    std::string why;
    if (!plausible(result.frameToReference, reference.frameWidth, reference.frameHeight, why)) {
        fail(result, RegistrationFailure::Implausible, "implausible motion: " + why);
        return result;
    }
    if (!agreement.ok || agreement.support < kMinimumSupport) {
        if (features.failure != RegistrationFailure::None) {
            fail(result, features.failure, featureReason(features, reference));
        } else {
            fail(result, RegistrationFailure::TooLittleSupport,
                 "too little support: only " + percent(agreement.support) +
                     " of the reference's textured pixels agree with the frame at the best " +
                     motionModelName(model) + " (a cut, or a frame mostly covered?)");
        }
        return result;
    }
    return result;
}

} // namespace

int registrationShrinkFor(int width, int height)
{
    int shrink = 1;
    while (width / shrink >= kRegistrationWidth && shrink < 64 && height / (2 * shrink) >= 16) {
        shrink *= 2;
    }
    return shrink;
}

int motionShrinkFor(int width, int height)
{
    int shrink = 1;
    while (width / shrink >= kMotionWidth && shrink < 64 && height / (2 * shrink) >= 16) {
        shrink *= 2;
    }
    return shrink;
}

std::unique_ptr<Reference> prepareRegistrationReference(const GreyImageView &view,
                                                        const RegistrationSettings &settings,
                                                        const FeatureSet *known)
{
    checkView(view, "prepareReference");
    auto reference = std::make_unique<PreparedReference>();
    reference->settings = settings;
    reference->shrink = view.shrink;
    reference->width = view.width;
    reference->height = view.height;
    reference->frameWidth = view.frameWidth;
    reference->frameHeight = view.frameHeight;
    reference->featureLevel = featureLevelFor(view.width);
    while (levelWidth(view.width, reference->coarsestLevel + 1) >= kCoarsestWidth &&
           (view.height >> (reference->coarsestLevel + 1)) >= 16) {
        ++reference->coarsestLevel;
    }
    reference->coarsestLevel = std::max(reference->coarsestLevel, reference->featureLevel);
    const MotionModel model =
        settings.model == MotionModel::None ? MotionModel::Translation : settings.model;
    std::vector<Plane> pyramid = pyramidOf(planeOf(view), reference->coarsestLevel + 1);
    for (int l = 0; l <= reference->coarsestLevel; ++l) {
        reference->direct.push_back(
            prepareDirectLevel(smoothed(pyramid[static_cast<std::size_t>(l)]), view.shrink << l,
                               model, l == 0 ? kFinestPerCell : kCoarsePerCell));
    }
    if (settings.method != RegistrationMethod::Direct) {
        reference->features =
            known != nullptr
                ? *known
                : detectFeatures(pyramid[static_cast<std::size_t>(reference->featureLevel)],
                                 settings.features);
    }
    return reference;
}

std::unique_ptr<Reference> prepareRegistrationReference(const GreyImageView &view,
                                                        const RegistrationSettings &settings)
{
    return prepareRegistrationReference(view, settings, nullptr);
}

int featureLevelOf(const Reference &base)
{
    return dynamic_cast<const PreparedReference &>(base).featureLevel;
}

FrameRegistration registerOneFrame(const Reference &base, const GreyImageView &view,
                                   const Transform *initial)
{
    return registerOneFrame(base, view, initial, nullptr);
}

FrameRegistration registerOneFrame(const Reference &base, const GreyImageView &view,
                                   const Transform *initial, const FeatureSet *known)
{
    const auto &reference = dynamic_cast<const PreparedReference &>(base);
    checkView(view, "registerFrame");
    if (view.shrink != reference.shrink || view.frameWidth != reference.frameWidth ||
        view.frameHeight != reference.frameHeight) {
        throw std::invalid_argument("registerFrame: the frame's proxy and the reference's differ "
                                    "in size or shrink");
    }
    const MotionModel model = reference.settings.model == MotionModel::None
                                  ? MotionModel::Translation
                                  : reference.settings.model;
    const RegistrationMethod method = reference.settings.method;
    FrameRegistration result;
    std::vector<Plane> pyramid = pyramidOf(planeOf(view), reference.coarsestLevel + 1);

    Transform current = initial != nullptr ? *initial : identityTransform();
    int startLevel = reference.coarsestLevel; // where the direct method starts
    FeatureFit features;
    if (method != RegistrationMethod::Direct) {
        const FeatureSet found =
            known != nullptr
                ? *known
                : detectFeatures(pyramid[static_cast<std::size_t>(reference.featureLevel)],
                                 reference.settings.features);
        features = fitFeatures(reference.features, found, model);
        result.features = features.features;
        result.matches = features.matches;
        result.inliers = features.inliers;
        if (features.failure == RegistrationFailure::None) {
            current =
                rescaled(features.frameToReference, reference.shrink << reference.featureLevel);
            startLevel = reference.featureLevel;
        } else if (method == RegistrationMethod::Features) {
            fail(result, features.failure, featureReason(features, reference));
            return result;
        } else if (initial != nullptr) {
            startLevel = reference.featureLevel;
        }
    }

    // With other motions the features support, or a guess that disagrees with the feature fit,
    // the refinement runs from each and the result more of the reference agrees with is kept.
    std::vector<Transform> starts{current};
    if (features.failure == RegistrationFailure::None &&
        method == RegistrationMethod::FeaturesThenDirect) {
        for (const Transform &other : features.alternatives) {
            starts.push_back(rescaled(other, reference.shrink << reference.featureLevel));
        }
    }
    if (initial != nullptr && features.failure == RegistrationFailure::None &&
        method == RegistrationMethod::FeaturesThenDirect &&
        cornerDistance(*initial, current, reference.frameWidth, reference.frameHeight) >
            0.5 * reference.shrink) {
        starts.push_back(*initial);
    }
    std::vector<Plane> smooth;
    for (int l = 0; l <= startLevel; ++l) {
        smooth.push_back(smoothed(pyramid[static_cast<std::size_t>(l)]));
    }
    if (starts.size() > 1) {
        FrameRegistration best;
        best.failure = RegistrationFailure::TooLittleSupport;
        for (const Transform &start : starts) {
            FrameRegistration r =
                refineFrom(reference, smooth, model, start, startLevel, features, result);
            if (r.registered() && (!best.registered() || r.support > best.support)) {
                best = r;
            } else if (!best.registered() && !r.registered()) {
                best = r;
            }
        }
        return best;
    }
    return refineFrom(reference, smooth, model, current, startLevel, features, result);
}

GreyImage makeProxyPlate(const std::vector<GreyImageView> &frames,
                         const std::vector<const Transform *> &frameToReference,
                         const GreyImageView &referenceFrame)
{
    checkView(referenceFrame, "proxyPlate");
    if (frames.size() != frameToReference.size()) {
        throw std::invalid_argument("proxyPlate: one transform (or null) per frame");
    }
    std::vector<std::size_t> usable;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frameToReference[i] != nullptr) {
            usable.push_back(i);
        }
    }
    if (usable.size() > kPlateFrames) {
        std::vector<std::size_t> spread;
        for (std::size_t k = 0; k < kPlateFrames; ++k) {
            spread.push_back(usable[k * (usable.size() - 1) / (kPlateFrames - 1)]);
        }
        usable = spread;
    }
    struct Source {
        Plane plane;
        Transform toFrame; // reference proxy coordinates to the frame's
    };
    std::vector<Source> sources;
    for (std::size_t i : usable) {
        checkView(frames[i], "proxyPlate");
        Source source;
        source.plane = planeOf(frames[i]);
        if (!invert(rescaled(*frameToReference[i], 1.0 / frames[i].shrink), source.toFrame)) {
            continue;
        }
        sources.push_back(std::move(source));
    }
    GreyImage plate;
    plate.width = referenceFrame.width;
    plate.height = referenceFrame.height;
    plate.shrink = referenceFrame.shrink;
    plate.frameWidth = referenceFrame.frameWidth;
    plate.frameHeight = referenceFrame.frameHeight;
    plate.pixels.assign(
        static_cast<std::size_t>(plate.width) * static_cast<std::size_t>(plate.height), 0.0f);
    plate.valid.assign(plate.pixels.size(), 0);
    const std::size_t covering = sources.size();
    cv::parallel_for_(cv::Range(0, plate.height), [&](const cv::Range &rows) {
        std::vector<float> values;
        for (int y = rows.start; y < rows.end; ++y) {
            for (int x = 0; x < plate.width; ++x) {
                values.clear();
                for (const Source &s : sources) {
                    double u = 0, v = 0;
                    float value = 0;
                    if (applyTransform(s.toFrame, x + 0.5, y + 0.5, u, v) &&
                        sampleBilinear(s.plane, u - 0.5, v - 0.5, value)) {
                        values.push_back(value);
                    }
                }
                if (values.size() < 3) {
                    continue;
                }
                std::sort(values.begin(), values.end());
                std::size_t bestFirst = 0, bestCount = 0, first = 0;
                for (std::size_t last = 0; last < values.size(); ++last) {
                    while (static_cast<double>(values[last] - values[first]) >
                           2 * kPlateTolerance) {
                        ++first;
                    }
                    if (last - first + 1 > bestCount) {
                        bestCount = last - first + 1;
                        bestFirst = first;
                    }
                }
                if (bestCount < 2 || 5 * bestCount < std::min(values.size(), covering)) {
                    continue;
                }
                double sum = 0;
                for (std::size_t k = bestFirst; k < bestFirst + bestCount; ++k) {
                    sum += static_cast<double>(values[k]);
                }
                const std::size_t at =
                    static_cast<std::size_t>(y) * static_cast<std::size_t>(plate.width) +
                    static_cast<std::size_t>(x);
                plate.pixels[at] = static_cast<float>(sum / static_cast<double>(bestCount));
                plate.valid[at] = 1;
            }
        }
    });
    return plate;
}

ClipRegistration registerWholeClip(const std::vector<GreyImageView> &frames,
                                   std::size_t referenceIndex, const RegistrationSettings &settings)
{
    if (frames.empty() || referenceIndex >= frames.size()) {
        throw std::invalid_argument("registerClip: the reference is not one of the frames");
    }
    ClipRegistration clip;
    clip.frames.resize(frames.size());
    const GreyImageView &referenceView = frames[referenceIndex];
    for (const GreyImageView &view : frames) {
        checkView(view, "registerClip");
    }
    // Every frame's features once: each frame is registered up to three times (against the
    // reference, against its neighbour and against the plate) and is its neighbour's reference.
    const bool withFeatures = settings.method != RegistrationMethod::Direct;
    std::vector<FeatureSet> features(frames.size());
    if (withFeatures) {
        const int level = featureLevelFor(referenceView.width);
        cv::parallel_for_(cv::Range(0, static_cast<int>(frames.size())),
                          [&](const cv::Range &range) {
                              for (int i = range.start; i < range.end; ++i) {
                                  Plane plane = planeOf(frames[static_cast<std::size_t>(i)]);
                                  for (int l = 0; l < level; ++l) {
                                      plane = halved(plane);
                                  }
                                  features[static_cast<std::size_t>(i)] =
                                      detectFeatures(plane, settings.features);
                              }
                          });
    }
    const auto featuresOf = [&](std::size_t i) { return withFeatures ? &features[i] : nullptr; };
    const std::unique_ptr<Reference> reference =
        prepareRegistrationReference(referenceView, settings, featuresOf(referenceIndex));
    const auto registerAll = [&](const Reference &against, std::vector<FrameRegistration> &out,
                                 const std::vector<FrameRegistration> *guesses,
                                 bool skipReference) {
        cv::parallel_for_(
            cv::Range(0, static_cast<int>(frames.size())), [&](const cv::Range &range) {
                for (int i = range.start; i < range.end; ++i) {
                    const auto index = static_cast<std::size_t>(i);
                    if (skipReference && index == referenceIndex) {
                        continue;
                    }
                    const Transform *guess = nullptr;
                    if (guesses != nullptr && (*guesses)[index].registered()) {
                        guess = &(*guesses)[index].frameToReference;
                    }
                    out[index] = registerOneFrame(against, frames[index], guess, featuresOf(index));
                }
            });
    };
    registerAll(*reference, clip.frames, nullptr, true);
    FrameRegistration &self = clip.frames[referenceIndex];
    self = FrameRegistration{};
    self.support = 1;

    bool second = settings.passes == 2;
    if (settings.passes == 0) {
        for (const FrameRegistration &r : clip.frames) {
            second = second || !r.registered() || r.support < kSecondPassSupport;
        }
    }
    if (second && frames.size() >= 3) {
        // Something large moves through the shot. A frame whose moving parts lie elsewhere than
        // the reference's can lock onto them as readily as onto the background, however robust
        // the fit: from two frames alone the two are equally supported. Neighbours in time share
        // most of what moves, so the background dominates between them: chain each frame to its
        // neighbour towards the reference, make a plate of the chained frames (where what moves
        // drops out), and register every frame against the plate.
        const std::size_t n = frames.size();
        std::vector<FrameRegistration> links(n);
        cv::parallel_for_(cv::Range(0, static_cast<int>(n)), [&](const cv::Range &range) {
            for (int i = range.start; i < range.end; ++i) {
                const auto index = static_cast<std::size_t>(i);
                if (index == referenceIndex) {
                    continue;
                }
                const std::size_t neighbour = index < referenceIndex ? index + 1 : index - 1;
                if (neighbour == referenceIndex) {
                    links[index] = clip.frames[index]; // registered against it already
                    continue;
                }
                const std::unique_ptr<Reference> next = prepareRegistrationReference(
                    frames[neighbour], settings, featuresOf(neighbour));
                links[index] = registerOneFrame(*next, frames[index], nullptr, featuresOf(index));
            }
        });
        double best = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (i != referenceIndex && clip.frames[i].registered()) {
                best = std::max(best, clip.frames[i].support);
            }
        }
        // A link that agrees with much less of its neighbour than links usually do locked onto
        // what moves: it is broken.
        std::vector<double> linkSupport;
        for (std::size_t i = 0; i < n; ++i) {
            if (i != referenceIndex && links[i].registered()) {
                linkSupport.push_back(links[i].support);
            }
        }
        double usual = 0;
        if (!linkSupport.empty()) {
            const auto middle =
                linkSupport.begin() + static_cast<std::ptrdiff_t>(linkSupport.size() / 2);
            std::nth_element(linkSupport.begin(), middle, linkSupport.end());
            usual = *middle;
        }
        std::vector<FrameRegistration> chained(n);
        std::vector<bool> known(n, false);
        chained[referenceIndex] = self;
        known[referenceIndex] = true;
        for (const int side : {1, -1}) {
            for (auto i = static_cast<std::ptrdiff_t>(referenceIndex) + side;
                 i >= 0 && i < static_cast<std::ptrdiff_t>(n); i += side) {
                const auto index = static_cast<std::size_t>(i);
                const auto neighbour = static_cast<std::size_t>(i - side);
                if (links[index].registered() &&
                    links[index].support >= kPlateSupportShare * usual && known[neighbour]) {
                    chained[index] = links[index];
                    chained[index].frameToReference = normalised(multiply(
                        chained[neighbour].frameToReference, links[index].frameToReference));
                    known[index] = true;
                } else if (clip.frames[index].registered() &&
                           clip.frames[index].support >= kPlateSupportShare * best) {
                    // A broken link: start again from the frame's own first-pass result.
                    chained[index] = clip.frames[index];
                    known[index] = true;
                }
            }
        }
        std::vector<const Transform *> transforms;
        for (std::size_t i = 0; i < n; ++i) {
            transforms.push_back(known[i] ? &chained[i].frameToReference : nullptr);
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (!known[i]) {
                chained[i].failure = RegistrationFailure::TooLittleSupport; // no guess for it
            }
        }
        const GreyImage plate = makeProxyPlate(frames, transforms, referenceView);
        const std::unique_ptr<Reference> plateReference =
            prepareRegistrationReference(plate.view(), settings);
        std::vector<FrameRegistration> again(frames.size());
        registerAll(*plateReference, again, &chained, false);
        // Frames the chain could not place had no guess: once more, from where they landed.
        {
            std::vector<FrameRegistration> guesses(n);
            bool any = false;
            for (std::size_t i = 0; i < n; ++i) {
                guesses[i].failure = RegistrationFailure::TooLittleSupport;
                if (!known[i] && again[i].registered()) {
                    guesses[i] = again[i];
                    any = true;
                }
            }
            if (any) {
                std::vector<FrameRegistration> once(n);
                cv::parallel_for_(cv::Range(0, static_cast<int>(n)), [&](const cv::Range &range) {
                    for (int i = range.start; i < range.end; ++i) {
                        const auto index = static_cast<std::size_t>(i);
                        if (guesses[index].registered()) {
                            once[index] = registerOneFrame(*plateReference, frames[index],
                                                           &guesses[index].frameToReference,
                                                           featuresOf(index));
                            if (once[index].registered() &&
                                once[index].support > again[index].support) {
                                again[index] = once[index];
                            }
                        }
                    }
                });
            }
        }
        Transform plateToReference;
        if (again[referenceIndex].registered() &&
            invert(again[referenceIndex].frameToReference, plateToReference)) {
            for (std::size_t i = 0; i < frames.size(); ++i) {
                if (again[i].registered()) {
                    again[i].frameToReference =
                        normalised(multiply(plateToReference, again[i].frameToReference));
                }
            }
            again[referenceIndex] = self;
            clip.frames = std::move(again);
            clip.passes = 2;
        }
    }
    clip.still = true;
    for (const FrameRegistration &r : clip.frames) {
        if (r.registered()) {
            const double moved = cornerDisplacement(r.frameToReference, referenceView.frameWidth,
                                                    referenceView.frameHeight);
            clip.largestDisplacement = std::max(clip.largestDisplacement, moved);
        }
    }
    clip.still = clip.largestDisplacement <= kStillDisplacement;
    return clip;
}

MotionEstimate estimateClipMotion(const std::vector<GreyImageView> &proxies,
                                  std::size_t referenceIndex)
{
    if (proxies.empty() || referenceIndex >= proxies.size()) {
        throw std::invalid_argument("estimateMotion: the reference is not one of the frames");
    }
    RegistrationSettings settings;
    settings.model = MotionModel::Similarity;
    settings.method = RegistrationMethod::Direct;
    const std::unique_ptr<Reference> reference =
        prepareRegistrationReference(proxies[referenceIndex], settings);
    MotionEstimate estimate;
    estimate.frameToReference.resize(proxies.size());
    cv::parallel_for_(cv::Range(0, static_cast<int>(proxies.size())), [&](const cv::Range &range) {
        for (int i = range.start; i < range.end; ++i) {
            const auto index = static_cast<std::size_t>(i);
            if (index == referenceIndex) {
                continue;
            }
            const FrameRegistration r = registerOneFrame(*reference, proxies[index], nullptr);
            if (r.registered()) {
                estimate.frameToReference[index] = r.frameToReference;
            }
        }
    });
    const double width = proxies[referenceIndex].frameWidth;
    const double height = proxies[referenceIndex].frameHeight;
    double largestTurn = 0;
    for (const Transform &t : estimate.frameToReference) {
        estimate.largestDisplacement =
            std::max(estimate.largestDisplacement, cornerDisplacement(t, width, height));
        // What is left once the shift of the frame's centre is taken out: rotation and scale.
        double cx = 0, cy = 0;
        applyTransform(t, width / 2, height / 2, cx, cy);
        Transform shift = identityTransform();
        shift.m[2] = cx - width / 2;
        shift.m[5] = cy - height / 2;
        largestTurn = std::max(largestTurn, cornerDistance(t, shift, width, height));
    }
    if (estimate.largestDisplacement > 0.5) {
        estimate.suggested = largestTurn > 0.5 ? MotionModel::Similarity : MotionModel::Translation;
    }
    return estimate;
}

} // namespace framemeld::cli::align
