// The reading window: a message as a person reads it (header lines, text,
// pictures, attachments, notes), modal, with Previous and Next through the
// main window's list and the saves of its attachments and of the message.
#pragma once

#include "Reading.h"

#include <QDialog>
#include <QSize>
#include <QString>

#include <vector>

class QLabel;
class QPushButton;
class QTextEdit;
class QTreeWidget;
class QWidget;

namespace postvue {

class Twnd_oe_Main;

class Twnd_oe_Read : public QDialog, protected TReadingCore {
  Q_OBJECT
public:
  // main: the window whose list Previous and Next follow and whose dialogs
  // ask where to save; reader: its current reader, or none for an attached
  // message read alone.
  Twnd_oe_Read(QWidget* owner, Twnd_oe_Main* main, TMailbaseReader* reader, const TLocaleFormat& format);
  ~Twnd_oe_Read() override;

  QLabel* HeaderNames[5] = {};
  QLabel* HeaderValues[5] = {};
  QTextEdit* Text = nullptr;
  QLabel* AttachmentsLabel = nullptr;
  QTreeWidget* Attachments = nullptr;
  QLabel* NotesLabel = nullptr;
  QPushButton* SaveAttachmentButton = nullptr;
  QPushButton* SaveAllButton = nullptr;
  QPushButton* SaveMessageButton = nullptr;
  QPushButton* PreviousButton = nullptr;
  QPushButton* NextButton = nullptr;
  QPushButton* CloseButton = nullptr;

  using TReadingCore::OpenMessage;
  using TReadingCore::OpenReading;
  using TReadingCore::Reading;

  void cmPrevious();
  void cmNext();
  void cmSaveAttachment();
  void cmSaveAllAttachments();
  void cmSaveMessage();
  // The selected attachment: an attached message is read, anything else saved.
  void cmOpenAttachment();

  // How many pictures the text shows (once they are decoded, after the text's first paint).
  int PictureCount() const { return static_cast<int>(Pictures.size()); }

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

  void ShowReading(const TMessageReading& reading) override;
  std::int32_t NeighbourIndex(std::int32_t index, int step) override;
  std::string AskAttachmentPath(const std::string& name) override;
  std::string AskAttachmentFolder() override;
  std::string AskMessagePath() override;
  void ShowSaveReport(const TSaveAllReport& report) override;
  void ShowAttachedMessage(const TMessageReading& reading) override;
  void ShowError(const std::string& text) override;
  void ShowWaitCursor() override;
  void RestoreCursor() override;

private:
  struct TPicture {
    QString Name; // the document's resource name
    int Width = 0, Height = 0;
  };
  int Scaled(int pixels) const;
  void Run(void (Twnd_oe_Read::*command)());
  void ShowPictures(const TMessageReading& reading);
  // The pictures as large as they are, or as the text's view where that is less.
  void FitPictures();
  void UpdateButtons();

  Twnd_oe_Main* Main;
  double Scale = 1.0;
  bool FirstShow = true;
  std::vector<TPicture> Pictures;
  QSize FittedSize;
  unsigned Shown = 0;          // counts the messages shown, so a late decoding knows its own
  bool PicturesPending = false; // decoded at the text's first paint
};

} // namespace postvue
