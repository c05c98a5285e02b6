#pragma once
// Alignment for moving cameras (`--align`): each sampled frame is registered to a reference (a
// frame of the clip, or a plate made from a first pass) and resampled into it before the plug-in
// sees it. The work is done with OpenCV (core, imgproc, features2d, calib3d), in a module of its
// own (FRAMEMELD_ALIGN_MODULE_FILE_NAME, built beside the tool) that only runs which align load,
// as the OpenImageIO module is loaded only for the formats that need it.
//
// The module is built from the same sources with the same compiler as the tool, so the interface
// is plain C++ without a single OpenCV type: frames are described by views of the host's pixels,
// registration works on grey proxies (float images a power of two smaller than the frame) that
// the module makes and the tool may keep, and a Reference is an opaque object the module builds
// once and registers every frame against. Every function may be called from several threads at
// once; results never depend on the number of threads (see setThreads).
//
// Transforms and their pixel convention: cli/formats/AlignTransform.h.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/formats/AlignTransform.h"
#include "runner/World.h"

namespace framemeld::cli::align {

// What a frame may do against the reference: none (no alignment), a translation, a similarity
// (translation, rotation, uniform scale) or a perspective transform (a homography: a camera
// panning a little on a tripod, a flat scene seen from a moving camera).
enum class MotionModel { None, Translation, Similarity, Perspective };

inline const char *motionModelName(MotionModel model)
{
    switch (model) {
    case MotionModel::None: return "none";
    case MotionModel::Translation: return "translation";
    case MotionModel::Similarity: return "similarity";
    case MotionModel::Perspective: return "perspective";
    }
    return "?";
}

// The model named `name` as --align spells it, or nothing for a name that is none of them.
inline bool motionModelFromName(const std::string &name, MotionModel &model)
{
    for (const MotionModel each : {MotionModel::None, MotionModel::Translation,
                                   MotionModel::Similarity, MotionModel::Perspective}) {
        if (name == motionModelName(each)) {
            model = each;
            return true;
        }
    }
    return false;
}

// ---- Images --------------------------------------------------------------------------------

// A grey proxy: one float per pixel, luma in 0..1 at the footage's full scale (Rec. 709 weights;
// float values above 1 are compressed to 1 + ln v so that highlights do not drown the rest).
// `shrink` full-size pixels along each axis make one proxy pixel: proxy pixel (i, j) is the mean
// of frame pixels [i s, i s + s) x [j s, j s + s), so a frame point (x, y) is (x / s, y / s) in
// the proxy; the proxy is floor(W / s) x floor(H / s), the last W mod s columns (and rows) left
// out. `valid`, when not null, holds one byte per pixel, non-zero where the image shows the scene
// (a frame's opaque pixels; a plate's pixels that enough frames covered).
struct GreyImageView {
    int width = 0;
    int height = 0;
    std::ptrdiff_t rowBytes = 0; // from one row to the next; a multiple of sizeof(float)
    const float *pixels = nullptr;
    const std::uint8_t *valid = nullptr;
    std::ptrdiff_t validRowBytes = 0;
    int shrink = 1;
    int frameWidth = 0; // the full-size frame it stands for
    int frameHeight = 0;
};

// A grey proxy the module made; rows lie `width` floats apart, `valid` is empty or width x height.
struct GreyImage {
    int width = 0;
    int height = 0;
    int shrink = 1;
    int frameWidth = 0;
    int frameHeight = 0;
    std::vector<float> pixels;
    std::vector<std::uint8_t> valid;

