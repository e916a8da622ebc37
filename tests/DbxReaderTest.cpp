// The .dbx reader: header checks, the index tree walk, property decoding,
// text block chains, and what a reader holds after each kind of failure.
#include "DbxReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <cstring>
#include <functional>

using namespace postvue;
using namespace postvue::testing;

namespace {

constexpr std::uint32_t kNodeSize = 0x27C;
constexpr std::uint32_t kStoreStart = TDbxImage::kHeaderSize + TDbxImage::kFolderInfoSize;

bool AllZero(const TMessageRecord& record) {
  TMessageRecord zero;
  std::memset(&zero, 0, sizeof zero);
  return std::memcmp(&record, &zero, sizeof zero) == 0;
}

TMessageRecord RecordOf(TDBXReader& reader, std::int32_t index) {
  TMessageRecord record;
  reader.GetMessage(index, record);
  return record;
}

// A store whose index tree the test lays out node by node.
struct THandStore {
  TDbxImage Image;
  explicit THandStore(std::uint32_t count) {
    Image.SetFolderName("Inbox");
    Image.SetMessageCount(count);
  }
  std::uint32_t Info(std::string_view subject) { return Image.AddMessageInfo({TDbxProperty::Text(0x08, subject)}); }
  // Room for a node whose offset its children must know before it is written.
  std::uint32_t Reserve() { return Image.Allocate(kNodeSize); }
  void Write(std::uint32_t at, const TDbxNode& node) { Image.WriteNode(at, node); }
  std::uint32_t Node(const TDbxNode& node) { return Image.AddNode(node); }
  void Root(std::uint32_t at) { Image.SetIndexRoot(at); }
  std::string Bytes() const { return Image.Str(); }
};

TDbxNode Leaf(std::uint32_t parent, std::initializer_list<std::uint32_t> values) {
  TDbxNode node;
  node.Parent = parent;
  for (const std::uint32_t v : values) node.Entries.push_back({v, 0, 0});
  return node;
}

// A root holding these subjects directly.
std::string FlatStore(std::uint32_t count, std::initializer_list<std::string_view> subjects) {
  THandStore s(count);
  std::vector<std::uint32_t> values;
  for (const auto subject : subjects) values.push_back(s.Info(subject));
  TDbxNode root;
  for (const auto v : values) root.Entries.push_back({v, 0, 0});
  s.Root(s.Node(root));
  return s.Bytes();
}

class DbxTest : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Path() const { return Dir / "store.dbx"; }
  void Write(std::string_view bytes) const { WriteFileBytes(Path(), bytes); }
  void Write(const TImage& image) const { image.WriteFile(Path()); }
  void OpenAndLoad(TDBXReader& reader) const {
    reader.SetFileName(Path());
    reader.Load();
  }
};

// ------------------------------------------------------------ failures of Open, and the state they leave

enum class TRaised { Dbx, Read };

struct TOpenFailure {
  const char* Name;
  std::function<std::string()> Make;
  TRaised Class;
  const char* Message;
  bool Active;       // after the failure
  std::int32_t Count; // GetCount after the failure
  const char* Folder; // GetFolderName after the failure
};

void PrintTo(const TOpenFailure& c, std::ostream* os) { *os << c.Name; }

class DbxOpenFailure : public DbxTest, public ::testing::WithParamInterface<TOpenFailure> {};

TEST_P(DbxOpenFailure, RaisesAndLeavesState) {
  const TOpenFailure& c = GetParam();
  Write(c.Make());
  TDBXReader reader;
  if (c.Class == TRaised::Dbx)
    EXPECT_RAISES(reader.SetFileName(Path()), EDBXReaderException, c.Message);
  else
    EXPECT_RAISES(reader.SetFileName(Path()), EReadError, c.Message);
  EXPECT_EQ(reader.Active, c.Active);
  EXPECT_EQ(reader.FileName, Path());
  EXPECT_EQ(reader.GetCount(), c.Count);
  EXPECT_EQ(reader.GetFolderName(), c.Folder);
  EXPECT_TRUE(AllZero(RecordOf(reader, 0)));
}

std::string WithCount(std::string bytes, std::uint32_t count) {
  for (int i = 0; i < 4; ++i) bytes[0xC4 + static_cast<std::size_t>(i)] = static_cast<char>(count >> (8 * i));
  return bytes;
}

// Offset of something that is not an object: its first four bytes are not its offset.
std::uint32_t NotAnObject(THandStore& s) { return s.Info("not an object") + 4; }

// One valid message reached from a root node; the callback spoils what it likes.
std::string OneMessage(const std::function<void(THandStore&, std::uint32_t root, TDbxNode& rootNode)>& spoil) {
  THandStore s(1);
  const std::uint32_t root = s.Reserve();
  TDbxNode rootNode = Leaf(0, {s.Info("A")});
  spoil(s, root, rootNode);
  s.Write(root, rootNode);
  s.Root(root);
  s.Image.Allocate(kNodeSize); // a node misread anywhere above still lies inside the file
  return s.Bytes();
}

const char* const kNotADatabase = "File is not an Outlook Express 5 Message Database.";

