#include "DateTime.h"

#include <chrono>
#include <cmath>

namespace postvue {

namespace {
using namespace std::chrono;

constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::int64_t kMsPerDay = 86400000;

constexpr sys_days kDayZero = sys_days{year{1899} / December / 30};
constexpr sys_days kFileTimeZero = sys_days{year{1601} / January / 1};
constexpr sys_days kFirstDay = sys_days{year{1} / January / 1};
constexpr sys_days kEndDay = sys_days{year{10000} / January / 1}; // excluded

constexpr TDateTimeFields kDayZeroFields = {1899, 12, 30, 0, 0, 0, 0};
} // namespace

double FileTimeToDateTimeSafe(std::uint64_t fileTime) {
  const std::uint64_t ms = fileTime / kTicksPerMs; // below a millisecond is truncated
  const std::uint64_t msOfDay = ms % kMsPerDay;
  const std::uint64_t day = ms / kMsPerDay;
  const double timePart = static_cast<double>(msOfDay) / kMsPerDay;
  // A day after year 9999 has no date part. Every day from 1601 is after year 1.
  if (day >= static_cast<std::uint64_t>((kEndDay - kFileTimeZero).count())) return timePart;
  const sys_days date = kFileTimeZero + days{static_cast<days::rep>(day)};
  return timePart + static_cast<double>((date - kDayZero).count());
}

TDateTimeFields DecodeDateTime(double value) {
  const double first = (kFirstDay - kDayZero).count(), end = (kEndDay - kDayZero).count();
  if (!(value >= first && value < end)) return kDayZeroFields;
  std::int64_t day = static_cast<std::int64_t>(std::floor(value));
  std::int64_t ms = std::llround((value - static_cast<double>(day)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ++day;
    ms -= kMsPerDay;
    if (day >= static_cast<std::int64_t>(end)) return kDayZeroFields; // rounded into year 10000
  }
  const year_month_day date{kDayZero + days{day}};
  return {static_cast<int>(date.year()),
          static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())),
          static_cast<int>(ms / 3600000),
          static_cast<int>(ms / 60000 % 60),
          static_cast<int>(ms / 1000 % 60),
          static_cast<int>(ms % 1000)};
}

unsigned WeekdayOf(const TDateTimeFields& fields) {
  const year_month_day date{year{fields.Year}, month{static_cast<unsigned>(fields.Month)},
                            day{static_cast<unsigned>(fields.Day)}};
  return weekday{sys_days{date}}.c_encoding();
}

} // namespace postvue
