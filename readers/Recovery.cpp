#include "Recovery.h"

#include "DbxFormat.h"
#include "Exceptions.h"
#include "MbxFormat.h"
#include "ReaderFactory.h"
#include "TextLines.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace postvue {

namespace {
constexpr std::size_t kLookBytes = 1024;          // how much of a text the look test needs
constexpr std::uint64_t kScanChunk = 4 << 20;     // bytes scanned per read
constexpr std::uint64_t kProgressStep = 16 << 20; // bytes between progress reports
// The read window: large while reading goes on through the file, small after
// a jump, so a store whose messages lie in no order costs no more than one
// small read per object.
constexpr std::size_t kWindowLarge = 1 << 20, kWindowSmall = 64 << 10;

std::string Hex(std::uint64_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value);
  return "0x" + text;
}

bool IsAlnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// "Name:" with a name as mail programs write them: letters, digits, "-",
// "_" and ".", beginning with a letter or digit. (Any printable character
// would be allowed, but then "<td>Subject:" in old HTML would pass.)
bool IsFieldLine(std::string_view line) {
  if (line.empty() || !IsAlnum(line[0])) return false;
  std::size_t i = 1;
  while (i < line.size() && (IsAlnum(line[i]) || line[i] == '-' || line[i] == '_' || line[i] == '.')) ++i;
  return i < line.size() && line[i] == ':';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Byte ranges of the file that belong to messages already given.
class TRanges {
public:
  void Add(std::uint64_t from, std::uint64_t to) {
    if (from >= to) return;
    if (!Items.empty() && Items.back().second == from)
      Items.back().second = to; // a chain's blocks usually follow one another
    else
      Items.emplace_back(from, to);
  }
  std::size_t Count() const { return Items.size(); }
  // The ranges from item first on, sorted.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Since(std::size_t first) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> items(Items.begin() + static_cast<std::ptrdiff_t>(first),
                                                              Items.end());
    std::sort(items.begin(), items.end());
    return items;
  }
  void AddAll(const TRanges& other) { Items.insert(Items.end(), other.Items.begin(), other.Items.end()); }
  // Whether [from, to) meets any range; only after Merge.
  bool Meets(std::uint64_t from, std::uint64_t to) const {
    auto it = std::upper_bound(Items.begin(), Items.end(), std::make_pair(from, UINT64_MAX));
    if (it != Items.begin() && std::prev(it)->second > from) return true;
    return it != Items.end() && it->first < to;
  }
  // Sorts the ranges and merges those that meet.
  void Merge() {
    std::sort(Items.begin(), Items.end());
    std::size_t kept = 0;
    for (const auto& r : Items) {
      if (kept > 0 && r.first <= Items[kept - 1].second)
        Items[kept - 1].second = std::max(Items[kept - 1].second, r.second);
      else
        Items[kept++] = r;
    }
    Items.resize(kept);
  }
  // What lies between them within [from, to).
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Gaps(std::uint64_t from, std::uint64_t to) {
    Merge();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
    std::uint64_t at = from;
    for (const auto& r : Items) {
      if (r.first > at && at < to) gaps.emplace_back(at, std::min(r.first, to));
      at = std::max(at, r.second);
    }
    if (at < to) gaps.emplace_back(at, to);
    return gaps;
  }

private:
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Items;
};

// Where a text came from, so that it can be read again to compare.
struct TTextRef {
  std::uint64_t At;
  std::uint64_t Length;
  bool Listed;
};

// The texts given so far, by a signature of their length, head and tail
// (hashing every byte of a gigabyte of listed texts would cost more than
// reading them); an equal signature is confirmed byte by byte.
class TSeenTexts {
public:
  bool Contains(std::string_view text, const std::function<std::string(const TTextRef&)>& reread) const {
    const auto it = Seen.find(Signature(text));
    if (it == Seen.end()) return false;
    for (const TTextRef& ref : it->second)
      if (reread(ref) == text) return true;
    return false;
  }
  void Add(std::string_view text, const TTextRef& ref) { Seen[Signature(text)].push_back(ref); }

private:
  static std::size_t Signature(std::string_view text) {
    constexpr std::size_t kEdge = 256;
    const std::hash<std::string_view> hash;
    std::size_t h = hash(text.substr(0, kEdge));
    if (text.size() > kEdge) h ^= hash(text.substr(text.size() - std::min(kEdge, text.size() - kEdge))) * 31;
    return h ^ (text.size() * 0x9E3779B97F4A7C15ULL);
  }
  std::unordered_map<std::size_t, std::vector<TTextRef>> Seen;
};

