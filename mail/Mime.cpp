#include "Mime.h"

#include "Charset.h"
#include "Charsets.h"
#include "TextLines.h"
#include "TransferEncoding.h"

#include <algorithm>
#include <map>
#include <optional>

namespace postvue {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::size_t BreakLength(std::string_view text, std::size_t i) {
  if (i >= text.size()) return 0;
  if (text[i] == '\r') return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
  return text[i] == '\n' ? 1 : 0;
}

// Where the line that starts at start ends (before its break), within end.
std::size_t LineEnd(std::string_view text, std::size_t start, std::size_t end) {
  const std::size_t at = text.substr(0, end).find_first_of("\r\n", start);
  return at == std::string_view::npos ? end : at;
}

// "Name:" as header fields start: printable characters but ":" and blanks
// before the colon (blanks allowed between name and colon, as old mail has).
bool IsFieldLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] > ' ' && line[i] < 0x7F && line[i] != ':') ++i;
  if (i == 0) return false;
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i < line.size() && line[i] == ':';
}

class TParser {
public:
  TParser(std::string_view text, TMimeTree& tree) : Text(text), Tree(tree) {}

  std::size_t Part(std::size_t start, std::size_t end, std::size_t depth, bool inDigest) {
    const std::size_t index = Tree.Parts.size();
    Tree.Parts.emplace_back();
    ReadHeader(index, start, end);
    TMimePart& part = Tree.Parts[index];
    part.Depth = depth;
    const std::string_view header = Text.substr(part.HeaderStart, part.HeaderEnd - part.HeaderStart);
    const std::string contentType = FieldValue(header, "content-type");
    if (contentType.empty()) {
      if (inDigest) part.Type = "message", part.Subtype = "rfc822";
    } else {
      const std::string value = ParseFieldValue(contentType).Value;
      const std::size_t slash = value.find('/');
      if (slash != std::string::npos && slash > 0 && slash + 1 < value.size()) {
        part.Type = std::string(Trim(std::string_view(value).substr(0, slash)));
        part.Subtype = std::string(Trim(std::string_view(value).substr(slash + 1)));
      } else {
        Note("a content type without a subtype (\"" + value + "\") read as text/plain");
      }
    }
    if (part.Type == "multipart") {
      if (depth + 1 >= kMaxMimeDepth) return Plain(index, "parts nested deeper than 64 levels read as plain text");
      const std::optional<TParameter> boundary = Boundary(contentType);
      if (!boundary || boundary->Value.empty()) return Plain(index, "a multipart without a boundary read as plain text");
      Multipart(index, boundary->Value, depth, part.Subtype == "digest");
    } else if (part.Type == "message" && (part.Subtype == "rfc822" || part.Subtype == "global")) {
      // An encoded message has no offsets to give: it stays one part (an attachment).
      const TTransferEncoding encoding = TransferEncodingNamed(Trim(FieldValue(header, "content-transfer-encoding")));
      if (encoding != TTransferEncoding::Identity) return index;
      if (depth + 1 >= kMaxMimeDepth) return Plain(index, "messages nested deeper than 64 levels read as plain text");
      const std::size_t bodyStart = part.BodyStart, bodyEnd = part.BodyEnd;
      if (!Room()) return Plain(index, "more than 10000 parts: the rest read as plain text");
      const std::size_t child = Part(bodyStart, bodyEnd, depth + 1, false);
      Tree.Parts[index].Children.push_back(child);
    }
    return index;
  }

private:
  std::optional<TParameter> Boundary(const std::string& contentType) {
    const TFieldValue value = ParseFieldValue(contentType);
    if (const TParameter* boundary = value.Find("boundary")) return *boundary;
    return std::nullopt;
  }

  bool Room() const { return Tree.Parts.size() < kMaxMimeParts; }

  void Note(std::string note) {
    // One of each kind is enough for a reader, and bounds the notes.
    if (std::find(Tree.Notes.begin(), Tree.Notes.end(), note) == Tree.Notes.end()) Tree.Notes.push_back(std::move(note));
  }

  std::size_t Plain(std::size_t index, std::string note) {
    Tree.Parts[index].Type = "text";
    Tree.Parts[index].Subtype = "plain";
    Note(std::move(note));
    return index;
  }

