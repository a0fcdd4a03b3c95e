// The command-line programs run as a user runs them, end to end.
#include "calibration/CalibrationUnit.h"
#include "calibration/CentreSearch.h"
#include "measurement/Edges.h"
#include "measurement/FrameFile.h"
#include "measurement/Triples.h"
#include "support/RunCommand.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <vector>

using namespace merkanix;
using namespace merkanix::testing;

namespace {

const std::string kHeader = "triple,file1,file2,file3,span_ms,top1,bottom1,top2,bottom2,top3,"
                            "bottom3,centre_x,centre_y,a,b,angle,diameter\n";

void WriteBandTriple(const ScratchFolder& folder, const std::string& time) {
    for (int k = 1; k <= 3; ++k)
        WriteFrame(folder / ("Camera" + std::to_string(k) + "_20080415_" + time + ".tif"),
                   BandSamples(220 + k, 262 + k));
}

CommandResult Measure(const ScratchFolder& folder, const std::string& options) {
    return RunTool("merkanix-measure", Quote(folder.path()) + " " + options);
}

// The value of "key": NUMBER in a truth file.
double Truth(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? std::nan("") : std::stod(json.substr(at + key.size() + 4));
}

// The "key value" lines the calibration tool prints.
std::map<std::string, double> Values(const std::string& output) {
    std::map<std::string, double> values;
    std::istringstream in(output);
    std::string key;
    double value = 0;
    while (in >> key >> value)
        values[key] = value;
    return values;
}

// A triple's three file names joined by commas, and its diameter.
struct Triple {
    std::string files;
    double diameter = 0;
    double ovality = 0; // a - b, mm
};

// The triples of truth.json.
std::vector<Triple> ReadTruth(const std::string& path) {
    const std::string json = ReadBytes(path);
    std::vector<Triple> triples;
    for (std::size_t at = json.find("\"files\": ["); at != std::string::npos;
         at = json.find("\"files\": [", at + 1)) {
        Triple t;
        const std::size_t close = json.find(']', at);
        for (std::size_t q = json.find('"', at + 9); q < close; q = json.find('"', q + 1)) {
            const std::size_t end = json.find('"', q + 1);
            t.files += (t.files.empty() ? "" : ",") + json.substr(q + 1, end - q - 1);
            q = end;
        }
        t.diameter = std::strtod(json.c_str() + json.find("\"diameter\": ", at) + 12, nullptr);
        triples.push_back(t);
    }
    return triples;
}

// The triples of the measuring tool's CSV output.
std::vector<Triple> ReadCsv(const std::string& csv) {
    std::vector<Triple> rows;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(cell);
        EXPECT_EQ(fields.size(), 17u) << line;
        if (fields.size() == 17)
            rows.push_back({fields[1] + "," + fields[2] + "," + fields[3],
                            std::strtod(fields[16].c_str(), nullptr),
                            std::strtod(fields[13].c_str(), nullptr) -
                                std::strtod(fields[14].c_str(), nullptr)});
    }
    return rows;
}

// Over 800 simulated triples the worst error was 2.8 um with the band
// slightly tilted (strips see different whole rows, their mean is finer) and
// 8.5 um without tilt (whole rows only: one row is about 12 um at the fibre).
constexpr double kBudgetTilted = 0.004;
constexpr double kBudgetStraight = 0.010;

} // namespace

TEST(Tools, BadCommandLinesExitWithTwoAndTheUsageAndWriteNothing) {
    ScratchFolder folder;
    const std::string f = Quote(folder.path()), other = Quote(folder / "other");
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"merkanix-measure",
         {"", "--csv", f + " --bogus", f + " --tolerance", f + " --tolerance abc", f + " --jobs 0",
          f + " x", f + " --csv=1"}},
        {"merkanix-calibrate",
         {"", "a.tif", "a.tif b.tif c.tif", "a b --epsilon 0", "a b --passes 0", "a b --bogus 1",
          "a b --window", "a b --columns 3", "a b --columns 3 --period 5",
          "a b --columns 1 2 --period 3", "a b --kernel 2", "a b --kernel 201 --camera CAM2",
          "a b --camera CAM4", "a b --threshold 256", "a b --diameter x", "a b --t0=-1",
          "a b --filter-passes 11"}},
        {"merkanix-simulate",
         {"", other + " --jitter 30", other + " --triples x", other + " --reverse=1",
          other + " --calibration --triples 3", other + " --focal 20",
          other + " --calibration --reading1 120", other + " --calibration --zero-distance 20",
          other + " --calibration --centre-x 700", other + " --calibration=1",
          other + " --calibration --cameras 2", other + " --calibration --cameras 3 --focal 20",
          other + " --calibration --cameras 3 --camera 2"}}};
    for (const auto& [tool, list] : cases)
        for (const std::string& args : list) {
            const CommandResult r = RunTool(tool, args);
            EXPECT_EQ(r.status, 2) << tool << " " << args;
            EXPECT_NE(r.err.find("usage:"), std::string::npos) << tool << " " << args;
        }
    EXPECT_FALSE(std::filesystem::exists(folder / "other"));
    EXPECT_NE(RunTool("merkanix-measure", f + " --tolerance abc")
                  .err.find("'abc' is not a valid floating point"),
              std::string::npos);
    EXPECT_EQ(RunTool("merkanix-measure", "--help").status, 0);
    // Missing inputs are named, with status 1.
    const std::string none = Quote(folder / "none.tif");
    for (const auto& [tool, args] :
         {std::pair{"merkanix-measure", none}, {"merkanix-calibrate", none + " " + none}}) {
        const CommandResult r = RunTool(tool, args);
        EXPECT_EQ(r.status, 1) << tool;
        EXPECT_NE(r.err.find("none.tif"), std::string::npos) << tool;
    }
}

