// Line splitting and file-name parts, shared by the readers, the viewer and the command line.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// Cuts text into lines at CR LF, lone CR and lone LF. A break at the very end
// starts no further line; LF followed by CR is two breaks; a zero byte ends the text.
std::vector<std::string_view> SplitLines(std::string_view text);

// The lines of SplitLines handed to take one by one, with nothing allocated:
// the .mbx reader without its index goes over every message's header lines.
template <typename TTake> void ForEachLine(std::string_view text, TTake take) {
  text = text.substr(0, text.find('\0'));
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    take(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) take(text.substr(start));
}

// The bytes before the first zero byte: where stored text ends.
inline std::string_view UpToZero(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

// The file-name part of path: no directory.
std::string ExtractFileName(const std::string& path);
// The file-name part without its extension.
std::string ExtractFileTitle(const std::string& path);
// path with its extension replaced by extension (appended when it has none).
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// A UTF-8 path (the library's path encoding) as a file-system path, on every platform.
std::filesystem::path PathFromUtf8(const std::string& path);

} // namespace postvue
