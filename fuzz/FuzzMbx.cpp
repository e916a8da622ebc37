// Any bytes as an .mbx store without an index.
#include "FuzzSupport.h"
#include "MbxReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const postvue::TMemoryFiles files = postvue::fuzz::OneFile("alone.mbx", data, size);
  postvue::TMBXReader reader;
  postvue::fuzz::Exercise(reader, files, "alone.mbx");
  return 0;
}
