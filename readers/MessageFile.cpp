#include "MessageFile.h"

#include "Exceptions.h"
#include "ExportNames.h"
#include "FilePaths.h"
#include "TextLines.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>

#ifdef _WIN32
#include "WinApi.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace postvue {

namespace {
namespace fs = std::filesystem;


std::FILE* OpenFile(const fs::path& path, const char* mode, const wchar_t* wideMode) {
#ifdef _WIN32
  (void)mode;
  return _wfopen(path.c_str(), wideMode);
#else
  (void)wideMode;
  return std::fopen(path.c_str(), mode);
#endif
}

// Temporary names: one generator per process, seeded once (a random device
// per file is slow where thousands of messages are written).
std::uint64_t NextTemporaryId() {
  static std::mt19937_64 random{std::random_device{}()};
  return random();
}

// A temporary name, short so that a target name near the length limit still
// leaves room for it, and recognisably ours.
constexpr std::string_view kTemporaryPrefix = ".postvue-", kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryIdDigits = 16;
std::string TemporaryName() {
  char name[40];
  std::snprintf(name, sizeof name, ".postvue-%016llx.tmp", static_cast<unsigned long long>(NextTemporaryId()));
  return name;
}

bool IsTemporaryName(const std::string& name) {
  if (name.size() != kTemporaryPrefix.size() + kTemporaryIdDigits + kTemporarySuffix.size() ||
      !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
    return false;
  const std::string_view id = std::string_view(name).substr(kTemporaryPrefix.size(), kTemporaryIdDigits);
  return std::all_of(id.begin(), id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A temporary file of ours that a run killed while writing left in folder:
// removed once nothing has written it for this long (a run that writes one
// keeps its time fresh; on Windows one still open cannot be removed at all).
constexpr auto kLeftTemporaryAge = std::chrono::hours(1);

void RemoveLeftTemporaries(const fs::path& folder) {
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::u8string name = it->path().filename().u8string();
    if (!IsTemporaryName(std::string(name.begin(), name.end())) || !it->is_regular_file(ec) || it->is_symlink(ec))
      continue;
    const auto written = it->last_write_time(ec);
    std::error_code ignored; // a file we cannot remove stays, as it would have
    if (!ec && now - written > kLeftTemporaryAge) fs::remove(it->path(), ignored);
    ec.clear();
  }
}

#ifdef O_TMPFILE
bool LinkUnnamed(int fd, int dir, const std::string& at);
#endif

// The years a file time holds everywhere (one clock counts nanoseconds from 2174).
constexpr double kFirstFileDay = 2;     // 1 January 1900
constexpr double kLastFileDay = 182623; // 1 January 2400, excluded
constexpr double kUnixEpochDay = 25569; // 1 January 1970
constexpr double kMsPerDay = 86400000;

// Milliseconds since 1970 of a date-time, or none for no time.
std::optional<std::int64_t> UnixMilliseconds(double days) {
  if (!(days >= kFirstFileDay && days < kLastFileDay)) return std::nullopt;
  return std::llround((days - kUnixEpochDay) * kMsPerDay);
}

// Pieces in which a file that may hold the same bytes is compared.
constexpr std::size_t kComparePiece = 64 * 1024;

// Whether the pieces that read(buffer, size) gives, in order, are bytes:
// read returns how many it gave, 0 or less at the end or on a failure.
template <typename TRead> bool ReadsAs(std::string_view bytes, TRead read) {
  std::string buffer(std::min(kComparePiece, bytes.size()), '\0');
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t want = std::min(buffer.size(), bytes.size() - done);
    const long long got = read(buffer.data(), want);
    if (got <= 0) return false;
    const auto size = static_cast<std::size_t>(got);
    if (bytes.compare(done, size, std::string_view(buffer.data(), size)) != 0) return false;
    done += size;
  }
  return true;
}
} // namespace

TReplacingFile::TReplacingFile(const std::string& path) : Path(path), Target(PathFromUtf8(path)) {
  std::error_code ec;
  // Saving over a link changes the file it names, as writing in place would,
  // instead of putting a plain file where the link was.
  if (fs::is_symlink(Target, ec)) {
    fs::path resolved = fs::weakly_canonical(Target, ec);
    if (!ec) Target = std::move(resolved);
  }
  Former = fs::status(Target, ec);
  if (fs::is_directory(Former)) throw EFCreateError(path, ErrnoText(EISDIR));
  if (fs::is_regular_file(Former)) {
    // The rename could replace a file that may not be written; emptying it could not.
    std::FILE* probe = OpenFile(Target, "ab", L"ab");
    if (!probe) throw EFCreateError(path, ErrnoText(errno));
    std::fclose(probe);
  }
  RemoveLeftTemporaries(Target.parent_path());
#ifdef O_TMPFILE
  // A file without a name until it is complete: a run killed meanwhile leaves nothing.
  const fs::path folder = Target.has_parent_path() ? Target.parent_path() : fs::path(".");
  if (const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666); fd >= 0) {
    File = ::fdopen(fd, "wb");
    if (File)
      Unnamed = true;
    else
      ::close(fd);
  }
#endif
  for (int attempt = 0; attempt < 16 && !File; ++attempt) {
    Temporary = Target;
    Temporary.replace_filename(TemporaryName());
    File = OpenFile(Temporary, "wbx", L"wbx");
  }
  if (!File) throw EFCreateError(path, std::error_code(errno, std::generic_category()));
}

