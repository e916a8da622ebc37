// The program entry and the main window: the File menu, the message list and its find bar, the
// status bar, the open and save dialogs, loading a store and the error box.
#pragma once

#include "ViewerCore.h"
#include "ViewerLayout.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QStyledItemDelegate>

#include <memory>

class QAction;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolButton;
class QTreeView;

namespace postvue {

class TMessageListModel;
class Twnd_oe_Main;

// The application title: "Postvue" at start; a load that ends with a reader sets
// it to the window's caption. It heads the error boxes. (Kept apart from Qt's
// application display name, which Qt would append to every window title.)
const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The font of both windows: the platform's UI face, 11 pixels high at 96 dpi.
QFont ViewerFont();
// The factor for the pixel sizes made for the 8 pt face at 96 dpi.
double ViewerScale();

// The program entry: the application object, its title, the main window and the message loop.
int RunApplication(int argc, char** argv);

// The application's main window: the one created last that still exists.
extern Twnd_oe_Main* wnd_oe_Main;

// Draws the list's cells; the font style comes from the window's draw hooks.
class TListDelegate : public QStyledItemDelegate {
public:
  explicit TListDelegate(Twnd_oe_Main* owner);
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
  Twnd_oe_Main* Owner;
};

class Twnd_oe_Main : public QMainWindow, protected TViewerCore {
  Q_OBJECT
public:
  // arguments[1], when it names an existing file, is loaded at the first show.
  explicit Twnd_oe_Main(const QStringList& arguments = QCoreApplication::arguments(), QWidget* parent = nullptr);
  ~Twnd_oe_Main() override;

  QMenu* File1 = nullptr;
  QAction* mmOpen = nullptr;
  QAction* N2 = nullptr;
  QAction* mmSave = nullptr;
  QAction* N1 = nullptr;
  QAction* mmRead = nullptr;
  QAction* mmView = nullptr;
  QAction* N3 = nullptr;
  QAction* mmFind = nullptr;
  QAction* N4 = nullptr;
  QAction* mmExit = nullptr;
  QTreeView* List = nullptr;
  // The find bar under the list, hidden until Find... opens it.
  QWidget* FindBar = nullptr;
  QLineEdit* FindEdit = nullptr;
  QPushButton* SearchButton = nullptr;
  QLabel* FindStatus = nullptr;
  QToolButton* FindClose = nullptr;
  TMessageListModel* Model = nullptr;
  QStatusBar* sb = nullptr;
  QLabel* sbPanels[2] = {nullptr, nullptr};
  QFileDialog* od = nullptr;
  QFileDialog* sd = nullptr;

  QString PanelText(int panel) const;
  using TViewerCore::CurrentReader;
  // Pixel sizes made for the 8 pt face at 96 dpi, in this window's font and screen.
  int Scaled(int pixels) const;

  void FormCreate();
  void FormShow();
  // Both set the cell's font style from the row's read mark.
  void ListAdvancedCustomDrawItem(QStyleOptionViewItem& option, const QModelIndex& index) const;
  void ListAdvancedCustomDrawSubItem(QStyleOptionViewItem& option, const QModelIndex& index) const;

  void cmOpen();
  void cmSave();
  void cmView();
  void cmRead();
  void cmExit();
  // Opens the find bar and puts the focus in its edit.
  void cmFind();
  // Escape in the find bar: stops a running search of the texts; without
  // one, shows every row again and closes the bar.
  void FindEscape();

  // For the reading window. The message index of the row step rows away from
  // the row of message index, in the list's order; -1 when there is none.
  std::int32_t NeighbourMessage(std::int32_t index, int step) const;
  // Selects the row of message index and shows it.
  void SelectMessage(std::int32_t index);
  // The main window's save dialog, as Save runs it.
  QString RunMessageSaveDialog() { return RunSaveDialog(); }
  // A save dialog offering name for an attachment, and a folder dialog for all
  // of them, over parent; empty when cancelled.
  virtual QString RunAttachmentDialog(QWidget* parent, const QString& name);
  virtual QString RunFolderDialog(QWidget* parent);
  // What a save of several files did: an information box, a warning when some failed.
  virtual void ShowReportBox(QWidget* parent, const QString& text, bool warning);
  void ErrorBox(const QString& text) { ShowErrorBox(text); }

  // The standard error handler: runs one command and shows any exception
  // that leaves it in the error box.
  void RunCommand(void (Twnd_oe_Main::*command)());

protected:
  // The path chosen in od or sd; empty when the user cancels.
  virtual QString RunOpenDialog();
  virtual QString RunSaveDialog();
  // The error box: critical icon, the application title, an OK button.
  virtual void ShowErrorBox(const QString& text);

  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  // The window core's steps.
  void ShowWaitCursor() override;
  void RestoreCursor() override;
  void BeginRows() override;
  void AddRows(TMailbaseReader& reader, std::int32_t count, const TLocaleFormat& format) override;
  void EndRows() override;
  void SetPanel(int panel, const std::string& text) override;
  void RepaintNow() override;
  void SetCaption(const std::string& text) override;
  TLocaleFormat UserFormat() override;
  std::string SelectedNumberText() override;
  std::string AskSavePath() override;
  void ShowMessageText(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void ShowListOrder(std::int32_t row) override;
  void ShowSortMark(TSortMark mark) override;
  void SetFindStatus(const std::string& text) override;
  void SetSearchPolling(bool on) override;

private:
  void LoadFile(const QString& path);
  // The list's row of message index; -1 when it has none.
  int RowOfMessage(std::int32_t index) const;
  void FitOuterSize();
  void CreateFindBar();

  double Scale = 1.0;
  QStringList Arguments;
  QString LastOpenName;
  QString LastSaveName;
  QString LastAttachmentFolder;
  QTimer* SearchTimer = nullptr; // polls a running search of the texts
  bool FirstShow = true;
  bool AltAlone = false;
};

} // namespace postvue
