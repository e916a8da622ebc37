#include "Commands.h"

#include "ReadableMessage.h"
#include "Charset.h"
#include "Console.h"
#include "DateTime.h"
#include "Exceptions.h"
#include "Folders.h"
#include "Json.h"
#include "MessageFile.h"
#include "MessageRecord.h"
#include "ReaderFactory.h"
#include "StoreMessage.h"
#include "FilePaths.h"
#include "TextLines.h"
#include "TextsAhead.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

namespace postvue::cli {

namespace {

// value's last width digits, zero-padded (the fields are never negative).
void AppendDigits(std::string& out, int value, int width) {
  char digits[4];
  for (int i = width; i-- > 0; value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  out.append(digits, static_cast<std::size_t>(width));
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

// A line per message and a tab between fields, whatever the stored bytes hold.
char FieldChar(char c) { return c == '\t' || c == '\r' || c == '\n' ? ' ' : c; }

// AppendField of stored bytes as UTF-8 text (Windows1252ToUtf8), in one pass
// and without a string between: a listing has two per message.
void AppendStoreField(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80)
      AppendUtf8(out, Windows1252ToUnicode(byte));
    else
      out += FieldChar(c);
  }
}

std::int32_t RowCount(TMailbaseReader& reader) { return reader.Active ? std::max(reader.GetCount(), 0) : 0; }

namespace fs = std::filesystem;

// The messages' indexes in the order their texts lie in the file, so that
// an export reads the store front to back (a store written over years keeps
// its messages anywhere); store order among equal offsets.
std::vector<std::int32_t> FileOrder(TMailbaseReader& reader, std::int32_t count) {
  std::vector<std::pair<std::uint32_t, std::int32_t>> offsets(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) offsets[static_cast<std::size_t>(i)] = {reader.MessageAt(i).TextOffset, i};
  std::sort(offsets.begin(), offsets.end());
  std::vector<std::int32_t> order;
  order.reserve(offsets.size());
  for (const auto& entry : offsets) order.push_back(entry.second);
  return order;
}
} // namespace

// Written without a format string: a listing has one per message.
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

void AppendField(std::string& out, std::string_view field) {
  for (const char c : field) out += FieldChar(c);
}

std::string PrepareFolder(const std::string& dir) {
  std::error_code ec;
  fs::path folder = PathFromUtf8(dir);
  if (!folder.has_filename()) folder = folder.parent_path(); // "out/" is "out"
  if (!fs::is_directory(folder, ec)) {
    const char* const kCannot = "Cannot create folder ";
    if (fs::exists(fs::symlink_status(folder, ec))) throw Exception(kCannot + dir, "a file of that name is there");
    const fs::path parent = folder.parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
      const std::u8string name = parent.u8string();
      throw Exception(kCannot + dir, "its parent folder " + std::string(name.begin(), name.end()) +
                                         " does not exist (only the last folder of a path is made)");
    }
    if (!fs::create_directory(folder, ec) && !fs::is_directory(folder)) throw Exception(kCannot + dir, ReasonText(ec));
  }
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
  std::unique_ptr<TMailbaseReader> reader = NewReaderFor(path);
  OpenStore(*reader, path, [allowEmpty](const Exception& e) {
    if (!allowEmpty) throw EEmptyStore(e.message(), e.reason());
  });
  return reader;
}

