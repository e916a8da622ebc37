// export --mbox: every message of a store in one mbox file.
//
// The variant written is mboxrd: a "From " separator line before each
// message, and every line that begins with "From " after any number of ">"
// gets one more ">", so that importers can undo the quoting exactly and no
// message splits in two. Lines end in LF alone, as mbox files do on the Unix
// systems whose mail programs read them (CR LF would leave a CR at the end of
// every imported line), and a blank line follows each message.
#include "Commands.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "MailbaseReader.h"
#include "Recovery.h"
#include "TextLines.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace postvue::cli {

namespace {
namespace fs = std::filesystem;

const char* const kNoSender = "MAILER-DAEMON";
const char* const kNoDate = "Thu Jan  1 00:00:00 1970"; // the usual stand-in for a date not known
constexpr double kFirstDay = -693593; // 1 January 0001
constexpr double kLastDay = 2958466;  // 1 January 10000, excluded

fs::path PathFromUtf8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

std::FILE* OpenFile(const fs::path& path, const char* mode, const wchar_t* wideMode) {
#ifdef _WIN32
  (void)mode;
  return _wfopen(path.c_str(), wideMode);
#else
  (void)wideMode;
  return std::fopen(path.c_str(), mode);
#endif
}

// A file written as a stream and put in place only when complete, like a
// save: until Commit the target is untouched, and a failure or an early end
// leaves it as it was and no temporary file behind. A link is followed to
// the file it names; a replaced file keeps its permissions.
class TReplacingFile {
public:
  explicit TReplacingFile(const std::string& path) : Path(path), Target(PathFromUtf8(path)) {
    std::error_code ec;
    if (fs::is_symlink(Target, ec)) {
      fs::path resolved = fs::weakly_canonical(Target, ec);
      if (!ec) Target = std::move(resolved);
    }
    Former = fs::status(Target, ec);
    if (fs::is_directory(Former)) throw EFCreateError(path);
    if (fs::is_regular_file(Former)) {
      // The rename could replace a file that may not be written; writing it could not.
      std::FILE* probe = OpenFile(Target, "ab", L"ab");
      if (!probe) throw EFCreateError(path);
      std::fclose(probe);
    }
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16 && !File; ++attempt) {
      char name[40];
      std::snprintf(name, sizeof name, ".postvue-%016llx.tmp", static_cast<unsigned long long>(random()));
      Temporary = Target;
      Temporary.replace_filename(name);
      File = OpenFile(Temporary, "wbx", L"wbx");
    }
    if (!File) throw EFCreateError(path);
  }

  ~TReplacingFile() {
    if (!File) return;
    std::fclose(File);
    std::error_code ec;
    fs::remove(Temporary, ec);
  }
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  void Write(std::string_view bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), File) != bytes.size()) throw EWriteError();
  }

  void Commit() {
    const bool flushed = std::fflush(File) == 0;
    const bool closed = std::fclose(File) == 0;
    File = nullptr;
    std::error_code ec;
    if (!flushed || !closed) {
      fs::remove(Temporary, ec);
      throw EWriteError();
    }
    if (fs::is_regular_file(Former)) fs::permissions(Temporary, Former.permissions(), ec);
    fs::rename(Temporary, Target, ec);
    if (ec) {
      fs::remove(Temporary, ec);
      throw EFCreateError(Path);
    }
  }

private:
  std::string Path;
  fs::path Target, Temporary;
  fs::file_status Former;
  std::FILE* File = nullptr;
};

// An address fit for the separator line: printable, no blanks.
bool IsPlainAddress(std::string_view address) {
  if (address.empty()) return false;
  for (const char c : address)
    if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127) return false;
  return true;
}

// The address in a From line's value: within angle brackets, else the word with an "@".
std::string_view AddressIn(std::string_view value) {
  const std::size_t open = value.find('<');
  if (open != std::string_view::npos) {
    const std::size_t close = value.find('>', open);
    if (close != std::string_view::npos) return value.substr(open + 1, close - open - 1);
  }
  for (std::size_t start = 0; start < value.size();) {
    std::size_t end = value.find_first_of(" \t,", start);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view word = value.substr(start, end - start);
    if (word.find('@') != std::string_view::npos) return word;
    start = end + 1;
  }
  return {};
}

bool IsFromLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == '>') ++i;
  return line.substr(i, 5) == "From ";
}

// 0 for Sunday; Gregorian calendar, year 1 on.
int Weekday(int year, int month, int day) {
  static const int kMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) --year;
  return (year + year / 4 - year / 100 + year / 400 + kMonthOffsets[month - 1] + day) % 7;
}

// "From <address> <date>": the sender's address as the store keeps it, else
// the one in the text's From line, else MAILER-DAEMON; the received time in
// UTC as asctime writes it, or the Unix epoch when the store gives none.
std::string MboxSeparator(const TMessageRecord& record, std::string_view text) {
  std::string address(record.SenderAddress.View());
  if (!IsPlainAddress(address)) {
    const std::string from = HeaderField(text, "From");
    address = std::string(AddressIn(from));
  }
  if (!IsPlainAddress(address)) address = kNoSender;

  std::string date = kNoDate;
  if (record.Received != 0.0 && record.Received >= kFirstDay && record.Received < kLastDay) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const TDateTimeFields f = DecodeDateTime(record.Received);
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", kDays[Weekday(f.Year, f.Month, f.Day)],
                  kMonths[f.Month - 1], f.Day, f.Hour, f.Minute, f.Second, f.Year);
    date = text;
  }
  return "From " + address + " " + date + "\n";
}

// The text's lines with LF ends, From lines quoted, and the blank line after.
void AppendMboxBody(std::string& out, std::string_view text) {
  for (const std::string_view line : SplitLines(text)) {
    if (IsFromLine(line)) out += '>';
    out.append(line);
    out += '\n';
  }
  out += '\n';
}
} // namespace

int RunExportMbox(const std::string& store, const std::string& file) {
  const auto reader = LoadStore(store);
  TReplacingFile out(file);
  const std::int32_t count = reader->Active ? std::max(reader->GetCount(), 0) : 0;
  bool failed = false;
  TMessageRecord record;
  std::string entry;
  for (std::int32_t i = 0; i < count; ++i) {
    reader->GetMessage(i, record);
    std::string text;
    try {
      text = reader->GetMessageText(i);
    } catch (const Exception& e) {
      // One unreadable message must not cost the others; the exit status tells.
      ReportError("message " + std::to_string(i) + ": " + ErrorBoxText(e.message()));
      failed = true;
      continue;
    }
    entry = MboxSeparator(record, text);
    AppendMboxBody(entry, text);
    out.Write(entry);
  }
  out.Commit();
  return failed ? 1 : 0;
}

} // namespace postvue::cli
