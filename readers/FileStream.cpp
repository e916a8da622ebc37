// Stores reach 4 GB: file offsets are 64-bit on 32-bit systems as well.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "FileStream.h"

#include "Exceptions.h"
#include "FilePaths.h"
#include "TextLines.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include "WinApi.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
static_assert(sizeof(off_t) >= 8, "store offsets need a 64-bit off_t");
#endif

namespace postvue {

namespace {
// Reads up to this size go through the read-ahead window: the index walk and
// the text block walk read many small headers close to one another.
constexpr std::size_t kSmallRead = 4096;
// Large enough that a walk over a whole store makes few system calls.
constexpr std::size_t kCacheSize = 256 * 1024;
// A window read ahead is larger: each one costs the two threads a hand-over.
constexpr std::size_t kAheadSize = 1024 * 1024;
// A window that follows on from the last starts an eighth of itself before
// the bytes asked for, and at most this much.
constexpr std::size_t kMaxKeptBefore = 16 * 1024;
// A refill that jumps away from the last window reads only this much: a
// damaged store can send the walks all over the file, and a full window per
// jump would copy 256 KB for every 16-byte header.
constexpr std::size_t kMinWindow = kSmallRead;
// In a walk front to back, a gap up to this long past the last window is read
// through, and a longer one skipped with a jump. Warm in the page cache, a
// gap this long costs about as much to copy as one more read call (where
// calls cost more, less), and a mail store's messages are mostly shorter:
// their walk reads the whole file in full windows, read ahead, and jumps only
// over large attachments.
constexpr std::uint64_t kReadThrough = 64 * 1024;

// Why a path that opened is no store: a pipe or a device would block or never end.
constexpr const char* kNotAFile = "not a regular file";
} // namespace

#ifdef _WIN32

TFileStream::TFileStream(const std::string& fileName, TShareMode share) {
  DWORD shareFlags = FILE_SHARE_READ;
  if (share == TShareMode::DenyNone) shareFlags |= FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(PathFromUtf8(fileName).c_str(), GENERIC_READ, shareFlags, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A folder refuses access here; say what it is, as other systems do.
    const DWORD attributes = GetFileAttributesW(PathFromUtf8(fileName).c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      throw EFOpenError(fileName, ErrnoText(EISDIR));
    throw EFOpenError(fileName, ReasonText(std::error_code(static_cast<int>(error), std::system_category())));
  }
  // Only a file on disk is a store: reading a pipe or a device (NUL, CON)
  // would wait for input or deliver bytes that are no store.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    throw EFOpenError(fileName, kNotAFile);
  }
  Handle = h;
}

TFileStream::~TFileStream() {
  if (Handle) CloseHandle(static_cast<HANDLE>(Handle));
}

std::size_t TFileStream::ReadSome(std::uint64_t offset, void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    OVERLAPPED ov{};
    std::uint64_t at = offset + done;
    ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(Handle), static_cast<char*>(buffer) + done, chunk, &got, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      throw EReadError();
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::uint64_t TFileStream::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(static_cast<HANDLE>(Handle), &size)) throw EReadError();
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(PathFromUtf8(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else

TFileStream::TFileStream(const std::string& fileName, TShareMode /*share: POSIX has no share modes*/) {
  // Without O_NONBLOCK, opening a named pipe waits for a writer, forever.
  // Only a regular file is a store: a pipe or a device would block or never end.
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw EFOpenError(fileName, ErrnoText(errno));
  struct stat st {};
  std::string reason;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0)
    reason = ErrnoText(errno);
  else if (S_ISDIR(st.st_mode))
    reason = ErrnoText(EISDIR);
  else if (!S_ISREG(st.st_mode))
    reason = kNotAFile;
  else if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    reason = ErrnoText(errno);
  if (!reason.empty()) {
    ::close(fd);
    throw EFOpenError(fileName, reason);
  }
  Fd = fd;
}

TFileStream::~TFileStream() {
  if (Fd >= 0) ::close(Fd);
}

std::size_t TFileStream::ReadSome(std::uint64_t offset, void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    if (offset + done > static_cast<std::uint64_t>(INT64_MAX)) break;
    ssize_t got = ::pread(Fd, static_cast<char*>(buffer) + done, count - done,
                          static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EReadError();
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::uint64_t TFileStream::Size() const {
  struct stat st {};
  if (::fstat(Fd, &st) != 0) throw EReadError();
  return static_cast<std::uint64_t>(st.st_size);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

#endif

TMemoryStream::TMemoryStream(std::string_view bytes) : Bytes(bytes) {}

std::size_t TMemoryStream::ReadSome(std::uint64_t offset, void* buffer, std::size_t count) {
  if (offset >= Bytes.size()) return 0;
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(count, Bytes.size() - offset));
  std::memcpy(buffer, Bytes.data() + offset, length);
  return length;
}

std::uint64_t TMemoryStream::Size() const { return Bytes.size(); }

namespace {
std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

class TDiskFiles : public TFileSource {
public:
  std::unique_ptr<TFileStream> Open(const std::string& path, TShareMode share) const override {
    return std::make_unique<TFileStream>(path, share);
  }

  std::string Find(const std::string& path) const override {
    if (FileExists(path)) return path;
#ifndef _WIN32
    // Names are case-sensitive here, but a store copied from Windows keeps
    // whatever case each of its files had there (Windows ignores it).
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size());
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return {};
    std::string best;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string_view candidate = entry->d_name;
      if ((best.empty() || candidate < best) && EqualsNoCase(candidate, name) &&
          FileExists(folder + std::string(candidate)))
        best = candidate;
    }
    ::closedir(dir);
    if (!best.empty()) return folder + best;
#endif
    return {};
  }

  std::vector<TFolderFile> List(const std::string& folder) const override {
    namespace fs = std::filesystem;
    std::vector<TFolderFile> files;
    std::error_code ec;
    fs::directory_iterator it(PathFromUtf8(folder), ec);
    if (ec) throw EFOpenError(folder, ReasonText(ec));
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
      if (ec) throw EFOpenError(folder, ReasonText(ec));
      if (!fs::is_regular_file(it->symlink_status(ec))) continue; // links are not followed
      files.push_back({Utf8Of(it->path().filename()), Utf8Of(it->path())});
    }
    return files;
  }
};
} // namespace

const TFileSource& DiskFiles() {
  static const TDiskFiles files;
  return files;
}

std::unique_ptr<TFileStream> TMemoryFiles::Open(const std::string& path, TShareMode /*share*/) const {
  const auto it = Files.find(path);
  if (it == Files.end()) throw EFOpenError(path);
  return std::make_unique<TMemoryStream>(it->second);
}

std::string TMemoryFiles::Find(const std::string& path) const { return Files.count(path) ? path : std::string(); }

std::vector<TFolderFile> TMemoryFiles::List(const std::string& folder) const {
  const std::string prefix = folder + "/";
  std::vector<TFolderFile> files;
  for (auto it = Files.lower_bound(prefix); it != Files.end() && it->first.starts_with(prefix); ++it) {
    const std::string name = it->first.substr(prefix.size());
    if (!name.empty() && name.find('/') == std::string::npos) files.push_back({name, it->first});
  }
  return files;
}

void TFileStream::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
  if (count == 0) return;
  if (count > kSmallRead) {
    if (ReadSome(offset, buffer, count) != count) throw EReadError();
    return;
  }
  if (CacheLength == 0 || offset < CacheStart || offset - CacheStart > CacheLength ||
      CacheLength - (offset - CacheStart) < count) {
    Refill(offset, buffer, count);
    return;
  }
  std::memcpy(buffer, Cache.data() + (offset - CacheStart), count);
}

