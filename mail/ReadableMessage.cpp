#include "ReadableMessage.h"

#include "Charset.h"
#include "Charsets.h"
#include "ExportNames.h"
#include "HtmlText.h"
#include "MessageHeaders.h"
#include "TextLines.h"

#include <algorithm>

namespace postvue {

namespace {
struct TExtension {
  std::string_view Type, Extension;
};
constexpr TExtension kExtensions[] = {
    {"image/jpeg", "jpg"},        {"image/pjpeg", "jpg"},          {"image/png", "png"},
    {"image/gif", "gif"},         {"image/bmp", "bmp"},            {"image/tiff", "tif"},
    {"application/pdf", "pdf"},   {"application/msword", "doc"},   {"application/zip", "zip"},
    {"application/x-zip-compressed", "zip"}, {"application/vnd.ms-excel", "xls"},
    {"application/vnd.ms-powerpoint", "ppt"}, {"application/rtf", "rtf"}, {"text/plain", "txt"},
    {"text/html", "html"},        {"text/calendar", "ics"},        {"text/x-vcard", "vcf"},
    {"text/vcard", "vcf"},        {"text/directory", "vcf"},       {"message/rfc822", "eml"},
    {"message/global", "eml"},    {"audio/mpeg", "mp3"},           {"audio/wav", "wav"},
    {"audio/x-wav", "wav"},       {"video/mpeg", "mpg"},           {"video/mp4", "mp4"},
    {"application/postscript", "ps"}, {"text/rtf", "rtf"},         {"text/xml", "xml"},
    {"application/xml", "xml"},
};

std::string_view ExtensionOf(std::string_view type) {
  for (const TExtension& known : kExtensions)
    if (known.Type == type) return known.Extension;
  return "bin";
}

// Size of what base64 text decodes to, counted without decoding it; stray
// set when characters outside base64 (but blanks and breaks) are there.
std::uint64_t Base64Size(std::string_view text, bool& stray) {
  std::uint64_t digits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (Base64Digit(c) >= 0) {
      ++digits;
    } else if (c == '=') {
      for (const char rest : text.substr(i))
        if (rest != '=' && rest != '\r' && rest != '\n' && rest != ' ' && rest != '\t') stray = true;
      break;
    } else if (c != '\r' && c != '\n' && c != ' ' && c != '\t') {
      stray = true;
    }
  }
  return digits * 6 / 8; // what the decoder gives: whole bytes of the digits' bits
}

// Line ends as LF, as the readable text has them.
std::string WithLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t cr = std::min(text.find('\r', i), text.size());
    out.append(text.substr(i, cr - i));
    if (cr == text.size()) break;
    out += '\n';
    i = cr + (cr + 1 < text.size() && text[cr + 1] == '\n' ? 2 : 1);
  }
  return out;
}

// The character set 8-bit header text is in: the first one the message's
// parts name, else none.
std::string DeclaredCharset(std::string_view raw, const TMimeTree& tree) {
  for (const TMimePart& part : tree.Parts) {
    const std::string_view header = raw.substr(part.HeaderStart, part.HeaderEnd - part.HeaderStart);
    if (const TFieldValue type = ParseFieldValue(FieldValue(header, "content-type"));
        const TParameter* charset = type.Find("charset"))
      return charset->Value;
  }
  return {};
}

constexpr std::size_t kMaxInnerFiles = 100;

bool IsBodyText(std::string_view subtype) {
  return subtype == "plain" || subtype == "html";
}

class TReader {
public:
  TReader(std::string_view raw, const TMimeTree& tree, const TReadOptions& options, TReadableMessage& out)
      : Raw(raw), Tree(tree), Options(options), Out(out) {}

