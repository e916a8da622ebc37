// The reading window's model on a platform that only answers and writes
// down: what the window shows for a message (header lines, text,
// attachments, notes, an attached message), Previous and Next in the list's
// order, and saving attachments; and the Date line's reading.
#include "ExportNames.h"
#include "MailDate.h"
#include "ReaderFactory.h"
#include "Reading.h"
#include "StoreWriter.h"
#include "TestSupport.h"

#include <optional>
#include <algorithm>
#include <chrono>
#include <filesystem>

using namespace postvue;
using namespace postvue::testing;

namespace {

const std::string kLetter =
    "From: =?iso-8859-1?Q?Jo=E3o_Gon=E7alves?= <joao@example.pt>\r\n"
    "To: ana@example.pt\r\n"
    "Cc: rui@example.pt\r\n"
    "Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n"
    "Subject: =?koi8-r?B?8NLJ18XU?=\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
    "\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; charset=x-unheard-of\r\n"
    "\r\n"
    "Bom dia\r\n"
    "--b1\r\n"
    "Content-Type: image/jpeg; name=\"photo.jpg\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "/9j/4CBub3QgcmVhbGx5IGEganBlZw==\r\n"
    "--b1\r\n"
    "Content-Type: application/octet-stream; name=\"a/b.pdf\"\r\n"
    "\r\n"
    "%PDF-1.4\r\n"
    "--b1\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "From: rui@example.pt\r\n"
    "Subject: Fwd: plan\r\n"
    "\r\n"
    "Name     Room\r\n"
    "Ana      12\r\n"
    "Rui      14\r\n"
    "--b1--\r\n";

constexpr std::uint64_t kJuly2003 = 127015231570000000; // 1 July 2003 08:52:37 UTC

TLocaleFormat IsoFormat() {
  TLocaleFormat format;
  format.ShortDate = "yyyy-MM-dd";
  format.LongTime = "HH:mm:ss";
  format.GroupSeparator = ",";
  format.CompileFormats();
  return format;
}

std::string LineText(const TMessageReading& reading) {
  std::string text;
  for (const THeaderLine& line : reading.HeaderLines()) text += std::string(line.Label) + ' ' + line.Value + '\n';
  return text;
}

class TFakeReadingWindow : public TReadingCore {
public:
  TFakeReadingWindow(TMailbaseReader* reader, std::vector<std::int32_t> order)
      : TReadingCore(reader, IsoFormat()), Order(std::move(order)) {}

  std::vector<std::int32_t> Order; // the list's rows, as message indexes
  std::string AttachmentPath, Folder;
  std::vector<std::string> Shown, Nested, Errors, Asked;
  TSaveAllReport Report;

  void Open(std::int32_t index) {
    RunGuarded([&] { OpenMessage(index); });
  }
  void Previous() {
    RunGuarded([&] { Step(-1); });
  }
  void Next() {
    RunGuarded([&] { Step(+1); });
  }
  void SaveOne(std::size_t i) {
    RunGuarded([&] { SaveAttachment(i); });
  }
  void SaveAll() {
    RunGuarded([&] { SaveAllAttachments(); });
  }
  void ReadAttached(std::size_t i) {
    RunGuarded([&] { ReadAttachedMessage(i); });
  }
  using TReadingCore::CanStep;

protected:
  void ShowReading(const TMessageReading& reading) override { Shown.push_back(reading.Caption()); }
  std::int32_t NeighbourIndex(std::int32_t index, int step) override {
    const auto row = std::find(Order.begin(), Order.end(), index) - Order.begin() + step;
    return row >= 0 && row < static_cast<std::ptrdiff_t>(Order.size()) ? Order[static_cast<std::size_t>(row)] : -1;
  }
  std::string AskAttachmentPath(const std::string& name) override {
    Asked.push_back(name);
    return AttachmentPath;
  }
  std::string AskAttachmentFolder() override { return Folder; }
  std::string AskMessagePath() override { return {}; }
  void ShowSaveReport(const TSaveAllReport& report) override { Report = report; }
  void ShowAttachedMessage(const TMessageReading& reading) override {
    Nested.push_back(LineText(reading) + reading.Body());
  }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  void ShowWaitCursor() override {}
  void RestoreCursor() override {}
};

class Reading : public ::testing::Test {
protected:
  TTempDir Dir;
  std::unique_ptr<TMailbaseReader> Reader;