INSTANTIATE_TEST_SUITE_P(
    Dbx, DbxOpenFailure,
    ::testing::Values(
        TOpenFailure{"WrongDatabaseKind",
                     [] {
                       TDbxImage image;
                       image.SetKind(0x6F74FDC6);
                       image.SetMessageCount(7);
                       image.SetFolderName("Folders");
                       return image.Str();
                     },
                     TRaised::Dbx, kNotADatabase, false, 7, ""},
        TOpenFailure{"WrongMagic",
                     [] {
                       std::string bytes = FlatStore(1, {"A"});
                       bytes.replace(0, 4, "JMF6"); // the probe would call it an .mbx store
                       return bytes;
                     },
                     TRaised::Dbx, kNotADatabase, false, 1, ""},
        // The bytes that were there are read into the header before the read fails.
        TOpenFailure{"ShorterThanHeader", [] { return FlatStore(5, {"A"}).substr(0, 0x100); },
                     TRaised::Read, "Stream read error", false, 5, ""},
        TOpenFailure{"NoMessage",
                     [] {
                       TDbxImage image;
                       image.SetFolderName("Outbox");
                       return image.Str();
                     },
                     TRaised::Dbx, "File does not contain any message.", true, 0, ""},
        TOpenFailure{"EndsInsideFolderBlock", [] { return FlatStore(1, {"A"}).substr(0, 0x24BC + 0x105 + 3); },
                     TRaised::Read, "Stream read error", true, 1, "Inb"},
        TOpenFailure{"CountLargerThanTheFileCanHold", [] { return WithCount(FlatStore(1, {"A"}), 0xFFFFFFFF); },
                     TRaised::Dbx, "Message count is larger than the file can hold.", true, -1, "Inbox"},
        TOpenFailure{"IndexRootZero",
                     [] {
                       THandStore s(1);
                       s.Node(Leaf(0, {s.Info("A")})); // the header names no root
                       return s.Bytes();
                     },
                     TRaised::Dbx, "Wrong object marker.", true, 1, "Inbox"},
        TOpenFailure{"RootMarkerWrong",
                     [] { return OneMessage([](THandStore&, std::uint32_t, TDbxNode& n) { n.Marker = 0x1234; }); },
                     TRaised::Dbx, "Wrong object marker.", true, 1, "Inbox"},
        TOpenFailure{"RootParentNotZero",
                     [] { return OneMessage([](THandStore&, std::uint32_t r, TDbxNode& n) { n.Parent = r; }); },
                     TRaised::Dbx, "Wrong parent.", true, 1, "Inbox"},
        TOpenFailure{"RootPastTheEnd",
                     [] {
                       std::string bytes = FlatStore(1, {"A"});
                       return bytes.substr(0, bytes.size() - 1); // the root node is the last object
                     },
                     TRaised::Read, "Stream read error", true, 1, "Inbox"},
        TOpenFailure{"EntryCount52",
                     [] {
                       return OneMessage([](THandStore&, std::uint32_t, TDbxNode& n) { n.EntryCount = 52; });
                     },
                     TRaised::Dbx, "Wrong value for entries.", true, 1, "Inbox"},
        TOpenFailure{"ChildWrongParent",
                     [] {
                       return OneMessage([](THandStore& s, std::uint32_t, TDbxNode& n) {
                         n.Entries = {{0, s.Node(Leaf(0, {s.Info("B")})), 1}};
                       });
                     },
                     TRaised::Dbx, "Wrong parent.", true, 1, "Inbox"},
        TOpenFailure{"LeftChildWrongMarker",
                     [] {
                       return OneMessage([](THandStore& s, std::uint32_t, TDbxNode& n) {
                         n.LeftChild = NotAnObject(s);
                         n.LeftValueCount = 0;
                       });
                     },
                     TRaised::Dbx, "Wrong object marker.", true, 1, "Inbox"},
        TOpenFailure{"ChildAnnouncesTooManyValues",
                     [] {
                       return OneMessage([](THandStore& s, std::uint32_t r, TDbxNode& n) {
                         n.Entries[0].Child = s.Node(Leaf(r, {s.Info("B")}));
                         n.Entries[0].ChildValueCount = 1; // 1 + 1 > 1
                       });
                     },
                     TRaised::Dbx, "Too many values to read.", true, 1, "Inbox"},
        TOpenFailure{"OneValueTooMany", [] { return FlatStore(2, {"A", "B", "C"}); }, TRaised::Dbx,
                     "Too many values.", true, 2, "Inbox"},
        TOpenFailure{"OneValueTooFew", [] { return FlatStore(3, {"A", "B"}); }, TRaised::Dbx,
                     "Wrong number of values found", true, 3, "Inbox"},
        TOpenFailure{"ChildHoldsFewerThanAnnounced",
                     [] {
                       THandStore s(3);
                       const std::uint32_t root = s.Reserve();
                       const std::uint32_t child = s.Node(Leaf(root, {s.Info("B")}));
                       TDbxNode n = Leaf(0, {s.Info("A")});
                       n.Entries[0].Child = child;
                       n.Entries[0].ChildValueCount = 2;
                       s.Write(root, n);
                       s.Root(root);
                       return s.Bytes();
                     },
                     TRaised::Dbx, "Wrong number of values found", true, 3, "Inbox"},
        TOpenFailure{"NodeReferencedTwice",
                     [] {
                       THandStore s(1);
                       const std::uint32_t root = s.Reserve();
                       const std::uint32_t shared = s.Node(Leaf(root, {}));
                       TDbxNode n;
                       n.Entries = {{0, shared, 0}, {s.Info("A"), shared, 0}};
                       s.Write(root, n);
                       s.Root(root);
                       return s.Bytes();
                     },
                     TRaised::Dbx, "Index node referenced twice.", true, 1, "Inbox"}),
    [](const auto& info) { return std::string(info.param.Name); });

// The checks of one node come in a fixed order; each case fails more than one.
struct TOrderCase {
  const char* Name;
  std::function<std::string()> Make;
  const char* Message;
};