  // The header lines from start up to the blank line; a part whose first
  // line is no header field has none (its body starts there).
  void ReadHeader(std::size_t index, std::size_t start, std::size_t end) {
    TMimePart& part = Tree.Parts[index];
    part.HeaderStart = part.HeaderEnd = start;
    part.BodyStart = start;
    part.BodyEnd = end;
    bool first = true;
    for (std::size_t line = start; line < end;) {
      const std::size_t lineEnd = LineEnd(Text, line, end);
      const std::string_view text = Text.substr(line, lineEnd - line);
      const std::size_t next = std::min(end, lineEnd + BreakLength(Text, lineEnd));
      if (text.empty()) { // the blank line
        part.HeaderEnd = line;
        part.BodyStart = next;
        return;
      }
      const bool continuation = !first && IsBlank(text[0]);
      if (!continuation && !IsFieldLine(text)) {
        if (!first) Note("a header ended without a blank line");
        part.HeaderEnd = line;
        part.BodyStart = line;
        return;
      }
      first = false;
      line = next;
    }
    // Header only: no body.
    part.HeaderEnd = end;
    part.BodyStart = end;
  }

  // Whether the line at at is a delimiter of boundary; closing set for "--boundary--".
  bool IsDelimiter(std::size_t at, std::size_t end, std::size_t length, bool& closing) const {
    std::size_t i = at + length;
    closing = i + 1 < end && Text[i] == '-' && Text[i + 1] == '-';
    if (closing) i += 2;
    // Blanks may follow (added in transport); anything else makes it text.
    while (i < end && IsBlank(Text[i])) ++i;
    return i == end || Text[i] == '\r' || Text[i] == '\n';
  }

  void Multipart(std::size_t index, const std::string& boundary, std::size_t depth, bool digest) {
    const std::size_t bodyStart = Tree.Parts[index].BodyStart, bodyEnd = Tree.Parts[index].BodyEnd;
    const std::string delimiter = "--" + boundary;
    const std::string_view body = Text.substr(0, bodyEnd);
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
    std::size_t childStart = std::string_view::npos;
    bool closed = false;
    for (std::size_t at = bodyStart; (at = body.find(delimiter, at)) != std::string_view::npos;) {
      const bool lineStart = at == bodyStart || Text[at - 1] == '\n' || Text[at - 1] == '\r';
      bool closing = false;
      if (!lineStart || !IsDelimiter(at, bodyEnd, delimiter.size(), closing)) {
        at += delimiter.size();
        continue;
      }
      if (childStart != std::string_view::npos) {
        // The line break before a delimiter belongs to it.
        std::size_t childEnd = at;
        if (childEnd > childStart && Text[childEnd - 1] == '\n') --childEnd;
        if (childEnd > childStart && Text[childEnd - 1] == '\r') --childEnd;
        ranges.emplace_back(childStart, childEnd);
      }
      const std::size_t lineEnd = LineEnd(Text, at, bodyEnd);
      childStart = std::min(bodyEnd, lineEnd + BreakLength(Text, lineEnd));
      at = std::max(childStart, at + delimiter.size());
      if (closing) {
        closed = true;
        break;
      }
    }
    if (childStart == std::string_view::npos) {
      Plain(index, "a multipart whose boundary is not found read as plain text");
      return;
    }
    if (!closed) {
      // A closing delimiter at the end of the last line, not on a line of its own.
      std::string_view rest = Text.substr(childStart, bodyEnd - childStart);
      while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || IsBlank(rest.back()))) rest.remove_suffix(1);
      if (rest.ends_with(delimiter + "--")) {
        ranges.emplace_back(childStart, childStart + rest.size() - delimiter.size() - 2);
      } else {
        Note("a multipart without its closing boundary: it ends with the message");
        ranges.emplace_back(childStart, bodyEnd);
      }
    }
    for (std::size_t k = 0; k < ranges.size(); ++k) {
      if (!Room()) {
        // The rest as one plain part.
        const std::size_t rest = Tree.Parts.size();
        Tree.Parts.emplace_back();
        TMimePart& part = Tree.Parts[rest];
        part.HeaderStart = part.HeaderEnd = part.BodyStart = ranges[k].first;
        part.BodyEnd = ranges.back().second;
        part.Depth = depth + 1;
        Tree.Parts[index].Children.push_back(rest);
        Note("more than 10000 parts: the rest read as plain text");
        return;
      }
      const std::size_t child = Part(ranges[k].first, ranges[k].second, depth + 1, digest);
      Tree.Parts[index].Children.push_back(child);
    }
  }

  std::string_view Text;
  TMimeTree& Tree;
};

