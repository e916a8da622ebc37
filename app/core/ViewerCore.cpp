#include "ViewerCore.h"

#include "Exceptions.h"
#include "MessageFile.h"
#include "ReaderFactory.h"
#include "TextLines.h"
#include "ViewerLayout.h"

#include <charconv>
#include <utility>

namespace postvue {

std::string ErrorBoxTextOf(std::exception_ptr failure) {
  try {
    std::rethrow_exception(std::move(failure));
  } catch (const Exception& e) {
    return ErrorBoxText(e.message());
  } catch (const std::exception& e) {
    return ErrorBoxText(e.what());
  }
}

std::string StoreCaption(std::string_view folderName) {
  std::string caption(kApplicationName);
  caption += " - [";
  caption += folderName;
  caption += ']';
  return caption;
}

std::string CountText(std::int32_t count) { return "Count: " + std::to_string(count); }

std::string FoundText(std::int32_t found, std::int32_t unreadable) {
  std::string text(kFoundText);
  text += std::to_string(found);
  if (unreadable > 0) {
    text += " (" + std::to_string(unreadable);
    text += kUnreadableText;
    text += ')';
  }
  return text;
}

std::string SearchingText(TTextSearch::TProgress progress) {
  const std::int64_t percent = progress.Total > 0 ? std::int64_t{progress.Done} * 100 / progress.Total : 0;
  return std::string(kSearchingText) + std::to_string(percent) + '%';
}

std::string JoinedLines(std::string_view text, std::string_view lineEnd) {
  const auto lines = SplitLines(text);
  std::size_t size = 0;
  for (const auto line : lines) size += line.size() + lineEnd.size();
  std::string joined;
  joined.reserve(size);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) joined += lineEnd;
    joined += lines[i];
  }
  return joined;
}

TViewerCore::~TViewerCore() { TextSearch.Cancel(); }

std::string TViewerCore::FolderText() const {
  return Reader ? FolderNameText(*Reader, StoreText) : std::string();
}

void TViewerCore::LoadStore(const std::string& path) {
  ShowWaitCursor();
  const TFinally restoreCursor([this] { RestoreCursor(); });
  BeginRows();
  const TFinally closeBracket([this] { EndRows(); });
  SetPanel(0, "Loading...");
  RepaintNow();
  StopTextSearch();
  // A new store starts in store order, unfiltered.
  Order.Clear();
  KeptSelection = -1;
  ShowSortMark({});
  SetFindStatus({});
  Reader.reset();

  std::exception_ptr failure;
  try {
    const TLocaleFormat format = UserFormat();
    StoreText = format.StoreText;
    // Held before it opens: a reader that fails to load still shows its
    // folder name and count.
    Reader = NewReaderFor(path);
    OpenStore(*Reader, path);
    if (Reader->Active) {
      AddRows(*Reader, Reader->GetCount(), format);
      Order.Build(*Reader, StoreText);
    }
  } catch (...) {
    failure = std::current_exception();
  }

  if (Reader) {
    SetCaption(StoreCaption(FolderText()));
    SetPanel(0, CountText(Reader->GetCount()));
    SetPanel(1, Reader->FileName);
  } else {
    // The previous store is gone and no other took its place: the window
    // shows no store, as at start, rather than the old store's name and count.
    SetCaption(std::string(kApplicationName));
    SetPanel(0, {});
    SetPanel(1, {});
  }
  if (failure) std::rethrow_exception(failure);
}

int TViewerCore::SelectedMessageIndex() {
  const std::string number = SelectedNumberText();
  if (number.empty()) return -1;
  int index = 0;
  std::from_chars(number.data(), number.data() + number.size(), index);
  return index;
}

int TViewerCore::SelectedForReading() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return -1;
  StopTextSearch();
  return index;
}

void TViewerCore::ViewSelected() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return;
  StopTextSearch();
  ShowMessageText(Reader->GetMessageText(index));
}

void TViewerCore::SaveSelected() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return;
  const std::string path = AskSavePath();
  if (path.empty()) return;
  StopTextSearch();
  SetPanel(0, "Saving...");
  RepaintNow();
  ShowWaitCursor();
  const TFinally restoreCursor([this] { RestoreCursor(); });
  const TFinally count([this] { SetPanel(0, CountText(Reader->GetCount())); });
  SaveMessageText(path, Reader->GetMessageText(index));
}

template <class F> void TViewerCore::Reorder(F&& change) {
  // A message filtered out while the user types is selected again when its
  // row comes back.
  if (const int selected = SelectedMessageIndex(); selected >= 0) KeptSelection = selected;
  change();
  ShowListOrder(Order.RowOfMessage(KeptSelection));
}

void TViewerCore::SortList(int column) {
  Reorder([&] { Order.SortBy(column); });
  ShowSortMark(Order.Mark());
}

void TViewerCore::FindInList(std::string_view text) {
  StopTextSearch();
  const TSearchQuery query = TSearchQuery::Parse(text);
  Reorder([&] { Order.FilterByListTexts(query); });
  SetFindStatus(query.Empty() ? std::string() : FoundText(Order.RowCount()));
}

void TViewerCore::SearchTexts(std::string_view text) {
  TSearchQuery query = TSearchQuery::Parse(text);
  if (query.Empty() || !Reader) {
    FindInList(text);
    return;
  }
  TextSearch.Start(*Reader, std::move(query), StoreText);
  SetSearchPolling(true);
  SetFindStatus(SearchingText(TextSearch.Progress()));
}

bool TViewerCore::PollTextSearch() {
  if (!TextSearch.Running()) return false;
  if (!TextSearch.Done()) {
    SetFindStatus(SearchingText(TextSearch.Progress()));
    return true;
  }
  SetSearchPolling(false);
  const std::vector<std::int32_t> found = TextSearch.Finish();
  Reorder([&] { Order.FilterToMessages(found); });
  SetFindStatus(FoundText(Order.RowCount(), TextSearch.Unreadable()));
  return false;
}

void TViewerCore::StopTextSearch() {
  if (!TextSearch.Running()) return;
  TextSearch.Cancel();
  SetSearchPolling(false);
  // The rows are still those found as typed.
  SetFindStatus(Order.Filtered() ? FoundText(Order.RowCount()) : std::string());
}

void TViewerCore::ClearFind() {
  StopTextSearch();
  Reorder([&] { Order.ClearFilter(); });
  SetFindStatus({});
}

} // namespace postvue
