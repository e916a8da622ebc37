// Writes the sample stores Sample.dbx, Sample.mbx and Sample.idx into a
// folder (the current one by default). The output depends on nothing but this
// program, so every run writes the same bytes.
#include "SampleMessages.h"
#include "StoreWriter.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace postvue::samples;
using namespace postvue::testing;

namespace {

void WriteDbx(const std::string& path) {
  std::vector<TTestMessage> messages;
  for (const auto& s : SampleDbxMessages()) {
    TTestMessage m;
    m.Subject = s.Subject;
    m.SenderName = s.SenderName;
    m.SenderAddress = s.SenderAddress;
    m.Flags = s.Flags;
    m.Priority = s.Priority;
    m.Received = s.Received;
    m.MsgIndex = s.Number;
    m.Text = s.Text;
    messages.push_back(m);
  }
  TDbxOptions options;
  options.FolderName = kDbxFolderName;
  MakeDbx(messages, options).WriteFile(path);
}

void WriteMbx(const std::string& mbxPath, const std::string& idxPath) {
  const auto samples = SampleMbxMessages();
  TMbxImage mbx;
  mbx.SetMessageCount(static_cast<std::int32_t>(samples.size()));
  std::vector<TIdxRecord> records;
  for (const auto& s : samples) {
    TMbxMessage message;
    message.Text = s.Text;
    message.Number = s.Number;
    const std::uint32_t header = mbx.AddMessage(message);
    TIdxRecord r;
    r.MessageFlags = s.Flags;
    r.MessageNumber = s.Number;
    r.MessagePos = header + 16; // where the raw text starts, as the walk finds it
    r.MessageSize = static_cast<std::uint32_t>(s.Text.size());
    r.ReceivedTime = s.Received;
    r.MessagePriority = static_cast<std::uint16_t>(s.Priority);
    // The index keeps its strings zero-terminated.
    r.Strings[0] = s.Subject + '\0';
    r.Strings[2] = s.SenderAddress + '\0';
    records.push_back(r);
  }
  mbx.WriteFile(mbxPath);
  MakeIdx(records).WriteFile(idxPath);
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && std::string(argv[1]).starts_with("-"))) {
    std::fprintf(stderr, "usage: GenerateSamples [FOLDER]\n");
    return 2;
  }
  const std::string folder = argc == 2 ? argv[1] : ".";
  try {
    WriteDbx(folder + "/Sample.dbx");
    WriteMbx(folder + "/Sample.mbx", folder + "/Sample.idx");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "GenerateSamples: %s\n", e.what());
    return 1;
  }
  return 0;
}
