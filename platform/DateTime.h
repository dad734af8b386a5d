#pragma once

// The shared date-time: days since 30 December 1899 in local time; the whole part is the date,
// the fraction the time of day.
using TDateTime = double;

struct TDateTimeParts
{
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// The days of month (1 to 12) in the Gregorian calendar: February has 29 in leap years.
int DaysInMonth(int year, int month);

TDateTime EncodeDateTime(const TDateTimeParts& parts);
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
// The time of day is the fraction rounded to the nearest millisecond (so 14:05:08.9996 reads as
// 14:05:09.000); negative date-times count backwards from 1899-12-30 with a positive time part.
TDateTimeParts DecodeDateTime(TDateTime value);

// The whole days of date with the time of day of time. Before day 0 the time of day counts
// forward from midnight away from zero, so adding a positive fraction to a negative day would
// land on the next day: noon on 1 January 100 is -657434.5, not -657433.5. The time's sign is
// ignored, so a time picker's 0.5 and the -0.5 of 29 Dec 1899 12:00 both mean noon.
TDateTime CombineDateTime(TDateTime date, TDateTime time);