TEST(MeasureTool, AFolderWithoutTriplesGivesTheHeaderOnly) {
    ScratchFolder folder;
    WriteFrame(folder / "Camera1_20080415_093012_007.tif", BandSamples(200, 250));
    WriteFrame(folder / "Camera2_20080415_093012_010.tif", BandSamples(200, 250));
    const CommandResult csv = Measure(folder, "--csv");
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out, kHeader);
    EXPECT_NE(Measure(folder, "").out.find("No frame triples"), std::string::npos);
}

TEST(MeasureTool, RowsInTripleOrderWhateverTheThreads) {
    ScratchFolder folder;
    WriteBandTriple(folder, "093012_007");
    WriteBandTriple(folder, "093013_007");
    WriteBytes(folder / "notes.txt", "not a frame");
    const CommandResult r = Measure(folder, "--csv --jobs 1");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0] + "\n", kHeader);
    EXPECT_EQ(lines[1].rfind("1,Camera1_20080415_093012_007.tif,Camera2_20080415_093012_007.tif,"
                             "Camera3_20080415_093012_007.tif,0,220,262,221,263,222,264,",
                             0),
              0u)
        << lines[1];
    EXPECT_EQ(lines[2].rfind("2,Camera1_20080415_093013_007.tif", 0), 0u);
    for (const char* options : {"--csv --jobs=2", "--csv"})
        EXPECT_EQ(Measure(folder, options).out, r.out) << options;
    const CommandResult table = Measure(folder, "");
    EXPECT_NE(table.out.find("09:30:13.007"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("0 ms"), std::string::npos);
}

TEST(MeasureTool, ShortFramesAreMeasuredWithAWarningEach) {
    ScratchFolder folder;
    WriteBandTriple(folder, "093012_007");
    WriteBandTriple(folder, "093013_007");
    const std::string short1 = folder / "Camera3_20080415_093012_007.tif";
    const std::string short2 = folder / "Camera2_20080415_093013_007.tif";
    std::filesystem::resize_file(short2, 1000);
    std::filesystem::resize_file(short1, 0);
    // Each of the eight triples within 2 s holds a short frame: one warning each, in order.
    const CommandResult r = Measure(folder, "--csv --tolerance 2000");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 9u);
    EXPECT_EQ(Lines(r.err).size(), 2u) << r.err;
    const std::size_t first = r.err.find("warning: \"" + short1 + "\""),
                      second = r.err.find("warning: \"" + short2 + "\"");
    EXPECT_TRUE(first < second && second != std::string::npos) << r.err;
}

