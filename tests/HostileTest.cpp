// Damaged and hostile stores of about 1 MB, built to make the readers do as
// much work as the bytes allow: overlapping message headers, many messages
// sharing one long text block chain or one large object, texts longer than
// the file, walks that jump all over it. Each must open, load and give up
// every record and text reading each byte of the file a few times at most,
// or fail with a reader message.
#include "DbxReader.h"
#include "MbxReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <fstream>

using namespace postvue;
using namespace postvue::testing;

namespace {

constexpr std::uint32_t kMegabyte = 1 << 20;

// The readers' work is bounded by the reads they make and the bytes those
// bring, counted exactly however busy the machine. A walk linear in the file
// makes at most a read or two per 16-byte block header and reads the file a
// few times over (read-ahead windows overlap, a chain shared by a few messages
// is walked again before the sharing counts as damage, texts are read once
// more); each read that jumps brings a small window of the file layer's
// (4 KiB). A walk quadratic in a file of a megabyte read it tens of thousands
// of times.
constexpr std::uint64_t kReadsPerBlock = 2, kReadsOfTheFile = 16, kSmallWindow = 4096;

// Reads from the files and the bytes they brought, counted exactly (the
// read-ahead thread's too).
struct TReads {
  std::atomic<std::uint64_t> Calls{0}, Bytes{0};
};
using TCounter = std::shared_ptr<TReads>;

// A file on disk whose every read is counted.
class TCountingStream : public TFileStream {
public:
  TCountingStream(const std::string& path, TShareMode share, TCounter read)
      : TFileStream(path, share), Read(std::move(read)) {}

protected:
  std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t count) override {
    const std::size_t got = TFileStream::ReadSome(offset, buffer, count);
    ++Read->Calls;
    Read->Bytes += got;
    return got;
  }

private:
  TCounter Read; // shared: the stream outlives the count, with its reader
};

class TCountingFiles : public TFileSource {
public:
  TCounter Read = std::make_shared<TReads>();
  mutable std::uint64_t Size = 0; // of every file opened
  std::unique_ptr<TFileStream> Open(const std::string& path, TShareMode share) const override {
    auto stream = std::make_unique<TCountingStream>(path, share, Read);
    Size += stream->Size();
    return stream;
  }
  std::string Find(const std::string& path) const override { return DiskFiles().Find(path); }
  std::vector<TFolderFile> List(const std::string& folder) const override { return DiskFiles().List(folder); }
};

struct TOutcome {
  std::string Failure; // the message that ended Open or Load, if one did
  std::uint64_t BytesRead = 0;
  std::int32_t Count = 0;
  std::size_t Texts = 0, TextBytes = 0;
  std::vector<TMessageRecord> Records; // the first 100
};

void CheckReads(const TCountingFiles& files, TOutcome& out) {
  const std::uint64_t calls = files.Read->Calls;
  out.BytesRead = files.Read->Bytes;
  EXPECT_LE(calls, kReadsPerBlock * (files.Size / 16) + 4 * static_cast<std::uint64_t>(out.Count) + 64);
  EXPECT_LE(out.BytesRead, kReadsOfTheFile * files.Size + 2 * out.TextBytes + kSmallWindow * calls);
}

// Opens and loads as the viewer does, then asks every record, text and
// header, through files that count the reads.
TOutcome ReadEverything(TMailbaseReader& reader, const std::string& path) {
  TCountingFiles files;
  reader.UseFiles(files);
  TOutcome out;
  try {
    reader.SetFileName(path);
    reader.Load();
  } catch (const Exception& e) {
    out.Failure = e.what();
    CheckReads(files, out);
    reader.UseFiles(DiskFiles());
    return out;
  }
  out.Count = reader.GetCount();
  for (std::int32_t i = 0; i < out.Count; ++i) {
    TMessageRecord record;
    reader.GetMessage(i, record);
    if (i < 100) out.Records.push_back(record);
    try {
      out.TextBytes += reader.GetMessageText(i).size();
      ++out.Texts;
      (void)reader.GetMessageHeader(i);
    } catch (const Exception&) {
    }
  }
  CheckReads(files, out);
  reader.UseFiles(DiskFiles()); // the caller may still read texts, through the streams it has
  return out;
}

