#include "Main.h"

#include "ReadView.h"
#include "View.h"
#include "ViewerLayout.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>

namespace postvue {

namespace {
constexpr wchar_t kMainClass[] = L"Twnd_oe_Main";
// The timer that polls a search of the texts, and how often (ms): often
// enough for the progress to move smoothly.
constexpr UINT_PTR kSearchTimer = 1;
constexpr UINT kSearchPollMs = 50;

int ColumnFormat(TColumnAlign align) {
  return align == TColumnAlign::Center ? LVCFMT_CENTER : align == TColumnAlign::Right ? LVCFMT_RIGHT : LVCFMT_LEFT;
}

// "Name\0*.a;*.b\0" for each filter, ended by a second zero, as the file dialogs take them.
std::wstring DialogFilter(const std::array<TFileFilter, 2>& filters) {
  std::wstring out;
  for (const TFileFilter& filter : filters) {
    out += Wide(filter.Name);
    out += L'\0';
    std::wstring patterns;
    for (const std::string_view extension : filter.Extensions)
      if (!extension.empty()) patterns += (patterns.empty() ? L"*." : L";*.") + Wide(extension);
    out += patterns.empty() ? L"*.*" : patterns;
    out += L'\0';
  }
  return out;
}

std::wstring gApplicationTitle = L"Postvue";
TDialogRunner gPlatformRunner;
TDialogRunner* gRunner = &gPlatformRunner;

int ScreenDpi() {
  static const int dpi = [] {
    const HDC screen = GetDC(nullptr);
    const int value = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return dpi;
}

// Where the face is missing, the font mapper takes one of the same pitch.
HFONT MakeFont(const wchar_t* face, bool bold, bool fixedPitch) {
  return CreateFontW(-MulDiv(kFontPixelSize, ScreenDpi(), 96), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     fixedPitch ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH | FF_SWISS, face);
}

std::string LocaleText(LCTYPE type) {
  wchar_t buffer[128];
  const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 128);
  return length > 1 ? Utf8(std::wstring_view(buffer, static_cast<std::size_t>(length - 1))) : std::string();
}

std::string AnsiToUtf8(std::string_view bytes) { return Utf8(AnsiWide(bytes)); }

// bytes in codePage as UTF-16; every byte makes at most one unit.
std::wstring WideIn(UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  std::wstring wide(bytes.size(), L'\0');
  const int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                                         static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(std::max(length, 0)));
  return wide;
}

// Column 0 holds the always empty caption and never grows past 1 pixel,
// whoever sets its width through the list or the header.
LRESULT CALLBACK HeaderProc(HWND header, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if ((message == HDM_SETITEMW || message == HDM_SETITEMA) && wParam == 0 && lParam) {
    auto& item = *reinterpret_cast<HDITEMW*>(lParam);
    if ((item.mask & HDI_WIDTH) && item.cxy > 1) item.cxy = 1;
  }
  return DefSubclassProc(header, message, wParam, lParam);
}

// The drag of column 0's divider is refused where the header reports it to
// the list, before the list sees it: not every list passes the start of the
// drag on to its window, and the width changes while the drag goes on.
LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  // Tab from the list goes to the open find bar: its edit, or back to its button.
  const auto& window = *reinterpret_cast<const Twnd_oe_Main*>(data);
  if (message == WM_KEYDOWN && wParam == VK_TAB && window.FindShown) {
    SetFocus(GetKeyState(VK_SHIFT) < 0 ? window.FindButton : window.FindEdit);
    return 0;
  }
  if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->hwndFrom == ListView_GetHeader(list)) {
    // The A and W forms share the fields read here.
    const auto& notice = *reinterpret_cast<NMHEADERW*>(lParam);
    const bool column0 = notice.iItem == 0;
    switch (notice.hdr.code) {
    case HDN_BEGINTRACKW:
    case HDN_BEGINTRACKA:
      if (column0) return TRUE;
      break;
    case HDN_ITEMCHANGINGW:
    case HDN_ITEMCHANGINGA:
      if (column0 && notice.pitem && (notice.pitem->mask & HDI_WIDTH) && notice.pitem->cxy > 1) return TRUE;
      break;
    case HDN_ENDTRACKW:
    case HDN_ENDTRACKA: {
      const LRESULT answer = DefSubclassProc(list, message, wParam, lParam);
      // A header that takes the drag's width all the same gets it put back.
      if (column0) PostMessageW(list, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(1, 0));
      return column0 ? TRUE : answer;
    }
    }
  }
  return DefSubclassProc(list, message, wParam, lParam);
}

