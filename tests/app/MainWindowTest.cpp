// The main window: its layout, loading stores, and the error box.
#include "AppTestSupport.h"

#include "DbxReader.h"
#include "Exceptions.h"
#include "MailbaseReader.h"
#include "MbxReader.h"
#include "MessageListModel.h"
#include "QtRowTexts.h"

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTreeView>

using namespace postvue;
using namespace postvue::testing;

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }

// What a failing open of path by reader says, as the error box shows it.
template <class TReader> QString ReaderFailure(const std::string& path) {
  TReader reader;
  try {
    reader.SetFileName(path);
    reader.Load();
  } catch (const Exception& e) {
    return Q(ErrorBoxText(e.message()));
  }
  return {};
}

std::vector<TTestMessage> ThreeMessages() {
  std::vector<TTestMessage> messages = {Message("one", "text one\r\n", 0x80), Message("two", "text two\r\n", 0x0),
                                        Message("three", "text three\r\n", 0x4080)};
  messages[1].SenderName.clear();
  messages[1].SenderAddress = "two@example.org";
  messages[1].Priority = 1;
  messages[2].Received = FileTimeOf(2004, 1, 1, 12);
  return messages;
}

// A store whose header the reader accepts and whose index it then rejects.
std::string WriteBrokenDbx(const std::string& path) {
  TDbxImage image = MakeDbx({Message("a", "x"), Message("b", "y")}, TDbxOptions{"Broken", 51, 512});
  image.SetIndexRoot(image.GetU32(0xE4) + 4);
  image.WriteFile(path);
  return path;
}
} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT
private slots:
  void init() { SetApplicationTitle(QStringLiteral("Postvue")); }

  void startsEmpty() {
    TTestWindow window(QStringList{"postvue"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    QCOMPARE(window.windowTitle(), QStringLiteral("Postvue"));
    QCOMPARE(window.PanelText(0), QString());
    QCOMPARE(window.PanelText(1), QString());
    QCOMPARE(window.List->model()->rowCount(), 0);
    QVERIFY(window.CurrentReader() == nullptr);
    QVERIFY(window.Boxes.empty());
    QCOMPARE(window.frameGeometry().size(), QSize(window.Scaled(kMainWidth), window.Scaled(kMainHeight)));
    const QRect screen = window.screen()->availableGeometry();
    QVERIFY((window.frameGeometry().center() - screen.center()).manhattanLength() <= 2);
  }

  void menuAndControls() {
    TTestWindow window(QStringList{"postvue"});
    const auto menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus[0]->menu(), window.File1);
    QCOMPARE(window.File1->title(), QStringLiteral("&File")); // shown as "File"; Alt+F opens it
    QStringList items;
    for (const QAction* action : window.File1->actions())
      items << (action->isSeparator() ? QStringLiteral("-") : action->text() + "|" + action->shortcut().toString());
    QCOMPARE(items, (QStringList{"Open...|Ctrl+O", "-", "Save...|Ctrl+S", "-", "Read message...|Ctrl+R",
                                 "View message data...|", "-", "Find...|Ctrl+F", "-", "Exit|"}));

    QTreeView* list = window.List;
    QVERIFY(list->uniformRowHeights());
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());
    QVERIFY(list->header()->sectionsClickable()); // the window sorts, not the view
    QVERIFY(window.FindBar->isHidden());
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(list->palette().color(QPalette::Inactive, QPalette::Highlight),
             list->palette().color(QPalette::Active, QPalette::Highlight));
    const int widths[9] = {1, 35, 25, 25, 25, 150, 270, 120, 75};
    // Column 0 stays at 1 pixel; the others grow with the font and the screen,
    // and hold their widest usual text in bold.
    QCOMPARE(list->header()->sectionSize(0), 1);
    QFont bold = window.font();
    bold.setBold(true);
    const TLocaleFormat format = LocaleFormatOf(QLocale::system());
    for (int column = 1; column < 9; ++column) {
      const auto samples = ColumnSamples(column, format);
      if (samples.empty()) QCOMPARE(list->header()->sectionSize(column), window.Scaled(widths[column]));
      QVERIFY(list->header()->sectionSize(column) >= widths[column]);
      for (const auto& sample : samples)
        QVERIFY2(list->header()->sectionSize(column) > QFontMetrics(bold).horizontalAdvance(Q(sample)), sample.c_str());
    }
    for (int column = 0; column < 9; ++column)
      QCOMPARE(list->header()->sectionResizeMode(column), QHeaderView::Interactive);
    // Column 0 cannot be widened; the others can.
    list->header()->resizeSection(0, 40);
    QCOMPARE(list->header()->sectionSize(0), 1);
    list->header()->resizeSection(6, 600);
    QCOMPARE(list->header()->sectionSize(6), 600);

    QCOMPARE(window.od->nameFilters(), (QStringList{"Outlook databases (*.dbx *.mbx)", "All files (*)"}));
    QCOMPARE(window.od->defaultSuffix(), QStringLiteral("dbx"));
    QCOMPARE(window.od->fileMode(), QFileDialog::ExistingFile);
    QVERIFY(window.od->isSizeGripEnabled());
    QCOMPARE(window.sd->nameFilters(), (QStringList{"E-Mail files (*.eml)", "All files (*)"}));
    QCOMPARE(window.sd->defaultSuffix(), QStringLiteral("eml"));
    QCOMPARE(window.sd->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(!window.sd->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(window.sbPanels[0]->width(), window.Scaled(100));
  }

  void successfulLoad() {
    TTempDir dir;
    const std::string path = WriteDbx(dir / "Inbox.dbx", ThreeMessages(), "Inbox \x80");
    TTestWindow window(QStringList{"postvue"});
    window.Open(path);
    QVERIFY(window.Boxes.empty());
    const QString caption = QString::fromUtf8("Postvue - [Inbox \u20ac]");
    QCOMPARE(window.windowTitle(), caption);
    QCOMPARE(ApplicationTitle(), caption);
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));
    QCOMPARE(window.PanelText(1), Q(path));
    QVERIFY(QApplication::overrideCursor() == nullptr);

    const QAbstractItemModel* model = window.List->model();
    QCOMPARE(model->rowCount(), 3);
    QStringList numbers, senders, subjects, priorities, attachments;
    for (int row = 0; row < 3; ++row) {
      numbers << model->index(row, 1).data().toString();
      attachments << model->index(row, 2).data().toString();
      priorities << model->index(row, 3).data().toString();
      senders << model->index(row, 5).data().toString();
      subjects << model->index(row, 6).data().toString();
      QCOMPARE(model->index(row, 0).data().toString(), QString());
    }
    QCOMPARE(numbers, (QStringList{"0", "1", "2"}));
    QCOMPARE(attachments, (QStringList{"", "", "Yes"}));
    QCOMPARE(priorities, (QStringList{"", "High", ""}));
    QCOMPARE(senders, (QStringList{"Sender of one", "two@example.org", "Sender of three"}));
    QCOMPARE(subjects, (QStringList{"one", "two", "three"}));
    const TLocaleFormat format = LocaleFormatOf(QLocale::system());
    QCOMPARE(model->index(2, 7).data().toString(), Q(ReceivedText(37987.5, format)));
    QCOMPARE(model->index(0, 7).data().toString(), Q(ReceivedText(0.0, format)));
  }

  // "Loading..." and the emptied list are painted at once, under the wait cursor, before the store is read.
  void loadingIsShownBeforeTheWork() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Open(WriteDbx(dir / "first.dbx", ThreeMessages()));
    TPaintRecorder panel(window.sbPanels[0], [&] {
      const QCursor* cursor = QApplication::overrideCursor();
      return window.PanelText(0) + QStringLiteral(" rows=%1 cursor=%2")
                                       .arg(window.List->model()->rowCount())
                                       .arg(cursor ? int(cursor->shape()) : -1);
    });
    window.Open(WriteDbx(dir / "second.dbx", {Message("only", "text")}));
    QCOMPARE(panel.Painted.value(0), QStringLiteral("Loading... rows=0 cursor=%1").arg(int(Qt::WaitCursor)));
    QCOMPARE(window.List->model()->rowCount(), 1);
  }

  void mbxLoad() {
    TTempDir dir;
    const std::string path = dir / "Sent Items.mbx";
    MakeMbx({{"Subject: a\r\nFrom: x\r\n\r\nbody", 1}, {"Subject: b\r\n\r\n", 2}}).WriteFile(path);
    TTestWindow window(QStringList{"postvue"});
    window.Open(path);
    QVERIFY2(window.Boxes.empty(), qPrintable(window.BoxTexts().join('|')));
    QCOMPARE(window.windowTitle(), QStringLiteral("Postvue - [Sent Items]"));
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 2"));
    QCOMPARE(window.List->model()->rowCount(), 2);
    QCOMPARE(window.List->model()->index(1, 6).data().toString(), QStringLiteral(" b")); // the blank after the colon stays
  }

  // Rows whose message lacks the read bit are bold in every column, through the list's draw hooks.
  void unreadRowsAreBold() {
    TTempDir dir;
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteDbx(dir / "a.dbx", ThreeMessages()));
    auto* delegate = dynamic_cast<TListDelegate*>(window.List->itemDelegate());
    QVERIFY(delegate);
    for (int row = 0; row < 3; ++row)
      for (int column = 0; column < 9; ++column) {
        QStyleOptionViewItem option;
        option.initFrom(window.List);
        delegate->initStyleOption(&option, window.List->model()->index(row, column));
        QCOMPARE(option.font.bold(), row == 1);
        QCOMPARE(option.font.family(), window.List->font().family());
      }
  }

  void failedLoads_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("3-byte file") << "short";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("unsupported format") << "unsupported";
    QTest::newRow("a folder") << "folder";
  }
  // No reader: the box, an empty list; caption, title and panels as before the load.
  void failedLoads() {
    QFETCH(QString, kind);
    TTempDir dir;
    std::string bad = dir / "bad.dbx";
    QString expected;
    if (kind == "missing") {
      expected = Q("Cannot open file " + bad + ".");
    } else if (kind == "short") {
      WriteFileBytes(bad, "\xCF\xAD\x12");
      expected = "Stream read error.";
    } else if (kind == "empty") {
      WriteFileBytes(bad, "");
      expected = "Stream read error.";
    } else if (kind == "unsupported") {
      WriteFileBytes(bad, "\xFE\x12\xAD\xCF and more");
      expected = "File is not in supported format.";
    } else {
      bad = dir.Path();
      expected = Q("Cannot open file " + bad + ".");
    }
    const std::string good = WriteDbx(dir / "good.dbx", ThreeMessages(), "Good");
    TTestWindow window(QStringList{"postvue"});
    window.show();
    window.Open(good);
    QCOMPARE(window.List->model()->rowCount(), 3);

    window.Open(bad);
    QCOMPARE(window.BoxTexts(), QStringList{expected});
    QCOMPARE(window.List->model()->rowCount(), 0); // the first store's rows are gone
    QVERIFY(window.CurrentReader() == nullptr);
    // Nothing of the first store is left to name: the window is back at its start state.
    QCOMPARE(window.Boxes[0].Title, QStringLiteral("Postvue"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Postvue"));
    QCOMPARE(ApplicationTitle(), QStringLiteral("Postvue"));
    QCOMPARE(window.PanelText(0), QString());
    QCOMPARE(window.PanelText(1), QString());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!window.Model->Updating());

    // The same failure as a first load leaves the start state.
    SetApplicationTitle(QStringLiteral("Postvue"));
    TTestWindow fresh(QStringList{"postvue"});
    fresh.Open(bad);
    QCOMPARE(fresh.BoxTexts(), QStringList{expected});
    QCOMPARE(fresh.Boxes[0].Title, QStringLiteral("Postvue"));
    QCOMPARE(fresh.windowTitle(), QStringLiteral("Postvue"));
    QCOMPARE(fresh.PanelText(0), QString());
    QCOMPARE(fresh.PanelText(1), QString());
  }

  void rejectedStores_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("count");
    QTest::newRow("dbx that declares no message") << "empty dbx" << "Postvue - []" << "Count: 0";
    QTest::newRow("dbx with a broken index") << "broken dbx" << "Postvue - [Broken]" << "Count: 2";
    QTest::newRow("dbx that is not a message database") << "kind" << "Postvue - []" << "Count: 1";
    QTest::newRow("mbx that declares no message") << "empty mbx" << "Postvue - [bad]" << "Count: 0";
  }
  // The reader that rejected its store stays current; the closing steps still report it.
  void rejectedStores() {
    QFETCH(QString, kind);
    TTempDir dir;
    std::string path;
    QString expected;
    if (kind == "empty dbx") {
      path = WriteDbx(dir / "bad.dbx", {}, "Named");
      expected = ReaderFailure<TDBXReader>(path);
    } else if (kind == "broken dbx") {
      path = WriteBrokenDbx(dir / "bad.dbx");
      expected = ReaderFailure<TDBXReader>(path);
    } else if (kind == "kind") {
      TDbxImage image = MakeDbx({Message("a", "x")}, TDbxOptions{"Named", 51, 512});
      image.SetKind(0x12345678);
      path = dir / "bad.dbx";
      image.WriteFile(path);
      expected = ReaderFailure<TDBXReader>(path);
    } else {
      path = dir / "bad.mbx";
      MakeMbx({}).WriteFile(path);
      expected = ReaderFailure<TMBXReader>(path);
    }
    QVERIFY(!expected.isEmpty());
    TTestWindow window(QStringList{"postvue"});
    window.Open(WriteDbx(dir / "good.dbx", ThreeMessages()));
    window.Open(path);
    QCOMPARE(window.BoxTexts(), QStringList{expected});
    QVERIFY(window.CurrentReader() != nullptr);
    QTEST(window.windowTitle(), "caption");
    QTEST(window.Boxes[0].Title, "caption"); // the title is set before the box shows
    QTEST(ApplicationTitle(), "caption");
    QTEST(window.PanelText(0), "count");
    QCOMPARE(window.PanelText(1), Q(path));
    QCOMPARE(window.List->model()->rowCount(), 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  // The full stop is added only after a character whose code is above that of ".".
  void errorBoxTextRule_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("ends in a letter: stop added") << "missing";
    QTest::newRow("ends in '-': no stop") << "missing-";
    QTest::newRow("ends in '.': no stop") << "missing.";
    QTest::newRow("ends in '/': stop added") << "missing/";
    QTest::newRow("ends in a digit: stop added") << "missing0";
  }
  void errorBoxTextRule() {
    QFETCH(QString, name);
    TTempDir dir;
    const std::string path = dir / name.toStdString();
    TTestWindow window(QStringList{"postvue"});
    window.Open(path);
    const QString message = Q("Cannot open file " + path);
    const QChar last = message.back();
    QCOMPARE(window.BoxTexts(), QStringList{last > u'.' ? message + "." : message});
  }

  // The real box: critical icon, the application title, the text, one OK button.
  void realErrorBox() {
    TTempDir dir;
    const std::string unsupported = dir / "x.dbx";
    WriteFileBytes(unsupported, "JMF5 not a store");
    TTestWindow window(QStringList{"postvue"});
    window.RealErrorBox = true;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    TModalWatcher<QMessageBox> watcher([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      box->button(QMessageBox::Ok)->click();
    });
    window.Open(unsupported);
    QVERIFY(watcher.Seen());
    QCOMPARE(title, QStringLiteral("Postvue"));
    QCOMPARE(text, QStringLiteral("File is not in supported format."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  void commandLine_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("box");
    QTest::newRow("no argument") << "<none>" << "Postvue" << "";
    QTest::newRow("a folder") << "<dir>" << "Postvue" << "";
    QTest::newRow("nothing there") << "<dir>/none.dbx" << "Postvue" << "";
    QTest::newRow("a store") << "<dir>/Inbox.dbx" << "Postvue - [Inbox]" << "";
    QTest::newRow("relative path, unchanged") << "Inbox.dbx" << "Postvue - [Inbox]" << "";
    QTest::newRow("not a store") << "<dir>/notes.txt" << "Postvue" << "File is not in supported format.";
  }
  // The first argument is loaded once the window shows; a failure shows the window, then the box.
  void commandLine() {
    QFETCH(QString, argument);
    TTempDir dir;
    WriteDbx(dir / "Inbox.dbx", ThreeMessages());
    WriteFileBytes(dir / "notes.txt", "just some text");
    const QString previous = QDir::currentPath();
    QDir::setCurrent(Q(dir.Path()));
    QStringList arguments{"postvue"};
    if (argument != "<none>") arguments << QString(argument).replace("<dir>", Q(dir.Path()));
    arguments << "ignored.dbx";
    TTestWindow window(arguments);
    QVERIFY(window.windowTitle() == "Postvue" && window.List->model()->rowCount() == 0); // nothing before the show
    window.show();
    QTRY_VERIFY(window.List->model()->rowCount() > 0 || !window.Boxes.empty() || argument.startsWith("<none>") ||
                argument == "<dir>" || argument.endsWith("none.dbx"));
    QTest::qWait(20);
    QDir::setCurrent(previous);
    QTEST(window.windowTitle(), "caption");
    QFETCH(QString, box);
    if (box.isEmpty()) {
      QVERIFY2(window.Boxes.empty(), qPrintable(window.BoxTexts().join('|')));
    } else {
      QCOMPARE(window.BoxTexts(), QStringList{box});
      QVERIFY(window.Boxes[0].WindowVisible);
    }
    if (window.CurrentReader()) QCOMPARE(window.PanelText(1), arguments[1]);
    // Showing again does not load again.
    window.hide();
    window.show();
    QTest::qWait(20);
    QVERIFY(window.Boxes.size() <= 1);
  }

  // Find as typed, the texts' search, and sorting by a header click: the
  // rows keep their numbers and the selected message stays selected.
  void findAndSort() {
    TTempDir dir;
    const std::vector<TTestMessage> messages = {
        Message("Meeting", "Subject: Meeting\r\n\r\nThe zanzibar plan.\r\n"),
        Message("Re: apples", "Subject: Re: apples\r\n\r\nRipe.\r\n"),
        Message("Budget", "Subject: Budget\r\n\r\nZanzibar costs.\r\n"),
        Message("Apples again", "Subject: Apples again\r\n\r\nGreen.\r\n")};
    const std::string path = WriteDbx(dir / "Inbox.dbx", messages);
    TTestWindow window(QStringList{"postvue"});
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.Open(path);
    const QAbstractItemModel* model = window.List->model();
    const auto numbers = [&] {
      QStringList shown;
      for (int row = 0; row < model->rowCount(); ++row) shown << model->index(row, 1).data().toString();
      return shown;
    };
    const auto selected = [&] { return window.List->selectionModel()->selectedRows(1).value(0).data().toString(); };
    window.SelectRow(3);

    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(window.FindBar->isVisible());
    QCOMPARE(QApplication::focusWidget(), window.FindEdit);
    QTest::keyClicks(window.FindEdit, "APPLE");
    QCOMPARE(numbers(), (QStringList{"1", "3"}));
    QCOMPARE(window.FindStatus->text(), QStringLiteral("Found: 2"));
    QCOMPARE(selected(), QStringLiteral("3"));
    QTest::keyClick(window.FindEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window.FindEdit, Qt::Key_Backspace);
    QCOMPARE(numbers(), (QStringList{"0", "1", "2", "3"}));
    QCOMPARE(selected(), QStringLiteral("3"));

    // Subject sorts without "Re:"; the second click reverses; "#" is store order.
    QHeaderView* header = window.List->header();
    const auto clickHeader = [&](int column) {
      const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    clickHeader(6);
    QCOMPARE(numbers(), (QStringList{"1", "3", "2", "0"}));
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), 6);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    QCOMPARE(selected(), QStringLiteral("3"));
    // The reading window's Previous and Next go along the sorted rows.
    QCOMPARE(window.NeighbourMessage(3, 1), 2);
    QCOMPARE(window.NeighbourMessage(1, -1), -1);
    clickHeader(6);
    QCOMPARE(numbers(), (QStringList{"0", "2", "3", "1"}));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    clickHeader(1);
    QCOMPARE(numbers(), (QStringList{"0", "1", "2", "3"}));
    QCOMPARE(header->sortIndicatorSection(), 1);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);

    // A word only in the bodies: the texts' search finds it, in the present sort.
    clickHeader(6);
    QTest::keyClicks(window.FindEdit, "zanzibar");
    QCOMPARE(numbers(), QStringList());
    QTest::keyClick(window.FindEdit, Qt::Key_Return);
    QTRY_COMPARE(window.FindStatus->text(), QStringLiteral("Found: 2"));
    QCOMPARE(numbers(), (QStringList{"2", "0"}));
    window.SelectRow(1);
    QCOMPARE(selected(), QStringLiteral("0")); // View, Read and Save take this message

    // Escape closes the bar: every row again, still sorted, the selection kept.
    QTest::keyClick(window.FindEdit, Qt::Key_Escape);
    QVERIFY(window.FindBar->isHidden());
    QCOMPARE(numbers(), (QStringList{"1", "3", "2", "0"}));
    QCOMPARE(selected(), QStringLiteral("0"));
    QVERIFY(window.Boxes.empty());
  }

  void cancelledOpenChangesNothing() {
    TTempDir dir;
    const std::string path = WriteDbx(dir / "Inbox.dbx", ThreeMessages());
    TTestWindow window(QStringList{"postvue"});
    window.Open(path);
    window.mmOpen->trigger(); // no answer: cancelled
    QCOMPARE(window.OpenDialogRuns, 2);
    QCOMPARE(window.List->model()->rowCount(), 3);
    QCOMPARE(window.PanelText(0), QStringLiteral("Count: 3"));
    QVERIFY(window.Boxes.empty());
  }

  void exitClosesTheWindow() {
    TTestWindow window(QStringList{"postvue"});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.mmExit->trigger();
    QVERIFY(!window.isVisible());
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
