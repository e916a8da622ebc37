#include "Search.h"

#include "Charset.h"
#include "Mime.h"
#include "ReadableMessage.h"
#include "TextLines.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <string.h> // memmem
#include <functional>

namespace postvue {

namespace {

// ---------------------------------------------------------------- folding

// The base letter of U+00C0-U+024F: '.' keeps the character, '?' has two
// letters (FoldLatin).
constexpr std::string_view kLatinBase =
    "aaaaaa?ceeeeiiii" "dnooooo.ouuuuy??" "aaaaaa?ceeeeiiii" "dnooooo.ouuuuy?y" // U+00C0
    "aaaaaaccccccccdd" "ddeeeeeeeeeegggg" "gggghhhhiiiiiiii" "ii??jjkkklllllll" // U+0100
    "lllnnnnnnnnnoooo" "oo??rrrrrrssssss" "ssttttttuuuuuuuu" "uuuuwwyyyzzzzzzs"
    "bbbb..occdddd.ee" "effg..iikkl.mnno" "oo..ppr....ttttu" "u.vyyzz........." // U+0180
    "....?????????aai" "ioouuuuuuuuuueaa" "aa??ggggkkoooo.." "j???gg..nnaa??oo"
    "aaaaeeeeiiiioooo" "rrrruuuusstt..hh" "nd..zzaaeeoooooo" "ooyylntj..acclts" // U+0200
    "z..buveejjqqrryy";
constexpr char32_t kLatinFirst = 0xC0;
static_assert(kLatinBase.size() == 0x250 - kLatinFirst);

std::string_view FoldLatinPair(char32_t c) {
  switch (c) {
  case 0xC6: case 0xE6: case 0x1E2: case 0x1E3: case 0x1FC: case 0x1FD: return "ae";
  case 0xDE: case 0xFE: return "th";
  case 0xDF: return "ss";
  case 0x132: case 0x133: return "ij";
  case 0x152: case 0x153: return "oe";
  case 0x1C7: case 0x1C8: case 0x1C9: return "lj";
  case 0x1CA: case 0x1CB: case 0x1CC: return "nj";
  default: return "dz"; // U+01C4-U+01C6, U+01F1-U+01F3
  }
}

// Greek in lower case without tonos and dialytika; final sigma as sigma.
char32_t FoldGreek(char32_t c) {
  switch (c) {
  case 0x386: case 0x3AC: return 0x3B1;
  case 0x388: case 0x3AD: return 0x3B5;
  case 0x389: case 0x3AE: return 0x3B7;
  case 0x38A: case 0x3AF: case 0x390: case 0x3AA: case 0x3CA: return 0x3B9;
  case 0x38C: case 0x3CC: return 0x3BF;
  case 0x38E: case 0x3CD: case 0x3B0: case 0x3AB: case 0x3CB: return 0x3C5;
  case 0x38F: case 0x3CE: return 0x3C9;
  case 0x3C2: return 0x3C3;
  default: break;
  }
  if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3A9)) return c + 0x20;
  return c;
}

// Cyrillic in lower case; ё, ѐ and ѝ as е and и, as Russian is written without the marks.
char32_t FoldCyrillic(char32_t c) {
  if (c >= 0x400 && c <= 0x40F) c += 0x50;
  else if (c >= 0x410 && c <= 0x42F) c += 0x20;
  else if (((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF)) && c % 2 == 0) ++c;
  else if (c >= 0x4C1 && c <= 0x4CE && c % 2 == 1) ++c;
  else if (c == 0x4C0) c = 0x4CF;
  if (c == 0x450 || c == 0x451) return 0x435;
  if (c == 0x45D) return 0x438;
  return c;
}

bool IsFoldBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

// The code point of the UTF-8 sequence at text[i] into c and its length, or 0 when it is none.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& c) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, c = lead & 0x1F, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, c = lead & 0x0F, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, c = lead & 0x07, min = 0x10000;
  else return 0;
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    c = c << 6 | (byte(k) & 0x3F);
  }
  return c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF) ? length : 0;
}

// ---------------------------------------------------------------- plain messages

