#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/FileIO.h"
#include "common/Marker.h"
#include "common/NumberText.h"
#include "common/Sorting.h"
#include "common/WorkerPool.h"
#include "support/TestFiles.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace merkanix;
using merkanix::testing::MessageOf;
using merkanix::testing::ReadBytes;
using merkanix::testing::ScratchFolder;

TEST(ParseReal, ReadsEitherSeparatorWhateverTheUsersAndRejectsTheRest) {
    const std::pair<const char*, double> good[] = {
        {"327,5", 327.5}, {"327.5", 327.5},    {"-46,0193228167378", -46.0193228167378},
        {"  23 ", 23.0},  {"+1,5E-3", 1.5e-3}, {"2e2", 200.0},
        {",5", 0.5},      {"5,", 5.0},         {"1e-400", 0.0}, // underflow reads as zero
        {"0,1", 0.1}}; // correctly rounded: settings survive a save and a load
    for (const auto& [text, value] : good)
        for (const char separator : {',', '.'})
            EXPECT_EQ(ParseReal(text, separator), value) << text << " with " << separator;
    for (const char* bad : {"abc", "", "1,2,3", "1.2,3", "--1", "1e", "1e+", "e5", ",", "-", "NAN",
                            "INF", "1 000", "12a", "1e400", "0x10", "1,5 5"})
        EXPECT_EQ(MessageOf<ConversionError>([&] { ParseReal(bad, ','); }),
                  "'" + std::string(bad) + "' is not a valid floating point value");
}

TEST(ParseInteger, ReadsDecimalDigitsAndRejectsTheRest) {
    for (const auto& [text, value] :
         {std::pair{"007", 7}, {"2008", 2008}, {"-12", -12}, {"2147483647", 2147483647}})
        EXPECT_EQ(ParseInteger(text), value);
    for (const char* bad : {"", "1a", "0,5", "2147483648", "99999999999999", "+", " ",
                            "1111111111111111111111111111111111111;9"})
        EXPECT_EQ(MessageOf<ConversionError>([&] { ParseInteger(bad); }),
                  "'" + std::string(bad) + "' is not a valid integer value");
}

TEST(FormatGeneral, ShortestFormUpToFifteenDigitsThatReadsBack) {
    const std::tuple<double, char, const char*> cases[] = {
        {5146 / 21.0, '.', "245.047619047619"},
        {491.0, ',', "491"},
        {0.1, ',', "0,1"},
        {-0.5, '.', "-0.5"},
        {0.0, '.', "0"},
        {1e-5, '.', "0.00001"},
        {1.5e-6, '.', "1.5E-6"},
        {1e20, '.', "1E20"},
        {123456789012345.0, '.', "123456789012345"},
        {1234567890123456.0, '.', "1.23456789012346E15"},
        {0.30000000000000004, '.', "0.3"},
        {999999999999999.9, '.', "1E15"},
        {std::nan(""), '.', "NAN"},
        {-std::numeric_limits<double>::infinity(), '.', "-INF"}};
    for (const auto& [value, separator, text] : cases)
        EXPECT_EQ(FormatGeneral(value, separator), text);
    for (double v : {-46.0193228167378, 24.756501341982, 1.5e-6, 3.0839288e22})
        EXPECT_EQ(ParseReal(FormatGeneral(v, ','), ','), v);
}

TEST(FormatFixedAndRoundTrip, SeparatorCRoundingAndExactReadBack) {
    EXPECT_EQ(FormatFixed(0.0123, 4, ','), "0,0123");
    EXPECT_EQ(FormatFixed(-0.0045, 4, ','), "-0,0045");
    EXPECT_EQ(FormatFixed(12.5, 2, ','), "12,50");
    EXPECT_EQ(FormatFixed(2.5, 0, '.'), "2");
    for (double v : {0.1, -46.0193228167378, 1.0 / 3.0, 5e-324, 1.7976931348623157e308})
        EXPECT_EQ(std::strtod(FormatRoundTrip(v).c_str(), nullptr), v);
    EXPECT_EQ(FormatRoundTrip(-std::nan("")), "nan");
}

TEST(DateTime, DayCountsSinceTheEndOf1899) {
    EXPECT_EQ(EncodeDateTime({1899, 12, 30}), 0.0);
    EXPECT_EQ(EncodeDateTime({1900, 1, 1}), 2.0);
    EXPECT_EQ(EncodeDateTime({2008, 4, 15, 12}), 39553.5);
    EXPECT_EQ(EncodeDateTime({1899, 12, 29, 6}), -1.25); // the time runs backwards before 0
    const DateTimeParts p = DecodeDateTime(EncodeDateTime({2024, 2, 29, 23, 59, 59, 999}));
    EXPECT_EQ((std::array{p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond}),
              (std::array{2024, 2, 29, 23, 59, 59, 999}));
    for (DateTimeParts bad :
         {DateTimeParts{2008, 13, 1}, DateTimeParts{2008, 0, 1}, DateTimeParts{2007, 2, 29},
          DateTimeParts{2008, 4, 31}, DateTimeParts{2008, 4, 15, 24},
          DateTimeParts{2008, 4, 15, 1, 60}, DateTimeParts{2008, 4, 15, 1, 1, 60},
          DateTimeParts{2008, 4, 15, 1, 1, 1, 1000}, DateTimeParts{0, 1, 1}})
        EXPECT_THROW(EncodeDateTime(bad), ConversionError);
}