TReplacingFile::~TReplacingFile() {
  if (File) std::fclose(File);
  std::error_code ec;
  if (!Temporary.empty()) fs::remove(Temporary, ec); // an unnamed file has none
}

void TReplacingFile::Write(std::string_view bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), File) != bytes.size())
    throw EWriteError(std::error_code(errno, std::generic_category()));
}

void TReplacingFile::Finish() {
  if (!File) return; // finished before: a name was taken
  const bool flushed = std::fflush(File) == 0;
  const int error = flushed ? 0 : errno;
  std::error_code naming; // of an unnamed file, once complete
#ifdef O_TMPFILE
  if (Unnamed && flushed) naming = NameUnnamed();
#endif
  const bool closed = std::fclose(File) == 0;
  const std::error_code failure(flushed ? errno : error, std::generic_category());
  File = nullptr;
  std::error_code ec;
  if (!flushed || !closed) {
    if (!Temporary.empty()) fs::remove(Temporary, ec);
    throw EWriteError(failure);
  }
  if (naming) throw EFCreateError(Path, naming);
}

void TReplacingFile::Commit() {
  Finish();
  std::error_code ec;
  // A replaced file keeps its permissions, as it would when emptied and rewritten.
  if (fs::is_regular_file(Former)) fs::permissions(Temporary, Former.permissions(), ec);
  fs::rename(Temporary, Target, ec);
  if (ec) {
    const std::error_code reason = ec;
    fs::remove(Temporary, ec);
    Temporary.clear();
    throw EFCreateError(Path, reason);
  }
  Temporary.clear();
}

void WriteFileReplacing(const std::string& path, std::string_view bytes) {
  TReplacingFile file(path);
  file.Write(bytes);
  file.Commit();
}

void SaveMessageText(const std::string& path, std::string_view text) { WriteFileReplacing(path, CrLfLines(text)); }

bool FailsEveryNewFile(const Exception& error) {
  const std::error_code& code = error.code();
#ifdef _WIN32
  constexpr int kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, which not every header defines
  if (code.category() == std::system_category()) {
    switch (code.value()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return true;
    default:
      return false;
    }
  }
#endif
  if (code.category() != std::generic_category()) return false;
  switch (code.value()) {
  case EACCES:
  case EPERM:
  case EROFS:
  case ENOSPC:
#ifdef EDQUOT
  case EDQUOT:
#endif
    return true;
  default:
    return false;
  }
}

#ifdef _WIN32

