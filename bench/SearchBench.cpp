// Searching a store against grep over the same file, in one run:
//
//   SearchBench STORE WORD... [--rounds K] [--cli PATH]     (K defaults to 3)
//
// STORE is best a generated one (GenerateStore --dbx STORE, 100,000
// messages) and a WORD one that few of its messages hold. For each WORD,
// every round times
// (a) "grep -c -i -F WORD STORE" and (b) "postvue-cli search STORE WORD" as
// processes, their output written to a file (GNU grep stops at the first
// line found when its output is the null device), after one untimed run of
// each so that both find the file in memory; then the ratio b/a, best and median.
// Last, the viewers' filter as the user types WORD letter by letter: the
// time per keystroke over the folded sender and subject of every row.
#include "BenchSupport.h"
#include "Charset.h"
#include "Commands.h"
#include "Search.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace postvue;

namespace {

using namespace postvue::bench;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

double TimeCommand(const std::string& command) {
  const auto start = TClock::now();
  const int status = RunCommand(command);
  const double seconds = Since(start);
  // grep exits 1 when it finds nothing: only worse is a failure.
  if (status != 0 && status != 256 && status != 1) std::fprintf(stderr, "SearchBench: \"%s\" exited %d\n", command.c_str(), status);
  return seconds;
}

int Usage() {
  std::fprintf(stderr, "usage: SearchBench STORE WORD... [--rounds K] [--cli PATH]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string store = argv[1];
  std::vector<std::string> words;
  int rounds = 3;
  std::string cli = (std::filesystem::path(argv[0]).parent_path() / ".." / "cli" / "postvue-cli").string();
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--cli" && i + 1 < argc) cli = argv[++i];
    else if (arg.rfind("--", 0) == 0) return Usage();
    else words.push_back(arg);
  }
  if (words.empty()) return Usage();
  try {
    const std::string out = (std::filesystem::temp_directory_path() / "SearchBench-output.txt").string();
    for (const std::string& word : words) {
      const std::string grep = "grep -c -i -F " + Quoted(word) + " " + Quoted(store) + " > " + Quoted(out);
      const std::string search = Quoted(cli) + " search " + Quoted(store) + " " + Quoted(word) + " > " + Quoted(out) + " 2>&1";
      TimeCommand(grep); // warm: the file in memory for both
      TimeCommand(search);
      std::vector<double> greps, searches, ratios;
      for (int r = 0; r < rounds; ++r) {
        greps.push_back(TimeCommand(grep));
        searches.push_back(TimeCommand(search));
        ratios.push_back(searches.back() / greps.back());
      }
      std::printf("%s, \"%s\", %d rounds\n", store.c_str(), word.c_str(), rounds);
      std::printf("  grep -c -i -F       %.3f s best, %.3f s median\n", Best(greps), Median(greps));
      std::printf("  postvue-cli search  %.3f s best, %.3f s median\n", Best(searches), Median(searches));
      std::printf("  ratio               %.2f best, %.2f median\n", Best(ratios), Median(ratios));
      std::fflush(stdout);
    }
    std::filesystem::remove(out);

    // The viewers' filter: rows folded once at load, then one search per keystroke.
    const auto reader = cli::LoadStore(store);
    const std::int32_t count = reader->GetCount();
    auto start = TClock::now();
    TFoldedRows rows;
    rows.Reserve(static_cast<std::size_t>(count), static_cast<std::size_t>(count) * 64);
    for (std::int32_t i = 0; i < count; ++i) {
      const TMessageRecord& record = reader->MessageAt(i);
      rows.Add(Windows1252ToUtf8(SenderBytes(record)), Windows1252ToUtf8(record.Subject.View()));
    }
    std::printf("  filter: %d rows folded in %.1f ms\n", count, Since(start) * 1000);
    for (const std::string& word : words) {
      double worst = 0;
      std::size_t shown = 0;
      for (std::size_t typed = 1; typed <= word.size(); ++typed) {
        const TSearchQuery query = TSearchQuery::Parse(word.substr(0, typed));
        start = TClock::now();
        shown = rows.Matching(query).size();
        worst = std::max(worst, Since(start));
      }
      std::printf("  filter: %.1f ms for the slowest keystroke of \"%s\" (%zu rows shown at the end)\n", worst * 1000,
                  word.c_str(), shown);
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "SearchBench: %s\n", e.what());
    return 1;
  }
}
