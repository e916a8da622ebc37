// The layout of an Outlook Express 5 folder database (.dbx): every offset and
// constant of the format, and pure decoders over the bytes of one structure.
// The reader and recovery both read the file through these; they differ only
// in what they do with a structure that is not sound.
#pragma once

#include "ByteCursor.h"
#include "MessageRecord.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace postvue::dbx {

// Why a structure is not sound; None (zero) when it is.
enum class TFault {
  None,
  Short,               // fewer bytes than the structure needs
  WrongKind,           // the header's magic, or its database kind, is not the one asked for
  WrongMarker,         // an object's Marker is not its own offset
  WrongParent,         // an index node's Parent is not the node that referred to it
  TooManyEntries,      // an index node's EntryCount is above kMaxNodeEntries
};

template <typename T> using TDecoded = TDecodedOf<T, TFault>;

// Every offset in the file is 32-bit.
constexpr std::uint64_t kOffsetLimit = 0x100000000;

// File header, at offset 0.
constexpr std::uint32_t kMagic = 0xFE12ADCF;
constexpr std::uint32_t kDatabaseKindMessages = 0x6F74FDC5;
constexpr std::uint32_t kDatabaseKindFolders = 0x6F74FDC6; // the folder list, Folders.dbx
constexpr std::size_t kHeaderSize = 0x24BC;
constexpr std::size_t kMagicAt = 0x00;
constexpr std::size_t kDatabaseKindAt = 0x04;
constexpr std::size_t kMessageCountAt = 0xC4;
constexpr std::size_t kIndexRootAt = 0xE4;

struct TFileHeader {
  std::uint32_t Magic, DatabaseKind, MessageCount, IndexRoot;
};
// Short when the bytes end before the header does (the fields they reach
// are still decoded); WrongKind when the magic or the kind is another.
TDecoded<TFileHeader> DecodeFileHeader(TBytes header, std::uint32_t kind = kDatabaseKindMessages);

// Folder block, right behind the header; the objects come after it.
constexpr std::size_t kFolderInfoSize = 0x220;
constexpr std::size_t kFolderNameAt = 0x105;
constexpr std::uint64_t kFirstObject = kHeaderSize + kFolderInfoSize;

// The folder name: zero-terminated, or ended by the block.
std::string_view DecodeFolderName(TBytes folderInfo);

// Index node: a header, then kMaxNodeEntries entries that fill it exactly.
constexpr std::size_t kNodeSize = 0x27C;
constexpr std::size_t kNodeMarkerAt = 0x00;
constexpr std::size_t kNodeLeftChildAt = 0x08;
constexpr std::size_t kNodeParentAt = 0x0C;
constexpr std::size_t kNodeEntryCountAt = 0x11;
constexpr std::size_t kNodeLeftValueCountAt = 0x14;
constexpr std::size_t kNodeEntriesAt = 0x18;
constexpr std::size_t kEntrySize = 12;
constexpr unsigned kMaxNodeEntries = 51;
static_assert(kNodeEntriesAt + kEntrySize * kMaxNodeEntries == kNodeSize);

struct TIndexEntry {
  std::uint32_t Value, Child, ChildValueCount;
};

struct TIndexNode {
  std::uint32_t Marker, LeftChild, Parent, LeftValueCount;
  unsigned EntryCount;
  TBytes Bytes; // the node's bytes, for its entries
  // Entry i, i below EntryCount.
  TIndexEntry Entry(unsigned i) const;
};
// The node at offset at, referred to by parent (0 for the root); the checks
// in this order: Short, WrongMarker, WrongParent, TooManyEntries.
TDecoded<TIndexNode> DecodeIndexNode(TBytes node, std::uint32_t at, std::uint32_t parent);

// Message-info object: a header, then BodyLength bytes of body that begin
// with EntryCount property entries of 4 bytes and go on with their data.
constexpr std::size_t kObjectHeaderSize = 12;
constexpr std::size_t kMaxBodyLength = 65535; // BodyLength is 16-bit
constexpr std::size_t kPropertyEntrySize = 4;
// A message needs at least a message-info object and an index entry.
constexpr std::uint64_t kMinBytesPerMessage = kObjectHeaderSize + kEntrySize;

struct TObjectHeader {
  std::uint32_t Marker;
  std::size_t BodyLength;
  unsigned EntryCount;
};
// The object header at offset at: Short or WrongMarker when not sound.
TDecoded<TObjectHeader> DecodeObjectHeader(TBytes header, std::uint32_t at);

