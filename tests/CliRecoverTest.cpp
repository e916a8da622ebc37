// postvue-cli recover and export --mbox as a process: the files written
// (and nothing outside the folder asked for), the lines on standard error,
// exit statuses, file times.
#include "MessageFile.h"
#include "CliRunner.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace postvue;
using namespace postvue::testing;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

// Every path below dir, relative to it, sorted.
std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    paths.push_back(fs::relative(entry.path(), dir).generic_string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The file's modification time in seconds since 1970, UTC.
long long ModifiedAt(const std::string& path) {
  const auto time = fs::last_write_time(path);
#ifdef _MSC_VER
  const auto system = std::chrono::clock_cast<std::chrono::system_clock>(time);
#else
  const auto system = std::chrono::file_clock::to_sys(time);
#endif
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

long long Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class CliRecoverTest : public ::testing::Test {
protected:
  TTempDir Dir;

  TCliRun Run(const std::vector<std::string>& args) { return RunCli(Dir, args); }

  // What save writes for message index of store.
  std::string Saved(const std::string& store, int index) {
    const std::string file = Dir / "saved.eml";
    EXPECT_EQ(Run({"save", store, std::to_string(index), file}).Status, 0);
    const std::string bytes = ReadFileBytes(file);
    fs::remove(file);
    return bytes;
  }
};

TTestMessage Message(const std::string& subject, const std::string& text, std::uint64_t received = 0) {
  TTestMessage m;
  m.Subject = subject;
  m.Text = text;
  m.Received = received;
  return m;
}

// Three listed messages with awkward line ends, a removed one, and the
// index tree at the end of the file.
struct TStore {
  TDbxImage Image;
  std::uint32_t Root = 0;
};

TStore ThreeAndARemoved() {
  TStore store;
  std::vector<std::uint32_t> infos;
  const TTestMessage listed[] = {
      Message("Alpha", "Subject: Alpha\r\nFrom: a@example.com\r\n\r\nline one\nline two\rline three",
              FileTimeOf(2004, 1, 1, 12, 0, 0)),
      Message("Beta", "Subject: Beta\n\nbody ends in LF\n", FileTimeOf(1999, 12, 31, 23, 59, 59, 999)),
      // Blocks of 16: a zero ends its block's share of the text, the next block goes on.
      Message("Gamma", "Subject: Gamma\r\n\r\nbefore" + std::string(1, '\0') + "droppedafter it"),
  };
  for (const auto& m : listed) infos.push_back(store.Image.AddMessageInfo(PropertiesOf(m, store.Image.AddText(m.Text, 16))));
  store.Image.AddText("Subject: Gone\r\nFrom: b@example.com\r\n\r\nremoved but still here\r\n", 16);
  store.Root = store.Image.BuildTree(infos, 2);
  return store;
}

// ---------------------------------------------------------------- recover

TEST_F(CliRecoverTest, ListedMessagesComeOutAsSaveWritesThemAndRemovedOnesApart) {
  ThreeAndARemoved().Image.WriteFile(Dir / "a.dbx");
  const std::string out = Dir / "out";
  const TCliRun run = Run({"recover", Dir / "a.dbx", out});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "postvue-cli: recovered 4, removed found 1, incomplete 0, errors 0\n");
  EXPECT_EQ(Tree(out), (std::vector<std::string>{"0000 - Alpha.eml", "0001 - Beta.eml", "0002 - Gamma.eml", "removed",
                                                 "removed/0000 - Gone.eml"}));
  EXPECT_EQ(ReadFileBytes(out + "/0000 - Alpha.eml"), Saved(Dir / "a.dbx", 0));
  EXPECT_EQ(ReadFileBytes(out + "/0001 - Beta.eml"), Saved(Dir / "a.dbx", 1));
  EXPECT_EQ(ReadFileBytes(out + "/0002 - Gamma.eml"), Saved(Dir / "a.dbx", 2));
  EXPECT_EQ(ReadFileBytes(out + "/0000 - Alpha.eml"),
            "Subject: Alpha\r\nFrom: a@example.com\r\n\r\nline one\r\nline two\r\nline three\r\n");
  EXPECT_EQ(ReadFileBytes(out + "/0002 - Gamma.eml"), "Subject: Gamma\r\n\r\nbeforeafter it\r\n");
  EXPECT_EQ(ReadFileBytes(out + "/removed/0000 - Gone.eml"),
            "Subject: Gone\r\nFrom: b@example.com\r\n\r\nremoved but still here\r\n");

  // Again into the same folder: everything is there already, nothing is written twice.
  const TCliRun again = Run({"recover", Dir / "a.dbx", out});
  EXPECT_EQ(again.Status, 0);
  EXPECT_EQ(again.Err, "postvue-cli: recovered 0, unchanged 4, removed found 1, incomplete 0, errors 0\n");
  EXPECT_EQ(Tree(out).size(), 5u);
}

TEST_F(CliRecoverTest, FilesTakeTheReceivedTime) {
  ThreeAndARemoved().Image.WriteFile(Dir / "a.dbx");
  const long long before = Now();
  ASSERT_EQ(Run({"recover", Dir / "a.dbx", Dir / "out"}).Status, 0);
  ASSERT_EQ(Run({"export", Dir / "a.dbx", Dir / "exported"}).Status, 0);
  for (const std::string folder : {"out", "exported"}) {
    EXPECT_EQ(ModifiedAt(Dir / folder + "/0000 - Alpha.eml"), 1072958400) << folder; // 2004-01-01 12:00:00 UTC
    EXPECT_EQ(ModifiedAt(Dir / folder + "/0001 - Beta.eml"), 946684799) << folder;   // 1999-12-31 23:59:59 UTC
    EXPECT_GE(ModifiedAt(Dir / folder + "/0002 - Gamma.eml"), before - 2) << folder;  // no time given: left as written
  }
  EXPECT_GE(ModifiedAt(Dir / "out/removed/0000 - Gone.eml"), before - 2);
}

TEST_F(CliRecoverTest, StoreWithoutItsIndexStillGivesEveryMessage) {
  TStore store = ThreeAndARemoved();
  store.Image.U32(store.Root, 0); // the root's marker
  store.Image.WriteFile(Dir / "a.dbx");
  const std::string out = Dir / "out";
  const TCliRun run = Run({"recover", Dir / "a.dbx", out});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  char root[16];
  std::snprintf(root, sizeof root, "0x%X", store.Root);
  EXPECT_EQ(run.Err, "postvue-cli: at "s + root +
                         ": index node with a wrong marker: the messages below it are searched for in the file\n"
                         "postvue-cli: the store's index cannot be read: every message found is in " +
                         out + ", listed and removed ones alike\n"
                         "postvue-cli: recovered 4, removed found 0, incomplete 0, errors 1\n");
  EXPECT_EQ(Tree(out), (std::vector<std::string>{"0000 - Alpha.eml", "0001 - Beta.eml", "0002 - Gamma.eml",
                                                 "0003 - Gone.eml"}));
  EXPECT_EQ(ReadFileBytes(out + "/0001 - Beta.eml"), "Subject: Beta\r\n\r\nbody ends in LF\r\n");
}

TEST_F(CliRecoverTest, FileCutInsideAMessageGivesWhatIsThereAndSaysSo) {
  const std::string text = "Subject: Cut\r\n\r\n" + std::string(100, 'x') + "\r\n";
  TDbxImage image = MakeDbx({Message("Whole", "Subject: Whole\r\n\r\nall here\r\n"), Message("Cut", text)}, {"Inbox", 51, 16});
  image.Data.resize(image.Data.size() - 0x27C - 60); // the tree, the last object and the end of the text
  image.WriteFile(Dir / "a.dbx");
  const TCliRun run = Run({"recover", Dir / "a.dbx", Dir / "out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Err.find("postvue-cli: incomplete: 0001 - Cut.eml: "), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("postvue-cli: recovered 2, removed found 0, incomplete 1, errors "), std::string::npos);
  const std::string cut = ReadFileBytes(Dir / "out/0001 - Cut.eml");
  EXPECT_EQ(cut.substr(0, 16), "Subject: Cut\r\n\r\n");
  EXPECT_LT(cut.size(), text.size());
  EXPECT_EQ(cut, CrLfLines(text.substr(0, cut.size() - 2)));
}

// File names are made here, never taken from the store: whatever a subject
// holds, every file lands in the folder asked for.
TEST_F(CliRecoverTest, NothingIsWrittenOutsideTheFolder) {
  const std::vector<std::string> subjects = {"../../escape", "/etc/passwd", "..", ".", "a\\..\\b:c*?", ""};
  std::vector<TTestMessage> messages;
  for (const auto& s : subjects) messages.push_back(Message(s, "Subject: " + s + "\r\n\r\nbody\r\n"));
  TDbxImage image = MakeDbx(messages, {"Inbox", 51, 16});
  image.AddText("Subject: ../../../removed\r\n\r\nold\r\n", 16);
  fs::create_directories(Dir / "store");
  image.WriteFile(Dir / "store/a.dbx");
  fs::create_directories(Dir / "deep/down");
  const TCliRun run = Run({"recover", Dir / "store/a.dbx", Dir / "deep/down/out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(Tree(Dir / "deep"),
            (std::vector<std::string>{"down", "down/out", "down/out/0000 - .._.._escape.eml",
                                      "down/out/0001 - _etc_passwd.eml", "down/out/0002 - ...eml",
                                      "down/out/0003 - ..eml", "down/out/0004 - a_.._b_c__.eml", "down/out/0005.eml",
                                      "down/out/removed", "down/out/removed/0000 - .._.._.._removed.eml"}));
  EXPECT_EQ(SortedNames(Dir.Path()), (std::vector<std::string>{"deep", "store"}));
  EXPECT_EQ(SortedNames(Dir / "store"), std::vector<std::string>{"a.dbx"});
}

#ifndef _WIN32
// A link is a name taken: the message goes under a free variant of its name.
TEST_F(CliRecoverTest, LinksInTheFolderAreNotWrittenThrough) {
  ThreeAndARemoved().Image.WriteFile(Dir / "a.dbx");
  const std::string out = Dir / "out";
  fs::create_directories(out);
  fs::create_directories(Dir / "elsewhere");
  WriteFileBytes(Dir / "victim", "keep me");
  fs::create_symlink(Dir / "victim", out + "/0001 - Beta.eml");
  fs::create_directory_symlink(Dir / "elsewhere", out + "/removed");
  const TCliRun run = Run({"recover", Dir / "a.dbx", out});
  EXPECT_EQ(run.Status, 1); // a file that could not be written
  EXPECT_EQ(ReadFileBytes(Dir / "victim"), "keep me");
  EXPECT_TRUE(fs::is_empty(Dir / "elsewhere"));
  EXPECT_EQ(run.Err, "postvue-cli: removed/0000 - Gone.eml: Cannot create file " + out + "/removed.\n" +
                         "postvue-cli: recovered 3, removed found 1, incomplete 0, errors 1, under a new name 1 "
                         "(their names were taken)\n");
  EXPECT_EQ(ReadFileBytes(out + "/0000 - Alpha.eml").substr(0, 16), "Subject: Alpha\r\n");
  EXPECT_EQ(ReadFileBytes(out + "/0001 - Beta (2).eml").substr(0, 15), "Subject: Beta\r\n");
}
#endif

TEST_F(CliRecoverTest, FailuresAndUsage) {
  ThreeAndARemoved().Image.WriteFile(Dir / "a.dbx");
  const TCliRun usage1 = Run({"recover", Dir / "a.dbx"});
  EXPECT_EQ(usage1.Status, 2);
  EXPECT_NE(usage1.Err.find("recover STORE DIR"), std::string::npos);
  EXPECT_EQ(Run({"recover", Dir / "a.dbx", Dir / "o", "extra"}).Status, 2);

  const TCliRun missing = Run({"recover", Dir / "missing.dbx", Dir / "out"});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Err, "postvue-cli: Cannot open file " + (Dir / "missing.dbx") + ".\n" +
                         ReasonLine(std::errc::no_such_file_or_directory));
  EXPECT_FALSE(fs::exists(Dir / "out")); // the folder is made only for a store that opens

  WriteFileBytes(Dir / "other", "FMDF not a store");
  const TCliRun other = Run({"recover", Dir / "other", Dir / "out"});
  EXPECT_EQ(other.Status, 1);
  EXPECT_EQ(other.Err, "postvue-cli: File is not in supported format.\n");

  WriteFileBytes(Dir / "plain", "a file");
  const TCliRun notFolder = Run({"recover", Dir / "a.dbx", Dir / "plain"});
  EXPECT_EQ(notFolder.Status, 1);
  EXPECT_EQ(notFolder.Err,
            "postvue-cli: Cannot create folder " + (Dir / "plain") + ".\npostvue-cli: a file of that name is there\n");
  EXPECT_EQ(notFolder.Out, "");
}

TEST_F(CliRecoverTest, MbxStoreWhoseWalkBreaks) {
  TMbxImage image = MakeMbx({{"Subject: one\r\n\r\n1\r\n", 1}, {"Subject: two\r\n\r\n2\r\n", 2}, {"Subject: three\r\n\r\n3\r\n", 3}});
  image.U32(84 + 8, 0); // the first message's BlockLength
  image.WriteFile(Dir / "a.mbx");
  const TCliRun run = Run({"recover", Dir / "a.mbx", Dir / "out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "postvue-cli: at 0x54: message header whose BlockLength is below 16: the messages "
                     "after it are searched for in the file\n"
                     "postvue-cli: recovered 3, removed found 2, incomplete 0, errors 1\n");
  EXPECT_EQ(Tree(Dir / "out"), (std::vector<std::string>{"0000 - one.eml", "removed", "removed/0000 - two.eml",
                                                          "removed/0001 - three.eml"}));
  EXPECT_EQ(ReadFileBytes(Dir / "out/removed/0001 - three.eml"), "Subject: three\r\n\r\n3\r\n");
}

TEST_F(CliRecoverTest, RealStoreWithALeftover) {
  const std::string store = std::string(POSTVUE_REAL_STORES) + "/fragment-left.dbx";
  const std::string clean = std::string(POSTVUE_REAL_STORES) + "/fragment-clean.dbx";
  if (!fs::exists(store)) GTEST_SKIP() << "real store not present (needs ../shared): " << store;
  const TCliRun run = Run({"recover", store, Dir / "out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "postvue-cli: recovered 2, removed found 1, incomplete 0, errors 0\n");
  EXPECT_EQ(Tree(Dir / "out"),
            (std::vector<std::string>{"0000 - Please read you won't be sorry.........eml", "removed",
                                      "removed/0000 - [fmII] centericq 4.7.5 released (Default branch).eml"}));
  EXPECT_EQ(ReadFileBytes(Dir / "out/0000 - Please read you won't be sorry.........eml"), Saved(store, 0));
  EXPECT_EQ(ReadFileBytes(Dir / "out/removed/0000 - [fmII] centericq 4.7.5 released (Default branch).eml"),
            Saved(clean, 0));
}

// ---------------------------------------------------------------- export --mbox

TEST_F(CliRecoverTest, MboxSeparatorsQuotingAndLineEnds) {
  TTestMessage first = Message("one",
                               "From: Ann <ann@example.com>\r\nSubject: one\r\n\r\n"
                               "From here\r\n>From there\r\n>>From afar\rFromage\nFrom:\r\n>From\r\n From x\r\nFrom\r\n"
                               "last line without its end",
                               FileTimeOf(2004, 1, 1, 12, 0, 0));
  first.SenderAddress = "ann@example.com";
  TTestMessage second = Message("two", "From: \"Bob\" <bob@example.org>\r\nSubject: two\r\n\r\nFrom the start\r\n",
                                FileTimeOf(2009, 2, 3, 4, 5, 6));
  second.SenderName = "Bob"; // no address stored: the From line gives it
  TTestMessage third = Message("three", "Subject: three\n\nno sender, no date\n");
  MakeDbx({first, second, third}).WriteFile(Dir / "a.dbx");

  const TCliRun run = Run({"export", "--mbox", Dir / "a.dbx", Dir / "all.mbox"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "postvue-cli: exported 3, errors 0\n");
  EXPECT_EQ(ReadFileBytes(Dir / "all.mbox"), "From ann@example.com Thu Jan  1 12:00:00 2004\n"
                                             "From: Ann <ann@example.com>\nSubject: one\n\n"
                                             ">From here\n>>From there\n>>>From afar\nFromage\nFrom:\n>From\n From x\nFrom\n"
                                             "last line without its end\n"
                                             "\n"
                                             "From bob@example.org Tue Feb  3 04:05:06 2009\n"
                                             "From: \"Bob\" <bob@example.org>\nSubject: two\n\n>From the start\n"
                                             "\n"
                                             "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n"
                                             "Subject: three\n\nno sender, no date\n"
                                             "\n");
  EXPECT_EQ(SortedNames(Dir.Path()), (std::vector<std::string>{"a.dbx", "all.mbox"})); // no temporary file left
}

TEST_F(CliRecoverTest, MboxFromAnMbxStoreTakesTheAddressFromTheText) {
  MakeMbx({{"From: Carol Example <carol@example.net>\r\nSubject: hi\r\n\r\nFrom me\r\n", 1},
           {"From: dave@example.net (Dave)\r\n\r\nx", 2},
           {"From: nobody at all\r\n\r\ny", 3}})
      .WriteFile(Dir / "a.mbx");
  ASSERT_EQ(Run({"export", "--mbox", Dir / "a.mbx", Dir / "a.mbox"}).Status, 0);
  EXPECT_EQ(ReadFileBytes(Dir / "a.mbox"), "From carol@example.net Thu Jan  1 00:00:00 1970\n"
                                           "From: Carol Example <carol@example.net>\nSubject: hi\n\n>From me\n\n"
                                           "From dave@example.net Thu Jan  1 00:00:00 1970\n"
                                           "From: dave@example.net (Dave)\n\nx\n\n"
                                           "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n"
                                           "From: nobody at all\n\ny\n\n");
}

TEST_F(CliRecoverTest, MboxReplacesAFileWholeOrNotAtAll) {
  MakeDbx({Message("one", "Subject: one\r\n\r\n1"), Message("no text", ""), Message("two", "Subject: two\r\n\r\n2")})
      .WriteFile(Dir / "a.dbx");
  WriteFileBytes(Dir / "old.mbox", std::string(10000, 'o'));
  const TCliRun run = Run({"export", "--mbox", Dir / "a.dbx", Dir / "old.mbox"});
  EXPECT_EQ(run.Status, 1); // one message could not be read; the others are written
  EXPECT_EQ(run.Err, "postvue-cli: message 1: No text found.\npostvue-cli: exported 2, errors 1\n");
  EXPECT_EQ(ReadFileBytes(Dir / "old.mbox"), "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\nSubject: one\n\n1\n\n"
                                             "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\nSubject: two\n\n2\n\n");

  const TCliRun missingFolder = Run({"export", "--mbox", Dir / "a.dbx", Dir / "none/x.mbox"});
  EXPECT_EQ(missingFolder.Status, 1);
  EXPECT_EQ(missingFolder.Err, "postvue-cli: Cannot create file " + (Dir / "none/x.mbox") + ".\n" +
                                   ReasonLine(std::errc::no_such_file_or_directory));
  EXPECT_FALSE(fs::exists(Dir / "none"));

  WriteFileBytes(Dir / "broken.dbx", "\xCF\xAD\x12\xFE short");
  const TCliRun broken = Run({"export", "--mbox", Dir / "broken.dbx", Dir / "old.mbox"});
  EXPECT_EQ(broken.Status, 1);
  EXPECT_EQ(broken.Err, "postvue-cli: Stream read error.\n" + kRecoverHint);
  EXPECT_EQ(ReadFileBytes(Dir / "old.mbox").substr(0, 10), "From MAILE"); // left as it was
  EXPECT_EQ(SortedNames(Dir.Path()), (std::vector<std::string>{"a.dbx", "broken.dbx", "old.mbox"}));

  // No message could be read: the file stays as it was, not emptied.
  MakeDbx({Message("no text", ""), Message("none either", "")}).WriteFile(Dir / "textless.dbx");
  const TCliRun none = Run({"export", "--mbox", Dir / "textless.dbx", Dir / "old.mbox"});
  EXPECT_EQ(none.Status, 1);
  EXPECT_EQ(none.Err, "postvue-cli: message 0: No text found.\npostvue-cli: message 1: No text found.\npostvue-cli: " +
                          (Dir / "old.mbox") + " was left as it was: no message could be written\n"
                          "postvue-cli: exported 0, errors 2\n");
  EXPECT_EQ(ReadFileBytes(Dir / "old.mbox").substr(0, 10), "From MAILE");
}

TEST_F(CliRecoverTest, MboxUsage) {
  MakeDbx({Message("one", "Subject: one\r\n\r\n1")}).WriteFile(Dir / "a.dbx");
  EXPECT_EQ(Run({"export", "--mbox", Dir / "a.dbx"}).Status, 2); // not export STORE="--mbox" DIR=...
  EXPECT_EQ(Run({"export", "--mbox", Dir / "a.dbx", Dir / "x", Dir / "y"}).Status, 2);
  const TCliRun help = Run({"--help"});
  EXPECT_NE(help.Out.find("export --mbox STORE FILE"), std::string::npos);
  EXPECT_NE(help.Out.find("recover STORE DIR"), std::string::npos);
}

} // namespace
