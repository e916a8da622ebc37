// Rescue of messages from damaged stores: exactly the expected messages come
// back, byte for byte, classified as listed, removed or unclassified.
#include "DbxReader.h"
#include "MbxReader.h"
#include "Recovery.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <filesystem>
#include <functional>
#include <random>

using namespace postvue;
using namespace postvue::testing;
using namespace std::string_literals;

namespace {

using TKind = TRecoveredKind;

struct TCollected {
  std::vector<TRecoveredMessage> Messages;
  std::vector<std::pair<std::uint64_t, std::string>> Problems;
  TRecoverySummary Summary;

  std::vector<std::string> Texts(TKind kind) const {
    std::vector<std::string> texts;
    for (const auto& m : Messages)
      if (m.Kind == kind) texts.push_back(m.Text);
    return texts;
  }
  const TRecoveredMessage& Only(TKind kind) const {
    const TRecoveredMessage* found = nullptr;
    for (const auto& m : Messages)
      if (m.Kind == kind) {
        EXPECT_EQ(found, nullptr) << "more than one message of this kind";
        found = &m;
      }
    if (!found) throw std::runtime_error("no message of this kind");
    return *found;
  }
  bool ProblemAt(std::uint64_t offset) const {
    for (const auto& p : Problems)
      if (p.first == offset) return true;
    return false;
  }
};

class TCollector : public TRecoverySink {
public:
  TCollected Result;
  void Message(const TRecoveredMessage& message) override { Result.Messages.push_back(message); }
  void Problem(std::uint64_t offset, const std::string& what) override { Result.Problems.emplace_back(offset, what); }
};

TCollected Recover(const std::string& path) {
  TStoreRecovery recovery(path);
  TCollector sink;
  sink.Result.Summary = recovery.Run(sink);
  return sink.Result;
}

std::string MessageText(int n, int bodyLines = 6) {
  const std::string id = std::to_string(n);
  std::string text = "Received: from mx.example.com\r\n\tby pop.example.com; Mon, 1 Mar 2004 10:00:00 +0000\r\n"
                     "From: Sender " + id + " <sender" + id + "@example.com>\r\nTo: reader@example.com\r\n"
                     "Subject: Message " + id + "\r\n\r\n";
  for (int i = 0; i < bodyLines; ++i)
    text += "Line " + std::to_string(i) + " of message " + id + ", with some words to fill its blocks.\r\n";
  return text;
}

constexpr std::size_t kBlock = 64;

// A message-info object and a text in blocks of kBlock bytes.
std::uint32_t AddMessage(TDbxImage& image, const std::string& text, std::uint64_t received = 0) {
  TTestMessage m;
  m.Subject = text.substr(text.find("Subject: ") + 9, text.find("\r\n", text.find("Subject: ")) - text.find("Subject: ") - 9);
  m.Received = received;
  return image.AddMessageInfo(PropertiesOf(m, image.AddText(text, kBlock)));
}

struct TDbxStore {
  TDbxImage Image;
  std::vector<std::string> Texts;
  std::vector<std::uint32_t> TextAt, Infos; // each message's first block and object
  std::uint32_t Root = 0;
};

// count messages, their texts and objects in file order, then a tree of fanout.
TDbxStore MakeStore(int count, unsigned fanout = 51) {
  TDbxStore store;
  store.Image.SetFolderName("Inbox");
  for (int i = 0; i < count; ++i) {
    store.Texts.push_back(MessageText(i));
    store.TextAt.push_back(static_cast<std::uint32_t>(store.Image.Size())); // the text comes first
    store.Infos.push_back(AddMessage(store.Image, store.Texts.back()));
  }
  store.Root = store.Image.BuildTree(store.Infos, fanout);
  return store;
}

// The values of the subtree at node, in tree order.
void SubtreeValues(const TDbxImage& image, std::uint32_t node, std::vector<std::uint32_t>& values) {
  if (node == 0) return;
  SubtreeValues(image, image.GetU32(node + 8), values);
  for (unsigned i = 0; i < image.Data[node + 0x11]; ++i) {
    const std::uint32_t entry = node + 0x18 + 12 * i;
    if (image.GetU32(entry)) values.push_back(image.GetU32(entry));
    SubtreeValues(image, image.GetU32(entry + 4), values);
  }
}

class RecoveryTest : public ::testing::Test {
protected:
  TTempDir Dir;
  TCollected RecoverImage(const TImage& image, const std::string& name = "store.dbx") {
    image.WriteFile(Dir / name);
    return Recover(Dir / name);
  }
  TCollected RecoverBytes(std::string_view bytes, const std::string& name = "store.dbx") {
    WriteFileBytes(Dir / name, bytes);
    return Recover(Dir / name);
  }
};

// ---------------------------------------------------------------- .dbx, sound

TEST_F(RecoveryTest, SoundDbxGivesEveryMessageAsTheReaderReadsIt) {
  TDbxImage image;
  std::vector<std::uint32_t> infos;
  std::vector<std::string> texts;
  for (int i = 0; i < 40; ++i) texts.push_back(MessageText(i, i % 5));
  texts[3] = "From: lf@example.com\nSubject: LF only\n\nbody\n";
  texts[4] = "Subject: zero\r\n\r\nbef" + std::string(1, '\0') + "ore" + "the next block stays";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    TTestMessage m;
    m.Subject = "Subject " + std::to_string(i);
    m.Received = FileTimeOf(2004, 1, 1 + static_cast<int>(i % 28), 12);
    infos.push_back(image.AddMessageInfo(PropertiesOf(m, image.AddText(texts[i], 24))));
  }
  image.BuildTree(infos, 3); // a tree several levels deep
  const TCollected r = RecoverImage(image);

