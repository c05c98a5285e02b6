#include "AlignClips.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <opencv2/imgproc.hpp>

namespace framemeld::cli::align::clips {
namespace {

constexpr double kPi = 3.14159265358979323846;

cv::Scalar randomColour(cv::RNG &rng)
{
    return cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256));
}

// Frame pixel (index) of the supersampled frame to scene pixel (index), as OpenCV's 3x3.
cv::Mat sceneMapping(const Scene &scene, const Transform &frameToReference)
{
    const double s = scene.supersample;
    Transform toFrame;
    toFrame.m = {1 / s, 0, 0.5 / s, 0, 1 / s, 0.5 / s, 0, 0, 1};
    Transform toScene;
    toScene.m = {s, 0, scene.margin * s - 0.5, 0, s, scene.margin * s - 0.5, 0, 0, 1};
    const Transform m = multiply(toScene, multiply(frameToReference, toFrame));
    cv::Mat mapping(3, 3, CV_64F);
    for (int i = 0; i < 9; ++i) {
        mapping.at<double>(i / 3, i % 3) = m.m[static_cast<std::size_t>(i)];
    }
    return mapping;
}

Transform about(double cx, double cy, double angleDegrees, double scale, double tx, double ty)
{
    const double a = angleDegrees * kPi / 180;
    const double c = std::cos(a) * scale;
    const double s = std::sin(a) * scale;
    Transform t;
    t.m = {c, -s, cx - c * cx + s * cy + tx, s, c, cy - s * cx - c * cy + ty, 0, 0, 1};
    return t;
}

} // namespace

