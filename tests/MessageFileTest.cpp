// Saving a message: the CR LF line rule and the write that replaces a file
// only when every byte got written.
#include "MessageFile.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <chrono>
#include <filesystem>
#include <set>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace postvue;
using namespace postvue::testing;
namespace fs = std::filesystem;

namespace {

struct TCrLfCase {
  const char* Name;
  std::string Text;
  std::string Saved;
};

class CrLfLinesTest : public ::testing::TestWithParam<TCrLfCase> {};

TEST_P(CrLfLinesTest, EveryLineEndsInCrLf) { EXPECT_EQ(CrLfLines(GetParam().Text), GetParam().Saved); }

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, CrLfLinesTest,
    ::testing::Values(TCrLfCase{"Empty", "", ""}, TCrLfCase{"NoFinalBreak", "a", "a\r\n"},
                      TCrLfCase{"Lf", "a\nb\n", "a\r\nb\r\n"}, TCrLfCase{"LoneCr", "a\rb\r", "a\r\nb\r\n"},
                      TCrLfCase{"CrLf", "a\r\nb\r\n", "a\r\nb\r\n"},
                      TCrLfCase{"LfCrIsTwoBreaks", "a\n\rb", "a\r\n\r\nb\r\n"},
                      TCrLfCase{"CrThenCrLf", "a\r\r\nb", "a\r\n\r\nb\r\n"},
                      TCrLfCase{"Mixed", "a\rb\r\nc\nd", "a\r\nb\r\nc\r\nd\r\n"},
                      TCrLfCase{"BlankLinesKept", "h\r\n\r\n\r\nb", "h\r\n\r\n\r\nb\r\n"},
                      TCrLfCase{"OnlyBreak", "\n", "\r\n"}, TCrLfCase{"NulEndsText", "a\nb\0c\nd"s, "a\r\nb\r\n"},
                      TCrLfCase{"NulFirstGivesEmpty", "\0abc"s, ""},
                      TCrLfCase{"HighBytesUntouched", "\x80\xff\n\xe9", "\x80\xff\r\n\xe9\r\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(WriteFileReplacing, CreatesTheFile) {
  TTempDir dir;
  WriteFileReplacing(dir / "new.eml", "abc\r\n");
  EXPECT_EQ(ReadFileBytes(dir / "new.eml"), "abc\r\n");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector<std::string>{"new.eml"});
}

TEST(WriteFileReplacing, ReplacesALongerFileWhole) {
  TTempDir dir;
  WriteFileBytes(dir / "a.eml", std::string(10000, 'o'));
  WriteFileReplacing(dir / "a.eml", "new");
  EXPECT_EQ(ReadFileBytes(dir / "a.eml"), "new");
  WriteFileReplacing(dir / "a.eml", "");
  EXPECT_EQ(ReadFileBytes(dir / "a.eml"), "");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector<std::string>{"a.eml"});
}

TEST(WriteFileReplacing, MissingFolderCannotBeCreated) {
  TTempDir dir;
  const std::string path = dir / "missing/a.eml";
  EXPECT_RAISES(WriteFileReplacing(path, "x"), EFCreateError, "Cannot create file " + path);
  EXPECT_TRUE(SortedNames(dir.Path()).empty());
}

TEST(WriteFileReplacing, FolderAsTargetIsLeftAlone) {
  TTempDir dir;
  fs::create_directory(dir / "sub");
  WriteFileBytes(dir / "sub/inside", "kept");
  EXPECT_RAISES(WriteFileReplacing(dir / "sub", "x"), EFCreateError, "Cannot create file " + (dir / "sub"));
  EXPECT_TRUE(fs::is_directory(dir / "sub"));
  EXPECT_EQ(ReadFileBytes(dir / "sub/inside"), "kept");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector<std::string>{"sub"});
}

// A save killed while writing leaves nothing where the system makes files
// without a name; elsewhere its temporary file goes at a later save into the
// folder, once nothing has written it for an hour. Files that only look like
// ours, and a fresh one a save may be writing now, stay.
TEST(WriteFileReplacing, NoPartialFileOutlivesItsRun) {
  TTempDir dir;
  const std::string left = ".postvue-0123456789abcdef.tmp", fresh = ".postvue-fedcba9876543210.tmp";
  for (const std::string& name : {left, fresh, std::string(".postvue-mine.tmp"), std::string("postvue-0123456789abcdef.tmp")})
    WriteFileBytes(dir / name, "partial");
  fs::last_write_time(dir / left, fs::file_time_type::clock::now() - std::chrono::hours(2));
  {
    TReplacingFile file(dir / "a.eml");
    file.Write("half of it");
#ifdef O_TMPFILE
    EXPECT_FALSE(fs::exists(dir / "a.eml")); // nothing under its name, nor under any other
    EXPECT_EQ(SortedNames(dir.Path()).size(), 3u);
#endif
  } // killed, as far as the folder can tell
  EXPECT_EQ(SortedNames(dir.Path()), (std::vector<std::string>{".postvue-fedcba9876543210.tmp", ".postvue-mine.tmp",
                                                               "postvue-0123456789abcdef.tmp"}));
}