  TDBXReader reader;
  reader.SetFileName(Dir / "store.dbx");
  reader.Load();
  ASSERT_EQ(r.Messages.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const TRecoveredMessage& m = r.Messages[i];
    TMessageRecord record;
    reader.GetMessage(static_cast<std::int32_t>(i), record);
    EXPECT_EQ(m.Kind, TKind::Listed);
    EXPECT_EQ(m.Number, i);
    EXPECT_EQ(m.NumberLimit, texts.size());
    EXPECT_EQ(m.Text, reader.GetMessageText(static_cast<std::int32_t>(i))) << i;
    EXPECT_EQ(m.Offset, record.TextOffset);
    EXPECT_EQ(m.Subject, record.Subject.Str());
    EXPECT_EQ(m.Received, record.Received);
    EXPECT_FALSE(m.Incomplete);
  }
  EXPECT_EQ(r.Messages[4].Text, "Subject: zero\r\n\r\nbefthe next block stays"); // a zero ends its block's share
  EXPECT_TRUE(r.Summary.IndexRead);
  EXPECT_EQ(r.Summary.Listed, texts.size());
  // Index nodes hold block-like bytes; they begin no message and are left out.
  EXPECT_EQ(r.Summary.Removed + r.Summary.Unclassified + r.Summary.Duplicates + r.Summary.Problems, 0u);
  EXPECT_TRUE(r.Problems.empty());
}

TEST_F(RecoveryTest, EmptyFolderGivesNothingAndNoProblem) {
  TDbxImage image;
  image.SetFolderName("Outbox");
  const TCollected r = RecoverImage(image);
  EXPECT_TRUE(r.Messages.empty());
  EXPECT_TRUE(r.Problems.empty());
  EXPECT_TRUE(r.Summary.IndexRead);
}

// ---------------------------------------------------------------- .dbx, damaged index

struct TRootDamage {
  const char* Name;
  std::function<void(TDbxStore&)> Apply;
};
void PrintTo(const TRootDamage& d, std::ostream* os) { *os << d.Name; }

class DbxRootDestroyed : public RecoveryTest, public ::testing::WithParamInterface<TRootDamage> {};

