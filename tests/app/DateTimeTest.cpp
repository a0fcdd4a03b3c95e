#include "app/DateTime.h"
#include "app/Errors.h"
#include "app/FrameFile.h"

#include <gtest/gtest.h>

using namespace merkanix;

TEST(DateTime, DayCountsSinceTheEndOf1899) {
    EXPECT_EQ(EncodeDateTime({1899, 12, 30}), 0.0);
    EXPECT_EQ(EncodeDateTime({1900, 1, 1}), 2.0);
    EXPECT_EQ(EncodeDateTime({2008, 4, 15}), 39553.0);
    EXPECT_EQ(EncodeDateTime({2008, 4, 15, 12}), 39553.5);
    EXPECT_EQ(EncodeDateTime({1899, 12, 29, 6}), -1.25);
    const DateTimeParts p = DecodeDateTime(EncodeDateTime({2024, 2, 29, 23, 59, 59, 999}));
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 23);
    EXPECT_EQ(p.minute, 59);
    EXPECT_EQ(p.second, 59);
    EXPECT_EQ(p.millisecond, 999);
}

TEST(DateTime, ImpossibleDatesAndTimesAreConversionErrors) {
    for (DateTimeParts bad :
         {DateTimeParts{2008, 13, 1}, DateTimeParts{2008, 0, 1}, DateTimeParts{2007, 2, 29},
          DateTimeParts{2008, 4, 31}, DateTimeParts{2008, 4, 15, 24},
          DateTimeParts{2008, 4, 15, 1, 60}, DateTimeParts{2008, 4, 15, 1, 1, 60},
          DateTimeParts{2008, 4, 15, 1, 1, 1, 1000}, DateTimeParts{0, 1, 1}})
        EXPECT_THROW(EncodeDateTime(bad), ConversionError);
}

TEST(FrameTimeStamp, ReadsTheNameAndShowsMillisecondsWithoutLeadingZeros) {
    SetLongTimeFormat("hh:mm:ss");
    const TDateTime t = FrameTimeStamp("Camera2_20080415_093012_007.tif");
    EXPECT_EQ(t, EncodeDateTime({2008, 4, 15, 9, 30, 12, 7}));
    EXPECT_EQ(LongTimeFormat(), "hh:mm:ss.z");
    EXPECT_EQ(TimeText(t), "09:30:12.7");
    EXPECT_EQ(FormatTime(t, "hh:mm:ss.zzz"), "09:30:12.007");
    EXPECT_EQ(FormatTime(EncodeDateTime({2008, 4, 15, 9, 5, 2, 120}), "h:n:s.z"), "9:5:2.120");
    EXPECT_EQ(IsoDateText(t), "2008-04-15");
    // The separators are never read.
    EXPECT_EQ(FrameTimeStamp("Camera2x20080415x093012x007.tif"), t);
}

TEST(FrameTimeStamp, BadNamesRaiseConversionErrors) {
    for (const char* bad : {"Camera1_20081315_093012_007.tif", "Camera1_20080415_243012_007.tif",
                            "Camera1_2008O415_093012_007.tif", "Camera1_20080415_093012_0x7.tif",
                            "Camera1_2008", "Camera1_20080230_000000_000.tif", ""})
        EXPECT_THROW(FrameTimeStamp(bad), ConversionError) << bad;
}
