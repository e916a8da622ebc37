#include "RowTexts.h"

#include "Charset.h"
#include "DateTime.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <vector>

namespace postvue {

TLocaleFormat TLocaleFormat::FromLocale(const QLocale& locale) {
  TLocaleFormat format;
  format.Locale = locale;
  format.ShortDate = locale.dateFormat(QLocale::ShortFormat);
  format.LongTime = TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat));
  format.GroupSeparator = locale.groupSeparator();
  format.Date = TCompiledFormat::Compile(format.ShortDate, true);
  format.Time = TCompiledFormat::Compile(format.LongTime, false);
  for (int month = 1; month <= 12; ++month) {
    format.MonthShort[static_cast<std::size_t>(month - 1)] = locale.monthName(month, QLocale::ShortFormat);
    format.MonthLong[static_cast<std::size_t>(month - 1)] = locale.monthName(month, QLocale::LongFormat);
  }
  for (int day = 1; day <= 7; ++day) {
    format.DayShort[static_cast<std::size_t>(day - 1)] = locale.dayName(day, QLocale::ShortFormat);
    format.DayLong[static_cast<std::size_t>(day - 1)] = locale.dayName(day, QLocale::LongFormat);
  }
  format.AmText = locale.amText();
  format.PmText = locale.pmText();
  format.LatinDigits = locale.zeroDigit() == QStringLiteral("0");
  return format;
}

namespace {
// A quoted literal starting at format[i]: '' alone is one quote, '' inside quotes too.
QString ReadQuoted(const QString& format, qsizetype& i) {
  ++i;
  if (i == format.size()) return {};
  if (format[i] == u'\'') {
    ++i;
    return QStringLiteral("'");
  }
  QString text;
  while (i < format.size()) {
    if (format[i] == u'\'') {
      if (i + 1 < format.size() && format[i + 1] == u'\'') {
        text += u'\'';
        i += 2;
        continue;
      }
      break;
    }
    text += format[i++];
  }
  if (i < format.size()) ++i;
  return text;
}

bool ContainsAmPm(const QString& format) {
  qsizetype i = 0;
  while (i < format.size()) {
    if (format[i] == u'\'') {
      ReadQuoted(format, i);
      continue;
    }
    if (format[i] == u'a' || format[i] == u'A') return true;
    ++i;
  }
  return false;
}
} // namespace

TCompiledFormat TCompiledFormat::Compile(const QString& format, bool date) {
  TCompiledFormat compiled;
  auto add = [&](TField field, const QString& text = {}) {
    if (field == Literal && !compiled.Pieces.empty() && compiled.Pieces.back().Field == Literal)
      compiled.Pieces.back().Text += text;
    else
      compiled.Pieces.push_back({field, text});
  };
  const bool twelveHours = !date && ContainsAmPm(format);
  qsizetype i = 0;
  const qsizetype n = format.size();
  while (i < n) {
    const QChar c = format[i];
    if (c == u'\'') {
      add(Literal, ReadQuoted(format, i));
      continue;
    }
    qsizetype repeat = 1;
    while (i + repeat < n && format[i + repeat] == c) ++repeat;
    bool used = true;
    switch (date ? c.unicode() : u'\0') {
    case u'y':
      if (repeat >= 4) {
        repeat = 4;
        add(Year4);
      } else if (repeat >= 2) {
        repeat = 2;
        add(Year2);
      } else {
        used = false;
      }
      break;
    case u'M':
      repeat = std::min<qsizetype>(repeat, 4);
      add(repeat == 1 ? Month1 : repeat == 2 ? Month2 : repeat == 3 ? MonthShort : MonthLong);
      break;
    case u'd':
      repeat = std::min<qsizetype>(repeat, 4);
      add(repeat == 1 ? Day1 : repeat == 2 ? Day2 : repeat == 3 ? DayShort : DayLong);
      break;
    default:
      used = false;
    }
    if (!used && !date) {
      used = true;
      switch (c.unicode()) {
      case u'h':
        repeat = std::min<qsizetype>(repeat, 2);
        add(twelveHours ? (repeat == 1 ? Hour12_1 : Hour12_2) : (repeat == 1 ? Hour1 : Hour2));
        break;
      case u'H':
        repeat = std::min<qsizetype>(repeat, 2);
        add(repeat == 1 ? Hour1 : Hour2);
        break;
      case u'm':
        repeat = std::min<qsizetype>(repeat, 2);
        add(repeat == 1 ? Minute1 : Minute2);
        break;
      case u's':
        repeat = std::min<qsizetype>(repeat, 2);
        add(repeat == 1 ? Second1 : Second2);
        break;
      case u'A':
      case u'a': {
        repeat = (i + 1 < n && (format[i + 1] == u'p' || format[i + 1] == u'P')) ? 2 : 1;
        const QChar p = repeat == 2 ? format[i + 1] : QChar();
        if (c == u'A' && (repeat == 1 || p == u'P'))
          add(AmPmUpper);
        else if (c == u'a' && (repeat == 1 || p == u'p'))
          add(AmPmLower);
        else
          add(AmPmAsIs);
        break;
      }
      case u'z':
      case u't':
        break; // never shown: the value carries no milliseconds or zone worth showing
      default:
        used = false;
      }
    }
    if (!used) add(Literal, QString(repeat, c));
    i += repeat;
  }
  return compiled;
}

