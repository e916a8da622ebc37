// The commands of postvue-cli. Each raises the library's exceptions on
// failure; main turns them into the error lines and the exit status.
#pragma once

#include "Exceptions.h"
#include "ExportNames.h"
#include "Folders.h"
#include "MailbaseReader.h"
#include "MessageFile.h"
#include "Progress.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postvue::cli {

// Where recover puts messages the index does not reach, inside each output folder.
inline constexpr const char* kRemovedFolder = "removed";

// A sound store that holds no message, where messages are needed: the
// reader's own failure, but no damage (nothing for recover to find).
class EEmptyStore : public Exception {
public:
  using Exception::Exception;
};

// The store opened as the viewer opens it (NewReaderFor, OpenStore).
// With allowEmpty, a store that holds no message is an empty folder (a
// reader whose GetCount is 0) instead of a failure; without, it raises
// EEmptyStore with the reader's message.
std::unique_ptr<TMailbaseReader> LoadStore(const std::string& path, bool allowEmpty = false);

// field with tabs and line breaks as spaces, so a line stays one line.
void AppendField(std::string& out, std::string_view field);

// Text for standard output, written in large pieces as it is made: bytes,
// or with forPeople UTF-8 text for people (WriteText).
class TOutput {
public:
  explicit TOutput(bool forPeople) : ForPeople(forPeople) {}
  std::string Text;
  // Writes Text out once it holds a piece's worth.
  void Pass();
  void Flush();

private:
  static constexpr std::size_t kPiece = 64 * 1024;
  bool ForPeople;
};

// One tab-separated line per message.
void ListText(TMailbaseReader& reader, TOutput& out);
// A received time as list writes it: YYYY-MM-DD hh:mm:ss (UTC, as stored).
void AppendReceived(std::string& out, double received);

// One JSON object with the store's format, folder, count and every record.
void ListJson(TMailbaseReader& reader, TOutput& out);

// dir with a path separator at its end, created when missing (its parent
// folder must be there: a mistyped path makes no tree of folders). Raises
// "Cannot create folder" with the reason when dir cannot be a folder.
std::string PrepareFolder(const std::string& dir);

// Writes bytes to standard output at once; raises EWriteError when it fails.
void WriteStdout(std::string_view bytes);
// "postvue-cli: " and text (UTF-8) as one line on standard error.
void ReportError(std::string_view text);
// An error as lines on standard error, each after prefix: its message by
// the error box rule, then the reason the system gave, when there is one.
void ReportException(const Exception& error, const std::string& prefix = {});

// ", under a new name N (their names were taken)" for the summary of a run
// that wrote N files under a variant of their name, nothing for none.
std::string RenamedNote(std::uint32_t renamed);
// ", unchanged N" for the summary of a run that found N files there already
// as it would have written them, nothing for none.
std::string UnchangedNote(std::uint32_t unchanged);

// Thrown once a failure that every further file would meet (FailsEveryNewFile)
// has been reported: the run ends there, with its summary.
struct TRunStopped {};

// The lines for such a failure, said once: the file, where the error's
// message does not name it, and the system's reason.
void ReportStop(const Exception& error, const std::string& label, const std::string& file);

// The part of a run's progress that one store makes: Span of Total from
// Base on. With Total 0 the store is the whole run.
struct TProgressShare {
  std::uint64_t Base = 0, Span = 0, Total = 0;
  // Shows done of total (the store's own units) on meter, as this share.
  void Update(TProgress& meter, std::uint64_t done, std::uint64_t total) const;
};

// What an export writes on standard error: a line per failure, the
// progress, and a one-line summary at the end.
class TExportReport {
public:
  void Written(bool renamed = false);
  void Saved(const TSaved& saved);
  void Error(const std::string& line);
  // A line on standard error that counts as no error of its own.
  void Note(const std::string& line);
  void Error(const Exception& error, const std::string& prefix);
  // Reports a failure that every further file would meet (ReportStop) and
  // raises TRunStopped.
  [[noreturn]] void Stop(const Exception& error, const std::string& label, const std::string& file = {});
  void Progress(std::uint64_t done, std::uint64_t total);
  // Progress from now on counts as this share of the run (a store
  // folder's run counts the bytes of its stores).
  void Share(const TProgressShare& share) { Part = share; }
  // "exported N, unchanged U, errors E" (unchanged only when some were) and
  // the renamed note; 1 when any error was met, else 0.
  int Finish();

private:
  TProgress Meter{"exporting"};
  std::uint32_t Files = 0, Unchanged = 0, Renamed = 0, Errors = 0;
  TProgressShare Part;
};

