// The row texts of the message list, made from records without any window.
#include "QtRowTexts.h"
#include "StoreWriter.h"

#include "DateTime.h"
#include "MailbaseReader.h"

#include <QTest>

using namespace postvue;

namespace {
// The formats of a US English desktop: short date M/d/yy, long time h:mm:ss AP.
TLocaleFormat UsFormat() { return LocaleFormatOf(QLocale(QLocale::English, QLocale::UnitedStates)); }

TMessageRecord Record() {
  TMessageRecord record;
  ClearRecord(record);
  return record;
}

QString S(const std::string& text) { return QString::fromStdString(text); }

double DateTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
  return FileTimeToDateTimeSafe(testing::FileTimeOf(year, month, day, hour, minute, second, ms));
}
} // namespace

class RowTextsTest : public QObject {
  Q_OBJECT
private slots:
  void flagsAndPriority_data() {
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<qint32>("priority");
    QTest::addColumn<QString>("attachment");
    QTest::addColumn<QString>("priorityText");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<int>("imageIndex");
    QTest::newRow("read, normal priority 3") << 0x80u << 3 << "" << "" << "" << kImageRead;
    QTest::newRow("priority 0") << 0x80u << 0 << "" << "" << "" << kImageRead;
    QTest::newRow("priority 1 is high") << 0x80u << 1 << "" << "High" << "" << kImageRead;
    QTest::newRow("priority 5 is low") << 0x80u << 5 << "" << "Low" << "" << kImageRead;
    QTest::newRow("priority -1") << 0x80u << -1 << "" << "" << "" << kImageRead;
    QTest::newRow("unread") << 0u << 3 << "" << "" << "" << kImageUnread;
    QTest::newRow("attachment, unread") << 0x4000u << 3 << "Yes" << "" << "" << kImageUnread;
    QTest::newRow("flagged") << 0xA0u << 3 << "" << "" << "Yes" << kImageRead;
    QTest::newRow("every bit") << 0xFFFFFFFFu << 1 << "Yes" << "High" << "Yes" << kImageRead;
    QTest::newRow("every bit but read") << 0xFFFFFF7Fu << 5 << "Yes" << "Low" << "Yes" << kImageUnread;
  }
  void flagsAndPriority() {
    QFETCH(quint32, flags);
    QFETCH(qint32, priority);
    TMessageRecord record = Record();
    record.Flags = flags;
    record.Priority = priority;
    const TMessageRow row = MakeMessageRow(0, record, UsFormat());
    QTEST(S(row.SubItems[1]), "attachment");
    QTEST(S(row.SubItems[2]), "priorityText");
    QTEST(S(row.SubItems[3]), "flag");
    QTEST(row.ImageIndex, "imageIndex");
  }