  void Headers() {
    const std::string_view header = Header(0);
    HeaderCharset = DeclaredCharset(Raw, Tree);
    Out.From = AddressListText(FieldValue(header, "from"), HeaderCharset);
    Out.To = AddressListText(FieldValue(header, "to"), HeaderCharset);
    Out.Cc = AddressListText(FieldValue(header, "cc"), HeaderCharset);
    Out.Date = DecodeHeaderText(FieldValue(header, "date"), HeaderCharset);
    Out.Subject = DecodeHeaderText(FieldValue(header, "subject"), HeaderCharset);
  }

  void Walk(std::size_t index) {
    const TMimePart& part = Tree.Parts[index];
    if (part.Type == "multipart") {
      if (part.Subtype == "alternative") {
        const std::size_t chosen = Choose(part);
        for (const std::size_t child : part.Children)
          if (child == chosen)
            Walk(child);
          else
            Attachments(child);
      } else {
        for (const std::size_t child : part.Children) Walk(child);
      }
      return;
    }
    if (part.Type == "message" && part.Subtype == "partial") {
      // The whole is put together where the store is known (ReadStoreMessage); a piece read
      // alone shows its text as it is, one inside another message is a file of it.
      Note("a piece of a message broken apart, shown as it is");
      if (index == 0)
        Out.Body += WithLfLines(CharsetToUtf8({}, Body(index)));
      else
        Attachment(index);
      return;
    }
    if (part.Type == "message" && index != 0) {
      Attachment(index);
      return;
    }
    if (index == 0 && part.Type == "message" && !part.Children.empty()) {
      Walk(part.Children[0]);
      return;
    }
    const TFieldValue disposition = ParseFieldValue(FieldValue(Header(index), "content-disposition"));
    if (part.Type == "text" && disposition.Value != "attachment" &&
        (IsBodyText(part.Subtype) || disposition.Value == "inline"))
      Text(index);
    else
      Attachment(index);
  }

private:
  std::string_view Header(std::size_t index) const {
    const TMimePart& part = Tree.Parts[index];
    return Raw.substr(part.HeaderStart, part.HeaderEnd - part.HeaderStart);
  }
  std::string_view Body(std::size_t index) const {
    const TMimePart& part = Tree.Parts[index];
    return Raw.substr(part.BodyStart, part.BodyEnd - part.BodyStart);
  }
  TFieldValue ContentType(std::size_t index) const { return ParseFieldValue(FieldValue(Header(index), "content-type")); }
  TTransferEncoding Encoding(std::size_t index) const {
    return TransferEncodingNamed(FieldValue(Header(index), "content-transfer-encoding"));
  }

  void Note(std::string note) {
    if (std::find(Out.Notes.begin(), Out.Notes.end(), note) == Out.Notes.end()) Out.Notes.push_back(std::move(note));
  }

  // The alternative a person reads: plain text when there is one, else the
  // last (the richest) the sender offered.
  std::size_t Choose(const TMimePart& alternative) const {
    // A missing closing boundary may leave an empty part at the end: never chosen.
    auto holds = [&](std::size_t child) {
      return Tree.Parts[child].BodyEnd > Tree.Parts[child].BodyStart || !Tree.Parts[child].Children.empty();
    };
    for (const std::size_t child : alternative.Children)
      if (Tree.Parts[child].Type == "text" && Tree.Parts[child].Subtype == "plain" && holds(child)) return child;
    for (const std::size_t child : alternative.Children)
      if (Tree.Parts[child].Type == "multipart")
        for (const std::size_t inner : Tree.Parts[child].Children)
          if (Tree.Parts[inner].Type == "text" && Tree.Parts[inner].Subtype == "plain") return child;
    for (auto child = alternative.Children.rbegin(); child != alternative.Children.rend(); ++child)
      if (holds(*child)) return *child;
    return alternative.Children.empty() ? std::string_view::npos : alternative.Children.back();
  }

  // The parts of an alternative not read: their files are still attachments.
  void Attachments(std::size_t index) {
    const TMimePart& part = Tree.Parts[index];
    if (part.Type == "multipart") {
      for (const std::size_t child : part.Children) Attachments(child);
    } else if (part.Type != "text") {
      Attachment(index);
    }
  }

