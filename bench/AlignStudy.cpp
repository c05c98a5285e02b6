// The alignment study (issue 28): registration accuracy per method and model on clips with known
// motion, the frames a plate comparison needs (none / known motion / recovered motion, per
// resampling filter), the plates' scores against the known background, and the costs on 1080p.
// See bench/README.md (the alignment study) and bench/align-study.sh, which drives it.
//
//   align_study accuracy [--size WxH] [--frames N] [--quick]
//   align_study frames --out DIR --clip NAME [--size WxH] [--frames N] [--vtest FILE]
//   align_study score BACKGROUND.png PLATE.png...
//   align_study timing [--size WxH] [--frames N] [--runs N]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "cli/formats/AlignModule.h"
#include "tests/cli/align/AlignClips.h"

namespace fs = std::filesystem;
using namespace framemeld::cli::align;
using framemeld::runner::PixelDepth;
using framemeld::runner::World;

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Options {
    int width = 960;
    int height = 540;
    int frames = 30;
    int runs = 3;
    bool quick = false;
    std::string out;
    std::string clip;
    std::string vtest = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
    std::string only; // accuracy: only the rows whose clip, model, condition or method contain it
    std::vector<std::string> rest;
};

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw std::runtime_error(a + " needs a value");
            }
            return argv[++i];
        };
        if (a == "--size") {
            const std::string v = next();
            if (std::sscanf(v.c_str(), "%dx%d", &o.width, &o.height) != 2) {
                throw std::runtime_error("--size WxH");
            }
        } else if (a == "--frames") {
            o.frames = std::stoi(next());
        } else if (a == "--runs") {
            o.runs = std::stoi(next());
        } else if (a == "--quick") {
            o.quick = true;
        } else if (a == "--out") {
            o.out = next();
        } else if (a == "--clip") {
            o.clip = next();
        } else if (a == "--only") {
            o.only = next();
        } else if (a == "--vtest") {
            o.vtest = next();
        } else {
            o.rest.push_back(a);
        }
    }
    return o;
}

// ---- accuracy ------------------------------------------------------------------------------

struct Condition {
    const char *name;
    double noise;
    double objectShare; // 0: none
};

struct Method {
    std::string name;
    RegistrationSettings settings;
    bool ecc = false; // OpenCV's findTransformECC instead of the module
};

// ECC as OpenCV offers it, coarse to fine on the registration proxies from the identity,
// optionally masked by the pixels the reference frame agrees with after a first fit.
bool eccRegister(const GreyImage &reference, const GreyImage &frame, MotionModel model,
                 Transform &frameToReference)
{
    int motion = cv::MOTION_EUCLIDEAN;
    if (model == MotionModel::Translation) {
        motion = cv::MOTION_TRANSLATION;
    } else if (model == MotionModel::Similarity) {
        motion = cv::MOTION_AFFINE; // ECC has no similarity; affine is its nearest
    } else if (model == MotionModel::Perspective) {
        motion = cv::MOTION_HOMOGRAPHY;
    }
    const cv::Mat r(reference.height, reference.width, CV_32F,
                    const_cast<float *>(reference.pixels.data()));
    const cv::Mat f(frame.height, frame.width, CV_32F, const_cast<float *>(frame.pixels.data()));
    std::vector<cv::Mat> rp{r}, fp{f};
    while (rp.back().cols > 120) {
        cv::Mat a, b;
        cv::pyrDown(rp.back(), a);
        cv::pyrDown(fp.back(), b);
        rp.push_back(a);
        fp.push_back(b);
    }
    // ECC's warp maps template (reference) coordinates to input (frame) coordinates.
    cv::Mat warp =
        motion == cv::MOTION_HOMOGRAPHY ? cv::Mat::eye(3, 3, CV_32F) : cv::Mat::eye(2, 3, CV_32F);
    for (int l = static_cast<int>(rp.size()) - 1; l >= 0; --l) {
        if (l != static_cast<int>(rp.size()) - 1) {
            warp.at<float>(0, 2) *= 2;
            warp.at<float>(1, 2) *= 2;
            if (motion == cv::MOTION_HOMOGRAPHY) {
                warp.at<float>(2, 0) /= 2;
                warp.at<float>(2, 1) /= 2;
            }
        }
        try {
            cv::findTransformECC(
                rp[static_cast<std::size_t>(l)], fp[static_cast<std::size_t>(l)], warp, motion,
                cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 50, 1e-5),
                cv::noArray(), 3);
        } catch (const cv::Exception &) {
            return false;
        }
    }
    // OpenCV's coordinates (centres on whole numbers) to ours, proxy to full size.
    Transform w;
    w.m = {warp.at<float>(0, 0),
           warp.at<float>(0, 1),
           warp.at<float>(0, 2),
           warp.at<float>(1, 0),
           warp.at<float>(1, 1),
           warp.at<float>(1, 2),
           0,
           0,
           1};
    if (motion == cv::MOTION_HOMOGRAPHY) {
        w.m[6] = warp.at<float>(2, 0);
        w.m[7] = warp.at<float>(2, 1);
        w.m[8] = warp.at<float>(2, 2);
    }
    Transform in = identityTransform(), out = identityTransform();
    in.m[2] = in.m[5] = -0.5;
    out.m[2] = out.m[5] = 0.5;
    const Transform ours = multiply(out, multiply(w, in)); // reference -> frame, ours
    Transform inverse;
    if (!invert(ours, inverse)) {
        return false;
    }
    frameToReference = rescaled(inverse, reference.shrink);
    return true;
}

