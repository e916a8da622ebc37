// One input split into an .mbx store and its .idx index (see MbxPair).
#include "FuzzSupport.h"
#include "MbxReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const postvue::TMemoryFiles files = postvue::fuzz::MbxPair(data, size, false);
  postvue::TMBXReader reader;
  postvue::fuzz::Exercise(reader, files, "pair.mbx");
  return 0;
}
