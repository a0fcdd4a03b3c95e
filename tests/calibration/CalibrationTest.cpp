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
#include <set>

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
    // Seven lines 40 px apart; those turned by 5 degrees are dropped, and a
    // dropped line between the outer ones keeps its gap.
    for (const std::set<int>& turned : {std::set<int>{}, {3}, {0}, {6}, {2, 4}, {0, 5}}) {
        std::vector<FittedLine> lines;
        for (int i = 0; i < 7; ++i)
            lines.push_back(
                Horizontal(100 + 40.0 * i, turned.contains(i) ? 5 : 0.1 + 0.01 * (i % 3)));
        EXPECT_NEAR(MillimetreSize(lines, 328, 246, 3.5), 40.0, 0.05) << turned.size();
    }
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

using Bgr = std::array<std::uint8_t, 3>;
Bgr At(const Picture& p, int x, int y) {
    return {p.Pixel(x, y)[0], p.Pixel(x, y)[1], p.Pixel(x, y)[2]};
}

TEST(CalibrationSteps, TextsAndTheFartherImage) {
    // loaded 1, loaded 2, distance 1, distance 2, opened -> the farther image (0: keep).
    const std::tuple<bool, bool, float, float, int, int> cases[] = {
        {true, false, 35, 0, 1, 1}, {false, true, 0, 30, 2, 2}, {true, true, 35, 30, 2, 2},
        {true, true, 30, 35, 1, 1}, {true, true, 30, 30, 2, 0}, {true, true, -4.5f, 2.25f, 1, 1}};
    for (const auto& [loaded1, loaded2, d1, d2, opened, farther] : cases)
        EXPECT_EQ(FartherImage(loaded1, loaded2, d1, d2, opened), farther) << d1 << " " << d2;
    CentreSearchResult r;
    r.rotationScale = {0.9071f, -0.17578125f, 92.5f};
    r.subPixel.iterations = 7, r.centre = {-1.0 / 3, 1e20};
    const CentreSearchTexts t = FormatCentreSearch(r, ',');
    EXPECT_EQ((std::vector{t.magnification, t.rotation, t.passes, t.xc, t.yc,
                           FormatStageDifference(-4.5f, 2.25f, ','),
                           FormatStageDifference(30.1f, 35.2f, '.')}),
              (std::vector<std::string>{"0,907100021839142", "-0,17578125\u00B0", "7",
                                        "-0,333333333333333", "1E20", "6,750", "5.100"}));
}

TEST(CalibrationSteps, OverlaySurfaceAndThreshold) {
    const CalibrationImage image1(kFrameSamples, 10.0f), image2(kFrameSamples, 20.5f);
    CentreSearchResult r;
    r.rescaled.assign(6, 30.0f); // 3 x 2 at column -1, row 5
    r.rescaledWidth = 3, r.rescaledHeight = 2, r.translation = {5, -1, 0};
    // Below 1 image 1 is rescaled and image 2 around it; above 1 the reverse; at 1 image 1 only.
    for (const auto& [m, inside, outside] :
         {std::tuple{0.5f, 30, 20}, {2.0f, 30, 10}, {1.0f, 10, 10}}) {
        r.rotationScale.magnification = m;
        r.centre = {100.5, 50.5}; // (100, 50) rounded half to even
        Picture box;
        DrawOverlay(image1, image2, r, box);
        EXPECT_EQ(
            (std::array<int, 4>{box.Blue(0, 5), box.Blue(1, 6), box.Blue(2, 5), box.Blue(1, 7)}),
            (std::array{inside, inside, outside, outside}));
        // Corners to the centre, both ends; a tie rounds away from the corner.
        for (const auto& [x, y] : {std::pair{0, 0}, {1, 1}, {2, 1}, {99, 50}, {654, 0}, {655, 491}})
            EXPECT_EQ(At(box, x, y), (Bgr{60, 20, 220})) << x << "," << y;
        EXPECT_EQ(At(box, 100, 50), (Bgr{255, 0, 0}));
    }
    for (const double far :
         {-3e8, HUGE_VAL, std::nan("")}) { // lines cut at the border; none at infinity
        r.centre = {far, far};
        Picture box;
        DrawOverlay(image1, image2, r, box);
        EXPECT_EQ(box.Blue(0, 0), std::isfinite(far) ? 60 : 10) << far;
    }
    // Scaled to the maximum; negatives 0; all 0 without a maximum; never past white.
    const std::pair<std::vector<float>, std::array<int, 4>> surfaces[] = {
        {{-1, 0.5, 1, 0.25}, {0, 128, 255, 64}},
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
        {{-2, -1, -4, -3}, {255, 255, 255, 255}}};
    for (const auto& [values, greys] : surfaces) {
        Picture surface;
        DrawSurface(values, 2, surface);
        EXPECT_EQ((std::array<int, 4>{surface.Blue(0, 0), surface.Blue(1, 0),
                                      surface.Pixel(0, 1)[2], surface.Blue(1, 1)}),
                  greys);
    }
    Picture marked, binary, levels = Uniform(2, 1, 128);
    MarkColumns(Uniform(4, 2, 100), 1, 9, marked);
    levels.SetGrey(1, 0, 129);
    ThresholdPicture(levels, 128, binary);
    ThresholdPicture(Picture(), 128, binary); // nothing
    EXPECT_EQ(
        (std::array{At(marked, 1, 1), At(marked, 0, 1), At(binary, 0, 0), At(binary, 1, 0)}),
        (std::array{Bgr{100, 100, 255}, Bgr{100, 100, 100}, Bgr{0, 0, 0}, Bgr{255, 255, 255}}));
}

