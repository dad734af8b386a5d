#include "platform/DateTime.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/Exceptions.h"

namespace
{

constexpr std::int64_t kMsPerDay = 86'400'000;
// Days from 1970-01-01 to the date-time's day 0, 1899-12-30.
constexpr std::int64_t kEpochOffset = 25'569;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

} // namespace

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

TDateTime EncodeDateTime(const TDateTimeParts& parts)
{
    return EncodeDateTime(parts.Year, parts.Month, parts.Day, parts.Hour, parts.Minute,
                          parts.Second, parts.Millisecond);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || millisecond < 0 || millisecond > 999)
    {
        throw Exception("Invalid argument to date encode");
    }
    const auto date = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
        kEpochOffset);
    const auto ms =
        ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    const double time = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
    // Before day 0 the time still counts forward from midnight: -1.25 is 29 Dec 1899, 06:00.
    return date < 0 ? date - time : date + time;
}

TDateTimeParts DecodeDateTime(TDateTime value)
{
    TDateTimeParts parts;
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
    {
        // Far outside years 1..9999: nothing sensible to decode.
        return parts;
    }
    const double whole = std::trunc(value);
    auto dayNumber = static_cast<std::int64_t>(whole);
    auto ms = static_cast<std::int64_t>(
        std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay)));
    if (ms >= kMsPerDay)
    {
        // 23:59:59.9996 rounds up to midnight of the next day.
        ms -= kMsPerDay;
        ++dayNumber;
    }
    CivilFromDays(dayNumber - kEpochOffset, parts.Year, parts.Month, parts.Day);
    parts.Millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    parts.Second = static_cast<int>(ms % 60);
    ms /= 60;
    parts.Minute = static_cast<int>(ms % 60);
    parts.Hour = static_cast<int>(ms / 60);
    return parts;
}

TDateTime CombineDateTime(TDateTime date, TDateTime time)
{
    const double day = std::trunc(date);
    const double ofDay = std::fabs(time - std::trunc(time));
    return day < 0 ? day - ofDay : day + ofDay;
}
