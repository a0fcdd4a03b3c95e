#include "calibration/CalibrationUnit.h"

#include "common/Errors.h"
#include "simulation/FrameSimulator.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace merkanix;

TEST(CameraPosition, FindsTheCameraThatSawTheEtalon) {
    const double c = std::sqrt(3.0) / 2;
    const Point2D cam3{1.5, -52.0};
    const Point2D cams[3] = {{c * cam3.y - cam3.x / 2, -c * cam3.x - cam3.y / 2},
                             {-cam3.x / 2 - c * cam3.y, c * cam3.x - cam3.y / 2},
                             cam3};
    const char* names[3] = {"CAM1", "CAM2", "CAM3"};
    for (int k = 0; k < 3; ++k) {
        // The rows whose sight lines touch an etalon of 1.02 mm on the origin.
        const simulation::BandRows rows = simulation::TangentRows(
            {names[k], 23, 327.5, 240, cams[k].x, cams[k].y}, {0.51, 0.51, 0, 0, 0});
        Point2D found;
        ASSERT_TRUE(CameraPosition(names[k], found, 23, 240, rows.top, rows.bottom, 1.02));
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
