// The parts of a file's path, and a UTF-8 path as the file system takes it.
#pragma once

#include <filesystem>
#include <string>

namespace postvue {

// The file-name part of path: no directory.
std::string ExtractFileName(const std::string& path);
// The file-name part without its extension.
std::string ExtractFileTitle(const std::string& path);
// path with its extension replaced by extension (appended when it has none).
std::string ChangeFileExt(const std::string& path, const std::string& extension);

// A UTF-8 path (the library's path encoding) as a file-system path, on every platform.
std::filesystem::path PathFromUtf8(const std::string& path);

} // namespace postvue
