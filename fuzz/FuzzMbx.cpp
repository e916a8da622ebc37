// Any bytes as an .mbx store without an index.
#include "FuzzSupport.h"
#include "MbxReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  postvue::fuzz::RemoveScratch("alone.idx");
  const std::string path = postvue::fuzz::WriteScratch("alone.mbx", data, size);
  postvue::TMBXReader reader;
  postvue::fuzz::Exercise(reader, path);
  return 0;
}
