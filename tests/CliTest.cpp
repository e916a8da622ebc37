// postvue-cli as a process: exit status, the exact bytes on standard output,
// the exact line on standard error, and the files it writes.
#include "MailbaseReader.h"
#include "MessageFile.h"
#include "CliRunner.h"
#include "Console.h"
#include "StoreWriter.h"
#include "TestSupport.h"
#include "FilePaths.h"
#include "TextLines.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace postvue;
using namespace postvue::testing;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {


class CliTest : public ::testing::Test {
protected:
  TTempDir Dir;

  TCliRun Run(const std::vector<std::string>& args) { return RunCli(Dir, args); }

  // Runs args and expects a failure with exactly this error line, and the
  // lines after it.
  void ExpectError(const std::vector<std::string>& args, const std::string& message, const std::string& after = "") {
    const TCliRun run = Run(args);
    EXPECT_EQ(run.Status, 1) << args[0];
    EXPECT_EQ(run.Out, "") << args[0];
    EXPECT_EQ(run.Err, "postvue-cli: " + message + "\n" + after) << args[0];
  }

};

std::string Repeat(std::string_view text, std::size_t times) {
  std::string result;
  for (std::size_t i = 0; i < times; ++i) result += text;
  return result;
}

// A .dbx store of these messages, each text in blocks of 8 bytes.
TDbxImage DbxOf(const std::vector<TTestMessage>& messages, const std::string& folder = "Inbox") {
  return MakeDbx(messages, {folder, 3, 8});
}

// ---------------------------------------------------------------- list

TEST_F(CliTest, ListDbxLines) {
  TDbxImage image;
  image.SetFolderName("Inbox");
  std::vector<std::uint32_t> infos;
  auto add = [&](const TTestMessage& m) {
    infos.push_back(image.AddMessageInfo(PropertiesOf(m, image.AddText(m.Text))));
  };
  TTestMessage m;
  m.Subject = "Hello";
  m.SenderName = "Ann Example";
  m.SenderAddress = "ann@example.com";
  m.Flags = 0x80 | 0x4000;
  m.Priority = 1;
  m.Received = FileTimeOf(2004, 1, 1, 12, 0, 0);
  m.Text = "From: Ann\r\n\r\nHi";
  add(m);
  m = {};
  m.Subject = "Tab\there\r\nnext";
  m.SenderAddress = "bob@example.com";
  m.Flags = 0x20;
  m.Priority = 5;
  m.Received = FileTimeOf(1999, 12, 31, 23, 59, 59, 999);
  m.Text = "x";
  add(m);
  m = {};
  m.Subject = "caf\xe9";
  m.Priority = 0;
  add(m); // no text, no date
  // A size above 2^31: the block header claims it, and the listing reads no text.
  m = {};
  m.Subject = "big";
  m.Flags = 0x4020;
  const std::uint32_t block = image.AddBlock("From: x\r\n\r\n");
  image.U32(block + 8, 0xFFFFFFF0);
  infos.push_back(image.AddMessageInfo(PropertiesOf(m, block)));
  image.BuildTree(infos, 2);
  image.WriteFile(Dir / "a.dbx");

  const TCliRun run = Run({"list", Dir / "a.dbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, "0\tYes\tHigh\t\tAnn Example\tHello\t2004-01-01 12:00:00\t15\n"
                     "1\t\tLow\tYes\tbob@example.com\tTab here  next\t1999-12-31 23:59:59\t1\n"
                     "2\t\t\t\t\tcaf\xc3\xa9\t1899-12-30 00:00:00\t0\n" // as UTF-8
                     "3\tYes\t\tYes\t\tbig\t1899-12-30 00:00:00\t4294967280\n");
}

TEST_F(CliTest, ListMbxByHeaderScan) {
  const std::string first = "From: Ann <ann@x>\r\nSubject: Hi\r\nDate: Mon, 1 Jan 2001\r\n\r\nbody";
  const std::string second = "subject:lower\r\n\r\nb";
  MakeMbx({{first, 7}, {second, 8}}).WriteFile(Dir / "b.mbx");
  const TCliRun run = Run({"list", Dir / "b.mbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, "0\t\t\t\t Ann <ann@x>\t Hi\t1899-12-30 00:00:00\t" + std::to_string(first.size()) +
                         "\n"
                         "1\t\t\t\t\tlower\t1899-12-30 00:00:00\t" + std::to_string(second.size()) + "\n");
}

TEST_F(CliTest, ListMbxFromIndex) {
  MakeMbx({{"Subject: one\r\n\r\n1", 1}, {"Subject: two\r\n\r\n2", 2}}).WriteFile(Dir / "c.mbx");
  TIdxRecord r1;
  r1.MessageFlags = 0x80 | 0x4000 | 0x20;
  r1.MessagePriority = 1;
  r1.MessageSize = 1234;
  r1.ReceivedTime = FileTimeOf(2001, 2, 3, 4, 5, 6);
  r1.Strings[0] = "Idx subject";
  r1.Strings[2] = "carol@example.com";
  TIdxRecord r2;
  r2.MessagePriority = 5;
  r2.MessageSize = 99;
  r2.Strings[0] = "Second";
  MakeIdx({r1, r2}).WriteFile(Dir / "c.idx");
  const TCliRun run = Run({"list", Dir / "c.mbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, "0\tYes\tHigh\tYes\tcarol@example.com\tIdx subject\t2001-02-03 04:05:06\t1234\n"
                     "1\t\tLow\t\t\tSecond\t1601-01-01 00:00:00\t99\n"); // FILETIME 0 is a date
}

TEST_F(CliTest, ListJsonDbxEveryFieldAndEscaping) {
  TDbxImage image;
  image.SetFolderName("F\xf6\"");
  TTestMessage m;
  m.Subject = "q\"b\\s/\x01\x1f\x7f\t\n\r\b\f\x80\xe9\xff" "end";
  m.SenderName = "N";
  m.SenderAddress = "n@x";
  m.Flags = 0xFFFFFFFF;
  m.MsgIndex = 0xABCDEF;
  m.Received = FileTimeOf(2004, 1, 1, 12, 0, 0);
  m.Text = "From: N\r\n\r\nbody";
  const std::uint32_t text = image.AddText(m.Text, 8);
  auto properties = PropertiesOf(m, text);
  for (auto [id, value] : {std::pair{0x07, "t07"}, {0x0C, "t0C"}, {0x13, "t13"}, {0x14, "t14"}, {0x1A, "t1A"}})
    properties.push_back(TDbxProperty::Text(static_cast<std::uint8_t>(id), value));
  properties.push_back(TDbxProperty::U32(0x10, 0xFFFFFFFF)); // a later priority wins: -1
  image.BuildTree({image.AddMessageInfo(properties)});
  image.WriteFile(Dir / "a.dbx");

  const TCliRun run = Run({"list", "--json", Dir / "a.dbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, "{\n"
                     "  \"format\": \"dbx\",\n"
                     "  \"folder\": \"F\xc3\xb6\\\"\",\n"
                     "  \"count\": 1,\n"
                     "  \"messages\": [\n"
                     "    {\"index\": 0, \"MsgIndex\": 11259375, \"Flags\": 4294967295, \"TextOffset\": " +
                         std::to_string(text) +
                         ", \"Text07\": \"t07\", "
                         "\"Subject\": \"q\\\"b\\\\s/\\u0001\\u001f\\u007f\\t\\n\\r\\b\\f\xc2\x80\xc3\xa9\xc3\xbf"
                         "end\", \"Text0C\": \"t0C\", \"SenderName\": \"N\", \"SenderAddress\": \"n@x\", "
                         "\"Received\": 37987.5, \"DateText\": \"\", \"Text13\": \"t13\", \"Text14\": \"t14\", "
                         "\"Text1A\": \"t1A\", \"Size\": 15, \"Priority\": -1}\n"
                         "  ]\n"
                         "}\n");
}

// The value after "Received": in the JSON text, read back as a double.
std::vector<double> ReceivedValues(const std::string& json) {
  std::vector<double> values;
  static constexpr std::string_view kKey = "\"Received\": ";
  for (std::size_t at = json.find(kKey); at != std::string::npos; at = json.find(kKey, at + 1))
    values.push_back(std::strtod(json.c_str() + at + kKey.size(), nullptr));
  return values;
}

TEST_F(CliTest, ListJsonReceivedRoundTrips) {
  const std::vector<std::uint64_t> times = {FileTimeOf(2021, 12, 12, 23, 59, 59, 999), FileTimeOf(1601, 1, 1, 12),
                                            FileTimeOf(1999, 1, 1, 0, 0, 0, 1), FileTimeOf(9999, 12, 31, 23, 59, 59)};
  std::vector<TTestMessage> messages;
  for (const auto t : times) {
    TTestMessage m;
    m.Received = t;
    m.Text = "x";
    messages.push_back(m);
  }
  DbxOf(messages).WriteFile(Dir / "a.dbx");
  const TCliRun run = Run({"list", "--json", Dir / "a.dbx"});
  ASSERT_EQ(run.Status, 0);
  const auto values = ReceivedValues(run.Out);
  ASSERT_EQ(values.size(), times.size());
  for (std::size_t i = 0; i < times.size(); ++i) EXPECT_EQ(values[i], FileTimeToDateTimeSafe(times[i])) << i;
}

TEST_F(CliTest, ListJsonMbxHeaderScan) {
  const std::string first = "From: A\r\nDate: Tue, 2 Jan 2001\r\nSubject: S\r\n\r\nbody";
  MakeMbx({{first, 7}, {"Subject: two\r\n\r\n2", 8}}).WriteFile(Dir / "Box.mbx");
  const std::uint32_t secondAt = 84 + ((16 + static_cast<std::uint32_t>(first.size()) + 3) & ~3u) + 16;
  const TCliRun run = Run({"list", "--json", Dir / "Box.mbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out, "{\n  \"format\": \"mbx\",\n  \"folder\": \"Box\",\n  \"count\": 2,\n  \"messages\": [\n"
                     "    {\"index\": 0, \"MsgIndex\": 0, \"Flags\": 128, \"TextOffset\": 100, \"Text07\": \"7\", "
                     "\"Subject\": \" S\", \"Text0C\": \"\", \"SenderName\": \" A\", \"SenderAddress\": \"\", "
                     "\"Received\": 0, \"DateText\": \" Tue, 2 Jan 2001\", \"Text13\": \"\", \"Text14\": \"\", "
                     "\"Text1A\": \"\", \"Size\": " +
                         std::to_string(first.size()) +
                         ", \"Priority\": 0},\n"
                         "    {\"index\": 1, \"MsgIndex\": 1, \"Flags\": 128, \"TextOffset\": " +
                         std::to_string(secondAt) +
                         ", \"Text07\": \"8\", \"Subject\": \" two\", \"Text0C\": \"\", \"SenderName\": \"\", "
                         "\"SenderAddress\": \"\", \"Received\": 0, \"DateText\": \"\", \"Text13\": \"\", "
                         "\"Text14\": \"\", \"Text1A\": \"\", \"Size\": 17, \"Priority\": 0}\n  ]\n}\n");
}

// ---------------------------------------------------------------- text, header, save

const std::string kText = "From: A\r\nSubject: B\r\n\r\nline1\nline2\rline3\r\n\xe9\x80\xff end";

TEST_F(CliTest, TextAndHeaderBytes) {
  TTestMessage m;
  m.Text = kText;
  DbxOf({m, m}).WriteFile(Dir / "a.dbx");
  MakeMbx({{"x\r\n\r\n", 1}, {kText, 2}}).WriteFile(Dir / "a.mbx");
  for (const auto& [store, index] : {std::pair{Dir / "a.dbx", "1"}, {Dir / "a.mbx", "1"}}) {
    TCliRun run = Run({"text", store, index});
    EXPECT_EQ(run.Status, 0) << store;
    EXPECT_EQ(run.Err, "") << store;
    EXPECT_EQ(run.Out, kText) << store;
    run = Run({"header", store, index});
    EXPECT_EQ(run.Status, 0) << store;
    EXPECT_EQ(run.Err, "") << store;
    EXPECT_EQ(run.Out, "From: A\r\nSubject: B\r") << store;
  }
}

// ---------------------------------------------------------------- show

TEST_F(CliTest, ShowReadsMailAsAPersonDoes) {
  TTestMessage mime;
  mime.Text = "From: =?utf-8?Q?Jo=C3=A3o?= <joao@example.com>\r\nTo: a@example.com, \"B, Bee\" <b@example.com>\r\n"
              "Date: Fri, 5 Mar 2004 10:00:00 +0000\r\nSubject: =?iso-8859-1?Q?Ol=E1?=\r\n"
              "Content-Type: multipart/mixed; boundary=\"x\"\r\n\r\n--x\r\n"
              "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
              "Ol=E1, \"tudo\" bem?\r\n--x\r\nContent-Type: text/plain\r\n"
              "Content-Disposition: attachment; filename=\"../../evil\tname.txt\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\naGk=\r\n--x--\r\n";
  TTestMessage plain;
  plain.Text = "Subject: plain\r\n\r\nno MIME\r\n";
  DbxOf({mime, plain}).WriteFile(Dir / "a.dbx");

  TCliRun run = Run({"show", Dir / "a.dbx", "0"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  // The attachment's name cannot lead out of a folder, nor hold a control character.
  EXPECT_EQ(run.Out, "From: Jo\u00e3o <joao@example.com>\nTo: a@example.com, B, Bee <b@example.com>\n"
                     "Date: Fri, 5 Mar 2004 10:00:00 +0000\nSubject: Ol\u00e1\n"
                     "Attachments: .._.._evil_name.txt (2 bytes)\n\nOl\u00e1, \"tudo\" bem?\n");

  // Without INDEX, one JSON object per line for every message.
  run = Run({"show", "--json", Dir / "a.dbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out,
            "{\"index\": 0, \"from\": \"Jo\u00e3o <joao@example.com>\", \"to\": \"a@example.com, B, Bee <b@example.com>\", "
            "\"cc\": \"\", \"date\": \"Fri, 5 Mar 2004 10:00:00 +0000\", \"subject\": \"Ol\u00e1\", "
            "\"body\": \"Ol\u00e1, \\\"tudo\\\" bem?\\n\", \"html\": false, "
            "\"attachments\": [{\"name\": \".._.._evil_name.txt\", \"type\": \"text/plain\", \"size\": 2}], \"notes\": []}\n"
            "{\"index\": 1, \"from\": \"\", \"to\": \"\", \"cc\": \"\", \"date\": \"\", \"subject\": \"plain\", "
            "\"body\": \"no MIME\\n\", \"html\": false, \"attachments\": [], \"notes\": []}\n");

  run = Run({"attachments", Dir / "a.dbx", "0"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, ".._.._evil_name.txt\ttext/plain\t2\n");
  // Saved inside DIR with the decoded bytes; a second run finds them there.
  run = Run({"attachments", Dir / "a.dbx", "0", Dir / "out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(SortedNames(Dir / "out"), std::vector<std::string>{".._.._evil_name.txt"});
  EXPECT_EQ(ReadFileBytes(Dir / "out/.._.._evil_name.txt"), "hi");
  run = Run({"attachments", Dir / "a.dbx", "0", Dir / "out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(SortedNames(Dir / "out"), std::vector<std::string>{".._.._evil_name.txt"});

  // Every message's attachments, in a folder named as its .eml; none for a message without.
  run = Run({"export", "--attachments", Dir / "a.dbx", Dir / "all"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "postvue-cli: exported 1, errors 0\n");
  EXPECT_EQ(SortedNames(Dir / "all"), std::vector<std::string>{"0000 - Ol\u00e1"});
  EXPECT_EQ(ReadFileBytes(Dir / "all/0000 - Ol\u00e1/.._.._evil_name.txt"), "hi");
  run = Run({"export", "--attachments", Dir / "a.dbx", Dir / "all"});
  EXPECT_EQ(run.Err, "postvue-cli: exported 0, unchanged 1, errors 0\n");
}

// A message its sender's mail program broke apart reads whole from any of its pieces.
TEST_F(CliTest, ShowPutsBrokenApartMessagesTogether) {
  TTestMessage second, first, lone;
  second.Text = "From: a@example.com\r\nSubject: Photos (2/2)\r\n"
                "Content-Type: message/partial; id=\"abc@x\"; number=2; total=2\r\n\r\nbG8=\r\n--b--\r\n";
  first.Text = "From: a@example.com\r\nSubject: Photos (1/2)\r\nMIME-Version: 1.0\r\n"
               "Content-Type: message/partial; id=\"abc@x\"; number=1; total=2\r\n\r\n"
               "Subject: Photos\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
               "--b\r\nContent-Type: text/plain\r\n\r\nHere they are.\r\n--b\r\n"
               "Content-Type: image/jpeg; name=\"a.jpg\"\r\nContent-Transfer-Encoding: base64\r\n\r\naGVs";
  lone.Text = "Subject: Alone\r\nContent-Type: message/partial; id=\"zzz\"; number=1; total=3\r\n\r\nSubject: x\r\n\r\ny";
  DbxOf({second, first, lone}).WriteFile(Dir / "a.dbx");

  for (const char* index : {"0", "1"}) {
    const TCliRun run = Run({"show", Dir / "a.dbx", index});
    EXPECT_EQ(run.Out, "From: a@example.com\nTo: \nDate: \nSubject: Photos\nAttachments: a.jpg (5 bytes)\n\nHere they are.\n")
        << index;
  }
  TCliRun run = Run({"attachments", Dir / "a.dbx", "0", Dir / "out"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadFileBytes(Dir / "out/a.jpg"), "hello");
  run = Run({"show", "--json", Dir / "a.dbx", "2"});
  EXPECT_NE(run.Out.find("\"notes\": [\"a piece of a message broken apart, shown as it is\", "
                         "\"piece 1 of 3 of a message broken apart; pieces 2, 3 are not in this store\"]"),
            std::string::npos)
      << run.Out;
}

TEST_F(CliTest, SaveWritesCrLfLinesAndReplaces) {
  TTestMessage m;
  m.Text = "a\nb\rc\r\nd\n\re";
  DbxOf({m}).WriteFile(Dir / "a.dbx");
  WriteFileBytes(Dir / "out.eml", Repeat("old contents ", 100));
  const TCliRun run = Run({"save", Dir / "a.dbx", "0", Dir / "out.eml"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(ReadFileBytes(Dir / "out.eml"), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");

  MakeMbx({{"Subject: s\r\n\r\nbody\r\n", 1}}).WriteFile(Dir / "a.mbx");
  EXPECT_EQ(Run({"save", Dir / "a.mbx", "0", Dir / "new.eml"}).Status, 0);
  EXPECT_EQ(ReadFileBytes(Dir / "new.eml"), "Subject: s\r\n\r\nbody\r\n");
}

TEST_F(CliTest, FailedSaveLeavesTheFileAsItWas) {
  TTestMessage m; // no text
  DbxOf({m}).WriteFile(Dir / "a.dbx");
  WriteFileBytes(Dir / "out.eml", "former");
  ExpectError({"save", Dir / "a.dbx", "0", Dir / "out.eml"}, "No text found.");
  EXPECT_EQ(ReadFileBytes(Dir / "out.eml"), "former");
  ExpectError({"save", Dir / "a.dbx", "0", Dir / "absent.eml"}, "No text found.");
  EXPECT_FALSE(fs::exists(Dir / "absent.eml"));

  m.Text = "x";
  DbxOf({m}).WriteFile(Dir / "b.dbx");
  ExpectError({"save", Dir / "b.dbx", "0", Dir / "missing/out.eml"},
              "Cannot create file " + (Dir / "missing/out.eml") + ".",
              ReasonLine(std::errc::no_such_file_or_directory));
  ExpectError({"save", Dir / "b.dbx", "0", Dir.Path()}, "Cannot create file " + Dir.Path() + ".",
              ReasonLine(std::errc::is_a_directory));
#ifndef _WIN32
  // A disk that takes no more: the file, and the system's reason, once; the former file stays.
  m.Text = std::string(100000, 'x');
  DbxOf({m}).WriteFile(Dir / "c.dbx");
  TCliRun full;
  {
    TFileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Ok);
    full = Run({"save", Dir / "c.dbx", "0", Dir / "out.eml"});
  }
  EXPECT_EQ(full.Status, 1);
  EXPECT_EQ(full.Err, "postvue-cli: " + (Dir / "out.eml") + ": Stream write error.\npostvue-cli: " + (Dir / "out.eml") +
                          ": " + std::make_error_code(std::errc::file_too_large).message() + "\n");
  EXPECT_EQ(ReadFileBytes(Dir / "out.eml"), "former");
#endif
}

// ---------------------------------------------------------------- export

TEST_F(CliTest, ExportNamesFilesAndSkipsUnreadableMessages) {
  const std::vector<std::string> subjects = {" Hello World ",
                                             "a/b\\c:d*e?f\"g<h>i|j",
                                             "caf\xe9\x01\ttab\x7f\x81",
                                             "",
                                             Repeat("x", 200),
                                             "Hello World",
                                             "unreadable",
                                             "   "};
  std::vector<TTestMessage> messages;
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    TTestMessage m;
    m.Subject = subjects[i];
    // No Subject line: the names come from the stored subjects.
    if (subjects[i] != "unreadable") m.Text = "X-Index: " + std::to_string(i) + "\nbody\r";
    messages.push_back(m);
  }
  DbxOf(messages).WriteFile(Dir / "a.dbx");
  const std::string out = Dir / "out";
  const TCliRun run = Run({"export", Dir / "a.dbx", out});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "postvue-cli: message 6: No text found.\npostvue-cli: exported 7, errors 1\n");
  const std::vector<std::string> expected = {"0000 - Hello World.eml",
                                             "0001 - a_b_c_d_e_f_g_h_i_j.eml",
                                             "0002 - caf\xc3\xa9__tab__.eml", // C0, DEL and C1 controls go
                                             "0003.eml",
                                             "0004 - " + Repeat("x", 79) + "\xe2\x80\xa6.eml", // cut, and says so
                                             "0005 - Hello World.eml",
                                             "0007.eml"};
  EXPECT_EQ(SortedNames(out), expected); // store order, nothing else (no temporary file)
  for (const std::size_t i : {0, 1, 2, 3, 4, 5}) {
    EXPECT_EQ(ReadFileBytes(out + "/" + expected[i]), "X-Index: " + std::to_string(i) + "\r\nbody\r\n") << i;
  }
  EXPECT_EQ(ReadFileBytes(out + "/0007.eml"), "X-Index: 7\r\nbody\r\n");
}

// Subjects as people read them: Windows-1252 bytes, and the encoded words
// most mail programs write, in the character sets they name.
TEST_F(CliTest, ExportNamesKeepLetters) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\x93" "Caf\xe9\x94 menu for Friday", "\xe2\x80\x9c" "Caf\xc3\xa9\xe2\x80\x9d menu for Friday"},
      {"=?iso-8859-1?Q?Caf=E9_cr=E8me?=", "Caf\xc3\xa9 cr\xc3\xa8me"},
      {"Re: =?ISO-8859-2?q?=B1?= and =?windows-1251?B?z/Do4uXy?=!",
       "Re_ \xc4\x85 and \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82!"},
      // Blanks between encoded words go; a character split between two words is whole again.
      {"=?utf-8?B?ww==?= =?UTF-8?B?qQ==?=\t =?utf-8?Q?=E2=82=AC?= x", "\xc3\xa9\xe2\x82\xac x"},
      // 8-bit bytes labelled ASCII are the writer's Windows-1252, as in bodies.
      {"=?iso-8859-15?Q?=A4?= =?us-ascii?Q?a=FF?=", "\xe2\x82\xac" "a\xc3\xbf"},
      // An unknown character set reads as Windows-1252; a broken word stays as written (made safe).
      {"=?x-unknown?Q?abc?= =?utf-8?B?!!?=", "abc =_utf-8_B_!!_="},
      // Too long for a name: cut after a word where one ends near the limit (80 characters, 200
      // bytes, the ellipsis within), and marked as cut.
      {Repeat("abcdef ", 20), Repeat("abcdef ", 10) + "abcdef\xe2\x80\xa6"},
      {Repeat("\x80", 100), Repeat("\xe2\x82\xac", 65) + "\xe2\x80\xa6"},
  };
  std::vector<TTestMessage> messages;
  for (const auto& [subject, name] : cases) {
    TTestMessage m;
    m.Subject = subject;
    m.Text = "x";
    messages.push_back(m);
  }
  // The list's 8-bit subject lost the Japanese letters; the message's own Subject line has them.
  TTestMessage japanese;
  japanese.Subject = "?? photos";
  japanese.Text = "Subject: =?UTF-8?B?5pel5pys?= photos\r\n\r\nx";
  messages.push_back(japanese);
  DbxOf(messages).WriteFile(Dir / "a.dbx");
  const TCliRun run = Run({"export", Dir / "a.dbx", Dir / "out"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < cases.size(); ++i)
    expected.push_back("000" + std::to_string(i) + " - " + cases[i].second + ".eml");
  expected.push_back("000" + std::to_string(cases.size()) + " - \xe6\x97\xa5\xe6\x9c\xac photos.eml");
  EXPECT_EQ(SortedNames(Dir / "out"), expected);
}

// The user's own files in the folder stay as they are, whatever holds their name.
TEST_F(CliTest, ExportIntoAFolderReplacesNoFile) {
  MakeMbx({{"Subject: one\r\n\r\n1", 1}, {"Subject: two\r\n\r\n2\n", 2}}).WriteFile(Dir / "a.mbx");
  fs::create_directory(Dir / "out");
  WriteFileBytes(Dir / "out/0000 - one.eml", "mine");
  fs::create_directory(Dir / "out/0000 - one (2).eml");
  const TCliRun run = Run({"export", Dir / "a.mbx", Dir / "out/"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err, "postvue-cli: exported 2, errors 0, under a new name 1 (their names were taken)\n");
  EXPECT_EQ(SortedNames(Dir / "out"), (std::vector<std::string>{"0000 - one (2).eml", "0000 - one (3).eml",
                                                                "0000 - one.eml", "0001 - two.eml"}));
  EXPECT_EQ(ReadFileBytes(Dir / "out/0000 - one.eml"), "mine");
  EXPECT_EQ(ReadFileBytes(Dir / "out/0000 - one (3).eml"), "Subject: one\r\n\r\n1\r\n");
  EXPECT_EQ(ReadFileBytes(Dir / "out/0001 - two.eml"), "Subject: two\r\n\r\n2\r\n");

  // Again: what was written is found under the variant it took, past the user's file and folder.
  const TCliRun again = Run({"export", Dir / "a.mbx", Dir / "out"});
  EXPECT_EQ(again.Status, 0);
  EXPECT_EQ(again.Err, "postvue-cli: exported 0, unchanged 2, errors 0\n");
  EXPECT_EQ(SortedNames(Dir / "out").size(), 4u);
  EXPECT_EQ(ReadFileBytes(Dir / "out/0000 - one.eml"), "mine");
#ifndef _WIN32
  // A link is a name taken too, even one that leads nowhere.
  fs::create_directory(Dir / "linked");
  fs::create_symlink(Dir / "absent", Dir / "linked/0000 - one.eml");
  EXPECT_EQ(Run({"export", Dir / "a.mbx", Dir / "linked"}).Status, 0);
  EXPECT_FALSE(fs::exists(Dir / "absent"));
  EXPECT_TRUE(fs::exists(Dir / "linked/0000 - one (2).eml"));
#endif
}

// A repeated export writes only what is new: a file that holds what it would
// write is left alone, a file the user changed keeps its name and contents.
TEST_F(CliTest, ExportAgainWritesOnlyWhatIsNew) {
  MakeMbx({{"Subject: one\r\n\r\n1", 1}, {"Subject: two\r\n\r\n2", 2}}).WriteFile(Dir / "a.mbx");
  const std::string out = Dir / "out";
  ASSERT_EQ(Run({"export", Dir / "a.mbx", out}).Status, 0);
  fs::last_write_time(out + "/0001 - two.eml", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  const auto time = fs::last_write_time(out + "/0001 - two.eml"); // as the file system keeps it

  TCliRun run = Run({"export", Dir / "a.mbx", out});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "postvue-cli: exported 0, unchanged 2, errors 0\n");
  EXPECT_EQ(SortedNames(out), (std::vector<std::string>{"0000 - one.eml", "0001 - two.eml"}));
  EXPECT_EQ(fs::last_write_time(out + "/0001 - two.eml"), time); // not written again

  WriteFileBytes(out + "/0000 - one.eml", "Subject: one\r\n\r\nmy note\r\n");
  run = Run({"export", Dir / "a.mbx", out});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "postvue-cli: exported 1, unchanged 1, errors 0, under a new name 1 (their names were taken)\n");
  EXPECT_EQ(ReadFileBytes(out + "/0000 - one.eml"), "Subject: one\r\n\r\nmy note\r\n");
  EXPECT_EQ(ReadFileBytes(out + "/0000 - one (2).eml"), "Subject: one\r\n\r\n1\r\n");
  EXPECT_EQ(Run({"export", Dir / "a.mbx", out}).Err, "postvue-cli: exported 0, unchanged 2, errors 0\n");
}

// A folder that takes no file fails once, not once per message.
TEST_F(CliTest, ExportIntoAFolderThatMayNotBeWrittenStopsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder's read-only mark keeps no one from making files in it on Windows";
#else
  if (geteuid() == 0) GTEST_SKIP() << "the superuser may write any folder";
#endif
  MakeMbx({{"Subject: one\r\n\r\n1", 1}, {"Subject: two\r\n\r\n2", 2}}).WriteFile(Dir / "a.mbx");
  fs::create_directory(Dir / "out");
  fs::permissions(Dir / "out", fs::perms::owner_read | fs::perms::owner_exec);
  const TCliRun run = Run({"export", Dir / "a.mbx", Dir / "out"});
  fs::permissions(Dir / "out", fs::perms::owner_all);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "postvue-cli: Cannot create file " + (Dir / "out/0000 - one.eml") + ".\n" +
                         ReasonLine(std::errc::permission_denied) + "postvue-cli: exported 0, errors 1\n");
  EXPECT_TRUE(SortedNames(Dir / "out").empty());
}

TEST_F(CliTest, ExportNumbersWidenWithTheCount) {
  // 10001 messages need five digits; only the first and the last have a text.
  std::vector<TTestMessage> messages(10001);
  messages.front().Subject = "first";
  messages.front().Text = "1";
  messages.back().Subject = "last";
  messages.back().Text = "2";
  MakeDbx(messages).WriteFile(Dir / "a.dbx");
  const TCliRun run = Run({"export", Dir / "a.dbx", Dir / "out"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(SortedNames(Dir / "out"), (std::vector<std::string>{"00000 - first.eml", "10000 - last.eml"}));
  // Progress lines may come between them when the run takes more than a second.
  std::size_t errors = 0;
  for (std::size_t at = run.Err.find("postvue-cli: message "); at != std::string::npos;
       at = run.Err.find("postvue-cli: message ", at + 1))
    ++errors;
  EXPECT_EQ(errors, 9999u);
  EXPECT_EQ(run.Err.substr(0, 39), "postvue-cli: message 1: No text found.\n");
  EXPECT_TRUE(run.Err.ends_with("\npostvue-cli: exported 2, errors 9999\n")) << run.Err.substr(run.Err.size() - 100);
}

// Only the last folder of DIR is made: a mistyped path fails instead of
// leaving a tree of folders behind.
// Paths and arguments are Unicode (UTF-8 here, UTF-16 on Windows): stores,
// folders and files named in any script open, list, save and export, and an
// .mbx store's folder name (its file's name) comes out as it was given.
TEST_F(CliTest, UnicodeNamesEverywhere) {
  const std::string folder = Dir / "Почта ü";
  fs::create_directory(PathFromUtf8(folder));
  const std::string dbx = folder + "/Entwürfe.dbx", mbx = folder + "/Входящие.mbx";
  TTestMessage m;
  m.Subject = "Hallo";
  m.Text = "Subject: Hallo\r\n\r\nText";
  DbxOf({m}, "Entw\xfcrfe").WriteFile(dbx);
  MakeMbx({{"Subject: one\r\n\r\n1", 1}}).WriteFile(mbx);
  TIdxRecord record;
  record.Strings[0] = "from the index";
  MakeIdx({record}).WriteFile(folder + "/Входящие.idx");

  TCliRun run = Run({"list", "--json", mbx});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("\"folder\": \"Входящие\""), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("\"Subject\": \"from the index\""), std::string::npos) << run.Out;
  run = Run({"list", "--json", dbx});
  EXPECT_NE(run.Out.find("\"folder\": \"Entwürfe\""), std::string::npos) << run.Out;
  EXPECT_EQ(Run({"list", dbx}).Out, "0\t\t\t\t\tHallo\t1899-12-30 00:00:00\t" + std::to_string(m.Text.size()) + "\n");
  EXPECT_EQ(Run({"text", mbx, "0"}).Out, "Subject: one\r\n\r\n1");

  EXPECT_EQ(Run({"save", dbx, "0", folder + "/Nachricht ä.eml"}).Status, 0);
  EXPECT_EQ(ReadFileBytes(folder + "/Nachricht ä.eml"), "Subject: Hallo\r\n\r\nText\r\n");
  EXPECT_EQ(Run({"export", mbx, folder + "/Экспорт"}).Status, 0);
  // Named from the message's own Subject line, not the index's text.
  EXPECT_EQ(SortedNames(folder + "/Экспорт"), std::vector<std::string>{"0000 - one.eml"});
  EXPECT_EQ(Run({"export", "--mbox", dbx, folder + "/Ящик.mbox"}).Status, 0);
  EXPECT_NE(ReadFileBytes(folder + "/Ящик.mbox").find("Subject: Hallo\n\nText\n"), std::string::npos);

  // A failure names the path as it was given.
  ExpectError({"list", folder + "/Нет.dbx"}, "Cannot open file " + folder + "/Нет.dbx.",
              ReasonLine(std::errc::no_such_file_or_directory));
}

TEST_F(CliTest, ExportFolderThatCannotBeMadeFails) {
  TTestMessage m;
  m.Text = "x";
  DbxOf({m}).WriteFile(Dir / "a.dbx");
  WriteFileBytes(Dir / "plain", "kept");
  ExpectError({"export", Dir / "a.dbx", Dir / "plain"}, "Cannot create folder " + (Dir / "plain") + ".",
              "postvue-cli: a file of that name is there\n");
  EXPECT_EQ(ReadFileBytes(Dir / "plain"), "kept");
  ExpectError({"export", Dir / "a.dbx", Dir / "missing/deep/out"},
              "Cannot create folder " + (Dir / "missing/deep/out") + ".",
              "postvue-cli: its parent folder " + (Dir / "missing/deep") +
                  " does not exist (only the last folder of a path is made)\n");
  EXPECT_FALSE(fs::exists(Dir / "missing"));
  EXPECT_EQ(Run({"export", Dir / "a.dbx", Dir / "new"}).Status, 0);
  EXPECT_EQ(SortedNames(Dir / "new"), std::vector<std::string>{"0000.eml"});
}

// ---------------------------------------------------------------- errors

// Every command reports a store that cannot be opened the same way and
// creates nothing.
TEST_F(CliTest, MissingStoreInEveryCommand) {
  const std::string store = Dir / "missing.dbx";
  const std::string expected = "Cannot open file " + store + ".";
  const std::string reason = ReasonLine(std::errc::no_such_file_or_directory);
  ExpectError({"list", store}, expected, reason);
  ExpectError({"list", "--json", store}, expected, reason);
  ExpectError({"text", store, "0"}, expected, reason);
  ExpectError({"header", store, "0"}, expected, reason);
  ExpectError({"save", store, "0", Dir / "out.eml"}, expected, reason);
  ExpectError({"export", store, Dir / "out"}, expected, reason);
  EXPECT_FALSE(fs::exists(Dir / "out.eml"));
  EXPECT_FALSE(fs::exists(Dir / "out"));
}

TEST_F(CliTest, ErrorLinesFollowTheFullStopRule) {
  // Nothing appended after a character at or below '.'.
  const std::string missing = ReasonLine(std::errc::no_such_file_or_directory);
  ExpectError({"list", Dir / "none-"}, "Cannot open file " + (Dir / "none-"), missing);
  ExpectError({"list", Dir / "none."}, "Cannot open file " + (Dir / "none."), missing);
  ExpectError({"list", Dir.Path()}, "Cannot open file " + Dir.Path() + ".", ReasonLine(std::errc::is_a_directory));
#ifndef _WIN32
  if (geteuid() != 0) { // root reads every file
    WriteFileBytes(Dir / "locked.dbx", "x");
    fs::permissions(Dir / "locked.dbx", fs::perms::none);
    ExpectError({"list", Dir / "locked.dbx"}, "Cannot open file " + (Dir / "locked.dbx") + ".",
                ReasonLine(std::errc::permission_denied));
  }
#endif

  WriteFileBytes(Dir / "short", "\xCF\xAD\x12");
  ExpectError({"list", Dir / "short"}, "Stream read error.", kRecoverHint);
  WriteFileBytes(Dir / "other", "FMDF and more bytes");
  ExpectError({"list", Dir / "other"}, "File is not in supported format.");
  WriteFileBytes(Dir / "reversed", "6FMJ and more bytes");
  ExpectError({"list", Dir / "reversed"}, "File is not in supported format.");
}

TEST_F(CliTest, ReaderRejections) {
  TDbxImage kind = DbxOf(std::vector<TTestMessage>(1));
  kind.SetKind(0x6F74FDC6);
  kind.WriteFile(Dir / "kind.dbx");
  ExpectError({"list", Dir / "kind.dbx"}, "File is not an Outlook Express 5 Message Database.");

  // An empty store is sound: no message to show, but nothing for recover either.
  DbxOf({}).WriteFile(Dir / "empty.dbx");
  ExpectError({"list", Dir / "empty.dbx"}, "File does not contain any message.");

  TDbxImage fewer = DbxOf(std::vector<TTestMessage>(2));
  fewer.SetMessageCount(3); // the tree holds two
  fewer.WriteFile(Dir / "fewer.dbx");
  ExpectError({"list", "--json", Dir / "fewer.dbx"}, "Wrong number of values found.", kRecoverHint);

  TDbxImage circular;
  const std::uint32_t first = circular.AddBlock("ab");
  circular.U32(first + 12, circular.AddBlock("cd", first));
  circular.BuildTree({circular.AddMessageInfo(PropertiesOf({}, first))});
  circular.WriteFile(Dir / "circular.dbx");
  ExpectError({"list", Dir / "circular.dbx"}, "Circular text block chain.", kRecoverHint);

  TMbxImage negative = MakeMbx({{"Subject: a\r\n\r\nb"}});
  negative.SetMessageCount(-1);
  negative.WriteFile(Dir / "negative.mbx");
  ExpectError({"list", Dir / "negative.mbx"}, "Range check error.", kRecoverHint);

  // Exported, an empty store is an empty folder.
  MakeMbx({}).WriteFile(Dir / "empty.mbx");
  ExpectError({"text", Dir / "empty.mbx", "0"}, "File does not contain any message.");
  for (const std::string& store : {Dir / "empty.dbx", Dir / "empty.mbx"}) {
    TCliRun run = Run({"export", store, Dir / "out"});
    EXPECT_EQ(run.Status, 0) << store;
    EXPECT_EQ(run.Err, "postvue-cli: exported 0, errors 0\n") << store;
    EXPECT_TRUE(SortedNames(Dir / "out").empty());
    run = Run({"export", "--mbox", store, Dir / "out.mbox"});
    EXPECT_EQ(run.Status, 0) << store;
    EXPECT_EQ(run.Err, "postvue-cli: exported 0, errors 0\n") << store;
    EXPECT_EQ(ReadFileBytes(Dir / "out.mbox"), "");
  }
}

TEST_F(CliTest, IndexWithoutMessage) {
  TTestMessage m;
  m.Text = "x";
  DbxOf({m}).WriteFile(Dir / "a.dbx");
  MakeMbx({{"Subject: a\r\n\r\nb"}}).WriteFile(Dir / "a.mbx");
  for (const std::string& store : {Dir / "a.dbx", Dir / "a.mbx"}) {
    for (const std::string index : {"1", "-1", "2147483647", "-2147483648"}) {
      const std::string expected = "there is no message " + index + ": the store has only message 0.";
      ExpectError({"text", store, index}, expected);
      ExpectError({"save", store, index, Dir / "out.eml"}, expected);
    }
  }
  DbxOf(std::vector<TTestMessage>(10, m)).WriteFile(Dir / "ten.dbx");
  ExpectError({"header", Dir / "ten.dbx", "10"}, "there is no message 10: the store has messages 0 to 9.");
  EXPECT_FALSE(fs::exists(Dir / "out.eml"));
}

// ---------------------------------------------------------------- usage

// Text for people on a terminal: a store's subject or folder name that holds
// ESC or CSI cannot retitle the terminal or clear it; letters, tabs and
// line breaks go through as they are.
TEST(TerminalText, ControlCharactersAreShownNotObeyed) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(postvue::cli::TerminalText("a\tb\r\nC\xC3\xA9\xE2\x82\xAC\n"), "a\tb\r\nC\xC3\xA9\xE2\x82\xAC\n");
  EXPECT_EQ(postvue::cli::TerminalText("\x1B]0;owned\x07x\x1B[2J\x7F\xC2\x9B" "2J\xC2\xA0"),
            replacement + "]0;owned" + replacement + "x" + replacement + "[2J" + replacement + replacement + "2J\xC2\xA0");
}

TEST_F(CliTest, HelpPrintsUsage) {
  for (const char* option : {"--help", "-h"}) {
    const TCliRun run = Run({option});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out.rfind("Usage: postvue-cli", 0), 0u) << run.Out;
    for (const char* command : {"list [--json] STORE", "text STORE INDEX", "header STORE INDEX",
                                "save STORE INDEX FILE", "export STORE DIR"})
      EXPECT_NE(run.Out.find(command), std::string::npos) << command;
  }
}

// A usage error says what was wrong first, then only the usage of the
// command it was for.
TEST_F(CliTest, UsageErrors) {
  // "s" names no file: a command that got as far as opening it would exit 1.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "COMMAND"},
      {{"bogus"}, "COMMAND"},
      {{"LIST", "s"}, "COMMAND"},
      {{"list"}, "list"},
      {{"list", "s", "t"}, "list"},
      {{"list", "--json"}, "list"},
      {{"list", "--json", "s", "t"}, "list"},
      {{"list", "s", "--json"}, "list"},
      {{"list", "--jsn", "s"}, "list"},
      {{"text", "s"}, "text"},
      {{"text", "s", "0", "x"}, "text"},
      {{"text", "s", "x"}, "text"},
      {{"text", "s", ""}, "text"},
      {{"text", "s", "1.5"}, "text"},
      {{"text", "s", "2147483648"}, "text"},
      {{"text", "s", "-2147483649"}, "text"},
      {{"text", "s", " 1"}, "text"},
      {{"text", "s", "1 "}, "text"},
      {{"text", "s", "+1"}, "text"},
      {{"text", "s", "0x1"}, "text"},
      {{"header", "s"}, "header"},
      {{"header", "s", "-"}, "header"},
      {{"save", "s", "0"}, "save"},
      {{"save", "s", "a", "f"}, "save"},
      {{"save", "s", "0", "f", "g"}, "save"},
      {{"export", "s"}, "export"},
      {{"export", "s", "d", "e"}, "export"},
      {{"--help", "x"}, "COMMAND"},
      {{"-h", "list"}, "COMMAND"},
  };
  for (const auto& [args, command] : cases) {
    const TCliRun run = Run(args);
    const std::string shown = args.empty() ? "(none)" : args[0] + " ... (" + std::to_string(args.size()) + ")";
    EXPECT_EQ(run.Status, 2) << shown;
    EXPECT_EQ(run.Out, "") << shown;
    const std::size_t firstEnd = run.Err.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << shown;
    EXPECT_EQ(run.Err.rfind("postvue-cli: ", 0), 0u) << shown << run.Err;
    EXPECT_EQ(run.Err.find("Usage: postvue-cli " + command + " "), firstEnd + 1) << shown << run.Err;
    EXPECT_LE(std::count(run.Err.begin(), run.Err.end(), '\n'), 5) << shown << run.Err;
  }
  EXPECT_EQ(Run({"text", "s", "x"}).Err.rfind("postvue-cli: INDEX must be a number", 0), 0u);
  EXPECT_EQ(Run({"export", "s"}).Err.rfind("postvue-cli: missing DIR\n", 0), 0u);
}

TEST_F(CliTest, CommandHelp) {
  for (const char* command : {"list", "text", "header", "save", "export", "recover"}) {
    const TCliRun run = Run({command, "--help"});
    EXPECT_EQ(run.Status, 0) << command;
    EXPECT_EQ(run.Err, "") << command;
    EXPECT_EQ(run.Out.rfind("Usage: postvue-cli " + std::string(command) + " ", 0), 0u) << run.Out;
  }
  EXPECT_NE(Run({"export", "s", "-h"}).Out.find("export --mbox STORE FILE"), std::string::npos);
}

// ---------------------------------------------------------------- stores made by the mail program

TEST_F(CliTest, RealStores) {
  const std::string real = POSTVUE_REAL_STORES;
  if (!fs::is_directory(real)) GTEST_SKIP() << "no real stores at " << real;
  TCliRun run = Run({"list", real + "/Inbox.dbx"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "0\t\t\t\tMicrosoft Outlook Express Team\tWelcome to Outlook Express 6\t"
                     "2021-12-12 04:45:59\t10139\n");
  run = Run({"header", real + "/Inbox.dbx", "0"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Out.find("\r\nSubject: Welcome to Outlook Express 6\r\n"), std::string::npos);
  run = Run({"export", real + "/fragment-left.dbx", Dir / "out"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(SortedNames(Dir / "out"), std::vector<std::string>{"0000 - Please read you won't be sorry.........eml"});
  ExpectError({"list", real + "/Outbox.dbx"}, "File does not contain any message.");
  run = Run({"export", real + "/Outbox.dbx", Dir / "outbox"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "postvue-cli: exported 0, errors 0\n");
  ExpectError({"list", real + "/Folders.dbx"}, "File is not an Outlook Express 5 Message Database.");
  ExpectError({"list", real + "/other-format-Mail"}, "File is not in supported format.");
}

} // namespace