namespace {
constexpr std::int64_t kFileTimeUnixEpochMs = 11644473600000; // 1601 to 1970
constexpr std::int64_t kFileTimeTicksPerMs = 10000;

std::wstring WidePath(const std::string& path) { return PathFromUtf8(path).wstring(); }

std::error_code LastError() { return std::error_code(static_cast<int>(GetLastError()), std::system_category()); }
} // namespace

TNewFileFolder::TNewFileFolder(std::string prefix) : Prefix(std::move(prefix)) {
  RemoveLeftTemporaries(PathFromUtf8(Prefix));
}

bool TReplacingFile::CommitNew(const std::string& path) {
  Finish();
  if (MoveFileExW(Temporary.c_str(), WidePath(path).c_str(), 0)) {
    Temporary.clear();
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  throw EFCreateError(path, std::error_code(static_cast<int>(error), std::system_category()));
}

TNewFileFolder::~TNewFileFolder() = default;

// A temporary sibling written whole, then renamed without replacing: one
// rename per file, and a taken name makes the rename fail instead of going.
TNewFile TNewFileFolder::Write(const std::string& name, std::string_view bytes, double modified) const {
  const std::string path = Prefix + name;
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = WidePath(Prefix + TemporaryName());
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) throw EFCreateError(path, LastError());
  bool written = true;
  for (std::size_t done = 0; written && done < bytes.size();) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    written = WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) && wrote > 0;
    done += wrote;
  }
  std::error_code failure = written ? std::error_code() : LastError();
  bool timeSet = true;
  if (const auto ms = UnixMilliseconds(modified); written && ms) {
    const std::uint64_t ticks = static_cast<std::uint64_t>(*ms + kFileTimeUnixEpochMs) * kFileTimeTicksPerMs;
    FILETIME time{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    timeSet = SetFileTime(file, nullptr, nullptr, &time) != 0;
  }
  if (!CloseHandle(file) && written) {
    failure = LastError();
    written = false;
  }
  if (!written) {
    DeleteFileW(temporary.c_str());
    throw EWriteError(failure);
  }
  if (MoveFileExW(temporary.c_str(), WidePath(path).c_str(), 0))
    return timeSet ? TNewFile::Written : TNewFile::WrittenNoTime;
  const DWORD error = GetLastError();
  DeleteFileW(temporary.c_str());
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return TNewFile::NameTaken;
  throw EFCreateError(path, std::error_code(static_cast<int>(error), std::system_category()));
}

TNameHolds TNewFileFolder::Holds(const std::string& name, std::string_view bytes) const {
  const std::wstring path = WidePath(Prefix + name);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return TNameHolds::Nothing;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return TNameHolds::Other;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr);
  if (file == INVALID_HANDLE_VALUE) return TNameHolds::Other;
  LARGE_INTEGER size{};
  const bool same = GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) == bytes.size() &&
                    ReadsAs(bytes, [file](char* buffer, std::size_t want) -> long long {
                      DWORD got = 0;
                      return ReadFile(file, buffer, static_cast<DWORD>(want), &got, nullptr) ? got : -1;
                    });
  CloseHandle(file);
  return same ? TNameHolds::SameBytes : TNameHolds::Other;
}

#else

namespace {
bool WriteAll(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote == 0) errno = EIO; // no progress, and no reason given
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// Writes bytes and sets the time on the open file; false when writing failed.
bool Fill(int fd, std::string_view bytes, double modified, bool& timeSet) {
  if (!WriteAll(fd, bytes)) return false;
  timeSet = true;
  if (const auto ms = UnixMilliseconds(modified)) {
    const std::int64_t seconds = *ms / 1000 - (*ms % 1000 < 0 ? 1 : 0);
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(seconds), static_cast<long>((*ms - seconds * 1000) * 1000000)}};
    timeSet = ::futimens(fd, times) == 0;
  }
  return true;
}

TNewFile Done(bool timeSet) { return timeSet ? TNewFile::Written : TNewFile::WrittenNoTime; }

