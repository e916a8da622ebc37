#include "Main.h"

#include "DbxReader.h"
#include "Exceptions.h"
#include "MailbaseReader.h"
#include "MbxReader.h"
#include "MessageFile.h"
#include "MessageListModel.h"
#include "RowTexts.h"
#include "View.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTreeView>
#include <QWindow>

#include <exception>
#include <utility>

namespace postvue {

namespace {
QString gApplicationTitle = QStringLiteral("Postvue");

constexpr int kFontPixelSize = 11;
constexpr int kStatusBarHeight = 19;
constexpr int kPanel0Width = 100;
constexpr int kColumnWidths[9] = {1, 35, 25, 25, 25, 150, 270, 120, 75};

// Runs a closing step on every way out of a scope.
template <class F> class TFinally {
public:
  explicit TFinally(F step) : Step(std::move(step)) {}
  ~TFinally() { Step(); }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

private:
  F Step;
};

std::string LibraryPath(const QString& path) { return path.toUtf8().toStdString(); }

QString CountText(TMailbaseReader& reader) { return QStringLiteral("Count: %1").arg(reader.GetCount()); }
} // namespace

Twnd_oe_Main* wnd_oe_Main = nullptr;

const QString& ApplicationTitle() { return gApplicationTitle; }
void SetApplicationTitle(const QString& title) { gApplicationTitle = title; }

int RunApplication(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("postvue"));
  SetApplicationTitle(QStringLiteral("Postvue"));
  Twnd_oe_Main window;
  window.show();
  return QApplication::exec();
}

TListDelegate::TListDelegate(Twnd_oe_Main* owner) : QStyledItemDelegate(owner), Owner(owner) {}

void TListDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (index.column() == 0)
    Owner->ListAdvancedCustomDrawItem(*option, index);
  else
    Owner->ListAdvancedCustomDrawSubItem(*option, index);
}

Twnd_oe_Main::Twnd_oe_Main(const QStringList& arguments, QWidget* parent)
    : QMainWindow(parent), Arguments(arguments) {
  setWindowTitle(QStringLiteral("Postvue"));
  // The list's column widths were chosen for a font 11 pixels high; the
  // platform's UI face at that size keeps their texts readable.
  QFont windowFont = font();
  windowFont.setPixelSize(kFontPixelSize);
  setFont(windowFont);

  File1 = menuBar()->addMenu(QStringLiteral("File"));
  mmOpen = File1->addAction(QStringLiteral("Open..."));
  mmOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  N2 = File1->addSeparator();
  mmSave = File1->addAction(QStringLiteral("Save..."));
  mmSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  N1 = File1->addSeparator();
  mmView = File1->addAction(QStringLiteral("View message data..."));
  N3 = File1->addSeparator();
  mmExit = File1->addAction(QStringLiteral("Exit"));
  connect(mmOpen, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmOpen); });
  connect(mmSave, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmSave); });
  connect(mmView, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmView); });
  connect(mmExit, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmExit); });

  Model = new TMessageListModel(this);
  List = new QTreeView(this);
  List->setModel(Model);
  List->setItemDelegate(new TListDelegate(this));
  List->setRootIsDecorated(false);
  List->setItemsExpandable(false);
  List->setUniformRowHeights(true);
  List->setSortingEnabled(false);
  List->setSelectionBehavior(QAbstractItemView::SelectRows);
  List->setSelectionMode(QAbstractItemView::SingleSelection);
  List->setEditTriggers(QAbstractItemView::NoEditTriggers);
  List->setAllColumnsShowFocus(true);
  List->setTextElideMode(Qt::ElideRight);
  // The selection stays visible while the list does not have the focus.
  QPalette palette = List->palette();
  for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  List->setPalette(palette);
  QHeaderView* header = List->header();
  header->setSectionsClickable(false);
  header->setSortIndicatorShown(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(1);
  header->setSectionResizeMode(QHeaderView::Interactive);
  for (int column = 0; column < TMessageListModel::kColumnCount; ++column)
    header->resizeSection(column, kColumnWidths[column]);
  // Column 0 holds the always empty caption and never grows past 1 pixel.
  connect(header, &QHeaderView::sectionResized, this, [header](int column, int, int size) {
    if (column == 0 && size > 1) header->resizeSection(0, 1);
  });
  connect(List, &QAbstractItemView::doubleClicked, this, [this] { RunCommand(&Twnd_oe_Main::cmView); });
  setCentralWidget(List);

  sb = statusBar();
  sb->setSizeGripEnabled(true);
  for (QLabel*& panel : sbPanels) {
    panel = new QLabel(sb);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
  }
  sbPanels[0]->setFixedWidth(kPanel0Width);
  // The path never widens the window: a long one is cut at the bar's end.
  sbPanels[1]->setMinimumWidth(50);
  sbPanels[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  sb->addWidget(sbPanels[0]);
  sb->addWidget(sbPanels[1], 1);
  sb->setFixedHeight(qMax(kStatusBarHeight, sbPanels[0]->sizeHint().height() + 2));

  od = new QFileDialog(this);
  od->setAcceptMode(QFileDialog::AcceptOpen);
  od->setFileMode(QFileDialog::ExistingFile);
  od->setNameFilters({QStringLiteral("Outlook databases (*.dbx *.mbx)"), QStringLiteral("All files (*)")});
  od->setDefaultSuffix(QStringLiteral("dbx"));
  od->setSizeGripEnabled(true);

  sd = new QFileDialog(this);
  sd->setAcceptMode(QFileDialog::AcceptSave);
  sd->setFileMode(QFileDialog::AnyFile);
  sd->setNameFilters({QStringLiteral("E-Mail files (*.eml)"), QStringLiteral("All files (*)")});
  sd->setDefaultSuffix(QStringLiteral("eml"));
  sd->setOption(QFileDialog::DontConfirmOverwrite, false);
  sd->setSizeGripEnabled(true);

  resize(kMainWidth, kMainHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kMainWidth / 2, kMainHeight / 2));

  wnd_oe_Main = this;
  FormCreate();
}

