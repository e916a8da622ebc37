// The mail library's reading of messages: structures, encodings and
// character sets on messages written here, and real-world messages compared
// with another parser's independent reading of them.
#include "Charset.h"
#include "Charsets.h"
#include "Mime.h"
#include "ReadableMessage.h"
#include "StoreWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <variant>

using namespace postvue;
using postvue::testing::ReadFileBytes;

namespace {

// The attachments as "name size" lines, for one comparison.
std::string AttachmentList(const TReadableMessage& message) {
  std::string out;
  for (const TAttachment& attachment : message.Attachments)
    out += attachment.Name + " " + std::to_string(attachment.Size) + "\n";
  return out;
}

struct TReadCase {
  const char* Name;
  std::string Raw;
  std::string Subject, Body, Attachments;
  bool Html = false;
  const char* Note = nullptr; // one of the notes expected, when any
};

void PrintTo(const TReadCase& c, std::ostream* os) { *os << c.Name; }

class MimeRead : public ::testing::TestWithParam<TReadCase> {};

TEST_P(MimeRead, ReadsAsAPersonWould) {
  const TReadCase& c = GetParam();
  const TReadableMessage message = ReadMessage(c.Raw);
  EXPECT_EQ(message.Subject, c.Subject);
  EXPECT_EQ(message.Body, c.Body);
  EXPECT_EQ(AttachmentList(message), c.Attachments);
  EXPECT_EQ(message.Html, c.Html);
  if (c.Note) {
    EXPECT_NE(std::find(message.Notes.begin(), message.Notes.end(), c.Note), message.Notes.end())
        << "notes: " << ::testing::PrintToString(message.Notes);
  }
  // Every attachment's bytes are there, as many as its size says.
  for (const TAttachment& attachment : message.Attachments)
    EXPECT_EQ(AttachmentBytes(c.Raw, attachment).size(), attachment.Size) << attachment.Name;
}

const std::string kMixed = "Subject: files\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                           "preamble, not read\r\n"
                           "--b1 \t\r\n" // a boundary line with trailing blanks
                           "\r\nfirst part, no header\r\n"
                           "--b1\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                           "iVBO\r\nRw0K!!\r\nGgo\r\n" // junk skipped, padding missing: 8 bytes
                           "--b1\r\nContent-Type: text/plain; charset=koi8-r\r\n"
                           "Content-Disposition: attachment; filename*0*=utf-8''%C3%A9t%C3%A9;\r\n filename*1=\".txt\"\r\n\r\n"
                           "\xF0\xD2\xC9\xD7\xC5\xD4\r\n"
                           "--b1\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\nhi\r\n"
                           "--b1--\r\nepilogue, not read\r\n";

const TReadCase kReadCases[] = {
    {"QuotedPrintableInLatin1",
     "Subject: =?iso-8859-1?Q?Ol=E1?= =?iso-8859-1?Q?_Jo=E3o?=\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
     "Content-Transfer-Encoding: quoted-printable\r\n\r\nOl=E1, soft=\r\n break, a =ZZ kept, \x93quoted\x94  \r\n",
     "Ol\u00e1 Jo\u00e3o", "Ol\u00e1, soft break, a =ZZ kept, \u201cquoted\u201d\n", ""},
    {"MixedPartsInOrder", kMixed, "files", "first part, no header\n",
     "attachment-1.png 8\n\u00e9t\u00e9.txt 6\ninner.eml 20\n", false, "characters outside base64 skipped"},
    {"AlternativeTakesPlainText",
     "Subject: alt\nContent-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain\n\nplain\n"
     "--a\nContent-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<b>rich</b>\n"
     "--r\nContent-Type: image/gif; name=\"=?utf-8?B?w6Qu?= gif\"\n\nGIF\n--r--\n--a--\n",
     "alt", "plain\n", "\u00e4. gif 3\n"},
    {"HtmlAsText",
     "Subject: h\nContent-Type: text/html; charset=utf-8\n\n<html><head><title>t</title><style>p{}</style></head>"
     "<body><p>Caf&eacute; &amp; more&#33;<br>next<!-- hidden --></p><ul><li>one<li>two</ul>"
     "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table><script>alert(1)</script>"
     "<a href=\"http://x.example/\">site</a></body></html>",
     "h", "Caf\u00e9 & more!\nnext\n\n- one\n- two\n\na\tb\nc\n\nsite <http://x.example/>\n", "", true},
    {"MissingClosingBoundary",
     "Subject: cut\nContent-Type: multipart/mixed; boundary=z\n\n--z\n\none\n--z\nContent-Type: text/plain\n\ntwo\n",
     "cut", "one\n\ntwo\n", "", false, "a multipart without its closing boundary: it ends with the message"},
    {"UuencodedFileInText",
     "Subject: uu\n\nSee the file.\nbegin 644 cat.txt\n#8V%T\n`\nend\nBye.\n", "uu", "See the file.\nBye.\n",
     "cat.txt 3\n"},
    {"UuencodedFileInQuotedPrintableText",
     "Subject: uu\nContent-Transfer-Encoding: quoted-printable\n\nSee the f=\nile.\nbegin 644 cat.txt\n#8V%T\n`\nend\nBye=2E\n",
     "uu", "See the file.\nBye.\n", "cat.txt 3\n"},
    {"CharsetsOfTheEast",
     "Subject: =?iso-2022-jp?B?GyRCRnxLXBsoQg==?= =?shift_jis?B?k/qWew==?= =?utf-7?Q?+AOk-t?=\n"
     "Content-Type: text/plain; charset=euc-kr\n\n\xC7\xD1\xB1\xB9\n",
     "\u65e5\u672c\u65e5\u672c\u00e9t", "\ud55c\uad6d\n", ""},
    {"InvalidMultiByteSequence", "Subject: x\nContent-Type: text/plain; charset=euc-kr\n\n\xC7\xD1 \xFF\n", "x",
     "\ud55c \ufffd\n", ""},
    {"UnknownCharsetReadAsWindows1252",
     "Subject: x\nContent-Type: text/plain; charset=x-unheard-of\n\n\x80 5\n", "x", "\u20ac 5\n", "", false,
     "unknown character set \"x-unheard-of\" read as Windows-1252"},
    {"MalformedEncodedWordKept", "Subject: =?utf-8?Q?a b?= and =?bogus\n\n", "=?utf-8?Q?a b?= and =?bogus", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Messages, MimeRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Hostile structures: bounded work and memory, a note, the rest as text.
TEST(MimeBounds, NestingPartsAndDeclaredSizesAreBounded) {
  std::string deep = "Subject: deep\n";
  for (int i = 0; i < 10000; ++i) deep += "Content-Type: multipart/mixed; boundary=" + std::to_string(i) + "\n\n--" + std::to_string(i) + "\n";
  const TReadableMessage nested = ReadMessage(deep);
  EXPECT_EQ(nested.Subject, "deep");
  EXPECT_NE(std::find(nested.Notes.begin(), nested.Notes.end(), "parts nested deeper than 64 levels read as plain text"),
            nested.Notes.end());

  std::string many = "Content-Type: multipart/mixed; boundary=b\n\n";
  for (int i = 0; i < 30000; ++i) many += "--b\nContent-Type: application/x-a\n\nx\n";
  const TMimeTree tree = ParseMime(many);
  EXPECT_LE(tree.Parts.size(), kMaxMimeParts + 1);
  const std::vector<std::string> notes = ReadMessage(many).Notes;
  EXPECT_NE(std::find(notes.begin(), notes.end(), "more than 10000 parts: the rest read as plain text"), notes.end());

  // A size the header claims is not believed: only the bytes present are decoded.
  const std::string claim = "Content-Type: application/octet-stream\nContent-Length: 2147483648\n"
                            "Content-Transfer-Encoding: base64\n\nAAAA\n";
  const TReadableMessage claimed = ReadMessage(claim);
  ASSERT_EQ(claimed.Attachments.size(), 1u);
  EXPECT_EQ(claimed.Attachments[0].Size, 3u);
}

// ------------------------------------------------ the shared real-world messages

// Just enough JSON for the independent readings: values of the six kinds.
struct TJson {
  std::variant<std::nullptr_t, bool, double, std::string, std::vector<TJson>, std::map<std::string, TJson>> Value;
  const TJson& operator[](const std::string& key) const {
    static const TJson kNull;
    const auto* object = std::get_if<std::map<std::string, TJson>>(&Value);
    if (!object) return kNull;
    const auto found = object->find(key);
    return found == object->end() ? kNull : found->second;
  }
  const std::vector<TJson>& Items() const {
    static const std::vector<TJson> kNone;
    const auto* array = std::get_if<std::vector<TJson>>(&Value);
    return array ? *array : kNone;
  }
  const std::string* Text() const { return std::get_if<std::string>(&Value); }
  bool Has(const std::string& key) const {
    const auto* object = std::get_if<std::map<std::string, TJson>>(&Value);
    return object && object->count(key);
  }
};

TJson ParseJson(std::string_view text, std::size_t& i) {
  auto skip = [&] { while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i; };
  skip();
  TJson value;
  if (text[i] == '{') {
    std::map<std::string, TJson> object;
    for (++i, skip(); text[i] != '}'; skip()) {
      const std::string key = *ParseJson(text, i).Text();
      skip(), ++i; // ':'
      object[key] = ParseJson(text, i);
      skip();
      if (text[i] == ',') ++i;
    }
    ++i;
    value.Value = std::move(object);
  } else if (text[i] == '[') {
    std::vector<TJson> array;
    for (++i, skip(); text[i] != ']'; skip()) {
      array.push_back(ParseJson(text, i));
      skip();
      if (text[i] == ',') ++i;
    }
    ++i;
    value.Value = std::move(array);
  } else if (text[i] == '"') {
    std::string s;
    for (++i; text[i] != '"'; ++i) {
      if (text[i] != '\\') {
        s += text[i];
        continue;
      }
      const char e = text[++i];
      if (e == 'u') {
        char32_t c = static_cast<char32_t>(std::stoul(std::string(text.substr(i + 1, 4)), nullptr, 16));
        i += 4;
        if (c >= 0xD800 && c <= 0xDBFF && text.substr(i + 1, 2) == "\\u") {
          c = 0x10000 + ((c - 0xD800) << 10) + (std::stoul(std::string(text.substr(i + 3, 4)), nullptr, 16) - 0xDC00);
          i += 6;
        }
        AppendUtf8(s, c);
      } else {
        s += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
      }
    }
    ++i;
    value.Value = std::move(s);
  } else if (text.substr(i, 4) == "null") {
    i += 4;
  } else if (text.substr(i, 4) == "true" || text.substr(i, 5) == "false") {
    value.Value = text[i] == 't';
    i += text[i] == 't' ? 4 : 5;
  } else {
    std::size_t used = 0;
    value.Value = std::stod(std::string(text.substr(i, 32)), &used);
    i += used;
  }
  return value;
}

std::string Collapsed(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

const TJson* Header(const TJson& part, const std::string& name) {
  for (const TJson& header : part["headers"].Items())
    if (header["name"].Text() && *header["name"].Text() == name) return &header["value"];
  return nullptr;
}

std::string Attribute(const TJson& part, const std::string& header, const std::string& name) {
  const TJson* value = Header(part, header);
  if (!value) return {};
  for (const TJson& attribute : (*value)["ContentType"]["attributes"].Items())
    if (attribute["name"].Text() && *attribute["name"].Text() == name && attribute["value"].Text())
      return *attribute["value"].Text();
  return {};
}

// Where this reading knowingly differs from the other one, and why.
struct TKnownDifference {
  const char* Message;
  const char* What;
  const char* Why;
};
constexpr const char* kBrokenMultipart =
    "damaged multipart (boundaries missing, never opened, or prefixes of each other): cut at delimiter lines "
    "only; the other reading lists empty or header-only pieces as attachments and keeps other spans as text";
const TKnownDifference kKnownDifferences[] = {
    {"rfc/000", "attachments",
     "its base64 parts hold placeholder prose: decoded from the base64 characters present (the other reading "
     "keeps the prose as it is)"},
    {"rfc/003", "attachments", "the text/enriched alternative of a message read as plain text is not a file"},
    {"rfc/008", "attachments", "a base64 attached message: its decoded size here, the stored span there"},
    {"thirdparty/000", "body", "several text/plain alternatives: one (the first) is read, not all joined"},
    {"thirdparty/001", "body", "several text/plain alternatives: one (the first) is read, not all joined"},
    {"thirdparty/002", "body attachments",
     "a text part of base64 junk (\"?garbage\") is decoded from the base64 characters present, as body text; "
     "the other reading makes it an attachment"},
    {"thirdparty/015", "attachments",
     "attached messages whose inner multipart never closes end at the outer boundary (three files); the other "
     "reading lets the first swallow the rest"},
    {"malformed/001", "body attachments", kBrokenMultipart},
    {"malformed/002", "attachments", kBrokenMultipart},
    {"malformed/003", "attachments", kBrokenMultipart},
    {"malformed/004", "attachments", kBrokenMultipart},
    {"malformed/005", "body", kBrokenMultipart},
    {"malformed/006", "attachments", kBrokenMultipart},
    {"malformed/007", "attachments", kBrokenMultipart},
    {"malformed/008", "body attachments", kBrokenMultipart},
    {"malformed/009", "body attachments", kBrokenMultipart},
    {"malformed/010", "attachments", kBrokenMultipart},
    {"malformed/011", "body attachments", kBrokenMultipart},
    {"malformed/012", "body attachments", kBrokenMultipart},
    {"malformed/016", "body attachments", kBrokenMultipart},
    {"malformed/017", "attachments", kBrokenMultipart},
    {"malformed/019", "body",
     "a header without its blank line: the line after it starts the body here; the other reading drops it"},
    {"malformed/020", "body",
     "a part with two Content-Type fields and no opening boundary: read by its first (an alternative, its "
     "HTML shown); the other reading shows the part's raw lines"},
    {"malformed/021", "body",
     "a part with two Content-Type fields and no opening boundary: read by its first (an alternative, its "
     "HTML shown); the other reading shows the part's raw lines"},
};

bool KnownDifference(const std::string& message, const std::string& what) {
  for (const TKnownDifference& known : kKnownDifferences)
    if (message == known.Message && std::string_view(known.What).find(what) != std::string_view::npos) return true;
  return false;
}

TEST(MimeRealWorld, AgreesWithTheIndependentReading) {
  const std::filesystem::path root = POSTVUE_REAL_MAIL;
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "shared mail messages not present (needs ../shared): " << root;
  int messages = 0;
  for (const char* folder : {"rfc", "thirdparty", "malformed"}) {
    for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
      if (entry.path().extension() != ".eml") continue;
      const std::string id = std::string(folder) + "/" + entry.path().stem().string();
      const std::string raw = ReadFileBytes(entry.path().string());
      std::string json = ReadFileBytes(std::filesystem::path(entry.path()).replace_extension(".json").string());
      std::size_t at = 0;
      const TJson expected = ParseJson(json, at);
      const TReadableMessage message = ReadMessage(raw);
      ++messages;
      const TJson& parts = expected["parts"];
      const TJson* subject = Header(parts.Items()[0], "subject");
      if (!KnownDifference(id, "subject")) {
        EXPECT_EQ(message.Subject, subject && (*subject)["Text"].Text() ? *(*subject)["Text"].Text() : "") << id;
      }

      // The text body, where the other reading has one of plain text.
      std::string text;
      bool plain = !expected["text_body"].Items().empty();
      for (const TJson& k : expected["text_body"].Items()) {
        const TJson& body = parts.Items()[static_cast<std::size_t>(std::get<double>(k.Value))]["body"];
        plain = plain && body.Has("Text");
        if (body["Text"].Text()) text += *body["Text"].Text() + "\n";
      }
      if (plain && !KnownDifference(id, "body")) {
        EXPECT_EQ(Collapsed(message.Body), Collapsed(text)) << id;
      }

      std::string names, theirs;
      for (const TJson& k : expected["attachments"].Items()) {
        const TJson& part = parts.Items()[static_cast<std::size_t>(std::get<double>(k.Value))];
        std::string name = Attribute(part, "content_disposition", "filename");
        if (name.empty()) name = Attribute(part, "content_type", "name");
        const TJson& body = part["body"];
        std::size_t size = 0;
        if (body["Text"].Text()) size = body["Text"].Text()->size();
        for (const char* binary : {"Binary", "InlineBinary"}) size += body[binary].Items().size();
        if (body.Has("Message")) // its bytes as stored, without the break before the boundary
          size = static_cast<std::size_t>(std::get<double>(part["offset_end"].Value) -
                                          std::get<double>(part["offset_body"].Value));
        theirs += name + " " + std::to_string(size) + "\n";
      }
      for (const TAttachment& attachment : message.Attachments) {
        const bool named = theirs.find(attachment.Name + " ") != std::string::npos;
        names += (named ? attachment.Name : std::string()) + " " + std::to_string(attachment.Size) + "\n";
      }
      if (!KnownDifference(id, "attachments")) {
        EXPECT_EQ(names, theirs) << id;
      }
    }
  }
  EXPECT_EQ(messages, 53);
}

} // namespace