// Black lines 2 rows thick, 40 rows apart from row 100, each with its own slope.
Picture RuledPicture(const std::vector<double>& slopes) {
    Picture p = Uniform(656, 492, 255);
    for (std::size_t i = 0; i < slopes.size(); ++i)
        for (int x = 0; x < 656 * 2; ++x)
            p.SetGrey(
                x / 2,
                static_cast<int>(100 + 40.0 * static_cast<int>(i) + slopes[i] * (x / 2 - 328)) +
                    x % 2,
                0);
    return p;
}

std::string NotANumber(const std::string& text) {
    return "'" + text + "' is not a valid floating point value";
}

TEST(CalibrationSteps, FocalLengthTextsInTheWindowsOrderAndWhereTheyStop) {
    const Picture ruled = RuledPicture({0.01, 0.013, 0.016, 0.011});
    // xc, yc, ds, dy -> what was shown (0 nothing, 1 s, 2 s and f) and the message.
    using Text = const char*;
    const std::tuple<Text, Text, Text, Text, int, std::string> cases[] = {
        {"327,5", "245.5", "5,000", "22.5", 2, "no error"},
        {"abc", "245,5", "5", "22,5", 0, NotANumber("abc")},
        {"327,5", "", "5", "22,5", 0, NotANumber("")},
        {"327,5", "245,5", "", "22,5", 1, NotANumber("")},
        {"327,5", "245,5", "5", "x", 1, NotANumber("x")},
        {"327,5", "245,5", "5", "0", 1, kDivisionByZeroText},
        {"327,5", "0", "5", "0", 1, kInvalidOperationText}};
    for (const auto& [xc, yc, ds, dy, shown, message] : cases) {
        FocalLengthTexts out;
        out.focalLength = "previous";
        EXPECT_EQ(testing::MessageOf<Error>([&, x = xc, y = yc, d = ds, r = dy] {
                      FindFocalLengthTexts(ruled, x, y, d, r, ',', out);
                  }),
                  message);
        EXPECT_EQ((std::array{out.millimetreShown + out.focalLengthShown,
                              out.focalLength == "previous" ? 1 : 2}),
                  (std::array{shown, shown == 2 ? 2 : 1}));
        EXPECT_NEAR(shown > 0 ? ParseReal(out.millimetre, ',') : 40.0, 40.0, 0.01);
        EXPECT_EQ(shown == 2 ? out.focalLengthValue : 0,
                  shown == 2 ? 245.5 * 5 * 0.0056 * out.millimetreValue / 22.5 : 0);
    }
    // One line: NaN for both, even over a row shift of 0.
    FocalLengthTexts out;
    FindFocalLengthTexts(RuledPicture({0.001}), "327,5", "245,5", "5", "0", ',', out);
    EXPECT_EQ(out.millimetre + out.focalLength, "NANNAN");
}

