#include "cli/footage/FrameAlignment.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "cli/core/CliError.h"
#include "cli/core/ParallelItems.h"
#include "cli/footage/FootageDecoder.h"
#include "cli/footage/WarpStage.h"
#include "runner/World.h"

namespace framemeld::cli {
namespace {

// One frame-sized buffer per decoding thread, handed out again once its proxy is made.
class FrameBuffers {
public:
    explicit FrameBuffers(std::size_t bytes) : bytes_(bytes) {}
    unsigned char *take()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty()) {
            owned_.push_back(std::make_unique<unsigned char[]>(bytes_));
            return owned_.back().get();
        }
        unsigned char *buffer = free_.back();
        free_.pop_back();
        return buffer;
    }
    void giveBack(unsigned char *buffer)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(buffer);
    }

private:
    std::size_t bytes_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<unsigned char[]>> owned_;
    std::vector<unsigned char *> free_;
};

} // namespace

namespace {

// Each clip frame once, however often the sampling names it; throws when the reference is not
// among them.
std::vector<int> distinctFrames(const FrameAlignmentRequest &request)
{
    std::vector<int> distinct = request.frames;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const auto referenceAt = std::lower_bound(distinct.begin(), distinct.end(), request.reference);
    if (referenceAt == distinct.end() || *referenceAt != request.reference) {
        throw std::invalid_argument("alignFrames: the reference is not a sampled frame");
    }
    return distinct;
}

std::uint64_t proxyBytesOf(const FootageFormat &format, int shrink)
{
    // A float and a validity byte a pixel.
    return static_cast<std::uint64_t>((format.width + shrink - 1) / shrink) *
           static_cast<std::uint64_t>((format.height + shrink - 1) / shrink) * (sizeof(float) + 1);
}

void throwIfCancelled(const FrameAlignmentRequest &request)
{
    if (request.cancel != nullptr && request.cancel->load()) {
        throw CancelledError();
    }
}

// Registers the proxies of `distinct` (sorted clip frames) and answers for request.frames.
FrameAlignment registerProxies(const align::AlignModule &module,
                               const FrameAlignmentRequest &request,
                               const std::vector<int> &distinct,
                               const std::vector<align::GreyImage> &proxies, long long firstNumber);

} // namespace

std::uint64_t registrationProxyBytes(const align::AlignModule &module, const FootageFormat &format,
                                     std::size_t frames)
{
    return proxyBytesOf(format, module.registrationShrink(format.width, format.height)) * frames;
}

FrameAlignment alignHeldFrames(const align::AlignModule &module,
                               const FrameAlignmentRequest &request, long long firstNumber,
                               const std::function<align::HostFrameView(int frame)> &frameOf)
{
    const std::vector<int> distinct = distinctFrames(request);
    const int shrink = module.registrationShrink(request.format.width, request.format.height);
    std::vector<align::HostFrameView> views;
    for (const int frame : distinct) {
        views.push_back(frameOf(frame));
    }
    std::vector<align::GreyImage> proxies(distinct.size());
    forEachItem(
        views.size(), request.threads,
        [&](std::size_t i) { proxies[i] = module.greyProxy(views[i], shrink); },
        [&request] { return request.cancel != nullptr && request.cancel->load(); });
    throwIfCancelled(request);
    return registerProxies(module, request, distinct, proxies, firstNumber);
}

