#include "calibration/CalibrationUnit.h"

#include "common/Errors.h"
#include "reconstruction/EllipseUnit.h"
#include "support/Messages.h"

#include <gtest/gtest.h>

using namespace merkanix;

namespace {
// The rows at which a camera sees the two sides of a cylinder of radius R
// on the origin: the sight lines at those rows touch the circle.
std::pair<double, double> EtalonRows(const char* camera, Point2D lens, double f, double yc,
                                     double R) {
    const auto distance = [&](double row) {
        const Line2D l = SightLine(camera, lens.x, lens.y, f, yc, row);
        return l.c / std::hypot(l.a, l.b); // signed distance of the origin
    };
    const auto solve = [&](double target) {
        double lo = 0, hi = 492;
        for (int i = 0; i < 200; ++i) {
            const double mid = (lo + hi) / 2;
            ((distance(mid) - target) * (distance(lo) - target) <= 0 ? hi : lo) = mid;
        }
        return (lo + hi) / 2;
    };
    const double a = solve(R), b = solve(-R);
    return {std::min(a, b), std::max(a, b)};
}
} // namespace

TEST(CameraPosition, FindsTheCameraThatSawTheEtalon) {
    const double c = std::sqrt(3.0) / 2;
    const Point2D cam3{1.5, -52.0};
    const Point2D cams[3] = {{c * cam3.y - cam3.x / 2, -c * cam3.x - cam3.y / 2},
                             {-cam3.x / 2 - c * cam3.y, c * cam3.x - cam3.y / 2},
                             cam3};
    const char* names[3] = {"CAM1", "CAM2", "CAM3"};
    for (int k = 0; k < 3; ++k) {
        const auto [u, l] = EtalonRows(names[k], cams[k], 23, 240, 0.51);
        Point2D found;
        ASSERT_TRUE(CameraPosition(names[k], found, 23, 240, u, l, 1.02));
        EXPECT_NEAR(found.x, cams[k].x, 1e-6) << names[k];
        EXPECT_NEAR(found.y, cams[k].y, 1e-6) << names[k];
    }
    // Edges equally far from the centre row put the camera on its axis.
    Point2D onAxis;
    ASSERT_TRUE(CameraPosition("CAM3", onAxis, 23, 245.5, 200.5, 290.5, 1.02));
    EXPECT_EQ(onAxis.x, 0);
    EXPECT_GT(-onAxis.y, 40);
}

TEST(CameraPosition, OutOfRangeLeavesThePositionAndEqualRowsDivideByZero) {
    Point2D p{7, 8};
    EXPECT_FALSE(CameraPosition("CAM4", p, 23, 245.5, 200, 290, 1));
    EXPECT_FALSE(CameraPosition("CAM3", p, 0, 245.5, 200, 290, 1));
    EXPECT_FALSE(CameraPosition("CAM3", p, 23, 245.5, 200, 290, 0));
    EXPECT_FALSE(CameraPosition("CAM3", p, 23, 245.5, 200, 492.5, 1));
    EXPECT_FALSE(CameraPosition("CAM3", p, 23, -1, 200, 290, 1));
    EXPECT_EQ((std::array{p.x, p.y}), (std::array{7.0, 8.0}));
    EXPECT_EQ(merkanix::testing::MessageOf<FloatingPointError>(
                  [&] { CameraPosition("CAM2", p, 23, 245.5, 250, 250, 1); }),
              "Floating point division by zero");
}
