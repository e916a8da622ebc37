// A message as a person reads it: its header lines, the body text and the
// attachments, from its raw text (what GetMessageText gives). One pure
// function; an odd message gives a readable result and notes, never an
// exception.
#pragma once

#include "Mime.h"
#include "TransferEncoding.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

struct TAttachment {
  std::string Name;        // never empty; made safe when the caller gives a rule
  std::string Type;        // "image/jpeg"
  std::uint64_t Size = 0;  // decoded
  // Where the encoded bytes lie in the raw text, and how they are encoded.
  std::size_t Start = 0, End = 0;
  TTransferEncoding Encoding = TTransferEncoding::Identity;
  // A file uuencoded into a text part that is itself encoded: its place in
  // the part's decoded bytes (Inner is Identity for every other attachment).
  std::size_t InnerStart = 0, InnerEnd = 0;
  TTransferEncoding Inner = TTransferEncoding::Identity;
};

struct TReadableMessage {
  std::string From, To, Cc, Date, Subject; // UTF-8, Date as written
  std::string Body;                        // UTF-8, lines ended by LF
  bool Html = false;                       // some of Body was turned from HTML
  std::vector<TAttachment> Attachments;
  std::vector<std::string> Notes;          // what was repaired, for people
};

struct TReadOptions {
  // The rule that makes a name safe for a file (the one export names use);
  // none keeps attachment names as decoded.
  std::function<std::string(std::string_view)> SafeName;
};

TReadableMessage ReadMessage(std::string_view raw, const TReadOptions& options = {});

// Options whose attachment names are safe for files (SafeFileName), as every
// reading that may save them wants.
TReadOptions SafeNameOptions();

// The subject a message's file is named after, in UTF-8: the message's own
// Subject line decoded as ReadMessage decodes it (it holds what the list's
// 8-bit text lost: an emoji, a Japanese subject), else stored, the list's
// subject, read as header text.
std::string NamingSubject(std::string_view raw, std::string_view stored);

// A piece of a message that its sender's mail program broke apart
// (message/partial, RFC 2046): the pieces are separate messages, alike in id.
struct TPartialPiece {
  std::string Id;
  int Number = 0; // from 1
  int Total = 0;  // 0 where the piece does not say (only the last must)
};
// The piece raw is, when its Content-Type says it is one (with an id and a number).
std::optional<TPartialPiece> PartialPieceOf(std::string_view raw);

// The whole message from the raw texts of all its pieces, in order: the
// first piece's header lines but its Content-*, Subject, Message-ID,
// Encrypted and MIME-Version, then those of the message the pieces enclose,
// then the pieces' bodies joined.
std::string JoinPartialPieces(const std::vector<std::string_view>& pieces);

// The decoded bytes of an attachment of ReadMessage(raw).
std::string AttachmentBytes(std::string_view raw, const TAttachment& attachment);

} // namespace postvue
