#include "FuzzSupport.h"

#include "Exceptions.h"
#include "Recovery.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace postvue::fuzz {

TMemoryFiles OneFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  TMemoryFiles files;
  files.Files[name] = std::string_view(reinterpret_cast<const char*>(data), size);
  return files;
}

TMemoryFiles MbxPair(const std::uint8_t* data, std::size_t size, bool noEmptyIndex) {
  TMemoryFiles files;
  if (size < 4) return files;
  std::size_t split = static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1]) << 8 |
                      static_cast<std::size_t>(data[2]) << 16 | static_cast<std::size_t>(data[3]) << 24;
  data += 4;
  size -= 4;
  split = std::min(split, size);
  const char* bytes = reinterpret_cast<const char*>(data);
  files.Files["pair.mbx"] = std::string_view(bytes, split);
  if (split < size || !noEmptyIndex) files.Files["pair.idx"] = std::string_view(bytes + split, size - split);
  return files;
}

void Exercise(TMailbaseReader& reader, const TFileSource& files, const std::string& path) {
  reader.UseFiles(files);
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

namespace {
// Checks what a recovery hands over as it comes.
class TCheckingSink : public TRecoverySink {
public:
  explicit TCheckingSink(std::uint64_t size) : Size(size) {}
  void Message(const TRecoveredMessage& message) override {
    // Every text is bytes of the file: none is longer than the file, none
    // holds a zero byte (a zero ends a text), and a message has a text.
    if (message.Text.empty() || message.Text.size() > Size || message.Text.find('\0') != std::string::npos ||
        message.Offset >= Size || (message.Incomplete && message.IncompleteReason.empty()))
      std::abort();
  }
  void Problem(std::uint64_t offset, const std::string& what) override {
    if (what.empty()) std::abort();
    (void)offset;
  }
  void Progress(std::uint64_t done, std::uint64_t total) override {
    if (done > total || done < Done) std::abort();
    Done = done;
  }

private:
  std::uint64_t Size, Done = 0;
};
} // namespace

void Recover(const TFileSource& files, const std::string& path) {
  std::unique_ptr<TStoreRecovery> recovery;
  try {
    recovery = std::make_unique<TStoreRecovery>(path, files);
  } catch (const Exception&) {
    return; // not a store at all
  }
  TCheckingSink sink(files.Open(path, TShareMode::DenyNone)->Size());
  (void)recovery->Run(sink);
}

} // namespace postvue::fuzz
