#pragma once
// Registration of the sampled frames before the render: each frame is decoded once into a small
// pool of buffers, shrunk to a grey proxy (a few megabytes where the frame is tens), and every
// proxy registered to the reference's by the alignment module. The frame sources then decode the
// frames again as they hold them, with the warp as their first stage; so the transforms are the
// same whatever holds the frames, whatever the memory budget and the thread count.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"
#include "cli/formats/AlignModule.h"

namespace framemeld::cli {

struct FrameAlignmentRequest {
    const Clip *clip = nullptr;
    FootageFormat format;
    Depth depth = Depth::Bits8;
    std::vector<int> frames; // the sampled clip frames, in sampled order (repeats allowed)
    int reference = 0;       // the clip frame every frame is registered to; one of `frames`
    align::MotionModel model = align::MotionModel::Similarity;
    int threads = 1;
    const std::atomic<bool> *cancel = nullptr;
    // What registration may hold at once (every frame's grey proxy, a frame-sized buffer per
    // decoding thread), in bytes; 0: no bound.
    std::uint64_t memory = 0;
    // How far it is, for a caller that shows it: `decoded` with the frames decoded for
    // registration so far (from the decoding threads; frames already held are not decoded), then
    // `registering` once, on the calling thread, as the registration of the proxies begins. None:
    // nobody is told.
    std::function<void(long long done, long long total)> decoded;
    std::function<void()> registering;
};

struct FrameAlignment {
    std::vector<int> frames;                          // as requested
    std::vector<align::FrameRegistration> registered; // one per entry of `frames`
    int passes = 1;
    double largestDisplacement = 0; // corner displacement, full-size pixels
    bool still = false;             // nothing moves: the frames are left as they are
};

// Registers the frames. Throws RunError, before any frame is decoded, when request.memory cannot
// hold the registration, saying how much it needs. Throws RunError naming, in the clip's numbering
// (`firstNumber` is the number of clip frame 0), every frame that cannot be registered and why: a
// run never renders with a frame warped wrong. CancelledError; RunError when the module cannot be
// loaded.
FrameAlignment alignFrames(const align::AlignModule &module, const FrameAlignmentRequest &request,
                           long long firstNumber);

// The same from frames already held whole at request.depth: `frameOf` gives each distinct clip
// frame as the host holds it (called on the calling thread, before any proxy is made), and no
// frame is decoded again. The proxies come from the same pixels the decoding path reads, so the
// transforms are the same bit for bit. request.memory is not looked at: the caller has made room
// for registrationProxyBytes beside the frames.
FrameAlignment alignHeldFrames(const align::AlignModule &module,
                               const FrameAlignmentRequest &request, long long firstNumber,
                               const std::function<align::HostFrameView(int frame)> &frameOf);

// What the grey proxies of `frames` distinct frames of this format hold while they are registered.
std::uint64_t registrationProxyBytes(const align::AlignModule &module, const FootageFormat &format,
                                     std::size_t frames);

} // namespace framemeld::cli
