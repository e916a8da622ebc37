#include "MessageFile.h"

#include "Exceptions.h"
#include "TextLines.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace postvue {

std::string CrLfLines(std::string_view text) {
  const auto lines = SplitLines(text);
  std::size_t size = 0;
  for (auto line : lines) size += line.size() + 2;
  std::string result;
  result.reserve(size);
  for (auto line : lines) {
    result.append(line);
    result.append("\r\n");
  }
  return result;
}

namespace {
namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

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
  if (fs::is_directory(Former)) throw EFCreateError(path);
  if (fs::is_regular_file(Former)) {
    // The rename could replace a file that may not be written; emptying it could not.
    std::FILE* probe = OpenFile(Target, "ab", L"ab");
    if (!probe) throw EFCreateError(path);
    std::fclose(probe);
  }
  // An exclusively created name, short so that a target name near the
  // length limit still leaves room for it.
  for (int attempt = 0; attempt < 16 && !File; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".postvue-%016llx.tmp", static_cast<unsigned long long>(NextTemporaryId()));
    Temporary = Target;
    Temporary.replace_filename(name);
    File = OpenFile(Temporary, "wbx", L"wbx");
  }
  if (!File) throw EFCreateError(path);
}

TReplacingFile::~TReplacingFile() {
  if (!File) return;
  std::fclose(File);
  std::error_code ec;
  fs::remove(Temporary, ec);
}

void TReplacingFile::Write(std::string_view bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), File) != bytes.size()) throw EWriteError();
}

void TReplacingFile::Commit() {
  const bool flushed = std::fflush(File) == 0;
  const bool closed = std::fclose(File) == 0;
  File = nullptr;
  std::error_code ec;
  if (!flushed || !closed) {
    fs::remove(Temporary, ec);
    throw EWriteError();
  }
  // A replaced file keeps its permissions, as it would when emptied and rewritten.
  if (fs::is_regular_file(Former)) fs::permissions(Temporary, Former.permissions(), ec);
  fs::rename(Temporary, Target, ec);
  if (ec) {
    fs::remove(Temporary, ec);
    throw EFCreateError(Path);
  }
}

void WriteFileReplacing(const std::string& path, std::string_view bytes) {
  TReplacingFile file(path);
  file.Write(bytes);
  file.Commit();
}

void SaveMessageText(const std::string& path, std::string_view text) { WriteFileReplacing(path, CrLfLines(text)); }

} // namespace postvue
