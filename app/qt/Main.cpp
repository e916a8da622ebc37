#include "Main.h"

#include "MessageListModel.h"
#include "QtRowTexts.h"
#include "ReadView.h"
#include "View.h"
#include "ViewerLayout.h"

#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace postvue {

namespace {
QString gApplicationTitle = QStringLiteral("Postvue");


double ScreenDpiScale() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? std::max(1.0, screen->logicalDotsPerInchY() / 96.0) : 1.0;
}

// "Name (*.a *.b)" for each filter, as the file dialog takes them.
QStringList NameFilters(const std::array<TFileFilter, 2>& filters) {
  QStringList out;
  for (const TFileFilter& filter : filters) {
    QStringList patterns;
    for (const std::string_view extension : filter.Extensions)
      if (!extension.empty()) patterns << QStringLiteral("*.") + Utf8Text(extension);
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    out << Utf8Text(filter.Name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
  }
  return out;
}

double LetterWidth(const QFont& font) {
  static const QString letters = Utf8Text(kReferenceLetters);
  return QFontMetricsF(font).horizontalAdvance(letters) / letters.size();
}
} // namespace

QFont ViewerFont() {
  QFont font = QApplication::font();
  font.setPixelSize(qRound(kFontPixelSize * ScreenDpiScale()));
  return font;
}

double ViewerScale() {
  QFont bold = ViewerFont();
  bold.setBold(true);
  return ViewerScaleOf(ScreenDpiScale(), LetterWidth(bold));
}

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
  setFont(ViewerFont());
  Scale = ViewerScale();

  File1 = menuBar()->addMenu(Utf8Text(kFileMenuCaption));
  mmOpen = File1->addAction(Utf8Text(kOpenCaption));
  mmOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(kOpenKey)));
  N2 = File1->addSeparator();
  mmSave = File1->addAction(Utf8Text(kSaveCaption));
  mmSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(kSaveKey)));
  N1 = File1->addSeparator();
  mmRead = File1->addAction(Utf8Text(kReadCaption));
  mmRead->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(kReadKey)));
  mmView = File1->addAction(Utf8Text(kViewCaption));
  N3 = File1->addSeparator();
  mmFind = File1->addAction(Utf8Text(kFindCaption));
  mmFind->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(kFindKey)));
  N4 = File1->addSeparator();
  mmExit = File1->addAction(Utf8Text(kExitCaption));
  connect(mmOpen, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmOpen); });
  connect(mmSave, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmSave); });
  connect(mmRead, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmRead); });
  connect(mmView, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmView); });
  connect(mmExit, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmExit); });
  connect(mmFind, &QAction::triggered, this, [this] { RunCommand(&Twnd_oe_Main::cmFind); });

  Model = new TMessageListModel(this);
  Model->SetOrder(&ListOrder());
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
  // A click sorts by the column, the next reverses; "#" is store order.
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(1);
  header->setSectionResizeMode(QHeaderView::Interactive);
  // Every column holds its widest usual text in bold, with the cell's margins.
  QFont bold = ViewerFont();
  bold.setBold(true);
  const QFontMetrics boldMetrics(bold);
  const int cellMargins = 2 * (List->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, List) + 1) + 2;
  const TLocaleFormat format = UserFormat();
  for (int column = 0; column < kListColumnCount; ++column) {
    const auto samples = ColumnSamples(column, format);
    int widest = 0;
    for (const auto& sample : samples)
      widest = std::max(widest, boldMetrics.horizontalAdvance(Utf8Text(sample)) + cellMargins);
    header->resizeSection(column, ColumnStartWidth(column, Scale, ScreenDpiScale(), widest, !samples.empty()));
  }
  // Column 0 holds the always empty caption and never grows past 1 pixel.
  connect(header, &QHeaderView::sectionResized, this, [header](int column, int, int size) {
    if (column == 0 && size > 1) header->resizeSection(0, 1);
  });
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) { RunGuarded([&] { SortList(column); }); });
  connect(List, &QAbstractItemView::doubleClicked, this, [this] { RunCommand(&Twnd_oe_Main::cmView); });
  List->installEventFilter(this); // Enter reads the selected row
  qApp->installEventFilter(this); // Alt alone opens the File menu

  // The list fills the client area; the find bar, when open, takes a strip under it.
  auto* client = new QWidget(this);
  auto* clientLayout = new QVBoxLayout(client);
  clientLayout->setContentsMargins(0, 0, 0, 0);
  clientLayout->setSpacing(0);
  clientLayout->addWidget(List, 1);
  CreateFindBar();
  clientLayout->addWidget(FindBar);
  setCentralWidget(client);

  sb = statusBar();
  sb->setSizeGripEnabled(true);
  for (QLabel*& panel : sbPanels) {
    panel = new QLabel(sb);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
  }
  sbPanels[0]->setFixedWidth(Scaled(kPanel0Width));
  // The path never widens the window: a long one is cut at the bar's end.
  sbPanels[1]->setMinimumWidth(Scaled(kPanel1MinWidth));
  sbPanels[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  sb->addWidget(sbPanels[0]);
  sb->addWidget(sbPanels[1], 1);
  sb->setFixedHeight(qMax(Scaled(kStatusBarHeight), sbPanels[0]->sizeHint().height() + 2));

  od = new QFileDialog(this);
  od->setAcceptMode(QFileDialog::AcceptOpen);
  od->setFileMode(QFileDialog::ExistingFile);
  od->setNameFilters(NameFilters(kOpenFilters));
  od->setDefaultSuffix(Utf8Text(kOpenExtension));
  od->setSizeGripEnabled(true);

  sd = new QFileDialog(this);
  sd->setAcceptMode(QFileDialog::AcceptSave);
  sd->setFileMode(QFileDialog::AnyFile);
  sd->setNameFilters(NameFilters(kSaveFilters));
  sd->setDefaultSuffix(Utf8Text(kSaveExtension));
  sd->setOption(QFileDialog::DontConfirmOverwrite, false);
  sd->setSizeGripEnabled(true);

  resize(Scaled(kMainWidth), Scaled(kMainHeight));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(Scaled(kMainWidth) / 2, Scaled(kMainHeight) / 2));

  wnd_oe_Main = this;
  FormCreate();
}

