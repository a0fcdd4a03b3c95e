#include "app/DateTime.h"
#include "app/Errors.h"
#include "app/Evaluation.h"
#include "app/FrameFile.h"
#include "app/NumberText.h"
#include "app/Settings.h"
#include "app/Triples.h"
#include "reconstruction/EllipseUnit.h"
#include "simulation/FrameSimulator.h"
#include "simulation/TiffFrameWriter.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace merkanix::simulation {
namespace {

using merkanix::testing::ScratchFolder;

struct CommandResult {
    int status = -1;
    std::string output; // stdout and stderr together
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Every sample different in both bytes, including values above 32767.
std::vector<std::uint16_t> PatternSamples() {
    std::vector<std::uint16_t> samples(kFrameSamples);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(i * 40503u + 12345u);
    return samples;
}

// --- Frame files ---------------------------------------------------------------

TEST(TiffFrameWriter, SamplesStartAtByte174AndReadBackExactly) {
    ScratchFolder folder;
    const std::string path = folder / "Camera1_20080415_093012_000.tif";
    const auto samples = PatternSamples();
    WriteFrameFile(path, samples);

    EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(kFrameFileBytes));
    const std::string bytes = merkanix::testing::ReadBytes(path);
    EXPECT_EQ(bytes.substr(0, 4), std::string("II*\0", 4));
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[174]), samples[0] & 0xFF);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[175]), samples[0] >> 8);
    EXPECT_EQ(ReadFrameSamples(path), samples);
    // Only the frame itself: the temporary file was renamed away.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(TiffFrameWriter, LibtiffReadsItWithoutComplaint) {
    if (RunCommand("command -v tiffinfo").status != 0) GTEST_SKIP() << "tiffinfo is not installed";
    ScratchFolder folder;
    const std::string path = folder / "frame.tif";
    WriteFrameFile(path, PatternSamples());
    const CommandResult info = RunCommand("tiffinfo '" + path + "'");
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("Image Width: 656 Image Length: 492"), std::string::npos);
    EXPECT_NE(info.output.find("Bits/Sample: 16"), std::string::npos);
    EXPECT_NE(info.output.find("min-is-black"), std::string::npos);
    EXPECT_EQ(info.output.find("Warning"), std::string::npos) << info.output;
    EXPECT_EQ(info.output.find("Error"), std::string::npos) << info.output;
}

TEST(TiffFrameWriter, PillowReadsSizeAndSamples) {
    if (RunCommand("/usr/bin/python3 -c 'import PIL'").status != 0) GTEST_SKIP() << "no Pillow";
    ScratchFolder folder;
    const std::string path = folder / "frame.tif";
    const auto samples = PatternSamples();
    WriteFrameFile(path, samples);
    const CommandResult read = RunCommand("/usr/bin/python3 -c \"from PIL import Image; "
                                          "im = Image.open('" +
                                          path +
                                          "'); print(im.size[0], im.size[1], "
                                          "im.getpixel((0, 0)), im.getpixel((655, 491)), "
                                          "im.getpixel((300, 17)))\"");
    ASSERT_EQ(read.status, 0) << read.output;
    const auto at = [&](int x, int y) {
        return std::to_string(samples[static_cast<std::size_t>(y) * kFrameWidth + x]);
    };
    EXPECT_EQ(read.output, "656 492 " + at(0, 0) + " " + at(655, 491) + " " + at(300, 17) + "\n");
}

TEST(TiffFrameWriter, FailureLeavesNothingBehind) {
    ScratchFolder folder;
    EXPECT_THROW(WriteFrameFile(folder / "missing/frame.tif", PatternSamples()), InOutError);
    EXPECT_THROW(WriteFrameFile(folder / "short.tif", std::vector<std::uint16_t>(100)),
                 std::invalid_argument);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    // Replacing keeps the old content until the new one is complete.
    const std::string path = folder / "frame.tif";
    WriteFrameFile(path, std::vector<std::uint16_t>(kFrameSamples, 7));
    WriteFrameFile(path, PatternSamples());
    EXPECT_EQ(ReadFrameSamples(path), PatternSamples());
}

