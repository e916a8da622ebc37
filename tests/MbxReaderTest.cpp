#include "MbxReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"
#include "TextLines.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <typeindex>

#ifdef __linux__
#include <sys/resource.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace postvue;
using namespace postvue::testing;
using namespace std::string_literals;

namespace {

const char* const kNotADatabase = "File is not an Outlook Express 4 Message Database.";
const char* const kNoMessage = "File does not contain any message.";
const char* const kNoText = "No text found.";

// Every field, so a comparison shows which one differs.
std::string Describe(const TMessageRecord& r) {
  std::ostringstream s;
  s << "MsgIndex=" << r.MsgIndex << " Flags=" << r.Flags << " TextOffset=" << r.TextOffset
    << " Text07=" << r.Text07.Str() << " Subject=" << r.Subject.Str() << " Text0C=" << r.Text0C.Str()
    << " SenderName=" << r.SenderName.Str() << " SenderAddress=" << r.SenderAddress.Str()
    << " Received=" << r.Received << " DateText=" << r.DateText.Str() << " Text13=" << r.Text13.Str()
    << " Text14=" << r.Text14.Str() << " Text1A=" << r.Text1A.Str() << " Size=" << r.Size
    << " Priority=" << r.Priority;
  return s.str();
}

std::string ZeroRecord() {
  TMessageRecord zero;
  ClearRecord(zero);
  return Describe(zero);
}

// An .mbx image that remembers where each message's raw text starts.
struct TStore {
  TMbxImage Image;
  std::vector<std::uint32_t> DataPos;

  explicit TStore(const std::vector<TMbxMessage>& messages) {
    Image.SetMessageCount(static_cast<std::int32_t>(messages.size()));
    for (const auto& m : messages) DataPos.push_back(Image.AddMessage(m) + 16);
  }
};

#ifdef __linux__
long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}
#endif

// Fails when statement made the process's peak memory grow by a large amount:
// a damaged length must be refused before anything is allocated for it.
#ifdef __linux__
#define EXPECT_NO_BIG_ALLOCATION(statement)                                                            \
  do {                                                                                                 \
    const long before_ = PeakRssKb();                                                                  \
    statement;                                                                                         \
    EXPECT_LT(PeakRssKb() - before_, 256 * 1024) << #statement " allocated for a damaged length";      \
  } while (0)
#else
#define EXPECT_NO_BIG_ALLOCATION(statement) statement
#endif

class MbxReaderTest : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Path = Dir / "Inbox.mbx";
  std::string IdxPath = Dir / "Inbox.idx";
  TMBXReader Reader;

  void OpenAndLoad() {
    Reader.SetFileName(Path);
    Reader.Load();
  }
  // GetMessage into a record full of junk, so a field it fails to overwrite shows.
  TMessageRecord Record(std::int32_t index) {
    TMessageRecord r;
    std::memset(&r, 0xAB, sizeof r);
    Reader.GetMessage(index, r);
    return r;
  }
};

// ------------------------------------------------------------------ Open failures

struct TOpenFailure {
  const char* Name;
  std::optional<std::string> Bytes; // none: no file at all
  std::type_index Class;
  std::string Message; // "%s" stands for the path
  bool Active;
  std::int32_t Count;
  std::size_t Entries;
};

std::string WithMessageCount(std::string bytes, std::int32_t count) {
  TImage image;
  image.Bytes(0, bytes);
  image.U32(8, static_cast<std::uint32_t>(count));
  return image.Str();
}

class MbxOpenFailureTest : public MbxReaderTest, public ::testing::WithParamInterface<TOpenFailure> {};

// Each failure comes after a good store was loaded, so nothing of that one may survive.
TEST_P(MbxOpenFailureTest, StateLeftBehind) {
  const auto& c = GetParam();
  MakeMbx({{"Subject: old\r\n\r\nold one", 1}, {"Subject: old\r\n\r\nold two", 2}}).WriteFile(Dir / "Old.mbx");
  Reader.SetFileName(Dir / "Old.mbx");
  Reader.Load();
  if (c.Bytes) WriteFileBytes(Path, *c.Bytes);

  std::string message = c.Message;
  if (auto at = message.find("%s"); at != std::string::npos) message.replace(at, 2, Path);
  try {
    Reader.SetFileName(Path);
    ADD_FAILURE() << "Open raised nothing";
  } catch (const Exception& e) {
    EXPECT_EQ(std::type_index(typeid(e)), c.Class) << typeid(e).name();
    EXPECT_EQ(std::string(e.what()), message);
  }
  EXPECT_EQ(Reader.Active, c.Active);
  EXPECT_EQ(Reader.FileName, Path);
  EXPECT_EQ(Reader.GetCount(), c.Count);
  EXPECT_EQ(Reader.GetFolderName(), "Inbox");
  ASSERT_EQ(Reader.MessageInfos.size(), c.Entries);
  EXPECT_EQ(Describe(Record(0)), ZeroRecord());
  if (c.Entries == 0) {
    EXPECT_EQ(Reader.GetMessageHeader(0), "");
    EXPECT_RAISES(Reader.GetMessageText(0), EMBXReaderException, kNoText);
  } else {
    EXPECT_EQ(Reader.MessageInfos.back().HeaderText, "");
  }
}

