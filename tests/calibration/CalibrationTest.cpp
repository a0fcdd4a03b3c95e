#include "calibration/CalibrationSteps.h"
#include "calibration/CalibrationUnit.h"
#include "calibration/CentreSearch.h"
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/Edges.h"
#include "measurement/FrameFile.h"
#include "registration/HistoUnit.h"
#include "simulation/CalibrationSimulator.h"
#include "simulation/FrameSimulator.h"
#include "support/TestFiles.h"

#include <cmath>
#include <gtest/gtest.h>
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
    // An all-black frame stays 0.
    testing::WriteFrame(folder / "black.tif", {});
    LoadCalibrationFrame(folder / "black.tif", image);
    EXPECT_EQ(*std::max_element(image.begin(), image.end()), 0.0f);
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

TEST(BoxFilter, TheCutWindowAtTheCornerAndRefusedKernels) {
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
    EXPECT_EQ(testing::MessageOf<FloatingPointError>(
                  [&] { CameraPosition("CAM2", p, 23, 245.5, 250, 250, 1); }),
              "Floating point division by zero");
}

struct SimulatedPair {
    simulation::CalibrationRun run;
    CalibrationImage image1, image2;
};

SimulatedPair Simulate(std::uint64_t seed, double xc, double yc, double reading1 = 35,
                       double reading2 = 30) {
    SimulatedPair pair;
    auto& run = pair.run;
    run.seed = seed;
    run.truth.xc = xc;
    run.truth.yc = yc;
    run.reading1 = reading1;
    run.reading2 = reading2;
    run.etalons = 0;
    run.paper.offsetX = 0.1 + 0.7 * static_cast<double>(seed % 5) / 5;
    run.paper.offsetY = 0.9 - 0.6 * static_cast<double>(seed % 3) / 3;
    run.etalonCamera = {"CAM3", 23, xc, yc, 0, -52};
    const auto frames = simulation::RenderCalibrationRun(run);
    testing::ScratchFolder folder;
    for (int i = 0; i < 2; ++i) {
        const std::string path = folder / frames[i].fileName;
        testing::WriteFrame(path, frames[i].samples);
        LoadCalibrationFrame(path, i == 0 ? pair.image1 : pair.image2);
    }
    return pair;
}

TEST(FindCentre, RecoversTheOpticalCentreOfSimulatedMillimetrePaper) {
    // Over 30 simulated pairs (centres within 20 px of the frame's middle,
    // noise, blur, uneven light) the error measured 2.8 px RMS, 5.0 px at
    // worst; the magnification comes out quantised to powers of b.
    const float b = registration::LogPolarBase(kRegistrationSize);
    struct Case {
        std::uint64_t seed;
        double xc, yc, reading1, reading2;
    };
    for (const Case& c : {Case{3, 322.46, 260.60, 35, 30}, Case{12, 331.42, 263.68, 30, 35}}) {
        const SimulatedPair pair = Simulate(c.seed, c.xc, c.yc, c.reading1, c.reading2);
        CentreSearchResult r;
        int gauge = -1;
        registration::RegistrationProgress progress{
            12, [&](int p) { gauge = std::max(gauge, p); }, {}};
        ASSERT_TRUE(FindCentre(pair.image1, pair.image2, CentreSearchSettings{}, r, progress));
        EXPECT_EQ(gauge, 12);
        const double m = (85 - c.reading1) / (85 - c.reading2);
        EXPECT_LE(std::fabs(std::log(r.rotationScale.magnification / m) / std::log(b)), 1.0);
        EXPECT_EQ(r.rotationScale.angle, 0.0f);
        EXPECT_EQ(r.rescaledImage, m < 1 ? 1 : 2);
        EXPECT_EQ(r.surface.size(), std::size_t{kRegistrationSize} * kRegistrationSize);
        const double error = std::hypot(r.centre.x - c.xc, r.centre.y - c.yc);
        std::printf("seed %llu: centre (%.2f, %.2f), true (%.2f, %.2f), error %.2f px\n",
                    static_cast<unsigned long long>(c.seed), r.centre.x, r.centre.y, c.xc, c.yc,
                    error);
        EXPECT_LT(error, 5.0);
    }
}

