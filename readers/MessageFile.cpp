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

// Whether an existing file may be written: opening it to append changes nothing.
bool IsWritable(const fs::path& path) {
  std::FILE* file = OpenFile(path, "ab", L"ab");
  if (file) std::fclose(file);
  return file != nullptr;
}

bool WriteAll(std::FILE* file, std::string_view bytes) {
  bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = std::fflush(file) == 0 && written;
  return std::fclose(file) == 0 && written;
}
} // namespace

void WriteFileReplacing(const std::string& path, std::string_view bytes) {
  fs::path target = PathFromUtf8(path);
  std::error_code ec;
  // Saving over a link changes the file it names, as writing in place would,
  // instead of putting a plain file where the link was.
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = std::move(resolved);
  }
  const fs::file_status former = fs::status(target, ec);
  if (fs::is_directory(former)) throw EFCreateError(path);
  // The rename could replace a file that may not be written; emptying it could not.
  if (fs::is_regular_file(former) && !IsWritable(target)) throw EFCreateError(path);

  // A fresh, exclusively created name in the target's folder, so the final
  // rename stays within one file system. It is short, so a target name near
  // the length limit still leaves room for it.
  std::random_device seed;
  std::mt19937_64 random(seed());
  fs::path temporary;
  std::FILE* file = nullptr;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".postvue-%016llx.tmp", static_cast<unsigned long long>(random()));
    temporary = target;
    temporary.replace_filename(name);
    file = OpenFile(temporary, "wbx", L"wbx");
  }
  if (!file) throw EFCreateError(path);

  if (!WriteAll(file, bytes)) {
    fs::remove(temporary, ec);
    throw EWriteError();
  }
  // A replaced file keeps its permissions, as it would when emptied and rewritten.
  if (fs::is_regular_file(former)) fs::permissions(temporary, former.permissions(), ec);
  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw EFCreateError(path);
  }
}

void SaveMessageText(const std::string& path, std::string_view text) { WriteFileReplacing(path, CrLfLines(text)); }

} // namespace postvue
