#include "MessageHeaders.h"

#include "TextLines.h"

namespace postvue {

namespace {
bool IsAlnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// "Name:" with a name as mail programs write them: letters, digits, "-",
// "_" and ".", beginning with a letter or digit. (Any printable character
// would be allowed, but then "<td>Subject:" in old HTML would pass.)
bool IsFieldLine(std::string_view line) {
  if (line.empty() || !IsAlnum(line[0])) return false;
  std::size_t i = 1;
  while (i < line.size() && (IsAlnum(line[i]) || line[i] == '-' || line[i] == '_' || line[i] == '.')) ++i;
  return i < line.size() && line[i] == ':';
}

} // namespace

std::size_t HeaderEnd(std::string_view text, THeaderBreaks breaks) {
  if (breaks == THeaderBreaks::CrLf) {
    const std::size_t at = text.find("\r\n\r\n");
    return at == std::string_view::npos ? at : at + 2;
  }
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) break;
    if (end == start) return start;
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return std::string_view::npos;
}

bool LooksLikeMessage(std::string_view text) {
  text = UpToZero(text);
  // The blank line that ends the header is not judged, nor what follows it.
  const std::string_view header = text.substr(0, HeaderEnd(text, THeaderBreaks::Any));
  bool first = true;
  std::size_t start = 0;
  while (start < header.size()) {
    const std::size_t end = header.find_first_of("\r\n", start);
    // A line cut by the end of the bytes is not judged; but the first line
    // must be whole, or two stray bytes such as "1:" would pass.
    if (end == std::string_view::npos) return !first;
    const std::string_view line = header.substr(start, end - start);
    const bool continuation = !first && (line[0] == ' ' || line[0] == '\t');
    if (!continuation && !IsFieldLine(line)) return false;
    first = false;
    start = end + (header[end] == '\r' && end + 1 < header.size() && header[end + 1] == '\n' ? 2 : 1);
  }
  return !first;
}

std::string HeaderField(std::string_view text, std::string_view name) {
  text = UpToZero(text);
  text = text.substr(0, HeaderEnd(text, THeaderBreaks::Any));
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    if (line.size() <= name.size() || line[name.size()] != ':' || !EqualsNoCase(line.substr(0, name.size()), name))
      continue;
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return std::string(value);
  }
  return {};
}

std::string_view AddressIn(std::string_view value) {
  const std::size_t open = value.find('<');
  if (open != std::string_view::npos) {
    const std::size_t close = value.find('>', open);
    if (close != std::string_view::npos) return value.substr(open + 1, close - open - 1);
  }
  for (std::size_t start = 0; start < value.size();) {
    std::size_t end = value.find_first_of(" \t,", start);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view word = value.substr(start, end - start);
    if (word.find('@') != std::string_view::npos) return word;
    start = end + 1;
  }
  return {};
}

} // namespace postvue
