#include "common/Marker.h"

#include <cmath>
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
} // namespace

TEST(DrawMarker, APlusOfNinePixelsClippedToThePicture) {
    Picture p(656, 492);
    DrawMarker(p, kBlue, 327.5, 245.5); // ties to even: 328, 246
    EXPECT_EQ(CountColoured(p, kBlue), 9);
    for (const auto& [x, y] : {std::pair{328, 246}, {330, 246}, {328, 244}})
        EXPECT_EQ(p.Pixel(x, y)[0], 255);
    EXPECT_EQ(p.Pixel(329, 247)[0], 0);

    // Clipped at a corner, and a centre that rounds off the picture.
    const std::tuple<double, double, int> clipped[] = {{0, 0, 5},     {655.6, 400, 2},
                                                       {-0.1, 10, 0}, {656, 10, 0},
                                                       {10, 492, 0},  {std::nan(""), 1, 0}};
    for (const auto& [x, y, pixels] : clipped) {
        Picture q(656, 492);
        DrawMarker(q, kRed, x, y);
        EXPECT_EQ(CountColoured(q, kRed), pixels) << x << ", " << y;
    }
    Picture empty;
    DrawMarker(empty, kRed, 1, 1);
    EXPECT_TRUE(empty.Empty());
}
