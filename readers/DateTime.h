// Date-time values: days since 30 December 1899 00:00 as a double, the whole
// part the day and the fraction the time of day, in UTC as stored.
#pragma once

#include <cstdint>

namespace postvue {

// A Windows FILETIME (100 ns ticks since 1 January 1601 UTC) as a date-time.
// Never raises: an invalid date or time part is 0.
double FileTimeToDateTimeSafe(std::uint64_t fileTime);

struct TDateTimeFields {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// The day is the value's floor, so a time before 30 December 1899 reads as the
// time that was added to its day (1 January 1601 12:00 is -109204.5), rounded
// to the nearest millisecond. Values outside years 1..9999 give 30 December 1899 00:00.
TDateTimeFields DecodeDateTime(double value);

// The day of the week of a calendar date, 0 for Sunday.
unsigned WeekdayOf(const TDateTimeFields& fields);

// The English names that mail dates use: by WeekdayOf, and by month from 0 (January).
inline constexpr const char* kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace postvue
