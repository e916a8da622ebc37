// The installed desktop files: the shared-mime-info entry recognises both store
// kinds by their first bytes, whatever their names, and the .desktop entry opens them.
#include "StoreWriter.h"

#include <QMimeDatabase>
#include <QProcess>
#include <QFile>
#include <QMap>
#include <QStandardPaths>
#include <QTest>

#include <filesystem>

using namespace postvue::testing;

class DesktopIntegrationTest : public QObject {
  Q_OBJECT
private:
  TTempDir Data;
  bool MimeReady = false;

private slots:
  void initTestCase() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (tool.isEmpty()) return;
    const std::string packages = Data / "mime/packages";
    std::filesystem::create_directories(packages);
    std::filesystem::copy_file(POSTVUE_APP_SOURCE_DIR "/postvue-mime.xml", packages + "/postvue.xml");
    QCOMPARE(QProcess::execute(tool, {QString::fromStdString(Data / "mime")}), 0);
    // Read before the first QMimeDatabase is made.
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(Data.Path()));
    MimeReady = true;
  }

  void storesRecognisedByContent_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");
    const std::string dbx = MakeDbx({}).Str();
    const std::string mbx = MakeMbx({}).Str();
    QTest::newRow("dbx") << QByteArray::fromStdString(dbx) << "application/x-postvue-dbx";
    QTest::newRow("mbx") << QByteArray::fromStdString(mbx) << "application/x-postvue-mbx";
    QTest::newRow("reversed dbx magic") << QByteArray("\xFE\x12\xAD\xCF") + QByteArray(60, 'x') << "";
    QTest::newRow("JMF5") << QByteArray("JMF5") + QByteArray(60, 'x') << "";
  }
  void storesRecognisedByContent() {
    if (!MimeReady) QSKIP("update-mime-database is not installed");
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    const QString name = QMimeDatabase().mimeTypeForData(bytes).name();
    if (type.isEmpty())
      QVERIFY2(!name.startsWith(QStringLiteral("application/x-postvue")), qPrintable(name));
    else
      QCOMPARE(name, type);
  }

  void storesRecognisedByName() {
    if (!MimeReady) QSKIP("update-mime-database is not installed");
    QMimeDatabase mime;
    QCOMPARE(mime.mimeTypeForFile(QStringLiteral("Inbox.dbx"), QMimeDatabase::MatchExtension).name(),
             QStringLiteral("application/x-postvue-dbx"));
    QCOMPARE(mime.mimeTypeForFile(QStringLiteral("Inbox.mbx"), QMimeDatabase::MatchExtension).name(),
             QStringLiteral("application/x-postvue-mbx"));
  }

  void desktopEntryOpensBoth() {
    QFile file(QStringLiteral(POSTVUE_APP_SOURCE_DIR "/postvue.desktop"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> entry;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
    for (const QString& line : lines) {
      const qsizetype equals = line.indexOf('=');
      if (equals > 0) entry.insert(line.left(equals), line.mid(equals + 1));
    }
    QCOMPARE(entry.value("Type"), QStringLiteral("Application"));
    QCOMPARE(entry.value("Exec"), QStringLiteral("postvue %f"));
    QCOMPARE(entry.value("Icon"), QStringLiteral("postvue"));
    const QStringList types = entry.value("MimeType").split(';', Qt::SkipEmptyParts);
    QCOMPARE(types, (QStringList{"application/x-postvue-dbx", "application/x-postvue-mbx"}));
  }
};

QTEST_GUILESS_MAIN(DesktopIntegrationTest)
#include "DesktopIntegrationTest.moc"
