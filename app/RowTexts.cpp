#include "RowTexts.h"

#include "DateTime.h"

#include <QDate>
#include <QTime>

#include <vector>

namespace postvue {

TLocaleFormat TLocaleFormat::FromLocale(const QLocale& locale) {
  return {locale, locale.dateFormat(QLocale::ShortFormat),
          TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)), locale.groupSeparator()};
}

QString StoreText(std::string_view bytes) {
#ifdef _WIN32
  return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
#else
  // Windows-1252 for 0x80-0x9F; its five undefined bytes keep their C1 code
  // points. Every other byte is its Latin-1 code point.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    *out++ = QChar(byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : char16_t{byte});
  }
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
  QString text = format.Locale.toString(QDate(f.Year, f.Month, f.Day), format.ShortDate);
  if (f.Hour != 0 || f.Minute != 0 || f.Second != 0) {
    text += u' ';
    text += format.Locale.toString(QTime(f.Hour, f.Minute, f.Second), format.LongTime);
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
