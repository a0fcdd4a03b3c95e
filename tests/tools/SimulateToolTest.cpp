#include "calibration/CalibrationUnit.h"
#include "calibration/CentreSearch.h"
#include "measurement/Edges.h"
#include "measurement/Triples.h"
#include "support/RunCommand.h"

#include <gtest/gtest.h>

namespace merkanix::testing {
namespace {

// The value of "key": NUMBER in a truth file.
double Truth(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? std::nan("") : std::stod(json.substr(at + key.size() + 4));
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
                      .output,
                  "[1, 2] 1 3\n");
    }

    EXPECT_EQ(RunTool("merkanix-simulate", Quote(out) + " --triples 1").status, 1); // frames there
    // Refused command lines write nothing.
    const std::string other = Quote(folder / "other");
    for (const std::string& args :
         {other + " --jitter 30", other + " --triples x", std::string(), other + " --reverse=1",
          other + " --calibration --triples 3", other + " --focal 20",
          other + " --calibration --reading1 120", other + " --calibration --zero-distance 20",
          other + " --calibration --centre-x 700", other + " --calibration=1"})
        EXPECT_EQ(RunTool("merkanix-simulate", args).status, 2) << args;
    EXPECT_FALSE(std::filesystem::exists(folder / "other"));
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

} // namespace
} // namespace merkanix::testing