TEST(FindCentre, IdenticalImagesGiveMagnificationOneAndSettingsOutOfRangeNothing) {
    const SimulatedPair pair = Simulate(4, 320, 250);
    CentreSearchResult r;
    ASSERT_TRUE(FindCentre(pair.image1, pair.image1, CentreSearchSettings{}, r));
    EXPECT_EQ(r.rotationScale.magnification, 1.0f);
    EXPECT_EQ((std::array{r.centre.x, r.centre.y}), (std::array{0.0, 0.0}));
    EXPECT_NEAR(r.dx, 0.0, 1e-3);

    CentreSearchResult untouched;
    untouched.dx = 99;
    for (const auto& [epsilon, passes] : {std::pair{0.0, 50}, {1e-6, 0}}) {
        CentreSearchSettings settings;
        settings.epsilon = epsilon;
        settings.maximumPasses = passes;
        EXPECT_FALSE(FindCentre(pair.image1, pair.image2, settings, untouched));
    }
    EXPECT_EQ(untouched.dx, 99.0);
}

TEST(FocalLength, FromTheFartherImageAndTheCentreSearch) {
    // Image 2 (reading 30) is the farther one: 74.68 px per millimetre.
    const SimulatedPair pair = Simulate(5, 318.4, 252.7);
    CentreSearchResult r;
    ASSERT_TRUE(FindCentre(pair.image1, pair.image2, CentreSearchSettings{}, r));

    Picture farther(kFrameWidth, kFrameHeight);
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x)
            farther.SetGrey(
                x, y, static_cast<std::uint8_t>(std::nearbyint(pair.image2[y * kFrameWidth + x])));
    Picture corrected(kFrameWidth, kFrameHeight), flat(kFrameWidth, kFrameHeight),
        binary(kFrameWidth, kFrameHeight);
    IlluminationCorrection(farther, corrected, 79, 2);
    SuppressStripes(corrected, flat, 75); // the marked columns one millimetre apart
    registration::IterativeThreshold(flat, binary, 1e-6, 128);
    const std::vector<FittedLine> lines = FindLines(binary);
    EXPECT_GE(lines.size(), 4u);
    const double s = MillimetreSize(lines, r.centre.x, r.centre.y, 3.5);
    const double truth = simulation::PixelsPerMillimetre(pair.run.truth, 55);
    EXPECT_NEAR(s, truth, 0.01 * truth);

    const double f = FocalLength(r.centre.y, 5.0, s, r.dy);
    // f = ds p s / (1 - m) in effect, so the quantised magnification
    // (0.9071 for 0.9091) carries over: measured 22.5 mm for 23.
    std::printf("pixels per mm %.3f (true %.3f), focal length %.3f mm (true 23)\n", s, truth, f);
    EXPECT_NEAR(f, 23.0, 0.8);
}

TEST(FocalLength, ARowShiftOfZeroStopsWithTheFloatingPointError) {
    EXPECT_NEAR(FocalLength(250, 5, 74.68, 25), 250 * 5 * 0.0056 * 74.68 / 25, 1e-12);
    for (const auto& [row, message] :
         {std::pair{250.0, kDivisionByZeroText}, {0.0, kInvalidOperationText}}) {
        const double yc = row; // a binding of its own for the lambda
        EXPECT_EQ(testing::MessageOf<FloatingPointError>([yc] { FocalLength(yc, 5, 74.68, 0); }),
                  message);
    }
    EXPECT_TRUE(std::isnan(FocalLength(250, 5, std::nan(""), 0))); // NaN passes quietly
}

TEST(StageReading, FiveCharactersFromThe29thOrSixForANegativeReading) {
    const std::string prefix = "Camera1_20080415_093012_007";
    // Either separator reads, whatever the one given.
    for (const char separator : {',', '.'}) {
        std::string text;
        EXPECT_EQ(StageReading(prefix + "_35,00.tif", separator, &text), 35.0);
        EXPECT_EQ(text, "35,00");
        // Six characters after a minus: "-5,25." is not a number, "-05,25" is.
        EXPECT_EQ(StageReading(prefix + "_-5,25.tif", separator, &text), std::nullopt);
        EXPECT_EQ(text, "-5,25.");
        EXPECT_EQ(StageReading(prefix + "_-05.25.tif", separator), -5.25);
        for (const std::string bad : {"_12.5x.tif", ".tif", "_"})
            EXPECT_EQ(StageReading(prefix + bad, separator), std::nullopt) << bad;
    }
}

