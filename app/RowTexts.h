// The texts of one message list row: a pure function of the message record,
// its index and the user's date, time and number formats. No window needed.
#pragma once

#include "MessageRecord.h"

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace postvue {

// Image index of a row: the read mark that the list's draw hooks test.
constexpr int kImageRead = -1;
constexpr int kImageUnread = -2;

// A date or time format taken apart once, so that formatting a value needs
// no parsing (the list formats one date and one time per message).
struct TCompiledFormat {
  enum TField : std::uint8_t {
    Literal, Year2, Year4, Month1, Month2, MonthShort, MonthLong, Day1, Day2, DayShort, DayLong,
    Hour1, Hour2, Hour12_1, Hour12_2, Minute1, Minute2, Second1, Second2, AmPmUpper, AmPmLower, AmPmAsIs
  };
  struct TPiece {
    TField Field;
    QString Text; // for Literal
  };
  std::vector<TPiece> Pieces;

  // Qt's date-time format syntax; date fields or time fields only.
  static TCompiledFormat Compile(const QString& format, bool date);
};

// The user's formats as the list uses them. Made by FromLocale; the compiled
// formats follow ShortDate and LongTime as they were then.
struct TLocaleFormat {
  QLocale Locale;         // day and month names, AM and PM
  QString ShortDate;      // the short date format
  QString LongTime;       // the long time format without milliseconds or time zone
  QString GroupSeparator; // the thousands separator
  TCompiledFormat Date, Time;
  std::array<QString, 12> MonthShort, MonthLong;
  std::array<QString, 7> DayShort, DayLong; // Monday first
  QString AmText, PmText;
  bool LatinDigits = true; // false: the locale writes numbers in digits of its own

  static TLocaleFormat FromLocale(const QLocale& locale);
};

// One list row as plain data: sub-items 1 to 8 (column 0's caption is always empty).
struct TMessageRow {
  std::array<QString, 8> SubItems;
  int ImageIndex = kImageRead;
};

// 8-bit store bytes as shown: the ANSI code page on Windows, Windows-1252 elsewhere.
QString StoreText(std::string_view bytes);

// A time format with its millisecond and time-zone tokens (and the separators
// that lead into them) removed.
QString TimeFormatWithoutZone(const QString& format);

// Days since 30 December 1899 as the short date, plus a blank and the long time
// unless hours, minutes and seconds are all zero.
QString ReceivedText(double received, const TLocaleFormat& format);

// An unsigned 32-bit size with digits grouped in threes.
QString SizeText(std::uint32_t size, const TLocaleFormat& format);

QString PriorityText(std::int32_t priority);

TMessageRow MakeMessageRow(std::int32_t index, const TMessageRecord& record, const TLocaleFormat& format);

} // namespace postvue
