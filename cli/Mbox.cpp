// export --mbox: every message of a store in one mbox file.
//
// The variant written is mboxrd: a "From " separator line before each
// message, and every line that begins with "From " after any number of ">"
// gets one more ">", so that importers can undo the quoting exactly and no
// message splits in two. Lines end in LF alone, as mbox files do on the Unix
// systems whose mail programs read them (CR LF would leave a CR at the end of
// every imported line), and a blank line follows each message.
#include "Commands.h"
#include "Folders.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "MailbaseReader.h"
#include "MessageFile.h"
#include "MessageHeaders.h"
#include "TextLines.h"
#include "TextsAhead.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace postvue::cli {

namespace {

const char* const kNoSender = "MAILER-DAEMON";
const char* const kNoDate = "Thu Jan  1 00:00:00 1970"; // the usual stand-in for a date not known
constexpr double kFirstDay = -693593; // 1 January 0001
constexpr double kLastDay = 2958466;  // 1 January 10000, excluded

// An address fit for the separator line: printable, no blanks.
bool IsPlainAddress(std::string_view address) {
  if (address.empty()) return false;
  for (const char c : address)
    if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127) return false;
  return true;
}

bool IsFromLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == '>') ++i;
  return line.substr(i, 5) == "From ";
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
    const TDateTimeFields f = DecodeDateTime(record.Received);
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", kWeekdayNames[WeekdayOf(f)],
                  kMonthNames[f.Month - 1], f.Day, f.Hour, f.Minute, f.Second, f.Year);
    date = text;
  }
  return "From " + address + " " + date + "\n";
}

// The text's lines with LF ends, From lines quoted, and the blank line after.
void AppendMboxBody(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + text.size() / 32 + 2); // about as long as the text
  ForEachLine(text, [&out](std::string_view line) {
    if (IsFromLine(line)) out += '>';
    out.append(line);
    out += '\n';
  });
  out += '\n';
}
} // namespace

int RunExportMbox(const std::string& store, const std::string& file) {
  if (IsFolder(store)) return RunExportFolder(store, file, TLayout::Mbox);
  const auto reader = LoadStore(store, true); // an empty store is an empty mbox
  TExportReport report;
  try {
    ExportMbox(reader.get(), file, report);
  } catch (const EWriteError& e) {
    report.Error(e, file + ": "); // which file, beside the system's reason (a full disk, say); it stays as it was
  }
  return report.Finish();
}

void ExportMbox(TMailbaseReader* reader, const std::string& file, TExportReport& report, const std::string& label,
                TMboxName naming) {
  TReplacingFile out(file);
  const std::int32_t count = reader && reader->Active ? std::max(reader->GetCount(), 0) : 0;
  std::vector<std::int32_t> order(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
  // Entries are made on a second thread and written here (see ExportMessages).
  TTextsAhead entries(std::move(order), [reader](std::int32_t i) {
    const std::string text = reader->GetMessageText(i);
    std::string entry = MboxSeparator(reader->MessageAt(i), text);
    AppendMboxBody(entry, text);
    return TTextAhead{std::move(entry), {}, {}};
  });
  std::int32_t written = 0;
  for (std::int32_t done = 0; !entries.Done(); ++done) {
    report.Progress(done, count);
    std::int32_t i = -1;
    std::string entry;
    try {
      entry = std::move(entries.Next(i).Text);
    } catch (const Exception& e) {
      // One unreadable message must not cost the others; the summary and the exit status tell.
      report.Error(e, label + "message " + std::to_string(i) + ": ");
      continue;
    }
    out.Write(entry);
    report.Written();
    ++written;
  }
  // An mbox of none of the store's messages would only take the place of
  // what the file held (the failures are counted already).
  if (count > 0 && written == 0) {
    report.Note(label + file + " was left as it was: no message could be written");
    return;
  }
  if (naming == TMboxName::Replacing) return out.Commit();
  // The name is claimed only now that the file is complete: another run
  // that took it meanwhile keeps its file, and this one takes a variant.
  for (int variant = 1; variant <= kMaxVariant; ++variant) {
    const std::string name = variant == 1 ? file : file + " (" + std::to_string(variant) + ")";
    if (out.CommitNew(name)) {
      if (variant > 1) report.Note(label + "written as " + name + " (the name was taken)");
      return;
    }
  }
  throw EFCreateError(file, "the name and its variants up to (" + std::to_string(kMaxVariant) + ") are taken");
}

} // namespace postvue::cli
