#include "DbxReader.h"

#include "ByteCursor.h"
#include "Exceptions.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace postvue {

namespace {
constexpr std::size_t kMagicAt = 0x00;
constexpr std::size_t kDatabaseKindAt = 0x04;
constexpr std::size_t kMessageCountAt = 0xC4;
constexpr std::size_t kIndexRootAt = 0xE4;
constexpr std::size_t kFolderNameAt = 0x105;

constexpr std::size_t kNodeSize = 0x27C;
constexpr std::size_t kNodeEntriesAt = 0x18;
constexpr std::size_t kEntrySize = 12;
constexpr unsigned kMaxNodeEntries = 51;

constexpr std::size_t kObjectHeaderSize = 12;
constexpr std::size_t kBlockHeaderSize = 16;
constexpr std::size_t kMaxBodyLength = 65535;
// A message needs at least a 12-byte message-info object and a 12-byte index entry.
constexpr std::uint64_t kMinBytesPerMessage = 24;

const char* const kNotADatabase = "File is not an Outlook Express 5 Message Database.";
const char* const kNoMessage = "File does not contain any message.";
const char* const kCountTooLarge = "Message count is larger than the file can hold.";
const char* const kTooManyToRead = "Too many values to read.";
const char* const kWrongMarker = "Wrong object marker.";
const char* const kWrongParent = "Wrong parent.";
const char* const kWrongEntries = "Wrong value for entries.";
const char* const kNodeTwice = "Index node referenced twice.";
const char* const kTooMany = "Too many values.";
const char* const kWrongNumber = "Wrong number of values found";
const char* const kNoText = "No text found.";
const char* const kCircularChain = "Circular text block chain.";
const char* const kBlockTooLong = "Text block is longer than the message.";
const char* const kNodesOverlap = "Index nodes overlap.";
const char* const kMessagesOverlap = "Messages overlap in the file.";

// In a sound store no two objects share a byte: index nodes, message-info
// objects and text blocks each have their own place in the file. A damaged
// (or hostile) one can make them overlap or share, so that a small file
// describes a huge amount of work: millions of index levels, or thousands of
// messages each walking the same long chain of blocks. The walks are bounded
// by what the file could hold if nothing overlapped, with room for some
// damage: Load and each text request may go over at most this many times the
// file's size in objects and blocks (headers and the text within the file).
constexpr std::uint64_t kReadFactor = 2;

struct TBlockHeader {
  std::uint32_t Marker, DataLength, NextBlock;
};

TBlockHeader ReadBlockHeader(TFileStream& stream, std::uint32_t offset) {
  std::uint8_t bytes[kBlockHeaderSize];
  stream.ReadAt(offset, bytes, sizeof bytes);
  return {LE32(bytes, 0x00), LE32(bytes, 0x08), LE32(bytes, 0x0C)};
}

// Brent's cycle detection over a chain of block offsets: O(1) memory, and a
// loop is found within about twice the chain's length, without re-reading.
class TChainGuard {
public:
  explicit TChainGuard(std::uint32_t first) : Saved(first) {}
  void Step(std::uint32_t next) {
    if (next != 0 && next == Saved) throw EDBXReaderException(kCircularChain);
    if (++Steps == Limit) {
      Saved = next;
      Limit *= 2;
      Steps = 0;
    }
  }

private:
  std::uint32_t Saved;
  std::uint64_t Steps = 0, Limit = 1;
};

// Whether the chain from first comes back to a block it passed, following
// block headers alone and spending nothing: a walk that ran out of its read
// budget asks this first, so a loop is called a loop however long it is. The
// blocks of a chain that does not loop are distinct objects of the file, so
// this ends within a few times the file's size in steps.
bool ChainLoops(TFileStream& stream, std::uint32_t first) {
  TChainGuard guard(first);
  try {
    for (std::uint32_t b = first; b != 0;) {
      const TBlockHeader block = ReadBlockHeader(stream, b);
      if (block.Marker != b) return false;
      b = block.NextBlock;
      guard.Step(b);
    }
  } catch (const EDBXReaderException&) {
    return true; // the guard found the loop
  } catch (const EReadError&) {
  }
  return false;
}

[[noreturn]] void FailChain(TFileStream& stream, std::uint32_t first, const char* message) {
  throw EDBXReaderException(ChainLoops(stream, first) ? kCircularChain : message);
}
} // namespace

