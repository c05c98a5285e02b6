#include "cli/formats/AlignTransform.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace framemeld::cli::align;

namespace {

Transform similarity(double angleDegrees, double scale, double tx, double ty)
{
    const double a = angleDegrees * 3.14159265358979323846 / 180;
    Transform t;
    t.m = {scale * std::cos(a),
           -scale * std::sin(a),
           tx,
           scale * std::sin(a),
           scale * std::cos(a),
           ty,
           0,
           0,
           1};
    return t;
}

TEST(AlignTransform, InverseUndoesAndProductComposes)
{
    Transform h = similarity(3, 1.02, 5.5, -2.25);
    h.m[6] = 2e-5;
    h.m[7] = -1e-5;
    Transform inverse;
    ASSERT_TRUE(invert(h, inverse));
    const Transform both = normalised(multiply(inverse, h));
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_NEAR(both.m[i], identityTransform().m[i], 1e-12) << i;
    }
    double x = 0, y = 0, back = 0, up = 0;
    ASSERT_TRUE(applyTransform(h, 100.5, 40.5, x, y));
    ASSERT_TRUE(applyTransform(inverse, x, y, back, up));
    EXPECT_NEAR(back, 100.5, 1e-9);
    EXPECT_NEAR(up, 40.5, 1e-9);

    // b first, then a.
    const Transform a = similarity(0, 1, 10, 0);
    const Transform b = similarity(0, 2, 0, 0);
    ASSERT_TRUE(applyTransform(multiply(a, b), 1, 1, x, y));
    EXPECT_DOUBLE_EQ(x, 12);
    EXPECT_DOUBLE_EQ(y, 2);
}

TEST(AlignTransform, SingularAndNonFiniteMatricesAreRefused)
{
    Transform zero;
    zero.m.fill(0);
    Transform out;
    EXPECT_FALSE(invert(zero, out));
    Transform flat = identityTransform();
    flat.m[4] = 0; // every point onto one line
    EXPECT_FALSE(isUsable(flat));
    Transform broken = identityTransform();
    broken.m[2] = NAN;
    EXPECT_FALSE(isUsable(broken));
    EXPECT_TRUE(isUsable(similarity(10, 0.5, 100, 100)));
}

TEST(AlignTransform, ProxiesShareTheOriginAtTheTopLeftCorner)
{
    // The convention: pixel (i, j) has its centre at (i + 0.5, j + 0.5), the frame covers
    // [0, W] x [0, H], and a proxy shrunk by s has coordinates divided by s. A shift of 4 pixels
    // of the frame is a shift of 1 pixel of a proxy shrunk by 4, and a rotation about the
    // frame's centre (W/2, H/2) is one about the proxy's centre.
    const Transform shift = similarity(0, 1, 4, -8);
    const Transform small = rescaled(shift, 1.0 / 4);
    EXPECT_DOUBLE_EQ(small.m[2], 1);
    EXPECT_DOUBLE_EQ(small.m[5], -2);
    const double w = 640, h = 480;
    const double a = 2 * 3.14159265358979323846 / 180;
    Transform turn;
    turn.m = {std::cos(a),
              -std::sin(a),
              w / 2 - std::cos(a) * w / 2 + std::sin(a) * h / 2,
              std::sin(a),
              std::cos(a),
              h / 2 - std::sin(a) * w / 2 - std::cos(a) * h / 2,
              0,
              0,
              1};
    double x = 0, y = 0;
    ASSERT_TRUE(applyTransform(rescaled(turn, 1.0 / 4), w / 8, h / 8, x, y));
    EXPECT_NEAR(x, w / 8, 1e-12);
    EXPECT_NEAR(y, h / 8, 1e-12);
    // And back again exactly.
    const Transform again = rescaled(rescaled(turn, 1.0 / 4), 4);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_NEAR(again.m[i], turn.m[i], 1e-12);
    }
}

TEST(AlignTransform, CornerDistancesMeasureHowFarTheFrameMoves)
{
    EXPECT_DOUBLE_EQ(cornerDisplacement(identityTransform(), 640, 480), 0);
    EXPECT_DOUBLE_EQ(cornerDisplacement(similarity(0, 1, 3, 4), 640, 480), 5);
    // A scale about the origin moves the far corner most.
    EXPECT_NEAR(cornerDisplacement(similarity(0, 1.01, 0, 0), 300, 400), 5, 1e-9);
    EXPECT_NEAR(meanCornerDistance(similarity(0, 1.01, 0, 0), identityTransform(), 300, 400),
                (0 + 3 + 4 + 5) / 4.0, 1e-9);
    Transform away = identityTransform();
    away.m[6] = -1; // the corner x = 1 goes to infinity
    EXPECT_TRUE(std::isinf(cornerDisplacement(away, 1, 1)));
}

} // namespace
