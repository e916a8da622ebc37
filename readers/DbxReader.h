// Outlook Express 5 folder database (.dbx).
#pragma once

#include "MailbaseReader.h"

#include <array>
#include <cstdint>
#include <vector>

namespace postvue {

class TReadBudget;

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
