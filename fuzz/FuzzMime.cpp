// A message's raw text to the readable message, every attachment's bytes,
// and a piece of a broken-apart message put together.
#include "Charsets.h"
#include "ReadableMessage.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const postvue::TReadableMessage message = postvue::ReadMessage(raw);
  // Everything for people is UTF-8, whatever the bytes were.
  for (const std::string* text : {&message.From, &message.To, &message.Cc, &message.Date, &message.Subject, &message.Body})
    if (!postvue::IsValidUtf8(*text)) std::abort();
  for (const std::string& note : message.Notes)
    if (!postvue::IsValidUtf8(note)) std::abort();
  for (const postvue::TAttachment& attachment : message.Attachments) {
    if (attachment.Name.empty() || !postvue::IsValidUtf8(attachment.Name)) std::abort();
    // The size listed is the size of the bytes given.
    if (postvue::AttachmentBytes(raw, attachment).size() != attachment.Size) std::abort();
  }
  // A piece, and two of it put together, read like any other message.
  if (postvue::PartialPieceOf(raw)) {
    const std::string whole = postvue::JoinPartialPieces({raw, raw});
    if (!postvue::IsValidUtf8(postvue::ReadMessage(whole).Body)) std::abort();
  }
  return 0;
}
