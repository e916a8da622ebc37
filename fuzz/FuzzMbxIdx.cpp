// One input split into an .mbx store and its .idx index: the first four bytes
// (little-endian) give the length of the .mbx part, the rest is the .idx.
#include "FuzzSupport.h"
#include "MbxReader.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::size_t split = static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8 |
                      static_cast<std::size_t>(data[2]) << 16 | static_cast<std::size_t>(data[3]) << 24;
  data += 4;
  size -= 4;
  split = std::min(split, size);
  const std::string path = postvue::fuzz::WriteScratch("pair.mbx", data, split);
  postvue::fuzz::WriteScratch("pair.idx", data + split, size - split);
  postvue::TMBXReader reader;
  postvue::fuzz::Exercise(reader, path);
  return 0;
}
