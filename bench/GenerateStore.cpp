// Writes a large, realistic store for the benchmarks:
//
//   GenerateStore --dbx OUT [--messages N] [--text-first] [--mime] [--folder NAME]
//                                  (default 100000 messages: about 1.2 GB; folder "Bench")
//   GenerateStore --mbx OUT [--messages N] [--no-idx] [--mime] (default 50000; OUT.idx beside it)
//
// Messages are 2-20 KB of text with real-looking header lines, sizes and
// contents drawn from a fixed seed, so every run writes the same bytes. With
// --mime they are encoded as mail programs sent them: quoted-printable text
// in several charsets, HTML alternatives, base64 attachments, encoded-word
// subjects. The
// store is streamed to the file: memory stays small whatever N is. The .dbx
// has the layout the reader expects of the real thing: text in 512-byte
// blocks, one message-info object per message (before its text, or after it
// with --text-first), and a full index tree of fanout 51 written at the end,
// once every object's offset is known.
#include "DateTime.h"
#include "StoreWriter.h"
#include "TextLines.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using postvue::testing::FileTimeOf;

namespace {

// splitmix64: the same numbers on every platform and standard library.
class TRandom {
public:
  explicit TRandom(std::uint64_t seed) : State(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (State += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform enough in [low, high] for test data.
  std::uint64_t Range(std::uint64_t low, std::uint64_t high) { return low + Next() % (high - low + 1); }
  bool Chance(unsigned percent) { return Next() % 100 < percent; }

private:
  std::uint64_t State;
};

template <std::size_t N> const char* Pick(TRandom& random, const char* const (&items)[N]) {
  return items[random.Next() % N];
}

const char* const kFirstNames[] = {"Alice", "Bob",   "Carol", "Dan",   "Erin",  "Frank", "Grace", "Henry",
                                   "Ivy",   "Jack",  "Karen", "Leo",   "Maria", "Nina",  "Oscar", "Priya",
                                   "Quinn", "Rosa",  "Sam",   "Tariq", "Uma",   "Victor", "Wendy", "Yusuf"};
const char* const kLastNames[] = {"Example", "Martin", "Okafor", "Li",    "Chen",  "Grant", "White",  "Park",
                                  "Dubois",  "Novak",  "Silva",  "Kowal", "Berg",  "Ito",   "Moreau", "Reyes"};
const char* const kDomains[] = {"example.com", "example.org", "example.net", "mail.example.com",
                                "lists.example.org"};
const char* const kSubjects[] = {"Meeting notes",     "Quarterly report",   "Lunch on Thursday?", "Budget figures",
                                 "Project kickoff",   "Travel plans",       "Photos from the trip",
                                 "Server maintenance", "Conference schedule", "Invoice",
                                 "Re: your question", "Weekly status",      "Draft for review", "Holiday rota"};
const char* const kPrefixes[] = {"", "", "", "Re: ", "Re: ", "Fwd: ", "RE: "};
const char* const kWords[] = {
    "the",     "report",   "meeting", "will",      "be",      "on",       "Monday",   "please",  "review",
    "figures", "before",   "we",      "send",      "it",      "to",       "finance",  "thanks",  "for",
    "your",    "help",     "with",    "schedule",  "server",  "update",   "project",  "team",    "budget",
    "draft",   "attached", "and",     "a",         "of",      "in",       "that",     "this",    "next",
    "week",    "customer", "order",   "delivery",  "question", "answer",  "office",   "travel",  "hotel",
    "train",   "morning",  "evening", "agreement", "contract", "invoice", "payment",  "numbers", "table",
    "section", "chapter",  "version", "changes",   "minutes", "notes",    "holiday",  "weather", "garden"};

std::string Sender(TRandom& random, std::string* name, std::string* address) {
  const std::string first = Pick(random, kFirstNames), last = Pick(random, kLastNames);
  *address = postvue::AsciiLowerCase(first + "." + last) + "@" + Pick(random, kDomains);
  *name = random.Chance(15) ? std::string() : first + " " + last; // some senders give only an address
  return name->empty() ? *address : "\"" + *name + "\" <" + *address + ">";
}

std::string DateLine(std::uint64_t fileTime) {
  constexpr std::uint64_t kDay = 864000000000ULL;
  int year = 1997;
  while (FileTimeOf(year + 1, 1, 1) <= fileTime) ++year;
  int month = 1;
  while (month < 12 && FileTimeOf(year, month + 1, 1) <= fileTime) ++month;
  const auto day = (fileTime - FileTimeOf(year, month, 1)) / kDay + 1;
  const auto second = fileTime % kDay / 10000000;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d +0000", postvue::kWeekdayNames[(fileTime / kDay + 1) % 7], // 1 Jan 1601: Monday
                static_cast<int>(day), postvue::kMonthNames[month - 1], year, static_cast<int>(second / 3600),
                static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  return text;
}

// One generated message: what the list shows and the raw text.
struct TMessage {
  std::uint32_t Number = 0;
  std::string SenderName, SenderAddress, Subject, MessageId;
  std::uint32_t Flags = 0x80;
  std::uint32_t Priority = 3;
  std::uint64_t Received = 0;
  std::string Text;
};

// Words with letters beyond ASCII, as each charset writes them: quoted-printable
// and encoded words have something to decode.
struct TCharsetWords {
  const char* Charset;
  const char* Words[4];
};
const TCharsetWords kCharsetWords[] = {
    {"iso-8859-1", {"caf\xe9", "M\xfcller", "na\xefve", "Ol\xe1"}},
    {"windows-1252", {"\x93quoted\x94", "\x80" "100", "r\xe9sum\xe9", "d\xe9j\xe0"}},
    {"utf-8", {"caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac", "\xd0\x9f\xd1\x80\xd0\xb8", "na\xc3\xafve"}},
    {"koi8-r", {"\xf0\xd2\xc9\xd7\xc5\xd4", "\xcd\xc9\xd2", "\xc4\xcf\xcd", "\xd3\xcc\xcf\xd7\xcf"}},
};

// Quoted-printable (RFC 2045) of CR LF lines: 8-bit bytes and "=" as =XX,
// lines of at most 76 with soft breaks.
std::string QuotedPrintable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t column = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\r\n";
      ++i;
      column = 0;
      continue;
    }
    const bool plain = c >= 32 && c < 127 && c != '=';
    const std::size_t width = plain ? 1 : 3;
    if (column + width > 75) {
      out += "=\r\n";
      column = 0;
    }
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    column += width;
  }
  return out;
}

