#include "DbxReader.h"

#include "Exceptions.h"
#include "MessageHeaders.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

namespace postvue {

namespace {
using namespace dbx;

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

// The header of the chain's block at At(), read whole (or the read fails); Marker checked by the caller.
TDecoded<TBlockHeader> ReadBlockHeader(TFileStream& stream, const TBlockChain& chain) {
  std::uint8_t bytes[kBlockHeaderSize];
  stream.ReadAt(chain.At(), bytes, sizeof bytes);
  return chain.Decode(bytes);
}

// Whether the chain from first comes back to a block it passed, following
// block headers alone and spending nothing: a walk that ran out of its read
// budget asks this first, so a loop is called a loop however long it is. The
// blocks of a chain that does not loop are distinct objects of the file, so
// this ends within a few times the file's size in steps.
bool ChainLoops(TFileStream& stream, std::uint32_t first) {
  try {
    for (TBlockChain chain(first); chain.More();) {
      const TDecoded<TBlockHeader> block = ReadBlockHeader(stream, chain);
      if (!block.Sound()) return false;
      if (!chain.Step(block.Value)) return true;
    }
  } catch (const EReadError&) {
  }
  return false;
}

[[noreturn]] void FailChain(TFileStream& stream, std::uint32_t first, const char* message) {
  throw EDBXReaderException(ChainLoops(stream, first) ? kCircularChain : message);
}

const char* IndexNodeMessage(TFault fault) {
  switch (fault) {
  case TFault::WrongMarker: return kWrongMarker;
  case TFault::WrongParent: return kWrongParent;
  default: return kWrongEntries;
  }
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
  const std::uint64_t textAt = BlockTextAt(at);
  return TrySpend(kBlockHeaderSize + (WithinSize(textAt, dataLength, FileSize) ? dataLength : 0));
}

void CheckDbxCount(std::uint32_t count, std::uint64_t room) {
  if (count > room / kMinBytesPerMessage) throw EDBXReaderException(kCountTooLarge);
}

std::uint32_t TDBXReader::MessageCount() const { return DecodeFileHeader(Header).Value.MessageCount; }

std::int32_t TDBXReader::GetCount() { return static_cast<std::int32_t>(MessageCount()); }

std::string TDBXReader::GetFolderName() { return std::string(DecodeFolderName(FolderInfo)); }

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
  const TDecoded<TFileHeader> header = DecodeFileHeader(Header);
  if (!header.Sound()) throw EDBXReaderException(kNotADatabase);
  Active = true;
  const std::uint32_t count = header.Value.MessageCount;
  if (count == 0) throw EDBXReaderException(kNoMessage);
  Stream->Read(FolderInfo.data(), FolderInfo.size());

  // A damaged count must not make us allocate gigabytes before the index fails.
  const std::uint64_t fileSize = Stream->Size();
  const std::uint64_t room = fileSize > kHeaderSize + kFolderInfoSize ? fileSize - kHeaderSize - kFolderInfoSize : 0;
  CheckDbxCount(count, room);

