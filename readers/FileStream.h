// The file layer: every byte the readers see comes through here.
//
// Store files are opened read-only and shared, so the mail program (or a copy
// in progress) may read and write them meanwhile. Every read names an absolute
// offset and delivers exactly the bytes asked for, or raises EReadError.
// Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

enum class TShareMode {
  DenyNone,  // others may read and write the file while it is open
  DenyWrite, // others may only read it (honoured where the platform has share modes)
};

class TAheadState;

// How a reader is about to read a file. The reader says what it does; the
// file layer chooses the reads that serve it (window sizes, what is read
// through and what is skipped, a thread reading ahead).
enum class TAccess {
  // Here and there: the index tree, one message's text. Each jump starts a
  // small window, which grows while the reads follow on from it.
  Scattered,
  // From the start towards the end, skipping what it does not need: the
  // walks over every message. Short gaps are read through, so the windows
  // grow to full size; only a long skip jumps to a small window. Once they
  // are full, each next window is read ahead by a thread of its own.
  FrontToBack,
};

class TFileStream {
public:
  // Raises EFOpenError with fileName when the file cannot be opened or is not
  // a regular file (a folder, a named pipe, a device).
  explicit TFileStream(const std::string& fileName, TShareMode share = TShareMode::DenyNone);
  virtual ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Exactly count bytes from offset into buffer, or EReadError.
  void ReadAt(std::uint64_t offset, void* buffer, std::size_t count);
  // Exactly count bytes from offset as a string. The file's current size is
  // checked first, so a damaged length never causes an allocation the file
  // cannot back: it raises EReadError instead.
  std::string ReadStringAt(std::uint64_t offset, std::uint64_t count);

  // Sequential use: Read reads at Position and advances it.
  std::uint64_t Position = 0;
  void Seek(std::uint64_t offset) { Position = offset; }
  void Read(void* buffer, std::size_t count);

  // The file's size now (it may change while open).
  virtual std::uint64_t Size() const;

  // Small reads are served from a read-ahead window. Readers drop it at the
  // start of every operation, so each operation sees the file as it is then;
  // the next window starts small again (a text request may want 16 bytes),
  // or, for an operation that knows it will read about expected bytes from
  // where it starts, that many (within the usual bounds) from its first byte.
  void DropCache(std::size_t expected = 0) {
    CacheLength = 0;
    Window = 0;
    Expected = expected;
    ++Generation; // a window read ahead before now is not used
  }

protected:
  TFileStream() = default; // for a stream over something other than an open file
  // Up to count bytes at offset: fewer only at the end of the file.
  virtual std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t count);

private:
  friend class TAccessScope;
  void Refill(std::uint64_t offset, void* buffer, std::size_t count);
  bool TakeAhead(std::uint64_t offset, std::size_t count);
  void AskAhead();

#ifdef _WIN32
  void* Handle = nullptr;
#else
  int Fd = -1;
#endif
  std::vector<unsigned char> Cache;
  std::uint64_t CacheStart = 0;
  std::size_t CacheLength = 0;
  // The last window asked for: it tells whether the next refill follows on
  // from it or jumps elsewhere. 0 when there is none.
  std::uint64_t WindowStart = 0;
  std::size_t Window = 0;
  std::size_t Expected = 0; // for the first refill after DropCache
  std::uint64_t Generation = 0; // counts DropCache calls
  TAccess Access = TAccess::Scattered; // set by TAccessScope
  TAheadState* Ahead = nullptr; // while a front-to-back walk reads ahead on this stream
};

// While it lives, the stream is read as access says; each scope starts with
// the file as it is then (DropCache). A walk front to back finds each next
// full window already read, by a thread of its own where there is another
// processor: copying the file's bytes out of the system's cache is half of
// loading a large store, and another processor can do it while the caller
// decodes the last window. Only the windows' bytes are shared; reads still
// fail or succeed as the file is when the caller's read needs them, since a
// window read ahead that does not hold them (a short read, an error, a
// jump) is read again. On one stream, an inner scope keeps the outer one's
// thread.
class TAccessScope {
public:
  TAccessScope(TFileStream& stream, TAccess access);
  ~TAccessScope();
  TAccessScope(const TAccessScope&) = delete;
  TAccessScope& operator=(const TAccessScope&) = delete;

private:
  TFileStream& Stream;
  TAccess Outer; // the stream's way of reading before this scope
  std::unique_ptr<TAheadState> State;
};

// A stream over bytes in memory, read as a file that holds them; the bytes
// must outlive the stream.
class TMemoryStream : public TFileStream {
public:
  explicit TMemoryStream(std::string_view bytes);
  std::uint64_t Size() const override;

protected:
  std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t count) override;

private:
  std::string_view Bytes;
};

// Whether length bytes at offset lie within size bytes (of a file, say):
// the one overflow-safe form of that test, however large the values.
constexpr bool WithinSize(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Whether path names an existing regular file.
bool FileExists(const std::string& path);

// A regular file of a folder: its name, and its path (the folder's path and the name).
struct TFolderFile {
  std::string Name, Path;
};

// Where the readers find their files: on disk, or (for fuzzing and tests)
// in memory. A store's companion files, and the files of a store folder, are
// found through the same source.
class TFileSource {
public:
  virtual ~TFileSource() = default;
  // Raises EFOpenError with path when it names no regular file that can be opened.
  virtual std::unique_ptr<TFileStream> Open(const std::string& path, TShareMode share) const = 0;
  // path when it names a regular file; otherwise the regular file in the same
  // folder whose name equals path's ignoring ASCII letter case (the first in
  // byte order when several do), where names have case; else empty.
  virtual std::string Find(const std::string& path) const = 0;
  // The regular files in folder (a UTF-8 path), in no particular order; a
  // link is none, so nothing outside the folder is read through one. Raises
  // EFOpenError with folder when it cannot be listed.
  virtual std::vector<TFolderFile> List(const std::string& folder) const = 0;
};

// The file system.
const TFileSource& DiskFiles();

// Files in memory by their paths; the bytes must outlive the streams opened on them.
class TMemoryFiles : public TFileSource {
public:
  std::map<std::string, std::string_view> Files;
  std::unique_ptr<TFileStream> Open(const std::string& path, TShareMode share) const override;
  std::string Find(const std::string& path) const override; // exact paths only
  // The files whose paths are folder, a slash and a name without one.
  std::vector<TFolderFile> List(const std::string& folder) const override;
};

} // namespace postvue