TEST(FrameFileName, RoundTripsThroughTheFrameTimeStamp) {
    const TDateTime time = EncodeDateTime({2008, 4, 15, 9, 30, 12, 7});
    EXPECT_EQ(FrameFileName(2, time), "Camera2_20080415_093012_007.tif");

    // Day counts rarely hold a millisecond exactly: the name must round.
    RandomSource random(99);
    for (int i = 0; i < 2000; ++i) {
        const auto ms = random.UniformInteger(0, 86400000 - 1);
        const DateTimeParts parts{
            2008 + static_cast<int>(ms % 7),   1 + static_cast<int>(ms % 12),
            1 + static_cast<int>(ms % 28),     static_cast<int>(ms / 3600000),
            static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
            static_cast<int>(ms % 1000)};
        const TDateTime value = EncodeDateTime(parts);
        const int camera = 1 + static_cast<int>(ms % 3);
        const std::string name = FrameFileName(camera, value);
        ASSERT_EQ(name.size(), static_cast<std::size_t>(kFrameNameLength));
        ASSERT_EQ(name.substr(0, 7), "Camera" + std::to_string(camera));
        ASSERT_EQ(FrameTimeStamp(name), value) << name;
        ASSERT_EQ(name, FrameFileName(camera, parts));
    }
    EXPECT_THROW(FrameFileName(4, time), std::invalid_argument);
    EXPECT_THROW(FrameFileName(0, time), std::invalid_argument);
}

// --- Geometry ------------------------------------------------------------------

std::array<CameraSetup, 3> DefaultCameras() {
    return ParseCameraSetups(DefaultCameraTexts(','), ',');
}

// Row whose line of sight passes through `w`, found from the measuring
// code's own lines: the line's value at w is affine in the edge row.
double RowThrough(const CameraSetup& c, Point2D w) {
    const auto value = [&](double row) {
        const Line2D line = SightLine(c.name, c.x, c.y, c.f, c.yc, row);
        return line.a * w.x + line.b * w.y + line.c;
    };
    const double v0 = value(0.0), v1 = value(492.0);
    return -v0 * 492.0 / (v1 - v0);
}

// Extreme row over the fibre's outline: coarse scan, then golden section.
double ExtremeRow(const CameraSetup& c, const EllipseParams& e, double sign) {
    const double phi = e.angle * std::numbers::pi / 180;
    const auto row = [&](double t) {
        const double ex = e.semiMajor * std::cos(t), ey = e.semiMinor * std::sin(t);
        return sign * RowThrough(c, {e.centreX + ex * std::cos(phi) - ey * std::sin(phi),
                                     e.centreY + ex * std::sin(phi) + ey * std::cos(phi)});
    };
    constexpr int kSteps = 720;
    const double step = 2 * std::numbers::pi / kSteps;
    double best = 0;
    for (int i = 1; i < kSteps; ++i)
        if (row(i * step) > row(best)) best = i * step;
    double lo = best - step, hi = best + step;
    const double g = (std::sqrt(5.0) - 1) / 2;
    for (int i = 0; i < 100; ++i) {
        const double m1 = hi - g * (hi - lo), m2 = lo + g * (hi - lo);
        if (row(m1) > row(m2))
            hi = m2;
        else
            lo = m1;
    }
    return sign * row((lo + hi) / 2);
}

// Centre distance of the line in the ellipse's own metric: 1 when tangent.
double EllipseDistance(const Line2D& l, const EllipseParams& e) {
    const double phi = e.angle * std::numbers::pi / 180;
    const double nu = l.a * std::cos(phi) + l.b * std::sin(phi);
    const double nw = -l.a * std::sin(phi) + l.b * std::cos(phi);
    return std::abs(l.a * e.centreX + l.b * e.centreY + l.c) /
           std::hypot(e.semiMajor * nu, e.semiMinor * nw);
}

TEST(TangentRows, AgreeWithTheLinesOfSightOfTheMeasurement) {
    const auto cameras = DefaultCameras();
    RandomSource random(5);
    for (int trial = 0; trial < 40; ++trial) {
        EllipseParams fibre;
        fibre.semiMajor = random.Uniform(0.1, 0.7);
        fibre.semiMinor = fibre.semiMajor * random.Uniform(0.6, 1.0);
        fibre.centreX = random.Uniform(-0.4, 0.4);
        fibre.centreY = random.Uniform(-0.4, 0.4);
        fibre.angle = random.Uniform(0, 180);
        for (const CameraSetup& c : cameras) {
            SCOPED_TRACE(std::string(c.name) + " trial " + std::to_string(trial));
            const BandRows band = TangentRows(c, fibre);
            ASSERT_LT(band.top, band.bottom);
            EXPECT_NEAR(band.top, ExtremeRow(c, fibre, -1), 1e-7);
            EXPECT_NEAR(band.bottom, ExtremeRow(c, fibre, +1), 1e-7);
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
    EllipseParams fibre{1.0, 0.5, 0, 0, 30};
    EXPECT_NO_THROW(TangentRows(camera, fibre));
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 0, -49.8, 30}), Error); // lens inside
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 0, -60, 30}), Error);   // behind the lens
    EXPECT_THROW(TangentRows(camera, {1.0, 0.5, 2.0, -50, 0}), Error);  // beside the lens
    EXPECT_THROW(TangentRows({"CAM4", 23, 327.5, 245.5, 0, -50}, fibre), std::invalid_argument);
}

