// The committed sample stores: up to date with their generator, and read back
// by the library as the viewer reads them.
#include "CliRunner.h"
#include "DbxReader.h"
#include "MbxReader.h"
#include "SampleMessages.h"
#include "StoreWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace postvue;
using namespace postvue::samples;
using namespace postvue::testing;

namespace {

const std::string kSamples = POSTVUE_SAMPLES_DIR;

// Loads a store as the viewer does: probe by magic, then the concrete reader.
std::unique_ptr<TMailbaseReader> LoadStore(const std::string& path, TStoreFormat expected) {
  TStoreFormat format;
  {
    TMailbaseReader probe;
    probe.SetFileName(path);
    format = probe.Format;
  }
  EXPECT_EQ(format, expected);
  std::unique_ptr<TMailbaseReader> reader;
  if (format == sfDBX) reader = std::make_unique<TDBXReader>();
  else reader = std::make_unique<TMBXReader>();
  reader->SetFileName(path);
  reader->Load();
  return reader;
}

std::string HeaderOf(const std::string& text) { return text.substr(0, text.find("\r\n\r\n") + 1); }

// The value of a header line as the header scan takes it: everything after the colon.
std::string LineValue(const std::string& text, const std::string& name) {
  const std::string header = "\r\n" + HeaderOf(text);
  const std::size_t at = header.find("\r\n" + name + ":");
  if (at == std::string::npos) return {};
  const std::size_t from = at + 3 + name.size();
  return header.substr(from, header.find('\r', from) - from);
}

TMessageRecord RecordOf(TMailbaseReader& reader, int index) {
  TMessageRecord record;
  reader.GetMessage(index, record);
  return record;
}

TEST(Samples, GeneratorRewritesTheCommittedBytes) {
  TTempDir dir;
  ASSERT_EQ(RunProgram(dir, POSTVUE_GENERATE_SAMPLES, {dir.Path()}).Status, 0);
  for (const char* name : {"Sample.dbx", "Sample.mbx", "Sample.idx"}) {
    SCOPED_TRACE(name);
    const std::string fresh = ReadFileBytes(dir / name);
    EXPECT_EQ(fresh.size(), std::filesystem::file_size(kSamples + "/" + name));
    EXPECT_TRUE(fresh == ReadFileBytes(kSamples + "/" + name))
        << "the committed sample is stale: rebuild the 'samples' target";
  }
}

TEST(Samples, DbxCoversWhatTheListShows) {
  const auto messages = SampleDbxMessages();
  ASSERT_GE(messages.size(), 8u);
  auto has = [&](auto predicate) { return std::any_of(messages.begin(), messages.end(), predicate); };
  EXPECT_TRUE(has([](const TSampleMessage& m) { return !(m.Flags & kFlagRead); }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.Flags & kFlagMarked; }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.Flags & kFlagAttachment; }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.Priority == 1; }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.Priority == 5; }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.SenderName.empty(); }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.Subject.find("\x93") != std::string::npos; }));
  EXPECT_TRUE(has([](const TSampleMessage& m) { return m.Text.size() > 4 * 512; }));
}

TEST(Samples, DbxListsEveryMessageWithItsText) {
  const auto messages = SampleDbxMessages();
  auto reader = LoadStore(kSamples + "/Sample.dbx", sfDBX);
  ASSERT_TRUE(reader->Active);
  EXPECT_EQ(reader->GetFolderName(), "Sample");
  ASSERT_EQ(reader->GetCount(), static_cast<int>(messages.size()));
  for (int i = 0; i < reader->GetCount(); ++i) {
    SCOPED_TRACE(i);
    const TSampleMessage& m = messages[static_cast<std::size_t>(i)];
    const TMessageRecord r = RecordOf(*reader, i);
    EXPECT_EQ(r.MsgIndex, m.Number);
    EXPECT_EQ(r.Subject.Str(), m.Subject);
    EXPECT_EQ(r.SenderName.Str(), m.SenderName);
    EXPECT_EQ(r.SenderAddress.Str(), m.SenderAddress);
    EXPECT_EQ(r.Flags, m.Flags);
    EXPECT_EQ(r.Priority, m.Priority);
    EXPECT_EQ(r.Received, FileTimeToDateTimeSafe(m.Received));
    EXPECT_EQ(r.Size, m.Text.size());
    EXPECT_EQ(reader->GetMessageText(i), m.Text);
    EXPECT_EQ(reader->GetMessageHeader(i), HeaderOf(m.Text));
  }
}

