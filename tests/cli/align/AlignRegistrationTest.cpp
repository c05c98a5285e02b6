// Registration through the OpenCV module on clips with known motion (AlignClips.h).

#include "AlignClips.h"
#include "cli/formats/AlignModule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace framemeld::cli::align;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

constexpr int kWidth = 384;
constexpr int kHeight = 288;

struct Clip {
    std::vector<Transform> truth;
    std::vector<GreyImage> proxies;

    std::vector<GreyImageView> views() const
    {
        std::vector<GreyImageView> v;
        for (const GreyImage &p : proxies) {
            v.push_back(p.view());
        }
        return v;
    }
    std::size_t reference() const { return proxies.size() / 2; }
};

const clips::Scene &scene()
{
    static const clips::Scene s = clips::makeScene(kWidth, kHeight, 24, 4, 7);
    return s;
}

GreyImage proxyOf(const cv::Mat &frame)
{
    const AlignModule &align = alignModule();
    const World world = clips::toWorld(frame, PixelDepth::Bits8);
    return align.greyProxy(frameView(world, AlphaKind::Opaque),
                           align.registrationShrink(kWidth, kHeight));
}

Clip makeClip(clips::Motion motion, int frames, double noise, double objectShare,
              std::uint64_t seed = 3)
{
    Clip clip;
    clip.truth = clips::cameraMotion(motion, frames, kWidth, kHeight, seed);
    std::vector<clips::MovingObject> objects;
    if (objectShare > 0) {
        objects.push_back(clips::crossingObject(scene(), objectShare, 11));
    }
    for (int i = 0; i < frames; ++i) {
        clip.proxies.push_back(proxyOf(
            clips::renderFrame(scene(), clip.truth[static_cast<std::size_t>(i)], objects,
                               i / (frames - 1.0), noise, 100 + static_cast<std::uint64_t>(i))));
    }
    return clip;
}

struct Errors {
    double mean = 0;  // of the frames' mean corner errors
    double worst = 0; // the largest corner error of any frame
    int failed = 0;
};

Errors errorsOf(const Clip &clip, const ClipRegistration &found)
{
    Errors e;
    int counted = 0;
    for (std::size_t i = 0; i < clip.truth.size(); ++i) {
        if (i == clip.reference()) {
            continue;
        }
        if (!found.frames[i].registered()) {
            ++e.failed;
            continue;
        }
        e.mean +=
            meanCornerDistance(found.frames[i].frameToReference, clip.truth[i], kWidth, kHeight);
        e.worst = std::max(e.worst, cornerDistance(found.frames[i].frameToReference, clip.truth[i],
                                                   kWidth, kHeight));
        ++counted;
    }
    e.mean /= std::max(counted, 1);
    return e;
}

ClipRegistration registered(const Clip &clip, MotionModel model, int passes = 0)
{
    RegistrationSettings settings;
    settings.model = model;
    settings.passes = passes;
    return alignModule().registerClip(clip.views(), clip.reference(), settings);
}

struct Case {
    clips::Motion motion;
    MotionModel model;
};

class KnownMotion : public ::testing::TestWithParam<Case> {};

TEST_P(KnownMotion, CleanFootageWithinATenthOfAPixel)
{
    const Clip clip = makeClip(GetParam().motion, 9, 0, 0);
    const ClipRegistration found = registered(clip, GetParam().model);
    const Errors e = errorsOf(clip, found);
    EXPECT_EQ(e.failed, 0);
    EXPECT_LE(e.worst, 0.1) << "mean " << e.mean;
    EXPECT_FALSE(found.still);
    EXPECT_EQ(found.frames[clip.reference()].frameToReference.m, identityTransform().m);
}

TEST_P(KnownMotion, NoiseAndAMovingObjectOverAThirdWithinThreeTenths)
{
    const Clip clip = makeClip(GetParam().motion, 9, 4, 1.0 / 3);
    const ClipRegistration found = registered(clip, GetParam().model);
    const Errors e = errorsOf(clip, found);
    EXPECT_EQ(e.failed, 0);
    EXPECT_LE(e.mean, 0.3) << "worst " << e.worst;
    EXPECT_LE(e.worst, 1.0) << "mean " << e.mean;
    // The object does not pull the estimate: against the same clip without it, the transforms
    // differ by no more than noise does.
    const Clip without = makeClip(GetParam().motion, 9, 4, 0);
    const ClipRegistration plain = registered(without, GetParam().model);
    const Errors p = errorsOf(without, plain);
    EXPECT_LE(e.mean, p.mean + 0.2) << "with the object " << e.mean << ", without " << p.mean;
}

