#include "View.h"

#include "Main.h"
#include "ViewerLayout.h"

#include <richedit.h>

#include <algorithm>

namespace postvue {

namespace {
constexpr wchar_t kViewClass[] = L"Twnd_oe_View";

struct TView {
  HWND Handle = nullptr, Memo = nullptr, Button1 = nullptr;
  bool Done = false;
};

void Layout(const TView& view) {
  RECT client{};
  GetClientRect(view.Handle, &client);
  const int w = client.right, h = client.bottom;
  MoveWindow(view.Memo, Scaled(kMemoLeft), Scaled(kMemoTop), w - Scaled(kMemoLeft) - Scaled(kMemoRight),
             h - Scaled(kMemoTop) - Scaled(kMemoBottom), TRUE);
  MoveWindow(view.Button1, w - Scaled(kButtonRight) - Scaled(kButtonWidth),
             h - Scaled(kButtonBottom) - Scaled(kButtonHeight), Scaled(kButtonWidth), Scaled(kButtonHeight), TRUE);
}

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<TView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
  case WM_NCCREATE:
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    break;
  case WM_SIZE:
    if (view && view->Memo) Layout(*view);
    return 0;
  case WM_SETCURSOR:
    if (view && reinterpret_cast<HWND>(wParam) == view->Button1) {
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    }
    break;
  case WM_COMMAND:
    // Button1, Enter (the default button) and Escape (the cancel button) end the window.
    if (view && (LOWORD(wParam) == IDC_BUTTON1 || LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
      view->Done = true;
      return 0;
    }
    break;
  case WM_CLOSE:
    if (view) view->Done = true;
    return 0;
  case DM_GETDEFID:
    return MAKELRESULT(IDC_BUTTON1, DC_HASDEFID);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK MemoProc(HWND memo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  LRESULT answer = DefSubclassProc(memo, message, wParam, lParam);
  if (message == WM_GETDLGCODE) {
    const auto* key = reinterpret_cast<const MSG*>(lParam);
    if (key && (key->message == WM_KEYDOWN || key->message == WM_CHAR) && key->wParam == VK_TAB)
      answer &= ~(DLGC_WANTTAB | DLGC_WANTALLKEYS);
    answer &= ~DLGC_HASSETSEL;
  }
  return answer;
}
} // namespace

void KeepTabForDialog(HWND text) { SetWindowSubclass(text, MemoProc, 0, 0); }

void ShowMessageData(std::string_view text) {
  static const bool registered = [] {
    LoadLibraryW(L"Msftedit.dll");
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ViewProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kViewClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;

  const HWND owner = wnd_oe_Main ? wnd_oe_Main->Handle : nullptr;
  const int width = Scaled(kViewWidth), height = Scaled(kViewHeight);
  RECT around{};
  if (owner)
    GetWindowRect(owner, &around);
  else
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  TView view;
  view.Handle = CreateWindowExW(WS_EX_DLGMODALFRAME, kViewClass, Wide(kDataWindowCaption).c_str(),
                                WS_OVERLAPPEDWINDOW & ~(WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
                                (around.left + around.right - width) / 2, (around.top + around.bottom - height) / 2,
                                width, height, owner, nullptr, GetModuleHandleW(nullptr), &view);
  SendMessageW(view.Handle, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  view.Memo = CreateWindowExW(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                                  ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_DISABLENOSCROLL | ES_NOHIDESEL,
                              0, 0, 0, 0, view.Handle, reinterpret_cast<HMENU>(IDC_MEMO), GetModuleHandleW(nullptr),
                              nullptr);
  view.Button1 = CreateWindowExW(0, L"BUTTON", Wide(kCloseCaption).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0,
                                 0, 0, view.Handle, reinterpret_cast<HMENU>(IDC_BUTTON1), GetModuleHandleW(nullptr),
                                 nullptr);
  SendMessageW(view.Button1, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  // Plain text (set while the control is empty), no limit, no word wrap, Courier New.
  SendMessageW(view.Memo, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
  SendMessageW(view.Memo, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  SendMessageW(view.Memo, EM_SETTARGETDEVICE, 0, 1);
  SendMessageW(view.Memo, WM_SETFONT, reinterpret_cast<WPARAM>(MemoFont()), FALSE);
  KeepTabForDialog(view.Memo); // Tab moves between Memo and Button1
  Layout(view);

  struct TDestroy { // the window goes however the text or the modal run ends
    HWND Owner, Window;
    ~TDestroy() {
      if (Owner) EnableWindow(Owner, TRUE);
      DestroyWindow(Window);
      if (Owner) SetActiveWindow(Owner);
    }
  } destroy{owner, view.Handle};
  SetWindowTextW(view.Memo, AnsiWide(JoinedLines(text, "\r\n")).c_str());

  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(view.Handle, SW_SHOW);
  SetFocus(view.Memo);
  MSG message;
  while (!view.Done) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      PostQuitMessage(static_cast<int>(message.wParam)); // the program is ending: pass it on
      break;
    }
    // Enter and Escape press Button1 wherever the focus is in the window.
    if (message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) &&
        (message.hwnd == view.Handle || IsChild(view.Handle, message.hwnd))) {
      view.Done = true;
      continue;
    }
    if (IsDialogMessageW(view.Handle, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

} // namespace postvue
