#include "TextLines.h"

#include <algorithm>

namespace postvue {

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  ForEachLine(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

namespace {
// The lines of SplitLines (TLineBreaks): an export converts every text of
// the store, and a byte-by-byte split was a fifth of its time. What is CR LF
// already is copied in runs as long as they go, not line by line. Appends to
// result the text up to each break that changes, with CR LF for it, and
// returns how much of text is in result; result stays empty where nothing
// changes.
std::size_t AppendChangedBreaks(std::string_view text, std::string& result) {
  const std::size_t size = text.size();
  TLineBreaks breaks(text);
  std::size_t copied = 0; // the text before this is in result
  for (std::size_t i = 0; i < size;) {
    std::size_t length = 0;
    const std::size_t end = breaks.Next(i, length);
    if (length == 2) { // CR LF already
      i = end + 2;
      continue;
    }
    // A lone CR, a lone LF, or the end of a last line that has no break.
    if (result.empty()) result.reserve(size + size / 32 + 2); // most texts are CR LF already
    result.append(text.data() + copied, std::min(end, size) - copied);
    result.append("\r\n");
    i = end + 1;
    copied = std::min(i, size);
  }
  return copied;
}
} // namespace

std::string CrLfLines(std::string_view text) {
  const std::string_view kept = UpToZero(text);
  std::string result;
  const std::size_t copied = AppendChangedBreaks(kept, result);
  result.append(kept.substr(copied));
  return result;
}

std::string CrLfLines(std::string&& text) {
  const std::size_t size = UpToZero(text).size();
  std::string result;
  const std::size_t copied = AppendChangedBreaks(std::string_view(text).substr(0, size), result);
  if (result.empty() && size == text.size()) return std::move(text); // CR LF throughout: no copy
  result.append(text, copied, size - copied);
  return result;
}

} // namespace postvue
