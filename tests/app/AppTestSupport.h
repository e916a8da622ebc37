// Shared pieces of the viewer's tests: a main window whose dialogs and error
// box answer from the test instead of waiting for a user, and store files.
#pragma once

#include "Main.h"
#include "StoreWriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <string>
#include <vector>

namespace postvue::testing {

class TTestWindow : public Twnd_oe_Main {
public:
  using Twnd_oe_Main::Twnd_oe_Main;

  // Answers of the open and save dialogs, taken in turn; none left: cancelled.
  QStringList OpenAnswers;
  QStringList SaveAnswers;
  // The reading window's dialogs: attachment paths and folders, taken in turn.
  QStringList AttachmentAnswers, FolderAnswers;
  QStringList OfferedNames; // the names the attachment dialog offered
  QStringList Reports;      // the texts of the report boxes
  int OpenDialogRuns = 0;
  int SaveDialogRuns = 0;

  struct TBox {
    QString Title;
    QString Text;
    bool WindowVisible;
  };
  std::vector<TBox> Boxes;
  // Show the real message box instead of recording it.
  bool RealErrorBox = false;

  void Open(const std::string& path) {
    OpenAnswers = {QString::fromStdString(path)};
    mmOpen->trigger();
  }

  // Selects the row of a message index (or nothing for -1).
  void SelectRow(int row) {
    if (row < 0)
      List->clearSelection();
    else
      List->setCurrentIndex(List->model()->index(row, 1));
  }

  QStringList BoxTexts() const {
    QStringList texts;
    for (const auto& box : Boxes) texts << box.Text;
    return texts;
  }

protected:
  QString RunOpenDialog() override {
    ++OpenDialogRuns;
    return OpenAnswers.isEmpty() ? QString() : OpenAnswers.takeFirst();
  }
  QString RunSaveDialog() override {
    ++SaveDialogRuns;
    return SaveAnswers.isEmpty() ? QString() : SaveAnswers.takeFirst();
  }
  QString RunAttachmentDialog(QWidget*, const QString& name) override {
    OfferedNames << name;
    return AttachmentAnswers.isEmpty() ? QString() : AttachmentAnswers.takeFirst();
  }
  QString RunFolderDialog(QWidget*) override {
    return FolderAnswers.isEmpty() ? QString() : FolderAnswers.takeFirst();
  }
  void ShowReportBox(QWidget*, const QString& text, bool) override { Reports << text; }
  void ShowErrorBox(const QString& text) override {
    if (RealErrorBox) {
      Twnd_oe_Main::ShowErrorBox(text);
      return;
    }
    Boxes.push_back({ApplicationTitle(), text, isVisible()});
  }
};

// Runs action on the first modal window of class T once it is up; returns
// false when none came within the time. The action must end the modal run.
template <class T> class TModalWatcher {
public:
  explicit TModalWatcher(std::function<void(T*)> action, int timeoutMs = 5000)
      : Action(std::move(action)), Timeout(timeoutMs) {
    Clock.start();
    Timer.setInterval(5);
    QObject::connect(&Timer, &QTimer::timeout, [this] { Poll(); });
    Timer.start();
  }
  bool Seen() const { return SeenModal; }

private:
  void Poll() {
    if (SeenModal || Clock.elapsed() > Timeout) {
      Timer.stop();
      return;
    }
    if (T* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
      SeenModal = true;
      Timer.stop();
      Action(modal);
    }
  }

  std::function<void(T*)> Action;
  int Timeout;
  QElapsedTimer Clock;
  QTimer Timer;
  bool SeenModal = false;
};

// Records what a widget showed each time it was painted.
class TPaintRecorder : public QObject {
public:
  TPaintRecorder(QWidget* widget, std::function<QString()> state) : State(std::move(state)) {
    widget->installEventFilter(this);
  }
  QStringList Painted;

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) Painted << State();
    return false;
  }

private:
  std::function<QString()> State;
};

// A .dbx store of these messages, written to path.
inline std::string WriteDbx(const std::string& path, const std::vector<TTestMessage>& messages,
                            const std::string& folderName = "Inbox") {
  TDbxOptions options;
  options.FolderName = folderName;
  MakeDbx(messages, options).WriteFile(path);
  return path;
}

inline TTestMessage Message(const std::string& subject, const std::string& text, std::uint32_t flags = 0x80) {
  TTestMessage message;
  message.Subject = subject;
  message.SenderName = "Sender of " + subject;
  message.Text = text;
  message.Flags = flags;
  return message;
}

} // namespace postvue::testing
