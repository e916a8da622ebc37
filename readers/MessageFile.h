// Saving a message's raw text as an .eml file: the one implementation behind
// the viewer's Save and the command line's save and export.
#pragma once

#include "TextLines.h" // CrLfLines, the text as saved

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace postvue {

class Exception;

// A file written as a stream and put in place only when complete: until
// Commit the target is untouched, and a failure or an early end (destruction
// without Commit) leaves it as it was and no temporary file behind. The
// temporary file lies in the target's folder, so the final rename stays
// within one file system; where the system allows, it has no name until it is
// complete, so not even a killed run leaves it behind. Elsewhere one that a
// killed run left is removed by a later save into the folder. A link is followed to the file it names; a replaced
// file keeps its permissions; a file that may not be written is refused.
// Raises EFCreateError with path when it cannot be created, EWriteError when
// writing fails.
class TReplacingFile {
public:
  explicit TReplacingFile(const std::string& path);
  ~TReplacingFile();
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  void Write(std::string_view bytes);
  void Commit();
  // Puts the complete file in place under path, which nothing may have yet:
  // false when something has it (a file, a folder, a link; it is left as it
  // is), and the file waits for another name. Raises as Commit does.
  bool CommitNew(const std::string& path);

private:
  // Gives the complete unnamed file the temporary name that the rename
  // puts in place of the target; the system's error where it cannot.
  std::error_code NameUnnamed();
  // Writes out and closes the file under its temporary name, once.
  void Finish();

  std::string Path;
  std::filesystem::path Target, Temporary;
  std::filesystem::file_status Former;
  std::FILE* File = nullptr;
  bool Unnamed = false; // File has no name in the folder yet
};

// Writes bytes to path through a temporary file in the same folder that
// replaces path only once every byte is written: a failed save leaves path as
// it was (or absent) and no temporary file behind. A replaced file keeps its
// permissions; a link is followed to the file it names. Raises EFCreateError
// with path when it cannot be created (a folder, a missing folder, a file that
// may not be written), EWriteError when writing fails.
void WriteFileReplacing(const std::string& path, std::string_view bytes);

// CrLfLines(text) written to path by WriteFileReplacing.
void SaveMessageText(const std::string& path, std::string_view text);

// How TNewFileFolder::Write ended.
enum class TNewFile {
  Written,       // complete under its name, with its time when one was given
  WrittenNoTime, // complete under its name, but the file system refused the time
  NameTaken,     // something already has the name (a file, a folder, a link): nothing was written
};

// What a name in a folder holds, against the bytes a new file would have.
enum class TNameHolds {
  Nothing,   // no file, folder or link has the name (or it could not be looked up: writing tells why)
  SameBytes, // a plain file with exactly these bytes
  Other,     // anything else: another file, a folder, a link
};

// Whether error, met writing a new file into a folder, will meet every file
// written there: the folder may not be written, or its disk or quota is full.
// A failure that concerns one file only is not such a one.
bool FailsEveryNewFile(const Exception& error);

// A folder that many new files are written into, for writing them fast. It
// is opened once where the system allows, so that making and naming each
// file looks up only the file's own name, not the folder's path again; where
// it cannot be opened (it is missing, say), each file goes by its whole path
// and fails as such.
class TNewFileFolder {
public:
  // prefix: the folder's path with a separator at its end, or empty for the
  // current folder.
  explicit TNewFileFolder(std::string prefix);
  ~TNewFileFolder();
  TNewFileFolder(const TNewFileFolder&) = delete;
  TNewFileFolder& operator=(const TNewFileFolder&) = delete;

  // Writes bytes as a new file named name: one write, the time set on the
  // open file, one directory operation to give it its name. It never
  // replaces anything, and it appears under its name only complete: until
  // then it has no name (Linux) or a temporary one beside it, so a failure
  // or an interrupted run leaves no partial file under name. The
  // modification time becomes modified (days since 30 December 1899, UTC);
  // 0.0, and a date outside the years 1900 to 2399, is no time: the file
  // keeps the time it was written. Raises EFCreateError with the file's path
  // when it cannot be created (a missing folder, one that may not be
  // written), EWriteError when writing fails; both with the system's error.
  TNewFile Write(const std::string& name, std::string_view bytes, double modified) const;

  // What name holds, compared with bytes: sizes first, then the file's bytes
  // in pieces, so a large file of another size is not read. No link is
  // followed and nothing is changed, not even a time.
  TNameHolds Holds(const std::string& name, std::string_view bytes) const;

  const std::string& PathPrefix() const { return Prefix; }

private:
  std::string Prefix;
  int Dir = -1; // the open folder, where there is one (not on Windows)
};

// How many variants of a name are tried before a save gives up.
inline constexpr int kMaxVariant = 999;

// How SaveUnderFreeName ended.
struct TSaved {
  std::string Name;       // the name written, or the one that held the bytes already
  bool Renamed = false;   // Name is a variant
  bool Unchanged = false; // a file with these bytes was there: nothing was written
  bool TimeSet = true;    // false when the file system refused the time
};

// Writes bytes (a message of export or recover, an attachment) with their
// time into folder under name, or under its first variant
// whose name is free (VariantName). A file under the name, or under a variant
// before the first free one, that holds exactly these bytes already is left
// as it is: a repeated run writes only what is new. Nothing already there (a file, a folder, a
// link) is replaced or written through. Raises as TNewFileFolder::Write
// does, and EFCreateError when no variant is free.
TSaved SaveUnderFreeName(const TNewFileFolder& folder, const std::string& name, std::string_view bytes,
                         double received);

} // namespace postvue
