#include "Charsets.h"

#include "TransferEncoding.h"

#include "Charset.h"
#include "CharsetTables.h"
#include "TextLines.h"

#include <array>
#include <cstdint>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace postvue {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

enum class TKind { Windows1252, Table, Utf8, Utf7, Utf16Le, Utf16Be, Utf16, Iso2022Jp, Platform };

struct TDecoder {
  TKind Kind = TKind::Windows1252;
  const char16_t* Upper = nullptr; // bytes 0x80-0xFF, for TKind::Table
  const char* IconvName = nullptr; // TKind::Platform: glibc's name
  unsigned CodePage = 0;           //   and the Windows code page
};

template <std::size_t N> const char16_t* TableFor(const TCharsetTable (&tables)[N], int number) {
  for (const TCharsetTable& table : tables)
    if (table.Number == number) return table.Upper;
  return nullptr;
}

std::optional<TDecoder> FromTable(const char16_t* upper) {
  if (!upper) return std::nullopt;
  return TDecoder{TKind::Table, upper};
}

std::optional<TDecoder> IsoPart(int part) {
  // Part 1 as Windows-1252: the mail program wrote its 0x80-0x9F under that label.
  if (part == 1) return TDecoder{};
  return FromTable(TableFor(kIso8859Tables, part));
}

std::optional<TDecoder> CodePage(int page) {
  if (page == 1252) return TDecoder{};
  if (const char16_t* upper = TableFor(kWindowsTables, page)) return TDecoder{TKind::Table, upper};
  return FromTable(TableFor(kOtherTables, page));
}

struct TNamed {
  std::string_view Name;
  TDecoder Decoder;
};

TDecoder Platform(const char* iconvName, unsigned codePage) { return {TKind::Platform, nullptr, iconvName, codePage}; }

// Names and aliases that the patterns in FindDecoder do not cover.
const std::array<TNamed, 49> kNamed = {{
    {"utf-16le", {TKind::Utf16Le}},
    {"utf-16be", {TKind::Utf16Be}},
    {"utf-16", {TKind::Utf16}},
    {"utf-8", {TKind::Utf8}},
    {"utf8", {TKind::Utf8}},
    {"utf-7", {TKind::Utf7}},
    {"utf7", {TKind::Utf7}},
    {"unicode-1-1-utf-7", {TKind::Utf7}},
    // 8-bit bytes under an ASCII label are the writer's code page: Windows-1252 here.
    {"us-ascii", {}},
    {"ascii", {}},
    {"ansi_x3.4-1968", {}},
    {"us", {}},
    {"latin1", {}},
    {"l1", {}},
    {"cp819", {}},
    {"iso-ir-100", {}},
    {"koi8-r", CodePage(20866).value()},
    {"koi8r", CodePage(20866).value()},
    {"cskoi8r", CodePage(20866).value()},
    {"koi8-u", CodePage(21866).value()},
    {"koi8u", CodePage(21866).value()},
    {"tis-620", CodePage(874).value()},
    {"tis620", CodePage(874).value()},
    {"iso-2022-jp", {TKind::Iso2022Jp}},
    {"csiso2022jp", {TKind::Iso2022Jp}},
    {"shift_jis", Platform("CP932", 932)},
    {"shift-jis", Platform("CP932", 932)},
    {"sjis", Platform("CP932", 932)},
    {"x-sjis", Platform("CP932", 932)},
    {"ms_kanji", Platform("CP932", 932)},
    {"windows-31j", Platform("CP932", 932)},
    {"euc-jp", Platform("EUC-JP", 20932)},
    {"x-euc-jp", Platform("EUC-JP", 20932)},
    // GB 2312 as GBK, its superset, as mail programs read it.
    {"gb2312", Platform("CP936", 936)},
    {"gb_2312-80", Platform("CP936", 936)},
    {"csgb2312", Platform("CP936", 936)},
    {"euc-cn", Platform("CP936", 936)},
    {"x-euc-cn", Platform("CP936", 936)},
    {"gbk", Platform("CP936", 936)},
    {"x-gbk", Platform("CP936", 936)},
    {"gb18030", Platform("GB18030", 54936)},
    {"big5", Platform("CP950", 950)},
    {"x-x-big5", Platform("CP950", 950)},
    {"cn-big5", Platform("CP950", 950)},
    {"big5-hkscs", Platform("BIG5-HKSCS", 950)},
    {"euc-kr", Platform("CP949", 949)},
    {"ks_c_5601-1987", Platform("CP949", 949)},
    {"ks_c_5601", Platform("CP949", 949)},
    {"korean", Platform("CP949", 949)},
}};

