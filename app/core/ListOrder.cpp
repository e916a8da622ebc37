#include "ListOrder.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace postvue {

namespace {

// Reply and forward prefixes in the mail programs' languages, folded: "re:"
// "aw:" (German), "sv:" (Nordic), "vs:" (Finnish), "antw:" (Dutch), "wg:"
// (German forward), "tr:" (French forward), "ref.:" (French "Réf.:").
constexpr std::string_view kSubjectPrefixes[] = {"re", "fw", "fwd", "aw", "wg", "sv", "vs", "antw", "ref.", "tr"};

// The ranks of the marks: rows with a mark come first.
constexpr std::uint8_t kMarked = 0, kUnmarked = 1;
std::uint8_t PriorityRank(std::int32_t priority) { return priority == 1 ? 0 : priority == 5 ? 2 : 1; }

// The length of one prefix at the start of folded ("re: ", "re[2]: ",
// "re(2):", "ref. :"), or 0.
std::size_t PrefixLength(std::string_view folded) {
  for (const std::string_view prefix : kSubjectPrefixes) {
    if (!folded.starts_with(prefix)) continue;
    std::size_t at = prefix.size();
    // A counter: "[2]", "(2)", "^2".
    if (at < folded.size() && (folded[at] == '[' || folded[at] == '(' || folded[at] == '^')) {
      const char close = folded[at] == '[' ? ']' : folded[at] == '(' ? ')' : '\0';
      std::size_t digits = at + 1;
      while (digits < folded.size() && folded[digits] >= '0' && folded[digits] <= '9') ++digits;
      if (digits == at + 1) continue;
      at = digits;
      if (close) {
        if (at >= folded.size() || folded[at] != close) continue;
        ++at;
      }
    }
    if (at < folded.size() && folded[at] == ' ') ++at; // "Re :", as French writes it
    if (at >= folded.size() || folded[at] != ':') continue;
    ++at;
    if (at < folded.size() && folded[at] == ' ') ++at;
    return at;
  }
  return 0;
}

} // namespace

std::string SubjectSortKey(std::string_view subject) {
  const std::string folded = FoldForSearch(subject);
  std::string_view key(folded);
  if (key.starts_with(' ')) key.remove_prefix(1);
  while (const std::size_t length = PrefixLength(key)) key.remove_prefix(length);
  return std::string(key);
}

void TListOrder::Clear() {
  Attachments.clear();
  Priorities.clear();
  Flags.clear();
  Received.clear();
  Sizes.clear();
  Senders.clear();
  Subjects.clear();
  Folded = {};
  for (TColumnOrder& order : Orders) order = {};
  Sort = {};
  Shown.clear();
  Rows.clear();
}

void TListOrder::Build(TMailbaseReader& reader, std::string (*storeText)(std::string_view)) {
  Clear();
  const auto count = static_cast<std::size_t>(reader.Active ? std::max(reader.GetCount(), 0) : 0);
  Attachments.reserve(count);
  Priorities.reserve(count);
  Flags.reserve(count);
  Received.reserve(count);
  Sizes.reserve(count);
  Senders.reserve(count);
  Subjects.reserve(count);
  Folded.Reserve(count, count * 64);
  for (std::size_t i = 0; i < count; ++i) {
    const TMessageRecord& record = reader.MessageAt(static_cast<std::int32_t>(i));
    Attachments.push_back(AttachmentText(record).empty() ? kUnmarked : kMarked);
    Priorities.push_back(PriorityRank(record.Priority));
    Flags.push_back(FlagText(record).empty() ? kUnmarked : kMarked);
    // A damaged record's NaN would break the sort's ordering: it sorts as the earliest.
    Received.push_back(std::isnan(record.Received) ? -HUGE_VAL : record.Received);
    Sizes.push_back(record.Size);
    Senders.push_back(storeText(SenderBytes(record)));
    Subjects.push_back(storeText(record.Subject.View()));
    Folded.Add(Senders.back(), Subjects.back());
  }
  Arrange();
}

