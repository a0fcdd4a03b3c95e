#include "support/RunCommand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

namespace merkanix::testing {
namespace {

std::map<std::string, double> Values(const std::string& output) {
    std::map<std::string, double> values;
    std::istringstream in(output);
    std::string key;
    double value = 0;
    while (in >> key >> value)
        values[key] = value;
    return values;
}

TEST(CalibrateTool, PrintsTheCentreOfASimulatedPair) {
    ScratchFolder folder;
    ASSERT_EQ(
        RunTool("merkanix-simulate",
                Quote(folder.path()) + " --calibration --centre-x 325 --centre-y 240 --seed 9")
            .status,
        0);
    const std::string pair = Quote(folder / "Camera1_20080415_093012_000_35,00.tif") + " " +
                             Quote(folder / "Camera1_20080415_093013_000_30,00.tif");
    const CommandResult r = RunTool("merkanix-calibrate", pair);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto v = Values(r.out);
    for (const char* key : {"magnification", "rotation", "rotation_quality", "dx", "dy",
                            "translation_quality", "passes", "xc", "yc", "ds"})
        EXPECT_EQ(v.count(key), 1u) << key;
    EXPECT_NEAR(v.at("magnification"), 50.0 / 55.0, 0.006);
    EXPECT_EQ(v.at("rotation"), 0.0);
    EXPECT_EQ(v.at("ds"), 5.0);
    EXPECT_TRUE(v.at("passes") >= 1 && v.at("passes") <= 50);
    // Stated accuracy: 2.8 px RMS, under 5 px in 30 simulated pairs.
    EXPECT_LT(std::hypot(v.at("xc") - 325, v.at("yc") - 240), 5.0) << r.out;
    // Settings that change the refinement are taken, in either spelling.
    const CommandResult few =
        RunTool("merkanix-calibrate", pair + " --passes 2 --window=5 --low-pass 0");
    ASSERT_EQ(few.status, 0) << few.err;
    EXPECT_EQ(Values(few.out).at("passes"), 2);
}

TEST(CalibrateTool, BadCommandLinesAndMissingFiles) {
    for (const char* args : {"", "a.tif", "a.tif b.tif c.tif", "a b --epsilon 0", "a b --passes 0",
                             "a b --bogus 1", "a b --window"}) {
        const CommandResult r = RunTool("merkanix-calibrate", args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    ScratchFolder folder;
    const CommandResult missing = RunTool("merkanix-calibrate", Quote(folder / "none.tif") + " " +
                                                                    Quote(folder / "none.tif"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.tif"), std::string::npos);
}

} // namespace
} // namespace merkanix::testing
