// The message data window: a message's raw text, read-only, in a modal window.
#pragma once

#include <windows.h>

#include <string_view>

namespace postvue {

// Window class "Twnd_oe_View": Memo (a read-only plain-text rich edit) and Button1 "Close".
enum : int { IDC_MEMO = 301, IDC_BUTTON1 = 302 };

// Shows text in a new message data window owned by the main window and returns
// when the user has closed it; the window is gone afterwards.
void ShowMessageData(std::string_view text);

// Tab and Shift+Tab leave a read-only text control as in a dialog (it keeps
// no tab of its own), and getting the focus selects nothing of its text.
void KeepTabForDialog(HWND text);

} // namespace postvue
