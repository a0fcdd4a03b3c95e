#include "app/Edges.h"
#include "app/FrameFile.h"
#include "calibration/CentreSearch.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace merkanix::testing {
namespace {

std::vector<std::string> FramesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".tif") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, double> Values(const std::string& output) {
    std::map<std::string, double> values;
    std::istringstream in(output);
    std::string key;
    double value = 0;
    while (in >> key >> value)
        values[key] = value;
    return values;
}

// The value of "key": NUMBER in the truth file.
double Truth(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return std::nan("");
    return std::stod(json.substr(at + key.size() + 4));
}

TEST(SimulateCalibration, PaperPairAndEtalonFramesWithTheirTruth) {
    ScratchFolder folder;
    const CommandResult r =
        RunTool("merkanix-simulate", Quote(folder.path()) +
                                         " --calibration --camera 2 --reading1 -4.5 --reading2 "
                                         "2.25 --zero-distance 55 --etalons 2 --seed 3");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> names = FramesIn(folder.path());
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "Camera2_20080415_093012_000_-04,50.tif");
    EXPECT_EQ(names[1], "Camera2_20080415_093013_000_02,25.tif");
    EXPECT_EQ(names[2], "Camera2_20080415_093014_000.tif");
    // The names read back as the calibration window reads them.
    EXPECT_EQ(StageReading(names[0]), -4.5);
    EXPECT_EQ(StageReading(names[1]), 2.25);
    const std::string truth = ReadBytes(folder / "truth.json");
    EXPECT_EQ(Truth(truth, "magnification"), (55 + 4.5) / (55 - 2.25));
    EXPECT_EQ(Truth(truth, "xc"), 318.4);

    // The farther image (smaller reading) shows the ruling smaller.
    CalibrationImage image;
    LoadCalibrationFrame(folder / names[0], image);
    EXPECT_EQ(*std::max_element(image.begin(), image.end()), 255.0f);

    // An etalon frame places the camera where the settings put it.
    Picture view;
    LoadFrame(folder / names[2], view);
    const EdgePair edges = MeanEdges(view, 10.0);
    Point2D position;
    ASSERT_TRUE(CameraPosition("CAM2", position, 23, 252.7, edges.top, edges.bottom, 1.02));
    EXPECT_NEAR(position.x, 43.1025239130338, 0.5);
    EXPECT_NEAR(position.y, 24.756501341982, 0.5);
}

TEST(SimulateCalibration, OptionsOfTheOtherKindOfRunAreRefused) {
    ScratchFolder folder;
    for (const std::string args :
         {" --calibration --triples 3", " --focal 20", " --calibration --reading1 120",
          " --calibration --zero-distance 20", " --calibration --centre-x 700",
          " --calibration=1"}) {
        const CommandResult r = RunTool("merkanix-simulate", Quote(folder.path()) + args);
        EXPECT_EQ(r.status, 2) << args << r.err;
    }
    EXPECT_TRUE(FramesIn(folder.path()).empty());
}

TEST(CalibrateTool, PrintsTheCentreOfASimulatedPair) {
    ScratchFolder folder;
    ASSERT_EQ(
        RunTool("merkanix-simulate",
                Quote(folder.path()) + " --calibration --centre-x 325 --centre-y 240 --seed 9")
            .status,
        0);
    const std::vector<std::string> names = FramesIn(folder.path());
    const CommandResult r =
        RunTool("merkanix-calibrate", Quote(folder / names[0]) + " " + Quote(folder / names[1]));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = Values(r.out);
    for (const char* key : {"magnification", "rotation", "rotation_quality", "dx", "dy",
                            "translation_quality", "passes", "xc", "yc", "ds"})
        EXPECT_EQ(v.count(key), 1u) << key;
    EXPECT_NEAR(v.at("magnification"), 50.0 / 55.0, 0.006);
    EXPECT_EQ(v.at("rotation"), 0.0);
    EXPECT_EQ(v.at("ds"), 5.0);
    EXPECT_GE(v.at("passes"), 1);
    EXPECT_LE(v.at("passes"), 50);
    // Stated accuracy: 2.8 px RMS, under 5 px in 30 simulated pairs.
    EXPECT_LT(std::hypot(v.at("xc") - 325, v.at("yc") - 240), 5.0) << r.out;

    // Settings that change the refinement are taken.
    const CommandResult few =
        RunTool("merkanix-calibrate", Quote(folder / names[0]) + " " + Quote(folder / names[1]) +
                                          " --passes 2 --window 5 --low-pass 0");
    ASSERT_EQ(few.status, 0) << few.err;
    EXPECT_EQ(Values(few.out).at("passes"), 2);
}

TEST(CalibrateTool, BadCommandLinesAndMissingFiles) {
    ScratchFolder folder;
    for (const std::string& args :
         {std::string(""), std::string("a.tif"), std::string("a.tif b.tif c.tif"),
          std::string("a b --epsilon 0"), std::string("a b --passes 0"),
          std::string("a b --bogus 1"), std::string("a b --window")}) {
        const CommandResult r = RunTool("merkanix-calibrate", args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    const CommandResult missing = RunTool("merkanix-calibrate", Quote(folder / "none.tif") + " " +
                                                                    Quote(folder / "none.tif"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.tif"), std::string::npos);
}

} // namespace
} // namespace merkanix::testing
