// Exporting a store against the file system's floor, in one run:
//
//   ExportBench STORE DIR [--rounds K] [--cli PATH]... [--mbox] [--recover]   (K defaults to 3)
//
// Every round, with the disk written back before each part (sync):
// (a) floor: as many files as the store has messages, of the sizes their
//     .eml files have, each made with one open, one write and one close;
// (b) export in-process: the command's own code, store loading included;
// (c) with --cli PATH: "PATH export STORE DIR/..." as a process, for each
//     PATH given (an older build beside the current one, say);
// (d) with --mbox: export --mbox in-process, against one file of its size
//     written in 1 MiB writes;
// (e) with --recover: recover in-process, against the floor of (a).
// Ratios are taken against the floor of the same round, then best and median.
// Every part writes into a folder of its own under DIR, and all of them are
// removed at the end: a file system without a journal (ext4 made without
// one) passes over inodes freed less than a minute ago when it makes new
// files (six minutes while their table is not on disk yet), so files made
// just after many others were removed cost several times more. Run the
// benchmark a minute or more after any mass removal on the same file
// system, its own included.
#include "BenchSupport.h"
#include "ReadableMessage.h"
#include "Commands.h"
#include "MessageFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace postvue;

namespace {

using namespace postvue::bench;
namespace fs = std::filesystem;

struct TFileSizes {
  std::vector<std::string> Names;
  std::vector<std::size_t> Sizes;
  std::uint64_t Bytes = 0;
};

// The names and sizes the export writes, taken untimed.
TFileSizes MeasureExport(const std::string& store) {
  const auto reader = cli::LoadStore(store);
  TFileSizes sizes;
  const std::int32_t count = reader->GetCount();
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader->GetMessage(i, record);
    std::string text;
    try {
      text = reader->GetMessageText(i);
    } catch (const Exception&) {
      continue; // not exported either
    }
    const std::size_t size = CrLfLines(text).size();
    sizes.Names.push_back(ExportFileName(i, count, NamingSubject(text, record.Subject.View())));
    sizes.Sizes.push_back(size);
    sizes.Bytes += size;
  }
  return sizes;
}

void Settle() {
#ifndef _WIN32
  ::sync(); // the previous part's writes must not be flushed during the next one
#endif
}


// One open, one write, one close per file, as plain as it gets.
double Floor(const std::string& dir, const TFileSizes& sizes) {
  fs::create_directories(dir);
  std::size_t largest = 0;
  for (const std::size_t size : sizes.Sizes) largest = std::max(largest, size);
  const std::string buffer(largest, 'x');
  const std::string prefix = dir + "/";
  const auto start = TClock::now();
  for (std::size_t i = 0; i < sizes.Sizes.size(); ++i) {
    const std::string path = prefix + sizes.Names[i];
#ifdef _WIN32
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (!file) throw std::runtime_error("cannot create " + path);
    std::setvbuf(file, nullptr, _IONBF, 0);
    const bool written = std::fwrite(buffer.data(), 1, sizes.Sizes[i], file) == sizes.Sizes[i];
    if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    const bool written = ::write(fd, buffer.data(), sizes.Sizes[i]) == static_cast<ssize_t>(sizes.Sizes[i]);
    if (::close(fd) != 0 || !written) throw std::runtime_error("cannot write " + path);
#endif
  }
  return Since(start);
}

// One file of bytes written in 1 MiB writes: the floor of an mbox export.
double WriteOneFile(const std::string& path, std::uint64_t bytes) {
  const std::string buffer(1 << 20, 'x');
  const auto start = TClock::now();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot create " + path);
  std::setvbuf(file, nullptr, _IONBF, 0);
  for (std::uint64_t done = 0; done < bytes;) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes - done));
    if (std::fwrite(buffer.data(), 1, chunk, file) != chunk) throw std::runtime_error("cannot write " + path);
    done += chunk;
  }
  if (std::fclose(file) != 0) throw std::runtime_error("cannot write " + path);
  return Since(start);
}

template <typename TFunction> double Timed(TFunction run) {
  const auto start = TClock::now();
  run();
  return Since(start);
}

struct TSeries {
  explicit TSeries(const char* name) : Name(name) {}
  const char* Name;
  std::vector<double> Seconds, Ratios;
};

