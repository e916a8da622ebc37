// Writes the seed corpora of the fuzz targets from the test store writer:
// MakeSeeds OUTDIR writes OUTDIR/FuzzDbx, FuzzMbx, FuzzMbxIdx, FuzzLines,
// FuzzFolders, FuzzRecoverDbx and FuzzRecoverMbx.
// MakeSeeds OUTDIR REGRESSIONDIR also writes the hand-made worst cases (stores
// that once made a reader's work grow with the square of their size) into
// REGRESSIONDIR, which every test build replays.
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

// Stores as damage leaves them, for the recovery targets: removed messages in
// free space, a broken index, a cut file, wrong lengths.
void PutDamagedStores(const std::filesystem::path& out, const TMbxImage& mbx, const TIdxImage& idx) {
  const auto messages = Messages(6);
  const std::filesystem::path dbx = out / "FuzzRecoverDbx";
  TDbxImage sound = MakeDbx(messages, {"Inbox", 4, 128});
  Put(dbx, "sound", sound.Str());
  { // one removed message: its chain stays, no index entry leads to it
    TDbxImage image = MakeDbx(messages, {"Inbox", 51, 128});
    image.AddText("From: gone@example.com\r\nSubject: removed\r\n\r\n" + std::string(300, 'r'), 100);
    Put(dbx, "removed", image.Str());
  }
  { // the index root lost: every message is found by its blocks alone
    TDbxImage image = sound;
    image.SetIndexRoot(0x7777);
    Put(dbx, "no-index", image.Str());
  }
  { // a stale copy of a chain, moved by a compaction
    TDbxImage image = MakeDbx(messages, {"Inbox", 51, 128});
    image.AddDisplacedText("Subject: stale\r\n\r\n" + std::string(200, 's'), 0x300, 64);
    Put(dbx, "displaced", image.Str());
  }
  TDbxImage cut = sound;
  cut.Data.resize(cut.Data.size() - 150);
  Put(dbx, "cut", cut.Str());

  const std::filesystem::path mbxDir = out / "FuzzRecoverMbx";
  Put(mbxDir, "with-index", Pair(mbx.Str(), idx.Str()));
  Put(mbxDir, "without-index", Pair(mbx.Str(), ""));
  std::vector<std::uint32_t> headers;
  for (std::uint32_t at = 84; at + 16 <= mbx.Size(); at += mbx.GetU32(at + 8)) headers.push_back(at);
  { // a BlockLength of 0: the walk ends, the rest is searched for
    TMbxImage image = mbx;
    image.U32(headers[1] + 8, 0);
    Put(mbxDir, "block-length-zero", Pair(image.Str(), idx.Str()));
  }
  { // a DataLength one byte too large
    TMbxImage image = mbx;
    image.U32(headers[1] + 12, image.GetU32(headers[1] + 12) + 1);
    Put(mbxDir, "data-length-long", Pair(image.Str(), ""));
  }
  { // a removed message in the slack behind the last one
    TMbxImage image = mbx;
    const std::string removed = "Subject: removed\r\n\r\nstill here\r\n";
    const std::uint32_t at = static_cast<std::uint32_t>(image.Size());
    image.U32(at, 0x7F007F00);
    image.U32(at + 8, static_cast<std::uint32_t>(16 + removed.size()));
    image.U32(at + 12, static_cast<std::uint32_t>(removed.size()));
    image.Bytes(at + 16, removed);
    image.U32(headers.back() + 8, image.GetU32(headers.back() + 8) + static_cast<std::uint32_t>(16 + removed.size()));
    Put(mbxDir, "removed-in-slack", Pair(image.Str(), idx.Str()));
  }
  TMbxImage cutMbx = mbx;
  cutMbx.Data.resize(cutMbx.Data.size() - 10);
  Put(mbxDir, "cut", Pair(cutMbx.Str(), ""));
}