// Where needle is in text from from on, or npos. glibc's memmem skips
// ahead as Horspool does, on pairs of bytes; elsewhere the standard searcher.
std::size_t Find(std::string_view text, std::string_view needle, std::size_t from = 0) {
  if (from >= text.size() || needle.size() > text.size() - from) return std::string_view::npos;
#ifdef __GLIBC__
  const void* found = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data()) : std::string_view::npos;
#else
  const auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                                 std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
  return found == text.end() ? std::string_view::npos : static_cast<std::size_t>(found - text.begin());
#endif
}

// The end of the header field whose line holds at: its last line's break,
// continuation lines included.
std::size_t FieldEnd(std::string_view text, std::size_t at) {
  for (;;) {
    at = text.find_first_of("\r\n", at);
    if (at == std::string_view::npos) return text.size();
    std::size_t next = at + 1;
    if (text[at] == '\r' && next < text.size() && text[next] == '\n') ++next;
    if (next >= text.size() || (text[next] != ' ' && text[next] != '\t')) return at;
    at = next;
  }
}

// Whether a Content-* field (lower case) is one the decoder reads as written:
// no encoding of the body (quoted-printable, base64, uuencoding), no HTML or
// enclosed message, no encoded words, quoted pairs or RFC 2231 pieces in its
// parameters, and a character set that reads ASCII as ASCII (UTF-7 and
// EBCDIC make letters of other bytes).
bool IsPlainContentField(std::string_view field) {
  for (const std::string_view marker : {"=?", "quoted-printable", "base64", "x-uu", "uuencode", "html", "message/", "\\"})
    if (field.find(marker) != std::string_view::npos) return false;
  // name*=, name*0=: percent-encoded pieces, joined.
  for (std::size_t star = field.find('*'); star != std::string_view::npos; star = field.find('*', star + 1)) {
    std::size_t next = star + 1;
    while (next < field.size() && IsFoldBlank(field[next])) ++next;
    if (next < field.size() && (field[next] == '=' || (field[next] >= '0' && field[next] <= '9'))) return false;
  }
  for (std::size_t at = field.find("charset"); at != std::string_view::npos; at = field.find("charset", at + 1)) {
    std::size_t i = at + 7;
    while (i < field.size() && IsFoldBlank(field[i])) ++i;
    if (i >= field.size() || field[i] != '=') continue;
    ++i;
    while (i < field.size() && IsFoldBlank(field[i])) ++i;
    if (i < field.size() && (field[i] == '"' || field[i] == '\'')) ++i;
    std::size_t end = i;
    while (end < field.size() && ((field[end] >= 'a' && field[end] <= 'z') || (field[end] >= '0' && field[end] <= '9') ||
                                  field[end] == '-' || field[end] == '_'))
      ++end;
    const std::string_view name = field.substr(i, end - i);
    const bool ascii = name == "us-ascii" || name == "ascii" || name == "utf-8" || name == "utf8" ||
                       (name.starts_with("iso-8859-") && name.size() <= 11) ||
                       (name.starts_with("windows-125") && name.size() == 12);
    if (!ascii) return false;
  }
  return true;
}

