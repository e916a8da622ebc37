// Text of mail in any character set it names, as UTF-8: one map from a
// character set's name to its decoder, used by every caller (bodies, header
// words, parameters).
#pragma once

#include <string>
#include <string_view>

namespace postvue {

// Whether name (letter case ignored, an RFC 2231 language "*en" ignored)
// is a character set decoded here. An empty name is none.
bool IsKnownCharset(std::string_view name);

// bytes in the character set name appended to out as UTF-8. Bytes that
// stand for no character become U+FFFD; nothing is dropped. An unknown or
// empty name reads as Windows-1252 (what the mail program wrote where it
// named none, and under "iso-8859-1"); false then, true for a known one.
bool AppendCharsetText(std::string& out, std::string_view name, std::string_view bytes);

inline std::string CharsetToUtf8(std::string_view name, std::string_view bytes) {
  std::string out;
  AppendCharsetText(out, name, bytes);
  return out;
}

// Whether bytes are UTF-8 that keeps the rules (ASCII is).
bool IsValidUtf8(std::string_view bytes);

} // namespace postvue
