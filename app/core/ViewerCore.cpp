#include "ViewerCore.h"

#include "Exceptions.h"
#include "MessageFile.h"
#include "ReaderFactory.h"
#include "TextLines.h"

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

TViewerCore::~TViewerCore() = default;

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
  Reader.reset();

  std::exception_ptr failure;
  try {
    const TLocaleFormat format = UserFormat();
    StoreText = format.StoreText;
    // Held before it opens: a reader that fails to load still shows its
    // folder name and count.
    Reader = NewReaderFor(path);
    OpenStore(*Reader, path);
    if (Reader->Active) AddRows(*Reader, Reader->GetCount(), format);
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

void TViewerCore::ViewSelected() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return;
  ShowMessageText(Reader->GetMessageText(index));
}

void TViewerCore::SaveSelected() {
  const int index = SelectedMessageIndex();
  if (index < 0 || !Reader) return;
  const std::string path = AskSavePath();
  if (path.empty()) return;
  SetPanel(0, "Saving...");
  RepaintNow();
  ShowWaitCursor();
  const TFinally restoreCursor([this] { RestoreCursor(); });
  const TFinally count([this] { SetPanel(0, CountText(Reader->GetCount())); });
  SaveMessageText(path, Reader->GetMessageText(index));
}

} // namespace postvue
