// The common ground of the readers: format recognition by the bare base
// reader, its abstract operations, the record, the exception classes, the
// file layer and the date-time conversions.
#include "DateTime.h"
#include "DbxReader.h"
#include "FileStream.h"
#include "MailbaseReader.h"
#include "StoreWriter.h"
#include "TestSupport.h"
#include "FilePaths.h"
#include "WinApi.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <type_traits>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace postvue;
using namespace postvue::testing;

namespace {

// A base reader whose stream the test may look at.
class TProbe : public TMailbaseReader {
public:
  const TFileStream* OpenStream() const { return Stream.get(); }
};

// How many of this process's open files refer to path (Linux; on Windows 1
// when the file is open anywhere, 0 when not; -1 elsewhere).
int HandlesTo(const std::string& path) {
#ifdef _WIN32
  // An open file refuses an open that shares nothing.
  const HANDLE h = CreateFileW(PathFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
#else
  const std::filesystem::path fds("/proc/self/fd");
  std::error_code ec;
  if (!std::filesystem::is_directory(fds, ec)) return -1;
  const auto target = std::filesystem::canonical(path, ec);
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fds, ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == target) ++n;
  }
  return n;
#endif
}

bool AllZero(const TMessageRecord& record) {
  TMessageRecord zero;
  std::memset(&zero, 0, sizeof zero);
  return std::memcmp(&record, &zero, sizeof zero) == 0;
}

// ------------------------------------------------------------ format recognition

struct TFormatCase {
  const char* Name;
  std::string Bytes;
  TStoreFormat Format;
};

void PrintTo(const TFormatCase& c, std::ostream* os) { *os << c.Name; }

