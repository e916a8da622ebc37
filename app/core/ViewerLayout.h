// The viewers' windows as data, the same in every viewer: the list's
// columns, the windows' sizes and the places of their controls, the menu's
// and the dialogs' words. Sizes are pixels at 96 dpi for the 8 pt face they
// were made for; each viewer scales them by ViewerScaleOf for the screen and
// the face it gets. Texts are UTF-8.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace postvue {

enum class TColumnAlign { Left, Center, Right };

struct TColumnLayout {
  std::string_view Caption;
  int Width;
  TColumnAlign Align;
};

// Column 0 holds the row's caption, always empty, and never grows past its pixel.
inline constexpr std::array<TColumnLayout, 9> kListColumns = {{
    {"", 1, TColumnAlign::Left},
    {"#", 35, TColumnAlign::Center},
    {"Attachment", 25, TColumnAlign::Left},
    {"Priority", 25, TColumnAlign::Left},
    {"Flag", 25, TColumnAlign::Left},
    {"Sender", 150, TColumnAlign::Left},
    {"Subject", 270, TColumnAlign::Left},
    {"Received", 120, TColumnAlign::Left},
    {"Size [B]", 75, TColumnAlign::Right},
}};
inline constexpr int kListColumnCount = static_cast<int>(kListColumns.size());

// The main window, centred on the screen, and its status bar.
inline constexpr int kMainWidth = 758, kMainHeight = 571;
inline constexpr int kStatusBarHeight = 19;
inline constexpr int kPanel0Width = 100, kPanel1MinWidth = 50;

// The message data window, centred on the main window. Memo keeps these
// distances to the window's edges; Button1 keeps its size and its distances
// to the right and bottom edges.
inline constexpr int kViewWidth = 579, kViewHeight = 441;
inline constexpr int kMemoLeft = 15, kMemoTop = 14, kMemoRight = 15, kMemoBottom = 44;
inline constexpr int kButtonWidth = 75, kButtonHeight = 25, kButtonRight = 12, kButtonBottom = 9;

inline constexpr int kFontPixelSize = 11;
// The 8 pt face the pixel sizes were made for averages 6 pixels a letter at
// 96 dpi (its dialog base unit: the mean width of A to Z and a to z).
inline constexpr double kReferenceLetterWidth = 6.0;
inline constexpr std::string_view kReferenceLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// How much the pixel sizes grow: with the screen's dpi (as a factor of 96),
// and with how much wider the face's bold letters (as unread rows show them)
// are than those of the face they were made for, so that every text they
// were made to hold still fits.
inline double ViewerScaleOf(double dpiScale, double boldLetterWidth) {
  return std::max(dpiScale, boldLetterWidth / kReferenceLetterWidth);
}
inline int ScaledPixels(int pixels, double scale) { return static_cast<int>(std::lround(pixels * scale)); }

// The width a list column starts with: columns of free text (no samples)
// grow with the font, the others with the dpi and then as far as the widest
// of their usual texts needs (widestSample, in pixels with the cell's margins).
inline int ColumnStartWidth(int column, double scale, double dpiScale, int widestSample, bool hasSamples) {
  const int width = kListColumns[static_cast<std::size_t>(column)].Width;
  if (column == 0) return width;
  if (!hasSamples) return ScaledPixels(width, scale);
  return std::max(ScaledPixels(width, dpiScale), widestSample);
}

// The File menu's captions; Open and Save also have Ctrl and a letter.
inline constexpr std::string_view kFileMenuCaption = "&File";
inline constexpr std::string_view kOpenCaption = "Open...", kSaveCaption = "Save...",
                                  kViewCaption = "View message data...", kExitCaption = "Exit";
inline constexpr char kOpenKey = 'O', kSaveKey = 'S';
inline constexpr std::string_view kDataWindowCaption = "Message Data", kCloseCaption = "Close";

// The find bar (Ctrl+F): its menu item, its button that searches the texts
// (as Enter does), and its count beside the edit: "Found: 12", "Found: 12
// (2 unreadable)", "Searching texts: 40%". The status bar's panels stay as they are.
inline constexpr std::string_view kFindCaption = "Find...", kSearchTextsCaption = "Search texts";
inline constexpr std::string_view kFindLabel = "Find:";
inline constexpr char kFindKey = 'F';
inline constexpr std::string_view kFoundText = "Found: ", kUnreadableText = " unreadable";
inline constexpr std::string_view kSearchingText = "Searching texts: ";

// A file dialog's filter: a name and the extensions it shows; none shows
// every file (each platform has its pattern for that).
struct TFileFilter {
  std::string_view Name;
  std::array<std::string_view, 2> Extensions; // an empty one is none
};
inline constexpr std::array<TFileFilter, 2> kOpenFilters = {{
    {"Outlook databases", {"dbx", "mbx"}},
    {"All files", {}},
}};
inline constexpr std::string_view kOpenExtension = "dbx";
inline constexpr std::array<TFileFilter, 2> kSaveFilters = {{
    {"E-Mail files", {"eml"}},
    {"All files", {}},
}};
inline constexpr std::string_view kSaveExtension = "eml";

// The reading window: a message as a person reads it. "Read message..."
// stands in the File menu above "View message data..." with Ctrl+R; Enter
// on a row opens it too.
inline constexpr std::string_view kReadCaption = "Read message...";
inline constexpr char kReadKey = 'R';
inline constexpr std::string_view kSaveAttachmentCaption = "Save attachment...",
                                  kSaveAllAttachmentsCaption = "Save all attachments...",
                                  kSaveMessageCaption = "Save message...", kPreviousCaption = "Previous",
                                  kNextCaption = "Next";
// Previous and Next as mail programs have them: Ctrl with "," and "." (the
// keys of "<" and ">"), and Alt with the left and right arrow keys.
inline constexpr char kPreviousKey = ',', kNextKey = '.';
// The caption of a message without a subject.
inline constexpr std::string_view kNoSubjectCaption = "(no subject)";
// The header lines' names, in the order shown (Cc only when there is one).
inline constexpr std::string_view kFromLabel = "From:", kToLabel = "To:", kCcLabel = "Cc:", kDateLabel = "Date:",
                                  kSubjectLabel = "Subject:", kAttachmentsLabel = "Attachments:";

// The reading window, centred on the main window and within it: header lines at the top,
// the text (and the pictures) below them, the attachment list under it and
// one row of buttons at the bottom. Pixels at 96 dpi for the 8 pt face.
inline constexpr int kReadWidth = 700, kReadHeight = 540;
inline constexpr int kReadMargin = 12, kReadSpacing = 6;
inline constexpr int kReadButtonHeight = 25, kReadButtonWidth = 75, kReadWideButtonWidth = 130;
inline constexpr int kAttachmentListHeight = 84;
inline constexpr int kAttachmentIconSize = 16;

} // namespace postvue
