// Test helper (not shipped): builds the exact bytes of .dbx, .mbx and .idx
// stores, valid ones and damaged ones, so every test makes what it needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postvue::testing {

// A growable little-endian byte image.
class TImage {
public:
  std::vector<std::uint8_t> Data;

  std::size_t Size() const { return Data.size(); }
  void Reserve(std::size_t size) {
    if (Data.size() < size) Data.resize(size, 0);
  }
  // Appends count zero bytes and returns where they start.
  std::uint32_t Allocate(std::size_t count) {
    const std::size_t at = Data.size();
    Data.resize(at + count, 0);
    return static_cast<std::uint32_t>(at);
  }
  void U8(std::size_t at, std::uint8_t v) { Put(at, v, 1); }
  void U16(std::size_t at, std::uint16_t v) { Put(at, v, 2); }
  void U32(std::size_t at, std::uint32_t v) { Put(at, v, 4); }
  void U64(std::size_t at, std::uint64_t v) { Put(at, v, 8); }
  void Bytes(std::size_t at, std::string_view bytes);
  std::uint32_t GetU32(std::size_t at) const;
  std::string Str() const { return std::string(Data.begin(), Data.end()); }
  // Writes the image to path (replacing it).
  void WriteFile(const std::string& path) const;

private:
  void Put(std::size_t at, std::uint64_t v, int width);
};

void WriteFileBytes(const std::string& path, std::string_view bytes);
std::string ReadFileBytes(const std::string& path);
// The names in the folder dir, sorted, in UTF-8: a test sees any file left behind.
std::vector<std::string> SortedNames(const std::string& dir);

// Windows FILETIME of a UTC calendar time.
std::uint64_t FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);

// ---------------------------------------------------------------- .dbx

// One property entry of a message-info object. Direct ids (0x80, 0x81, 0x84,
// 0x90) carry Value; the others carry Data, stored in the data area (Value is
// then the offset within the data area, filled in by the writer unless
// RawValue is set).
struct TDbxProperty {
  std::uint8_t Id = 0;
  std::uint32_t Value = 0;
  std::string Data;
  bool RawValue = false; // keep Value as given even for an indirect id

  static TDbxProperty Direct(std::uint8_t id, std::uint32_t value) { return {id, value, {}, false}; }
  static TDbxProperty Text(std::uint8_t id, std::string_view text) { return {id, 0, std::string(text) + '\0', false}; }
  static TDbxProperty U32(std::uint8_t id, std::uint32_t value);
  static TDbxProperty U64(std::uint8_t id, std::uint64_t value);
};

struct TDbxNodeEntry {
  std::uint32_t Value = 0, Child = 0, ChildValueCount = 0;
};

struct TDbxNode {
  std::uint32_t Marker = 0; // 0: the node's own offset
  std::uint32_t LeftChild = 0, Parent = 0, LeftValueCount = 0;
  std::uint8_t EntryCount = 0xFF; // 0xFF: Entries.size()
  std::vector<TDbxNodeEntry> Entries;
};

class TDbxImage : public TImage {
public:
  static constexpr std::uint32_t kHeaderSize = 0x24BC;
  static constexpr std::uint32_t kFolderInfoSize = 0x220;
  static constexpr std::uint32_t kKindMessages = 0x6F74FDC5;

  // Header and folder block, all zero but for the magics.
  TDbxImage();
  void SetMessageCount(std::uint32_t count) { U32(0xC4, count); }
  void SetIndexRoot(std::uint32_t offset) { U32(0xE4, offset); }
  void SetKind(std::uint32_t kind) { U32(0x04, kind); }
  void SetFolderName(std::string_view name);

  // Appends an object and returns its offset.
  std::uint32_t AddNode(const TDbxNode& node);
  void WriteNode(std::uint32_t at, const TDbxNode& node);
  std::uint32_t AddMessageInfo(const std::vector<TDbxProperty>& properties);
  // The text in a chain of blocks of at most blockSize text bytes; 0 for an empty text.
  std::uint32_t AddText(std::string_view text, std::size_t blockSize = 512);
  // One block, with its own marker and the given next block.
  std::uint32_t AddBlock(std::string_view text, std::uint32_t next = 0);
  // The text in a chain like AddText's, but with every Marker and NextBlock
  // naming an offset displacement bytes further on than the block lies: a
  // stale copy of a chain moved when the file was compacted. Returns where
  // the first block lies; 0 for an empty text.
  std::uint32_t AddDisplacedText(std::string_view text, std::uint32_t displacement, std::size_t blockSize = 512);

