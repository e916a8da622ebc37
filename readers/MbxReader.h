// Outlook Express 4 folder file (.mbx) with its optional companion index (.idx).
#pragma once

#include "MailbaseReader.h"
#include "MbxFormat.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace postvue {

struct TMBX_FileHeader {
  std::array<std::uint8_t, mbx::kFileHeaderSize> Bytes{};
  std::uint32_t Magic() const;
  std::int32_t MessageCount() const;
};

// Where one message lies in the .mbx, and its header block, read at Open.
struct TMBX_MessageInfo {
  std::uint32_t Tag = 0;
  std::uint32_t Number = 0;
  std::uint32_t BlockLength = 0;
  std::uint32_t DataLength = 0;
  std::uint32_t DataPos = 0;
  std::string HeaderText;
};

class TMBXReader : public TMailbaseReader {
public:
  std::string GetFolderName() override;
  std::string GetMessageHeader(std::int32_t Index) override;
  std::string GetMessageText(std::int32_t Index) override;
  std::int32_t GetCount() override;
  void GetMessage(std::int32_t Index, TMessageRecord& Record) override;
  void Open(const std::string& FileName) override;
  void Load() override;
  void SetFileName(const std::string& FileName) override;

  TMBX_FileHeader Header;
  std::vector<TMBX_MessageInfo> MessageInfos;

private:
  std::string ReadHeaderText(std::size_t Index);
  void TextPastBlock(const TMBX_MessageInfo& info, const std::function<void(std::string_view)>& take);
  void LoadFromIndex(const std::string& indexPath);
  void LoadFromHeaders();

  std::uint64_t WalkFileSize = 0; // the .mbx size when the walk began
  bool WalkDone = false; // the walk over message headers ran to its end, early or not
};

} // namespace postvue
