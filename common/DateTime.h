#pragma once
// Date-times as day counts since 1899-12-30, the fraction being the time of day.
#include <string>

namespace merkanix {

using TDateTime = double;

inline constexpr double kMillisecondsPerDay = 86400000.0;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Throws ConversionError for a date or time that does not exist.
TDateTime EncodeDateTime(const DateTimeParts& parts);
DateTimeParts DecodeDateTime(TDateTime value);

// The process-wide long time format ("hh:mm:ss" until set). Tokens: h, hh,
// n, nn (and m, mm after an hour), s, ss, z (milliseconds, no leading
// zeros), zzz; other characters are copied.
std::string LongTimeFormat();
void SetLongTimeFormat(const std::string& format);

std::string FormatTime(TDateTime value, const std::string& format);
// The time of day in the current long time format.
std::string TimeText(TDateTime value);
// "YYYY-MM-DD" for tools and logs.
std::string IsoDateText(TDateTime value);

} // namespace merkanix
