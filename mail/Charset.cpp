#include "Charset.h"

#include "CharsetTables.h"
#include "TransferEncoding.h"
#include "TextLines.h"

#include <cstdint>
#include <optional>

namespace postvue {

char16_t Windows1252ToUnicode(unsigned char byte) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : char16_t{byte};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80)
      out += c;
    else
      AppendUtf8(out, Windows1252ToUnicode(byte));
  }
  return out;
}

namespace {
constexpr char32_t kReplacement = 0xFFFD;

enum class TCharsetKind { Ascii, Latin1, Windows1252, Table, Utf8 };

struct TCharset {
  TCharsetKind Kind = TCharsetKind::Ascii;
  const char16_t* Upper = nullptr; // bytes 0x80-0xFF, for TCharsetKind::Table
  bool operator==(const TCharset&) const = default;
};

template <std::size_t N>
std::optional<TCharset> FromTables(const TCharsetTable (&tables)[N], std::optional<int> number) {
  if (number)
    for (const TCharsetTable& table : tables)
      if (table.Number == *number) return TCharset{TCharsetKind::Table, table.Upper};
  return std::nullopt;
}

// The character set an encoded word names (case-insensitive, an RFC 2231
// language suffix "*en" ignored).
std::optional<TCharset> FindCharset(std::string_view name) {
  const std::string lower = AsciiLowerCase(name.substr(0, name.find('*')));
  if (lower == "utf-8" || lower == "utf8") return TCharset{TCharsetKind::Utf8};
  if (lower == "us-ascii" || lower == "ascii") return TCharset{TCharsetKind::Ascii};
  if (lower == "latin1") return TCharset{TCharsetKind::Latin1};
  for (const std::string_view prefix : {"iso-8859-", "iso8859-", "iso_8859-", "iso8859_"}) {
    const std::optional<int> part = NumberAfter(lower, prefix);
    if (part == 1) return TCharset{TCharsetKind::Latin1};
    if (part) return FromTables(kIso8859Tables, part);
  }
  for (const std::string_view prefix : {"windows-", "cp", "win-"}) {
    const std::optional<int> page = NumberAfter(lower, prefix);
    if (page == 1252) return TCharset{TCharsetKind::Windows1252};
    if (page) return FromTables(kWindowsTables, page);
  }
  return std::nullopt;
}


void AppendDecoded(std::string& out, const TCharset& charset, std::string_view bytes) {
  if (charset.Kind == TCharsetKind::Utf8) {
    AppendCheckedUtf8(out, bytes);
    return;
  }
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80)
      out += c;
    else if (charset.Kind == TCharsetKind::Latin1)
      AppendUtf8(out, byte);
    else if (charset.Kind == TCharsetKind::Windows1252)
      AppendUtf8(out, Windows1252ToUnicode(byte));
    else if (charset.Kind == TCharsetKind::Table)
      AppendUtf8(out, charset.Upper[byte - 0x80]);
    else
      AppendUtf8(out, kReplacement);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The "Q" encoding: "_" is a blank, "=XX" a byte; an "=" without two hex digits stays.
std::string DecodeQ(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      bytes += ' ';
    } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}


// The "B" encoding (base64); none for a character outside its alphabet.
std::optional<std::string> DecodeB(std::string_view text) {
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    const int value = Base64Digit(c);
    if (value < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return bytes;
}

struct TEncodedWord {
  TCharset Charset;
  std::string Bytes;
  std::size_t Length = 0; // of the word as written
};

// The encoded word at the start of text, if one is there and can be decoded.
std::optional<TEncodedWord> EncodedWordAt(std::string_view text) {
  if (text.substr(0, 2) != "=?") return std::nullopt;
  const std::size_t charsetEnd = text.find('?', 2);
  if (charsetEnd == std::string_view::npos || charsetEnd == 2 || charsetEnd + 2 >= text.size() ||
      text[charsetEnd + 2] != '?')
    return std::nullopt;
  const std::size_t textStart = charsetEnd + 3;
  const std::size_t end = text.find("?=", textStart);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view charsetName = text.substr(2, charsetEnd - 2);
  const std::string_view encoded = text.substr(textStart, end - textStart);
  if (charsetName.find_first_of(" \t\r\n") != std::string_view::npos ||
      encoded.find_first_of(" \t\r\n") != std::string_view::npos)
    return std::nullopt;
  const std::optional<TCharset> charset = FindCharset(charsetName);
  if (!charset) return std::nullopt;
  const char encoding = text[charsetEnd + 1];
  std::optional<std::string> bytes;
  if (encoding == 'Q' || encoding == 'q')
    bytes = DecodeQ(encoded);
  else if (encoding == 'B' || encoding == 'b')
    bytes = DecodeB(encoded);
  if (!bytes) return std::nullopt;
  return TEncodedWord{*charset, std::move(*bytes), end + 2};
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
} // namespace

std::optional<int> NumberAfter(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 5)
    return std::nullopt;
  int number = 0;
  for (const char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

void AppendCheckedUtf8(std::string& out, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    std::size_t length = 0;
    char32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, c = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, c = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, c = lead & 0x07, least = 0x10000;
    bool valid = length != 0 && bytes.size() - i >= length;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (valid && c >= least && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      AppendUtf8(out, kReplacement);
      ++i;
    }
  }
}

std::string HeaderTextToUtf8(std::string_view text) {
  std::string out;
  // Adjacent words in one character set are decoded together: a mail program
  // may split a character's bytes between two words.
  std::string pending;
  TCharset pendingCharset;
  bool afterWord = false;
  auto flush = [&] {
    AppendDecoded(out, pendingCharset, pending);
    pending.clear();
  };
  for (std::size_t i = 0; i < text.size();) {
    if (std::optional<TEncodedWord> word = EncodedWordAt(text.substr(i))) {
      if (!pending.empty() && !(word->Charset == pendingCharset)) flush();
      pendingCharset = word->Charset;
      pending += word->Bytes;
      i += word->Length;
      afterWord = true;
      continue;
    }
    if (afterWord) {
      // Blanks between two encoded words are not part of the text.
      std::size_t blanks = i;
      while (blanks < text.size() && IsBlank(text[blanks])) ++blanks;
      if (blanks > i && EncodedWordAt(text.substr(blanks))) {
        i = blanks;
        continue;
      }
      flush();
      afterWord = false;
    }
    AppendUtf8(out, Windows1252ToUnicode(static_cast<unsigned char>(text[i])));
    ++i;
  }
  flush();
  return out;
}

} // namespace postvue
