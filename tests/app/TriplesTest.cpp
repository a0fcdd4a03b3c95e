#include "app/Triples.h"
#include "app/Errors.h"
#include "app/FrameFile.h"
#include "support/TestFiles.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace merkanix;

namespace {
// "CameraK_20080415_HHMMSS_mmm.tif" for a time of day in milliseconds.
std::string FrameName(int camera, long ms) {
    char name[64];
    std::snprintf(name, sizeof name, "Camera%d_20080415_%02ld%02ld%02ld_%03ld.tif", camera,
                  ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return name;
}
constexpr long kTen = 10L * 3600000;
} // namespace

TEST(FindTriples, ToleranceDecidesAndTheSpanIsTheLargestDifference) {
    const std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen + 50),
                                            FrameName(3, kTen + 100)};
    EXPECT_TRUE(FindTriples("d", names, "40", '.').empty());
    const TripleList found = FindTriples("d", names, "120", '.');
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path[0], "d/" + names[0]);
    EXPECT_EQ(found[0].path[2], "d/" + names[2]);
    EXPECT_EQ(found[0].span, MillisecondsBetween(found[0].time[0], found[0].time[2]));
    EXPECT_TRUE(found[0].span == 100 || found[0].span == 99);
}

TEST(FindTriples, ADifferenceEqualToTheToleranceIsAccepted) {
    const std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen + 37),
                                            FrameName(3, kTen + 20)};
    const std::int64_t d = MillisecondsBetween(FrameTimeStamp(names[0]), FrameTimeStamp(names[1]));
    EXPECT_EQ(FindTriples("d", names, std::to_string(d), '.').size(), 1u);
    EXPECT_EQ(FindTriples("d", names, std::to_string(d) + ",5", ',').size(), 1u);
    EXPECT_TRUE(FindTriples("d", names, std::to_string(d - 1) + ".5", '.').empty());
}

TEST(FindTriples, EveryCombinationCameraOneOutermost) {
    const std::vector<std::string> names = {FrameName(1, kTen), FrameName(1, kTen + 10),
                                            FrameName(2, kTen + 5), FrameName(3, kTen + 7),
                                            FrameName(3, kTen + 9)};
    const TripleList found = FindTriples("d", names, "50", '.');
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].path[0], "d/" + names[0]);
    EXPECT_EQ(found[0].path[2], "d/" + names[3]);
    EXPECT_EQ(found[1].path[2], "d/" + names[4]);
    EXPECT_EQ(found[2].path[0], "d/" + names[1]);
    EXPECT_EQ(found[3].path[1], "d/" + names[2]);
}

TEST(FindTriples, OnlyExactCameraNamesCount) {
    std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen)};
    EXPECT_TRUE(FindTriples("d", names, "50", '.').empty()); // two cameras only

    std::string lower = FrameName(3, kTen);
    lower[0] = 'c';
    std::string upper = FrameName(3, kTen);
    upper.replace(27, 4, ".TIF");
    const std::string shortName = FrameName(3, kTen).substr(0, 30);
    const std::string camera4 = FrameName(4, kTen);
    names.insert(names.end(), {lower, upper, shortName, camera4, "notes.txt", ""});
    EXPECT_TRUE(FindTriples("d", names, "50", '.').empty());

    const std::string longer = FrameName(3, kTen) + ".bak";
    names.push_back(longer);
    const TripleList found = FindTriples("d", names, "50", '.');
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path[2], "d/" + longer);
}

TEST(FindTriples, BadNamesAndTolerancesStopTheRun) {
    const std::vector<std::string> names = {FrameName(1, kTen), "Camera2_20081315_100000_000.tif",
                                            FrameName(3, kTen)};
    EXPECT_THROW(FindTriples("d", names, "50", '.'), ConversionError);
    try {
        FindTriples("d", {FrameName(1, kTen)}, "fifty", '.');
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'fifty' is not a valid floating point value");
    }
}

TEST(FindTriples, TheListGrowsBeyondTheNumberOfFiles) {
    // 30 frames per camera at one moment: 27,000 triples from 90 names.
    std::vector<std::string> names;
    for (int camera = 1; camera <= 3; ++camera)
        for (int i = 0; i < 30; ++i)
            names.push_back(FrameName(camera, kTen + i));
    const TripleList found = FindTriples("d", names, "100", '.');
    ASSERT_EQ(found.size(), 27000u);
    EXPECT_EQ(found.back().path[0], "d/" + names[29]);
    EXPECT_EQ(found.back().path[2], "d/" + names[89]);
}

TEST(FindTriples, TenThousandFrames) {
    std::vector<std::string> names;
    for (int camera = 1; camera <= 3; ++camera)
        for (long i = 0; i < 3334; ++i)
            names.push_back(FrameName(camera, kTen + i * 1000 + camera * 3));
    names.resize(10000);
    const TripleList found = FindTriples("d", names, "50", '.');
    ASSERT_EQ(found.size(), 3332u); // the last two camera 3 frames were cut off
    for (std::size_t i = 0; i < found.size(); ++i) {
        ASSERT_EQ(found[i].path[0], "d/" + names[i]);
        ASSERT_LE(found[i].span, 6);
    }
}

TEST(ListFolderFiles, RegularFilesSortedByName) {
    merkanix::testing::ScratchFolder folder;
    for (const char* name : {"b.tif", "a.tif", "C.txt"})
        merkanix::testing::WriteBytes(folder / name, "x");
    std::filesystem::create_directory(folder / "sub");
    EXPECT_EQ(ListFolderFiles(folder.path()),
              (std::vector<std::string>{"C.txt", "a.tif", "b.tif"}));
    EXPECT_THROW(ListFolderFiles(folder / "missing"), InOutError);
}