int accuracy(const Options &o)
{
    const AlignModule &align = alignModule();
    std::printf("alignment accuracy: %dx%d, %d frames per clip, OpenCV %s\n", o.width, o.height,
                o.frames, align.libraryVersion().c_str());
    const clips::Scene scene = clips::makeScene(o.width, o.height, 24, 4, 7);
    const int shrink = align.registrationShrink(o.width, o.height);

    const std::vector<Condition> conditions = {{"clean", 0, 0},
                                               {"noise 4", 4, 0},
                                               {"object 1/3", 0, 1.0 / 3},
                                               {"noise 4 + object 1/3", 4, 1.0 / 3}};
    struct Case {
        clips::Motion motion;
        MotionModel model;
    };
    std::vector<Case> cases = {{clips::Motion::Shake, MotionModel::Translation},
                               {clips::Motion::Bump, MotionModel::Translation},
                               {clips::Motion::Handheld, MotionModel::Similarity},
                               {clips::Motion::Shake, MotionModel::Similarity},
                               {clips::Motion::Bump, MotionModel::Similarity},
                               {clips::Motion::Pan, MotionModel::Perspective},
                               {clips::Motion::Handheld, MotionModel::Perspective}};
    std::vector<Method> methods;
    const auto add = [&](const std::string &name, RegistrationMethod m, FeatureKind k, int passes) {
        Method method;
        method.name = name;
        method.settings.method = m;
        method.settings.features = k;
        method.settings.passes = passes;
        methods.push_back(method);
    };
    add("ORB + RANSAC", RegistrationMethod::Features, FeatureKind::Orb, 1);
    add("AKAZE + RANSAC", RegistrationMethod::Features, FeatureKind::Akaze, 1);
    add("direct (robust)", RegistrationMethod::Direct, FeatureKind::Orb, 1);
    add("ORB + direct", RegistrationMethod::FeaturesThenDirect, FeatureKind::Orb, 1);
    add("AKAZE + direct", RegistrationMethod::FeaturesThenDirect, FeatureKind::Akaze, 1);
    add("ORB + direct, 2 passes", RegistrationMethod::FeaturesThenDirect, FeatureKind::Orb, 2);
    add("ORB + direct, auto", RegistrationMethod::FeaturesThenDirect, FeatureKind::Orb, 0);
    if (!o.quick) {
        Method ecc;
        ecc.name = "ECC (OpenCV, unmasked)";
        ecc.ecc = true;
        methods.push_back(ecc);
    }

    std::printf("\n| clip | model | condition | method | mean corner error px | worst px | failed "
                "| passes | ms/frame |\n");
    std::printf("|---|---|---|---|---:|---:|---:|---:|---:|\n");
    for (const Condition &condition : conditions) {
        std::vector<clips::MovingObject> objects;
        if (condition.objectShare > 0) {
            objects.push_back(clips::crossingObject(scene, condition.objectShare, 11));
        }
        for (const Case &c : cases) {
            const std::vector<Transform> truth =
                clips::cameraMotion(c.motion, o.frames, o.width, o.height, 3);
            std::vector<GreyImage> proxies;
            for (int i = 0; i < o.frames; ++i) {
                const cv::Mat frame =
                    clips::renderFrame(scene, truth[static_cast<std::size_t>(i)], objects,
                                       o.frames > 1 ? i / (o.frames - 1.0) : 0, condition.noise,
                                       100 + static_cast<std::uint64_t>(i));
                const World world = clips::toWorld(frame, PixelDepth::Bits8);
                proxies.push_back(align.greyProxy(frameView(world, AlphaKind::Opaque), shrink));
            }
            std::vector<GreyImageView> views;
            for (const GreyImage &p : proxies) {
                views.push_back(p.view());
            }
            const std::size_t reference = static_cast<std::size_t>(o.frames / 2);
            for (Method method : methods) {
                method.settings.model = c.model;
                const std::string row = std::string(clips::motionName(c.motion)) + " " +
                                        motionModelName(c.model) + " " + condition.name + " " +
                                        method.name;
                if (!o.only.empty() && row.find(o.only) == std::string::npos) {
                    bool all = true; // several words: every one must be there
                    std::size_t at = 0;
                    while (at < o.only.size()) {
                        const std::size_t end = std::min(o.only.find(',', at), o.only.size());
                        all = all && row.find(o.only.substr(at, end - at)) != std::string::npos;
                        at = end + 1;
                    }
                    if (!all) {
                        continue;
                    }
                }
                std::vector<Transform> found(truth.size());
                std::vector<bool> ok(truth.size(), true);
                int passes = 1;
                std::vector<FrameRegistration> details(truth.size());
                const double start = now();
                if (method.ecc) {
                    for (std::size_t i = 0; i < views.size(); ++i) {
                        ok[i] = i == reference ||
                                eccRegister(proxies[reference], proxies[i], c.model, found[i]);
                    }
                } else {
                    const ClipRegistration r =
                        align.registerClip(views, reference, method.settings);
                    passes = r.passes;
                    for (std::size_t i = 0; i < views.size(); ++i) {
                        ok[i] = r.frames[i].registered();
                        found[i] = r.frames[i].frameToReference;
                        details[i] = r.frames[i];
                    }
                }
                const double elapsed = now() - start;
                double sum = 0, worst = 0;
                int failed = 0, counted = 0;
                for (std::size_t i = 0; i < views.size(); ++i) {
                    if (i == reference) {
                        continue;
                    }
                    if (!ok[i]) {
                        ++failed;
                        continue;
                    }
                    const double e = meanCornerDistance(found[i], truth[i], o.width, o.height);
                    if (std::getenv("ALIGN_STUDY_VERBOSE") != nullptr) {
                        std::printf("    truth:");
                        for (double v : truth[i].m)
                            std::printf(" %.6g", v);
                        std::printf("\n");
                        std::printf(
                            "    frame %zu: error %.3f, true displacement %.2f, features %d, "
                            "matches %d, inliers %d, support %.3f, residual %.2f\n",
                            i, e, cornerDisplacement(truth[i], o.width, o.height),
                            details[i].features, details[i].matches, details[i].inliers,
                            details[i].support, details[i].residual);
                    }
                    sum += e;
                    worst = std::max(worst, cornerDistance(found[i], truth[i], o.width, o.height));
                    ++counted;
                }
                std::printf("| %s | %s | %s | %s | %.3f | %.3f | %d | %d | %.1f |\n",
                            clips::motionName(c.motion), motionModelName(c.model), condition.name,
                            method.name.c_str(), counted ? sum / counted : std::nan(""), worst,
                            failed, passes, 1000 * elapsed / static_cast<double>(views.size()));
                std::fflush(stdout);
            }
        }
    }
    return 0;
}