  // A balanced tree of nodes with at most fanout entries each, holding values
  // in order; sets IndexRoot and MessageCount. Returns the root's offset.
  std::uint32_t BuildTree(const std::vector<std::uint32_t>& values, unsigned fanout = 51);
};

// A message as the tests think of it; MakeDbx turns it into properties.
struct TTestMessage {
  std::string Subject;
  std::string SenderName;
  std::string SenderAddress;
  std::uint32_t Flags = 0x80;
  std::int32_t Priority = 3;
  std::uint64_t Received = 0; // FILETIME; 0: no property
  std::uint32_t MsgIndex = 0;
  std::string Text;
};

struct TDbxOptions {
  std::string FolderName = "Inbox";
  unsigned Fanout = 51;
  std::size_t BlockSize = 512;
};

std::vector<TDbxProperty> PropertiesOf(const TTestMessage& message, std::uint32_t textOffset);
TDbxImage MakeDbx(const std::vector<TTestMessage>& messages, const TDbxOptions& options = {});

// A folder record of Folders.dbx: id 0x80 and parent 0x81 (left out when 0,
// as the mail program does), name 0x02 and file 0x03 (left out when empty).
struct TTestFolder {
  std::uint32_t Id = 0, Parent = 0;
  std::string Name, File;
};

// A Folders.dbx (DatabaseKind 0x6F74FDC6) listing these records in order.
TDbxImage MakeFolderList(const std::vector<TTestFolder>& folders);

// ---------------------------------------------------------------- .mbx and .idx

struct TMbxMessage {
  std::string Text;
  std::uint32_t Number = 0;
  std::uint32_t Tag = 0x7F007F00;
  std::int64_t BlockLength = -1; // -1: 16 + text length, rounded up to 4
  std::int64_t DataLength = -1;  // -1: text length
};

class TMbxImage : public TImage {
public:
  static constexpr std::uint32_t kHeaderSize = 84;
  TMbxImage();
  void SetMessageCount(std::int32_t count) { U32(8, static_cast<std::uint32_t>(count)); }
  // Appends a message header and text; returns the offset of its 16-byte header.
  std::uint32_t AddMessage(const TMbxMessage& message);
};

// A store of these messages with the count set to their number.
TMbxImage MakeMbx(const std::vector<TMbxMessage>& messages);

struct TIdxRecord {
  std::uint32_t MessageFlags = 0x80;
  std::uint32_t MessageNumber = 0;
  std::uint32_t MessagePos = 0;
  std::uint32_t MessageSize = 0;
  std::uint64_t ReceivedTime = 0;
  std::uint16_t MessagePriority = 3;
  std::string Strings[7]; // 1 Subject, 2 Text14, 3 SenderAddress, 4 Text0C, 5, 6, 7 Text1A
  std::int64_t NextOffset = -1; // -1: right behind this record's strings
};

class TIdxImage : public TImage {
public:
  static constexpr std::uint32_t kHeaderSize = 80;
  TIdxImage();
  void SetMagic(std::uint32_t magic) { U32(0, magic); }
  void SetRecordCount(std::int32_t count) { U32(8, static_cast<std::uint32_t>(count)); }
  // Appends a record with its strings; returns its offset. NextBase + NextSpan
  // point at NextOffset (split as NextBase = offset, NextSpan = the rest).
  std::uint32_t AddRecord(const TIdxRecord& record);
};

TIdxImage MakeIdx(const std::vector<TIdxRecord>& records);

// A scratch folder removed with everything in it when the object goes.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return Dir; }
  std::string operator/(std::string_view name) const { return Dir + "/" + std::string(name); }

private:
  std::string Dir;
};

} // namespace postvue::testing
