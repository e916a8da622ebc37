// Line splitting and file-name parts, shared by the readers, the viewer and the command line.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// Cuts text into lines at CR LF, lone CR and lone LF. A break at the very end
// starts no further line; LF followed by CR is two breaks; a zero byte ends the text.
std::vector<std::string_view> SplitLines(std::string_view text);

// The bytes before the first zero byte: where stored text ends.
inline std::string_view UpToZero(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

// The lines of SplitLines handed to take one by one, with nothing allocated:
// the .mbx reader without its index goes over every message's header lines,
// and export --mbox over every line of the store. The breaks are found with
// memchr, each kind once past the point reached, so a text of lone CRs does
// not search its whole rest for an LF at every line.
template <typename TTake> void ForEachLine(std::string_view text, TTake take) {
  text = UpToZero(text);
  if (text.empty()) return;
  const char* const data = text.data();
  const std::size_t size = text.size();
  auto find = [&](char c, std::size_t from) {
    const void* at = std::memchr(data + from, c, size - from);
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - data) : size;
  };
  std::size_t lf = find('\n', 0), cr = find('\r', 0);
  for (std::size_t start = 0; start < size;) {
    if (lf < start) lf = find('\n', start);
    if (cr < start) cr = find('\r', start);
    const std::size_t end = std::min(lf, cr); // size where the last line has no break
    take(text.substr(start, end - start));
    start = end + (end == cr && end + 1 < size && data[end + 1] == '\n' ? 2 : 1);
  }
}

// The file-name part of path: no directory.
std::string ExtractFileName(const std::string& path);
// The file-name part without its extension.
std::string ExtractFileTitle(const std::string& path);
// path with its extension replaced by extension (appended when it has none).
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// A UTF-8 path (the library's path encoding) as a file-system path, on every platform.
std::filesystem::path PathFromUtf8(const std::string& path);

} // namespace postvue