std::string Base64Lines(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(bytes.size() * 4 / 3 + bytes.size() / 38 + 8);
  std::size_t column = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[v & 63] : '=';
    if ((column += 4) == 76) {
      out += "\r\n";
      column = 0;
    }
  }
  if (column) out += "\r\n";
  return out;
}

class TMessageSource {
public:
  explicit TMessageSource(std::uint64_t seed, bool mime = false) : Random(seed), Mime(mime) {
    // Body lines drawn from a pool: cheap, and text still varies from message to message.
    TRandom lines(seed ^ 0x5DEECE66DULL);
    for (int i = 0; i < 4096; ++i) {
      std::string line;
      const std::size_t width = lines.Range(40, 76);
      while (line.size() < width) {
        if (!line.empty()) line += ' ';
        line += Pick(lines, kWords);
      }
      if (lines.Chance(8)) line = "> " + line;
      Pool.push_back(line + "\r\n");
    }
  }

  TMessage Next() {
    TMessage m;
    m.Number = ++Count;
    const std::string from = Sender(Random, &m.SenderName, &m.SenderAddress);
    std::string toName, toAddress;
    const std::string to = Sender(Random, &toName, &toAddress);
    m.Subject = std::string(Pick(Random, kPrefixes)) + Pick(Random, kSubjects);
    if (Random.Chance(30)) m.Subject += " (" + std::to_string(Random.Range(1, 999)) + ")";
    const TCharsetWords& charset = kCharsetWords[Random.Next() % std::size(kCharsetWords)];
    std::string subjectLine = m.Subject;
    if (Mime && Random.Chance(20)) {
      // The list keeps what the writer's code page could hold; the header line the word itself.
      const std::string word = charset.Words[Random.Next() % 4];
      m.Subject += " ?";
      subjectLine += " =?" + std::string(charset.Charset) + "?Q?" + QuotedPrintable(word) + "?=";
    }
    m.Received = FileTimeOf(1998, 1, 1) + Random.Range(0, 11ULL * 365 * 86400) * 10000000ULL;
    const std::uint64_t sent = m.Received - Random.Range(1, 3600) * 10000000ULL;
    m.Flags = (Random.Chance(80) ? 0x80u : 0u) | (Random.Chance(3) ? 0x20u : 0u);
    const bool attachment = Random.Chance(10);
    if (attachment) m.Flags |= 0x4000;
    m.Priority = Random.Chance(5) ? 1 : Random.Chance(5) ? 5 : 3;
    char id[64];
    std::snprintf(id, sizeof id, "%08X.%06u@%s", static_cast<unsigned>(Random.Next()), m.Number,
                  m.SenderAddress.substr(m.SenderAddress.find('@') + 1).c_str());
    m.MessageId = id;

    const std::size_t size = Random.Range(2048, 20480);
    std::string& t = m.Text;
    t.reserve(size + 128);
    t += "Received: from mail.example.net ([192.0.2." + std::to_string(Random.Range(1, 254)) +
         "])\r\n\tby mx.example.com with SMTP; " + DateLine(m.Received) + "\r\n";
    t += "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subjectLine + "\r\n";
    t += "Date: " + DateLine(sent) + "\r\nMessage-ID: <" + m.MessageId + ">\r\nMIME-Version: 1.0\r\n";
    const std::string boundary = "----=_NextPart_000_" + std::to_string(m.Number);
    if (Mime) {
      MimeBody(t, size, boundary, charset, attachment, m.Priority);
      return m;
    }
    if (attachment)
      t += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\n";
    else
      t += "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 7bit\r\n";
    t += "X-Priority: " + std::to_string(m.Priority) + "\r\n\r\n";
    if (attachment)
      t += "This is a multi-part message in MIME format.\r\n\r\n--" + boundary +
           "\r\nContent-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n\r\n";
    while (t.size() < size) t += Pool[Random.Next() % Pool.size()];
    t.resize(size - 2);
    t += "\r\n";
    return m;
  }

private:
  // About size bytes of lines from the pool, a few words in charset among them.
  std::string Lines(std::size_t size, const TCharsetWords& charset) {
    std::string text;
    while (text.size() < size) {
      text += Pool[Random.Next() % Pool.size()];
      if (Random.Chance(20)) text.insert(text.size() - 2, std::string(" ") + charset.Words[Random.Next() % 4]);
    }
    return text;
  }

