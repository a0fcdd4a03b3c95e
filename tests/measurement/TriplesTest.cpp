#include "measurement/Triples.h"

#include "common/Errors.h"
#include "measurement/FrameFile.h"
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

TEST(FindTriples, TheToleranceDecidesInclusivelyAndTheSpanIsTheLargestDifference) {
    const std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen + 37),
                                            FrameName(3, kTen + 100)};
    EXPECT_TRUE(FindTriples("d", names, "40", '.').empty());
    const TripleList found = FindTriples("d", names, "120", '.');
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path[2], "d/" + names[2]);
    EXPECT_EQ(found[0].span, MillisecondsBetween(found[0].time[0], found[0].time[2]));
    EXPECT_TRUE(found[0].span == 100 || found[0].span == 99); // truncated day-count difference
    // A difference equal to the tolerance is accepted, in either separator.
    const std::int64_t d = found[0].span;
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
    const std::array<std::array<int, 3>, 4> order = {{{0, 2, 3}, {0, 2, 4}, {1, 2, 3}, {1, 2, 4}}};
    for (std::size_t t = 0; t < 4; ++t)
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(found[t].path[k], "d/" + names[order[t][k]]) << t << " " << k;

    // The list grows beyond the number of files: 27,000 triples from 90 names.
    std::vector<std::string> many;
    for (int camera = 1; camera <= 3; ++camera)
        for (int i = 0; i < 30; ++i)
            many.push_back(FrameName(camera, kTen + i));
    const TripleList all = FindTriples("d", many, "100", '.');
    ASSERT_EQ(all.size(), 27000u);
    EXPECT_EQ(all.back().path[0], "d/" + many[29]);
    EXPECT_EQ(all.back().path[2], "d/" + many[89]);
}

TEST(FindTriples, OnlyCameraNamesCountAndBadOnesStopTheRun) {
    std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen)};
    std::string lower = FrameName(3, kTen), upper = FrameName(3, kTen);
    lower[0] = 'c';
    upper.replace(27, 4, ".TIF");
    names.insert(names.end(), {lower, upper, FrameName(3, kTen).substr(0, 30), FrameName(4, kTen),
                               "notes.txt", ""});
    EXPECT_TRUE(FindTriples("d", names, "50", '.').empty());
    // Only the first 31 characters are looked at.
    names.push_back(FrameName(3, kTen) + ".bak");
    ASSERT_EQ(FindTriples("d", names, "50", '.').size(), 1u);

    names.push_back("Camera2_20081315_100000_000.tif");
    EXPECT_THROW(FindTriples("d", names, "50", '.'), ConversionError);
    EXPECT_EQ(merkanix::testing::MessageOf<ConversionError>(
                  [] { FindTriples("d", {FrameName(1, kTen)}, "fifty", '.'); }),
              "'fifty' is not a valid floating point value");
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
