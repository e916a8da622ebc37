// Where Windows differs: share modes, devices and pipes named as stores,
// drive letters and backslashes, replacing a file that another program holds
// open, and file times the C runtime cannot set.
#ifdef _WIN32

#include "CliRunner.h"
#include "FileStream.h"
#include "MbxReader.h"
#include "MessageFile.h"
#include "StoreWriter.h"
#include "TestSupport.h"
#include "FilePaths.h"
#include "WinApi.h"

#include <algorithm>
#include <filesystem>

using namespace postvue;
using namespace postvue::testing;
namespace fs = std::filesystem;

namespace {

// A handle of "another program" on path, closed with the object.
class THeldFile {
public:
  THeldFile(const std::string& path, DWORD access, DWORD share)
      : Handle(CreateFileW(PathFromUtf8(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~THeldFile() {
    if (Held()) CloseHandle(Handle);
  }
  bool Held() const { return Handle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return Handle; }

private:
  HANDLE Handle;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

class Windows : public ::testing::Test {
protected:
  TTempDir Dir;

  // An .mbx store of one message and its .idx.
  void WriteStore(const std::string& name) {
    MakeMbx({{"Subject: scanned\r\n\r\nbody", 1}}).WriteFile(Dir / (name + ".mbx"));
    TIdxRecord record;
    record.MessageFlags = 0x80 | 0x20;
    record.Strings[0] = "indexed";
    MakeIdx({record}).WriteFile(Dir / (name + ".idx"));
  }
};

TEST_F(Windows, StoreIsSharedAndAnIndexHeldForWritingIsSkippedSilently) {
  WriteStore("Inbox");
  const std::string store = Dir / "Inbox.mbx", index = Dir / "Inbox.idx";
  TMBXReader reader;
  reader.SetFileName(store);
  {
    // The mail program may go on writing, even renaming the store, while it is open here.
    THeldFile writer(store, GENERIC_WRITE, kShareAll);
    EXPECT_TRUE(writer.Held()) << GetLastError();
  }
  ASSERT_TRUE(MoveFileExW(PathFromUtf8(store).c_str(), PathFromUtf8(Dir / "moved.mbx").c_str(), 0)) << GetLastError();
  ASSERT_TRUE(MoveFileExW(PathFromUtf8(Dir / "moved.mbx").c_str(), PathFromUtf8(store).c_str(), 0)) << GetLastError();

  {
    // While the index is read, nobody may write it.
    TFileStream stream(index, TShareMode::DenyWrite);
    EXPECT_FALSE(THeldFile(index, GENERIC_WRITE, kShareAll).Held());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(THeldFile(index, GENERIC_READ, kShareAll).Held());
  }
  {
    // An index being written elsewhere cannot be opened so: its rows stay
    // empty, and the header lines do not stand in for it.
    THeldFile writer(index, GENERIC_WRITE, kShareAll);
    ASSERT_TRUE(writer.Held());
    reader.Load();
    TMessageRecord record;
    reader.GetMessage(0, record);
    EXPECT_EQ(record.Subject.Str(), "");
    EXPECT_EQ(record.Flags, 0u);
  }
  reader.Load();
  TMessageRecord record;
  reader.GetMessage(0, record);
  EXPECT_EQ(record.Subject.Str(), "indexed");
  EXPECT_EQ(record.Flags, 0xA0u);
}

// A device or a pipe opens, but reading it would wait for ever or deliver
// bytes that are no store: it fails as a file that cannot be opened does.
TEST_F(Windows, DevicesAndPipesAreNoStores) {
  const std::string pipe = "\\\\.\\pipe\\postvue-test-" + std::to_string(GetCurrentProcessId());
  const HANDLE server = CreateNamedPipeW(PathFromUtf8(pipe).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096,
                                         0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
  for (const std::string& store : {std::string("NUL"), Dir / "nul.dbx", pipe}) {
    const TCliRun run = RunCli(Dir, {"list", store});
    EXPECT_EQ(run.Status, 1) << store;
    EXPECT_EQ(run.Err, "postvue-cli: Cannot open file " + store + ".\npostvue-cli: not a regular file\n") << store;
  }
  // The console opens only where there is one; either way it is no store.
  const TCliRun run = RunCli(Dir, {"list", "CON"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), "postvue-cli: Cannot open file CON.");
  CloseHandle(server);
}

TEST_F(Windows, DriveLettersAndBackslashes) {
  TMBXReader reader;
  EXPECT_RAISES(reader.SetFileName("C:\\Mail\\Inbox.mbx"), EFOpenError, "Cannot open file C:\\Mail\\Inbox.mbx");
  EXPECT_EQ(reader.GetFolderName(), "Inbox");

  WriteStore("Inbox");
  const std::string store = Backslashed(fs::absolute(PathFromUtf8(Dir / "Inbox.mbx")).string());
  ASSERT_EQ(store.substr(1, 2), ":\\");
  TCliRun run = RunCli(Dir, {"list", "--json", store});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("\"folder\": \"Inbox\""), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("\"Subject\": \"indexed\""), std::string::npos) << run.Out; // the .idx beside it
  run = RunCli(Dir, {"export", store, Backslashed(Dir / "out\\")});
  EXPECT_EQ(run.Status, 0) << run.Err;
  // Named from the message's own Subject line.
  EXPECT_EQ(ReadFileBytes(Dir / "out/0000 - scanned.eml"), "Subject: scanned\r\n\r\nbody\r\n");
}

// All or nothing with the Windows file API too: a target that another
// program holds open (without letting it be replaced) stays as it was, with
// no temporary file beside it; once it is closed, the save replaces it.
TEST_F(Windows, ReplacingATargetHeldOpenLeavesIt) {
  const std::string target = Dir / "a.eml";
  WriteFileBytes(target, "former");
  {
    THeldFile viewer(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(viewer.Held());
    EXPECT_RAISES(SaveMessageText(target, "new"), EFCreateError, "Cannot create file " + target);
  }
  EXPECT_EQ(ReadFileBytes(target), "former");
  SaveMessageText(target, "new");
  EXPECT_EQ(ReadFileBytes(target), "new\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(PathFromUtf8(Dir.Path())), fs::directory_iterator()), 1);
}

// The C runtime sets whole seconds from 1970 on; export sets the received
// time of any year it accepts, to the millisecond.
TEST_F(Windows, ExportSetsFileTimesBefore1970ToTheMillisecond) {
  const std::uint64_t received = FileTimeOf(1950, 6, 1, 12, 34, 56, 789);
  TIdxRecord record;
  record.ReceivedTime = received;
  record.Strings[0] = "old";
  MakeMbx({{"Subject: old\r\n\r\nbody", 1}}).WriteFile(Dir / "a.mbx");
  MakeIdx({record}).WriteFile(Dir / "a.idx");
  const TCliRun run = RunCli(Dir, {"export", Dir / "a.mbx", Dir / "out"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  THeldFile file(Dir / "out/0000 - old.eml", GENERIC_READ, kShareAll);
  FILETIME written{};
  ASSERT_TRUE(GetFileTime(file.Get(), nullptr, nullptr, &written));
  EXPECT_EQ(static_cast<std::uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime, received);
}

} // namespace

#endif
