#include "TextsAhead.h"

#include <system_error>
#include <utility>

namespace postvue::cli {

namespace {
// Enough to ride out a few large messages; memory stays small beside the store's records.
constexpr std::size_t kMaxReady = 32;
constexpr std::size_t kMaxReadyBytes = 32 << 20;
} // namespace

TTextsAhead::TTextsAhead(std::vector<std::int32_t> order, TMake make)
    : Order(std::move(order)), Make(std::move(make)) {
  if (Order.size() < 2) return; // nothing to overlap
  try {
    Worker = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to be had: Next makes each text itself.
  }
}

TTextsAhead::~TTextsAhead() {
  if (!Worker.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(Lock);
    Stop = true;
  }
  MakerMayGo.notify_one();
  Worker.join();
}

bool TTextsAhead::Full() const { return Ready.size() >= kMaxReady || ReadyBytes >= kMaxReadyBytes; }

bool TTextsAhead::MayResume() const { return Ready.size() <= kMaxReady / 2 && ReadyBytes < kMaxReadyBytes / 2; }

bool TTextsAhead::MayTake() const {
  return !Ready.empty() && (Ready.size() >= kMaxReady / 4 || Made == Order.size() || Full());
}

void TTextsAhead::Run() {
  for (const std::int32_t index : Order) {
    {
      std::unique_lock<std::mutex> lock(Lock);
      if (Full()) {
        MakerWaits = true;
        MakerMayGo.wait(lock, [this] { return Stop || MayResume(); });
        MakerWaits = false;
      }
      if (Stop) return;
    }
    TMade made;
    try {
      made.Made = Make(index);
    } catch (...) {
      made.Error = std::current_exception();
    }
    bool wake;
    {
      const std::lock_guard<std::mutex> lock(Lock);
      ReadyBytes += made.Made.Text.size();
      Ready.push_back(std::move(made));
      ++Made;
      wake = TakerWaits && MayTake();
    }
    if (wake) TakerMayGo.notify_one();
  }
}

TTextAhead TTextsAhead::Next(std::int32_t& index) {
  index = Order.at(Taken++);
  if (!Worker.joinable()) return Make(index);
  TMade made;
  bool wake;
  {
    std::unique_lock<std::mutex> lock(Lock);
    if (Ready.empty()) {
      TakerWaits = true;
      TakerMayGo.wait(lock, [this] { return MayTake(); });
      TakerWaits = false;
    }
    made = std::move(Ready.front());
    Ready.pop_front();
    ReadyBytes -= made.Made.Text.size();
    wake = MakerWaits && MayResume();
  }
  if (wake) MakerMayGo.notify_one();
  if (made.Error) std::rethrow_exception(made.Error);
  return std::move(made.Made);
}

} // namespace postvue::cli
