// One message's listed properties: a flat value with no heap-owned parts, so a
// copy is one block copy and the reader's array of records is one block.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace postvue {

// A length byte and room for 255 single-byte characters: the store's bytes as
// they are, no terminator, no character-set conversion. Longer texts are cut.
struct TShortString {
  std::uint8_t Length;
  char Data[255];

  void Assign(std::string_view text) {
    Length = static_cast<std::uint8_t>(text.size() > sizeof Data ? sizeof Data : text.size());
    if (Length) std::memcpy(Data, text.data(), Length); // an empty view may have no data pointer
  }
  std::string_view View() const { return {Data, Length}; }
  std::string Str() const { return std::string(View()); }
  bool Empty() const { return Length == 0; }
};

struct TMessageRecord {
  std::uint32_t MsgIndex;
  std::uint32_t Flags;
  std::uint32_t TextOffset;
  TShortString Text07;
  TShortString Subject;
  TShortString Text0C;
  TShortString SenderName;
  TShortString SenderAddress;
  double Received; // days since 30 December 1899, UTC as stored; 0.0 when not given
  TShortString DateText;
  TShortString Text13;
  TShortString Text14;
  TShortString Text1A;
  std::uint32_t Size;
  std::int32_t Priority;
};

static_assert(std::is_trivially_copyable_v<TMessageRecord> && std::is_standard_layout_v<TMessageRecord>);

// Every record a reader hands out starts all zero, padding included.
inline void ClearRecord(TMessageRecord& record) { std::memset(&record, 0, sizeof record); }

// Flag bits the viewers and postvue-cli read.
constexpr std::uint32_t kFlagRead = 0x80;
constexpr std::uint32_t kFlagMarked = 0x20;
constexpr std::uint32_t kFlagAttachment = 0x4000;

// The marks of a message as the viewers' rows and postvue-cli's listing show them.
inline std::string_view AttachmentText(const TMessageRecord& record) {
  return (record.Flags & kFlagAttachment) ? "Yes" : "";
}
inline std::string_view PriorityText(std::int32_t priority) {
  switch (priority) {
  case 1:
    return "High";
  case 5:
    return "Low";
  default:
    return {};
  }
}
inline std::string_view FlagText(const TMessageRecord& record) { return (record.Flags & kFlagMarked) ? "Yes" : ""; }
// The sender's stored bytes: the name, or the address when the name is empty.
inline std::string_view SenderBytes(const TMessageRecord& record) {
  return record.SenderName.Empty() ? record.SenderAddress.View() : record.SenderName.View();
}

} // namespace postvue
