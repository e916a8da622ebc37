#include "Console.h"

#include "Exceptions.h"
#include "WinApi.h"

#include <algorithm>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace postvue::cli {

void WriteBytes(std::FILE* stream, std::string_view bytes) {
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  if (std::fflush(stream) != 0 || !written) throw EWriteError();
}

#ifdef _WIN32
namespace {
// The console of stream, or nullptr when the stream goes to a file or a pipe.
HANDLE ConsoleOf(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

void WriteConsoleText(HANDLE console, std::string_view utf8) {
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  // In pieces: one console write of a whole large listing may fail.
  constexpr std::size_t kPiece = 8192;
  for (std::size_t at = 0; at < wide.size();) {
    std::size_t take = std::min(kPiece, wide.size() - at);
    if (at + take < wide.size() && IS_HIGH_SURROGATE(wide[at + take - 1])) --take;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(take), &written, nullptr)) throw EWriteError();
    at += take;
  }
}
} // namespace

bool OwnsConsole() {
  DWORD mode = 0, processes[2] = {};
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) && GetConsoleProcessList(processes, 2) == 1;
}

void WaitForKey() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input); // keys pressed before the question do not answer it
  INPUT_RECORD record{};
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1)
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
}
#endif

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return ConsoleOf(stream) != nullptr;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the control character at utf8[i], 0 where there is none.
std::size_t ControlAt(std::string_view utf8, std::size_t i) {
  const auto byte = static_cast<unsigned char>(utf8[i]);
  if (byte < 0x20) return byte == '\t' || byte == '\n' || byte == '\r' ? 0 : 1;
  if (byte == 0x7F) return 1;
  if (byte == 0xC2 && i + 1 < utf8.size()) {
    const auto next = static_cast<unsigned char>(utf8[i + 1]);
    return next >= 0x80 && next <= 0x9F ? 2 : 0;
  }
  return 0;
}
} // namespace

std::string TerminalText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    if (const std::size_t control = ControlAt(utf8, i)) {
      out += kReplacement;
      i += control;
    } else {
      out += utf8[i++];
    }
  }
  return out;
}

void WriteText(std::FILE* stream, std::string_view utf8) {
  std::string safe;
  if (IsTerminal(stream)) {
    safe = TerminalText(utf8);
    utf8 = safe;
  }
#ifdef _WIN32
  if (const HANDLE console = ConsoleOf(stream); console && !utf8.empty()) {
    std::fflush(stream);
    return WriteConsoleText(console, utf8);
  }
#endif
  WriteBytes(stream, utf8);
}

} // namespace postvue::cli