class FormatRecognition : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(FormatRecognition, FirstFourBytesDecide) {
  TTempDir dir;
  WriteFileBytes(dir / "store", GetParam().Bytes);
  TProbe probe;
  probe.SetFileName(dir / "store");
  EXPECT_EQ(probe.Format, GetParam().Format);
  EXPECT_TRUE(probe.Active); // also for an unknown format: the caller decides
  EXPECT_EQ(probe.FileName, dir / "store");
  ASSERT_NE(probe.OpenStream(), nullptr);
  EXPECT_EQ(probe.OpenStream()->Position, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    BaseReader, FormatRecognition,
    ::testing::Values(TFormatCase{"Mbx", std::string("JMF6") + std::string(80, '\0'), sfMBX},
                      TFormatCase{"Dbx", std::string("\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F", 8), sfDBX},
                      TFormatCase{"MbxExactlyFourBytes", "JMF6", sfMBX},
                      TFormatCase{"DbxExactlyFourBytes", std::string("\xCF\xAD\x12\xFE", 4), sfDBX},
                      TFormatCase{"MbxReversed", "6FMJ", sfUnknown},
                      TFormatCase{"DbxReversed", std::string("\xFE\x12\xAD\xCF", 4), sfUnknown},
                      TFormatCase{"IdxMagic", std::string("JMF9") + std::string(76, '\0'), sfUnknown},
                      TFormatCase{"OtherProgram", "FMDF\x00\x02\x00\x00", sfUnknown},
                      TFormatCase{"Zeros", std::string(4, '\0'), sfUnknown}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(BaseReader, ShortFileIsAReadError) {
  for (const std::string& bytes : {std::string(), std::string("JMF"), std::string("\xCF\xAD\x12", 3)}) {
    SCOPED_TRACE(bytes.size());
    TTempDir dir;
    WriteFileBytes(dir / "short", bytes);
    TProbe probe;
    EXPECT_RAISES(probe.SetFileName(dir / "short"), EReadError, "Stream read error");
    EXPECT_FALSE(probe.Active);
    EXPECT_EQ(probe.Format, sfUnknown);
    EXPECT_EQ(probe.FileName, dir / "short");
    EXPECT_NE(probe.OpenStream(), nullptr); // kept open until the next Open
  }
}

TEST(BaseReader, PathThatCannotBeOpened) {
  TTempDir dir;
  std::vector<std::string> paths = {dir / "missing.dbx", dir.Path()};
#ifndef _WIN32
  // Opening a named pipe for reading would wait for a writer.
  ASSERT_EQ(::mkfifo((dir / "pipe.dbx").c_str(), 0600), 0);
  paths.push_back(dir / "pipe.dbx");
#endif
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    TProbe probe;
    EXPECT_RAISES(probe.SetFileName(path), EFOpenError, "Cannot open file " + path);
    EXPECT_FALSE(probe.Active);
    EXPECT_EQ(probe.Format, sfUnknown);
    EXPECT_EQ(probe.FileName, path);
    EXPECT_EQ(probe.OpenStream(), nullptr);
  }
}

TEST(BaseReader, ReopenClosesTheFirstFileFirst) {
  TTempDir dir;
  WriteFileBytes(dir / "first.dbx", std::string("\xCF\xAD\x12\xFE", 4));
  WriteFileBytes(dir / "second.mbx", "JMF6");
  if (HandlesTo(dir / "first.dbx") < 0) GTEST_SKIP() << "no /proc/self/fd to count open files";

  TProbe probe;
  probe.SetFileName(dir / "first.dbx");
  EXPECT_EQ(HandlesTo(dir / "first.dbx"), 1);
  probe.SetFileName(dir / "second.mbx");
  EXPECT_EQ(HandlesTo(dir / "first.dbx"), 0);
  EXPECT_EQ(HandlesTo(dir / "second.mbx"), 1);
  EXPECT_EQ(probe.Format, sfMBX);

  // Also when the next file cannot be opened: the previous one is closed and forgotten.
  EXPECT_RAISES(probe.SetFileName(dir / "missing"), EFOpenError, "Cannot open file " + (dir / "missing"));
  EXPECT_EQ(HandlesTo(dir / "second.mbx"), 0);
  EXPECT_EQ(probe.Format, sfUnknown);
  EXPECT_FALSE(probe.Active);
}

TEST(BaseReader, DestroyingAReaderClosesItsFile) {
  TTempDir dir;
  WriteFileBytes(dir / "a.dbx", std::string("\xCF\xAD\x12\xFE", 4));
  if (HandlesTo(dir / "a.dbx") < 0) GTEST_SKIP() << "no /proc/self/fd to count open files";
  {
    TProbe probe;
    probe.SetFileName(dir / "a.dbx");
    EXPECT_EQ(HandlesTo(dir / "a.dbx"), 1);
  }
  EXPECT_EQ(HandlesTo(dir / "a.dbx"), 0);
}

// ------------------------------------------------------------ the bare reader's abstract operations

struct TAbstractCase {
  const char* Name;
  std::function<void(TMailbaseReader&)> Call;
};

void PrintTo(const TAbstractCase& c, std::ostream* os) { *os << c.Name; }

class AbstractOperation : public ::testing::TestWithParam<TAbstractCase> {};

TEST_P(AbstractOperation, RaisesAbstractError) {
  TTempDir dir;
  WriteFileBytes(dir / "a.dbx", std::string("\xCF\xAD\x12\xFE", 4));
  TMailbaseReader probe;
  EXPECT_RAISES(GetParam().Call(probe), EAbstractError, "Abstract Error");
  probe.SetFileName(dir / "a.dbx"); // an opened probe is still abstract
  EXPECT_RAISES(GetParam().Call(probe), EAbstractError, "Abstract Error");
}

INSTANTIATE_TEST_SUITE_P(
    BaseReader, AbstractOperation,
    ::testing::Values(TAbstractCase{"GetFolderName", [](TMailbaseReader& r) { r.GetFolderName(); }},
                      TAbstractCase{"GetMessageHeader", [](TMailbaseReader& r) { r.GetMessageHeader(0); }},
                      TAbstractCase{"GetMessageText", [](TMailbaseReader& r) { r.GetMessageText(0); }},
                      TAbstractCase{"GetCount", [](TMailbaseReader& r) { r.GetCount(); }},
                      TAbstractCase{"GetMessage",
                                    [](TMailbaseReader& r) {
                                      TMessageRecord record;
                                      r.GetMessage(0, record);
                                    }},
                      TAbstractCase{"Load", [](TMailbaseReader& r) { r.Load(); }}),
    [](const auto& info) { return std::string(info.param.Name); });

// SetFileName reaches the concrete reader's Open through the virtual slot.
TEST(BaseReader, SetFileNameRunsTheConcreteOpen) {
  TTempDir dir;
  WriteFileBytes(dir / "a.dbx", std::string("\xCF\xAD\x12\xFE", 4));
  TDBXReader dbx;
  TMailbaseReader& reader = dbx;
  EXPECT_RAISES(reader.SetFileName(dir / "a.dbx"), EReadError, "Stream read error"); // the missing header
  EXPECT_EQ(reader.Format, sfDBX);
  EXPECT_FALSE(reader.Active);
}

// ------------------------------------------------------------ records handed out

TEST(MessageRecord, BadIndexGivesAnAllZeroRecord) {
  TTempDir dir;
  TTestMessage m;
  m.Subject = "Hello";
  m.SenderName = "Ann";
  m.Received = FileTimeOf(2004, 1, 1, 12);
  m.Text = "Subject: Hello\r\n\r\nbody";
  MakeDbx({m, m}).WriteFile(dir / "a.dbx");
  TDBXReader reader;
  reader.SetFileName(dir / "a.dbx");

  TMessageRecord record;
  std::memset(&record, 0xAB, sizeof record);
  reader.GetMessage(0, record); // before Load
  EXPECT_TRUE(AllZero(record));

  reader.Load();
  for (const std::int32_t index : {-1, 2, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(index);
    std::memset(&record, 0xAB, sizeof record);
    reader.GetMessage(index, record);
    EXPECT_TRUE(AllZero(record));
    EXPECT_EQ(record.Received, 0.0);
  }
  reader.GetMessage(1, record);
  EXPECT_EQ(record.Subject.Str(), "Hello");
}

TEST(MessageRecord, CopiesAreIndependent) {
  TTempDir dir;
  TTestMessage m;
  m.Subject = "Original";
  MakeDbx({m}).WriteFile(dir / "a.dbx");
  TDBXReader reader;
  reader.SetFileName(dir / "a.dbx");
  reader.Load();

  TMessageRecord first;
  reader.GetMessage(0, first);
  first.Subject.Assign("Changed");
  first.Flags = 0;
  first.Received = 1.0;
  TMessageRecord second;
  reader.GetMessage(0, second);
  EXPECT_EQ(second.Subject.Str(), "Original");
  EXPECT_EQ(second.Flags, 0x80u);
  EXPECT_EQ(second.Received, 0.0);
}

TEST(MessageRecord, InlineTextHoldsAtMost255Bytes) {
  TShortString text;
  const std::string long300 = std::string(250, 'a') + "bcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX";
  text.Assign(long300);
  EXPECT_EQ(text.Length, 255);
  EXPECT_EQ(text.Str(), long300.substr(0, 255));
  text.Assign(std::string(255, 'z'));
  EXPECT_EQ(text.Str(), std::string(255, 'z'));
  text.Assign(std::string_view());
  EXPECT_TRUE(text.Empty());
  text.Assign(std::string("a\0b\xFF", 4)); // bytes as they are
  EXPECT_EQ(text.Str(), std::string("a\0b\xFF", 4));
}

// ------------------------------------------------------------ exception classes

TEST(Exceptions, ReaderClassesAreSiblings) {
  EXPECT_TRUE((std::is_base_of_v<Exception, EMailbaseReaderException>));
  EXPECT_TRUE((std::is_base_of_v<Exception, EDBXReaderException>));
  EXPECT_TRUE((std::is_base_of_v<Exception, EMBXReaderException>));
  EXPECT_TRUE((std::is_base_of_v<std::exception, Exception>));
  EXPECT_FALSE((std::is_base_of_v<EMailbaseReaderException, EDBXReaderException>));
  EXPECT_FALSE((std::is_base_of_v<EMailbaseReaderException, EMBXReaderException>));
  EXPECT_FALSE((std::is_base_of_v<EDBXReaderException, EMBXReaderException>));
  EXPECT_FALSE((std::is_base_of_v<EMBXReaderException, EDBXReaderException>));
  EXPECT_FALSE((std::is_base_of_v<EDBXReaderException, EMailbaseReaderException>));

  // A handler for the application's class lets a DBX failure pass by.
  bool caughtAsMailbase = false, caughtAsException = false;
  try {
    try {
      throw EDBXReaderException("Wrong parent.");
    } catch (const EMailbaseReaderException&) {
      caughtAsMailbase = true;
    }
  } catch (const std::exception& e) {
    caughtAsException = std::string(e.what()) == "Wrong parent.";
  }
  EXPECT_FALSE(caughtAsMailbase);
  EXPECT_TRUE(caughtAsException);

  // The stream's errors are classes of their own, outside the readers' ones.
  EXPECT_FALSE((std::is_base_of_v<EReadError, EFOpenError>));
  EXPECT_FALSE((std::is_base_of_v<EFOpenError, EReadError>));
  EXPECT_FALSE((std::is_base_of_v<EDBXReaderException, EReadError>));
  EXPECT_STREQ(EFCreateError("/tmp/x").what(), "Cannot create file /tmp/x");
}

struct TBoxCase {
  std::string Message, Shown;
};

void PrintTo(const TBoxCase& c, std::ostream* os) { *os << ::testing::PrintToString(c.Message); }

class ErrorBox : public ::testing::TestWithParam<TBoxCase> {};

TEST_P(ErrorBox, FullStopAfterACharacterAboveTheFullStop) {
  EXPECT_EQ(ErrorBoxText(GetParam().Message), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, ErrorBox,
    ::testing::Values(TBoxCase{"Wrong number of values found", "Wrong number of values found."},
                      TBoxCase{"Wrong parent.", "Wrong parent."}, TBoxCase{"", ""},
                      TBoxCase{"ends with a dash -", "ends with a dash -"},    // 0x2D
                      TBoxCase{"ends with a slash /", "ends with a slash /."}, // 0x2F
                      TBoxCase{"high byte \xE9", "high byte \xE9."}));

// ------------------------------------------------------------ the file layer

TEST(FileStream, ReadsExactlyAcrossTheReadAheadWindow) {
  TTempDir dir;
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  WriteFileBytes(dir / "f", bytes);
  TFileStream stream(dir / "f");
  EXPECT_EQ(stream.Size(), bytes.size());

  struct TRead {
    std::uint64_t Offset;
    std::size_t Count;
  };
  // Small reads inside, across and after the 64 KiB window, backwards, and large ones.
  for (const TRead r : {TRead{0, 16}, TRead{10, 636}, TRead{65530, 12}, TRead{65536 - 4096, 4096}, TRead{5, 4},
                        TRead{131000, 4096}, TRead{100, 4097}, TRead{199990, 10}, TRead{0, 200000},
                        TRead{150000, 50000}}) {
    SCOPED_TRACE(r.Offset);
    std::string got(r.Count, '\0');
    stream.ReadAt(r.Offset, got.data(), r.Count);
    EXPECT_EQ(got, bytes.substr(r.Offset, r.Count));
  }
}

TEST(FileStream, ShortReadDeliversWhatThereWasThenRaises) {
  TTempDir dir;
  WriteFileBytes(dir / "f", "0123456789");
  TFileStream stream(dir / "f");
  for (const std::size_t count : {std::size_t{8}, std::size_t{6000}}) { // through the window and past it
    std::string got(count, '#');
    EXPECT_RAISES(stream.ReadAt(4, got.data(), count), EReadError, "Stream read error");
    EXPECT_EQ(got.substr(0, 7), "456789#");
  }
  char byte = 0;
  EXPECT_RAISES(stream.ReadAt(10, &byte, 1), EReadError, "Stream read error");
  EXPECT_RAISES(stream.ReadAt(0xFFFFFFFFull, &byte, 1), EReadError, "Stream read error");
  EXPECT_RAISES(stream.ReadStringAt(5, 6), EReadError, "Stream read error");
  EXPECT_RAISES(stream.ReadStringAt(5, 0xFFFFFFFFFFull), EReadError, "Stream read error");
  EXPECT_EQ(stream.ReadStringAt(5, 5), "56789");
}

TEST(FileStream, SequentialReadAdvancesOnlyOnSuccess) {
  TTempDir dir;
  WriteFileBytes(dir / "f", "abcdefgh");
  TFileStream stream(dir / "f");
  char four[4];
  stream.Read(four, 4);
  EXPECT_EQ(std::string(four, 4), "abcd");
  EXPECT_EQ(stream.Position, 4u);
  char six[6];
  EXPECT_RAISES(stream.Read(six, 6), EReadError, "Stream read error");
  EXPECT_EQ(stream.Position, 4u);
  stream.Seek(6);
  char two[2];
  stream.Read(two, 2);
  EXPECT_EQ(std::string(two, 2), "gh");
}

// The file may change while open; an operation that drops the window sees it as it is now.
TEST(FileStream, DroppingTheWindowShowsChanges) {
  TTempDir dir;
  WriteFileBytes(dir / "f", "before");
  TFileStream stream(dir / "f");
  char got[6];
  stream.ReadAt(0, got, 6);
  WriteFileBytes(dir / "f", "after!");
  stream.DropCache();
  stream.ReadAt(0, got, 6);
  EXPECT_EQ(std::string(got, 6), "after!");
}

TEST(FileStream, OpenErrors) {
  TTempDir dir;
  EXPECT_RAISES(TFileStream(dir / "none"), EFOpenError, "Cannot open file " + (dir / "none"));
  EXPECT_RAISES(TFileStream(dir.Path()), EFOpenError, "Cannot open file " + dir.Path());
  EXPECT_FALSE(FileExists(dir / "none"));
  EXPECT_FALSE(FileExists(dir.Path()));
  WriteFileBytes(dir / "there", "x");
  EXPECT_TRUE(FileExists(dir / "there"));
}

// ------------------------------------------------------------ FILETIME to date-time

struct TFileTimeCase {
  const char* Name;
  std::uint64_t FileTime;
  double Expected;
};

void PrintTo(const TFileTimeCase& c, std::ostream* os) { *os << c.Name; }

class FileTimeConversion : public ::testing::TestWithParam<TFileTimeCase> {};

TEST_P(FileTimeConversion, GivesDaysSince30December1899) {
  EXPECT_DOUBLE_EQ(FileTimeToDateTimeSafe(GetParam().FileTime), GetParam().Expected);
}

constexpr std::uint64_t kTicksPerDay = 864000000000ull;

INSTANTIATE_TEST_SUITE_P(
    DateTime, FileTimeConversion,
    ::testing::Values(
        TFileTimeCase{"FirstTick", 0, -109205.0},
        TFileTimeCase{"Noon1601", kTicksPerDay / 2, -109204.5},
        TFileTimeCase{"Noon1January2004", 127174320000000000ull, 37987.5},
        TFileTimeCase{"DayZero", FileTimeOf(1899, 12, 30), 0.0},
        TFileTimeCase{"DayZeroSixAM", FileTimeOf(1899, 12, 30, 6), 0.25},
        TFileTimeCase{"Day2Is1January1900", FileTimeOf(1900, 1, 1), 2.0},
        TFileTimeCase{"NoLeapDayIn1900", FileTimeOf(1900, 3, 1), 61.0},
        TFileTimeCase{"LeapDay2000", FileTimeOf(2000, 2, 29), 36585.0},
        TFileTimeCase{"LastMillisecondOf9999", FileTimeOf(9999, 12, 31, 23, 59, 59, 999),
                      2958465.0 + 86399999.0 / 86400000.0},
        TFileTimeCase{"Year10000TimeAlone", FileTimeOf(10000, 1, 1, 18), 0.75},
        TFileTimeCase{"Year30828TimeAlone", FileTimeOf(30828, 9, 14, 2, 48, 5, 477),
                      (2 * 3600000.0 + 48 * 60000.0 + 5 * 1000.0 + 477.0) / 86400000.0},
        // Below a millisecond is truncated: the last tick of a millisecond stays in it.
        TFileTimeCase{"SubMillisecondTruncated", 127174320000000000ull + 9999, 37987.5}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DateTime, SameMillisecondSameValue) {
  const std::uint64_t base = FileTimeOf(2021, 12, 12, 4, 45, 59, 276);
  const double value = FileTimeToDateTimeSafe(base);
  for (std::uint64_t tick = 1; tick < 10000; tick += 1111) EXPECT_EQ(FileTimeToDateTimeSafe(base + tick), value);
  EXPECT_GT(FileTimeToDateTimeSafe(base + 10000), value);
}

TEST(DateTime, BeyondYear9999GivesTheTimeOfDayAlone) {
  for (const std::uint64_t fileTime : {FileTimeOf(10000, 1, 1), FileTimeOf(12345, 6, 7, 23, 59, 59, 999),
                                       std::uint64_t{1} << 63, std::numeric_limits<std::uint64_t>::max()}) {
    SCOPED_TRACE(fileTime);
    const double value = FileTimeToDateTimeSafe(fileTime);
    EXPECT_GE(value, 0.0);
    EXPECT_LT(value, 1.0);
  }
}

// The calendar fields of a date-time value, as the command line prints them.
struct TDecodeCase {
  const char* Name;
  double Value;
  TDateTimeFields Fields;
};

void PrintTo(const TDecodeCase& c, std::ostream* os) { *os << c.Name; }

class DecodeDateTimeCase : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(DecodeDateTimeCase, Fields) {
  const TDateTimeFields f = DecodeDateTime(GetParam().Value);
  const TDateTimeFields& e = GetParam().Fields;
  EXPECT_EQ(f.Year, e.Year);
  EXPECT_EQ(f.Month, e.Month);
  EXPECT_EQ(f.Day, e.Day);
  EXPECT_EQ(f.Hour, e.Hour);
  EXPECT_EQ(f.Minute, e.Minute);
  EXPECT_EQ(f.Second, e.Second);
  EXPECT_EQ(f.Millisecond, e.Millisecond);
}

INSTANTIATE_TEST_SUITE_P(
    DateTime, DecodeDateTimeCase,
    ::testing::Values(
        TDecodeCase{"Noon2004", FileTimeToDateTimeSafe(FileTimeOf(2004, 1, 1, 12)), {2004, 1, 1, 12, 0, 0, 0}},
        TDecodeCase{"Noon1601", -109204.5, {1601, 1, 1, 12, 0, 0, 0}},
        TDecodeCase{"LastMillisecondOfADay",
                    FileTimeToDateTimeSafe(FileTimeOf(2021, 12, 12, 23, 59, 59, 999)),
                    {2021, 12, 12, 23, 59, 59, 999}},
        TDecodeCase{"LeapDay", 36585.75, {2000, 2, 29, 18, 0, 0, 0}},
        TDecodeCase{"DayZero", 0.0, {1899, 12, 30, 0, 0, 0, 0}},
        TDecodeCase{"RoundsUpIntoTheNextDay", 37987.0 - 1e-10, {2004, 1, 1, 0, 0, 0, 0}},
        TDecodeCase{"FirstDay", -693593.0, {1, 1, 1, 0, 0, 0, 0}},
        TDecodeCase{"LastDay", 2958465.5, {9999, 12, 31, 12, 0, 0, 0}},
        TDecodeCase{"BeforeYear1", -693594.0, {1899, 12, 30, 0, 0, 0, 0}},
        TDecodeCase{"Year10000", 2958466.0, {1899, 12, 30, 0, 0, 0, 0}},
        TDecodeCase{"RoundsIntoYear10000", std::nextafter(2958466.0, 0.0), {1899, 12, 30, 0, 0, 0, 0}},
        TDecodeCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), {1899, 12, 30, 0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.Name); });

// A store of more messages than memory holds fails saying so, as any load
// failure does, instead of with a bare "std::bad_alloc".
#if !defined(__SANITIZE_ADDRESS__) // whose allocator ends the process on such a request
class TReservingReader : public TMailbaseReader {
public:
  void Reserve(std::size_t count) { (void)ReserveMessages(count); }
};

TEST(BaseReader, ListBeyondMemorySaysWhatItNeeds) {
  TReservingReader reader;
  const std::size_t count = (std::size_t{1} << 46) / sizeof(TMessageRecord); // 64 TB
  try {
    reader.Reserve(count);
    ADD_FAILURE() << "64 TB were given";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), "Not enough memory for the list of " + std::to_string(count) + " messages: it needs " +
                               std::to_string((count * sizeof(TMessageRecord) + (1 << 20) - 1) >> 20) + " MB");
    EXPECT_FALSE(e.reason().empty());
  }
}
#endif

} // namespace
