// show: messages as a person reads them, through the mail library's reading.
#include "Commands.h"
#include "Json.h"
#include "ReadableMessage.h"
#include "StoreMessage.h"
#include "TextsAhead.h"

namespace postvue::cli {

namespace {
void AppendHeaderLine(std::string& out, const char* name, const std::string& value) {
  out += name;
  out += ": ";
  AppendField(out, value);
  out += '\n';
}

void AppendShowText(std::string& out, const TReadableMessage& message) {
  AppendHeaderLine(out, "From", message.From);
  AppendHeaderLine(out, "To", message.To);
  if (!message.Cc.empty()) AppendHeaderLine(out, "Cc", message.Cc);
  AppendHeaderLine(out, "Date", message.Date);
  AppendHeaderLine(out, "Subject", message.Subject);
  if (!message.Attachments.empty()) {
    std::string list;
    for (const TAttachment& attachment : message.Attachments) {
      if (!list.empty()) list += ", ";
      list += attachment.Name + " (" + std::to_string(attachment.Size) + " bytes)";
    }
    AppendHeaderLine(out, "Attachments", list);
  }
  out += '\n';
  out += message.Body;
  if (!message.Body.empty() && message.Body.back() != '\n') out += '\n';
}

void AppendJsonField(std::string& out, const char* key, const std::string& value) {
  out += ", \"";
  out += key;
  out += "\": ";
  AppendJsonUtf8(out, value);
}

void AppendShowJson(std::string& out, std::int32_t index, const TReadableMessage& message) {
  out += "{\"index\": " + std::to_string(index);
  AppendJsonField(out, "from", message.From);
  AppendJsonField(out, "to", message.To);
  AppendJsonField(out, "cc", message.Cc);
  AppendJsonField(out, "date", message.Date);
  AppendJsonField(out, "subject", message.Subject);
  AppendJsonField(out, "body", message.Body);
  out += message.Html ? ", \"html\": true" : ", \"html\": false";
  out += ", \"attachments\": [";
  for (std::size_t i = 0; i < message.Attachments.size(); ++i) {
    const TAttachment& attachment = message.Attachments[i];
    out += i == 0 ? "{\"name\": " : ", {\"name\": ";
    AppendJsonUtf8(out, attachment.Name);
    out += ", \"type\": ";
    AppendJsonUtf8(out, attachment.Type);
    out += ", \"size\": " + std::to_string(attachment.Size) + "}";
  }
  out += "], \"notes\": [";
  for (std::size_t i = 0; i < message.Notes.size(); ++i) {
    if (i > 0) out += ", ";
    AppendJsonUtf8(out, message.Notes[i]);
  }
  out += "]}\n";
}
} // namespace

int RunShow(const std::string& store, std::optional<std::int32_t> index, bool json) {
  const bool all = !index;
  const auto reader = LoadStore(store, all); // every message of an empty store is none
  if (index) CheckIndex(*reader, *index);
  TPartialPieces pieces(*reader);
  TOutput output(true);
  const std::int32_t first = index.value_or(0), end = index ? *index + 1 : std::max(reader->GetCount(), 0);
  std::vector<std::int32_t> order;
  for (std::int32_t i = first; i < end; ++i) order.push_back(i);
  // Read and decoded on a second thread while this one writes: from now on
  // only that thread uses the reader.
  TTextsAhead reads(std::move(order), [&reader, &pieces](std::int32_t i) {
    return TTextAhead{{}, {}, ReadStoreMessage(*reader, i, pieces).Message};
  });
  int status = 0;
  while (!reads.Done()) {
    std::int32_t i = -1;
    TTextAhead read;
    try {
      read = reads.Next(i);
    } catch (const Exception& error) {
      if (!all) throw;
      // One damaged message does not end a reading of the whole store.
      output.Flush();
      ReportException(error, "message " + std::to_string(i) + ": ");
      status = 1;
      continue;
    }
    if (json)
      AppendShowJson(output.Text, i, read.Reading);
    else
      AppendShowText(output.Text, read.Reading);
    output.Pass();
  }
  output.Flush();
  return status;
}

} // namespace postvue::cli

namespace postvue::cli {

int RunAttachments(const std::string& store, std::int32_t index, const std::string* dir) {
  const auto reader = LoadStore(store);
  CheckIndex(*reader, index);
  TPartialPieces pieces(*reader);
  const TStoreMessage read = ReadStoreMessage(*reader, index, pieces);
  const TReadableMessage& message = read.Message;
  if (!dir) {
    TOutput output(true);
    for (const TAttachment& attachment : message.Attachments) {
      AppendField(output.Text, attachment.Name);
      output.Text += '\t' + attachment.Type + '\t' + std::to_string(attachment.Size) + '\n';
    }
    output.Flush();
    return 0;
  }
  // Saved as export saves messages: under free names, replacing nothing,
  // leaving a file that holds the same bytes as it is.
  const TNewFileFolder folder(PrepareFolder(*dir));
  TExportReport report;
  for (const TAttachment& attachment : message.Attachments) {
    try {
      report.Saved(SaveUnderFreeName(folder, attachment.Name, AttachmentBytes(read.Text, attachment),
                                     reader->MessageAt(index).Received));
    } catch (const Exception& error) {
      report.Error(error, attachment.Name + ": ");
    }
  }
  return report.Finish();
}

} // namespace postvue::cli