  std::string Decoded(std::size_t index) {
    bool defect = false;
    std::string bytes = DecodeTransfer(Encoding(index), Body(index), &defect);
    if (defect) Note("characters outside base64 skipped");
    return bytes;
  }

  void Text(std::size_t index) {
    const TMimePart& part = Tree.Parts[index];
    const TTransferEncoding encoding = Encoding(index);
    std::string bytes = Decoded(index);
    std::string charset;
    if (const TFieldValue type = ContentType(index); const TParameter* declared = type.Find("charset"))
      charset = declared->Value;
    if (part.Subtype == "html" && charset.empty()) charset = MetaCharset(bytes);
    if (!charset.empty() && !IsKnownCharset(charset))
      Note("unknown character set \"" + DecodeHeaderText(charset) + "\" read as Windows-1252");
    if (charset.empty() && IsValidUtf8(bytes)) charset = "utf-8";
    if (part.Subtype != "html") {
      // Files the mail program uuencoded into the text: attachments, cut out.
      std::vector<TUuBlock> blocks = FindUuBlocks(bytes);
      // Each file of an encoded part is had by decoding the part again: a few, not thousands.
      if (encoding != TTransferEncoding::Identity && blocks.size() > kMaxInnerFiles) {
        Note("more than " + std::to_string(kMaxInnerFiles) + " uuencoded files in one encoded part: left in the text");
        blocks.clear();
      }
      for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
        TAttachment attachment;
        attachment.Name = DecodeHeaderText(block->Name, charset);
        attachment.Type = "application/octet-stream";
        if (encoding == TTransferEncoding::Identity) {
          attachment.Start = part.BodyStart + block->Start;
          attachment.End = part.BodyStart + block->End;
          attachment.Encoding = TTransferEncoding::Uuencode;
        } else {
          attachment.Start = part.BodyStart;
          attachment.End = part.BodyEnd;
          attachment.Encoding = encoding;
          attachment.InnerStart = block->Start;
          attachment.InnerEnd = block->End;
          attachment.Inner = TTransferEncoding::Uuencode;
          attachment.Size = DecodeTransfer(attachment.Inner, std::string_view(bytes).substr(block->Start, block->End - block->Start)).size();
        }
        bytes.erase(block->Start, block->End - block->Start);
        Uu.push_back(std::move(attachment));
      }
      for (auto attachment = Uu.rbegin(); attachment != Uu.rend(); ++attachment) Add(std::move(*attachment), {});
      Uu.clear();
    }
    std::string text = WithLfLines(CharsetToUtf8(charset, bytes));
    if (part.Subtype == "html") {
      text = HtmlToText(text);
      Out.Html = true;
    }
    if (text.empty()) return;
    if (!Out.Body.empty()) {
      if (Out.Body.back() != '\n') Out.Body += '\n';
      Out.Body += '\n';
    }
    Out.Body += text;
    if (Out.Body.back() != '\n') Out.Body += '\n';
  }

  static std::string MetaCharset(std::string_view html) {
    const std::string head = AsciiLowerCase(html.substr(0, 4096));
    const std::size_t at = head.find("charset=");
    if (at == std::string::npos) return {};
    std::size_t start = at + 8;
    while (start < head.size() && (head[start] == '"' || head[start] == '\'')) ++start;
    std::size_t end = start;
    while (end < head.size() && head[end] != '"' && head[end] != '\'' && head[end] != ';' && head[end] != '>' &&
           head[end] != ' ' && head[end] != '/')
      ++end;
    return head.substr(start, end - start);
  }

  void Attachment(std::size_t index) {
    const TMimePart& part = Tree.Parts[index];
    const TFieldValue type = ContentType(index);
    const TFieldValue disposition = ParseFieldValue(FieldValue(Header(index), "content-disposition"));
    std::string name;
    if (const TParameter* filename = disposition.Find("filename")) name = ParameterText(*filename, HeaderCharset);
    if (name.empty())
      if (const TParameter* typeName = type.Find("name")) name = ParameterText(*typeName, HeaderCharset);
    const bool message = part.Type == "message" && part.Subtype != "partial";
    if (name.empty() && message && !part.Children.empty()) {
      const std::string subject =
          DecodeHeaderText(FieldValue(Header(part.Children[0]), "subject"), HeaderCharset);
      if (!subject.empty()) name = subject + ".eml";
    }
    TAttachment attachment;
    attachment.Name = std::move(name);
    attachment.Type = part.Type + "/" + part.Subtype;
    attachment.Start = part.BodyStart;
    attachment.End = part.BodyEnd;
    attachment.Encoding = Encoding(index);
    Add(std::move(attachment), message ? "eml" : std::string_view());
  }

  void Add(TAttachment attachment, std::string_view extension) {
    const std::string_view encoded = Raw.substr(attachment.Start, attachment.End - attachment.Start);
    if (attachment.Inner != TTransferEncoding::Identity) {
      // Sized where the part was decoded.
    } else if (attachment.Encoding == TTransferEncoding::Base64) {
      bool stray = false;
      attachment.Size = Base64Size(encoded, stray);
      if (stray) Note("characters outside base64 skipped");
    } else if (attachment.Encoding == TTransferEncoding::Identity) {
      attachment.Size = encoded.size();
    } else {
      attachment.Size = DecodeTransfer(attachment.Encoding, encoded).size();
    }
    if (Options.SafeName && !attachment.Name.empty()) attachment.Name = Options.SafeName(attachment.Name);
    // A name of dots only would name the folder itself or its parent.
    if (attachment.Name.find_first_not_of('.') == std::string::npos)
      attachment.Name = "attachment-" + std::to_string(Out.Attachments.size() + 1) + "." +
                        std::string(extension.empty() ? ExtensionOf(attachment.Type) : extension);
    Out.Attachments.push_back(std::move(attachment));
  }

  std::string_view Raw;
  const TMimeTree& Tree;
  const TReadOptions& Options;
  TReadableMessage& Out;
  std::string HeaderCharset;
  std::vector<TAttachment> Uu;
};
} // namespace