TEST(DateTime, TimeFormatsAndIsoDates) {
    const TDateTime t = EncodeDateTime({2008, 4, 15, 9, 30, 12, 7});
    EXPECT_EQ(FormatTime(t, "hh:mm:ss.zzz"), "09:30:12.007");
    EXPECT_EQ(FormatTime(t, "hh:nn:ss.z"), "09:30:12.7");
    EXPECT_EQ(FormatTime(EncodeDateTime({2008, 4, 15, 9, 5, 2, 120}), "h:n:s.z"), "9:5:2.120");
    EXPECT_EQ(IsoDateText(t), "2008-04-15");
}

TEST(Sorting, UpToTheLastIndexAndEqualsKeepTheirOrder) {
    std::int32_t values[3] = {3, 1, 2};
    SortIntegers(values, 1); // the last index is included, nothing past it
    EXPECT_EQ(std::vector<std::int32_t>(values, values + 3), (std::vector<std::int32_t>{1, 3, 2}));
    SortIntegers(values, 2);
    EXPECT_EQ(std::vector<std::int32_t>(values, values + 3), (std::vector<std::int32_t>{1, 2, 3}));
    // -0.0 and 0.0 compare equal: a stable sort keeps their order.
    double reals[4] = {0.0, 2.5, -0.0, -1.0};
    SortReals(reals, 3);
    EXPECT_EQ(reals[0], -1.0);
    EXPECT_FALSE(std::signbit(reals[1]));
    EXPECT_TRUE(std::signbit(reals[2]));
    EXPECT_EQ(reals[3], 2.5);
}

namespace {
int CountColoured(const Picture& p, TColor colour) {
    int n = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* px = p.Pixel(x, y);
            n += px[0] == (colour >> 16 & 0xFF) && px[1] == (colour >> 8 & 0xFF) &&
                 px[2] == (colour & 0xFF);
        }
    return n;
}
} // namespace

TEST(DrawMarker, APlusOfNinePixelsRoundedToEvenAndClippedToThePicture) {
    // Centres and the pixels coloured: 654.5 and 490.5 round to the even 654
    // and 490, two pixels from the edge; 655.6 rounds off the picture.
    const std::tuple<double, double, int> cases[] = {
        {327.5, 245.5, 9}, {0, 0, 5},    {654.5, 10, 8}, {10, 490.5, 8},      {655.6, 400, 2},
        {-0.1, 10, 0},     {656, 10, 0}, {10, 492, 0},   {std::nan(""), 1, 0}};
    for (const auto& [x, y, pixels] : cases) {
        Picture q(656, 492);
        DrawMarker(q, kRed, x, y);
        EXPECT_EQ(CountColoured(q, kRed), pixels) << x << ", " << y;
    }
    Picture p(656, 492);
    DrawMarker(p, kBlue, 327.5, 245.5);
    for (const auto& [x, y] : {std::pair{328, 246}, {330, 246}, {328, 244}})
        EXPECT_EQ(p.Pixel(x, y)[0], 255);
    EXPECT_EQ(p.Pixel(329, 247)[0], 0);
    Picture empty;
    DrawMarker(empty, kRed, 1, 1);
    EXPECT_TRUE(empty.Empty());
}

namespace {
std::string ErrorOf(const std::string& path, const ReplaceOptions& options) {
    return merkanix::testing::MessageOf<InOutError>(
        [&] { ReplaceFileContents(path, "new", options); });
}
} // namespace

TEST(ReplaceFileContents, TheFileIsReplacedWholeAndNothingIsLeftBeside) {
    ScratchFolder folder;
    const std::string path = folder / "file";
    for (const bool sync : {false, true}) {
        ReplaceFileContents(path, "a longer first content", {});
        ReplaceFileContents(path, std::string("sh\0rt", 5), {.syncBeforeRename = sync});
        EXPECT_EQ(ReadBytes(path), std::string("sh\0rt", 5));
        EXPECT_EQ(folder.Entries(), 1u);
    }
}

TEST(ReplaceFileContents, FailuresNameTheFileAndLeaveNoTemporary) {
    ScratchFolder folder;
    const std::string missing = folder / "no/such/file";
    EXPECT_EQ(ErrorOf(missing, {}).rfind("Cannot create file \"" + missing + "\". ", 0), 0u);
    // A folder in the way: the temporary is written, the rename fails.
    const std::string busy = folder / "busy";
    std::filesystem::create_directory(busy);
    EXPECT_EQ(ErrorOf(busy, {}).rfind("Cannot create file \"" + busy + "\". ", 0), 0u);
    EXPECT_EQ(ErrorOf(busy, {.renameFailure = "Cannot write file"})
                  .rfind("Cannot write file \"" + busy + "\". ", 0),
              0u);
    EXPECT_EQ(folder.Entries(), 1u);
    EXPECT_THROW(OpenForReading(folder / "missing"), InOutError);
}

TEST(WorkerPool, EveryItemOnceInEveryLoopWhateverTheThreadsDo) {
    // Many short loops in a row, as the passes of a run: a helper that wakes
    // late must neither miss nor repeat an item, nor run an old loop's body.
    for (const unsigned jobs : {1u, 2u, 4u}) {
        WorkerPool workers(jobs);
        for (std::size_t loop = 0; loop < 2000; ++loop) {
            const std::size_t count = loop % 13;
            std::vector<std::atomic<int>> done(count);
            workers.Run(count, [&](std::size_t i) { ++done[i]; });
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(done[i].load(), 1) << jobs << " jobs, loop " << loop << ", item " << i;
        }
    }
}
