// The 8-bit texts of the stores as characters. The mail program wrote them in
// the Windows ANSI code page of its machine; Windows-1252 is what almost every
// store holds, and what is shown where no ANSI code page exists.
#pragma once

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

} // namespace postvue