  // The body of a mail program's message: plain quoted-printable text (40 %),
  // text and HTML alternatives (45 %), a 7bit text (15 %); a base64 file
  // after it where the message has an attachment.
  void MimeBody(std::string& t, std::size_t size, const std::string& boundary, const TCharsetWords& charset,
                bool attachment, std::uint32_t priority) {
    const std::string inner = boundary + "_alt";
    const std::uint64_t kind = Random.Range(0, 99);
    const std::size_t textSize = attachment ? std::min<std::size_t>(size, 4096) : size * 2 / 3;
    const std::string text = Lines(textSize, charset);
    const std::string textPart = "Content-Type: text/plain;\r\n\tcharset=\"" + std::string(charset.Charset) +
                                 "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + QuotedPrintable(text);
    std::string body;
    if (kind < 40) {
      body = textPart;
    } else if (kind < 85) {
      std::string html = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n<HTML><HEAD>\r\n"
                         "<META http-equiv=3DContent-Type content=3D\"text/html\">\r\n<STYLE></STYLE>\r\n"
                         "</HEAD>\r\n<BODY bgColor=3D#ffffff>\r\n";
      for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.size(), text.find("\r\n", at) + 2);
        html += "<DIV><FONT face=3DArial size=3D2>" + QuotedPrintable(text.substr(at, end - 2 - at)) +
                "</FONT></DIV>\r\n";
        at = end;
      }
      html += "</BODY></HTML>\r\n";
      body = "Content-Type: multipart/alternative;\r\n\tboundary=\"" + inner + "\"\r\n\r\n--" + inner + "\r\n" +
             textPart + "\r\n--" + inner + "\r\nContent-Type: text/html;\r\n\tcharset=\"" + charset.Charset +
             "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + html + "\r\n--" + inner + "--\r\n";
    } else {
      body = "Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" +
             Lines(textSize, kCharsetWords[0]);
    }
    if (!attachment) {
      t += body.substr(0, body.find("\r\n\r\n") + 2); // the part's header lines are the message's
      t += "X-Priority: " + std::to_string(priority) + "\r\n";
      t += body.substr(body.find("\r\n\r\n") + 2);
      return;
    }
    static const char* const kFiles[][2] = {{"image/jpeg", "photo.jpg"}, {"application/pdf", "report.pdf"},
                                            {"application/msword", "draft.doc"}, {"image/gif", "logo.gif"}};
    const auto& file = kFiles[Random.Next() % std::size(kFiles)];
    std::string bytes(Random.Range(8 * 1024, 64 * 1024), '\0');
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
      const std::uint64_t v = Random.Next();
      for (std::size_t b = 0; b < 8 && i + b < bytes.size(); ++b) bytes[i + b] = static_cast<char>(v >> (8 * b));
    }
    t += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\nX-Priority: " +
         std::to_string(priority) + "\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + boundary +
         "\r\n" + body + "\r\n--" + boundary + "\r\nContent-Type: " + file[0] + ";\r\n\tname=\"" + file[1] +
         "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n\tfilename=\"" + file[1] +
         "\"\r\n\r\n" + Base64Lines(bytes) + "\r\n--" + boundary + "--\r\n";
  }

  TRandom Random;
  bool Mime = false;
  std::vector<std::string> Pool;
  std::uint32_t Count = 0;
};