INSTANTIATE_TEST_SUITE_P(Models, KnownMotion,
                         ::testing::Values(Case{clips::Motion::Shake, MotionModel::Translation},
                                           Case{clips::Motion::Bump, MotionModel::Translation},
                                           Case{clips::Motion::Handheld, MotionModel::Similarity},
                                           Case{clips::Motion::Shake, MotionModel::Similarity},
                                           Case{clips::Motion::Pan, MotionModel::Perspective}),
                         [](const ::testing::TestParamInfo<Case> &param) {
                             return std::string(clips::motionName(param.param.motion)) + "_" +
                                    motionModelName(param.param.model);
                         });

TEST(StillClip, IdenticalFramesGiveTheIdentityAndAreStill)
{
    const cv::Mat frame = clips::renderFrame(scene(), identityTransform(), {}, 0, 2, 5);
    Clip clip;
    for (int i = 0; i < 5; ++i) {
        clip.proxies.push_back(proxyOf(frame));
        clip.truth.push_back(identityTransform());
    }
    for (MotionModel model :
         {MotionModel::Translation, MotionModel::Similarity, MotionModel::Perspective}) {
        const ClipRegistration found = registered(clip, model);
        for (const FrameRegistration &r : found.frames) {
            ASSERT_TRUE(r.registered()) << r.reason;
            EXPECT_LE(cornerDisplacement(r.frameToReference, kWidth, kHeight), 1e-3)
                << motionModelName(model);
            EXPECT_GE(r.support, 0.99);
        }
        EXPECT_TRUE(found.still) << motionModelName(model);
        EXPECT_LE(found.largestDisplacement, 1e-3);
    }
}

TEST(StillClip, NoiseAndPeopleWalkingThroughStayStill)
{
    const Clip clip = makeClip(clips::Motion::Still, 9, 4, 0.15);
    const ClipRegistration found = registered(clip, MotionModel::Similarity);
    EXPECT_TRUE(found.still) << "largest displacement " << found.largestDisplacement;
    EXPECT_LT(found.largestDisplacement, kStillDisplacement);
}

TEST(StillClip, ASmallShakeIsNotStill)
{
    const Clip clip = makeClip(clips::Motion::Bump, 6, 0, 0);
    const ClipRegistration found = registered(clip, MotionModel::Translation);
    EXPECT_FALSE(found.still);
    EXPECT_NEAR(found.largestDisplacement, std::hypot(2.6, 1.5), 0.1);
}

bool sameResults(const ClipRegistration &a, const ClipRegistration &b)
{
    if (a.frames.size() != b.frames.size() || a.passes != b.passes || a.still != b.still ||
        std::memcmp(&a.largestDisplacement, &b.largestDisplacement, sizeof(double)) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < a.frames.size(); ++i) {
        const FrameRegistration &x = a.frames[i];
        const FrameRegistration &y = b.frames[i];
        if (std::memcmp(x.frameToReference.m.data(), y.frameToReference.m.data(),
                        9 * sizeof(double)) != 0 ||
            x.failure != y.failure || x.reason != y.reason || x.features != y.features ||
            x.matches != y.matches || x.inliers != y.inliers ||
            std::memcmp(&x.support, &y.support, sizeof(double)) != 0 ||
            std::memcmp(&x.residual, &y.residual, sizeof(double)) != 0) {
            return false;
        }
    }
    return true;
}