std::error_code Errno(int error) { return std::error_code(error, std::generic_category()); }

#ifdef O_TMPFILE
// Names the unnamed file fd as at under dir; errno tells why not. The
// descriptor itself is linked where the system lets its opener do so (Linux
// 6.10 and later, or with a privilege); elsewhere the name goes through
// /proc, a path lookup more per file.
bool LinkUnnamed(int fd, int dir, const std::string& at) {
  static std::atomic<bool> descriptorRefused{false};
  if (!descriptorRefused.load(std::memory_order_relaxed)) {
    if (::linkat(fd, "", dir, at.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT && errno != EPERM) return false;
  }
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, self, dir, at.c_str(), AT_SYMLINK_FOLLOW) != 0) return false;
  descriptorRefused.store(true, std::memory_order_relaxed); // refused, not a missing folder
  return true;
}

} // namespace

std::error_code TReplacingFile::NameUnnamed() {
  const int fd = ::fileno(File);
  for (int attempt = 0; attempt < 16; ++attempt) {
    Temporary = Target;
    Temporary.replace_filename(TemporaryName());
    if (LinkUnnamed(fd, AT_FDCWD, Temporary.string())) return {};
    if (errno != EEXIST) break;
  }
  const std::error_code error = Errno(errno);
  Temporary.clear();
  return error;
}

