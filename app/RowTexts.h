// The texts of one message list row: a pure function of the message record,
// its index and the user's date, time and number formats. No window needed.
#pragma once

#include "MessageRecord.h"

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <string_view>

namespace postvue {

// Image index of a row: the read mark that the list's draw hooks test.
constexpr int kImageRead = -1;
constexpr int kImageUnread = -2;

// The user's formats as the list uses them.
struct TLocaleFormat {
  QLocale Locale;         // day and month names
  QString ShortDate;      // the short date format
  QString LongTime;       // the long time format without milliseconds or time zone
  QString GroupSeparator; // the thousands separator

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
