#include "TransferEncoding.h"

#include "TextLines.h"

#include <cstdint>

namespace postvue {

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}


bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The length of the line break at text[i] (CR LF, CR or LF), 0 for none.
std::size_t BreakAt(std::string_view text, std::size_t i) {
  if (i >= text.size()) return 0;
  if (text[i] == '\r') return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
  return text[i] == '\n' ? 1 : 0;
}

// Calls take(line, end of line with its break) for each line of text.
template <typename TTake> void EachLine(std::string_view text, TTake take) {
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::size_t next = end + BreakAt(text, end);
    if (!take(text.substr(start, end - start), next)) return;
    start = next;
  }
}

bool IsUuBegin(std::string_view line, std::string* name) {
  // "begin", a blank, three or four octal digits, a blank, the name.
  if (!line.starts_with("begin ")) return false;
  std::size_t i = 6, digits = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '7') ++i, ++digits;
  if (digits < 3 || digits > 4 || i >= line.size() || line[i] != ' ') return false;
  std::string_view rest = line.substr(i + 1);
  while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
  if (rest.empty()) return false;
  if (name) *name = std::string(rest);
  return true;
}

bool IsUuEnd(std::string_view line) {
  while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
  return line == "end";
}

// One uuencoded line appended to out: its first character counts the bytes.
void AppendUuLine(std::string& out, std::string_view line) {
  if (line.empty()) return;
  std::size_t count = static_cast<std::size_t>((line[0] - ' ') & 0x3F);
  auto digit = [&](std::size_t i) { return i < line.size() ? static_cast<unsigned>((line[i] - ' ') & 0x3F) : 0u; };
  for (std::size_t i = 1; count > 0 && i < line.size(); i += 4) {
    const std::uint32_t group = (digit(i) << 18) | (digit(i + 1) << 12) | (digit(i + 2) << 6) | digit(i + 3);
    for (int k = 2; k >= 0 && count > 0; --k, --count) out += static_cast<char>((group >> (8 * k)) & 0xFF);
  }
}
} // namespace


TTransferEncoding TransferEncodingNamed(std::string_view value) {
  const std::string name = AsciiLowerCase(value);
  if (name == "quoted-printable") return TTransferEncoding::QuotedPrintable;
  if (name == "base64") return TTransferEncoding::Base64;
  if (name == "x-uuencode" || name == "x-uue" || name == "uuencode" || name == "x-uu")
    return TTransferEncoding::Uuencode;
  return TTransferEncoding::Identity;
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '=') {
      // A soft break, blanks before it allowed.
      std::size_t after = i + 1;
      while (after < text.size() && IsBlank(text[after])) ++after;
      if (const std::size_t length = BreakAt(text, after)) {
        i = after + length;
        continue;
      }
      if (after == text.size()) { // "=" at the very end: a soft break to nothing
        i = after;
        continue;
      }
      if (i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
        out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
        i += 3;
        continue;
      }
      out += c; // malformed: kept as written
      ++i;
      continue;
    }
    if (IsBlank(c)) {
      // Blanks at a line's end were added in transport.
      std::size_t after = i;
      while (after < text.size() && IsBlank(text[after])) ++after;
      if (after == text.size() || BreakAt(text, after)) {
        i = after;
        continue;
      }
      out.append(text.substr(i, after - i));
      i = after;
      continue;
    }
    // The plain bytes up to the next "=", at once.
    // A blank goes with them unless blanks or a line's end follow it.
    const std::size_t run = i;
    for (; i < text.size() && text[i] != '='; ++i)
      if (IsBlank(text[i]) && (i + 1 == text.size() || IsBlank(text[i + 1]) || text[i + 1] == '\r' || text[i + 1] == '\n'))
        break;
    out.append(text.substr(run, i - run));
  }
  return out;
}

std::string DecodeBase64(std::string_view text, bool* defect) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0;
  bool stray = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const int value = Base64Digit(c);
    if (value < 0) {
      if (c == '=') {
        // Padding ends the data; what follows is not decoded (a note when it is more than blanks).
        for (const char rest : text.substr(i))
          if (rest != '=' && rest != '\r' && rest != '\n' && !IsBlank(rest)) stray = true;
        break;
      } else if (c != '\r' && c != '\n' && !IsBlank(c)) {
        stray = true;
      }
      continue;
    }
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  if (defect) *defect = stray;
  return out;
}

std::string DecodeUuencode(std::string_view text) {
  std::string out;
  bool begun = false, anyBegin = false;
  EachLine(text, [&](std::string_view line, std::size_t) {
    if (!anyBegin && IsUuBegin(line, nullptr)) {
      anyBegin = begun = true;
      return true;
    }
    if (IsUuEnd(line)) return false;
    (void)begun;
    AppendUuLine(out, line);
    return true;
  });
  return out;
}

std::string DecodeTransfer(TTransferEncoding encoding, std::string_view text, bool* defect) {
  if (defect) *defect = false;
  switch (encoding) {
  case TTransferEncoding::QuotedPrintable:
    return DecodeQuotedPrintable(text);
  case TTransferEncoding::Base64:
    return DecodeBase64(text, defect);
  case TTransferEncoding::Uuencode:
    return DecodeUuencode(text);
  case TTransferEncoding::Identity:
    break;
  }
  return std::string(text);
}

std::vector<TUuBlock> FindUuBlocks(std::string_view text) {
  std::vector<TUuBlock> blocks;
  // Quick out: most texts hold no "begin " at all.
  if (text.find("begin ") == std::string_view::npos) return blocks;
  std::size_t lineStart = 0;
  TUuBlock* open = nullptr;
  EachLine(text, [&](std::string_view line, std::size_t next) {
    std::string name;
    if (!open && IsUuBegin(line, &name)) {
      blocks.push_back({lineStart, text.size(), std::move(name)});
      open = &blocks.back();
    } else if (open && IsUuEnd(line)) {
      open->End = next;
      open = nullptr;
    }
    lineStart = next;
    return true;
  });
  return blocks;
}

} // namespace postvue