Twnd_oe_Main::~Twnd_oe_Main() {
  if (wnd_oe_Main == this) wnd_oe_Main = nullptr;
  // The list's delegate calls back into this window: the list goes first.
  delete List;
  List = nullptr;
}

void Twnd_oe_Main::FormCreate() { Reader.reset(); }

void Twnd_oe_Main::FormShow() {
  if (Arguments.size() < 2) return;
  const QString& path = Arguments[1];
  const QFileInfo info(path);
  if (info.exists() && !info.isDir()) LoadFile(path);
}

void Twnd_oe_Main::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!FirstShow || event->spontaneous()) return;
  FirstShow = false;
  FitOuterSize();
  // Once the window is on screen: a load that fails shows its box over it.
  QMetaObject::invokeMethod(this, [this] { RunCommand(&Twnd_oe_Main::FormShow); }, Qt::QueuedConnection);
}

// The size and centring count the window's frame, once the platform tells it.
void Twnd_oe_Main::FitOuterSize() {
  QMargins frame;
  if (const QWindow* window = windowHandle()) frame = window->frameMargins();
  resize(kMainWidth - frame.left() - frame.right(), kMainHeight - frame.top() - frame.bottom());
  if (const QScreen* screen = this->screen()) {
    const QPoint centre = screen->availableGeometry().center();
    move(centre.x() - kMainWidth / 2, centre.y() - kMainHeight / 2);
  }
}

QString Twnd_oe_Main::PanelText(int panel) const { return sbPanels[panel]->text(); }

void Twnd_oe_Main::SetPanel(int panel, const QString& text) { sbPanels[panel]->setText(text); }

void Twnd_oe_Main::ListAdvancedCustomDrawItem(QStyleOptionViewItem& option, const QModelIndex& index) const {
  option.font.setBold(index.data(TMessageListModel::ImageIndexRole).toInt() == kImageUnread);
}

void Twnd_oe_Main::ListAdvancedCustomDrawSubItem(QStyleOptionViewItem& option, const QModelIndex& index) const {
  option.font.setBold(index.data(TMessageListModel::ImageIndexRole).toInt() == kImageUnread);
}

void Twnd_oe_Main::RunCommand(void (Twnd_oe_Main::*command)()) {
  QString text;
  try {
    (this->*command)();
    return;
  } catch (const Exception& e) {
    text = QString::fromUtf8(ErrorBoxText(e.message()));
  } catch (const std::exception& e) {
    text = QString::fromUtf8(ErrorBoxText(e.what()));
  }
  ShowErrorBox(text);
}