TEST(MeasureTool, SettingsFileGivesTheCameras) {
    ScratchFolder folder;
    WriteBandTriple(folder, "093012_007");
    // Camera 2's focal length 0 and camera 3's empty texts: the first empty text stops it.
    WriteBytes(folder / "cams.txt", "23\r\n327,5\r\n245,5\r\n-46\r\n26\r\n \r\n0\r\n");
    CommandResult r = Measure(folder, "--csv --settings " + Quote(folder / "cams.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'' is not a valid floating point value"), std::string::npos) << r.err;
    WriteBytes(folder / "cams.txt",
               "23\r\n327.5\r\n245.5\r\n-46\r\n26\r\n \r\n0\r\n1\r\n1\r\n1\r\n1\r\n \r\n"
               "23\r\n1\r\n1\r\n1\r\n1\r\n");
    r = Measure(folder, "--csv --settings=" + Quote(folder / "cams.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Lines(r.out)[1].find(",nan,nan,nan,nan,nan,nan"), std::string::npos) << r.out;
    EXPECT_EQ(Measure(folder, "--settings " + Quote(folder / "none")).status, 1);
}

TEST(MeasureTool, TenThousandFrames) {
    // Empty frame files read as black: the run is about the folder, not the pictures.
    ScratchFolder folder;
    for (int camera = 1; camera <= 3; ++camera)
        for (int i = 0; i < 3334 - (camera == 3 ? 2 : 0); ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Camera%d_20080415_%02d%02d%02d_%03d.tif", camera,
                          10 + i / 3600, i / 60 % 60, i % 60, camera * 5);
            WriteBytes(folder / name, "");
        }
    const CommandResult r = Measure(folder, "--csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3333u); // header and 3332 triples
    EXPECT_EQ(lines.back().rfind("3332,Camera1_20080415_105531_005.tif,", 0), 0u) << lines.back();
}

TEST(SimulateTool, WritesTriplesAndATruthFileThatPythonReads) {
    ScratchFolder folder;
    const std::string out = folder / "run";
    const CommandResult run =
        RunTool("merkanix-simulate", Quote(out) + " --triples 2 --extra 1 --noise=50");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> names = ListFolderFiles(out);
    EXPECT_EQ(names.size(), 8u); // six triple frames, one extra, the truth file
    EXPECT_EQ(FindTriples(out, names, "50", ',').size(), 2u);
    if (PythonHas("json")) {
        EXPECT_EQ(RunShell("/usr/bin/python3 -c \"import json; d = json.load(open('" + out +
                           "/truth.json')); print([t['index'] for t in d['triples']], "
                           "len(d['extra_files']), len(d['triples'][1]['tangent_rows']))\"")
                      .out,
                  "[1, 2] 1 3\n");
    }

    EXPECT_EQ(RunTool("merkanix-simulate", Quote(out) + " --triples 1").status, 1); // frames there
}

TEST(SimulateTool, CalibrationFramesOfPaperAndEtalonWithTheirTruth) {
    ScratchFolder folder;
    const CommandResult r =
        RunTool("merkanix-simulate", Quote(folder.path()) +
                                         " --calibration --camera 2 --reading1 -4.5 --reading2 "
                                         "2.25 --zero-distance 55 --etalons 2 --seed 3");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> names = ListFolderFiles(folder.path());
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], "Camera2_20080415_093012_000_-04,50.tif");
    EXPECT_EQ(names[1], "Camera2_20080415_093013_000_02,25.tif");
    EXPECT_EQ(names[2], "Camera2_20080415_093014_000.tif");
    // The names read back as the calibration window reads them.
    EXPECT_EQ(StageReading(names[0], ','), -4.5);
    EXPECT_EQ(StageReading(names[1], ','), 2.25);
    const std::string truth = ReadBytes(folder / "truth.json");
    EXPECT_EQ(Truth(truth, "magnification"), (55 + 4.5) / (55 - 2.25));
    EXPECT_EQ(Truth(truth, "xc"), 318.4);

    // An etalon frame places the camera where the settings put it.
    Picture view;
    LoadFrame(folder / names[2], view);
    const EdgePair edges = MeanEdges(view, 10.0);
    Point2D position;
    ASSERT_TRUE(CameraPosition("CAM2", position, 23, 252.7, edges.top, edges.bottom, 1.02));
    EXPECT_NEAR(position.x, 43.1025239130338, 0.5);
    EXPECT_NEAR(position.y, 24.756501341982, 0.5);
}