namespace {
// An unnamed file in folder (under dir), given the name at once complete.
// None when the system or the file system cannot make one, and the sibling
// way is taken instead.
std::optional<TNewFile> WriteUnnamed(int dir, const char* folder, const std::string& at, const std::string& path,
                                     std::string_view bytes, double modified) {
  const int fd = ::openat(dir, folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return std::nullopt; // the sibling way meets any real failure again and reports it
  bool timeSet = false;
  if (!Fill(fd, bytes, modified, timeSet)) {
    const int error = errno;
    ::close(fd); // the file had no name: nothing is left
    throw EWriteError(Errno(error));
  }
  const bool linked = LinkUnnamed(fd, dir, at);
  int error = errno;
  if (::close(fd) != 0 && linked) {
    error = errno;
    ::unlinkat(dir, at.c_str(), 0);
    throw EWriteError(Errno(error));
  }
  if (linked) return Done(timeSet);
  if (error == EEXIST) return TNewFile::NameTaken;
  if (error == ENOENT) return std::nullopt; // no /proc
  throw EFCreateError(path, Errno(error));
}
#endif

// Gives the complete temporary file its name without replacing anything,
// both under dir: a hard link fails on a taken name; where the file system
// has no hard links, a rename that refuses to replace.
bool NameWithoutReplacing(int dir, const std::string& temporary, const std::string& at, int& error) {
  if (::linkat(dir, temporary.c_str(), dir, at.c_str(), 0) == 0) return true;
  error = errno;
  if (error != EPERM && error != EOPNOTSUPP && error != ENOTSUP && error != ENOSYS && error != EMLINK) return false;
#ifdef RENAME_NOREPLACE
  if (::renameat2(dir, temporary.c_str(), dir, at.c_str(), RENAME_NOREPLACE) == 0) return true;
  error = errno;
  if (error != EINVAL && error != ENOSYS) return false;
#endif
  // Last resort where neither is offered: a look first, then the rename.
  struct stat st {};
  if (::fstatat(dir, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    error = EEXIST;
    return false;
  }
  if (::renameat(dir, temporary.c_str(), dir, at.c_str()) == 0) return true;
  error = errno;
  return false;
}
} // namespace

bool TReplacingFile::CommitNew(const std::string& path) {
  Finish();
  int error = 0;
  if (NameWithoutReplacing(AT_FDCWD, Temporary.string(), PathFromUtf8(path).string(), error)) {
    ::unlink(Temporary.c_str()); // after a link, the second name; after a rename, nothing
    Temporary.clear();
    return true;
  }
  if (error == EEXIST) return false;
  throw EFCreateError(path, Errno(error));
}

TNewFileFolder::TNewFileFolder(std::string prefix) : Prefix(std::move(prefix)) {
  RemoveLeftTemporaries(PathFromUtf8(Prefix)); // of a run killed where files cannot be unnamed
#ifdef O_PATH
  const int only = O_PATH; // to look names up in: no permission to read the folder needed
#else
  const int only = O_RDONLY;
#endif
  Dir = ::open(Prefix.empty() ? "." : Prefix.c_str(), only | O_DIRECTORY | O_CLOEXEC);
}

TNewFileFolder::~TNewFileFolder() {
  if (Dir >= 0) ::close(Dir);
}

TNewFile TNewFileFolder::Write(const std::string& name, std::string_view bytes, double modified) const {
  const std::string path = Prefix + name;
  // Names are looked up in the open folder; where it could not be opened,
  // by their whole paths, which then meet the failure and report it.
  const int dir = Dir >= 0 ? Dir : AT_FDCWD;
  const std::string base = Dir >= 0 ? std::string() : Prefix;
  const std::string& at = Dir >= 0 ? name : path;
#ifdef O_TMPFILE
  if (const auto unnamed = WriteUnnamed(dir, base.empty() ? "." : base.c_str(), at, path, bytes, modified))
    return *unnamed;
#endif
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = base + TemporaryName();
    fd = ::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EFCreateError(path, Errno(errno));
  bool timeSet = false;
  const bool filled = Fill(fd, bytes, modified, timeSet);
  int error = filled ? 0 : errno;
  if (::close(fd) != 0 && filled) error = errno;
  if (error != 0) {
    ::unlinkat(dir, temporary.c_str(), 0);
    throw EWriteError(Errno(error));
  }
  const bool named = NameWithoutReplacing(dir, temporary, at, error);
  ::unlinkat(dir, temporary.c_str(), 0); // after a link, the second name; after a rename, nothing
  if (named) return Done(timeSet);
  if (error == EEXIST) return TNewFile::NameTaken;
  throw EFCreateError(path, Errno(error));
}

TNameHolds TNewFileFolder::Holds(const std::string& name, std::string_view bytes) const {
  const int dir = Dir >= 0 ? Dir : AT_FDCWD;
  const std::string at = Dir >= 0 ? name : Prefix + name;
  struct stat st {};
  if (::fstatat(dir, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return TNameHolds::Nothing;
  // Only a plain file of the size is opened: nothing else there is touched.
  if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != bytes.size()) return TNameHolds::Other;
  const int fd = ::openat(dir, at.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TNameHolds::Other;
  const bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    static_cast<std::uint64_t>(st.st_size) == bytes.size() &&
                    ReadsAs(bytes, [fd](char* buffer, std::size_t want) -> long long {
                      ssize_t got = 0;
                      do got = ::read(fd, buffer, want);
                      while (got < 0 && errno == EINTR);
                      return got;
                    });
  ::close(fd);
  return same ? TNameHolds::SameBytes : TNameHolds::Other;
}

#endif

TSaved SaveUnderFreeName(const TNewFileFolder& folder, const std::string& name, std::string_view bytes,
                         double received) {
  for (int variant = 1; variant <= kMaxVariant; ++variant) {
    TSaved saved{VariantName(name, variant), variant > 1};
    // Looked at before writing: a repeated run then writes nothing it wrote before.
    const TNameHolds holds = folder.Holds(saved.Name, bytes);
    if (holds == TNameHolds::SameBytes) {
      saved.Unchanged = true;
      return saved;
    }
    if (holds == TNameHolds::Other) continue;
    const TNewFile written = folder.Write(saved.Name, bytes, received);
    if (written != TNewFile::NameTaken) { // else taken meanwhile: on to the next variant
      saved.TimeSet = written == TNewFile::Written;
      return saved;
    }
  }
  throw EFCreateError(folder.PathPrefix() + name,
                      "the name and its variants up to (" + std::to_string(kMaxVariant) + ") are taken");
}

} // namespace postvue