std::string FailingStore() {
  TStore store({{"Subject: a\r\n\r\none", 1}, {"", 2}, {"Subject: c\r\n\r\nthree", 3}});
  return store.Image.Str();
}

INSTANTIATE_TEST_SUITE_P(
    Table, MbxOpenFailureTest,
    ::testing::Values(
        TOpenFailure{"MissingFile", std::nullopt, typeid(EFOpenError), "Cannot open file %s", false, 0, 0},
        TOpenFailure{"EmptyFile", "", typeid(EReadError), "Stream read error", false, 0, 0},
        TOpenFailure{"ThreeBytes", "JMF", typeid(EReadError), "Stream read error", false, 0, 0},
        // The count bytes are there but the header is not whole: nothing of it is kept.
        TOpenFailure{"HeaderCutShort", "JMF6" + std::string(79, '\x07'), typeid(EReadError), "Stream read error",
                     false, 0, 0},
        TOpenFailure{"WrongMagic", WithMessageCount("JMF7" + std::string(200, '\0'), 3),
                     typeid(EMBXReaderException), kNotADatabase, false, 3, 0},
        TOpenFailure{"DbxMagic", WithMessageCount("\xCF\xAD\x12\xFE" + std::string(200, '\0'), 5),
                     typeid(EMBXReaderException), kNotADatabase, false, 5, 0},
        TOpenFailure{"ZeroCount", WithMessageCount(MakeMbx({{"Subject: a\r\n\r\nb"}}).Str(), 0),
                     typeid(EMBXReaderException), kNoMessage, true, 0, 0},
        // The walk reached a message without text: entries up to and including it.
        TOpenFailure{"DataLengthZero", FailingStore(), typeid(EMBXReaderException), kNoText, true, 3, 2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(MbxReaderTest, NegativeCountOpensAndLoadRaisesRangeError) {
  TStore store({{"Subject: a\r\n\r\none"}});
  store.Image.SetMessageCount(-1);
  store.Image.WriteFile(Path);
  Reader.SetFileName(Path);
  EXPECT_TRUE(Reader.Active);
  EXPECT_EQ(Reader.GetCount(), -1);
  EXPECT_TRUE(Reader.MessageInfos.empty());
  EXPECT_RAISES(Reader.Load(), ERangeError, "Range check error");
  EXPECT_EQ(Describe(Record(0)), ZeroRecord());

  // An index does not change that.
  MakeIdx({TIdxRecord{}}).WriteFile(IdxPath);
  EXPECT_RAISES(Reader.Load(), ERangeError, "Range check error");
  EXPECT_EQ(Describe(Record(0)), ZeroRecord());
}

TEST_F(MbxReaderTest, LoadBeforeOpenDoesNothing) {
  Reader.Load();
  EXPECT_EQ(Reader.GetCount(), 0);
  EXPECT_EQ(Describe(Record(0)), ZeroRecord());
}

// ------------------------------------------------------------------ header-scan path

TEST_F(MbxReaderTest, HeaderScanFillsEveryRecord) {
  const std::vector<TMbxMessage> messages = {
      {"From: Ann\r\nSubject: one\r\nDate: Mon\r\n\r\nbody one", 7},
      {"From: Bob\r\nSubject: two\r\n\r\n" + std::string(3000, 'b'), 4000000000u},
      {"Subject: three\r\n\r\nx", 0}, // short, and the last thing in the file
  };
  TStore store(messages);
  store.Image.WriteFile(Path);
  OpenAndLoad();
  EXPECT_TRUE(Reader.Active);
  ASSERT_EQ(Reader.GetCount(), 3);
  EXPECT_EQ(store.DataPos[0], 100u);
  const char* const subjects[] = {" one", " two", " three"};
  const char* const senders[] = {" Ann", " Bob", ""};
  for (std::int32_t q = 0; q < 3; ++q) {
    const auto& m = messages[static_cast<std::size_t>(q)];
    const TMessageRecord r = Record(q);
    EXPECT_EQ(r.MsgIndex, static_cast<std::uint32_t>(q));
    EXPECT_EQ(r.Flags, 0x80u);
    EXPECT_EQ(r.TextOffset, store.DataPos[static_cast<std::size_t>(q)]);
    EXPECT_EQ(r.Text07.Str(), std::to_string(m.Number));
    EXPECT_EQ(r.Size, m.Text.size());
    EXPECT_EQ(r.Received, 0.0);
    EXPECT_EQ(r.Priority, 0);
    EXPECT_EQ(r.Subject.Str(), subjects[q]);
    EXPECT_EQ(r.SenderName.Str(), senders[q]);
    EXPECT_EQ(r.DateText.Str(), q == 0 ? " Mon" : "");
    EXPECT_EQ(r.SenderAddress.Str() + r.Text0C.Str() + r.Text13.Str() + r.Text14.Str() + r.Text1A.Str(), "");
    EXPECT_EQ(Reader.GetMessageText(q), m.Text);
  }
  EXPECT_EQ(Describe(Record(3)), ZeroRecord());
  EXPECT_EQ(Describe(Record(-1)), ZeroRecord());
}

struct TScanCase {
  const char* Name;
  std::string Header; // the message's lines up to, not including, the blank line
  std::string SenderName, Subject, DateText;
};

class MbxHeaderScanTest : public MbxReaderTest, public ::testing::WithParamInterface<TScanCase> {};

TEST_P(MbxHeaderScanTest, Fields) {
  const auto& c = GetParam();
  // The message before has every field, so nothing may leak from it.
  MakeMbx({{"From: prev\r\nSubject: prev\r\nDate: prev\r\n\r\nb"}, {c.Header + "\r\n\r\nSubject: in body\r\n"}})
      .WriteFile(Path);
  OpenAndLoad();
  const TMessageRecord r = Record(1);
  EXPECT_EQ(r.SenderName.Str(), c.SenderName);
  EXPECT_EQ(r.Subject.Str(), c.Subject);
  EXPECT_EQ(r.DateText.Str(), c.DateText);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MbxHeaderScanTest,
    ::testing::Values(
        TScanCase{"LeadingBlankKept", "From: Ann\r\nsubject:Hello\r\nDate: Mon", " Ann", "Hello", " Mon"},
        TScanCase{"AnyLetterCase", "fRoM:a\r\nSuBjEcT:b\r\ndAtE:c", "a", "b", "c"},
        TScanCase{"LastLineWins", "Subject: first\r\nFrom: x\r\nSUBJECT: second\r\nfrom: y", " y", " second", ""},
        TScanCase{"DeliveryDateIsNotDate", "Delivery-Date: Tue\r\nX-From: z\r\nIn-Subject: q", "", "", ""},
        TScanCase{"NoColonNoMatch", "From x\r\nSubject : y\r\nDates: z", "", "", ""},
        TScanCase{"EmptyValue", "From:\r\nSubject:", "", "", ""},
        TScanCase{"ValueKeepsCase", "subject: MiXeD cAsE", "", " MiXeD cAsE", ""},
        TScanCase{"LoneCrAndLoneLf", "From: a\rSubject: b\nDate: c", " a", " b", " c"},
        TScanCase{"LfCr", "From: a\n\rSubject: b", " a", " b", ""},
        TScanCase{"FoldedLineNotJoined", "Subject: one\r\n two\r\n\tFrom: folded", "", " one", ""},
        TScanCase{"NoFieldsNoLeak", "X-Mailer: m", "", "", ""},
        TScanCase{"CutAt255", "Subject: " + std::string(300, 's'), "", " " + std::string(254, 's'), ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(MbxReaderTest, MessageHeaderIsTheLinesBeforeTheBlankLine) {
  MakeMbx({{"From: Ann\r\nsubject:Hello\r\nDate: Mon\r\n\r\nbody\r\n\r\nmore"}, {"\r\n\r\nno header lines"}})
      .WriteFile(Path);
  Reader.SetFileName(Path);
  EXPECT_EQ(Reader.GetMessageHeader(0), "From: Ann\r\nsubject:Hello\r\nDate: Mon\r");
  EXPECT_EQ(Reader.GetMessageHeader(1), "\r");
  EXPECT_EQ(Reader.GetMessageHeader(2), "");
  EXPECT_EQ(Reader.GetMessageHeader(-1), "");
}

// The header block is read in 1024-byte chunks; the blank line may begin
// anywhere, also with its CR LF CR LF split across two chunks.
class MbxLongHeaderTest : public MbxReaderTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(MbxLongHeaderTest, BlankLineFoundWherever) {
  const std::size_t blankAt = GetParam();
  const std::string head = "Subject: S\r\nX-Pad: ";
  const std::string tail = "\r\nFrom: F";
  const std::string header = head + std::string(blankAt - head.size() - tail.size(), 'p') + tail;
  ASSERT_EQ(header.size(), blankAt);
  MakeMbx({{header + "\r\n\r\n" + std::string(4000, 'b')}, {"Subject: next\r\n\r\nx"}}).WriteFile(Path);
  OpenAndLoad();
  EXPECT_EQ(Reader.GetMessageHeader(0), header + "\r");
  EXPECT_EQ(Record(0).SenderName.Str(), " F");
  EXPECT_EQ(Record(0).Subject.Str(), " S");
  EXPECT_EQ(Record(1).Subject.Str(), " next");
}

INSTANTIATE_TEST_SUITE_P(Chunks, MbxLongHeaderTest,
                         ::testing::Values(1020, 1021, 1022, 1023, 1024, 2045, 2047, 30000));

TEST_F(MbxReaderTest, ZeroByteEndsOnlyItsChunk) {
  // The first chunk counts up to its zero byte; the next chunk goes on at 1024.
  const std::string first = "Subject: Z\r\n"s + '\0' + std::string(1024 - 13, 'j');
  ASSERT_EQ(first.size(), 1024u);
  MakeMbx({{first + "Date: D\r\n\r\nbody"}}).WriteFile(Path);
  OpenAndLoad();
  EXPECT_EQ(Reader.GetMessageHeader(0), "Subject: Z\r\nDate: D\r");
  EXPECT_EQ(Record(0).DateText.Str(), " D");
}

TEST_F(MbxReaderTest, NoBlankLineGivesEmptyHeaderAndNothingFromTheNextMessage) {
  MakeMbx({{"From: a\r\nSubject: a\r\nno blank line here"}, {"From: Bob\r\nSubject: B\r\n\r\nbody"},
           {"Subject: last, no blank line"}})
      .WriteFile(Path);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 3);
  EXPECT_EQ(Reader.GetMessageHeader(0), "");
  EXPECT_EQ(Record(0).SenderName.Str(), "");
  EXPECT_EQ(Record(0).Subject.Str(), "");
  EXPECT_EQ(Record(1).SenderName.Str(), " Bob");
  EXPECT_EQ(Record(1).Subject.Str(), " B");
  EXPECT_EQ(Reader.GetMessageHeader(2), "");
  EXPECT_EQ(Reader.GetMessageText(2), "Subject: last, no blank line");
}

TEST_F(MbxReaderTest, NoBlankLineNeverReachesIntoTheNextMessage) {
  // No zero byte anywhere between the two texts, so only the message's own
  // length keeps its header scan out of the next message.
  const std::string first = "From: a\r\nX-Note: no blank line\r\n";
  TMbxImage image;
  image.SetMessageCount(2);
  image.AddMessage({first, 0x42424242, 0x41414141, static_cast<std::int64_t>(16 + first.size())});
  const std::uint32_t second = image.AddMessage({"X-First: 1\r\nSubject: B\r\n\r\nbody", 0x42424242, 0x41414141,
                                                 0x01010101, 0x01010101});
  image.WriteFile(Path);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 2);
  EXPECT_EQ(Reader.GetMessageHeader(0), "");
  EXPECT_EQ(Record(0).Subject.Str(), "");
  EXPECT_EQ(Record(0).SenderName.Str(), "");
  EXPECT_EQ(Record(1).Subject.Str(), " B");
  EXPECT_EQ(Record(1).TextOffset, second + 16);
}

TEST_F(MbxReaderTest, HeaderNeverReadPastTheMessagesText) {
  // The blank line lies in the padding behind the message's text: not its header.
  TMbxImage image;
  image.SetMessageCount(1);
  image.AddMessage({"Subject: a", 0, 0x7F007F00, 64});
  image.Bytes(100 + 10, "\r\n\r\n");
  image.WriteFile(Path);
  OpenAndLoad();
  EXPECT_EQ(Reader.GetMessageHeader(0), "");
  EXPECT_EQ(Reader.GetMessageText(0), "Subject: a");
}

// ------------------------------------------------------------------ where the walk ends

struct TWalkCase {
  const char* Name;
  std::function<TStore()> Make;
  std::int32_t Entries;
};

class MbxWalkTest : public MbxReaderTest, public ::testing::WithParamInterface<TWalkCase> {};

TEST_P(MbxWalkTest, EndsKeepingTheEntriesFound) {
  const auto& c = GetParam();
  TStore store = c.Make();
  store.Image.WriteFile(Path);
  OpenAndLoad();
  ASSERT_EQ(static_cast<std::int32_t>(Reader.MessageInfos.size()), c.Entries);
  EXPECT_EQ(Reader.GetCount(), c.Entries);
  for (std::int32_t q = 0; q < c.Entries; ++q) {
    EXPECT_EQ(Record(q).Subject.Str(), " m" + std::to_string(q));
    EXPECT_EQ(Reader.MessageInfos[static_cast<std::size_t>(q)].DataPos, store.DataPos[static_cast<std::size_t>(q)]);
  }
  EXPECT_EQ(Describe(Record(c.Entries)), ZeroRecord());
  EXPECT_RAISES(Reader.GetMessageText(c.Entries), EMBXReaderException, kNoText);
  EXPECT_EQ(Reader.GetMessageHeader(c.Entries), "");
}

TMbxMessage M(int q, std::int64_t blockLength = -1) {
  TMbxMessage m;
  m.Text = "Subject: m" + std::to_string(q) + "\r\n\r\nbody";
  m.BlockLength = blockLength;
  return m;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, MbxWalkTest,
    ::testing::Values(
        TWalkCase{"CountLargerThanFile",
                  [] {
                    TStore s({M(0), M(1), M(2)});
                    s.Image.SetMessageCount(1000000);
                    return s;
                  },
                  3},
        TWalkCase{"PartialHeaderAtEnd",
                  [] {
                    TStore s({M(0), M(1)});
                    s.Image.SetMessageCount(3);
                    s.Image.Bytes(s.Image.Size(), "JUNK1234");
                    return s;
                  },
                  2},
        TWalkCase{"BlockLengthZero",
                  [] {
                    TStore s({M(0), M(1, 0), M(2)});
                    s.Image.SetMessageCount(1000000);
                    return s;
                  },
                  2},
        // 32-bit arithmetic would bring the walk back to the first message.
        TWalkCase{"NextPositionPast4GiB",
                  [] {
                    TStore s({M(0), M(1), M(2)});
                    s.Image.U32(s.DataPos[1] - 16 + 8, 0xFFFFFFFFu - (s.DataPos[1] - 100) + 1);
                    s.Image.SetMessageCount(1000);
                    return s;
                  },
                  2},
        TWalkCase{"NextPositionPastEnd",
                  [] {
                    TStore s({M(0), M(1, 0x10000000), M(2)});
                    return s;
                  },
                  2}),
    [](const auto& info) { return std::string(info.param.Name); });

// One DataLength too large, as damage makes it: the walk goes on by
// BlockLength, and that text stops at the zero byte that begins the next
// message's header.
TEST_F(MbxReaderTest, DataLengthPastItsBlockKeepsTheMessagesBehindIt) {
  const std::vector<std::string> texts = {"Subject: m0\r\n\r\nbody0", "Subject: m1\r\n\r\nbody", "Subject: m2\r\n\r\nbody"};
  TStore store({{texts[0]}, {texts[1]}, {texts[2]}});
  ASSERT_EQ(store.DataPos[1] - store.DataPos[0], 16 + texts[0].size()); // no padding between them
  store.Image.U32(store.DataPos[0] - 16 + 12, static_cast<std::uint32_t>(texts[0].size() + 1));
  store.Image.WriteFile(Path);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 3);
  for (std::int32_t q = 0; q < 3; ++q) {
    EXPECT_EQ(Record(q).Subject.Str(), " m" + std::to_string(q));
    EXPECT_EQ(Reader.GetMessageText(q), texts[static_cast<std::size_t>(q)]);
  }
}

// ------------------------------------------------------------------ message texts

TEST_F(MbxReaderTest, TextsAsStored) {
  const std::string big = "Subject: big\r\n\r\n" + std::string(100000, 'x');
  MakeMbx({{"Subject: z\r\n\r\nab\0cd"s}, {big}, {"\0starts with zero"s}}).WriteFile(Path);
  OpenAndLoad();
  EXPECT_EQ(Reader.GetMessageText(0), "Subject: z\r\n\r\nab");
  EXPECT_EQ(Record(0).Size, 19u); // the stored length, zero byte or not
  EXPECT_EQ(Reader.GetMessageText(1), big);
  EXPECT_EQ(Reader.GetMessageText(2), "");
  EXPECT_RAISES(Reader.GetMessageText(-1), EMBXReaderException, kNoText);
  EXPECT_RAISES(Reader.GetMessageText(3), EMBXReaderException, kNoText);
}

TEST_F(MbxReaderTest, HugeDataLengthNearTheEndFailsOnlyThatText) {
  TStore store({M(0), M(1)});
  store.Image.U32(store.DataPos[1] - 16 + 12, 0x40000000); // 1 GiB, in a file of a few hundred bytes
  store.Image.WriteFile(Path);
  EXPECT_NO_BIG_ALLOCATION(OpenAndLoad());
  ASSERT_EQ(Reader.GetCount(), 2);
  EXPECT_EQ(Record(1).Subject.Str(), " m1");
  EXPECT_EQ(Record(1).Size, 0x40000000u);
  EXPECT_NO_BIG_ALLOCATION(EXPECT_RAISES(Reader.GetMessageText(1), EReadError, "Stream read error"));
  EXPECT_EQ(Reader.GetMessageText(0), "Subject: m0\r\n\r\nbody");
}

TEST_F(MbxReaderTest, TextReadFromTheFileAsItIsNow) {
  TStore store({M(0)});
  store.Image.WriteFile(Path);
  OpenAndLoad();
  store.Image.Bytes(store.DataPos[0], "SUBJECT");
  store.Image.WriteFile(Path);
  EXPECT_EQ(Reader.GetMessageText(0), "SUBJECT: m0\r\n\r\nbody");
}

TEST_F(MbxReaderTest, FolderNameWithoutFileAccess) {
  const std::string missing = Dir / "no.such.folder/Inbox.mbx";
  EXPECT_RAISES(Reader.SetFileName(missing), EFOpenError, "Cannot open file " + missing);
  EXPECT_EQ(Reader.GetFolderName(), "Inbox");
  TMBXReader fresh;
  EXPECT_EQ(fresh.GetFolderName(), "");
}

TEST_F(MbxReaderTest, ReopenStartsOver) {
  MakeMbx({M(0), M(1), M(2)}).WriteFile(Dir / "a.mbx");
  MakeMbx({{"Subject: only\r\n\r\nx"}}).WriteFile(Dir / "b.mbx");
  Reader.SetFileName(Dir / "a.mbx");
  Reader.Load();
  Reader.SetFileName(Dir / "b.mbx");
  EXPECT_EQ(Reader.GetCount(), 1);
  EXPECT_EQ(Describe(Record(0)), ZeroRecord()); // emptied until the next Load
  Reader.Load();
  EXPECT_EQ(Record(0).Subject.Str(), " only");
  EXPECT_EQ(Describe(Record(1)), ZeroRecord());
  EXPECT_EQ(Reader.GetFolderName(), "b");
}

// ------------------------------------------------------------------ index path

TIdxRecord IdxRecord(int q) {
  const std::string n = std::to_string(q);
  TIdxRecord r;
  r.MessageFlags = 0x4020u + static_cast<std::uint32_t>(q);
  r.MessageNumber = 4000000000u + static_cast<std::uint32_t>(q);
  r.MessagePos = 90000u + static_cast<std::uint32_t>(q);
  r.MessageSize = 700u + static_cast<std::uint32_t>(q);
  r.ReceivedTime = FileTimeOf(2004, 1, 1 + q, 12);
  r.MessagePriority = q % 2 ? 5 : 1;
  const std::string strings[7] = {"subject " + n, "t14 " + n, "addr" + n + "@example.org", "t0c " + n,
                                  "five",         "six",      "t1a " + n};
  for (int i = 0; i < 7; ++i) r.Strings[i] = strings[i];
  return r;
}

void ExpectFromIndex(const TMessageRecord& r, const TIdxRecord& x) {
  EXPECT_EQ(r.MsgIndex, 0u);
  EXPECT_EQ(r.Flags, x.MessageFlags);
  EXPECT_EQ(r.TextOffset, x.MessagePos);
  EXPECT_EQ(r.Text07.Str(), std::to_string(x.MessageNumber));
  EXPECT_EQ(r.Subject.Str(), x.Strings[0]);
  EXPECT_EQ(r.Text14.Str(), x.Strings[1]);
  EXPECT_EQ(r.SenderAddress.Str(), x.Strings[2]);
  EXPECT_EQ(r.Text0C.Str(), x.Strings[3]);
  EXPECT_EQ(r.Text1A.Str(), x.Strings[6]);
  EXPECT_EQ(r.SenderName.Str(), "");
  EXPECT_EQ(r.DateText.Str(), "");
  EXPECT_EQ(r.Text13.Str(), "");
  EXPECT_EQ(r.Received, FileTimeToDateTimeSafe(x.ReceivedTime));
  EXPECT_EQ(r.Size, x.MessageSize);
  EXPECT_EQ(r.Priority, x.MessagePriority);
}

class MbxIndexTest : public MbxReaderTest {
protected:
  static constexpr std::string_view kHeaderLines = "From: mbx\r\nSubject: from mbx\r\nDate: mbx\r\n\r\n";

  // n messages whose headers name other values than their index records.
  void WriteStore(int n) {
    std::vector<TMbxMessage> messages;
    for (int q = 0; q < n; ++q)
      messages.push_back({std::string(kHeaderLines) + "text " + std::to_string(q)});
    MakeMbx(messages).WriteFile(Path);
  }
  std::vector<TIdxRecord> Records(int n) {
    std::vector<TIdxRecord> records;
    for (int q = 0; q < n; ++q) records.push_back(IdxRecord(q));
    return records;
  }
  void ExpectTextsStillRead(int n) {
    for (int q = 0; q < n; ++q) EXPECT_EQ(Reader.GetMessageText(q), std::string(kHeaderLines) + "text " + std::to_string(q));
  }
};

TEST_F(MbxIndexTest, EveryFieldFromItsRecord) {
  WriteStore(3);
  const auto records = Records(3);
  MakeIdx(records).WriteFile(IdxPath);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 3);
  for (std::int32_t q = 0; q < 3; ++q) ExpectFromIndex(Record(q), records[static_cast<std::size_t>(q)]);
  EXPECT_EQ(Record(0).Received, 37987.5); // 1 January 2004 12:00 UTC
  ExpectTextsStillRead(3); // from the walk, never from MessagePos
}

TEST_F(MbxIndexTest, StoreWithoutExtensionInDottedFolder) {
  std::filesystem::create_directory(Dir / "my.mail");
  Path = Dir / "my.mail/Inbox";
  WriteStore(1);
  MakeIdx(Records(1)).WriteFile(Dir / "my.mail/Inbox.idx");
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), "subject 0");
  EXPECT_EQ(Reader.GetFolderName(), "Inbox");
}