// ---- frames for plates ---------------------------------------------------------------------

struct StudyClip {
    std::vector<cv::Mat> frames;  // CV_32FC3 BGR 0..1, what the camera saw
    std::vector<Transform> truth; // frame to reference
    cv::Mat background;           // the reference frame's empty view (or the static plate's)
    bool backgroundFromPlate = false;
};

// The clips of the plate study. Synthetic: the procedural scene with several people-sized
// objects crossing it and sensor noise; vtest: OpenCV's plaza footage (static camera), every
// 8th frame, cropped 16 pixels in on every side and moved by the same known motions.
StudyClip studyClip(const Options &o, const std::string &name)
{
    StudyClip clip;
    const auto motionOf = [&](const std::string &kind) {
        if (kind == "handheld") {
            return clips::Motion::Handheld;
        }
        if (kind == "shake") {
            return clips::Motion::Shake;
        }
        if (kind == "bump") {
            return clips::Motion::Bump;
        }
        if (kind == "pan") {
            return clips::Motion::Pan;
        }
        if (kind == "still") {
            return clips::Motion::Still;
        }
        throw std::runtime_error("unknown motion " + kind);
    };
    const std::size_t dash = name.find('-');
    const std::string source = name.substr(0, dash);
    const clips::Motion motion = motionOf(name.substr(dash + 1));
    if (source == "synthetic") {
        const clips::Scene scene = clips::makeScene(o.width, o.height, 24, 2, 7);
        clip.truth = clips::cameraMotion(motion, o.frames, o.width, o.height, 3);
        std::vector<clips::MovingObject> objects;
        for (int k = 0; k < 4; ++k) {
            clips::MovingObject object =
                clips::crossingObject(scene, 0.06, 20 + static_cast<std::uint64_t>(k));
            // People-sized, at different heights, some walking the other way.
            object.start.y = object.end.y = (0.1 + 0.2 * k) * o.height;
            if (k % 2) {
                std::swap(object.start, object.end);
            }
            objects.push_back(object);
        }
        for (int i = 0; i < o.frames; ++i) {
            clip.frames.push_back(clips::renderFrame(scene, clip.truth[static_cast<std::size_t>(i)],
                                                     objects, i / (o.frames - 1.0), 3,
                                                     1000 + static_cast<std::uint64_t>(i)));
        }
        clip.background = clips::background(scene);
        return clip;
    }
    if (source != "vtest") {
        throw std::runtime_error("unknown clip " + name);
    }
    cv::VideoCapture movie(o.vtest);
    if (!movie.isOpened()) {
        throw std::runtime_error("cannot open " + o.vtest);
    }
    std::vector<cv::Mat> originals;
    cv::Mat frame;
    for (int index = 0; movie.read(frame); ++index) {
        if (index % 8 == 0 && static_cast<int>(originals.size()) < o.frames) {
            cv::Mat f;
            frame.convertTo(f, CV_32FC3, 1.0 / 255);
            originals.push_back(f);
        }
    }
    constexpr int kMargin = 16;
    const int width = originals.front().cols - 2 * kMargin;
    const int height = originals.front().rows - 2 * kMargin;
    clip.truth = clips::cameraMotion(motion, static_cast<int>(originals.size()), width, height, 3);
    for (std::size_t i = 0; i < originals.size(); ++i) {
        // The cropped frame at (x, y) shows the original at T(x, y) + margin.
        Transform shift = identityTransform();
        shift.m[2] = shift.m[5] = kMargin;
        Transform in = identityTransform();
        in.m[2] = in.m[5] = 0.5;
        Transform out = identityTransform();
        out.m[2] = out.m[5] = -0.5;
        const Transform m = multiply(out, multiply(shift, multiply(clip.truth[i], in)));
        cv::Mat mapping(3, 3, CV_64F);
        for (int e = 0; e < 9; ++e) {
            mapping.at<double>(e / 3, e % 3) = m.m[static_cast<std::size_t>(e)];
        }
        cv::Mat moved;
        cv::warpPerspective(originals[i], moved, mapping, cv::Size(width, height),
                            cv::INTER_LANCZOS4 | cv::WARP_INVERSE_MAP, cv::BORDER_REFLECT);
        clip.frames.push_back(moved);
    }
    clip.backgroundFromPlate = true; // the static footage's own plate, made by the script
    return clip;
}