const TListOrder::TColumnOrder& TListOrder::OrderOf(int column) {
  TColumnOrder& order = Orders[static_cast<std::size_t>(column)];
  const std::size_t count = Senders.size();
  if (order.Messages.size() == count) return order;
  order.Messages.resize(count);
  std::iota(order.Messages.begin(), order.Messages.end(), 0u);
  order.GroupStarts.assign(count, 1);
  // Sorts by key, equal keys in store order, and marks the runs of equal keys.
  auto sortBy = [&](const auto& keys) {
    std::stable_sort(order.Messages.begin(), order.Messages.end(), [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
    for (std::size_t i = 1; i < count; ++i)
      order.GroupStarts[i] = keys[order.Messages[i - 1]] < keys[order.Messages[i]];
  };
  // Texts are compared as their folded keys, made here once, never per comparison.
  auto sortByText = [&](const std::vector<std::string>& texts, std::string (*key)(std::string_view)) {
    std::vector<std::string> keys;
    keys.reserve(count);
    for (const std::string& text : texts) keys.push_back(key(text));
    sortBy(keys);
  };
  switch (column) {
  case 2: sortBy(Attachments); break;
  case 3: sortBy(Priorities); break;
  case 4: sortBy(Flags); break;
  case 5: sortByText(Senders, [](std::string_view text) { return FoldForSearch(text); }); break;
  case 6: sortByText(Subjects, SubjectSortKey); break;
  case 7: sortBy(Received); break;
  case 8: sortBy(Sizes); break;
  default: break; // "#": store order, every message a run of its own
  }
  return order;
}

void TListOrder::SortBy(int column) {
  if (column <= 0 || column >= static_cast<int>(Orders.size())) return;
  Sort.Descending = Sort.Column == column && !Sort.Descending;
  Sort.Column = column;
  Arrange();
}

void TListOrder::FilterByListTexts(const TSearchQuery& query) {
  if (query.Empty()) {
    ClearFilter();
    return;
  }
  Shown.assign(Senders.size(), 0);
  for (const std::uint32_t message : Folded.Matching(query)) Shown[message] = 1;
  Arrange();
}

void TListOrder::FilterToMessages(const std::vector<std::int32_t>& messages) {
  Shown.assign(Senders.size(), 0);
  for (const std::int32_t message : messages)
    if (message >= 0 && static_cast<std::size_t>(message) < Shown.size()) Shown[static_cast<std::size_t>(message)] = 1;
  Arrange();
}

void TListOrder::ClearFilter() {
  Shown.clear();
  Arrange();
}

// The rows from the sort and the filter: one walk over the messages.
void TListOrder::Arrange() {
  const std::size_t count = Senders.size();
  Rows.clear();
  Rows.reserve(count);
  auto add = [&](std::uint32_t message) {
    if (Shown.empty() || Shown[message]) Rows.push_back(message);
  };
  if (Sort.Column < 0) {
    for (std::uint32_t message = 0; message < count; ++message) add(message);
    return;
  }
  const TColumnOrder& order = OrderOf(Sort.Column);
  if (!Sort.Descending) {
    for (const std::uint32_t message : order.Messages) add(message);
    return;
  }
  // The runs of equal keys from the last to the first, each in store order.
  for (std::size_t end = count; end > 0;) {
    std::size_t start = end - 1;
    while (start > 0 && !order.GroupStarts[start]) --start;
    for (std::size_t i = start; i < end; ++i) add(order.Messages[i]);
    end = start;
  }
}

std::int32_t TListOrder::RowOfMessage(std::int32_t message) const {
  if (message < 0) return -1;
  const auto found = std::find(Rows.begin(), Rows.end(), static_cast<std::uint32_t>(message));
  return found == Rows.end() ? -1 : static_cast<std::int32_t>(found - Rows.begin());
}

} // namespace postvue
