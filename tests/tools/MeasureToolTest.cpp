#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

using namespace merkanix::testing;

namespace {
const std::string kHeader = "triple,file1,file2,file3,span_ms,top1,bottom1,top2,bottom2,top3,"
                            "bottom3,centre_x,centre_y,a,b,angle,diameter\n";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void WriteBandTriple(const ScratchFolder& folder, const std::string& time) {
    for (int k = 1; k <= 3; ++k)
        WriteFrame(folder / ("Camera" + std::to_string(k) + "_20080415_" + time + ".tif"),
                   BandSamples(220 + k, 262 + k));
}

CommandResult Measure(const ScratchFolder& folder, const std::string& options) {
    return RunTool("merkanix-measure", Quote(folder.path()) + " " + options);
}
} // namespace

TEST(MeasureTool, UsageErrorsExitWithTwo) {
    ScratchFolder folder;
    const std::string f = Quote(folder.path());
    for (const std::string& args :
         {std::string(), std::string("--csv"), f + " --bogus", f + " --tolerance",
          f + " --tolerance abc", f + " --jobs 0", f + " x", f + " --csv=1"}) {
        const CommandResult r = RunTool("merkanix-measure", args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    EXPECT_NE(Measure(folder, "--tolerance abc").err.find("'abc' is not a valid floating point"),
              std::string::npos);
    EXPECT_EQ(RunTool("merkanix-measure", "--help").status, 0);
}

TEST(MeasureTool, FoldersWithoutTriplesAndFoldersThatAreNot) {
    ScratchFolder folder;
    WriteFrame(folder / "Camera1_20080415_093012_007.tif", BandSamples(200, 250));
    WriteFrame(folder / "Camera2_20080415_093012_010.tif", BandSamples(200, 250));
    const CommandResult csv = Measure(folder, "--csv");
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out, kHeader);
    EXPECT_NE(Measure(folder, "").out.find("No frame triples"), std::string::npos);
    const CommandResult r = RunTool("merkanix-measure", Quote(folder / "missing"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing"), std::string::npos);
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