// A message's raw text lower-cased (ASCII) into lower, and whether it is
// plain: every byte printable ASCII, a blank or a line break; no uuencoded
// file; every Content-* field plain (IsPlainContentField). The body and the
// attachment names of a plain message hold only runs of letters and digits
// that its raw text holds, bar the names the decoder makes up. (Its From,
// To, Cc and Subject are read apart: their quotes and comments go.)
bool LowerAndCheckPlain(std::string_view raw, std::string& lower) {
  lower.resize(raw.size());
  const auto* in = reinterpret_cast<const unsigned char*>(raw.data());
  auto* out = reinterpret_cast<unsigned char*>(lower.data());
  unsigned char high = 0, control = 0;
  auto step = [&](unsigned char& c) {
    high |= c;
    control |= static_cast<unsigned char>((c < 0x20) & (c != '\t') & (c != '\n') & (c != '\r')) |
               static_cast<unsigned char>(c == 0x7F);
    c = static_cast<unsigned char>(c | (static_cast<unsigned char>(c - 'A') < 26 ? 0x20 : 0));
  };
  // Blocks of a fixed size in a buffer of their own, which the compiler
  // does many bytes at a time.
  constexpr std::size_t kBlock = 64;
  unsigned char block[kBlock];
  std::size_t i = 0;
  for (; i + kBlock <= raw.size(); i += kBlock) {
    std::memcpy(block, in + i, kBlock);
    for (unsigned char& c : block) step(c);
    std::memcpy(out + i, block, kBlock);
  }
  for (; i < raw.size(); ++i) {
    unsigned char c = in[i];
    step(c);
    out[i] = c;
  }
  if ((high & 0x80) || control) return false;
  const std::string_view text(lower);
  // "begin 644 name" at a line's start opens a uuencoded file, cut out of the text.
  for (std::size_t at = Find(text, "begin "); at != std::string_view::npos; at = Find(text, "begin ", at + 1))
    if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') return false;
  for (std::size_t at = Find(text, "content-"); at != std::string_view::npos; at = Find(text, "content-", at + 1)) {
    const std::size_t end = FieldEnd(text, at);
    if (!IsPlainContentField(text.substr(at, end - at))) return false;
    at = end;
  }
  return true;
}

// Whether a term's key may be in the names the decoder makes up for
// attachments ("attachment-2.jpg", "Subject.eml"): digits, or letters as
// few as an extension has, or part of "attachment".
bool MayBeMadeUpName(std::string_view key) {
  const bool digits = std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digits || key.size() <= 4 || std::string_view("attachment").find(key) != std::string_view::npos;
}

bool IsAscii(std::string_view text) {
  unsigned high = 0;
  for (const char c : text) high |= static_cast<unsigned char>(c);
  return (high & 0x80) == 0;
}

// The From, To, Cc and Subject values of raw's header, as FieldValue gives
// them (the first field of each name, its lines joined, blanks trimmed),
// read in one walk: or false when the header is not plain ASCII field lines
// up to a blank line, where the decoder's own reading is needed.
bool QuickHeaderFields(std::string_view raw, std::string (&values)[4]) {
  static constexpr std::string_view kNames[4] = {"from", "to", "cc", "subject"};
  bool taken[4] = {false, false, false, false};
  std::string* open = nullptr; // the field whose continuation lines come
  bool first = true;
  TLineBreaks breaks(raw);
  for (std::size_t start = 0;;) {
    std::size_t length = 0;
    const std::size_t end = breaks.Next(start, length);
    if (end >= raw.size()) return false; // no blank line
    const std::string_view line = raw.substr(start, end - start);
    start = end + length;
    if (line.empty()) break;
    if (!IsAscii(line)) return false;
    if (line[0] == ' ' || line[0] == '\t') {
      if (first) return false; // a first line that is no field
      if (open) *open += line;
      continue;
    }
    // "Name:", the name printable and without blanks, blanks before the colon allowed.
    std::size_t i = 0;
    while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
    std::size_t colon = i;
    while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t')) ++colon;
    if (i == 0 || colon >= line.size() || line[colon] != ':') return false;
    open = nullptr;
    first = false;
    for (std::size_t k = 0; k < 4; ++k)
      if (!taken[k] && EqualsNoCase(line.substr(0, i), kNames[k])) {
        taken[k] = true;
        values[k] = std::string(line.substr(colon + 1));
        open = &values[k];
      }
  }
  for (std::string& value : values) {
    const std::size_t first = value.find_first_not_of(" \t\r\n");
    value = first == std::string::npos ? std::string() : value.substr(first, value.find_last_not_of(" \t\r\n") + 1 - first);
  }
  return true;
}

// Where matching looks, folded; Has says which were filled.
struct TFoldedFields {
  std::string Text[6];
  unsigned Has = 0;
  const std::string& Of(unsigned field) const { return Text[std::countr_zero(field)]; }
  void Set(unsigned field, std::string_view text) {
    std::string& out = Text[std::countr_zero(field)];
    out.clear();
    AppendFolded(out, text);
    Has |= field;
  }
  // A second text for a field (the list's sender beside the From line),
  // kept apart so no phrase runs from one into the other.
  void Append(unsigned field, std::string_view text) {
    std::string& out = Text[std::countr_zero(field)];
    out += '\0';
    AppendFolded(out, text);
    Has |= field;
  }
};

} // namespace

