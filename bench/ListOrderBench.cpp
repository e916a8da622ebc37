// The viewers' list order over a store, in one run:
//
//   ListOrderBench STORE [WORD...]
//
// STORE is best a generated one (GenerateStore --dbx STORE, 100,000
// messages). Prints the time to take the records at load, each column's
// first sort (its keys made) and the reverse that follows, the slowest
// keystroke of each WORD typed letter by letter (filter and sort), and a
// search of the texts for each WORD on the search's threads.
#include "BenchSupport.h"
#include "Charset.h"
#include "Commands.h"
#include "ListOrder.h"
#include "TextSearch.h"
#include "ViewerLayout.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace postvue;
using namespace postvue::bench;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ListOrderBench STORE [WORD...]\n");
    return 2;
  }
  const std::string store = argv[1];
  std::vector<std::string> words(argv + 2, argv + argc);
  if (words.empty()) words = {"meeting", "zzzz"};
  try {
    const auto reader = cli::LoadStore(store);
    TListOrder order;
    auto start = TClock::now();
    order.Build(*reader, Windows1252ToUtf8);
    std::printf("%s: %d messages taken in %.1f ms\n", store.c_str(), order.MessageCount(), Since(start) * 1000);

    for (int column = 1; column < kListColumnCount; ++column) {
      start = TClock::now();
      order.SortBy(column);
      const double first = Since(start);
      start = TClock::now();
      order.SortBy(column);
      const double reverse = Since(start);
      std::printf("  sort by %-10s %6.1f ms first, %5.1f ms reversed\n", std::string(kListColumns[static_cast<std::size_t>(column)].Caption).c_str(),
                  first * 1000, reverse * 1000);
    }

    order.SortBy(6); // the filter keeps a sort by subject
    for (const std::string& word : words) {
      double worst = 0;
      for (std::size_t typed = 1; typed <= word.size(); ++typed) {
        const TSearchQuery query = TSearchQuery::Parse(word.substr(0, typed));
        start = TClock::now();
        order.FilterByListTexts(query);
        worst = std::max(worst, Since(start));
      }
      std::printf("  filter: %.1f ms for the slowest keystroke of \"%s\" (%d rows shown at the end)\n", worst * 1000,
                  word.c_str(), order.RowCount());
    }
    order.ClearFilter();

    for (const std::string& word : words) {
      TTextSearch search;
      start = TClock::now();
      search.Start(*reader, TSearchQuery::Parse(word), Windows1252ToUtf8);
      const std::vector<std::int32_t> found = search.Finish();
      const double seconds = Since(start);
      start = TClock::now();
      order.FilterToMessages(found);
      std::printf("  texts: \"%s\" in %.3f s, %zu found, shown in %.1f ms\n", word.c_str(), seconds, found.size(),
                  Since(start) * 1000);
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ListOrderBench: %s\n", e.what());
    return 1;
  }
}