void Twnd_oe_Main::ShowErrorBox(const QString& text) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, this);
  box.exec();
}

QString Twnd_oe_Main::RunOpenDialog() {
  if (!LastOpenName.isEmpty()) od->selectFile(LastOpenName);
  if (od->exec() != QDialog::Accepted || od->selectedFiles().isEmpty()) return {};
  LastOpenName = od->selectedFiles().constFirst();
  return LastOpenName;
}

QString Twnd_oe_Main::RunSaveDialog() {
  if (!LastSaveName.isEmpty()) sd->selectFile(LastSaveName);
  if (sd->exec() != QDialog::Accepted || sd->selectedFiles().isEmpty()) return {};
  LastSaveName = sd->selectedFiles().constFirst();
  return LastSaveName;
}

void Twnd_oe_Main::cmOpen() {
  const QString path = RunOpenDialog();
  if (!path.isEmpty()) LoadFile(path);
}

void Twnd_oe_Main::cmExit() { close(); }

int Twnd_oe_Main::SelectedMessageIndex() const {
  const QModelIndexList selected = List->selectionModel()->selectedRows(1);
  if (selected.isEmpty()) return -1;
  return selected.constFirst().data().toString().toInt();
}

void Twnd_oe_Main::LoadFile(const QString& path) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TFinally restoreCursor([] { QApplication::restoreOverrideCursor(); });
  Model->BeginUpdate();
  const TFinally closeBracket([this] { Model->EndUpdate(); });
  SetPanel(0, QStringLiteral("Loading..."));
  repaint();
  Reader.reset();

  std::exception_ptr failure;
  try {
    const std::string fileName = LibraryPath(path);
    {
      // The probe only recognises the format; it closes its file before the
      // concrete reader opens it anew.
      const auto probe = std::make_unique<TMailbaseReader>();
      probe->SetFileName(fileName);
      if (probe->Format == sfMBX)
        Reader = std::make_unique<TMBXReader>();
      else if (probe->Format == sfDBX)
        Reader = std::make_unique<TDBXReader>();
    }
    if (!Reader) throw EMailbaseReaderException("File is not in supported format.");
    Reader->SetFileName(fileName);
    Reader->Load();
    if (Reader->Active) {
      const std::int32_t count = Reader->GetCount();
      const TLocaleFormat format = TLocaleFormat::FromLocale(QLocale::system());
      Model->ReserveRows(count > 0 ? static_cast<std::size_t>(count) : 0);
      TMessageRecord record;
      for (std::int32_t i = 0; i < count; ++i) {
        Reader->GetMessage(i, record);
        Model->AddRow(MakeMessageRow(i, record, format));
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }

  if (Reader) {
    setWindowTitle(QStringLiteral("Postvue - [%1]").arg(StoreText(Reader->GetFolderName())));
    SetApplicationTitle(windowTitle());
    SetPanel(0, CountText(*Reader));
    SetPanel(1, QString::fromUtf8(Reader->FileName));
  } else {
    // The previous store is gone and no other took its place: the window
    // shows no store, as at start, rather than the old store's name and count.
    setWindowTitle(QStringLiteral("Postvue"));
    SetApplicationTitle(windowTitle());
    SetPanel(0, QString());
    SetPanel(1, QString());
  }
  if (failure) std::rethrow_exception(failure);
}

void Twnd_oe_Main::cmView() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return;
  const std::string text = Reader->GetMessageText(index);
  ShowMessageData(text);
}

void Twnd_oe_Main::cmSave() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return;
  const QString path = RunSaveDialog();
  if (path.isEmpty()) return;
  SetPanel(0, QStringLiteral("Saving..."));
  repaint();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TFinally restoreCursor([] { QApplication::restoreOverrideCursor(); });
  std::exception_ptr failure;
  try {
    const std::string text = Reader->GetMessageText(index);
    SaveMessageText(LibraryPath(path), text);
  } catch (...) {
    failure = std::current_exception();
  }
  SetPanel(0, CountText(*Reader));
  if (failure) std::rethrow_exception(failure);
}

} // namespace postvue