  // Three messages: the letter, one without a Date, one without a subject.
  void LoadStore() {
    TTestMessage letter, undated, untitled;
    letter.Text = kLetter;
    letter.Received = kJuly2003;
    undated.Text = "From: x@example.org\r\nSubject: undated\r\n\r\ntext\r\n";
    undated.Received = kJuly2003;
    untitled.Text = "From: y@example.org\r\n\r\nno subject\r\n";
    MakeDbx({letter, undated, untitled}).WriteFile(Dir / "store.dbx");
    Reader = NewReaderFor(Dir / "store.dbx");
    OpenStore(*Reader, Dir / "store.dbx");
    Pieces.emplace(*Reader);
  }
  std::optional<TPartialPieces> Pieces;
};

TEST_F(Reading, ShowsTheMessageAsAPersonReadsIt) {
  LoadStore();
  const TMessageReading reading = TMessageReading::OfStore(*Reader, 0, IsoFormat(), *Pieces);
  // The sender's own clock, not the store's UTC time.
  EXPECT_EQ(LineText(reading), "From: João Gonçalves <joao@example.pt>\n"
                               "To: ana@example.pt\n"
                               "Cc: rui@example.pt\n"
                               "Date: 2003-07-01 10:52:37\n"
                               "Subject: Привет\n");
  EXPECT_EQ(reading.Caption(), "Привет");
  EXPECT_EQ(reading.Body(), "Bom dia\n");
  EXPECT_FALSE(reading.FixedPitch());
  EXPECT_EQ(reading.Notes(), std::vector<std::string>{"unknown character set \"x-unheard-of\" read as Windows-1252"});

  const auto& files = reading.Attachments();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].Name, "photo.jpg");
  EXPECT_EQ(files[0].SizeText, "22 bytes");
  EXPECT_TRUE(files[0].Picture);
  EXPECT_FALSE(files[0].Message);
  EXPECT_EQ(files[1].Name, SafeFileName("a/b.pdf")); // the name a save offers is safe
  EXPECT_EQ(files[1].Name.find_first_of("/\\"), std::string::npos);
  EXPECT_FALSE(files[1].Picture);
  EXPECT_TRUE(files[2].Message);
  EXPECT_EQ(files[2].Name, SafeFileName("Fwd: plan.eml"));
  EXPECT_EQ(reading.AttachmentBytes(0), "\xff\xd8\xff\xe0 not really a jpeg");

  // The attached message, read on its own: its plain text is laid out in columns.
  const TMessageReading nested = reading.AttachedMessage(2, IsoFormat());
  EXPECT_EQ(nested.Caption(), "Fwd: plan");
  EXPECT_EQ(nested.Index(), -1);
  EXPECT_EQ(nested.Body(), "Name     Room\nAna      12\nRui      14\n");
  EXPECT_TRUE(nested.FixedPitch());

  // Without a Date line the store's time stands in; without a subject the caption says so.
  EXPECT_EQ(LineText(TMessageReading::OfStore(*Reader, 1, IsoFormat(), *Pieces)),
            "From: x@example.org\nTo: \nDate: 2003-07-01 08:52:37\nSubject: undated\n");
  EXPECT_EQ(TMessageReading::OfStore(*Reader, 2, IsoFormat(), *Pieces).Caption(), "(no subject)");
}

// Previous and Next follow the list's order, whatever it is, and stop at its ends.
TEST_F(Reading, PreviousAndNextFollowTheList) {
  LoadStore();
  TFakeReadingWindow window(Reader.get(), {2, 0, 1});
  window.Open(0);
  EXPECT_TRUE(window.CanStep(-1));
  window.Next();
  window.Next(); // the last row: nothing to go to
  EXPECT_FALSE(window.CanStep(+1));
  window.Previous();
  window.Previous();
  window.Previous();
  EXPECT_EQ(window.Shown, (std::vector<std::string>{"Привет", "undated", "Привет", "(no subject)"}));
  EXPECT_EQ(window.Errors, std::vector<std::string>{});

  window.ReadAttached(0); // not a message: nothing opens
  window.Open(0);
  window.ReadAttached(2);
  ASSERT_EQ(window.Nested.size(), 1u);
  EXPECT_EQ(window.Nested[0].substr(0, 26), "From: rui@example.pt\nTo: \n");

  // A message whose text cannot be read: the error box, the window unchanged.
  window.Order = {0, 7};
  window.Next();
  ASSERT_EQ(window.Errors.size(), 1u);
  EXPECT_EQ(window.Reading().Index(), 0);
}