void writeFrame(const cv::Mat &bgr, const std::string &path)
{
    cv::Mat bytes;
    bgr.convertTo(bytes, CV_8UC3, 255);
    if (!cv::imwrite(path, bytes, {cv::IMWRITE_PNG_COMPRESSION, 1})) {
        throw std::runtime_error("cannot write " + path);
    }
}

// Writes DIR/none/f.####.png (the clip as the camera saw it), DIR/ideal-FILTER/ and
// DIR/aligned-FILTER/ (warped back with the known and with the recovered motion), and
// DIR/background.png; prints the recovered motion's corner error. Pixels a warped frame does
// not cover get random values, which agree with nothing: held out, as the tool will hand them.
int frames(const Options &o)
{
    if (o.out.empty() || o.clip.empty()) {
        throw std::runtime_error("frames needs --out DIR and --clip NAME");
    }
    const AlignModule &align = alignModule();
    const StudyClip clip = studyClip(o, o.clip);
    const int width = clip.frames.front().cols;
    const int height = clip.frames.front().rows;
    fs::create_directories(o.out);
    if (!clip.backgroundFromPlate) {
        writeFrame(clip.background, o.out + "/background.png");
    }
    std::vector<World> worlds;
    std::vector<GreyImage> proxies;
    const int shrink = align.registrationShrink(width, height);
    for (const cv::Mat &f : clip.frames) {
        worlds.push_back(clips::toWorld(f, PixelDepth::Bits8));
        proxies.push_back(align.greyProxy(frameView(worlds.back(), AlphaKind::Opaque), shrink));
    }
    std::vector<GreyImageView> views;
    for (const GreyImage &p : proxies) {
        views.push_back(p.view());
    }
    const std::size_t reference = views.size() / 2;
    RegistrationSettings settings;
    settings.model = o.clip.find("pan") != std::string::npos ? MotionModel::Perspective
                                                             : MotionModel::Similarity;
    const double start = now();
    const ClipRegistration found = align.registerClip(views, reference, settings);
    const double seconds = now() - start;
    double sum = 0, worst = 0;
    int failed = 0;
    for (std::size_t i = 0; i < views.size(); ++i) {
        if (!found.frames[i].registered()) {
            ++failed;
            continue;
        }
        sum += meanCornerDistance(found.frames[i].frameToReference, clip.truth[i], width, height);
        worst = std::max(
            worst, cornerDistance(found.frames[i].frameToReference, clip.truth[i], width, height));
    }
    std::printf("%s: %zu frames %dx%d, %s, %d pass%s, mean corner error %.3f px, worst %.3f px, %d "
                "failed, still %s (largest displacement %.2f px), %.2f s\n",
                o.clip.c_str(), views.size(), width, height, motionModelName(settings.model),
                found.passes, found.passes == 1 ? "" : "es",
                sum / static_cast<double>(views.size() - static_cast<std::size_t>(failed)), worst,
                failed, found.still ? "yes" : "no", found.largestDisplacement, seconds);

    const auto write = [&](const std::string &variant, const std::vector<Transform> *motion,
                           WarpSettings ws) {
        const std::string dir = o.out + "/" + variant;
        fs::create_directories(dir);
        cv::RNG rng(77);
        for (std::size_t i = 0; i < worlds.size(); ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/f.%04zu.png", i);
            if (motion == nullptr) {
                writeFrame(clip.frames[i], dir + name);
                continue;
            }
            World target(width, height, PixelDepth::Bits8);
            std::vector<CoverageSpan> spans(static_cast<std::size_t>(height));
            align.warpFrame(frameView(worlds[i], AlphaKind::Opaque), (*motion)[i],
                            frameTarget(target), 0, spans.data(), ws);
            cv::Mat bgr = clips::fromWorld(target);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    if (x < spans[static_cast<std::size_t>(y)].first ||
                        x >= spans[static_cast<std::size_t>(y)].end) {
                        bgr.at<cv::Vec3f>(y, x) = cv::Vec3f(
                            rng.uniform(0.f, 1.f), rng.uniform(0.f, 1.f), rng.uniform(0.f, 1.f));
                    }
                }
            }
            writeFrame(bgr, dir + name);
        }
    };
    std::vector<Transform> recovered;
    for (std::size_t i = 0; i < views.size(); ++i) {
        recovered.push_back(found.frames[i].registered() ? found.frames[i].frameToReference
                                                         : identityTransform());
    }
    write("none", nullptr, {});
    for (const auto &[variant, filter, clamp] :
         std::vector<std::tuple<std::string, WarpFilter, bool>>{
             {"bilinear", WarpFilter::Bilinear, true},
             {"bicubic", WarpFilter::Bicubic, true},
             {"lanczos3", WarpFilter::Lanczos3, true},
             {"lanczos3-ringing", WarpFilter::Lanczos3, false},
             {"lanczos4", WarpFilter::Lanczos4, true}}) {
        if (!o.only.empty() && variant != o.only) {
            continue;
        }
        WarpSettings ws;
        ws.filter = filter;
        ws.clampRinging = clamp;
        write("ideal-" + variant, &clip.truth, ws);
        write("aligned-" + variant, &recovered, ws);
    }
    return 0;
}