void PrintTo(const TOrderCase& c, std::ostream* os) { *os << c.Name; }

class DbxCheckOrder : public DbxTest, public ::testing::WithParamInterface<TOrderCase> {};

TEST_P(DbxCheckOrder, FirstFailingCheckSpeaks) {
  Write(GetParam().Make());
  TDBXReader reader;
  EXPECT_RAISES(reader.SetFileName(Path()), EDBXReaderException, GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    Dbx, DbxCheckOrder,
    ::testing::Values(
        // The announced count is checked before the node is read (it lies past the end here).
        TOrderCase{"AnnouncedCountBeforeRead",
                   [] {
                     return OneMessage([](THandStore&, std::uint32_t, TDbxNode& n) {
                       n.Entries = {{0, 0x7FFFFF00, 5}};
                     });
                   },
                   "Too many values to read."},
        TOrderCase{"MarkerBeforeParentAndEntries",
                   [] {
                     return OneMessage([](THandStore&, std::uint32_t r, TDbxNode& n) {
                       n.Marker = 4;
                       n.Parent = r;
                       n.EntryCount = 200;
                     });
                   },
                   "Wrong object marker."},
        TOrderCase{"ParentBeforeEntries",
                   [] {
                     return OneMessage([](THandStore&, std::uint32_t r, TDbxNode& n) {
                       n.Parent = r;
                       n.EntryCount = 52;
                     });
                   },
                   "Wrong parent."},
        TOrderCase{"LeftChildBeforeEntries",
                   [] {
                     return OneMessage([](THandStore& s, std::uint32_t, TDbxNode& n) {
                       n.LeftChild = s.Node(Leaf(0x55, {})); // wrong parent
                       n.Entries[0].Child = NotAnObject(s);
                     });
                   },
                   "Wrong parent."},
        TOrderCase{"TooManyBeforeWrongNumber", [] { return FlatStore(1, {"A", "B"}); }, "Too many values."},
        TOrderCase{"EntryCountBeforeValues",
                   [] {
                     // 52 entries would also hold too many values; the count check comes first.
                     return OneMessage([](THandStore& s, std::uint32_t, TDbxNode& n) {
                       n.Entries.assign(51, {s.Info("X"), 0, 0});
                       n.EntryCount = 52;
                     });
                   },
                   "Wrong value for entries."}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DbxTest, IndexErrorKeepsTheValuesFoundSoFar) {
  THandStore s(3);
  const std::uint32_t a = s.Info("A"), b = s.Info("B");
  TDbxNode root;
  root.Entries = {{a, 0, 0}, {b, 0, 0}, {0, NotAnObject(s), 1}};
  s.Root(s.Node(root));
  Write(s.Image);
  TDBXReader reader;
  EXPECT_RAISES(reader.SetFileName(Path()), EDBXReaderException, "Wrong object marker.");
  EXPECT_EQ(reader.InfoOffsets, (std::vector<std::uint32_t>{a, b, 0}));

  // Load after a failed Open reads nothing outside InfoOffsets: the zero offset is no object.
  EXPECT_RAISES(reader.Load(), EDBXReaderException, "Wrong object marker.");
  EXPECT_EQ(RecordOf(reader, 0).Subject.Str(), "A");
  EXPECT_EQ(RecordOf(reader, 1).Subject.Str(), "B");
  EXPECT_TRUE(AllZero(RecordOf(reader, 2)));
}

TEST_F(DbxTest, CountCheckedAgainstTheFileSize) {
  // A count the file could hold gets as far as the index; one more cannot be held.
  std::string bytes = FlatStore(1, {"A"});
  const std::uint32_t canHold = static_cast<std::uint32_t>((bytes.size() - kStoreStart) / 24);
  Write(WithCount(bytes, canHold));
  TDBXReader reader;
  EXPECT_RAISES(reader.SetFileName(Path()), EDBXReaderException, "Wrong number of values found");
  EXPECT_EQ(reader.InfoOffsets.size(), canHold);

  Write(WithCount(bytes, canHold + 1));
  EXPECT_RAISES(reader.SetFileName(Path()), EDBXReaderException, "Message count is larger than the file can hold.");
  EXPECT_TRUE(reader.InfoOffsets.empty()); // nothing was allocated for it
  EXPECT_TRUE(reader.Active);
  reader.Load(); // nothing to load
  EXPECT_TRUE(AllZero(RecordOf(reader, 0)));
}

TEST_F(DbxTest, LoadAfterOpenFailedBeforeTheMagicsDoesNothing) {
  std::string bytes = FlatStore(1, {"A"});
  bytes[4] = 0;
  Write(bytes);
  TDBXReader reader;
  EXPECT_RAISES(reader.SetFileName(Path()), EDBXReaderException, kNotADatabase);
  reader.Load();
  EXPECT_TRUE(AllZero(RecordOf(reader, 0)));
  EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, "No text found.");
}

TEST(DbxReader, NewReaderState) {
  TDBXReader reader;
  EXPECT_FALSE(reader.Active);
  EXPECT_EQ(reader.GetCount(), 0);
  EXPECT_EQ(reader.GetFolderName(), "");
  EXPECT_TRUE(reader.InfoOffsets.empty());
  reader.Load(); // not Active: nothing happens
  EXPECT_TRUE(AllZero(RecordOf(reader, 0)));
}

// ------------------------------------------------------------ the index tree

TEST_F(DbxTest, ValuesInTreeOrder) {
  // Root: left child holding A; entry 0 with B and a child holding C; entry 1 with D.
  THandStore s(4);
  const std::uint32_t a = s.Info("A"), b = s.Info("B"), c = s.Info("C"), d = s.Info("D");
  const std::uint32_t root = s.Reserve();
  TDbxNode n;
  n.LeftChild = s.Node(Leaf(root, {a}));
  n.LeftValueCount = 1;
  n.Entries = {{b, s.Node(Leaf(root, {c})), 1}, {d, 0, 0}};
  s.Write(root, n);
  s.Root(root);
  Write(s.Image);

  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(reader.InfoOffsets, (std::vector<std::uint32_t>{a, b, c, d}));
  for (std::int32_t i = 0; i < 4; ++i) EXPECT_EQ(RecordOf(reader, i).Subject.Str(), std::string(1, char('A' + i)));
}

TEST_F(DbxTest, FullNodeOf51EntriesIsAccepted) {
  THandStore s(51);
  TDbxNode root;
  for (int i = 0; i < 51; ++i) root.Entries.push_back({s.Info("S" + std::to_string(i)), 0, 0});
  s.Root(s.Node(root));
  Write(s.Image);
  TDBXReader reader;
  OpenAndLoad(reader);
  ASSERT_EQ(reader.GetCount(), 51);
  EXPECT_EQ(RecordOf(reader, 50).Subject.Str(), "S50");
}

TEST_F(DbxTest, EmptyNodeContributesOnlyItsLeftChild) {
  THandStore s(1);
  const std::uint32_t a = s.Info("A");
  const std::uint32_t root = s.Reserve();
  TDbxNode n;
  n.LeftChild = s.Node(Leaf(root, {a}));
  n.LeftValueCount = 1;
  n.Entries = {{s.Info("stale"), 0, 0}}; // bytes beyond EntryCount are not entries
  n.EntryCount = 0;
  s.Write(root, n);
  s.Root(root);
  Write(s.Image);
  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(reader.InfoOffsets, (std::vector<std::uint32_t>{a}));
}

TEST_F(DbxTest, EntryWithoutValueStillLeadsIntoItsChild) {
  THandStore s(2);
  const std::uint32_t a = s.Info("A"), b = s.Info("B");
  const std::uint32_t root = s.Reserve();
  TDbxNode n;
  n.Entries = {{0, s.Node(Leaf(root, {a})), 1}, {b, 0, 0}};
  s.Write(root, n);
  s.Root(root);
  Write(s.Image);
  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(reader.InfoOffsets, (std::vector<std::uint32_t>{a, b}));
}

// A chain of nodes, each the only child of the one before, the deepest holding
// the one value. The nodes overlap in the file (only the fields in use must not
// collide), which keeps a very deep tree small on disk.
std::string DeepChain(std::uint32_t depth, bool viaLeftChild) {
  THandStore s(1);
  const std::uint32_t info = s.Info("deep");
  const std::uint32_t stride = viaLeftChild ? 0x18 : 0x24; // header, plus one entry when chained through it
  const std::uint32_t base = static_cast<std::uint32_t>(s.Image.Size());
  for (std::uint32_t k = 0; k < depth; ++k) {
    const std::uint32_t at = base + k * stride;
    const bool last = k + 1 == depth;
    TDbxNode n;
    n.Parent = k == 0 ? 0 : at - stride;
    const std::uint32_t next = last ? 0 : at + stride;
    if (last)
      n.Entries = {{info, 0, 0}};
    else if (viaLeftChild) {
      n.LeftChild = next;
      n.LeftValueCount = 1;
      n.EntryCount = 0;
    } else
      n.Entries = {{0, next, 1}};
    s.Write(at, n);
  }
  s.Root(base);
  return s.Bytes();
}

class DbxDeepTree : public DbxTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DbxDeepTree, WalkedWithoutExhaustingTheCallStack) {
  Write(DeepChain(200000, GetParam()));
  TDBXReader reader;
  OpenAndLoad(reader);
  ASSERT_EQ(reader.InfoOffsets.size(), 1u);
  EXPECT_EQ(RecordOf(reader, 0).Subject.Str(), "deep");
}

