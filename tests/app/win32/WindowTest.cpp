// The native Windows viewer, driven through its own messages: menu commands,
// the list's and the status bar's texts, window captions. The file dialogs
// and the error box answer from the test.
#include "Main.h"
#include "ReadView.h"
#include "StoreWriter.h"
#include "View.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>

using namespace postvue;
using namespace postvue::testing;

namespace {
class TTestRunner : public TDialogRunner {
public:
  std::deque<std::wstring> Answers; // taken in turn; none left: cancelled
  struct TDialogSeen {
    bool Save;
    std::wstring Filter, DefaultExtension;
    DWORD Flags;
    DWORD FilterIndex;
    std::wstring Offered; // the file name the dialog starts with
  };
  std::vector<TDialogSeen> Dialogs;
  struct TBox {
    std::wstring Text, Title;
  };
  std::vector<TBox> Boxes;

  bool RunFileDialog(OPENFILENAMEW& dialog, bool save) override {
    std::wstring filter;
    for (const wchar_t* p = dialog.lpstrFilter; *p; p += wcslen(p) + 1) filter += std::wstring(p) + L"|";
    Dialogs.push_back(
        {save, filter, dialog.lpstrDefExt ? dialog.lpstrDefExt : L"", dialog.Flags, dialog.nFilterIndex, dialog.lpstrFile});
    if (Answers.empty()) return false;
    wcsncpy(dialog.lpstrFile, Answers.front().c_str(), dialog.nMaxFile - 1);
    Answers.pop_front();
    return true;
  }
  void ShowErrorBox(HWND, const std::wstring& text, const std::wstring& title) override {
    Boxes.push_back({text, title});
  }
  std::deque<std::wstring> Folders; // taken in turn; none left: cancelled
  std::vector<std::wstring> Reports;
  void ShowInformationBox(HWND, const std::wstring& text, const std::wstring&, bool) override {
    Reports.push_back(text);
  }
  std::wstring PickFolder(HWND) override {
    if (Folders.empty()) return {};
    std::wstring folder = Folders.front();
    Folders.pop_front();
    return folder;
  }
};

std::wstring W(const std::string& utf8) { return Wide(utf8); }

std::wstring Caption(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring ItemText(HWND list, int row, int column) {
  wchar_t text[512] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 512;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

int ImageIndex(HWND list, int row) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

int RowCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring PanelText(HWND bar, int panel) {
  wchar_t text[512] = {};
  SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text));
  return text;
}

void SelectRow(HWND list, int row) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void Command(const Twnd_oe_Main& window, int id) { SendMessageW(window.Handle, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// Whether the draw hooks leave a bold font on the canvas for a row (and a sub-item).
bool DrawsBold(const Twnd_oe_Main& window, int row, bool subItem) {
  const HDC canvas = CreateCompatibleDC(nullptr);
  NMLVCUSTOMDRAW draw{};
  draw.nmcd.hdr.hwndFrom = window.List;
  draw.nmcd.hdr.idFrom = IDC_LIST;
  draw.nmcd.hdr.code = NM_CUSTOMDRAW;
  draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | (subItem ? CDDS_SUBITEM : 0);
  draw.nmcd.hdc = canvas;
  draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
  draw.iSubItem = subItem ? 5 : 0;
  const LRESULT answer = SendMessageW(window.Handle, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&draw));
  LOGFONTW font{};
  GetObjectW(GetCurrentObject(canvas, OBJ_FONT), sizeof font, &font);
  DeleteDC(canvas);
  EXPECT_TRUE(answer & CDRF_NEWFONT);
  return font.lfWeight >= FW_BOLD;
}

// What the message data window showed, recorded from inside its modal run.
struct TViewSeen {
  bool Seen = false;
  std::wstring Caption, Text, Button;
  SIZE Size{};
  POINT Centre{};
  bool ReadOnly = false, Focused = false;
};
TViewSeen* gViewSeen = nullptr;
UINT gCloseWith = IDC_BUTTON1;

void CALLBACK RecordView(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND view = FindWindowW(L"Twnd_oe_View", nullptr);
  if (!view || !gViewSeen) return;
  KillTimer(nullptr, timer);
  TViewSeen& seen = *gViewSeen;
  seen.Seen = true;
  seen.Caption = Caption(view);
  const HWND memo = GetDlgItem(view, IDC_MEMO);
  const int length = GetWindowTextLengthW(memo);
  seen.Text.assign(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(memo, seen.Text.data(), length + 1);
  seen.Text.resize(static_cast<std::size_t>(length));
  seen.Button = Caption(GetDlgItem(view, IDC_BUTTON1));
  RECT frame{};
  GetWindowRect(view, &frame);
  seen.Size = {frame.right - frame.left, frame.bottom - frame.top};
  seen.Centre = {(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
  seen.ReadOnly = (GetWindowLongW(memo, GWL_STYLE) & ES_READONLY) != 0;
  seen.Focused = GetFocus() == memo;
  if (gCloseWith == WM_CLOSE)
    PostMessageW(view, WM_CLOSE, 0, 0);
  else
    PostMessageW(view, WM_COMMAND, MAKEWPARAM(gCloseWith, BN_CLICKED), 0);
}

TViewSeen View(const Twnd_oe_Main& window, UINT closeWith = IDC_BUTTON1) {
  TViewSeen seen;
  gViewSeen = &seen;
  gCloseWith = closeWith;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, RecordView);
  Command(window, IDM_VIEW);
  KillTimer(nullptr, timer);
  gViewSeen = nullptr;
  return seen;
}

// Keys pressed in the message data window, one step a tick: Tab from the
// text, then Space on what has the focus. The close box ends a window that
// Space did not close.
struct TKeysSeen {
  int Step = 0;
  bool TabReachedClose = false, ClosedBySpace = true;
};
TKeysSeen* gKeysSeen = nullptr;

void CALLBACK PressKeys(HWND, UINT, UINT_PTR, DWORD) {
  const HWND view = FindWindowW(L"Twnd_oe_View", nullptr);
  if (!view || !gKeysSeen) return;
  TKeysSeen& seen = *gKeysSeen;
  switch (seen.Step++) {
  case 0: PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1); break;
  case 1:
    seen.TabReachedClose = GetFocus() == GetDlgItem(view, IDC_BUTTON1);
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_SPACE, 1);
    PostMessageW(GetFocus(), WM_KEYUP, VK_SPACE, 0xC0000001);
    break;
  case 5:
    seen.ClosedBySpace = false;
    PostMessageW(view, WM_CLOSE, 0, 0);
    break;
  }
}

std::vector<TTestMessage> ThreeMessages() {
  TTestMessage one{"one", "Sender of one", "", 0x80, 3, 0, 0, "text one\r\n"};
  TTestMessage two{"two \x93quoted\x94", "", "two@example.org", 0x20, 1, FileTimeOf(2004, 1, 1), 0, "A: 1\nB\rC"};
  TTestMessage three{"three", "Sender of three", "", 0x4080, 5, FileTimeOf(2003, 11, 9, 17, 5, 9), 0,
                     std::string("last\r\n\0hidden", 13)};
  return {one, two, three};
}

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override { SetDialogRunner(&Runner); }
  void TearDown() override { SetDialogRunner(nullptr); }

  void Open(Twnd_oe_Main& window, const std::string& path) {
    Runner.Answers.push_back(W(path));
    Command(window, IDM_OPEN);
  }

  TTestRunner Runner;
  TTempDir Dir;
};
} // namespace

