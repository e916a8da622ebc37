// Rescue of messages from damaged stores: every message whose bytes are still
// in the file, whether the store's index reaches it or not. Nothing here
// trusts the header's count or the index: the index only tells which of the
// messages found are listed; the rest are found by their structure.
#pragma once

#include "FileStream.h"
#include "MailbaseReader.h"
#include "MessageHeaders.h" // what the searches take for a message

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace postvue {

enum class TRecoveredKind {
  Listed,       // reached from the index: the DBX tree, the MBX chain of message headers
  Removed,      // found in the bytes only: removed, or orphaned by damage to the index
  Unclassified, // found in a store whose index cannot be read at all
};

struct TRecoveredMessage {
  TRecoveredKind Kind = TRecoveredKind::Listed;
  // Listed: the message's position in index order, as the list numbers it.
  // Others: the order in which they lie in the file, from 0, per kind.
  std::uint32_t Number = 0;
  // More than the largest Number of this kind can be: a width for numbering.
  std::uint32_t NumberLimit = 0;
  std::uint64_t Offset = 0; // the first text block (DBX) or the message header (MBX)
  // The raw text. For a listed message it is what the reader's GetMessageText gives.
  std::string Text;
  std::string Subject;    // as the store keeps it, else the text's Subject line
  double Received = 0.0;  // as the store gives it; 0.0 when it gives none
  bool Incomplete = false;
  std::string IncompleteReason; // why, when Incomplete
};

// Receives what a recovery finds, in this order: the listed messages in index
// order, then the others in file order. Problems and progress come between.
class TRecoverySink {
public:
  virtual ~TRecoverySink() = default;
  virtual void Message(const TRecoveredMessage& message) = 0;
  // Damage met on the way; the recovery goes on.
  virtual void Problem(std::uint64_t offset, const std::string& what) = 0;
  // Bytes of the file dealt with so far, of total.
  virtual void Progress(std::uint64_t done, std::uint64_t total) {
    (void)done;
    (void)total;
  }
};

struct TRecoverySummary {
  bool IndexRead = false; // false: the messages found are Unclassified
  std::uint32_t Listed = 0, Removed = 0, Unclassified = 0;
  std::uint32_t Incomplete = 0;
  std::uint32_t Problems = 0;
  std::uint32_t Duplicates = 0; // found again in the bytes, equal to one already given
  std::uint32_t Repeated = 0;   // listed again at a place listed before: given once
  std::uint32_t Fragments = 0;  // chains or blocks that do not begin a message
};

// "0x" and value in upper-case hexadecimal digits, as offsets in a store are reported.
std::string HexText(std::uint64_t value);

class TStoreRecovery {
public:
  // Opens the store read-only and recognises its format as the probe does.
  // Raises EFOpenError or EReadError as the file layer does, and
  // EMailbaseReaderException "File is not in supported format." for neither magic.
  // The store and its .idx come from files (the disk unless given).
  explicit TStoreRecovery(const std::string& fileName, const TFileSource& files = DiskFiles());
  ~TStoreRecovery();
  TStoreRecovery(const TStoreRecovery&) = delete;
  TStoreRecovery& operator=(const TStoreRecovery&) = delete;

  TStoreFormat Format() const { return StoreFormat; }
  // Finds every message and hands it to sink. Damage in the store is reported
  // to sink, never raised; only a failing sink ends the run early.
  TRecoverySummary Run(TRecoverySink& sink);

private:
  std::string FileName;
  const TFileSource& Files;
  std::unique_ptr<TFileStream> Stream;
  TStoreFormat StoreFormat = sfUnknown;
};

} // namespace postvue