  InfoOffsets.assign(count, 0);
  ReadIndex();
}

void TDBXReader::ReadIndex() { ReadIndexNode(0, DecodeFileHeader(Header).Value.IndexRoot, 0, MessageCount()); }

std::vector<std::uint32_t> ReadDbxIndex(TFileStream& Stream, std::uint32_t Kind, const char* WrongKind) {
  std::array<std::uint8_t, kHeaderSize> bytes;
  Stream.ReadAt(0, bytes.data(), bytes.size());
  const TDecoded<TFileHeader> header = DecodeFileHeader(bytes, Kind);
  if (!header.Sound()) throw EDBXReaderException(WrongKind);
  const std::uint32_t count = header.Value.MessageCount;
  const std::uint64_t fileSize = Stream.Size();
  CheckDbxCount(count, fileSize > bytes.size() ? fileSize - bytes.size() : 0);
  std::vector<std::uint32_t> values(count, 0);
  if (count > 0) ReadDbxIndexNode(Stream, 0, header.Value.IndexRoot, 0, count, values);
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
  TIndexNode top{};               // decoded from bytes

  auto readNode = [&](std::uint32_t parent, std::uint32_t node) {
    Stream.ReadAt(node, bytes, kNodeSize);
    const TDecoded<TIndexNode> decoded = DecodeIndexNode(bytes, node, parent);
    if (!decoded.Sound()) throw EDBXReaderException(IndexNodeMessage(decoded.Fault));
    top = decoded.Value;
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
      if (top.LeftChild != 0) {
        enter(frame.Node, top.LeftChild, frame.Position, top.LeftValueCount);
        fresh = true;
        continue;
      }
    }
    bool descended = false;
    while (frame.NextEntry < top.EntryCount) {
      const TIndexEntry entry = top.Entry(frame.NextEntry++);
      if (entry.Value != 0) {
        const std::uint64_t found = static_cast<std::uint64_t>(frame.Found) + 1;
        if (frame.Position + found > count) throw EDBXReaderException(kTooMany);
        frame.Found = static_cast<std::uint32_t>(found);
        Values[frame.Position + found - 1] = entry.Value;
      }
      if (entry.Child != 0) {
        enter(frame.Node, entry.Child, static_cast<std::uint64_t>(frame.Position) + frame.Found,
              entry.ChildValueCount);
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

TProperties ReadDbxObject(TFileStream& Stream, std::uint32_t Offset, std::vector<std::uint8_t>& Body,
                          TReadBudget& Budget) {
  std::uint8_t bytes[kObjectHeaderSize];
  Stream.ReadAt(Offset, bytes, sizeof bytes);
  const TDecoded<TObjectHeader> header = DecodeObjectHeader(bytes, Offset);
  if (!header.Sound()) throw EDBXReaderException(kWrongMarker);
  const std::size_t bodyLength = header.Value.BodyLength;
  Body.resize(kMaxBodyLength);
  Stream.ReadAt(static_cast<std::uint64_t>(Offset) + kObjectHeaderSize, Body.data(), bodyLength);
  Budget.Spend(kObjectHeaderSize + bodyLength);
  return TProperties(std::span<const std::uint8_t>(Body.data(), bodyLength), header.Value.EntryCount);
}

void TDBXReader::ReadMessageInfo(std::uint32_t Offset, TMessageRecord& Record, TReadBudget& Budget) {
  ClearRecord(Record);
  // A property that cannot be decoded is skipped; the others still count.
  DecodeMessageInfo(ReadDbxObject(*Stream, Offset, Body, Budget), Record);

  TBlockChain chain(Record.TextOffset);
  while (chain.More()) {
    const TDecoded<TBlockHeader> decoded = ReadBlockHeader(*Stream, chain);
    if (!decoded.Sound()) throw EDBXReaderException(kWrongMarker);
    const TBlockHeader& block = decoded.Value;
    if (!Budget.TrySpendBlock(chain.At(), block.DataLength)) FailChain(*Stream, Record.TextOffset, kMessagesOverlap);
    chain.Count(block);
    if (!chain.Step(block)) throw EDBXReaderException(kCircularChain);
  }
  Record.Size = chain.Size();
}

void TDBXReader::Load() {
  if (!Active) return;
  const TAccessScope walk(*Stream, TAccess::FrontToBack); // every text block header: most of the file
  // After a successful Open InfoOffsets holds MessageCount offsets; after a
  // failed one it may hold none, and nothing is read past its end. Each record
  // is written once, in place: the array is the bulk of a large load.
  const TPrefault prefault = ReserveMessages(InfoOffsets.size());
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
  // A whole text is read in one go where its blocks lie one after another,
  // as stores write them (a header to every 512 bytes of text, and room to spare).
  const std::uint64_t span = std::uint64_t{record.Size} * 17 / 16 + 2 * kBlockHeaderSize;
  Stream->DropCache(headerOnly ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(span, SIZE_MAX)));
  // Taken once: a file that shrinks meanwhile fails its next read.
  const std::uint64_t fileSize = Stream->Size();
  // Load went over this chain within its own budget; the file may have changed since.
  TReadBudget budget(fileSize);

  std::string result;
  // Grown once, not block by block; Size is bounded by what the file can hold.
  if (!headerOnly) result.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(record.Size, fileSize)));
  std::string scratch; // grows to the largest block, never beyond Size bytes
  TBlockChain chain(record.TextOffset);
  while (chain.More()) {
    const TBlockHeader block = ReadBlockHeader(*Stream, chain).Value; // its Marker is not compared here
    // The file may have changed since Load. Blocks longer than the whole
    // message would overrun the buffer sized from Size; a chain that now
    // holds more than Size bytes in all could grow the text without bound.
    chain.Count(block);
    if (chain.Length() > record.Size) FailChain(*Stream, record.TextOffset, kBlockTooLong);
    const std::uint64_t textAt = BlockTextAt(chain.At());
    if (!WithinSize(textAt, block.DataLength, fileSize)) throw EReadError();
    if (!budget.TrySpendBlock(chain.At(), block.DataLength)) FailChain(*Stream, record.TextOffset, kMessagesOverlap);
    if (scratch.size() < block.DataLength) scratch.resize(block.DataLength);
    Stream->ReadAt(textAt, scratch.data(), block.DataLength);

    const std::size_t searchFrom = result.size() >= 3 ? result.size() - 3 : 0;
    result.append(BlockShare(std::string_view(scratch.data(), block.DataLength)));
    if (headerOnly && HeaderEnd(std::string_view(result).substr(searchFrom), THeaderBreaks::CrLf) != std::string::npos)
      break;
    if (!chain.Step(block)) throw EDBXReaderException(kCircularChain);
  }
  if (headerOnly) {
    const std::size_t end = HeaderEnd(result, THeaderBreaks::CrLf);
    // The header lines and the CR of the break that ends the last of them.
    return end == std::string::npos ? std::string() : result.substr(0, end - 1);
  }
  return result;
}

} // namespace postvue