Twnd_oe_Main::~Twnd_oe_Main() {
  if (wnd_oe_Main == this) wnd_oe_Main = nullptr;
  qApp->removeEventFilter(this);
  // The list's delegate calls back into this window: the list goes first.
  delete List;
  List = nullptr;
}

void Twnd_oe_Main::CreateFindBar() {
  FindBar = new QWidget(this);
  auto* layout = new QHBoxLayout(FindBar);
  layout->setContentsMargins(Scaled(4), Scaled(3), Scaled(4), Scaled(3));
  layout->setSpacing(Scaled(6));
  auto* label = new QLabel(Utf8Text(kFindLabel), FindBar);
  FindEdit = new QLineEdit(FindBar);
  FindEdit->setAccessibleName(Utf8Text(kFindLabel).chopped(1));
  FindEdit->setClearButtonEnabled(true);
  label->setBuddy(FindEdit);
  SearchButton = new QPushButton(Utf8Text(kSearchTextsCaption), FindBar);
  SearchButton->setAccessibleName(Utf8Text(kSearchTextsCaption));
  SearchButton->setAutoDefault(false);
  FindStatus = new QLabel(FindBar);
  FindStatus->setMinimumWidth(Scaled(kPanel0Width));
  FindClose = new QToolButton(FindBar);
  FindClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton, nullptr, FindClose));
  FindClose->setAutoRaise(true);
  FindClose->setAccessibleName(Utf8Text(kCloseCaption));
  FindClose->setToolTip(Utf8Text(kCloseCaption));
  layout->addWidget(label);
  layout->addWidget(FindEdit, 1);
  layout->addWidget(SearchButton);
  layout->addWidget(FindStatus);
  layout->addWidget(FindClose);
  FindBar->hide();
  setTabOrder(List, FindEdit);
  setTabOrder(FindEdit, SearchButton);
  setTabOrder(SearchButton, FindClose);

  connect(FindEdit, &QLineEdit::textEdited, this,
          [this](const QString& text) { RunGuarded([&] { FindInList(Utf8Of(text)); }); });
  const auto searchTexts = [this] { RunGuarded([this] { SearchTexts(Utf8Of(FindEdit->text())); }); };
  connect(FindEdit, &QLineEdit::returnPressed, this, searchTexts);
  connect(SearchButton, &QPushButton::clicked, this, searchTexts);
  connect(FindClose, &QToolButton::clicked, this, [this] {
    RunGuarded([this] { StopTextSearch(); });
    FindEscape();
  });
  // The edit takes Escape for itself; the filter hands it to the bar.
  FindEdit->installEventFilter(this);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), FindBar, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(escape, &QShortcut::activated, this, &Twnd_oe_Main::FindEscape);

  SearchTimer = new QTimer(this);
  SearchTimer->setInterval(50);
  connect(SearchTimer, &QTimer::timeout, this, [this] { RunGuarded([this] { PollTextSearch(); }); });
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
  const int width = Scaled(kMainWidth), height = Scaled(kMainHeight);
  resize(width - frame.left() - frame.right(), height - frame.top() - frame.bottom());
  if (const QScreen* screen = this->screen()) {
    const QPoint centre = screen->availableGeometry().center();
    move(centre.x() - width / 2, centre.y() - height / 2);
  }
}

