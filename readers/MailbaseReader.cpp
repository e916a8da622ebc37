#include "MailbaseReader.h"

#include "ByteCursor.h"
#include "Exceptions.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace postvue {

TMailbaseReader::~TMailbaseReader() = default;

std::string TMailbaseReader::GetFolderName() { throw EAbstractError(); }
std::string TMailbaseReader::GetMessageHeader(std::int32_t) { throw EAbstractError(); }
std::string TMailbaseReader::GetMessageText(std::int32_t) { throw EAbstractError(); }
std::int32_t TMailbaseReader::GetCount() { throw EAbstractError(); }
void TMailbaseReader::GetMessage(std::int32_t, TMessageRecord&) { throw EAbstractError(); }
void TMailbaseReader::Load() { throw EAbstractError(); }

void TMailbaseReader::Open(const std::string& fileName) {
  Active = false;
  FileName = fileName;
  Stream.reset(); // the previous file is closed before the next is opened
  Format = sfUnknown;
  Stream = Files->Open(fileName, TShareMode::DenyNone);
  Format = RecogniseFormat(*Stream);
  Stream->Seek(0);
  Active = true; // also for an unknown format: the caller decides
}

TStoreFormat RecogniseFormat(TFileStream& stream) {
  std::uint8_t magic[4];
  stream.ReadAt(0, magic, sizeof magic);
  const std::uint32_t value = LE32(magic, 0);
  if (value == kMBXMagic) return sfMBX;
  if (value == kDBXMagic) return sfDBX;
  return sfUnknown;
}

void TMailbaseReader::SetFileName(const std::string& fileName) { Open(fileName); }

void TMailbaseReader::CopyMessage(std::int32_t Index, TMessageRecord& Record) const {
  if (Index >= 0 && static_cast<std::size_t>(Index) < Messages.size())
    Record = Messages[static_cast<std::size_t>(Index)];
  else
    ClearRecord(Record);
}

// The array is the bulk of a large load and is written once, front to back:
// in huge pages where the system offers them, it costs one page fault per
// 2 MiB instead of one per 4 KiB.
void TMailbaseReader::ReserveMessages(std::size_t count) {
  std::vector<TMessageRecord>().swap(Messages); // the former block goes before the next is taken
  Messages.reserve(count);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = 2 << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(Messages.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + count * sizeof(TMessageRecord)) & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE); // advice only
#endif
}

namespace {
constexpr std::uint64_t kTicksPerMs = 10000;
constexpr std::uint64_t kMsPerDay = 86400000;

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

struct TCalendarDate {
  std::int64_t Year;
  int Month; // 1..12
  int Day;   // 1..31
};

// Days since 1 January 1601 to a proleptic Gregorian date.
TCalendarDate CivilFromDays(std::uint64_t days) {
  std::int64_t year = 1601;
  // Whole 400-, 100-, 4- and 1-year cycles; 1601 starts a 400-year cycle.
  year += static_cast<std::int64_t>(days / 146097) * 400;
  days %= 146097;
  std::uint64_t centuries = days / 36524;
  if (centuries == 4) centuries = 3; // the last day of a 400-year cycle
  year += static_cast<std::int64_t>(centuries) * 100;
  days -= centuries * 36524;
  year += static_cast<std::int64_t>(days / 1461) * 4;
  days %= 1461;
  std::uint64_t years = days / 365;
  if (years == 4) years = 3; // the last day of a leap cycle
  year += static_cast<std::int64_t>(years);
  days -= years * 365;
  const auto& before = kDaysBeforeMonth[IsLeapYear(year) ? 1 : 0];
  int month = 1;
  while (days >= static_cast<std::uint64_t>(before[month])) ++month;
  return {year, month, static_cast<int>(days - static_cast<std::uint64_t>(before[month - 1])) + 1};
}
} // namespace

double FileTimeToDateTimeSafe(std::uint64_t fileTime) {
  const std::uint64_t ms = fileTime / kTicksPerMs; // below a millisecond is truncated
  const std::uint64_t msOfDay = ms % kMsPerDay;
  const TCalendarDate date = CivilFromDays(ms / kMsPerDay);

  // The time part always comes out valid from this split; it is guarded all the same.
  const std::uint64_t hour = msOfDay / 3600000, minute = msOfDay / 60000 % 60, second = msOfDay / 1000 % 60,
                      milli = msOfDay % 1000;
  double timePart = 0;
  if (hour <= 23 && minute <= 59 && second <= 59 && milli <= 999)
    timePart = static_cast<double>(hour * 3600000 + minute * 60000 + second * 1000 + milli) / kMsPerDay;

  double datePart = 0;
  const int leap = IsLeapYear(date.Year) ? 1 : 0;
  if (date.Year >= 1 && date.Year <= 9999 && date.Month >= 1 && date.Month <= 12 && date.Day >= 1 &&
      date.Day <= kDaysBeforeMonth[leap][date.Month] - kDaysBeforeMonth[leap][date.Month - 1]) {
    const std::int64_t y = date.Year - 1;
    const std::int64_t d = kDaysBeforeMonth[leap][date.Month - 1] + date.Day;
    datePart = static_cast<double>(365 * y + y / 4 - y / 100 + y / 400 + d - 693594);
  }
  return timePart + datePart;
}

} // namespace postvue