TEST(Threads, TheSameTransformsBitForBitOnOneThreadAndTwo)
{
    const AlignModule &align = alignModule();
    const Clip clip = makeClip(clips::Motion::Handheld, 7, 4, 1.0 / 3);
    for (FeatureKind kind : {FeatureKind::Orb, FeatureKind::Akaze}) {
        for (MotionModel model :
             {MotionModel::Translation, MotionModel::Similarity, MotionModel::Perspective}) {
            RegistrationSettings settings;
            settings.model = model;
            settings.features = kind;
            settings.passes = 2;
            align.setThreads(1);
            const ClipRegistration one =
                align.registerClip(clip.views(), clip.reference(), settings);
            align.setThreads(2);
            const ClipRegistration two =
                align.registerClip(clip.views(), clip.reference(), settings);
            align.setThreads(0);
            EXPECT_TRUE(sameResults(one, two)) << motionModelName(model);
        }
    }
    align.setThreads(1);
    const MotionEstimate a = align.estimateMotion(clip.views(), clip.reference());
    align.setThreads(2);
    const MotionEstimate b = align.estimateMotion(clip.views(), clip.reference());
    align.setThreads(0);
    ASSERT_EQ(a.frameToReference.size(), b.frameToReference.size());
    for (std::size_t i = 0; i < a.frameToReference.size(); ++i) {
        EXPECT_EQ(std::memcmp(a.frameToReference[i].m.data(), b.frameToReference[i].m.data(),
                              9 * sizeof(double)),
                  0);
    }
}

TEST(Threads, FramesRegisteredConcurrentlyGiveWhatTheyGiveAlone)
{
    const AlignModule &align = alignModule();
    const Clip clip = makeClip(clips::Motion::Shake, 5, 4, 0.2);
    RegistrationSettings settings;
    const std::vector<GreyImageView> views = clip.views();
    const std::unique_ptr<Reference> reference =
        align.prepareReference(views[clip.reference()], settings);
    std::vector<FrameRegistration> alone;
    for (const GreyImageView &v : views) {
        alone.push_back(align.registerFrame(*reference, v, nullptr));
    }
    std::vector<FrameRegistration> together(views.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < views.size(); ++i) {
        threads.emplace_back(
            [&, i] { together[i] = align.registerFrame(*reference, views[i], nullptr); });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    for (std::size_t i = 0; i < views.size(); ++i) {
        EXPECT_EQ(std::memcmp(alone[i].frameToReference.m.data(),
                              together[i].frameToReference.m.data(), 9 * sizeof(double)),
                  0);
    }
}

TEST(Refusals, AFlatFrameHasTooFewFeatures)
{
    Clip clip = makeClip(clips::Motion::Shake, 5, 2, 0);
    const cv::Mat flat(kHeight, kWidth, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5));
    clip.proxies[1] = proxyOf(flat);
    const ClipRegistration found = registered(clip, MotionModel::Similarity, 1);
    const FrameRegistration &r = found.frames[1];
    EXPECT_FALSE(r.registered());
    EXPECT_EQ(r.failure, RegistrationFailure::TooFewFeatures);
    EXPECT_NE(r.reason.find("too few features"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find("too little texture"), std::string::npos) << r.reason;
    for (std::size_t i : {0u, 3u, 4u}) {
        EXPECT_TRUE(found.frames[i].registered()) << i << ": " << found.frames[i].reason;
    }
}

TEST(Refusals, ACutToAnotherSceneIsNamed)
{
    Clip clip = makeClip(clips::Motion::Shake, 5, 2, 0);
    const clips::Scene other = clips::makeScene(kWidth, kHeight, 24, 4, 99);
    clip.proxies[4] = proxyOf(clips::renderFrame(other, identityTransform(), {}, 0, 2, 1));
    for (int passes : {1, 2}) {
        const ClipRegistration found = registered(clip, MotionModel::Similarity, passes);
        const FrameRegistration &r = found.frames[4];
        EXPECT_FALSE(r.registered()) << "passes " << passes;
        EXPECT_TRUE(r.failure == RegistrationFailure::TooFewMatches ||
                    r.failure == RegistrationFailure::TooLittleSupport)
            << r.reason;
        EXPECT_FALSE(r.reason.empty());
        EXPECT_TRUE(found.frames[0].registered()) << found.frames[0].reason;
    }
}

TEST(Refusals, AFlatReferenceIsBlamed)
{
    Clip clip = makeClip(clips::Motion::Shake, 3, 2, 0);
    clip.proxies[1] = proxyOf(cv::Mat(kHeight, kWidth, CV_32FC3, cv::Scalar(0.3, 0.3, 0.3)));
    const ClipRegistration found = registered(clip, MotionModel::Translation, 1);
    for (std::size_t i : {0u, 2u}) {
        EXPECT_FALSE(found.frames[i].registered());
        EXPECT_NE(found.frames[i].reason.find("reference"), std::string::npos)
            << found.frames[i].reason;
    }
}

TEST(Refusals, AProxyOfAnotherSizeIsAnError)
{
    const Clip clip = makeClip(clips::Motion::Shake, 3, 0, 0);
    const AlignModule &align = alignModule();
    const std::unique_ptr<Reference> reference = align.prepareReference(clip.proxies[1].view(), {});
    const cv::Mat small =
        clips::renderFrame(clips::makeScene(200, 100, 4, 2, 1), identityTransform(), {}, 0, 0, 0);
    const World world = clips::toWorld(small, PixelDepth::Bits8);
    const GreyImage other = align.greyProxy(frameView(world, AlphaKind::Opaque), 1);
    EXPECT_THROW(align.registerFrame(*reference, other.view(), nullptr), std::invalid_argument);
}

TEST(MotionEstimate, NamesTheModelToTryOrNone)
{
    const AlignModule &align = alignModule();
    const int shrink = align.motionShrink(kWidth, kHeight);
    const std::vector<clips::MovingObject> walker{clips::crossingObject(scene(), 0.1, 2)};
    const auto estimate = [&](clips::Motion motion) {
        const std::vector<Transform> truth = clips::cameraMotion(motion, 7, kWidth, kHeight, 3);
        std::vector<GreyImage> proxies;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            const World world = clips::toWorld(clips::renderFrame(scene(), truth[i], walker,
                                                                  static_cast<double>(i) / 6.0, 3,
                                                                  static_cast<std::uint64_t>(i)),
                                               PixelDepth::Bits8);
            proxies.push_back(align.greyProxy(frameView(world, AlphaKind::Opaque), shrink));
        }
        std::vector<GreyImageView> views;
        for (const GreyImage &p : proxies) {
            views.push_back(p.view());
        }
        return align.estimateMotion(views, 3);
    };
    const MotionEstimate still = estimate(clips::Motion::Still);
    EXPECT_EQ(still.suggested, MotionModel::None) << still.largestDisplacement;
    EXPECT_LT(still.largestDisplacement, 0.5);
    const MotionEstimate shake = estimate(clips::Motion::Shake);
    EXPECT_EQ(shake.suggested, MotionModel::Translation) << shake.largestDisplacement;
    const MotionEstimate handheld = estimate(clips::Motion::Handheld);
    EXPECT_EQ(handheld.suggested, MotionModel::Similarity) << handheld.largestDisplacement;
    EXPECT_GT(handheld.largestDisplacement, 2);
}