// ---- scores --------------------------------------------------------------------------------

// Against the background, in grey levels of 255 (Rec. 601 luma, as OpenCV's BGR2GRAY), with a
// 10-pixel border left out: the mean absolute error (AGE) and the share of pixels off by more
// than 20 levels (pEPs).
int score(const Options &o)
{
    if (o.rest.size() < 2) {
        throw std::runtime_error("score needs BACKGROUND and PLATE...");
    }
    const auto grey = [](const std::string &path) {
        const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
        if (image.empty()) {
            throw std::runtime_error("cannot read " + path);
        }
        cv::Mat g;
        cv::cvtColor(image, g, cv::COLOR_BGR2GRAY);
        g.convertTo(g, CV_64F);
        return g;
    };
    const cv::Mat background = grey(o.rest[0]);
    const cv::Rect inside(10, 10, background.cols - 20, background.rows - 20);
    for (std::size_t k = 1; k < o.rest.size(); ++k) {
        const cv::Mat plate = grey(o.rest[k]);
        if (plate.size() != background.size()) {
            throw std::runtime_error(o.rest[k] + " is not the background's size");
        }
        cv::Mat error = cv::abs(plate - background)(inside);
        const double age = cv::mean(error)[0];
        const double eps =
            100.0 * cv::countNonZero(error > 20) / static_cast<double>(error.total());
        std::printf("%s %.3f %.3f\n", o.rest[k].c_str(), age, eps);
    }
    return 0;
}

