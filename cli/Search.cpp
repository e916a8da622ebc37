// postvue-cli search: the messages of a store, or of every store of a store
// folder, that hold the words asked for, listed as list lists them.
#include "Commands.h"

#include "Charset.h"
#include "Console.h"
#include "Folders.h"
#include "Json.h"
#include "Search.h"
#include "StoreFolder.h"
#include "TextsAhead.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace postvue::cli {

namespace {

struct TSearchOptions {
  TSearchQuery Query;
  bool Json = false;
  std::string Store;
};

TSearchOptions ParseSearch(const std::vector<std::string>& arguments) {
  TSearchOptions options;
  std::size_t i = 0;
  auto value = [&](const std::string& option) -> const std::string& {
    if (i + 1 >= arguments.size()) throw TSearchUsageError{"missing value after " + option};
    return arguments[++i];
  };
  auto date = [&](const std::string& option) {
    const std::string& text = value(option);
    const std::optional<double> day = ParseSearchDate(text);
    if (!day) throw TSearchUsageError{option + " takes a date as YYYY-MM-DD, not \"" + text + "\""};
    return *day;
  };
  // Options anywhere, as for the other commands ("-5" is a word); after "--" only words.
  std::vector<std::string> positional;
  bool wordsOnly = false;
  for (; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (wordsOnly || option.size() < 2 || option[0] != '-' || (option[1] >= '0' && option[1] <= '9')) {
      positional.push_back(option);
    } else if (option == "--") {
      wordsOnly = true;
    } else if (option == "--json") {
      options.Json = true;
    } else if (option == "--in") {
      const std::string& names = value(option);
      const std::optional<unsigned> fields = ParseSearchFields(names);
      if (!fields)
        throw TSearchUsageError{"--in takes fields from from,to,cc,subject,body,attachments, not \"" + names + "\""};
      options.Query.Fields = *fields;
    } else if (option == "--since") {
      options.Query.Since = date(option);
    } else if (option == "--until") {
      options.Query.Until = date(option) + 1; // the whole day
    } else {
      throw TSearchUsageError{"unknown option \"" + option + "\""};
    }
  }
  if (positional.empty()) throw TSearchUsageError{"missing STORE"};
  options.Store = positional[0];
  for (std::size_t k = 1; k < positional.size(); ++k) {
    const std::string& word = positional[k];
    // A quote inside an argument marks phrases, as in the viewers' find box;
    // otherwise the argument is one term, a phrase when the shell kept its blanks.
    if (word.find('"') != std::string::npos) {
      const TSearchQuery terms = TSearchQuery::Parse(word);
      for (const std::string& term : terms.FoldedTerms()) options.Query.AddTerm(term);
    } else {
      options.Query.AddTerm(word);
    }
  }
  if (options.Query.Empty() && !options.Query.Since && !options.Query.Until)
    throw TSearchUsageError{"missing WORDS (or a date range)"};
  return options;
}


// What the whole run writes on standard error: a line per failure, the
// progress and the summary.
class TSearchReport {
public:
  explicit TSearchReport(bool json) : Out(!json), Json(json) {}

  TOutput Out;
  const bool Json;
  TProgress Meter{"searching"};
  std::uint64_t Found = 0;
  std::uint32_t FoldersWithFound = 0, Errors = 0;