// Appends to a file through a large buffer; can patch bytes already written.
class TOutput {
public:
  explicit TOutput(const std::string& path) : Path(path), File(std::fopen(path.c_str(), "wb")) {
    if (!File) throw std::runtime_error("cannot create " + path);
    Buffer.reserve(kBufferSize);
  }
  ~TOutput() {
    if (File) std::fclose(File);
  }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  std::uint64_t Offset() const { return Flushed + Buffer.size(); }
  void Append(const void* bytes, std::size_t count) {
    const auto* p = static_cast<const char*>(bytes);
    Buffer.insert(Buffer.end(), p, p + count);
    if (Buffer.size() >= kBufferSize) Flush();
  }
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  void Zeros(std::size_t count) { Buffer.resize(Buffer.size() + count, 0); }
  void U32(std::uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    Append(b, 4);
  }
  // Rewrites bytes at an offset already flushed.
  void Patch(std::uint64_t offset, const void* bytes, std::size_t count) {
    Flush();
    if (std::fseek(File, static_cast<long>(offset), SEEK_SET) != 0 || std::fwrite(bytes, 1, count, File) != count ||
        std::fseek(File, 0, SEEK_END) != 0)
      throw std::runtime_error("cannot write " + Path);
  }
  void Close() {
    Flush();
    if (std::fclose(File) != 0) throw std::runtime_error("cannot write " + Path);
    File = nullptr;
  }

private:
  static constexpr std::size_t kBufferSize = 8 << 20;
  void Flush() {
    if (!Buffer.empty() && std::fwrite(Buffer.data(), 1, Buffer.size(), File) != Buffer.size())
      throw std::runtime_error("cannot write " + Path);
    Flushed += Buffer.size();
    Buffer.clear();
  }
  std::string Path;
  std::FILE* File;
  std::vector<char> Buffer;
  std::uint64_t Flushed = 0;
};

