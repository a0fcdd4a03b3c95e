#include "calibration/CalibrationUnit.h"
#include "app/Errors.h"

#include <gtest/gtest.h>

using namespace merkanix;

namespace {
int CountColoured(const Picture& p, TColor colour) {
    int n = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.Pixel(x, y);
            n += px[0] == (colour >> 16 & 0xFF) && px[1] == (colour >> 8 & 0xFF) &&
                 px[2] == (colour & 0xFF);
        }
    return n;
}

// The rows at which a camera sees the two sides of a cylinder of radius R
// on the origin: the sight lines at those rows touch the circle.
std::pair<double, double> EtalonRows(const char* camera, Point2D lens, double f, double yc,
                                     double R) {
    const auto distance = [&](double row) {
        const Line2D l = SightLine(camera, lens.x, lens.y, f, yc, row);
        return l.c / std::hypot(l.a, l.b); // signed distance of the origin
    };
    const auto solve = [&](double target, double lo, double hi) {
        for (int i = 0; i < 200; ++i) {
            const double mid = (lo + hi) / 2;
            ((distance(mid) - target) * (distance(lo) - target) <= 0 ? hi : lo) = mid;
        }
        return (lo + hi) / 2;
    };
    const double a = solve(R, 0, 492), b = solve(-R, 0, 492);
    return {std::min(a, b), std::max(a, b)};
}
} // namespace

TEST(DrawMarker, APlusOfNinePixelsClippedToThePicture) {
    Picture p(656, 492);
    DrawMarker(p, kBlue, 327.5, 245.5); // ties to even: 328, 246
    EXPECT_EQ(CountColoured(p, kBlue), 9);
    EXPECT_EQ(p.Pixel(328, 246)[0], 255);
    EXPECT_EQ(p.Pixel(330, 246)[0], 255);
    EXPECT_EQ(p.Pixel(328, 244)[0], 255);
    EXPECT_EQ(p.Pixel(329, 247)[0], 0);

    Picture corner(656, 492);
    DrawMarker(corner, kRed, 0, 0);
    EXPECT_EQ(CountColoured(corner, kRed), 5);
    Picture edge(656, 492);
    DrawMarker(edge, kRed, 655.6, 400); // the centre rounds off the picture
    EXPECT_EQ(CountColoured(edge, kRed), 2);

    Picture untouched(656, 492);
    for (auto [x, y] : {std::pair{-0.1, 10.0}, {656.0, 10.0}, {10.0, 492.0}, {std::nan(""), 1.0}})
        DrawMarker(untouched, kRed, x, y);
    EXPECT_EQ(CountColoured(untouched, kRed), 0);
    Picture empty;
    DrawMarker(empty, kRed, 1, 1);
    EXPECT_TRUE(empty.Empty());
}

TEST(CameraPosition, EqualEdgeDistancesPlaceTheCameraOnItsAxis) {
    Point2D p3, p1, p2;
    ASSERT_TRUE(CameraPosition("CAM3", p3, 23, 245.5, 200.5, 290.5, 1.02));
    ASSERT_TRUE(CameraPosition("CAM1", p1, 23, 245.5, 200.5, 290.5, 1.02));
    ASSERT_TRUE(CameraPosition("CAM2", p2, 23, 245.5, 200.5, 290.5, 1.02));
    EXPECT_EQ(p3.x, 0);
    const double rho = -p3.y;
    EXPECT_GT(rho, 40);
    const double c = std::sqrt(3.0) / 2;
    EXPECT_NEAR(p1.x, -c * rho, 1e-12);
    EXPECT_NEAR(p1.y, rho / 2, 1e-12);
    EXPECT_NEAR(p2.x, c * rho, 1e-12);
    EXPECT_NEAR(p2.y, rho / 2, 1e-12);
}

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
}

TEST(CameraPosition, OutOfRangeLeavesThePositionAndEqualRowsDivideByZero) {
    Point2D p{7, 8};
    EXPECT_FALSE(CameraPosition("CAM4", p, 23, 245.5, 200, 290, 1));
    EXPECT_FALSE(CameraPosition("CAM3", p, 0, 245.5, 200, 290, 1));
    EXPECT_FALSE(CameraPosition("CAM3", p, 23, 245.5, 200, 290, 0));
    EXPECT_FALSE(CameraPosition("CAM3", p, 23, 245.5, 200, 492.5, 1));
    EXPECT_FALSE(CameraPosition("CAM3", p, 23, -1, 200, 290, 1));
    EXPECT_EQ(p.x, 7);
    EXPECT_EQ(p.y, 8);
    try {
        CameraPosition("CAM2", p, 23, 245.5, 250, 250, 1);
        FAIL();
    } catch (const FloatingPointError& e) {
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}
