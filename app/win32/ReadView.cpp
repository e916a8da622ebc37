#include "ReadView.h"

#include "Main.h"
#include "Picture.h"
#include "Reading.h"
#include "View.h"
#include "ViewerLayout.h"

#include <commctrl.h>
#include <oleacc.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace postvue {

namespace {
constexpr wchar_t kReadClass[] = L"Twnd_oe_Read";
constexpr wchar_t kPicturesClass[] = L"Twnd_oe_ReadPictures";

// The smallest the window is made by dragging its frame, at 96 dpi: the
// buttons still fit in one row.
constexpr int kReadMinWidth = 640, kReadMinHeight = 360;

// The user's font for reading (the message font of the system's metrics),
// its bold form for the labels, and a fixed-pitch one of the same height.
struct TReadFonts {
  HFONT Text = nullptr, Bold = nullptr, Fixed = nullptr;
  TReadFonts() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTW font{};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      font = metrics.lfMessageFont;
    else
      GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    Text = CreateFontIndirectW(&font);
    LOGFONTW bold = font;
    bold.lfWeight = FW_BOLD;
    Bold = CreateFontIndirectW(&bold);
    LOGFONTW fixed = font;
    fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    wcscpy(fixed.lfFaceName, L"Courier New");
    Fixed = CreateFontIndirectW(&fixed);
  }
  ~TReadFonts() {
    DeleteObject(Text);
    DeleteObject(Bold);
    DeleteObject(Fixed);
  }
};

const TReadFonts& Fonts() {
  static const TReadFonts fonts;
  return fonts;
}