// Every message of reader as an .eml file in the folder prefix (ending in a
// separator), under free names; failures are reported after label. Raises
// TRunStopped after a failure that every further file would meet.
void ExportMessages(TMailbaseReader& reader, const std::string& prefix, TExportReport& report,
                    const std::string& label = {});
// Every attachment of reader's messages into the folder prefix, as
// RunExportAttachments puts them; failures reported after label. Raises
// TRunStopped after a failure that every further file would meet.
void ExportAttachments(TMailbaseReader& reader, const std::string& prefix, TExportReport& report,
                       const std::string& label = {});
// How an mbox file takes its name.
enum class TMboxName {
  Replacing, // the file the user named, replaced once complete
  New,       // a store folder's: never another's, a free variant when the name is taken by then
};
// The variants tried before a run gives up on a name.

// Every message of reader (none when null) into one mbox file, put in place
// once complete and only when a message was written or there were none.
void ExportMbox(TMailbaseReader* reader, const std::string& file, TExportReport& report,
                const std::string& label = {}, TMboxName naming = TMboxName::Replacing);

// Whether path names a folder: a store folder, where a store is expected.
bool IsFolder(const std::string& path);

// Failures that a damaged store causes, for which recover may help. A store
// that is only empty (EEmptyStore) is not damaged.
bool IsStoreDamage(const Exception& error);

// An index outside the store fails here, saying which there are, before the
// reader would say only "No text found.".
void CheckIndex(TMailbaseReader& reader, std::int32_t index);

int RunList(const std::string& store, bool json);
// The folder tree of a store folder, one line per folder or one JSON object;
// 0 when every folder's store could be read, 1 when any could not.
int RunFolders(const std::string& storeDir, bool json);
int RunText(const std::string& store, std::int32_t index, bool headerOnly);
int RunSave(const std::string& store, std::int32_t index, const std::string& file);
// Message index (without one, every message) as a person reads it: header
// lines, attachments and body text, or with json one object per line.
int RunShow(const std::string& store, std::optional<std::int32_t> index, bool json);
// The attachments of message index, one line each (name, type, size), or
// with dir their decoded bytes saved there as export saves; 0 when all were.
int RunAttachments(const std::string& store, std::int32_t index, const std::string* dir);
// Every message into dir as .eml files, or with Attachments every attachment
// of every message, in a folder per message that has any (named as its .eml);
// 0 when every file was written, 1 when any could not be. A store folder is
// exported whole, nested as its tree (RunExportFolder).
int RunExport(const std::string& store, const std::string& dir, TLayout layout = TLayout::Eml);
// Every message into one mbox file; 0 when every message was written, 1 when
// any could not be. A store folder is exported whole (RunExportFolder).
int RunExportMbox(const std::string& store, const std::string& file);
// Every message found in the store's bytes into dir and dir/removed; 0 when
// the scan ran, whatever it found; 1 when a file could not be written. A
// store folder is recovered whole (RunRecoverFolder).
int RunRecover(const std::string& store, const std::string& dir);
// Recovery of every store of a store folder, into the directories export makes.
int RunRecoverFolder(const std::string& storeDir, const std::string& outDir);

// Arguments that make no search (an unknown option, no words): what was wrong.
struct TSearchUsageError {
  std::string What;
};
// The messages of a store, or of every store of a store folder, that hold
// the words of arguments ([options] STORE WORDS...), one line each in store
// order (one JSON object with --json) and a summary; 0 whether or not any
// was found, 1 when a store or a message could not be read.
int RunSearch(const std::vector<std::string>& arguments);

} // namespace postvue::cli
