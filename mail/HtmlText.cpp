#include "HtmlText.h"

#include "Charset.h"
#include "TextLines.h"

#include <array>
#include <cstdint>

namespace postvue {

namespace {
struct TEntity {
  std::string_view Name;
  char32_t Code;
};

// The named entities mail uses; Latin-1's from 160 on in their order.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",  "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",  "ordf",
    "laquo",  "not",    "shy",   "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute", "micro",
    "para",   "middot", "cedil", "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",  "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc", "Euml",
    "Igrave", "Iacute", "Icirc", "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",  "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",  "igrave",
    "iacute", "icirc",  "iuml",  "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",  "divide",
    "oslash", "ugrave", "uacute", "ucirc", "uuml",   "yacute", "thorn",  "yuml"};

constexpr TEntity kOtherEntities[] = {
    {"amp", '&'},       {"lt", '<'},         {"gt", '>'},         {"quot", '"'},      {"apos", '\''},
    {"euro", 0x20AC},   {"hellip", 0x2026},  {"mdash", 0x2014},   {"ndash", 0x2013},  {"lsquo", 0x2018},
    {"rsquo", 0x2019},  {"sbquo", 0x201A},   {"ldquo", 0x201C},   {"rdquo", 0x201D},  {"bdquo", 0x201E},
    {"bull", 0x2022},   {"trade", 0x2122},   {"dagger", 0x2020},  {"Dagger", 0x2021}, {"permil", 0x2030},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A},  {"OElig", 0x0152},   {"oelig", 0x0153},  {"Scaron", 0x0160},
    {"scaron", 0x0161}, {"Yuml", 0x0178},    {"fnof", 0x0192},    {"circ", 0x02C6},   {"tilde", 0x02DC},
    {"ensp", 0x2002},   {"emsp", 0x2003},    {"thinsp", 0x2009},  {"zwnj", 0x200C},   {"zwj", 0x200D},
    {"larr", 0x2190},   {"rarr", 0x2192},    {"uarr", 0x2191},    {"darr", 0x2193},   {"hearts", 0x2665},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool IsNameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The entity at text[i] ("&..."): appended to out, and the length it takes;
// 0 when it is none (the "&" is then text).
std::size_t AppendEntity(std::string& out, std::string_view text, std::size_t i) {
  std::size_t j = i + 1;
  char32_t code = 0;
  if (j < text.size() && text[j] == '#') {
    ++j;
    const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
    if (hex) ++j;
    const std::size_t digits = j;
    for (; j < text.size() && j - digits < 8; ++j) {
      const char c = text[j];
      int value = c >= '0' && c <= '9' ? c - '0' : -1;
      if (hex && value < 0 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) value = (c | 0x20) - 'a' + 10;
      if (value < 0) break;
      code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
    }
    if (j == digits) return 0;
    // Numbers that name no character, and the C1 bytes old pages meant as Windows-1252.
    if (code >= 0x80 && code <= 0x9F) code = Windows1252ToUnicode(static_cast<unsigned char>(code));
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  } else {
    while (j < text.size() && IsNameChar(text[j]) && j - i <= 8) ++j;
    const std::string_view name = text.substr(i + 1, j - i - 1);
    for (std::size_t k = 0; k < kLatin1Names.size() && !code; ++k)
      if (kLatin1Names[k] == name) code = static_cast<char32_t>(160 + k);
    for (const TEntity& entity : kOtherEntities)
      if (!code && entity.Name == name) code = entity.Code;
    if (!code) return 0;
  }
  if (j < text.size() && text[j] == ';') ++j;
  AppendUtf8(out, code == 0xA0 ? U' ' : code);
  return j - i;
}

// Text with entities decoded (attribute values).
std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '&')
      if (const std::size_t length = AppendEntity(out, text, i)) {
        i += length;
        continue;
      }
    out += text[i++];
  }
  return out;
}

class TWriter {
public:
  std::string Out;
  bool Pre = false;

  void Text(std::string_view text) {
    for (const char c : text) {
      if (!Pre && IsSpace(c)) {
        Space = true;
        continue;
      }
      if (Pre && c == '\r') continue;
      if (Pre && c == '\n') {
        Break();
        continue;
      }
      if (Space && !Out.empty() && Out.back() != '\n' && Out.back() != ' ' && Out.back() != '\t') Out += ' ';
      Space = false;
      Out += c;
    }
  }
  // A line break: as many as asked, never more than one blank line.
  void Break(int lines = 1) {
    Space = false;
    while (!Out.empty() && (Out.back() == ' ' || Out.back() == '\t')) Out.pop_back();
    if (Out.empty()) return;
    int have = 0;
    for (std::size_t i = Out.size(); i > 0 && Out[i - 1] == '\n' && have < 2; --i) ++have;
    for (; have < lines; ++have) Out += '\n';
  }
  // <br>: a line ends here, and a second one makes a blank line.
  void LineBreak() {
    Space = false;
    while (!Out.empty() && Out.back() == ' ') Out.pop_back();
    if (!Out.empty() && (Out.size() < 2 || Out.substr(Out.size() - 2) != "\n\n")) Out += '\n';
  }
  void Cell() {
    Space = false;
    if (!Out.empty() && Out.back() != '\n') Out += '\t';
  }
  void Raw(std::string_view text) {
    if (Space && !Out.empty() && Out.back() != '\n' && Out.back() != ' ') Out += ' ';
    Space = false;
    Out += text;
  }

private:
  bool Space = false;
};