// The property entries of an object's body: an id byte and a 24-bit value
// each. The ids with bit 0x80 hold their value themselves; the others point
// into the data area behind the entry table. No read leaves the body: an
// entry or a datum that would is not given, and the caller skips it.
class TProperties {
public:
  TProperties(TBytes body, unsigned entryCount) : Body(body), EntryCount(entryCount) {}
  unsigned Count() const { return EntryCount; }
  bool Entry(unsigned i, std::uint8_t& id, std::uint32_t& value) const;
  // The data of an indirect entry whose value is value.
  bool U32(std::uint32_t value, std::uint32_t& out) const;
  bool U64(std::uint32_t value, std::uint64_t& out) const;
  // The bytes up to the zero that ends them, cut to maxLength; false when
  // no zero follows within the body.
  bool String(std::uint32_t value, std::size_t maxLength, std::string_view& out);

private:
  std::size_t DataAt(std::uint32_t value) const { return kPropertyEntrySize * std::size_t{EntryCount} + value; }

  TBytes Body;
  unsigned EntryCount;
  // Where the body's last zero lies, found once, so each string looks at no
  // more than the bytes it keeps however many entries point into a long text.
  std::size_t LastZero = 0;
  bool LastZeroFound = false, LastZeroKnown = false;
};

// Property ids. An id with kDirect set holds its value in the entry; the
// same id without it points to its value in the data area.
constexpr std::uint8_t kDirect = 0x80;
// Of a message-info object (the record's fields).
constexpr std::uint8_t kPropertyMsgIndex = 0x00;     // direct only
constexpr std::uint8_t kPropertyFlags = 0x01;        // 32-bit
constexpr std::uint8_t kPropertyTextOffset = 0x04;   // 32-bit: the first text block
constexpr std::uint8_t kPropertyText07 = 0x07;
constexpr std::uint8_t kPropertySubject = 0x08;
constexpr std::uint8_t kPropertyText0C = 0x0C;
constexpr std::uint8_t kPropertySenderName = 0x0D;
constexpr std::uint8_t kPropertySenderAddress = 0x0E;
constexpr std::uint8_t kPropertyPriority = 0x10;     // 32-bit
constexpr std::uint8_t kPropertyReceived = 0x12;     // 64-bit FILETIME
constexpr std::uint8_t kPropertyText13 = 0x13;
constexpr std::uint8_t kPropertyText14 = 0x14;
constexpr std::uint8_t kPropertyText1A = 0x1A;
// Of a folder record in the folder list.
constexpr std::uint8_t kPropertyFolderId = 0x80;     // direct
constexpr std::uint8_t kPropertyFolderParent = 0x81; // direct
constexpr std::uint8_t kPropertyFolderName = 0x02;
constexpr std::uint8_t kPropertyFolderFile = 0x03;   // the folder's store file

// The properties of a message-info body into the record's fields, later
// entries winning. An entry that cannot be decoded within the body is
// skipped; returns how many were.
unsigned DecodeMessageInfo(TProperties properties, TMessageRecord& record);

// Text block: a header, then DataLength bytes of text.
constexpr std::size_t kBlockHeaderSize = 16;
constexpr std::size_t kBlockCapacityAt = 0x04; // room for text; the format does not need it

struct TBlockHeader {
  std::uint32_t Marker, Capacity, DataLength, NextBlock;
};
// The block header at offset at: Short or WrongMarker when not sound.
TDecoded<TBlockHeader> DecodeBlockHeader(TBytes header, std::uint32_t at);

// Where a block's text begins: right behind its header.
constexpr std::uint64_t BlockTextAt(std::uint32_t block) { return std::uint64_t{block} + kBlockHeaderSize; }
// The part of a block's text that belongs to the message: a zero byte ends it.
std::string_view BlockShare(std::string_view text);

// A message's text is a chain of text blocks from its TextOffset, each naming
// the next in NextBlock, 0 ending the chain. Every walk over one (the
// message's Size, its text, its header, recovery) goes through this: the
// caller reads the header at At(), has it decoded, decides whether the block
// ends its walk (a block that is not sound, one it cannot afford), then
// counts it and steps on.
class TBlockChain {
public:
  explicit TBlockChain(std::uint32_t first) : Block(first), Saved(first) {}
  bool More() const { return Block != 0; }
  std::uint32_t At() const { return Block; }
  // The header read at At(): Short or WrongMarker when not sound.
  TDecoded<TBlockHeader> Decode(TBytes header) const { return DecodeBlockHeader(header, Block); }
  // Adds block, the one at At(), to the text's length.
  void Count(const TBlockHeader& block) { Total += block.DataLength; }
  // Moves on to block's NextBlock. False when that is a block the walk has
  // passed: the chain loops. Found with Brent's method, in O(1) memory and
  // within about twice the chain's length, without reading anything again.
  bool Step(const TBlockHeader& block);
  // The DataLength of every block counted: as a message's Size, 32-bit as
  // the field is, so it wraps around.
  std::uint32_t Size() const { return static_cast<std::uint32_t>(Total); }
  // The same without wrapping around.
  std::uint64_t Length() const { return Total; }

private:
  std::uint32_t Block;
  std::uint64_t Total = 0;
  std::uint32_t Saved; // the block the loop test compares with
  std::uint64_t Steps = 0, Limit = 1;
};

} // namespace postvue::dbx
