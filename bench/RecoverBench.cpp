// Recovering a store against a plain sequential read of the same file, in
// one run:
//
//   RecoverBench STORE [--rounds K] [--write DIR] [--cli PATH]   (K defaults to 3)
//
// (a) the whole file read front to back in 1 MiB reads, after one untimed
//     pass that warms the page cache;
// (b) the recovery itself, K times: every message found and dropped;
// (b') the same, each text also turned into the bytes of its .eml file (CR LF
//     line ends, CrLfLines as the save writes them) before it is dropped;
// (c) with --write DIR: once more, writing every .eml into DIR (and
//     DIR/removed) as postvue-cli recover does; DIR is emptied afterwards;
// (d) with --cli PATH: "PATH recover STORE DIR" as a process, once (needs
//     --write for its folder).
// Messages, bytes, incomplete ones and problems are printed, so a damaged
// store (an index destroyed) can be measured the same way.
#include "BenchSupport.h"
#include "Exceptions.h"
#include "MessageFile.h"
#include "Recovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace postvue;

namespace {

using namespace postvue::bench;
namespace fs = std::filesystem;

// Counts what is found; converts it to .eml bytes, or writes it when given a folder.
class TBenchSink : public TRecoverySink {
public:
  explicit TBenchSink(std::string folder, bool convert = false) : Folder(std::move(folder)), Convert(convert) {}
  void Message(const TRecoveredMessage& message) override {
    ++Messages;
    TextBytes += message.Text.size();
    if (message.Incomplete) ++Incomplete;
    if (Folder.empty()) {
      if (Convert) FileBytes += CrLfLines(message.Text).size();
      return;
    }
    const bool removed = message.Kind == TRecoveredKind::Removed;
    if (removed && !RemovedMade) {
      fs::create_directories(Folder + "/removed");
      RemovedMade = true;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%s%06u.eml", removed ? "removed/" : "", message.Number);
    const std::string bytes = CrLfLines(message.Text);
    WriteFileReplacing(Folder + "/" + name, bytes);
    FileBytes += bytes.size();
  }
  void Problem(std::uint64_t, const std::string&) override { ++Problems; }

  std::string Folder;
  bool Convert = false, RemovedMade = false;
  std::uint64_t Messages = 0, TextBytes = 0, FileBytes = 0, Incomplete = 0, Problems = 0;
};

TRecoverySummary RecoverOnce(const std::string& path, TBenchSink& sink) {
  TStoreRecovery recovery(path);
  return recovery.Run(sink);
}

void EmptyFolder(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
}

int Usage() {
  std::fprintf(stderr, "usage: RecoverBench STORE [--rounds K] [--write DIR] [--cli PATH]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string path = argv[1];
  int rounds = 3;
  std::string writeDir, cli;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--write" && i + 1 < argc) writeDir = argv[++i];
    else if (arg == "--cli" && i + 1 < argc) cli = argv[++i];
    else return Usage();
  }
  if (!cli.empty() && writeDir.empty()) return Usage();

  try {
    const std::uint64_t fileSize = fs::file_size(path);
    const double mb = static_cast<double>(fileSize) / 1e6;
    SequentialRead(path); // warms the page cache
    // Each round reads the file and then recovers it, so both meet the same
    // conditions on a busy machine; the ratio is taken per round.
    std::vector<double> reads, recovers, converts, ratios;
    TBenchSink counted(""), converted("", true);
    TRecoverySummary summary;
    for (int r = 0; r < rounds; ++r) {
      reads.push_back(SequentialRead(path).Seconds);
      counted = TBenchSink("");
      auto start = TClock::now();
      summary = RecoverOnce(path, counted);
      recovers.push_back(Since(start));
      ratios.push_back(recovers.back() / reads.back());
      converted = TBenchSink("", true);
      start = TClock::now();
      RecoverOnce(path, converted);
      converts.push_back(Since(start));
    }

    std::printf("store               %s\n", path.c_str());
    std::printf("file size           %.1f MB (%llu bytes)\n", mb, static_cast<unsigned long long>(fileSize));
    std::printf("found               %llu messages: %u listed, %u removed, %u unclassified; %u incomplete\n",
                static_cast<unsigned long long>(counted.Messages), summary.Listed, summary.Removed,
                summary.Unclassified, summary.Incomplete);
    std::printf("                    %u problems, %u duplicates left out, %u fragments; index %s\n",
                summary.Problems, summary.Duplicates, summary.Fragments, summary.IndexRead ? "read" : "not read");
    std::printf("text                %.1f MB, as .eml files %.1f MB\n", static_cast<double>(counted.TextBytes) / 1e6,
                static_cast<double>(converted.FileBytes) / 1e6);
    std::printf("rounds              %d (best / median), page cache warm\n", rounds);
    std::printf("sequential read     %.3f s / %.3f s   %.0f MB/s (best)\n", Best(reads), Median(reads),
                mb / Best(reads));
    std::printf("recover, texts      %.3f s / %.3f s   %.0f MB/s (best)\n", Best(recovers), Median(recovers),
                mb / Best(recovers));
    std::printf("  ratio             %.2f (best of each)  %.2f (median of the rounds' ratios)   target <= 3\n",
                Best(recovers) / Best(reads), Median(ratios));
    std::printf("recover, .eml bytes %.3f s / %.3f s   %.0f MB/s (best)\n", Best(converts), Median(converts),
                mb / Best(converts));
    std::printf("  ratio             %.2f (best of each)\n", Best(converts) / Best(reads));

    if (!writeDir.empty()) {
      fs::create_directories(writeDir);
      EmptyFolder(writeDir);
      TBenchSink writer(writeDir);
      auto start = TClock::now();
      RecoverOnce(path, writer);
      const double written = Since(start);
      EmptyFolder(writeDir);
      std::printf("recover, writing    %.3f s   ratio %.2f   (%llu files)\n", written, written / Best(reads),
                  static_cast<unsigned long long>(writer.Messages));
      if (!cli.empty()) {
        const std::string command = "'" + cli + "' recover '" + path + "' '" + writeDir + "' 2>/dev/null";
        start = TClock::now();
        const int status = std::system(command.c_str());
        const double seconds = Since(start);
        EmptyFolder(writeDir);
        std::printf("postvue-cli recover %.3f s   ratio %.2f   (exit status %d)\n", seconds, seconds / Best(reads),
                    status);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "RecoverBench: %s\n", e.what());
    return 1;
  }
  return 0;
}
