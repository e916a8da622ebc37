// The transfer encodings of mail bodies, each a pure function over the
// encoded bytes. None reads a declared size: output is bounded by the bytes
// present, whatever a header claims.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

enum class TTransferEncoding { Identity, QuotedPrintable, Base64, Uuencode };

// The encoding a Content-Transfer-Encoding value names; 7bit, 8bit, binary
// and anything unknown are the bytes as they are.
TTransferEncoding TransferEncodingNamed(std::string_view value);

// Quoted-printable: "=" at a line's end joins it to the next, "=XX" is a byte,
// any other "=" stays as written; blanks at a line's end are dropped.
std::string DecodeQuotedPrintable(std::string_view text);

// Base64: line breaks and characters outside the alphabet skipped (defect
// set when other than blanks and breaks were), missing padding tolerated.
std::string DecodeBase64(std::string_view text, bool* defect = nullptr);

// Uuencoded lines, after a "begin" line when there is one, up to "end".
std::string DecodeUuencode(std::string_view text);

// Bytes as the encoding gives them.
std::string DecodeTransfer(TTransferEncoding encoding, std::string_view text, bool* defect = nullptr);

// A "begin 644 name" ... "end" block inside a text: offsets into the text
// (Start at the begin line, End after the end line's break), the name.
struct TUuBlock {
  std::size_t Start = 0, End = 0;
  std::string Name;
};
std::vector<TUuBlock> FindUuBlocks(std::string_view text);

// The value of a base64 digit, -1 for any other character. A table: every
// byte of every attachment is looked up.
inline constexpr std::array<signed char, 256> kBase64Digits = [] {
  std::array<signed char, 256> digits{};
  digits.fill(-1);
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i)
    digits[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
  return digits;
}();
inline int Base64Digit(char c) { return kBase64Digits[static_cast<unsigned char>(c)]; }

} // namespace postvue