// One window asked for at a time; the stream always waits for it before it
// asks for the next, so the worker and the stream never touch a buffer at once.
class TAheadState {
public:
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<unsigned char> Buffer; // the worker's while Busy
  std::uint64_t Start = 0;
  std::uint64_t Generation = 0; // the stream's when asked
  std::size_t Got = 0;
  bool Asked = false, Busy = false, Stop = false;
  std::thread Worker;
};

TAccessScope::TAccessScope(TFileStream& stream, TAccess access) : Stream(stream), Outer(stream.Access) {
  Stream.DropCache();
  Stream.Access = access;
  // One thread at a time on a stream (the outer scope's serves), and none
  // where it would only take turns with the caller on one processor.
  if (access != TAccess::FrontToBack || Stream.Ahead || std::thread::hardware_concurrency() == 1) return;
  auto state = std::make_unique<TAheadState>();
  state->Buffer.resize(kAheadSize);
  TAheadState* const s = state.get();
  try {
    state->Worker = std::thread([s, &stream] {
      std::unique_lock<std::mutex> lock(s->Lock);
      for (;;) {
        s->Changed.wait(lock, [s] { return s->Busy || s->Stop; });
        if (s->Stop) return;
        lock.unlock();
        std::size_t got = 0;
        try {
          got = stream.ReadSome(s->Start, s->Buffer.data(), s->Buffer.size());
        } catch (...) {
          // The stream reads it again itself and meets the error there.
        }
        lock.lock();
        s->Got = got;
        s->Busy = false;
        s->Changed.notify_all();
      }
    });
  } catch (const std::system_error&) {
    return; // no thread to be had: every window is read when it is needed
  }
  State = std::move(state);
  Stream.Ahead = State.get();
}