// The encoded word at the start of text, when one is there and well formed.
struct TEncodedWord {
  std::string Charset;
  std::string Bytes;
  std::size_t Length = 0; // as written
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Where the next "?=" and the next blank lie from a point on. Asked from
// points that only move forward, each search is kept until passed, so a long
// line of "=?" costs one pass, not one per "=?".
class TAhead {
public:
  explicit TAhead(std::string_view text) : Text(text) {}
  std::size_t Close(std::size_t from) {
    if (CloseAt < from) CloseAt = Text.find("?=", from);
    return CloseAt;
  }
  std::size_t Blank(std::size_t from) {
    if (BlankAt < from) BlankAt = Text.find_first_of(" \t\r\n", from);
    return BlankAt;
  }

private:
  std::string_view Text;
  std::size_t CloseAt = 0, BlankAt = 0; // npos: none further on; never asked from 0
};

// A charset name is short; so is the text of a word.
constexpr std::size_t kMaxCharsetName = 80;
constexpr std::size_t kMaxEncodedWord = 4096;

// The encoded word at text[at] ("=?"), when one is there and well formed.
std::optional<TEncodedWord> EncodedWordAt(std::string_view text, std::size_t at, TAhead& ahead) {
  if (text.substr(at, 2) != "=?") return std::nullopt;
  const std::size_t charsetEnd = text.substr(0, std::min(text.size(), at + 2 + kMaxCharsetName)).find('?', at + 2);
  if (charsetEnd == std::string_view::npos || charsetEnd == at + 2 || charsetEnd + 2 >= text.size() ||
      text[charsetEnd + 2] != '?')
    return std::nullopt;
  const std::size_t start = charsetEnd + 3;
  // Both searches only move forward (start grows with at): cached.
  const std::size_t end = ahead.Close(start);
  if (end == std::string_view::npos || end - start > kMaxEncodedWord || ahead.Blank(at + 2) < end) return std::nullopt;
  const std::string_view charset = text.substr(at + 2, charsetEnd - at - 2);
  const std::string_view encoded = text.substr(start, end - start);
  const char encoding = text[charsetEnd + 1];
  std::string bytes;
  if (encoding == 'Q' || encoding == 'q') {
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i] == '_') {
        bytes += ' ';
      } else if (encoded[i] == '=' && i + 2 < encoded.size() && HexDigit(encoded[i + 1]) >= 0 &&
                 HexDigit(encoded[i + 2]) >= 0) {
        bytes += static_cast<char>(HexDigit(encoded[i + 1]) * 16 + HexDigit(encoded[i + 2]));
        i += 2;
      } else {
        bytes += encoded[i];
      }
    }
  } else if (encoding == 'B' || encoding == 'b') {
    // Text outside base64 is no encoded word: kept as written.
    if (!std::all_of(encoded.begin(), encoded.end(), [](char c) { return Base64Digit(c) >= 0 || c == '='; }))
      return std::nullopt;
    bytes = DecodeBase64(encoded);
  } else {
    return std::nullopt;
  }
  return TEncodedWord{std::string(charset.substr(0, charset.find('*'))), std::move(bytes), end + 2 - at};
}

// Header bytes that are no encoded word, in UTF-8.
void AppendRawHeaderText(std::string& out, std::string_view bytes, std::string_view charset) {
  const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    out += bytes;
  } else if (IsValidUtf8(bytes)) {
    out += bytes; // UTF-8 headers (RFC 6532) and mail programs that wrote them so
  } else {
    AppendCharsetText(out, charset, bytes);
  }
}
} // namespace

TMimeTree ParseMime(std::string_view text) {
  TMimeTree tree;
  TParser(text, tree).Part(0, text.size(), 0, false);
  return tree;
}

std::vector<THeaderField> HeaderFields(std::string_view header) {
  std::vector<THeaderField> fields;
  for (std::size_t line = 0; line < header.size();) {
    const std::size_t lineEnd = LineEnd(header, line, header.size());
    const std::string_view text = header.substr(line, lineEnd - line);
    line = lineEnd + BreakLength(header, lineEnd);
    if (!text.empty() && IsBlank(text[0])) {
      if (!fields.empty()) fields.back().Value += text;
      continue;
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) continue;
    fields.push_back({Trim(text.substr(0, colon)), std::string(text.substr(colon + 1))});
  }
  for (THeaderField& field : fields) field.Value = std::string(Trim(field.Value));
  return fields;
}

