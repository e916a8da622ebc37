// A message of a store as a person reads it. A message that its sender's mail
// program broke apart (message/partial) is several messages of the store: when
// all its pieces are there, each reads as the whole message.
#pragma once

#include "MailbaseReader.h"
#include "ReadableMessage.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace postvue {

// The pieces of broken-apart messages in one store: found by one pass over
// the headers when the first piece is read, then kept. It reads through the
// reader, so it is used where the reader is.
class TPartialPieces {
public:
  explicit TPartialPieces(TMailbaseReader& reader) : Reader(reader) {}

  struct TWhole {
    std::string Text;          // the whole message, when every piece is there
    int Pieces = 0;            // how many it was put together from
    std::vector<int> Missing;  // else the numbers of the pieces not found (0: the last, whose number no piece says)
  };
  TWhole Whole(const TPartialPiece& piece);

private:
  void Scan();

  TMailbaseReader& Reader;
  bool Scanned = false;
  struct TPieces {
    std::map<int, std::int32_t> Indexes; // by number
    int Total = 0;
  };
  std::map<std::string, TPieces> ById;
};

struct TStoreMessage {
  // The text the attachments' places refer to: the message's raw text, or
  // the whole put together from its pieces.
  std::string Text;
  TReadableMessage Message;
};

// Message index of reader as a person reads it, attachment names safe for
// files (SafeNameOptions). Raises what GetMessageText raises.
TStoreMessage ReadStoreMessage(TMailbaseReader& reader, std::int32_t index, TPartialPieces& pieces);

} // namespace postvue