// ---------------------------------------------------------------- folding

void AppendFolded(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  bool blank = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      if (IsFoldBlank(static_cast<char>(byte))) {
        blank = true;
        continue;
      }
      if (blank) out += ' ', blank = false;
      out += AsciiLower(static_cast<char>(byte));
      continue;
    }
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) { // not UTF-8: the byte as it is
      if (blank) out += ' ', blank = false;
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    i += length;
    if (c == 0xA0) {
      blank = true;
      continue;
    }
    if ((c >= 0x300 && c <= 0x36F) || c == 0xAD) continue; // accents apart from their letters, soft hyphens
    if (blank) out += ' ', blank = false;
    if (c >= kLatinFirst && c < kLatinFirst + kLatinBase.size()) {
      const char base = kLatinBase[c - kLatinFirst];
      if (base == '?') out += FoldLatinPair(c);
      else if (base != '.') out += base;
      else AppendUtf8(out, c);
    } else if (c >= 0x370 && c <= 0x3FF) {
      AppendUtf8(out, FoldGreek(c));
    } else if (c >= 0x400 && c <= 0x4FF) {
      AppendUtf8(out, FoldCyrillic(c));
    } else {
      out.append(text.data() + i - length, length);
    }
  }
  if (blank) out += ' ';
}

std::string FoldForSearch(std::string_view text) {
  std::string out;
  AppendFolded(out, text);
  return out;
}

std::optional<unsigned> ParseSearchFields(std::string_view names) {
  static constexpr std::pair<std::string_view, unsigned> kNames[] = {
      {"from", sfFrom},       {"to", sfTo},      {"cc", sfCc},
      {"subject", sfSubject}, {"body", sfBody},  {"attachments", sfAttachments},
      {"attachment", sfAttachments}, {"all", sfAllFields}};
  unsigned fields = 0;
  while (true) {
    const std::size_t comma = names.find(',');
    const std::string name = AsciiLowerCase(names.substr(0, comma));
    const auto known = std::find_if(std::begin(kNames), std::end(kNames), [&](const auto& k) { return k.first == name; });
    if (known == std::end(kNames)) return std::nullopt;
    fields |= known->second;
    if (comma == std::string_view::npos) return fields;
    names.remove_prefix(comma + 1);
  }
}

std::optional<double> ParseSearchDate(std::string_view text) {
  using namespace std::chrono;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int parts[3] = {0, 0, 0};
  const std::size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int k = 0; k < 3; ++k)
    for (std::size_t d = 0; d < lengths[k]; ++d) {
      const char c = text[starts[k] + d];
      if (c < '0' || c > '9') return std::nullopt;
      parts[k] = parts[k] * 10 + (c - '0');
    }
  const year_month_day date{year{parts[0]}, month{static_cast<unsigned>(parts[1])}, day{static_cast<unsigned>(parts[2])}};
  if (!date.ok() || parts[0] == 0) return std::nullopt;
  return static_cast<double>((sys_days(date) - sys_days(year{1899} / December / 30)).count());
}

// ---------------------------------------------------------------- the query

TSearchQuery TSearchQuery::Parse(std::string_view text) {
  TSearchQuery query;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsFoldBlank(text[i])) {
      ++i;
    } else if (text[i] == '"') {
      const std::size_t close = text.find('"', i + 1);
      const std::size_t end = close == std::string_view::npos ? text.size() : close;
      query.AddTerm(text.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? end : close + 1;
    } else {
      std::size_t end = i;
      while (end < text.size() && !IsFoldBlank(text[end]) && text[end] != '"') ++end;
      query.AddTerm(text.substr(i, end - i));
      i = end;
    }
  }
  return query;
}

void TSearchQuery::AddTerm(std::string_view term) {
  std::string folded = FoldForSearch(term);
  // A blank at either end would ask for one beside the word.
  const std::size_t first = folded.find_first_not_of(' ');
  if (first == std::string::npos) return;
  folded = folded.substr(first, folded.find_last_not_of(' ') + 1 - first);
  AddFolded(std::move(folded));
}

