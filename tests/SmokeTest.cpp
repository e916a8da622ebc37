#include "DbxReader.h"
#include "MbxReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"

using namespace postvue;
using namespace postvue::testing;

TEST(Smoke, DbxRoundTrip) {
  TTempDir dir;
  std::vector<TTestMessage> messages;
  for (int i = 0; i < 200; ++i) {
    TTestMessage m;
    m.Subject = "Subject " + std::to_string(i);
    m.SenderName = "Ann";
    m.Text = "From: Ann\r\nSubject: x\r\n\r\n" + std::string(static_cast<std::size_t>(i * 37), 'b');
    messages.push_back(m);
  }
  MakeDbx(messages, {"Inbox", 3, 64}).WriteFile(dir / "a.dbx");
  TDBXReader reader;
  reader.SetFileName(dir / "a.dbx");
  reader.Load();
  ASSERT_EQ(reader.GetCount(), 200);
  EXPECT_EQ(reader.GetFolderName(), "Inbox");
  for (int i = 0; i < 200; ++i) {
    TMessageRecord r;
    reader.GetMessage(i, r);
    EXPECT_EQ(r.Subject.Str(), messages[static_cast<std::size_t>(i)].Subject);
    EXPECT_EQ(reader.GetMessageText(i), messages[static_cast<std::size_t>(i)].Text);
    EXPECT_EQ(reader.GetMessageHeader(i), "From: Ann\r\nSubject: x\r");
  }
}

TEST(Smoke, MbxRoundTrip) {
  TTempDir dir;
  MakeMbx({{"From: Ann\r\nSubject: Hi\r\n\r\nbody", 7}, {"Subject: two\r\n\r\nb2", 8}}).WriteFile(dir / "b.mbx");
  TMBXReader reader;
  reader.SetFileName(dir / "b.mbx");
  reader.Load();
  ASSERT_EQ(reader.GetCount(), 2);
  TMessageRecord r;
  reader.GetMessage(0, r);
  EXPECT_EQ(r.SenderName.Str(), " Ann");
  EXPECT_EQ(r.Subject.Str(), " Hi");
  EXPECT_EQ(reader.GetMessageText(1), "Subject: two\r\n\r\nb2");
}

#include "DateTime.h"

TEST(Smoke, DecodeDateTime) {
  auto f = DecodeDateTime(FileTimeToDateTimeSafe(FileTimeOf(2004, 1, 1, 12, 0, 0)));
  EXPECT_EQ(f.Year, 2004);
  EXPECT_EQ(f.Month, 1);
  EXPECT_EQ(f.Day, 1);
  EXPECT_EQ(f.Hour, 12);
  f = DecodeDateTime(-109204.5);
  EXPECT_EQ(f.Year, 1601);
  EXPECT_EQ(f.Day, 1);
  EXPECT_EQ(f.Hour, 12);
  f = DecodeDateTime(FileTimeToDateTimeSafe(FileTimeOf(2021, 12, 12, 23, 59, 59, 999)));
  EXPECT_EQ(f.Day, 12);
  EXPECT_EQ(f.Second, 59);
  EXPECT_EQ(f.Millisecond, 999);
}