    GreyImageView view() const
    {
        GreyImageView v;
        v.width = width;
        v.height = height;
        v.rowBytes =
            static_cast<std::ptrdiff_t>(width) * static_cast<std::ptrdiff_t>(sizeof(float));
        v.pixels = pixels.data();
        v.valid = valid.empty() ? nullptr : valid.data();
        v.validRowBytes = width;
        v.shrink = shrink;
        v.frameWidth = frameWidth;
        v.frameHeight = frameHeight;
        return v;
    }
};

// How a frame's colour channels stand to its alpha. Opaque: alpha is full everywhere (footage
// without alpha), it is resampled like the rest and stays full. Straight: colour is not
// multiplied by alpha (PNG, TIFF); it is multiplied before filtering and divided after, so
// transparent pixels lend no colour to their neighbours. Premultiplied (EXR): filtered as it is.
enum class AlphaKind { Opaque, Straight, Premultiplied };

// The host's pixels: alpha-first interleaved PF_Pixel8 (0..255), PF_Pixel16 (0..32768) or
// PF_PixelFloat rows, row y starting at pixels + y * rowBytes. rowBytes need not be a whole
// number of pixels (the runner's worlds are padded so), only a multiple of the channel size.
struct HostFrameView {
    int width = 0;
    int height = 0;
    std::ptrdiff_t rowBytes = 0;
    runner::PixelDepth depth = runner::PixelDepth::Bits8;
    AlphaKind alpha = AlphaKind::Opaque;
    const unsigned char *pixels = nullptr;
};

// Where a warped frame goes: the same description, writable.
struct HostFrameTarget {
    int width = 0;
    int height = 0;
    std::ptrdiff_t rowBytes = 0;
    runner::PixelDepth depth = runner::PixelDepth::Bits8;
    unsigned char *pixels = nullptr;
};

inline HostFrameView frameView(const runner::World &world, AlphaKind alpha)
{
    HostFrameView v;
    v.width = world.width();
    v.height = world.height();
    v.rowBytes = world.rowStride();
    v.depth = world.depth();
    v.alpha = alpha;
    v.pixels = world.height() > 0 ? world.row(0) : nullptr;
    return v;
}

inline HostFrameTarget frameTarget(runner::World &world)
{
    HostFrameTarget t;
    t.width = world.width();
    t.height = world.height();
    t.rowBytes = world.rowStride();
    t.depth = world.depth();
    t.pixels = world.height() > 0 ? world.row(0) : nullptr;
    return t;
}

// ---- Registration --------------------------------------------------------------------------

// How a frame is registered. Features: ORB (or AKAZE) keypoints on a proxy, matched with a ratio
// test and fitted at the model by RANSAC. Direct: the robust direct method alone (the grey levels
// of well-textured reference pixels compared with the frame, Gauss-Newton with Tukey weights, so
// pixels that disagree, such as whatever moves, drop out), coarse to fine from the initial guess.
// FeaturesThenDirect (the default): the feature fit, refined by the direct method.
enum class RegistrationMethod { Features, Direct, FeaturesThenDirect };
enum class FeatureKind { Orb, Akaze };

struct RegistrationSettings {
    MotionModel model = MotionModel::Similarity;
    RegistrationMethod method = RegistrationMethod::FeaturesThenDirect;
    FeatureKind features = FeatureKind::Orb;
    // registerClip: 1 registers every frame against the reference frame. 2 then chains every
    // frame to its neighbour towards the reference (neighbours share most of what moves, so
    // the background dominates between them), makes a plate of the chained proxies (where what
    // moves drops out) and registers every frame against it: what moves no longer has anything
    // to match. 0 (auto) runs the second pass when some frame agrees with less than 80 % of the
    // reference's textured pixels, i.e. when something large moves through the shot.
    int passes = 0;
};

enum class RegistrationFailure {
    None,
    TooFewFeatures,   // the frame (or the reference) has too little texture to register
    TooFewMatches,    // too few features of the frame match the reference's (a cut?)
    TooLittleSupport, // no transform that enough of the frame agrees with
    Implausible       // a transform that folds, mirrors or scales the frame beyond reason
};

struct FrameRegistration {
    RegistrationFailure failure = RegistrationFailure::None;
    std::string reason; // a sentence for the user when failure != None, else empty
    Transform frameToReference;
    // Support. Features found in the frame, matches that passed the ratio test, and matches that
    // the fitted transform explains (RANSAC's inliers); zero when the method used no features.
    int features = 0;
    int matches = 0;
    int inliers = 0;
    // Of the textured reference pixels the frame covers, the share it agrees with once warped
    // (within 12 levels of 255 after a fitted gain and offset), and the RMS difference over those
    // pixels in levels of 255.
    double support = 0;
    double residual = 0;

