// Any bytes as a .dbx store.
#include "DbxReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = postvue::fuzz::WriteScratch("store.dbx", data, size);
  postvue::TDBXReader reader;
  postvue::fuzz::Exercise(reader, path);
  return 0;
}
