// postvue-cli over a whole store folder: the folder tree, and every folder's
// messages exported into directories that follow it.
#include "CliRunner.h"
#include "StoreWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

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

} // namespace