// --- Rendering -----------------------------------------------------------------

TEST(RenderBand, PixelRowsTakeTheCoveredFractionOfTheBand) {
    RenderOptions options;
    options.tilt = 0;
    const BandRows band{100.25, 200.75};
    const auto frame = RenderBand(band, options, 1);
    const auto expect = [&](int row, double cover) {
        const double value = RoundHalfEven(options.bright * (1 - cover) + options.dark * cover);
        for (const int column : {0, 327, 655})
            EXPECT_EQ(frame[static_cast<std::size_t>(row) * kFrameWidth + column], value)
                << "row " << row << " column " << column;
    };
    expect(0, 0.0);
    expect(99, 0.0);
    expect(100, 0.25);
    expect(101, 1.0);
    expect(150, 1.0);
    expect(200, 1.0);
    expect(201, 0.25);
    expect(202, 0.0);
    expect(491, 0.0);

    options.reverse = true;
    const auto reversed = RenderBand(band, options, 1);
    EXPECT_EQ(reversed[50 * kFrameWidth], options.dark);
    EXPECT_EQ(reversed[150 * kFrameWidth], options.bright);
}

TEST(RenderBand, CoverageKeepsTheBandsWidthAndCentreInEveryMode) {
    // Blur and sub-rows may spread the shadow but neither add nor move it.
    // Pixel rows weigh by their middle row, which averages out only over a
    // band of whole rows; so the centre is checked for those.
    for (const double blur : {0.0, 0.7, 2.5})
        for (const int supersample : {0, 1000})
            for (const double top : {120.0, 120.3, 149.77})
                for (const double width : {33.0, 33.37}) {
                    const double bottom = top + width;
                    double mass = 0, moment = 0;
                    for (int row = 0; row < kFrameHeight; ++row) {
                        const double cover = RowCoverage(row, top, bottom, blur, supersample);
                        ASSERT_GE(cover, 0.0);
                        ASSERT_LE(cover, 1.0);
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
    // Sub-rows sit at the middles of equal parts of the pixel row.
    EXPECT_EQ(RowCoverage(100, 100.3, 140.0, 0.0, 4), 0.25);
    EXPECT_EQ(RowCoverage(140, 100.3, 140.1, 0.0, 4), 0.5);
    // Exact integration is the limit of ever finer sub-rows.
    for (const double blur : {0.0, 0.4, 1.5})
        for (int row = 95; row <= 105; ++row)
            EXPECT_NEAR(RowCoverage(row, 100.3, 140.0, blur, 0),
                        RowCoverage(row, 100.3, 140.0, blur, 2000), 1e-3);
}

TEST(RenderBand, TiltShiftsTheBandAboutTheMiddleColumn) {
    RenderOptions options;
    options.tilt = 0.01;
    const BandRows band{200.0, 260.0};
    const auto frame = RenderBand(band, options, 1);
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
}

TEST(RenderBand, NoiseIsReproducibleAndHasTheRequestedSpread) {
    RenderOptions options;
    options.noiseSigma = 120;
    options.blurSigma = 1;
    const BandRows band{200.0, 260.0};
    const auto first = RenderBand(band, options, 42);
    EXPECT_EQ(first, RenderBand(band, options, 42));
    EXPECT_NE(first, RenderBand(band, options, 43));

    double sum = 0, squares = 0;
    int count = 0;
    for (int row = 0; row < 150; ++row)
        for (int column = 0; column < kFrameWidth; ++column) {
            const double deviation =
                first[static_cast<std::size_t>(row) * kFrameWidth + column] - options.bright;
            sum += deviation;
            squares += deviation * deviation;
            ++count;
        }
    EXPECT_NEAR(sum / count, 0.0, 2.0);
    EXPECT_NEAR(std::sqrt(squares / count), 120.0, 2.0);
}

// --- Runs ----------------------------------------------------------------------

TEST(PlanRun, TimesFormExactlyThePlannedTriples) {
    // Largest jitter the tolerance allows, with and without a tight interval.
    for (const std::int64_t interval : {1000, 160}) {
        RunOptions run;
        run.triples = 12;
        run.extras = 7;
        run.jitterMs = 25;
        run.intervalMs = interval;
        run.start = {2008, 4, 15, 23, 59, 58, 0}; // across midnight
        run.seed = 3;
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

TEST(PlanRun, RejectsTimingThatCouldJoinOrSplitTriples) {
    RunOptions run;
    EXPECT_FALSE(TimingProblem(run).has_value());
    run.jitterMs = 26; // two frames of one triple 52 ms apart
    EXPECT_TRUE(TimingProblem(run).has_value());
    run.jitterMs = 20;
    run.intervalMs = 80; // twice the jitter reaches half the interval
    EXPECT_TRUE(TimingProblem(run).has_value());
    run.intervalMs = 150;
    run.extras = 1; // an extra 75 ms from a frame jittered by 20: 55 ms
    EXPECT_FALSE(TimingProblem(run).has_value());
    run.jitterMs = 24;
    EXPECT_TRUE(TimingProblem(run).has_value());
    EXPECT_THROW(PlanRun(DefaultCameras(), run), std::invalid_argument);
}

TEST(PlanRun, FibresFollowTheOptionsAndTheSeed) {
    RunOptions run;
    run.triples = 50;
    run.diameterMin = 0.4;
    run.diameterMax = 0.9;
    run.ovalityMax = 0.2;
    run.offsetMax = 0.25;
    const RunPlan plan = PlanRun(DefaultCameras(), run);
    for (const auto& t : plan.triples) {
        EXPECT_EQ(t.diameter, EquivalentDiameter(t.fibre.semiMajor, t.fibre.semiMinor));
        EXPECT_GE(t.diameter, 0.4 - 1e-12);
        EXPECT_LE(t.diameter, 0.9 + 1e-12);
        EXPECT_GE(t.fibre.semiMinor, 0.8 * t.fibre.semiMajor - 1e-12);
        EXPECT_LE(std::hypot(t.fibre.centreX, t.fibre.centreY), 0.25);
    }
    const RenderOptions render;
    const std::string truth = TruthJson(plan, run, render);
    EXPECT_EQ(truth, TruthJson(PlanRun(DefaultCameras(), run), run, render));
    run.seed = 2;
    EXPECT_NE(truth, TruthJson(PlanRun(DefaultCameras(), run), run, render));
}

// --- The tool ------------------------------------------------------------------

#ifdef MERKANIX_BIN_DIR
TEST(SimulateTool, WritesFramesAndAReadableTruthFile) {
    ScratchFolder folder;
    const std::string tool = std::string(MERKANIX_BIN_DIR) + "/merkanix-simulate";
    const std::string out = folder / "run";
    const CommandResult run = RunCommand(tool + " '" + out + "' --triples 2 --extra 1 --noise 50");
    ASSERT_EQ(run.status, 0) << run.output;
    std::vector<std::string> names = ListFolderFiles(out);
    EXPECT_EQ(names.size(), 8u); // six triple frames, one extra, the truth file
    EXPECT_EQ(FindTriples(out, names, "50", ',').size(), 2u);

    if (RunCommand("/usr/bin/python3 -c 'import json'").status == 0) {
        const CommandResult parse =
            RunCommand("/usr/bin/python3 -c \"import json; d = json.load(open('" + out +
                       "/truth.json')); print([t['index'] for t in d['triples']], "
                       "len(d['extra_files']), len(d['triples'][1]['tangent_rows']))\"");
        EXPECT_EQ(parse.output, "[1, 2] 1 3\n");
    }

    EXPECT_EQ(RunCommand(tool + " '" + out + "' --triples 1").status, 1); // frames already there
    EXPECT_EQ(RunCommand(tool + " '" + folder / "other" + "' --jitter 30").status, 2);
    EXPECT_EQ(RunCommand(tool + " '" + folder / "other" + "' --triples x").status, 2);
    EXPECT_EQ(RunCommand(tool).status, 2);
    EXPECT_FALSE(std::filesystem::exists(folder / "other"));
}
#endif

} // namespace
} // namespace merkanix::simulation