TEST(CalibrationSteps, EtalonTextsInTheWindowsOrderAndWhereTheyStop) {
    testing::ScratchFolder folder;
    // Edges at rows 200 and 291; a step from light to dark has both on it.
    Picture band(656, 492), step(656, 492);
    for (auto& [picture, top, bottom] : {std::tuple{&band, 201, 292}, {&step, 250, 492}}) {
        testing::WriteFrame(folder / "frame.tif", testing::BandSamples(top, bottom));
        LoadFrame(folder / "frame.tif", *picture);
    }
    // yc 245.5 halfway: the camera looks at the axis from rho = R / sin(alpha / 2),
    // where tan(alpha / 2) = half the band / f.
    const double half = 45.5 * 0.0056, rho = 0.51 * std::hypot(half, 23) / half;
    // camera, f, xc, diameter -> the message and the position shown (none: NaN).
    using Text = const char*;
    const std::tuple<Text, Text, Text, Text, std::string, double, double> cases[] = {
        {"CAM3", "23", "327,5", "1,020", "no error", 0.0, -rho},
        {"CAM1", "23", "327,5", "1.020", "no error", -std::sqrt(3.0) / 2 * rho, rho / 2},
        {"CAM2", "0", "327,5", "1,020", "no error", 0, 0},
        {"CAM2", "23", "x", "1", NotANumber("x"), NAN, NAN},
        {"CAM2", "", "327,5", "1", NotANumber(""), NAN, NAN},
        {"CAM2", "23", "327,5", "?", NotANumber("?"), NAN, NAN},
        {"CAM3", "23", "327,5", "1", kDivisionByZeroText, NAN, NAN}};
    for (const auto& [camera, f, xc, diameter, message, x, y] : cases) {
        const bool onStep = message == kDivisionByZeroText, marked = *xc != 'x' && *f != 0;
        Picture box = onStep ? step : band;
        EtalonTexts out;
        EXPECT_EQ(testing::MessageOf<Error>([&, c = camera, g = f, d = xc, r = diameter] {
                      MeasureEtalon(box, c, g, d, "245,5", r, ',', out);
                  }),
                  message);
        EXPECT_EQ((std::array{out.edgesShown, out.positionShown}),
                  (std::array{true, !std::isnan(x)}));
        EXPECT_EQ(out.top + out.bottom, onStep ? "249249" : "200291");
        // The rows drawn (the top one red), the marker at 327.5, 245.5 rounded half to
        // even: 328, 246, once the centre and f are read; the diameter is read after it.
        EXPECT_EQ((std::array{At(box, 3, 200) == Bgr{0, 0, 255}, At(box, 330, 246)[1] == 0,
                              At(box, 331, 246)[1] == 0}),
                  (std::array{!onStep, marked, false}));
        EXPECT_NEAR(std::isnan(x) ? 0 : ParseReal(out.x, ',') - x, 0, 1e-9) << camera;
        EXPECT_NEAR(std::isnan(x) ? 0 : ParseReal(out.y, ',') - y, 0, 1e-9) << camera;
    }
}

TEST(CalibrationSteps, FocalLengthOfSimulatedMillimetrePaper) {
    // The farther frames of merkanix-simulate --calibration --seed S --paper-angle A,
    // the true centre and the row shift of the true magnification 50 / 55. Before
    // dropped lines kept their gaps, all of these came out 20 to 33 % too large.
    const simulation::PaperCamera truth;
    const double s = simulation::PixelsPerMillimetre(truth, 55);
    testing::ScratchFolder folder;
    for (const auto& [seed, angle] :
         {std::pair{3u, 0.4}, {3u, 1.0}, {1u, 0.1}, {2u, 0.01}, {3u, 0.01}}) {
        simulation::RandomSource random(simulation::DeriveSeed(seed, 1000003));
        simulation::PaperOptions paper;
        paper.paperAngle = angle, paper.offsetX = random.Uniform(),
        paper.offsetY = random.Uniform();
        testing::WriteFrame(
            folder / "paper.tif",
            simulation::RenderPaper(truth, paper, 55, simulation::DeriveSeed(seed, 1)));
        CalibrationImage image;
        LoadCalibrationFrame(folder / "paper.tif", image);
        Picture farther, corrected(656, 492), view, binary(656, 492);
        DrawCalibrationImage(image, farther);
        IlluminationCorrection(farther, corrected, 79, 2);
        MarkColumns(corrected, 10, 85, view);
        SuppressStripes(corrected, view, 75);
        registration::IterativeThreshold(view, binary, 1e-6, 128);
        FocalLengthTexts out;
        FindFocalLengthTexts(binary, "318,4", "252,7", "5,000", FormatGeneral(252.7 / 11, ','), ',',
                             out);
        EXPECT_NEAR(out.millimetreValue, s, 0.002 * s) << seed << " " << angle;
        EXPECT_NEAR(out.focalLengthValue, truth.f, 0.002 * truth.f) << seed << " " << angle;
    }
}

} // namespace
} // namespace merkanix
