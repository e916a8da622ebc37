// The texts of one message list row: a pure function of the message record,
// its index and a description of the user's formats that each viewer fills
// from its platform. Standard library only; texts are UTF-8.
#pragma once

#include "Charset.h"
#include "MessageRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// Image index of a row: the read mark that the list's draw hooks test.
constexpr int kImageRead = -1;
constexpr int kImageUnread = -2;

// Whose date-time format letters a format string uses.
enum class TFormatSyntax { Qt, Windows };

// A date or time format taken apart once, so that formatting a value needs
// no parsing (the list formats one date and one time per message).
struct TCompiledFormat {
  enum TField : std::uint8_t {
    Literal, Year2, Year4, YearShort, Month1, Month2, MonthShort, MonthLong, Day1, Day2, DayShort, DayLong,
    Hour1, Hour2, Hour12_1, Hour12_2, Minute1, Minute2, Second1, Second2,
    AmPmUpper, AmPmLower, AmPmAsIs, AmPmFirst
  };
  struct TPiece {
    TField Field;
    std::string Text; // for Literal
  };
  std::vector<TPiece> Pieces;

  // Date fields or time fields only; the other letters are literal text.
  static TCompiledFormat Compile(std::string_view format, bool date, TFormatSyntax syntax = TFormatSyntax::Qt);
};

// The user's formats as the list uses them. A viewer fills the texts from its
// platform and then calls CompileFormats.
struct TLocaleFormat {
  TFormatSyntax Syntax = TFormatSyntax::Qt;
  std::string ShortDate;      // the short date format, with four-digit years
  std::string LongTime;       // the long time format without milliseconds or time zone
  std::string GroupSeparator; // the thousands separator
  TCompiledFormat Date, Time;
  std::array<std::string, 12> MonthShort, MonthLong;
  std::array<std::string, 7> DayShort, DayLong; // Monday first
  std::string AmText, PmText;                   // as the locale writes them
  std::string AmUpper, PmUpper, AmLower, PmLower;
  std::array<std::string, 10> Digits = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  // The store's 8-bit texts as shown: the platform's ANSI code page where it has one.
  std::string (*StoreText)(std::string_view bytes) = Windows1252ToUtf8;

  void CompileFormats();
};

// One list row as plain data: sub-items 1 to 8 (column 0's caption is always empty).
struct TMessageRow {
  std::array<std::string, 8> SubItems;
  int ImageIndex = kImageRead;
};

// A date format whose years have fewer than four digits, widened to four: a
// message without a date (30 December 1899) must not read as 1999.
std::string WithFourDigitYears(std::string_view format, TFormatSyntax syntax);

// A time format with its millisecond and time-zone tokens (and the separators
// that lead into them) removed.
std::string TimeFormatWithoutZone(std::string_view format);

// Days since 30 December 1899 as the short date, plus a blank and the long time
// unless hours, minutes and seconds are all zero.
std::string ReceivedText(double received, const TLocaleFormat& format);

// An unsigned 32-bit size with digits grouped in threes.
std::string SizeText(std::uint32_t size, const TLocaleFormat& format);

// The row's read mark (the marks' texts are the record's: MessageRecord.h).
int ImageIndexOf(const TMessageRecord& record);

// Texts as wide as the widest a column shows in practice (four-digit numbers,
// "High", dates and times of every month with wide digits, a size in the
// hundred thousands): a column must hold each. None for the columns of free text.
std::vector<std::string> ColumnSamples(int column, const TLocaleFormat& format);

TMessageRow MakeMessageRow(std::int32_t index, const TMessageRecord& record, const TLocaleFormat& format);

} // namespace postvue