std::optional<TDecoder> FindDecoder(std::string_view name) {
  std::string lower = AsciiLowerCase(name.substr(0, name.find('*')));
  while (!lower.empty() && (lower.back() == ' ' || lower.back() == '\t')) lower.pop_back();
  while (!lower.empty() && (lower.front() == ' ' || lower.front() == '\t')) lower.erase(0, 1);
  if (lower.empty()) return std::nullopt;
  for (const TNamed& named : kNamed)
    if (named.Name == lower) return named.Decoder;
  // Hebrew and Arabic with their direction suffixes ("iso-8859-8-i").
  if (lower.size() > 2 && (lower.ends_with("-i") || lower.ends_with("-e"))) lower.resize(lower.size() - 2);
  for (const std::string_view prefix : {"iso-8859-", "iso8859-", "iso_8859-", "iso8859_", "iso-8859_"})
    if (const std::optional<int> part = NumberAfter(lower, prefix)) return IsoPart(*part);
  if (const std::optional<int> latin = NumberAfter(lower, "latin")) {
    static constexpr int kIsoPartOfLatin[] = {0, 1, 2, 3, 4, 9, 10, 13, 14, 15, 16};
    if (*latin >= 1 && *latin <= 10) return IsoPart(kIsoPartOfLatin[*latin]);
  }
  for (const std::string_view prefix : {"windows-", "cp", "win-", "x-cp", "cp-", "ms"}) {
    const std::optional<int> page = NumberAfter(lower, prefix);
    if (!page) continue;
    if (*page == 932) return Platform("CP932", 932);
    if (*page == 936) return Platform("CP936", 936);
    if (*page == 949) return Platform("CP949", 949);
    if (*page == 950) return Platform("CP950", 950);
    if (*page == 20866) return CodePage(20866);
    return CodePage(*page);
  }
  return std::nullopt;
}


// UTF-16 code units as UTF-8; a surrogate without its pair is U+FFFD.
class TUtf16Sink {
public:
  explicit TUtf16Sink(std::string& out) : Out(out) {}
  void Put(char16_t unit) {
    if (High) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        AppendUtf8(Out, 0x10000 + ((static_cast<char32_t>(High) - 0xD800) << 10) + (unit - 0xDC00));
        High = 0;
        return;
      }
      AppendUtf8(Out, kReplacement);
      High = 0;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF)
      High = unit;
    else
      AppendUtf8(Out, unit >= 0xDC00 && unit <= 0xDFFF ? kReplacement : unit);
  }
  void Finish() {
    if (High) AppendUtf8(Out, kReplacement);
    High = 0;
  }

private:
  std::string& Out;
  char16_t High = 0;
};


// UTF-7 (RFC 2152): "+" opens base64 of UTF-16, ended by "-" (taken) or by
// any character outside base64; "+-" is "+".
void AppendUtf7(std::string& out, std::string_view bytes) {
  TUtf16Sink sink(out);
  for (std::size_t i = 0; i < bytes.size();) {
    const char c = bytes[i];
    if (c != '+') {
      sink.Finish();
      if (static_cast<unsigned char>(c) < 0x80)
        out += c;
      else
        AppendUtf8(out, kReplacement);
      ++i;
      continue;
    }
    ++i;
    if (i < bytes.size() && bytes[i] == '-') {
      sink.Finish();
      out += '+';
      ++i;
      continue;
    }
    std::uint32_t bits = 0;
    int count = 0;
    for (; i < bytes.size() && Base64Digit(bytes[i]) >= 0; ++i) {
      bits = (bits << 6) | static_cast<std::uint32_t>(Base64Digit(bytes[i]));
      count += 6;
      if (count >= 16) {
        count -= 16;
        sink.Put(static_cast<char16_t>((bits >> count) & 0xFFFF));
      }
    }
    if (i < bytes.size() && bytes[i] == '-') ++i;
  }
  sink.Finish();
}

// The platform's conversion for the multi-byte sets; false when it has none.
bool AppendPlatform(std::string& out, const TDecoder& decoder, std::string_view bytes) {
#ifdef _WIN32
  // In pieces that an int can count; a piece ends after a line break, so no
  // character is cut (these sets keep line breaks as single bytes).
  constexpr std::size_t kPiece = 1u << 24;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.size();
    if (end - start > kPiece) {
      const std::size_t lf = bytes.rfind('\n', start + kPiece);
      end = lf != std::string_view::npos && lf > start ? lf + 1 : start + kPiece;
    }
    const std::string_view piece = bytes.substr(start, end - start);
    const int size = static_cast<int>(piece.size());
    const int units = MultiByteToWideChar(decoder.CodePage, 0, piece.data(), size, nullptr, 0);
    if (units <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(decoder.CodePage, 0, piece.data(), size, wide.data(), units);
    TUtf16Sink sink(out);
    // Windows gives bytes that are no character in these sets (and their
    // user-defined areas) as private-use characters: they mean nothing on
    // another machine, and iconv calls them invalid, so both read U+FFFD.
    for (const wchar_t unit : wide)
      sink.Put(unit >= 0xE000 && unit <= 0xF8FF ? char16_t{0xFFFD} : static_cast<char16_t>(unit));
    sink.Finish();
    start = end;
  }
  return true;
#else
  const iconv_t converter = iconv_open("UTF-8", decoder.IconvName);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input(bytes); // iconv takes char**
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[4096];
  bool flushed = false;
  while (!flushed) {
    char* o = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result =
        inLeft > 0 ? iconv(converter, &in, &inLeft, &o, &outLeft) : iconv(converter, nullptr, nullptr, &o, &outLeft);
    const int error = errno;
    out.append(buffer, static_cast<std::size_t>(o - buffer));
    if (result != static_cast<std::size_t>(-1)) {
      flushed = inLeft == 0 && o == buffer;
      continue;
    }
    if (error == E2BIG) continue;
    AppendUtf8(out, kReplacement);
    if (error == EILSEQ && inLeft > 0) {
      ++in; // the byte that stands for nothing; the text goes on after it
      --inLeft;
    } else {
      inLeft = 0; // a character cut by the end
      flushed = true;
    }
  }
  iconv_close(converter);
  return true;
#endif
}