    bool registered() const { return failure == RegistrationFailure::None; }
};

// Built once from the reference (a frame's proxy, or a plate's with its valid pixels) for one
// model and method, then shared by every frame's registration.
class Reference {
public:
    virtual ~Reference() = default;
};

struct ClipRegistration {
    std::vector<FrameRegistration> frames; // one per frame given, the reference's is the identity
    int passes = 1;                        // 1 or 2
    // The largest corner displacement of any registered frame, in full-size pixels.
    double largestDisplacement = 0;
    // Every registered frame within kStillDisplacement of the identity: leave the clip unwarped.
    bool still = false;
};

// A clip whose frames all lie within this many pixels (corner displacement) of the reference is
// still: warping it would cost sharpness for nothing (see bench/README.md, the alignment study).
inline constexpr double kStillDisplacement = 0.1;

// The cheap global estimate for a run without --align: a similarity per frame on small proxies.
struct MotionEstimate {
    std::vector<Transform> frameToReference;   // identity where a frame could not be estimated
    double largestDisplacement = 0;            // corner displacement, full-size pixels
    MotionModel suggested = MotionModel::None; // None: no frame moves by more than half a pixel
};

// ---- Warping -------------------------------------------------------------------------------

// Resampling filters; every one is applied as two separable passes (rows, then columns).
enum class WarpFilter { Bilinear, Bicubic, Lanczos3, Lanczos4 };
inline const char *warpFilterName(WarpFilter filter)
{
    switch (filter) {
    case WarpFilter::Bilinear: return "bilinear";
    case WarpFilter::Bicubic: return "bicubic";
    case WarpFilter::Lanczos3: return "lanczos3";
    case WarpFilter::Lanczos4: return "lanczos4";
    }
    return "?";
}

struct WarpSettings {
    WarpFilter filter = WarpFilter::Lanczos3;
    // Each pass keeps its result between the two nearest samples, so the filter's negative lobes
    // sharpen without ringing past an edge (and 16-bit values stay within 0..32768 on their own).
    bool clampRinging = true;
};

// The pixels of one target row that the warped frame covers: columns [first, end), empty when
// first == end. A target pixel is covered when its centre maps inside the frame's area
// ([0, W] x [0, H]); samples of the filter that fall outside repeat the frame's edge pixels.
// Uncovered pixels are written as transparent black; the tool hands them to the plug-in as
// held out.
struct CoverageSpan {
    int first = 0;
    int end = 0;
};

// Expands spans into one byte per pixel, 255 covered and 0 not, rows `width` bytes apart.
inline std::vector<std::uint8_t> coverageMask(const std::vector<CoverageSpan> &rows, int width)
{
    std::vector<std::uint8_t> mask(rows.size() * static_cast<std::size_t>(width), 0);
    for (std::size_t y = 0; y < rows.size(); ++y) {
        for (int x = rows[y].first; x < rows[y].end; ++x) {
            mask[y * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = 255;
        }
    }
    return mask;
}

struct WarpReport {
    // The frame was copied, not resampled: the transform is the identity or a shift by whole
    // pixels.
    bool copied = false;
    long long coveredPixels = 0;
};

// ---- The module ----------------------------------------------------------------------------

class AlignModule {
public:
    virtual ~AlignModule() = default;

    // The shrink registration works at for frames of this size (proxies about 1000 pixels wide
    // at most: 2 for 1080p, 4 for UHD, 1 for anything up to 1023 pixels wide), and the smaller
    // one the cheap motion estimate uses (proxies about 240 pixels wide).
    virtual int registrationShrink(int width, int height) const = 0;
    virtual int motionShrink(int width, int height) const = 0;

    // The grey proxy of a frame at `shrink` (a power of two from 1 to 64, at most the frame's
    // size). A frame with alpha marks as valid the proxy pixels at least half opaque. Throws
    // std::invalid_argument for a view that describes no pixels.
    virtual GreyImage greyProxy(const HostFrameView &frame, int shrink) const = 0;

    // Prepares a reference for registration: features and textured pixels, coarse to fine. The
    // reference may be a frame's proxy or a plate's (with its valid pixels); its shrink is the
    // one every frame registered against it must have.
    virtual std::unique_ptr<Reference>
    prepareReference(const GreyImageView &reference,
                     const RegistrationSettings &settings) const = 0;

    // Registers one frame's proxy against the reference. `initial` (may be null) is a guess of
    // the result, e.g. the first pass's transform or the previous frame's: the direct method
    // starts from it, and the feature fit falls back to it when the features fail. Never throws
    // for footage it cannot register: the failure and its reason are in the result.
    virtual FrameRegistration registerFrame(const Reference &reference, const GreyImageView &frame,
                                            const Transform *initial) const = 0;

    // The plate the second pass registers against: the frames' proxies warped by their
    // transforms into the reference (frames whose transform is null left out), each pixel the
    // mean of the largest group of values that agree; valid where enough frames covered it.
    // Uses at most 31 frames, evenly spread.
    virtual GreyImage proxyPlate(const std::vector<GreyImageView> &frames,
                                 const std::vector<const Transform *> &frameToReference,
                                 const GreyImageView &referenceFrame) const = 0;

    // The whole clip: every frame registered against frames[reference] (one or two passes, see
    // RegistrationSettings::passes), the reference's own transform the identity exactly, and
    // the clip marked still when nothing moves. Frames are registered in parallel.
    virtual ClipRegistration registerClip(const std::vector<GreyImageView> &frames,
                                          std::size_t reference,
                                          const RegistrationSettings &settings) const = 0;

    // The cheap estimate for the summary's advice, on proxies at motionShrink.
    virtual MotionEstimate estimateMotion(const std::vector<GreyImageView> &proxies,
                                          std::size_t reference) const = 0;

    // Resamples `source` into the reference frame: target row j is reference row targetTop + j
    // (so a strip of the plate can be warped alone), the target as wide as the reference. The
    // depths must match; float is resampled in float (HDR values kept, nothing clipped), 8 and
    // 16 bits are rounded and kept within 0..255 and 0..32768. `coverage` (may be null) gets
    // target.height spans. Throws std::invalid_argument for mismatched views or a transform
    // isUsable refuses.
    virtual WarpReport warpFrame(const HostFrameView &source, const Transform &frameToReference,
                                 const HostFrameTarget &target, int targetTop,
                                 CoverageSpan *coverage, const WarpSettings &settings) const = 0;

    // The spans warpFrame would report, without warping: target rows targetTop .. targetTop +
    // rows - 1 of a targetWidth-wide reference, for a source of sourceWidth x sourceHeight. The
    // tool holds out what a frame will not cover before the frame is warped, by the same rule.
    virtual void coverage(const Transform &frameToReference, int sourceWidth, int sourceHeight,
                          int targetWidth, int targetTop, int rows, CoverageSpan *spans) const = 0;

    // Threads OpenCV and the module's own loops may use inside one call (0: one per core). The
    // results are the same for every count.
    virtual void setThreads(int count) const = 0;

    // The OpenCV release the module was built against, for `framemeld --version`.
    virtual std::string libraryVersion() const = 0;
};

// Raised when the module's interface changes, so a stale module is refused, not misused.
inline constexpr int kAlignModuleInterface = 2;

// The module's one export: the interface for `interfaceVersion`, or null for another version.
using AlignModuleEntry = const AlignModule *(*)(int interfaceVersion);
inline constexpr const char *kAlignModuleEntryName = "framemeld_align_opencv";

// Loads the module on first use (safe from any thread). Throws RunError saying where it looked
// when it cannot be loaded.
const AlignModule &alignModule();

// The file alignModule() loaded; loads it first, throwing as alignModule() does.
std::string alignModulePath();

} // namespace framemeld::cli::align