TEST_F(MbxIndexTest, FolderNamedLikeTheIndexIsNoIndex) {
  WriteStore(1);
  std::filesystem::create_directory(IdxPath);
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), " from mbx");
}

#ifndef _WIN32
TEST_F(MbxIndexTest, NamedPipeLikeTheIndexIsNoIndex) {
  WriteStore(1);
  ASSERT_EQ(::mkfifo(IdxPath.c_str(), 0600), 0); // opening it to read would wait for a writer
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), " from mbx");
}

// Copied from Windows, where names ignore case, a store's files keep
// whatever case they had there.
TEST_F(MbxIndexTest, IndexFoundWhateverItsLetterCase) {
  WriteStore(1);
  MakeIdx(Records(1)).WriteFile(Dir / "INBOX.IDX");
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), "subject 0");

  // Of several, the first in byte order of their names; one of the same
  // name exactly comes before all.
  TIdxRecord other = IdxRecord(1);
  MakeIdx({other}).WriteFile(Dir / "inbox.IDX");
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), "subject 0");
  MakeIdx({IdxRecord(2)}).WriteFile(IdxPath);
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), "subject 2");
}
#endif

TEST_F(MbxIndexTest, UnusableIndexLeavesEveryRecordZero) {
  WriteStore(3);
  TIdxImage wrongMagic = MakeIdx(Records(3));
  wrongMagic.SetMagic(0x36464D4A); // the store's magic, not the index's
  const std::string cutHeader = MakeIdx(Records(3)).Str().substr(0, 79);
  for (const std::string& bytes : {wrongMagic.Str(), cutHeader, "JMF9"s, ""s}) {
    WriteFileBytes(IdxPath, bytes);
    OpenAndLoad();
    ASSERT_EQ(Reader.GetCount(), 3);
    for (std::int32_t q = 0; q < 3; ++q) EXPECT_EQ(Describe(Record(q)), ZeroRecord()) << bytes.size();
    ExpectTextsStillRead(3);
  }
}