class Hostile : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Dbx() const { return Dir / "store.dbx"; }
  std::string Mbx() const { return Dir / "store.mbx"; }
  std::string Idx() const { return Dir / "store.idx"; }
};

// ------------------------------------------------------------ .dbx

// A chain of blocks: the text in the last one, `empty` blocks of no text
// before it. Returns the first block.
std::uint32_t LongChain(TDbxImage& image, std::size_t empty, std::string_view text) {
  std::uint32_t next = image.AddBlock(text, 0);
  for (std::size_t k = 0; k < empty; ++k) next = image.AddBlock("", next);
  return next;
}

// An index as dense as nodes allow, so that many values fit in a small file:
// leaves of 51 values, inner nodes that only lead to up to 52 subtrees.
std::uint32_t DenseTree(TDbxImage& image, const std::uint32_t* values, std::size_t count, std::uint32_t parent) {
  const std::uint32_t at = image.Allocate(0x27C);
  TDbxNode node;
  node.Parent = parent;
  if (count <= 51) {
    for (std::size_t i = 0; i < count; ++i) node.Entries.push_back({values[i], 0, 0});
  } else {
    std::size_t capacity = 51; // of each subtree below this node
    while (capacity * 52 < count) capacity *= 52;
    for (std::size_t start = 0; start < count; start += capacity) {
      const std::size_t n = std::min(capacity, count - start);
      const std::uint32_t child = DenseTree(image, values + start, n, at);
      if (start == 0) {
        node.LeftChild = child;
        node.LeftValueCount = static_cast<std::uint32_t>(n);
      } else {
        node.Entries.push_back({0, child, static_cast<std::uint32_t>(n)});
      }
    }
  }
  image.WriteNode(at, node);
  return at;
}

void SetDenseTree(TDbxImage& image, const std::vector<std::uint32_t>& values) {
  image.SetIndexRoot(DenseTree(image, values.data(), values.size(), 0));
  image.SetMessageCount(static_cast<std::uint32_t>(values.size()));
}

std::uint32_t InfoWithText(TDbxImage& image, std::uint32_t textOffset, std::string_view subject) {
  return image.AddMessageInfo({TDbxProperty::U32(0x04, textOffset), TDbxProperty::Text(0x08, subject)});
}

// Thousands of messages that all reach the same bytes: each would walk them
// again, so the work grew with the square of the file's size.
enum class TSharing { OneObject, ObjectEach, LargeBody, OverlappingText };

class HostileShared : public Hostile, public ::testing::WithParamInterface<TSharing> {};

TEST_P(HostileShared, LoadFailsInsteadOfRepeatingTheWork) {
  TDbxImage image;
  std::vector<std::uint32_t> values;
  switch (GetParam()) {
  case TSharing::OneObject: { // 20000 messages, one object, one chain of 30000 blocks
    const std::uint32_t info = InfoWithText(image, LongChain(image, 30000, "Subject: s\r\n\r\nbody"), "s");
    values.assign(20000, info);
    break;
  }
  case TSharing::ObjectEach: { // an object of their own, all leading into the same chain
    const std::uint32_t chain = LongChain(image, 30000, "Subject: s\r\n\r\nbody");
    for (int i = 0; i < 8000; ++i) values.push_back(InfoWithText(image, chain, "s"));
    break;
  }
  case TSharing::LargeBody: { // one object with a 64 KB body of 255 strings that run on for 60 KB
    std::vector<TDbxProperty> properties(255, TDbxProperty{0x08, 0, {}, true});
    properties.back().Data = std::string(60000, 'a') + '\0';
    const std::uint32_t info = image.AddMessageInfo(properties);
    image.Reserve(image.Size() + 400000); // room enough, by the count's own check, for the messages
    values.assign(20000, info);
    break;
  }
  case TSharing::OverlappingText: { // one message whose blocks each claim most of the file as text
    const std::uint32_t first = static_cast<std::uint32_t>(image.Size());
    for (std::uint32_t k = 0; k < 1000; ++k) {
      const std::uint32_t at = first + 16 * k;
      image.U32(at, at);
      image.U32(at + 8, 500000);
      image.U32(at + 12, k + 1 < 1000 ? at + 16 : 0);
    }
    image.Reserve(first + 16 * 1000 + 500000);
    values.push_back(InfoWithText(image, first, "big"));
    break;
  }
  }
  SetDenseTree(image, values);
  ASSERT_LE(image.Size(), kMegabyte);
  image.WriteFile(Dbx());

  TDBXReader reader;
  EXPECT_EQ(ReadEverything(reader, Dbx()).Failure, "Messages overlap in the file.");
}

