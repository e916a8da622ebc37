// recover: every message found in a store's bytes, written as .eml files.
#include "Commands.h"

#include "Exceptions.h"
#include "MessageFile.h"
#include "Recovery.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace postvue::cli {

namespace {
namespace fs = std::filesystem;

const char* const kRemovedFolder = "removed";

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

fs::path PathFromUtf8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

class TRecoverWriter : public TRecoverySink {
public:
  explicit TRecoverWriter(const std::string& dir) : Prefix(PrepareFolder(dir)) {}

  void Message(const TRecoveredMessage& message) override {
    const bool removed = message.Kind == TRecoveredKind::Removed;
    const std::string folder = removed ? std::string(kRemovedFolder) + "/" : std::string();
    const auto number = static_cast<std::int32_t>(message.Number);
    const auto limit = static_cast<std::int32_t>(message.NumberLimit);
    std::string name = folder + ExportFileName(number, limit, message.Subject);
    try {
      if (removed) MakeRemovedFolder();
      bool renamed = false, timeSet = false;
      name = folder + SaveUnderFreeName(Prefix + folder, number, limit, message.Subject, CrLfLines(message.Text),
                                        message.Received, renamed, timeSet);
      ++Written;
      if (renamed) ++Renamed;
      if (!timeSet) Report(name + ": the file's time could not be set", true);
    } catch (const Exception& e) {
      Meter.Clear();
      ReportException(e, name + ": ");
      ++Errors;
      ++WriteErrors;
      return;
    }
    if (message.Incomplete) Report("incomplete: " + name + ": " + message.IncompleteReason, false);
  }

  void Problem(std::uint64_t offset, const std::string& what) override { Report("at " + Hex(offset) + ": " + what, true); }

  void Progress(std::uint64_t done, std::uint64_t total) override { Meter.Update(done, total); }

  void Report(const std::string& line, bool error) {
    Meter.Clear();
    ReportError(line);
    if (error) ++Errors;
  }

  std::uint32_t Written = 0, Renamed = 0, WriteErrors = 0, Errors = 0;

private:
  void MakeRemovedFolder() {
    if (RemovedReady) return;
    const std::string folder = Prefix + kRemovedFolder;
    std::error_code ec;
    const fs::path path = PathFromUtf8(folder);
    if (!fs::exists(fs::symlink_status(path, ec))) fs::create_directory(path, ec);
    if (!fs::is_directory(fs::symlink_status(path, ec))) throw EFCreateError(folder);
    RemovedReady = true;
  }

  const std::string Prefix;
  bool RemovedReady = false;
  TProgress Meter{"recovering"};
};
} // namespace

int RunRecover(const std::string& store, const std::string& dir) {
  TStoreRecovery recovery(store); // a store that cannot be opened fails before DIR is made
  TRecoverWriter writer(dir);
  const TRecoverySummary summary = recovery.Run(writer);
  if (!summary.IndexRead && summary.Unclassified > 0)
    writer.Report("the store's index cannot be read: every message found is in " + dir +
                      ", listed and removed ones alike",
                  false);
  if (summary.Duplicates > 0)
    writer.Report(std::to_string(summary.Duplicates) + " removed copies equal to messages written were left out",
                  false);
  writer.Report("recovered " + std::to_string(writer.Written) + ", removed found " + std::to_string(summary.Removed) +
                    ", incomplete " + std::to_string(summary.Incomplete) + ", errors " + std::to_string(writer.Errors) +
                    RenamedNote(writer.Renamed),
                false);
  return writer.WriteErrors > 0 ? 1 : 0;
}

} // namespace postvue::cli
