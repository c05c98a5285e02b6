// The OpenCV module's one export: the tool's AlignModule interface over the registration and the
// warp of this folder.

#include <opencv2/core.hpp>
#include <opencv2/core/version.hpp>

#include "cli/align/GreyProxy.h"
#include "cli/align/Registration.h"
#include "cli/align/Warp.h"
#include "cli/formats/AlignModule.h"

namespace framemeld::cli::align {
namespace {

class OpenCvAlignModule final : public AlignModule {
public:
    int registrationShrink(int width, int height) const override
    {
        return registrationShrinkFor(width, height);
    }
    int motionShrink(int width, int height) const override
    {
        return motionShrinkFor(width, height);
    }
    GreyImage greyProxy(const HostFrameView &frame, int shrink) const override
    {
        return makeGreyProxy(frame, shrink);
    }
    std::unique_ptr<Reference> prepareReference(const GreyImageView &reference,
                                                const RegistrationSettings &settings) const override
    {
        return prepareRegistrationReference(reference, settings);
    }
    FrameRegistration registerFrame(const Reference &reference, const GreyImageView &frame,
                                    const Transform *initial) const override
    {
        return registerOneFrame(reference, frame, initial);
    }
    GreyImage proxyPlate(const std::vector<GreyImageView> &frames,
                         const std::vector<const Transform *> &frameToReference,
                         const GreyImageView &referenceFrame) const override
    {
        return makeProxyPlate(frames, frameToReference, referenceFrame);
    }
    ClipRegistration registerClip(const std::vector<GreyImageView> &frames, std::size_t reference,
                                  const RegistrationSettings &settings) const override
    {
        return registerWholeClip(frames, reference, settings);
    }
    MotionEstimate estimateMotion(const std::vector<GreyImageView> &proxies,
                                  std::size_t reference) const override
    {
        return estimateClipMotion(proxies, reference);
    }
    WarpReport warpFrame(const HostFrameView &source, const Transform &frameToReference,
                         const HostFrameTarget &target, int targetTop, CoverageSpan *coverage,
                         const WarpSettings &settings) const override
    {
        return warpHostFrame(source, frameToReference, target, targetTop, coverage, settings);
    }
    void coverage(const Transform &frameToReference, int sourceWidth, int sourceHeight,
                  int targetWidth, int targetTop, int rows, CoverageSpan *spans) const override
    {
        coverageSpans(frameToReference, sourceWidth, sourceHeight, targetWidth, targetTop, rows,
                      spans);
    }
    void setThreads(int count) const override { cv::setNumThreads(count > 0 ? count : -1); }
    std::string libraryVersion() const override { return CV_VERSION; }
};

} // namespace
} // namespace framemeld::cli::align

extern "C" __attribute__((visibility("default"))) const framemeld::cli::align::AlignModule *
framemeld_align_opencv(int interfaceVersion)
{
    static const framemeld::cli::align::OpenCvAlignModule module;
    return interfaceVersion == framemeld::cli::align::kAlignModuleInterface ? &module : nullptr;
}