// What both formats share: bounded reads, the sink, the counts, progress.
class TRun {
public:
  TRun(TFileStream& stream, TRecoverySink& sink) : Stream(stream), Sink(sink), Size(stream.Size()) {}
  virtual ~TRun() = default;
  virtual void Execute() = 0;
  TRecoverySummary Summary;

protected:
  // Exactly count bytes at offset, or false when they are not all in the
  // file. Small reads are served from the window.
  bool ReadExactly(std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset > Size || count > Size - offset) return false;
    if (count == 0) return true;
    const std::uint64_t windowEnd = WindowStart + WindowLength;
    if (offset < WindowStart || offset + count > windowEnd) {
      if (count > kWindowSmall) return ReadFile(offset, buffer, count);
      // Near the window, before it (an object written after its text) or
      // after it, reading goes on through the file. Once objects turn out
      // to follow their text, windows start early enough to hold that text.
      const bool nearby = WindowLength > 0 && offset + kWindowSmall >= WindowStart && offset <= windowEnd + kWindowSmall;
      const bool backward = nearby && offset < WindowStart;
      if (backward) BackReach = kWindowSmall;
      const std::uint64_t from = nearby && !backward ? offset - std::min<std::uint64_t>(offset, BackReach) : offset;
      if (!Load(from, nearby ? kWindowLarge : kWindowSmall)) return false;
    }
    std::memcpy(buffer, Window.data() + (offset - WindowStart), count);
    return true;
  }

  // Up to count bytes at offset, as many as the file holds.
  std::string ReadUpTo(std::uint64_t offset, std::uint64_t count) {
    if (offset >= Size) return {};
    std::string bytes(static_cast<std::size_t>(std::min(count, Size - offset)), '\0');
    if (!ReadExactly(offset, bytes.data(), bytes.size())) return {};
    return bytes;
  }

  bool ReadFile(std::uint64_t offset, void* buffer, std::size_t count) {
    try {
      Stream.ReadAt(offset, buffer, count);
    } catch (const EReadError&) {
      return false; // the file shrank while open: as if it ended there
    }
    return true;
  }

  bool Load(std::uint64_t offset, std::size_t size) {
    LeaveWindow();
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(size, Size - offset));
    if (Window.size() < length) Window.resize(kWindowLarge);
    if (!ReadFile(offset, Window.data(), length)) return false;
    WindowStart = offset;
    WindowLength = length;
    CoveredAtLoad = Covered.Count() > 0 ? Covered.Count() - 1 : 0; // the last range may still grow
    return true;
  }

  // Before the window moves on, the bytes in it that no message has claimed
  // are searched, so that free space is read once. What a jump leaves
  // behind is searched at the end.
  void LeaveWindow() {
    const std::uint64_t end = WindowStart + WindowLength;
    const std::uint64_t lastStart = end > dbx::kBlockHeaderSize - 1 ? end - (dbx::kBlockHeaderSize - 1) : 0;
    if (SearchWhileReading && WindowLength > 0 && std::max(WindowStart, SearchMark) < lastStart) {
      std::uint64_t at = std::max(WindowStart, SearchMark);
      for (const auto& claimed : Covered.Since(CoveredAtLoad)) {
        if (claimed.second <= at) continue;
        if (claimed.first >= lastStart) break;
        if (claimed.first > at) SearchWindow(at, claimed.first);
        at = std::max(at, claimed.second);
      }
      if (at < lastStart) SearchWindow(at, lastStart);
      Searched.Add(std::max(WindowStart, SearchMark), lastStart);
      SearchMark = lastStart;
    }
    WindowLength = 0;
  }

  // Searches the headers that begin in [from, to), all within the window.
  virtual void SearchWindow(std::uint64_t from, std::uint64_t to) {
    (void)from;
    (void)to;
  }

  // Appends up to count bytes at offset, as many as the file holds, to
  // text, up to the first zero byte among them. Returns how many were in
  // the file.
  std::uint64_t AppendUpToZero(std::string& text, std::uint64_t offset, std::uint64_t count) {
    if (offset >= Size) return 0;
    const std::size_t length = static_cast<std::size_t>(std::min(count, Size - offset));
    const std::size_t old = text.size();
    text.resize(old + length);
    if (!ReadExactly(offset, text.data() + old, length)) {
      text.resize(old);
      return 0;
    }
    const void* zero = std::memchr(text.data() + old, 0, length);
    if (zero) text.resize(static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
    return length;
  }

  void Problem(std::uint64_t offset, const std::string& what) {
    ++Summary.Problems;
    Sink.Problem(offset, what);
  }

  void Advance(std::uint64_t bytes) {
    Done += bytes;
    if (Done - Reported >= kProgressStep) {
      Reported = Done;
      Sink.Progress(std::min(Done, Size), Size);
    }
  }

  // Gives a message to the sink, unless a text equal to it was given before.
  void Give(TRecoveredMessage& message, const TTextRef& ref,
            const std::function<std::string(const TTextRef&)>& reread) {
    if (message.Kind != TRecoveredKind::Listed && Seen.Contains(message.Text, reread)) {
      ++Summary.Duplicates;
      return;
    }
    Seen.Add(message.Text, ref);
    if (message.Subject.empty()) message.Subject = HeaderField(message.Text, "Subject");
    switch (message.Kind) {
    case TRecoveredKind::Listed: ++Summary.Listed; break;
    case TRecoveredKind::Removed: message.Number = Summary.Removed++; break;
    case TRecoveredKind::Unclassified: message.Number = Summary.Unclassified++; break;
    }
    if (message.Incomplete) ++Summary.Incomplete;
    Sink.Message(message);
  }

  TFileStream& Stream;
  TRecoverySink& Sink;
  const std::uint64_t Size;
  TRanges Covered;  // bytes of the messages given from the index
  TRanges Searched; // header starts searched while reading
  TSeenTexts Seen;
  std::uint64_t Done = 0, Reported = 0;

  std::vector<std::uint8_t> Window;
  std::uint64_t WindowStart = 0, WindowLength = 0, BackReach = 0;
  std::size_t CoveredAtLoad = 0;
  bool SearchWhileReading = false;
  std::uint64_t SearchMark = 0; // header starts below it were searched, or are left to the end
};

