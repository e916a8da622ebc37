// Message texts made on a second thread a few messages ahead of the one
// that writes them out: reading and converting the texts is a third of an
// export, and another processor can do it while this one makes the files.
#pragma once

#include "ReadableMessage.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace postvue::cli {

// What is made for one message: its text, a name for it where the caller
// wants one, and its reading where the caller reads it.
struct TTextAhead {
  std::string Text;
  std::string Name;
  TReadableMessage Reading;
};

class TTextsAhead {
public:
  // Make is called for each index of order in turn, on the second thread
  // only (where none can be had, by Next), so nothing it changes may be used
  // by the caller meanwhile.
  using TMake = std::function<TTextAhead(std::int32_t)>;
  TTextsAhead(std::vector<std::int32_t> order, TMake make);
  ~TTextsAhead(); // waits for the text being made, makes no more
  TTextsAhead(const TTextsAhead&) = delete;
  TTextsAhead& operator=(const TTextsAhead&) = delete;

  bool Done() const { return Taken == Order.size(); }
  // The next index of order into index, and what was made for it; raises what Make raised for it.
  TTextAhead Next(std::int32_t& index);

private:
  struct TMade {
    TTextAhead Made;
    std::exception_ptr Error;
  };
  void Run();
  bool Full() const;
  bool MayResume() const;
  bool MayTake() const;

  const std::vector<std::int32_t> Order;
  const TMake Make;
  std::size_t Taken = 0; // the caller's alone
  std::mutex Lock;
  // Each side wakes the other only when it waits, and only once there is
  // work for a while (a queue half empty, or a few texts): a hand-over per
  // message would cost each thread a sleep and a wake-up.
  std::condition_variable MakerMayGo, TakerMayGo;
  bool MakerWaits = false, TakerWaits = false;
  std::deque<TMade> Ready;
  std::size_t ReadyBytes = 0;
  std::size_t Made = 0;
  bool Stop = false;
  std::thread Worker;
};

} // namespace postvue::cli
