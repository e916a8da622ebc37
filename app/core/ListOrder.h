// The rows the message list shows, as message indexes, over the records of
// one loaded store: sorted by a column, filtered by what the user types or
// to the messages a search of the texts found. Everything a sort or a
// filter compares is made once per load, so a click or a keystroke only
// walks arrays. Standard library only; it never reads a message's text.
#pragma once

#include "MailbaseReader.h"
#include "Search.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// The subject as sorted: folded (FoldForSearch) and without the reply and
// forward prefixes before it ("Re: Fwd: AW[2]: Hello" sorts as "hello").
std::string SubjectSortKey(std::string_view subject);

// Which column the list is sorted by, for the header's mark; Column -1: store
// order as loaded, no mark.
struct TSortMark {
  int Column = -1;
  bool Descending = false;
};

class TListOrder {
public:
  // Takes the records of reader as they are now (a store with Active false
  // has no rows): store order, no filter, no mark. storeText turns the
  // store's 8-bit texts into the list's UTF-8, as the rows show them.
  void Build(TMailbaseReader& reader, std::string (*storeText)(std::string_view));
  // No store: no rows.
  void Clear();

  // The messages of the store, and the rows shown.
  std::int32_t MessageCount() const { return static_cast<std::int32_t>(Senders.size()); }
  std::int32_t RowCount() const { return static_cast<std::int32_t>(Rows.size()); }
  // The message index of a row; the list shows its record.
  std::int32_t MessageOfRow(std::int32_t row) const { return static_cast<std::int32_t>(Rows[static_cast<std::size_t>(row)]); }
  const std::vector<std::uint32_t>& ShownMessages() const { return Rows; }
  // The row that shows message, or -1 when it is not shown: the viewer
  // reselects the same message after the order changed.
  std::int32_t RowOfMessage(std::int32_t message) const;

  // A click on column's header: the first sorts by it (marks first, then
  // texts, dates and sizes ascending), the next on the same column reverses.
  // Rows that compare equal keep store order. Column 0 (the empty caption)
  // does not sort.
  void SortBy(int column);
  TSortMark Mark() const { return Sort; }

  // The rows whose sender or subject hold every term of query, in the
  // present sort; an empty query shows every row. Replaces a filter to messages.
  void FilterByListTexts(const TSearchQuery& query);
  // Only the messages given (a search's result, any order), in the present
  // sort. Replaces a filter by the list's texts.
  void FilterToMessages(const std::vector<std::int32_t>& messages);
  // Every row again.
  void ClearFilter();
  bool Filtered() const { return !Shown.empty(); }

private:
  // The messages sorted by column ascending, ties in store order, made at
  // the column's first sort; GroupStarts marks where a run of equal keys
  // begins, so the reverse keeps store order within a run.
  struct TColumnOrder {
    std::vector<std::uint32_t> Messages;
    std::vector<std::uint8_t> GroupStarts;
  };
  const TColumnOrder& OrderOf(int column);
  void Arrange();

  // Per message, as read at Build.
  std::vector<std::uint8_t> Attachments, Priorities, Flags; // ranks: a mark sorts before none
  std::vector<double> Received;
  std::vector<std::uint32_t> Sizes;
  std::vector<std::string> Senders, Subjects; // UTF-8 as shown; folded into keys at their first sort
  TFoldedRows Folded;                         // sender and subject, for filtering as the user types

  std::array<TColumnOrder, 9> Orders; // per column; empty until sorted by
  TSortMark Sort;
  std::vector<std::uint8_t> Shown; // per message; empty: no filter
  std::vector<std::uint32_t> Rows;
};

} // namespace postvue
