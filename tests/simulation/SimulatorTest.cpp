#include "simulation/FrameSimulator.h"

#include "calibration/CalibrationUnit.h"
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/Edges.h"
#include "measurement/Evaluation.h"
#include "simulation/CalibrationSimulator.h"
#include "simulation/TiffFrameWriter.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace merkanix::simulation {
namespace {

using merkanix::testing::RunShell;
using merkanix::testing::ScratchFolder;

// Every sample different in both bytes, including values above 32767.
std::vector<std::uint16_t> PatternSamples() {
    std::vector<std::uint16_t> samples(kFrameSamples);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(i * 40503u + 12345u);
    return samples;
}

std::array<CameraSetup, 3> DefaultCameras() {
    return ParseCameraSetups(DefaultCameraTexts(','), ',');
}

// --- Frame files ---------------------------------------------------------------

TEST(TiffFrameWriter, SamplesAfterA174ByteHeaderThatLibtiffAndPillowRead) {
    ScratchFolder folder;
    const std::string path = folder / "frame.tif";
    const auto samples = PatternSamples();
    WriteFrameFile(path, std::vector<std::uint16_t>(kFrameSamples, 7));
    WriteFrameFile(path, samples); // replaced whole
    EXPECT_EQ(merkanix::testing::ReadBytes(path).size(), static_cast<std::size_t>(kFrameFileBytes));
    EXPECT_EQ(merkanix::testing::ReadBytes(path).substr(0, 4), std::string("II*\0", 4));
    EXPECT_EQ(ReadFrameSamples(path), samples);
    EXPECT_EQ(folder.Entries(), 1u);
    EXPECT_THROW(WriteFrameFile(folder / "short.tif", std::vector<std::uint16_t>(100)),
                 std::invalid_argument);
    if (RunShell("command -v tiffinfo").status == 0) {
        const auto info = RunShell("tiffinfo '" + path + "'");
        ASSERT_EQ(info.status, 0) << info.err;
        for (const char* expected :
             {"Image Width: 656 Image Length: 492", "Bits/Sample: 16", "min-is-black"})
            EXPECT_NE(info.out.find(expected), std::string::npos) << info.out;
        EXPECT_EQ(info.err, "");
    }
    if (merkanix::testing::PythonHas("PIL")) {
        const auto read = RunShell(
            "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + path +
            "'); print(im.size, [im.getpixel(p) for p in [(0, 0), (655, 491), (300, 17)]])\"");
        const auto at = [&](int x, int y) { return std::to_string(samples[y * kFrameWidth + x]); };
        EXPECT_EQ(read.out,
                  "(656, 492) [" + at(0, 0) + ", " + at(655, 491) + ", " + at(300, 17) + "]\n");
    }
}

TEST(FrameFileName, RoundTripsThroughTheFrameTimeStamp) {
    const TDateTime time = EncodeDateTime({2008, 4, 15, 9, 30, 12, 7});
    EXPECT_EQ(FrameFileName(2, time), "Camera2_20080415_093012_007.tif");
    // Day counts rarely hold a millisecond exactly: the name must round.
    RandomSource random(99);
    for (int i = 0; i < 2000; ++i) {
        const auto ms = static_cast<int>(random.UniformInteger(0, 86400000 - 1));
        const DateTimeParts parts{2008 + ms % 7,   1 + ms % 12,    1 + ms % 28, ms / 3600000,
                                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
        const int camera = 1 + ms % 3;
        const std::string name = FrameFileName(camera, EncodeDateTime(parts));
        ASSERT_EQ(name.substr(0, 7), "Camera" + std::to_string(camera));
        ASSERT_EQ(FrameTimeStamp(name), EncodeDateTime(parts)) << name;
        ASSERT_EQ(name, FrameFileName(camera, parts));
    }
    for (const int camera : {0, 4})
        EXPECT_THROW(FrameFileName(camera, time), std::invalid_argument);
}

// --- Geometry ------------------------------------------------------------------

// Centre distance of the line in the ellipse's own metric: 1 when tangent.
double EllipseDistance(const Line2D& l, const EllipseParams& e) {
    const double phi = e.angle * std::numbers::pi / 180;
    const double nu = l.a * std::cos(phi) + l.b * std::sin(phi);
    const double nw = -l.a * std::sin(phi) + l.b * std::cos(phi);
    return std::abs(l.a * e.centreX + l.b * e.centreY + l.c) /
           std::hypot(e.semiMajor * nu, e.semiMinor * nw);
}

TEST(TangentRows, TheMeasurementsLinesOfSightAtThemTouchTheFibre) {
    RandomSource random(5);
    for (int trial = 0; trial < 40; ++trial) {
        EllipseParams fibre;
        fibre.semiMajor = random.Uniform(0.1, 0.7);
        fibre.semiMinor = fibre.semiMajor * random.Uniform(0.6, 1.0);
        fibre.centreX = random.Uniform(-0.4, 0.4);
        fibre.centreY = random.Uniform(-0.4, 0.4);
        fibre.angle = random.Uniform(0, 180);
        for (const CameraSetup& c : DefaultCameras()) {
            SCOPED_TRACE(std::string(c.name) + " trial " + std::to_string(trial));
            const BandRows band = TangentRows(c, fibre);
            ASSERT_LT(band.top, band.bottom);
            // Tangent at both rows, through the fibre just inside, past it just outside.
            for (const double row : {band.top, band.bottom}) {
                const auto distance = [&](double r) {
                    return EllipseDistance(SightLine(c.name, c.x, c.y, c.f, c.yc, r), fibre);
                };
                EXPECT_NEAR(distance(row), 1.0, 1e-9);
                const double inward = row == band.top ? 1e-3 : -1e-3;
                EXPECT_LT(distance(row + inward), 1.0);
                EXPECT_GT(distance(row - inward), 1.0);
            }
        }
    }
}

TEST(TangentRows, RefuseFibresTheCameraCannotSeeAsABand) {
    CameraSetup camera{"CAM3", 23, 327.5, 245.5, 0, -50};
    EXPECT_NO_THROW(TangentRows(camera, {1.0, 0.5, 0, 0, 30}));
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 0, -49.8, 30}), Error); // lens inside
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 0, -60, 30}), Error);   // behind the lens
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 2.0, -50, 0}), Error);  // beside the lens
    camera.name = "CAM4";
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 0, 0, 30}), std::invalid_argument);
}

