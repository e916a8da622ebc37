#include "FilePaths.h"

namespace postvue {

namespace {
bool IsPathDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

// Start of the file-name part.
std::size_t NameStart(const std::string& path) {
  std::size_t i = path.size();
  while (i > 0 && !IsPathDelimiter(path[i - 1])) --i;
  return i;
}

// Position of the extension's dot within the file-name part, or npos.
std::size_t ExtensionDot(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return dot != std::string::npos && dot >= NameStart(path) ? dot : std::string::npos;
}
} // namespace

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ExtractFileTitle(const std::string& path) {
  const std::size_t start = NameStart(path), dot = ExtensionDot(path);
  return path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  return path.substr(0, ExtensionDot(path)) + extension;
}

std::filesystem::path PathFromUtf8(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

} // namespace postvue