TEST_F(WindowTest, StartsEmptyWithItsMenuColumnsAndPanels) {
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  EXPECT_EQ(Caption(window.Handle), L"Postvue");
  EXPECT_EQ(PanelText(window.sb, 0), L"");
  EXPECT_EQ(PanelText(window.sb, 1), L"");
  EXPECT_EQ(RowCount(window.List), 0);

  wchar_t text[64];
  GetMenuStringW(window.MainMenu, 0, text, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(text), L"&File");
  std::vector<std::wstring> items;
  for (int i = 0; i < GetMenuItemCount(window.File1); ++i) {
    if (GetMenuStringW(window.File1, static_cast<UINT>(i), text, 64, MF_BYPOSITION) == 0)
      items.push_back(L"-");
    else
      items.push_back(text);
  }
  EXPECT_EQ(items, (std::vector<std::wstring>{L"Open...\tCtrl+O", L"-", L"Save...\tCtrl+S", L"-",
                                              L"Read message...\tCtrl+R", L"View message data...", L"-",
                                              L"Find...\tCtrl+F", L"-", L"Exit"}));
  ACCEL keys[5];
  ASSERT_EQ(CopyAcceleratorTableW(window.Accelerators, keys, 5), 4);
  EXPECT_EQ(keys[0].key, 'O');
  EXPECT_EQ(keys[0].cmd, IDM_OPEN);
  EXPECT_EQ(keys[1].key, 'S');
  EXPECT_EQ(keys[1].cmd, IDM_SAVE);
  EXPECT_EQ(keys[2].key, 'R');
  EXPECT_EQ(keys[2].cmd, IDM_READ);
  EXPECT_EQ(keys[3].key, 'F');
  EXPECT_EQ(keys[3].cmd, IDM_FIND);
  EXPECT_FALSE(IsWindowVisible(window.FindEdit)); // until Find... opens it

  const std::pair<const wchar_t*, int> columns[9] = {{L"", LVCFMT_LEFT},          {L"#", LVCFMT_CENTER},
                                                     {L"Attachment", LVCFMT_LEFT}, {L"Priority", LVCFMT_LEFT},
                                                     {L"Flag", LVCFMT_LEFT},       {L"Sender", LVCFMT_LEFT},
                                                     {L"Subject", LVCFMT_LEFT},    {L"Received", LVCFMT_LEFT},
                                                     {L"Size [B]", LVCFMT_RIGHT}};
  const int widths[9] = {1, 35, 25, 25, 25, 150, 270, 120, 75};
  for (int i = 0; i < 9; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.pszText = text;
    column.cchTextMax = 64;
    ASSERT_TRUE(SendMessageW(window.List, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)));
    EXPECT_EQ(std::wstring(text), columns[i].first);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, columns[i].second);
    if (i == 0)
      EXPECT_EQ(column.cx, 1);
    else
      EXPECT_GE(column.cx, widths[i]) << i; // wider where the font and the screen need it
  }
  // Column 0 cannot be widened; the others can.
  SendMessageW(window.List, LVM_SETCOLUMNWIDTH, 0, 40);
  EXPECT_EQ(SendMessageW(window.List, LVM_GETCOLUMNWIDTH, 0, 0), 1);
  SendMessageW(window.List, LVM_SETCOLUMNWIDTH, 6, 300);
  EXPECT_EQ(SendMessageW(window.List, LVM_GETCOLUMNWIDTH, 6, 0), 300);

  const LONG style = GetWindowLongW(window.List, GWL_STYLE);
  const LONG wanted = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_FALSE(style & LVS_NOSORTHEADER); // a click on a header sorts
  EXPECT_TRUE(ListView_GetExtendedListViewStyle(window.List) & LVS_EX_FULLROWSELECT);
  int parts[2] = {};
  ASSERT_EQ(SendMessageW(window.sb, SB_GETPARTS, 2, reinterpret_cast<LPARAM>(parts)), 2);
  EXPECT_EQ(parts[0], Scaled(100));
  EXPECT_EQ(parts[1], -1);

  RECT frame{};
  GetWindowRect(window.Handle, &frame);
  EXPECT_GE(frame.right - frame.left, Scaled(758)); // or as wide as its columns
  EXPECT_EQ(frame.bottom - frame.top, Scaled(571));
}