// ---- timing --------------------------------------------------------------------------------

// CPU time of the calling thread: on one thread what the work costs, whatever else the
// machine runs (the tool runs these steps on its decoding threads).
double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class F> double median(int runs, F &&work)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const double start = threadSeconds();
        work();
        times.push_back(threadSeconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string loadAverage()
{
    double one = 0, five = 0, fifteen = 0;
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &one, &five, &fifteen) != 3) {
            one = five = fifteen = -1;
        }
        std::fclose(f);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

int timing(const Options &o)
{
    const AlignModule &align = alignModule();
    align.setThreads(1);
    std::printf(
        "alignment costs: %dx%d, %d frames, CPU time on one thread, median of %d runs; load "
        "average %s\n",
        o.width, o.height, o.frames, o.runs, loadAverage().c_str());
    const clips::Scene scene = clips::makeScene(o.width, o.height, 24, 2, 7);
    const std::vector<Transform> truth =
        clips::cameraMotion(clips::Motion::Handheld, o.frames, o.width, o.height, 3);
    std::vector<clips::MovingObject> objects{clips::crossingObject(scene, 0.15, 11)};
    std::vector<World> frames;
    for (int i = 0; i < o.frames; ++i) {
        frames.push_back(clips::toWorld(
            clips::renderFrame(scene, truth[static_cast<std::size_t>(i)], objects,
                               i / (o.frames - 1.0), 2, 100 + static_cast<std::uint64_t>(i)),
            PixelDepth::Bits8));
    }
    const int shrink = align.registrationShrink(o.width, o.height);
    const int motionShrink = align.motionShrink(o.width, o.height);
    const double perFrame = 1000.0 / o.frames;
    std::vector<GreyImage> proxies(frames.size());
    const double proxyTime = median(o.runs, [&] {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            proxies[i] = align.greyProxy(frameView(frames[i], AlphaKind::Opaque), shrink);
        }
    });
    std::vector<GreyImage> small(frames.size());
    const double smallTime = median(o.runs, [&] {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            small[i] = align.greyProxy(frameView(frames[i], AlphaKind::Opaque), motionShrink);
        }
    });
    std::vector<GreyImageView> views, smallViews;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        views.push_back(proxies[i].view());
        smallViews.push_back(small[i].view());
    }
    const std::size_t reference = frames.size() / 2;
    std::printf("\n| step | ms per frame |\n|---|---:|\n");
    std::printf("| grey proxy at 1/%d (registration) | %.2f |\n", shrink, proxyTime * perFrame);
    std::printf("| grey proxy at 1/%d (motion estimate) | %.2f |\n", motionShrink,
                smallTime * perFrame);
    const double estimateTime =
        median(o.runs, [&] { align.estimateMotion(smallViews, reference); });
    std::printf("| motion estimate on the 1/%d proxies | %.2f |\n", motionShrink,
                estimateTime * perFrame);
    const auto wanted = [&](const std::string &row) {
        return o.only.empty() || row.find(o.only) != std::string::npos;
    };
    for (MotionModel model :
         {MotionModel::Translation, MotionModel::Similarity, MotionModel::Perspective}) {
        for (int passes : {1, 2}) {
            if (!wanted(std::string("registration ") + motionModelName(model))) {
                continue;
            }
            RegistrationSettings settings;
            settings.model = model;
            settings.passes = passes;
            ClipRegistration result;
            const double t =
                median(o.runs, [&] { result = align.registerClip(views, reference, settings); });
            std::printf("| registration, %s, %d pass%s (passes run: %d) | %.2f |\n",
                        motionModelName(model), passes, passes == 1 ? "" : "es", result.passes,
                        t * perFrame);
        }
    }
    for (PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        const World source = clips::toWorld(clips::fromWorld(frames[0]), depth);
        World target(o.width, o.height, depth);
        for (WarpFilter filter : {WarpFilter::Bilinear, WarpFilter::Bicubic, WarpFilter::Lanczos3,
                                  WarpFilter::Lanczos4}) {
            WarpSettings settings;
            settings.filter = filter;
            if (!wanted(std::string("warp ") + warpFilterName(filter))) {
                continue;
            }
            const double t = median(o.runs, [&] {
                align.warpFrame(frameView(source, AlphaKind::Opaque), truth[0], frameTarget(target),
                                0, nullptr, settings);
            });
            std::printf("| warp %d-bit, %s | %.2f |\n", framemeld::runner::bitsPerChannel(depth),
                        warpFilterName(filter), t * 1000);
        }
    }
    // OpenCV's own warps of the same 8-bit frame, for scale.
    if (wanted("warp opencv")) {
        const World &source = frames[0];
        const cv::Mat in(o.height, o.width, CV_8UC4, const_cast<unsigned char *>(source.row(0)),
                         static_cast<std::size_t>(source.rowStride()));
        cv::Mat out;
        Transform inverse;
        invert(truth[0], inverse);
        cv::Mat m(2, 3, CV_64F);
        for (int i = 0; i < 6; ++i) {
            m.at<double>(i / 3, i % 3) = inverse.m[static_cast<std::size_t>(i)];
        }
        for (int filter : {cv::INTER_LINEAR, cv::INTER_CUBIC, cv::INTER_LANCZOS4}) {
            const double t = median(o.runs, [&] {
                cv::warpAffine(in, out, m, in.size(), filter | cv::WARP_INVERSE_MAP,
                               cv::BORDER_REPLICATE);
            });
            std::printf("| OpenCV warpAffine 8-bit, %s | %.2f |\n",
                        filter == cv::INTER_LINEAR  ? "bilinear"
                        : filter == cv::INTER_CUBIC ? "bicubic"
                                                    : "lanczos4",
                        t * 1000);
        }
    }
    std::printf("\nload average after: %s\n", loadAverage().c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        if (argc < 2) {
            std::fprintf(stderr, "usage: align_study accuracy|frames|score|timing ...\n");
            return 2;
        }
        const std::string mode = argv[1];
        const Options o = parse(argc, argv);
        if (mode == "accuracy") {
            return accuracy(o);
        }
        if (mode == "timing") {
            return timing(o);
        }
        if (mode == "frames") {
            return frames(o);
        }
        if (mode == "score") {
            return score(o);
        }
        std::fprintf(stderr, "align_study: unknown mode %s\n", mode.c_str());
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "align_study: %s\n", e.what());
        return 1;
    }
}