// ---------------------------------------------------------------- .dbx

// A value of the index: where in index order, and its message-info object.
struct TListedMessage {
  std::uint32_t Number;
  std::uint32_t Info;
};

// A text block header found by its structure.
struct TFoundBlock {
  std::uint32_t Pos, Marker, Length, Next;
};

struct TChainText {
  std::string Text;
  bool Incomplete = false;
  std::string Reason;
};

constexpr std::uint32_t kNone = 0xFFFFFFFF;

using namespace dbx;

const char* IndexNodeDamage(TFault fault) {
  switch (fault) {
  case TFault::WrongMarker: return "index node with a wrong marker";
  case TFault::WrongParent: return "index node with a wrong parent";
  default: return "index node with too many entries";
  }
}

class TDbxRun : public TRun {
public:
  using TRun::TRun;

  void Execute() override {
    std::vector<TListedMessage> listed;
    Summary.IndexRead = ReadIndex(listed);
    WindowLength = 0; // the index lies apart; its bytes are searched with the rest at the end
    // Each message-info object is read right before its text, which usually
    // follows it, and free space is searched as the window passes it: a
    // sound store is read about once.
    SearchWhileReading = true;
    SearchMark = kFirstObject;
    for (const TListedMessage& m : listed) GiveListed(m, Positions);
    LeaveWindow();
    SearchWhileReading = false;

    // What no listed message occupies and the window did not pass: removed
    // messages, stale copies, orphans of a damaged index.
    const std::uint64_t end = std::min(Size, kOffsetLimit);
    TRanges done = Covered;
    done.AddAll(Searched);
    for (const auto& gap : done.Gaps(kFirstObject, end)) ScanGap(gap.first, gap.second);
    DropClaimed();
    LinkBlocks();
    GiveFound();
  }

private:
  // The index tree, walked without recursion and without trusting its
  // counts: every value of every node that is sound is listed. A node that
  // is not is reported and its subtree left to the scan. False when the
  // root cannot be read, so nothing can be called listed.
  bool ReadIndex(std::vector<TListedMessage>& listed) {
    std::uint8_t headerBytes[kHeaderSize];
    if (!ReadExactly(0, headerBytes, sizeof headerBytes)) {
      Problem(0, "the file ends inside its header");
      return false;
    }
    // The magic was recognised already; the kind is what is left to check.
    const TDecoded<TFileHeader> header = DecodeFileHeader(headerBytes);
    if (!header.Sound()) {
      // Another kind of database keeps other records in its tree.
      Problem(kDatabaseKindAt, "the header does not name a message database: its index is not used");
      return false;
    }
    const std::uint32_t root = header.Value.IndexRoot;
    if (root == 0) {
      if (header.Value.MessageCount == 0) return true; // an empty folder
      Problem(kIndexRootAt, "the header names no index");
      return false;
    }

    struct TItem {
      bool Node;
      std::uint32_t Offset, Parent;
    };
    std::vector<TItem> work{{true, root, 0}};
    std::unordered_set<std::uint32_t> nodes;
    std::uint32_t& position = Positions;
    bool rootRead = false;
    std::uint8_t bytes[kNodeSize];
    while (!work.empty()) {
      const TItem item = work.back();
      work.pop_back();
      if (!item.Node) {
        listed.push_back({position++, item.Offset});
        continue;
      }
      // Without trusting the count, the file's size bounds the walk: every
      // node needs 636 bytes of its own, every message 24 (an object and an
      // index entry), however a crafted index names them.
      if (nodes.size() >= Size / kNodeSize || listed.size() >= Size / kMinBytesPerMessage) {
        Problem(item.Offset, "the index names more than the file can hold: the rest is searched for in the file");
        break;
      }
      const char* damage = nullptr;
      TDecoded<TIndexNode> node;
      if (!nodes.insert(item.Offset).second)
        damage = "index node reached twice";
      else if (!ReadExactly(item.Offset, bytes, kNodeSize))
        damage = "index node outside the file";
      else if (node = DecodeIndexNode(bytes, item.Offset, item.Parent); !node.Sound())
        damage = IndexNodeDamage(node.Fault);
      if (damage) {
        Problem(item.Offset, std::string(damage) + ": the messages below it are searched for in the file");
        continue;
      }
      rootRead = rootRead || item.Offset == root;
      // In order: the left subtree, then each entry's value and its subtree.
      for (unsigned i = node.Value.EntryCount; i-- > 0;) {
        const TIndexEntry entry = node.Value.Entry(i);
        if (entry.Child) work.push_back({true, entry.Child, item.Offset});
        if (entry.Value) work.push_back({false, entry.Value, 0});
      }
      if (node.Value.LeftChild) work.push_back({true, node.Value.LeftChild, item.Offset});
    }
    return rootRead;
  }