namespace {
// Zero bytes after a message are a store's padding; inside it they may be a binary part's.
std::string_view WithoutPadding(std::string_view raw) {
  while (!raw.empty() && raw.back() == '\0') raw.remove_suffix(1);
  return raw;
}
} // namespace

TReadableMessage ReadMessage(std::string_view raw, const TReadOptions& options) {
  raw = WithoutPadding(raw);
  TReadableMessage message;
  const TMimeTree tree = ParseMime(raw);
  TReader reader(raw, tree, options, message);
  reader.Headers();
  reader.Walk(0);
  message.Notes.insert(message.Notes.begin(), tree.Notes.begin(), tree.Notes.end());
  return message;
}

TReadOptions SafeNameOptions() {
  TReadOptions options;
  options.SafeName = [](std::string_view name) { return SafeFileName(name); };
  return options;
}

std::string NamingSubject(std::string_view raw, std::string_view stored) {
  raw = WithoutPadding(raw);
  const std::string_view header = raw.substr(0, std::min(raw.size(), HeaderEnd(raw, THeaderBreaks::Any)));
  const std::string value = FieldValue(header, "subject");
  std::string subject;
  if (std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    subject = DecodeHeaderText(value); // the usual case: no charset needed, no walk over the parts
  else
    subject = DecodeHeaderText(value, DeclaredCharset(raw, ParseMime(raw)));
  return subject.find_first_not_of(" \t") == std::string::npos ? DecodeHeaderText(stored) : subject;
}

namespace {
bool NamedAny(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return EqualsNoCase(name, n); });
}

