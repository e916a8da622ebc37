// The commands of postvue-cli. Each raises the library's exceptions on
// failure; main turns them into the one error line and the exit status.
#pragma once

#include "MailbaseReader.h"

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
// index of count needs (at least 4), then the subject made safe as a file name.
std::string ExportFileName(std::int32_t index, std::int32_t count, std::string_view subject);

// Writes the .eml bytes of a message of export or recover to path with its
// received time: a free name through WriteNewFile; a name that a file
// already holds, written over whole; a name that a link or folder holds,
// refused with EFCreateError. False when the file's time could not be set.
bool WriteMessageFile(const std::string& path, std::string_view bytes, double received);

// dir with a path separator at its end, created with its parents when
// missing; raises EFCreateError with dir when it is not a folder then.
std::string PrepareFolder(const std::string& dir);

// Writes bytes to standard output at once; raises EWriteError when it fails.
void WriteStdout(std::string_view bytes);
// "postvue-cli: " and text as one line on standard error.
void ReportError(std::string_view text);

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