TEST(GreyProxy, AveragesBlocksFromTheTopLeftCornerAndMarksTransparentPixels)
{
    const AlignModule &align = alignModule();
    for (PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        cv::Mat frame(9, 10, CV_32FC3, cv::Scalar(0, 0, 0));
        cv::Mat alpha(9, 10, CV_32F, cv::Scalar(1));
        frame(cv::Rect(0, 0, 2, 2)).setTo(cv::Scalar(1, 1, 1)); // white top-left block
        alpha(cv::Rect(8, 0, 2, 2)).setTo(0);                   // transparent top-right block
        const World world = clips::toWorld(frame, depth, alpha);
        const GreyImage proxy = align.greyProxy(frameView(world, AlphaKind::Straight), 2);
        EXPECT_EQ(proxy.width, 5);
        EXPECT_EQ(proxy.height, 4); // the odd last row left out
        EXPECT_EQ(proxy.shrink, 2);
        EXPECT_EQ(proxy.frameWidth, 10);
        EXPECT_NEAR(proxy.pixels[0], 1.0, 1e-6);
        EXPECT_NEAR(proxy.pixels[1], 0.0, 1e-6);
        ASSERT_EQ(proxy.valid.size(), 20u);
        EXPECT_EQ(proxy.valid[4], 0);
        EXPECT_EQ(proxy.valid[3], 1);
        const GreyImage opaque = align.greyProxy(frameView(world, AlphaKind::Opaque), 1);
        EXPECT_TRUE(opaque.valid.empty());
    }
    cv::Mat bright(4, 4, CV_32FC3, cv::Scalar(8, 8, 8)); // HDR: compressed, not clipped
    const World world = clips::toWorld(bright, PixelDepth::Float32);
    const GreyImage proxy = align.greyProxy(frameView(world, AlphaKind::Opaque), 1);
    EXPECT_NEAR(proxy.pixels[0], 1 + std::log(8.0), 1e-5);
}

} // namespace
