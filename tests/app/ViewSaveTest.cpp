// View and Save: the message data window and saving a message to a file.
#include "AppTestSupport.h"

#include "MessageListModel.h"
#include "View.h"

#include <QAction>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>

#include <filesystem>

using namespace postvue;
using namespace postvue::testing;

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }

// Three messages; the middle one carries the text under test.
std::string WriteStore(const TTempDir& dir, const std::string& text) {
  return WriteDbx(dir / "Inbox.dbx",
                  {Message("first", "first text\r\n"), Message("middle", text), Message("last", "last text\r\n")});
}

struct TViewSeen {
  QString Title, Text;
  QSize Size, Client;
  QPoint Centre;
  QRect Memo, Button;
  QRect MemoResized, ButtonResized;
  QWidget* Owner = nullptr;
  bool MemoHasFocus = false;
  bool FixedPitch = false;
  bool ReadOnly = false;
  bool NoWrap = false;
  bool BothScrollBars = false;
  bool DefaultButton = false;
  Qt::CursorShape ButtonCursor = Qt::ArrowCursor;
  QFont ButtonFont;
  QPointer<Twnd_oe_View> Window;
};

// Records the data window and ends it by its Close button.
void Record(TViewSeen& seen, Twnd_oe_View* view) {
  seen.Window = view;
  seen.Title = view->windowTitle();
  seen.Text = view->Memo->toPlainText();
  seen.Size = view->frameGeometry().size();
  seen.Client = view->size();
  seen.Centre = view->frameGeometry().center();
  seen.Memo = view->Memo->geometry();
  seen.Button = view->Button1->geometry();
  seen.Owner = view->parentWidget();
  seen.MemoHasFocus = view->focusWidget() == view->Memo;
  const QFontMetrics metrics(view->Memo->font());
  seen.FixedPitch = metrics.horizontalAdvance(QStringLiteral("iiii")) == metrics.horizontalAdvance(QStringLiteral("WWWW"));
  seen.ReadOnly = view->Memo->isReadOnly();
  seen.NoWrap = view->Memo->lineWrapMode() == QPlainTextEdit::NoWrap;
  seen.BothScrollBars = view->Memo->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn &&
                        view->Memo->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn;
  seen.DefaultButton = view->Button1->isDefault();
  seen.ButtonCursor = view->Button1->cursor().shape();
  seen.ButtonFont = view->Button1->font();
  view->resize(800, 600);
  seen.MemoResized = view->Memo->geometry();
  seen.ButtonResized = view->Button1->geometry();
  view->Button1->click();
}
} // namespace

class ViewSaveTest : public QObject {
  Q_OBJECT
private slots:
  void doNothingWithoutSelection_data() {
    QTest::addColumn<bool>("loaded");
    QTest::newRow("no store") << false;
    QTest::newRow("store, no row selected") << true;
  }
  void doNothingWithoutSelection() {
    QFETCH(bool, loaded);
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.show();
    if (loaded) window.Open(WriteStore(dir, "text\r\n"));
    window.SelectRow(-1);
    const QString panel = window.PanelText(0);
    TModalWatcher<Twnd_oe_View> watcher([](Twnd_oe_View* view) { view->close(); });
    window.SaveAnswers = {Q(dir / "out.eml")};
    window.mmView->trigger();
    window.mmSave->trigger();
    QVERIFY(!watcher.Seen());
    QCOMPARE(window.SaveDialogRuns, 0);
    QVERIFY(!std::filesystem::exists(dir / "out.eml"));
    QVERIFY(window.Boxes.empty());
    QCOMPARE(window.PanelText(0), panel);
  }

