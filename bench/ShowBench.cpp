// Reading a whole store as a person reads it, against writing it out as it is.
//
//   ShowBench STORE --cli PATH [--rounds K]     (K defaults to 3)
//
// Times `postvue-cli show --json STORE` (every message decoded: MIME,
// transfer encodings, charsets, HTML as text) and `postvue-cli export --mbox
// STORE` (every message copied) in the same run, each warm, output to a
// temporary folder, and prints the best of K rounds of each and their ratio.
// Make a store like real mail with GenerateStore --dbx OUT --mime.
#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace postvue::bench;

namespace {
int Usage() {
  std::fprintf(stderr, "usage: ShowBench STORE --cli PATH [--rounds K]\n");
  return 2;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The best wall time of rounds runs of command; -1 when one failed.
double BestOf(const std::string& command, int rounds) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const auto start = TClock::now();
    if (RunCommand(command) != 0) return -1;
    times.push_back(Since(start));
  }
  return Best(times);
}
} // namespace

int main(int argc, char** argv) {
  std::string store, cli;
  int rounds = 3;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cli" && i + 1 < argc)
      cli = argv[++i];
    else if (arg == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (store.empty() && arg[0] != '-')
      store = arg;
    else
      return Usage();
  }
  if (store.empty() || cli.empty()) return Usage();
  const std::filesystem::path out = std::filesystem::temp_directory_path() / "postvue-showbench";
  std::filesystem::create_directories(out);
  const std::string json = (out / "show.json").string(), mbox = (out / "export.mbox").string();
  const std::string show = Quoted(cli) + " show --json " + Quoted(store) + " > " + Quoted(json);
  const std::string copy = Quoted(cli) + " export --mbox " + Quoted(store) + " " + Quoted(mbox) + " 2> " +
                           Quoted((out / "export.err").string());
  // Warm: the store in the page cache, both programs' outputs written once.
  SequentialRead(store);
  RunCommand(copy);
  const double exportSeconds = BestOf(copy, rounds);
  const double showSeconds = BestOf(show, rounds);
  std::filesystem::remove_all(out);
  if (exportSeconds < 0 || showSeconds < 0) {
    std::fprintf(stderr, "ShowBench: a run failed\n");
    return 1;
  }
  std::printf("store %s (%.0f MB)\n", store.c_str(), std::filesystem::file_size(store) / 1e6);
  std::printf("export --mbox  %.2f s\nshow --json    %.2f s\nratio          %.2f (show / export)\n", exportSeconds,
              showSeconds, showSeconds / exportSeconds);
  return 0;
}