// The find bar's edit and button: Enter in the edit searches the texts,
// Escape stops that search or closes the bar, and Tab walks edit, button and
// list (the main window is no dialog, so nothing else moves the focus).
LRESULT CALLBACK FindBarProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto& window = *reinterpret_cast<Twnd_oe_Main*>(data);
  const bool edit = control == window.FindEdit;
  if (message == WM_KEYDOWN) {
    switch (wParam) {
    case VK_RETURN:
      if (!edit) break;
      SendMessageW(window.Handle, WM_COMMAND, MAKEWPARAM(IDC_FINDBUTTON, BN_CLICKED),
                   reinterpret_cast<LPARAM>(window.FindButton));
      return 0;
    case VK_ESCAPE: window.FindEscape(); return 0;
    case VK_TAB: {
      const bool back = GetKeyState(VK_SHIFT) < 0;
      SetFocus(edit == back ? window.List : edit ? window.FindButton : window.FindEdit);
      return 0;
    }
    }
  }
  // Their characters would only beep.
  if (message == WM_CHAR && (wParam == L'\r' || wParam == 0x1b || wParam == L'\t')) return 0;
  return DefSubclassProc(control, message, wParam, lParam);
}

bool IsExistingFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The Qt viewer's words, with the box's own line breaks and tab stops: a
// program without a console answers in a box.
constexpr wchar_t kUsage[] =
    L"Usage: postvue [STORE]\n\n"
    L"Shows the messages of STORE, a .dbx or .mbx mail folder, in a window; without "
    L"STORE, File > Open... picks one.\n\n"
    L"-h, --help\tshow this text\n"
    L"--version\tshow the version\n\n"
    L"postvue-cli lists, prints and exports the same messages at the command line.";

// --help and --version are answered without the main window. A store that
// happens to have one of these names is still opened.
bool AnswerCommandLine(const std::vector<std::wstring>& arguments) {
  if (arguments.size() < 2 || IsExistingFile(arguments[1])) return false;
  const std::wstring& first = arguments[1];
  const std::wstring text = first == L"--help" || first == L"-h" ? kUsage
                            : first == L"--version"              ? L"postvue " POSTVUE_VERSION_W
                                                                 : L"";
  if (text.empty()) return false;
  MessageBoxW(nullptr, text.c_str(), L"Postvue", MB_OK | MB_ICONINFORMATION);
  return true;
}
} // namespace

Twnd_oe_Main* wnd_oe_Main = nullptr;

TDialogRunner::~TDialogRunner() = default;

bool TDialogRunner::RunFileDialog(OPENFILENAMEW& dialog, bool save) {
  return (save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog)) != FALSE;
}

void TDialogRunner::ShowErrorBox(HWND owner, const std::wstring& text, const std::wstring& title) {
  MessageBoxW(owner, text.c_str(), title.c_str(), MB_ICONERROR | MB_OK);
}

void TDialogRunner::ShowInformationBox(HWND owner, const std::wstring& text, const std::wstring& title, bool warning) {
  MessageBoxW(owner, text.c_str(), title.c_str(), (warning ? MB_ICONWARNING : MB_ICONINFORMATION) | MB_OK);
}

std::wstring TDialogRunner::PickFolder(HWND owner) {
  Microsoft::WRL::ComPtr<IFileOpenDialog> dialog;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    Microsoft::WRL::ComPtr<IShellItem> item;
    wchar_t* path = nullptr;
    std::wstring chosen;
    if (SUCCEEDED(dialog->Show(owner)) && SUCCEEDED(dialog->GetResult(&item)) &&
        SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      chosen = path;
      CoTaskMemFree(path);
    }
    return chosen;
  }
  // Systems without the folder picker: the older folder browser.
  BROWSEINFOW browse{};
  browse.hwndOwner = owner;
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&browse);
  if (!list) return {};
  wchar_t path[MAX_PATH] = {};
  const bool found = SHGetPathFromIDListW(list, path);
  CoTaskMemFree(list);
  return found ? path : std::wstring();
}

