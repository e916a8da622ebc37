// recover: every message found in a store's bytes, written as .eml files.
#include "Commands.h"

#include "ReadableMessage.h"
#include "Exceptions.h"
#include "Folders.h"
#include "MessageFile.h"
#include "Recovery.h"
#include "FilePaths.h"
#include "TextLines.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace postvue::cli {

namespace {
namespace fs = std::filesystem;


// Writes what recoveries find, store after store, each into its own folder;
// counts for them all and one progress over them all.
class TRecoverWriter : public TRecoverySink {
public:
  // From now on into the folder prefix (ending in a separator), its lines
  // after label, its progress as share of the whole run.
  void Into(const std::string& prefix, const std::string& label, const TProgressShare& share = {}) {
    Prefix = prefix;
    Label = label;
    Share = share;
    Files.reset();
    RemovedFiles.reset();
  }

  void Message(const TRecoveredMessage& message) override {
    const bool removed = message.Kind == TRecoveredKind::Removed;
    const std::string folder = removed ? std::string(kRemovedFolder) + "/" : std::string();
    const auto number = static_cast<std::int32_t>(message.Number);
    const auto limit = static_cast<std::int32_t>(message.NumberLimit);
    const std::string first = ExportFileName(number, limit, NamingSubject(message.Text, message.Subject));
    std::string name = folder + first;
    try {
      // Opened at the first message: a store folder's own folder is made after Into.
      if (!Files) Files.emplace(Prefix);
      if (removed) MakeRemovedFolder();
      const TSaved saved = SaveUnderFreeName(removed ? *RemovedFiles : *Files, first, CrLfLines(message.Text),
                                             message.Received);
      name = folder + saved.Name;
      if (saved.Unchanged) {
        ++Unchanged;
      } else {
        ++Written;
        if (saved.Renamed) ++Renamed;
      }
      if (!saved.TimeSet) Report(name + ": the file's time could not be set", true);
    } catch (const Exception& e) {
      Meter.Clear();
      ++Errors;
      ++WriteErrors;
      // A folder that takes no file (no permission, a full disk) is said once, not once per message.
      if (FailsEveryNewFile(e)) {
        ReportStop(e, Label, Prefix + name);
        throw TRunStopped();
      }
      ReportException(e, Label + name + ": ");
      return;
    }
    if (message.Incomplete) Report("incomplete: " + name + ": " + message.IncompleteReason, false);
  }

  void Problem(std::uint64_t offset, const std::string& what) override { Report("at " + HexText(offset) + ": " + what, true); }

  void Progress(std::uint64_t done, std::uint64_t total) override { Share.Update(Meter, done, total); }

  void Report(const std::string& line, bool error) {
    Meter.Clear();
    ReportError(Label + line);
    if (error) ++Errors;
  }

  // One store's recovery into the current folder (dir, as the user named
  // it), and the notes on what it found.
  void Recover(TStoreRecovery& recovery, const std::string& dir) {
    const TRecoverySummary summary = recovery.Run(*this);
    if (!summary.IndexRead && summary.Unclassified > 0)
      Report("the store's index cannot be read: every message found is in " + dir + ", listed and removed ones alike",
             false);
    if (summary.Repeated > 0)
      Report(std::to_string(summary.Repeated) + " more entries of the index for messages written once were left out",
             false);
    if (summary.Duplicates > 0)
      Report(std::to_string(summary.Duplicates) + " removed copies equal to messages written were left out", false);
    Removed += summary.Removed;
    Incomplete += summary.Incomplete;
  }

  // The summary line; 1 when a file could not be written (or failed is set), else 0.
  int Finish(bool failed = false) {
    Label.clear();
    Report("recovered " + std::to_string(Written) + UnchangedNote(Unchanged) + ", removed found " +
               std::to_string(Removed) + ", incomplete " + std::to_string(Incomplete) + ", errors " +
               std::to_string(Errors) + RenamedNote(Renamed),
           false);
    return failed || WriteErrors > 0 ? 1 : 0;
  }

  std::uint32_t Written = 0, Unchanged = 0, Renamed = 0, WriteErrors = 0, Errors = 0, Removed = 0, Incomplete = 0;

private:
  void MakeRemovedFolder() {
    if (RemovedFiles) return;
    const std::string folder = Prefix + kRemovedFolder;
    std::error_code made, ec;
    const fs::path path = PathFromUtf8(folder);
    if (!fs::exists(fs::symlink_status(path, ec))) fs::create_directory(path, made);
    if (!fs::is_directory(fs::symlink_status(path, ec)))
      throw made ? EFCreateError(folder, made) : EFCreateError(folder);
    RemovedFiles.emplace(folder + "/");
  }

  std::string Prefix, Label;
  std::optional<TNewFileFolder> Files, RemovedFiles; // the folder's files, those of its removed messages
  TProgressShare Share;
  TProgress Meter{"recovering"};
};
} // namespace

int RunRecover(const std::string& store, const std::string& dir) {
  if (IsFolder(store)) return RunRecoverFolder(store, dir);
  TStoreRecovery recovery(store); // a store that cannot be opened fails before DIR is made
  TRecoverWriter writer;
  writer.Into(PrepareFolder(dir), {});
  try {
    writer.Recover(recovery, dir);
  } catch (const TRunStopped&) {
    // Said already; the summary still tells what was written before.
  }
  return writer.Finish();
}

int RunRecoverFolder(const std::string& storeDir, const std::string& outDir) {
  const TFolderPlan plan = PlanStoreFolder(storeDir, outDir, TLayout::Recover);
  TRecoverWriter writer;
  bool failed = false;
  std::uint64_t done = 0;
  try {
    for (std::size_t i = 0; i < plan.Tree.Folders.size(); ++i) {
      const TProgressShare share{done, plan.StoreBytes(i), plan.TotalBytes};
      done += share.Span;
      writer.Into(plan.Targets[i] + "/", plan.Label(i), share);
      try {
        plan.MakeDirectory(i);
        const std::string& store = plan.Tree.Folders[i].StorePath;
        if (store.empty()) continue;
        TStoreRecovery recovery(store);
        writer.Recover(recovery, plan.Targets[i]);
      } catch (const Exception& e) {
        writer.Report(ErrorBoxText(e.message()), true);
        if (!e.reason().empty()) writer.Report(e.reason(), false);
        failed = true;
        // The output tree is one place: what no directory there may have stops the run.
        if (FailsEveryNewFile(e)) break;
        // A store that cannot be opened must not cost the others; the exit status tells.
      }
    }
  } catch (const TRunStopped&) {
    // Said already; the summary still tells what was written before.
  }
  return writer.Finish(failed);
}

} // namespace postvue::cli