TEST_F(Reading, SavesOneOrAllAttachments) {
  LoadStore();
  TFakeReadingWindow window(Reader.get(), {0});
  window.Open(0);
  window.SaveOne(0); // the dialog cancelled: nothing written
  EXPECT_EQ(window.Asked, std::vector<std::string>{"photo.jpg"});
  window.AttachmentPath = Dir / "mine.jpg";
  WriteFileBytes(window.AttachmentPath, "older");
  window.SaveOne(0);
  EXPECT_EQ(ReadFileBytes(Dir / "mine.jpg"), "\xff\xd8\xff\xe0 not really a jpeg");
  window.AttachmentPath = Dir / "no such folder/mine.jpg";
  window.SaveOne(0);
  EXPECT_EQ(window.Errors.size(), 1u);

  // Into a folder, replacing nothing: another file of the same name keeps its
  // bytes and the attachment takes a free variant.
  std::filesystem::create_directory(Dir / "out");
  WriteFileBytes(Dir / "out/photo.jpg", "someone else's");
  window.Folder = Dir / "out";
  window.SaveAll();
  EXPECT_EQ(window.Report.Saved, 3);
  EXPECT_EQ(window.Report.Renamed, 1);
  EXPECT_EQ(window.Report.Failed, 0);
  EXPECT_EQ(window.Report.Text(), "3 attachments saved (1 under a new name).");
  EXPECT_EQ(ReadFileBytes(Dir / "out/photo.jpg"), "someone else's");
  EXPECT_EQ(ReadFileBytes(Dir / "out/photo (2).jpg"), "\xff\xd8\xff\xe0 not really a jpeg");
  EXPECT_EQ(ReadFileBytes(Dir / ("out/" + window.Reading().Attachments()[1].Name)), "%PDF-1.4");

  window.Folder = Dir / "missing";
  window.SaveAll();
  EXPECT_EQ(window.Report.Saved, 0);
  EXPECT_EQ(window.Report.Failed, 3);
  EXPECT_NE(window.Report.Text().find("could not be saved"), std::string::npos);
}

struct TDateCase {
  const char* Text;
  int Year, Month, Day, Hour, Minute, Second, Zone; // Year 0: none
};

class ReadingDate : public ::testing::TestWithParam<TDateCase> {};

TEST_P(ReadingDate, ReadsTheSendersClock) {
  const TDateCase& c = GetParam();
  const auto date = ParseMailDate(c.Text);
  if (c.Year == 0) {
    EXPECT_FALSE(date) << c.Text;
    return;
  }
  ASSERT_TRUE(date) << c.Text;
  const double expected = static_cast<double>(std::chrono::sys_days(std::chrono::year(c.Year) / c.Month / c.Day)
                                                  .time_since_epoch()
                                                  .count()) +
                          25569.0 + (c.Hour * 3600 + c.Minute * 60 + c.Second) / 86400.0;
  EXPECT_NEAR(date->Local, expected, 1e-7) << c.Text;
  EXPECT_EQ(date->ZoneMinutes, c.Zone) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReadingDate,
    ::testing::Values(TDateCase{"Tue, 1 Jul 2003 10:52:37 +0200", 2003, 7, 1, 10, 52, 37, 120},
                      TDateCase{"1 Jul 03 10:52 PDT", 2003, 7, 1, 10, 52, 0, -420},
                      TDateCase{"Wed, 31 Dec 97 23:59:60 -0330 (NST)", 1997, 12, 31, 23, 59, 59, -210},
                      TDateCase{"Tue Jul  1 10:52:37 2003", 2003, 7, 1, 10, 52, 37, 0},
                      TDateCase{"Thu, 29 Feb 2001 10:00:00 +0000", 0, 0, 0, 0, 0, 0, 0},
                      TDateCase{"Tue, 1 Jul 2003", 0, 0, 0, 0, 0, 0, 0},
                      TDateCase{"", 0, 0, 0, 0, 0, 0, 0}));

} // namespace