// Drags a divider of the header by the mouse's messages, from x to x + by.
void DragDivider(HWND header, int x, int by) {
  const int y = 4;
  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + by / 2, y));
  SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + by, y));
  SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(x + by, y));
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

TEST_F(WindowTest, Column0CannotBeDraggedWider) {
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  const HWND header = ListView_GetHeader(window.List);
  auto width = [&](int column) { return static_cast<int>(SendMessageW(window.List, LVM_GETCOLUMNWIDTH, column, 0)); };
  DragDivider(header, 1, 60);
  EXPECT_EQ(width(0), 1);
  // The same drag on the next divider widens its column.
  const int before = width(1);
  DragDivider(header, 1 + before, 60);
  EXPECT_EQ(width(1), before + 60);
  EXPECT_EQ(width(0), 1);
}

TEST_F(WindowTest, LoadsAStoreIntoRowsCaptionAndPanels) {
  const std::string path = Dir / "Inbox.dbx";
  MakeDbx(ThreeMessages(), TDbxOptions{"Inbox \x80", 51, 512}).WriteFile(path);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  Open(window, path);
  EXPECT_TRUE(Runner.Boxes.empty());
  ASSERT_EQ(Runner.Dialogs.size(), 1u);
  EXPECT_EQ(Runner.Dialogs[0].Filter, L"Outlook databases|*.dbx;*.mbx|All files|*.*|");
  EXPECT_EQ(Runner.Dialogs[0].DefaultExtension, L"dbx");
  EXPECT_EQ(Runner.Dialogs[0].FilterIndex, 1u);
  const DWORD openFlags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
  EXPECT_EQ(Runner.Dialogs[0].Flags & openFlags, openFlags);

  // The store's 8-bit texts through the ANSI code page (1252 here).
  EXPECT_EQ(Caption(window.Handle), L"Postvue - [Inbox \u20ac]");
  EXPECT_EQ(ApplicationTitle(), L"Postvue - [Inbox \u20ac]");
  EXPECT_EQ(PanelText(window.sb, 0), L"Count: 3");
  EXPECT_EQ(PanelText(window.sb, 1), W(path));
  ASSERT_EQ(RowCount(window.List), 3);
  const std::vector<std::vector<std::wstring>> rows = {
      {L"", L"0", L"", L"", L"", L"Sender of one", L"one"},
      {L"", L"1", L"", L"High", L"Yes", L"two@example.org", L"two \u201cquoted\u201d"},
      {L"", L"2", L"Yes", L"Low", L"", L"Sender of three", L"three"},
  };
  const int images[3] = {-1, -2, -1};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 7; ++column)
      EXPECT_EQ(ItemText(window.List, row, column), rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)])
          << row << "," << column;
    EXPECT_EQ(ImageIndex(window.List, row), images[row]);
    EXPECT_EQ(DrawsBold(window, row, false), images[row] == -2);
    EXPECT_EQ(DrawsBold(window, row, true), images[row] == -2);
  }
  // Received: the short date with four-digit years, the time unless midnight.
  const std::wstring none = ItemText(window.List, 0, 7), midnight = ItemText(window.List, 1, 7),
                     afternoon = ItemText(window.List, 2, 7);
  EXPECT_NE(none.find(L"1899"), std::wstring::npos) << none;
  EXPECT_EQ(none.find(L' '), std::wstring::npos) << none;
  EXPECT_NE(midnight.find(L"2004"), std::wstring::npos) << midnight;
  EXPECT_EQ(midnight.find(L' '), std::wstring::npos) << midnight;
  EXPECT_NE(afternoon.find(L"2003"), std::wstring::npos) << afternoon;
  EXPECT_NE(afternoon.find(L":05:09"), std::wstring::npos) << afternoon;
  EXPECT_FALSE(ItemText(window.List, 0, 8).empty());
}

