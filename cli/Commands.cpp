#include "Commands.h"

#include "DateTime.h"
#include "DbxReader.h"
#include "Exceptions.h"
#include "Json.h"
#include "MbxReader.h"
#include "MessageFile.h"
#include "RowTexts.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace postvue::cli {

namespace {
const char* const kNotSupported = "File is not in supported format.";

constexpr std::size_t kMinIndexWidth = 4;
constexpr std::size_t kMaxSubjectInName = 80;

// value's last width digits, zero-padded (the fields are never negative).
void AppendDigits(std::string& out, int value, int width) {
  char digits[4];
  for (int i = width; i-- > 0; value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  out.append(digits, static_cast<std::size_t>(width));
}

// YYYY-MM-DD hh:mm:ss, written without a format string: a listing has one per message.
void AppendReceived(std::string& out, double received) {
  const TDateTimeFields f = DecodeDateTime(received);
  AppendDigits(out, f.Year, 4);
  out += '-';
  AppendDigits(out, f.Month, 2);
  out += '-';
  AppendDigits(out, f.Day, 2);
  out += ' ';
  AppendDigits(out, f.Hour, 2);
  out += ':';
  AppendDigits(out, f.Minute, 2);
  out += ':';
  AppendDigits(out, f.Second, 2);
}

template <typename TInt> void AppendNumber(std::string& out, TInt value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
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
  AppendNumber(out, value);
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

// The messages' indexes in the order their texts lie in the file, so that
// an export reads the store front to back (a store written over years keeps
// its messages anywhere); store order among equal offsets.
std::vector<std::int32_t> FileOrder(TMailbaseReader& reader, std::int32_t count) {
  std::vector<std::pair<std::uint32_t, std::int32_t>> offsets(static_cast<std::size_t>(count));
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader.GetMessage(i, record);
    offsets[static_cast<std::size_t>(i)] = {record.TextOffset, i};
  }
  std::sort(offsets.begin(), offsets.end());
  std::vector<std::int32_t> order;
  order.reserve(offsets.size());
  for (const auto& entry : offsets) order.push_back(entry.second);
  return order;
}
} // namespace

void AppendField(std::string& out, std::string_view field) {
  // A line per message and a tab between fields, whatever the stored bytes hold.
  for (const char c : field) out += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
}

bool WriteMessageFile(const std::string& path, std::string_view bytes, double received) {
  const TNewFile written = WriteNewFile(path, bytes, received);
  if (written != TNewFile::NameTaken) return written == TNewFile::Written;
  // Nothing is written through a link or into a folder that holds the name:
  // nothing may land outside the folder written to.
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(PathFromUtf8(path), ec);
  if (!fs::is_regular_file(status)) throw EFCreateError(path);
  WriteFileReplacing(path, bytes);
  return SetModificationTime(path, received);
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

void ListText(TMailbaseReader& reader, TOutput& output) {
  std::string& out = output.Text;
  const std::int32_t count = RowCount(reader);
  TMessageRecord record;
  for (std::int32_t i = 0; i < count; ++i) {
    reader.GetMessage(i, record);
    AppendNumber(out, i);
    out += '\t';
    out += AttachmentText(record);
    out += '\t';
    out += PriorityText(record.Priority);
    out += '\t';
    out += FlagText(record);
    out += '\t';
    AppendField(out, SenderBytes(record));
    out += '\t';
    AppendField(out, record.Subject.View());
    out += '\t';
    AppendReceived(out, record.Received);
    out += '\t';
    AppendNumber(out, record.Size);
    out += '\n';
    output.Pass();
  }
}

void ListJson(TMailbaseReader& reader, TOutput& output) {
  std::string& out = output.Text;
  out += "{\n  \"format\": ";
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
    AppendNumber(out, i);
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
    output.Pass();
  }
  out += count > 0 ? "\n  ]\n}\n" : "]\n}\n";
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

void TOutput::Pass() {
  if (Text.size() >= kPiece) Flush();
}

void TOutput::Flush() {
  WriteStdout(Text);
  Text.clear();
}

int RunList(const std::string& store, bool json) {
  const auto reader = LoadStore(store);
  // Nothing is written before the store is loaded whole; after that only the
  // writing itself can fail, so the listing goes out as it is made instead
  // of being held whole beside the records.
  TOutput out;
  if (json)
    ListJson(*reader, out);
  else
    ListText(*reader, out);
  out.Flush();
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
  for (const std::int32_t i : FileOrder(*reader, count)) {
    reader->GetMessage(i, record);
    try {
      const std::string name = ExportFileName(i, count, record.Subject.View());
      const std::string path = prefix + name;
      if (!WriteMessageFile(path, CrLfLines(reader->GetMessageText(i)), record.Received)) {
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