void TSearchQuery::AddFolded(std::string folded) {
  std::string_view key;
  for (std::size_t i = 0; i < folded.size();) {
    std::size_t end = i;
    while (end < folded.size() && ((folded[end] >= 'a' && folded[end] <= 'z') || (folded[end] >= '0' && folded[end] <= '9')))
      ++end;
    if (end - i > key.size()) key = std::string_view(folded).substr(i, end - i);
    i = end + 1;
  }
  Keys.emplace_back(key);
  Terms.push_back(std::move(folded));
}

bool TSearchQuery::InDateRange(double received) const {
  return (!Since || received >= *Since) && (!Until || received < *Until);
}

namespace {

bool Contains(std::string_view text, std::string_view term) { return Find(text, term) != std::string_view::npos; }

// Whether term is in one of fields of folded.
bool InFields(const TFoldedFields& folded, unsigned fields, std::string_view term) {
  for (unsigned field = 1; field < sfAllFields; field <<= 1)
    if ((fields & field) && (folded.Has & field) && Contains(folded.Of(field), term)) return true;
  return false;
}

} // namespace

bool TSearchQuery::MatchesListTexts(std::string_view sender, std::string_view subject) const {
  TFoldedFields folded;
  if (Fields & sfFrom) folded.Set(sfFrom, sender);
  if (Fields & sfSubject) folded.Set(sfSubject, subject);
  return std::all_of(Terms.begin(), Terms.end(), [&](const std::string& term) { return InFields(folded, Fields, term); });
}

bool TSearchQuery::MatchesReadable(const TReadableMessage& message, std::string_view listSender,
                                   std::string_view listSubject) const {
  TFoldedFields folded;
  if (Fields & sfFrom) folded.Set(sfFrom, message.From), folded.Append(sfFrom, listSender);
  if (Fields & sfTo) folded.Set(sfTo, message.To);
  if (Fields & sfCc) folded.Set(sfCc, message.Cc);
  if (Fields & sfSubject) folded.Set(sfSubject, message.Subject), folded.Append(sfSubject, listSubject);
  if (Fields & sfAttachments) {
    folded.Set(sfAttachments, {});
    for (const TAttachment& attachment : message.Attachments) folded.Append(sfAttachments, attachment.Name);
  }
  // The body, the longest by far, folded only when a term is in none of the others.
  for (const std::string& term : Terms)
    if (!InFields(folded, Fields, term)) {
      if (!(Fields & sfBody)) return false;
      if (!(folded.Has & sfBody)) folded.Set(sfBody, message.Body);
      if (!Contains(folded.Of(sfBody), term)) return false;
    }
  return true;
}

bool TSearchQuery::MatchesMessage(std::string_view raw, std::string_view listSender, std::string_view listSubject) const {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1); // a store's padding, as the decoder drops it
  // The list's texts first: terms found there need no text.
  TFoldedFields list;
  if (Fields & sfFrom) list.Set(sfFrom, listSender);
  if (Fields & sfSubject) list.Set(sfSubject, listSubject);
  std::vector<std::size_t> left;
  for (std::size_t t = 0; t < Terms.size(); ++t)
    if (!InFields(list, Fields, Terms[t])) left.push_back(t);
  if (left.empty()) return true;

  constexpr unsigned kHeaderFields = sfFrom | sfTo | sfCc | sfSubject;
  const unsigned textFields = Fields & (sfBody | sfAttachments);
  // Terms that the body or an attachment name may hold; the others must be in the header lines.
  std::vector<std::size_t> mayBeInText;
  if (textFields) {
    thread_local std::string lower;
    if (!LowerAndCheckPlain(raw, lower)) return MatchesReadable(ReadMessage(raw), listSender, listSubject);
    for (const std::size_t t : left) {
      const std::string& key = Keys[t];
      // A plain message's text is ASCII: a term with other letters is not in it.
      const bool ascii = IsAscii(Terms[t]);
      if (key.empty() ? ascii : Contains(lower, key) || ((textFields & sfAttachments) && MayBeMadeUpName(key)))
        mayBeInText.push_back(t);
    }
  }
  if (!(Fields & kHeaderFields)) return mayBeInText.size() == left.size() && MatchesReadable(ReadMessage(raw));

  // The header lines as the decoder gives them: its text is ASCII (or
  // encoded words), so the message's character set plays no part.
  std::string values[4];
  if (!QuickHeaderFields(raw, values)) return MatchesReadable(ReadMessage(raw), listSender, listSubject);
  TFoldedFields folded;
  if (Fields & sfFrom) folded.Set(sfFrom, AddressListText(values[0])), folded.Append(sfFrom, listSender);
  if (Fields & sfTo) folded.Set(sfTo, AddressListText(values[1]));
  if (Fields & sfCc) folded.Set(sfCc, AddressListText(values[2]));
  if (Fields & sfSubject) folded.Set(sfSubject, DecodeHeaderText(values[3])), folded.Append(sfSubject, listSubject);
  bool needText = false;
  for (const std::size_t t : left) {
    if (InFields(folded, Fields & kHeaderFields, Terms[t])) continue;
    if (std::find(mayBeInText.begin(), mayBeInText.end(), t) == mayBeInText.end()) return false;
    needText = true;
  }
  return !needText || MatchesReadable(ReadMessage(raw), listSender, listSubject);
}