// Header lines of header (its line breaks kept) whose field name passes keep, appended to out.
template <class F> void AppendFields(std::string& out, std::string_view header, F keep) {
  bool keeping = false;
  for (std::size_t line = 0; line < header.size();) {
    std::size_t end = header.find('\n', line);
    end = end == std::string_view::npos ? header.size() : end + 1;
    const std::string_view text = header.substr(line, end - line);
    if (text[0] != ' ' && text[0] != '\t') {
      std::string_view name = text.substr(0, std::min(text.find(':'), text.size()));
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      keeping = keep(name);
    }
    if (keeping) {
      out += text;
      if (out.back() != '\n') out += "\r\n";
    }
    line = end;
  }
}

std::string_view HeaderOf(std::string_view raw, std::size_t& bodyStart) {
  const std::size_t end = std::min(raw.size(), HeaderEnd(raw, THeaderBreaks::Any));
  bodyStart = std::min(raw.size(), end + (raw.substr(end, 2) == "\r\n" ? 2 : 1));
  return raw.substr(0, end);
}
} // namespace

std::optional<TPartialPiece> PartialPieceOf(std::string_view raw) {
  raw = WithoutPadding(raw);
  std::size_t bodyStart = 0;
  const TFieldValue type = ParseFieldValue(FieldValue(HeaderOf(raw, bodyStart), "content-type"));
  if (!EqualsNoCase(type.Value, "message/partial")) return std::nullopt;
  const TParameter* id = type.Find("id");
  const TParameter* number = type.Find("number");
  if (!id || id->Value.empty() || !number) return std::nullopt;
  auto count = [](const TParameter* parameter) {
    const std::optional<int> value = parameter ? NumberAfter(parameter->Value, "") : std::nullopt;
    return value.value_or(0);
  };
  TPartialPiece piece{id->Value, count(number), count(type.Find("total"))};
  if (piece.Number < 1) return std::nullopt;
  return piece;
}

std::string JoinPartialPieces(const std::vector<std::string_view>& pieces) {
  if (pieces.empty()) return {};
  auto enclosed = [](std::string_view name) {
    return (name.size() >= 8 && EqualsNoCase(name.substr(0, 8), "content-")) ||
           NamedAny(name, {"subject", "message-id", "encrypted", "mime-version"});
  };
  std::size_t bodyStart = 0;
  const std::string_view outer = HeaderOf(WithoutPadding(pieces[0]), bodyStart);
  const std::string_view first = WithoutPadding(pieces[0]).substr(bodyStart);
  std::size_t innerBody = 0;
  std::string_view inner = HeaderOf(first, innerBody);
  // A first piece that does not begin with the enclosed header: all of it is text.
  if (!LooksLikeMessage(first)) inner = {}, innerBody = 0;
  std::string whole;
  AppendFields(whole, outer, [&](std::string_view name) { return !enclosed(name); });
  AppendFields(whole, inner, enclosed);
  whole += "\r\n";
  whole += first.substr(innerBody);
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const std::string_view piece = WithoutPadding(pieces[i]);
    std::size_t start = 0;
    HeaderOf(piece, start);
    whole += piece.substr(start);
  }
  return whole;
}

std::string AttachmentBytes(std::string_view raw, const TAttachment& attachment) {
  raw = WithoutPadding(raw);
  const std::size_t start = std::min(attachment.Start, raw.size());
  const std::size_t end = std::clamp(attachment.End, start, raw.size());
  std::string bytes = DecodeTransfer(attachment.Encoding, raw.substr(start, end - start));
  if (attachment.Inner == TTransferEncoding::Identity) return bytes;
  const std::size_t innerStart = std::min(attachment.InnerStart, bytes.size());
  const std::size_t innerEnd = std::clamp(attachment.InnerEnd, innerStart, bytes.size());
  return DecodeTransfer(attachment.Inner, std::string_view(bytes).substr(innerStart, innerEnd - innerStart));
}

} // namespace postvue
