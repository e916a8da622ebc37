#include "RecoveryScan.h"

#include "Exceptions.h"
#include "MessageHeaders.h"

#include <cstring>

namespace postvue::recovery {

namespace {
constexpr std::uint64_t kProgressStep = 16 << 20; // bytes between progress reports
// The read window: large while reading goes on through the file, small after
// a jump, so a store whose messages lie in no order costs no more than one
// small read per object.
constexpr std::size_t kWindowLarge = 1 << 20, kWindowSmall = 64 << 10;
} // namespace

bool TReadCache::ReadExactly(std::uint64_t offset, void* buffer, std::size_t count) {
  if (!WithinSize(offset, count, Size)) return false;
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

std::string TReadCache::ReadUpTo(std::uint64_t offset, std::uint64_t count) {
  if (offset >= Size) return {};
  std::string bytes(static_cast<std::size_t>(std::min(count, Size - offset)), '\0');
  if (!ReadExactly(offset, bytes.data(), bytes.size())) return {};
  return bytes;
}

bool TReadCache::ReadFile(std::uint64_t offset, void* buffer, std::size_t count) {
  try {
    Stream.ReadAt(offset, buffer, count);
  } catch (const EReadError&) {
    return false; // the file shrank while open: as if it ended there
  }
  return true;
}

bool TReadCache::Load(std::uint64_t offset, std::size_t size) {
  WindowLength = 0;
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(size, Size - offset));
  if (Window.size() < length) Window.resize(kWindowLarge);
  if (!ReadFile(offset, Window.data(), length)) return false;
  WindowStart = offset;
  WindowLength = length;
  return true;
}

std::uint64_t TReadCache::AppendUpToZero(std::string& text, std::uint64_t offset, std::uint64_t count) {
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

void TRun::Problem(std::uint64_t offset, const std::string& what) {
  ++Summary.Problems;
  Sink.Problem(offset, what);
}

void TRun::Advance(std::uint64_t bytes) {
  Done += bytes;
  if (Done - Reported >= kProgressStep) {
    Reported = Done;
    Sink.Progress(std::min(Done, Size), Size);
  }
}

void TRun::Give(TRecoveredMessage& message, const TTextRef& ref,
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

} // namespace postvue::recovery