std::string SharingName(const ::testing::TestParamInfo<TSharing>& info) {
  switch (info.param) {
  case TSharing::OneObject: return "OneObject";
  case TSharing::ObjectEach: return "ObjectEach";
  case TSharing::LargeBody: return "LargeBody";
  case TSharing::OverlappingText: return "OverlappingText";
  }
  return "";
}

INSTANTIATE_TEST_SUITE_P(Dbx, HostileShared,
                         ::testing::Values(TSharing::OneObject, TSharing::ObjectEach, TSharing::LargeBody,
                                           TSharing::OverlappingText),
                         SharingName);

// A little sharing, as damage might cause (the index lists a message twice),
// still loads: the bound leaves room for it.
TEST_F(Hostile, DbxMessageListedTwiceStillLoads) {
  TDbxImage image;
  const std::string text = "Subject: twice\r\n\r\n" + std::string(300000, 'b');
  const std::uint32_t info = InfoWithText(image, image.AddText(text), "twice");
  image.BuildTree({info, info});
  image.WriteFile(Dbx());

  TDBXReader reader;
  const TOutcome out = ReadEverything(reader, Dbx());
  EXPECT_EQ(out.Failure, "");
  EXPECT_EQ(out.Texts, 2u);
  EXPECT_EQ(out.TextBytes, 2 * text.size());
}

// Sound but extreme stores load whole: the bounds leave them alone.
TEST_F(Hostile, DbxLargeBodiesAndScatteredChains) {
  TDbxImage image;
  // Objects with 255 strings over a long run of text, each kept as its first 255 bytes.
  std::vector<std::uint32_t> values;
  for (int i = 0; i < 4; ++i) {
    std::vector<TDbxProperty> properties(255, TDbxProperty{0x08, 0, {}, true});
    properties.back().Data = std::string(60000, static_cast<char>('a' + i)) + '\0';
    values.push_back(image.AddMessageInfo(properties));
  }
  // One message whose 20000 empty blocks jump between the two ends of a
  // 640 KB stretch of the file, the text in the last.
  const std::uint32_t low = static_cast<std::uint32_t>(image.Size()), high = low + 320000;
  const std::string text = "Subject: scattered\r\n\r\nbody";
  image.Reserve(high + 320000 + 16 + text.size());
  const std::uint32_t last = high + 320000;
  image.U32(last, last);
  image.U32(last + 8, static_cast<std::uint32_t>(text.size()));
  image.Bytes(last + 16, text);
  std::uint32_t next = last;
  for (std::uint32_t k = 0; k < 20000; ++k) {
    const std::uint32_t at = (k % 2 ? high : low) + 16 * (k / 2);
    image.U32(at, at);
    image.U32(at + 12, next);
    next = at;
  }
  values.push_back(InfoWithText(image, next, "scattered"));
  image.BuildTree(values);
  ASSERT_LE(image.Size(), kMegabyte);
  image.WriteFile(Dbx());

  TDBXReader reader;
  const TOutcome out = ReadEverything(reader, Dbx());
  ASSERT_EQ(out.Failure, "");
  ASSERT_EQ(out.Count, 5);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(out.Records[static_cast<std::size_t>(i)].Subject.Str(), std::string(255, static_cast<char>('a' + i)));
  EXPECT_EQ(out.Records[4].Size, text.size());
  EXPECT_EQ(reader.GetMessageText(4), text);
}