// --- Rendering -----------------------------------------------------------------

TEST(RenderBand, CoverageKeepsTheBandsWidthAndCentreInEveryMode) {
    // Blur and sub-rows may spread the shadow but neither add nor move it.
    // Pixel rows weigh by their middle row, which averages out only over a
    // band of whole rows; so the centre is checked for those.
    for (const double blur : {0.0, 0.7, 2.5})
        for (const int supersample : {0, 1000})
            for (const double top : {120.0, 120.3, 149.77})
                for (const double width : {33.0, 33.37}) {
                    double mass = 0, moment = 0;
                    for (int row = 0; row < kFrameHeight; ++row) {
                        const double cover = RowCoverage(row, top, top + width, blur, supersample);
                        ASSERT_TRUE(cover >= 0.0 && cover <= 1.0);
                        mass += cover;
                        moment += cover * row;
                    }
                    SCOPED_TRACE(::testing::Message() << "blur " << blur << " sub-rows "
                                                      << supersample << " top " << top);
                    const double tolerance = supersample ? 2.0 / supersample : 1e-9;
                    EXPECT_NEAR(mass, width, tolerance);
                    if (width == std::floor(width)) {
                        EXPECT_NEAR(moment / mass, top + width / 2, tolerance);
                    }
                }
    // Sub-rows sit at the middles of equal parts of the pixel row, and exact
    // integration is the limit of ever finer ones.
    EXPECT_EQ(RowCoverage(100, 100.3, 140.0, 0.0, 4), 0.25);
    EXPECT_EQ(RowCoverage(140, 100.3, 140.1, 0.0, 4), 0.5);
    for (const double blur : {0.0, 0.4, 1.5})
        for (int row = 95; row <= 105; ++row)
            EXPECT_NEAR(RowCoverage(row, 100.3, 140.0, blur, 0),
                        RowCoverage(row, 100.3, 140.0, blur, 2000), 1e-3);
}

