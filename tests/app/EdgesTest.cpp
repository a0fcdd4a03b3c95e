#include "app/Edges.h"
#include "app/FrameFile.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace merkanix;

namespace {
Picture GreyPicture(const std::function<std::uint8_t(int x, int y)>& grey) {
    Picture p(656, 492);
    for (int y = 0; y < 492; ++y)
        for (int x = 0; x < 656; ++x)
            p.SetGrey(x, y, grey(x, y));
    return p;
}

// One derivative profile copied into every strip.
StripArrays Derivatives(const std::vector<std::pair<int, double>>& values) {
    StripArrays d{};
    for (auto& strip : d)
        for (const auto& [row, value] : values)
            strip[row] = value;
    return d;
}

std::pair<int, int> EdgesOf(const StripArrays& d) {
    StripEdgeRows edges;
    StripEdges(d, 10.0, edges);
    return {edges[0], edges[41]};
}
} // namespace

TEST(MeanEdges, AUniformPictureHasNoEdgesAtAll) {
    const Picture flat = GreyPicture([](int, int) { return 200; });
    StripArrays profiles;
    ASSERT_TRUE(StripProfiles(flat, profiles));
    // The end rows keep the level: the kept taps are rescaled to sum 1.
    for (int y : {0, 1, 2, 245, 489, 490, 491})
        EXPECT_NEAR(profiles[0][y], 200.0, 1e-12) << y;
    StripArrays d;
    StripDerivatives(profiles, d);
    for (double v : d[17])
        EXPECT_LT(v, 1e-9);
    const EdgePair e = MeanEdges(flat, 10.0);
    EXPECT_EQ(e.top, 491.0);
    EXPECT_EQ(e.bottom, 0.0);
}

TEST(MeanEdges, FindsADarkFibreInFrontOfABrightBacklight) {
    // Bright background rows, dark band 200..299: the border of the frame must
    // not pass for an edge.
    const Picture band = GreyPicture([](int, int y) { return y >= 200 && y < 300 ? 25 : 250; });
    const EdgePair e = MeanEdges(band, 10.0);
    EXPECT_EQ(e.top, 199.0);    // the last bright row before the fall
    EXPECT_EQ(e.bottom, 299.0); // the last dark row before the rise
    const Picture bright = GreyPicture([](int, int y) { return y >= 120 && y < 180 ? 255 : 10; });
    EXPECT_EQ(MeanEdges(bright, 10.0).top, 119.0);
}

TEST(MeanEdges, TenOutlyingStripsOfEachKindDoNotMoveTheMeans) {
    // Strips 0..9 carry their band 60 rows higher than the other 31.
    const Picture p = GreyPicture([](int x, int y) {
        const int shift = x / 16 < 10 ? -60 : 0;
        return y >= 200 + shift && y < 300 + shift ? 25 : 250;
    });
    const EdgePair e = MeanEdges(p, 10.0);
    EXPECT_EQ(e.top, 199.0);
    EXPECT_EQ(e.bottom, 299.0);
    // A tilt spreads the strip edges; the mean lies between them.
    const Picture tilted = GreyPicture([](int x, int y) {
        const int top = 200 + x / 64;
        return y >= top && y < top + 100 ? 25 : 250;
    });
    const EdgePair t = MeanEdges(tilted, 10.0);
    EXPECT_GT(t.top, 199.0);
    EXPECT_LT(t.top, 209.0);
    EXPECT_NE(t.top, std::floor(t.top));
}

TEST(StripEdges, ThresholdIsStrictAndTheClimbStartsAfterTheFirstRowAbove) {
    // Exactly at the threshold: no edge.
    EXPECT_EQ(EdgesOf(Derivatives({{100, 10.0}, {300, 10.0}})), std::make_pair(491, 0));
    // The first row above is the peak and the next is lower: edge i + 1.
    EXPECT_EQ(EdgesOf(Derivatives({{100, 100.0}, {101, 50.0}})).first, 101);
    // Rising to a peak at 103 after crossing at 100.
    EXPECT_EQ(
        EdgesOf(Derivatives({{100, 20.0}, {101, 40.0}, {102, 60.0}, {103, 100.0}, {104, 5.0}}))
            .first,
        103);
    // A plateau: the top climb runs to its last row, the bottom climb to its first.
    const auto plateau =
        Derivatives({{300, 50.0}, {301, 80.0}, {302, 80.0}, {303, 80.0}, {304, 20.0}});
    EXPECT_EQ(EdgesOf(plateau), std::make_pair(303, 301));
    // Row 0 is never examined from the top, row 491 never from the bottom.
    EXPECT_EQ(EdgesOf(Derivatives({{0, 90.0}, {491, 90.0}})), std::make_pair(491, 0));
    // Found at the last examined row: the search "ends" there.
    EXPECT_EQ(EdgesOf(Derivatives({{491, 90.0}})).first, 491);
    EXPECT_EQ(EdgesOf(Derivatives({{0, 90.0}})).second, 0);
}

TEST(MeanEdges, OtherPictureSizesGiveNoEdges) {
    Picture small(100, 100);
    EXPECT_TRUE(std::isnan(MeanEdges(small, 10.0).top));
    EXPECT_TRUE(std::isnan(ShowMeanEdges41(small).bottom));
    EXPECT_TRUE(std::isnan(MeanEdges(Picture(), 10.0).top));
}

TEST(ShowMeanEdges41, DrawsTheRoundedRowsInRedAndOrange) {
    Picture p = GreyPicture([](int, int y) { return y >= 200 && y < 300 ? 25 : 250; });
    const EdgePair e = ShowMeanEdges41(p);
    ASSERT_EQ(e.top, 199.0);
    for (int x : {0, 300, 655}) {
        EXPECT_EQ(p.Pixel(x, 199)[0], 0);
        EXPECT_EQ(p.Pixel(x, 199)[1], 0);
        EXPECT_EQ(p.Pixel(x, 199)[2], 255);
        EXPECT_EQ(p.Pixel(x, 299)[0], 0);
        EXPECT_EQ(p.Pixel(x, 299)[1], 140);
        EXPECT_EQ(p.Pixel(x, 299)[2], 255);
    }
    EXPECT_EQ(p.Blue(5, 200), 25);
    Picture q(656, 492);
    DrawEdgeRows(q, {10.5, 11.5}); // ties to even: rows 10 and 12
    EXPECT_EQ(q.Pixel(0, 10)[2], 255);
    EXPECT_EQ(q.Pixel(0, 12)[1], 140);
    EXPECT_EQ(q.Pixel(0, 11)[2], 0);
}
