#pragma once
// The 3x3 transforms of alignment and the little arithmetic on them, in plain C++ so that the
// tool, the OpenCV module and the tests share one definition.
//
// Coordinates (the convention of MOTION.json and of every transform here): x to the right, y
// down, in pixels of the full-size frame, the origin at the top-left corner of the top-left
// pixel. A W x H frame covers [0, W] x [0, H], and the centre of the pixel in column i, row j is
// (i + 0.5, j + 0.5). This is After Effects' layer space; OpenCV puts pixel centres on whole
// numbers instead (its (i, j) is our (i + 0.5, j + 0.5)). A proxy that shrinks the frame by a
// factor s (s x s pixels averaged into one, from the top-left corner) has the same origin, so a
// point (x, y) of the frame is (x / s, y / s) in the proxy.
//
// A transform m (row-major) maps a point of a frame to the point of the reference frame that
// shows the same part of the scene: (X, Y, Z) = m (x, y, 1), the reference point (X / Z, Y / Z).
// Warping a frame into the reference fills reference pixel (u, v) from the frame at m^-1 (u, v).

#include <array>
#include <cmath>

namespace framemeld::cli::align {

struct Transform {
    std::array<double, 9> m{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

inline Transform identityTransform()
{
    return Transform{};
}

// a after b: the point goes through b first.
inline Transform multiply(const Transform &a, const Transform &b)
{
    Transform product;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) {
                sum += a.m[static_cast<std::size_t>(row * 3 + k)] *
                       b.m[static_cast<std::size_t>(k * 3 + column)];
            }
            product.m[static_cast<std::size_t>(row * 3 + column)] = sum;
        }
    }
    return product;
}

// Scaled so that m[8] is 1 (when it is not zero).
inline Transform normalised(const Transform &t)
{
    if (t.m[8] == 0.0 || !std::isfinite(t.m[8])) {
        return t;
    }
    Transform n;
    for (std::size_t i = 0; i < 9; ++i) {
        n.m[i] = t.m[i] / t.m[8];
    }
    n.m[8] = 1.0;
    return n;
}

inline double determinant(const Transform &t)
{
    const auto &m = t.m;
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

// Whether every entry is finite and the matrix can be inverted (relative to its scale).
inline bool isUsable(const Transform &t)
{
    double largest = 0;
    for (double v : t.m) {
        if (!std::isfinite(v)) {
            return false;
        }
        largest = std::fmax(largest, std::fabs(v));
    }
    return largest > 0 && std::fabs(determinant(t)) > 1e-12 * largest * largest * largest;
}

// The inverse, normalised; false (and `inverse` untouched) for a matrix isUsable refuses.
inline bool invert(const Transform &t, Transform &inverse)
{
    if (!isUsable(t)) {
        return false;
    }
    const auto &m = t.m;
    const double d = determinant(t);
    Transform r;
    r.m = {(m[4] * m[8] - m[5] * m[7]) / d, (m[2] * m[7] - m[1] * m[8]) / d,
           (m[1] * m[5] - m[2] * m[4]) / d, (m[5] * m[6] - m[3] * m[8]) / d,
           (m[0] * m[8] - m[2] * m[6]) / d, (m[2] * m[3] - m[0] * m[5]) / d,
           (m[3] * m[7] - m[4] * m[6]) / d, (m[1] * m[6] - m[0] * m[7]) / d,
           (m[0] * m[4] - m[1] * m[3]) / d};
    inverse = normalised(r);
    return true;
}

// The image of (x, y); false when the point maps to infinity or behind (Z <= 0).
inline bool applyTransform(const Transform &t, double x, double y, double &outX, double &outY)
{
    const auto &m = t.m;
    const double z = m[6] * x + m[7] * y + m[8];
    if (!(z > 0)) {
        return false;
    }
    outX = (m[0] * x + m[1] * y + m[2]) / z;
    outY = (m[3] * x + m[4] * y + m[5]) / z;
    return true;
}

// The same motion in coordinates multiplied by `factor` (factor 1/s: from the frame to a proxy
// shrunk by s; s: back). With the origin at a corner this is S t S^-1, S = diag(f, f, 1).
inline Transform rescaled(const Transform &t, double factor)
{
    Transform r = t;
    r.m[2] *= factor;
    r.m[5] *= factor;
    r.m[6] /= factor;
    r.m[7] /= factor;
    return r;
}

// Between two transforms of a width x height frame: the largest distance between the images of
// its four corners; infinite when a corner maps to infinity.
inline double cornerDistance(const Transform &a, const Transform &b, double width, double height)
{
    const double corners[4][2] = {{0, 0}, {width, 0}, {0, height}, {width, height}};
    double largest = 0;
    for (const auto &c : corners) {
        double ax = 0, ay = 0, bx = 0, by = 0;
        if (!applyTransform(a, c[0], c[1], ax, ay) || !applyTransform(b, c[0], c[1], bx, by)) {
            return INFINITY;
        }
        largest = std::fmax(largest, std::hypot(ax - bx, ay - by));
    }
    return largest;
}

// The same, averaged over the four corners (the study's "corner error").
inline double meanCornerDistance(const Transform &a, const Transform &b, double width,
                                 double height)
{
    const double corners[4][2] = {{0, 0}, {width, 0}, {0, height}, {width, height}};
    double sum = 0;
    for (const auto &c : corners) {
        double ax = 0, ay = 0, bx = 0, by = 0;
        if (!applyTransform(a, c[0], c[1], ax, ay) || !applyTransform(b, c[0], c[1], bx, by)) {
            return INFINITY;
        }
        sum += std::hypot(ax - bx, ay - by);
    }
    return sum / 4;
}

// How far a transform moves the frame: the largest corner displacement against the identity.
inline double cornerDisplacement(const Transform &t, double width, double height)
{
    return cornerDistance(t, identityTransform(), width, height);
}

} // namespace framemeld::cli::align