// --- The steps of the calibration window -------------------------------------------

TEST(MillimetreSize, ADroppedLineKeepsItsGapWhereverItLies) {
    // Seven lines 40 px apart; the dropped ones are turned by 5 degrees.
    const std::vector<std::vector<int>> dropped = {{}, {3}, {0}, {6}, {2, 4}, {0, 5}};
    for (const auto& turned : dropped) {
        std::vector<FittedLine> lines;
        for (int i = 0; i < 7; ++i) {
            const bool out = std::find(turned.begin(), turned.end(), i) != turned.end();
            lines.push_back(Horizontal(100 + 40.0 * i, out ? 5.0 : 0.1 + 0.01 * (i % 3)));
        }
        EXPECT_NEAR(MillimetreSize(lines, 328, 246, 3.5), 40.0, 0.05)
            << ::testing::PrintToString(turned);
    }
}

TEST(CalibrationSteps, ImagesAndTheFartherOne) {
    CalibrationImage image(kFrameSamples, 7.0f);
    image[0] = 0.5f, image[1] = 1.5f, image[2] = 2.5f, image[kFrameSamples - 1] = 254.5f;
    Picture box;
    DrawCalibrationImage(image, box);
    ASSERT_EQ((std::array{box.width, box.height}), (std::array{kFrameWidth, kFrameHeight}));
    EXPECT_EQ((std::array{box.Blue(0, 0), box.Blue(1, 0), box.Pixel(2, 0)[2], box.Blue(655, 491)}),
              (std::array<std::uint8_t, 4>{0, 2, 2, 254}));

    // loaded 1, loaded 2, distance 1, distance 2, opened -> the farther image (0: keep).
    const std::tuple<bool, bool, float, float, int, int> cases[] = {
        {true, false, 35, 0, 1, 1},      {false, true, 0, 30, 2, 2}, {true, true, 35, 30, 2, 2},
        {true, true, 30, 35, 1, 1},      {true, true, 30, 30, 2, 0}, {true, true, 0, 30, 2, 1},
        {true, true, -4.5f, 2.25f, 1, 1}};
    for (const auto& [loaded1, loaded2, d1, d2, opened, farther] : cases)
        EXPECT_EQ(FartherImage(loaded1, loaded2, d1, d2, opened), farther) << d1 << " " << d2;
}

TEST(CalibrationSteps, TextsOfTheCentreSearchAndTheStageDifference) {
    CentreSearchResult r;
    r.rotationScale = {0.9071f, -0.17578125f, 92.5f};
    r.translation.quality = 85.25f;
    r.subPixel.iterations = 7;
    r.dx = 29.5;
    r.dy = -1.0 / 3;
    r.centre = {317.428981437032, 1e20};
    const CentreSearchTexts t = FormatCentreSearch(r, ',');
    EXPECT_EQ(
        (std::vector{t.magnification, t.rotation, t.rotationQuality, t.dx, t.dy,
                     t.translationQuality, t.passes, t.xc, t.yc}),
        (std::vector<std::string>{"0,907100021839142", "-0,17578125\u00B0", "92,5", "29,5",
                                  "-0,333333333333333", "85,25", "7", "317,428981437032", "1E20"}));
    EXPECT_EQ(FormatStageDifference(35, 30, ','), "5,000");
    EXPECT_EQ(FormatStageDifference(-4.5f, 2.25f, '.'), "6.750");
    EXPECT_EQ(FormatStageDifference(30.1f, 35.2f, ','), "5,100");
}

