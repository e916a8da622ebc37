// Writes the seed corpora of the fuzz targets from the test store writer:
// MakeSeeds OUTDIR writes OUTDIR/FuzzDbx, FuzzMbx, FuzzMbxIdx and FuzzLines.
#include "StoreWriter.h"

#include <filesystem>
#include <string>

using namespace postvue::testing;

namespace {
void Put(const std::filesystem::path& dir, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(dir);
  WriteFileBytes((dir / name).string(), bytes);
}

std::string Pair(const std::string& mbx, const std::string& idx) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(mbx.size() >> (8 * i));
  return out + mbx + idx;
}

std::vector<TTestMessage> Messages(int count) {
  std::vector<TTestMessage> messages;
  for (int i = 0; i < count; ++i) {
    TTestMessage m;
    m.Subject = "Subject " + std::to_string(i);
    m.SenderName = i % 2 ? "" : "Ann Example";
    m.SenderAddress = "ann@example.com";
    m.Flags = i % 3 ? 0x80u : 0x4020u;
    m.Priority = i % 5 == 0 ? 1 : 3;
    m.Received = FileTimeOf(2003, 1 + i % 12, 1 + i % 28, i % 24, 30, 15);
    m.MsgIndex = static_cast<std::uint32_t>(i + 1);
    m.Text = "From: Ann <ann@example.com>\r\nSubject: " + m.Subject + "\r\n\r\n" + std::string(static_cast<std::size_t>(40 + i * 13), 'x');
    messages.push_back(m);
  }
  return messages;
}
} // namespace

int main(int argc, char** argv) {
  const std::filesystem::path out = argc > 1 ? argv[1] : "corpus";

  Put(out / "FuzzDbx", "one", MakeDbx(Messages(1), {"Inbox", 51, 64}).Str());
  Put(out / "FuzzDbx", "tree", MakeDbx(Messages(12), {"Deep", 2, 32}).Str());
  TDbxImage empty;
  empty.SetFolderName("Empty");
  Put(out / "FuzzDbx", "empty", empty.Str());

  std::vector<TMbxMessage> mbx;
  std::vector<TIdxRecord> idx;
  for (int i = 0; i < 4; ++i) {
    TMbxMessage m;
    m.Number = static_cast<std::uint32_t>(i + 1);
    m.Text = "From: Bob <bob@example.org>\r\nSUBJECT: note " + std::to_string(i) + "\rDate: Mon\n\r\n\r\nbody " + std::to_string(i);
    mbx.push_back(m);
  }
  const TMbxImage store = MakeMbx(mbx);
  std::uint32_t pos = 84 + 16;
  for (const auto& m : mbx) {
    TIdxRecord r;
    r.MessageNumber = m.Number;
    r.MessagePos = pos;
    r.MessageSize = static_cast<std::uint32_t>(m.Text.size());
    r.ReceivedTime = FileTimeOf(1999, 5, 17, 8, 0, 0);
    r.Strings[0] = "note";
    r.Strings[2] = "bob@example.org";
    idx.push_back(r);
    pos += (16 + static_cast<std::uint32_t>(m.Text.size()) + 3) & ~3u;
  }
  Put(out / "FuzzMbx", "four", store.Str());
  Put(out / "FuzzMbxIdx", "four", Pair(store.Str(), MakeIdx(idx).Str()));

  Put(out / "FuzzLines", "mixed", "a\r\nb\rc\nd\n\re\r\n\r\n");
  Put(out / "FuzzLines", "nul", std::string("head\r\n\0tail", 12));
  return 0;
}
