#include "common/DateTime.h"

#include "common/Errors.h"
#include "common/NumberText.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace merkanix {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const std::int64_t kEpochOffset = DaysFromCivil(1899, 12, 30); // relative to 1970-01-01

std::mutex g_formatMutex;
std::string g_longTimeFormat = "hh:mm:ss";

void AppendNumber(std::string& out, int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    out += buffer;
}

} // namespace

TDateTime EncodeDateTime(const DateTimeParts& p) {
    if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
        p.day > DaysInMonth(p.year, p.month))
        throw ConversionError("Invalid argument to date encode");
    if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
        p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
        throw ConversionError("Invalid argument to time encode");
    const double date = static_cast<double>(
        DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
        kEpochOffset);
    const std::int64_t ms =
        ((static_cast<std::int64_t>(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 +
        p.millisecond;
    const double time = static_cast<double>(ms) / kMillisecondsPerDay;
    return date >= 0 ? date + time : date - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
    DateTimeParts parts;
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return parts;
    const auto total = static_cast<std::int64_t>(RoundHalfEven(value * kMillisecondsPerDay));
    std::int64_t days = total / kMsPerDay;
    std::int64_t ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    CivilFromDays(days + kEpochOffset, parts.year, parts.month, parts.day);
    parts.millisecond = static_cast<int>(ms % 1000);
    parts.second = static_cast<int>(ms / 1000 % 60);
    parts.minute = static_cast<int>(ms / 60000 % 60);
    parts.hour = static_cast<int>(ms / 3600000);
    return parts;
}

std::string LongTimeFormat() {
    std::lock_guard lock(g_formatMutex);
    return g_longTimeFormat;
}

void SetLongTimeFormat(const std::string& format) {
    std::lock_guard lock(g_formatMutex);
    if (g_longTimeFormat != format) g_longTimeFormat = format;
}

std::string FormatTime(TDateTime value, const std::string& format) {
    const DateTimeParts p = DecodeDateTime(value);
    std::string out;
    bool afterHour = false;
    for (std::size_t i = 0; i < format.size();) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(format[i])));
        std::size_t run = 1;
        while (i + run < format.size() &&
               std::tolower(static_cast<unsigned char>(format[i + run])) == c)
            ++run;
        switch (c) {
        case 'h':
            AppendNumber(out, p.hour, run >= 2 ? 2 : 1);
            afterHour = true;
            break;
        case 'n':
        case 'm':
            if (c == 'm' && !afterHour) {
                AppendNumber(out, p.month, run >= 2 ? 2 : 1);
            } else {
                AppendNumber(out, p.minute, run >= 2 ? 2 : 1);
            }
            afterHour = false;
            break;
        case 's':
            AppendNumber(out, p.second, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 'z':
            AppendNumber(out, p.millisecond, run >= 3 ? 3 : 1);
            afterHour = false;
            break;
        case '\'':
        case '"': {
            const std::size_t close = format.find(format[i], i + 1);
            const std::size_t stop = close == std::string::npos ? format.size() : close;
            out.append(format, i + 1, stop - i - 1);
            i = close == std::string::npos ? format.size() : close + 1;
            continue;
        }
        default:
            out.append(run, format[i]);
            break;
        }
        i += run;
    }
    return out;
}

std::string TimeText(TDateTime value) {
    return FormatTime(value, LongTimeFormat());
}

std::string IsoDateText(TDateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buffer;
}

} // namespace merkanix
