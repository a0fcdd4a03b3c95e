#include "registration/HistoUnit.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace merkanix::registration {
namespace {

Picture Grey(int w, int h, std::uint8_t level) {
    Picture p(w, h);
    std::fill(p.bgr.begin(), p.bgr.end(), level);
    return p;
}

bool AllGrey(const Picture& p, std::uint8_t level) {
    return std::all_of(p.bgr.begin(), p.bgr.end(), [&](std::uint8_t b) { return b == level; });
}

TEST(Histogram, CountsTheBlueByteOnly) {
    Picture p = Grey(4, 3, 10);
    p.Pixel(1, 1)[0] = 200; // green and red are not read
    THistogram h{};
    h[7] = 99;
    Histogram(p, h);
    EXPECT_EQ((std::array{h[10], h[200], h[7]}), (std::array{11u, 1u, 0u}));
    Histogram(Picture(), h); // an empty picture leaves the counts alone
    EXPECT_EQ(h[10], 11u);
}

TEST(IterativeThreshold, SettlesBetweenTheClassMeansAndBinarises) {
    Picture target(8, 8);
    // All black settles at the middle; from 255 every level falls into the
    // lower class at once, so both means are the picture's level.
    EXPECT_EQ(IterativeThreshold(Grey(8, 8, 0), target, 1e-6, 128), 127.5);
    EXPECT_TRUE(AllGrey(target, 0));
    EXPECT_EQ(IterativeThreshold(Grey(8, 8, 200), target, 1e-6, 255), (200 + 255) / 2.0);
    EXPECT_TRUE(AllGrey(target, 0));

    Picture p = Grey(10, 10, 40);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 3; ++x)
            p.SetGrey(x, y, 200);
    Picture binary(10, 10);
    EXPECT_EQ(IterativeThreshold(p, binary, 1e-6, 128), 120.0);
    EXPECT_EQ(binary.Blue(0, 0), 255);
    EXPECT_EQ(binary.Pixel(5, 5)[2], 0);
    // A tolerance of zero or below still ends.
    EXPECT_EQ(IterativeThreshold(p, binary, 0.0, 10), IterativeThreshold(p, binary, 1e-9, 10));
    EXPECT_EQ(IterativeThreshold(p, binary, -1.0, 10), 120.0);

    // A level equal to the threshold counts as lower and turns black.
    Picture tie = Grey(2, 1, 127);
    Picture out(2, 1);
    EXPECT_EQ(IterativeThreshold(tie, out, 1e-6, 127), 127.0 / 2 + 255.0 / 2);
    EXPECT_EQ(out.Blue(0, 0), 0);
}

TEST(IterativeThreshold, NothingHappensForAnEmptySourceOrAnotherSize) {
    Picture other = Grey(5, 4, 9);
    EXPECT_EQ(IterativeThreshold(Grey(4, 4, 100), other, 1e-6, 128), 0.0);
    EXPECT_TRUE(AllGrey(other, 9));
    Picture empty;
    EXPECT_EQ(IterativeThreshold(Picture(), empty, 1e-6, 128), 0.0);
}

} // namespace
} // namespace merkanix::registration