  // Every line break becomes CR LF, and the last line gets one too.
  void savedBytes_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("CR LF kept") << QByteArray("A: 1\r\n\r\nbody\r\n") << QByteArray("A: 1\r\n\r\nbody\r\n");
    QTest::newRow("LF alone") << QByteArray("A: 1\n\nbody\n") << QByteArray("A: 1\r\n\r\nbody\r\n");
    QTest::newRow("CR alone") << QByteArray("A: 1\rbody\r") << QByteArray("A: 1\r\nbody\r\n");
    QTest::newRow("no break at the end") << QByteArray("A: 1\r\nbody") << QByteArray("A: 1\r\nbody\r\n");
    QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("NUL ends the text") << QByteArray("a\r\nb\0c\r\n", 8) << QByteArray("a\r\nb\r\n");
    QTest::newRow("8-bit bytes as they are") << QByteArray("\x80\xe9\xff") << QByteArray("\x80\xe9\xff\r\n");
  }
  void savedBytes() {
    QFETCH(QByteArray, text);
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Open(WriteStore(dir, text.toStdString()));
    window.SelectRow(1);
    const std::string out = dir / "message.eml";
    window.SaveAnswers = {Q(out)};
    const QString pathPanel = window.PanelText(1);
    TPaintRecorder panel(window.sbPanels[0], [&] { return window.PanelText(0); });
    window.mmSave->trigger();
    QCOMPARE(panel.Painted.value(0), QStringLiteral("Saving...")); // painted at once, before the work
    QVERIFY2(window.Boxes.empty(), qPrintable(window.BoxTexts().join('|')));
    QCOMPARE(window.SaveDialogRuns, 1);
    QTEST(QByteArray::fromStdString(ReadFileBytes(out)), "saved");
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));
    QCOMPARE(window.PanelText(1), pathPanel);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2); // no temporary left
  }

  void cancelledSaveChangesNothing() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteStore(dir, "text"));
    window.SelectRow(1);
    window.mmSave->trigger(); // no answer: cancelled
    QCOMPARE(window.SaveDialogRuns, 1);
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));
    QVERIFY(window.Boxes.empty());
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
  }

  void failedSave_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("textFails");
    QTest::newRow("no text, file existed") << "old.eml" << true;
    QTest::newRow("no text, no file") << "new.eml" << true;
    QTest::newRow("folder missing") << "none/new.eml" << false;
    QTest::newRow("target is a folder") << "folder" << false;
  }
  // A failed Save shows its box, leaves the chosen file as it was and still counts in panel 0.
  void failedSave() {
    QFETCH(QString, target);
    QFETCH(bool, textFails);
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteStore(dir, textFails ? "" : "text\r\n"));
    WriteFileBytes(dir / "old.eml", "former contents");
    std::filesystem::create_directory(dir / "folder");
    const std::string out = dir / target.toStdString();
    const bool existed = std::filesystem::exists(out);
    window.SelectRow(1);
    window.SaveAnswers = {Q(out)};
    window.mmSave->trigger();
    QCOMPARE(window.BoxTexts(), QStringList{textFails ? QStringLiteral("No text found.") : Q("Cannot create file " + out + ".")});
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(std::filesystem::exists(out), existed);
    if (target == "old.eml") QCOMPARE(ReadFileBytes(out), std::string("former contents"));
  }

  // The selected row's message, split into lines, in the modal data window.
  void viewShowsTheMessage() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.show();
    window.Open(WriteStore(dir, std::string("Subject: m\r\nTo: \x93you\x94\n\nline\rlast\r\n\0hidden", 41)));
    window.SelectRow(1);
    TViewSeen seen;
    TModalWatcher<Twnd_oe_View> watcher([&](Twnd_oe_View* view) { Record(seen, view); });
    window.mmView->trigger();
    QVERIFY(watcher.Seen());
    QVERIFY(window.Boxes.empty());
    QCOMPARE(seen.Title, QStringLiteral("Message Data"));
    QCOMPARE(seen.Text, QString::fromUtf8("Subject: m\nTo: \u201cyou\u201d\n\nline\nlast"));
    QCOMPARE(seen.Owner, &window);
    const auto px = [&window](int pixels) { return window.Scaled(pixels); };
    QCOMPARE(seen.Size, QSize(px(kViewWidth), px(kViewHeight)));
    QVERIFY((seen.Centre - window.frameGeometry().center()).manhattanLength() <= 4); // odd sizes halve with rounding
    QVERIFY(seen.MemoHasFocus);
    QVERIFY(seen.FixedPitch);
    QVERIFY(seen.ReadOnly);
    QVERIFY(seen.NoWrap);
    QVERIFY(seen.BothScrollBars);
    QVERIFY(seen.DefaultButton);
    QCOMPARE(seen.ButtonCursor, Qt::PointingHandCursor);
    // Margins 15 left, 14 top, 15 right, 44 bottom; the button 75 x 25, 12 from the right, 9 from the bottom.
    const int w = seen.Client.width(), h = seen.Client.height(); // the outer size less the frame
    // (Every pixel size grown as the main window's are.)
    const auto memo = [&](int width, int height) {
      return QRect(px(15), px(14), width - px(15) - px(15), height - px(14) - px(44));
    };
    const auto button = [&](int width, int height) {
      return QRect(width - px(12) - px(75), height - px(9) - px(25), px(75), px(25));
    };
    QCOMPARE(seen.Memo, memo(w, h));
    QCOMPARE(seen.Button, button(w, h));
    QCOMPARE(seen.MemoResized, memo(800, 600));
    QCOMPARE(seen.ButtonResized, button(800, 600));
    QCOMPARE(seen.ButtonFont, window.font()); // the window's font, not another
    QVERIFY(seen.Window.isNull()); // destroyed when it closed
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));
  }

  void waysToCloseTheView_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Close button") << "button";
    QTest::newRow("close box") << "close box";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("Enter") << "enter";
  }
  void waysToCloseTheView() {
    QFETCH(QString, how);
    QPointer<Twnd_oe_View> seen;
    TModalWatcher<Twnd_oe_View> watcher([&](Twnd_oe_View* view) {
      seen = view;
      if (how == "button")
        QTest::mouseClick(view->Button1, Qt::LeftButton);
      else if (how == "close box")
        view->close();
      else
        QTest::keyClick(view->Memo, how == "escape" ? Qt::Key_Escape : Qt::Key_Return);
    });
    TTestWindow window(QStringList{"postvue"});
    ShowMessageData("some text");
    QVERIFY(watcher.Seen());
    QVERIFY(seen.isNull());
  }

  // A double click views the row's data; Enter reads it (ReadWindowTest).
  void doubleClickViewsTheRow() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Open(WriteStore(dir, "middle text"));
    QString text;
    TModalWatcher<Twnd_oe_View> watcher([&](Twnd_oe_View* view) {
      text = view->Memo->toPlainText();
      view->close();
    });
    const QPoint at = window.List->visualRect(window.List->model()->index(2, 6)).center();
    QTest::mouseClick(window.List->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(window.List->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(watcher.Seen());
    QCOMPARE(text, QStringLiteral("last text"));
  }

  // Another program cuts the store while it is shown: its last message can no
  // longer be read, the others can, and the window goes on working.
  void storeCutAfterLoading() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    const std::string store = WriteStore(dir, "middle text\r\n");
    window.Open(store);
    const std::string bytes = ReadFileBytes(store);
    std::filesystem::resize_file(store, bytes.find("last text") + 4);
    WriteFileBytes(dir / "kept.eml", "former contents");

    window.SelectRow(2);
    {
      TModalWatcher<Twnd_oe_View> watcher([](Twnd_oe_View* view) { view->close(); });
      window.mmView->trigger();
      QVERIFY(!watcher.Seen());
    }
    window.SaveAnswers = {Q(dir / "kept.eml")};
    window.mmSave->trigger();
    QCOMPARE(window.BoxTexts(), (QStringList{"Stream read error.", "Stream read error."}));
    QCOMPARE(ReadFileBytes(dir / "kept.eml"), std::string("former contents"));
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));

    QString text;
    TModalWatcher<Twnd_oe_View> reader([&text](Twnd_oe_View* view) {
      text = view->Memo->toPlainText();
      view->close();
    });
    window.SelectRow(1);
    window.mmView->trigger();
    QVERIFY(reader.Seen());
    QCOMPARE(text, QStringLiteral("middle text"));
  }

  void failedViewOpensNoWindow() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteStore(dir, ""));
    window.SelectRow(1);
    TModalWatcher<Twnd_oe_View> watcher([](Twnd_oe_View* view) { view->close(); });
    window.mmView->trigger();
    QVERIFY(!watcher.Seen());
    QCOMPARE(window.BoxTexts(), QStringList{"No text found."});
    QCOMPARE(window.List->model()->rowCount(), 3);
  }
};

QTEST_MAIN(ViewSaveTest)
#include "ViewSaveTest.moc"
