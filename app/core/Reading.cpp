#include "Reading.h"

#include "Exceptions.h"
#include "ExportNames.h"
#include "MailDate.h"
#include "MessageFile.h"
#include "ViewerLayout.h"

#include <algorithm>
#include <utility>

namespace postvue {

namespace {
std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// Pictures often come as application/octet-stream: their name tells.
bool IsPicture(const TAttachment& attachment) {
  const std::string type = LowerAscii(attachment.Type);
  if (type.starts_with("image/")) return true;
  const std::string name = LowerAscii(attachment.Name);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view extension = std::string_view(name).substr(dot + 1);
  for (const std::string_view picture : {"jpg", "jpeg", "jpe", "png", "gif", "bmp", "tif", "tiff"})
    if (extension == picture) return true;
  return false;
}

bool IsAttachedMessage(const TAttachment& attachment) {
  const std::string type = LowerAscii(attachment.Type);
  return type == "message/rfc822" || type == "message/global";
}

// The sender's date in the user's formats; where the line cannot be read,
// the store's time, and the line as written where the store gives none.
std::string DateText(const std::string& written, double received, const TLocaleFormat& format) {
  if (const auto date = ParseMailDate(written)) return ReceivedText(date->Local, format);
  if (received != 0.0) return ReceivedText(received, format);
  return written;
}
} // namespace

TReadOptions ReadingOptions(TMailbaseReader* /*reader*/) {
  TReadOptions options;
  options.SafeName = [](std::string_view name) { return SafeFileName(name); };
  return options;
}

bool LaidOutInColumns(std::string_view text) {
  // The first lines are enough to tell, and keep a long message cheap.
  text = text.substr(0, 64 * 1024);
  int lines = 0, columned = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) continue;
    ++lines;
    const std::size_t last = line.find_last_not_of(" \t");
    const std::string_view inside = line.substr(first, last - first + 1);
    if (inside.find('\t') != std::string_view::npos || inside.find("   ") != std::string_view::npos) ++columned;
  }
  // Three such lines, and a fair share of the text: one table in a letter
  // is enough, a stray double blank is not.
  return columned >= 3 && columned * 5 >= lines;
}

std::string AttachmentSizeText(std::uint64_t size, const TLocaleFormat& format) {
  if (size < 1024) return std::to_string(size) + (size == 1 ? " byte" : " bytes");
  const std::uint64_t kilobytes = std::min<std::uint64_t>((size + 1023) / 1024, 0xFFFFFFFFu);
  return SizeText(static_cast<std::uint32_t>(kilobytes), format) + " KB";
}

std::string TSaveAllReport::Text() const {
  std::string text = std::to_string(Saved) + (Saved == 1 ? " attachment saved" : " attachments saved");
  if (Renamed > 0) text += " (" + std::to_string(Renamed) + " under a new name)";
  text += '.';
  if (Failed > 0) {
    text += ' ' + std::to_string(Failed) + " could not be saved:";
    for (const std::string& error : Errors) text += '\n' + error;
  }
  return text;
}

TMessageReading::TMessageReading(std::string raw, double received, const TLocaleFormat& format, std::int32_t index,
                                 const TReadOptions& options)
    : RawText(std::move(raw)), Message(ReadMessage(RawText, options)), MessageIndex(index), Received(received) {
  Lines.push_back({kFromLabel, Message.From});
  Lines.push_back({kToLabel, Message.To});
  if (!Message.Cc.empty()) Lines.push_back({kCcLabel, Message.Cc});
  Lines.push_back({kDateLabel, DateText(Message.Date, received, format)});
  Lines.push_back({kSubjectLabel, Message.Subject});
  Fixed = !Message.Html && LaidOutInColumns(Message.Body);
  Files.reserve(Message.Attachments.size());
  for (const TAttachment& attachment : Message.Attachments)
    Files.push_back({attachment.Name, AttachmentSizeText(attachment.Size, format), attachment.Type,
                     IsPicture(attachment), IsAttachedMessage(attachment)});
}

