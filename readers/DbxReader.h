// Outlook Express 5 folder database (.dbx).
#pragma once

#include "MailbaseReader.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace postvue {

// ---- What every .dbx shares, whatever its DatabaseKind: the message stores
// and the folder list (Folders.dbx) alike have the same header magic, the
// same index tree and the same objects with property entries, read with the
// same checks.

constexpr std::uint32_t kDatabaseKindMessages = 0x6F74FDC5;
constexpr std::uint32_t kDatabaseKindFolders = 0x6F74FDC6;

// The bytes of the file that a walk may still go over: a damaged file whose
// objects overlap or share must not turn a small file into endless work.
class TReadBudget {
public:
  explicit TReadBudget(std::uint64_t fileSize);
  void Spend(std::uint64_t bytes);
  // A text block costs its header and the part of its text within the file.
  // False, spending nothing, when the budget cannot pay for it.
  bool TrySpendBlock(std::uint32_t at, std::uint32_t dataLength);

private:
  bool TrySpend(std::uint64_t bytes);

  std::uint64_t FileSize, Left;
};

// Raises "Message count is larger than the file can hold." when count values
// cannot fit in the room bytes left after the header (each needs an object
// and an index entry), so a damaged count allocates nothing.
void CheckDbxCount(std::uint32_t count, std::uint64_t room);

// The index tree below Node (referred to by Parent, 0 for the root), holding
// ValueCount values that go to Values from Position on, in tree order. Raises
// the reader's index messages ("Wrong object marker.", "Wrong parent.", ...);
// the values found before a failure stay in place.
void ReadDbxIndexNode(TFileStream& Stream, std::uint32_t Parent, std::uint32_t Node, std::uint32_t Position,
                      std::uint32_t ValueCount, std::vector<std::uint32_t>& Values);

// The header of the .dbx open in Stream, which must be of DatabaseKind Kind
// (else WrongKind is raised), and the values its index tree lists, in order:
// none when its count is 0.
std::vector<std::uint32_t> ReadDbxIndex(TFileStream& Stream, std::uint32_t Kind, const char* WrongKind);

// The property entries of one object's body: an id byte and a 24-bit value
// each; an id with bit 0x80 holds its value itself, the others point into the
// data area behind the entry table. No read leaves the body: an entry or a
// datum that would is not given, and the caller skips it.
class TDbxProperties {
public:
  TDbxProperties(std::span<const std::uint8_t> body, unsigned entryCount) : Body(body), EntryCount(entryCount) {}
  unsigned Count() const { return EntryCount; }
  bool Entry(unsigned i, std::uint8_t& id, std::uint32_t& value) const;
  // The data of an indirect entry whose value is value.
  bool U32(std::uint32_t value, std::uint32_t& out) const;
  bool U64(std::uint32_t value, std::uint64_t& out) const;
  // The bytes up to the zero that ends them, cut to maxLength; false when
  // no zero follows within the body.
  bool String(std::uint32_t value, std::size_t maxLength, std::string_view& out);

private:
  std::size_t DataAt(std::uint32_t value) const { return 4 * static_cast<std::size_t>(EntryCount) + value; }

  std::span<const std::uint8_t> Body;
  unsigned EntryCount;
  // Where the body's last zero lies, found once, so each string looks at no
  // more than the bytes it keeps however many entries point into a long text.
  std::size_t LastZero = 0;
  bool LastZeroFound = false, LastZeroKnown = false;
};

// The object at Offset (a message-info object or a folder record): its
// 12-byte header, whose Marker must be Offset ("Wrong object marker."), and
// its body, read into Body. Spends the bytes read from budget.
TDbxProperties ReadDbxObject(TFileStream& Stream, std::uint32_t Offset, std::vector<std::uint8_t>& Body,
                             TReadBudget& Budget);

class TDBXReader : public TMailbaseReader {
public:
  std::string GetFolderName() override;
  std::string GetMessageHeader(std::int32_t Index) override;
  std::string GetMessageText(std::int32_t Index) override;
  std::int32_t GetCount() override;
  void GetMessage(std::int32_t Index, TMessageRecord& Record) override;
  void Open(const std::string& FileName) override;
  void Load() override;
  void SetFileName(const std::string& FileName) override;

  static constexpr std::size_t kHeaderSize = 0x24BC;
  static constexpr std::size_t kFolderInfoSize = 0x220;

  std::array<std::uint8_t, kHeaderSize> Header{};
  std::array<std::uint8_t, kFolderInfoSize> FolderInfo{};
  std::vector<std::uint32_t> InfoOffsets;

private:
  std::uint32_t MessageCount() const;
  void ReadIndex();
  void ReadIndexNode(std::uint32_t Parent, std::uint32_t Node, std::uint32_t Position, std::uint32_t ValueCount);
  void ReadMessageInfo(std::uint32_t Offset, TMessageRecord& Record, TReadBudget& Budget);
  std::string ReadText(std::int32_t Index, bool headerOnly);

  std::vector<std::uint8_t> Body; // one message-info body at a time, at most 65535 bytes
};

} // namespace postvue
