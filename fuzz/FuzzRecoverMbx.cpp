// One input split into a damaged .mbx store and its .idx (see MbxPair) to
// recover messages from; with nothing left for the .idx the store has none.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  postvue::fuzz::Recover(postvue::fuzz::MbxPair(data, size, true), "pair.mbx");
  return 0;
}
