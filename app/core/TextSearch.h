// A search of every message's text (TSearchQuery::MatchesMessage) on
// threads of its own, so the window stays alive: the viewer starts it, asks
// now and then how far it is, and takes the messages found at its end, or
// cancels it (Escape). Standard library only.
//
// The reader is not safe to use from two threads: from Start until Cancel or
// Finish has returned, only the search reads the reader's texts. Its records
// (MessageAt, GetMessage) stay as loaded and may be read meanwhile, so the
// list can draw. TViewerCore cancels a running search before every command
// that reads a text and before a load; a viewer that reads texts on its own
// calls StopTextSearch first.
#pragma once

#include "MailbaseReader.h"
#include "Search.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace postvue {

class TTextSearch {
public:
  struct TProgress {
    std::int32_t Done = 0, Total = 0; // messages
  };

  TTextSearch() = default;
  ~TTextSearch(); // cancels
  TTextSearch(const TTextSearch&) = delete;
  TTextSearch& operator=(const TTextSearch&) = delete;

  // Cancels a search still running and starts one over every message of
  // reader (none when it is not Active). storeText makes the list's texts
  // from the store's bytes, as the rows show them: a term found there needs
  // no text read.
  void Start(TMailbaseReader& reader, TSearchQuery query, std::string (*storeText)(std::string_view));
  // Stops the search and waits for its threads: promptly, as each looks
  // for the stop between two messages. The result is gone.
  void Cancel();
  // Started and neither cancelled nor finished.
  bool Running() const { return Reading.joinable(); }
  // Every message judged: Finish returns at once.
  bool Done() const { return ThreadsLeft.load(std::memory_order_acquire) == 0; }
  TProgress Progress() const { return {Judged.load(std::memory_order_relaxed), Total}; }
  // Waits for the end, and gives the messages found, in store order. Raises
  // what a search thread failed with (other than a text that could not be read).
  std::vector<std::int32_t> Finish();
  // How many messages' texts could not be read in the last search: they are not found.
  std::int32_t Unreadable() const { return UnreadableCount.load(std::memory_order_relaxed); }

private:
  void Read();
  void Judge();
  void JudgeOne(std::int32_t message, std::string_view text);
  // Takes a text from the queue; false when there is none to come.
  bool Take(std::pair<std::int32_t, std::string>& text);
  void Fail();
  void Join();

  TMailbaseReader* Reader = nullptr;
  TSearchQuery Query;
  std::string (*StoreText)(std::string_view) = nullptr;
  std::int32_t Total = 0;
  std::vector<std::uint8_t> Found; // per message; each written by one thread only

  std::atomic<bool> Stop{false};
  std::atomic<std::int32_t> Judged{0}, UnreadableCount{0}, ThreadsLeft{0};
  std::mutex Lock;
  std::condition_variable Ready;
  std::deque<std::pair<std::int32_t, std::string>> Texts; // read, waiting to be judged
  std::size_t TextBytes = 0;
  bool ReadingDone = false;
  std::exception_ptr Failure;
  std::thread Reading, Judging;
};

} // namespace postvue