TAccessScope::~TAccessScope() {
  Stream.Access = Outer;
  if (!State) return;
  Stream.Ahead = nullptr;
  {
    const std::lock_guard<std::mutex> lock(State->Lock);
    State->Stop = true;
  }
  State->Changed.notify_all();
  State->Worker.join();
}

// Whether the window read ahead holds count bytes at offset; if so, it
// becomes the stream's window, once read.
bool TFileStream::TakeAhead(std::uint64_t offset, std::size_t count) {
  std::unique_lock<std::mutex> lock(Ahead->Lock);
  // A read elsewhere does not wait for the window: the next ask does.
  if (!Ahead->Asked || Ahead->Generation != Generation || offset < Ahead->Start ||
      offset - Ahead->Start > kAheadSize - count)
    return false;
  Ahead->Changed.wait(lock, [this] { return !Ahead->Busy; });
  Ahead->Asked = false;
  if (offset - Ahead->Start > Ahead->Got || Ahead->Got - (offset - Ahead->Start) < count) return false;
  Cache.swap(Ahead->Buffer);
  Ahead->Buffer.resize(kAheadSize);
  CacheStart = WindowStart = Ahead->Start;
  CacheLength = Ahead->Got;
  Window = kCacheSize;
  return true;
}

// After a full window that follows on from the last, the next one, keeping
// as much of this one as a synchronous refill would.
void TFileStream::AskAhead() {
  if (Window != kCacheSize || CacheLength < kCacheSize) return; // not a walk front to back, or at the end
  {
    std::unique_lock<std::mutex> lock(Ahead->Lock);
    Ahead->Changed.wait(lock, [this] { return !Ahead->Busy; }); // one not taken may still be read
    Ahead->Start = CacheStart + CacheLength - kMaxKeptBefore;
    Ahead->Generation = Generation;
    Ahead->Asked = Ahead->Busy = true;
  }
  Ahead->Changed.notify_all();
}

// Reads that follow on from the last window, forwards or backwards (the
// index walk comes back up to parent nodes), double the next window up to
// kCacheSize; a jump elsewhere starts small again. Backwards, the window ends
// at the bytes asked for, so a walk towards the start of the file keeps
// hitting it; otherwise it keeps a little of what lies before them, so a
// walk that steps back a few bytes (an object, then its text just before
// it) does not miss at every step.
void TFileStream::Refill(std::uint64_t offset, void* buffer, std::size_t count) {
  bool follows = false, before = false;
  if (Window != 0) {
    if (offset >= WindowStart) {
      // A window read ahead is longer than Window: the gap counts from its end.
      const std::uint64_t held = std::max<std::uint64_t>(Window, CacheLength);
      follows = offset - WindowStart < 2 * static_cast<std::uint64_t>(Window) ||
                (Access == TAccess::FrontToBack && offset - WindowStart <= held + kReadThrough);
    } else {
      before = true;
      follows = WindowStart - offset <= Window;
    }
  }
  Window = follows ? std::min(2 * Window, kCacheSize) : kMinWindow;
  std::uint64_t start;
  if (Expected != 0) {
    Window = std::clamp(Expected, kMinWindow, kCacheSize); // count is at most kMinWindow
    start = offset;
  } else if (follows && before)
    start = offset + count > Window ? offset + count - Window : 0;
  else
    start = offset - std::min<std::uint64_t>({offset, std::min(Window / 8, kMaxKeptBefore), Window - count});

  Expected = 0;
  if (Ahead && TakeAhead(offset, count)) {
    std::memcpy(buffer, Cache.data() + (offset - CacheStart), count);
    AskAhead();
    return;
  }
  if (Cache.size() < Window) Cache.resize(Window); // grows as the windows do: most walks stay small
  CacheLength = 0; // a failing refill must not leave the old window claimed
  WindowStart = start;
  const std::size_t got = ReadSome(start, Cache.data(), Window);
  const std::size_t skip = static_cast<std::size_t>(offset - start);
  if (got < skip + count) {
    // Like any short read, the bytes that were there are delivered first.
    if (got > skip) std::memcpy(buffer, Cache.data() + skip, got - skip);
    throw EReadError();
  }
  CacheStart = start;
  CacheLength = got;
  std::memcpy(buffer, Cache.data() + skip, count);
  if (Ahead && follows && !before) AskAhead();
}

std::string TFileStream::ReadStringAt(std::uint64_t offset, std::uint64_t count) {
  std::uint64_t size = Size();
  if (!WithinSize(offset, count, size)) throw EReadError();
  std::string result(static_cast<std::size_t>(count), '\0');
  ReadAt(offset, result.data(), result.size());
  return result;
}

void TFileStream::Read(void* buffer, std::size_t count) {
  ReadAt(Position, buffer, count);
  Position += count;
}

} // namespace postvue