std::uint32_t Offset32(std::uint64_t offset) {
  if (offset > UINT32_MAX) throw std::runtime_error("the store would pass 4 GB: ask for fewer messages");
  return static_cast<std::uint32_t>(offset);
}

// ---------------------------------------------------------------- .dbx

constexpr std::size_t kDbxHeaderSize = 0x24BC, kFolderInfoSize = 0x220;
constexpr std::size_t kBlockText = 512, kBlockHeader = 16;
constexpr std::size_t kNodeSize = 0x27C;
constexpr unsigned kFanout = 51;

// The text as a chain of blocks, each a 16-byte header and a 512-byte slot
// (the last one too, as the mail program leaves it). Returns the first block.
std::uint32_t WriteTextBlocks(TOutput& out, std::string_view text) {
  const std::uint32_t first = Offset32(out.Offset());
  for (std::size_t pos = 0; pos < text.size(); pos += kBlockText) {
    const std::uint32_t at = Offset32(out.Offset());
    const std::size_t length = std::min(kBlockText, text.size() - pos);
    const bool last = pos + kBlockText >= text.size();
    out.U32(at);
    out.U32(kBlockText);
    out.U32(static_cast<std::uint32_t>(length));
    out.U32(last ? 0 : Offset32(at + kBlockHeader + kBlockText));
    out.Append(text.substr(pos, length));
    out.Zeros(kBlockText - length);
  }
  return first;
}

// A message-info object at offset at: property entries, then the data area.
std::string MessageInfo(const TMessage& m, std::uint32_t at, std::uint32_t textOffset) {
  std::string entries, data;
  auto direct = [&](std::uint8_t id, std::uint32_t v) {
    entries += static_cast<char>(id);
    for (int i = 0; i < 3; ++i) entries += static_cast<char>(v >> (8 * i));
  };
  auto indirect = [&](std::uint8_t id, std::string_view bytes) {
    direct(id, static_cast<std::uint32_t>(data.size()));
    data += bytes;
  };
  auto number = [&](std::uint8_t id, std::uint64_t v, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>(v >> (8 * i));
    indirect(id, bytes);
  };
  auto text = [&](std::uint8_t id, const std::string& s) { indirect(id, std::string_view(s.c_str(), s.size() + 1)); };

  direct(0x80, m.Number);
  direct(0x81, m.Flags);
  if (textOffset <= 0xFFFFFF) direct(0x84, textOffset);
  else number(0x04, textOffset, 4); // beyond 16 MB the offset needs the indirect form
  text(0x07, "<" + m.MessageId + ">");
  text(0x08, m.Subject);
  text(0x0C, "pop3.example.com");
  text(0x0D, m.SenderName);
  text(0x0E, m.SenderAddress);
  direct(0x90, m.Priority);
  number(0x12, m.Received, 8);
  text(0x13, "sam.reader@example.com");
  text(0x14, "Sam Reader");
  text(0x1A, "pop3.example.com");

  const std::size_t body = entries.size() + data.size(), object = 12 + body;
  std::string bytes(12, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(at >> (8 * i));
    bytes[4 + static_cast<std::size_t>(i)] = static_cast<char>(body >> (8 * i));
  }
  bytes[8] = static_cast<char>(object);
  bytes[9] = static_cast<char>(object >> 8);
  bytes[10] = static_cast<char>(entries.size() / 4);
  return bytes + entries + data;
}

