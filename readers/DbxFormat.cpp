#include "DbxFormat.h"

#include "ByteCursor.h"
#include "DateTime.h"
#include "TextLines.h"

#include <algorithm>

namespace postvue::dbx {

namespace {
constexpr std::size_t kBlockMarkerAt = 0x00, kBlockDataLengthAt = 0x08, kBlockNextAt = 0x0C;
constexpr std::size_t kObjectMarkerAt = 0x00, kObjectBodyLengthAt = 0x04, kObjectEntryCountAt = 0x0A;

std::uint32_t U32At(TByteCursor& cursor, std::size_t at) {
  cursor.Seek(at);
  return cursor.U32();
}

// Short when the bytes end before the structure of size bytes does, else
// WrongMarker when an object's Marker is not its own offset at.
TFault ObjectFault(TBytes bytes, std::size_t size, const TByteCursor& cursor, std::uint32_t marker,
                   std::uint32_t at) {
  if (bytes.size() < size || !cursor.Ok()) return TFault::Short;
  return marker != at ? TFault::WrongMarker : TFault::None;
}
} // namespace

TDecoded<TFileHeader> DecodeFileHeader(TBytes header, std::uint32_t kind) {
  TDecoded<TFileHeader> result;
  TByteCursor cursor(header);
  TFileHeader& h = result.Value;
  h.Magic = U32At(cursor, kMagicAt);
  h.DatabaseKind = U32At(cursor, kDatabaseKindAt);
  h.MessageCount = U32At(cursor, kMessageCountAt);
  h.IndexRoot = U32At(cursor, kIndexRootAt);
  if (header.size() < kHeaderSize || !cursor.Ok())
    result.Fault = TFault::Short;
  else if (h.Magic != kMagic || h.DatabaseKind != kind)
    result.Fault = TFault::WrongKind;
  return result;
}

std::string_view DecodeFolderName(TBytes folderInfo) {
  TByteCursor cursor(folderInfo, kFolderNameAt);
  return cursor.ZString(false);
}

TIndexEntry TIndexNode::Entry(unsigned i) const {
  TByteCursor cursor(Bytes, kNodeEntriesAt + kEntrySize * i);
  TIndexEntry entry;
  entry.Value = cursor.U32();
  entry.Child = cursor.U32();
  entry.ChildValueCount = cursor.U32();
  return entry;
}

TDecoded<TIndexNode> DecodeIndexNode(TBytes node, std::uint32_t at, std::uint32_t parent) {
  TDecoded<TIndexNode> result;
  TIndexNode& n = result.Value;
  n.Bytes = node;
  TByteCursor cursor(node);
  n.Marker = U32At(cursor, kNodeMarkerAt);
  n.LeftChild = U32At(cursor, kNodeLeftChildAt);
  n.Parent = U32At(cursor, kNodeParentAt);
  cursor.Seek(kNodeEntryCountAt);
  n.EntryCount = cursor.U8();
  n.LeftValueCount = U32At(cursor, kNodeLeftValueCountAt);
  result.Fault = ObjectFault(node, kNodeSize, cursor, n.Marker, at);
  if (result.Sound() && n.Parent != parent) result.Fault = TFault::WrongParent;
  if (result.Sound() && n.EntryCount > kMaxNodeEntries) result.Fault = TFault::TooManyEntries;
  return result;
}

TDecoded<TObjectHeader> DecodeObjectHeader(TBytes header, std::uint32_t at) {
  TDecoded<TObjectHeader> result;
  TObjectHeader& h = result.Value;
  TByteCursor cursor(header);
  h.Marker = U32At(cursor, kObjectMarkerAt);
  cursor.Seek(kObjectBodyLengthAt);
  h.BodyLength = cursor.U16(); // the two bytes after it are not part of the length
  cursor.Seek(kObjectEntryCountAt);
  h.EntryCount = cursor.U8();
  result.Fault = ObjectFault(header, kObjectHeaderSize, cursor, h.Marker, at);
  return result;
}

bool TProperties::Entry(unsigned i, std::uint8_t& id, std::uint32_t& value) const {
  TByteCursor entry(Body, kPropertyEntrySize * std::size_t{i});
  id = entry.U8();
  value = entry.U24();
  return i < EntryCount && entry.Ok();
}

bool TProperties::U32(std::uint32_t value, std::uint32_t& out) const {
  TByteCursor data(Body, DataAt(value));
  const std::uint32_t read = data.U32();
  if (data.Ok()) out = read;
  return data.Ok();
}

bool TProperties::U64(std::uint32_t value, std::uint64_t& out) const {
  TByteCursor data(Body, DataAt(value));
  const std::uint64_t read = data.U64();
  if (data.Ok()) out = read;
  return data.Ok();
}

bool TProperties::String(std::uint32_t value, std::size_t maxLength, std::string_view& out) {
  if (!LastZeroKnown) {
    LastZeroKnown = true;
    for (std::size_t i = Body.size(); i-- > 0;)
      if (Body[i] == 0) {
        LastZero = i;
        LastZeroFound = true;
        break;
      }
  }
  const std::size_t p = DataAt(value);
  if (p >= Body.size() || !LastZeroFound || p > LastZero) return false; // runs to the end of the body
  TByteCursor text(Body.subspan(p, std::min(Body.size() - p, maxLength + 1)));
  out = text.ZString(false);
  if (out.size() > maxLength) out = out.substr(0, maxLength);
  return true;
}

unsigned DecodeMessageInfo(TProperties properties, TMessageRecord& record) {
  unsigned skipped = 0;
  for (unsigned i = 0; i < properties.Count(); ++i) {
    // An entry whose data would leave the body is skipped, and decoding
    // goes on with the next.
    std::uint8_t id = 0;
    std::uint32_t v = 0;
    if (!properties.Entry(i, id, v)) {
      ++skipped;
      continue;
    }
    bool decoded = true;
    auto setText = [&](TShortString& field) {
      std::string_view text;
      decoded = properties.String(v, sizeof(TShortString::Data), text);
      if (decoded) field.Assign(text);
    };
    switch (id) {
    case kPropertyFlags: decoded = properties.U32(v, record.Flags); break;
    case kPropertyTextOffset: decoded = properties.U32(v, record.TextOffset); break;
    case kPropertyText07: setText(record.Text07); break;
    case kPropertySubject: setText(record.Subject); break;
    case kPropertyText0C: setText(record.Text0C); break;
    case kPropertySenderName: setText(record.SenderName); break;
    case kPropertySenderAddress: setText(record.SenderAddress); break;
    case kPropertyPriority: {
      std::uint32_t value = 0;
      decoded = properties.U32(v, value);
      if (decoded) record.Priority = static_cast<std::int32_t>(value);
      break;
    }
    case kPropertyReceived: {
      std::uint64_t fileTime = 0;
      decoded = properties.U64(v, fileTime);
      if (decoded) record.Received = FileTimeToDateTimeSafe(fileTime);
      break;
    }
    case kPropertyText13: setText(record.Text13); break;
    case kPropertyText14: setText(record.Text14); break;
    case kPropertyText1A: setText(record.Text1A); break;
    case kDirect | kPropertyMsgIndex: record.MsgIndex = v; break;
    case kDirect | kPropertyFlags: record.Flags = v; break;
    case kDirect | kPropertyTextOffset: record.TextOffset = v; break;
    case kDirect | kPropertyPriority: record.Priority = static_cast<std::int32_t>(v); break;
    default: break; // properties the list does not show
    }
    if (!decoded) ++skipped;
  }
  return skipped;
}

TDecoded<TBlockHeader> DecodeBlockHeader(TBytes header, std::uint32_t at) {
  TDecoded<TBlockHeader> result;
  TBlockHeader& h = result.Value;
  TByteCursor cursor(header);
  h.Marker = U32At(cursor, kBlockMarkerAt);
  h.Capacity = U32At(cursor, kBlockCapacityAt);
  h.DataLength = U32At(cursor, kBlockDataLengthAt);
  h.NextBlock = U32At(cursor, kBlockNextAt);
  result.Fault = ObjectFault(header, kBlockHeaderSize, cursor, h.Marker, at);
  return result;
}

std::string_view BlockShare(std::string_view text) { return UpToZero(text); }

bool TBlockChain::Step(const TBlockHeader& block) {
  Block = block.NextBlock;
  if (Block != 0 && Block == Saved) return false;
  if (++Steps == Limit) {
    Saved = Block;
    Limit *= 2;
    Steps = 0;
  }
  return true;
}

} // namespace postvue::dbx
