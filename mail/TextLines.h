// The line walk of a message's text and the ASCII case helpers, shared by the
// readers, the viewer and the command line.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// Cuts text into lines at CR LF, lone CR and lone LF. A break at the very end
// starts no further line; LF followed by CR is two breaks; a zero byte ends the text.
std::vector<std::string_view> SplitLines(std::string_view text);

// The text as saved: every line (SplitLines) followed by CR LF, the last one too.
std::string CrLfLines(std::string_view text);
// The same, giving text itself back where it is CR LF throughout already.
std::string CrLfLines(std::string&& text);

// ASCII letters in lower case, every other byte as it is: names compared
// with letter case ignored (file names, header names, charset names).
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline std::string AsciiLowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// The bytes before the first zero byte: where stored text ends.
inline std::string_view UpToZero(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

// The line breaks of a text in turn, found with memchr: each kind is
// searched for once past the point reached, so a text of lone CRs does not
// search its whole rest for an LF at every line.
class TLineBreaks {
public:
  explicit TLineBreaks(std::string_view text)
      : Data(text.data()), Size(text.size()), Lf(Find('\n', 0)), Cr(Find('\r', 0)) {}

  // Where the first break at or after from starts (the text's size where
  // none is left), and into length how long it is: 2 for CR LF, else 1.
  std::size_t Next(std::size_t from, std::size_t& length) {
    if (Lf < from) Lf = Find('\n', from);
    if (Cr < from) Cr = Find('\r', from);
    const std::size_t at = std::min(Lf, Cr);
    length = at == Cr && at + 1 < Size && Data[at + 1] == '\n' ? 2 : 1;
    return at;
  }

private:
  std::size_t Find(char c, std::size_t from) const {
    if (from >= Size) return Size;
    const void* at = std::memchr(Data + from, c, Size - from);
    return at ? static_cast<std::size_t>(static_cast<const char*>(at) - Data) : Size;
  }

  const char* Data;
  std::size_t Size;
  std::size_t Lf, Cr; // the next break of each kind found so far
};

// The lines of SplitLines handed to take one by one, with nothing allocated:
// the .mbx reader without its index goes over every message's header lines,
// and export --mbox over every line of the store.
template <typename TTake> void ForEachLine(std::string_view text, TTake take) {
  text = UpToZero(text);
  TLineBreaks breaks(text);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t length = 0;
    const std::size_t end = breaks.Next(start, length); // the text's size where the last line has no break
    take(text.substr(start, end - start));
    start = end + length;
  }
}

} // namespace postvue