TEST(CalibrationSteps, OverlayOfTheRegisteredImages) {
    const CalibrationImage image1(kFrameSamples, 10.0f), image2(kFrameSamples, 20.0f);
    CentreSearchResult r;
    r.rescaled.assign(6, 30.0f); // 3 x 2, at column -1, row 5
    r.rescaledWidth = 3, r.rescaledHeight = 2;
    r.translation.rowShift = 5, r.translation.columnShift = -1;
    r.centre = {100.5, 50.5}; // rounds to (100, 50)
    const auto grey = [](const Picture& p, int x, int y) {
        return std::array{p.Pixel(x, y)[0], p.Pixel(x, y)[1], p.Pixel(x, y)[2]};
    };
    using Bgr = std::array<std::uint8_t, 3>;
    const Bgr crimson{60, 20, 220}, blue{255, 0, 0};
    // Magnification below 1: image 1 rescaled inside, image 2 outside; above 1 the reverse; 1:
    // image 1.
    for (const auto& [m, inside, outside] :
         {std::tuple{0.5f, 30, 20}, {2.0f, 30, 10}, {1.0f, 10, 10}}) {
        r.rotationScale.magnification = m;
        Picture box;
        DrawOverlay(image1, image2, r, box);
        EXPECT_EQ(grey(box, 0, 5),
                  (Bgr{std::uint8_t(inside), std::uint8_t(inside), std::uint8_t(inside)}))
            << m;
        EXPECT_EQ(grey(box, 1, 6)[0], inside) << m;
        EXPECT_EQ(grey(box, 2, 5)[0], outside) << m;
        EXPECT_EQ(grey(box, 1, 7)[0], outside) << m;
        // Corner to centre, both ends: (0,0) (1,1) (2,1) ...; a tie rounds away from the corner.
        for (const auto& [x, y] : {std::pair{0, 0}, {1, 1}, {2, 1}, {654, 0}, {655, 491}, {99, 50}})
            EXPECT_EQ(grey(box, x, y), crimson) << x << "," << y;
        EXPECT_EQ(grey(box, 100, 50), blue);
        EXPECT_EQ(grey(box, 1, 0)[0], outside);
    }
    // A centre outside the picture: the lines are cut at the border; a centre at
    // infinity or NaN has none.
    for (const double far : {5000.0, -3e8, std::numeric_limits<double>::infinity(), std::nan("")}) {
        r.centre = {far, far};
        Picture box;
        DrawOverlay(image1, image2, r, box);
        EXPECT_EQ(grey(box, 0, 0), std::isfinite(far) ? crimson : (Bgr{10, 10, 10})) << far;
    }
}

TEST(CalibrationSteps, SurfaceMarkedViewAndManualThreshold) {
    Picture surface;
    DrawSurface({-1.0f, 0.5f, 1.0f, 0.25f}, 2, surface);
    EXPECT_EQ(surface.bgr,
              (std::vector<std::uint8_t>{0, 0, 0, 128, 128, 128, 255, 255, 255, 64, 64, 64}));
    DrawSurface({0, 0, 0, 0}, 2, surface);
    EXPECT_EQ(surface.bgr, std::vector<std::uint8_t>(12, 0));
    // Without a positive value the scaled values would pass white.
    DrawSurface({-2, -1, -4, -3}, 2, surface);
    EXPECT_EQ(surface.bgr, std::vector<std::uint8_t>(12, 255));

    Picture source = Uniform(4, 2, 100), marked;
    MarkColumns(source, 1, 9, marked);
    EXPECT_EQ((std::array{marked.Pixel(1, 1)[2], marked.Pixel(1, 1)[0], marked.Pixel(0, 1)[2],
                          marked.Pixel(3, 0)[2]}),
              (std::array<std::uint8_t, 4>{255, 100, 100, 100}));

    Picture levels(5, 1), binary;
    for (int x = 0; x < 5; ++x)
        levels.SetGrey(x, 0, std::array<std::uint8_t, 5>{0, 127, 128, 129, 255}[x]);
    ThresholdPicture(levels, 128, binary);
    EXPECT_EQ(binary.bgr,
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255}));
    ThresholdPicture(Picture(), 128, binary);
    EXPECT_EQ(binary.width, 5);
}

// Black lines 2 rows thick across a white picture, 40 rows apart from row
// 100, each with its own slope.
Picture RuledPicture(const std::vector<double>& slopes) {
    Picture p = Uniform(656, 492, 255);
    for (std::size_t i = 0; i < slopes.size(); ++i)
        for (int x = 0; x < 656; ++x)
            for (int t = 0; t < 2; ++t)
                p.SetGrey(
                    x,
                    static_cast<int>(100 + 40.0 * static_cast<double>(i) + slopes[i] * (x - 328)) +
                        t,
                    0);
    return p;
}

