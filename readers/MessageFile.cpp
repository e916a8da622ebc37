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
std::filesystem::path PathFromUtf8(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::FILE* OpenExclusive(const std::filesystem::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"wbx");
#else
  return std::fopen(path.c_str(), "wbx");
#endif
}
} // namespace

void WriteFileReplacing(const std::string& path, std::string_view bytes) {
  const std::filesystem::path target = PathFromUtf8(path);
  std::error_code ec;
  if (std::filesystem::is_directory(target, ec)) throw EFCreateError(path);

  // A fresh, exclusively created name beside the target, so the final rename
  // stays within one file system.
  std::random_device seed;
  std::mt19937_64 random(seed());
  std::filesystem::path temporary;
  std::FILE* file = nullptr;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(random()));
    temporary = target;
    temporary += suffix;
    file = OpenExclusive(temporary);
  }
  if (!file) throw EFCreateError(path);

  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (!written) {
    std::filesystem::remove(temporary, ec);
    throw EWriteError();
  }
  std::filesystem::rename(temporary, target, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    throw EFCreateError(path);
  }
}

void SaveMessageText(const std::string& path, std::string_view text) { WriteFileReplacing(path, CrLfLines(text)); }

} // namespace postvue
