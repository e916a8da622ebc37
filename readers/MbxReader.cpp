#include "MbxReader.h"

#include "Exceptions.h"
#include "MessageHeaders.h"
#include "FilePaths.h"
#include "TextLines.h"

#include <algorithm>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace postvue {

namespace {
using namespace mbx;

constexpr std::size_t kHeaderChunk = 1024;
constexpr std::size_t kOverrunChunk = 4096;

const char* const kNotADatabase = "File is not an Outlook Express 4 Message Database.";
const char* const kNoMessage = "File does not contain any message.";
const char* const kNoText = "No text found.";
const char* const kMessagesOverlap = "Messages overlap in the file.";

// Reads size bytes at the stream's position and decodes them; a short read fails.
template <typename TDecode> auto ReadAndDecode(TFileStream& stream, std::span<std::uint8_t> bytes, TDecode decode) {
  stream.Read(bytes.data(), bytes.size());
  return decode(std::span<const std::uint8_t>(bytes)).Value;
}

// One length-prefixed string of the .idx at its current position, skipped whole.
// Its value is its bytes up to the first zero, of which a record keeps at most
// the first 255, so only those are read: nothing is allocated for a damaged
// length, and a length the rest of the file cannot back, or a negative one,
// fails like a short read.
std::string_view ReadIndexString(TFileStream& index, std::uint64_t indexSize, std::span<char, 255> buffer) {
  std::uint8_t lengthBytes[kStringLengthSize];
  const std::int32_t length = ReadAndDecode(index, lengthBytes, DecodeStringLength);
  if (length < 0 || !WithinSize(index.Position, static_cast<std::uint64_t>(length), indexSize))
    throw EReadError();
  const std::size_t kept = std::min(static_cast<std::size_t>(length), buffer.size());
  index.ReadAt(index.Position, buffer.data(), kept);
  index.Seek(index.Position + static_cast<std::uint64_t>(length));
  return DecodeStringValue(std::string_view(buffer.data(), kept));
}

// The room for text in a message's block; a message the walk cannot step
// over (BlockLength below 16) is the last one, and its text has the rest.
std::uint64_t BlockRoom(const TMBX_MessageInfo& info) {
  return info.BlockLength >= kMessageHeaderSize ? info.BlockLength - kMessageHeaderSize : UINT64_MAX;
}

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
  return EqualsNoCase(line.substr(0, prefix.size()), prefix);
}
} // namespace

std::uint32_t TMBX_FileHeader::Magic() const { return DecodeFileHeader(Bytes).Value.Magic; }
std::int32_t TMBX_FileHeader::MessageCount() const { return DecodeFileHeader(Bytes).Value.Count; }

std::string TMBXReader::GetFolderName() { return ExtractFileTitle(FileName); }

std::string TMBXReader::GetMessageHeader(std::int32_t Index) {
  if (Index < 0 || static_cast<std::size_t>(Index) >= MessageInfos.size()) return {};
  return MessageInfos[static_cast<std::size_t>(Index)].HeaderText;
}

std::int32_t TMBXReader::GetCount() {
  // A walk that ended early answers with what it found, so a damaged count
  // never turns into millions of empty rows.
  if (WalkDone && Header.MessageCount() > 0) return static_cast<std::int32_t>(MessageInfos.size());
  return Header.MessageCount();
}

void TMBXReader::GetMessage(std::int32_t Index, TMessageRecord& Record) { CopyMessage(Index, Record); }

void TMBXReader::SetFileName(const std::string& fileName) { Open(fileName); }

// A damaged DataLength can make a text run on past its block into the
// messages behind it, where the first zero byte ends it (the next header's
// tag begins with one). Hands take the bytes of that part up to the zero, a
// chunk at a time; nothing when the text stays in its block or the file
// cannot hold all of it (reading it then fails anyway). Open spends these
// bytes from one allowance of the file's size, so that reading every text
// costs at most twice the file however the texts overlap.
void TMBXReader::TextPastBlock(const TMBX_MessageInfo& info, const std::function<void(std::string_view)>& take) {
  const std::uint64_t room = BlockRoom(info);
  if (info.DataLength <= room) return;
  const std::uint64_t fileSize = Stream->Size();
  if (!WithinSize(info.DataPos, info.DataLength, fileSize)) return;
  char chunk[kOverrunChunk];
  for (std::uint64_t at = info.DataPos + room, end = info.DataPos + info.DataLength; at < end;) {
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, end - at));
    Stream->ReadAt(at, chunk, length);
    const std::string_view piece = UpToZero(std::string_view(chunk, length));
    take(piece);
    if (piece.size() < length) return;
    at += length;
  }
}

