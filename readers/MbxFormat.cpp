#include "MbxFormat.h"

#include "ByteCursor.h"
#include "TextLines.h"

namespace postvue::mbx {

namespace {
std::uint32_t U32At(TByteCursor& cursor, std::size_t at) {
  cursor.Seek(at);
  return cursor.U32();
}

template <typename T> TDecoded<T> Checked(const T& value, const TByteCursor& cursor, TBytes bytes, std::size_t size) {
  return {value, bytes.size() < size || !cursor.Ok() ? TFault::Short : TFault::None};
}

// The shape both files begin with: a header of size bytes that holds its
// magic, then its count. WrongMagic when the magic is another.
TDecoded<TFileHeader> DecodeCountingHeader(TBytes header, std::size_t size, std::uint32_t magic) {
  TByteCursor cursor(header);
  TFileHeader h;
  h.Magic = U32At(cursor, kMagicAt);
  h.Count = static_cast<std::int32_t>(U32At(cursor, kCountAt));
  TDecoded<TFileHeader> result = Checked(h, cursor, header, size);
  if (result.Sound() && h.Magic != magic) result.Fault = TFault::WrongMagic;
  return result;
}
} // namespace

TDecoded<TFileHeader> DecodeFileHeader(TBytes header) { return DecodeCountingHeader(header, kFileHeaderSize, kMagic); }

TDecoded<TMessageHeader> DecodeMessageHeader(TBytes header) {
  TByteCursor cursor(header);
  TMessageHeader h;
  h.Tag = U32At(cursor, kTagAt);
  h.Number = U32At(cursor, kNumberAt);
  h.BlockLength = U32At(cursor, kBlockLengthAt);
  h.DataLength = U32At(cursor, kDataLengthAt);
  return Checked(h, cursor, header, kMessageHeaderSize);
}

TDecoded<TFileHeader> DecodeIndexHeader(TBytes header) {
  return DecodeCountingHeader(header, kIndexHeaderSize, kIndexMagic);
}

TDecoded<TIndexRecord> DecodeIndexRecord(TBytes record) {
  TByteCursor cursor(record);
  TIndexRecord r;
  r.MessageFlags = U32At(cursor, kFlagsAt);
  r.MessageNumber = U32At(cursor, kMessageNumberAt);
  r.NextBase = U32At(cursor, kNextBaseAt);
  r.NextSpan = U32At(cursor, kNextSpanAt);
  r.MessagePos = U32At(cursor, kMessagePosAt);
  r.MessageSize = U32At(cursor, kMessageSizeAt);
  cursor.Seek(kReceivedTimeAt);
  r.ReceivedTime = cursor.U64();
  cursor.Seek(kPriorityAt);
  r.MessagePriority = cursor.U16();
  return Checked(r, cursor, record, kIndexRecordSize);
}

TDecoded<std::int32_t> DecodeStringLength(TBytes length) {
  TByteCursor cursor(length);
  const auto value = static_cast<std::int32_t>(cursor.U32());
  return Checked(value, cursor, length, kStringLengthSize);
}

std::string_view DecodeStringValue(std::string_view bytes) { return UpToZero(bytes); }

} // namespace postvue::mbx