// One message: its message-info object and its text blocks. textFirst puts
// the text before the object; by default the object comes first, as in the
// stores the mail program writes, with the text right behind it.
std::uint32_t WriteMessage(TOutput& out, const TMessage& m, bool textFirst) {
  const std::uint32_t at = Offset32(out.Offset());
  if (textFirst) {
    const std::uint32_t text = WriteTextBlocks(out, m.Text);
    const std::uint32_t info = Offset32(out.Offset());
    out.Append(MessageInfo(m, info, text));
    return info;
  }
  // The object's size depends on how its text offset is stored: settle both.
  std::string info;
  std::uint32_t text = at;
  for (;;) {
    info = MessageInfo(m, at, text);
    const std::uint32_t next = Offset32(std::uint64_t{at} + info.size());
    if (next == text) break;
    text = next;
  }
  out.Append(info);
  WriteTextBlocks(out, m.Text);
  return at;
}

// The balanced index tree over values, nodes of at most kFanout entries,
// built into memory with its offsets starting at base. Returns the root.
class TTreeBuilder {
public:
  TTreeBuilder(const std::vector<std::uint32_t>& values, std::uint64_t base) : Values(values), Base(base) {}
  std::uint32_t Build() { return Subtree(0, Values.size(), 0); }
  const std::vector<char>& Bytes() const { return Nodes; }

private:
  static std::uint64_t Capacity(unsigned height) {
    std::uint64_t cap = kFanout;
    for (unsigned h = 0; h < height; ++h) cap = kFanout + (kFanout + 1ULL) * cap;
    return cap;
  }
  void Put(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Nodes[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  }
  std::uint32_t Subtree(std::size_t first, std::size_t count, std::uint32_t parent) {
    const std::size_t local = Nodes.size();
    Nodes.resize(local + kNodeSize, 0);
    const std::uint32_t at = Offset32(Base + local);
    Put(local + 0x00, at);
    Put(local + 0x0C, parent);
    auto entry = [&](unsigned i) { return local + 0x18 + 12 * static_cast<std::size_t>(i); };
    unsigned entries = 0;
    if (count <= kFanout) {
      for (std::size_t i = 0; i < count; ++i) Put(entry(entries++), Values[first + i]);
    } else {
      // Spread the values that do not fit in this node evenly over its 52 subtrees.
      const std::size_t rest = count - kFanout, children = kFanout + 1;
      std::size_t pos = first;
      for (std::size_t c = 0; c < children; ++c) {
        const std::size_t size = rest / children + (c < rest % children ? 1 : 0);
        const std::uint32_t child = size ? Subtree(pos, size, at) : 0;
        pos += size;
        if (c == 0) {
          Put(local + 0x08, child);
          Put(local + 0x14, static_cast<std::uint32_t>(size));
        } else {
          Put(entry(entries - 1) + 4, child);
          Put(entry(entries - 1) + 8, static_cast<std::uint32_t>(size));
        }
        if (c < kFanout) Put(entry(entries++), Values[pos++]);
      }
    }
    Nodes[local + 0x11] = static_cast<char>(entries);
    return at;
  }

  const std::vector<std::uint32_t>& Values;
  std::uint64_t Base;
  std::vector<char> Nodes;
};

void WriteDbx(const std::string& path, std::uint32_t count, bool textFirst, bool mime, const std::string& folder) {
  TOutput out(path);
  postvue::testing::TDbxImage header; // header and folder block; count and root patched at the end
  header.SetFolderName(folder);
  out.Append(header.Data.data(), header.Data.size());

  TMessageSource source(20240101, mime);
  std::vector<std::uint32_t> infos;
  infos.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const TMessage m = source.Next();
    infos.push_back(WriteMessage(out, m, textFirst));
  }
  TTreeBuilder tree(infos, out.Offset());
  const std::uint32_t root = tree.Build();
  out.Append(tree.Bytes().data(), tree.Bytes().size());

  header.SetMessageCount(count);
  header.SetIndexRoot(root);
  out.Patch(0, header.Data.data(), kDbxHeaderSize);
  out.Close();
}

// ---------------------------------------------------------------- .mbx and .idx