TEST(SimulateTool, AWholeCalibrationOfTheCamerasOfASettingsFile) {
    ScratchFolder folder;
    WriteBytes(folder / "true.txt", "22,4\r\n318,5\r\n251\r\n-46,5\r\n27\r\n \r\n"
                                    "23,6\r\n336\r\n240,25\r\n43\r\n25,5\r\n \r\n"
                                    "23,1\r\n322\r\n249\r\n0,4\r\n-51\r\n");
    const std::string out = folder / "cal";
    const CommandResult r = RunTool(
        "merkanix-simulate", Quote(out) + " --calibration --cameras 3 --settings " +
                                 Quote(folder / "true.txt") + " --seed 4 --etalon-diameter 0.8");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {
        "Camera1_20080415_093012_000_35,00.tif", "Camera1_20080415_093013_000_30,00.tif",
        "Camera1_20080415_093014_000.tif",       "Camera2_20080415_093015_000_35,00.tif",
        "Camera2_20080415_093016_000_30,00.tif", "Camera2_20080415_093017_000.tif",
        "Camera3_20080415_093018_000_35,00.tif", "Camera3_20080415_093019_000_30,00.tif",
        "Camera3_20080415_093020_000.tif",       "truth.json"};
    EXPECT_EQ(ListFolderFiles(out), expected);
    // Every camera's truth is the settings' camera; the marker columns are
    // an odd period apart, the lines' spacing f / (55 mm 0.0056 mm) rounded.
    if (PythonHas("json")) {
        EXPECT_EQ(RunShell("/usr/bin/python3 -c \"import json; d = json.load(open('" + out +
                           "/truth.json'))\nprint(d['ds'], d['etalon_diameter'])\n"
                           "for c in d['cameras']: print(c['name'], c['f'], "
                           "c['xc'], c['yc'], c['x'], c['y'], c['columns'][1] - c['columns'][0], "
                           "c['period'], c['images'][1][:7], c['etalon_files'][0][:7])\"")
                      .out,
                  "5 0.8\nCAM1 22.4 318.5 251 -46.5 27 73 73 Camera1 Camera1\n"
                  "CAM2 23.6 336 240.25 43 25.5 77 77 Camera2 Camera2\n"
                  "CAM3 23.1 322 249 0.4 -51 75 75 Camera3 Camera3\n");
    }
}

TEST(CalibrateTool, CalibratesASimulatedCameraAndHandsItOverInTheSettingsFile) {
    ScratchFolder folder;
    const CommandResult simulated = RunTool(
        "merkanix-simulate",
        Quote(folder.path()) + " --calibration --camera 2 --centre-x 325 --centre-y 240 --seed 9");
    ASSERT_EQ(simulated.status, 0);
    const std::string truth = ReadBytes(folder / "truth.json"), settings = folder / "cameras.txt";
    const std::string pair = Quote(folder / "Camera2_20080415_093012_000_35,00.tif") + " " +
                             Quote(folder / "Camera2_20080415_093013_000_30,00.tif") +
                             " --camera CAM2 --settings " + Quote(settings);
    const CommandResult r =
        RunTool("merkanix-calibrate", pair + " --columns=10 85 --etalon " +
                                          Quote(folder / "Camera2_20080415_093014_000.tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string keys;
    for (const std::string& line : Lines(r.out))
        keys += line.substr(0, line.find(' ')) + " ";
    EXPECT_EQ(keys, "magnification rotation rotation_quality dx dy translation_quality passes xc "
                    "yc ds tf mm f u l x y ");
    const auto v = Values(r.out);
    // Stated accuracy of the centre: 2.8 px RMS, under 5 px in 30 simulated pairs.
    EXPECT_LT(std::hypot(v.at("xc") - 325, v.at("yc") - 240), 5.0) << r.out;
    EXPECT_NEAR(v.at("mm"), Truth(truth, "farther_pixels_per_mm"), 0.02);
    // The magnification comes quantised (0.9071 for 0.9091), and f with it:
    // 22.51 mm for 23, and the position about 1 mm off.
    EXPECT_NEAR(v.at("f"), 23, 0.6);
    EXPECT_LT(std::hypot(v.at("x") - Truth(truth, "x"), v.at("y") - Truth(truth, "y")), 1.5);
    // Camera 2's five texts as the window shows them, the others the start values.
    const std::vector<std::string> lines = Lines(ReadBytes(settings));
    ASSERT_EQ(lines.size(), 17u);
    for (const auto& [line, key] : {std::pair{6, "f"}, {7, "xc"}, {8, "yc"}, {9, "x"}, {10, "y"}})
        EXPECT_NEAR(std::stod(lines[line]), v.at(key), 1e-12 * std::fabs(v.at(key))) << key;
    EXPECT_EQ(lines[3] + lines[16], "-46.0193228167378\r-51.5406248013469\r");
}

TEST(CalibrateTool, RefusesWhatIsNotAFrameFileAndStopsWhereTheWindowStops) {
    ScratchFolder folder;
    const std::string black = Quote(folder / "Camera1_20080415_093012_000_35,00.tif"),
                      two = black + " " + black;
    for (const char* name : {"Camera1_20080415_093012_000_35,00.tif", "black.tif"})
        WriteFrame(folder / name, std::vector<std::uint16_t>(kFrameSamples, 0));
    WriteBytes(folder / "passwd", "root:x:0:0:root:/root:/bin/bash\n");
    WriteBytes(folder / "picture.png", "\x89PNG\r\n\x1a\n" + std::string(4000, 'x'));
    ASSERT_EQ(RunShell("mkfifo " + Quote(folder / "fifo")).status, 0);
    // arguments -> status, the end of the output, a part of the messages.
    std::vector<std::tuple<std::string, int, std::string, std::string>> cases = {
        {two, 0, "mm nan\nf nan\n", "same grey all over"},
        // Without a reading there is no ds: the search stops there, after the millimetre size.
        {black + " " + Quote(folder / "black.tif"), 1, "tf 127.5\nmm nan\n",
         "'' is not a valid floating"},
        {two + " --etalon " + black, 1, "f nan\nu 491\nl 0\n", "'NAN' is not a valid floating"},
        {two + " --threshold 0 --settings " + Quote(folder / "s.txt"), 1, "f nan\n",
         "s.txt\" is left as it was"}};
    // What is not a frame file is refused before it is read (a FIFO would block).
    for (const std::string name : {"passwd", "picture.png", "fifo", "none.tif", ""})
        for (const std::string& args :
             {Quote(folder / name) + " " + black, black + " " + Quote(folder / name),
              two + " --etalon " + Quote(folder / name)})
            cases.emplace_back(args, 1, "", folder / name + "\"");
    for (const auto& [args, status, tail, message] : cases) {
        const CommandResult r =
            RunShell("timeout 60 " + Quote(MERKANIX_BIN_DIR "/merkanix-calibrate") + " " + args);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_TRUE(tail.empty() ? r.out.empty() : r.out.ends_with(tail)) << r.out;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "s.txt"));
}

// Simulated folders through both tools: the triples found are exactly the
// simulated ones and every diameter is within the measured error budget.
TEST(EndToEnd, EveryTripleFoundAndEveryDiameterWithinTheBudget) {
    const std::tuple<const char*, int, double> runs[] = {
        {"--seed 11", 20, kBudgetTilted},
        {"--seed 12 --noise 800", 20, kBudgetTilted},
        {"--seed 13 --blur 1.5 --noise 200", 20, kBudgetTilted},
        {"--seed 21 --diameter-min 0.1 --diameter-max 0.25", 15, kBudgetTilted},
        {"--seed 22 --diameter-min 1.0 --diameter-max 1.4 --ovality 0.3", 15, kBudgetTilted},
        {"--seed 23 --reverse --noise 300 --ovality 0.15", 15, kBudgetTilted},
        {"--seed 24 --tilt 0", 15, kBudgetStraight},
        // Jittered times and frames that match nothing.
        {"--seed 31 --jitter 20 --extra 8 --interval 400", 20, kBudgetTilted}};
    for (const auto& [options, count, budget] : runs) {
        SCOPED_TRACE(options);
        ScratchFolder folder;
        const CommandResult sim =
            RunTool("merkanix-simulate",
                    Quote(folder.path()) + " --triples " + std::to_string(count) + " " + options);
        ASSERT_EQ(sim.status, 0) << sim.err;
        const CommandResult measured = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
        ASSERT_EQ(measured.status, 0) << measured.err;
        const std::vector<Triple> truth = ReadTruth(folder / "truth.json");
        const std::vector<Triple> rows = ReadCsv(measured.out);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(count));
        ASSERT_EQ(truth.size(), rows.size());
        double worst = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].files, truth[i].files) << "triple " << i + 1;
            worst = std::max(worst, std::fabs(rows[i].diameter - truth[i].diameter));
        }
        EXPECT_LT(worst, budget);
    }
}