  // The message-info object at offset, decoded as the reader decodes it.
  bool ReadMessageInfo(std::uint32_t offset, TMessageRecord& m) {
    std::uint8_t header[kObjectHeaderSize];
    if (!ReadExactly(offset, header, sizeof header)) {
      Problem(offset, "message-info object outside the file");
      return false;
    }
    const TDecoded<TObjectHeader> object = DecodeObjectHeader(header, offset);
    if (!object.Sound()) {
      Problem(offset, "message-info object with a wrong marker");
      return false;
    }
    Body.resize(object.Value.BodyLength);
    if (!ReadExactly(static_cast<std::uint64_t>(offset) + kObjectHeaderSize, Body.data(), Body.size())) {
      Problem(offset, "message-info object reaching past the end of the file");
      return false;
    }
    DecodeMessageInfo(TProperties(Body, object.Value.EntryCount), m); // what cannot be decoded stays unset, as in the list
    return true;
  }

  // A listed message's text, block by block from first as the reader reads
  // it, markers checked; where the chain breaks off the text ends.
  TChainText ListedText(std::uint32_t first, bool cover) {
    TChainText result;
    std::unordered_set<std::uint32_t> seen; // filled only once the chain steps backwards
    std::uint32_t highest = 0;
    for (std::uint32_t b = first; b != 0;) {
      if (b <= highest) {
        if (seen.empty()) seen.insert(ChainBlocks.begin(), ChainBlocks.end());
        if (seen.count(b)) {
          result.Incomplete = true;
          result.Reason = "its text block chain comes back to the block at " + Hex(b);
          break;
        }
      }
      ChainBlocks.push_back(b);
      if (!seen.empty()) seen.insert(b);
      highest = std::max(highest, b);

      std::uint8_t bytes[kBlockHeaderSize];
      if (!ReadExactly(b, bytes, sizeof bytes)) {
        result.Incomplete = true;
        result.Reason = "the file ends before its text block at " + Hex(b);
        break;
      }
      const TDecoded<TBlockHeader> header = DecodeBlockHeader(bytes, b);
      if (!header.Sound()) {
        result.Incomplete = true;
        result.Reason = "its text block at " + Hex(b) + " has a wrong marker";
        break;
      }
      const std::uint32_t length = header.Value.DataLength;
      const std::uint64_t got = AppendUpToZero(result.Text, static_cast<std::uint64_t>(b) + kBlockHeaderSize, length);
      if (cover) {
        Covered.Add(b, static_cast<std::uint64_t>(b) + kBlockHeaderSize + got);
        Advance(kBlockHeaderSize + got);
      }
      if (got < length) {
        result.Incomplete = true;
        result.Reason = "the file ends inside its text";
        break;
      }
      b = header.Value.NextBlock;
    }
    ChainBlocks.clear();
    return result;
  }

  void GiveListed(const TListedMessage& listed, std::uint32_t limit) {
    TMessageRecord m{};
    if (!ReadMessageInfo(listed.Info, m)) return;
    if (m.TextOffset == 0) {
      Problem(listed.Info, "message " + std::to_string(listed.Number) + " has no text");
      return;
    }
    TChainText chain = ListedText(m.TextOffset, true);
    if (chain.Text.empty()) {
      Problem(m.TextOffset, "message " + std::to_string(listed.Number) + ": no text could be read" +
                                (chain.Incomplete ? " (" + chain.Reason + ")" : std::string()));
      return;
    }
    TRecoveredMessage message;
    message.Kind = TRecoveredKind::Listed;
    message.Number = listed.Number;
    message.NumberLimit = limit;
    message.Offset = m.TextOffset;
    message.Text = std::move(chain.Text);
    message.Subject = m.Subject.Str();
    message.Received = m.Received;
    message.Incomplete = chain.Incomplete;
    message.IncompleteReason = std::move(chain.Reason);
    Give(message, {m.TextOffset, 0, true}, Reread());
  }

  void SearchWindow(std::uint64_t from, std::uint64_t to) override {
    to = std::min(to, kOffsetLimit); // no block lies beyond what a 32-bit offset names
    if (from < to) SearchBytes(from, to, std::span<const std::uint8_t>(Window).subspan(from - WindowStart, WindowStart + WindowLength - from));
  }