Scene makeScene(int frameWidth, int frameHeight, int margin, int supersample, std::uint64_t seed)
{
    Scene scene;
    scene.frameWidth = frameWidth;
    scene.frameHeight = frameHeight;
    scene.margin = margin;
    scene.supersample = supersample;
    const int s = supersample;
    const int width = (frameWidth + 2 * margin) * s;
    const int height = (frameHeight + 2 * margin) * s;
    cv::RNG rng(seed);

    // Slow colour changes, then grain about a frame pixel across.
    cv::Mat coarse(6, 8, CV_32FC3);
    rng.fill(coarse, cv::RNG::UNIFORM, 0.15, 0.85);
    cv::Mat base;
    cv::resize(coarse, base, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    cv::Mat grain(height, width, CV_32FC3);
    rng.fill(grain, cv::RNG::NORMAL, 0, 0.12);
    cv::GaussianBlur(grain, grain, cv::Size(0, 0), 0.8 * s);
    base += grain;
    base.convertTo(scene.pixels, CV_8UC3, 255);

    cv::Mat &img = scene.pixels;
    const int shapes = std::max(30, frameWidth * frameHeight / 2500);
    for (int k = 0; k < shapes; ++k) {
        const cv::Point centre(rng.uniform(0, width), rng.uniform(0, height));
        const int size = rng.uniform(3 * s, std::max(4 * s, frameWidth * s / 10));
        switch (rng.uniform(0, 5)) {
        case 0:
            cv::rectangle(img, centre, centre + cv::Point(size, size * rng.uniform(1, 4) / 2),
                          randomColour(rng), cv::FILLED, cv::LINE_AA);
            break;
        case 1:
            cv::circle(img, centre, size / 2, randomColour(rng), cv::FILLED, cv::LINE_AA);
            break;
        case 2: {
            std::vector<cv::Point> triangle;
            for (int v = 0; v < 3; ++v) {
                triangle.push_back(centre +
                                   cv::Point(rng.uniform(-size, size), rng.uniform(-size, size)));
            }
            cv::fillConvexPoly(img, triangle, randomColour(rng), cv::LINE_AA);
            break;
        }
        case 3:
            // Thin lines and posts, down to a fraction of a frame pixel.
            cv::line(img, centre,
                     centre + cv::Point(rng.uniform(-size, size), rng.uniform(-3 * size, 3 * size)),
                     randomColour(rng), rng.uniform(1, 2 * s + 1), cv::LINE_AA);
            break;
        default:
            cv::putText(img, "Framemeld " + std::to_string(k), centre, cv::FONT_HERSHEY_SIMPLEX,
                        0.25 * s * rng.uniform(1, 4), randomColour(rng), std::max(1, s / 2),
                        cv::LINE_AA);
            break;
        }
    }
    return scene;
}

MovingObject crossingObject(const Scene &scene, double areaShare, std::uint64_t seed)
{
    cv::RNG rng(seed);
    const double h = 0.75 * scene.frameHeight;
    const double w =
        std::min(0.95 * scene.frameWidth, areaShare * scene.frameWidth * scene.frameHeight / h);
    const int s = scene.supersample;
    MovingObject object;
    cv::Mat texture(static_cast<int>(std::lround(h * s)), static_cast<int>(std::lround(w * s)),
                    CV_8UC3);
    rng.fill(texture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.5 * s);
    for (int k = 0; k < 80; ++k) {
        const cv::Point p(rng.uniform(0, texture.cols), rng.uniform(0, texture.rows));
        cv::rectangle(texture, p,
                      p + cv::Point(rng.uniform(2 * s, 12 * s), rng.uniform(2 * s, 12 * s)),
                      randomColour(rng), cv::FILLED, cv::LINE_AA);
    }
    object.texture = texture;
    object.start = cv::Point2d(0, (scene.frameHeight - h) / 2);
    object.end = cv::Point2d(scene.frameWidth - w, (scene.frameHeight - h) / 2);
    return object;
}

cv::Mat renderFrame(const Scene &scene, const Transform &frameToReference,
                    const std::vector<MovingObject> &objects, double t, double noise,
                    std::uint64_t noiseSeed)
{
    const int s = scene.supersample;
    const cv::Size fine(scene.frameWidth * s, scene.frameHeight * s);
    const cv::Mat mapping = sceneMapping(scene, frameToReference);
    cv::Mat view;
    cv::warpPerspective(scene.pixels, view, mapping, fine, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                        cv::BORDER_REFLECT);
    cv::Mat fineFrame;
    view.convertTo(fineFrame, CV_32FC3, 1.0 / 255);
    for (const MovingObject &object : objects) {
        const cv::Point2d at = object.start + t * (object.end - object.start);
        cv::Mat shift = cv::Mat::eye(3, 3, CV_64F);
        shift.at<double>(0, 2) = -(at.x + scene.margin) * s;
        shift.at<double>(1, 2) = -(at.y + scene.margin) * s;
        const cv::Mat toObject = shift * mapping;
        cv::Mat texture, cover;
        object.texture.convertTo(texture, CV_32FC3, 1.0 / 255);
        cv::warpPerspective(texture, texture, toObject, fine,
                            cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT);
        cv::Mat ones(object.texture.size(), CV_32FC3, cv::Scalar(1, 1, 1));
        cv::warpPerspective(ones, cover, toObject, fine, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                            cv::BORDER_CONSTANT);
        fineFrame = fineFrame.mul(cv::Scalar(1, 1, 1) - cover) + texture.mul(cover);
    }
    cv::Mat frame;
    cv::resize(fineFrame, frame, cv::Size(scene.frameWidth, scene.frameHeight), 0, 0,
               cv::INTER_AREA);
    if (noise > 0) {
        cv::RNG rng(noiseSeed);
        cv::Mat grain(frame.size(), CV_32FC3);
        rng.fill(grain, cv::RNG::NORMAL, 0, noise / 255);
        frame += grain;
    }
    return frame;
}

cv::Mat background(const Scene &scene)
{
    return renderFrame(scene, identityTransform(), {}, 0, 0, 0);
}

const char *motionName(Motion motion)
{
    switch (motion) {
    case Motion::Still: return "still";
    case Motion::Handheld: return "handheld";
    case Motion::Shake: return "shake";
    case Motion::Bump: return "bump";
    case Motion::Pan: return "pan";
    }
    return "?";
}

std::vector<Transform> cameraMotion(Motion motion, int frames, int width, int height,
                                    std::uint64_t seed)
{
    cv::RNG rng(seed);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    std::vector<Transform> poses;
    const double phase[6] = {rng.uniform(0.0, 2 * kPi), rng.uniform(0.0, 2 * kPi),
                             rng.uniform(0.0, 2 * kPi), rng.uniform(0.0, 2 * kPi),
                             rng.uniform(0.0, 2 * kPi), rng.uniform(0.0, 2 * kPi)};
    for (int i = 0; i < frames; ++i) {
        const double t = frames > 1 ? static_cast<double>(i) / (frames - 1) : 0.0;
        switch (motion) {
        case Motion::Still: poses.push_back(identityTransform()); break;
        case Motion::Handheld: {
            // A slow drift of a few pixels and up to a degree, with a little breathing of scale.
            const double tx = 3.0 * std::sin(2 * kPi * 0.7 * t + phase[0]) +
                              1.2 * std::sin(2 * kPi * 1.9 * t + phase[1]);
            const double ty = 2.5 * std::sin(2 * kPi * 0.6 * t + phase[2]) +
                              1.0 * std::sin(2 * kPi * 2.3 * t + phase[3]);
            const double angle = 1.0 * std::sin(2 * kPi * 0.5 * t + phase[4]);
            const double scale = 1 + 0.002 * std::sin(2 * kPi * 0.8 * t + phase[5]);
            poses.push_back(about(cx, cy, angle, scale, tx, ty));
            break;
        }
        case Motion::Shake:
            // About 1.5 pixels from frame to frame.
            poses.push_back(about(cx, cy, 0, 1, rng.gaussian(1.06), rng.gaussian(1.06)));
            break;
        case Motion::Bump:
            poses.push_back(i < frames / 2 ? identityTransform() : about(cx, cy, 0, 1, 2.6, 1.5));
            break;
        case Motion::Pan: {
            // A camera turning on a tripod (focal length 1.2 frame widths): a homography.
            const double f = 1.2 * width;
            const double yaw = (1.5 * (t - 0.5) + 0.2 * std::sin(2 * kPi * 1.3 * t)) * kPi / 180;
            const double pitch = 0.4 * std::sin(2 * kPi * 0.9 * t + phase[0]) * kPi / 180;
            const cv::Matx33d k(f, 0, cx, 0, f, cy, 0, 0, 1);
            const cv::Matx33d ry(std::cos(yaw), 0, std::sin(yaw), 0, 1, 0, -std::sin(yaw), 0,
                                 std::cos(yaw));
            const cv::Matx33d rx(1, 0, 0, 0, std::cos(pitch), -std::sin(pitch), 0, std::sin(pitch),
                                 std::cos(pitch));
            const cv::Matx33d h = k * ry * rx * k.inv();
            Transform pose;
            for (int e = 0; e < 9; ++e) {
                pose.m[static_cast<std::size_t>(e)] = h(e / 3, e % 3);
            }
            poses.push_back(normalised(pose));
            break;
        }
        }
    }
    const std::size_t middle = static_cast<std::size_t>(frames / 2);
    Transform undo;
    invert(poses[middle], undo);
    std::vector<Transform> motionOut;
    for (const Transform &p : poses) {
        motionOut.push_back(normalised(multiply(undo, p)));
    }
    motionOut[middle] = identityTransform();
    return motionOut;
}

runner::World toWorld(const cv::Mat &bgr, runner::PixelDepth depth, const cv::Mat &alpha)
{
    runner::World world(bgr.cols, bgr.rows, depth);
    const double full = runner::channelFullScale(depth);
    for (int y = 0; y < bgr.rows; ++y) {
        for (int x = 0; x < bgr.cols; ++x) {
            const cv::Vec3f v = bgr.at<cv::Vec3f>(y, x);
            const double a = alpha.empty() ? 1.0 : static_cast<double>(alpha.at<float>(y, x));
            const double channels[4] = {a, v[2], v[1], v[0]};
            if (depth == runner::PixelDepth::Float32) {
                PF_PixelFloat &p = world.at<PF_PixelFloat>(x, y);
                p = {static_cast<float>(channels[0]), static_cast<float>(channels[1]),
                     static_cast<float>(channels[2]), static_cast<float>(channels[3])};
            } else {
                long q[4];
                for (int c = 0; c < 4; ++c) {
                    q[c] = std::lround(std::clamp(channels[c], 0.0, 1.0) * full);
                }
                if (depth == runner::PixelDepth::Bits8) {
                    world.at<PF_Pixel8>(x, y) = {
                        static_cast<A_u_char>(q[0]), static_cast<A_u_char>(q[1]),
                        static_cast<A_u_char>(q[2]), static_cast<A_u_char>(q[3])};
                } else {
                    world.at<PF_Pixel16>(x, y) = {
                        static_cast<A_u_short>(q[0]), static_cast<A_u_short>(q[1]),
                        static_cast<A_u_short>(q[2]), static_cast<A_u_short>(q[3])};
                }
            }
        }
    }
    return world;
}

cv::Mat fromWorld(const runner::World &world, cv::Mat *alpha)
{
    cv::Mat bgr(world.height(), world.width(), CV_32FC3);
    if (alpha != nullptr) {
        alpha->create(world.height(), world.width(), CV_32F);
    }
    const double full = runner::channelFullScale(world.depth());
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            double c[4] = {};
            switch (world.depth()) {
            case runner::PixelDepth::Bits8: {
                const PF_Pixel8 &p = world.at<PF_Pixel8>(x, y);
                c[0] = p.alpha, c[1] = p.red, c[2] = p.green, c[3] = p.blue;
                break;
            }
            case runner::PixelDepth::Bits16: {
                const PF_Pixel16 &p = world.at<PF_Pixel16>(x, y);
                c[0] = p.alpha, c[1] = p.red, c[2] = p.green, c[3] = p.blue;
                break;
            }
            case runner::PixelDepth::Float32: {
                const PF_PixelFloat &p = world.at<PF_PixelFloat>(x, y);
                c[0] = static_cast<double>(p.alpha), c[1] = static_cast<double>(p.red),
                c[2] = static_cast<double>(p.green), c[3] = static_cast<double>(p.blue);
                break;
            }
            }
            bgr.at<cv::Vec3f>(y, x) =
                cv::Vec3f(static_cast<float>(c[3] / full), static_cast<float>(c[2] / full),
                          static_cast<float>(c[1] / full));
            if (alpha != nullptr) {
                alpha->at<float>(y, x) = static_cast<float>(c[0] / full);
            }
        }
    }
    return bgr;
}

} // namespace framemeld::cli::align::clips
