#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include "platform/Exceptions.h"

namespace
{

void ExpectParts(const TDateTimeParts& p, int year, int month, int day, int hour, int minute,
                 int second, int ms)
{
    EXPECT_EQ(p.Year, year);
    EXPECT_EQ(p.Month, month);
    EXPECT_EQ(p.Day, day);
    EXPECT_EQ(p.Hour, hour);
    EXPECT_EQ(p.Minute, minute);
    EXPECT_EQ(p.Second, second);
    EXPECT_EQ(p.Millisecond, ms);
}

} // namespace

TEST(DateTime, KnownDaysAndTimes)
{
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 3, 7, 12), 45358.5);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 2, 29, 6), 36585.25);
    // Before day 0 the time of day still runs forward: 29 Dec 1899 06:00 is -1.25.
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
    ExpectParts(DecodeDateTime(-1.25), 1899, 12, 29, 6, 0, 0, 0);
}

TEST(DateTime, RoundTripsAcrossTheCalendar)
{
    const TDateTimeParts samples[] = {
        {1, 1, 1, 0, 0, 0, 0},           {1600, 2, 29, 23, 59, 59, 999},
        {1899, 12, 31, 0, 0, 1, 0},      {1900, 3, 1, 12, 0, 0, 0},
        {2024, 3, 7, 14, 5, 9, 0},       {2024, 12, 31, 23, 59, 59, 999},
        {9999, 12, 31, 23, 59, 59, 999}, {1850, 7, 4, 18, 30, 15, 500},
    };
    for (const TDateTimeParts& s : samples)
    {
        SCOPED_TRACE(std::to_string(s.Year) + "-" + std::to_string(s.Month) + "-" +
                     std::to_string(s.Day));
        ExpectParts(DecodeDateTime(EncodeDateTime(s)), s.Year, s.Month, s.Day, s.Hour, s.Minute,
                    s.Second, s.Millisecond);
    }
}

TEST(DateTime, TimeOfDayRoundsToTheNearestMillisecond)
{
    const double day = EncodeDateTime(2024, 3, 7);
    const double second = 1.0 / 86400.0;
    // 14:05:08.9996 reads as 14:05:09.000, not 14:05:08.
    ExpectParts(DecodeDateTime(day + (14 * 3600 + 5 * 60 + 8.9996) * second), 2024, 3, 7, 14, 5, 9,
                0);
    ExpectParts(DecodeDateTime(day + (14 * 3600 + 5 * 60 + 8.9994) * second), 2024, 3, 7, 14, 5, 8,
                999);
    // A value a hair before midnight carries into the next day, also across a year end.
    ExpectParts(DecodeDateTime(EncodeDateTime(2024, 12, 31) + 86399.9997 * second), 2025, 1, 1, 0,
                0, 0, 0);
    ExpectParts(DecodeDateTime(EncodeDateTime(2024, 2, 28) + 0.99999999999), 2024, 2, 29, 0, 0, 0,
                0);
}

TEST(DateTime, InvalidPartsAreRefused)
{
    EXPECT_THROW(EncodeDateTime(2023, 2, 29), Exception);
    EXPECT_THROW(EncodeDateTime(2024, 13, 1), Exception);
    EXPECT_THROW(EncodeDateTime(2024, 1, 1, 24), Exception);
    EXPECT_THROW(EncodeDateTime(2024, 1, 1, 0, 0, 0, 1000), Exception);
    EXPECT_NO_THROW(EncodeDateTime(2000, 2, 29));
    // Values no calendar can hold decode to day 0 instead of overflowing.
    ExpectParts(DecodeDateTime(1e300), 1899, 12, 30, 0, 0, 0, 0);
}

TEST(DateTime, ADateAndATimeOfDayCombineOnEitherSideOfDayZero)
{
    EXPECT_EQ(CombineDateTime(EncodeDateTime(2024, 1, 2), EncodeDateTime(1899, 12, 30, 13, 30)),
              45293.5625);
    // Before day 0 the time of day goes away from zero: noon on 1 January 100 is -657434.5.
    EXPECT_EQ(EncodeDateTime(100, 1, 1), -657434.0);
    EXPECT_EQ(CombineDateTime(-657434.0, 0.5), -657434.5);
    ExpectParts(DecodeDateTime(CombineDateTime(EncodeDateTime(1815, 6, 18),
                                               EncodeDateTime(1899, 12, 30, 23, 59, 59, 999))),
                1815, 6, 18, 23, 59, 59, 999);
    ExpectParts(DecodeDateTime(CombineDateTime(EncodeDateTime(1, 1, 1), 0.75)), 1, 1, 1, 18, 0, 0,
                0);
    // A whole date-time as the time gives its time of day, whatever its sign.
    EXPECT_EQ(CombineDateTime(-1.0, EncodeDateTime(1899, 12, 29, 6)), -1.25);
    EXPECT_EQ(CombineDateTime(45293.0, -1.25), 45293.25);
    EXPECT_EQ(CombineDateTime(-0.5, -0.5), 0.5); // day 0 has no sign
}