int Twnd_oe_Main::Scaled(int pixels) const { return ScaledPixels(pixels, Scale); }

bool Twnd_oe_Main::eventFilter(QObject* watched, QEvent* event) {
  if (watched == List && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      RunCommand(&Twnd_oe_Main::cmRead);
      return true;
    }
  }
  if (watched == FindEdit && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    FindEscape();
    return true;
  }
  // Alt pressed and released alone opens the File menu, as on Windows.
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Alt && !key->isAutoRepeat()) {
      if (event->type() == QEvent::KeyPress)
        AltAlone = isActiveWindow();
      else if (AltAlone && isActiveWindow() && key->modifiers() == Qt::NoModifier)
        QMetaObject::invokeMethod(this, [this] { menuBar()->setActiveAction(File1->menuAction()); },
                                  Qt::QueuedConnection);
    } else if (event->type() == QEvent::KeyPress) {
      AltAlone = false;
    }
  } else if (event->type() == QEvent::MouseButtonPress) {
    AltAlone = false;
  }
  return QMainWindow::eventFilter(watched, event);
}

QString Twnd_oe_Main::PanelText(int panel) const { return sbPanels[panel]->text(); }

void Twnd_oe_Main::SetPanel(int panel, const std::string& text) { sbPanels[panel]->setText(Utf8Text(text)); }

void Twnd_oe_Main::ListAdvancedCustomDrawItem(QStyleOptionViewItem& option, const QModelIndex& index) const {
  option.font.setBold(index.data(TMessageListModel::ImageIndexRole).toInt() == kImageUnread);
}

void Twnd_oe_Main::ListAdvancedCustomDrawSubItem(QStyleOptionViewItem& option, const QModelIndex& index) const {
  option.font.setBold(index.data(TMessageListModel::ImageIndexRole).toInt() == kImageUnread);
}

void Twnd_oe_Main::RunCommand(void (Twnd_oe_Main::*command)()) {
  RunGuarded([&] { (this->*command)(); });
}

void Twnd_oe_Main::ShowError(const std::string& text) { ShowErrorBox(Utf8Text(text)); }

void Twnd_oe_Main::ShowErrorBox(const QString& text) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, this);
  box.exec();
}

namespace {
// Runs a file dialog kept for the window's life. Its name completion may still
// show a popup when Enter accepted the dialog; that popup goes with the dialog.
QString RunFileDialog(QFileDialog* dialog, QString& lastName) {
  if (!lastName.isEmpty()) dialog->selectFile(lastName);
  const bool accepted = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
  for (QCompleter* completer : dialog->findChildren<QCompleter*>())
    if (completer->popup()) completer->popup()->hide();
  if (!accepted) return {};
  lastName = dialog->selectedFiles().constFirst();
  return lastName;
}
} // namespace

QString Twnd_oe_Main::RunOpenDialog() { return RunFileDialog(od, LastOpenName); }

QString Twnd_oe_Main::RunSaveDialog() { return RunFileDialog(sd, LastSaveName); }

void Twnd_oe_Main::cmOpen() {
  const QString path = RunOpenDialog();
  if (!path.isEmpty()) LoadFile(path);
}

void Twnd_oe_Main::cmExit() { close(); }

void Twnd_oe_Main::cmFind() {
  FindBar->show();
  FindEdit->setFocus(Qt::ShortcutFocusReason);
  FindEdit->selectAll();
}

void Twnd_oe_Main::FindEscape() {
  if (SearchTimer->isActive()) {
    RunGuarded([this] { StopTextSearch(); });
    return;
  }
  FindEdit->clear();
  RunGuarded([this] { ClearFind(); });
  FindBar->hide();
  List->setFocus();
}

void Twnd_oe_Main::ShowListOrder(std::int32_t row) {
  Model->Reorder();
  if (row < 0) return;
  List->setCurrentIndex(Model->index(row, 1));
  List->scrollTo(List->currentIndex());
}

