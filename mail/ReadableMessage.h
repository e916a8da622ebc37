// A message as a person reads it: its header lines, the body text and the
// attachments, from its raw text (what GetMessageText gives). One pure
// function; an odd message gives a readable result and notes, never an
// exception.
#pragma once

#include "Mime.h"
#include "TransferEncoding.h"

#include <cstdint>
#include <functional>
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
  // The whole message of a message/partial piece (id, number, total) when
  // the store holds all its pieces, else empty. Reassembly is not done yet:
  // the hook is here so that callers do not change when it is.
  std::function<std::string(std::string_view id, int number, int total)> PartialWhole;
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

// The decoded bytes of an attachment of ReadMessage(raw).
std::string AttachmentBytes(std::string_view raw, const TAttachment& attachment);

} // namespace postvue
