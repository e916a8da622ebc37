// Timing helpers shared by the benchmarks.
#pragma once

#include "Exceptions.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace postvue::bench {

using TClock = std::chrono::steady_clock;

inline double Since(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// Processor time of the whole process: on a shared machine it moves less
// than the wall clock when other jobs take the processor away.
inline double CpuNow() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double Best(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

struct TSequentialRead {
  double Seconds = 0, Cpu = 0;
  std::uint64_t Bytes = 0;
};

// The whole file front to back in 1 MiB reads: the yardstick the loads are measured against.
inline TSequentialRead SequentialRead(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw EFOpenError(path);
  std::setvbuf(file, nullptr, _IONBF, 0); // straight to read(2), as cat does
  std::vector<char> buffer(1 << 20);
  TSequentialRead read;
  const auto start = TClock::now();
  const double cpuStart = CpuNow();
  for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) read.Bytes += got;
  read.Seconds = Since(start);
  read.Cpu = CpuNow() - cpuStart;
  std::fclose(file);
  return read;
}

// std::system of a command line; on Windows cmd drops the outer quotes of
// what it is given, so a line that starts with a quoted program gets a pair more.
inline int RunCommand(const std::string& command) {
#ifdef _WIN32
  return std::system(("\"" + command + "\"").c_str());
#else
  return std::system(command.c_str());
#endif
}

} // namespace postvue::bench
