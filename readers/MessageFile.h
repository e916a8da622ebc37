// Saving a message's raw text as an .eml file: the one implementation behind
// the viewer's Save and the command line's save and export.
#pragma once

#include <string>
#include <string_view>

namespace postvue {

// The text as saved: every line (SplitLines) followed by CR LF, the last one too.
std::string CrLfLines(std::string_view text);

// Writes bytes to path through a temporary file in the same folder that
// replaces path only once every byte is written: a failed save leaves path as
// it was (or absent) and no temporary file behind. A replaced file keeps its
// permissions; a link is followed to the file it names. Raises EFCreateError
// with path when it cannot be created (a folder, a missing folder, a file that
// may not be written), EWriteError when writing fails.
void WriteFileReplacing(const std::string& path, std::string_view bytes);

// CrLfLines(text) written to path by WriteFileReplacing.
void SaveMessageText(const std::string& path, std::string_view text);

} // namespace postvue