TReadBudget::TReadBudget(std::uint64_t fileSize) : FileSize(fileSize), Left(kReadFactor * fileSize) {}

void TReadBudget::Spend(std::uint64_t bytes) {
  if (!TrySpend(bytes)) throw EDBXReaderException(kMessagesOverlap);
}

bool TReadBudget::TrySpend(std::uint64_t bytes) {
  if (bytes > Left) return false;
  Left -= bytes;
  return true;
}

// A damaged length pointing past the end costs no more than the file holds.
bool TReadBudget::TrySpendBlock(std::uint32_t at, std::uint32_t dataLength) {
  const std::uint64_t textAt = static_cast<std::uint64_t>(at) + kBlockHeaderSize;
  return TrySpend(kBlockHeaderSize + (textAt <= FileSize && dataLength <= FileSize - textAt ? dataLength : 0));
}

void CheckDbxCount(std::uint32_t count, std::uint64_t room) {
  if (count > room / kMinBytesPerMessage) throw EDBXReaderException(kCountTooLarge);
}

std::uint32_t TDBXReader::MessageCount() const { return LE32(Header, kMessageCountAt); }

std::int32_t TDBXReader::GetCount() { return static_cast<std::int32_t>(MessageCount()); }

std::string TDBXReader::GetFolderName() {
  TByteCursor cursor(FolderInfo, kFolderNameAt);
  return std::string(cursor.ZString(false)); // a name without terminator ends with the block
}

void TDBXReader::GetMessage(std::int32_t Index, TMessageRecord& Record) { CopyMessage(Index, Record); }

void TDBXReader::SetFileName(const std::string& fileName) { Open(fileName); }

void TDBXReader::Open(const std::string& fileName) {
  // Emptied before the base Open, which closes the previous file: should it
  // fail, no record of that file may outlive its stream.
  InfoOffsets.clear();
  Messages.clear();
  TMailbaseReader::Open(fileName);
  Active = false;
  Stream->DropCache();

  Stream->Read(Header.data(), Header.size());
  if (LE32(Header, kMagicAt) != kDBXMagic || LE32(Header, kDatabaseKindAt) != kDatabaseKindMessages)
    throw EDBXReaderException(kNotADatabase);
  Active = true;
  const std::uint32_t count = MessageCount();
  if (count == 0) throw EDBXReaderException(kNoMessage);
  Stream->Read(FolderInfo.data(), FolderInfo.size());

  // A damaged count must not make us allocate gigabytes before the index fails.
  const std::uint64_t fileSize = Stream->Size();
  const std::uint64_t room = fileSize > kHeaderSize + kFolderInfoSize ? fileSize - kHeaderSize - kFolderInfoSize : 0;
  CheckDbxCount(count, room);

  InfoOffsets.assign(count, 0);
  ReadIndex();
}

void TDBXReader::ReadIndex() { ReadIndexNode(0, LE32(Header, kIndexRootAt), 0, MessageCount()); }

std::vector<std::uint32_t> ReadDbxIndex(TFileStream& Stream, std::uint32_t Kind, const char* WrongKind) {
  std::array<std::uint8_t, TDBXReader::kHeaderSize> header;
  Stream.ReadAt(0, header.data(), header.size());
  if (LE32(header, kMagicAt) != kDBXMagic || LE32(header, kDatabaseKindAt) != Kind) throw EDBXReaderException(WrongKind);
  const std::uint32_t count = LE32(header, kMessageCountAt);
  const std::uint64_t fileSize = Stream.Size();
  CheckDbxCount(count, fileSize > header.size() ? fileSize - header.size() : 0);
  std::vector<std::uint32_t> values(count, 0);
  if (count > 0) ReadDbxIndexNode(Stream, 0, LE32(header, kIndexRootAt), 0, count, values);
  return values;
}

void TDBXReader::ReadIndexNode(std::uint32_t Parent, std::uint32_t Node, std::uint32_t Position,
                               std::uint32_t ValueCount) {
  ReadDbxIndexNode(*Stream, Parent, Node, Position, ValueCount, InfoOffsets);
}