// UTF-16 in the byte order given, or for TKind::Utf16 the one its byte
// order mark gives (big-endian without one); an odd last byte is U+FFFD.
void AppendUtf16(std::string& out, TKind kind, std::string_view bytes) {
  if (kind == TKind::Utf16) {
    kind = TKind::Utf16Be;
    if (bytes.starts_with("\xFF\xFE")) kind = TKind::Utf16Le, bytes.remove_prefix(2);
    else if (bytes.starts_with("\xFE\xFF")) bytes.remove_prefix(2);
  }
  TUtf16Sink sink(out);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
    sink.Put(static_cast<char16_t>(kind == TKind::Utf16Le ? first | (second << 8) : (first << 8) | second));
  }
  sink.Finish();
  if (bytes.size() % 2) AppendUtf8(out, kReplacement);
}

void AppendDecoded(std::string& out, const TDecoder& decoder, std::string_view bytes);

// ISO-2022-JP as the EUC-JP bytes of the same characters, which every
// platform converts (Windows' own ISO-2022-JP code page is missing under Wine):
// JIS X 0208 pairs get their high bits, half-width katakana its 0x8E prefix.
void AppendIso2022Jp(std::string& out, std::string_view bytes) {
  enum { Ascii, Double, Katakana } mode = Ascii;
  std::string euc;
  euc.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\x1b' && i + 2 < bytes.size()) {
      const std::string_view escape = bytes.substr(i + 1, 2);
      if (escape == "(B" || escape == "(J") mode = Ascii, i += 2;
      else if (escape == "$@" || escape == "$B") mode = Double, i += 2;
      else if (escape == "(I") mode = Katakana, i += 2;
      else euc += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (mode == Double && byte >= 0x21 && byte <= 0x7E && i + 1 < bytes.size()) {
      euc += static_cast<char>(byte | 0x80);
      euc += static_cast<char>(static_cast<unsigned char>(bytes[++i]) | 0x80);
    } else if (mode == Katakana && byte >= 0x21 && byte <= 0x5F) {
      euc += '\x8E';
      euc += static_cast<char>(byte | 0x80);
    } else {
      // Line breaks end a line's double-byte run too; an 8-bit byte is invalid here.
      euc += byte < 0x80 ? c : '\xFF';
    }
  }
  AppendDecoded(out, Platform("EUC-JP", 20932), euc);
}

void AppendDecoded(std::string& out, const TDecoder& decoder, std::string_view bytes) {
  switch (decoder.Kind) {
  case TKind::Iso2022Jp:
    AppendIso2022Jp(out, bytes);
    return;
  case TKind::Utf16Le:
  case TKind::Utf16Be:
  case TKind::Utf16:
    AppendUtf16(out, decoder.Kind, bytes);
    return;
  case TKind::Utf8:
    AppendCheckedUtf8(out, bytes);
    return;
  case TKind::Utf7:
    AppendUtf7(out, bytes);
    return;
  case TKind::Platform:
    if (AppendPlatform(out, decoder, bytes)) return;
    break; // no conversion on this system: read as the fallback
  case TKind::Table:
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80)
        out += c;
      else
        AppendUtf8(out, decoder.Upper[byte - 0x80]);
    }
    return;
  case TKind::Windows1252:
    break;
  }
  out += Windows1252ToUtf8(bytes);
}
} // namespace

bool IsKnownCharset(std::string_view name) { return FindDecoder(name).has_value(); }

bool AppendCharsetText(std::string& out, std::string_view name, std::string_view bytes) {
  const std::optional<TDecoder> decoder = FindDecoder(name);
  AppendDecoded(out, decoder.value_or(TDecoder{}), bytes);
  return decoder.has_value();
}

bool IsValidUtf8(std::string_view bytes) {
  std::string checked;
  AppendCheckedUtf8(checked, bytes);
  return checked == bytes;
}

} // namespace postvue
