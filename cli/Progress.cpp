#include "Progress.h"

#include "Console.h"

#include <cstdio>
#include <string>

namespace postvue::cli {

TProgress::TProgress(const char* doing) : Doing(doing), Terminal(IsTerminal(stderr)) {}

void TProgress::Update(std::uint64_t done, std::uint64_t total) {
  if (std::chrono::steady_clock::now() - Start < std::chrono::seconds(1)) return;
  const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  if (Terminal) {
    if (percent == Shown) return;
    std::fprintf(stderr, "\rpostvue-cli: %s %3d%%", Doing, percent);
    LineOpen = true;
  } else {
    if (percent / 10 <= Shown / 10) return;
    std::fprintf(stderr, "postvue-cli: %s %d%%\n", Doing, percent / 10 * 10);
  }
  Shown = percent;
  std::fflush(stderr);
}

void TProgress::Clear() {
  if (!LineOpen) return;
  // As wide as the longest line Update writes.
  const std::string blank(std::string("postvue-cli: ").size() + std::string(Doing).size() + 5, ' ');
  std::fprintf(stderr, "\r%s\r", blank.c_str());
  LineOpen = false;
}

} // namespace postvue::cli
