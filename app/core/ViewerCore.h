// What the main window does apart from its widgets, the same in every viewer:
// loading a store (the probe, the reader for its format, the closing steps
// that run however the load ends), viewing and saving the selected message,
// sorting and finding in the list, and the error box's text. A viewer derives from it and supplies its
// platform's steps. Standard library only; texts are UTF-8.
#pragma once

#include "ListOrder.h"
#include "MailbaseReader.h"
#include "RowTexts.h"
#include "TextSearch.h"

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
// The find bar's count: "Found: 12", with " (2 unreadable)" when texts could not be read.
std::string FoundText(std::int32_t found, std::int32_t unreadable = 0);
// "Searching texts: 40%".
std::string SearchingText(TTextSearch::TProgress progress);

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
  // The rows the list shows: which messages, in which order.
  const TListOrder& ListOrder() const { return Order; }

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
  // The list's sorting and finding; a viewer without them keeps the rows as
  // AddRows gave them.
  // The rows changed order or number: the list shows ListOrder()'s rows
  // and selects row (-1: none).
  virtual void ShowListOrder(std::int32_t /*row*/) {}
  // The header marks the sorted column and its direction (Column -1: none).
  virtual void ShowSortMark(TSortMark /*mark*/) {}
  // The find bar's count (FoundText, SearchingText), or empty.
  virtual void SetFindStatus(const std::string& /*text*/) {}
  // A search of the texts began (true) or ended: meanwhile the viewer calls
  // PollTextSearch now and then on its own thread (a timer).
  virtual void SetSearchPolling(bool /*on*/) {}

  // Opens the store at path (UTF-8) and fills the list, in store order
  // without a find (the viewer empties its find bar); raises what the load
  // raised, after its closing steps.
  void LoadStore(const std::string& path);
  // The message index read back from the selected row's "#" text; -1 when no
  // row is selected.
  int SelectedMessageIndex();
  // The selected message for a reading window, -1 when none (or no store):
  // a search of the texts stops first, as the window reads texts too.
  int SelectedForReading();
  void ViewSelected();
  void SaveSelected();

  // A click on a column's header: sorts by it, reverses on the next click;
  // "#" is store order. The selected message stays selected.
  void SortList(int column);
  // The find bar's text as the user types it: only the rows whose sender
  // or subject hold its words (TSearchQuery::Parse); empty: every row. A
  // search of the texts still running stops.
  void FindInList(std::string_view text);
  // Enter in the find bar: the messages whose texts hold the words, searched
  // on threads of their own (TTextSearch) while the window goes on; the
  // list shows them when PollTextSearch sees the search end.
  void SearchTexts(std::string_view text);
  // Shows how far the search is, and at its end the messages found; true
  // while it runs.
  bool PollTextSearch();
  // Escape during a search: it stops; the list keeps the rows found as typed.
  // Every command that reads a text calls it first, as a viewer must before
  // it reads one on its own: the reader serves one thread at a time.
  void StopTextSearch();
  // The find bar closes: every row again, the selection kept.
  void ClearFind();
  // Runs one command; an exception that leaves it is shown in the error box.
  template <class F> void RunGuarded(F&& command) {
    RunShowingError(command, [this](const std::string& text) { ShowError(text); });
  }

  // The folder name of the current reader as text (FolderNameText: the
  // reader decides whether it is a file name or stored bytes).
  std::string FolderText() const;

  std::unique_ptr<TMailbaseReader> Reader;

private:
  // The order changed: the list shows it, the selected message kept.
  template <class F> void Reorder(F&& change);

  std::string (*StoreText)(std::string_view bytes) = Windows1252ToUtf8;
  TListOrder Order;
  // The message last selected while the list was sorted or filtered; -1: none.
  std::int32_t KeptSelection = -1;
  // After Reader: it goes first, and with it its threads, which read the reader.
  TTextSearch TextSearch;
};

} // namespace postvue
