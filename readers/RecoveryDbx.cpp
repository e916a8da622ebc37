// The search of a .dbx: the messages its index lists, then text block
// chains found by their structure in the bytes no listed message occupies.
#include "RecoveryScan.h"

#include "DbxFormat.h"
#include "MessageHeaders.h"

#include <cstring>
#include <unordered_set>

namespace postvue::recovery {

namespace {
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
    Reads.Drop(); // the index lies apart; its bytes are searched with the rest at the end
    // Each message-info object is read right before its text, which usually
    // follows it, and the free space the walk has passed is searched while
    // the cache still holds it: a sound store is read about once.
    SearchMark = kFirstObject;
    for (const TListedMessage& m : listed) GiveListed(m, Positions);
    SearchPassed(UINT64_MAX); // the rest of what the window holds

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
      // node needs bytes of its own, and so does every message (an object
      // header and an index entry), however a crafted index names them.
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
    for (TBlockChain chain(first); chain.More();) {
      // A loop ends the text right where it closes, so the text holds each
      // block once: the chain's own test may find it a little later.
      const std::uint32_t b = chain.At();
      if (b <= highest) {
        if (seen.empty()) seen.insert(ChainBlocks.begin(), ChainBlocks.end());
        if (seen.count(b)) {
          result.Incomplete = true;
          result.Reason = "its text block chain comes back to the block at " + HexText(b);
          break;
        }
      }
      ChainBlocks.push_back(b);
      if (!seen.empty()) seen.insert(b);
      highest = std::max(highest, b);

      std::uint8_t bytes[kBlockHeaderSize];
      if (!ReadExactly(b, bytes, sizeof bytes)) {
        result.Incomplete = true;
        result.Reason = "the file ends before its text block at " + HexText(b);
        break;
      }
      const TDecoded<TBlockHeader> header = chain.Decode(bytes);
      if (!header.Sound()) {
        result.Incomplete = true;
        result.Reason = "its text block at " + HexText(b) + " has a wrong marker";
        break;
      }
      const std::uint32_t length = header.Value.DataLength;
      const std::uint64_t got = AppendUpToZero(result.Text, BlockTextAt(b), length);
      if (cover) {
        Covered.Add(b, BlockTextAt(b) + got);
        Advance(kBlockHeaderSize + got);
        SearchPassed(BlockTextAt(b) + got);
      }
      if (got < length) {
        result.Incomplete = true;
        result.Reason = "the file ends inside its text";
        break;
      }
      (void)chain.Step(header.Value); // a loop is found above, where it closes
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
    // An index that names one message thousands of times gives it once.
    if (!ListedAt.insert(m.TextOffset).second) {
      ++Summary.Repeated;
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

  // The free space the walk has passed, searched while the cache still
  // holds it: the header starts from SearchMark up to limit that the window
  // holds and no listed block claims. What the window let go of before the
  // walk passed it is searched at the end.
  void SearchPassed(std::uint64_t limit) {
    const std::span<const std::uint8_t> held = Reads.Held();
    const std::uint64_t start = Reads.HeldFrom(), end = start + held.size();
    const std::uint64_t lastStart =
        std::min(limit, end > kBlockHeaderSize - 1 ? end - (kBlockHeaderSize - 1) : std::uint64_t{0});
    const std::uint64_t from = std::max(start, SearchMark);
    if (held.empty() || from >= lastStart) return;
    // Mostly the walk has read on into the block it has just claimed, and
    // there is nothing to search.
    if (!Covered.LastHolds(from, lastStart)) {
      std::uint64_t at = from;
      Covered.Since(CoveredMark, Claimed);
      for (const auto& claimed : Claimed) {
        if (claimed.second <= at) continue;
        if (claimed.first >= lastStart) break;
        if (claimed.first > at) SearchHeld(at, claimed.first);
        at = std::max(at, claimed.second);
      }
      if (at < lastStart) SearchHeld(at, lastStart);
    }
    Searched.Add(from, lastStart);
    SearchMark = lastStart;
    CoveredMark = Covered.Count() > 0 ? Covered.Count() - 1 : 0; // the last range may still grow
  }

  // Searches the header starts in [from, to), all within the window.
  void SearchHeld(std::uint64_t from, std::uint64_t to) {
    to = std::min(to, kOffsetLimit); // no block lies beyond what a 32-bit offset names
    if (from < to) SearchBytes(from, to, Reads.Held().subspan(from - Reads.HeldFrom()));
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
      if (AppendUpToZero(result.Text, BlockTextAt(b.Pos), b.Length) < b.Length) {
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
          result.Reason = "its text block chain comes back to the block at " + HexText(Found[next].Pos);
        else if (at >= 0 && static_cast<std::uint64_t>(at) + kBlockHeaderSize > Size)
          result.Reason = "the file ends before its next text block";
        else
          result.Reason = "its text block chain breaks off after the block at " + HexText(b.Pos);
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
      if (AppendUpToZero(head, BlockTextAt(b.Pos), wanted) < wanted) break;
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

  TRanges Searched;             // header starts searched while reading
  std::uint64_t SearchMark = 0; // header starts below it were searched, or are left to the end
  std::size_t CoveredMark = 0;  // the claimed ranges from here on are new since the last search
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Claimed; // those ranges, sorted
  std::uint32_t Positions = 0;  // values met in the index
  std::unordered_set<std::uint32_t> ListedAt; // the first text blocks of the listed messages given
  std::vector<std::uint32_t> ChainBlocks;
  std::vector<std::uint8_t> Buffer, Body;
  std::vector<TFoundBlock> Found; // in file order
  bool FoundFull = false;
  std::vector<std::uint32_t> Succ;
  std::vector<bool> HasPred, Taken;
};

} // namespace

std::unique_ptr<TRun> NewDbxRun(TFileStream& stream, TRecoverySink& sink) {
  return std::make_unique<TDbxRun>(stream, sink);
}

} // namespace postvue::recovery
