#include "MbxReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"

using namespace postvue;
using namespace postvue::testing;

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