TMessageReading TMessageReading::OfStore(TMailbaseReader& reader, std::int32_t index, const TLocaleFormat& format) {
  std::string raw = reader.GetMessageText(index);
  return TMessageReading(std::move(raw), reader.MessageAt(index).Received, format, index, ReadingOptions(&reader));
}

std::string TMessageReading::Caption() const {
  return Message.Subject.empty() ? std::string(kNoSubjectCaption) : Message.Subject;
}

std::string TMessageReading::AttachmentBytes(std::size_t i) const {
  return postvue::AttachmentBytes(RawText, Message.Attachments.at(i));
}

void TMessageReading::SaveAttachment(std::size_t i, const std::string& path) const {
  TReplacingFile file(path);
  file.Write(AttachmentBytes(i));
  file.Commit();
}

TSaveAllReport TMessageReading::SaveAllAttachments(const std::string& folder) const {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
  const TNewFileFolder files(prefix);
  TSaveAllReport report;
  for (std::size_t i = 0; i < Message.Attachments.size(); ++i) {
    const std::string& name = Message.Attachments[i].Name;
    try {
      const TSaved saved = SaveUnderFreeName(files, name, AttachmentBytes(i), Received);
      ++report.Saved;
      if (saved.Renamed) ++report.Renamed;
    } catch (const Exception& error) {
      ++report.Failed;
      report.Errors.push_back(name + ": " + ErrorBoxText(error.message()));
      if (FailsEveryNewFile(error)) {
        // The folder takes no file at all: the rest would only repeat why.
        report.Failed += static_cast<int>(Message.Attachments.size() - i - 1);
        break;
      }
    }
  }
  return report;
}

TMessageReading TMessageReading::AttachedMessage(std::size_t i, const TLocaleFormat& format) const {
  return TMessageReading(AttachmentBytes(i), 0.0, format);
}

TReadingCore::TReadingCore(TMailbaseReader* reader, const TLocaleFormat& format) : Format(format), Reader(reader) {}

TReadingCore::~TReadingCore() = default;

void TReadingCore::OpenMessage(std::int32_t index) {
  if (!Reader) return;
  ShowWaitCursor();
  const TFinally restoreCursor([this] { RestoreCursor(); });
  Current = TMessageReading::OfStore(*Reader, index, Format);
  ShowReading(Current);
}

void TReadingCore::OpenReading(TMessageReading reading) {
  Current = std::move(reading);
  ShowReading(Current);
}

bool TReadingCore::CanStep(int step) {
  return Reader && Current.Index() >= 0 && NeighbourIndex(Current.Index(), step) >= 0;
}

void TReadingCore::Step(int step) {
  if (!Reader || Current.Index() < 0) return;
  const std::int32_t next = NeighbourIndex(Current.Index(), step);
  if (next >= 0) OpenMessage(next);
}

void TReadingCore::SaveAttachment(std::size_t i) {
  if (i >= Current.Attachments().size()) return;
  const std::string path = AskAttachmentPath(Current.Attachments()[i].Name);
  if (path.empty()) return;
  ShowWaitCursor();
  const TFinally restoreCursor([this] { RestoreCursor(); });
  Current.SaveAttachment(i, path);
}

void TReadingCore::SaveAllAttachments() {
  if (Current.Attachments().empty()) return;
  const std::string folder = AskAttachmentFolder();
  if (folder.empty()) return;
  TSaveAllReport report;
  {
    ShowWaitCursor();
    const TFinally restoreCursor([this] { RestoreCursor(); });
    report = Current.SaveAllAttachments(folder);
  }
  ShowSaveReport(report);
}

void TReadingCore::SaveMessage() {
  const std::string path = AskMessagePath();
  if (path.empty()) return;
  ShowWaitCursor();
  const TFinally restoreCursor([this] { RestoreCursor(); });
  // What the main window's Save writes: the same text, the same way.
  SaveMessageText(path, Current.Raw());
}

void TReadingCore::ReadAttachedMessage(std::size_t i) {
  if (i >= Current.Attachments().size() || !Current.Attachments()[i].Message) return;
  ShowAttachedMessage(Current.AttachedMessage(i, Format));
}

} // namespace postvue
