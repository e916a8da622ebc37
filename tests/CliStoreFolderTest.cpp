// postvue-cli over a whole store folder: the folder tree, and every folder's
// messages exported into directories that follow it.
#include "CliRunner.h"
#include "StoreWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

using namespace postvue::testing;
namespace fs = std::filesystem;

namespace {

TTestMessage Message(const std::string& subject) {
  TTestMessage m;
  m.Subject = subject;
  m.Text = "Subject: " + subject + "\r\n\r\nBody of " + subject + "\r\n";
  return m;
}

class CliStoreFolder : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Store = Dir / "store";

  // Local Folders > Inbox (2 messages) > Work (1, in a store that may be
  // damaged), Drafts without a file.
  void SetUp() override {
    fs::create_directory(Store);
    MakeDbx({Message("One"), Message("Two")}).WriteFile(Store + "/Inbox.dbx");
    MakeDbx({Message("Three")}).WriteFile(Store + "/Work.dbx");
    MakeFolderList({{1, 0, "Local Folders", ""},
                    {4, 1, "Inbox", "Inbox.dbx"},
                    {5, 4, "Work", "Work.dbx"},
                    {6, 1, "Drafts", ""}})
        .WriteFile(Store + "/Folders.dbx");
  }

  void DamageWork() {
    TDbxImage work = MakeDbx({Message("Three")});
    work.U32(work.GetU32(0xE4), 0); // the index root's marker
    work.WriteFile(Store + "/Work.dbx");
  }
};

TEST_F(CliStoreFolder, FoldersListsTheTree) {
  TCliRun run = RunCli(Dir, {"folders", Store});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "Local Folders\t0\tno file\n"
                     "  Inbox\t2\tInbox.dbx\n"
                     "    Work\t1\tWork.dbx\n"
                     "  Drafts\t0\tno file\n");
  EXPECT_EQ(run.Err, "");

  // An unreadable store is named; the others are still listed; the status says so.
  DamageWork();
  run = RunCli(Dir, {"folders", "--json", Store});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("{\"name\": \"Inbox\", \"path\": [\"Local Folders\", \"Inbox\"], \"count\": 2, "
                         "\"file\": \"Inbox.dbx\"}"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("\"count\": null, \"file\": \"Work.dbx\", \"error\": \"Wrong object marker.\"}"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(run.Err, "postvue-cli: Local Folders/Inbox/Work (Work.dbx): Wrong object marker.\n");
}

TEST_F(CliStoreFolder, ExportMakesADirectoryPerFolder) {
  const std::string out = Dir / "out";
  const TCliRun run = RunCli(Dir, {"export", Store, out});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadFileBytes(out + "/Local Folders/Inbox/0000 - One.eml"), "Subject: One\r\n\r\nBody of One\r\n");
  EXPECT_TRUE(fs::exists(out + "/Local Folders/Inbox/0001 - Two.eml"));
  EXPECT_TRUE(fs::exists(out + "/Local Folders/Inbox/Work/0000 - Three.eml"));
  EXPECT_TRUE(fs::is_directory(out + "/Local Folders/Drafts"));
  EXPECT_EQ(run.Err, "postvue-cli: exported 3, errors 0\n");
}

TEST_F(CliStoreFolder, ExportMboxNestsSubfoldersInSbdDirectories) {
  const std::string out = Dir / "out";
  const TCliRun run = RunCli(Dir, {"export", "--mbox", Store, out});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadFileBytes(out + "/Local Folders"), ""); // no messages, but the folder is there to import
  const std::string inbox = ReadFileBytes(out + "/Local Folders.sbd/Inbox");
  EXPECT_EQ(inbox.substr(0, 5), "From ");
  EXPECT_NE(inbox.find("Body of Two"), std::string::npos);
  EXPECT_NE(ReadFileBytes(out + "/Local Folders.sbd/Inbox.sbd/Work").find("Body of Three"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(out + "/Local Folders.sbd/Drafts"), "");
}

TEST_F(CliStoreFolder, UnreadableStoreIsNamedAndTheOthersStillGoOut) {
  DamageWork();
  const std::string out = Dir / "out";
  const TCliRun run = RunCli(Dir, {"export", Store, out});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(fs::exists(out + "/Local Folders/Inbox/0001 - Two.eml"));
  EXPECT_NE(run.Err.find("postvue-cli: Local Folders/Inbox/Work (Work.dbx): Wrong object marker.\n"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("exported 2, errors 1"), std::string::npos) << run.Err;
}

// Names that are unsafe or alike once made safe: every folder gets a
// directory of its own inside OUTDIR, and nothing is written elsewhere. The
// names are valid on Windows too (no device name, no dot at the end), so the
// export copies there intact.
TEST_F(CliStoreFolder, FolderNamesAreMadeSafeAndKeptApart) {
  MakeFolderList({{1, 0, "..", "Inbox.dbx"}, {2, 0, "a/b", "Work.dbx"}, {3, 0, "a_b", ""}, {4, 0, "con", ""},
                  {5, 0, "Sent. ", ""}, {6, 0, "COM0", ""}, {7, 0, "lpt\xB3", ""}, {8, 0, "CONIN$", ""},
                  {9, 0, "Clock$.txt", ""}})
      .WriteFile(Store + "/Folders.dbx");
  const std::string out = Dir / "deep/out";
  fs::create_directory(Dir / "deep");
  const TCliRun run = RunCli(Dir, {"export", Store, out});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(SortedNames(out), (std::vector<std::string>{"Sent", "_", "_COM0", "_CONIN$", "_Clock$.txt", "_con",
                                                        "_lpt\xC2\xB3", "a_b", "a_b (2)"}));
  EXPECT_TRUE(fs::exists(out + "/_/0001 - Two.eml"));
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "deep"), fs::directory_iterator()), 1);
}

TEST_F(CliStoreFolder, RecoverGoesThroughEveryStore) {
  const std::string out = Dir / "out";
  const TCliRun run = RunCli(Dir, {"recover", Store, out});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(fs::exists(out + "/Local Folders/Inbox/0001 - Two.eml"));
  EXPECT_TRUE(fs::exists(out + "/Local Folders/Inbox/Work/0000 - Three.eml"));
  EXPECT_NE(run.Err.find("recovered 3, removed found 0, incomplete 0, errors 0"), std::string::npos) << run.Err;
}

} // namespace
