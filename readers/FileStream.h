// The file layer: every byte the readers see comes through here.
//
// Store files are opened read-only and shared, so the mail program (or a copy
// in progress) may read and write them meanwhile. Every read names an absolute
// offset and delivers exactly the bytes asked for, or raises EReadError.
// Paths are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace postvue {

enum class TShareMode {
  DenyNone,  // others may read and write the file while it is open
  DenyWrite, // others may only read it (honoured where the platform has share modes)
};

class TFileStream {
public:
  // Raises EFOpenError with fileName when the file cannot be opened or is a folder.
  explicit TFileStream(const std::string& fileName, TShareMode share = TShareMode::DenyNone);
  ~TFileStream();
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
  std::uint64_t Size() const;

  // Small reads are served from a read-ahead window. Readers drop it at the
  // start of every operation, so each operation sees the file as it is then;
  // the next window starts small again (a text request may want 16 bytes).
  void DropCache() {
    CacheLength = 0;
    Window = 0;
  }

private:
  std::size_t ReadSome(std::uint64_t offset, void* buffer, std::size_t count);
  void Refill(std::uint64_t offset, void* buffer, std::size_t count);

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
};

// Whether path names an existing file that is not a folder.
bool FileExists(const std::string& path);

} // namespace postvue
