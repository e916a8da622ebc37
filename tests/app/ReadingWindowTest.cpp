// The reading window: opened from the menu and by Enter, Previous and Next
// through the list, saving attachments, Escape.
#include "AppTestSupport.h"

#include "ReadView.h"

#include <QAction>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QTreeWidget>

#include <filesystem>

using namespace postvue;
using namespace postvue::testing;

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }

const char* const kWithFiles =
    "From: ana@example.pt\r\n"
    "Subject: =?utf-8?Q?Relat=C3=B3rio?=\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "\r\n"
    "Segue o relatório.\r\n"
    "--b\r\n"
    "Content-Type: application/pdf; name=\"relatório.pdf\"\r\n"
    "\r\n"
    "%PDF-1.4\r\n"
    "--b\r\n"
    "Content-Type: text/plain; name=\"notes.txt\"\r\n"
    "Content-Disposition: attachment\r\n"
    "\r\n"
    "notes\r\n"
    "--b--\r\n";

std::string WriteStore(const TTempDir& dir) {
  return WriteDbx(dir / "Inbox.dbx", {Message("first", "Subject: first\r\n\r\nfirst text\r\n"),
                                      Message("files", kWithFiles),
                                      Message("last", "Subject: last\r\n\r\nlast text\r\n")});
}

struct TSeen {
  QStringList Titles;
  QString Subject, Text;
};
} // namespace

class ReadingWindowTest : public QObject {
  Q_OBJECT

private slots:
  void init() { SetApplicationTitle(QStringLiteral("Postvue")); }

  void menuOrEnterReadsTheRow_data() {
    QTest::addColumn<bool>("enter");
    QTest::newRow("Read message...") << false;
    QTest::newRow("Enter") << true;
  }
  void menuOrEnterReadsTheRow() {
    QFETCH(bool, enter);
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Open(WriteStore(dir));
    window.SelectRow(1);
    TSeen seen;
    QPointer<Twnd_oe_Read> read;
    TModalWatcher<Twnd_oe_Read> watcher([&](Twnd_oe_Read* view) {
      read = view;
      seen.Titles << view->windowTitle();
      seen.Subject = view->HeaderValues[4]->text();
      seen.Text = view->Text->toPlainText();
      QVERIFY(!view->Attachments->isHidden());
      QCOMPARE(view->Attachments->topLevelItemCount(), 2);
      QVERIFY(!view->Text->accessibleName().isEmpty());
      QTest::keyClick(view->Text, Qt::Key_Escape);
    });
    if (enter)
      QTest::keyClick(window.List, Qt::Key_Return);
    else
      QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier);
    QVERIFY(watcher.Seen());
    QVERIFY(read.isNull()); // Escape closed it, and it is gone
    QCOMPARE(seen.Titles, QStringList{QStringLiteral("Relatório")});
    QCOMPARE(seen.Subject, QStringLiteral("Relatório"));
    QCOMPARE(seen.Text, QStringLiteral("Segue o relatório.\n"));
    QVERIFY(window.Boxes.empty());
  }

  // Previous and Next go along the list's rows, which follow, and stop at its ends.
  void previousAndNext() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteStore(dir));
    window.SelectRow(1);
    QStringList titles;
    bool firstHasNoPrevious = false;
    int selectedAtLast = -1;
    TModalWatcher<Twnd_oe_Read> watcher([&](Twnd_oe_Read* view) {
      titles << view->windowTitle();
      view->activateWindow(); // shortcuts go to the active window
      QVERIFY(QTest::qWaitForWindowActive(view));
      QTest::keyClick(view, Qt::Key_Right, Qt::AltModifier);
      titles << view->windowTitle();
      selectedAtLast = window.List->currentIndex().row();
      view->NextButton->click(); // at the end: nothing happens
      QTest::keyClick(view, Qt::Key_Comma, Qt::ControlModifier);
      QTest::keyClick(view, Qt::Key_Comma, Qt::ControlModifier);
      titles << view->windowTitle();
      firstHasNoPrevious = !view->PreviousButton->isEnabled();
      view->CloseButton->click();
    });
    window.mmRead->trigger();
    QVERIFY(watcher.Seen());
    QCOMPARE(titles, (QStringList{QStringLiteral("Relatório"), "last", "first"}));
    QCOMPARE(selectedAtLast, 2);
    QVERIFY(firstHasNoPrevious);
    QCOMPARE(window.List->currentIndex().row(), 0);
  }

  // What Qt's image readers can read is shown in the text; what they cannot
  // read is only listed.
  void picturesShowWhatQtCanRead() {
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(picture.save(&buffer, "PNG"));
    const std::string text = "Subject: pictures\r\nContent-Type: multipart/mixed; boundary=\"p\"\r\n\r\n"
                             "--p\r\nContent-Type: text/plain\r\n\r\nTwo pictures.\r\n"
                             "--p\r\nContent-Type: image/png; name=\"green.png\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                             png.toBase64().toStdString() +
                             "\r\n--p\r\nContent-Type: image/png; name=\"broken.png\"\r\n\r\nnot a picture\r\n--p--\r\n";
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteDbx(dir / "Inbox.dbx", {Message("pictures", text)}));
    window.SelectRow(0);
    int pictures = -1, listed = -1;
    TModalWatcher<Twnd_oe_Read> watcher([&](Twnd_oe_Read* view) {
      QTRY_COMPARE(view->PictureCount(), 1); // decoded after the text's first paint
      pictures = view->PictureCount();
      listed = view->Attachments->topLevelItemCount();
      view->close();
    });
    window.mmRead->trigger();
    QVERIFY(watcher.Seen());
    QCOMPARE(pictures, 1);
    QCOMPARE(listed, 2);
  }

  void savesOneOrAllAttachments() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteStore(dir));
    window.SelectRow(1);
    std::filesystem::create_directory(dir / "out");
    window.AttachmentAnswers = {Q(dir / "chosen.pdf")};
    window.FolderAnswers = {Q(dir / "out")};
    TModalWatcher<Twnd_oe_Read> watcher([&](Twnd_oe_Read* view) {
      view->SaveAttachmentButton->click();
      // Enter on an attachment saves it too: the dialog is cancelled this time.
      view->Attachments->setCurrentItem(view->Attachments->topLevelItem(1));
      QTest::keyClick(view->Attachments, Qt::Key_Return);
      view->SaveAllButton->click();
      view->close();
    });
    window.mmRead->trigger();
    QVERIFY(watcher.Seen());
    QCOMPARE(window.OfferedNames, (QStringList{QStringLiteral("relatório.pdf"), "notes.txt"}));
    QCOMPARE(ReadFileBytes(dir / "chosen.pdf"), std::string("%PDF-1.4"));
    QCOMPARE(ReadFileBytes(dir / "out/relatório.pdf"), std::string("%PDF-1.4"));
    QCOMPARE(ReadFileBytes(dir / "out/notes.txt"), std::string("notes"));
    QCOMPARE(window.Reports, QStringList{"2 attachments saved."});
    QVERIFY(window.Boxes.empty());
  }
};

QTEST_MAIN(ReadingWindowTest)
#include "ReadingWindowTest.moc"
