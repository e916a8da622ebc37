// Stores stay open with sharing allowed, so another program may cut or
// rewrite one after it was loaded. Texts are read on demand: they then fail
// with the stream's read error (or a reader message), never crash, and what
// is still there stays readable.
#include "DbxReader.h"
#include "MbxReader.h"
#include "CliRunner.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>

using namespace postvue;
using namespace postvue::testing;

namespace {

const std::string kTexts[] = {
    "From: Ann\r\nSubject: one\r\n\r\n" + std::string(3000, '1'),
    "From: Bob\r\nSubject: two\r\n\r\n" + std::string(3000, '2'),
    "From: Cy\r\nSubject: three\r\n\r\n" + std::string(3000, '3'),
};

enum class TChange {
  CutInLastText,    // the last message's text is cut short
  CutInLastHeader,  // the cut falls inside the last message's text block header or message header
  Emptied,          // the file is emptied
  ZeroFilled,       // the same size, every byte zero
};

struct TCase {
  const char* Name;
  TChange Change;
};

std::string Changed(const std::string& bytes, TChange change, std::size_t lastTextAt, std::size_t lastHeaderAt) {
  switch (change) {
  case TChange::CutInLastText: return bytes.substr(0, lastTextAt + 100);
  case TChange::CutInLastHeader: return bytes.substr(0, lastHeaderAt + 8);
  case TChange::Emptied: return "";
  case TChange::ZeroFilled: return std::string(bytes.size(), '\0');
  }
  return bytes;
}

const TCase kCases[] = {
    {"CutInLastText", TChange::CutInLastText},
    {"CutInLastHeader", TChange::CutInLastHeader},
    {"Emptied", TChange::Emptied},
    {"ZeroFilled", TChange::ZeroFilled},
};

class ChangingFile : public ::testing::TestWithParam<TCase> {
protected:
  TTempDir Dir;

  // After the change: the records stay as loaded; the first messages still
  // read when their bytes are still there; the rest fail with a read error.
  void Check(TMailbaseReader& reader, TChange change) {
    ASSERT_EQ(reader.GetCount(), 3);
    TMessageRecord record;
    reader.GetMessage(1, record);
    EXPECT_EQ(record.Subject.View().substr(record.Subject.View().size() - 3), "two");
    const bool cut = change == TChange::CutInLastText || change == TChange::CutInLastHeader;
    for (std::int32_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      if (cut && i < 2) {
        EXPECT_EQ(reader.GetMessageText(i), kTexts[i]);
      } else if (change == TChange::ZeroFilled) {
        // Nothing to read but zeros: an empty text or the reader's own message.
        try {
          EXPECT_EQ(reader.GetMessageText(i), "");
        } catch (const EDBXReaderException&) {
        }
      } else {
        EXPECT_RAISES(reader.GetMessageText(i), EReadError, "Stream read error");
      }
    }
  }
};

TEST_P(ChangingFile, DbxAfterLoad) {
  TDbxImage image;
  image.SetFolderName("Inbox");
  std::vector<std::uint32_t> values, texts;
  for (const auto& text : kTexts) {
    texts.push_back(image.AddText(text, 1024));
    values.push_back(image.AddMessageInfo({TDbxProperty::U32(0x04, texts.back()),
                                           TDbxProperty::Text(0x08, text.substr(text.find("Subject: ") + 9, 3))}));
  }
  image.BuildTree(values);
  const std::string path = Dir / "store.dbx";
  image.WriteFile(path);

  TDBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  ASSERT_EQ(reader.GetMessageText(2), kTexts[2]);
  // The last text's last block: the cut falls inside its header or its text.
  const std::uint32_t lastBlock = texts[2] + 2 * (16 + 1024);
  WriteFileBytes(path, Changed(image.Str(), GetParam().Change, lastBlock + 16, lastBlock));
  Check(reader, GetParam().Change);
  // The header lies in the first block, which a cut leaves whole.
  if (GetParam().Change == TChange::Emptied) {
    EXPECT_RAISES(reader.GetMessageHeader(2), EReadError, "Stream read error");
  } else if (GetParam().Change != TChange::ZeroFilled) {
    EXPECT_EQ(reader.GetMessageHeader(2), "From: Cy\r\nSubject: three\r");
  }
}

TEST_P(ChangingFile, MbxAfterLoad) {
  std::vector<TMbxMessage> messages;
  for (const auto& text : kTexts) messages.push_back({text, 1, 0, -1, -1});
  const TMbxImage image = MakeMbx(messages);
  const std::string path = Dir / "store.mbx";
  image.WriteFile(path);

  TMBXReader reader;
  reader.SetFileName(path);
  reader.Load();
  const std::size_t lastHeader = 84 + 2 * ((16 + kTexts[0].size() + 3) & ~std::size_t{3});
  WriteFileBytes(path, Changed(image.Str(), GetParam().Change, lastHeader + 16, lastHeader));
  Check(reader, GetParam().Change);
  // The header blocks were read at Open: they stay.
  EXPECT_EQ(reader.GetMessageHeader(2), "From: Cy\r\nSubject: three\r");
}

INSTANTIATE_TEST_SUITE_P(Change, ChangingFile, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A cut store given to postvue-cli save: the message cannot be read, the
// command fails with the read error, and the file it would have replaced
// keeps what it held.
TEST(ChangingFileCli, SaveOfACutStoreLeavesTheTargetAlone) {
  TTempDir dir;
  std::vector<TMbxMessage> messages;
  for (const auto& text : kTexts) messages.push_back({text, 1, 0, -1, -1});
  const std::string mbx = MakeMbx(messages).Str();
  // The index and the objects first, the texts behind them.
  TDbxImage dbx;
  std::vector<std::uint32_t> values;
  for (std::size_t i = 0; i < 3; ++i) values.push_back(dbx.AddMessageInfo({TDbxProperty::U32(0x04, 0)}));
  dbx.BuildTree(values);
  for (std::size_t i = 0; i < 3; ++i) dbx.U32(values[i] + 16, dbx.AddText(kTexts[i])); // the one property's data
  // The last text loses its end; its block headers and the index stay.
  const std::pair<std::string, std::string> stores[] = {
      {"cut.mbx", mbx.substr(0, mbx.size() - 50)},
      {"cut.dbx", dbx.Str().substr(0, dbx.Size() - 50)},
  };
  for (const auto& [name, bytes] : stores) {
    SCOPED_TRACE(name);
    WriteFileBytes(dir / name, bytes);
    const std::string target = dir / "kept.eml";
    WriteFileBytes(target, "what was there\r\n");
    const TCliRun run = RunCli(dir, {"save", dir / name, "2", target});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "postvue-cli: Stream read error.\n" + kRecoverHint);
    EXPECT_EQ(ReadFileBytes(target), "what was there\r\n");
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) // no temporary file left
      EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
  }
}

} // namespace
