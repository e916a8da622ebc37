// Exporting a whole store folder against exporting each of its stores alone,
// in one run:
//
//   StoreFolderBench STOREDIR OUTDIR --cli PATH [--rounds K] [--mbox] [--write-list]
//
// (a) "PATH export STORE OUTDIR/alone" for each store of the folder's tree,
//     one process after the other, the times summed;
// (b) "PATH export STOREDIR OUTDIR/folder" once;
// with --mbox, "export --mbox" both ways. K rounds (default 2), alternating
// which comes first, after one untimed read of every store that warms the
// page cache; every export writes into a folder of its own under OUTDIR,
// once the disk has caught up with the last, and OUTDIR is removed at the
// end (files made just after many were removed cost more on some file
// systems: see ExportBench). The best round of each
// and their ratios are printed, of the wall clock and of the processor time
// the exports took (which a busy machine moves far less). --write-list
// first writes a Folders.dbx into STOREDIR that nests its .dbx stores two to
// a level, so the tree is walked.
//
// Stores to measure come from GenerateStore, for example ten of about 100 MB:
//   for i in 0 1 2 3 4 5 6 7 8 9; do GenerateStore --dbx DIR/s$i.dbx --messages 8500; done
#include "BenchSupport.h"
#include "StoreFolder.h"
#include "StoreWriter.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace postvue;
using namespace postvue::bench;
namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct TTimes {
  double Wall = 0, Cpu = 0;
  TTimes& operator+=(const TTimes& other) {
    Wall += other.Wall;
    Cpu += other.Cpu;
    return *this;
  }
};

// Processor time (user and system) of the finished child processes so far.
double ChildrenCpu() {
#ifdef _WIN32
  return 0; // not counted there: the wall clock only
#else
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

// What the command took: on a machine shared with other jobs, its processor
// time moves far less than the wall clock. Its exit status is reported when not 0.
TTimes Timed(const std::string& command) {
  const auto start = TClock::now();
  const double cpuStart = ChildrenCpu();
  const int status = std::system((command + " 2>/dev/null").c_str());
  const TTimes times{Since(start), ChildrenCpu() - cpuStart};
  if (status != 0) std::printf("  (exit status %d: %s)\n", status, command.c_str());
  return times;
}

void WriteList(const std::string& dir) {
  std::vector<std::string> stores;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".dbx" && entry.path().filename() != "Folders.dbx")
      stores.push_back(entry.path().filename().string());
  std::sort(stores.begin(), stores.end());
  std::vector<postvue::testing::TTestFolder> folders = {{1, 0, "Local Folders", ""}};
  for (std::size_t i = 0; i < stores.size(); ++i) {
    const auto id = static_cast<std::uint32_t>(i + 2);
    folders.push_back({id, i < 2 ? 1 : id - 2, fs::path(stores[i]).stem().string(), stores[i]});
  }
  postvue::testing::MakeFolderList(folders).WriteFile(dir + "/Folders.dbx");
}

int Usage() {
  std::fprintf(stderr, "usage: StoreFolderBench STOREDIR OUTDIR --cli PATH [--rounds K] [--mbox] [--write-list]\n");
  return 2;
}
} // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string storeDir = argv[1], outDir = argv[2];
  std::string cli;
  int rounds = 2;
  bool mbox = false, writeList = false;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cli" && i + 1 < argc) cli = argv[++i];
    else if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--mbox") mbox = true;
    else if (arg == "--write-list") writeList = true;
    else return Usage();
  }
  if (cli.empty()) return Usage();
  try {
    if (writeList) WriteList(storeDir);
    const TStoreFolder tree = ReadStoreFolder(storeDir);
    std::vector<std::string> stores;
    std::uint64_t bytes = 0;
    for (const auto& folder : tree.Folders) {
      if (folder.StorePath.empty()) continue;
      stores.push_back(folder.StorePath);
      bytes += SequentialRead(folder.StorePath).Bytes; // untimed: warms the page cache
    }
    std::printf("%zu folders, %zu stores, %.1f MB\n", tree.Folders.size(), stores.size(), bytes / 1e6);
    std::fflush(stdout);

    const std::string exportCommand = Quote(cli) + (mbox ? " export --mbox " : " export ");
    if (fs::exists(outDir)) throw Exception(outDir + " is there from an earlier run: remove it, then wait a few minutes");
    // The output written so far goes to disk before the next export begins:
    // else its write-back would slow whatever runs next.
    int part = 0;
    auto nextPart = [&] {
#ifndef _WIN32
      sync();
#endif
      const std::string folder = outDir + "/" + std::to_string(++part);
      fs::create_directories(folder);
      return folder;
    };
    auto eachAlone = [&] {
      const std::string alone = nextPart();
      TTimes sum;
      for (std::size_t i = 0; i < stores.size(); ++i) {
        const std::string target = alone + "/" + std::to_string(i) + (mbox ? ".mbox" : "");
        if (!mbox) fs::create_directories(target);
        sum += Timed(exportCommand + Quote(stores[i]) + " " + Quote(target));
      }
      return sum;
    };
    auto wholeFolder = [&] { return Timed(exportCommand + Quote(storeDir) + " " + Quote(nextPart() + "/folder")); };

    std::vector<TTimes> alones, wholes;
    for (int r = 0; r < rounds; ++r) {
      if (r % 2 == 0) {
        alones.push_back(eachAlone());
        wholes.push_back(wholeFolder());
      } else {
        wholes.push_back(wholeFolder());
        alones.push_back(eachAlone());
      }
      std::printf("round %d: stores alone %.2f s (processor %.2f s), store folder %.2f s (processor %.2f s)\n", r + 1,
                  alones.back().Wall, alones.back().Cpu, wholes.back().Wall, wholes.back().Cpu);
      std::fflush(stdout);
    }
    fs::remove_all(outDir);
    auto best = [](const std::vector<TTimes>& times, double TTimes::*field) {
      std::vector<double> values;
      for (const TTimes& t : times) values.push_back(t.*field);
      return Best(values);
    };
    const double aloneWall = best(alones, &TTimes::Wall), wholeWall = best(wholes, &TTimes::Wall);
    const double aloneCpu = best(alones, &TTimes::Cpu), wholeCpu = best(wholes, &TTimes::Cpu);
    std::printf("best wall clock: stores alone %.2f s (%.0f MB/s), store folder %.2f s (%.0f MB/s), ratio %.3f\n",
                aloneWall, bytes / 1e6 / aloneWall, wholeWall, bytes / 1e6 / wholeWall, wholeWall / aloneWall);
    std::printf("best processor time: stores alone %.2f s, store folder %.2f s, ratio %.3f\n", aloneCpu, wholeCpu,
                wholeCpu / aloneCpu);
  } catch (const Exception& e) {
    std::fprintf(stderr, "StoreFolderBench: %s\n", e.what());
    return 1;
  }
  return 0;
}