// Blocks whose texts overlap and hold no zero byte (offsets from 2^24 + 2^16
// + 2^8 + 1 on have none), chained so that each one's text runs over the
// headers of the blocks after it: 200 blocks of 16 MB text each in a 34 MB
// file. The message's text would have been 3.4 GB.
TEST_F(Hostile, DbxTextFarLongerThanTheFile) {
  constexpr std::uint32_t kBase = 0x01010101, kBlocks = 200, kLength = 0x01010101;
  TDbxImage image;
  const std::uint32_t first = kBase + 16 * (kBlocks - 1); // the chain runs downwards
  image.BuildTree({InfoWithText(image, first, "long")});
  std::ofstream out(Dbx(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.Data.data()), static_cast<std::streamsize>(image.Size()));
  TImage blocks;
  for (std::uint32_t k = 0; k < kBlocks; ++k) {
    const std::uint32_t at = kBase + 16 * k;
    blocks.U32(16 * k, at);
    blocks.U32(16 * k + 4, 0x01010101);
    blocks.U32(16 * k + 8, kLength);
    blocks.U32(16 * k + 12, k == 0 ? 0 : at - 16);
  }
  out.seekp(kBase);
  out.write(reinterpret_cast<const char*>(blocks.Data.data()), static_cast<std::streamsize>(blocks.Size()));
  const std::string text(kLength, 'x');
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();

  TDBXReader reader;
  EXPECT_EQ(ReadEverything(reader, Dbx()).Failure, "Messages overlap in the file.");
}

// Five blocks with most of the file as their text, the last leading back to
// the first: the loop is found before the chain runs out of its budget.
TEST_F(Hostile, DbxLoopOfLargeBlocks) {
  TDbxImage image;
  std::vector<std::uint32_t> blocks;
  for (int k = 0; k < 5; ++k) blocks.push_back(image.AddBlock(std::string(150000, static_cast<char>('a' + k)), 0));
  for (int k = 0; k < 5; ++k) image.U32(blocks[static_cast<std::size_t>(k)] + 12, blocks[static_cast<std::size_t>((k + 1) % 5)]);
  image.BuildTree({InfoWithText(image, blocks[0], "loop")});
  image.WriteFile(Dbx());

  TDBXReader reader;
  EXPECT_EQ(ReadEverything(reader, Dbx()).Failure, "Circular text block chain.");
}

// ------------------------------------------------------------ .mbx

// Headers every BlockLength bytes from the first one on, each claiming the
// rest of the file as its text, with no blank line in it: a pattern that
// repeats with the period BlockLength, so every header the walk meets looks
// alike. Each one overlaps the text of the one before; a header scan that
// read the text instead of the block would read the rest of the file once
// per header, up to one header every 16 bytes.
class HostileOverlap : public Hostile, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(HostileOverlap, MbxWalkFollowsBlockLength) {
  const std::uint32_t period = GetParam(), dataLength = kMegabyte - 100;
  TMbxImage image;
  image.SetMessageCount(1000000);
  for (std::uint32_t at = 84; at + 4 <= kMegabyte; at += 4) {
    const std::uint32_t word = (at - 84) % period;
    image.U32(at, word == 8 % period ? period : word == 12 % period ? dataLength : 0x78787878);
  }
  image.WriteFile(Mbx());

  TMBXReader reader;
  const TOutcome out = ReadEverything(reader, Mbx());
  ASSERT_EQ(out.Failure, "");
  // A step below a header's own size ends the walk; otherwise every header
  // up to the end of the file is an entry, its header scan kept to its block.
  const std::int32_t entries = period < 16 ? 1 : static_cast<std::int32_t>((kMegabyte - 84 - 16) / period + 1);
  EXPECT_EQ(out.Count, entries);
  EXPECT_EQ(reader.MessageInfos.size(), static_cast<std::size_t>(entries));
  EXPECT_EQ(out.Texts, 1u); // the others reach past the end of the file
}

INSTANTIATE_TEST_SUITE_P(Mbx, HostileOverlap, ::testing::Values(8u, 12u, 16u, 20u, 1000u));