TEST_F(WindowTest, MbxCaptionIsTheFileNameAsTheFileSystemGivesIt) {
  const std::string path = Dir / "Entw\xc3\xbcrfe.mbx"; // UTF-8
  const std::string bytes = MakeMbx({{"Subject: a\r\n\r\nbody", 1}}).Str();
  FILE* file = _wfopen(W(path).c_str(), L"wb");
  ASSERT_TRUE(file);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  Twnd_oe_Main window({L"postvue.exe", W(path)});
  window.Show(SW_SHOWNORMAL);
  SendMessageW(window.Handle, WM_FORMSHOW, 0, 0); // as the message loop would
  EXPECT_TRUE(Runner.Boxes.empty());
  EXPECT_EQ(Caption(window.Handle), L"Postvue - [Entw\u00fcrfe]");
  EXPECT_EQ(RowCount(window.List), 1);
}

// A store dropped onto the window (as Explorer drops it: an HDROP of wide
// paths) opens as one named on the command line.
TEST_F(WindowTest, DroppedStoreOpens) {
  const std::string path = Dir / "\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4\xd1\x8f\xd1\x89\xd0\xb8\xd0\xb5.dbx"; // UTF-8
  const std::string bytes = MakeDbx(ThreeMessages(), TDbxOptions{"Inbox", 51, 512}).Str();
  FILE* file = _wfopen(W(path).c_str(), L"wb");
  ASSERT_TRUE(file);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  const std::wstring wide = W(path);
  // DROPFILES, then the paths, each ended by a zero, and one zero more.
  const std::size_t size = sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t);
  const HGLOBAL memory = GlobalAlloc(GHND, size);
  ASSERT_TRUE(memory);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::copy(wide.begin(), wide.end(), reinterpret_cast<wchar_t*>(drop + 1));
  GlobalUnlock(memory);
  SendMessageW(window.Handle, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0); // the window frees it
  EXPECT_TRUE(Runner.Boxes.empty());
  EXPECT_EQ(Caption(window.Handle), L"Postvue - [Inbox]");
  EXPECT_EQ(PanelText(window.sb, 1), wide);
  EXPECT_EQ(RowCount(window.List), 3);
}

struct TFailure {
  const char* Name;
  std::string Bytes; // empty: no file there
  std::wstring Box;  // empty: "Cannot open file <path>."
};

class FailedLoad : public WindowTest, public ::testing::WithParamInterface<TFailure> {};

