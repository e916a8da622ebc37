// Any bytes as a damaged .dbx store to recover messages from.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  postvue::fuzz::Recover(postvue::fuzz::OneFile("store.dbx", data, size), "store.dbx");
  return 0;
}