// An index that ends early: what was read stays, the rest is zero, Load raises nothing.
class MbxIndexCutTest : public MbxIndexTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(MbxIndexCutTest, KeepsWhatWasRead) {
  const std::size_t cutInRecord5 = GetParam();
  WriteStore(7);
  const auto records = Records(7);
  TIdxImage idx = MakeIdx(records);
  std::uint32_t at = TIdxImage::kHeaderSize;
  for (int q = 0; q < 5; ++q) at = idx.GetU32(at + 12) + idx.GetU32(at + 16);
  idx.Data.resize(at + cutInRecord5);
  idx.WriteFile(IdxPath);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 7);
  for (std::int32_t q = 0; q < 5; ++q) ExpectFromIndex(Record(q), records[static_cast<std::size_t>(q)]);
  const TMessageRecord r5 = Record(5);
  if (cutInRecord5 < 212) {
    EXPECT_EQ(Describe(r5), ZeroRecord());
  } else {
    // Fixed part and the strings before the cut.
    const TIdxRecord& x = records[5];
    EXPECT_EQ(r5.Flags, x.MessageFlags);
    EXPECT_EQ(r5.TextOffset, x.MessagePos);
    EXPECT_EQ(r5.Size, x.MessageSize);
    EXPECT_EQ(r5.Priority, x.MessagePriority);
    EXPECT_EQ(r5.Received, FileTimeToDateTimeSafe(x.ReceivedTime));
    EXPECT_EQ(r5.Text07.Str(), std::to_string(x.MessageNumber));
    const std::size_t afterTwo = 212 + 4 + x.Strings[0].size() + 4 + x.Strings[1].size();
    EXPECT_EQ(r5.Subject.Str(), cutInRecord5 >= 212 + 4 + x.Strings[0].size() ? x.Strings[0] : "");
    EXPECT_EQ(r5.Text14.Str(), cutInRecord5 >= afterTwo ? x.Strings[1] : "");
    EXPECT_EQ(r5.SenderAddress.Str(), "");
    EXPECT_EQ(r5.Text0C.Str() + r5.Text1A.Str(), "");
  }
  EXPECT_EQ(Describe(Record(6)), ZeroRecord());
  ExpectTextsStillRead(7);
}