INSTANTIATE_TEST_SUITE_P(Dbx, DbxDeepTree, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "LeftChildChain" : "EntryChildChain"; });

// Many levels, many nodes, several blocks per text: everything comes back as written.
TEST_F(DbxTest, MultiLevelStoreRoundTrip) {
  std::vector<TTestMessage> messages;
  for (int i = 0; i < 200; ++i) {
    TTestMessage m;
    m.Subject = "Subject " + std::to_string(i);
    m.SenderName = i % 3 ? "Ann" : "";
    m.SenderAddress = "ann" + std::to_string(i) + "@example.org";
    m.Flags = i % 2 ? 0x80u : 0x4020u;
    m.Priority = i % 5 == 0 ? 1 : 3;
    m.Received = FileTimeOf(2004, 1, 1 + i % 28, 12);
    m.MsgIndex = static_cast<std::uint32_t>(1000 + i);
    m.Text = "From: Ann\r\nSubject: " + m.Subject + "\r\n\r\n" + std::string(static_cast<std::size_t>(i * 37), 'b');
    messages.push_back(m);
  }
  Write(MakeDbx(messages, {"Inbox", 3, 64}));
  TDBXReader reader;
  OpenAndLoad(reader);
  ASSERT_EQ(reader.GetCount(), 200);
  EXPECT_EQ(reader.GetFolderName(), "Inbox");
  for (std::int32_t i = 0; i < 200; ++i) {
    SCOPED_TRACE(i);
    const TTestMessage& m = messages[static_cast<std::size_t>(i)];
    const TMessageRecord r = RecordOf(reader, i);
    EXPECT_EQ(r.Subject.Str(), m.Subject);
    EXPECT_EQ(r.SenderName.Str(), m.SenderName);
    EXPECT_EQ(r.SenderAddress.Str(), m.SenderAddress);
    EXPECT_EQ(r.Flags, m.Flags);
    EXPECT_EQ(r.Priority, m.Priority);
    EXPECT_EQ(r.MsgIndex, m.MsgIndex);
    EXPECT_EQ(r.Received, 37987.5 + i % 28);
    EXPECT_EQ(r.Size, m.Text.size());
    EXPECT_TRUE(r.DateText.Empty());
    EXPECT_EQ(reader.GetMessageText(i), m.Text);
    EXPECT_EQ(reader.GetMessageHeader(i), "From: Ann\r\nSubject: " + m.Subject + "\r");
  }
}

