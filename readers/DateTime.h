// Calendar fields of a date-time value (days since 30 December 1899, UTC as stored).
#pragma once

namespace postvue {

struct TDateTimeFields {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// The day is the value's floor, so a time before 30 December 1899 reads as the
// time that was added to its day (1 January 1601 12:00 is -109204.5), rounded
// to the nearest millisecond. Values outside years 1..9999 give 30 December 1899 00:00.
TDateTimeFields DecodeDateTime(double value);

} // namespace postvue