void Print(const TSeries& series, const char* against) {
  if (series.Seconds.empty()) return;
  std::printf("%-22s %7.2f s / %7.2f s", series.Name, Best(series.Seconds), Median(series.Seconds));
  if (!series.Ratios.empty())
    std::printf("   ratio to %s %.2f (best) %.2f (median)", against, Best(series.Ratios), Median(series.Ratios));
  std::printf("\n");
}

int Usage() {
  std::fprintf(stderr, "usage: ExportBench STORE DIR [--rounds K] [--cli PATH]... [--mbox] [--recover]\n");
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string store = argv[1], dir = argv[2];
  int rounds = 3;
  std::vector<std::string> cliPaths;
  bool mbox = false, recover = false;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--cli" && i + 1 < argc) cliPaths.push_back(argv[++i]);
    else if (arg == "--mbox") mbox = true;
    else if (arg == "--recover") recover = true;
    else return Usage();
  }
  try {
    const TFileSizes sizes = MeasureExport(store);
    SequentialRead(store); // warms the page cache
    std::printf("store                  %s\n", store.c_str());
    std::printf("files                  %zu, %.1f MB of .eml\n", sizes.Sizes.size(),
                static_cast<double>(sizes.Bytes) / 1e6);
    std::printf("rounds                 %d (best / median), disk written back before every part\n", rounds);

    TSeries floor{"floor open/write/close"}, inProcess{"export in-process"}, mboxFloor{"one file of mbox size"}, mboxExport{"export --mbox"}, recovered{"recover in-process"};
    std::vector<TSeries> processes;
    for (std::size_t c = 0; c < cliPaths.size(); ++c) processes.emplace_back("export as a process");
    const std::string top = dir + "/out-bench";
    if (fs::exists(top)) throw std::runtime_error(top + " is there from an earlier run: remove it, then wait a few minutes");
    int parts = 0;
    // A new folder for the next part, once the disk has caught up with the last.
    auto next = [&] {
      Settle();
      return top + "/" + std::to_string(++parts);
    };
    for (int r = 0; r < rounds; ++r) {
      const double f = Floor(next(), sizes);
      floor.Seconds.push_back(f);

      const std::string out = next();
      const double e = Timed([&] { cli::RunExport(store, out); });
      inProcess.Seconds.push_back(e);
      inProcess.Ratios.push_back(e / f);

      for (std::size_t c = 0; c < cliPaths.size(); ++c) {
        const std::string command = "\"" + cliPaths[c] + "\" export \"" + store + "\" \"" + next() + "\"";
        const double p = Timed([&] {
          if (RunCommand(command) != 0) throw std::runtime_error("failed: " + command);
        });
        processes[c].Seconds.push_back(p);
        processes[c].Ratios.push_back(p / f);
      }
      if (mbox) {
        // One file each: removing them right away frees no run of inodes.
        std::string folder = next();
        fs::create_directories(folder);
        const double m = Timed([&] { cli::RunExportMbox(store, folder + "/all.mbox"); });
        const std::uint64_t size = fs::file_size(folder + "/all.mbox");
        fs::remove(folder + "/all.mbox");
        folder = next();
        fs::create_directories(folder);
        const double w = WriteOneFile(folder + "/all.mbox", size);
        fs::remove(folder + "/all.mbox");
        mboxExport.Seconds.push_back(m);
        mboxExport.Ratios.push_back(m / w);
        mboxFloor.Seconds.push_back(w);
      }
      if (recover) {
        const double v = Timed([&] { cli::RunRecover(store, next()); });
        recovered.Seconds.push_back(v);
        recovered.Ratios.push_back(v / f);
      }
      // Each round's own figures: the disk's pace may change from one to the next.
      std::printf("round %d: floor %.2f s, export in-process %.2f (%.2f x)", r + 1, f, e, e / f);
      for (const TSeries& process : processes)
        std::printf(", as a process %.2f (%.2f x)", process.Seconds.back(), process.Ratios.back());
      std::printf("\n");
      std::fflush(stdout);
    }
    fs::remove_all(top);
    Settle(); // the freed inodes on disk: passed over for a minute, not six
    Print(floor, "");
    Print(inProcess, "floor");
    for (std::size_t c = 0; c < cliPaths.size(); ++c) {
      std::printf("%s:\n", cliPaths[c].c_str());
      Print(processes[c], "floor");
    }
    Print(mboxFloor, "");
    Print(mboxExport, "one file");
    Print(recovered, "floor");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ExportBench: %s\n", e.what());
    return 1;
  }
  return 0;
}