void TMBXReader::Open(const std::string& fileName) {
  // Forget the previous file before the base Open can fail: its entries must
  // not outlive its stream, nor its count answer for the new file.
  WalkDone = false;
  MessageInfos.clear();
  Messages.clear();
  Header = {};
  TMailbaseReader::Open(fileName);
  Active = false;
  Stream->DropCache();

  // Read whole or not at all: a short file must not leave part of it in Header.
  TMBX_FileHeader header;
  Stream->ReadAt(0, header.Bytes.data(), header.Bytes.size());
  Header = header;
  if (!DecodeFileHeader(Header.Bytes).Sound()) throw EMBXReaderException(kNotADatabase);
  Active = true;
  const std::int32_t count = Header.MessageCount();
  if (count == 0) throw EMBXReaderException(kNoMessage);

  WalkFileSize = Stream->Size();
  // Every message's header and its lines, skipping the texts between them.
  const TAccessScope walk(*Stream, TAccess::FrontToBack);
  // What texts that run on past their block may read of the messages behind
  // them, all together (see TextPastBlock).
  std::uint64_t overrunLeft = WalkFileSize;
  std::uint64_t pos = kFirstMessageHeader + kMessageHeaderSize;
  // As many entries as the file can hold headers, whatever count claims.
  MessageInfos.reserve(static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(count, 0)), WalkFileSize / kMessageHeaderSize)));
  for (std::int32_t k = 0; k < count; ++k) {
    std::uint8_t bytes[kMessageHeaderSize];
    try {
      Stream->ReadAt(pos - kMessageHeaderSize, bytes, sizeof bytes);
    } catch (const Exception&) {
      break; // the end of the readable messages: keep what was found
    }
    const TMessageHeader header = DecodeMessageHeader(bytes).Value;
    TMBX_MessageInfo& info = MessageInfos.emplace_back();
    info.Tag = header.Tag;
    info.Number = header.Number;
    info.BlockLength = header.BlockLength;
    info.DataLength = header.DataLength;
    info.DataPos = static_cast<std::uint32_t>(pos);
    info.HeaderText = ReadHeaderText(MessageInfos.size() - 1);
    TextPastBlock(info, [&](std::string_view piece) {
      if (piece.size() > overrunLeft) throw EMBXReaderException(kMessagesOverlap);
      overrunLeft -= piece.size();
    });
    // The next header follows BlockLength bytes after this one, whatever
    // DataLength says. One that would start inside this header (a zero step
    // included) would be met again and again, up to one entry per byte of
    // the file. Offsets are 32-bit.
    if (info.BlockLength < kMessageHeaderSize || pos + info.BlockLength > UINT32_MAX) break;
    pos += info.BlockLength;
  }
  WalkDone = true;
}

std::string TMBXReader::ReadHeaderText(std::size_t Index) {
  const TMBX_MessageInfo& info = MessageInfos[Index];
  if (info.DataLength == 0) throw EMBXReaderException(kNoText);
  if (info.DataPos == 0) return {};

  // Chunks never reach past the message's text or its block (they would pick
  // up the next message's header lines, and read its bytes twice) nor past
  // the end of the file.
  const std::uint64_t fileSize = WalkFileSize;
  const std::uint64_t end = std::min<std::uint64_t>(
      {info.DataLength, BlockRoom(info), info.DataPos < fileSize ? fileSize - info.DataPos : 0});
  std::string text;
  char chunk[kHeaderChunk];
  for (std::uint64_t done = 0; done < end;) {
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kHeaderChunk, end - done));
    Stream->ReadAt(info.DataPos + done, chunk, length);
    if (text.empty()) {
      // The first chunk mostly holds the whole header: then the text is made once, at its size.
      const std::string_view piece = UpToZero(std::string_view(chunk, length));
      const std::size_t end = HeaderEnd(piece, THeaderBreaks::CrLf);
      if (end != std::string::npos) return std::string(piece.substr(0, end - 1));
    }
    // Only the new bytes (and the three before them) can complete a blank line.
    const std::size_t searchFrom = text.size() >= 3 ? text.size() - 3 : 0;
    text.append(UpToZero(std::string_view(chunk, length)));
    done += length;
    const std::size_t end = HeaderEnd(std::string_view(text).substr(searchFrom), THeaderBreaks::CrLf);
    if (end != std::string::npos) {
      text.resize(searchFrom + end - 1); // the header lines and the CR of the break that ends the last of them
      text.shrink_to_fit();
      return text;
    }
  }
  return {};
}

