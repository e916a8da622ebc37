#include "Commands.h"

#include "DateTime.h"
#include "DbxReader.h"
#include "Exceptions.h"
#include "Json.h"
#include "MbxReader.h"
#include "MessageFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace postvue::cli {

namespace {
const char* const kNotSupported = "File is not in supported format.";

constexpr std::size_t kMinIndexWidth = 4;
constexpr std::size_t kMaxSubjectInName = 80;

std::string FormatReceived(double received) {
  const TDateTimeFields f = DecodeDateTime(received);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.Year, f.Month, f.Day, f.Hour, f.Minute,
                f.Second);
  return text;
}

const char* PriorityText(std::int32_t priority) {
  if (priority == 1) return "High";
  if (priority == 5) return "Low";
  return "";
}

void AppendKey(std::string& out, const char* key) {
  out += ", \"";
  out += key;
  out += "\": ";
}

void AppendText(std::string& out, const char* key, const TShortString& field) {
  AppendKey(out, key);
  AppendJsonString(out, field.View());
}

template <typename TInt> void AppendInt(std::string& out, const char* key, TInt value) {
  AppendKey(out, key);
  out += std::to_string(value);
}

bool IsUnsafeInFileName(unsigned char c) {
  static constexpr std::string_view kReserved = "<>:\"/\\|?*";
  return c < 0x20 || c >= 0x7F || kReserved.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::int32_t RowCount(TMailbaseReader& reader) { return reader.Active ? std::max(reader.GetCount(), 0) : 0; }

namespace fs = std::filesystem;
fs::path PathFromUtf8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

// The years a file time holds everywhere (one clock counts nanoseconds from 2174).
constexpr double kFirstFileDay = 2;      // 1 January 1900
constexpr double kLastFileDay = 182623;  // 1 January 2400, excluded
constexpr double kUnixEpochDay = 25569;  // 1 January 1970
constexpr double kMsPerDay = 86400000;
} // namespace

void AppendField(std::string& out, std::string_view field) {
  // A line per message and a tab between fields, whatever the stored bytes hold.
  for (const char c : field) out += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
}

bool SetModificationTime(const std::string& path, double received) {
  if (!(received >= kFirstFileDay && received < kLastFileDay)) return true;
  const std::chrono::sys_time<std::chrono::milliseconds> when(
      std::chrono::milliseconds(std::llround((received - kUnixEpochDay) * kMsPerDay)));
#ifdef _MSC_VER
  const auto fileTime = std::chrono::clock_cast<std::chrono::file_clock>(when);
#else
  const auto fileTime = std::chrono::file_clock::from_sys(when);
#endif
  std::error_code ec;
  fs::last_write_time(PathFromUtf8(path), std::chrono::time_point_cast<fs::file_time_type::duration>(fileTime), ec);
  return !ec;
}

std::string PrepareFolder(const std::string& dir) {
  std::error_code ec;
  const fs::path folder = PathFromUtf8(dir);
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) throw EFCreateError(dir);
  std::string prefix = dir;
  if (!prefix.empty() && prefix.back() != '/'
#ifdef _WIN32
      && prefix.back() != '\\'
#endif
  )
    prefix += '/';
  return prefix;
}

std::unique_ptr<TMailbaseReader> LoadStore(const std::string& path, bool allowEmpty) {
  TStoreFormat format = sfUnknown;
  {
    TMailbaseReader probe;
    probe.SetFileName(path);
    format = probe.Format;
  } // the probe closes its file before the reader opens it
  std::unique_ptr<TMailbaseReader> reader;
  if (format == sfMBX)
    reader = std::make_unique<TMBXReader>();
  else if (format == sfDBX)
    reader = std::make_unique<TDBXReader>();
  else
    throw EMailbaseReaderException(kNotSupported);
  try {
    reader->SetFileName(path);
  } catch (const Exception&) {
    // Open fails on a count of 0 only once the store is recognised as such.
    if (!(allowEmpty && reader->Active && reader->GetCount() == 0)) throw;
    return reader;
  }
  reader->Load();
  return reader;
}

std::string ListText(TMailbaseReader& reader) {
  std::string out;
  const std::int32_t count = RowCount(reader);
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader.GetMessage(i, record);
    out += std::to_string(i);
    out += '\t';
    out += (record.Flags & kFlagAttachment) ? "Yes" : "";
    out += '\t';
    out += PriorityText(record.Priority);
    out += '\t';
    out += (record.Flags & kFlagMarked) ? "Yes" : "";
    out += '\t';
    AppendField(out, record.SenderName.Empty() ? record.SenderAddress.View() : record.SenderName.View());
    out += '\t';
    AppendField(out, record.Subject.View());
    out += '\t';
    out += FormatReceived(record.Received);
    out += '\t';
    out += std::to_string(record.Size);
    out += '\n';
  }
  return out;
}