int TextWidth(HWND window, HFONT font, const std::wstring& text) {
  const HDC canvas = GetDC(window);
  const HGDIOBJ former = SelectObject(canvas, font);
  SIZE extent{};
  GetTextExtentPoint32W(canvas, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(canvas, former);
  ReleaseDC(window, canvas);
  return extent.cx;
}

int LineHeight(HWND window, HFONT font) {
  const HDC canvas = GetDC(window);
  const HGDIOBJ former = SelectObject(canvas, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(canvas, &metrics);
  SelectObject(canvas, former);
  ReleaseDC(window, canvas);
  return metrics.tmHeight + metrics.tmExternalLeading;
}

class TReadWindow : public TReadingCore {
public:
  // reader: the main window's, for a message of the store; none for an
  // attached message. The window stays hidden until RunModal.
  TReadWindow(HWND owner, TMailbaseReader* reader, const TLocaleFormat& format);
  ~TReadWindow() override;

  // Shows message index of the reader, or reading; raises (with no window
  // shown) when the message cannot be read.
  void Open(std::int32_t index) { OpenMessage(index); }
  void Open(TMessageReading reading) { OpenReading(std::move(reading)); }
  // Shows the window and returns once the user has closed it.
  void RunModal();

  friend LRESULT CALLBACK ObjectWindowProc<TReadWindow>(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK PicturesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
  void ShowReading(const TMessageReading& reading) override;
  std::int32_t NeighbourIndex(std::int32_t index, int step) override;
  std::string AskAttachmentPath(const std::string& name) override;
  std::string AskAttachmentFolder() override;
  std::string AskMessagePath() override;
  void ShowSaveReport(const TSaveAllReport& report) override;
  void ShowAttachedMessage(const TMessageReading& reading) override;
  void ShowError(const std::string& text) override;
  void ShowWaitCursor() override;
  void RestoreCursor() override;

private:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void Layout();
  void UpdateButtons();
  void PaintPictures(HDC canvas, const RECT& area);
  void LoadPictures();
  void OnCommand(int id);
  int SelectedAttachment() const;

  HWND Owner = nullptr, Handle = nullptr;
  std::array<HWND, 5> Labels{}, Fields{};
  HWND Body = nullptr, Pictures = nullptr, AttachmentsLabel = nullptr, Attachments = nullptr, Notes = nullptr;
  std::array<HWND, 6> Buttons{};
  HACCEL Keys = nullptr;
  HWND Focus = nullptr; // the control that had the focus when the window was last active
  bool HasCc = false, HasNotes = false;
  std::vector<std::unique_ptr<TPicture>> Shown;
  std::vector<std::size_t> PendingPictures; // attachments still to decode for Shown
  TWaitCursor Wait;
  bool Done = false;
};

constexpr std::array<std::string_view, 5> kHeaderLabels = {kFromLabel, kToLabel, kCcLabel, kDateLabel, kSubjectLabel};
constexpr std::array<std::string_view, 6> kButtonCaptions = {kSaveAttachmentCaption, kSaveAllAttachmentsCaption,
                                                             kSaveMessageCaption,    kPreviousCaption,
                                                             kNextCaption,           kCloseCaption};
constexpr std::array<int, 6> kButtonIds = {IDC_READ_SAVEATTACHMENT, IDC_READ_SAVEALL, IDC_READ_SAVEMESSAGE,
                                           IDC_READ_PREVIOUS, IDC_READ_NEXT, IDC_READ_CLOSE};

void RegisterClasses() {
  static const bool registered = [] {
    LoadLibraryW(L"Msftedit.dll");
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ObjectWindowProc<TReadWindow>;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kReadClass;
    RegisterClassExW(&windowClass);
    windowClass.lpfnWndProc = TReadWindow::PicturesProc;
    windowClass.lpszClassName = kPicturesClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
}

TReadWindow::TReadWindow(HWND owner, TMailbaseReader* reader, const TLocaleFormat& format)
    : TReadingCore(reader, format), Owner(owner) {
  RegisterClasses();
  RECT around{}, area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  if (owner)
    GetWindowRect(owner, &around);
  else
    around = area;
  // Never larger than the screen's work area, however large the dpi makes it.
  const int width = std::min<int>(Scaled(kReadWidth), area.right - area.left);
  const int height = std::min<int>(Scaled(kReadHeight), area.bottom - area.top);
  // A window on an attached message stands a little off the one it came
  // from, so that it reads as a second window.
  const int offset = reader ? 0 : Scaled(24);
  const int left = std::clamp<int>((around.left + around.right - width) / 2 + offset, area.left, area.right - width);
  const int top = std::clamp<int>((around.top + around.bottom - height) / 2 + offset, area.top, area.bottom - height);
  CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kReadClass, L"",
                  (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN) & ~WS_MINIMIZEBOX,
                  left, top, width, height, owner, nullptr, GetModuleHandleW(nullptr), this);
  CreateControls();
}

TReadWindow::~TReadWindow() {
  if (Owner) EnableWindow(Owner, TRUE);
  if (Handle) DestroyWindow(Handle);
  if (Owner) SetActiveWindow(Owner);
  if (Keys) DestroyAcceleratorTable(Keys);
}

LRESULT CALLBACK TReadWindow::PicturesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    const HDC canvas = BeginPaint(window, &paint);
    RECT area{};
    GetClientRect(window, &area);
    if (auto* self = reinterpret_cast<TReadWindow*>(GetWindowLongPtrW(GetParent(window), GWLP_USERDATA)))
      self->PaintPictures(canvas, area);
    EndPaint(window, &paint);
    return 0;
  }
  if (message == WM_ERASEBKGND) return TRUE; // painting fills it all
  return DefWindowProcW(window, message, wParam, lParam);
}

void TReadWindow::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const auto child = [&](DWORD exStyle, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id,
                         HFONT font) {
    const HWND control = CreateWindowExW(exStyle, windowClass, text, WS_CHILD | style, 0, 0, 0, 0, Handle,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  // Each label comes right before its control: a screen reader names the
  // control by it, and its text is the control's accessible name.
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    Labels[i] = child(0, L"STATIC", Wide(kHeaderLabels[i]).c_str(), SS_NOPREFIX, -1, Fonts().Bold);
    Fields[i] = child(0, L"EDIT", L"", WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL | ES_NOHIDESEL,
                      IDC_READ_FROM + static_cast<int>(i), Fonts().Text);
  }
  Body = child(WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
               WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_NOHIDESEL,
               IDC_READ_BODY, Fonts().Text);
  SendMessageW(Body, EM_SETTEXTMODE, TM_PLAINTEXT | TM_MULTILEVELUNDO | TM_MULTICODEPAGE, 0);
  SendMessageW(Body, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  SendMessageW(Body, EM_SETTARGETDEVICE, 0, 0); // wrapped at the control's width
  SendMessageW(Body, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(Scaled(4), Scaled(4)));
  KeepTabForDialog(Body);
  // No label stands before the text (its window text is the message): a
  // screen reader gets its name from an annotation.
  Microsoft::WRL::ComPtr<IAccPropServices> accessibility;
  if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                 reinterpret_cast<void**>(accessibility.GetAddressOf()))))
    accessibility->SetHwndPropStr(Body, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME,
                                  L"Message text");
  Pictures = child(0, kPicturesClass, L"Pictures", 0, IDC_READ_PICTURES, Fonts().Text);
  AttachmentsLabel = child(0, L"STATIC", Wide(kAttachmentsLabel).c_str(), SS_NOPREFIX, -1, Fonts().Bold);
  Attachments = child(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"Attachments",
                      WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER |
                          LVS_SHAREIMAGELISTS,
                      IDC_READ_ATTACHMENTS, Fonts().Text);
  ListView_SetExtendedListViewStyle(Attachments, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  SHFILEINFOW info{};
  // The system's small icons, by file type; the list only borrows them.
  const auto icons = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(
      L".txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  if (icons) ListView_SetImageList(Attachments, icons, LVSIL_SMALL);
  const std::array<std::pair<const wchar_t*, int>, 3> columns = {{{L"Name", 260}, {L"Type", 150}, {L"Size", 90}}};
  for (std::size_t i = 0; i < columns.size(); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = i == 2 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = Scaled(columns[i].second);
    column.pszText = const_cast<wchar_t*>(columns[i].first);
    column.iSubItem = static_cast<int>(i);
    SendMessageW(Attachments, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  Notes = child(0, L"STATIC", L"", SS_NOPREFIX | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, IDC_READ_NOTES, Fonts().Text);
  for (std::size_t i = 0; i < Buttons.size(); ++i)
    Buttons[i] = child(0, L"BUTTON", Wide(kButtonCaptions[i]).c_str(), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kButtonIds[i],
                       Fonts().Text);

  // Previous and Next: Ctrl with "," and "." (the keys of "<" and ">"), and
  // Alt with the arrow keys; Ctrl+S saves the message, as in the main window.
  static_assert(kPreviousKey == ',' && kNextKey == '.');
  ACCEL keys[] = {
      {FVIRTKEY | FCONTROL, VK_OEM_COMMA, IDC_READ_PREVIOUS}, {FVIRTKEY | FCONTROL, VK_OEM_PERIOD, IDC_READ_NEXT},
      {FVIRTKEY | FALT, VK_LEFT, IDC_READ_PREVIOUS},          {FVIRTKEY | FALT, VK_RIGHT, IDC_READ_NEXT},
      {FVIRTKEY | FCONTROL, kSaveKey, IDC_READ_SAVEMESSAGE},
  };
  Keys = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
}

void TReadWindow::ShowReading(const TMessageReading& reading) {
  // The list follows Previous and Next, so the user is back where they read.
  if (wnd_oe_Main && reading.Index() >= 0) wnd_oe_Main->SelectMessage(reading.Index());
  SetWindowTextW(Handle, Wide(reading.Caption()).c_str());
  HasCc = false;
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    std::wstring value;
    bool shown = i != 2; // Cc only where there is one
    for (const THeaderLine& line : reading.HeaderLines())
      if (line.Label == kHeaderLabels[i]) value = Wide(line.Value), shown = true;
    if (i == 2) HasCc = shown;
    SetWindowTextW(Fields[i], value.c_str());
    ShowWindow(Labels[i], shown ? SW_SHOWNA : SW_HIDE);
    ShowWindow(Fields[i], shown ? SW_SHOWNA : SW_HIDE);
  }

  // The pictures are decoded once the rest is on screen (LoadPictures).
  const auto& attachments = reading.Attachments();
  Shown.clear();
  PendingPictures.clear();
  for (std::size_t i = 0; i < attachments.size(); ++i)
    if (attachments[i].Picture) PendingPictures.push_back(i);
  ShowWindow(Pictures, PendingPictures.empty() ? SW_HIDE : SW_SHOWNA);

  SendMessageW(Attachments, LVM_DELETEALLITEMS, 0, 0);
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    const TReadingAttachment& attachment = attachments[i];
    const std::wstring name = Wide(attachment.Name), type = Wide(attachment.Type), size = Wide(attachment.SizeText);
    // The icon of the name's type; the file itself is never looked at.
    SHFILEINFOW info{};
    SHGetFileInfoW(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                   SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(i);
    item.iImage = info.iIcon;
    item.pszText = const_cast<wchar_t*>(name.c_str());
    SendMessageW(Attachments, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const std::array<const std::wstring*, 2> rest = {&type, &size};
    for (int column = 1; column <= 2; ++column) {
      LVITEMW sub{};
      sub.iSubItem = column;
      sub.pszText = const_cast<wchar_t*>(rest[static_cast<std::size_t>(column - 1)]->c_str());
      SendMessageW(Attachments, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&sub));
    }
  }
  if (!attachments.empty()) { // Enter and the save button act on the first at once
    LVITEMW item{};
    item.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    item.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageW(Attachments, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
  }
  ShowWindow(AttachmentsLabel, attachments.empty() ? SW_HIDE : SW_SHOWNA);
  ShowWindow(Attachments, attachments.empty() ? SW_HIDE : SW_SHOWNA);

  std::string notes;
  for (const std::string& note : reading.Notes()) notes += (notes.empty() ? "" : "; ") + note;
  HasNotes = !notes.empty();
  SetWindowTextW(Notes, Wide(notes).c_str());
  ShowWindow(Notes, HasNotes ? SW_SHOWNA : SW_HIDE);
  UpdateButtons();
  // The text goes in once the control has its final size: a rich edit wraps
  // all of it again whenever its width changes, which takes long for a
  // long message on some systems.
  SetWindowTextW(Body, L"");
  Layout();
  SendMessageW(Body, WM_SETFONT, reinterpret_cast<WPARAM>(reading.FixedPitch() ? Fonts().Fixed : Fonts().Text), FALSE);
  SetWindowTextW(Body, Wide(JoinedLines(reading.Body(), "\r\n")).c_str());
  SendMessageW(Body, EM_SETSEL, 0, 0);
  SendMessageW(Body, EM_SCROLLCARET, 0, 0);
  if (IsWindowVisible(Handle)) { // Previous and Next: the text first, then the pictures
    UpdateWindow(Handle);
    LoadPictures();
  }
}

void TReadWindow::LoadPictures() {
  for (const std::size_t i : PendingPictures) {
    auto picture = std::make_unique<TPicture>(Reading().AttachmentBytes(i));
    if (picture->Valid()) Shown.push_back(std::move(picture));
  }
  PendingPictures.clear();
  // Pictures the imaging component cannot read are only listed: the text
  // takes their room.
  if (Shown.empty() && IsWindowVisible(Pictures)) {
    ShowWindow(Pictures, SW_HIDE);
    Layout();
  }
  InvalidateRect(Pictures, nullptr, FALSE);
}

void TReadWindow::UpdateButtons() {
  const bool attached = !Reading().Attachments().empty();
  EnableWindow(Buttons[0], attached && SelectedAttachment() >= 0);
  EnableWindow(Buttons[1], attached);
  EnableWindow(Buttons[3], CanStep(-1));
  EnableWindow(Buttons[4], CanStep(+1));
  // Next on the last message leaves no focus behind on its disabled button.
  const HWND focus = GetFocus();
  if (focus && IsChild(Handle, focus) && !IsWindowEnabled(focus)) SetFocus(Body);
}

int TReadWindow::SelectedAttachment() const {
  return static_cast<int>(SendMessageW(Attachments, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TReadWindow::Layout() {
  RECT client{};
  GetClientRect(Handle, &client);
  const int width = client.right, height = client.bottom;
  const int margin = Scaled(kReadMargin), gap = Scaled(kReadSpacing);
  const int lineHeight = LineHeight(Handle, Fonts().Text);
  const int rowHeight = lineHeight + Scaled(4);

  int labelWidth = 0;
  for (const std::string_view label : kHeaderLabels)
    labelWidth = std::max(labelWidth, TextWidth(Handle, Fonts().Bold, Wide(label)));
  labelWidth += gap;
  HDWP moves = BeginDeferWindowPos(32);
  const auto place = [&](HWND control, int x, int y, int w, int h) {
    moves = DeferWindowPos(moves, control, nullptr, x, y, std::max(w, 0), std::max(h, 0),
                           SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
  };
  int y = margin;
  for (std::size_t i = 0; i < Fields.size(); ++i) {
    if (i == 2 && !HasCc) continue;
    place(Labels[i], margin, y + 1, labelWidth, lineHeight); // on the line of the edit's text
    place(Fields[i], margin + labelWidth, y, width - 2 * margin - labelWidth, rowHeight);
    y += rowHeight;
  }
  y += gap;

  // From the bottom up: the buttons, the notes, the attachments.
  const int buttonHeight = std::max(Scaled(kReadButtonHeight), lineHeight + Scaled(10));
  int bottom = height - margin - buttonHeight;
  std::array<int, 6> widths{};
  for (std::size_t i = 0; i < Buttons.size(); ++i)
    widths[i] = std::max(Scaled(i < 2 ? kReadWideButtonWidth : kReadButtonWidth),
                         TextWidth(Handle, Fonts().Text, Wide(kButtonCaptions[i])) + Scaled(20));
  int x = margin;
  for (std::size_t i = 0; i < 3; ++i) {
    place(Buttons[i], x, bottom, widths[i], buttonHeight);
    x += widths[i] + gap;
  }
  int right = width - margin;
  for (std::size_t i = Buttons.size(); i-- > 3;) {
    right -= widths[i];
    place(Buttons[i], std::max(right, x), bottom, widths[i], buttonHeight);
    right -= gap;
  }
  bottom -= gap;
  if (HasNotes) {
    bottom -= lineHeight;
    place(Notes, margin, bottom, width - 2 * margin, lineHeight);
    bottom -= gap;
  }
  if (!Reading().Attachments().empty()) {
    // Room for a header and four rows in the list's font, at least.
    const int listHeight = std::max(Scaled(kAttachmentListHeight), 5 * rowHeight + Scaled(8));
    bottom -= listHeight;
    place(Attachments, margin, bottom, width - 2 * margin, listHeight);
    // The name takes what Type and Size leave of the list's width.
    const int fixed = static_cast<int>(SendMessageW(Attachments, LVM_GETCOLUMNWIDTH, 1, 0) +
                                       SendMessageW(Attachments, LVM_GETCOLUMNWIDTH, 2, 0));
    const int inner = width - 2 * margin - 2 * GetSystemMetrics(SM_CXEDGE) - GetSystemMetrics(SM_CXVSCROLL);
    SendMessageW(Attachments, LVM_SETCOLUMNWIDTH, 0, MAKELPARAM(std::max(inner - fixed, Scaled(120)), 0));
    bottom -= lineHeight + Scaled(2);
    place(AttachmentsLabel, margin, bottom, width - 2 * margin, lineHeight);
    bottom -= gap;
  }
  // The text above, the pictures below it in what is left.
  const int area = std::max(bottom - y, 0);
  int bodyHeight = area;
  if (!Shown.empty() || !PendingPictures.empty()) {
    const int pictures = std::max(area * 11 / 20, std::min(area, Scaled(80)));
    bodyHeight = area - pictures - gap;
    place(Pictures, margin, y + bodyHeight + gap, width - 2 * margin, pictures);
  }
  place(Body, margin, y, width - 2 * margin, bodyHeight);
  EndDeferWindowPos(moves);
  // Rows move up or down as Cc and the notes come and go: all is drawn anew.
  RedrawWindow(Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TReadWindow::PaintPictures(HDC canvas, const RECT& area) {
  const COLORREF background = GetSysColor(COLOR_BTNFACE);
  const HBRUSH brush = GetSysColorBrush(COLOR_BTNFACE);
  FillRect(canvas, &area, brush);
  if (Shown.empty()) return;
  // As many columns as make the cells nearest to square, side by side first.
  const int count = static_cast<int>(Shown.size());
  int columns = 1;
  while (columns * columns < count) ++columns;
  const int w = area.right - area.left, h = area.bottom - area.top;
  if (count <= 3 && w > h) columns = count;
  const int rows = (count + columns - 1) / columns;
  const int gap = Scaled(4);
  for (int i = 0; i < count; ++i) {
    const int column = i % columns, row = i / columns;
    RECT cell{area.left + column * w / columns, area.top + row * h / rows, area.left + (column + 1) * w / columns,
              area.top + (row + 1) * h / rows};
    InflateRect(&cell, -gap / 2, -gap / 2);
    Shown[static_cast<std::size_t>(i)]->Draw(canvas, cell, background);
  }
}

LRESULT TReadWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_SIZE:
    if (Body) Layout();
    return 0;
  case WM_GETMINMAXINFO: {
    auto& limits = *reinterpret_cast<MINMAXINFO*>(lParam);
    limits.ptMinTrackSize = {Scaled(kReadMinWidth), Scaled(kReadMinHeight)};
    return 0;
  }
  case WM_CTLCOLORSTATIC:
    // The notes are there to be found, not to alarm: in the grey of
    // secondary text. The read-only header lines keep the window's face.
    if (reinterpret_cast<HWND>(lParam) == Notes) {
      const HDC canvas = reinterpret_cast<HDC>(wParam);
      SetTextColor(canvas, GetSysColor(COLOR_GRAYTEXT));
      SetBkColor(canvas, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    break;
  case WM_COMMAND:
    OnCommand(LOWORD(wParam));
    return 0;
  case WM_NOTIFY: {
    const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
    if (header.hwndFrom != Attachments) break;
    if (header.code == NM_DBLCLK || header.code == NM_RETURN) {
      if (SelectedAttachment() >= 0) OnCommand(IDC_READ_ATTACHMENTS);
    } else if (header.code == LVN_ITEMCHANGED) {
      UpdateButtons();
    }
    return 0;
  }
  case WM_SETCURSOR:
    if (Wait.Keep()) return TRUE;
    break;
  case WM_ACTIVATE:
    // As a dialog does: the control that had the focus gets it back when a
    // box or a file dialog over the window closes.
    if (LOWORD(wParam) == WA_INACTIVE) {
      const HWND focus = GetFocus();
      if (focus && IsChild(Handle, focus)) Focus = focus;
    } else {
      SetFocus(Focus && IsWindowVisible(Focus) && IsWindowEnabled(Focus) ? Focus : Body);
    }
    return 0;
  case WM_CLOSE:
    Done = true;
    return 0;
  case DM_GETDEFID:
    return 0; // no default button: Enter acts on the control that has the focus
  }
  return DefWindowProcW(Handle, message, wParam, lParam);
}

void TReadWindow::RunModal() {
  if (Owner) EnableWindow(Owner, FALSE);
  ShowWindow(Handle, SW_SHOW);
  SetFocus(Body);
  // Decoding a large photo takes a moment: the window is drawn first.
  UpdateWindow(Handle);
  LoadPictures();
  MSG message;
  while (!Done) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      PostQuitMessage(static_cast<int>(message.wParam)); // the program is ending: pass it on
      break;
    }
    const bool ours = message.hwnd == Handle || IsChild(Handle, message.hwnd);
    if (ours && message.message == WM_KEYDOWN && message.wParam == VK_RETURN && GetFocus() == Attachments) {
      if (SelectedAttachment() >= 0) OnCommand(IDC_READ_ATTACHMENTS);
      continue;
    }
    if (ours && TranslateAcceleratorW(Handle, Keys, &message)) continue;
    if (IsDialogMessageW(Handle, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TReadWindow::OnCommand(int id) {
  const int selected = SelectedAttachment();
  switch (id) {
  case IDC_READ_SAVEATTACHMENT:
    if (selected >= 0) RunGuarded([&] { SaveAttachment(static_cast<std::size_t>(selected)); });
    break;
  case IDC_READ_ATTACHMENTS: // a double click or Enter: an attached message is read, a file saved
    if (selected < 0) break;
    RunGuarded([&] {
      if (Reading().Attachments()[static_cast<std::size_t>(selected)].Message)
        ReadAttachedMessage(static_cast<std::size_t>(selected));
      else
        SaveAttachment(static_cast<std::size_t>(selected));
    });
    break;
  case IDC_READ_SAVEALL: RunGuarded([&] { SaveAllAttachments(); }); break;
  case IDC_READ_SAVEMESSAGE: RunGuarded([&] { SaveMessage(); }); break;
  case IDC_READ_PREVIOUS:
  case IDC_READ_NEXT:
    RunGuarded([&] { Step(id == IDC_READ_NEXT ? +1 : -1); });
    break;
  case IDOK: // Enter, where the focused control does not take it
    if (GetFocus() == Attachments) OnCommand(IDC_READ_ATTACHMENTS);
    break;
  case IDC_READ_CLOSE:
  case IDCANCEL: // Escape
    Done = true;
    break;
  }
}

std::int32_t TReadWindow::NeighbourIndex(std::int32_t index, int step) {
  return wnd_oe_Main ? wnd_oe_Main->NeighbourIndex(index, step) : -1;
}

std::string TReadWindow::AskAttachmentPath(const std::string& name) {
  static const std::wstring filter = std::wstring(L"All files") + L'\0' + L"*.*" + L'\0';
  std::wstring chosen = Wide(name);
  return Utf8(RunFileDialog(Handle, true, filter.c_str(), nullptr, OFN_OVERWRITEPROMPT, chosen));
}

std::string TReadWindow::AskAttachmentFolder() { return Utf8(DialogRunner().PickFolder(Handle)); }

std::string TReadWindow::AskMessagePath() { return wnd_oe_Main ? wnd_oe_Main->AskSavePath(Handle) : std::string(); }

void TReadWindow::ShowSaveReport(const TSaveAllReport& report) {
  DialogRunner().ShowInformationBox(Handle, Wide(report.Text()), ApplicationTitle(), report.Failed > 0);
}

void TReadWindow::ShowAttachedMessage(const TMessageReading& reading) {
  TReadWindow nested(Handle, nullptr, Format);
  nested.Open(reading);
  nested.RunModal();
}

void TReadWindow::ShowError(const std::string& text) {
  DialogRunner().ShowErrorBox(Handle, Wide(text), ApplicationTitle());
}

void TReadWindow::ShowWaitCursor() { Wait.Show(); }

void TReadWindow::RestoreCursor() { Wait.Restore(); }
} // namespace

void ShowReadingWindow(HWND owner, TMailbaseReader& reader, std::int32_t index, const TLocaleFormat& format) {
  // The imaging component and the folder dialog are COM objects; a thread
  // that has COM already keeps it as it is.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  struct TComScope {
    bool Started;
    ~TComScope() {
      if (Started) CoUninitialize();
    }
  } scope{SUCCEEDED(com)};
  TReadWindow window(owner, &reader, format);
  window.Open(index);
  window.RunModal();
}

} // namespace postvue