TEST_F(DbxTest, FolderName) {
  TDbxImage image = MakeDbx({TTestMessage{}});
  image.SetFolderName(std::string(300, 'n')); // no terminator before the block ends
  Write(image);
  TDBXReader reader;
  reader.SetFileName(Path());
  EXPECT_EQ(reader.GetFolderName(), std::string(283, 'n'));

  image.SetFolderName(std::string("Sent\0Items", 10));
  Write(image);
  reader.SetFileName(Path());
  EXPECT_EQ(reader.GetFolderName(), "Sent");
}

// ------------------------------------------------------------ property decoding

class DbxProperties : public DbxTest {
protected:
  // The record decoded from one message-info object; patch may change the image after it.
  TMessageRecord Decode(const std::vector<TDbxProperty>& properties,
                        const std::function<void(TDbxImage&, std::uint32_t)>& patch = {}) {
    TDbxImage image;
    const std::uint32_t at = image.AddMessageInfo(properties);
    if (patch) patch(image, at);
    image.BuildTree({at});
    Write(image);
    TDBXReader reader;
    OpenAndLoad(reader);
    return RecordOf(reader, 0);
  }
};

TEST_F(DbxProperties, DirectValuesAreTheEntrysThreeBytes) {
  const TMessageRecord r = Decode({TDbxProperty::Direct(0x80, 0x123456), TDbxProperty::Direct(0x81, 0xABCDEF),
                                   TDbxProperty::Direct(0x90, 0xFFFFFF)});
  EXPECT_EQ(r.MsgIndex, 0x00123456u);
  EXPECT_EQ(r.Flags, 0x00ABCDEFu);
  EXPECT_EQ(r.Priority, 0x00FFFFFF);
  EXPECT_EQ(r.TextOffset, 0u);
  EXPECT_EQ(r.Size, 0u);
}

TEST_F(DbxProperties, IndirectValuesAndTexts) {
  TDbxImage image;
  const std::uint32_t text = image.AddText("Subject: s\r\n\r\nbody", 8);
  const std::uint32_t at = image.AddMessageInfo({
      TDbxProperty::U32(0x01, 0xFFFFFFFF), TDbxProperty::U32(0x04, text), TDbxProperty::Text(0x07, "seven"),
      TDbxProperty::Text(0x08, "subject"), TDbxProperty::Text(0x0C, "twelve"), TDbxProperty::Text(0x0D, "Ann"),
      TDbxProperty::Text(0x0E, "ann@example.org"), TDbxProperty::U32(0x10, 5),
      TDbxProperty::U64(0x12, 127174320000000000ull), TDbxProperty::Text(0x13, "nineteen"),
      TDbxProperty::Text(0x14, "twenty"), TDbxProperty::Text(0x1A, "twenty-six")});
  image.BuildTree({at});
  Write(image);
  TDBXReader reader;
  OpenAndLoad(reader);
  const TMessageRecord r = RecordOf(reader, 0);
  EXPECT_EQ(r.Flags, 0xFFFFFFFFu);
  EXPECT_EQ(r.TextOffset, text);
  EXPECT_EQ(r.Text07.Str(), "seven");
  EXPECT_EQ(r.Subject.Str(), "subject");
  EXPECT_EQ(r.Text0C.Str(), "twelve");
  EXPECT_EQ(r.SenderName.Str(), "Ann");
  EXPECT_EQ(r.SenderAddress.Str(), "ann@example.org");
  EXPECT_EQ(r.Priority, 5);
  EXPECT_EQ(r.Received, 37987.5);
  EXPECT_EQ(r.Text13.Str(), "nineteen");
  EXPECT_EQ(r.Text14.Str(), "twenty");
  EXPECT_EQ(r.Text1A.Str(), "twenty-six");
  EXPECT_TRUE(r.DateText.Empty());
  EXPECT_EQ(r.MsgIndex, 0u);
  EXPECT_EQ(r.Size, 18u);
  EXPECT_EQ(reader.GetMessageText(0), "Subject: s\r\n\r\nbody");
}

TEST_F(DbxProperties, LaterEntryWins) {
  TMessageRecord r = Decode({TDbxProperty::U32(0x01, 0x11111111), TDbxProperty::Direct(0x81, 0x222222),
                             TDbxProperty::Text(0x08, "first"), TDbxProperty::Text(0x08, "second"),
                             TDbxProperty::Direct(0x90, 1), TDbxProperty::U32(0x10, 5)});
  EXPECT_EQ(r.Flags, 0x222222u);
  EXPECT_EQ(r.Subject.Str(), "second");
  EXPECT_EQ(r.Priority, 5);
  r = Decode({TDbxProperty::Direct(0x81, 0x222222), TDbxProperty::U32(0x01, 0x11111111),
              TDbxProperty::U32(0x10, 5), TDbxProperty::Direct(0x90, 1)});
  EXPECT_EQ(r.Flags, 0x11111111u);
  EXPECT_EQ(r.Priority, 1);
}