  // Header starts in [from, to) that the window did not pass, read in chunks.
  void ScanGap(std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t start = from; start < to; start += kScanChunk) {
      const std::uint64_t starts = std::min(to, start + kScanChunk);
      const std::size_t length = static_cast<std::size_t>(std::min(Size, starts + kBlockHeaderSize - 1) - start);
      if (length < kBlockHeaderSize) return;
      Buffer.resize(length);
      if (!ReadFile(start, Buffer.data(), length)) return;
      SearchBytes(start, starts, Buffer);
      Advance((starts - start) / 2);
    }
  }

  // Text block headers by their structure: 16 bytes of Marker, capacity,
  // DataLength and NextBlock, with 0 < DataLength <= capacity <= 0xFFFF.
  // Every header thus has two zero bytes, the capacity's high half, which is
  // what the search looks for; text holds none, so it is passed over
  // quickly. bytes begin at from; headers beginning before to are searched.
  void SearchBytes(std::uint64_t from, std::uint64_t to, std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kHigh = kBlockCapacityAt + 2;
    if (bytes.size() < kBlockHeaderSize) return;
    const std::size_t lastStart =
        static_cast<std::size_t>(std::min<std::uint64_t>(to - from, bytes.size() - kBlockHeaderSize + 1)) - 1;
    const std::size_t lastHigh = lastStart + kHigh; // bytes[lastHigh + 1] is still in the span
    for (std::size_t i = kHigh; i <= lastHigh;) {
      const std::span<const std::uint8_t> rest = bytes.subspan(i, lastHigh + 1 - i);
      const void* zero = std::memchr(rest.data(), 0, rest.size());
      if (!zero) break;
      i += static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - rest.data());
      if (bytes[i + 1] != 0) {
        i += 2;
        continue;
      }
      TryBlock(from + i - kHigh, bytes.subspan(i - kHigh, kBlockHeaderSize));
      if (i + 2 <= lastHigh && bytes[i + 2] == 0) TryBlock(from + i - kHigh + 1, bytes.subspan(i - kHigh + 1, kBlockHeaderSize));
      // Further on in a run of zeros a capacity would be 0: no header begins there.
      i += 2;
      while (i <= lastHigh && bytes[i] == 0) ++i;
    }
  }

  void TryBlock(std::uint64_t pos, std::span<const std::uint8_t> bytes) {
    // A block may have moved since it was written: its Marker is where it was.
    const TBlockHeader header = DecodeBlockHeader(bytes, static_cast<std::uint32_t>(pos)).Value;
    if (header.DataLength == 0 || header.DataLength > header.Capacity) return;
    const std::uint32_t marker = header.Marker, next = header.NextBlock;
    if (marker < kFirstObject || (next != 0 && next < kFirstObject)) return;
    // Blocks of a store take 17 bytes at least and do not overlap; bytes
    // crafted to look like a header every few bytes must not take memory
    // without bound.
    if (Found.size() >= Size / kBlockHeaderSize) {
      if (!FoundFull) Problem(pos, "more block headers than the file can hold: the rest is not searched");
      FoundFull = true;
      return;
    }
    Found.push_back({static_cast<std::uint32_t>(pos), marker, header.DataLength, next});
  }

  // Blocks that lie in the bytes of a listed message, or whose text runs
  // into them, are no removed ones: they were overwritten since, or are the
  // listed blocks themselves, met while the window passed them. At the end
  // of the file a block may be cut.
  void DropClaimed() {
    std::sort(Found.begin(), Found.end(), [](const TFoundBlock& a, const TFoundBlock& b) { return a.Pos < b.Pos; });
    Found.erase(std::unique(Found.begin(), Found.end(),
                            [](const TFoundBlock& a, const TFoundBlock& b) { return a.Pos == b.Pos; }),
                Found.end());
    Covered.Merge();
    Found.erase(std::remove_if(Found.begin(), Found.end(),
                               [this](const TFoundBlock& b) {
                                 const std::uint64_t end = std::min<std::uint64_t>(
                                     Size, std::uint64_t{b.Pos} + kBlockHeaderSize + b.Length);
                                 return Covered.Meets(b.Pos, end);
                               }),
                Found.end());
  }

  // Links each block to the one its NextBlock names, relative to where the
  // block lies: a chain moved as a whole keeps the distance between its
  // markers and its positions (a stale copy from before a compaction), so
  // the next block lies at NextBlock - (Marker - position) and must carry
  // the marker NextBlock there.
  void LinkBlocks() {
    Succ.assign(Found.size(), kNone);
    HasPred.assign(Found.size(), false);
    Taken.assign(Found.size(), false);
    for (std::size_t i = 0; i < Found.size(); ++i) {
      const TFoundBlock& b = Found[i];
      if (b.Next == 0) continue;
      const std::int64_t at = NextAt(b);
      if (at < 0) continue;
      // Chains mostly run on through the file: the next block found first.
      std::size_t j = i + 1;
      if (j >= Found.size() || Found[j].Pos != static_cast<std::uint64_t>(at)) {
        const auto it = std::lower_bound(Found.begin(), Found.end(), static_cast<std::uint64_t>(at),
                                         [](const TFoundBlock& f, std::uint64_t pos) { return f.Pos < pos; });
        j = static_cast<std::size_t>(it - Found.begin());
      }
      if (j == Found.size() || Found[j].Pos != static_cast<std::uint64_t>(at) || Found[j].Marker != b.Next) continue;
      Succ[i] = static_cast<std::uint32_t>(j);
      HasPred[j] = true;
    }
  }

  static std::int64_t NextAt(const TFoundBlock& b) {
    return static_cast<std::int64_t>(b.Pos) + b.Next - static_cast<std::int64_t>(b.Marker);
  }

  // The text of the chain that begins with found block first, at most limit
  // blocks. A block goes to one message only: a chain that leads into blocks
  // taken before, its own included, ends there. So nothing loops, and the
  // work stays linear however chains meet.
  TChainText FoundText(std::size_t first, std::size_t limit, bool take, std::size_t* blocks) {
    TChainText result;
    std::uint64_t total = 0; // the text's size at most, to take its memory once
    std::size_t count = 0;
    for (std::size_t i = first; i != kNone && count < limit && total < Size; i = Succ[i], ++count) {
      if (take && Taken[i]) break;
      total += Found[i].Length;
    }
    result.Text.reserve(static_cast<std::size_t>(std::min(total, Size)));
    count = 0;
    for (std::size_t i = first; count < limit; ++count) {
      if (take) Taken[i] = true;
      const TFoundBlock& b = Found[i];
      if (AppendUpToZero(result.Text, static_cast<std::uint64_t>(b.Pos) + kBlockHeaderSize, b.Length) < b.Length) {
        result.Incomplete = true;
        result.Reason = "the file ends inside its text";
        ++count;
        break;
      }
      if (b.Next == 0) {
        ++count;
        break;
      }
      const std::size_t next = Succ[i];
      if (next == kNone || (take && Taken[next])) {
        const std::int64_t at = NextAt(b);
        result.Incomplete = true;
        if (next != kNone)
          result.Reason = "its text block chain comes back to the block at " + Hex(Found[next].Pos);
        else if (at >= 0 && static_cast<std::uint64_t>(at) + kBlockHeaderSize > Size)
          result.Reason = "the file ends before its next text block";
        else
          result.Reason = "its text block chain breaks off after the block at " + Hex(b.Pos);
        ++count;
        break;
      }
      i = next;
    }
    if (blocks) *blocks = count;
    return result;
  }

  // The first kLookBytes of the text of the chain that begins with found
  // block first (or less, when the text is shorter).
  std::string FoundHead(std::size_t first) {
    std::string head;
    std::size_t steps = 0;
    for (std::size_t i = first; i != kNone && head.size() < kLookBytes && steps++ < Found.size(); i = Succ[i]) {
      const TFoundBlock& b = Found[i];
      const std::uint64_t wanted = std::min<std::uint64_t>(b.Length, kLookBytes - head.size());
      if (AppendUpToZero(head, static_cast<std::uint64_t>(b.Pos) + kBlockHeaderSize, wanted) < wanted) break;
    }
    return head;
  }

  // Every chain that no other block leads into and whose first block begins
  // as a message does; the rest are pieces of messages, not messages.
  void GiveFound() {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < Found.size(); ++i)
      if (!HasPred[i]) starts.push_back(i);
    const auto kind = Summary.IndexRead ? TRecoveredKind::Removed : TRecoveredKind::Unclassified;
    for (const std::size_t i : starts) {
      const TFoundBlock& b = Found[i];
      if (!LooksLikeMessage(FoundHead(i))) {
        ++Summary.Fragments;
        continue;
      }
      std::size_t blocks = 0;
      TChainText chain = FoundText(i, Found.size(), true, &blocks);
      Advance(chain.Text.size() / 2);
      TRecoveredMessage message;
      message.Kind = kind;
      message.NumberLimit = static_cast<std::uint32_t>(starts.size());
      message.Offset = b.Pos;
      message.Text = std::move(chain.Text);
      message.Incomplete = chain.Incomplete;
      message.IncompleteReason = std::move(chain.Reason);
      Give(message, {i, blocks, false}, Reread());
    }
  }

  std::function<std::string(const TTextRef&)> Reread() {
    return [this](const TTextRef& ref) {
      return ref.Listed ? ListedText(static_cast<std::uint32_t>(ref.At), false).Text
                        : FoundText(static_cast<std::size_t>(ref.At), static_cast<std::size_t>(ref.Length), false,
                                    nullptr)
                              .Text;
    };
  }

  std::uint32_t Positions = 0; // values met in the index
  std::vector<std::uint32_t> ChainBlocks;
  std::vector<std::uint8_t> Buffer, Body;
  std::vector<TFoundBlock> Found; // in file order
  bool FoundFull = false;
  std::vector<std::uint32_t> Succ;
  std::vector<bool> HasPred, Taken;
};

