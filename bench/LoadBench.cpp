// Loading a store as the viewer does, against a plain sequential read of the
// same file, in one run:
//
//   LoadBench STORE [--rounds K] [--cold] [--cli PATH]    (K defaults to 3)
//
// (a) the whole file read front to back in 1 MiB reads, after one untimed
//     pass that warms the page cache;
// (b) probe, concrete reader SetFileName and Load, GetMessage for every
//     message, K times (best and median);
// and the peak memory of one load above the process's baseline, against the
// size of the Messages array; then GetMessageText over all messages;
// (c) with --cli PATH, as processes K times each, output to the null device:
//     cat STORE, PATH list STORE and PATH list --json STORE, wall clock and
//     processor time (the children's own, from the system).
// With --cold (Linux), the store's pages are dropped from the page cache
// before every timed pass instead, so both sides read from the disk.
#include "BenchSupport.h"
#include "DbxReader.h"
#include "Exceptions.h"
#include "MbxReader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif
#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace postvue;

namespace {

using namespace postvue::bench;

// Resident set figures from /proc (Linux); -1 elsewhere.
long long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::atoll(line.c_str() + prefix.size());
  return -1;
}

// Lets VmHWM start again from the current resident size (Linux 4.0 and later).
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// Asks the kernel to forget the file's cached pages (clean pages only: harmless).
bool DropFromPageCache(const std::string& path) {
#ifdef __linux__
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool done = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  ::close(fd);
  return done;
#else
  (void)path;
  return false;
#endif
}

struct TLoadTimes {
  double Probe = 0, Open = 0, Load = 0, Copy = 0;
  double Cpu = 0; // processor time of all four
  double Total() const { return Probe + Open + Load + Copy; }
};

// LoadFile's steps, without the list: probe, concrete reader, records copied out.
std::unique_ptr<TMailbaseReader> LoadAsTheViewer(const std::string& path, TLoadTimes& times, std::uint64_t& checksum) {
  const double cpuStart = CpuNow();
  auto start = TClock::now();
  TStoreFormat format;
  {
    TMailbaseReader probe;
    probe.SetFileName(path);
    format = probe.Format;
  }
  std::unique_ptr<TMailbaseReader> reader;
  if (format == sfDBX) reader = std::make_unique<TDBXReader>();
  else if (format == sfMBX) reader = std::make_unique<TMBXReader>();
  else throw EMailbaseReaderException("File is not in supported format.");
  times.Probe = Since(start);

  start = TClock::now();
  reader->SetFileName(path);
  times.Open = Since(start);

  start = TClock::now();
  reader->Load();
  times.Load = Since(start);

  start = TClock::now();
  TMessageRecord record;
  for (std::int32_t i = 0, n = reader->GetCount(); i < n; ++i) {
    reader->GetMessage(i, record);
    checksum += record.Size + record.Subject.Length;
  }
  times.Copy = Since(start);
  times.Cpu = CpuNow() - cpuStart;
  return reader;
}

// Processor time of the children waited for so far; 0 where unknown.
double ChildrenCpu() {
#ifndef _WIN32
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
  return 0;
#endif
}

struct TProcessTimes {
  std::vector<double> Wall, Cpu;
};

void RunProcess(const std::string& command, TProcessTimes& times) {
  const double cpuStart = ChildrenCpu();
  const auto start = TClock::now();
  if (RunCommand(command) != 0) throw std::runtime_error("failed: " + command);
  times.Wall.push_back(Since(start));
  times.Cpu.push_back(ChildrenCpu() - cpuStart);
}

void PrintProcess(const char* name, const TProcessTimes& times, const TProcessTimes& base, const char* target) {
  std::printf("%-18s %.3f s / %.3f s wall, %.3f s processor (best)", name, Best(times.Wall), Median(times.Wall),
              Best(times.Cpu));
  if (&times != &base)
    std::printf("   ratio %.2f wall, %.2f processor   target <= %s", Best(times.Wall) / Best(base.Wall),
                Best(base.Cpu) > 0 ? Best(times.Cpu) / Best(base.Cpu) : 0.0, target);
  std::printf("\n");
}