TEST_F(DbxProperties, UnknownIdsChangeNothing) {
  const std::vector<TDbxProperty> known = {TDbxProperty::Text(0x08, "subject"), TDbxProperty::Direct(0x81, 0x80)};
  std::vector<TDbxProperty> withUnknown = {TDbxProperty::Text(0x02, "two"), TDbxProperty::U32(0x11, 17)};
  withUnknown.insert(withUnknown.end(), known.begin(), known.end());
  for (const std::uint8_t id : {0x00, 0x05, 0x1B, 0x1C, 0x7F, 0x82, 0x83, 0x91, 0xFF})
    withUnknown.push_back(TDbxProperty::Direct(id, 0xFFFFFF));
  const TMessageRecord plain = Decode(known), other = Decode(withUnknown);
  EXPECT_EQ(std::memcmp(&plain, &other, sizeof plain), 0);
  EXPECT_EQ(other.Subject.Str(), "subject");
}

TEST_F(DbxProperties, StringsAreCutTo255Bytes) {
  std::string subject(300, 's');
  subject[254] = 'E';
  subject[255] = 'X';
  const TMessageRecord r = Decode({TDbxProperty::Text(0x08, subject), TDbxProperty::Text(0x0D, "")});
  EXPECT_EQ(r.Subject.Str(), subject.substr(0, 255));
  EXPECT_EQ(r.Subject.Str().back(), 'E');
  EXPECT_TRUE(r.SenderName.Empty());
}

TEST_F(DbxProperties, NoEntriesSetNothing) {
  const TMessageRecord r = Decode({TDbxProperty::Text(0x08, "subject")},
                                  [](TDbxImage& image, std::uint32_t at) { image.U8(at + 0x0A, 0); });
  EXPECT_TRUE(AllZero(r));
}

TEST_F(DbxProperties, BodyLengthIsSixteenBits) {
  // The two bytes after the body length are not part of it.
  const TMessageRecord r = Decode({TDbxProperty::Text(0x08, "subject")},
                                  [](TDbxImage& image, std::uint32_t at) { image.U16(at + 6, 0xFFFF); });
  EXPECT_EQ(r.Subject.Str(), "subject");
}

// Entries whose data lies outside the body are skipped; what lies behind the
// body in the file (here: bytes that would decode as a later, winning entry) is never read.
TEST_F(DbxProperties, EntriesOutsideTheBodyAreSkipped) {
  const std::string behind("\x80\x09\x00\x00LEAK", 8);
  auto appendBehind = [&](TDbxImage& image, std::uint32_t) { image.Bytes(image.Size(), behind); };

  // A data position past the body: the field keeps what an earlier entry gave it.
  TDbxProperty far{0x08, 0x000100, {}, true};
  TMessageRecord r = Decode({TDbxProperty::Text(0x08, "kept"), far}, appendBehind);
  EXPECT_EQ(r.Subject.Str(), "kept");

  // A string that runs to the end of the body without a terminator.
  r = Decode({TDbxProperty::Direct(0x80, 7), TDbxProperty{0x08, 0, "open", false}}, appendBehind);
  EXPECT_TRUE(r.Subject.Empty());
  EXPECT_EQ(r.MsgIndex, 7u);

  // A number or a FILETIME that straddles the end of the body.
  r = Decode({TDbxProperty{0x01, 0, "\x01\x02\x03", false}}, appendBehind);
  EXPECT_EQ(r.Flags, 0u);
  r = Decode({TDbxProperty{0x12, 0, std::string("\x01\x02\x03\x04\x05\x06\x07", 7), false}}, appendBehind);
  EXPECT_EQ(r.Received, 0.0);

  // An entry table longer than the body: only the entries inside it count.
  r = Decode({TDbxProperty::Direct(0x80, 7)}, [&](TDbxImage& image, std::uint32_t at) {
    image.U8(at + 0x0A, 3);
    appendBehind(image, at);
  });
  EXPECT_EQ(r.MsgIndex, 7u);
  EXPECT_TRUE(r.Subject.Empty());
}

TEST_F(DbxTest, InfoObjectRunningPastTheEndFailsLoad) {
  TDbxImage image;
  const std::uint32_t at = image.AddMessageInfo({TDbxProperty::Text(0x08, "subject")});
  image.BuildTree({at});
  image.U16(at + 4, 0xFFFF); // the body would run past the end of the file
  Write(image);
  TDBXReader reader;
  reader.SetFileName(Path());
  EXPECT_RAISES(reader.Load(), EReadError, "Stream read error");
}

// ------------------------------------------------------------ Load failures