void WriteMbx(const std::string& path, std::uint32_t count, bool withIndex, bool mime) {
  TOutput mbx(path);
  postvue::testing::TMbxImage header;
  header.SetMessageCount(static_cast<std::int32_t>(count));
  mbx.Append(header.Data.data(), header.Data.size());

  std::string indexPath = path;
  const std::size_t dot = indexPath.find_last_of("./\\");
  indexPath = (dot != std::string::npos && indexPath[dot] == '.' ? indexPath.substr(0, dot) : indexPath) + ".idx";
  std::unique_ptr<TOutput> idx;
  if (withIndex) {
    idx = std::make_unique<TOutput>(indexPath);
    postvue::testing::TIdxImage idxHeader;
    idxHeader.SetRecordCount(static_cast<std::int32_t>(count));
    idx->Append(idxHeader.Data.data(), idxHeader.Data.size());
  }

  TMessageSource source(19980101, mime);
  for (std::uint32_t i = 0; i < count; ++i) {
    const TMessage m = source.Next();
    const std::uint32_t at = Offset32(mbx.Offset());
    const std::uint32_t block = static_cast<std::uint32_t>((16 + m.Text.size() + 3) & ~std::size_t{3});
    mbx.U32(0x7F007F00);
    mbx.U32(m.Number);
    mbx.U32(block);
    mbx.U32(static_cast<std::uint32_t>(m.Text.size()));
    mbx.Append(m.Text);
    mbx.Zeros(block - 16 - m.Text.size());
    if (!idx) continue;

    // A 212-byte record, then seven length-prefixed strings.
    std::string record(212, '\0');
    auto put = [&](std::size_t offset, std::uint64_t v, int width) {
      for (int b = 0; b < width; ++b) record[offset + static_cast<std::size_t>(b)] = static_cast<char>(v >> (8 * b));
    };
    const std::string strings[7] = {m.Subject + '\0', m.SenderName + '\0', m.SenderAddress + '\0',
                                    "pop3.example.com" + std::string(1, '\0'), {}, {}, {}};
    std::size_t length = 212;
    for (const auto& s : strings) length += 4 + s.size();
    const std::uint32_t recordAt = Offset32(idx->Offset());
    put(0, m.Flags, 4);
    put(8, m.Number, 4);
    put(12, recordAt, 4);
    put(16, length, 4);
    put(20, at + 16, 4);
    put(24, m.Text.size(), 4);
    put(194, m.Received, 8);
    put(210, m.Priority, 2);
    idx->Append(record);
    for (const auto& s : strings) {
      idx->U32(static_cast<std::uint32_t>(s.size()));
      idx->Append(s);
    }
  }
  mbx.Close();
  if (idx) idx->Close();
}

int Usage() {
  std::fprintf(stderr, "usage: GenerateStore --dbx OUT [--messages N] [--text-first] [--mime] [--folder NAME]   (N defaults to 100000)\n"
                       "       GenerateStore --mbx OUT [--messages N] [--no-idx] [--mime]   (N defaults to 50000)\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  std::string kind, out, folder = "Bench";
  long long count = -1;
  bool withIndex = true, textFirst = false, mime = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--dbx" || arg == "--mbx") && i + 1 < argc && kind.empty()) {
      kind = arg;
      out = argv[++i];
    } else if (arg == "--messages" && i + 1 < argc) {
      count = std::atoll(argv[++i]);
      if (count <= 0 || count > 10000000) return Usage();
    } else if (arg == "--no-idx") {
      withIndex = false;
    } else if (arg == "--text-first") {
      textFirst = true;
    } else if (arg == "--mime") {
      mime = true;
    } else if (arg == "--folder" && i + 1 < argc) {
      folder = argv[++i];
    } else {
      return Usage();
    }
  }
  if (kind.empty()) return Usage();
  const auto start = std::chrono::steady_clock::now();
  try {
    if (kind == "--dbx")
      WriteDbx(out, static_cast<std::uint32_t>(count < 0 ? 100000 : count), textFirst, mime, folder);
    else
      WriteMbx(out, static_cast<std::uint32_t>(count < 0 ? 50000 : count), withIndex, mime);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "GenerateStore: %s\n", e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("wrote %s in %.1f s\n", out.c_str(), seconds);
  return 0;
}
