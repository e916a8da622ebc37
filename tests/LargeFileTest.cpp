// Stores between 2 GB and 4 GB: offsets are unsigned 32-bit, so structures
// above 2^31 and up to just below 2^32 must be found, listed and read. The
// files are sparse: a few structures at high offsets cost no real disk.
#include "DbxReader.h"
#include "MbxReader.h"
#include "CliRunner.h"
#include "StoreWriter.h"
#include "TestSupport.h"
#include "FilePaths.h"
#include "WinApi.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <winioctl.h>
#else
#include <sys/stat.h>
#endif

using namespace postvue;
using namespace postvue::testing;

namespace {

constexpr std::uint64_t k2G = 0x80000000u;
constexpr std::uint64_t kNear4G = 0xFFF00000u; // 2^32 - 1 MB

// Writes bytes at absolute offsets, leaving holes between them.
class TSparseFile {
public:
  explicit TSparseFile(const std::string& path) : Path(path), Out(Create(path), std::ios::binary | std::ios::in | std::ios::out) {}
  void Put(std::uint64_t at, std::string_view bytes) {
    Out.seekp(static_cast<std::streamoff>(at));
    Out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // Closes the file; false (with the reason) when it is not the size asked
  // for or took real disk for its holes.
  bool Finish(std::uint64_t size, std::string& why) {
    Out.close();
    std::error_code ec;
    std::filesystem::resize_file(PathFromUtf8(Path), size, ec);
    if (ec || std::filesystem::file_size(PathFromUtf8(Path)) != size) {
      why = "cannot make a file of " + std::to_string(size) + " bytes here";
      return false;
    }
#ifdef _WIN32
    const HANDLE h = CreateFileW(PathFromUtf8(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    FILE_STANDARD_INFO info{};
    const bool known = GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info);
    CloseHandle(h);
    if (!known || info.AllocationSize.QuadPart > 64 * 1024 * 1024) {
      why = "the file system does not make sparse files";
      return false;
    }
    return true;
#else
    struct stat st {};
    if (::stat(Path.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_blocks) * 512 > 64 * 1024 * 1024) {
      why = "the file system does not make sparse files";
      return false;
    }
    return true;
#endif
  }

private:
  // An empty file, marked sparse where the system needs that for holes.
  static std::filesystem::path Create(const std::string& path) {
#ifdef _WIN32
    const HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD unused = 0;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
    CloseHandle(h);
#else
    WriteFileBytes(path, "");
#endif
    return PathFromUtf8(path);
  }

  std::string Path;
  std::ofstream Out;
};

std::string U32Bytes(std::uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return bytes;
}

// A .dbx structure whose marker is its absolute offset.
std::string NodeBytes(std::uint32_t at, TDbxNode node) {
  TDbxImage scratch;
  node.Marker = at;
  const std::uint32_t where = scratch.AddNode(node);
  return scratch.Str().substr(where);
}

std::string InfoBytes(std::uint32_t at, std::uint32_t textOffset, std::string_view subject) {
  TDbxImage scratch;
  const std::uint32_t where =
      scratch.AddMessageInfo({TDbxProperty::U32(0x04, textOffset), TDbxProperty::Text(0x08, subject)});
  scratch.U32(where, at);
  return scratch.Str().substr(where);
}

std::string BlockBytes(std::uint32_t at, std::string_view text, std::uint32_t next) {
  return U32Bytes(at) + U32Bytes(0x200) + U32Bytes(static_cast<std::uint32_t>(text.size())) + U32Bytes(next) +
         std::string(text);
}

class LargeFile : public ::testing::Test {
protected:
  TTempDir Dir;
};

// Three messages: the index root above 2 GB, a child node, objects and text
// blocks spread from just above 2 GB to the last megabyte below 4 GB.
TEST_F(LargeFile, DbxStructuresBeyondTwoGigabytes) {
  const std::string path = Dir / "large.dbx";
  const std::uint32_t root = k2G + 0x1000, child = kNear4G, infoA = k2G + 0x10000000, infoB = kNear4G + 0x1000,
                      infoC = 0xA0000000, blockA1 = 0xC0000000, blockA2 = kNear4G + 0x80000,
                      blockB = 0xFFFF0000, blockC = k2G + 0x20;
  const std::string textA1 = "From: Ann\r\nSubject: first\r\n", textA2 = "\r\nabove two gigabytes",
                    textB = "Subject: last\r\n\r\nin the last megabyte", textC = "Subject: middle\r\n\r\nbody";

  TSparseFile file(path);
  TDbxImage header;
  header.SetFolderName("Large");
  header.SetMessageCount(3);
  header.SetIndexRoot(root);
  file.Put(0, header.Str());
  // In tree order: the child's value (A), then the root's entry (C), then B.
  TDbxNode rootNode;
  rootNode.LeftChild = child;
  rootNode.LeftValueCount = 1;
  rootNode.Entries = {{infoC, 0, 0}, {infoB, 0, 0}};
  file.Put(root, NodeBytes(root, rootNode));
  TDbxNode childNode;
  childNode.Parent = root;
  childNode.Entries = {{infoA, 0, 0}};
  file.Put(child, NodeBytes(child, childNode));
  file.Put(infoA, InfoBytes(infoA, blockA1, "first"));
  file.Put(infoB, InfoBytes(infoB, blockB, "last"));
  file.Put(infoC, InfoBytes(infoC, blockC, "middle"));
  file.Put(blockA1, BlockBytes(blockA1, textA1, blockA2));
  file.Put(blockA2, BlockBytes(blockA2, textA2, 0));
  file.Put(blockB, BlockBytes(blockB, textB, 0));
  file.Put(blockC, BlockBytes(blockC, textC, 0));
  const std::uint64_t size = blockB + 16 + textB.size();
  std::string why;
  if (!file.Finish(size, why)) GTEST_SKIP() << why;

  TDBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  ASSERT_EQ(reader.GetCount(), 3);
  EXPECT_EQ(reader.GetFolderName(), "Large");
  const char* subjects[] = {"first", "middle", "last"};
  const std::uint32_t offsets[] = {blockA1, blockC, blockB};
  const std::string texts[] = {textA1 + textA2, textC, textB};
  for (std::int32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    TMessageRecord record;
    reader.GetMessage(i, record);
    EXPECT_EQ(record.Subject.Str(), subjects[i]);
    EXPECT_EQ(record.TextOffset, offsets[i]);
    EXPECT_EQ(record.Size, texts[i].size());
    EXPECT_EQ(reader.GetMessageText(i), texts[i]);
  }
  EXPECT_EQ(reader.GetMessageHeader(0), "From: Ann\r\nSubject: first\r");

  // The command line prints offsets and sizes unsigned, and reads the texts.
  const TCliRun list = RunCli(Dir, {"list", "--json", path});
  EXPECT_EQ(list.Status, 0) << list.Out;
  EXPECT_NE(list.Out.find("\"TextOffset\": " + std::to_string(blockA1)), std::string::npos) << list.Out;
  EXPECT_NE(list.Out.find("\"TextOffset\": " + std::to_string(blockB)), std::string::npos) << list.Out;
  const TCliRun text = RunCli(Dir, {"text", path, "2"});
  EXPECT_EQ(text.Status, 0);
  EXPECT_EQ(text.Out, textB);
}

// Messages reached by the walk across a sparse gap (a large BlockLength) above
// 2 GB and in the last megabyte below 4 GB; an .idx that gives their offsets.
TEST_F(LargeFile, MbxMessagesBeyondTwoGigabytes) {
  const std::string path = Dir / "large.mbx";
  const std::uint32_t second = k2G + 0x100, third = kNear4G + 0x40;
  const std::string texts[] = {"Subject: first\r\n\r\nat the start", "Subject: second\r\n\r\nabove two gigabytes",
                               "Subject: third\r\n\r\nin the last megabyte"};
  const std::uint32_t headers[] = {84, second, third};
  const std::uint32_t blockLengths[] = {second - 84, third - second, 0};

  TSparseFile file(path);
  TMbxImage start;
  start.SetMessageCount(3);
  file.Put(0, start.Str());
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t blockLength =
        blockLengths[i] ? blockLengths[i] : 16 + static_cast<std::uint32_t>(texts[i].size());
    file.Put(headers[i], U32Bytes(0x7F007F00) + U32Bytes(static_cast<std::uint32_t>(i + 1)) + U32Bytes(blockLength) +
                             U32Bytes(static_cast<std::uint32_t>(texts[i].size())) + texts[i]);
  }
  std::string why;
  if (!file.Finish(third + 16 + texts[2].size(), why)) GTEST_SKIP() << why;

  // Header scan: the records and texts come from the walk.
  TMBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  ASSERT_EQ(reader.GetCount(), 3);
  for (std::int32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    TMessageRecord record;
    reader.GetMessage(i, record);
    EXPECT_EQ(record.TextOffset, headers[i] + 16);
    EXPECT_EQ(reader.GetMessageText(i), texts[i]);
  }
  TMessageRecord third_;
  reader.GetMessage(2, third_);
  EXPECT_EQ(third_.Subject.Str(), " third");

  // The index path: MessagePos above 2 GB lands in TextOffset as it is.
  std::vector<TIdxRecord> records(3);
  for (std::size_t i = 0; i < 3; ++i) {
    records[i].MessagePos = headers[i] + 16;
    records[i].MessageSize = static_cast<std::uint32_t>(texts[i].size());
    records[i].Strings[0] = "indexed " + std::to_string(i);
  }
  MakeIdx(records).WriteFile(Dir / "large.idx");
  reader.SetFileName(path);
  reader.Load();
  for (std::int32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    TMessageRecord record;
    reader.GetMessage(i, record);
    EXPECT_EQ(record.TextOffset, headers[i] + 16);
    EXPECT_EQ(record.Subject.Str(), "indexed " + std::to_string(i));
    EXPECT_EQ(reader.GetMessageText(i), texts[i]);
  }

  const TCliRun list = RunCli(Dir, {"list", "--json", path});
  EXPECT_EQ(list.Status, 0) << list.Out;
  EXPECT_NE(list.Out.find("\"TextOffset\": " + std::to_string(third + 16)), std::string::npos) << list.Out;
  const TCliRun text = RunCli(Dir, {"text", path, "1"});
  EXPECT_EQ(text.Status, 0);
  EXPECT_EQ(text.Out, texts[1]);
}

} // namespace
