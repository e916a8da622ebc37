#include "RowTexts.h"

#include "DateTime.h"

#include <algorithm>

namespace postvue {

namespace {
// A quoted literal starting at format[i]: '' alone is one quote, '' inside quotes too.
std::string ReadQuoted(std::string_view format, std::size_t& i) {
  ++i;
  if (i == format.size()) return {};
  if (format[i] == '\'') {
    ++i;
    return "'";
  }
  std::string text;
  while (i < format.size()) {
    if (format[i] == '\'') {
      if (i + 1 < format.size() && format[i + 1] == '\'') {
        text += '\'';
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

bool ContainsAmPm(std::string_view format) {
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] == '\'') {
      ReadQuoted(format, i);
      continue;
    }
    if (format[i] == 'a' || format[i] == 'A') return true;
    ++i;
  }
  return false;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

using TField = TCompiledFormat::TField;

// The date field of a run of one letter; false when the letter is none.
bool DateField(char c, std::size_t& repeat, TFormatSyntax syntax, TField& field, bool& dropped) {
  switch (c) {
  case 'y':
    if (repeat >= 4) {
      repeat = syntax == TFormatSyntax::Qt ? 4 : repeat;
      field = TCompiledFormat::Year4;
    } else if (syntax == TFormatSyntax::Windows) {
      field = repeat == 1 ? TCompiledFormat::YearShort : repeat == 2 ? TCompiledFormat::Year2 : TCompiledFormat::Year4;
    } else if (repeat >= 2) {
      repeat = 2;
      field = TCompiledFormat::Year2;
    } else {
      return false;
    }
    return true;
  case 'M':
    repeat = std::min<std::size_t>(repeat, 4);
    field = repeat == 1 ? TCompiledFormat::Month1 : repeat == 2 ? TCompiledFormat::Month2
          : repeat == 3 ? TCompiledFormat::MonthShort : TCompiledFormat::MonthLong;
    return true;
  case 'd':
    repeat = std::min<std::size_t>(repeat, 4);
    field = repeat == 1 ? TCompiledFormat::Day1 : repeat == 2 ? TCompiledFormat::Day2
          : repeat == 3 ? TCompiledFormat::DayShort : TCompiledFormat::DayLong;
    return true;
  case 'g': // the era: nothing worth showing for dates of this calendar
    if (syntax != TFormatSyntax::Windows) return false;
    dropped = true;
    return true;
  default:
    return false;
  }
}

bool TimeField(std::string_view format, std::size_t i, std::size_t& repeat, TFormatSyntax syntax, bool twelveHours,
               TField& field, bool& dropped) {
  const char c = format[i];
  const bool windows = syntax == TFormatSyntax::Windows;
  switch (c) {
  case 'h':
    repeat = std::min<std::size_t>(repeat, 2);
    field = (twelveHours || windows) ? (repeat == 1 ? TCompiledFormat::Hour12_1 : TCompiledFormat::Hour12_2)
                                     : (repeat == 1 ? TCompiledFormat::Hour1 : TCompiledFormat::Hour2);
    return true;
  case 'H':
    repeat = std::min<std::size_t>(repeat, 2);
    field = repeat == 1 ? TCompiledFormat::Hour1 : TCompiledFormat::Hour2;
    return true;
  case 'm':
    repeat = std::min<std::size_t>(repeat, 2);
    field = repeat == 1 ? TCompiledFormat::Minute1 : TCompiledFormat::Minute2;
    return true;
  case 's':
    repeat = std::min<std::size_t>(repeat, 2);
    field = repeat == 1 ? TCompiledFormat::Second1 : TCompiledFormat::Second2;
    return true;
  case 't':
    if (windows) {
      repeat = std::min<std::size_t>(repeat, 2);
      field = repeat == 1 ? TCompiledFormat::AmPmFirst : TCompiledFormat::AmPmAsIs;
    } else {
      dropped = true; // never shown: the value carries no zone worth showing
    }
    return true;
  case 'z':
    if (windows) return false;
    dropped = true; // nor milliseconds
    return true;
  case 'A':
  case 'a': {
    if (windows) return false;
    repeat = (i + 1 < format.size() && (format[i + 1] == 'p' || format[i + 1] == 'P')) ? 2 : 1;
    const char p = repeat == 2 ? format[i + 1] : '\0';
    if (c == 'A' && (repeat == 1 || p == 'P'))
      field = TCompiledFormat::AmPmUpper;
    else if (c == 'a' && (repeat == 1 || p == 'p'))
      field = TCompiledFormat::AmPmLower;
    else
      field = TCompiledFormat::AmPmAsIs;
    return true;
  }
  default:
    return false;
  }
}
} // namespace

TCompiledFormat TCompiledFormat::Compile(std::string_view format, bool date, TFormatSyntax syntax) {
  TCompiledFormat compiled;
  auto add = [&](TField field, std::string_view text = {}) {
    if (field == Literal && !compiled.Pieces.empty() && compiled.Pieces.back().Field == Literal)
      compiled.Pieces.back().Text += text;
    else
      compiled.Pieces.push_back({field, std::string(text)});
  };
  const bool twelveHours = !date && ContainsAmPm(format);
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n) {
    const char c = format[i];
    if (c == '\'') {
      add(Literal, ReadQuoted(format, i));
      continue;
    }
    std::size_t repeat = 1;
    while (i + repeat < n && format[i + repeat] == c) ++repeat;
    TField field = Literal;
    bool dropped = false;
    const bool used = date ? DateField(c, repeat, syntax, field, dropped)
                           : TimeField(format, i, repeat, syntax, twelveHours, field, dropped);
    if (!used)
      add(Literal, format.substr(i, repeat));
    else if (!dropped)
      add(field);
    i += repeat;
  }
  return compiled;
}

void TLocaleFormat::CompileFormats() {
  Date = TCompiledFormat::Compile(ShortDate, true, Syntax);
  Time = TCompiledFormat::Compile(LongTime, false, Syntax);
}

namespace {
void AppendNumber(std::string& text, int value, int width, const TLocaleFormat& format) {
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>(value % 10);
    value /= 10;
  } while (value > 0);
  for (int pad = length; pad < width; ++pad) text += format.Digits[0];
  while (length > 0) text += format.Digits[static_cast<std::size_t>(digits[--length])];
}

// Monday 0 to Sunday 6.
std::size_t DayOfWeek(int year, int month, int day) {
  // Days since 1 March of year 0 in the proleptic Gregorian calendar.
  const int y = year - (month <= 2);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long long days = static_cast<long long>(era) * 146097 + dayOfEra; // 1 March 0000 was a Wednesday
  return static_cast<std::size_t>(((days % 7) + 7 + 2) % 7);
}

// The first character of a UTF-8 text.
std::string_view FirstCharacter(std::string_view text) {
  if (text.empty()) return text;
  std::size_t length = 1;
  while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) ++length;
  return text.substr(0, length);
}

void AppendFormatted(std::string& text, const TCompiledFormat& compiled, const TLocaleFormat& format,
                     const TDateTimeFields& f) {
  const bool am = f.Hour < 12;
  for (const auto& piece : compiled.Pieces) {
    switch (piece.Field) {
    case TCompiledFormat::Literal: text += piece.Text; break;
    case TCompiledFormat::Year2: AppendNumber(text, f.Year % 100, 2, format); break;
    case TCompiledFormat::Year4: AppendNumber(text, f.Year, 4, format); break;
    case TCompiledFormat::YearShort: AppendNumber(text, f.Year % 100, 1, format); break;
    case TCompiledFormat::Month1: AppendNumber(text, f.Month, 1, format); break;
    case TCompiledFormat::Month2: AppendNumber(text, f.Month, 2, format); break;
    case TCompiledFormat::MonthShort: text += format.MonthShort[static_cast<std::size_t>(f.Month - 1)]; break;
    case TCompiledFormat::MonthLong: text += format.MonthLong[static_cast<std::size_t>(f.Month - 1)]; break;
    case TCompiledFormat::Day1: AppendNumber(text, f.Day, 1, format); break;
    case TCompiledFormat::Day2: AppendNumber(text, f.Day, 2, format); break;
    case TCompiledFormat::DayShort: text += format.DayShort[DayOfWeek(f.Year, f.Month, f.Day)]; break;
    case TCompiledFormat::DayLong: text += format.DayLong[DayOfWeek(f.Year, f.Month, f.Day)]; break;
    case TCompiledFormat::Hour1: AppendNumber(text, f.Hour, 1, format); break;
    case TCompiledFormat::Hour2: AppendNumber(text, f.Hour, 2, format); break;
    case TCompiledFormat::Hour12_1:
    case TCompiledFormat::Hour12_2: {
      const int hour = f.Hour > 12 ? f.Hour - 12 : f.Hour == 0 ? 12 : f.Hour;
      AppendNumber(text, hour, piece.Field == TCompiledFormat::Hour12_1 ? 1 : 2, format);
      break;
    }
    case TCompiledFormat::Minute1: AppendNumber(text, f.Minute, 1, format); break;
    case TCompiledFormat::Minute2: AppendNumber(text, f.Minute, 2, format); break;
    case TCompiledFormat::Second1: AppendNumber(text, f.Second, 1, format); break;
    case TCompiledFormat::Second2: AppendNumber(text, f.Second, 2, format); break;
    case TCompiledFormat::AmPmUpper: text += am ? format.AmUpper : format.PmUpper; break;
    case TCompiledFormat::AmPmLower: text += am ? format.AmLower : format.PmLower; break;
    case TCompiledFormat::AmPmAsIs: text += am ? format.AmText : format.PmText; break;
    case TCompiledFormat::AmPmFirst: text += FirstCharacter(am ? format.AmText : format.PmText); break;
    }
  }
}

// One piece of a date-time format: a run of one pattern letter, a quoted
// literal, or other literal characters.
struct TFormatPiece {
  enum TKind { Letters, Quoted, Other } Kind;
  std::string_view Text;
};

std::vector<TFormatPiece> SplitFormat(std::string_view format) {
  std::vector<TFormatPiece> pieces;
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n) {
    const char c = format[i];
    std::size_t j = i + 1;
    TFormatPiece::TKind kind;
    if (c == '\'') {
      kind = TFormatPiece::Quoted;
      while (j < n) {
        if (format[j] == '\'') {
          if (j + 1 < n && format[j + 1] == '\'') { // '' inside quotes is one quote
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
    } else if (IsAsciiLetter(c)) {
      kind = TFormatPiece::Letters;
      while (j < n && format[j] == c) ++j;
    } else {
      kind = TFormatPiece::Other;
      while (j < n && format[j] != '\'' && !IsAsciiLetter(format[j])) ++j;
    }
    pieces.push_back({kind, format.substr(i, j - i)});
    i = j;
  }
  return pieces;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}
} // namespace

std::string WithFourDigitYears(std::string_view format, TFormatSyntax syntax) {
  std::string result;
  for (const auto& piece : SplitFormat(format)) {
    const bool shortYear = piece.Kind == TFormatPiece::Letters && piece.Text.front() == 'y' &&
                           (piece.Text.size() == 2 || (piece.Text.size() == 1 && syntax == TFormatSyntax::Windows));
    result += shortYear ? std::string_view("yyyy") : piece.Text;
  }
  return result;
}

std::string TimeFormatWithoutZone(std::string_view format) {
  auto pieces = SplitFormat(format);
  for (std::size_t i = 0; i < pieces.size();) {
    const TFormatPiece& piece = pieces[i];
    const bool dropped =
        piece.Kind == TFormatPiece::Letters && (piece.Text.front() == 'z' || piece.Text.front() == 't');
    if (!dropped) {
      ++i;
      continue;
    }
    // The separator that leads into the dropped token goes with it; a token
    // at the start takes the separator behind it instead.
    const auto at = pieces.begin() + static_cast<std::ptrdiff_t>(i);
    if (i > 0 && pieces[i - 1].Kind == TFormatPiece::Other) {
      pieces.erase(at - 1, at + 1);
      --i;
    } else if (i + 1 < pieces.size() && pieces[i + 1].Kind == TFormatPiece::Other) {
      pieces.erase(at, at + 2);
    } else {
      pieces.erase(at);
    }
  }
  std::string result;
  for (const auto& piece : pieces) result += piece.Text;
  return std::string(Trimmed(result));
}

std::string ReceivedText(double received, const TLocaleFormat& format) {
  const TDateTimeFields f = DecodeDateTime(received);
  std::string text;
  text.reserve(32);
  AppendFormatted(text, format.Date, format, f);
  if (f.Hour != 0 || f.Minute != 0 || f.Second != 0) {
    text += ' ';
    AppendFormatted(text, format.Time, format, f);
  }
  return text;
}

std::string SizeText(std::uint32_t size, const TLocaleFormat& format) {
  const std::string digits = std::to_string(size);
  std::string text;
  text.reserve(digits.size() * 2);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += format.GroupSeparator;
    text += format.Digits[static_cast<std::size_t>(digits[i] - '0')];
  }
  return text;
}

int ImageIndexOf(const TMessageRecord& record) { return (record.Flags & kFlagRead) ? kImageRead : kImageUnread; }

std::vector<std::string> ColumnSamples(int column, const TLocaleFormat& format) {
  switch (column) {
  case 1: return {"8888"};
  case 2: case 4: return {"Yes"};
  case 3: return {"High", "Low"};
  case 7: {
    // The 28th of every month of 2000 at 22:58:58 (day 36553 is 28 January 2000).
    constexpr int kDays[12] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335};
    std::vector<std::string> texts;
    for (const int day : kDays) texts.push_back(ReceivedText(36553 + day + (22 * 3600 + 58 * 60 + 58) / 86400.0, format));
    return texts;
  }
  case 8: return {SizeText(888888, format)};
  default: return {};
  }
}

TMessageRow MakeMessageRow(std::int32_t index, const TMessageRecord& record, const TLocaleFormat& format) {
  TMessageRow row;
  row.ImageIndex = ImageIndexOf(record);
  row.SubItems = {std::to_string(index),
                  std::string(AttachmentText(record)),
                  std::string(PriorityText(record.Priority)),
                  std::string(FlagText(record)),
                  format.StoreText(SenderBytes(record)),
                  format.StoreText(record.Subject.View()),
                  ReceivedText(record.Received, format),
                  SizeText(record.Size, format)};
  return row;
}

} // namespace postvue