// ---------------------------------------------------------------- the list's rows

void TFoldedRows::Reserve(std::size_t rows, std::size_t bytes) {
  Starts.reserve(rows);
  SubjectStarts.reserve(rows);
  Text.reserve(bytes);
}

void TFoldedRows::Add(std::string_view sender, std::string_view subject) {
  Starts.push_back(static_cast<std::uint32_t>(Text.size()));
  AppendFolded(Text, sender);
  Text += '\0';
  SubjectStarts.push_back(static_cast<std::uint32_t>(Text.size()));
  AppendFolded(Text, subject);
  Text += '\0';
}

bool TFoldedRows::Matches(std::size_t row, const TSearchQuery& query) const {
  const std::string_view text(Text);
  const std::string_view sender = text.substr(Starts[row], SubjectStarts[row] - 1 - Starts[row]);
  const std::size_t end = row + 1 < Starts.size() ? Starts[row + 1] : Text.size();
  const std::string_view subject = text.substr(SubjectStarts[row], end - 1 - SubjectStarts[row]);
  for (const std::string& term : query.FoldedTerms())
    if (!(((query.Fields & sfFrom) && Contains(sender, term)) || ((query.Fields & sfSubject) && Contains(subject, term))))
      return false;
  return true;
}

std::vector<std::uint32_t> TFoldedRows::Matching(const TSearchQuery& query) const {
  const auto rows = static_cast<std::uint32_t>(Starts.size());
  // Each term is looked for once through all the rows' text, not row by row.
  std::vector<std::uint32_t> hits(rows, 0);
  const std::string_view text(Text);
  for (std::uint32_t k = 0; k < query.TermCount(); ++k) {
    const std::string& term = query.FoldedTerms()[k];
    std::uint32_t row = 0; // the row of the last find: finds only move on
    for (std::size_t at = 0;;) {
      const std::size_t found = Find(text, term, at);
      if (found == std::string_view::npos) break;
      const auto offset = static_cast<std::uint32_t>(found);
      while (row + 1 < rows && Starts[row + 1] <= offset) ++row;
      const bool inSubject = offset >= SubjectStarts[row];
      if (hits[row] == k && (query.Fields & (inSubject ? sfSubject : sfFrom))) {
        ++hits[row]; // one hit a row is enough: on to the next
      } else if (hits[row] != k || inSubject) {
        // A row without the terms before, or only a subject where it counts not.
      } else {
        at = SubjectStarts[row]; // the sender does not count: the subject may
        continue;
      }
      at = row + 1 < rows ? Starts[row + 1] : text.size();
    }
  }
  std::vector<std::uint32_t> found;
  const auto all = static_cast<std::uint32_t>(query.TermCount());
  for (std::uint32_t row = 0; row < rows; ++row)
    if (hits[row] == all) found.push_back(row);
  return found;
}

} // namespace postvue
