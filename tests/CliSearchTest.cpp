// postvue-cli search over a store and over a store folder, as a script runs it.
#include "CliRunner.h"
#include "StoreWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace postvue::testing;
namespace fs = std::filesystem;

namespace {

TTestMessage Message(const std::string& sender, const std::string& subject, const std::string& text, int day) {
  TTestMessage m;
  m.SenderName = sender;
  m.Subject = subject;
  m.Received = FileTimeOf(2004, 3, day, 10);
  m.Text = "From: " + sender + " <someone@example.com>\r\n" + text;
  return m;
}

class CliSearch : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Store = Dir / "Inbox.dbx";

  void SetUp() override {
    MakeDbx({Message("Anna Berg", "Meeting notes", "Subject: Meeting notes\r\n\r\nThe budget is attached.\r\n", 15),
             // The list keeps the subject in Windows-1252; the text has it as an encoded word.
             Message("Hans M\xFC" "ller", "Caf\xE9 plans", "Subject: =?utf-8?q?Caf=C3=A9_plans?=\r\n\r\nLunch.\r\n", 16),
             Message("Bob", "Invoice", "Subject: Invoice\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                                       "The bud=\r\nget figures.\r\n", 17)})
        .WriteFile(Store);
  }
};

TEST_F(CliSearch, FindsWordsInTheDecodedMessages) {
  TCliRun run = RunCli(Dir, {"search", Store, "BUDGET"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "0\t2004-03-15 10:00:00\tAnna Berg\tMeeting notes\n"
                     "2\t2004-03-17 10:00:00\tBob\tInvoice\n");
  EXPECT_EQ(run.Err, "postvue-cli: found 2 messages\n");

  run = RunCli(Dir, {"search", "--json", "--since", "2004-03-16", "--until", "2004-03-16", Store, "cafe", "muller"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  std::string storeJson; // the path as a JSON string holds it (Windows paths have backslashes)
  for (const char c : Store) storeJson += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(run.Out, "{\"store\": \"" + storeJson + "\", \"index\": 1, \"received\": \"2004-03-16 10:00:00\", "
                     "\"sender\": \"Hans M\xC3\xBCller\", \"subject\": \"Caf\xC3\xA9 plans\"}\n");

  // Nothing found is no failure; the fields asked for are the only ones looked at.
  run = RunCli(Dir, {"search", Store, "budget", "--in", "from,subject"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "postvue-cli: found 0 messages\n");
  EXPECT_EQ(RunCli(Dir, {"search", Store, "\"budget figures\""}).Out, "2\t2004-03-17 10:00:00\tBob\tInvoice\n");
  EXPECT_EQ(RunCli(Dir, {"search", Store, "\"figures budget\""}).Out, "");
  EXPECT_EQ(RunCli(Dir, {"search", Store, "bud get"}).Out, "");
}

TEST_F(CliSearch, UsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"search", Store}, {"search", Store, "\"\""}, {"search", "--in", "date", Store, "x"},
           {"search", "--since", "2004-13-01", Store, "x"}, {"search", "--all", Store, "x"}, {"search"}}) {
    const TCliRun run = RunCli(Dir, args);
    EXPECT_EQ(run.Status, 2) << args.size();
    EXPECT_NE(run.Err.find("Usage: postvue-cli search"), std::string::npos) << run.Err;
  }
}

TEST_F(CliSearch, StoreFolderInTreeOrderAnUnreadableStoreNamed) {
  const std::string folder = Dir / "store";
  fs::create_directory(folder);
  fs::copy_file(Store, folder + "/Inbox.dbx");
  TDbxImage work = MakeDbx({Message("Carol", "Budget", "Subject: Budget\r\n\r\nFigures.\r\n", 20)});
  work.WriteFile(folder + "/Work.dbx");
  MakeFolderList({{1, 0, "Local Folders", ""}, {4, 1, "Work", "Work.dbx"}, {5, 1, "Inbox", "Inbox.dbx"}})
      .WriteFile(folder + "/Folders.dbx");

  TCliRun run = RunCli(Dir, {"search", folder, "budget"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Local Folders/Work\t0\t2004-03-20 10:00:00\tCarol\tBudget\n"
                     "Local Folders/Inbox\t0\t2004-03-15 10:00:00\tAnna Berg\tMeeting notes\n"
                     "Local Folders/Inbox\t2\t2004-03-17 10:00:00\tBob\tInvoice\n");
  EXPECT_EQ(run.Err, "postvue-cli: found 3 messages in 2 folders\n");

  work.U32(work.GetU32(0xE4), 0); // the index root's marker
  work.WriteFile(folder + "/Work.dbx");
  run = RunCli(Dir, {"search", "--json", folder, "budget"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out.find("{\"folder\": \"Local Folders/Inbox\", \"store\": \""), 0u) << run.Out;
  EXPECT_EQ(run.Err, "postvue-cli: Local Folders/Work (Work.dbx): Wrong object marker.\n"
                     "postvue-cli: found 2 messages in 1 folder, errors 1\n");
}

} // namespace
