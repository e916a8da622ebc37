// The row texts of the window core, fed from QLocale and shown as QString.
#pragma once

#include "RowTexts.h"

#include <QLocale>
#include <QString>

#include <string>
#include <string_view>

namespace postvue {

// The user's formats as QLocale gives them: short date (with four-digit
// years), long time (without milliseconds or zone), thousands separator.
TLocaleFormat LocaleFormatOf(const QLocale& locale);

inline QString Utf8Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string Utf8Of(const QString& text) { return text.toUtf8().toStdString(); }

// 8-bit store bytes as shown: Windows-1252, the code page the stores were written in.
QString StoreText(std::string_view bytes);

} // namespace postvue
