// The reading window: a message as a person reads it (header lines, text,
// pictures, attachments), modal like the message data window, over the
// window core's reading model.
#pragma once

#include <windows.h>

#include <cstdint>

namespace postvue {

class TMailbaseReader;
struct TLocaleFormat;

// Window class "Twnd_oe_Read" and its controls, in tab order.
enum : int {
  IDC_READ_FROM = 401, IDC_READ_TO, IDC_READ_CC, IDC_READ_DATE, IDC_READ_SUBJECT,
  IDC_READ_BODY, IDC_READ_PICTURES, IDC_READ_ATTACHMENTS,
  IDC_READ_SAVEATTACHMENT, IDC_READ_SAVEALL, IDC_READ_SAVEMESSAGE, IDC_READ_PREVIOUS, IDC_READ_NEXT, IDC_READ_CLOSE,
  IDC_READ_NOTES,
};

// Shows message index of reader in a new reading window owned by owner and
// returns when the user has closed it. Raises the reader's error, with no
// window shown, when the message cannot be read.
void ShowReadingWindow(HWND owner, TMailbaseReader& reader, std::int32_t index, const TLocaleFormat& format);

} // namespace postvue
