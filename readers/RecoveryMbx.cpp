// The search of a .mbx: the chain of message headers from the front, with
// the dates and subjects of its .idx, then message headers found by their
// structure in the bytes no listed message occupies.
#include "RecoveryScan.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "MbxFormat.h"
#include "MessageHeaders.h"
#include "TextLines.h"

namespace postvue::recovery {

namespace {
struct TMbxFound {
  std::uint64_t Header;
  std::uint32_t DataLength;
};

class TMbxRun : public TRun {
public:
  using TRun::TRun;
  const TFileSource* Files = nullptr;
  std::string IndexPath; // empty when the store has no .idx

  void Execute() override {
    ReadIndexFile();
    std::vector<TMbxFound> listed;
    Summary.IndexRead = Walk(listed);
    for (std::size_t q = 0; q < listed.size(); ++q) {
      TRecoveredMessage message;
      message.Kind = TRecoveredKind::Listed;
      message.Number = static_cast<std::uint32_t>(q);
      message.NumberLimit = static_cast<std::uint32_t>(listed.size());
      if (q < Records.size()) {
        message.Received = Records[q].first;
        message.Subject = Records[q].second;
      }
      GiveMessage(listed[q], message);
    }

    std::vector<TMbxFound> found;
    for (const auto& gap : Covered.Gaps(mbx::kFirstMessageHeader, Size)) ScanGap(gap.first, gap.second, found);
    for (const TMbxFound& f : found) {
      TRecoveredMessage message;
      message.Kind = Summary.IndexRead ? TRecoveredKind::Removed : TRecoveredKind::Unclassified;
      message.NumberLimit = static_cast<std::uint32_t>(found.size());
      GiveMessage(f, message);
    }
  }

private:
  // The received time and subject of each record of the .idx beside the
  // store, read as far as it is sound. Record q belongs to message q of the walk.
  void ReadIndexFile() {
    if (IndexPath.empty()) return;
    try {
      const std::unique_ptr<TFileStream> stream = Files->Open(IndexPath, TShareMode::DenyWrite);
      TFileStream& index = *stream;
      const std::uint64_t size = index.Size();
      std::uint8_t header[mbx::kIndexHeaderSize];
      index.ReadAt(0, header, sizeof header);
      const mbx::TDecoded<mbx::TFileHeader> indexHeader = mbx::DecodeIndexHeader(header);
      if (!indexHeader.Sound()) return;
      const std::int32_t count = indexHeader.Value.Count;
      std::uint64_t at = mbx::kFirstIndexRecord;
      for (std::int32_t q = 0; q < count && Records.size() < size / mbx::kIndexRecordSize; ++q) {
        std::uint8_t bytes[mbx::kIndexRecordSize];
        index.ReadAt(at, bytes, sizeof bytes);
        const mbx::TIndexRecord record = mbx::DecodeIndexRecord(bytes).Value;
        // The subject is the first of the strings behind the record.
        static_assert(mbx::kSubjectString == 0);
        std::uint8_t lengthBytes[mbx::kStringLengthSize];
        index.ReadAt(at + mbx::kIndexRecordSize, lengthBytes, sizeof lengthBytes);
        const std::int32_t subjectLength = mbx::DecodeStringLength(lengthBytes).Value;
        if (subjectLength < 0) break;
        const std::string subject = index.ReadStringAt(
            at + mbx::kIndexRecordSize + mbx::kStringLengthSize,
            std::min<std::uint64_t>(static_cast<std::uint64_t>(subjectLength), sizeof(TShortString::Data)));
        Records.emplace_back(FileTimeToDateTimeSafe(record.ReceivedTime), std::string(mbx::DecodeStringValue(subject)));
        at = record.NextRecord();
      }
    } catch (const Exception&) {
      // The index only adds dates and subjects: what was read stays.
    }
  }