// A header whose block holds no text but whose text claims 200 KB: the walk
// steps on to the next 16 bytes (its text, read as a header), its header
// scan reads nothing, and its text ends at the first zero byte.
TEST_F(Hostile, MbxEmptyBlockWithALongText) {
  const std::string text = "Subject: first\r\n\r\n" + std::string(982, 't');
  TMbxImage image;
  image.SetMessageCount(3);
  image.AddMessage({text, 1, 0, 16 + 1000, -1});
  image.AddMessage({"Subject: second\r\n\r\nbody", 2, 0, 16, 200000});
  image.Reserve(kMegabyte);
  image.WriteFile(Mbx());

  TMBXReader reader;
  const TOutcome out = ReadEverything(reader, Mbx());
  ASSERT_EQ(out.Failure, "");
  EXPECT_EQ(out.Count, 3);
  EXPECT_EQ(out.Records[0].Subject.Str(), " first");
  EXPECT_EQ(out.Records[1].Subject.Str(), "");
  EXPECT_EQ(reader.GetMessageText(1), "Subject: second\r\n\r\nbody");
}

// Headers 16 MB apart (the smallest step whose BlockLength has no zero byte),
// each text running on to the end of the file through the ones behind it,
// with no zero byte to end it: reading every text would read the file once
// per header. Together they may read it once more, not more.
TEST_F(Hostile, MbxTextsRunningThroughTheMessagesBehind) {
  constexpr std::uint32_t kStep = 0x01010101, kHeaders = 4;
  const std::uint64_t size = 84 + std::uint64_t{kStep} * kHeaders + 0x1000; // no DataLength with a zero byte
  std::string bytes(static_cast<std::size_t>(size), 'x');
  TImage header;
  header.Bytes(0, "JMF6");
  header.U32(8, kHeaders);
  bytes.replace(0, 12, header.Str());
  for (std::uint32_t k = 0; k < kHeaders; ++k) {
    const std::uint64_t at = 84 + std::uint64_t{kStep} * k;
    TImage h;
    h.U32(8, kStep);
    h.U32(12, static_cast<std::uint32_t>(size - at - 16));
    bytes.replace(static_cast<std::size_t>(at + 8), 8, h.Str().substr(8));
    ASSERT_EQ(h.Str().substr(8).find('\0'), std::string::npos);
  }
  WriteFileBytes(Mbx(), bytes);

  TMBXReader reader;
  const TOutcome out = ReadEverything(reader, Mbx());
  EXPECT_EQ(out.Failure, "Messages overlap in the file.");
  EXPECT_LE(out.BytesRead, 2 * size);
}

// A megabyte of the smallest sound messages, with an .idx whose records all
// lead back to one another across a long stretch of padding: every record and
// text is there, each read once.
TEST_F(Hostile, MbxManyTinyMessagesAndAnIndexThatJumps) {
  TMbxImage image;
  std::int32_t count = 0;
  while (image.Size() + 20 <= kMegabyte) image.AddMessage({"A:\r\n", static_cast<std::uint32_t>(count++), 0, -1, -1});
  image.SetMessageCount(count);
  image.WriteFile(Mbx());

  TIdxImage idx;
  idx.SetRecordCount(count);
  TIdxRecord here;
  here.Strings[0] = "near";
  here.NextOffset = 80 + 600000;
  idx.AddRecord(here);
  idx.Reserve(80 + 600000);
  TIdxRecord there;
  there.Strings[0] = "far";
  there.Strings[4] = std::string(300000, 's'); // a long string that is skipped, never read whole
  there.NextOffset = 80;
  idx.AddRecord(there);
  idx.WriteFile(Idx());

  TMBXReader reader;
  const TOutcome out = ReadEverything(reader, Mbx());
  ASSERT_EQ(out.Failure, "");
  ASSERT_EQ(out.Count, count);
  EXPECT_GT(count, 50000);
  EXPECT_EQ(out.Texts, static_cast<std::size_t>(count));
  EXPECT_EQ(out.TextBytes, 4u * static_cast<std::size_t>(count));
  TMessageRecord first, last;
  reader.GetMessage(0, first);
  reader.GetMessage(count - 1, last);
  EXPECT_EQ(first.Subject.Str(), "near");
  EXPECT_EQ(last.Subject.Str(), count % 2 ? "near" : "far");
}

} // namespace