int Usage() {
  std::fprintf(stderr, "usage: LoadBench STORE [--rounds K] [--cold] [--cli PATH]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string path = argv[1];
  int rounds = 3;
  bool cold = false;
  std::string cli;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--cold") cold = true;
    else if (arg == "--cli" && i + 1 < argc) cli = argv[++i];
    else return Usage();
  }
  // Before every timed pass: warm runs need nothing, cold ones a dropped cache.
  auto prepare = [&] {
    if (cold && !DropFromPageCache(path)) throw std::runtime_error("cannot drop the store from the page cache");
  };

  try {
    const std::uint64_t fileSize = std::filesystem::file_size(path);
    const double mb = static_cast<double>(fileSize) / 1e6;

    if (!cold) SequentialRead(path); // warms the page cache
    std::vector<double> reads, readCpus;
    for (int r = 0; r < rounds; ++r) {
      prepare();
      const TSequentialRead read = SequentialRead(path);
      reads.push_back(read.Seconds);
      readCpus.push_back(read.Cpu);
    }

    std::vector<double> totals, totalCpus, opens, loads, copies, probes;
    long long peakIncrease = -1, baseline = -1;
    std::int32_t count = 0;
    std::uint64_t checksum = 0;
    std::unique_ptr<TMailbaseReader> reader;
    for (int r = 0; r < rounds; ++r) {
      reader.reset(); // the viewer destroys the old reader before the next probe
      prepare();
      const bool peakKnown = ResetPeak();
      const long long before = StatusKiB("VmRSS");
      TLoadTimes times;
      reader = LoadAsTheViewer(path, times, checksum);
      const long long peak = StatusKiB("VmHWM");
      if (peakKnown && before >= 0 && peak >= 0 && peak - before > peakIncrease) {
        peakIncrease = peak - before;
        baseline = before;
      }
      count = reader->GetCount();
      totals.push_back(times.Total());
      totalCpus.push_back(times.Cpu);
      probes.push_back(times.Probe);
      opens.push_back(times.Open);
      loads.push_back(times.Load);
      copies.push_back(times.Copy);
    }

    const char* kind = reader->Format == sfDBX ? "dbx" : "mbx";
    std::printf("store              %s (%s)\n", path.c_str(), kind);
    std::printf("file size          %.1f MB (%llu bytes)\n", mb, static_cast<unsigned long long>(fileSize));
    std::printf("messages           %d\n", count);
    std::printf("rounds             %d (best / median), page cache %s\n", rounds, cold ? "dropped before each pass" : "warm");
    std::printf("sequential read    %.3f s / %.3f s   %.0f MB/s (best)\n", Best(reads), Median(reads), mb / Best(reads));
    std::printf("open + load        %.3f s / %.3f s   %.0f MB/s (best)\n", Best(totals), Median(totals),
                mb / Best(totals));
    std::printf("  probe            %.3f s / %.3f s\n", Best(probes), Median(probes));
    std::printf("  SetFileName      %.3f s / %.3f s\n", Best(opens), Median(opens));
    std::printf("  Load             %.3f s / %.3f s\n", Best(loads), Median(loads));
    std::printf("  GetMessage x N   %.3f s / %.3f s\n", Best(copies), Median(copies));
    std::printf("ratio load/read    %.2f (best)  %.2f (median)   target <= 1.6\n", Best(totals) / Best(reads),
                Median(totals) / Median(reads));
    std::printf("processor time     read %.3f s, open + load %.3f s (best): ratio %.2f\n", Best(readCpus),
                Best(totalCpus), Best(readCpus) > 0 ? Best(totalCpus) / Best(readCpus) : 0.0);

    const double arrayMiB = static_cast<double>(count) * sizeof(TMessageRecord) / 1048576.0;
    std::printf("Messages array     %d x %zu bytes = %.1f MiB\n", count, sizeof(TMessageRecord), arrayMiB);
    if (peakIncrease >= 0) {
      const double peakMiB = static_cast<double>(peakIncrease) / 1024.0;
      std::printf("peak RSS increase  %.1f MiB over a baseline of %.1f MiB = %.2f x the array   target <= 1.20\n",
                  peakMiB, static_cast<double>(baseline) / 1024.0, arrayMiB > 0 ? peakMiB / arrayMiB : 0.0);
    } else {
      std::printf("peak RSS increase  not measured on this system\n");
    }

    // Every message's text, as viewing or exporting all of them would ask for it.
    prepare();
    std::uint64_t textBytes = 0;
    const auto start = TClock::now();
    for (std::int32_t i = 0; i < count; ++i) textBytes += reader->GetMessageText(i).size();
    const double textSeconds = Since(start);
    std::printf("GetMessageText x N %.3f s   %.0f MB of text, %.0f MB/s, %.1f us per message\n", textSeconds,
                static_cast<double>(textBytes) / 1e6, static_cast<double>(textBytes) / 1e6 / textSeconds,
                textSeconds * 1e6 / std::max(1, count));
    if (checksum == 42) std::printf("\n"); // keeps the copy loop from being optimised away

    if (!cli.empty()) {
      reader.reset();
#ifdef _WIN32
      const std::string null = " > NUL", cat = "type \"" + path + "\"";
#else
      const std::string null = " > /dev/null", cat = "cat \"" + path + "\"";
#endif
      const std::string list = "\"" + cli + "\" list \"" + path + "\"";
      const std::string json = "\"" + cli + "\" list --json \"" + path + "\"";
      TProcessTimes catTimes, listTimes, jsonTimes;
      for (int r = 0; r < rounds; ++r) {
        prepare();
        RunProcess(cat + null, catTimes);
        prepare();
        RunProcess(list + null, listTimes);
        prepare();
        RunProcess(json + null, jsonTimes);
      }
      PrintProcess("cat as a process", catTimes, catTimes, "");
      PrintProcess("list", listTimes, catTimes, "2");
      PrintProcess("list --json", jsonTimes, catTimes, "3");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "LoadBench: %s\n", e.what());
    return 1;
  }
  return 0;
}
