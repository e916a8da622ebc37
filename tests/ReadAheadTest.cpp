// The file layer's read-ahead window: whatever the order of the reads
// (forwards, backwards, stepping back a little, jumping about, near the end
// of the file), every read delivers exactly the file's bytes, and a read
// past the end raises the read error after delivering the bytes that were there.
// The same in a walk front to back, with its windows read ahead by a thread;
// and which gaps such a walk reads through.
#include "FileStream.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <atomic>
#include <optional>
#include <random>

using namespace postvue;
using namespace postvue::testing;

namespace {

constexpr std::size_t kFileSize = 3000000; // a dozen windows read ahead

std::uint8_t ByteAt(std::uint64_t i) { return static_cast<std::uint8_t>((i * 2654435761u) >> 13); }

class ReadAhead : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i < kFileSize; ++i) bytes[i] = static_cast<char>(ByteAt(i));
    WriteFileBytes(Dir / "file", bytes);
    Stream = std::make_unique<TFileStream>(Dir / "file");
    if (GetParam()) Walk.emplace(*Stream, TAccess::FrontToBack);
  }

  void TearDown() override { Walk.reset(); }

  // Reads count bytes at offset and compares them with the file.
  void Expect(std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> buffer(count, 0xEE);
    const bool fits = offset <= kFileSize && count <= kFileSize - offset;
    if (fits) {
      Stream->ReadAt(offset, buffer.data(), count);
    } else {
      EXPECT_RAISES(Stream->ReadAt(offset, buffer.data(), count), EReadError, "Stream read error");
    }
    const std::size_t there = offset >= kFileSize ? 0 : std::min<std::size_t>(count, kFileSize - offset);
    for (std::size_t i = 0; i < there; ++i)
      if (buffer[i] != ByteAt(offset + i)) {
        ADD_FAILURE() << "byte " << i << " of a read of " << count << " at " << offset;
        return;
      }
  }

  TTempDir Dir;
  std::unique_ptr<TFileStream> Stream;
  std::optional<TAccessScope> Walk;
};

TEST_P(ReadAhead, WalksInEveryDirection) {
  // The whole file front to back, then past its end.
  for (std::uint64_t at = 0; at + 636 <= kFileSize; at += 500) Expect(at, 636);
  Expect(kFileSize - 100, 636);
  Stream->DropCache();
  // Forwards in small steps, then backwards (a walk back up to parent nodes),
  // then an object followed by a block just before it, again and again.
  for (std::uint64_t at = 0; at + 636 <= 200000; at += 24) Expect(at, 636);
  for (std::uint64_t at = 200000; at >= 24; at -= 24) Expect(at - 24, 636);
  for (std::uint64_t at = 1000; at < 150000; at += 60) {
    Expect(at, 12);
    Expect(at - 40, 16);
  }
  // Far jumps between both ends of the file.
  for (std::uint64_t k = 0; k < 2000; ++k) Expect(k % 2 ? kFileSize - 16 - 16 * (k / 2) : 16 * k, 16);
}

TEST_P(ReadAhead, RandomReadsAndTheEndOfTheFile) {
  std::mt19937_64 random(42);
  for (int k = 0; k < 20000; ++k) {
    if (k % 97 == 0) Stream->DropCache();
    const std::uint64_t offset = random() % (kFileSize + 100);
    // Mostly small reads (through the window), some that bypass it.
    const std::size_t count = k % 10 == 0 ? 4097 + random() % 10000 : 1 + random() % 4096;
    Expect(offset, count);
  }
  // Right at the end: the last byte, one byte past it, an empty read past it.
  Expect(kFileSize - 1, 1);
  Expect(kFileSize, 1);
  Expect(kFileSize - 10, 4096);
  std::uint8_t none = 0;
  Stream->ReadAt(kFileSize + 5, &none, 0);
}

// A stream over bytes in memory that counts its reads (the thread's too).
class TCountingMemory : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  std::atomic<std::uint64_t> Calls{0}, Bytes{0};

protected:
  std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t count) override {
    const std::size_t got = TMemoryStream::ReadSome(offset, buffer, count);
    ++Calls;
    Bytes += got;
    return got;
  }
};

// A walk front to back over a store of small messages reads the whole file
// in a few large reads, not one per message; past large attachments it jumps,
// instead of reading them to list the messages.
TEST(ReadStrategy, FrontToBackReadsThroughShortGapsAndSkipsLongOnes) {
  constexpr std::uint64_t kSize = 16 << 20;
  const std::string bytes(kSize, 'x');
  struct TCase {
    std::uint64_t Step;
    std::uint64_t MaxCalls, MaxBytes;
  };
  for (const TCase c : {TCase{8 << 10, 200, 2 * kSize}, TCase{1 << 20, 2 * (kSize >> 20), 2 * (kSize >> 20) * 4096}}) {
    SCOPED_TRACE(c.Step);
    TCountingMemory stream(bytes);
    {
      const TAccessScope walk(stream, TAccess::FrontToBack);
      char header[16];
      for (std::uint64_t at = 0; at + sizeof header <= kSize; at += c.Step) stream.ReadAt(at, header, sizeof header);
    }
    EXPECT_LE(stream.Calls, c.MaxCalls);
    EXPECT_LE(stream.Bytes, c.MaxBytes);
  }
}

INSTANTIATE_TEST_SUITE_P(, ReadAhead, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Ahead" : "Alone"; });

} // namespace
