// The progress of a long command on standard error.
#pragma once

#include <chrono>
#include <cstdint>

namespace postvue::cli {

// A percentage once a run has taken more than a second ("postvue-cli:
// exporting  42%"): rewritten in place on a terminal, a line every tenth
// elsewhere, so a log shows that the run goes on without filling up.
class TProgress {
public:
  explicit TProgress(const char* doing);

  void Update(std::uint64_t done, std::uint64_t total);
  // Before any other line, so the two never share one.
  void Clear();

private:
  const char* const Doing;
  const std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
  const bool Terminal;
  int Shown = -1;
  bool LineOpen = false;
};

} // namespace postvue::cli