TEST(RenderBand, TiltShiftsTheBandAboutTheMiddleColumnReverseSwapsTheLevelsNoiseRepeats) {
    RenderOptions options;
    options.tilt = 0.01;
    const auto frame = RenderBand({200.0, 260.0}, options, 1);
    for (const int column : {0, 100, 327, 328, 655}) {
        double mass = 0, moment = 0;
        for (int row = 0; row < kFrameHeight; ++row) {
            const double sample = frame[static_cast<std::size_t>(row) * kFrameWidth + column];
            const double cover = (options.bright - sample) / (options.bright - options.dark);
            mass += cover;
            moment += cover * row;
        }
        EXPECT_NEAR(mass, 60.0, 1e-3);
        EXPECT_NEAR(moment / mass, 230.0 + 0.01 * (column - 327.5), 1e-3) << column;
    }

    options.noiseSigma = 120;
    options.blurSigma = 1;
    const auto noisy = RenderBand({200.0, 260.0}, options, 42);
    EXPECT_EQ(noisy, RenderBand({200.0, 260.0}, options, 42));
    EXPECT_NE(noisy, RenderBand({200.0, 260.0}, options, 43));
    double sum = 0, squares = 0;
    const int count = 100 * kFrameWidth; // rows 0 .. 99, clear of the band
    for (int i = 0; i < count; ++i) {
        const double deviation = noisy[static_cast<std::size_t>(i)] - options.bright;
        sum += deviation;
        squares += deviation * deviation;
    }
    EXPECT_NEAR(sum / count, 0.0, 2.0);
    EXPECT_NEAR(std::sqrt(squares / count), 120.0, 2.0);
    options = {};
    options.reverse = true;
    const auto reversed = RenderBand({200.0, 260.0}, options, 1);
    EXPECT_EQ(reversed[100 * kFrameWidth], options.dark);
    EXPECT_EQ(reversed[230 * kFrameWidth], options.bright);
}

// --- Runs ----------------------------------------------------------------------

TEST(PlanRun, TimesFormExactlyThePlannedTriples) {
    // Largest jitter the tolerance allows, with and without a tight interval.
    for (const std::int64_t interval : {1000, 160}) {
        RunOptions run{
            .triples = 12, .extras = 7, .intervalMs = interval, .jitterMs = 25, .seed = 3};
        run.start = {2008, 4, 15, 23, 59, 58, 0}; // across midnight
        ASSERT_FALSE(TimingProblem(run).has_value());
        const RunPlan plan = PlanRun(DefaultCameras(), run);
        std::vector<std::string> names;
        for (const auto& t : plan.triples)
            for (const auto& f : t.frames)
                names.push_back(f.fileName);
        for (const auto& f : plan.extras)
            names.push_back(f.fileName);
        std::sort(names.begin(), names.end());
        ASSERT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());

        const TripleList found = FindTriples("sim", names, "50", ',');
        ASSERT_EQ(found.size(), plan.triples.size()) << "interval " << interval;
        for (std::size_t i = 0; i < found.size(); ++i)
            for (std::size_t k = 0; k < 3; ++k) {
                EXPECT_EQ(found[i].path[k], "sim/" + plan.triples[i].frames[k].fileName);
                EXPECT_EQ(found[i].time[k], plan.triples[i].frames[k].time);
            }
    }
}

TEST(PlanRun, RefusesTimingThatCouldJoinOrSplitTriples) {
    // Jitter, interval, extras and whether the run is refused.
    const std::tuple<std::int64_t, std::int64_t, int, bool> cases[] = {
        {0, 1000, 0, false},
        {26, 1000, 0, true}, // two frames of one triple 52 ms apart
        {20, 80, 0, true},   // twice the jitter reaches half the interval
        {20, 150, 1, false}, // an extra 75 ms from a frame moved by 20
        {24, 150, 1, true}};
    for (const auto& [jitter, interval, extras, refused] : cases) {
        const RunOptions run{.extras = extras, .intervalMs = interval, .jitterMs = jitter};
        EXPECT_EQ(TimingProblem(run).has_value(), refused) << jitter << " " << interval;
        if (refused) {
            EXPECT_THROW(PlanRun(DefaultCameras(), run), std::invalid_argument);
        }
    }
}

TEST(PlanRun, FibresFollowTheOptionsAndTheSeed) {
    RunOptions run{.triples = 50, .diameterMin = 0.4, .diameterMax = 0.9, .ovalityMax = 0.2};
    run.offsetMax = 0.25;
    const RunPlan plan = PlanRun(DefaultCameras(), run);
    for (const auto& t : plan.triples) {
        EXPECT_EQ(t.diameter, EquivalentDiameter(t.fibre.semiMajor, t.fibre.semiMinor));
        EXPECT_TRUE(t.diameter >= 0.4 - 1e-12 && t.diameter <= 0.9 + 1e-12) << t.diameter;
        EXPECT_GE(t.fibre.semiMinor, 0.8 * t.fibre.semiMajor - 1e-12);
        EXPECT_LE(std::hypot(t.fibre.centreX, t.fibre.centreY), 0.25);
    }
    const RenderOptions render;
    const std::string truth = TruthJson(plan, run, render);
    EXPECT_EQ(truth, TruthJson(PlanRun(DefaultCameras(), run), run, render));
    run.seed = 2;
    EXPECT_NE(truth, TruthJson(PlanRun(DefaultCameras(), run), run, render));
}