std::string FieldValue(std::string_view header, std::string_view name) {
  // Walked here rather than through HeaderFields: only one field is unfolded.
  for (std::size_t line = 0; line < header.size();) {
    const std::size_t lineEnd = LineEnd(header, line, header.size());
    const std::string_view text = header.substr(line, lineEnd - line);
    line = lineEnd + BreakLength(header, lineEnd);
    const std::size_t colon = text.find(':');
    if (text.empty() || IsBlank(text[0]) || colon == std::string_view::npos ||
        !EqualsNoCase(Trim(text.substr(0, colon)), name))
      continue;
    std::string value(text.substr(colon + 1));
    while (line < header.size() && IsBlank(header[line])) {
      const std::size_t end = LineEnd(header, line, header.size());
      value += header.substr(line, end - line);
      line = end + BreakLength(header, end);
    }
    return std::string(Trim(value));
  }
  return {};
}

const TParameter* TFieldValue::Find(std::string_view name) const {
  for (const TParameter& parameter : Parameters)
    if (parameter.Name == name) return &parameter;
  return nullptr;
}

TFieldValue ParseFieldValue(std::string_view value) {
  TFieldValue result;
  std::size_t i = value.find(';');
  result.Value = AsciiLowerCase(Trim(value.substr(0, i)));
  struct TPiece {
    std::string Name, Value;
    int Section = -1;
    bool Extended = false;
  };
  std::vector<TPiece> pieces;
  while (i < value.size()) {
    ++i; // the ";"
    while (i < value.size() && IsSpace(value[i])) ++i;
    const std::size_t nameEnd = value.find_first_of("=;", i);
    if (nameEnd == std::string_view::npos || value[nameEnd] == ';') {
      i = nameEnd;
      continue;
    }
    TPiece piece;
    piece.Name = AsciiLowerCase(Trim(value.substr(i, nameEnd - i)));
    i = nameEnd + 1;
    while (i < value.size() && IsSpace(value[i])) ++i;
    if (i < value.size() && value[i] == '"') {
      for (++i; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        piece.Value += value[i];
      }
      i = value.find(';', i); // what follows the closing quote
    } else {
      const std::size_t end = value.find(';', i);
      piece.Value = std::string(Trim(value.substr(i, end == std::string_view::npos ? end : end - i)));
      i = end;
    }
    // RFC 2231: "name*" is extended, "name*N" a section, "name*N*" both.
    if (const std::size_t star = piece.Name.find('*'); star != std::string::npos) {
      std::string_view rest = std::string_view(piece.Name).substr(star + 1);
      if (rest.ends_with("*")) piece.Extended = true, rest.remove_suffix(1);
      if (!rest.empty()) {
        int section = 0;
        bool digits = rest.size() <= 4;
        for (const char c : rest) digits = digits && c >= '0' && c <= '9', section = section * 10 + (c - '0');
        if (!digits) continue; // not a parameter of this form: dropped
        piece.Section = section;
      } else {
        piece.Extended = true;
      }
      piece.Name.resize(star);
    }
    pieces.push_back(std::move(piece));
  }
  // Sections joined in their order; extended text decoded in the charset of the first.
  std::map<std::string, std::vector<const TPiece*>> extended;
  for (const TPiece& piece : pieces)
    if (piece.Section >= 0 || piece.Extended) extended[piece.Name].push_back(&piece);
  for (auto& [name, list] : extended) {
    std::stable_sort(list.begin(), list.end(), [](const TPiece* a, const TPiece* b) { return a->Section < b->Section; });
    std::string charset, bytes;
    bool anyExtended = false;
    for (std::size_t k = 0; k < list.size(); ++k) {
      std::string_view text = list[k]->Value;
      if (list[k]->Extended) {
        anyExtended = true;
        if (k == 0) {
          // charset'language'text
          const std::size_t first = text.find('\''), second = first == std::string_view::npos ? first : text.find('\'', first + 1);
          if (second != std::string_view::npos) {
            charset = std::string(text.substr(0, first));
            text.remove_prefix(second + 1);
          }
        }
        for (std::size_t c = 0; c < text.size(); ++c) {
          if (text[c] == '%' && c + 2 < text.size() && HexDigit(text[c + 1]) >= 0 && HexDigit(text[c + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(text[c + 1]) * 16 + HexDigit(text[c + 2]));
            c += 2;
          } else {
            bytes += text[c];
          }
        }
      } else {
        bytes += text;
      }
    }
    TParameter parameter{name, {}, anyExtended};
    if (anyExtended)
      AppendCharsetText(parameter.Value, charset.empty() && IsValidUtf8(bytes) ? "utf-8" : charset, bytes);
    else
      parameter.Value = std::move(bytes);
    result.Parameters.push_back(std::move(parameter));
  }
  for (const TPiece& piece : pieces)
    if (piece.Section < 0 && !piece.Extended && !result.Find(piece.Name))
      result.Parameters.push_back({piece.Name, piece.Value, false});
  // The plain form before the RFC 2231 one gives way to it: Find gives the first.
  return result;
}

std::string DecodeHeaderText(std::string_view text, std::string_view charset) {
  std::string out;
  std::string pending, pendingCharset; // adjacent words' bytes, decoded together
  std::size_t rawStart = 0;
  bool afterWord = false;
  TAhead ahead(text);
  auto flushWords = [&] {
    if (!pending.empty()) AppendCharsetText(out, pendingCharset, pending);
    pending.clear();
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t at = text.find("=?", i);
    if (at == std::string_view::npos) break;
    std::optional<TEncodedWord> word = EncodedWordAt(text, at, ahead);
    if (!word) {
      i = at + 2;
      continue;
    }
    const std::string_view between = text.substr(rawStart, at - rawStart);
    // Blanks between two encoded words are not part of the text.
    if (!(afterWord && Trim(between).empty())) {
      flushWords();
      AppendRawHeaderText(out, between, charset);
    }
    if (!pending.empty() && !EqualsNoCase(word->Charset, pendingCharset)) flushWords();
    pendingCharset = word->Charset;
    pending += word->Bytes;
    afterWord = true;
    i = rawStart = at + word->Length;
  }
  flushWords();
  AppendRawHeaderText(out, text.substr(rawStart), charset);
  return out;
}

std::string ParameterText(const TParameter& parameter, std::string_view charset) {
  return parameter.Decoded ? parameter.Value : DecodeHeaderText(parameter.Value, charset);
}

std::string AddressListText(std::string_view value, std::string_view charset) {
  std::string out;
  std::string display, address, comment;
  bool angle = false;
  auto finish = [&] {
    std::string name, addr;
    if (angle) {
      name = DecodeHeaderText(Trim(display), charset);
      addr = DecodeHeaderText(Trim(address), charset);
      if (name.empty()) name = DecodeHeaderText(Trim(comment), charset);
    } else if (display.find('@') != std::string::npos) {
      // A bare address, perhaps with its name in a comment: "jo@host (Jo)".
      for (const char c : display)
        if (!IsSpace(c)) addr += c;
      addr = DecodeHeaderText(addr, charset);
      name = DecodeHeaderText(Trim(comment), charset);
    } else {
      name = DecodeHeaderText(Trim(display), charset);
    }
    std::string item = name.empty() ? addr : addr.empty() ? name : name + " <" + addr + ">";
    if (!item.empty()) out += (out.empty() ? "" : ", ") + item;
    display.clear(), address.clear(), comment.clear();
    angle = false;
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') {
      std::string quoted;
      for (++i; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        quoted += value[i];
      }
      // Encoded words in quotes are not standard but common: decoded as well.
      (angle ? address : display) += quoted;
    } else if (c == '(') {
      int depth = 1;
      std::string text;
      for (++i; i < value.size() && depth > 0; ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        else if (value[i] == '(') ++depth;
        else if (value[i] == ')' && --depth == 0) break;
        text += value[i];
      }
      comment += text;
    } else if (c == '<') {
      const std::size_t close = value.find('>', i);
      address = std::string(value.substr(i + 1, close == std::string_view::npos ? close : close - i - 1));
      angle = true;
      if (close == std::string_view::npos) break;
      i = close;
    } else if (c == ',') {
      finish();
    } else if (c == ':' && !angle && display.find('@') == std::string::npos) {
      display.clear(); // a group's name; its members follow
      comment.clear();
    } else if (c == ';') {
      finish();
    } else {
      display += c;
    }
  }
  finish();
  // What cannot be read as addresses at all is shown as written.
  return out.empty() ? DecodeHeaderText(Trim(value), charset) : out;
}

} // namespace postvue