// Walks the index tree in order, filling InfoOffsets. The tree's depth is set
// by the file alone, so the walk keeps its own stack instead of recursing. A
// frame is small: the node is read again when the walk comes back to it, so
// memory stays a fraction of the file's size however deep the tree.
void ReadDbxIndexNode(TFileStream& Stream, std::uint32_t Parent, std::uint32_t Node, std::uint32_t Position,
                      std::uint32_t ValueCount, std::vector<std::uint32_t>& Values) {
  static constexpr std::uint8_t kLeftChildPending = 0xFF;
  struct TFrame {
    std::uint32_t Node, Position, ValueCount, Found; // all within MessageCount, so 32 bits
    std::uint8_t NextEntry;                           // kLeftChildPending, then 0 to 51
  };
  const std::uint64_t count = Values.size();
  std::vector<TFrame> stack;
  // A node appears once in a sound tree; one reached twice would be walked
  // again and again (a shared subtree doubles the work at every level).
  std::unordered_set<std::uint32_t> visited;
  // Sound nodes never overlap, but damaged ones may, and a chain of nodes
  // that overlap all but their headers makes a small file very deep. At most
  // one distinct node per header's worth of file keeps the walk's memory
  // (a frame and a visited mark per node) within a small multiple of the file.
  const std::uint64_t maxNodes = Stream.Size() / kNodeEntriesAt;
  std::uint8_t bytes[kNodeSize]; // the node of the top frame

  auto readNode = [&](std::uint32_t parent, std::uint32_t node) {
    Stream.ReadAt(node, bytes, kNodeSize);
    if (LE32(bytes, 0x00) != node) throw EDBXReaderException(kWrongMarker);
    if (LE32(bytes, 0x0C) != parent) throw EDBXReaderException(kWrongParent);
    if (bytes[0x11] > kMaxNodeEntries) throw EDBXReaderException(kWrongEntries);
  };
  auto enter = [&](std::uint32_t parent, std::uint32_t node, std::uint64_t position, std::uint64_t valueCount) {
    if (position + valueCount > count) throw EDBXReaderException(kTooManyToRead);
    readNode(parent, node);
    if (!visited.insert(node).second) throw EDBXReaderException(kNodeTwice);
    if (visited.size() > maxNodes) throw EDBXReaderException(kNodesOverlap);
    stack.push_back({node, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(valueCount), 0,
                     kLeftChildPending});
  };

  enter(Parent, Node, Position, ValueCount);
  bool fresh = true; // bytes hold the top frame's node
  while (!stack.empty()) {
    // Coming back from a child: the node is read (and checked) again.
    if (!fresh) readNode(stack.size() > 1 ? stack[stack.size() - 2].Node : Parent, stack.back().Node);
    fresh = false;
    TFrame& frame = stack.back(); // valid until the next enter
    if (frame.NextEntry == kLeftChildPending) {
      frame.NextEntry = 0;
      const std::uint32_t leftChild = LE32(bytes, 0x08);
      if (leftChild != 0) {
        enter(frame.Node, leftChild, frame.Position, LE32(bytes, 0x14));
        fresh = true;
        continue;
      }
    }
    const unsigned entryCount = bytes[0x11];
    bool descended = false;
    while (frame.NextEntry < entryCount) {
      const std::size_t at = kNodeEntriesAt + kEntrySize * frame.NextEntry++;
      const std::uint32_t value = LE32(bytes, at), child = LE32(bytes, at + 4);
      if (value != 0) {
        const std::uint64_t found = static_cast<std::uint64_t>(frame.Found) + 1;
        if (frame.Position + found > count) throw EDBXReaderException(kTooMany);
        frame.Found = static_cast<std::uint32_t>(found);
        Values[frame.Position + found - 1] = value;
      }
      if (child != 0) {
        enter(frame.Node, child, static_cast<std::uint64_t>(frame.Position) + frame.Found, LE32(bytes, at + 8));
        fresh = true;
        descended = true; // resume this node when the child is done
        break;
      }
    }
    if (descended) continue;
    if (frame.Found != frame.ValueCount) throw EDBXReaderException(kWrongNumber);
    const std::uint32_t done = frame.ValueCount;
    stack.pop_back();
    // The child's values, as its referrer announced; Position + Found stays
    // within the count, which was checked before the child was entered.
    if (!stack.empty()) stack.back().Found += done;
  }
}

