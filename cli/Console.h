// What postvue-cli writes on standard output and standard error. Text for
// people (the listing and the folder tree without --json, the messages) is
// UTF-8; everything else (message texts, JSON) goes out byte for byte.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace postvue::cli {

// Whether stream goes to a terminal (a console on Windows), where people read
// it, rather than to a file or a pipe.
bool IsTerminal(std::FILE* stream);

// Writes bytes to stream as they are and flushes it; raises EWriteError when it fails.
void WriteBytes(std::FILE* stream, std::string_view bytes);

// Writes UTF-8 text for people to stream and flushes it. A terminal gets it
// as TerminalText: a store's bytes must not command it. A Windows console
// gets the characters (bytes would be read in its OEM code page, where
// accented letters turn into others); a redirected stream, and every stream
// elsewhere, gets the bytes. Raises EWriteError when writing fails.
void WriteText(std::FILE* stream, std::string_view utf8);

// utf8 with every control character but tab, CR and LF (C0, DEL, and the C1
// controls, among them ESC and CSI, that retitle a terminal or clear it)
// shown as U+FFFD.
std::string TerminalText(std::string_view utf8);

#ifdef _WIN32
// Whether the program has a console of its own that closes when it ends, as
// when it is started from Explorer rather than from a Command Prompt.
bool OwnsConsole();
// Waits until a key is pressed in that console.
void WaitForKey();
#endif

} // namespace postvue::cli