// Whole-row edges sit half a row before both boundaries, and three cameras
// cannot agree on that shift: round fibres come out oval. Between rows they
// measure round.
TEST(EndToEnd, EdgesBetweenRowsMeasureRoundFibresRound) {
    ScratchFolder folder;
    const CommandResult sim =
        RunTool("merkanix-simulate",
                Quote(folder.path()) + " --triples 8 --seed 41 --noise 500 --tilt 0.0046");
    ASSERT_EQ(sim.status, 0) << sim.err;
    const std::vector<Triple> truth = ReadTruth(folder / "truth.json");
    for (const bool between : {false, true}) {
        const CommandResult measured =
            RunTool("merkanix-measure",
                    Quote(folder.path()) + " --csv" + (between ? " --subpixel-edges" : ""));
        ASSERT_EQ(measured.status, 0) << measured.err;
        const std::vector<Triple> rows = ReadCsv(measured.out);
        ASSERT_EQ(rows.size(), truth.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (between) {
                EXPECT_LT(std::fabs(rows[i].ovality), 0.002) << "triple " << i + 1;
                EXPECT_LT(std::fabs(rows[i].diameter - truth[i].diameter), 0.0005) << i + 1;
            } else {
                EXPECT_GT(rows[i].ovality, 0.010) << "triple " << i + 1;
            }
        }
    }
}