TEST(Samples, DbxSubjectKeepsItsWindows1252Bytes) {
  auto reader = LoadStore(kSamples + "/Sample.dbx", sfDBX);
  bool found = false;
  for (int i = 0; i < reader->GetCount(); ++i)
    found = found || RecordOf(*reader, i).Subject.Str() == "\x93" "Caf\xE9\x94 menu for Friday";
  EXPECT_TRUE(found);
}

TEST(Samples, MbxLoadsByItsIndex) {
  const auto messages = SampleMbxMessages();
  auto reader = LoadStore(kSamples + "/Sample.mbx", sfMBX);
  EXPECT_EQ(reader->GetFolderName(), "Sample");
  ASSERT_EQ(reader->GetCount(), static_cast<int>(messages.size()));
  for (int i = 0; i < reader->GetCount(); ++i) {
    SCOPED_TRACE(i);
    const TSampleMessage& m = messages[static_cast<std::size_t>(i)];
    const TMessageRecord r = RecordOf(*reader, i);
    EXPECT_EQ(r.Subject.Str(), m.Subject);
    EXPECT_EQ(r.SenderAddress.Str(), m.SenderAddress);
    EXPECT_EQ(r.SenderName.Str(), "");
    EXPECT_EQ(r.Flags, m.Flags);
    EXPECT_EQ(r.Priority, m.Priority);
    EXPECT_EQ(r.Received, FileTimeToDateTimeSafe(m.Received));
    EXPECT_EQ(r.Text07.Str(), std::to_string(m.Number));
    EXPECT_EQ(r.Size, m.Text.size());
    EXPECT_EQ(reader->GetMessageText(i), m.Text);
    EXPECT_EQ(reader->GetMessageHeader(i), HeaderOf(m.Text));
  }
  // The index's positions are those of the walk: the header scan agrees.
  TTempDir dir;
  std::filesystem::copy_file(kSamples + "/Sample.mbx", dir / "Sample.mbx");
  auto scanned = LoadStore(dir / "Sample.mbx", sfMBX);
  for (int i = 0; i < reader->GetCount(); ++i) EXPECT_EQ(RecordOf(*reader, i).TextOffset, RecordOf(*scanned, i).TextOffset);
}

TEST(Samples, MbxWithoutIndexLoadsByItsHeaderLines) {
  const auto messages = SampleMbxMessages();
  TTempDir dir;
  std::filesystem::copy_file(kSamples + "/Sample.mbx", dir / "Sample.mbx");
  auto reader = LoadStore(dir / "Sample.mbx", sfMBX);
  ASSERT_EQ(reader->GetCount(), static_cast<int>(messages.size()));
  bool longHeader = false;
  for (int i = 0; i < reader->GetCount(); ++i) {
    SCOPED_TRACE(i);
    const TSampleMessage& m = messages[static_cast<std::size_t>(i)];
    const TMessageRecord r = RecordOf(*reader, i);
    EXPECT_EQ(r.MsgIndex, static_cast<std::uint32_t>(i));
    EXPECT_EQ(r.Flags, kFlagRead);
    EXPECT_EQ(r.SenderName.Str(), LineValue(m.Text, "From"));
    EXPECT_EQ(r.Subject.Str(), " " + m.Subject);
    EXPECT_EQ(r.DateText.Str(), LineValue(m.Text, "Date"));
    EXPECT_FALSE(r.DateText.Empty());
    EXPECT_EQ(r.Received, 0.0);
    EXPECT_EQ(r.Size, m.Text.size());
    EXPECT_EQ(reader->GetMessageText(i), m.Text);
    longHeader = longHeader || HeaderOf(m.Text).size() > 1024;
  }
  EXPECT_TRUE(longHeader) << "one header block should need more than one 1024-byte chunk";
}

} // namespace
