#include "calibration/CentreSearch.h"

#include "common/Errors.h"
#include "registration/HistoUnit.h"
#include "simulation/CalibrationSimulator.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>

namespace merkanix {
namespace {

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

} // namespace
} // namespace merkanix