  void Error(const Exception& error, const std::string& prefix) {
    Meter.Clear();
    ReportException(error, prefix);
    ++Errors;
  }
};

// The store's place in the output: its folder path in a store folder (empty
// for a store on its own) and its file.
struct TStorePlace {
  std::string Folder;
  std::string File;
  std::string Label; // before error lines: "Inbox (Inbox.dbx): "
};

void WriteFound(TSearchReport& report, const TStorePlace& place, std::int32_t index, const TMessageRecord& record) {
  std::string& out = report.Out.Text;
  const std::string sender = Windows1252ToUtf8(SenderBytes(record)), subject = Windows1252ToUtf8(record.Subject.View());
  if (report.Json) {
    out += '{';
    if (!place.Folder.empty()) {
      out += "\"folder\": ";
      AppendJsonUtf8(out, place.Folder);
      out += ", ";
    }
    out += "\"store\": ";
    AppendJsonUtf8(out, place.File);
    out += ", \"index\": " + std::to_string(index) + ", \"received\": ";
    std::string received;
    AppendReceived(received, record.Received);
    AppendJsonUtf8(out, received);
    out += ", \"sender\": ";
    AppendJsonUtf8(out, sender);
    out += ", \"subject\": ";
    AppendJsonUtf8(out, subject);
    out += "}\n";
  } else {
    if (!place.Folder.empty()) {
      AppendField(out, place.Folder);
      out += '\t';
    }
    out += std::to_string(index) + '\t';
    AppendReceived(out, record.Received);
    out += '\t';
    AppendField(out, sender);
    out += '\t';
    AppendField(out, subject);
    out += '\n';
  }
  report.Out.Pass();
}

// The messages of reader that the query finds, written in store order.
// progress gets the share of the store done, 0 to 1.
void SearchStore(TMailbaseReader& reader, const TSearchQuery& query, const TStorePlace& place, TSearchReport& report,
                 const std::function<void(double)>& progress) {
  const std::int32_t count = reader.Active ? std::max(reader.GetCount(), 0) : 0;
  std::vector<char> found(static_cast<std::size_t>(count), 0);
  std::vector<std::pair<std::uint32_t, std::int32_t>> texts; // the file offset of each text to read, and its index
  for (std::int32_t i = 0; i < count; ++i) {
    const TMessageRecord& record = reader.MessageAt(i);
    if (!query.InDateRange(record.Received)) continue;
    // The list's texts first: a message found by them needs no text read.
    if (query.Empty() || query.MatchesListTexts(Windows1252ToUtf8(SenderBytes(record)), Windows1252ToUtf8(record.Subject.View())))
      found[static_cast<std::size_t>(i)] = 1;
    else
      texts.emplace_back(record.TextOffset, i);
  }
  // Read front to back through the file, whatever the store's order.
  std::sort(texts.begin(), texts.end());
  std::vector<std::int32_t> order;
  order.reserve(texts.size());
  for (const auto& text : texts) order.push_back(text.second);

  // The second thread reads every text; each message is judged by the
  // thread that has been busy for less time so far, so both processors
  // work whether reading the texts or decoding them costs more.
  static constexpr const char* kMatch = "1";
  static constexpr const char* kNoMatch = "0";
  auto judge = [&reader, &query](std::int32_t i, std::string_view raw) {
    const TMessageRecord& record = reader.MessageAt(i);
    return query.MatchesMessage(raw, Windows1252ToUtf8(SenderBytes(record)), Windows1252ToUtf8(record.Subject.View()));
  };
  using TClock = std::chrono::steady_clock;
  auto since = [](TClock::time_point start) { return (TClock::now() - start).count(); };
  std::atomic<std::int64_t> mainBusy{0};
  std::int64_t workerBusy = 0; // the second thread's alone
  TTextsAhead ahead(order, [&](std::int32_t i) {
    const TClock::time_point start = TClock::now();
    TTextAhead text{reader.GetMessageText(i), {}, {}};
    if (workerBusy <= mainBusy.load(std::memory_order_relaxed)) {
      text.Name = judge(i, text.Text) ? kMatch : kNoMatch;
      text.Text.clear();
    }
    workerBusy += since(start);
    return text;
  });
  for (std::size_t done = 0; !ahead.Done(); ++done) {
    if (done % 256 == 0) progress(static_cast<double>(done) / static_cast<double>(order.size()));
    std::int32_t i = -1;
    try {
      const TTextAhead text = ahead.Next(i);
      if (!text.Name.empty()) {
        if (text.Name == kMatch) found[static_cast<std::size_t>(i)] = 1;
        continue;
      }
      const TClock::time_point start = TClock::now();
      if (judge(i, text.Text)) found[static_cast<std::size_t>(i)] = 1;
      mainBusy.fetch_add(since(start), std::memory_order_relaxed);
    } catch (const Exception& e) {
      // One unreadable message must not cost the others; the summary and the exit status tell.
      report.Error(e, place.Label + "message " + std::to_string(i) + ": ");
    }
  }
  bool any = false;
  for (std::int32_t i = 0; i < count; ++i)
    if (found[static_cast<std::size_t>(i)]) {
      WriteFound(report, place, i, reader.MessageAt(i));
      ++report.Found;
      any = true;
    }
  if (any) ++report.FoldersWithFound;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

int RunSearch(const std::vector<std::string>& arguments) {
  const TSearchOptions options = ParseSearch(arguments);
  TSearchReport report(options.Json);
  const bool folder = IsFolder(options.Store);
  if (!folder) {
    const auto reader = LoadStore(options.Store, true); // a store that cannot be read fails as for list
    SearchStore(*reader, options.Query, {{}, options.Store, options.Store + ": "}, report,
                [&](double part) { report.Meter.Update(static_cast<std::uint64_t>(part * 1000), 1000); });
  } else {
    const TStoreFolder tree = ReadTree(options.Store);
    const std::size_t stores = tree.Folders.size();
    for (std::size_t k = 0; k < stores; ++k) {
      const TStoreFolderEntry& entry = tree.Folders[k];
      if (entry.StorePath.empty()) continue;
      const TStorePlace place{FolderPath(tree, k), entry.StorePath, FolderLabel(tree, k) + ": "};
      try {
        const auto reader = LoadStore(entry.StorePath, true);
        SearchStore(*reader, options.Query, place, report, [&](double part) {
          report.Meter.Update(static_cast<std::uint64_t>((static_cast<double>(k) + part) * 1000), stores * 1000);
        });
      } catch (const Exception& e) {
        // A store that cannot be read must not hide the others; the summary and the exit status tell.
        report.Error(e, place.Label);
      }
    }
  }
  report.Out.Flush();
  report.Meter.Clear();
  ReportError("found " + Plural(report.Found, "message", "messages") +
              (folder ? " in " + Plural(report.FoldersWithFound, "folder", "folders") : "") +
              (report.Errors ? ", errors " + std::to_string(report.Errors) : ""));
  return report.Errors ? 1 : 0;
}

} // namespace postvue::cli
