#include "measurement/Settings.h"

#include "common/Errors.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace merkanix;
using merkanix::testing::ReadBytes;
using merkanix::testing::ScratchFolder;
using merkanix::testing::WriteBytes;

namespace {
const std::string kDefaultsFile =
    "23\r\n327,5\r\n245,5\r\n-46,0193228167378\r\n26,6757209288414\r\n"
    " \r\n"
    "23\r\n327,5\r\n245,5\r\n43,1025239130338\r\n24,756501341982\r\n"
    " \r\n"
    "23\r\n327,5\r\n245,5\r\n-0,180449213282532\r\n-51,5406248013469\r\n";

std::vector<std::string> Flat(const SystemTexts& texts) {
    std::vector<std::string> all;
    for (const CameraTexts& c : texts)
        all.insert(all.end(), {c.f, c.xc, c.yc, c.x, c.y});
    return all;
}
} // namespace

TEST(SettingsFile, SavesSeventeenLinesAndReadsThemBack) {
    ScratchFolder folder;
    const std::string path = folder / "system"; // no extension is added
    WriteSettingsFile(path, DefaultCameraTexts(','));
    EXPECT_EQ(ReadBytes(path), kDefaultsFile);
    EXPECT_EQ(Flat(ReadSettingsFile(path)), Flat(DefaultCameraTexts(',')));
    EXPECT_EQ(DefaultCameraTexts('.')[2].y, "-51.5406248013469");

    SystemTexts texts = DefaultCameraTexts(',');
    texts[1].x = "not a number"; // the texts are stored unparsed
    texts[2].f = "";
    WriteSettingsFile(path, texts);
    EXPECT_EQ(Flat(ReadSettingsFile(path)), Flat(texts));
    EXPECT_EQ(folder.Entries(), 1u);
    // A failed save says it could not write the file (a folder stands in the way).
    EXPECT_EQ(merkanix::testing::MessageOf<InOutError>([&] {
                  WriteSettingsFile(folder.path(), texts);
              }).rfind("Cannot write file \"" + folder.path() + "\". ", 0),
              0u);
}

TEST(SettingsFile, ReadsOtherSeparatorsLineEndsAndShortFiles) {
    std::string separator = kDefaultsFile, unix = kDefaultsFile;
    separator.replace(separator.find(" \r\n"), 3, "--- camera 2 ---\r\n");
    for (std::size_t p; (p = unix.find("\r\n")) != std::string::npos;)
        unix.erase(p, 1);
    // File contents, and the text expected as camera (1-based) field (f, xc, yc, x, y).
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {separator, 2, 4, "43,1025239130338"},
        {unix, 3, 5, "-51,5406248013469"},
        // Twelve lines, no final line end: camera 3 empty.
        {kDefaultsFile.substr(0, kDefaultsFile.find("23\r\n327,5\r\n245,5\r\n-0")), 2, 5,
         "24,756501341982"},
        {"", 3, 1, ""},
        {"1\r\n2\r\n3\r\n4\r\n5", 1, 5, "5"},
        {"\r\n\r\n7\r\n", 1, 3, "7"},
        // Taken as they stand, a byte order mark included, so that a load
        // followed by a save changes nothing.
        {"\xEF\xBB\xBF"
         "23\r\n",
         1, 1,
         "\xEF\xBB\xBF"
         "23"}};
    ScratchFolder folder;
    for (const auto& [content, camera, field, text] : cases) {
        WriteBytes(folder / "file", content);
        EXPECT_EQ(Flat(ReadSettingsFile(folder / "file"))[(camera - 1) * 5 + field - 1], text)
            << content;
    }
}
