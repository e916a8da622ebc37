#include "QtRowTexts.h"

namespace postvue {

TLocaleFormat LocaleFormatOf(const QLocale& locale) {
  TLocaleFormat format;
  format.Syntax = TFormatSyntax::Qt;
  format.ShortDate = WithFourDigitYears(Utf8Of(locale.dateFormat(QLocale::ShortFormat)), TFormatSyntax::Qt);
  format.LongTime = TimeFormatWithoutZone(Utf8Of(locale.timeFormat(QLocale::LongFormat)));
  format.GroupSeparator = Utf8Of(locale.groupSeparator());
  for (int month = 1; month <= 12; ++month) {
    format.MonthShort[static_cast<std::size_t>(month - 1)] = Utf8Of(locale.monthName(month, QLocale::ShortFormat));
    format.MonthLong[static_cast<std::size_t>(month - 1)] = Utf8Of(locale.monthName(month, QLocale::LongFormat));
  }
  for (int day = 1; day <= 7; ++day) {
    format.DayShort[static_cast<std::size_t>(day - 1)] = Utf8Of(locale.dayName(day, QLocale::ShortFormat));
    format.DayLong[static_cast<std::size_t>(day - 1)] = Utf8Of(locale.dayName(day, QLocale::LongFormat));
  }
  format.AmText = Utf8Of(locale.amText());
  format.PmText = Utf8Of(locale.pmText());
  format.AmUpper = Utf8Of(locale.amText().toUpper());
  format.PmUpper = Utf8Of(locale.pmText().toUpper());
  format.AmLower = Utf8Of(locale.amText().toLower());
  format.PmLower = Utf8Of(locale.pmText().toLower());
  for (int digit = 0; digit < 10; ++digit) format.Digits[static_cast<std::size_t>(digit)] = Utf8Of(locale.toString(digit));
  format.CompileFormats();
  return format;
}

QString StoreText(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (const char c : bytes) *out++ = QChar(Windows1252ToUnicode(static_cast<unsigned char>(c)));
  return text;
}

} // namespace postvue
