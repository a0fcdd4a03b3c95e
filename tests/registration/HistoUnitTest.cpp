#include "registration/HistoUnit.h"

#include <gtest/gtest.h>

namespace merkanix::registration {
namespace {

Picture Grey(int w, int h, std::uint8_t level) {
    Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.SetGrey(x, y, level);
    return p;
}

bool AllGrey(const Picture& p, std::uint8_t level) {
    for (std::size_t i = 0; i < p.bgr.size(); ++i)
        if (p.bgr[i] != level) return false;
    return true;
}

TEST(Histogram, CountsTheBlueByte) {
    Picture p = Grey(4, 3, 10);
    p.Pixel(1, 1)[0] = 200; // green and red are not read
    THistogram h{};
    h[7] = 99;
    Histogram(p, h);
    EXPECT_EQ(h[10], 11u);
    EXPECT_EQ(h[200], 1u);
    EXPECT_EQ(h[7], 0u);
    THistogram untouched{};
    untouched[3] = 5;
    Histogram(Picture(), untouched);
    EXPECT_EQ(untouched[3], 5u);
}

TEST(IterativeThreshold, AllBlackSettlesAtTheMiddleAndStaysBlack) {
    const Picture black = Grey(8, 8, 0);
    Picture target(8, 8);
    EXPECT_EQ(IterativeThreshold(black, target, 1e-6, 128), 127.5);
    EXPECT_TRUE(AllGrey(target, 0));
    // From 255 every level falls into the lower class at the first step:
    // both means are the picture's level, and every pixel turns black.
    const Picture white = Grey(8, 8, 200);
    EXPECT_EQ(IterativeThreshold(white, target, 1e-6, 255), (200 + 255) / 2.0);
    EXPECT_TRUE(AllGrey(target, 0));
}

TEST(IterativeThreshold, TwoLevelsSplitBetweenTheirMeans) {
    Picture p = Grey(10, 10, 40);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 3; ++x)
            p.SetGrey(x, y, 200);
    Picture target(10, 10);
    const double T = IterativeThreshold(p, target, 1e-6, 128);
    EXPECT_EQ(T, 120.0);
    EXPECT_EQ(target.Blue(0, 0), 255);
    EXPECT_EQ(target.Blue(5, 5), 0);
    EXPECT_EQ(target.Pixel(5, 5)[2], 0);

    // A level equal to the threshold counts as lower and turns black.
    Picture tie = Grey(2, 1, 0);
    tie.SetGrey(1, 0, 254);
    Picture out(2, 1);
    EXPECT_EQ(IterativeThreshold(tie, out, 1e-6, 127), 127.0);
    tie.SetGrey(0, 0, 127);
    tie.SetGrey(1, 0, 127);
    EXPECT_EQ(IterativeThreshold(tie, out, 1e-6, 127), 127.0 / 2 + 255.0 / 2);
    EXPECT_EQ(out.Blue(0, 0), 0);
}

TEST(IterativeThreshold, ToleranceZeroOrBelowStillEnds) {
    Picture p = Grey(16, 16, 30);
    for (int x = 0; x < 16; ++x)
        p.SetGrey(x, 3, 220);
    Picture target(16, 16);
    const double reference = IterativeThreshold(p, target, 1e-9, 10);
    EXPECT_EQ(IterativeThreshold(p, target, 0.0, 10), reference);
    EXPECT_EQ(IterativeThreshold(p, target, -1.0, 10), reference);
}

TEST(IterativeThreshold, NothingHappensForAnEmptySourceOrAnotherSize) {
    const Picture p = Grey(4, 4, 100);
    Picture other = Grey(5, 4, 9);
    EXPECT_EQ(IterativeThreshold(p, other, 1e-6, 128), 0.0);
    EXPECT_TRUE(AllGrey(other, 9));
    Picture empty;
    EXPECT_EQ(IterativeThreshold(Picture(), empty, 1e-6, 128), 0.0);
}

} // namespace
} // namespace merkanix::registration
