// The commands of postvue-cli. Each raises the library's exceptions on
// failure; main turns them into the error lines and the exit status.
#pragma once

#include "Exceptions.h"
#include "MailbaseReader.h"
#include "Progress.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace postvue::cli {

// The store opened as the viewer opens it: a bare probe recognises the format
// and is gone before the concrete reader opens and loads the file.
// With allowEmpty, a store that holds no message is an empty folder (a
// reader whose GetCount is 0) instead of a failure.
std::unique_ptr<TMailbaseReader> LoadStore(const std::string& path, bool allowEmpty = false);

// field with tabs and line breaks as spaces, so a line stays one line.
void AppendField(std::string& out, std::string_view field);

// Text for standard output, written in large pieces as it is made.
class TOutput {
public:
  std::string Text;
  // Writes Text out once it holds a piece's worth.
  void Pass();
  void Flush();

private:
  static constexpr std::size_t kPiece = 64 * 1024;
};

// One tab-separated line per message.
void ListText(TMailbaseReader& reader, TOutput& out);
// One JSON object with the store's format, folder, count and every record.
void ListJson(TMailbaseReader& reader, TOutput& out);

// "NNNN - Subject.eml": the index zero-padded to the width that the largest
// index of count needs (at least 4), then the subject as people read it
// (HeaderTextToUtf8) with what is unsafe in a file name replaced, in UTF-8.
// A variant above 1 comes before the extension: "NNNN - Subject (2).eml".
std::string ExportFileName(std::int32_t index, std::int32_t count, std::string_view subject, int variant = 1);

// Writes the .eml bytes of a message of export or recover with its received
// time (WriteNewFile) into the folder prefix under ExportFileName, or under
// its first variant whose name is free: nothing already there (a file, a
// folder, a link) is replaced or written through. Returns the name written;
// renamed tells whether it is a variant, timeSet whether the time was set.
// Raises as WriteNewFile does, and EFCreateError when no variant is free.
std::string SaveUnderFreeName(const std::string& prefix, std::int32_t index, std::int32_t count,
                              std::string_view subject, std::string_view bytes, double received, bool& renamed,
                              bool& timeSet);

// dir with a path separator at its end, created when missing (its parent
// folder must be there: a mistyped path makes no tree of folders). Raises
// "Cannot create folder" with the reason when dir cannot be a folder.
std::string PrepareFolder(const std::string& dir);

// Writes bytes to standard output at once; raises EWriteError when it fails.
void WriteStdout(std::string_view bytes);
// "postvue-cli: " and text as one line on standard error.
void ReportError(std::string_view text);
// An error as lines on standard error, each after prefix: its message by
// the error box rule, then the reason the system gave, when there is one.
void ReportException(const Exception& error, const std::string& prefix = {});

// ", under a new name N (their names were taken)" for the summary of a run
// that wrote N files under a variant of their name, nothing for none.
std::string RenamedNote(std::uint32_t renamed);

// What an export writes on standard error: a line per failure, the
// progress, and a one-line summary at the end.
class TExportReport {
public:
  void Written(bool renamed = false);
  void Error(const std::string& line);
  void Error(const Exception& error, const std::string& prefix);
  void Progress(std::uint64_t done, std::uint64_t total);
  // "exported N, errors E" and the renamed note; 1 when any error was met, else 0.
  int Finish();

private:
  TProgress Meter{"exporting"};
  std::uint32_t Files = 0, Renamed = 0, Errors = 0;
};

// Failures that a damaged store causes, for which recover may help (an
// empty one too: removed messages may still be in its bytes).
bool IsStoreDamage(const Exception& error);

int RunList(const std::string& store, bool json);
// The folder tree of a store folder, one line per folder or one JSON object;
// 0 when every folder's store could be read, 1 when any could not.
int RunFolders(const std::string& storeDir, bool json);
int RunText(const std::string& store, std::int32_t index, bool headerOnly);
int RunSave(const std::string& store, std::int32_t index, const std::string& file);
// 0 when every message was written, 1 when any could not be.
int RunExport(const std::string& store, const std::string& dir);
// Every message into one mbox file; 0 when every message was written, 1 when any could not be.
int RunExportMbox(const std::string& store, const std::string& file);
// Every message found in the store's bytes into dir and dir/removed; 0 when
// the scan ran, whatever it found; 1 when a file could not be written.
int RunRecover(const std::string& store, const std::string& dir);

} // namespace postvue::cli
