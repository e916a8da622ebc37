// Line splitting and the saved form of a message text.
#include "MessageFile.h"
#include "TextLines.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lines = postvue::SplitLines(text);
  const std::string saved = postvue::CrLfLines(text);
  // The saved form is the lines, each followed by CR LF; no line holds a break or a NUL.
  std::size_t at = 0;
  for (auto line : lines) {
    if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) std::abort();
    if (saved.compare(at, line.size(), line) != 0 || saved.compare(at + line.size(), 2, "\r\n") != 0) std::abort();
    at += line.size() + 2;
  }
  if (at != saved.size()) std::abort();
  // Saving is idempotent: splitting the saved form gives the same lines.
  if (postvue::SplitLines(saved) != lines) std::abort();
  // A text handed over whole is saved alike (given back itself where it is saved as it is).
  if (postvue::CrLfLines(std::string(text)) != saved) std::abort();
  return 0;
}