TEST(CalibrationSteps, FocalLengthTextsInTheWindowsOrderAndWhereTheyStop) {
    const Picture ruled = RuledPicture({0.01, 0.013, 0.016, 0.011});
    struct Case {
        const char *xc, *yc, *ds, *dy;
        bool millimetre, focalLength;
        const char* message;
    };
    const Case cases[] = {
        {"327,5", "245.5", "5,000", "22.5", true, true, "no error"},
        {"abc", "245,5", "5", "22,5", false, false, "'abc' is not a valid floating point value"},
        {"327,5", "", "5", "22,5", false, false, "'' is not a valid floating point value"},
        {"327,5", "245,5", "", "22,5", true, false, "'' is not a valid floating point value"},
        {"327,5", "245,5", "5", "x", true, false, "'x' is not a valid floating point value"},
        {"327,5", "245,5", "5", "0", true, false, kDivisionByZeroText}};
    for (const Case& c : cases) {
        FocalLengthTexts out;
        out.focalLength = "previous";
        EXPECT_EQ(testing::MessageOf<Error>(
                      [&] { FindFocalLengthTexts(ruled, c.xc, c.yc, c.ds, c.dy, ',', out); }),
                  c.message)
            << c.xc << c.yc << c.ds << c.dy;
        EXPECT_EQ((std::array{out.millimetreShown, out.focalLengthShown}),
                  (std::array{c.millimetre, c.focalLength}));
        EXPECT_EQ(out.focalLength == "previous", !c.focalLength);
        EXPECT_NEAR(c.millimetre ? ParseReal(out.millimetre, ',') : 40.0, 40.0, 0.01);
    }
    FocalLengthTexts out;
    FindFocalLengthTexts(ruled, "327,5", "245,5", "5,000", "22,5", ',', out);
    EXPECT_EQ(out.focalLengthValue, 245.5 * 5 * 0.0056 * out.millimetreValue / 22.5);
    EXPECT_EQ(out.focalLength, FormatGeneral(out.focalLengthValue, ','));
    // One line: NaN for both, even over a row shift of 0.
    FindFocalLengthTexts(RuledPicture({0.001}), "327,5", "245,5", "5", "0", ',', out);
    EXPECT_EQ((std::array{out.millimetre, out.focalLength}),
              (std::array<std::string, 2>{"NAN", "NAN"}));
}