TDialogRunner& DialogRunner() { return *gRunner; }
void SetDialogRunner(TDialogRunner* runner) { gRunner = runner ? runner : &gPlatformRunner; }

std::wstring Wide(std::string_view utf8) { return WideIn(CP_UTF8, utf8); }

std::wstring AnsiWide(std::string_view bytes) { return WideIn(CP_ACP, bytes); }

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

const std::wstring& ApplicationTitle() { return gApplicationTitle; }

namespace {
// The pixel sizes grow with the screen's dpi, as Windows scales such windows.
// Where the system puts another face in place of "MS Sans Serif" (a wider
// one), they also grow by how much wider its bold letters are, so the texts
// the columns were made to hold still fit.
double PixelScale() {
  static const double scale = [] {
    const double dpiScale = ScreenDpi() / 96.0;
    const HDC screen = GetDC(nullptr);
    const HFONT bold = CreateFontW(-MulDiv(kFontPixelSize, ScreenDpi(), 96), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
    const HGDIOBJ former = SelectObject(screen, bold);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(screen, LF_FACESIZE, face);
    const std::wstring letters = Wide(kReferenceLetters);
    SIZE extent{};
    GetTextExtentPoint32W(screen, letters.c_str(), static_cast<int>(letters.size()), &extent);
    SelectObject(screen, former);
    DeleteObject(bold);
    ReleaseDC(nullptr, screen);
    const std::wstring_view realised(face);
    if (realised == L"MS Sans Serif" || realised == L"Microsoft Sans Serif") return dpiScale;
    return ViewerScaleOf(dpiScale, static_cast<double>(extent.cx) / static_cast<double>(letters.size()));
  }();
  return scale;
}
} // namespace

int Scaled(int pixels) { return ScaledPixels(pixels, PixelScale()); }

HFONT WindowFont(bool bold) {
  static const HFONT regular = MakeFont(L"MS Sans Serif", false, false);
  static const HFONT heavy = MakeFont(L"MS Sans Serif", true, false);
  return bold ? heavy : regular;
}

HFONT MemoFont() {
  static const HFONT font = MakeFont(L"Courier New", false, true);
  return font;
}

Twnd_oe_Main::Twnd_oe_Main(std::vector<std::wstring> arguments) : Arguments(std::move(arguments)) {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ObjectWindowProc<Twnd_oe_Main>;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;

  MainMenu = CreateMenu();
  File1 = CreatePopupMenu();
  const auto withKey = [](std::string_view caption, char key) { return Wide(caption) + L"\tCtrl+" + wchar_t(key); };
  AppendMenuW(File1, MF_STRING, IDM_OPEN, withKey(kOpenCaption, kOpenKey).c_str());
  AppendMenuW(File1, MF_SEPARATOR, 0, nullptr); // N2
  AppendMenuW(File1, MF_STRING, IDM_SAVE, withKey(kSaveCaption, kSaveKey).c_str());
  AppendMenuW(File1, MF_SEPARATOR, 0, nullptr); // N1
  AppendMenuW(File1, MF_STRING, IDM_READ, withKey(kReadCaption, kReadKey).c_str());
  AppendMenuW(File1, MF_STRING, IDM_VIEW, Wide(kViewCaption).c_str());
  AppendMenuW(File1, MF_SEPARATOR, 0, nullptr); // N3
  AppendMenuW(File1, MF_STRING, IDM_FIND, withKey(kFindCaption, kFindKey).c_str());
  AppendMenuW(File1, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(File1, MF_STRING, IDM_EXIT, Wide(kExitCaption).c_str());
  AppendMenuW(MainMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(File1), Wide(kFileMenuCaption).c_str());
  ACCEL keys[] = {{FCONTROL | FVIRTKEY, kOpenKey, IDM_OPEN},
                  {FCONTROL | FVIRTKEY, kSaveKey, IDM_SAVE},
                  {FCONTROL | FVIRTKEY, kReadKey, IDM_READ},
                  {FCONTROL | FVIRTKEY, kFindKey, IDM_FIND}};
  Accelerators = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));

  // Centred on the screen's work area.
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  // Never larger than the screen, however large the dpi and the font make it.
  const int width = std::min<int>(Scaled(kMainWidth), area.right - area.left);
  const int height = std::min<int>(Scaled(kMainHeight), area.bottom - area.top);
  wnd_oe_Main = this;
  Handle = CreateWindowExW(0, kMainClass, L"Postvue", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2,
                           width, height, nullptr, MainMenu, GetModuleHandleW(nullptr), this);
}