// A store folder's mbox claims its name only once complete: a file that took
// the name after the name was chosen (another run's) stays as it is, and this
// one takes the next name that is free.
TEST(TReplacingFile, NewFileNeverTakesANameTakenMeanwhile) {
  TTempDir dir;
  TReplacingFile file(dir / "Inbox");
  file.Write("mine");
  WriteFileBytes(dir / "Inbox", "another run's");
  EXPECT_FALSE(file.CommitNew(dir / "Inbox"));
  EXPECT_TRUE(file.CommitNew(dir / "Inbox (2)"));
  EXPECT_EQ(ReadFileBytes(dir / "Inbox"), "another run's");
  EXPECT_EQ(ReadFileBytes(dir / "Inbox (2)"), "mine");
  EXPECT_EQ(SortedNames(dir.Path()), (std::vector<std::string>{"Inbox", "Inbox (2)"}));
}

TEST(SaveMessageText, WritesCrLfLines) {
  TTempDir dir;
  SaveMessageText(dir / "m.eml", "Subject: x\nFrom: y\r\rbody");
  EXPECT_EQ(ReadFileBytes(dir / "m.eml"), "Subject: x\r\nFrom: y\r\n\r\nbody\r\n");
}

// Export's writer: a name that is taken is reported, whatever holds it, and
// nothing there changes; a free one gets the whole file.
TEST(TNewFileFolder, NeverReplacesAndSetsTheTime) {
  TTempDir dir;
  WriteFileBytes(dir / "file.eml", "kept");
  fs::create_directory(dir / "folder.eml");
  std::set<std::string> names = {"file.eml", "folder.eml"};
#ifndef _WIN32
  fs::create_symlink("nowhere", dir / "link.eml"); // dangling: writing through it would create "nowhere"
  names.insert("link.eml");
#endif
  const TNewFileFolder folder(dir / "");
  for (const std::string& name : names) EXPECT_EQ(folder.Write(name, "new", 0.0), TNewFile::NameTaken) << name;
  EXPECT_EQ(ReadFileBytes(dir / "file.eml"), "kept");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector(names.begin(), names.end())); // no temporary file either

  EXPECT_EQ(folder.Write("new.eml", "abc\r\n", 0.0), TNewFile::Written); // times: the export tests
  EXPECT_EQ(ReadFileBytes(dir / "new.eml"), "abc\r\n");
  names.insert("new.eml");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector(names.begin(), names.end()));

  const std::string missing = dir / "missing/";
  EXPECT_RAISES(TNewFileFolder(missing).Write("a.eml", "x", 0.0), EFCreateError,
                "Cannot create file " + missing + "a.eml");
}

#ifndef _WIN32

TEST(WriteFileReplacing, FailedWriteKeepsTheFormerFile) {
  TTempDir dir;
  WriteFileBytes(dir / "a.eml", "former contents");
  {
    TFileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Ok);
    EXPECT_RAISES(WriteFileReplacing(dir / "a.eml", std::string(100000, 'x')), EWriteError, "Stream write error");
    EXPECT_RAISES(WriteFileReplacing(dir / "absent.eml", std::string(100000, 'x')), EWriteError,
                  "Stream write error");
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.eml"), "former contents");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector<std::string>{"a.eml"}); // no temporary file, nothing new
}

// A file that cannot be written whole never appears under its name, nor
// under any other: an export that fails midway leaves no partial message.
TEST(TNewFileFolder, FailedWriteLeavesNothing) {
  TTempDir dir;
  {
    TFileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Ok);
    EXPECT_RAISES(TNewFileFolder(dir / "").Write("a.eml", std::string(100000, 'x'), 0.0), EWriteError,
                  "Stream write error");
  }
  EXPECT_TRUE(SortedNames(dir.Path()).empty());
}

TEST(WriteFileReplacing, ReplacedFileKeepsItsPermissions) {
  TTempDir dir;
  WriteFileBytes(dir / "a.eml", "old");
  fs::permissions(dir / "a.eml", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteFileReplacing(dir / "a.eml", "new");
  EXPECT_EQ(ReadFileBytes(dir / "a.eml"), "new");
  EXPECT_EQ(fs::status(dir / "a.eml").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(WriteFileReplacing, LinkIsFollowed) {
  TTempDir dir;
  fs::create_directory(dir / "real");
  WriteFileBytes(dir / "real/a.eml", "old");
  fs::create_symlink("real/a.eml", dir / "link.eml");
  WriteFileReplacing(dir / "link.eml", "new");
  EXPECT_TRUE(fs::is_symlink(dir / "link.eml"));
  EXPECT_EQ(ReadFileBytes(dir / "real/a.eml"), "new");
  EXPECT_EQ(SortedNames(dir / "real"), std::vector<std::string>{"a.eml"});
}

TEST(WriteFileReplacing, FileThatMayNotBeWrittenIsNotReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
  TTempDir dir;
  WriteFileBytes(dir / "a.eml", "old");
  fs::permissions(dir / "a.eml", fs::perms::owner_read);
  EXPECT_RAISES(WriteFileReplacing(dir / "a.eml", "new"), EFCreateError, "Cannot create file " + (dir / "a.eml"));
  EXPECT_EQ(ReadFileBytes(dir / "a.eml"), "old");
  EXPECT_EQ(SortedNames(dir.Path()), std::vector<std::string>{"a.eml"});
}

#endif

} // namespace