namespace {
void AppendNumber(QString& text, int value, int width) {
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int pad = length; pad < width; ++pad) text += u'0';
  while (length > 0) text += QChar(u'0' + (digits[--length] - '0'));
}

void AppendFormatted(QString& text, const TCompiledFormat& compiled, const TLocaleFormat& format,
                     const TDateTimeFields& f) {
  for (const auto& piece : compiled.Pieces) {
    switch (piece.Field) {
    case TCompiledFormat::Literal: text += piece.Text; break;
    case TCompiledFormat::Year2: AppendNumber(text, f.Year % 100, 2); break;
    case TCompiledFormat::Year4: AppendNumber(text, f.Year, 4); break;
    case TCompiledFormat::Month1: AppendNumber(text, f.Month, 1); break;
    case TCompiledFormat::Month2: AppendNumber(text, f.Month, 2); break;
    case TCompiledFormat::MonthShort: text += format.MonthShort[static_cast<std::size_t>(f.Month - 1)]; break;
    case TCompiledFormat::MonthLong: text += format.MonthLong[static_cast<std::size_t>(f.Month - 1)]; break;
    case TCompiledFormat::Day1: AppendNumber(text, f.Day, 1); break;
    case TCompiledFormat::Day2: AppendNumber(text, f.Day, 2); break;
    case TCompiledFormat::DayShort:
      text += format.DayShort[static_cast<std::size_t>(QDate(f.Year, f.Month, f.Day).dayOfWeek() - 1)];
      break;
    case TCompiledFormat::DayLong:
      text += format.DayLong[static_cast<std::size_t>(QDate(f.Year, f.Month, f.Day).dayOfWeek() - 1)];
      break;
    case TCompiledFormat::Hour1: AppendNumber(text, f.Hour, 1); break;
    case TCompiledFormat::Hour2: AppendNumber(text, f.Hour, 2); break;
    case TCompiledFormat::Hour12_1:
    case TCompiledFormat::Hour12_2: {
      const int hour = f.Hour > 12 ? f.Hour - 12 : f.Hour == 0 ? 12 : f.Hour;
      AppendNumber(text, hour, piece.Field == TCompiledFormat::Hour12_1 ? 1 : 2);
      break;
    }
    case TCompiledFormat::Minute1: AppendNumber(text, f.Minute, 1); break;
    case TCompiledFormat::Minute2: AppendNumber(text, f.Minute, 2); break;
    case TCompiledFormat::Second1: AppendNumber(text, f.Second, 1); break;
    case TCompiledFormat::Second2: AppendNumber(text, f.Second, 2); break;
    case TCompiledFormat::AmPmUpper: text += (f.Hour < 12 ? format.AmText : format.PmText).toUpper(); break;
    case TCompiledFormat::AmPmLower: text += (f.Hour < 12 ? format.AmText : format.PmText).toLower(); break;
    case TCompiledFormat::AmPmAsIs: text += f.Hour < 12 ? format.AmText : format.PmText; break;
    }
  }
}
} // namespace

QString StoreText(std::string_view bytes) {
#ifdef _WIN32
  return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
#else
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes) *out++ = QChar(Windows1252ToUnicode(static_cast<unsigned char>(c)));
  return text;