  // The chain of message headers from the first one, as the reader walks
  // it but without trusting the count: on until a header is not sound.
  // False when not even the first one is, so nothing can be called listed.
  bool Walk(std::vector<TMbxFound>& listed) {
    std::uint64_t at = mbx::kFirstMessageHeader;
    while (at + mbx::kMessageHeaderSize <= Size && at < mbx::kOffsetLimit) {
      std::uint8_t bytes[mbx::kMessageHeaderSize];
      if (!ReadExactly(at, bytes, sizeof bytes)) break;
      const mbx::TMessageHeader header = mbx::DecodeMessageHeader(bytes).Value;
      const std::uint32_t tag = header.Tag, blockLength = header.BlockLength, dataLength = header.DataLength;
      if (std::all_of(std::begin(bytes), std::end(bytes), [](std::uint8_t b) { return b == 0; }))
        return true; // free space: the messages end here
      // Without the tag the text must look like a message; a text that the
      // file cuts short needs both, or four stray bytes could claim the rest
      // of the file.
      const char* damage = nullptr;
      const std::uint64_t textAt = at + mbx::kMessageHeaderSize;
      const bool tagged = tag == mbx::kMessageTag, fits = textAt + dataLength <= Size;
      if (dataLength == 0)
        damage = "message header without text";
      else if ((!tagged || !fits) &&
               !LooksLikeMessage(ReadUpTo(textAt, std::min<std::uint64_t>(dataLength, kLookBytes))))
        damage = "message header whose text does not look like a message";
      else if (!tagged && !fits)
        damage = "message header reaching past the end of the file";
      if (damage) {
        Problem(at, std::string(damage) + ": the messages after it are searched for in the file");
        return !listed.empty();
      }
      // As the reader does, the next header is BlockLength bytes on, also
      // when the text runs past it (a damaged DataLength); the text then
      // reads on into the messages behind, which costs more than their own
      // bytes, so those reaches together may not pass the file's size.
      const std::uint64_t textEnd = std::min(Size, textAt + dataLength);
      const std::uint64_t blockEnd =
          blockLength >= mbx::kMessageHeaderSize ? std::min(textEnd, at + blockLength) : textEnd;
      if (textEnd - blockEnd > ReachLeft) {
        Problem(at, "message texts overlap: the messages from here on are searched for in the file");
        return true;
      }
      ReachLeft -= textEnd - blockEnd;
      listed.push_back({at, dataLength});
      Covered.Add(at, blockEnd);
      Advance(blockEnd - at);
      if (blockLength < mbx::kMessageHeaderSize) {
        if (textEnd < Size)
          Problem(at, "message header whose BlockLength is below 16: the messages after it are searched for in "
                      "the file");
        return true;
      }
      at += blockLength;
    }
    return true;
  }

  // Message headers by their structure in bytes no listed message occupies:
  // a text of DataLength > 0 bytes that fits before the next listed message
  // (or is cut by the end of the file), a BlockLength that passes it, and a
  // text that begins as a message does. The search goes on behind its text.
  void ScanGap(std::uint64_t from, std::uint64_t to, std::vector<TMbxFound>& found) {
    std::uint64_t chunkStart = 0, chunkEnd = 0, counted = from;
    for (std::uint64_t at = from; at + mbx::kMessageHeaderSize <= to;) {
      if (at + mbx::kMessageHeaderSize > chunkEnd) {
        Advance(at - counted);
        counted = at;
        chunkStart = at;
        chunkEnd = std::min(to, at + kScanChunk);
        Buffer.resize(static_cast<std::size_t>(chunkEnd - chunkStart));
        if (!ReadExactly(chunkStart, Buffer.data(), Buffer.size())) return;
      }
      const mbx::TMessageHeader header =
          mbx::DecodeMessageHeader(std::span<const std::uint8_t>(Buffer).subspan(at - chunkStart, mbx::kMessageHeaderSize))
              .Value;
      const std::uint32_t blockLength = header.BlockLength, dataLength = header.DataLength;
      const std::uint64_t textAt = at + mbx::kMessageHeaderSize, textEnd = textAt + dataLength;
      // A text cut by the end of the file needs the tag as well: without it
      // any four bytes before a header line would claim the rest of the file.
      const bool fits = textEnd <= to || (to == Size && header.Tag == mbx::kMessageTag);
      if (dataLength != 0 && blockLength >= mbx::kMessageHeaderSize + std::uint64_t{dataLength} && fits &&
          LooksLikeMessage(Peek(textAt, std::min<std::uint64_t>(dataLength, kLookBytes), chunkStart, chunkEnd))) {
        found.push_back({at, dataLength});
        at = std::min(textEnd, to);
        continue;
      }
      ++at;
    }
    Advance(to - counted);
  }

  // Bytes from the chunk in hand when they lie in it, else from the file.
  std::string Peek(std::uint64_t at, std::uint64_t count, std::uint64_t chunkStart, std::uint64_t chunkEnd) {
    if (at >= chunkStart && at + count <= chunkEnd)
      return std::string(reinterpret_cast<const char*>(Buffer.data()) + (at - chunkStart), static_cast<std::size_t>(count));
    return ReadUpTo(at, count);
  }

  void GiveMessage(const TMbxFound& f, TRecoveredMessage& message) {
    const std::uint64_t textAt = f.Header + mbx::kMessageHeaderSize;
    std::string text = ReadUpTo(textAt, f.DataLength);
    message.Incomplete = text.size() < f.DataLength;
    if (message.Incomplete) message.IncompleteReason = "the file ends inside its text";
    text.resize(UpToZero(text).size());
    message.Offset = f.Header;
    message.Text = std::move(text);
    if (message.Text.empty()) {
      Problem(f.Header, "message without text");
      return;
    }
    Give(message, {textAt, f.DataLength, true}, [this](const TTextRef& ref) {
      std::string again = ReadUpTo(ref.At, ref.Length);
      again.resize(UpToZero(again).size());
      return again;
    });
  }

  std::vector<std::pair<double, std::string>> Records;
  std::vector<std::uint8_t> Buffer;
  std::uint64_t ReachLeft = Size; // what listed texts may read past their blocks, together
};
} // namespace

std::unique_ptr<TRun> NewMbxRun(TFileStream& stream, TRecoverySink& sink, const TFileSource& files,
                                const std::string& indexPath) {
  auto run = std::make_unique<TMbxRun>(stream, sink);
  run->Files = &files;
  run->IndexPath = indexPath;
  return run;
}

} // namespace postvue::recovery