Twnd_oe_Main::~Twnd_oe_Main() {
  if (Handle) DestroyWindow(Handle);
  if (Accelerators) DestroyAcceleratorTable(Accelerators);
  if (wnd_oe_Main == this) wnd_oe_Main = nullptr;
}

void Twnd_oe_Main::Show(int showCommand) {
  ShowWindow(Handle, showCommand);
  UpdateWindow(Handle);
  // Once the window is on screen: a load that fails shows its box over it.
  PostMessageW(Handle, WM_FORMSHOW, 0, 0);
}

LRESULT Twnd_oe_Main::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_CREATE:
    CreateControls();
    FormCreate();
    DragAcceptFiles(Handle, TRUE);
    return 0;
  case WM_DROPFILES: {
    // A store dropped onto the window opens as one named on the command line;
    // of several, the first.
    const auto drop = reinterpret_cast<HDROP>(wParam);
    std::wstring path(DragQueryFileW(drop, 0, nullptr, 0), L'\0');
    if (!path.empty()) DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
    DragFinish(drop);
    if (!path.empty()) RunGuarded([&] { LoadFile(path); });
    return 0;
  }
  case WM_FORMSHOW:
    RunCommand(&Twnd_oe_Main::FormShow);
    return 0;
  case WM_SIZE:
    Layout();
    return 0;
  case WM_SETFOCUS:
    SetFocus(List);
    return 0;
  case WM_SETCURSOR:
    if (Wait.Keep()) return TRUE;
    break;
  case WM_COMMAND:
    switch (LOWORD(wParam)) {
    case IDM_OPEN: RunCommand(&Twnd_oe_Main::cmOpen); return 0;
    case IDM_SAVE: RunCommand(&Twnd_oe_Main::cmSave); return 0;
    case IDM_VIEW: RunCommand(&Twnd_oe_Main::cmView); return 0;
    case IDM_READ: RunCommand(&Twnd_oe_Main::cmRead); return 0;
    case IDM_EXIT: RunCommand(&Twnd_oe_Main::cmExit); return 0;
    case IDM_FIND: RunCommand(&Twnd_oe_Main::cmFind); return 0;
    case IDC_FINDEDIT:
      if (HIWORD(wParam) == EN_CHANGE && !SettingFindText) RunGuarded([&] { FindInList(Utf8(FindText())); });
      return 0;
    case IDC_FINDBUTTON:
      if (HIWORD(wParam) == BN_CLICKED) RunGuarded([&] { SearchTexts(Utf8(FindText())); });
      return 0;
    }
    break;
  case WM_TIMER:
    if (wParam == kSearchTimer) RunGuarded([&] { PollTextSearch(); });
    return 0;
  case WM_NOTIFY:
    return OnNotify(*reinterpret_cast<NMHDR*>(lParam));
  case WM_DESTROY:
    Handle = nullptr;
    if (QuitOnDestroy) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(Handle, message, wParam, lParam);
}