  void senderAndNumber_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("subjectText");
    QTest::newRow("first row, name wins") << 0 << QByteArray("Ann") << QByteArray("ann@x.org") << QByteArray("Hi")
                                          << "0" << "Ann" << "Hi";
    QTest::newRow("no name: address") << 41 << QByteArray() << QByteArray("bob@x.org") << QByteArray() << "41"
                                      << "bob@x.org" << "";
    QTest::newRow("neither") << 2147483647 << QByteArray() << QByteArray() << QByteArray("S") << "2147483647" << ""
                             << "S";
    QTest::newRow("8-bit bytes") << 7 << QByteArray("Jos\xe9") << QByteArray() << QByteArray("\x80 5 \x93ok\x94")
                                 << "7" << QString::fromUtf8("Jos\u00e9")
                                 << QString::fromUtf8("\u20ac 5 \u201cok\u201d");
  }
  void senderAndNumber() {
    QFETCH(int, index);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, subject);
    TMessageRecord record = Record();
    record.SenderName.Assign(name.toStdString());
    record.SenderAddress.Assign(address.toStdString());
    record.Subject.Assign(subject.toStdString());
    const TMessageRow row = MakeMessageRow(index, record, UsFormat());
    QTEST(S(row.SubItems[0]), "number");
    QTEST(S(row.SubItems[4]), "sender");
    QTEST(S(row.SubItems[5]), "subjectText");
  }

  void storeText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("plain") << "plain";
    QTest::newRow("euro, quotes, dash") << QByteArray("\x80\x91\x92\x96\x97\x9f")
                                        << QString::fromUtf8("\u20ac\u2018\u2019\u2013\u2014\u0178");
    QTest::newRow("undefined bytes keep their code") << QByteArray("\x81\x8d\x8f\x90\x9d")
                                                     << QString::fromUtf8("\u0081\u008d\u008f\u0090\u009d");
    QTest::newRow("latin-1 range") << QByteArray("\xa0\xe4\xff") << QString::fromUtf8("\u00a0\u00e4\u00ff");
    QTest::newRow("zero byte kept") << QByteArray("a\0b", 3) << QString(QStringLiteral("a") + QChar(0) + u'b');
  }
  void storeText() {
    QFETCH(QByteArray, bytes);
#ifdef _WIN32
    QSKIP("texts go through the ANSI code page on Windows");
#endif
    QTEST(StoreText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))), "text");
  }

  void received_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("us");
    QTest::addColumn<QString>("german");
    // Four-digit years where the locale's short format has two: no date must not read as 1999.
    QTest::newRow("zero: 30 December 1899, no time") << 0.0 << "12/30/1899" << "30.12.1899";
    QTest::newRow("midnight: date alone") << DateTimeOf(2004, 1, 1) << "1/1/2004" << "01.01.2004";
    QTest::newRow("milliseconds do not count") << DateTimeOf(2004, 1, 1, 0, 0, 0, 400) << "1/1/2004" << "01.01.2004";
    QTest::newRow("one second past midnight") << DateTimeOf(2004, 1, 1, 0, 0, 1) << "1/1/2004 12:00:01 AM"
                                              << "01.01.2004 00:00:01";
    QTest::newRow("afternoon, UTC as stored") << DateTimeOf(2003, 11, 9, 17, 5, 9, 999) << "11/9/2003 5:05:09 PM"
                                              << "09.11.2003 17:05:09";
    QTest::newRow("noon before 1899") << -109204.5 << "1/1/1601 12:00:00 PM" << "01.01.1601 12:00:00";
  }
  void received() {
    QFETCH(double, value);
    QTEST(S(ReceivedText(value, UsFormat())), "us");
    QTEST(S(ReceivedText(value, LocaleFormatOf(QLocale(QLocale::German, QLocale::Germany)))), "german");
  }

  void timeFormatWithoutZone_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("zone at the end") << "h:mm:ss AP t" << "h:mm:ss AP";
    QTest::newRow("long zone names") << "HH:mm:ss tttt" << "HH:mm:ss";
    QTest::newRow("zone in front") << "t HH:mm:ss" << "HH:mm:ss";
    QTest::newRow("milliseconds with their dot") << "HH:mm:ss.zzz" << "HH:mm:ss";
    QTest::newRow("both") << "HH:mm:ss,zzz t" << "HH:mm:ss";
    QTest::newRow("quoted letters stay") << "H 'h' mm 'z t' ss t" << "H 'h' mm 'z t' ss";
    QTest::newRow("nothing to drop") << "HH:mm:ss" << "HH:mm:ss";
  }
  void timeFormatWithoutZone() {
    QFETCH(QString, format);
    QTEST(S(TimeFormatWithoutZone(format.toStdString())), "stripped");
  }

  // Whatever the desktop's language, the time format keeps no zone or milliseconds.
  void everyLocaleDropsZone() {
    const auto locales = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 100);
    for (const QLocale& locale : locales) {
      const QString format = S(LocaleFormatOf(locale).LongTime);
      const QString text = locale.toString(QTime(13, 4, 5, 678), format);
      QVERIFY2(!text.contains(QStringLiteral("678")), qPrintable(locale.name() + ": " + text));
      QVERIFY2(!text.contains(QStringLiteral("UTC")) && !text.contains(QStringLiteral("GMT")),
               qPrintable(locale.name() + ": " + text));
      QVERIFY2(text.contains(QStringLiteral("05")) || text.contains(locale.toString(5)),
               qPrintable(locale.name() + ": " + text));
    }
  }

  // The list's own formatting gives what Qt's formatting of the same formats gives, in every locale.
  void sameTextsAsQtInEveryLocale() {
    const auto locales = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    const double values[] = {0.0, DateTimeOf(2004, 1, 1), DateTimeOf(2003, 11, 9, 17, 5, 9),
                             DateTimeOf(1999, 7, 4, 0, 30, 0), DateTimeOf(2010, 12, 31, 12, 0, 59),
                             DateTimeOf(9999, 2, 28, 23, 59, 59), DateTimeOf(1601, 1, 1, 1, 2, 3)};
    for (const QLocale& locale : locales) {
      const TLocaleFormat format = LocaleFormatOf(locale);
      for (const double value : values) {
        const TDateTimeFields f = DecodeDateTime(value);
        QString expected = locale.toString(QDate(f.Year, f.Month, f.Day), S(format.ShortDate));
        if (f.Hour || f.Minute || f.Second)
          expected += " " + locale.toString(QTime(f.Hour, f.Minute, f.Second), S(format.LongTime));
        QCOMPARE(S(ReceivedText(value, format)), expected);
      }
    }
    // Formats no locale has, with every field and quoting.
    TLocaleFormat format = UsFormat();
    const QString date = "dddd, d. MMMM yyyy 'yy''s' (ddd dd MMM M yyy y)";
    const QString time = "hh h HH H mm m ss s AP ap Ap aP A a 'h' ''";
    format.Date = TCompiledFormat::Compile(date.toStdString(), true);
    format.Time = TCompiledFormat::Compile(time.toStdString(), false);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    for (const double value : values) {
      const TDateTimeFields f = DecodeDateTime(value);
      QString expected = us.toString(QDate(f.Year, f.Month, f.Day), date);
      if (f.Hour || f.Minute || f.Second) expected += " " + us.toString(QTime(f.Hour, f.Minute, f.Second), time);
      QCOMPARE(S(ReceivedText(value, format)), expected);
    }
  }

  void size_data() {
    QTest::addColumn<quint32>("size");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0u << "," << "0";
    QTest::newRow("999") << 999u << "," << "999";
    QTest::newRow("1000") << 1000u << "," << "1,000";
    QTest::newRow("never negative") << 4294967295u << "," << "4,294,967,295";
    QTest::newRow("2^31") << 2147483648u << "," << "2,147,483,648";
    QTest::newRow("dot separator") << 1234567u << "." << "1.234.567";
    QTest::newRow("narrow no-break space") << 100000u << QString(QChar(0x202F)) << QString("100" + QString(QChar(0x202F)) + "000");
  }
  void size() {
    QFETCH(quint32, size);
    QFETCH(QString, separator);
    TLocaleFormat format = UsFormat();
    format.GroupSeparator = separator.toStdString();
    QTEST(S(SizeText(size, format)), "text");
    TMessageRecord record = Record();
    record.Size = size;
    QTEST(S(MakeMessageRow(0, record, format).SubItems[7]), "text");
  }

  void localeSeparatorIsUsed() {
    QCOMPARE(S(SizeText(4294967295u, UsFormat())), QStringLiteral("4,294,967,295"));
    QCOMPARE(S(SizeText(1000u, LocaleFormatOf(QLocale(QLocale::German, QLocale::Germany)))),
             QStringLiteral("1.000"));
  }
};

QTEST_GUILESS_MAIN(RowTextsTest)
#include "RowTextsTest.moc"
