// The machinery both recovery searches share: byte ranges, the texts given
// so far, the read cache, and the run that reports to the sink (problems,
// progress, messages).
#pragma once

#include "FileStream.h"
#include "Recovery.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace postvue::recovery {

constexpr std::size_t kLookBytes = 1024;      // how much of a text the look test needs
constexpr std::uint64_t kScanChunk = 4 << 20; // bytes scanned per read

// Byte ranges of the file: the bytes of the messages given, or those searched.
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
  // Whether the range added last holds all of [from, to).
  bool LastHolds(std::uint64_t from, std::uint64_t to) const {
    return !Items.empty() && Items.back().first <= from && Items.back().second >= to;
  }
  // The ranges from item first on, sorted, into items.
  void Since(std::size_t first, std::vector<std::pair<std::uint64_t, std::uint64_t>>& items) const {
    items.assign(Items.begin() + static_cast<std::ptrdiff_t>(first), Items.end());
    std::sort(items.begin(), items.end());
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

// Bounded reads of the store: a read that reaches past the file's end (or
// meets a file that shrank while open) fails and raises nothing. Small reads
// are served from a window of the file held in memory: large while reading
// goes on through the file, small after a jump. It only caches; what is
// searched, and when, is the searches' own schedule.
class TReadCache {
public:
  TReadCache(TFileStream& stream, std::uint64_t size) : Stream(stream), Size(size) {}

  // Exactly count bytes at offset, or false when they are not all in the file.
  bool ReadExactly(std::uint64_t offset, void* buffer, std::size_t count);
  // Up to count bytes at offset, as many as the file holds.
  std::string ReadUpTo(std::uint64_t offset, std::uint64_t count);
  // Exactly count bytes at offset from the file itself, past the window.
  bool ReadFile(std::uint64_t offset, void* buffer, std::size_t count);
  // Appends up to count bytes at offset, as many as the file holds, to
  // text, up to the first zero byte among them. Returns how many were in
  // the file.
  std::uint64_t AppendUpToZero(std::string& text, std::uint64_t offset, std::uint64_t count);

  // The bytes the window holds, from HeldFrom() on.
  std::uint64_t HeldFrom() const { return WindowStart; }
  std::span<const std::uint8_t> Held() const { return {Window.data(), static_cast<std::size_t>(WindowLength)}; }
  // Lets the window go: the next read loads it anew.
  void Drop() { WindowLength = 0; }

private:
  bool Load(std::uint64_t offset, std::size_t size);

  TFileStream& Stream;
  const std::uint64_t Size;
  std::vector<std::uint8_t> Window;
  std::uint64_t WindowStart = 0, WindowLength = 0, BackReach = 0;
};

// One recovery of a store: what both formats share, the sink, the counts,
// progress, and the texts given so far.
class TRun {
public:
  TRun(TFileStream& stream, TRecoverySink& sink) : Sink(sink), Size(stream.Size()), Reads(stream, Size) {}
  virtual ~TRun() = default;
  virtual void Execute() = 0;
  TRecoverySummary Summary;

protected:
  bool ReadExactly(std::uint64_t offset, void* buffer, std::size_t count) {
    return Reads.ReadExactly(offset, buffer, count);
  }
  std::string ReadUpTo(std::uint64_t offset, std::uint64_t count) { return Reads.ReadUpTo(offset, count); }
  bool ReadFile(std::uint64_t offset, void* buffer, std::size_t count) { return Reads.ReadFile(offset, buffer, count); }
  std::uint64_t AppendUpToZero(std::string& text, std::uint64_t offset, std::uint64_t count) {
    return Reads.AppendUpToZero(text, offset, count);
  }

  // Damage met on the way, counted and handed to the sink.
  void Problem(std::uint64_t offset, const std::string& what);
  // Bytes of the file dealt with; reported to the sink every so often.
  void Advance(std::uint64_t bytes);
  // Gives a message to the sink, unless a text equal to it was given before.
  void Give(TRecoveredMessage& message, const TTextRef& ref,
            const std::function<std::string(const TTextRef&)>& reread);

  TRecoverySink& Sink;
  const std::uint64_t Size;
  TReadCache Reads;
  TRanges Covered; // bytes of the messages given from the index
  TSeenTexts Seen;
  std::uint64_t Done = 0, Reported = 0;
};

// The searches of the two formats; the .idx beside a .mbx at indexPath (none when empty).
std::unique_ptr<TRun> NewDbxRun(TFileStream& stream, TRecoverySink& sink);
std::unique_ptr<TRun> NewMbxRun(TFileStream& stream, TRecoverySink& sink, const TFileSource& files,
                                const std::string& indexPath);

} // namespace postvue::recovery