bool TDbxProperties::Entry(unsigned i, std::uint8_t& id, std::uint32_t& value) const {
  TByteCursor entry(Body, 4 * static_cast<std::size_t>(i));
  id = entry.U8();
  value = entry.U24();
  return i < EntryCount && entry.Ok();
}

bool TDbxProperties::U32(std::uint32_t value, std::uint32_t& out) const {
  TByteCursor data(Body, DataAt(value));
  const std::uint32_t read = data.U32();
  if (data.Ok()) out = read;
  return data.Ok();
}

bool TDbxProperties::U64(std::uint32_t value, std::uint64_t& out) const {
  TByteCursor data(Body, DataAt(value));
  const std::uint64_t read = data.U64();
  if (data.Ok()) out = read;
  return data.Ok();
}

bool TDbxProperties::String(std::uint32_t value, std::size_t maxLength, std::string_view& out) {
  if (!LastZeroKnown) {
    LastZeroKnown = true;
    for (std::size_t i = Body.size(); i-- > 0;)
      if (Body[i] == 0) {
        LastZero = i;
        LastZeroFound = true;
        break;
      }
  }
  const std::size_t p = DataAt(value);
  if (p >= Body.size() || !LastZeroFound || p > LastZero) return false; // runs to the end of the body
  const std::size_t window = std::min(Body.size() - p, maxLength + 1);
  const void* zero = std::memchr(Body.data() + p, 0, window);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - (Body.data() + p)) : maxLength;
  out = std::string_view(reinterpret_cast<const char*>(Body.data()) + p, length);
  return true;
}

TDbxProperties ReadDbxObject(TFileStream& Stream, std::uint32_t Offset, std::vector<std::uint8_t>& Body,
                             TReadBudget& Budget) {
  std::uint8_t header[kObjectHeaderSize];
  Stream.ReadAt(Offset, header, sizeof header);
  if (LE32(header, 0x00) != Offset) throw EDBXReaderException(kWrongMarker);
  const std::size_t bodyLength = header[4] | (static_cast<std::size_t>(header[5]) << 8);
  Body.resize(kMaxBodyLength);
  Stream.ReadAt(static_cast<std::uint64_t>(Offset) + kObjectHeaderSize, Body.data(), bodyLength);
  Budget.Spend(kObjectHeaderSize + bodyLength);
  return TDbxProperties(std::span<const std::uint8_t>(Body.data(), bodyLength), header[0x0A]);
}

void TDBXReader::ReadMessageInfo(std::uint32_t Offset, TMessageRecord& Record, TReadBudget& Budget) {
  ClearRecord(Record);
  TDbxProperties properties = ReadDbxObject(*Stream, Offset, Body, Budget);
  for (unsigned i = 0; i < properties.Count(); ++i) {
    // An entry whose data would leave the body is skipped, as a failing
    // entry is, and decoding goes on with the next.
    std::uint8_t id = 0;
    std::uint32_t v = 0;
    if (!properties.Entry(i, id, v)) continue;
    auto setText = [&](TShortString& field) {
      std::string_view text;
      if (properties.String(v, sizeof(TShortString::Data), text)) field.Assign(text);
    };
    switch (id) {
    case 0x01: properties.U32(v, Record.Flags); break;
    case 0x04: properties.U32(v, Record.TextOffset); break;
    case 0x07: setText(Record.Text07); break;
    case 0x08: setText(Record.Subject); break;
    case 0x0C: setText(Record.Text0C); break;
    case 0x0D: setText(Record.SenderName); break;
    case 0x0E: setText(Record.SenderAddress); break;
    case 0x10: {
      std::uint32_t value = 0;
      if (properties.U32(v, value)) Record.Priority = static_cast<std::int32_t>(value);
      break;
    }
    case 0x12: {
      std::uint64_t fileTime = 0;
      if (properties.U64(v, fileTime)) Record.Received = FileTimeToDateTimeSafe(fileTime);
      break;
    }
    case 0x13: setText(Record.Text13); break;
    case 0x14: setText(Record.Text14); break;
    case 0x1A: setText(Record.Text1A); break;
    case 0x80: Record.MsgIndex = v; break;
    case 0x81: Record.Flags = v; break;
    case 0x84: Record.TextOffset = v; break;
    case 0x90: Record.Priority = static_cast<std::int32_t>(v); break;
    default: break; // properties the list does not show
    }
  }

  std::uint32_t size = 0;
  TChainGuard guard(Record.TextOffset);
  for (std::uint32_t b = Record.TextOffset; b != 0;) {
    const TBlockHeader block = ReadBlockHeader(*Stream, b);
    if (block.Marker != b) throw EDBXReaderException(kWrongMarker);
    if (!Budget.TrySpendBlock(b, block.DataLength)) FailChain(*Stream, Record.TextOffset, kMessagesOverlap);
    size += block.DataLength; // 32-bit, as the field is
    b = block.NextBlock;
    guard.Step(b);
  }
  Record.Size = size;
}

