#include "FuzzSupport.h"

#include "Exceptions.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace postvue::fuzz {

const std::string& ScratchDir() {
  static const std::string dir = [] {
#ifdef _WIN32
    const std::string id = "0";
#else
    const std::string id = std::to_string(::getpid());
#endif
    auto path = std::filesystem::temp_directory_path() / ("postvue-fuzz-" + id);
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return dir;
}

std::string WriteScratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

void RemoveScratch(const std::string& name) {
  std::error_code ec;
  std::filesystem::remove(ScratchDir() + "/" + name, ec);
}

void Exercise(TMailbaseReader& reader, const std::string& path) {
  try {
    reader.SetFileName(path);
    reader.Load();
  } catch (const Exception&) {
  }
  // GetCount may come from a damaged header after a failed Open. Every index
  // is a legal question, but past a run of empty records nothing new is
  // reached, so the walk stops there to keep runs fast.
  const std::int32_t count = reader.GetCount();
  (void)reader.GetFolderName();
  TMessageRecord record;
  const TMessageRecord zero{};
  int emptyRun = 0;
  for (std::int32_t i = -1; i <= count && emptyRun < 64; ++i) {
    reader.GetMessage(i, record);
    emptyRun = std::memcmp(&record, &zero, sizeof record) == 0 ? emptyRun + 1 : 0;
    try {
      (void)reader.GetMessageText(i);
    } catch (const Exception&) {
    }
    try {
      (void)reader.GetMessageHeader(i);
    } catch (const Exception&) {
    }
  }
}

} // namespace postvue::fuzz
