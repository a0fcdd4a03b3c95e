#include "common/DateTime.h"

#include "common/Errors.h"

#include <array>
#include <gtest/gtest.h>

using namespace merkanix;

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
