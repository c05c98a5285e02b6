#pragma once
// Clips with known motion for the alignment tests and the study: a procedural still scene
// (polygons with hard edges, thin lines, text, fine texture) drawn at several times the frame's
// resolution, seen by a camera whose motion is known exactly, each frame the area average of its
// supersampled pixels (as a sensor integrates), with moving textured objects and sensor noise.

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "cli/formats/AlignModule.h"
#include "runner/World.h"

namespace framemeld::cli::align::clips {

struct Scene {
    int frameWidth = 0;
    int frameHeight = 0;
    int margin = 0;      // scene beyond the reference frame on every side, frame pixels
    int supersample = 1; // scene pixels per frame pixel
    cv::Mat pixels;      // CV_8UC3, (frameWidth + 2 margin) * supersample wide
};

Scene makeScene(int frameWidth, int frameHeight, int margin, int supersample, std::uint64_t seed);

// A textured rectangle sliding through the scene: at clip time t (0..1) its top-left corner is
// at start + t (end - start), in reference-frame pixels.
struct MovingObject {
    cv::Mat texture; // CV_8UC3 at the scene's resolution
    cv::Point2d start;
    cv::Point2d end;
};

// An object covering `areaShare` of the frame, strongly textured, crossing it from left to right.
MovingObject crossingObject(const Scene &scene, double areaShare, std::uint64_t seed);

// The frame the camera sees when `frameToReference` maps its pixels into the reference (the
// scene's own frame), objects at time t, with Gaussian noise of `noise` levels of 255 per
// channel (seeded): CV_32FC3, BGR, 0..1.
cv::Mat renderFrame(const Scene &scene, const Transform &frameToReference,
                    const std::vector<MovingObject> &objects, double t, double noise,
                    std::uint64_t noiseSeed);

// The reference frame's view of the empty scene (the known background), CV_32FC3.
cv::Mat background(const Scene &scene);

// Camera motions, as frame-to-reference transforms with the middle frame the identity.
enum class Motion { Still, Handheld, Shake, Bump, Pan };
const char *motionName(Motion motion);
std::vector<Transform> cameraMotion(Motion motion, int frames, int width, int height,
                                    std::uint64_t seed);

// A frame as a host world at a depth (8-bit rounded, 16-bit on the host's 0..32768 scale, float
// as it is), opaque; `alpha` (CV_32F 0..1, optional) gives straight alpha.
runner::World toWorld(const cv::Mat &bgr, runner::PixelDepth depth, const cv::Mat &alpha = {});

// Back to BGR float 0..1 (and the alpha channel, when asked for).
cv::Mat fromWorld(const runner::World &world, cv::Mat *alpha = nullptr);

} // namespace framemeld::cli::align::clips