// Each kept under 64 KB, the fuzzers' largest input.
void PutWorstCases(const std::filesystem::path& out) {
  { // 120 messages sharing one object whose chain holds 1500 empty blocks
    TDbxImage image;
    std::uint32_t next = image.AddBlock("Subject: shared\r\n\r\nbody", 0);
    for (int k = 0; k < 1500; ++k) next = image.AddBlock("", next);
    const std::uint32_t info = image.AddMessageInfo({TDbxProperty::U32(0x04, next), TDbxProperty::Text(0x08, "s")});
    const std::uint32_t root = image.Allocate(0x27C);
    TDbxNode leaf;
    leaf.Parent = root;
    leaf.Entries.assign(51, {info, 0, 0});
    TDbxNode top;
    top.LeftChild = image.AddNode(leaf);
    top.LeftValueCount = 51;
    top.Entries.assign(18, {info, 0, 0});
    top.Entries[0].Child = image.AddNode(leaf);
    top.Entries[0].ChildValueCount = 51;
    image.WriteNode(root, top);
    image.SetIndexRoot(root);
    image.SetMessageCount(120);
    Put(out / "FuzzDbx", "shared-chain", image.Str());
  }
  { // index nodes that overlap all but their first 24 bytes: one level each
    TDbxImage image;
    const std::uint32_t info = image.AddMessageInfo({TDbxProperty::Text(0x08, "deep")});
    const std::uint32_t base = static_cast<std::uint32_t>(image.Size()), depth = 2000;
    for (std::uint32_t k = 0; k < depth; ++k) {
      const std::uint32_t at = base + 24 * k;
      TDbxNode node;
      node.Parent = k == 0 ? 0 : at - 24;
      if (k + 1 == depth) {
        node.Entries = {{info, 0, 0}};
      } else {
        node.LeftChild = at + 24;
        node.LeftValueCount = 1;
        node.EntryCount = 0;
      }
      image.WriteNode(at, node);
    }
    image.SetIndexRoot(base);
    image.SetMessageCount(1);
    Put(out / "FuzzDbx", "deep-overlapping-index", image.Str());
  }
  { // a header every 8 bytes, each claiming the rest of the file as its text
    TMbxImage image;
    image.SetMessageCount(100000);
    for (std::uint32_t at = 84; at + 8 <= 60000; at += 8) {
      image.U32(at, 8);
      image.U32(at + 4, 60000 - at - 16);
    }
    Put(out / "FuzzMbx", "overlapping-headers", image.Str());
  }
  { // 1000 of the smallest messages, and index records that lead back and forth
    TMbxImage image;
    for (std::uint32_t i = 0; i < 1000; ++i) image.AddMessage({"A:\r\n", i, 0, -1, -1});
    image.SetMessageCount(1000);
    TIdxImage idx;
    idx.SetRecordCount(1000);
    TIdxRecord here;
    here.Strings[0] = "near";
    here.NextOffset = 16000;
    idx.AddRecord(here);
    idx.Reserve(16000);
    TIdxRecord there;
    there.Strings[0] = "far";
    there.Strings[4] = std::string(8000, 's');
    there.NextOffset = 80;
    idx.AddRecord(there);
    Put(out / "FuzzMbxIdx", "index-jumping", Pair(image.Str(), idx.Str()));
  }
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

  Put(out / "FuzzMime", "mixed",
      "Subject: =?iso-8859-1?Q?Ol=E1?= =?utf-8?B?w6k=?=\r\nFrom: \"A\" <a@x>\r\n"
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\npre\r\n--b\r\n"
      "Content-Type: multipart/alternative; boundary=c\r\n\r\n--c\r\nContent-Type: text/plain; charset=koi8-r\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n=F0=D2 soft=\r\nbreak =ZZ\r\n--c\r\n"
      "Content-Type: text/html; charset=shift_jis\r\n\r\n<p>a&amp;b<a href=\"u\">l</a><br><table><tr><td>x</table>\r\n"
      "--c--\r\n--b\r\nContent-Type: image/png; name*0*=utf-8''%C3%A9; name*1=.png\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\niVBO Rw0K\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n"
      "Subject: inner\r\n\r\nhi\r\n--b--\r\n");
  Put(out / "FuzzMime", "uuencoded", "Subject: uu\n\ntext\nbegin 644 a.txt\n#8V%T\n`\nend\nmore\n");
  Put(out / "FuzzMime", "unclosed",
      "Content-Type: multipart/related; boundary=r\n\n--r\nContent-Type: multipart/alternative; boundary=a\n\n"
      "--a\nContent-Type: text/plain; charset=iso-2022-jp\n\n\x1b$BF|\x1b(B\n--a\n\n--r\n"
      "Content-Type: application/x-a; name=\"=?utf-7?Q?+AOk-?=\"\nContent-Transfer-Encoding: x-uuencode\n\nbegin 600 f\n!80``\nend\n");
  Put(out / "FuzzMime", "partial",
      "From: a@x\r\nSubject: 1/2\r\nContent-Type: message/partial; id=\"p@x\"; number=1; total=2\r\n\r\n"
      "Subject: whole\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext\r\n--b\r\n"
      "Content-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lG");
  Put(out / "FuzzLines", "mixed", "a\r\nb\rc\nd\n\re\r\n\r\n");
  Put(out / "FuzzLines", "nul", std::string("head\r\n\0tail", 12));
  // FuzzFolders: the input is Folders.dbx and also a.dbx, the one store it can name.
  Put(out / "FuzzFolders", "tree",
      MakeFolderList({{0, 0, "Outlook Express", ""}, {1, 0, "Local Folders", ""}, {4, 1, "Inbox", "a.dbx"},
                      {5, 4, "inbox", "A.DBX"}, {6, 1, "Inbox", "..\\a.dbx"}})
          .Str());
  Put(out / "FuzzFolders", "loop", MakeFolderList({{1, 2, "A", ""}, {2, 3, "B", ""}, {3, 1, "C", ""}, {4, 4, "D", ""}}).Str());
  PutDamagedStores(out, store, MakeIdx(idx));
  if (argc > 2) PutWorstCases(argv[2]);
  return 0;
}
