// The native Windows viewer's main window: the File menu, the message list,
// the status bar, the open and save dialogs and the error box, over the
// window core. Windows API only.
#pragma once

#include "ViewerCore.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#undef GetMessage // the reader's operation, not the Windows function

#include <string>
#include <vector>

namespace postvue {

// Menu commands (WM_COMMAND identifiers) and control identifiers.
enum : int {
  IDM_OPEN = 101, IDM_SAVE, IDM_VIEW, IDM_EXIT, IDM_READ, IDM_FIND,
  IDC_LIST = 201, IDC_STATUS, IDC_FINDLABEL, IDC_FINDEDIT, IDC_FINDBUTTON, IDC_FINDSTATUS,
};
// Posted once the main window is shown: runs FormShow.
constexpr UINT WM_FORMSHOW = WM_APP + 1;

// The file dialogs and the error box, replaceable so that tests answer them.
class TDialogRunner {
public:
  virtual ~TDialogRunner();
  // GetOpenFileNameW or GetSaveFileNameW; true when the user confirmed.
  virtual bool RunFileDialog(OPENFILENAMEW& dialog, bool save);
  virtual void ShowErrorBox(HWND owner, const std::wstring& text, const std::wstring& title);
  // An information box, or a warning where warning is set.
  virtual void ShowInformationBox(HWND owner, const std::wstring& text, const std::wstring& title, bool warning);
  // A folder dialog (the system's folder picker); empty when cancelled.
  virtual std::wstring PickFolder(HWND owner);
};
TDialogRunner& DialogRunner();
// none: the platform's own dialogs again.
void SetDialogRunner(TDialogRunner* runner);

std::wstring Wide(std::string_view utf8);
// 8-bit store bytes through the ANSI code page, as the mail program wrote them.
std::wstring AnsiWide(std::string_view bytes);
std::string Utf8(std::wstring_view wide);

// Runs a file dialog through the dialog runner, offering lastName, which
// becomes the name chosen; empty when cancelled. filter as the dialogs take it.
std::wstring RunFileDialog(HWND owner, bool save, const wchar_t* filter, const wchar_t* extension, DWORD flags,
                           std::wstring& lastName);

// The application title: "Postvue" at start; a load that ends with a reader
// sets it to the window's caption. It heads the error boxes.
const std::wstring& ApplicationTitle();

// Pixel sizes made for 96 dpi, at the screen's dpi.
int Scaled(int pixels);
// "MS Sans Serif" or "Courier New", 11 pixels high at 96 dpi.
HFONT WindowFont(bool bold = false);
HFONT MemoFont();

// The wait cursor of a window while its commands run: Show and Restore pair
// up and may nest; over the window, WM_SETCURSOR keeps it while any is open.
class TWaitCursor {
public:
  void Show() {
    ++Depth;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  }
  void Restore() {
    if (--Depth == 0) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  }
  // For WM_SETCURSOR: true when it has set the cursor.
  bool Keep() const {
    if (Depth == 0) return false;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    return true;
  }

private:
  int Depth = 0;
};

// The window procedure of windows that are objects of T: the object, given
// to CreateWindowExW, learns its Handle at WM_NCCREATE and gets every
// message through its HandleMessage.
template <class T> LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->Handle = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

class Twnd_oe_Main : public TViewerCore {
public:
  // arguments[1], when it names an existing file, is loaded at the first show.
  explicit Twnd_oe_Main(std::vector<std::wstring> arguments);
  ~Twnd_oe_Main() override;

  HWND Handle = nullptr;
  HMENU MainMenu = nullptr, File1 = nullptr;
  HWND List = nullptr;
  HWND sb = nullptr;
  // The find bar above the list, hidden until Find... opens it.
  HWND FindLabel = nullptr, FindEdit = nullptr, FindButton = nullptr, FindStatus = nullptr;
  bool FindShown = false;
  HACCEL Accelerators = nullptr;
  // The program's main window ends the message loop when it is destroyed.
  bool QuitOnDestroy = false;

  // Creates and shows the window (FormCreate runs on creation); FormShow follows
  // from the message loop.
  void Show(int showCommand);

  void FormCreate();
  void FormShow();
  void cmOpen();
  void cmSave();
  void cmView();
  void cmRead();
  void cmExit();
  // Opens the find bar and puts the focus in its edit.
  void cmFind();
  // Escape in the find bar: a running search of the texts stops; otherwise
  // the bar closes and the list shows every row again.
  void FindEscape();
  // For the reading window: the message index of the row step rows away
  // from message index's (-1 when there is none), selecting a message's row,
  // and the save dialog of Save owned by another window.
  std::int32_t NeighbourIndex(std::int32_t index, int step) const;
  void SelectMessage(std::int32_t index);
  std::string AskSavePath(HWND owner);
  // Both set the font of the list's drawing canvas from the row's read mark.
  LRESULT ListAdvancedCustomDrawItem(NMLVCUSTOMDRAW& draw);
  LRESULT ListAdvancedCustomDrawSubItem(NMLVCUSTOMDRAW& draw);

protected:
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
  friend LRESULT CALLBACK ObjectWindowProc<Twnd_oe_Main>(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(NMHDR& header);
  void CreateControls();
  void CreateFindBar();
  void Layout();
  // Sets the find edit's text without filtering the list.
  void SetFindText(const std::wstring& text);
  std::wstring FindText() const;
  void SelectRow(std::int32_t row);
  void FitColumns();
  void LoadFile(const std::wstring& path);
  void RunCommand(void (Twnd_oe_Main::*command)());
  // The texts of row i, made when the list asks for them.
  const TMessageRow& RowOf(int i);

  std::vector<std::wstring> Arguments;
  TLocaleFormat Format;
  TMessageRow CachedRow;
  std::vector<std::wstring> CachedTexts;
  int CachedIndex = -1;
  std::int32_t RowCount = 0;
  TWaitCursor Wait;
  bool Polling = false, SettingFindText = false;
  std::wstring LastOpenName, LastSaveName;
};

// The one main window.
extern Twnd_oe_Main* wnd_oe_Main;

// The program entry: the window classes, the main window and the message loop.
int RunApplication(HINSTANCE instance, int showCommand);

} // namespace postvue