// ---------------------------------------------------------------- .mbx

struct TMbxFound {
  std::uint64_t Header;
  std::uint32_t DataLength;
};

class TMbxRun : public TRun {
public:
  using TRun::TRun;
  const TFileSource* Files = nullptr;
  std::string IndexPath; // empty when the store has no .idx

  void Execute() override {
    ReadIndexFile();
    std::vector<TMbxFound> listed;
    Summary.IndexRead = Walk(listed);
    for (std::size_t q = 0; q < listed.size(); ++q) {
      TRecoveredMessage message;
      message.Kind = TRecoveredKind::Listed;
      message.Number = static_cast<std::uint32_t>(q);
      message.NumberLimit = static_cast<std::uint32_t>(listed.size());
      if (q < Records.size()) {
        message.Received = Records[q].first;
        message.Subject = Records[q].second;
      }
      GiveMessage(listed[q], message);
    }

    std::vector<TMbxFound> found;
    for (const auto& gap : Covered.Gaps(mbx::kFirstMessageHeader, Size)) ScanGap(gap.first, gap.second, found);
    for (const TMbxFound& f : found) {
      TRecoveredMessage message;
      message.Kind = Summary.IndexRead ? TRecoveredKind::Removed : TRecoveredKind::Unclassified;
      message.NumberLimit = static_cast<std::uint32_t>(found.size());
      GiveMessage(f, message);
    }
  }

private:
  // The received time and subject of each record of the .idx beside the
  // store, read as far as it is sound. Record q belongs to message q of the walk.
  void ReadIndexFile() {
    if (IndexPath.empty()) return;
    try {
      const std::unique_ptr<TFileStream> stream = Files->Open(IndexPath, TShareMode::DenyWrite);
      TFileStream& index = *stream;
      const std::uint64_t size = index.Size();
      std::uint8_t header[mbx::kIndexHeaderSize];
      index.ReadAt(0, header, sizeof header);
      const mbx::TDecoded<mbx::TIndexHeader> indexHeader = mbx::DecodeIndexHeader(header);
      if (!indexHeader.Sound()) return;
      const std::int32_t count = indexHeader.Value.RecordCount;
      std::uint64_t at = mbx::kFirstIndexRecord;
      for (std::int32_t q = 0; q < count && Records.size() < size / mbx::kIndexRecordSize; ++q) {
        std::uint8_t bytes[mbx::kIndexRecordSize];
        index.ReadAt(at, bytes, sizeof bytes);
        const mbx::TIndexRecord record = mbx::DecodeIndexRecord(bytes).Value;
        // The subject is the first of the strings behind the record.
        static_assert(mbx::kSubjectString == 0);
        std::uint8_t lengthBytes[mbx::kStringLengthSize];
        index.ReadAt(at + mbx::kIndexRecordSize, lengthBytes, sizeof lengthBytes);
        const std::int32_t subjectLength = mbx::DecodeStringLength(lengthBytes).Value;
        if (subjectLength < 0) break;
        const std::string subject = index.ReadStringAt(
            at + mbx::kIndexRecordSize + mbx::kStringLengthSize,
            std::min<std::uint64_t>(static_cast<std::uint64_t>(subjectLength), sizeof(TShortString::Data)));
        Records.emplace_back(FileTimeToDateTimeSafe(record.ReceivedTime), std::string(mbx::DecodeStringValue(subject)));
        at = record.NextRecord();
      }
    } catch (const Exception&) {
      // The index only adds dates and subjects: what was read stays.
    }
  }

