#include "DateTime.h"

#include <cmath>
#include <cstdint>

namespace postvue {

namespace {
constexpr double kFirstDay = -693593;   // 1 January 0001
constexpr double kLastDay = 2958466;    // 1 January 10000, excluded
constexpr std::int64_t kMsPerDay = 86400000;
} // namespace

TDateTimeFields DecodeDateTime(double value) {
  if (!(value >= kFirstDay && value < kLastDay)) return {1899, 12, 30, 0, 0, 0, 0};
  std::int64_t day = static_cast<std::int64_t>(std::floor(value));
  std::int64_t ms = std::llround((value - static_cast<double>(day)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ++day;
    ms -= kMsPerDay;
    if (day >= static_cast<std::int64_t>(kLastDay)) return {1899, 12, 30, 0, 0, 0, 0}; // rounded into year 10000
  }
  // Civil date from days since 1970-01-01 (30 December 1899 is day -25569).
  const std::int64_t z = day - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int dayOfMonth = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year,
          month,
          dayOfMonth,
          static_cast<int>(ms / 3600000),
          static_cast<int>(ms / 60000 % 60),
          static_cast<int>(ms / 1000 % 60),
          static_cast<int>(ms % 1000)};
}

} // namespace postvue