TEST(CalibrationSteps, EtalonTextsInTheWindowsOrderAndWhereTheyStop) {
    testing::ScratchFolder folder;
    testing::WriteFrame(folder / "etalon.tif", testing::BandSamples(200, 290));
    Picture frame(kFrameWidth, kFrameHeight);
    LoadFrame(folder / "etalon.tif", frame);
    const EdgePair edges = MeanEdges(frame, 10.0);
    const std::string middle = FormatGeneral((edges.top + edges.bottom) / 2, ',');
    // With the centre row between the edges the camera looks at the etalon's
    // axis, rho = R / sin(alpha / 2) away, tan(alpha / 2) = half the band / f.
    const double half = (edges.bottom - edges.top) / 2 * 0.0056,
                 rho = 0.51 * std::hypot(half, 23) / half;
    struct Case {
        const char *camera, *f, *xc, *yc, *diameter;
        bool position;
        const char* message;
        Point2D expected;
    };
    const Case cases[] = {
        {"CAM3", "23", "327,5", middle.c_str(), "1,020", true, "no error", {0, -rho}},
        {"CAM1",
         "23",
         "327,5",
         middle.c_str(),
         "1.020",
         true,
         "no error",
         {-std::sqrt(3.0) / 2 * rho, rho / 2}},
        {"CAM2", "0", "327,5", middle.c_str(), "1,020", true, "no error", {0, 0}},
        {"CAM2", "23", "x", "245,5", "1,020", false, "'x' is not a valid floating point value", {}},
        {"CAM2",
         "",
         "327,5",
         "245,5",
         "1,020",
         false,
         "'' is not a valid floating point value",
         {}},
        {"CAM2",
         "23",
         "327,5",
         "245,5",
         "y",
         false,
         "'y' is not a valid floating point value",
         {}}};
    for (const Case& c : cases) {
        Picture box = frame;
        EtalonTexts out;
        out.x = "previous";
        EXPECT_EQ(testing::MessageOf<Error>(
                      [&] { MeasureEtalon(box, c.camera, c.f, c.xc, c.yc, c.diameter, ',', out); }),
                  c.message)
            << c.camera << c.f << c.xc << c.diameter;
        EXPECT_EQ((std::array{out.edgesShown, out.positionShown}), (std::array{true, c.position}));
        EXPECT_EQ(ParseReal(out.top, ','), edges.top);
        EXPECT_EQ(box.Pixel(3, static_cast<int>(RoundHalfEven(edges.top)))[2], 255); // drawn in red
        EXPECT_EQ(out.x == "previous", !c.position);
        if (c.position) {
            EXPECT_NEAR(ParseReal(out.x, ','), c.expected.x, 1e-9) << c.camera;
            EXPECT_NEAR(ParseReal(out.y, ','), c.expected.y, 1e-9) << c.camera;
        }
    }
    // The marker at 327.5, 245.5 rounds half to even: 328, 246; the diameter is parsed after it.
    Picture box = frame;
    EtalonTexts out;
    EXPECT_THROW(MeasureEtalon(box, "CAM3", "23", "327,5", "245,5", "?", ',', out),
                 ConversionError);
    EXPECT_EQ((std::array{box.Pixel(328, 246)[0], box.Pixel(328, 246)[1], box.Pixel(330, 246)[0]}),
              (std::array<std::uint8_t, 3>{255, 0, 255}));
    // A step from light to dark has its two edge rows on it: the
    // floating-point message after the edges are shown.
    testing::WriteFrame(folder / "flat.tif", testing::BandSamples(250, 492));
    LoadFrame(folder / "flat.tif", box);
    EXPECT_EQ(testing::MessageOf<FloatingPointError>(
                  [&] { MeasureEtalon(box, "CAM3", "23", "327,5", "245,5", "1", ',', out); }),
              kDivisionByZeroText);
}

TEST(CalibrationSteps, FocalLengthOfSimulatedMillimetrePaper) {
    // The farther frame alone, with the true centre and the row shift that the
    // true magnification 50 / 55 gives. Before dropped lines kept their gaps,
    // several of these came out 20 to 33 % too large.
    const simulation::PaperCamera truth;
    const double dy = truth.yc * (1 - 50.0 / 55.0), s = simulation::PixelsPerMillimetre(truth, 55);
    testing::ScratchFolder folder;
    // The farther frames of merkanix-simulate --calibration --seed S --paper-angle A.
    for (const auto& [seed, angle] :
         {std::pair{3u, 0.4}, {3u, 1.0}, {1u, 0.1}, {2u, 0.01}, {3u, 0.01}}) {
        simulation::RandomSource random(simulation::DeriveSeed(seed, 1000003));
        simulation::PaperOptions paper;
        paper.paperAngle = angle;
        paper.offsetX = random.Uniform();
        paper.offsetY = random.Uniform();
        testing::WriteFrame(
            folder / "paper.tif",
            simulation::RenderPaper(truth, paper, 55, simulation::DeriveSeed(seed, 1)));
        CalibrationImage image;
        LoadCalibrationFrame(folder / "paper.tif", image);
        Picture farther, corrected(kFrameWidth, kFrameHeight), view,
            binary(kFrameWidth, kFrameHeight);
        DrawCalibrationImage(image, farther);
        IlluminationCorrection(farther, corrected, 79, 2);
        MarkColumns(corrected, 10, 85, view);
        SuppressStripes(corrected, view, 75);
        registration::IterativeThreshold(view, binary, 1e-6, 128);
        FocalLengthTexts out;
        FindFocalLengthTexts(binary, FormatGeneral(truth.xc, ','), FormatGeneral(truth.yc, ','),
                             "5,000", FormatGeneral(dy, ','), ',', out);
        EXPECT_NEAR(out.millimetreValue, s, 0.002 * s) << seed << " " << angle;
        EXPECT_NEAR(out.focalLengthValue, truth.f, 0.002 * truth.f) << seed << " " << angle;
    }
}

} // namespace
} // namespace merkanix