// --- Calibration sets ----------------------------------------------------------

TEST(StripeMarkers, MarkNeighbouringLinesWhosePeriodSuppressesThem) {
    // f, xc, yc, distance, paper angle
    const std::array<double, 5> cases[] = {
        {23, 327.5, 245.5, 55, 0.4}, {21.7, 310, 262, 55, -1.5}, {24.5, 341.2, 231, 70, 2.0}};
    for (const auto& [f, xc, yc, distance, angle] : cases) {
        const PaperOptions paper{
            .paperAngle = angle, .blurSigma = 0, .noiseSigma = 0, .vignette = 0, .gradient = 0};
        const MarkerColumns markers = StripeMarkers({f, xc, yc}, paper, distance);
        const int period = markers.second - markers.first;
        EXPECT_TRUE(period % 2 == 1 && std::fabs(period - markers.spacing) <= 1) << f;
        Picture picture, flat(kFrameWidth, kFrameHeight);
        SamplesToPicture(RenderPaper({f, xc, yc}, paper, distance, 1), picture);
        SuppressStripes(picture, flat, period);
        // Column means about the middle row, where the markers are placed.
        const auto profile = [](const Picture& p) {
            std::vector<double> means(kFrameWidth);
            for (int y = 200; y < 290; ++y)
                for (int x = 0; x < kFrameWidth; ++x)
                    means[x] += p.Blue(x, y) / 90.0;
            return means;
        };
        const std::vector<double> before = profile(picture), after = profile(flat);
        // Each marker in a line, darker than the paper half a period away.
        for (const int c : {markers.first, markers.second})
            EXPECT_LT(before[c], std::min(before[c - period / 2], before[c + period / 2]) - 20)
                << f << " " << c;
        const auto [low, high] = std::minmax_element(before.begin() + 100, before.begin() + 550);
        const auto [flatLow, flatHigh] =
            std::minmax_element(after.begin() + 100, after.begin() + 550);
        EXPECT_LT(*flatHigh - *flatLow, (*high - *low) / 4) << f;
    }
    EXPECT_THROW(StripeMarkers({23, 327.5, 245.5}, {}, 2.0), std::invalid_argument);
}

TEST(SystemCalibration, EveryCameraThroughItsOwnParametersWithTheEtalonAtTheOrigin) {
    std::array<CameraSetup, 3> cameras = DefaultCameras();
    cameras[0].f = 22.2;
    cameras[1].y += 0.9;
    cameras[2].yc = 232.5;
    CalibrationRun base;
    base.paper.supersample = 1;
    // Noise and blur as merkanix-simulate draws them; a tilt that lets the
    // strips' whole edge rows average to a fraction of a row.
    base.etalonRender = {.blurSigma = 0.8, .noiseSigma = 200, .tilt = 0.02};
    for (const CalibrationRun& run : SystemCalibrationRuns(base, cameras)) {
        const CameraSetup& c = cameras[static_cast<std::size_t>(run.camera - 1)];
        EXPECT_EQ(std::tie(run.truth.f, run.truth.xc, run.truth.yc), std::tie(c.f, c.xc, c.yc));
        const std::vector<CalibrationFrame> frames = RenderCalibrationRun(run);
        // The etalon's edge rows, measured as the etalon page measures them
        // (a band half a row high), are a circle's at the origin seen
        // through this camera's own parameters.
        const BandRows model = TangentRows(c, {0.51, 0.51, 0, 0, 0});
        Picture view;
        SamplesToPicture(frames.back().samples, view);
        const EdgePair edges = MeanEdges(view, 10.0);
        EXPECT_NEAR(edges.top, model.top - 0.5, 0.1) << c.name;
        EXPECT_NEAR(edges.bottom, model.bottom - 0.5, 0.1) << c.name;
    }
}

} // namespace
} // namespace merkanix::simulation
