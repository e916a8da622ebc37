#include "TextSearch.h"

#include "Exceptions.h"

#include <algorithm>
#include <system_error>

namespace postvue {

namespace {
// Texts read ahead of judging: enough to ride out a few large messages.
constexpr std::size_t kMaxTexts = 32;
constexpr std::size_t kMaxTextBytes = 32 << 20;
} // namespace

TTextSearch::~TTextSearch() { Cancel(); }

void TTextSearch::Start(TMailbaseReader& reader, TSearchQuery query, std::string (*storeText)(std::string_view)) {
  Cancel();
  Reader = &reader;
  Query = std::move(query);
  StoreText = storeText;
  Total = reader.Active ? std::max(reader.GetCount(), 0) : 0;
  Found.assign(static_cast<std::size_t>(Total), 0);
  Stop = false;
  Judged = 0;
  UnreadableCount = 0;
  Texts.clear();
  TextBytes = 0;
  ReadingDone = false;
  Failure = nullptr;
  ThreadsLeft = 2;
  Reading = std::thread([this] { Read(); });
  try {
    Judging = std::thread([this] { Judge(); });
  } catch (const std::system_error&) {
    // No second thread to be had: the reading thread judges every text itself.
    --ThreadsLeft;
  }
}

void TTextSearch::Join() {
  if (Judging.joinable()) Judging.join();
  if (Reading.joinable()) Reading.join();
}

void TTextSearch::Cancel() {
  if (!Running()) return;
  Stop = true;
  Ready.notify_all();
  Join();
  Found.clear();
  Texts.clear();
}

std::vector<std::int32_t> TTextSearch::Finish() {
  if (!Running()) return {};
  Join();
  Texts.clear();
  if (Failure) std::rethrow_exception(Failure);
  std::vector<std::int32_t> found;
  for (std::int32_t i = 0; i < Total; ++i)
    if (Found[static_cast<std::size_t>(i)]) found.push_back(i);
  return found;
}

void TTextSearch::Fail() {
  {
    const std::lock_guard<std::mutex> lock(Lock);
    if (!Failure) Failure = std::current_exception();
  }
  Stop = true;
  Ready.notify_all();
}

void TTextSearch::JudgeOne(std::int32_t message, std::string_view text) {
  const TMessageRecord& record = Reader->MessageAt(message);
  if (Query.MatchesMessage(text, StoreText(SenderBytes(record)), StoreText(record.Subject.View())))
    Found[static_cast<std::size_t>(message)] = 1;
  Judged.fetch_add(1, std::memory_order_relaxed);
}

// The reading thread: the only one that reads texts. It judges too while
// the queue is full, so both processors work whichever side costs more.
void TTextSearch::Read() {
  try {
    std::vector<std::pair<std::uint32_t, std::int32_t>> texts; // file offset, message
    for (std::int32_t i = 0; i < Total && !Stop; ++i) {
      const TMessageRecord& record = Reader->MessageAt(i);
      if (!Query.InDateRange(record.Received)) {
        Judged.fetch_add(1, std::memory_order_relaxed);
      } else if (Query.Empty() || Query.MatchesListTexts(StoreText(SenderBytes(record)), StoreText(record.Subject.View()))) {
        Found[static_cast<std::size_t>(i)] = 1; // found by the list's texts: no text to read
        Judged.fetch_add(1, std::memory_order_relaxed);
      } else {
        texts.emplace_back(record.TextOffset, i);
      }
    }
    // Front to back through the file, whatever the store's order.
    std::sort(texts.begin(), texts.end());
    for (const auto& [offset, message] : texts) {
      if (Stop) break;
      std::string text;
      try {
        text = Reader->GetMessageText(message);
      } catch (const Exception&) {
        // One unreadable message must not cost the others; Unreadable tells.
        UnreadableCount.fetch_add(1, std::memory_order_relaxed);
        Judged.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      bool queued = false;
      {
        const std::lock_guard<std::mutex> lock(Lock);
        if (Texts.size() < kMaxTexts && TextBytes < kMaxTextBytes) {
          TextBytes += text.size();
          Texts.emplace_back(message, std::move(text));
          queued = true;
        }
      }
      if (queued) Ready.notify_one();
      else JudgeOne(message, text);
    }
    {
      const std::lock_guard<std::mutex> lock(Lock);
      ReadingDone = true;
    }
    Ready.notify_all();
    // What is left in the queue, beside the judging thread (or alone, without one).
    for (std::pair<std::int32_t, std::string> text; Take(text);) JudgeOne(text.first, text.second);
  } catch (...) {
    Fail();
  }
  ThreadsLeft.fetch_sub(1, std::memory_order_release);
}

bool TTextSearch::Take(std::pair<std::int32_t, std::string>& text) {
  std::unique_lock<std::mutex> lock(Lock);
  Ready.wait(lock, [this] { return Stop || !Texts.empty() || ReadingDone; });
  if (Stop || Texts.empty()) return false;
  text = std::move(Texts.front());
  Texts.pop_front();
  TextBytes -= text.second.size();
  return true;
}

void TTextSearch::Judge() {
  try {
    for (std::pair<std::int32_t, std::string> text; Take(text);) JudgeOne(text.first, text.second);
  } catch (...) {
    Fail();
  }
  ThreadsLeft.fetch_sub(1, std::memory_order_release);
}

} // namespace postvue