// The value of attribute name in a tag's text ("a href=..."), or none.
std::string Attribute(std::string_view tag, std::string_view name) {
  for (std::size_t i = 0; i < tag.size();) {
    while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == '/')) ++i;
    const std::size_t start = i;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '/') ++i;
    const std::string_view attribute = tag.substr(start, i - start);
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    std::string_view value;
    if (i < tag.size() && tag[i] == '=') {
      ++i;
      while (i < tag.size() && IsSpace(tag[i])) ++i;
      if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
        const char quote = tag[i];
        const std::size_t end = tag.find(quote, i + 1);
        value = tag.substr(i + 1, end == std::string_view::npos ? end : end - i - 1);
        i = end == std::string_view::npos ? tag.size() : end + 1;
      } else {
        const std::size_t valueStart = i;
        while (i < tag.size() && !IsSpace(tag[i])) ++i;
        value = tag.substr(valueStart, i - valueStart);
      }
    }
    if (EqualsNoCase(attribute, name)) return Unescape(value);
    if (i == start) ++i;
  }
  return {};
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  for (const std::string_view n : names)
    if (n == name) return true;
  return false;
}
} // namespace

std::string HtmlToText(std::string_view html) {
  TWriter writer;
  std::string href;                   // of the open link
  std::size_t linkTextStart = 0;      // where its text starts in the output
  std::vector<int> lists;             // the open lists: 0 unordered, else the next number
  for (std::size_t i = 0; i < html.size();) {
    const char c = html[i];
    if (c == '&') {
      std::string entity;
      if (const std::size_t length = AppendEntity(entity, html, i)) {
        writer.Raw(entity);
        i += length;
        continue;
      }
      writer.Text("&");
      ++i;
      continue;
    }
    if (c != '<') {
      const std::size_t next = html.find_first_of("<&", i);
      writer.Text(html.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i));
      i = next == std::string_view::npos ? html.size() : next;
      continue;
    }
    if (html.substr(i, 4) == "<!--") {
      const std::size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    // A "<" that opens no tag is text.
    const bool closing = i + 1 < html.size() && html[i + 1] == '/';
    const std::size_t nameStart = i + (closing ? 2 : 1);
    if (nameStart >= html.size() || !(IsNameChar(html[nameStart]) || html[nameStart] == '!' || html[nameStart] == '?')) {
      writer.Text("<");
      ++i;
      continue;
    }
    std::size_t end = nameStart;
    // The tag's end: the first ">" outside a quoted attribute value.
    char quote = 0;
    for (; end < html.size(); ++end) {
      if (quote) {
        if (html[end] == quote) quote = 0;
      } else if (html[end] == '"' || html[end] == '\'') {
        // Only a quote right after "=" opens a value; others are text in a broken tag.
        std::size_t before = end;
        while (before > nameStart && IsSpace(html[before - 1])) --before;
        if (before > nameStart && html[before - 1] == '=') quote = html[end];
      } else if (html[end] == '>') {
        break;
      }
    }
    std::size_t nameEnd = nameStart;
    while (nameEnd < end && (IsNameChar(html[nameEnd]) || html[nameEnd] == '!' || html[nameEnd] == '?')) ++nameEnd;
    const std::string name = AsciiLowerCase(html.substr(nameStart, nameEnd - nameStart));
    const std::string_view attributes = html.substr(nameEnd, end - nameEnd);
    i = end < html.size() ? end + 1 : html.size();
    if (!closing && OneOf(name, {"script", "style", "head", "title", "xml", "object", "template"})) {
      // Their content is no text: skipped to the closing tag.
      const std::string close = "</" + name;
      std::size_t at = i;
      while (at < html.size() && !EqualsNoCase(html.substr(at, close.size()), close)) {
        at = html.find('<', at + 1);
        if (at == std::string_view::npos) at = html.size();
      }
      const std::size_t closeEnd = html.find('>', at);
      i = closeEnd == std::string_view::npos ? html.size() : closeEnd + 1;
      continue;
    }
    if (name == "br") {
      writer.LineBreak();
    } else if (OneOf(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "table", "ul", "ol", "dl", "hr"})) {
      writer.Break(2);
      if (name == "ul" || name == "ol") {
        if (!closing) lists.push_back(name == "ol" ? 1 : 0);
        else if (!lists.empty()) lists.pop_back();
      }
      if (name == "hr" && !closing) {
        writer.Raw("----");
        writer.Break(2);
      }
    } else if (name == "pre") {
      writer.Break(2);
      writer.Pre = !closing;
    } else if (OneOf(name, {"div", "tr", "dt", "dd", "address", "center", "section", "article", "header", "footer",
                            "form", "fieldset", "caption", "tbody", "thead", "tfoot", "body", "html", "li"})) {
      writer.Break();
      if (name == "li" && !closing) {
        if (lists.empty() || lists.back() == 0) {
          writer.Raw("- ");
        } else {
          writer.Raw(std::to_string(lists.back()++) + ". ");
        }
      }
    } else if (name == "td" || name == "th") {
      if (!closing) writer.Cell();
    } else if (name == "img" && !closing) {
      const std::string alt = Attribute(attributes, "alt");
      if (!alt.empty()) writer.Text(alt);
    } else if (name == "a") {
      if (!closing) {
        href = Attribute(attributes, "href");
        linkTextStart = writer.Out.size();
      } else if (!href.empty()) {
        const std::string_view text = std::string_view(writer.Out).substr(std::min(linkTextStart, writer.Out.size()));
        std::string_view target = href;
        if (target.starts_with("mailto:")) target.remove_prefix(7);
        // A link whose text is its address says it once.
        if (text.find(target) == std::string_view::npos && !href.starts_with("#") &&
            !href.starts_with("javascript:"))
          writer.Raw(std::string(text.empty() ? "<" : " <") + std::string(href) + ">");
        href.clear();
      }
    }
  }
  std::string& out = writer.Out;
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  if (!out.empty()) out += '\n';
  return out;
}

} // namespace postvue