TEST_F(DbxTest, LoadFailureKeepsEarlierRecordsAndZerosTheRest) {
  struct TCase {
    const char* Name;
    std::function<void(TDbxImage&, std::uint32_t info, std::uint32_t text)> Spoil;
    const char* Message;
  };
  const TCase cases[] = {
      {"InfoMarker", [](TDbxImage& image, std::uint32_t info, std::uint32_t) { image.U32(info, info + 1); },
       "Wrong object marker."},
      {"SecondBlockMarker",
       [](TDbxImage& image, std::uint32_t, std::uint32_t text) {
         const std::uint32_t second = image.GetU32(text + 12);
         image.U32(second, 0);
       },
       "Wrong object marker."},
      {"CircularChain",
       [](TDbxImage& image, std::uint32_t, std::uint32_t text) {
         const std::uint32_t third = image.GetU32(image.GetU32(text + 12) + 12);
         image.U32(third + 12, image.GetU32(text + 12)); // third leads back to second
       },
       "Circular text block chain."},
      {"SelfLoop", [](TDbxImage& image, std::uint32_t, std::uint32_t text) { image.U32(text + 12, text); },
       "Circular text block chain."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::uint32_t> infos, texts;
    TDbxImage image;
    image.SetFolderName("Inbox");
    for (const char* subject : {"zero", "one", "two"}) {
      texts.push_back(image.AddText(std::string("Subject: ") + subject + "\r\n\r\nbody text", 8));
      TTestMessage m;
      m.Subject = subject;
      infos.push_back(image.AddMessageInfo(PropertiesOf(m, texts.back())));
    }
    image.BuildTree(infos);
    c.Spoil(image, infos[1], texts[1]);
    Write(image);
    TDBXReader reader;
    reader.SetFileName(Path());
    EXPECT_RAISES(reader.Load(), EDBXReaderException, c.Message);
    EXPECT_TRUE(reader.Active);
    EXPECT_EQ(RecordOf(reader, 0).Subject.Str(), "zero");
    EXPECT_TRUE(AllZero(RecordOf(reader, 1)));
    EXPECT_TRUE(AllZero(RecordOf(reader, 2)));
    EXPECT_EQ(reader.GetMessageText(0), "Subject: zero\r\n\r\nbody text");
  }
}

// ------------------------------------------------------------ texts

class DbxText : public DbxTest {
protected:
  TDbxImage Image;
  std::vector<std::uint32_t> Blocks; // in chain order

  // One message whose text lies in exactly these blocks.
  void Make(const std::vector<std::string>& blocks) {
    Image = TDbxImage();
    Blocks.assign(blocks.size(), 0);
    std::uint32_t next = 0;
    for (std::size_t i = blocks.size(); i-- > 0;) next = Blocks[i] = Image.AddBlock(blocks[i], next);
    TTestMessage m;
    m.Subject = "text";
    Image.BuildTree({Image.AddMessageInfo(PropertiesOf(m, next))});
    Write(Image);
  }
  // Changes the store after Load, as another program might.
  void Rewrite(const std::function<void(TDbxImage&)>& change) {
    change(Image);
    Write(Image);
  }
};

TEST_F(DbxText, SizeIsTheSumOfTheChain) {
  Make({"abc", "defg", "", "h"});
  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(RecordOf(reader, 0).Size, 8u);
  EXPECT_EQ(reader.GetMessageText(0), "abcdefgh");
}

TEST_F(DbxText, NoTextFound) {
  for (const std::vector<std::string>& blocks : {std::vector<std::string>{}, std::vector<std::string>{"", ""}}) {
    SCOPED_TRACE(blocks.size());
    Make(blocks);
    TDBXReader reader;
    OpenAndLoad(reader);
    EXPECT_EQ(RecordOf(reader, 0).Size, 0u);
    EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, "No text found.");
    EXPECT_RAISES(reader.GetMessageHeader(0), EDBXReaderException, "No text found.");
  }
}

TEST_F(DbxText, ZeroByteEndsOnlyItsBlocksShare) {
  Make({std::string("ab\0cd", 5), "ef", std::string("\0gh", 3), "ij"});
  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(RecordOf(reader, 0).Size, 12u);
  EXPECT_EQ(reader.GetMessageText(0), "abefij");
}

TEST_F(DbxText, HeaderEndsWithTheCarriageReturnOfItsLastLine) {
  Make({"A: 1\r\nB: 2\r\n\r\nbody\r\n\r\nmore"});
  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(reader.GetMessageHeader(0), "A: 1\r\nB: 2\r");
  EXPECT_EQ(reader.GetMessageText(0), "A: 1\r\nB: 2\r\n\r\nbody\r\n\r\nmore");
}

TEST_F(DbxText, NoBlankLineGivesAnEmptyHeader) {
  for (const char* text : {"A: 1\r\nB: 2\r\nbody", "A: 1\n\nbody", "A: 1\r\n\r\r\n"}) {
    SCOPED_TRACE(text);
    Make({text});
    TDBXReader reader;
    OpenAndLoad(reader);
    EXPECT_EQ(reader.GetMessageHeader(0), "");
    EXPECT_EQ(reader.GetMessageText(0), text);
  }
}

// The blank line split between two blocks at every place; the block after the
// one that completes it is never read (it is spoilt after Load).
TEST_F(DbxText, HeaderFoundAcrossBlocksReadsNoFurther) {
  const std::string text = "A: 1\r\nB: 2\r\n\r\nbody";
  for (std::size_t split = 9; split <= 15; ++split) {
    SCOPED_TRACE(split);
    Make({text.substr(0, split), text.substr(split), "tail"});
    TDBXReader reader;
    OpenAndLoad(reader);
    const std::size_t last = split >= 14 ? 0 : 1; // the block in which the blank line is complete
    Rewrite([&](TDbxImage& image) { image.U32(Blocks[last + 1] + 8, 0xFFFFFFF0); });
    EXPECT_EQ(reader.GetMessageHeader(0), "A: 1\r\nB: 2\r");
    EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, "Text block is longer than the message.");
  }
}