// Record 5 is cut in its fixed part (0, 100, 211); in string 1's length or
// bytes (212, 214, 218); right behind string 1 (225); inside string 2 (230);
// right behind string 2 (234); in string 3's length or bytes (237, 239).
INSTANTIATE_TEST_SUITE_P(Cuts, MbxIndexCutTest,
                         ::testing::Values(0, 100, 211, 212, 214, 218, 225, 230, 234, 237, 239));

struct TStringCase {
  const char* Name;
  std::string Subject;  // string 1 as stored
  std::string Expected; // Subject as it reads
};

class MbxIndexStringTest : public MbxIndexTest, public ::testing::WithParamInterface<TStringCase> {};

TEST_P(MbxIndexStringTest, StoredAndSkippedWhole) {
  const auto& c = GetParam();
  WriteStore(2);
  auto records = Records(2);
  records[0].Strings[0] = c.Subject;
  records[0].Strings[4] = std::string(1000, 'd'); // dropped, but still skipped
  MakeIdx(records).WriteFile(IdxPath);
  OpenAndLoad();
  EXPECT_EQ(Record(0).Subject.Str(), c.Expected);
  EXPECT_EQ(Record(0).Text1A.Str(), "t1a 0");
  ExpectFromIndex(Record(1), records[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, MbxIndexStringTest,
    ::testing::Values(TStringCase{"Empty", "", ""}, TStringCase{"Long", std::string(300, 'L'), std::string(255, 'L')},
                      TStringCase{"ZeroInside", "ab\0cd"s, "ab"}, TStringCase{"ZeroFirst", "\0ab"s, ""},
                      TStringCase{"ZeroAfter255", std::string(260, 'z') + '\0', std::string(255, 'z')}),
    [](const auto& info) { return std::string(info.param.Name); });

// A string length the file cannot back, or a negative one, ends the index
// path like any other failure: the record keeps the strings before it.
struct TBadLength {
  int String; // 1 to 7, in record 1
  std::uint32_t Length;
};

class MbxIndexBadLengthTest : public MbxIndexTest, public ::testing::WithParamInterface<TBadLength> {};

TEST_P(MbxIndexBadLengthTest, EndsThePath) {
  const auto& c = GetParam();
  WriteStore(3);
  const auto records = Records(3);
  TIdxImage idx = MakeIdx(records);
  std::uint32_t at = idx.GetU32(80 + 12) + idx.GetU32(80 + 16) + 212; // record 1's first string
  for (int i = 0; i + 1 < c.String; ++i) at += 4 + static_cast<std::uint32_t>(records[1].Strings[i].size());
  idx.U32(at, c.Length);
  idx.WriteFile(IdxPath);
  EXPECT_NO_BIG_ALLOCATION(OpenAndLoad());
  ExpectFromIndex(Record(0), records[0]);
  const TMessageRecord r1 = Record(1);
  EXPECT_EQ(r1.Flags, records[1].MessageFlags);
  EXPECT_EQ(r1.Size, records[1].MessageSize);
  const TShortString* const fields[7] = {&r1.Subject, &r1.Text14, &r1.SenderAddress, &r1.Text0C,
                                         nullptr,     nullptr,    &r1.Text1A};
  for (int i = 0; i < 7; ++i) {
    if (!fields[i]) continue;
    EXPECT_EQ(fields[i]->Str(), i + 1 < c.String ? records[1].Strings[i] : "") << "string " << i + 1;
  }
  EXPECT_EQ(Describe(Record(2)), ZeroRecord());
  ExpectTextsStillRead(3);
}

INSTANTIATE_TEST_SUITE_P(Lengths, MbxIndexBadLengthTest,
                         ::testing::Values(TBadLength{1, 0xFFFFFFFFu}, TBadLength{2, 0xFFFFFFFFu},
                                           TBadLength{2, 0x80000000u}, TBadLength{2, 0x7FFFFFFFu},
                                           TBadLength{2, 0x40000000u}, TBadLength{2, 10000u},
                                           TBadLength{7, 0xFFFFFFFFu}, TBadLength{7, 0x40000000u}));

// RecordCount against the table: never more records than messages found.
struct TCountCase {
  std::int32_t RecordCount;
  int Filled;
};

class MbxIndexCountTest : public MbxIndexTest, public ::testing::WithParamInterface<TCountCase> {};

TEST_P(MbxIndexCountTest, FillsOnlyRecordsThatExist) {
  WriteStore(3);
  const auto records = Records(5);
  TIdxImage idx = MakeIdx(records);
  idx.SetRecordCount(GetParam().RecordCount);
  idx.WriteFile(IdxPath);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 3);
  for (std::int32_t q = 0; q < 4; ++q) {
    if (q < GetParam().Filled)
      ExpectFromIndex(Record(q), records[static_cast<std::size_t>(q)]);
    else
      EXPECT_EQ(Describe(Record(q)), ZeroRecord()) << q;
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, MbxIndexCountTest,
                         ::testing::Values(TCountCase{-1, 0}, TCountCase{0, 0}, TCountCase{2, 2}, TCountCase{3, 3},
                                           TCountCase{5, 3}, TCountCase{1000000, 3}));

TEST_F(MbxIndexTest, MoreRecordsThanTheWalkFound) {
  TStore store({M(0), M(1)});
  store.Image.SetMessageCount(4);
  store.Image.WriteFile(Path);
  const auto records = Records(4);
  MakeIdx(records).WriteFile(IdxPath);
  OpenAndLoad();
  ASSERT_EQ(Reader.GetCount(), 2);
  ExpectFromIndex(Record(1), records[1]);
  EXPECT_EQ(Describe(Record(2)), ZeroRecord());
}

TEST_F(MbxIndexTest, NextRecordWhereNextBasePlusNextSpanSays) {
  WriteStore(3);
  const auto records = Records(3);
  TIdxImage idx;
  idx.SetRecordCount(3);
  const std::uint32_t r0 = idx.AddRecord(records[0]);
  idx.Bytes(idx.Size(), std::string(40, '\xFF')); // junk between the records
  const std::uint32_t r1 = idx.AddRecord(records[1]);
  idx.Bytes(idx.Size(), std::string(7, '\x01'));
  const std::uint32_t r2 = idx.AddRecord(records[2]);
  // Record 0: all in the span. Record 1: a sum that passes 2^32 and wraps.
  idx.U32(r0 + 12, 0);
  idx.U32(r0 + 16, r1);
  idx.U32(r1 + 12, r2 + 0x100);
  idx.U32(r1 + 16, 0xFFFFFF00u);
  idx.WriteFile(IdxPath);
  OpenAndLoad();
  for (std::int32_t q = 0; q < 3; ++q) ExpectFromIndex(Record(q), records[static_cast<std::size_t>(q)]);
}

TEST_F(MbxIndexTest, SecondLoadGivesTheSameRecords) {
  WriteStore(2);
  MakeIdx(Records(2)).WriteFile(IdxPath);
  OpenAndLoad();
  const std::string first = Describe(Record(1));
  Reader.Load();
  EXPECT_EQ(Describe(Record(1)), first);
  std::filesystem::remove(IdxPath); // the next Load scans the headers instead, from scratch
  Reader.Load();
  EXPECT_EQ(Record(1).Subject.Str(), " from mbx");
  EXPECT_EQ(Record(1).Text14.Str(), "");
}

// ------------------------------------------------------------------ real stores

TEST(MbxReaderReal, OtherStoresAreRefused) {
  const std::filesystem::path folder = POSTVUE_REAL_STORES;
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no real stores at " << folder;
  for (const char* name : {"Inbox.dbx", "other-format-Mail"}) {
    TMBXReader reader;
    EXPECT_RAISES(reader.SetFileName((folder / name).string()), EMBXReaderException, kNotADatabase);
    EXPECT_FALSE(reader.Active) << name;
  }
}

} // namespace
