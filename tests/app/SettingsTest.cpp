#include "app/Settings.h"
#include "app/Errors.h"
#include "support/TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace merkanix;
using merkanix::testing::ReadBytes;
using merkanix::testing::ScratchFolder;
using merkanix::testing::WriteBytes;

namespace {
const char* const kDefaultsFile =
    "23\r\n327,5\r\n245,5\r\n-46,0193228167378\r\n26,6757209288414\r\n"
    " \r\n"
    "23\r\n327,5\r\n245,5\r\n43,1025239130338\r\n24,756501341982\r\n"
    " \r\n"
    "23\r\n327,5\r\n245,5\r\n-0,180449213282532\r\n-51,5406248013469\r\n";

bool SameTexts(const SystemTexts& a, const SystemTexts& b) {
    for (int i = 0; i < 3; ++i)
        if (a[i].f != b[i].f || a[i].xc != b[i].xc || a[i].yc != b[i].yc || a[i].x != b[i].x ||
            a[i].y != b[i].y)
            return false;
    return true;
}
} // namespace

TEST(SettingsFile, SavesTheDefaultsAsSeventeenLinesAndReadsThemBack) {
    ScratchFolder folder;
    const std::string path = folder / "system"; // no extension is added
    WriteSettingsFile(path, DefaultCameraTexts(','));
    EXPECT_EQ(ReadBytes(path), kDefaultsFile);
    EXPECT_TRUE(SameTexts(ReadSettingsFile(path), DefaultCameraTexts(',')));
    EXPECT_EQ(DefaultCameraTexts('.')[2].y, "-51.5406248013469");

    // Replaced whole, nothing left beside it.
    SystemTexts texts = DefaultCameraTexts(',');
    texts[1].x = "not a number";
    texts[2].f = "";
    WriteSettingsFile(path, texts);
    EXPECT_TRUE(SameTexts(ReadSettingsFile(path), texts));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SettingsFile, ReadsOtherSeparatorsLineEndsAndShortFiles) {
    ScratchFolder folder;
    std::string other = kDefaultsFile;
    other.replace(other.find(" \r\n"), 3, "--- camera 2 ---\r\n");
    WriteBytes(folder / "other", other);
    EXPECT_TRUE(SameTexts(ReadSettingsFile(folder / "other"), DefaultCameraTexts(',')));

    std::string unix = kDefaultsFile;
    for (std::size_t p; (p = unix.find("\r\n")) != std::string::npos;)
        unix.erase(p, 1);
    WriteBytes(folder / "unix", unix);
    EXPECT_TRUE(SameTexts(ReadSettingsFile(folder / "unix"), DefaultCameraTexts(',')));

    // Twelve lines: cameras 1 and 2, camera 3 empty; no final line end.
    WriteBytes(folder / "twelve",
               std::string(kDefaultsFile)
                   .substr(0, std::string(kDefaultsFile).find("23\r\n327,5\r\n245,5\r\n-0")));
    const SystemTexts twelve = ReadSettingsFile(folder / "twelve");
    EXPECT_EQ(twelve[1].y, "24,756501341982");
    EXPECT_EQ(twelve[2].f, "");
    EXPECT_EQ(twelve[2].y, "");
    WriteBytes(folder / "last-unended", "1\r\n2\r\n3\r\n4\r\n5");
    EXPECT_EQ(ReadSettingsFile(folder / "last-unended")[0].y, "5");
    // The texts are taken as they stand, a byte order mark included, so a
    // load followed by a save changes nothing.
    WriteBytes(folder / "marked", "\xEF\xBB\xBF"
                                  "23\r\n");
    EXPECT_EQ(ReadSettingsFile(folder / "marked")[0].f, "\xEF\xBB\xBF"
                                                        "23");
    WriteBytes(folder / "empty-lines", "\r\n\r\n7\r\n");
    EXPECT_EQ(ReadSettingsFile(folder / "empty-lines")[0].yc, "7");
}

TEST(SettingsFile, FailuresAreInputOutputErrorsAndLeaveNothingBehind) {
    ScratchFolder folder;
    EXPECT_THROW(ReadSettingsFile(folder / "missing.txt"), InOutError);
    EXPECT_THROW(WriteSettingsFile(folder / "no/such/folder.txt", DefaultCameraTexts(',')),
                 InOutError);
    EXPECT_THROW(WriteSettingsFile(folder.path(), DefaultCameraTexts(',')), InOutError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              0);
}