void TDBXReader::Load() {
  if (!Active) return;
  Stream->DropCache();
  // After a successful Open InfoOffsets holds MessageCount offsets; after a
  // failed one it may hold none, and nothing is read past its end. Each record
  // is written once, in place: the array is the bulk of a large load.
  ReserveMessages(InfoOffsets.size());
  TReadBudget budget(Stream->Size());
  for (std::size_t i = 0; i < InfoOffsets.size(); ++i) {
    TMessageRecord& record = Messages.emplace_back();
    try {
      ReadMessageInfo(InfoOffsets[i], record, budget);
    } catch (...) {
      // Record i and the later ones stay all zero.
      ClearRecord(record);
      Messages.resize(InfoOffsets.size());
      throw;
    }
  }
}

std::string TDBXReader::GetMessageText(std::int32_t Index) { return ReadText(Index, false); }

std::string TDBXReader::GetMessageHeader(std::int32_t Index) { return ReadText(Index, true); }

std::string TDBXReader::ReadText(std::int32_t Index, bool headerOnly) {
  TMessageRecord record;
  CopyMessage(Index, record); // an index without a record has Size 0: "No text found."
  if (record.Size == 0) throw EDBXReaderException(kNoText);
  Stream->DropCache();
  // Taken once: a file that shrinks meanwhile fails its next read.
  const std::uint64_t fileSize = Stream->Size();
  // Load went over this chain within its own budget; the file may have changed since.
  TReadBudget budget(fileSize);

  static constexpr std::string_view kBlankLine = "\r\n\r\n";
  std::string result;
  std::string scratch; // grows to the largest block, never beyond Size bytes
  std::uint64_t total = 0;
  TChainGuard guard(record.TextOffset);
  for (std::uint32_t b = record.TextOffset; b != 0;) {
    const TBlockHeader block = ReadBlockHeader(*Stream, b);
    // The file may have changed since Load. Blocks longer than the whole
    // message would overrun the buffer sized from Size; a chain that now
    // holds more than Size bytes in all could grow the text without bound.
    total += block.DataLength;
    if (total > record.Size) FailChain(*Stream, record.TextOffset, kBlockTooLong);
    const std::uint64_t textAt = static_cast<std::uint64_t>(b) + kBlockHeaderSize;
    if (textAt > fileSize || block.DataLength > fileSize - textAt) throw EReadError();
    if (!budget.TrySpendBlock(b, block.DataLength)) FailChain(*Stream, record.TextOffset, kMessagesOverlap);
    if (scratch.size() < block.DataLength) scratch.resize(block.DataLength);
    Stream->ReadAt(textAt, scratch.data(), block.DataLength);

    const std::string_view data(scratch.data(), block.DataLength);
    const std::size_t searchFrom = result.size() >= 3 ? result.size() - 3 : 0;
    result.append(data.substr(0, data.find('\0'))); // a zero byte ends this block's share
    if (headerOnly && result.find(kBlankLine, searchFrom) != std::string::npos) break;
    b = block.NextBlock;
    guard.Step(b);
  }
  if (headerOnly) {
    const std::size_t at = result.find(kBlankLine);
    // Up to and including the carriage return that begins the blank line.
    return at == std::string::npos ? std::string() : result.substr(0, at + 1);
  }
  return result;
}

} // namespace postvue
