#include "support/RunCommand.h"

#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
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
} // namespace

TEST(MeasureTool, UsageErrorsExitWithTwo) {
    ScratchFolder folder;
    for (const std::string& args : std::vector<std::string>{
             "", "--csv", Quote(folder.path()) + " --bogus", Quote(folder.path()) + " --tolerance",
             Quote(folder.path()) + " --tolerance abc", Quote(folder.path()) + " --jobs 0",
             Quote(folder.path()) + " x y"}) {
        const CommandResult r = RunTool("merkanix-measure", args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
    EXPECT_NE(RunTool("merkanix-measure", Quote(folder.path()) + " --tolerance abc")
                  .err.find("'abc' is not a valid floating point value"),
              std::string::npos);
    EXPECT_EQ(RunTool("merkanix-measure", "--help").status, 0);
}

TEST(MeasureTool, EmptyAndIncompleteFoldersGiveNoRows) {
    ScratchFolder folder;
    CommandResult r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kHeader);
    WriteFrame(folder / "Camera1_20080415_093012_007.tif", BandSamples(200, 250));
    WriteFrame(folder / "Camera2_20080415_093012_010.tif", BandSamples(200, 250));
    r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kHeader);
    r = RunTool("merkanix-measure", Quote(folder.path()));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("No frame triples"), std::string::npos);
    r = RunTool("merkanix-measure", Quote(folder / "missing"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing"), std::string::npos);
}

TEST(MeasureTool, CsvRowsInTripleOrderWhateverTheThreads) {
    ScratchFolder folder;
    WriteBandTriple(folder, "093012_007");
    WriteBandTriple(folder, "093013_007");
    WriteBytes(folder / "notes.txt", "not a frame");
    const CommandResult r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv --jobs 1");
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
    EXPECT_EQ(RunTool("merkanix-measure", Quote(folder.path()) + " --csv --jobs 2").out, r.out);
    EXPECT_EQ(RunTool("merkanix-measure", Quote(folder.path()) + " --csv").out, r.out);

    const CommandResult table = RunTool("merkanix-measure", Quote(folder.path()));
    ASSERT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("09:30:13.007"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("0 ms"), std::string::npos);
}

TEST(MeasureTool, BadFramesAndNamesAreErrorsThatNameTheFile) {
    ScratchFolder folder;
    WriteBandTriple(folder, "093012_007");
    // A frame that cannot be read (a folder in its place) stops the run.
    std::filesystem::create_directory(folder / "Camera2_20080415_093012_008.tif");
    CommandResult r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
    EXPECT_EQ(r.status, 0) << "folders are not listed as files";
    std::filesystem::remove(folder / "Camera2_20080415_093012_008.tif");

    // Short and long frames are measured; nothing is read past a frame.
    const std::string shortFrame = folder / "Camera1_20080415_093012_009.tif";
    WriteFrame(shortFrame, std::vector<std::uint16_t>(1000, 7));
    std::vector<std::uint16_t> longer = BandSamples(221, 262);
    longer.resize(longer.size() + 9999, 65535);
    WriteFrame(folder / "Camera3_20080415_093012_009.tif", longer);
    r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 5u); // 2 x 1 x 2 triples

    // An unreadable frame is reported with its name.
    ::chmod(shortFrame.c_str(), 0);
    if (::geteuid() != 0) {
        r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(shortFrame), std::string::npos) << r.err;
    }
    ::chmod(shortFrame.c_str(), 0644);

    WriteFrame(folder / "Camera2_20081315_093012_007.tif", BandSamples(221, 262));
    r = RunTool("merkanix-measure", Quote(folder.path()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Invalid argument to date encode"), std::string::npos) << r.err;
}

TEST(MeasureTool, SettingsFileGivesTheCameras) {
    ScratchFolder folder;
    WriteBandTriple(folder, "093012_007");
    WriteBytes(folder / "cams.txt", "23\r\n327,5\r\n245,5\r\n-46\r\n26\r\n \r\n0\r\n");
    CommandResult r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv --settings " +
                                                      Quote(folder / "cams.txt"));
    // Camera 2's focal length 0 and camera 3's empty texts: the first empty text stops it.
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'' is not a valid floating point value"), std::string::npos) << r.err;
    WriteBytes(folder / "cams.txt",
               "23\r\n327.5\r\n245.5\r\n-46\r\n26\r\n \r\n0\r\n1\r\n1\r\n1\r\n1\r\n \r\n"
               "23\r\n1\r\n1\r\n1\r\n1\r\n");
    r = RunTool("merkanix-measure",
                Quote(folder.path()) + " --csv --settings " + Quote(folder / "cams.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Lines(r.out)[1].find(",nan,nan,nan,nan,nan,nan"), std::string::npos) << r.out;
    EXPECT_EQ(
        RunTool("merkanix-measure", Quote(folder.path()) + " --settings " + Quote(folder / "none"))
            .status,
        1);
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
    const CommandResult r = RunTool("merkanix-measure", Quote(folder.path()) + " --csv");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3333u); // header and 3332 triples
    EXPECT_EQ(lines.back().rfind("3332,Camera1_20080415_105531_005.tif,", 0), 0u) << lines.back();
}