// No reader: the box, headed by the title; an empty list; the window as at start.
TEST_P(FailedLoad, ShowsTheBoxAndNoStore) {
  const std::string good = Dir / "good.dbx";
  MakeDbx(ThreeMessages(), TDbxOptions{"Good", 51, 512}).WriteFile(good);
  const std::string bad = Dir / "bad.dbx";
  if (!GetParam().Bytes.empty()) WriteFileBytes(bad, GetParam().Bytes);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  Open(window, good);
  Open(window, bad);
  ASSERT_EQ(Runner.Boxes.size(), 1u);
  EXPECT_EQ(Runner.Boxes[0].Text, GetParam().Box.empty() ? L"Cannot open file " + W(bad) + L"." : GetParam().Box);
  EXPECT_EQ(Runner.Boxes[0].Title, L"Postvue");
  EXPECT_EQ(RowCount(window.List), 0);
  EXPECT_EQ(Caption(window.Handle), L"Postvue");
  EXPECT_EQ(PanelText(window.sb, 0), L"");
  EXPECT_EQ(window.CurrentReader(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Stores, FailedLoad,
                         ::testing::Values(TFailure{"Missing", "", L""},
                                           TFailure{"Short", "\xCF\xAD\x12", L"Stream read error."},
                                           TFailure{"Unsupported", "JMF5 not a store",
                                                    L"File is not in supported format."}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WindowTest, ViewShowsTheSelectedMessageAndSaveWritesIt) {
  const std::string path = Dir / "Inbox.dbx";
  MakeDbx(ThreeMessages()).WriteFile(path);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  Open(window, path);

  // Nothing selected: neither command does anything.
  EXPECT_FALSE(View(window).Seen);
  Command(window, IDM_SAVE);
  EXPECT_EQ(Runner.Dialogs.size(), 1u);

  SelectRow(window.List, 1);
  const TViewSeen seen = View(window);
  ASSERT_TRUE(seen.Seen);
  EXPECT_EQ(seen.Caption, L"Message Data");
  EXPECT_EQ(seen.Text, L"A: 1\r\nB\r\nC");
  EXPECT_EQ(seen.Button, L"Close");
  EXPECT_TRUE(seen.ReadOnly);
  EXPECT_TRUE(seen.Focused);
  EXPECT_EQ(seen.Size.cx, Scaled(579));
  EXPECT_EQ(seen.Size.cy, Scaled(441));
  RECT frame{};
  GetWindowRect(window.Handle, &frame);
  EXPECT_LE(std::abs(seen.Centre.x - (frame.left + frame.right) / 2), 1);
  EXPECT_LE(std::abs(seen.Centre.y - (frame.top + frame.bottom) / 2), 1);
  EXPECT_FALSE(FindWindowW(L"Twnd_oe_View", nullptr)); // gone once closed
  EXPECT_TRUE(IsWindowEnabled(window.Handle));

  // A double click on the row, and the close box, do the same.
  SelectRow(window.List, 2);
  TViewSeen clicked;
  gViewSeen = &clicked;
  gCloseWith = WM_CLOSE;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, RecordView);
  NMHDR click{window.List, IDC_LIST, static_cast<UINT>(NM_DBLCLK)};
  SendMessageW(window.Handle, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&click));
  KillTimer(nullptr, timer);
  gViewSeen = nullptr;
  EXPECT_TRUE(clicked.Seen);
  EXPECT_EQ(clicked.Text, L"last"); // up to the zero byte

  const std::string out = Dir / "message.eml";
  SelectRow(window.List, 1);
  Runner.Answers.push_back(W(out));
  Command(window, IDM_SAVE);
  ASSERT_EQ(Runner.Dialogs.size(), 2u);
  EXPECT_EQ(Runner.Dialogs[1].Filter, L"E-Mail files|*.eml|All files|*.*|");
  EXPECT_EQ(Runner.Dialogs[1].DefaultExtension, L"eml");
  EXPECT_TRUE(Runner.Dialogs[1].Flags & OFN_OVERWRITEPROMPT);
  EXPECT_TRUE(Runner.Boxes.empty());
  EXPECT_EQ(ReadFileBytes(out), "A: 1\r\nB\r\nC\r\n");
  EXPECT_EQ(PanelText(window.sb, 0), L"Count: 3");

  // Tab moves from the text to Close, and Space there closes the window.
  TKeysSeen keys;
  gKeysSeen = &keys;
  const UINT_PTR keyTimer = SetTimer(nullptr, 0, 20, PressKeys);
  Command(window, IDM_VIEW);
  KillTimer(nullptr, keyTimer);
  gKeysSeen = nullptr;
  EXPECT_TRUE(keys.TabReachedClose);
  EXPECT_TRUE(keys.ClosedBySpace);

  // Exit closes the window.
  Command(window, IDM_EXIT);
  EXPECT_EQ(window.Handle, nullptr);
}

namespace {
// Steps run in the reading window from inside its modal run, one a tick, on
// the reading window that takes input (a nested one disables its owner).
// A window the steps leave open is closed by its close box.
struct TReadSteps {
  std::vector<std::function<void(HWND)>> Steps;
  std::size_t Next = 0;
  bool LeftOpen = false;
};
TReadSteps* gReadSteps = nullptr;

HWND ActiveReadWindow() {
  for (HWND window = FindWindowW(L"Twnd_oe_Read", nullptr); window;
       window = FindWindowExW(nullptr, window, L"Twnd_oe_Read", nullptr))
    if (IsWindowVisible(window) && IsWindowEnabled(window)) return window;
  return nullptr;
}

void CALLBACK RunReadStep(HWND, UINT, UINT_PTR, DWORD) {
  const HWND read = ActiveReadWindow();
  if (!read || !gReadSteps) return;
  TReadSteps& steps = *gReadSteps;
  if (steps.Next < steps.Steps.size()) {
    steps.Steps[steps.Next++](read);
  } else {
    steps.LeftOpen = true;
    PostMessageW(read, WM_CLOSE, 0, 0);
  }
}

// Opens the reading window by sending open to the main window, runs steps in it.
bool RunReading(const Twnd_oe_Main& window, const std::function<void()>& open,
                std::vector<std::function<void(HWND)>> steps) {
  TReadSteps run{std::move(steps)};
  gReadSteps = &run;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, RunReadStep);
  open();
  KillTimer(nullptr, timer);
  gReadSteps = nullptr;
  EXPECT_EQ(run.Next, run.Steps.size()) << "the window closed before its steps ran";
  EXPECT_FALSE(FindWindowW(L"Twnd_oe_Read", nullptr)); // gone once closed
  EXPECT_TRUE(IsWindowEnabled(window.Handle));
  return !run.LeftOpen;
}

std::wstring ControlText(HWND read, int id) {
  const HWND control = GetDlgItem(read, id);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

bool Shows(HWND read, int id) { return IsWindowVisible(GetDlgItem(read, id)) != FALSE; }
bool Enabled(HWND read, int id) { return IsWindowEnabled(GetDlgItem(read, id)) != FALSE; }
void Press(HWND read, int id) { SendMessageW(read, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
void PressKey(UINT message, WPARAM key, LPARAM flags = 1) { PostMessageW(GetFocus(), message, key, flags); }
// Holds a modifier key down (or lets it go) as the thread's key state tells it.
void HoldKey(int key, bool down) {
  BYTE state[256];
  GetKeyboardState(state);
  state[key] = down ? 0x80 : 0;
  SetKeyboardState(state);
}

int SelectedRow(HWND list) {
  return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::vector<TTestMessage> ReadableMessages() {
  TTestMessage plain{"first", "Ann", "", 0x80, 3, 0, 0,
                     "From: Ann <ann@example.org>\r\nTo: Ben <ben@example.org>\r\n"
                     "Date: Tue, 15 Mar 2005 10:21:07 +0000\r\n"
                     "Subject: =?koi8-r?B?8NLP1M/Lz8w=?=\r\nContent-Type: text/plain; charset=koi8-r\r\n\r\n"
                     "\xfa\xc4\xd2\xc1\xd7\xd3\xd4\xd7\xd5\xca\xd4\xc5\r\n"};
  TTestMessage attached{"second", "Ben", "", 0x4080, 3, 0, 0,
                        "From: Ben <ben@example.org>\r\nTo: Ann <ann@example.org>\r\nCc: Carl <carl@example.org>\r\n"
                        "Subject: Two files\r\nMIME-Version: 1.0\r\n"
                        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                        "--b\r\nContent-Type: text/plain\r\n\r\nThe files.\r\n"
                        "--b\r\nContent-Type: text/plain; name=\"notes.txt\"\r\n"
                        "Content-Disposition: attachment; filename=\"notes.txt\"\r\n\r\nnote one\r\n"
                        "--b\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\nAAEC/w==\r\n--b--\r\n"};
  return {plain, attached};
}
} // namespace

TEST_F(WindowTest, ReadOpensFromTheMenuAndByEnterStepsThroughTheStoreAndEscapeCloses) {
  const std::string path = Dir / "Inbox.dbx";
  MakeDbx(ReadableMessages()).WriteFile(path);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  Open(window, path);
  SelectRow(window.List, 0);

  std::wstring caption, from, date, body, nextCaption, cc;
  bool ccShownFirst = true, previousFirst = true, nextFirst = false, nextLast = true, previousLast = false;
  int rowAfterNext = -1;
  const bool closedByEscape = RunReading(window, [&] { Command(window, IDM_READ); },
                                         {[&](HWND read) {
                                            caption = Caption(read);
                                            from = ControlText(read, IDC_READ_FROM);
                                            date = ControlText(read, IDC_READ_DATE);
                                            body = ControlText(read, IDC_READ_BODY);
                                            ccShownFirst = Shows(read, IDC_READ_CC);
                                            previousFirst = Enabled(read, IDC_READ_PREVIOUS);
                                            nextFirst = Enabled(read, IDC_READ_NEXT);
                                            // Ctrl+".": Next, as a mail program has it.
                                            HoldKey(VK_CONTROL, true);
                                            PressKey(WM_KEYDOWN, VK_OEM_PERIOD);
                                          },
                                          [&](HWND read) {
                                            HoldKey(VK_CONTROL, false);
                                            nextCaption = Caption(read);
                                            cc = ControlText(read, IDC_READ_CC);
                                            nextLast = Enabled(read, IDC_READ_NEXT);
                                            previousLast = Enabled(read, IDC_READ_PREVIOUS);
                                            rowAfterNext = SelectedRow(window.List);
                                            PressKey(WM_KEYDOWN, VK_ESCAPE);
                                          }});
  EXPECT_TRUE(closedByEscape);
  EXPECT_TRUE(Runner.Boxes.empty());
  // Decoded, in Unicode: koi8-r text, whatever the ANSI code page.
  EXPECT_EQ(caption, L"\u041f\u0440\u043e\u0442\u043e\u043a\u043e\u043b");
  EXPECT_EQ(from, L"Ann <ann@example.org>");
  EXPECT_NE(date.find(L"2005"), std::wstring::npos) << date;
  EXPECT_EQ(body, L"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439\u0442\u0435");
  EXPECT_FALSE(ccShownFirst);
  EXPECT_FALSE(previousFirst);
  EXPECT_TRUE(nextFirst);
  EXPECT_EQ(nextCaption, L"Two files");
  EXPECT_EQ(cc, L"Carl <carl@example.org>");
  EXPECT_FALSE(nextLast);
  EXPECT_TRUE(previousLast);
  EXPECT_EQ(rowAfterNext, 1); // the list follows, so the user is back where they read

  // Enter on a row reads it too; Previous goes back.
  std::wstring entered, previous;
  RunReading(window,
             [&] {
               NMHDR enter{window.List, IDC_LIST, static_cast<UINT>(NM_RETURN)};
               SendMessageW(window.Handle, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&enter));
             },
             {[&](HWND read) {
                entered = Caption(read);
                Press(read, IDC_READ_PREVIOUS);
              },
              [&](HWND read) {
                previous = Caption(read);
                Press(read, IDC_READ_CLOSE);
              }});
  EXPECT_EQ(entered, L"Two files");
  EXPECT_EQ(previous, L"\u041f\u0440\u043e\u0442\u043e\u043a\u043e\u043b");
  EXPECT_EQ(SelectedRow(window.List), 0);
}

TEST_F(WindowTest, ReadingWindowSavesOneAndAllAttachments) {
  const std::string path = Dir / "Inbox.dbx";
  MakeDbx(ReadableMessages()).WriteFile(path);
  const std::string folder = Dir / "saved";
  std::filesystem::create_directory(folder);
  WriteFileBytes(folder + "/notes.txt", "mine"); // taken: save all replaces nothing
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  Open(window, path);
  SelectRow(window.List, 1);

  const std::string one = Dir / "one.txt";
  Runner.Answers.push_back(W(one));
  Runner.Folders.push_back(W(folder));
  std::wstring offered;
  int attachments = 0;
  RunReading(window, [&] { Command(window, IDM_READ); },
             {[&](HWND read) {
                const HWND list = GetDlgItem(read, IDC_READ_ATTACHMENTS);
                attachments = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
                // The first is selected: Save attachment... saves it.
                Press(read, IDC_READ_SAVEATTACHMENT);
                offered = Runner.Dialogs.back().Offered;
                Press(read, IDC_READ_SAVEALL);
                Press(read, IDC_READ_CLOSE);
              }});
  EXPECT_TRUE(Runner.Boxes.empty());
  EXPECT_EQ(attachments, 2);
  EXPECT_EQ(offered, L"notes.txt");
  EXPECT_EQ(ReadFileBytes(one), "note one");
  EXPECT_EQ(ReadFileBytes(folder + "/notes.txt"), "mine");
  EXPECT_EQ(ReadFileBytes(folder + "/notes (2).txt"), "note one");
  EXPECT_EQ(ReadFileBytes(folder + "/data.bin"), std::string("\x00\x01\x02\xff", 4));
  ASSERT_EQ(Runner.Reports.size(), 1u);
  EXPECT_NE(Runner.Reports[0].find(L"2"), std::wstring::npos) << Runner.Reports[0];
}

namespace {
// Subjects behind reply and forward prefixes; "zebra" stands only in two texts.
std::vector<TTestMessage> FruitMessages() {
  const auto message = [](std::string subject, std::string sender, std::string body) {
    return TTestMessage{subject, sender, "", 0x80, 3, 0, 0,
                        "From: " + sender + "\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n"};
  };
  return {message("Re: pears", "Ann", "ripe"), message("apples", "Ben Cherry", "the zebra ate them"),
          message("cherries", "Carl", "hello"), message("Fwd: bananas", "Dora", "a zebra too")};
}

// The "#" texts of the rows shown, top to bottom.
std::vector<std::wstring> Numbers(HWND list) {
  std::vector<std::wstring> numbers;
  for (int row = 0; row < RowCount(list); ++row) numbers.push_back(ItemText(list, row, 1));
  return numbers;
}

// The header's sort marks: per column 0, HDF_SORTUP or HDF_SORTDOWN.
std::vector<int> SortMarks(HWND list) {
  std::vector<int> marks;
  for (int column = 0; column < 9; ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(ListView_GetHeader(list), HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    marks.push_back(item.fmt & (HDF_SORTUP | HDF_SORTDOWN));
  }
  return marks;
}

// A click of the mouse on the middle of a column's header.
void ClickHeader(HWND list, int column) {
  const HWND header = ListView_GetHeader(list);
  RECT box{};
  SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&box));
  const LPARAM at = MAKELPARAM((box.left + box.right) / 2, (box.top + box.bottom) / 2);
  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(header, WM_LBUTTONUP, 0, at);
}

std::vector<int> MarkOn(int column, int mark) {
  std::vector<int> marks(9, 0);
  if (column >= 0) marks[static_cast<std::size_t>(column)] = mark;
  return marks;
}
} // namespace

TEST_F(WindowTest, FindFiltersAsTypedSearchesTheTextsAndHeadersSort) {
  const std::string path = Dir / "Fruit.dbx";
  MakeDbx(FruitMessages()).WriteFile(path);
  Twnd_oe_Main window({L"postvue.exe"});
  window.Show(SW_SHOWNORMAL);
  Open(window, path);
  SelectRow(window.List, 2);

  // Typing filters by sender and subject; the rows keep their numbers and
  // the selected message stays selected, there and after the edit is emptied.
  Command(window, IDM_FIND);
  ASSERT_TRUE(IsWindowVisible(window.FindEdit));
  SetWindowTextW(window.FindEdit, L"CHERR");
  EXPECT_EQ(Numbers(window.List), (std::vector<std::wstring>{L"1", L"2"}));
  EXPECT_EQ(Caption(window.FindStatus), L"Found: 2");
  EXPECT_EQ(SelectedRow(window.List), 1);
  EXPECT_NE(View(window).Text.find(L"hello"), std::wstring::npos); // View reads the found row's message
  SetWindowTextW(window.FindEdit, L"");
  EXPECT_EQ(Numbers(window.List), (std::vector<std::wstring>{L"0", L"1", L"2", L"3"}));
  EXPECT_EQ(SelectedRow(window.List), 2);
  EXPECT_EQ(Caption(window.FindStatus), L"");

  // Subject without its prefixes, then reversed; the reading window's Next follows.
  ClickHeader(window.List, 6);
  EXPECT_EQ(Numbers(window.List), (std::vector<std::wstring>{L"1", L"3", L"2", L"0"}));
  EXPECT_EQ(SortMarks(window.List), MarkOn(6, HDF_SORTUP));
  ClickHeader(window.List, 6);
  EXPECT_EQ(Numbers(window.List), (std::vector<std::wstring>{L"0", L"2", L"3", L"1"}));
  EXPECT_EQ(SortMarks(window.List), MarkOn(6, HDF_SORTDOWN));
  EXPECT_EQ(SelectedRow(window.List), 1);
  EXPECT_EQ(window.NeighbourIndex(2, 1), 3);

  // Enter searches the texts on their own threads; the result keeps the sort.
  SetWindowTextW(window.FindEdit, L"zebra");
  EXPECT_EQ(RowCount(window.List), 0);
  SendMessageW(window.FindEdit, WM_KEYDOWN, VK_RETURN, 1);
  for (int i = 0; i < 3000 && Caption(window.FindStatus).rfind(L"Found", 0) != 0; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(5);
  }
  EXPECT_EQ(Caption(window.FindStatus), L"Found: 2");
  EXPECT_EQ(Numbers(window.List), (std::vector<std::wstring>{L"3", L"1"}));

  // Escape closes the bar: every row again; "#" is store order.
  SendMessageW(window.FindEdit, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_FALSE(IsWindowVisible(window.FindEdit));
  EXPECT_EQ(RowCount(window.List), 4);
  ClickHeader(window.List, 1);
  EXPECT_EQ(Numbers(window.List), (std::vector<std::wstring>{L"0", L"1", L"2", L"3"}));
  EXPECT_EQ(SortMarks(window.List), MarkOn(1, HDF_SORTUP));
  EXPECT_TRUE(Runner.Boxes.empty());
}
