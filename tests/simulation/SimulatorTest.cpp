#include "simulation/FrameSimulator.h"

#include "calibration/CalibrationUnit.h"
#include "calibration/CentreSearch.h"
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
#include <set>

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

// Mean of the blue bytes of each column over rows 200 ... 289, about the
// middle row where the markers are placed.
std::vector<double> ColumnProfile(const Picture& picture) {
    std::vector<double> profile(static_cast<std::size_t>(picture.width));
    for (int x = 0; x < picture.width; ++x) {
        for (int y = 200; y < 290; ++y)
            profile[static_cast<std::size_t>(x)] += picture.Blue(x, y);
        profile[static_cast<std::size_t>(x)] /= 90;
    }
    return profile;
}

double Spread(const std::vector<double>& values, int from, int to) {
    double sum = 0, squares = 0;
    for (int i = from; i < to; ++i)
        sum += values[static_cast<std::size_t>(i)];
    const double mean = sum / (to - from);
    for (int i = from; i < to; ++i)
        squares += (values[static_cast<std::size_t>(i)] - mean) *
                   (values[static_cast<std::size_t>(i)] - mean);
    return std::sqrt(squares / (to - from));
}

TEST(StripeMarkers, MarkNeighbouringLinesWhosePeriodSuppressesThem) {
    struct Case {
        double f, xc, yc, distance, angle;
    };
    const Case cases[] = {{23, 327.5, 245.5, 55, 0.4},
                          {21.7, 310, 262, 55, -1.5},
                          {24.5, 341.2, 231, 70, 2.0},
                          {23, 327.5, 245.5, 38, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "f " << c.f << " distance " << c.distance);
        const PaperCamera camera{c.f, c.xc, c.yc};
        PaperOptions paper;
        paper.paperAngle = c.angle;
        paper.noiseSigma = paper.blurSigma = paper.vignette = paper.gradient = 0;
        const MarkerColumns markers = StripeMarkers(camera, paper, c.distance);
        const int period = markers.second - markers.first;
        EXPECT_EQ(period % 2, 1);
        EXPECT_LE(std::fabs(period - markers.spacing), 1.0);
        EXPECT_NEAR(markers.spacing, PixelsPerMillimetre(camera, c.distance), 0.001 * period);

        Picture picture, flattened;
        SamplesToPicture(RenderPaper(camera, paper, c.distance, 1), picture);
        const std::vector<double> profile = ColumnProfile(picture);
        // Each marker lies in a line's dip: darker than half-way between
        // the paper and the darkest column within half a period.
        const double paperLevel = *std::max_element(profile.begin(), profile.end());
        for (const int column : {markers.first, markers.second}) {
            const auto from = profile.begin() + std::max(0, column - period / 2);
            const auto to = profile.begin() + std::min(picture.width, column + period / 2 + 1);
            const double darkest = *std::min_element(from, to);
            EXPECT_LT(profile[static_cast<std::size_t>(column)], (paperLevel + darkest) / 2)
                << column;
        }
        // The running mean over that period leaves little of the lines.
        flattened.Resize(picture.width, picture.height);
        SuppressStripes(picture, flattened, period);
        const int from = period, to = picture.width - period;
        EXPECT_LT(Spread(ColumnProfile(flattened), from, to), Spread(profile, from, to) / 4);
    }
    PaperOptions paper;
    EXPECT_THROW(StripeMarkers({23, 327.5, 245.5}, paper, 2.0), std::invalid_argument);
}

TEST(SystemCalibration, EveryCameraThroughItsOwnParametersWithTheEtalonAtTheOrigin) {
    std::array<CameraSetup, 3> cameras = DefaultCameras();
    cameras[0].f = 22.2;
    cameras[0].x -= 0.6;
    cameras[1].xc = 341;
    cameras[1].y += 0.9;
    cameras[2].yc = 232.5;
    cameras[2].f = 23.8;
    CalibrationRun base;
    base.etalons = 2;
    base.seed = 7;
    base.paper.supersample = 1;
    // The paper's noise and blur, as merkanix-simulate draws them; a tilt
    // that lets the strips' whole edge rows average to a fraction of a row.
    base.etalonRender.noiseSigma = 200;
    base.etalonRender.blurSigma = 0.8;
    base.etalonRender.tilt = 0.02;
    const std::array<CalibrationRun, 3> runs = SystemCalibrationRuns(base, cameras);
    std::set<std::string> names;
    std::set<std::vector<std::uint16_t>> etalonFrames;
    TDateTime previous = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        const CameraSetup& c = cameras[k];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(runs[k].camera, static_cast<int>(k) + 1);
        EXPECT_EQ(std::tie(runs[k].truth.f, runs[k].truth.xc, runs[k].truth.yc),
                  std::tie(c.f, c.xc, c.yc));
        const std::vector<CalibrationFrame> frames = RenderCalibrationRun(runs[k]);
        ASSERT_EQ(frames.size(), 4u);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::string& name = frames[i].fileName;
            EXPECT_EQ(name.rfind("Camera" + std::to_string(k + 1) + "_", 0), 0u) << name;
            EXPECT_TRUE(names.insert(name).second) << name;
            const TDateTime time = FrameTimeStamp(name);
            EXPECT_GT(time, previous) << name;
            previous = time;
        }
        EXPECT_EQ(StageReading(frames[0].fileName, ','), 35.0);
        EXPECT_EQ(StageReading(frames[1].fileName, ','), 30.0);
        // The etalon's edge rows, measured as the etalon page measures them
        // (which reads a band half a row high), are those of a circle at the
        // origin seen through this camera's own parameters.
        EllipseParams etalon;
        etalon.semiMajor = etalon.semiMinor = 0.51;
        const BandRows model = TangentRows(c, etalon);
        for (std::size_t e = 2; e < 4; ++e) {
            EXPECT_TRUE(etalonFrames.insert(frames[e].samples).second); // own noise
            Picture view;
            SamplesToPicture(frames[e].samples, view);
            const EdgePair edges = MeanEdges(view, 10.0);
            EXPECT_NEAR(edges.top, model.top - 0.5, 0.1);
            EXPECT_NEAR(edges.bottom, model.bottom - 0.5, 0.1);
        }
    }
    base.etalons = -1;
    EXPECT_THROW(SystemCalibrationRuns(base, cameras), std::invalid_argument);
}

} // namespace
} // namespace merkanix::simulation