void Twnd_oe_Main::ShowSortMark(TSortMark mark) {
  QHeaderView* header = List->header();
  header->setSortIndicatorShown(mark.Column >= 0);
  if (mark.Column >= 0)
    header->setSortIndicator(mark.Column, mark.Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void Twnd_oe_Main::SetFindStatus(const std::string& text) { FindStatus->setText(Utf8Text(text)); }

void Twnd_oe_Main::SetSearchPolling(bool on) {
  if (on)
    SearchTimer->start();
  else
    SearchTimer->stop();
}

std::string Twnd_oe_Main::SelectedNumberText() {
  const QModelIndexList selected = List->selectionModel()->selectedRows(1);
  return selected.isEmpty() ? std::string() : Utf8Of(selected.constFirst().data().toString());
}

void Twnd_oe_Main::LoadFile(const QString& path) {
  // A new store shows every row: the find bar starts empty.
  FindEdit->clear();
  LoadStore(Utf8Of(path));
}

void Twnd_oe_Main::ShowWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void Twnd_oe_Main::RestoreCursor() { QApplication::restoreOverrideCursor(); }

void Twnd_oe_Main::BeginRows() { Model->BeginUpdate(); }

void Twnd_oe_Main::AddRows(TMailbaseReader& reader, std::int32_t count, const TLocaleFormat& format) {
  Model->ReserveRows(count > 0 ? static_cast<std::size_t>(count) : 0);
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader.GetMessage(i, record);
    Model->AddRow(MakeMessageRow(i, record, format));
  }
}

void Twnd_oe_Main::EndRows() { Model->EndUpdate(); }

void Twnd_oe_Main::RepaintNow() {
  // The emptied list and the status bar are painted now, also where a dialog
  // just closed, before the store is read.
  List->doItemsLayout();
  repaint();
}

void Twnd_oe_Main::SetCaption(const std::string& text) {
  setWindowTitle(Utf8Text(text));
  SetApplicationTitle(windowTitle());
}

TLocaleFormat Twnd_oe_Main::UserFormat() { return LocaleFormatOf(QLocale::system()); }

std::string Twnd_oe_Main::AskSavePath() { return Utf8Of(RunSaveDialog()); }

void Twnd_oe_Main::ShowMessageText(const std::string& text) { ShowMessageData(text); }

void Twnd_oe_Main::cmView() { ViewSelected(); }

void Twnd_oe_Main::cmSave() { SaveSelected(); }

void Twnd_oe_Main::cmRead() {
  const int index = SelectedForReading();
  if (index < 0) return;
  const auto window = std::make_unique<Twnd_oe_Read>(this, this, Reader.get(), UserFormat());
  // A message that cannot be read gives the error box and no window.
  window->OpenMessage(index);
  window->exec();
}

int Twnd_oe_Main::RowOfMessage(std::int32_t index) const {
  // The row usually is the selected one.
  const QModelIndex current = List->currentIndex();
  if (current.isValid() && Model->MessageOfRow(current.row()) == index) return current.row();
  return Model->RowOfMessage(index);
}

std::int32_t Twnd_oe_Main::NeighbourMessage(std::int32_t index, int step) const {
  const int row = RowOfMessage(index);
  if (row < 0) return -1;
  const int neighbour = row + step;
  return neighbour >= 0 && neighbour < Model->rowCount() ? Model->MessageOfRow(neighbour) : -1;
}

void Twnd_oe_Main::SelectMessage(std::int32_t index) {
  const int row = RowOfMessage(index);
  if (row < 0) return;
  List->setCurrentIndex(List->model()->index(row, 1));
  List->scrollTo(List->currentIndex());
}

QString Twnd_oe_Main::RunAttachmentDialog(QWidget* parent, const QString& name) {
  const QString start = LastAttachmentFolder.isEmpty() ? name : QDir(LastAttachmentFolder).filePath(name);
  const QString path = QFileDialog::getSaveFileName(parent, Utf8Text(kSaveAttachmentCaption).remove(QStringLiteral("...")), start);
  if (!path.isEmpty()) LastAttachmentFolder = QFileInfo(path).absolutePath();
  return path;
}

QString Twnd_oe_Main::RunFolderDialog(QWidget* parent) {
  const QString folder = QFileDialog::getExistingDirectory(
      parent, Utf8Text(kSaveAllAttachmentsCaption).remove(QStringLiteral("...")), LastAttachmentFolder);
  if (!folder.isEmpty()) LastAttachmentFolder = folder;
  return folder;
}

void Twnd_oe_Main::ShowReportBox(QWidget* parent, const QString& text, bool warning) {
  QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::Information, ApplicationTitle(), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

} // namespace postvue