// Without an index nothing can be called listed or removed: every message
// found comes back, unclassified, in file order.
TEST_P(DbxRootDestroyed, EveryMessageComesBackUnclassified) {
  TDbxStore store = MakeStore(8, 3);
  GetParam().Apply(store);
  const TCollected r = RecoverImage(store.Image);
  EXPECT_FALSE(r.Summary.IndexRead);
  EXPECT_EQ(r.Texts(TKind::Unclassified), store.Texts);
  EXPECT_TRUE(r.Texts(TKind::Listed).empty());
  EXPECT_TRUE(r.Texts(TKind::Removed).empty());
  for (std::size_t i = 0; i < r.Messages.size(); ++i) {
    EXPECT_EQ(r.Messages[i].Number, i);
    EXPECT_GE(r.Messages[i].NumberLimit, store.Texts.size());
    EXPECT_EQ(r.Messages[i].Subject, "Message " + std::to_string(i)); // from the text's Subject line
  }
  EXPECT_FALSE(r.Problems.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DbxRootDestroyed,
    ::testing::Values(TRootDamage{"RootZeroed",
                                  [](TDbxStore& s) {
                                    for (std::uint32_t i = 0; i < 0x27C; ++i) s.Image.U8(s.Root + i, 0);
                                  }},
                      TRootDamage{"RootMarker", [](TDbxStore& s) { s.Image.U32(s.Root, 0x12345678); }},
                      TRootDamage{"RootPastTheEnd", [](TDbxStore& s) { s.Image.SetIndexRoot(0xFFFFFF00); }},
                      TRootDamage{"NoRootButACount", [](TDbxStore& s) { s.Image.SetIndexRoot(0); }},
                      TRootDamage{"FileCutBeforeTheTree",
                                  [](TDbxStore& s) { s.Image.Data.resize(s.Root); }},
                      TRootDamage{"NotAMessageDatabase", [](TDbxStore& s) { s.Image.SetKind(0x6F74FDC6); }}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TNodeDamage {
  const char* Name;
  std::function<void(TDbxImage&, std::uint32_t)> Apply;
};
void PrintTo(const TNodeDamage& d, std::ostream* os) { *os << d.Name; }

class DbxNodeDamaged : public RecoveryTest, public ::testing::WithParamInterface<TNodeDamage> {};

// A damaged node below the root orphans its subtree: those messages come back
// as removed ones, every other one as listed, in index order.
TEST_P(DbxNodeDamaged, ItsSubtreeIsOrphaned) {
  TDbxStore store = MakeStore(30, 3);
  const std::uint32_t node = store.Image.GetU32(store.Root + 0x18 + 12 + 4); // the subtree after entry 1
  ASSERT_NE(node, 0u);
  std::vector<std::uint32_t> orphaned;
  SubtreeValues(store.Image, node, orphaned);
  ASSERT_GE(orphaned.size(), 2u);
  GetParam().Apply(store.Image, node);

  std::vector<std::string> listed, removed;
  for (std::size_t i = 0; i < store.Infos.size(); ++i) {
    const bool lost = std::find(orphaned.begin(), orphaned.end(), store.Infos[i]) != orphaned.end();
    (lost ? removed : listed).push_back(store.Texts[i]);
  }
  const TCollected r = RecoverImage(store.Image);
  EXPECT_TRUE(r.Summary.IndexRead);
  EXPECT_EQ(r.Texts(TKind::Listed), listed);
  EXPECT_EQ(r.Texts(TKind::Removed), removed);
  EXPECT_TRUE(r.ProblemAt(node));
  EXPECT_EQ(r.Summary.Incomplete, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DbxNodeDamaged,
    ::testing::Values(TNodeDamage{"Marker", [](TDbxImage& i, std::uint32_t n) { i.U32(n, 0xDEADBEEF); }},
                      TNodeDamage{"Parent", [](TDbxImage& i, std::uint32_t n) { i.U32(n + 0x0C, n); }},
                      TNodeDamage{"EntryCount", [](TDbxImage& i, std::uint32_t n) { i.U8(n + 0x11, 52); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RecoveryTest, NodeReachedTwiceIsWalkedOnce) {
  TDbxStore store = MakeStore(30, 3);
  // Entry 1's subtree named again by entry 0: the reader refuses it; here it adds nothing.
  const std::uint32_t entry0 = store.Root + 0x18, entry1 = store.Root + 0x18 + 12;
  const std::uint32_t first = store.Image.GetU32(entry0 + 4);
  std::vector<std::uint32_t> lost;
  SubtreeValues(store.Image, first, lost);
  store.Image.U32(entry0 + 4, store.Image.GetU32(entry1 + 4));
  const TCollected r = RecoverImage(store.Image);
  EXPECT_EQ(r.Summary.Listed + r.Summary.Removed, store.Texts.size());
  EXPECT_EQ(r.Summary.Removed, lost.size());
  EXPECT_TRUE(r.ProblemAt(store.Image.GetU32(entry1 + 4)));
}

// An index that names one message thousands of times gives it once; two
// messages of their own with the same text are still two.
TEST_F(RecoveryTest, MessageListedManyTimesIsGivenOnce) {
  TDbxImage image;
  const std::uint32_t once = AddMessage(image, MessageText(1));
  std::vector<std::uint32_t> values(5000, once);
  values.push_back(AddMessage(image, MessageText(2)));
  values.push_back(AddMessage(image, MessageText(2)));
  image.BuildTree(values);
  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Texts(TKind::Listed), (std::vector<std::string>{MessageText(1), MessageText(2), MessageText(2)}));
  EXPECT_EQ(r.Summary.Repeated, 4999u);
}

class DbxCountWrong : public RecoveryTest, public ::testing::WithParamInterface<std::uint32_t> {};

// The header's count is never trusted: the tree says what is listed.
TEST_P(DbxCountWrong, EveryMessageIsStillListed) {
  TDbxStore store = MakeStore(12, 3);
  store.Image.SetMessageCount(GetParam());
  const TCollected r = RecoverImage(store.Image);
  EXPECT_EQ(r.Texts(TKind::Listed), store.Texts);
  EXPECT_EQ(r.Summary.Removed + r.Summary.Unclassified, 0u);
}

INSTANTIATE_TEST_SUITE_P(Damage, DbxCountWrong, ::testing::Values(0u, 1u, 13u, 0xFFFFFFFFu));

TEST_F(RecoveryTest, DamagedMessageInfoOrphansItsMessage) {
  TDbxStore store = MakeStore(4);
  store.Image.U32(store.Infos[2], 0x0BADF00D);
  const TCollected r = RecoverImage(store.Image);
  EXPECT_EQ(r.Texts(TKind::Listed), (std::vector<std::string>{store.Texts[0], store.Texts[1], store.Texts[3]}));
  EXPECT_EQ(r.Texts(TKind::Removed), std::vector<std::string>{store.Texts[2]});
  EXPECT_TRUE(r.ProblemAt(store.Infos[2]));
  // Listed numbers stay the positions in the index, so names keep their order.
  EXPECT_EQ(r.Messages[2].Number, 3u);
}

// ---------------------------------------------------------------- .dbx, cut files

class DbxCut : public RecoveryTest, public ::testing::WithParamInterface<std::pair<std::uint32_t, std::size_t>> {};

// The file ends within the second block of message 3 (at the given distance
// from the block's start); the tree at the end is gone, so every message is
// unclassified, the last one incomplete with the text that is there.
TEST_P(DbxCut, CompleteMessagesWholeAndTheCutOneAsFarAsItGoes) {
  TDbxStore store = MakeStore(5);
  const std::uint32_t block2 = store.Image.GetU32(store.TextAt[3] + 12);
  store.Image.Data.resize(block2 + GetParam().first);

  const TCollected r = RecoverImage(store.Image);
  EXPECT_FALSE(r.Summary.IndexRead);
  ASSERT_EQ(r.Messages.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.Messages[i].Text, store.Texts[i]);
    EXPECT_FALSE(r.Messages[i].Incomplete);
  }
  EXPECT_EQ(r.Messages[3].Text, store.Texts[3].substr(0, GetParam().second));
  EXPECT_TRUE(r.Messages[3].Incomplete);
  EXPECT_FALSE(r.Messages[3].IncompleteReason.empty());
  EXPECT_EQ(r.Summary.Incomplete, 1u);
}

INSTANTIATE_TEST_SUITE_P(Cut, DbxCut,
                         ::testing::Values(std::make_pair(8u, kBlock),       // inside the block header
                                           std::make_pair(16u, kBlock),      // right after it
                                           std::make_pair(36u, kBlock + 20)) // inside its text
);

TEST_F(RecoveryTest, CutFileWithTheIndexBeforeTheTextKeepsTheLastMessageListed) {
  // The index and each message-info object before the text, as the mail
  // program writes them, so that cutting the file leaves them whole.
  TDbxImage image;
  const std::uint32_t root = image.Allocate(0x27C);
  std::vector<std::string> texts;
  TDbxNode node;
  for (int i = 0; i < 3; ++i) {
    texts.push_back(MessageText(i));
    TTestMessage m;
    TDbxImage scratch; // the object's size does not depend on the offset it holds
    const std::uint32_t probe = scratch.AddMessageInfo(PropertiesOf(m, 0x10000));
    const std::uint32_t textAt = static_cast<std::uint32_t>(image.Size() + scratch.Size() - probe);
    node.Entries.push_back({image.AddMessageInfo(PropertiesOf(m, textAt)), 0, 0});
    ASSERT_EQ(image.AddText(texts.back(), kBlock), textAt);
  }
  image.WriteNode(root, node);
  image.SetIndexRoot(root);
  image.SetMessageCount(3);
  image.Data.resize(image.Size() - texts[2].size() / 2); // into the last text
  const TCollected r = RecoverImage(image);
  EXPECT_TRUE(r.Summary.IndexRead);
  ASSERT_EQ(r.Messages.size(), 3u);
  EXPECT_EQ(r.Messages[0].Text, texts[0]);
  EXPECT_EQ(r.Messages[1].Text, texts[1]);
  const TRecoveredMessage& cut = r.Messages[2];
  EXPECT_EQ(cut.Kind, TKind::Listed);
  EXPECT_TRUE(cut.Incomplete);
  ASSERT_LT(cut.Text.size(), texts[2].size());
  EXPECT_GT(cut.Text.size(), 0u);
  EXPECT_EQ(cut.Text, texts[2].substr(0, cut.Text.size()));
}

// ---------------------------------------------------------------- .dbx, removed messages

TEST_F(RecoveryTest, RemovedAndStaleChainsComeBackAsRemoved) {
  TDbxImage image;
  const std::string a = MessageText(1), b = MessageText(2), removed = MessageText(3, 9), stale = MessageText(4, 2);
  std::vector<std::uint32_t> infos;
  infos.push_back(AddMessage(image, a));
  image.AddText(removed, kBlock); // blocks no object or node refers to any more
  infos.push_back(AddMessage(image, b));
  image.AddDisplacedText(stale, 0x8000, kBlock); // a copy from before a compaction
  image.AddText("Subject: one block only\r\n", kBlock);
  image.BuildTree(infos);
  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Texts(TKind::Listed), (std::vector<std::string>{a, b}));
  EXPECT_EQ(r.Texts(TKind::Removed), (std::vector<std::string>{removed, stale, "Subject: one block only\r\n"}));
  EXPECT_EQ(r.Summary.Removed, 3u);
  for (std::uint32_t i = 0; i < 3; ++i) {
    const TRecoveredMessage& m = r.Messages[2 + i];
    EXPECT_EQ(m.Number, i);
    EXPECT_GE(m.NumberLimit, 3u);
    EXPECT_FALSE(m.Incomplete);
    EXPECT_EQ(m.Received, 0.0);
  }
  EXPECT_EQ(r.Messages[2].Subject, "Message 3");
}

// As in a real store: a stale copy whose markers and links name exactly the
// blocks of the listed message that now lies where it once was. Followed
// naively it would lead into the listed message; relative to its own first
// marker it is the removed message whole.
TEST_F(RecoveryTest, DisplacedChainOverAListedOneIsReadWhereItLies) {
  std::string stale = MessageText(7, 12), live = MessageText(8, 12);
  stale.resize(std::min(stale.size(), live.size()));
  live.resize(stale.size());
  TDbxImage image;
  const std::uint32_t staleAt = static_cast<std::uint32_t>(image.Size());
  const std::uint32_t staleBytes = static_cast<std::uint32_t>(((stale.size() + kBlock - 1) / kBlock) * 16 + stale.size());
  image.AddDisplacedText(stale, staleBytes, kBlock);
  const std::uint32_t liveText = image.AddText(live, kBlock);
  ASSERT_EQ(liveText, staleAt + staleBytes);
  ASSERT_EQ(image.GetU32(staleAt), liveText); // the stale marker names the listed block
  TTestMessage m;
  image.BuildTree({image.AddMessageInfo(PropertiesOf(m, liveText))});

  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Texts(TKind::Listed), std::vector<std::string>{live});
  EXPECT_EQ(r.Texts(TKind::Removed), std::vector<std::string>{stale});
  EXPECT_EQ(r.Only(TKind::Removed).Offset, staleAt);
}

TEST_F(RecoveryTest, CopiesEqualToMessagesGivenAreLeftOut) {
  TDbxStore store = MakeStore(2);
  store.Image.AddText(store.Texts[0], kBlock);              // the same bytes, in place
  store.Image.AddDisplacedText(store.Texts[1], 0x10000, 16); // the same bytes, moved, other blocks
  store.Image.AddText(store.Texts[1], 32);                   // once more
  const std::string other = store.Texts[1] + "one more line\r\n";
  store.Image.AddText(other, kBlock);
  const TCollected r = RecoverImage(store.Image);
  EXPECT_EQ(r.Texts(TKind::Listed), store.Texts);
  EXPECT_EQ(r.Texts(TKind::Removed), std::vector<std::string>{other});
  EXPECT_EQ(r.Summary.Duplicates, 3u);
}

TEST_F(RecoveryTest, RemovedCopiesOfOneAnotherComeBackOnce) {
  TDbxStore store = MakeStore(5);
  for (std::uint32_t i = 0; i < 0x27C; ++i) store.Image.U8(store.Root + i, 0);
  store.Image.AddText(store.Texts[4], 100);
  const TCollected r = RecoverImage(store.Image);
  EXPECT_EQ(r.Texts(TKind::Unclassified), store.Texts);
  EXPECT_EQ(r.Summary.Duplicates, 1u);
}

// ---------------------------------------------------------------- .dbx, broken chains

TEST_F(RecoveryTest, ListedChainThatBreaksOffIsIncompleteAndItsRestNoMessage) {
  TDbxStore store = MakeStore(3);
  const std::uint32_t second = store.Image.GetU32(store.TextAt[1] + 12);
  store.Image.U32(second, 0x41414141);
  const TCollected r = RecoverImage(store.Image);
  ASSERT_EQ(r.Messages.size(), 3u);
  EXPECT_EQ(r.Messages[1].Kind, TKind::Listed);
  EXPECT_TRUE(r.Messages[1].Incomplete);
  EXPECT_EQ(r.Messages[1].Text, store.Texts[1].substr(0, kBlock));
  EXPECT_EQ(r.Messages[0].Text, store.Texts[0]);
  EXPECT_EQ(r.Messages[2].Text, store.Texts[2]);
  EXPECT_GE(r.Summary.Fragments, 1u); // the blocks after the break begin no message
  EXPECT_EQ(r.Summary.Removed, 0u);
}

TEST_F(RecoveryTest, RemovedChainThatBreaksOffIsIncomplete) {
  TDbxStore store = MakeStore(1);
  const std::string removed = MessageText(5, 8);
  const std::uint32_t first = store.Image.AddText(removed, kBlock);
  const std::uint32_t third = store.Image.GetU32(store.Image.GetU32(first + 12) + 12);
  store.Image.U32(third, 0); // overwritten since
  const TCollected r = RecoverImage(store.Image);
  const TRecoveredMessage& m = r.Only(TKind::Removed);
  EXPECT_EQ(m.Text, removed.substr(0, 2 * kBlock));
  EXPECT_TRUE(m.Incomplete);
}

TEST_F(RecoveryTest, ChainsThatLoopNeverHangAndGiveTheirTextOnce) {
  TDbxImage image;
  const std::string text = MessageText(1);
  const std::uint32_t first = image.AddText(text, kBlock);
  std::uint32_t last = first;
  while (image.GetU32(last + 12)) last = image.GetU32(last + 12);
  image.U32(last + 12, first); // back to the start
  TTestMessage m;
  const std::uint32_t info = image.AddMessageInfo(PropertiesOf(m, first));
  // A removed chain that goes backwards in the file and then loops to its second block.
  const std::uint32_t c = image.AddBlock("block three\r\n");
  const std::uint32_t b = image.AddBlock("\r\nblock two\r\n", c);
  const std::uint32_t a = image.AddBlock("Subject: backwards\r\n", b);
  (void)a;
  const std::string loop = "Subject: backwards\r\n\r\nblock two\r\nblock three\r\n";
  image.U32(c + 12, b);
  image.BuildTree({info});
  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Only(TKind::Listed).Text, text);
  EXPECT_TRUE(r.Only(TKind::Listed).Incomplete);
  // b has two predecessors; a keeps it, so c's link back is a break.
  EXPECT_EQ(r.Only(TKind::Removed).Text, loop);
}

TEST_F(RecoveryTest, ChainStoredBackwardsReadsInChainOrder) {
  TDbxImage image;
  const std::uint32_t c = image.AddBlock("third\r\n");
  const std::uint32_t b = image.AddBlock("second\r\n", c);
  const std::uint32_t a = image.AddBlock("Subject: order\r\n\r\nfirst\r\n", b);
  TTestMessage m;
  image.BuildTree({image.AddMessageInfo(PropertiesOf(m, a))});
  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Only(TKind::Listed).Text, "Subject: order\r\n\r\nfirst\r\nsecond\r\nthird\r\n");
  EXPECT_FALSE(r.Only(TKind::Listed).Incomplete);
  EXPECT_EQ(r.Summary.Removed + r.Summary.Fragments, 0u);
}

// ---------------------------------------------------------------- .dbx, large stores

class DbxLargeStore : public RecoveryTest, public ::testing::WithParamInterface<int> {};

// A store of several megabytes, so that it is read in many windows: removed
// and stale chains between the listed messages are found wherever they lie,
// whether the index lists the messages in file order (read onward), in
// reverse or shuffled (read in jumps, the rest searched at the end), or is
// gone (everything searched in chunks).
TEST_P(DbxLargeStore, RemovedChainsAreFoundWhateverTheOrderOfTheIndex) {
  TDbxImage image;
  std::vector<std::uint32_t> infos;
  std::vector<std::string> listed, removed, inFile;
  for (int i = 0; i < 900; ++i) {
    const std::string text = MessageText(i, 40 + i % 70);
    TTestMessage m;
    m.Subject = "Message " + std::to_string(i);
    infos.push_back(image.AddMessageInfo(PropertiesOf(m, image.AddText(text, 512))));
    listed.push_back(text);
    inFile.push_back(text);
    if (i % 37 == 5) {
      removed.push_back(MessageText(10000 + i, 30));
      image.AddText(removed.back(), 512);
      inFile.push_back(removed.back());
    }
    if (i % 53 == 7) {
      removed.push_back(MessageText(20000 + i, 25));
      image.AddDisplacedText(removed.back(), 0x40000, 512);
      inFile.push_back(removed.back());
    }
  }
  ASSERT_GT(image.Size(), 4u << 20);
  std::vector<std::size_t> order(infos.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (GetParam() == 1) std::reverse(order.begin(), order.end());
  if (GetParam() == 2) std::shuffle(order.begin(), order.end(), std::mt19937(5));
  std::vector<std::uint32_t> values;
  std::vector<std::string> expected;
  for (const std::size_t i : order) {
    values.push_back(infos[i]);
    expected.push_back(listed[i]);
  }
  const std::uint32_t root = image.BuildTree(values);
  if (GetParam() == 3) {
    image.U32(root, 0); // without an index, everything in file order, unclassified
    const TCollected r = RecoverImage(image);
    EXPECT_EQ(r.Texts(TKind::Unclassified), inFile);
    EXPECT_EQ(r.Summary.Duplicates + r.Summary.Incomplete, 0u);
    return;
  }
  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Texts(TKind::Listed), expected);
  EXPECT_EQ(r.Texts(TKind::Removed), removed);
  EXPECT_EQ(r.Summary.Duplicates + r.Summary.Incomplete + r.Summary.Problems, 0u);
}

INSTANTIATE_TEST_SUITE_P(Order, DbxLargeStore, ::testing::Values(0, 1, 2, 3));

// ---------------------------------------------------------------- .dbx, false positives

// Free space of a real store holds old HTML, copies of index nodes and
// message-info objects, binary data: none of it is a message.
TEST_F(RecoveryTest, FreeSpaceFullOfOldBytesGivesNoMessage) {
  TDbxStore store = MakeStore(2);
  TDbxImage& image = store.Image;
  std::string html;
  while (html.size() < 20000) html += "<TABLE class=FRHdBG cellSpacing=0 width=\"100%\"><TR><TD>Subject: x</TD></TR>\r\n";
  image.Bytes(image.Allocate(html.size()), html);
  const std::vector<std::uint8_t> node(image.Data.begin() + store.Root, image.Data.begin() + store.Root + 0x27C);
  const std::uint32_t infoLength = 12 + image.GetU32(store.Infos[0] + 4);
  const std::vector<std::uint8_t> info(image.Data.begin() + store.Infos[0], image.Data.begin() + store.Infos[0] + infoLength);
  for (int i = 0; i < 3; ++i) {
    image.Bytes(image.Allocate(node.size()), std::string(node.begin(), node.end()));
    image.Bytes(image.Allocate(info.size()), std::string(info.begin(), info.end()));
  }
  std::mt19937 random(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = static_cast<char>(random() % 7 == 0 ? 0 : random());
  image.Bytes(image.Allocate(noise.size()), noise);
  image.Allocate(5000); // zeros
  // Block-shaped, but longer than its capacity; and one whose text is a body's middle.
  const std::uint32_t wide = image.AddBlock("Subject: too long for its block\r\n");
  image.U32(wide + 4, 8);
  image.AddBlock("of the body, and not\r\nthe start of a message\r\n");
  // Well formed, but its marker lies in the file header, where no block can be.
  const std::uint32_t early = image.AddBlock("Subject: marker in the header\r\n");
  image.U32(early, 0x100);

  const TCollected r = RecoverImage(image);
  EXPECT_EQ(r.Texts(TKind::Listed), store.Texts);
  EXPECT_TRUE(r.Texts(TKind::Removed).empty());
  EXPECT_GE(r.Summary.Fragments, 1u);
}

// Bytes crafted so that a block header begins every four bytes: the
// recovery takes no more of them than the file could hold, says so, and
// finds no message in them.
TEST_F(RecoveryTest, HeadersEveryFewBytesAreBounded) {
  TDbxStore store = MakeStore(1);
  std::string crafted;
  for (int i = 0; i < 40000; ++i) crafted += std::string("\x00\x30\x00\x00", 4);
  store.Image.Bytes(store.Image.Allocate(crafted.size()), crafted);
  const TCollected r = RecoverImage(store.Image);
  EXPECT_EQ(r.Texts(TKind::Listed), store.Texts);
  EXPECT_TRUE(r.Texts(TKind::Removed).empty());
  ASSERT_EQ(r.Problems.size(), 1u);
  EXPECT_NE(r.Problems[0].second.find("more block headers than the file can hold"), std::string::npos);
}

// ---------------------------------------------------------------- .dbx, any damage

// Random damage anywhere: the recovery never fails, never hangs, never reads
// outside the file (the sanitizer build checks), and everything it gives as
// found in the bytes begins as a message.
TEST_F(RecoveryTest, RandomDamageNeverBreaksTheRecovery) {
  TDbxStore store = MakeStore(20, 3);
  const std::string sound = store.Image.Str();
  std::mt19937 random(20240611);
  for (int round = 0; round < 150; ++round) {
    std::string bytes = sound;
    const int hits = 1 + static_cast<int>(random() % 8);
    for (int h = 0; h < hits; ++h) {
      const std::size_t at = 0xC0 + random() % (bytes.size() - 0xC0 - 4);
      const std::uint32_t value = random() % 3 == 0 ? static_cast<std::uint32_t>(random() % bytes.size())
                                                    : static_cast<std::uint32_t>(random());
      for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
    if (random() % 4 == 0) bytes.resize(0x2700 + random() % (bytes.size() - 0x2700));
    TCollected r;
    ASSERT_NO_THROW(r = RecoverBytes(bytes)) << "round " << round;
    for (const auto& m : r.Messages) {
      EXPECT_FALSE(m.Text.empty());
      EXPECT_LT(m.Number, m.NumberLimit);
      if (m.Kind != TKind::Listed) {
        EXPECT_TRUE(LooksLikeMessage(m.Text.substr(0, 1024))) << "round " << round;
      }
    }
  }
}

// ---------------------------------------------------------------- .mbx

std::vector<TMbxMessage> MbxMessages(int count) {
  std::vector<TMbxMessage> messages;
  for (int i = 0; i < count; ++i) {
    TMbxMessage m;
    m.Text = MessageText(i, 3 + i);
    m.Number = static_cast<std::uint32_t>(i + 1);
    messages.push_back(m);
  }
  return messages;
}

std::vector<std::string> TextsOf(const std::vector<TMbxMessage>& messages, const std::vector<int>& which) {
  std::vector<std::string> texts;
  for (const int i : which) texts.push_back(messages[static_cast<std::size_t>(i)].Text);
  return texts;
}

// The offsets of the 16-byte headers, as AddMessage lays them out.
std::vector<std::uint32_t> HeaderOffsets(const TMbxImage& image, std::size_t count) {
  std::vector<std::uint32_t> offsets{84};
  while (offsets.size() < count) offsets.push_back(offsets.back() + image.GetU32(offsets.back() + 8));
  return offsets;
}

TEST_F(RecoveryTest, SoundMbxGivesEveryMessageAsTheReaderReadsIt) {
  auto messages = MbxMessages(4);
  messages[2].Text = "From: lf@example.com\nSubject: LF\n\nbody" + std::string(1, '\0') + "after a zero";
  const TMbxImage image = MakeMbx(messages);
  std::vector<TIdxRecord> records(4);
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].ReceivedTime = FileTimeOf(2001, 2, 3 + static_cast<int>(i), 4, 5, 6);
    records[i].Strings[0] = "Subject from the index " + std::to_string(i);
  }
  MakeIdx(records).WriteFile(Dir / "store.idx");
  const TCollected r = RecoverImage(image, "store.mbx");

  TMBXReader reader;
  reader.SetFileName(Dir / "store.mbx");
  reader.Load();
  ASSERT_EQ(r.Messages.size(), 4u);
  const auto offsets = HeaderOffsets(image, 4);
  for (std::size_t i = 0; i < 4; ++i) {
    const TRecoveredMessage& m = r.Messages[i];
    EXPECT_EQ(m.Kind, TKind::Listed);
    EXPECT_EQ(m.Number, i);
    EXPECT_EQ(m.Text, reader.GetMessageText(static_cast<std::int32_t>(i)));
    EXPECT_EQ(m.Offset, offsets[i]);
    EXPECT_EQ(m.Received, FileTimeToDateTimeSafe(records[i].ReceivedTime));
    EXPECT_EQ(m.Subject, records[i].Strings[0]);
  }
  EXPECT_EQ(r.Messages[2].Text, "From: lf@example.com\nSubject: LF\n\nbody");
  EXPECT_TRUE(r.Problems.empty());
  EXPECT_TRUE(r.Summary.IndexRead);
}

TEST_F(RecoveryTest, MbxWithoutIndexTakesTheSubjectFromTheText) {
  const auto messages = MbxMessages(2);
  const TCollected r = RecoverImage(MakeMbx(messages), "store.mbx");
  ASSERT_EQ(r.Messages.size(), 2u);
  EXPECT_EQ(r.Messages[1].Subject, "Message 1");
  EXPECT_EQ(r.Messages[1].Received, 0.0);
}

struct TMbxDamage {
  const char* Name;
  std::function<void(TMbxImage&, const std::vector<std::uint32_t>&)> Apply;
  std::vector<int> Listed, Removed, Unclassified;
};
void PrintTo(const TMbxDamage& d, std::ostream* os) { *os << d.Name; }

class MbxDamaged : public RecoveryTest, public ::testing::WithParamInterface<TMbxDamage> {};

TEST_P(MbxDamaged, ExactlyTheExpectedMessagesComeBack) {
  const auto messages = MbxMessages(5);
  TMbxImage image = MakeMbx(messages);
  const auto offsets = HeaderOffsets(image, messages.size());
  GetParam().Apply(image, offsets);
  const TCollected r = RecoverImage(image, "store.mbx");
  EXPECT_EQ(r.Texts(TKind::Listed), TextsOf(messages, GetParam().Listed));
  EXPECT_EQ(r.Texts(TKind::Removed), TextsOf(messages, GetParam().Removed));
  EXPECT_EQ(r.Texts(TKind::Unclassified), TextsOf(messages, GetParam().Unclassified));
  EXPECT_EQ(r.Summary.IndexRead, GetParam().Unclassified.size() == 0);
  EXPECT_EQ(r.Summary.Incomplete, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, MbxDamaged,
    ::testing::Values(
        TMbxDamage{"Sound", [](TMbxImage&, const auto&) {}, {0, 1, 2, 3, 4}, {}, {}},
        TMbxDamage{"CountTooSmall", [](TMbxImage& i, const auto&) { i.SetMessageCount(1); }, {0, 1, 2, 3, 4}, {}, {}},
        TMbxDamage{"CountNegative", [](TMbxImage& i, const auto&) { i.SetMessageCount(-3); }, {0, 1, 2, 3, 4}, {}, {}},
        TMbxDamage{"CountTooLarge", [](TMbxImage& i, const auto&) { i.SetMessageCount(99); }, {0, 1, 2, 3, 4}, {}, {}},
        // The walk ends after message 1; the others are found by their structure.
        TMbxDamage{"BlockLengthZero", [](TMbxImage& i, const auto& o) { i.U32(o[1] + 8, 0); }, {0, 1}, {2, 3, 4}, {}},
        TMbxDamage{"BlockLengthOverlapsText",
                   [](TMbxImage& i, const auto& o) { i.U32(o[1] + 8, 16 + i.GetU32(o[1] + 12) - 8); },
                   {0, 1},
                   {2, 3, 4},
                   {}},
        TMbxDamage{"BlockLengthPastTheEnd",
                   [](TMbxImage& i, const auto& o) { i.U32(o[2] + 8, 0x7FFFFFF0); },
                   {0, 1, 2},
                   {3, 4},
                   {}},
        // Its header gone, message 2's text is no message any more.
        TMbxDamage{"HeaderOverwritten",
                   [](TMbxImage& i, const auto& o) {
                     for (int k = 0; k < 16; k += 4) i.U32(o[2] + k, 0x5A5A5A5A);
                   },
                   {0, 1},
                   {3, 4},
                   {}},
        TMbxDamage{"FirstHeaderOverwritten",
                   [](TMbxImage& i, const auto&) {
                     for (int k = 0; k < 16; k += 4) i.U32(84 + k, 0x13579BDF);
                   },
                   {},
                   {},
                   {1, 2, 3, 4}},
        TMbxDamage{"CopyInTheSlackLeftOut",
                   [](TMbxImage& i, const auto& o) {
                     // Message 4 once more in its own slack, where the walk does not go:
                     // found, and equal to a message given, so left out.
                     const std::string copy(i.Data.begin() + o[4], i.Data.end());
                     i.Bytes(i.Size(), copy);
                     i.U32(o[4] + 8, i.GetU32(o[4] + 8) + static_cast<std::uint32_t>(copy.size()));
                   },
                   {0, 1, 2, 3, 4},
                   {},
                   {}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RecoveryTest, MbxMessageRemovedIntoTheSlackOfAnother) {
  auto messages = MbxMessages(2);
  const std::string hidden = "Subject: removed\r\n\r\nstill here\r\n";
  const std::uint32_t hiddenBlock = static_cast<std::uint32_t>((16 + hidden.size() + 3) & ~std::size_t{3});
  messages[0].BlockLength = static_cast<std::int64_t>((16 + messages[0].Text.size() + 3) & ~std::size_t{3}) + hiddenBlock;
  TMbxImage image;
  image.SetMessageCount(2);
  image.AddMessage(messages[0]);
  const std::uint32_t slack = static_cast<std::uint32_t>((84 + 16 + messages[0].Text.size() + 3) & ~std::size_t{3});
  image.U32(slack, 0x7F007F00);
  image.U32(slack + 8, hiddenBlock);
  image.U32(slack + 12, static_cast<std::uint32_t>(hidden.size()));
  image.Bytes(slack + 16, hidden);
  image.Reserve(84 + static_cast<std::size_t>(messages[0].BlockLength));
  image.AddMessage(messages[1]);
  const TCollected r = RecoverImage(image, "store.mbx");
  EXPECT_EQ(r.Texts(TKind::Listed), TextsOf(messages, {0, 1}));
  EXPECT_EQ(r.Texts(TKind::Removed), std::vector<std::string>{hidden});
  EXPECT_EQ(r.Only(TKind::Removed).Offset, slack);
}

TEST_F(RecoveryTest, MbxCutInsideAMessageGivesItIncomplete) {
  const auto messages = MbxMessages(3);
  TMbxImage image = MakeMbx(messages);
  const auto offsets = HeaderOffsets(image, 3);
  image.Data.resize(offsets[2] + 16 + 40);
  const TCollected r = RecoverImage(image, "store.mbx");
  ASSERT_EQ(r.Messages.size(), 3u);
  EXPECT_EQ(r.Messages[0].Text, messages[0].Text);
  EXPECT_EQ(r.Messages[1].Text, messages[1].Text);
  EXPECT_EQ(r.Messages[2].Kind, TKind::Listed);
  EXPECT_EQ(r.Messages[2].Text, messages[2].Text.substr(0, 40));
  EXPECT_TRUE(r.Messages[2].Incomplete);
  EXPECT_EQ(r.Summary.Incomplete, 1u);
}

TEST_F(RecoveryTest, MbxGarbageAfterTheLastMessageGivesNoMessage) {
  const auto messages = MbxMessages(2);
  TMbxImage image = MakeMbx(messages);
  std::string junk;
  while (junk.size() < 8000) junk += "<p>Subject: not a header</p>\r\nFrom: nobody, really\r\n";
  std::mt19937 random(11);
  for (int i = 0; i < 30000; ++i) junk += static_cast<char>(random());
  image.Bytes(image.Size(), junk);
  const TCollected r = RecoverImage(image, "store.mbx");
  EXPECT_EQ(r.Texts(TKind::Listed), TextsOf(messages, {0, 1}));
  EXPECT_TRUE(r.Texts(TKind::Removed).empty());
}

TEST_F(RecoveryTest, MbxRandomDamageNeverBreaksTheRecovery) {
  const std::string sound = MakeMbx(MbxMessages(12)).Str();
  std::mt19937 random(424242);
  for (int round = 0; round < 150; ++round) {
    std::string bytes = sound;
    for (int h = 0, hits = 1 + static_cast<int>(random() % 6); h < hits; ++h) {
      const std::size_t at = 84 + random() % (bytes.size() - 88);
      const std::uint32_t value = random() % 2 ? static_cast<std::uint32_t>(random() % 4096) : static_cast<std::uint32_t>(random());
      for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
    if (random() % 4 == 0) bytes.resize(84 + random() % (bytes.size() - 84));
    TCollected r;
    ASSERT_NO_THROW(r = RecoverBytes(bytes, "store.mbx")) << "round " << round;
    std::size_t total = 0;
    for (const auto& m : r.Messages) total += m.Text.size();
    EXPECT_LE(total, bytes.size()) << "round " << round; // no byte is given twice
  }
}

TEST_F(RecoveryTest, StoresItCannotRecoverAreRefusedAsTheProbeRefusesThem) {
  WriteFileBytes(Dir / "other", "FMDF and more bytes");
  EXPECT_RAISES(TStoreRecovery(Dir / "other"), EMailbaseReaderException, "File is not in supported format.");
  EXPECT_RAISES(TStoreRecovery(Dir / "missing"), EFOpenError, "Cannot open file " + (Dir / "missing"));
  WriteFileBytes(Dir / "short", "JM");
  EXPECT_RAISES(TStoreRecovery(Dir / "short"), EReadError, "Stream read error");
  WriteFileBytes(Dir / "magic", "JMF6");
  EXPECT_TRUE(Recover(Dir / "magic").Messages.empty());
}

// ---------------------------------------------------------------- real stores

std::string RealStore(const char* name) { return std::string(POSTVUE_REAL_STORES) + "/" + name; }

#define SKIP_WITHOUT_REAL(path)                                                                                \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "real store not present (needs ../shared): " << (path)

std::string ReaderText(const std::string& path) {
  TDBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  return reader.GetMessageText(0);
}

// fragment-left.dbx holds one listed message and, in free space, a stale
// copy of another whose markers name the listed message's blocks: both come
// back, the removed one as fragment-clean.dbx lists it.
TEST(RecoveryRealStore, FragmentLeftGivesItsListedAndItsRemovedMessage) {
  const std::string left = RealStore("fragment-left.dbx"), clean = RealStore("fragment-clean.dbx");
  SKIP_WITHOUT_REAL(left);
  const TCollected r = Recover(left);
  EXPECT_TRUE(r.Summary.IndexRead);
  ASSERT_EQ(r.Messages.size(), 2u);
  const TRecoveredMessage& listed = r.Only(TKind::Listed);
  EXPECT_EQ(listed.Text, ReaderText(left));
  EXPECT_EQ(listed.Offset, 0xEAD4u);
  EXPECT_EQ(listed.Subject, "Please read you won't be sorry........");
  const TRecoveredMessage& removed = r.Only(TKind::Removed);
  EXPECT_EQ(removed.Offset, 0x6AD4u);
  EXPECT_EQ(removed.Text, ReaderText(clean));
  EXPECT_EQ(removed.Text.substr(0, 36), "Return-path: <noreply@freshmeat.net>");
  EXPECT_EQ(removed.Subject, "[fmII] centericq 4.7.5 released (Default branch)");
  EXPECT_FALSE(removed.Incomplete);
  EXPECT_TRUE(r.Problems.empty());
}

TEST(RecoveryRealStore, FragmentCleanAndInboxGiveOnlyTheirListedMessage) {
  for (const char* name : {"fragment-clean.dbx", "Inbox.dbx"}) {
    const std::string path = RealStore(name);
    SKIP_WITHOUT_REAL(path);
    const TCollected r = Recover(path);
    ASSERT_EQ(r.Messages.size(), 1u) << name;
    EXPECT_EQ(r.Messages[0].Kind, TKind::Listed) << name;
    EXPECT_EQ(r.Messages[0].Text, ReaderText(path)) << name;
    EXPECT_FALSE(r.Messages[0].Incomplete) << name;
    EXPECT_TRUE(r.Problems.empty()) << name;
  }
}

TEST(RecoveryRealStore, OtherDatabasesGiveNoMessage) {
  for (const char* name : {"Outbox.dbx", "Folders.dbx", "Offline.dbx"}) {
    const std::string path = RealStore(name);
    SKIP_WITHOUT_REAL(path);
    EXPECT_TRUE(Recover(path).Messages.empty()) << name;
  }
}

// ---------------------------------------------------------------- text tests

TEST(RecoveryText, LooksLikeMessage) {
  const std::pair<std::string, bool> cases[] = {
      {"Subject: x\r\nFrom: y\r\n\r\nbody", true},
      {"Received: from a\r\n\tby b\r\n  and c\r\n\r\n", true},
      {"X-Empty:\r\n", true},
      {"From: a\nSubject: b\n\nbody", true},
      {"Return-path: <a@b>\r\nRecei", true}, // the cut line is not judged
      {"Subject: x\r", true},
      {"Subject: one line without its end", false}, // a first line must be whole
      {"1:", false},                                // as in the bytes of block headers
      {"Subject: a\0\r\nnot judged\r\n"s, false},  // the text ends at the zero
      {"X-Mailer: a\r\nContent-Type: b;\r\n\tcharset=c\r\nMIME-Version: 1.0\r\n", true},
      {"", false},
      {"\r\nSubject: x\r\n", false},
      {" Subject: x\r\n", false},
      {"Dear John: hello\r\n", false},
      {"<html>\r\n<head>\r\n", false},
      {"<td>Subject: x</td>\r\n", false},
      {"Subject: x\r\nthis is body text\r\n", false},
      {"Subj", false},
      {":x\r\n", false},
      {"From someone@example.com Mon Jan  1 00:00:00 2001\r\n", false},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(LooksLikeMessage(text), expected) << text;
}

TEST(RecoveryText, HeaderField) {
  const std::string text = "From: a\r\nsubject:  Hello there \r\nSubject: second\r\n\r\nX-Late: body\r\n";
  EXPECT_EQ(HeaderField(text, "Subject"), "Hello there");
  EXPECT_EQ(HeaderField(text, "SUBJECT"), "Hello there");
  EXPECT_EQ(HeaderField(text, "From"), "a");
  EXPECT_EQ(HeaderField(text, "X-Late"), ""); // after the blank line: body
  EXPECT_EQ(HeaderField(text, "Subj"), "");
  EXPECT_EQ(HeaderField("Subject:\nFrom: b\n", "Subject"), "");
  EXPECT_EQ(HeaderField("Subject: cut", "Subject"), "cut");
}

} // namespace
