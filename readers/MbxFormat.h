// The layout of an Outlook Express 4 folder file (.mbx) and its companion
// index (.idx): every offset and constant of the two formats, and pure
// decoders over the bytes of one structure. The reader and recovery both
// read the files through these.
#pragma once

#include "ByteCursor.h"
#include "MessageRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace postvue::mbx {

// Why a structure is not sound; None (zero) when it is.
enum class TFault {
  None,
  Short,     // fewer bytes than the structure needs
  WrongMagic // a file header with another magic
};

template <typename T> using TDecoded = TDecodedOf<T, TFault>;

// Every offset in the files is 32-bit.
constexpr std::uint64_t kOffsetLimit = 0x100000000;

// Both files begin with a header that holds a magic and a count.
struct TFileHeader {
  std::uint32_t Magic;
  std::int32_t Count; // signed 32-bit: of messages in the .mbx, of records in the .idx
};
constexpr std::size_t kMagicAt = 0, kCountAt = 8;

// .mbx file header, at offset 0; the message headers follow it.
constexpr std::uint32_t kMagic = 0x36464D4A; // "JMF6"
constexpr std::size_t kFileHeaderSize = 84;
constexpr std::uint64_t kFirstMessageHeader = kFileHeaderSize;
TDecoded<TFileHeader> DecodeFileHeader(TBytes header);

// .mbx message header; the message's text follows it, and the next header
// lies BlockLength bytes after its start.
constexpr std::size_t kMessageHeaderSize = 16;
constexpr std::uint32_t kMessageTag = 0x7F007F00; // what the mail program puts in Tag

struct TMessageHeader {
  std::uint32_t Tag, Number, BlockLength, DataLength;
};
constexpr std::size_t kTagAt = 0, kNumberAt = 4, kBlockLengthAt = 8, kDataLengthAt = 12;
static_assert(kDataLengthAt + 4 == kMessageHeaderSize);
TDecoded<TMessageHeader> DecodeMessageHeader(TBytes header);

// .idx file header, at offset 0; the first record follows it.
constexpr std::uint32_t kIndexMagic = 0x39464D4A; // "JMF9"
constexpr std::size_t kIndexHeaderSize = 80;
constexpr std::uint64_t kFirstIndexRecord = kIndexHeaderSize;
TDecoded<TFileHeader> DecodeIndexHeader(TBytes header);

// .idx record: a fixed part, then kIndexStrings length-prefixed strings.
// The next record lies at NextBase + NextSpan, not behind the strings.
constexpr std::size_t kIndexRecordSize = 212;

struct TIndexRecord {
  std::uint32_t MessageFlags, MessageNumber, NextBase, NextSpan, MessagePos, MessageSize;
  std::uint64_t ReceivedTime; // a FILETIME
  std::uint16_t MessagePriority;
  std::uint32_t NextRecord() const { return NextBase + NextSpan; } // 32-bit, as offsets are
};
// Where each field lies in the fixed part; the bytes between are not read.
constexpr std::size_t kFlagsAt = 0, kMessageNumberAt = 8, kNextBaseAt = 12, kNextSpanAt = 16, kMessagePosAt = 20,
                      kMessageSizeAt = 24;
constexpr std::size_t kReceivedTimeAt = 194; // unaligned, low half first
constexpr std::size_t kPriorityAt = 210;     // the last field: the fixed part ends behind it
static_assert(kPriorityAt + sizeof(TIndexRecord::MessagePriority) == kIndexRecordSize);
TDecoded<TIndexRecord> DecodeIndexRecord(TBytes record);

// Each string is a signed 32-bit length, then that many bytes; its value is
// those bytes up to the first zero among them.
constexpr std::size_t kStringLengthSize = 4;
constexpr int kIndexStrings = 7;
// Where the strings go, in file order; the fifth and sixth are not kept.
constexpr std::array<TShortString TMessageRecord::*, kIndexStrings> kIndexStringFields = {
    &TMessageRecord::Subject, &TMessageRecord::Text14, &TMessageRecord::SenderAddress,
    &TMessageRecord::Text0C,  nullptr,                 nullptr,
    &TMessageRecord::Text1A};
constexpr std::size_t kSubjectString = 0;
static_assert(kIndexStringFields[kSubjectString] == &TMessageRecord::Subject);

// A string's length (negative in a damaged index).
TDecoded<std::int32_t> DecodeStringLength(TBytes length);
// A string's value from the bytes it holds.
std::string_view DecodeStringValue(std::string_view bytes);

} // namespace postvue::mbx