void Twnd_oe_Main::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  // Whole-row single selection, kept visible without the focus; a click on
  // a header sorts; the list asks for its texts.
  CreateFindBar();
  List = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                             LVS_OWNERDATA,
                         0, 0, 0, 0, Handle, reinterpret_cast<HMENU>(IDC_LIST), instance, nullptr);
  SendMessageW(List, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  ListView_SetExtendedListViewStyle(List, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  // Every column holds its widest usual text in bold, with the cell's margins.
  const TLocaleFormat format = UserFormat();
  const HDC canvas = GetDC(List);
  const HGDIOBJ former = SelectObject(canvas, WindowFont(true));
  for (std::size_t i = 0; i < kListColumns.size(); ++i) {
    const auto samples = ColumnSamples(static_cast<int>(i), format);
    int widest = 0;
    for (const auto& sample : samples) {
      const std::wstring text = Wide(sample);
      SIZE extent{};
      GetTextExtentPoint32W(canvas, text.c_str(), static_cast<int>(text.size()), &extent);
      widest = std::max<int>(widest, extent.cx + Scaled(14));
    }
    const int width = ColumnStartWidth(static_cast<int>(i), PixelScale(), ScreenDpi() / 96.0, widest, !samples.empty());
    const std::wstring caption = Wide(kListColumns[i].Caption);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = ColumnFormat(kListColumns[i].Align);
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(caption.c_str());
    column.iSubItem = static_cast<int>(i);
    SendMessageW(List, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  SelectObject(canvas, former);
  ReleaseDC(List, canvas);
  FitColumns();
  SetWindowSubclass(ListView_GetHeader(List), HeaderProc, 0, 0);
  SetWindowSubclass(List, ListProc, 0, reinterpret_cast<DWORD_PTR>(this));
  sb = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, Handle,
                       reinterpret_cast<HMENU>(IDC_STATUS), instance, nullptr);
  SendMessageW(sb, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  SendMessageW(sb, SB_SETMINHEIGHT, static_cast<WPARAM>(Scaled(kStatusBarHeight)), 0);
  int parts[2] = {Scaled(kPanel0Width), -1}; // panel 1 stretches to the bar's end
  SendMessageW(sb, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

// The window is as wide as its columns where they need more than its width.
void Twnd_oe_Main::FitColumns() {
  int columns = 0;
  for (int i = 0; i < kListColumnCount; ++i)
    columns += static_cast<int>(SendMessageW(List, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
  RECT frame{}, client{};
  GetWindowRect(Handle, &frame);
  GetClientRect(Handle, &client);
  const int chrome = (frame.right - frame.left) - client.right + GetSystemMetrics(SM_CXVSCROLL) +
                     2 * GetSystemMetrics(SM_CXEDGE);
  const int width = frame.right - frame.left;
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  const int wider = std::min<int>(columns + chrome, area.right - area.left);
  if (wider <= width) return;
  SetWindowPos(Handle, nullptr, std::max<int>(area.left, frame.left - (wider - width) / 2), frame.top, wider,
               frame.bottom - frame.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// The find bar's controls, hidden; the label goes just before the edit, so
// that screen readers name the edit by it.
void Twnd_oe_Main::CreateFindBar() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const auto child = [&](const wchar_t* type, const std::wstring& text, DWORD style, int id, DWORD exStyle = 0) {
    const HWND control = CreateWindowExW(exStyle, type, text.c_str(), WS_CHILD | style, 0, 0, 0, 0, Handle,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    return control;
  };
  FindLabel = child(L"STATIC", Wide(kFindLabel), SS_LEFT | SS_CENTERIMAGE, IDC_FINDLABEL);
  FindEdit = child(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_FINDEDIT, WS_EX_CLIENTEDGE);
  FindButton = child(L"BUTTON", Wide(kSearchTextsCaption), WS_TABSTOP | BS_PUSHBUTTON, IDC_FINDBUTTON);
  FindStatus = child(L"STATIC", L"", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, IDC_FINDSTATUS);
  SetWindowSubclass(FindEdit, FindBarProc, 0, reinterpret_cast<DWORD_PTR>(this));
  SetWindowSubclass(FindButton, FindBarProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

void Twnd_oe_Main::Layout() {
  if (!List || !sb) return;
  SendMessageW(sb, WM_SIZE, 0, 0);
  RECT client{}, bar{};
  GetClientRect(Handle, &client);
  GetWindowRect(sb, &bar);
  const int barHeight = bar.bottom - bar.top;
  // The find bar: label, edit, button and count in one row above the list.
  int top = 0;
  if (FindShown) {
    const int margin = Scaled(4), height = Scaled(kButtonHeight), labelWidth = Scaled(32);
    const int editWidth = Scaled(220), buttonWidth = Scaled(90);
    int x = margin;
    MoveWindow(FindLabel, x, margin, labelWidth, height, TRUE);
    x += labelWidth;
    MoveWindow(FindEdit, x, margin + Scaled(2), editWidth, height - Scaled(4), TRUE);
    x += editWidth + margin;
    MoveWindow(FindButton, x, margin, buttonWidth, height, TRUE);
    x += buttonWidth + 2 * margin;
    MoveWindow(FindStatus, x, margin, std::max(0, static_cast<int>(client.right) - x - margin), height, TRUE);
    top = height + 2 * margin;
  }
  // The list makes room first, so the bar never draws over it.
  MoveWindow(List, 0, top, client.right, std::max(0L, client.bottom - barHeight - top), TRUE);
  for (const HWND control : {FindLabel, FindEdit, FindButton, FindStatus})
    ShowWindow(control, FindShown ? SW_SHOW : SW_HIDE);
}

void Twnd_oe_Main::FormCreate() { Reader.reset(); }

void Twnd_oe_Main::FormShow() {
  if (Arguments.size() < 2) return;
  if (IsExistingFile(Arguments[1])) LoadFile(Arguments[1]);
}

void Twnd_oe_Main::RunCommand(void (Twnd_oe_Main::*command)()) {
  RunGuarded([&] { (this->*command)(); });
}

void Twnd_oe_Main::ShowError(const std::string& text) {
  DialogRunner().ShowErrorBox(Handle, Wide(text), gApplicationTitle);
}

std::wstring RunFileDialog(HWND owner, bool save, const wchar_t* filter, const wchar_t* extension, DWORD flags,
                           std::wstring& lastName) {
  wchar_t file[MAX_PATH * 4] = {};
  lastName.copy(file, std::size(file) - 1);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = static_cast<DWORD>(std::size(file));
  dialog.lpstrDefExt = extension;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | flags;
  if (!DialogRunner().RunFileDialog(dialog, save)) return {};
  lastName = file;
  return lastName;
}

void Twnd_oe_Main::cmOpen() {
  static const std::wstring filter = DialogFilter(kOpenFilters), extension = Wide(kOpenExtension);
  const std::wstring path =
      RunFileDialog(Handle, false, filter.c_str(), extension.c_str(), OFN_FILEMUSTEXIST, LastOpenName);
  if (!path.empty()) LoadFile(path);
}

std::string Twnd_oe_Main::AskSavePath() { return AskSavePath(Handle); }

std::string Twnd_oe_Main::AskSavePath(HWND owner) {
  static const std::wstring filter = DialogFilter(kSaveFilters), extension = Wide(kSaveExtension);
  return Utf8(RunFileDialog(owner, true, filter.c_str(), extension.c_str(), OFN_OVERWRITEPROMPT, LastSaveName));
}

void Twnd_oe_Main::cmExit() { DestroyWindow(Handle); }

void Twnd_oe_Main::cmView() { ViewSelected(); }

void Twnd_oe_Main::cmFind() {
  if (!FindShown) {
    FindShown = true;
    Layout();
  }
  SetFocus(FindEdit);
  SendMessageW(FindEdit, EM_SETSEL, 0, -1);
}

void Twnd_oe_Main::FindEscape() {
  RunGuarded([&] {
    if (Polling) {
      StopTextSearch();
      return;
    }
    ClearFind();
    SetFindText({});
    FindShown = false;
    Layout();
    SetFocus(List);
  });
}

std::wstring Twnd_oe_Main::FindText() const {
  const int length = GetWindowTextLengthW(FindEdit);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(std::max(GetWindowTextW(FindEdit, text.data(), length + 1), 0)));
  return text;
}

void Twnd_oe_Main::SetFindText(const std::wstring& text) {
  SettingFindText = true;
  SetWindowTextW(FindEdit, text.c_str());
  SettingFindText = false;
}

void Twnd_oe_Main::cmSave() { SaveSelected(); }

void Twnd_oe_Main::cmRead() {
  const int index = SelectedForReading();
  if (index < 0) return;
  ShowReadingWindow(Handle, *Reader, index, Format);
}

std::int32_t Twnd_oe_Main::NeighbourIndex(std::int32_t index, int step) const {
  // The neighbour in the list as it is shown now: sorted, filtered.
  const std::int32_t row = ListOrder().RowOfMessage(index);
  if (row < 0) return -1;
  const std::int64_t next = std::int64_t{row} + step;
  return next >= 0 && next < ListOrder().RowCount() ? ListOrder().MessageOfRow(static_cast<std::int32_t>(next)) : -1;
}

void Twnd_oe_Main::SelectMessage(std::int32_t index) {
  if (index < 0 || index >= ListOrder().MessageCount()) return;
  const std::int32_t row = ListOrder().RowOfMessage(index);
  if (row >= 0) SelectRow(row);
}

void Twnd_oe_Main::SelectRow(std::int32_t row) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(List, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  SendMessageW(List, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void Twnd_oe_Main::LoadFile(const std::wstring& path) {
  // The new store shows every row: the find bar's words went with the old one.
  SetFindText({});
  LoadStore(Utf8(path));
}

void Twnd_oe_Main::ShowListOrder(std::int32_t row) {
  // The list keeps selection and focus by row number: they go with the old
  // rows. Cleared on those rows alone: a list told to clear every row may
  // ask for each row's texts.
  for (const UINT which : {LVNI_SELECTED, LVNI_FOCUSED}) {
    const auto row = SendMessageW(List, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), which);
    if (row < 0) continue;
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(List, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&none));
  }
  RowCount = ListOrder().RowCount();
  CachedIndex = -1;
  SendMessageW(List, LVM_SETITEMCOUNT, static_cast<WPARAM>(RowCount), LVSICF_NOSCROLL);
  InvalidateRect(List, nullptr, TRUE);
  if (row >= 0 && row < RowCount) SelectRow(row);
}

void Twnd_oe_Main::ShowSortMark(TSortMark mark) {
  const HWND header = ListView_GetHeader(List);
  for (int i = 0; i < kListColumnCount; ++i) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == mark.Column) item.fmt |= mark.Descending ? HDF_SORTDOWN : HDF_SORTUP;
    SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

void Twnd_oe_Main::SetFindStatus(const std::string& text) { SetWindowTextW(FindStatus, Wide(text).c_str()); }

void Twnd_oe_Main::SetSearchPolling(bool on) {
  Polling = on;
  if (on)
    SetTimer(Handle, kSearchTimer, kSearchPollMs, nullptr);
  else
    KillTimer(Handle, kSearchTimer);
}

void Twnd_oe_Main::ShowWaitCursor() { Wait.Show(); }

void Twnd_oe_Main::RestoreCursor() { Wait.Restore(); }

void Twnd_oe_Main::BeginRows() {
  CachedIndex = -1;
  RowCount = 0;
  SendMessageW(List, LVM_DELETEALLITEMS, 0, 0);
  // The emptied list is painted now, also where a dialog just closed; then
  // it does not redraw until the bracket closes.
  UpdateWindow(List);
  SendMessageW(List, WM_SETREDRAW, FALSE, 0);
}

void Twnd_oe_Main::AddRows(TMailbaseReader&, std::int32_t count, const TLocaleFormat& format) {
  // A virtual list: one row per message, whose texts are made when the list
  // shows them, from the record the reader holds.
  Format = format;
  RowCount = std::max(count, 0);
  SendMessageW(List, LVM_SETITEMCOUNT, static_cast<WPARAM>(RowCount), LVSICF_NOSCROLL);
}

void Twnd_oe_Main::EndRows() {
  SendMessageW(List, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(List, nullptr, TRUE);
}

void Twnd_oe_Main::SetPanel(int panel, const std::string& text) {
  SendMessageW(sb, SB_SETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void Twnd_oe_Main::RepaintNow() { RedrawWindow(Handle, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); }

void Twnd_oe_Main::SetCaption(const std::string& text) {
  gApplicationTitle = Wide(text);
  SetWindowTextW(Handle, gApplicationTitle.c_str());
}

TLocaleFormat Twnd_oe_Main::UserFormat() {
  TLocaleFormat format;
  format.Syntax = TFormatSyntax::Windows;
  format.ShortDate = WithFourDigitYears(LocaleText(LOCALE_SSHORTDATE), TFormatSyntax::Windows);
  format.LongTime = LocaleText(LOCALE_STIMEFORMAT);
  format.GroupSeparator = LocaleText(LOCALE_STHOUSAND);
  for (int i = 0; i < 12; ++i) {
    format.MonthShort[static_cast<std::size_t>(i)] = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i));
    format.MonthLong[static_cast<std::size_t>(i)] = LocaleText(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i));
  }
  for (int i = 0; i < 7; ++i) { // the first is Monday
    format.DayShort[static_cast<std::size_t>(i)] = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + i));
    format.DayLong[static_cast<std::size_t>(i)] = LocaleText(static_cast<LCTYPE>(LOCALE_SDAYNAME1 + i));
  }
  format.AmText = LocaleText(LOCALE_S1159);
  format.PmText = LocaleText(LOCALE_S2359);
  format.StoreText = AnsiToUtf8;
  format.CompileFormats();
  return format;
}

std::string Twnd_oe_Main::SelectedNumberText() {
  const int row = static_cast<int>(SendMessageW(List, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return {};
  wchar_t number[16] = {};
  LVITEMW item{};
  item.iSubItem = 1;
  item.pszText = number;
  item.cchTextMax = 16;
  SendMessageW(List, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return Utf8(number);
}

void Twnd_oe_Main::ShowMessageText(const std::string& text) { ShowMessageData(text); }

const TMessageRow& Twnd_oe_Main::RowOf(int i) {
  if (i != CachedIndex) {
    const std::int32_t message = ListOrder().MessageOfRow(i);
    TMessageRecord record;
    Reader->GetMessage(message, record);
    CachedRow = MakeMessageRow(message, record, Format);
    CachedTexts.clear();
    for (const auto& text : CachedRow.SubItems) CachedTexts.push_back(Wide(text));
    CachedIndex = i;
  }
  return CachedRow;
}

LRESULT Twnd_oe_Main::OnNotify(NMHDR& header) {
  if (header.hwndFrom == List) {
    switch (header.code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
      // Until the load has made the list's order, a row has no message.
      if (!Reader || item.iItem < 0 || item.iItem >= std::min(RowCount, ListOrder().RowCount())) return 0;
      const TMessageRow& row = RowOf(item.iItem);
      if (item.mask & LVIF_IMAGE) item.iImage = row.ImageIndex;
      if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        const std::wstring empty;
        const std::wstring& text = item.iSubItem >= 1 && item.iSubItem <= 8
                                       ? CachedTexts[static_cast<std::size_t>(item.iSubItem - 1)]
                                       : empty; // column 0: the caption, always empty
        const std::size_t length = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
        text.copy(item.pszText, length);
        item.pszText[length] = L'\0';
      }
      return 0;
    }
    case NM_CUSTOMDRAW: {
      auto& draw = reinterpret_cast<NMLVCUSTOMDRAW&>(header);
      switch (draw.nmcd.dwDrawStage) {
      case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
      case CDDS_ITEMPREPAINT: return ListAdvancedCustomDrawItem(draw);
      case CDDS_ITEMPREPAINT | CDDS_SUBITEM: return ListAdvancedCustomDrawSubItem(draw);
      default: return CDRF_DODEFAULT;
      }
    }
    case NM_DBLCLK:
      RunCommand(&Twnd_oe_Main::cmView);
      return 0;
    case LVN_COLUMNCLICK:
      RunGuarded([&] { SortList(reinterpret_cast<NMLISTVIEW&>(header).iSubItem); });
      return 0;
    case NM_RETURN: // Enter reads the selected message
      RunCommand(&Twnd_oe_Main::cmRead);
      return 0;
    }
  }
  return 0;
}

namespace {
// The read mark: the row's image index, as the list answers it.
int ImageIndexOfRow(HWND list, DWORD_PTR row) {
  LVITEMW item{};
  item.mask = LVIF_IMAGE;
  item.iItem = static_cast<int>(row);
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}
} // namespace

LRESULT Twnd_oe_Main::ListAdvancedCustomDrawItem(NMLVCUSTOMDRAW& draw) {
  SelectObject(draw.nmcd.hdc, WindowFont(ImageIndexOfRow(List, draw.nmcd.dwItemSpec) == kImageUnread));
  return CDRF_NEWFONT | CDRF_NOTIFYSUBITEMDRAW;
}

LRESULT Twnd_oe_Main::ListAdvancedCustomDrawSubItem(NMLVCUSTOMDRAW& draw) {
  SelectObject(draw.nmcd.hdc, WindowFont(ImageIndexOfRow(List, draw.nmcd.dwItemSpec) == kImageUnread));
  return CDRF_NEWFONT;
}

int RunApplication(HINSTANCE, int showCommand) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  // For the reading window: the imaging component, the folder dialog.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // The first argument, as Unicode.
  int count = 0;
  std::vector<std::wstring> arguments;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
    LocalFree(argv);
  }
  if (AnswerCommandLine(arguments)) return 0;
  Twnd_oe_Main window(std::move(arguments));
  window.QuitOnDestroy = true;
  window.Show(showCommand);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.Handle && TranslateAcceleratorW(window.Handle, window.Accelerators, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

} // namespace postvue