#endif
}

namespace {
// One piece of a date-time format: a run of one pattern letter, a quoted
// literal, or other literal characters.
struct TFormatPiece {
  enum TKind { Letters, Quoted, Other } Kind;
  QString Text;
};

std::vector<TFormatPiece> SplitFormat(const QString& format) {
  std::vector<TFormatPiece> pieces;
  qsizetype i = 0;
  const qsizetype n = format.size();
  while (i < n) {
    const QChar c = format[i];
    qsizetype j = i + 1;
    TFormatPiece::TKind kind;
    if (c == u'\'') {
      kind = TFormatPiece::Quoted;
      while (j < n) {
        if (format[j] == u'\'') {
          if (j + 1 < n && format[j + 1] == u'\'') { // '' inside quotes is one quote
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
    } else if (c.isLetter()) {
      kind = TFormatPiece::Letters;
      while (j < n && format[j] == c) ++j;
    } else {
      kind = TFormatPiece::Other;
      while (j < n && format[j] != u'\'' && !format[j].isLetter()) ++j;
    }
    pieces.push_back({kind, format.mid(i, j - i)});
    i = j;
  }
  return pieces;
}
} // namespace

QString TimeFormatWithoutZone(const QString& format) {
  auto pieces = SplitFormat(format);
  for (std::size_t i = 0; i < pieces.size();) {
    const TFormatPiece& piece = pieces[i];
    const bool dropped =
        piece.Kind == TFormatPiece::Letters && (piece.Text.front() == u'z' || piece.Text.front() == u't');
    if (!dropped) {
      ++i;
      continue;
    }
    // The separator that leads into the dropped token goes with it; a token
    // at the start takes the separator behind it instead.
    if (i > 0 && pieces[i - 1].Kind == TFormatPiece::Other) {
      pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(i - 1), pieces.begin() + static_cast<std::ptrdiff_t>(i + 1));
      --i;
    } else if (i + 1 < pieces.size() && pieces[i + 1].Kind == TFormatPiece::Other) {
      pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(i), pieces.begin() + static_cast<std::ptrdiff_t>(i + 2));
    } else {
      pieces.erase(pieces.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  QString result;
  for (const auto& piece : pieces) result += piece.Text;
  return result.trimmed();
}

QString ReceivedText(double received, const TLocaleFormat& format) {
  const TDateTimeFields f = DecodeDateTime(received);
  const bool withTime = f.Hour != 0 || f.Minute != 0 || f.Second != 0;
  if (!format.LatinDigits) {
    QString text = format.Locale.toString(QDate(f.Year, f.Month, f.Day), format.ShortDate);
    if (withTime) text += u' ' + format.Locale.toString(QTime(f.Hour, f.Minute, f.Second), format.LongTime);
    return text;
  }
  QString text;
  text.reserve(32);
  AppendFormatted(text, format.Date, format, f);
  if (withTime) {
    text += u' ';
    AppendFormatted(text, format.Time, format, f);
  }
  return text;
}

QString SizeText(std::uint32_t size, const TLocaleFormat& format) {
  const QString digits = QString::number(size);
  QString text;
  text.reserve(digits.size() + (digits.size() / 3) * format.GroupSeparator.size());
  for (qsizetype i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += format.GroupSeparator;
    text += digits[i];
  }
  return text;
}

QString PriorityText(std::int32_t priority) {
  switch (priority) {
  case 1:
    return QStringLiteral("High");
  case 5:
    return QStringLiteral("Low");
  default:
    return {};
  }
}

TMessageRow MakeMessageRow(std::int32_t index, const TMessageRecord& record, const TLocaleFormat& format) {
  const QString yes = QStringLiteral("Yes");
  TMessageRow row;
  row.ImageIndex = (record.Flags & kFlagRead) ? kImageRead : kImageUnread;
  row.SubItems = {QString::number(index),
                  (record.Flags & kFlagAttachment) ? yes : QString(),
                  PriorityText(record.Priority),
                  (record.Flags & kFlagMarked) ? yes : QString(),
                  StoreText(record.SenderName.Empty() ? record.SenderAddress.View() : record.SenderName.View()),
                  StoreText(record.Subject.View()),
                  ReceivedText(record.Received, format),
                  SizeText(record.Size, format)};
  return row;
}

} // namespace postvue