  // The chain of message headers from offset 84, as the reader walks it but
  // without trusting the count: on until a header is not sound. False when
  // not even the first one is, so nothing can be called listed.
  bool Walk(std::vector<TMbxFound>& listed) {
    std::uint64_t at = mbx::kFirstMessageHeader;
    while (at + mbx::kMessageHeaderSize <= Size && at < mbx::kOffsetLimit) {
      std::uint8_t bytes[mbx::kMessageHeaderSize];
      if (!ReadExactly(at, bytes, sizeof bytes)) break;
      const mbx::TMessageHeader header = mbx::DecodeMessageHeader(bytes).Value;
      const std::uint32_t tag = header.Tag, blockLength = header.BlockLength, dataLength = header.DataLength;
      if (std::all_of(std::begin(bytes), std::end(bytes), [](std::uint8_t b) { return b == 0; }))
        return true; // free space: the messages end here
      // Without the tag the text must look like a message; a text that the
      // file cuts short needs both, or four stray bytes could claim the rest
      // of the file.
      const char* damage = nullptr;
      const std::uint64_t textAt = at + mbx::kMessageHeaderSize;
      const bool tagged = tag == mbx::kMessageTag, fits = textAt + dataLength <= Size;
      if (dataLength == 0)
        damage = "message header without text";
      else if ((!tagged || !fits) &&
               !LooksLikeMessage(ReadUpTo(textAt, std::min<std::uint64_t>(dataLength, kLookBytes))))
        damage = "message header whose text does not look like a message";
      else if (!tagged && !fits)
        damage = "message header reaching past the end of the file";
      if (damage) {
        Problem(at, std::string(damage) + ": the messages after it are searched for in the file");
        return !listed.empty();
      }
      // As the reader does, the next header is BlockLength bytes on, also
      // when the text runs past it (a damaged DataLength); the text then
      // reads on into the messages behind, which costs more than their own
      // bytes, so those reaches together may not pass the file's size.
      const std::uint64_t textEnd = std::min(Size, textAt + dataLength);
      const std::uint64_t blockEnd =
          blockLength >= mbx::kMessageHeaderSize ? std::min(textEnd, at + blockLength) : textEnd;
      if (textEnd - blockEnd > ReachLeft) {
        Problem(at, "message texts overlap: the messages from here on are searched for in the file");
        return true;
      }
      ReachLeft -= textEnd - blockEnd;
      listed.push_back({at, dataLength});
      Covered.Add(at, blockEnd);
      Advance(blockEnd - at);
      if (blockLength < mbx::kMessageHeaderSize) {
        if (textEnd < Size)
          Problem(at, "message header whose BlockLength is below 16: the messages after it are searched for in "
                      "the file");
        return true;
      }
      at += blockLength;
    }
    return true;
  }

