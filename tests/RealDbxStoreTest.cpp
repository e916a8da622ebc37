// Stores written by the mail program itself. The expected values were read
// out of these files byte by byte, apart from the reader.
#include "DateTime.h"
#include "DbxReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <filesystem>

using namespace postvue;
using namespace postvue::testing;

namespace {

std::string RealStore(const char* name) { return std::string(POSTVUE_REAL_STORES) + "/" + name; }

#define SKIP_WITHOUT(path)                                                                                    \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real store not present (needs ../shared): " << (path)

struct TRealMessage {
  const char* File;
  const char* Folder;
  const char* Subject;
  const char* SenderName;
  const char* SenderAddress;
  std::uint32_t MsgIndex, Flags, TextOffset, Size;
  std::int32_t Priority;
  TDateTimeFields Received; // UTC, as stored
  const char* FirstLine;
  std::size_t HeaderLength; // where the first blank line begins
};

void PrintTo(const TRealMessage& c, std::ostream* os) { *os << c.File; }

class RealDbxStore : public ::testing::TestWithParam<TRealMessage> {};

TEST_P(RealDbxStore, OneMessageAsStored) {
  const TRealMessage& e = GetParam();
  const std::string path = RealStore(e.File);
  SKIP_WITHOUT(path);

  TMailbaseReader probe;
  probe.SetFileName(path);
  EXPECT_EQ(probe.Format, sfDBX);

  TDBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  ASSERT_TRUE(reader.Active);
  ASSERT_EQ(reader.GetCount(), 1);
  EXPECT_EQ(reader.GetFolderName(), e.Folder);

  TMessageRecord r;
  reader.GetMessage(0, r);
  EXPECT_EQ(r.Subject.Str(), e.Subject);
  EXPECT_EQ(r.SenderName.Str(), e.SenderName);
  EXPECT_EQ(r.SenderAddress.Str(), e.SenderAddress);
  EXPECT_EQ(r.MsgIndex, e.MsgIndex);
  EXPECT_EQ(r.Flags, e.Flags);
  EXPECT_EQ(r.TextOffset, e.TextOffset);
  EXPECT_EQ(r.Priority, e.Priority);
  EXPECT_EQ(r.Size, e.Size);
  const TDateTimeFields t = DecodeDateTime(r.Received);
  EXPECT_EQ(t.Year, e.Received.Year);
  EXPECT_EQ(t.Month, e.Received.Month);
  EXPECT_EQ(t.Day, e.Received.Day);
  EXPECT_EQ(t.Hour, e.Received.Hour);
  EXPECT_EQ(t.Minute, e.Received.Minute);
  EXPECT_EQ(t.Second, e.Received.Second);
  EXPECT_EQ(t.Millisecond, e.Received.Millisecond);

  const std::string text = reader.GetMessageText(0);
  EXPECT_EQ(text.size(), e.Size); // no zero byte inside, nothing from free space
  EXPECT_EQ(text.substr(0, text.find("\r\n")), e.FirstLine);
  EXPECT_EQ(text.find("\r\n\r\n"), e.HeaderLength);
  EXPECT_EQ(reader.GetMessageHeader(0), text.substr(0, e.HeaderLength + 1));

  TMessageRecord none;
  reader.GetMessage(1, none);
  EXPECT_EQ(none.Size, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Real, RealDbxStore,
    ::testing::Values(
        TRealMessage{"Inbox.dbx", "Inbox", "Welcome to Outlook Express 6", "Microsoft Outlook Express Team",
                     "msoe@microsoft.com", 2, 0x01000081, 0xEAD4, 10139, 3, {2021, 12, 12, 4, 45, 59, 276},
                     "From: \"Microsoft Outlook Express Team\" <msoe@microsoft.com>", 340},
        TRealMessage{"fragment-clean.dbx", "test1", "[fmII] centericq 4.7.5 released (Default branch)",
                     "noreply@freshmeat.net", "noreply@freshmeat.net", 2, 0x01020081, 0xEAD4, 2710, 3,
                     {2002, 6, 17, 20, 2, 30, 0}, "Return-path: <noreply@freshmeat.net>", 1473},
        // Free space still holds bytes of a removed message; only the live one is read.
        TRealMessage{"fragment-left.dbx", "test", "Please read you won't be sorry........", "Wealth_Enterprises_2002",
                     "off_1@webstation.com", 2, 0x01020081, 0xEAD4, 16993, 3, {2002, 4, 14, 0, 27, 57, 0},
                     "Return-path: <off_1@webstation.com>", 1334}),
    [](const auto& info) {
      std::string name = info.param.File;
      name = name.substr(0, name.find('.'));
      std::erase(name, '-');
      return name;
    });

TEST(RealStore, InboxTextEndsAsStored) {
  const std::string path = RealStore("Inbox.dbx");
  SKIP_WITHOUT(path);
  TDBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  const std::string text = reader.GetMessageText(0);
  EXPECT_EQ(text.substr(text.size() - 18), "</body>\r\n</html>\r\n");
  EXPECT_NE(text.find("\r\nSubject: Welcome to Outlook Express 6\r\n"), std::string::npos);
}

// Stores that are no message database, or hold no message.
struct TRefusedStore {
  const char* File;
  const char* Message;
  bool Active;
  std::int32_t Count;
};

void PrintTo(const TRefusedStore& c, std::ostream* os) { *os << c.File; }

class RealDbxRefused : public ::testing::TestWithParam<TRefusedStore> {};

TEST_P(RealDbxRefused, OpenRaises) {
  const TRefusedStore& e = GetParam();
  const std::string path = RealStore(e.File);
  SKIP_WITHOUT(path);
  TMailbaseReader probe;
  probe.SetFileName(path);
  EXPECT_EQ(probe.Format, sfDBX); // the magic alone does not make a message database

  TDBXReader reader;
  EXPECT_RAISES(reader.SetFileName(path), EDBXReaderException, e.Message);
  EXPECT_EQ(reader.Active, e.Active);
  EXPECT_EQ(reader.GetCount(), e.Count);
  EXPECT_EQ(reader.GetFolderName(), ""); // the folder block is never reached
  reader.Load();
  TMessageRecord r;
  reader.GetMessage(0, r);
  EXPECT_EQ(r.Size, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Real, RealDbxRefused,
    ::testing::Values(TRefusedStore{"Outbox.dbx", "File does not contain any message.", true, 0},
                      TRefusedStore{"Folders.dbx", "File is not an Outlook Express 5 Message Database.", false, 8},
                      TRefusedStore{"Offline.dbx", "File is not an Outlook Express 5 Message Database.", false, 0}),
    [](const auto& info) {
      std::string name = info.param.File;
      return name.substr(0, name.find('.'));
    });

TEST(RealStore, OtherProgramsMailFileIsNotRecognised) {
  const std::string path = RealStore("other-format-Mail");
  SKIP_WITHOUT(path);
  TMailbaseReader probe;
  probe.SetFileName(path);
  EXPECT_EQ(probe.Format, sfUnknown);
  EXPECT_TRUE(probe.Active);

  // Shorter than a .dbx header: a DBX reader forced onto it fails at that read.
  TDBXReader reader;
  EXPECT_RAISES(reader.SetFileName(path), EReadError, "Stream read error");
  EXPECT_FALSE(reader.Active);
}

} // namespace