std::string ListJson(TMailbaseReader& reader) {
  std::string out = "{\n  \"format\": ";
  out += reader.Format == sfMBX ? "\"mbx\"" : "\"dbx\"";
  out += ",\n  \"folder\": ";
  AppendJsonString(out, reader.GetFolderName());
  out += ",\n  \"count\": ";
  out += std::to_string(reader.GetCount());
  out += ",\n  \"messages\": [";
  const std::int32_t count = RowCount(reader);
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader.GetMessage(i, record);
    out += i == 0 ? "\n    {" : ",\n    {";
    out += "\"index\": ";
    out += std::to_string(i);
    AppendInt(out, "MsgIndex", record.MsgIndex);
    AppendInt(out, "Flags", record.Flags);
    AppendInt(out, "TextOffset", record.TextOffset);
    AppendText(out, "Text07", record.Text07);
    AppendText(out, "Subject", record.Subject);
    AppendText(out, "Text0C", record.Text0C);
    AppendText(out, "SenderName", record.SenderName);
    AppendText(out, "SenderAddress", record.SenderAddress);
    AppendKey(out, "Received");
    AppendJsonNumber(out, record.Received);
    AppendText(out, "DateText", record.DateText);
    AppendText(out, "Text13", record.Text13);
    AppendText(out, "Text14", record.Text14);
    AppendText(out, "Text1A", record.Text1A);
    AppendInt(out, "Size", record.Size);
    AppendInt(out, "Priority", record.Priority);
    out += '}';
  }
  out += count > 0 ? "\n  ]\n}\n" : "]\n}\n";
  return out;
}

std::string ExportFileName(std::int32_t index, std::int32_t count, std::string_view subject) {
  const std::string number = std::to_string(index);
  const std::size_t width = std::max(kMinIndexWidth, std::to_string(count > 0 ? count - 1 : 0).size());
  std::string name(width > number.size() ? width - number.size() : 0, '0');
  name += number;

  std::string safe(subject);
  for (char& c : safe)
    if (IsUnsafeInFileName(static_cast<unsigned char>(c))) c = '_';
  std::string_view part = TrimSpaces(safe);
  part = TrimSpaces(part.substr(0, kMaxSubjectInName));
  if (!part.empty()) {
    name += " - ";
    name += part;
  }
  return name + ".eml";
}

void WriteStdout(std::string_view bytes) {
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
  if (std::fflush(stdout) != 0 || !written) throw EWriteError();
}

void ReportError(std::string_view text) {
  std::string line = "postvue-cli: ";
  line += text;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

int RunList(const std::string& store, bool json) {
  const auto reader = LoadStore(store);
  // Built whole before anything is written, so a failure leaves no partial listing.
  const std::string out = json ? ListJson(*reader) : ListText(*reader);
  WriteStdout(out);
  return 0;
}

int RunText(const std::string& store, std::int32_t index, bool headerOnly) {
  const auto reader = LoadStore(store);
  const std::string text = headerOnly ? reader->GetMessageHeader(index) : reader->GetMessageText(index);
  WriteStdout(text);
  return 0;
}

int RunSave(const std::string& store, std::int32_t index, const std::string& file) {
  const auto reader = LoadStore(store);
  SaveMessageText(file, reader->GetMessageText(index));
  return 0;
}

int RunExport(const std::string& store, const std::string& dir) {
  const auto reader = LoadStore(store);
  const std::string prefix = PrepareFolder(dir);

  const std::int32_t count = RowCount(*reader);
  bool failed = false;
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader->GetMessage(i, record);
    try {
      const std::string name = ExportFileName(i, count, record.Subject.View());
      SaveMessageText(prefix + name, reader->GetMessageText(i));
      if (!SetModificationTime(prefix + name, record.Received)) {
        ReportError("message " + std::to_string(i) + ": the time of " + name + " could not be set");
        failed = true;
      }
    } catch (const Exception& e) {
      // One unreadable message must not cost the others; the exit status tells.
      ReportError("message " + std::to_string(i) + ": " + ErrorBoxText(e.message()));
      failed = true;
    }
  }
  return failed ? 1 : 0;
}

} // namespace postvue::cli
