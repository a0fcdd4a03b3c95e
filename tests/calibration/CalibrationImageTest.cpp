#include "calibration/CalibrationUnit.h"

#include "common/Errors.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace merkanix {
namespace {

Picture Uniform(int w, int h, std::uint8_t level) {
    Picture p(w, h);
    std::fill(p.bgr.begin(), p.bgr.end(), level);
    return p;
}

TEST(LoadCalibrationFrame, ScalesToTheBrightestSampleRoundingHalfToEven) {
    testing::ScratchFolder folder;
    std::vector<std::uint16_t> samples(kFrameSamples, 0);
    samples[0] = 510; // the maximum: 255
    samples[1] = 1;   // 0.5 -> 0
    samples[2] = 3;   // 1.5 -> 2
    samples[3] = 5;   // 2.5 -> 2
    testing::WriteFrame(folder / "frame.tif", samples);
    CalibrationImage image;
    LoadCalibrationFrame(folder / "frame.tif", image);
    ASSERT_EQ(image.size(), static_cast<std::size_t>(kFrameSamples));
    EXPECT_EQ((std::array{image[0], image[1], image[2], image[3]}),
              (std::array{255.0f, 0.0f, 2.0f, 2.0f}));
    // A short file's missing samples count as 0; an all-black frame stays 0.
    testing::WriteFrame(folder / "short.tif", std::vector<std::uint16_t>(100, 7));
    LoadCalibrationFrame(folder / "short.tif", image);
    EXPECT_EQ((std::array{image[99], image[100]}), (std::array{255.0f, 0.0f}));
    testing::WriteFrame(folder / "black.tif", {});
    LoadCalibrationFrame(folder / "black.tif", image);
    EXPECT_EQ(*std::max_element(image.begin(), image.end()), 0.0f);
    EXPECT_THROW(LoadCalibrationFrame(folder / "missing.tif", image), InOutError);
}

TEST(ZeroFillAndRescale, PadRescaleAndRefuse) {
    const std::vector<float> src = {1, 2, 3, 4, 5, 6}; // 3 x 2
    std::vector<float> out(16, -1.0f);
    ASSERT_TRUE(ZeroFill(src.data(), 3, 2, 4, out.data()));
    EXPECT_EQ(out, (std::vector<float>{1, 2, 3, 0, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::vector<float> untouched(9, -1.0f);
    EXPECT_FALSE(ZeroFill(src.data(), 3, 2, 3, untouched.data())); // w must be below N
    EXPECT_EQ(untouched[0], -1.0f);

    std::vector<float> image(656 * 492);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<float>(i % 251);
    std::vector<float> rescaled;
    int w = 0, h = 0;
    ASSERT_TRUE(RescaleImage(image.data(), 656, 492, 1.0f, rescaled, w, h));
    EXPECT_EQ(rescaled, image);
    ASSERT_TRUE(RescaleImage(image.data(), 656, 492, 0.9071f, rescaled, w, h));
    EXPECT_EQ((std::array{w, h}), (std::array{595, 446})); // trunc(656 * 0.9071)
    // Magnifying samples (h - 1) / H' apart; the last row and column repeat.
    const std::vector<float> ramp = {0, 10, 20, 30};
    ASSERT_TRUE(RescaleImage(ramp.data(), 2, 2, 2.0f, rescaled, w, h));
    EXPECT_EQ(w, 4);
    EXPECT_FLOAT_EQ(rescaled[1], 2.5f); // x = 1/4
    EXPECT_FLOAT_EQ(rescaled[3], 7.5f); // x = 3/4
    EXPECT_FLOAT_EQ(rescaled[15], 30.0f * 0.75f * 0.75f + 20 * 0.75f * 0.25f + 10 * 0.25f * 0.75f);

    std::vector<float> keep = {42};
    for (const float s : {0.0f, 1.6f /* beyond 1024 */, 0.001f /* no rows left */})
        EXPECT_FALSE(RescaleImage(image.data(), 656, 492, s, keep, w, h)) << s;
    EXPECT_EQ(keep, std::vector<float>{42});
}

TEST(BoxFilter, IntegralImageAndTheCutWindowAtTheCorner) {
    Picture p(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            p.SetGrey(x, y, static_cast<std::uint8_t>(1 + x + 3 * y));
    const TIntMatrix S = IntegralImage(p);
    ASSERT_EQ(S.size(), 3u);
    EXPECT_EQ((std::array{S[0][0], S[2][0], S[0][1], S[2][1]}), (std::array{1, 6, 5, 21}));
    EXPECT_TRUE(IntegralImage(Picture()).empty());

    // k = 79 on a frame: r = 40, so the corner pixel averages 40 x 40 pixels.
    Picture frame = Uniform(656, 492, 0);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            frame.SetGrey(x, y, 200);
    frame.SetGrey(40, 0, 255); // just outside the corner window
    Picture filtered(656, 492);
    BoxFilter(frame, filtered, 79);
    EXPECT_EQ(filtered.Blue(0, 0), 200);
    EXPECT_EQ(filtered.Pixel(0, 0)[2], 200);
    // Inside: 1600 of 6241 pixels at 200 plus one at 255, rounded.
    EXPECT_EQ(filtered.Blue(39, 39), static_cast<int>(std::nearbyint((1600 * 200 + 255) / 6241.0)));

    // Even, too large or non-positive kernels, or pictures of another size: nothing.
    for (const int k : {0, 4, 492, -3}) {
        Picture same = Uniform(656, 492, 7);
        BoxFilter(frame, same, k);
        EXPECT_EQ(same.Blue(0, 0), 7) << k;
    }
    Picture other = Uniform(10, 10, 7);
    BoxFilter(frame, other, 3);
    EXPECT_EQ(other.Blue(0, 0), 7);
}

TEST(IlluminationCorrection, MeanGreyAndAFlattenedGradient) {
    Picture half = Uniform(2, 1, 0);
    half.SetGrey(1, 0, 1); // mean 0.5 rounds to 0
    EXPECT_EQ(MeanGrey(half), 0);
    half.SetGrey(0, 0, 2); // 1.5 rounds to 2
    EXPECT_EQ(MeanGrey(half), 2);
    EXPECT_EQ(MeanGrey(Picture()), 0);

    // A slow left-to-right gradient with one dark line: the line stays, the
    // gradient goes, and in place the source is still the one subtracted from.
    Picture lit(200, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x)
            lit.SetGrey(x, y, static_cast<std::uint8_t>(y == 50 ? 20 : 100 + x / 2));
    Picture corrected(200, 100);
    IlluminationCorrection(lit, corrected, 31, 2);
    const int left = corrected.Blue(40, 20), right = corrected.Blue(160, 20);
    EXPECT_LE(std::abs(left - right), 3);
    EXPECT_LT(corrected.Blue(100, 50), left - 50);
    IlluminationCorrection(lit, lit, 31, 2);
    EXPECT_EQ(lit.bgr, corrected.bgr);
}

TEST(SuppressStripes, VerticalLinesOfThePeriodFadeAndHorizontalOnesStay) {
    const int period = 11;
    Picture paper(200, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x)
            paper.SetGrey(x, y, static_cast<std::uint8_t>(x % period == 0 || y == 20 ? 30 : 220));
    Picture smooth(200, 40);
    SuppressStripes(paper, smooth, period);
    // Far from the start the recursive mean leaves a ripple of about a
    // tenth of the stripes' contrast of 190 (measured 15).
    int lowest = 255, highest = 0;
    for (int x = 100; x < 200; ++x) {
        lowest = std::min<int>(lowest, smooth.Blue(x, 5));
        highest = std::max<int>(highest, smooth.Blue(x, 5));
    }
    EXPECT_LE(highest - lowest, 19);
    EXPECT_LT(smooth.Blue(150, 20), lowest - 100);
    // Even periods, periods not below the width: nothing.
    for (const int p : {10, 0, 200}) {
        Picture same = Uniform(200, 40, 9);
        SuppressStripes(paper, same, p);
        EXPECT_EQ(same.Blue(5, 5), 9) << p;
    }
    SuppressStripes(paper, paper, period); // in place, one row at a time
    EXPECT_EQ(paper.bgr, smooth.bgr);
}

TEST(OpticalCentre, FixedPointOfTheMagnification) {
    Point2D c{-1, -1};
    ASSERT_TRUE(OpticalCentre(492, 656, 1.0, 12, 7, c));
    EXPECT_EQ((std::array{c.x, c.y}), (std::array{0.0, 0.0}));
    // Shrinking and magnifying, with the shifts of the centre (320, 250).
    for (const auto& [m, dx, dy] : {std::tuple{0.9, 32.0, 25.0}, {1.25, 64.0, 50.0}}) {
        ASSERT_TRUE(OpticalCentre(492, 656, m, dx, dy, c));
        EXPECT_NEAR(c.x, 320, 1e-9) << m;
        EXPECT_NEAR(c.y, 250, 1e-9) << m;
    }
    c = {-1, -1};
    EXPECT_FALSE(OpticalCentre(492, 656, 0.0, 1, 1, c));
    EXPECT_FALSE(OpticalCentre(0, 656, 0.9, 1, 1, c));
    EXPECT_EQ(c.x, -1.0);
}

TEST(FindLines, LeastSquaresLinesAcrossThePictureOnly) {
    // Black lines 2 rows thick, 40 rows apart, slope 0.01; then a segment
    // that stops short of the right border gives no line.
    Picture p = Uniform(300, 200, 255);
    for (int row = 20; row + 2 < 198; row += 40)
        for (int x = 0; x < 300; ++x)
            for (int t = 0; t < 2; ++t)
                p.SetGrey(x, static_cast<int>(row + 0.01 * x) + t, 0);
    for (int x = 0; x < 250; ++x)
        p.SetGrey(x, 190, 0);
    const std::vector<FittedLine> lines = FindLines(p);
    ASSERT_EQ(lines.size(), 5u);
    for (std::size_t i = 0; i < lines.size(); ++i) { // top to bottom
        EXPECT_NEAR(lines[i].a, 0.01, 2e-3);
        EXPECT_EQ(lines[i].b, -1.0);
        EXPECT_NEAR(lines[i].c, 20.5 + 40.0 * static_cast<double>(i), 0.6);
        EXPECT_NEAR(lines[i].angle, std::atan(0.01) * 180 / M_PI, 0.15);
    }
    // A one-column picture touches both sides at once but has no slope.
    EXPECT_TRUE(FindLines(Uniform(1, 10, 0)).empty());
    // A line that leaves the picture between the borders.
    Picture steep = Uniform(50, 20, 255);
    for (int x = 0; x < 50; ++x)
        for (int y = 0; y < 20; ++y)
            if (y == (x * 19) / 49 || x < 3) steep.SetGrey(x, y, 0);
    for (const FittedLine& line : FindLines(steep))
        EXPECT_TRUE(line.c >= 0.0 && 49 * line.a + line.c <= 19.0);
}

FittedLine Horizontal(double c, double angle) {
    FittedLine l;
    l.a = std::tan(angle * M_PI / 180);
    l.c = c;
    l.angle = angle;
    return l;
}

TEST(MillimetreSize, GapsBetweenTheOuterLinesAfterDroppingOutliers) {
    std::vector<FittedLine> lines;
    for (int i = 0; i < 6; ++i)
        lines.push_back(Horizontal(100 + 40.0 * i, 0.1 + 0.01 * (i % 3)));
    EXPECT_NEAR(MillimetreSize(lines, 328, 246, 3.5), 40.0, 0.05);
    // A steep outlier at the end is dropped, and the gap count follows.
    lines.push_back(Horizontal(400, 8.0));
    EXPECT_NEAR(MillimetreSize(lines, 328, 246, 3.5), 40.0, 0.05);
    EXPECT_TRUE(std::isnan(MillimetreSize({Horizontal(1, 0)}, 0, 0, 3.5)));

    // 0.1, 0.1, 5: the median absolute deviation is 0 and the outlier test
    // divides by it; with only equal angles it is 0 / 0.
    EXPECT_EQ(testing::MessageOf<FloatingPointError>([] {
                  MillimetreSize({Horizontal(10, 0.1), Horizontal(50, 0.1), Horizontal(90, 5.0)}, 0,
                                 0, 3.5);
              }),
              kDivisionByZeroText);
    EXPECT_EQ(testing::MessageOf<FloatingPointError>([] {
                  MillimetreSize({Horizontal(10, 0.1), Horizontal(50, 0.1)}, 0, 0, 3.5);
              }),
              kInvalidOperationText);
    // A line without a normal makes the distance infinite.
    FittedLine none;
    none.b = 0;
    none.angle = 0.2;
    EXPECT_EQ(MillimetreSize({Horizontal(10, 0.1), Horizontal(20, 0.3), none}, 0, 0, 3.5),
              std::numeric_limits<double>::infinity());

    const Point2D cross = LineIntersection(1, -1, 0, 1, 1, -4); // y = x and x + y = 4
    EXPECT_EQ((std::array{cross.x, cross.y}), (std::array{2.0, 2.0}));
    const Point2D parallel = LineIntersection(0.5, -1, 3, 0.5, -1, 9);
    EXPECT_TRUE(std::isinf(parallel.x) && std::isinf(parallel.y));
}

} // namespace
} // namespace merkanix
