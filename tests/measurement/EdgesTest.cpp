#include "measurement/Edges.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace merkanix;

namespace {
Picture GreyPicture(const std::function<int(int x, int y)>& grey) {
    Picture p(656, 492);
    for (int y = 0; y < 492; ++y)
        for (int x = 0; x < 656; ++x)
            p.SetGrey(x, y, static_cast<std::uint8_t>(grey(x, y)));
    return p;
}

// Rows [top, top + 100) dark on a bright backlight; `top` may depend on the column.
Picture Band(const std::function<int(int x)>& top) {
    return GreyPicture([&](int x, int y) { return y >= top(x) && y < top(x) + 100 ? 25 : 250; });
}
} // namespace

TEST(MeanEdges, TheLastRowBeforeEachChangeTrimmedStripMeansAndNoneWithoutAChange) {
    const std::tuple<Picture, double, double> cases[] = {
        {GreyPicture([](int, int) { return 200; }), 491, 0},
        // The border of the frame must not pass for an edge.
        {Band([](int) { return 200; }), 199, 299},
        {GreyPicture([](int, int y) { return y >= 120 && y < 180 ? 255 : 10; }), 119, 179},
        // Strips 0..9 carry their band 60 rows higher: the ten outliers of
        // each kind are left out of the means.
        {Band([](int x) { return x / 16 < 10 ? 140 : 200; }), 199, 299}};
    for (const auto& [picture, top, bottom] : cases) {
        const EdgePair e = MeanEdges(picture, 10.0);
        EXPECT_EQ((std::array{e.top, e.bottom}), (std::array{top, bottom}));
    }
    // The end rows keep the level: the kept taps are rescaled to sum 1.
    StripArrays profiles;
    ASSERT_TRUE(StripProfiles(std::get<0>(cases[0]), profiles));
    for (int y : {0, 1, 2, 245, 489, 490, 491})
        EXPECT_NEAR(profiles[0][y], 200.0, 1e-12) << y;
    // A tilt spreads the strip edges; the mean lies between them.
    const double top = MeanEdges(Band([](int x) { return 200 + x / 64; }), 10.0).top;
    EXPECT_TRUE(top > 199.0 && top < 209.0 && top != std::floor(top)) << top;
    // Other picture sizes have no edges.
    EXPECT_TRUE(std::isnan(MeanEdges(Picture(100, 100), 10.0).top));
    EXPECT_TRUE(std::isnan(MeanEdges(Picture(), 10.0).bottom));
}

TEST(StripEdges, ThresholdClimbAndTheRowsNeverExamined) {
    // One derivative profile in every strip; its top and bottom edge.
    const auto edges = [](std::vector<std::pair<int, double>> values) {
        StripArrays d{};
        for (auto& strip : d)
            for (const auto& [row, value] : values)
                strip[row] = value;
        StripEdgeRows rows;
        StripEdges(d, 10.0, rows);
        return std::pair{rows[0], rows[kStripCount]};
    };
    // Exactly at the threshold: no edge.
    EXPECT_EQ(edges({{100, 10.0}, {300, 10.0}}), std::pair(491, 0));
    // The climb starts after the first row above: the peak there gives i + 1.
    EXPECT_EQ(edges({{100, 100.0}, {101, 50.0}}).first, 101);
    EXPECT_EQ(edges({{100, 20.0}, {101, 40.0}, {102, 60.0}, {103, 100.0}, {104, 5.0}}).first, 103);
    // A plateau: the top climb runs to its last row, the bottom climb to its first.
    EXPECT_EQ(edges({{300, 50.0}, {301, 80.0}, {302, 80.0}, {303, 80.0}, {304, 20.0}}),
              std::pair(303, 301));
    // Row 0 is never examined from the top, row 491 never from the bottom.
    EXPECT_EQ(edges({{0, 90.0}, {491, 90.0}}), std::pair(491, 0));
    EXPECT_EQ(edges({{491, 90.0}}).first, 491);
    EXPECT_EQ(edges({{0, 90.0}}).second, 0);
}

TEST(ShowMeanEdges41, DrawsTheRoundedRowsInRedAndOrangeAcrossThePicture) {
    Picture p = Band([](int) { return 200; });
    const auto bgr = [&](int x, int y) {
        return std::array<int, 3>{p.Pixel(x, y)[0], p.Pixel(x, y)[1], p.Pixel(x, y)[2]};
    };
    ASSERT_EQ(ShowMeanEdges41(p).top, 199.0);
    for (int x : {0, 655})
        EXPECT_EQ((std::array{bgr(x, 199), bgr(x, 299), bgr(x, 200)}),
                  (std::array<std::array<int, 3>, 3>{{{0, 0, 255}, {0, 140, 255}, {25, 25, 25}}}));
    DrawEdgeRows(p, {10.5, 11.5}); // ties to even: rows 10 and 12
    EXPECT_EQ((std::array{bgr(0, 10)[2], bgr(0, 12)[1], bgr(0, 11)[2]}),
              (std::array{255, 140, 250}));
    Picture small(100, 100);
    EXPECT_TRUE(std::isnan(ShowMeanEdges41(small).bottom));
}
