// Any bytes as a .dbx store.
#include "DbxReader.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const postvue::TMemoryFiles files = postvue::fuzz::OneFile("store.dbx", data, size);
  postvue::TDBXReader reader;
  postvue::fuzz::Exercise(reader, files, "store.dbx");
  return 0;
}
