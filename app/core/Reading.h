// The reading window apart from its widgets, the same in every viewer: a
// message as a person reads it (TMessageReading, a value built once per
// message) and what the window's commands do with it (TReadingCore, which a
// viewer's reading window derives from and supplies its platform's steps).
// Standard library only; texts are UTF-8.
#pragma once

#include "MailbaseReader.h"
#include "ReadableMessage.h"
#include "RowTexts.h"
#include "StoreMessage.h"
#include "ViewerCore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// Whether a plain text is laid out in columns (tables, aligned lists), so
// that it reads right only in a fixed-pitch face: several lines with runs of
// blanks, or tabs, inside them.
bool LaidOutInColumns(std::string_view text);

// "512 bytes", "7,168 KB" (kilobytes rounded up, digits grouped as the user has them).
std::string AttachmentSizeText(std::uint64_t size, const TLocaleFormat& format);

struct THeaderLine {
  std::string_view Label; // "From:", from ViewerLayout.h
  std::string Value;
};

struct TReadingAttachment {
  std::string Name;     // safe for a file name: the name a save offers
  std::string SizeText; // AttachmentSizeText
  std::string Type;     // "image/jpeg"
  bool Picture = false; // an image by its type or name: the platform tries to show it
  bool Message = false; // an attached message: it can be read (AttachedMessage)
};

// What save all ended with.
struct TSaveAllReport {
  int Saved = 0;    // written, or there already with the same bytes
  int Renamed = 0;  // of Saved, under a free variant of the name
  int Failed = 0;
  std::vector<std::string> Errors; // "name: why", one per failure
  // "3 attachments saved (1 under a new name)." and the failures' lines.
  std::string Text() const;
};

// One message as the reading window shows it, decoded once when made.
class TMessageReading {
public:
  TMessageReading() = default;
  // raw: the message's text. received: the store's time for it (UTC, 0.0 for
  // none), shown where the message has no readable Date. index: the message's
  // index in the store, -1 for a message read alone (an attached one).
  TMessageReading(std::string raw, double received, const TLocaleFormat& format, std::int32_t index = -1);
  // Message index of reader, whole when it is a piece of a broken-apart
  // message whose pieces pieces finds; raises the reader's error when its
  // text cannot be read.
  static TMessageReading OfStore(TMailbaseReader& reader, std::int32_t index, const TLocaleFormat& format,
                                 TPartialPieces& pieces);

  std::int32_t Index() const { return MessageIndex; }
  // From, To, Cc when there is one, Date, Subject.
  const std::vector<THeaderLine>& HeaderLines() const { return Lines; }
  // The text, lines ended by LF.
  const std::string& Body() const { return Message.Body; }
  bool FixedPitch() const { return Fixed; }
  const std::vector<TReadingAttachment>& Attachments() const { return Files; }
  const std::vector<std::string>& Notes() const { return Message.Notes; }
  // The window's caption: the subject, or "(no subject)".
  std::string Caption() const;
  const std::string& Raw() const { return RawText; }

  // The decoded bytes of attachment i.
  std::string AttachmentBytes(std::size_t i) const;
  // Attachment i written to path, replacing what is there only when complete.
  void SaveAttachment(std::size_t i, const std::string& path) const;
  // Every attachment written into folder under its name or a free variant,
  // replacing nothing; a failure of one does not stop the others.
  TSaveAllReport SaveAllAttachments(const std::string& folder) const;
  // The attached message i (Message set) read on its own.
  TMessageReading AttachedMessage(std::size_t i, const TLocaleFormat& format) const;

private:
  TMessageReading(TStoreMessage read, double received, const TLocaleFormat& format, std::int32_t index);

  std::string RawText;
  TReadableMessage Message;
  std::vector<THeaderLine> Lines;
  std::vector<TReadingAttachment> Files;
  std::int32_t MessageIndex = -1;
  double Received = 0.0;
  bool Fixed = false;
};

class TReadingCore {
public:
  virtual ~TReadingCore();
  TReadingCore(const TReadingCore&) = delete;
  TReadingCore& operator=(const TReadingCore&) = delete;

  const TMessageReading& Reading() const { return Current; }

protected:
  // reader: the main window's current reader, which outlives the window
  // (the window is modal); none for a window on an attached message.
  TReadingCore(TMailbaseReader* reader, const TLocaleFormat& format);

  // The platform's steps, named by what the user sees.
  // Fills the window with reading (header lines, text, pictures, attachments, notes, caption).
  virtual void ShowReading(const TMessageReading& reading) = 0;
  // The message index of the row step rows away (-1 the previous, +1 the
  // next) from the row of message index in the list's present order; -1 when
  // there is none. The platform may select that row as well.
  virtual std::int32_t NeighbourIndex(std::int32_t index, int step) = 0;
  // The path chosen in a save dialog offering name; empty when cancelled.
  virtual std::string AskAttachmentPath(const std::string& name) = 0;
  // The folder chosen in a folder dialog; empty when cancelled.
  virtual std::string AskAttachmentFolder() = 0;
  // The path chosen in the message save dialog (as the main window's Save); empty when cancelled.
  virtual std::string AskMessagePath() = 0;
  // What save all did: an information box (a warning when some failed).
  virtual void ShowSaveReport(const TSaveAllReport& report) = 0;
  // A new reading window, modal, on an attached message.
  virtual void ShowAttachedMessage(const TMessageReading& reading) = 0;
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowWaitCursor() = 0;
  virtual void RestoreCursor() = 0;

  // The commands; each raises what failed (RunGuarded shows it).
  // Reads message index of the reader and shows it.
  void OpenMessage(std::int32_t index);
  // Shows a reading made elsewhere (an attached message).
  void OpenReading(TMessageReading reading);
  // Whether Previous (-1) or Next (+1) has a message to go to.
  bool CanStep(int step);
  // Previous or Next: the neighbouring row's message; on a failure the
  // window keeps the message it shows.
  void Step(int step);
  void SaveAttachment(std::size_t i);
  void SaveAllAttachments();
  void SaveMessage();
  // Opens attachment i in a window of its own when it is a message.
  void ReadAttachedMessage(std::size_t i);

  // Runs one command; an exception that leaves it is shown in the error box.
  template <class F> void RunGuarded(F&& command) {
    RunShowingError(command, [this](const std::string& text) { ShowError(text); });
  }

  TLocaleFormat Format;

private:
  TMailbaseReader* Reader;
  std::optional<TPartialPieces> Pieces; // the reader's, found when a piece is first read
  TMessageReading Current;
};

} // namespace postvue
