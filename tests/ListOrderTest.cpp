// The list's order without any widget: sorting by a column, filtering as
// the user types and to a search's result, the selection kept, and the
// search of the texts on its own threads.
#include "ListOrder.h"
#include "ReaderFactory.h"
#include "StoreWriter.h"
#include "TestSupport.h"
#include "TextSearch.h"
#include "ViewerCore.h"

#include <thread>
#include <vector>

using namespace postvue;
using namespace postvue::testing;

namespace {

// Subjects as stored, in Windows-1252: "élan", "Ärger". Messages 3 and 5
// sort alike ("banana"); "needle" is only in the texts of 1 and 3.
std::vector<TTestMessage> Messages() {
  const char* subjects[] = {"Re: Zebra", "\xE9lan", "AW[2]: apple", "banana", "Fwd: \xC4rger", "RE: Banana"};
  const char* bodies[] = {"one", "a needle here", "three", "has a NEEDLE too", "five", "six"};
  std::vector<TTestMessage> messages;
  for (int i = 0; i < 6; ++i) {
    TTestMessage m;
    m.Subject = subjects[i];
    m.SenderName = i % 2 ? "Ann" : "Bob";
    m.Text = std::string("Subject: ") + subjects[i] + "\r\n\r\n" + bodies[i];
    messages.push_back(m);
  }
  return messages;
}

std::vector<std::uint32_t> Rows(std::initializer_list<std::uint32_t> messages) { return messages; }

// A window that keeps its selection as a message's "#" text, as the lists do.
class TFakeViewer : public TViewerCore {
public:
  std::string Selected;
  std::vector<std::string> Statuses;
  std::vector<bool> Polling;
  TSortMark SortMark;

  void Load(const std::string& path) { LoadStore(path); }
  using TViewerCore::ClearFind;
  using TViewerCore::FindInList;
  using TViewerCore::PollTextSearch;
  using TViewerCore::SearchTexts;
  using TViewerCore::SortList;
  using TViewerCore::StopTextSearch;

protected:
  void ShowWaitCursor() override {}
  void RestoreCursor() override {}
  void BeginRows() override {}
  void AddRows(TMailbaseReader&, std::int32_t, const TLocaleFormat&) override {}
  void EndRows() override {}
  void SetPanel(int, const std::string&) override {}
  void RepaintNow() override {}
  void SetCaption(const std::string&) override {}
  TLocaleFormat UserFormat() override { return {}; }
  std::string SelectedNumberText() override { return Selected; }
  std::string AskSavePath() override { return {}; }
  void ShowMessageText(const std::string&) override {}
  void ShowError(const std::string&) override {}
  void ShowListOrder(std::int32_t row) override {
    Selected = row < 0 ? std::string() : std::to_string(ListOrder().MessageOfRow(row));
  }
  void ShowSortMark(TSortMark mark) override { SortMark = mark; }
  void SetFindStatus(const std::string& text) override { Statuses.push_back(text); }
  void SetSearchPolling(bool on) override { Polling.push_back(on); }
};

class ListOrder : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Store() {
    MakeDbx(Messages()).WriteFile(Dir / "store.dbx");
    return Dir / "store.dbx";
  }
};