std::string TMBXReader::GetMessageText(std::int32_t Index) {
  if (Index < 0 || static_cast<std::size_t>(Index) >= MessageInfos.size()) throw EMBXReaderException(kNoText);
  const TMBX_MessageInfo& info = MessageInfos[static_cast<std::size_t>(Index)];
  if (info.DataLength == 0) throw EMBXReaderException(kNoText);
  if (info.DataPos == 0) return {};
  Stream->DropCache();
  const std::uint64_t fileSize = Stream->Size();
  if (!WithinSize(info.DataPos, info.DataLength, fileSize)) throw EReadError();
  // The text in its block in one read; a part beyond it is read only up to
  // where a zero byte ends it.
  std::string text = Stream->ReadStringAt(info.DataPos, std::min<std::uint64_t>(info.DataLength, BlockRoom(info)));
  const std::size_t kept = UpToZero(text).size();
  if (kept < text.size()) {
    text.resize(kept);
    return text;
  }
  TextPastBlock(info, [&](std::string_view piece) { text.append(piece); });
  return text;
}

void TMBXReader::Load() {
  if (!Active) return;
  if (Header.MessageCount() < 0) throw ERangeError(); // the table cannot take a negative size
  const TPrefault prefault = ReserveMessages(MessageInfos.size());
  // Only a regular file is an index: a pipe or a folder of that name is none.
  const std::string indexPath = Files->Find(ChangeFileExt(FileName, ".idx"));
  // The records are appended as they are filled, each written once (zeroing
  // the whole array first cost a pass over it); those neither fills stay all zero.
  try {
    if (!indexPath.empty())
      LoadFromIndex(indexPath);
    else
      LoadFromHeaders();
  } catch (...) {
    Messages.resize(MessageInfos.size());
    throw;
  }
  Messages.resize(MessageInfos.size());
}

void TMBXReader::LoadFromIndex(const std::string& indexPath) {
  try {
    const std::unique_ptr<TFileStream> stream = Files->Open(indexPath, TShareMode::DenyWrite);
    TFileStream& index = *stream;
    // Taken once: writers are kept out where the platform can, and a file that
    // shrinks anyway fails its next read.
    const std::uint64_t indexSize = index.Size();
    std::uint8_t header[kIndexHeaderSize];
    index.Read(header, sizeof header);
    const TDecoded<TFileHeader> indexHeader = DecodeIndexHeader(header);
    if (!indexHeader.Sound()) return;
    const std::int32_t recordCount = indexHeader.Value.Count;
    // Records beyond the message table describe no message the walk found.
    const std::size_t filled = std::min<std::size_t>(recordCount > 0 ? recordCount : 0, MessageInfos.size());
    for (std::size_t q = 0; q < filled; ++q) {
      std::uint8_t bytes[kIndexRecordSize];
      const TIndexRecord fixed = ReadAndDecode(index, bytes, DecodeIndexRecord);
      TMessageRecord& record = Messages.emplace_back(); // filled in place: a failure keeps what was stored
      record.Flags = fixed.MessageFlags;
      record.TextOffset = fixed.MessagePos;
      record.Received = FileTimeToDateTimeSafe(fixed.ReceivedTime);
      record.Priority = fixed.MessagePriority;
      record.Text07.Assign(std::to_string(fixed.MessageNumber));
      record.Size = fixed.MessageSize;

      char buffer[sizeof(TShortString::Data)];
      for (TShortString TMessageRecord::*field : kIndexStringFields) {
        const std::string_view text = ReadIndexString(index, indexSize, buffer);
        if (field) (record.*field).Assign(text);
      }
      index.Seek(fixed.NextRecord());
    }
  } catch (const Exception&) {
    // The index is optional: a missing, locked or damaged one leaves the rest of the rows empty.
  }
}

void TMBXReader::LoadFromHeaders() {
  for (std::size_t q = 0; q < MessageInfos.size(); ++q) {
    const TMBX_MessageInfo& info = MessageInfos[q];
    TMessageRecord& record = Messages.emplace_back();
    ForEachLine(info.HeaderText, [&](std::string_view line) {
      if (StartsWithNoCase(line, "FROM:"))
        record.SenderName.Assign(line.substr(5));
      else if (StartsWithNoCase(line, "SUBJECT:"))
        record.Subject.Assign(line.substr(8));
      else if (StartsWithNoCase(line, "DATE:"))
        record.DateText.Assign(line.substr(5));
    });
    record.MsgIndex = static_cast<std::uint32_t>(q);
    record.Flags = kFlagRead;
    record.TextOffset = info.DataPos;
    record.Text07.Assign(std::to_string(info.Number));
    record.Size = info.DataLength;
    record.Received = 0.0;
  }
}

} // namespace postvue
