// Outlook Express 5 folder database (.dbx).
#pragma once

#include "DbxFormat.h"
#include "MailbaseReader.h"

#include <array>
#include <cstdint>
#include <vector>

namespace postvue {

// ---- What every .dbx shares, whatever its DatabaseKind: the message stores
// and the folder list (Folders.dbx) alike have the same header magic, the
// same index tree and the same objects with property entries, read with the
// same checks.

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

// The object at Offset (a message-info object or a folder record): its
// 12-byte header, whose Marker must be Offset ("Wrong object marker."), and
// its body, read into Body. Spends the bytes read from budget.
dbx::TProperties ReadDbxObject(TFileStream& Stream, std::uint32_t Offset, std::vector<std::uint8_t>& Body,
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

  std::array<std::uint8_t, dbx::kHeaderSize> Header{};
  std::array<std::uint8_t, dbx::kFolderInfoSize> FolderInfo{};
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
