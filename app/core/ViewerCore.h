// What the main window does apart from its widgets, the same in every viewer:
// loading a store (the probe, the reader for its format, the closing steps
// that run however the load ends), viewing and saving the selected message,
// and the error box's text. A viewer derives from it and supplies its
// platform's steps. Standard library only; texts are UTF-8.
#pragma once

#include "MailbaseReader.h"
#include "RowTexts.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace postvue {

// The application title at start; a load that ends with a reader sets it to the caption.
inline constexpr std::string_view kApplicationName = "Postvue";

// The text of the error box for an exception that left a command.
std::string ErrorBoxTextOf(std::exception_ptr failure);

// Runs a closing step on every way out of a scope.
template <class F> class TFinally {
public:
  explicit TFinally(F step) : Step(std::move(step)) {}
  ~TFinally() { Step(); }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

private:
  F Step;
};

// Runs one command; an exception that leaves it goes to show as the error box's text.
template <class F, class S> void RunShowingError(F&& command, S&& show) {
  std::exception_ptr failure;
  try {
    command();
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) show(ErrorBoxTextOf(failure));
}

// The caption of a loaded store: "Postvue - [%s]" with its folder name.
std::string StoreCaption(std::string_view folderName);
// "Count: %d".
std::string CountText(std::int32_t count);

// The raw text of a message as the data window shows it: its lines (line
// splitting) joined by lineEnd, without a break after the last.
std::string JoinedLines(std::string_view text, std::string_view lineEnd);

class TViewerCore {
public:
  TViewerCore() = default;
  virtual ~TViewerCore();
  TViewerCore(const TViewerCore&) = delete;
  TViewerCore& operator=(const TViewerCore&) = delete;

  // The current reader, or none.
  const TMailbaseReader* CurrentReader() const { return Reader.get(); }

protected:
  // The platform's steps, named by what the user sees.
  virtual void ShowWaitCursor() = 0;
  virtual void RestoreCursor() = 0;
  // Opens the list's update bracket and removes every row.
  virtual void BeginRows() = 0;
  // Adds one row per message 0 to count - 1 of reader (inside the bracket).
  virtual void AddRows(TMailbaseReader& reader, std::int32_t count, const TLocaleFormat& format) = 0;
  // Closes the bracket; the list redraws once with its rows.
  virtual void EndRows() = 0;
  virtual void SetPanel(int panel, const std::string& text) = 0;
  virtual void RepaintNow() = 0;
  // The window's caption and the application title.
  virtual void SetCaption(const std::string& text) = 0;
  // The user's formats, read at every load.
  virtual TLocaleFormat UserFormat() = 0;
  // The selected row's "#" text; empty when no row is selected.
  virtual std::string SelectedNumberText() = 0;
  // The path chosen in the save dialog; empty when the user cancels.
  virtual std::string AskSavePath() = 0;
  // The message data window, modal.
  virtual void ShowMessageText(const std::string& text) = 0;
  virtual void ShowError(const std::string& text) = 0;

  // Opens the store at path (UTF-8) and fills the list; raises what the load
  // raised, after its closing steps.
  void LoadStore(const std::string& path);
  // The message index read back from the selected row's "#" text; -1 when no
  // row is selected.
  int SelectedMessageIndex();
  void ViewSelected();
  void SaveSelected();
  // Runs one command; an exception that leaves it is shown in the error box.
  template <class F> void RunGuarded(F&& command) {
    RunShowingError(command, [this](const std::string& text) { ShowError(text); });
  }

  // The folder name of the current reader as text (FolderNameText: the
  // reader decides whether it is a file name or stored bytes).
  std::string FolderText() const;

  std::unique_ptr<TMailbaseReader> Reader;

private:
  std::string (*StoreText)(std::string_view bytes) = Windows1252ToUtf8;
};

} // namespace postvue