TEST_F(DbxText, BlockLongerThanTheMessageAfterAChange) {
  Make({"abcd", "efgh"});
  TDBXReader reader;
  OpenAndLoad(reader);
  ASSERT_EQ(RecordOf(reader, 0).Size, 8u);

  // One block now claims more than the whole message; then two that together do.
  const std::pair<std::uint32_t, std::uint32_t> lengths[] = {{9, 4}, {0xFFFFFFFF, 4}, {4, 5}};
  for (const auto& [first, second] : lengths) {
    SCOPED_TRACE(first);
    Rewrite([&](TDbxImage& image) {
      image.U32(Blocks[0] + 8, first);
      image.U32(Blocks[1] + 8, second);
    });
    EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, "Text block is longer than the message.");
  }
  Rewrite([&](TDbxImage& image) { // a shorter text is fine
    image.U32(Blocks[0] + 8, 2);
    image.U32(Blocks[1] + 8, 3);
  });
  EXPECT_EQ(reader.GetMessageText(0), "abefg");
}

// Lengths that add up past 32 bits give a small Size; the text never outgrows it.
TEST_F(DbxText, SizeThatWrappedAround) {
  Make({"abcd", "efgh"});
  Image.U32(Blocks[0] + 8, 0xFFFFFFFF);
  Image.U32(Blocks[1] + 8, 2);
  Write(Image);
  TDBXReader reader;
  OpenAndLoad(reader);
  EXPECT_EQ(RecordOf(reader, 0).Size, 1u);
  EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, "Text block is longer than the message.");
}

TEST_F(DbxText, TextPastTheEndOfTheFile) {
  // The file is cut inside the first block's text after Load.
  Make({"abcdefgh", "ij"});
  TDBXReader reader;
  OpenAndLoad(reader);
  Write(Image.Str().substr(0, Blocks[0] + 16 + 5));
  EXPECT_RAISES(reader.GetMessageText(0), EReadError, "Stream read error");

  // A length the file cannot back at all is refused before a buffer is taken for it.
  Make({"abcd"});
  Rewrite([&](TDbxImage& image) { image.U32(Blocks[0] + 8, 0x7FFFFFF0); });
  OpenAndLoad(reader);
  ASSERT_EQ(RecordOf(reader, 0).Size, 0x7FFFFFF0u);
  EXPECT_RAISES(reader.GetMessageText(0), EReadError, "Stream read error");
}

TEST_F(DbxText, CircularChainAfterLoad) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Blocks;
    std::size_t From, To; // the NextBlock of block From is made to lead to block To
    const char* Message;
  };
  const TCase cases[] = {
      {"SelfLoop", {"abc", "def"}, 0, 0, "Circular text block chain."},
      {"EmptyBlocksLoop", {"A: 1\r\n", "", "", ""}, 3, 1, "Circular text block chain."},
      // A loop through blocks with text runs past the message's Size first; it is still a loop.
      {"LoopWithText", {"abc", "def"}, 1, 0, "Circular text block chain."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Make(c.Blocks);
    TDBXReader reader;
    OpenAndLoad(reader);
    Rewrite([&](TDbxImage& image) { image.U32(Blocks[c.From] + 12, Blocks[c.To]); });
    EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, c.Message);
    EXPECT_RAISES(reader.GetMessageHeader(0), EDBXReaderException, c.Message);
  }
}

// ------------------------------------------------------------ opening again

TEST_F(DbxTest, OpeningAnotherStoreReplacesEverything) {
  Write(FlatStore(3, {"A", "B", "C"}));
  TDBXReader reader;
  OpenAndLoad(reader);
  ASSERT_EQ(RecordOf(reader, 2).Subject.Str(), "C");

  WriteFileBytes(Dir / "other.dbx", MakeDbx({TTestMessage{"Z", "", "", 0x80, 3, 0, 0, "Subject: Z\r\n\r\n"}},
                                            {"Other", 51, 512})
                                        .Str());
  reader.SetFileName(Dir / "other.dbx");
  EXPECT_EQ(reader.GetCount(), 1);
  EXPECT_EQ(reader.GetFolderName(), "Other");
  EXPECT_TRUE(AllZero(RecordOf(reader, 0))); // emptied until Load runs again
  reader.Load();
  EXPECT_EQ(RecordOf(reader, 0).Subject.Str(), "Z");
  EXPECT_TRUE(AllZero(RecordOf(reader, 1)));
  EXPECT_EQ(reader.GetMessageText(0), "Subject: Z\r\n\r\n");
}

// A reopen whose file cannot be opened leaves no record of the closed store behind.
TEST_F(DbxTest, FailedReopenForgetsTheOldRecords) {
  TTestMessage m;
  m.Subject = "old";
  m.Text = "Subject: old\r\n\r\nbody";
  Write(MakeDbx({m, m, m}));
  TDBXReader reader;
  OpenAndLoad(reader);
  ASSERT_EQ(reader.GetMessageText(0), m.Text);

  EXPECT_RAISES(reader.SetFileName(Dir / "gone.dbx"), EFOpenError, "Cannot open file " + (Dir / "gone.dbx"));
  EXPECT_FALSE(reader.Active);
  EXPECT_EQ(reader.Format, sfUnknown);
  EXPECT_TRUE(AllZero(RecordOf(reader, 0)));
  EXPECT_TRUE(reader.InfoOffsets.empty());
  EXPECT_RAISES(reader.GetMessageText(0), EDBXReaderException, "No text found.");
  reader.Load(); // not Active
  EXPECT_TRUE(AllZero(RecordOf(reader, 0)));
  // The header is what the last header read left.
  EXPECT_EQ(reader.GetCount(), 3);
  EXPECT_EQ(reader.GetFolderName(), "Inbox");
}

} // namespace
