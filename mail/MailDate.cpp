#include "MailDate.h"

#include <array>
#include <string>

namespace postvue {

namespace {
constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 7> kDays = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

struct TZoneName {
  std::string_view Name;
  int Minutes;
};
constexpr TZoneName kZones[] = {{"ut", 0},       {"utc", 0},      {"gmt", 0},      {"z", 0},
                                {"est", -300},   {"edt", -240},   {"cst", -360},   {"cdt", -300},
                                {"mst", -420},   {"mdt", -360},   {"pst", -480},   {"pdt", -420}};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The value of a run of at most 4 digits; -1 for anything else.
int Number(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) return -1;
  int value = 0;
  for (const char c : digits) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string LowerPrefix(std::string_view word, std::size_t n) {
  std::string lower;
  for (std::size_t i = 0; i < word.size() && i < n; ++i) lower += Lower(word[i]);
  return lower;
}

// "10:52", "10:52:37", "10.52.37" as seconds of the day; -1 when not a time.
int TimeOfDay(std::string_view word) {
  int parts[3] = {0, 0, 0};
  int count = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= word.size(); ++i) {
    if (i < word.size() && IsDigit(word[i])) continue;
    if (count == 3 || i - start == 0 || i - start > 2) return -1;
    parts[count++] = Number(word.substr(start, i - start));
    if (i < word.size() && word[i] != ':' && word[i] != '.') return -1;
    start = i + 1;
  }
  if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return -1;
  return parts[0] * 3600 + parts[1] * 60 + (parts[2] == 60 ? 59 : parts[2]); // a leap second shows as :59
}

// Days from 30 December 1899 to a day of the proleptic Gregorian calendar.
long DaysSince1899(int year, int month, int day) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<long>(era) * 146097 + doe - 719468 + 25569; // 25569: 1 January 1970
}

int DaysInMonth(int year, int month) {
  static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kLengths[month - 1];
}
} // namespace

std::optional<TMailDate> ParseMailDate(std::string_view text) {
  int day = -1, month = -1, year = -1, seconds = -1, yearDigits = 0;
  std::optional<int> zone;
  int depth = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '(') ++depth;
    if (c == ')' && depth > 0) --depth;
    if (depth > 0 || c == ')' || c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != ',' && text[end] != '(' &&
           text[end] != '\r' && text[end] != '\n')
      ++end;
    std::string_view word = text.substr(i, end - i);
    i = end;
    if ((word[0] == '+' || word[0] == '-') && word.size() == 5 && Number(word.substr(1)) >= 0) {
      const int hhmm = Number(word.substr(1));
      if (!zone && hhmm % 100 < 60 && hhmm / 100 < 24)
        zone = (word[0] == '-' ? -1 : 1) * (hhmm / 100 * 60 + hhmm % 100);
      continue;
    }
    if (IsLetter(word[0])) {
      const std::string lower = LowerPrefix(word, 3);
      bool known = false;
      for (std::size_t m = 0; m < kMonths.size(); ++m)
        if (month < 0 && lower == kMonths[m]) month = static_cast<int>(m) + 1, known = true;
      for (const std::string_view name : kDays) known = known || lower == name;
      if (!known && !zone) {
        const std::string whole = LowerPrefix(word, word.size());
        for (const TZoneName& name : kZones)
          if (whole == name.Name) zone = name.Minutes;
      }
      continue; // military zones and other words say nothing reliable
    }
    if (word.find(':') != std::string_view::npos || (seconds < 0 && word.find('.') != std::string_view::npos)) {
      if (seconds < 0) seconds = TimeOfDay(word);
      continue;
    }
    const int value = Number(word);
    if (value < 0) continue;
    if (day < 0 && word.size() <= 2 && value >= 1 && value <= 31)
      day = value;
    else if (year < 0)
      year = value, yearDigits = static_cast<int>(word.size());
  }
  if (day < 0 || month < 0 || year < 0 || seconds < 0) return std::nullopt;
  if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
  else if (yearDigits == 3) year += 1900;
  if (year < 1900 || day > DaysInMonth(year, month)) return std::nullopt;
  TMailDate date;
  date.Local = static_cast<double>(DaysSince1899(year, month, day)) + seconds / 86400.0;
  date.ZoneMinutes = zone.value_or(0);
  return date;
}

} // namespace postvue