FrameAlignment alignFrames(const align::AlignModule &module, const FrameAlignmentRequest &request,
                           long long firstNumber)
{
    const FootageFormat &format = request.format;
    const std::vector<int> distinct = distinctFrames(request);
    const int shrink = module.registrationShrink(format.width, format.height);
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(
        static_cast<std::size_t>(format.width) * runner::bytesPerPixel(request.depth));
    // The proxies live until the frames are registered, beside one decoded frame per thread.
    const std::uint64_t buffersHeld = static_cast<std::uint64_t>(std::min<std::size_t>(
        distinct.size(), static_cast<std::size_t>(std::max(1, request.threads))));
    const std::uint64_t needed = proxyBytesOf(format, shrink) * distinct.size() +
                                 buffersHeld * static_cast<std::uint64_t>(rowBytes) *
                                     static_cast<std::uint64_t>(format.height);
    if (request.memory > 0 && needed > request.memory) {
        throw RunError("--align " + std::string(align::motionModelName(request.model)) +
                       ": registering " + std::to_string(distinct.size()) +
                       " frames holds their grey proxies and a decoded frame per thread, " +
                       std::to_string(needed) + " bytes, more than the " +
                       std::to_string(request.memory) +
                       " bytes of the memory budget left for it; give a larger --memory or "
                       "fewer --threads, or register on another machine with framemeld align "
                       "and render here with --motion");
    }
    FrameBuffers buffers(static_cast<std::size_t>(rowBytes) *
                         static_cast<std::size_t>(format.height));
    std::vector<align::GreyImage> proxies(distinct.size());
    const align::AlphaKind alpha = alphaKindOf(format);

    DecodeRequest decode;
    decode.clip = request.clip;
    decode.format = format;
    decode.frames = distinct;
    decode.depth = request.depth;
    decode.threads = std::max(1, request.threads);
    decode.cancel = request.cancel;
    decode.progress = request.decoded;
    decode.target = [&](std::size_t) { return FrameTarget{buffers.take(), rowBytes}; };
    decode.decoded = [&](std::size_t index, const FrameTarget &target) {
        struct GiveBack {
            FrameBuffers &buffers;
            unsigned char *buffer;
            ~GiveBack() { buffers.giveBack(buffer); }
        } giveBack{buffers, target.pixels};
        align::HostFrameView view;
        view.width = format.width;
        view.height = format.height;
        view.rowBytes = target.rowBytes;
        view.depth = request.depth;
        view.alpha = alpha;
        view.pixels = target.pixels;
        proxies[index] = module.greyProxy(view, shrink);
    };
    decodeFrames(decode);
    throwIfCancelled(request);
    return registerProxies(module, request, distinct, proxies, firstNumber);
}

namespace {

FrameAlignment registerProxies(const align::AlignModule &module,
                               const FrameAlignmentRequest &request,
                               const std::vector<int> &distinct,
                               const std::vector<align::GreyImage> &proxies, long long firstNumber)
{
    if (request.registering) {
        request.registering();
    }
    const auto referenceAt = std::lower_bound(distinct.begin(), distinct.end(), request.reference);
    std::vector<align::GreyImageView> views;
    views.reserve(proxies.size());
    for (const align::GreyImage &proxy : proxies) {
        views.push_back(proxy.view());
    }
    align::RegistrationSettings settings;
    settings.model = request.model;
    module.setThreads(request.threads);
    const align::ClipRegistration clip = module.registerClip(
        views, static_cast<std::size_t>(referenceAt - distinct.begin()), settings);

    std::string failures;
    int failed = 0;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        const align::FrameRegistration &frame = clip.frames[i];
        if (frame.registered()) {
            continue;
        }
        if (++failed <= 5) {
            failures += (failures.empty() ? "" : "; ") + std::string("frame ") +
                        std::to_string(firstNumber + distinct[i]) + ": " + frame.reason;
        }
    }
    if (failed > 0) {
        throw RunError(
            "--align " + std::string(align::motionModelName(request.model)) + ": " +
            std::to_string(failed) + (failed == 1 ? " frame" : " frames") +
            " cannot be registered to frame " + std::to_string(firstNumber + request.reference) +
            " (" + failures + (failed > 5 ? "; ..." : "") +
            "); leave them out of the sampling with --start, --end or --every, or try a simpler "
            "model");
    }

    std::map<int, std::size_t> placeOf;
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        placeOf.emplace(distinct[i], i);
    }
    FrameAlignment result;
    result.frames = request.frames;
    for (const int frame : request.frames) {
        result.registered.push_back(clip.frames[placeOf.at(frame)]);
    }
    result.passes = clip.passes;
    result.largestDisplacement = clip.largestDisplacement;
    result.still = clip.still;
    return result;
}

} // namespace

} // namespace framemeld::cli