TEST_F(ListOrder, SortsBySubjectWithoutPrefixesAndAccents) {
  EXPECT_EQ(SubjectSortKey("Re: Fwd: AW[2]: Hello"), "hello");
  EXPECT_EQ(SubjectSortKey("R\xC3\xA9" "f. : Antw:SV: Re(3): \xC3\x89t\xC3\xA9"), "ete");
  EXPECT_EQ(SubjectSortKey("Rebus: Re"), "rebus: re"); // a word that starts like one is no prefix
  EXPECT_EQ(SubjectSortKey("Re[]: x"), "re[]: x");

  const auto reader = NewReaderFor(Store());
  OpenStore(*reader, Dir / "store.dbx");
  TListOrder order;
  order.Build(*reader, Windows1252ToUtf8);
  EXPECT_EQ(order.ShownMessages(), Rows({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(order.Mark().Column, -1);

  order.SortBy(6);
  EXPECT_EQ(order.ShownMessages(), Rows({2, 4, 3, 5, 1, 0})); // equal keys in store order
  EXPECT_FALSE(order.Mark().Descending);
  order.SortBy(6);
  EXPECT_EQ(order.ShownMessages(), Rows({0, 1, 3, 5, 4, 2})); // reversed, equal keys still in store order
  EXPECT_TRUE(order.Mark().Descending);

  // A search's result shows in the sort, whatever order it came in.
  order.FilterToMessages({4, 0, 1});
  EXPECT_EQ(order.ShownMessages(), Rows({0, 1, 4}));
  EXPECT_EQ(order.RowOfMessage(4), 2);
  EXPECT_EQ(order.RowOfMessage(3), -1);
  order.SortBy(5); // sender: Ann before Bob
  EXPECT_EQ(order.ShownMessages(), Rows({1, 0, 4}));
  order.SortBy(1);
  EXPECT_EQ(order.ShownMessages(), Rows({0, 1, 4}));
  order.ClearFilter();
  EXPECT_EQ(order.ShownMessages(), Rows({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(order.Mark().Column, 1);
  EXPECT_FALSE(order.Mark().Descending);
}

TEST_F(ListOrder, FindAsTypedThenClearedKeepsTheSelection) {
  TFakeViewer viewer;
  viewer.Load(Store());
  viewer.Selected = "5";
  viewer.SortList(6);
  EXPECT_EQ(viewer.ListOrder().ShownMessages(), Rows({2, 4, 3, 5, 1, 0}));
  EXPECT_EQ(viewer.Selected, "5");
  EXPECT_EQ(viewer.SortMark.Column, 6);

  viewer.FindInList("B\xC3\xA1n"); // "Bán": accents and case aside
  EXPECT_EQ(viewer.ListOrder().ShownMessages(), Rows({3, 5}));
  EXPECT_EQ(viewer.Selected, "5");
  EXPECT_EQ(viewer.Statuses.back(), "Found: 2");
  viewer.FindInList("ann ban re"); // every word, in the sender or the subject
  EXPECT_EQ(viewer.ListOrder().ShownMessages(), Rows({5}));
  viewer.FindInList("ann ban bob");
  EXPECT_EQ(viewer.ListOrder().RowCount(), 0);
  EXPECT_EQ(viewer.Selected, "");
  viewer.FindInList("ann");
  EXPECT_EQ(viewer.Selected, "5"); // back with its row

  viewer.Selected = "3";
  viewer.ClearFind();
  EXPECT_EQ(viewer.ListOrder().ShownMessages(), Rows({2, 4, 3, 5, 1, 0}));
  EXPECT_EQ(viewer.Selected, "3");
  EXPECT_EQ(viewer.Statuses.back(), "");
}

TEST_F(ListOrder, SearchOfTheTextsFindsReportsAndCancels) {
  const std::string path = Store();
  TFakeViewer viewer;
  viewer.Load(path);
  viewer.SortList(6);
  viewer.SortList(6);
  viewer.SearchTexts("needle");
  ASSERT_FALSE(viewer.Statuses.empty());
  EXPECT_TRUE(viewer.Statuses.back().starts_with("Searching texts: ")) << viewer.Statuses.back();
  while (viewer.PollTextSearch()) std::this_thread::yield();
  EXPECT_EQ(viewer.ListOrder().ShownMessages(), Rows({1, 3})); // in the sort
  EXPECT_EQ(viewer.Statuses.back(), "Found: 2");
  EXPECT_EQ(viewer.Polling, std::vector<bool>({true, false}));

  // Cancelled, the search changes nothing: the rows stay those found as typed.
  viewer.FindInList("an");
  viewer.SearchTexts("an needle");
  viewer.StopTextSearch();
  EXPECT_FALSE(viewer.PollTextSearch());
  EXPECT_EQ(viewer.ListOrder().ShownMessages(), Rows({1, 3, 5}));
  EXPECT_EQ(viewer.Statuses.back(), "Found: 3");
  EXPECT_EQ(viewer.Polling, std::vector<bool>({true, false, true, false}));

  // Its progress counts every message, those found by the list's texts too.
  const auto reader = NewReaderFor(path);
  OpenStore(*reader, path);
  TTextSearch search;
  search.Start(*reader, TSearchQuery::Parse("NEEDLE"), Windows1252ToUtf8);
  EXPECT_EQ(search.Progress().Total, 6);
  EXPECT_EQ(search.Finish(), std::vector<std::int32_t>({1, 3}));
  EXPECT_EQ(search.Progress().Done, 6);
  EXPECT_EQ(search.Unreadable(), 0);
}

} // namespace