  // Message headers by their structure in bytes no listed message occupies:
  // a text of DataLength > 0 bytes that fits before the next listed message
  // (or is cut by the end of the file), a BlockLength that passes it, and a
  // text that begins as a message does. The search goes on behind its text.
  void ScanGap(std::uint64_t from, std::uint64_t to, std::vector<TMbxFound>& found) {
    std::uint64_t chunkStart = 0, chunkEnd = 0, counted = from;
    for (std::uint64_t at = from; at + mbx::kMessageHeaderSize <= to;) {
      if (at + mbx::kMessageHeaderSize > chunkEnd) {
        Advance(at - counted);
        counted = at;
        chunkStart = at;
        chunkEnd = std::min(to, at + kScanChunk);
        Buffer.resize(static_cast<std::size_t>(chunkEnd - chunkStart));
        if (!ReadExactly(chunkStart, Buffer.data(), Buffer.size())) return;
      }
      const mbx::TMessageHeader header =
          mbx::DecodeMessageHeader(std::span<const std::uint8_t>(Buffer).subspan(at - chunkStart, mbx::kMessageHeaderSize))
              .Value;
      const std::uint32_t blockLength = header.BlockLength, dataLength = header.DataLength;
      const std::uint64_t textAt = at + mbx::kMessageHeaderSize, textEnd = textAt + dataLength;
      // A text cut by the end of the file needs the tag as well: without it
      // any four bytes before a header line would claim the rest of the file.
      const bool fits = textEnd <= to || (to == Size && header.Tag == mbx::kMessageTag);
      if (dataLength != 0 && blockLength >= mbx::kMessageHeaderSize + std::uint64_t{dataLength} && fits &&
          LooksLikeMessage(Peek(textAt, std::min<std::uint64_t>(dataLength, kLookBytes), chunkStart, chunkEnd))) {
        found.push_back({at, dataLength});
        at = std::min(textEnd, to);
        continue;
      }
      ++at;
    }
    Advance(to - counted);
  }

  // Bytes from the chunk in hand when they lie in it, else from the file.
  std::string Peek(std::uint64_t at, std::uint64_t count, std::uint64_t chunkStart, std::uint64_t chunkEnd) {
    if (at >= chunkStart && at + count <= chunkEnd)
      return std::string(reinterpret_cast<const char*>(Buffer.data()) + (at - chunkStart), static_cast<std::size_t>(count));
    return ReadUpTo(at, count);
  }

  void GiveMessage(const TMbxFound& f, TRecoveredMessage& message) {
    const std::uint64_t textAt = f.Header + mbx::kMessageHeaderSize;
    std::string text = ReadUpTo(textAt, f.DataLength);
    message.Incomplete = text.size() < f.DataLength;
    if (message.Incomplete) message.IncompleteReason = "the file ends inside its text";
    text.resize(UpToZero(text).size());
    message.Offset = f.Header;
    message.Text = std::move(text);
    if (message.Text.empty()) {
      Problem(f.Header, "message without text");
      return;
    }
    Give(message, {textAt, f.DataLength, true}, [this](const TTextRef& ref) {
      std::string again = ReadUpTo(ref.At, ref.Length);
      again.resize(UpToZero(again).size());
      return again;
    });
  }

  std::vector<std::pair<double, std::string>> Records;
  std::vector<std::uint8_t> Buffer;
  std::uint64_t ReachLeft = Size; // what listed texts may read past their blocks, together
};
} // namespace

TStoreRecovery::TStoreRecovery(const std::string& fileName, const TFileSource& files)
    : FileName(fileName), Files(files) {
  Stream = Files.Open(fileName, TShareMode::DenyNone);
  StoreFormat = RecogniseFormat(*Stream);
  if (StoreFormat == sfUnknown) throw EMailbaseReaderException(kUnsupportedFormat);
}

TStoreRecovery::~TStoreRecovery() = default;

TRecoverySummary TStoreRecovery::Run(TRecoverySink& sink) {
  Stream->DropCache();
  std::unique_ptr<TRun> run;
  if (StoreFormat == sfDBX) {
    run = std::make_unique<TDbxRun>(*Stream, sink);
  } else {
    auto mbx = std::make_unique<TMbxRun>(*Stream, sink);
    mbx->Files = &Files;
    mbx->IndexPath = Files.Find(ChangeFileExt(FileName, ".idx"));
    run = std::move(mbx);
  }
  run->Execute();
  const std::uint64_t size = Stream->Size();
  sink.Progress(size, size);
  return run->Summary;
}

bool LooksLikeMessage(std::string_view text) {
  text = UpToZero(text);
  bool first = true;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    // A line cut by the end of the bytes is not judged; but the first line
    // must be whole, or two stray bytes such as "1:" would pass.
    if (end == std::string_view::npos) return !first;
    const std::string_view line = text.substr(start, end - start);
    if (line.empty()) return !first; // the blank line that ends the header
    const bool continuation = !first && (line[0] == ' ' || line[0] == '\t');
    if (!continuation && !IsFieldLine(line)) return false;
    first = false;
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return !first;
}

std::string HeaderField(std::string_view text, std::string_view name) {
  text = UpToZero(text);
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    if (line.empty()) break;
    if (line.size() <= name.size() || line[name.size()] != ':' || !EqualsNoCase(line.substr(0, name.size()), name))
      continue;
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return std::string(value);
  }
  return {};
}

} // namespace postvue
