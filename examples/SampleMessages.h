// The messages of the sample stores in examples/: the generator writes them,
// the samples test reads the written stores back and compares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace postvue::samples {

struct TSampleMessage {
  std::string SenderName; // empty when the From line carries only an address
  std::string SenderAddress;
  std::string Subject; // as the list shows it: 8-bit, header encoding undone
  std::uint32_t Flags = 0;
  std::int32_t Priority = 3;
  std::uint64_t Received = 0; // FILETIME, UTC
  std::uint32_t Number = 0;   // the store's own message number
  std::string Text;           // the raw message, CR LF line ends
};

inline const char* const kDbxFolderName = "Sample";

std::vector<TSampleMessage> SampleDbxMessages();
std::vector<TSampleMessage> SampleMbxMessages();

// Standard base64 with 76-character lines ended by CR LF, as MIME writes it.
std::string Base64Lines(const std::string& bytes);

} // namespace postvue::samples
