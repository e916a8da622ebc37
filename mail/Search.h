// Finding messages: a query of words and phrases matched case- and
// accent-insensitively against a message's decoded fields, the list's texts
// (sender, subject) as the user types, and a received-date range. Text is
// folded once to a search form (lower case, Latin, Greek and Cyrillic
// accents removed, blanks as one space) and searched as bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

struct TReadableMessage;

// text (UTF-8) in the search form: ASCII and the Latin-1 Supplement, Latin
// Extended-A/B, Greek and Cyrillic letters in lower case without their
// accents ("Café" "cafe", "Æ" "ae", "ß" "ss", "Ά" "α", "Ё" "е"), combining
// accents (U+0300-U+036F) and soft hyphens dropped, every run of blanks and
// line breaks one space. Other characters, and bytes that are not UTF-8,
// stay as they are.
std::string FoldForSearch(std::string_view text);
// The same, appended to out.
void AppendFolded(std::string& out, std::string_view text);

// Where words are looked for.
enum TSearchField : unsigned {
  sfFrom = 1,
  sfTo = 2,
  sfCc = 4,
  sfSubject = 8,
  sfBody = 16,
  sfAttachments = 32, // the attachments' names
  sfAllFields = 63,
};

// The fields a comma-separated list names ("from,subject"; also "attachment"),
// or none when a name is not a field.
std::optional<unsigned> ParseSearchFields(std::string_view names);

// A day as the stores count time (days since 30 December 1899) from
// "YYYY-MM-DD", or none when it is not a date.
std::optional<double> ParseSearchDate(std::string_view text);

class TSearchQuery {
public:
  // Every word of text, where "a quoted phrase" is one term; an unclosed
  // quote runs to the end.
  static TSearchQuery Parse(std::string_view text);
  // One term taken as it is: a phrase when it holds blanks (a command
  // line's argument, quoted in the shell).
  void AddTerm(std::string_view term);

  // No term: everything matches (the viewers show every row).
  bool Empty() const { return Terms.empty(); }
  std::size_t TermCount() const { return Terms.size(); }

  unsigned Fields = sfAllFields;
  // Received time from Since (inclusive) to Until (exclusive), days since 1899.
  std::optional<double> Since, Until;

  bool InDateRange(double received) const;

  // Whether every term occurs in the list's texts (UTF-8; the sender shown
  // and the subject), within the fields asked for: the viewers' filter.
  bool MatchesListTexts(std::string_view sender, std::string_view subject) const;

  // The verdict on a message's raw text (GetMessageText), its decoded
  // fields read only where they are needed. listSender and listSubject are
  // the list's texts (UTF-8): a term found there needs no text at all.
  bool MatchesMessage(std::string_view raw, std::string_view listSender = {},
                      std::string_view listSubject = {}) const;
  // Over a message decoded already.
  bool MatchesReadable(const TReadableMessage& message, std::string_view listSender = {},
                       std::string_view listSubject = {}) const;

  // The folded terms, for callers that show them.
  const std::vector<std::string>& FoldedTerms() const { return Terms; }

private:
  // Adds a folded term and its key, its longest run of ASCII letters and
  // digits: the bytes a plain message must hold for the term to be in its text.
  void AddFolded(std::string folded);

  std::vector<std::string> Terms; // folded, blanks as one space
  std::vector<std::string> Keys;  // per term; empty when it has none
};

// Folded texts searched field by field: what the viewers keep for every row
// so that each keystroke only searches.
class TFoldedRows {
public:
  void Reserve(std::size_t rows, std::size_t bytes);
  void Add(std::string_view sender, std::string_view subject); // UTF-8
  std::size_t Size() const { return Starts.size(); }
  bool Matches(std::size_t row, const TSearchQuery& query) const;
  // Every row that query matches, in order.
  std::vector<std::uint32_t> Matching(const TSearchQuery& query) const;

private:
  std::string Text; // per row: sender, '\0', subject, '\0'
  std::vector<std::uint32_t> Starts;
  std::vector<std::uint32_t> SubjectStarts;
};

} // namespace postvue