void ListText(TMailbaseReader& reader, TOutput& output) {
  std::string& out = output.Text;
  const std::int32_t count = RowCount(reader);
  for (std::int32_t i = 0; i < count; ++i) {
    const TMessageRecord& record = reader.MessageAt(i);
    AppendNumber(out, i);
    out += '\t';
    out += AttachmentText(record);
    out += '\t';
    out += PriorityText(record.Priority);
    out += '\t';
    out += FlagText(record);
    out += '\t';
    // Text for people: the stored bytes as the viewer shows them, in UTF-8.
    AppendStoreField(out, SenderBytes(record));
    out += '\t';
    AppendStoreField(out, record.Subject.View());
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
  // An .mbx store's folder is its file's name, UTF-8 as the path was given;
  // a .dbx store keeps its own in stored bytes.
  if (FolderNameIsFileName(reader))
    AppendJsonUtf8(out, reader.GetFolderName());
  else
    AppendJsonString(out, reader.GetFolderName());
  out += ",\n  \"count\": ";
  out += std::to_string(reader.GetCount());
  out += ",\n  \"messages\": [";
  const std::int32_t count = RowCount(reader);
  for (std::int32_t i = 0; i < count; ++i) {
    const TMessageRecord& record = reader.MessageAt(i);
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

void WriteStdout(std::string_view bytes) { WriteBytes(stdout, bytes); }

void ReportError(std::string_view text) {
  std::string line = "postvue-cli: ";
  line += text;
  line += '\n';
  try {
    WriteText(stderr, line);
  } catch (const EWriteError&) {
    // Standard error is gone: there is nowhere left to report anything.
  }
}

void TOutput::Pass() {
  if (Text.size() >= kPiece) Flush();
}

void TOutput::Flush() {
  if (ForPeople)
    WriteText(stdout, Text);
  else
    WriteStdout(Text);
  Text.clear();
}

void ReportException(const Exception& error, const std::string& prefix) {
  ReportError(prefix + ErrorBoxText(error.message()));
  if (!error.reason().empty()) ReportError(prefix + error.reason());
}

std::string RenamedNote(std::uint32_t renamed) {
  return renamed == 0 ? "" : ", under a new name " + std::to_string(renamed) + " (their names were taken)";
}

std::string UnchangedNote(std::uint32_t unchanged) {
  return unchanged == 0 ? "" : ", unchanged " + std::to_string(unchanged);
}

void ReportStop(const Exception& error, const std::string& label, const std::string& file) {
  const bool named = dynamic_cast<const EFCreateError*>(&error) || file.empty();
  ReportException(error, label + (named ? "" : file + ": "));
}

void TExportReport::Written(bool renamed) {
  ++Files;
  if (renamed) ++Renamed;
}

void TExportReport::Saved(const TSaved& saved) {
  if (saved.Unchanged)
    ++Unchanged;
  else
    Written(saved.Renamed);
}

void TExportReport::Stop(const Exception& error, const std::string& label, const std::string& file) {
  Meter.Clear();
  ReportStop(error, label, file);
  ++Errors;
  throw TRunStopped();
}

void TExportReport::Note(const std::string& line) {
  Meter.Clear();
  ReportError(line);
}

void TExportReport::Error(const std::string& line) {
  Meter.Clear();
  ReportError(line);
  ++Errors;
}

void TExportReport::Error(const Exception& error, const std::string& prefix) {
  Meter.Clear();
  ReportException(error, prefix);
  ++Errors;
}

void TProgressShare::Update(TProgress& meter, std::uint64_t done, std::uint64_t total) const {
  if (Total == 0) return meter.Update(done, total);
  // In floating point: a store's bytes times its messages may not fit in 64 bits.
  const double part = total == 0 ? 0 : static_cast<double>(Span) * static_cast<double>(done) / static_cast<double>(total);
  meter.Update(Base + static_cast<std::uint64_t>(part), Total);
}

void TExportReport::Progress(std::uint64_t done, std::uint64_t total) { Part.Update(Meter, done, total); }

int TExportReport::Finish() {
  Meter.Clear();
  ReportError("exported " + std::to_string(Files) + UnchangedNote(Unchanged) + ", errors " + std::to_string(Errors) +
              RenamedNote(Renamed));
  return Errors > 0 ? 1 : 0;
}

bool IsStoreDamage(const Exception& error) {
  // A store of another kind (a folder list, say) is not damaged, and a
  // message may have been kept without its text (headers only).
  static const std::string_view kNotDamage[] = {"File is not an Outlook Express 5 Message Database.",
                                                "File is not an Outlook Express 4 Message Database.",
                                                "No text found."};
  for (const std::string_view other : kNotDamage)
    if (error.message() == other) return false;
  return dynamic_cast<const EDBXReaderException*>(&error) || dynamic_cast<const EMBXReaderException*>(&error) ||
         dynamic_cast<const EReadError*>(&error) || dynamic_cast<const ERangeError*>(&error);
}

int RunList(const std::string& store, bool json) {
  const auto reader = LoadStore(store);
  // Nothing is written before the store is loaded whole; after that only the
  // writing itself can fail, so the listing goes out as it is made instead
  // of being held whole beside the records.
  TOutput out(!json);
  if (json)
    ListJson(*reader, out);
  else
    ListText(*reader, out);
  out.Flush();
  return 0;
}

namespace {
// The line break that ends text, which does not end with one: the rest of
// a CR LF where the text's last line has its CR, else the kind its lines have.
std::string_view LineEndAfter(std::string_view text) {
  if (text.back() == '\r') return "\n";
  const std::size_t lf = text.find('\n');
  return lf != std::string_view::npos && lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
}
} // namespace

// An index outside the store fails here, saying which there are, before the
// reader would say only "No text found.".
void CheckIndex(TMailbaseReader& reader, std::int32_t index) {
  const std::int32_t count = RowCount(reader);
  if (index >= 0 && index < count) return;
  const std::string has = count == 0   ? "no messages"
                          : count == 1 ? "only message 0"
                                       : "messages 0 to " + std::to_string(count - 1);
  throw Exception("there is no message " + std::to_string(index) + ": the store has " + has);
}

int RunText(const std::string& store, std::int32_t index, bool headerOnly) {
  const auto reader = LoadStore(store);
  CheckIndex(*reader, index);
  std::string text = headerOnly ? reader->GetMessageHeader(index) : reader->GetMessageText(index);
  // On a terminal the prompt would start on (or overwrite) the last line;
  // a file or a pipe gets the bytes exactly.
  if (!text.empty() && text.back() != '\n' && IsTerminal(stdout)) text += LineEndAfter(text);
  WriteStdout(text);
  return 0;
}

int RunSave(const std::string& store, std::int32_t index, const std::string& file) {
  const auto reader = LoadStore(store);
  CheckIndex(*reader, index);
  const std::string text = reader->GetMessageText(index);
  try {
    SaveMessageText(file, text);
  } catch (const EWriteError& e) {
    ReportException(e, file + ": "); // which file, beside the system's reason (a full disk, say)
    return 1;
  }
  return 0;
}

int RunExport(const std::string& store, const std::string& dir, TLayout layout) {
  if (IsFolder(store)) return RunExportFolder(store, dir, layout);
  const auto reader = LoadStore(store, true); // an empty store is an empty folder
  const std::string prefix = PrepareFolder(dir);
  TExportReport report;
  try {
    if (layout == TLayout::Attachments)
      ExportAttachments(*reader, prefix, report);
    else
      ExportMessages(*reader, prefix, report);
  } catch (const TRunStopped&) {
    // Said already; the summary still tells what was written before.
  }
  return report.Finish();
}

void ExportMessages(TMailbaseReader& reader, const std::string& prefix, TExportReport& report,
                    const std::string& label) {
  const std::int32_t count = RowCount(reader);
  const TNewFileFolder folder(prefix);
  // Texts are read and converted, and their files named, on a second thread
  // and written here: from now on only that thread uses the reader's texts,
  // and neither changes its records.
  TTextsAhead texts(FileOrder(reader, count), [&reader, count](std::int32_t i) {
    std::string text = reader.GetMessageText(i);
    std::string name = ExportFileName(i, count, NamingSubject(text, reader.MessageAt(i).Subject.View()));
    return TTextAhead{CrLfLines(text), std::move(name), {}};
  });
  for (std::int32_t done = 0; !texts.Done(); ++done) {
    report.Progress(done, count);
    std::int32_t i = -1;
    std::string name;
    try {
      TTextAhead made = texts.Next(i);
      name = std::move(made.Name);
      const TSaved saved = SaveUnderFreeName(folder, name, made.Text, reader.MessageAt(i).Received);
      report.Saved(saved);
      if (!saved.TimeSet)
        report.Error(label + "message " + std::to_string(i) + ": the time of " + saved.Name + " could not be set");
    } catch (const Exception& e) {
      // A folder that takes no file (no permission, a full disk) is said once, not once per message.
      if (FailsEveryNewFile(e)) report.Stop(e, label, prefix + name);
      // One unreadable message must not cost the others; the summary and the exit status tell.
      report.Error(e, label + "message " + std::to_string(i) + ": ");
    }
  }
}

namespace {
// The folder of a message's attachments in prefix: name, or its first
// variant that is a folder already (a repeated run's) or can be made one. A
// file or link of the user's under the name stays as it is.
std::string MessageFolder(const std::string& prefix, const std::string& name) {
  for (int variant = 1; variant <= kMaxVariant; ++variant) {
    std::string candidate = variant == 1 ? name : name + " (" + std::to_string(variant) + ")";
    const fs::path path = PathFromUtf8(prefix + candidate);
    std::error_code made, ec;
    if (fs::create_directory(path, made) || fs::is_directory(fs::symlink_status(path, ec))) return candidate;
    if (made && made != std::errc::file_exists) throw EFCreateError(prefix + candidate, made);
  }
  throw EFCreateError(prefix + name, "the name and its variants up to (" + std::to_string(kMaxVariant) + ") are taken");
}
} // namespace

void ExportAttachments(TMailbaseReader& reader, const std::string& prefix, TExportReport& report,
                       const std::string& label) {
  const std::int32_t count = RowCount(reader);
  // Read on the second thread, as it alone uses the reader's texts (the pieces of a broken-apart message too).
  TPartialPieces pieces(reader);
  TTextsAhead texts(FileOrder(reader, count), [&reader, &pieces, count](std::int32_t i) {
    TStoreMessage read = ReadStoreMessage(reader, i, pieces);
    std::string name = ExportFileName(i, count, NamingSubject(read.Text, reader.MessageAt(i).Subject.View()));
    name.resize(name.size() - std::string_view(".eml").size()); // the message's folder is named as its file
    return TTextAhead{std::move(read.Text), std::move(name), std::move(read.Message)};
  });
  for (std::int32_t done = 0; !texts.Done(); ++done) {
    report.Progress(done, count);
    std::int32_t i = -1;
    std::string file;
    try {
      const TTextAhead made = texts.Next(i);
      const TReadableMessage& message = made.Reading;
      if (message.Attachments.empty()) continue;
      file = made.Name; // what a failure to make the message's folder names
      const std::string folderName = MessageFolder(prefix, made.Name);
      const TNewFileFolder folder(prefix + folderName + "/");
      for (const TAttachment& attachment : message.Attachments) {
        file = folderName + "/" + attachment.Name;
        try {
          const TSaved saved = SaveUnderFreeName(folder, attachment.Name, AttachmentBytes(made.Text, attachment),
                                                 reader.MessageAt(i).Received);
          report.Saved(saved);
          if (!saved.TimeSet)
            report.Error(label + "message " + std::to_string(i) + ": the time of " + folderName + "/" + saved.Name +
                         " could not be set");
        } catch (const Exception& e) {
          if (FailsEveryNewFile(e)) throw;
          // One file that cannot be written must not cost the message's others.
          report.Error(e, label + "message " + std::to_string(i) + ": " + file + ": ");
        }
      }
    } catch (const Exception& e) {
      if (FailsEveryNewFile(e)) report.Stop(e, label, prefix + file);
      report.Error(e, label + "message " + std::to_string(i) + ": ");
    }
  }
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(PathFromUtf8(path), ec);
}

} // namespace postvue::cli
