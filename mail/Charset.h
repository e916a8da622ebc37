// The 8-bit texts of the stores as characters. The mail program wrote them in
// the Windows ANSI code page of its machine; Windows-1252 is what almost every
// store holds, and what is shown where no ANSI code page exists.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace postvue {

// The code point of one Windows-1252 byte. Its five undefined bytes keep their
// C1 code points; every byte outside 0x80-0x9F is its Latin-1 code point.
char16_t Windows1252ToUnicode(unsigned char byte);

// Windows-1252 bytes as UTF-8.
std::string Windows1252ToUtf8(std::string_view bytes);

// One code point appended to out as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// The number of up to five digits after prefix in a charset name ("15" of
// "iso-8859-15", "20866" of "cp20866"), or none.
std::optional<int> NumberAfter(std::string_view name, std::string_view prefix);

// bytes as UTF-8 where they hold to its rules; every byte that does not
// starts a U+FFFD.
void AppendCheckedUtf8(std::string& out, std::string_view bytes);

} // namespace postvue
