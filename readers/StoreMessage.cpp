#include "StoreMessage.h"

#include "Exceptions.h"

#include <algorithm>

namespace postvue {

namespace {
// A hostile total must not make a note of a million numbers.
constexpr std::size_t kMissingNamed = 10;

std::string MissingText(const std::vector<int>& missing) {
  std::string text;
  for (std::size_t i = 0; i < std::min(missing.size(), kMissingNamed); ++i) {
    if (!text.empty()) text += ", ";
    text += missing[i] == 0 ? "the last" : std::to_string(missing[i]);
  }
  if (missing.size() > kMissingNamed) text += " and " + std::to_string(missing.size() - kMissingNamed) + " more";
  return text;
}
} // namespace

void TPartialPieces::Scan() {
  Scanned = true;
  const std::int32_t count = Reader.Active ? Reader.GetCount() : 0;
  for (std::int32_t i = 0; i < count; ++i) {
    std::string header;
    try {
      header = Reader.GetMessageHeader(i);
    } catch (const Exception&) {
      continue; // an unreadable piece is a missing one
    }
    if (const std::optional<TPartialPiece> piece = PartialPieceOf(header)) {
      TPieces& pieces = ById[piece->Id];
      pieces.Indexes.try_emplace(piece->Number, i); // the first of two alike counts
      pieces.Total = std::max(pieces.Total, piece->Total);
    }
  }
}

TPartialPieces::TWhole TPartialPieces::Whole(const TPartialPiece& piece) {
  if (!Scanned) Scan();
  TWhole whole;
  const auto found = ById.find(piece.Id);
  if (found == ById.end()) return whole;
  const TPieces& pieces = found->second;
  const int total = std::max(pieces.Total, piece.Total);
  if (total == 0) {
    whole.Missing.push_back(0);
    return whole;
  }
  for (int number = 1; number <= total && whole.Missing.size() <= kMissingNamed; ++number)
    if (!pieces.Indexes.contains(number)) whole.Missing.push_back(number);
  if (!whole.Missing.empty()) return whole;
  std::vector<std::string> texts;
  try {
    for (int number = 1; number <= total; ++number) texts.push_back(Reader.GetMessageText(pieces.Indexes.at(number)));
  } catch (const Exception&) {
    whole.Missing.push_back(static_cast<int>(texts.size()) + 1);
    return whole;
  }
  whole.Text = JoinPartialPieces(std::vector<std::string_view>(texts.begin(), texts.end()));
  whole.Pieces = total;
  return whole;
}

TStoreMessage ReadStoreMessage(TMailbaseReader& reader, std::int32_t index, TPartialPieces& pieces) {
  TStoreMessage out;
  out.Text = reader.GetMessageText(index);
  const std::optional<TPartialPiece> piece = PartialPieceOf(out.Text);
  if (!piece) {
    out.Message = ReadMessage(out.Text, SafeNameOptions());
    return out;
  }
  TPartialPieces::TWhole whole = pieces.Whole(*piece);
  if (whole.Missing.empty() && !whole.Text.empty()) {
    out.Text = std::move(whole.Text);
    out.Message = ReadMessage(out.Text, SafeNameOptions());
    out.Message.Notes.insert(out.Message.Notes.begin(),
                             "put together from the " + std::to_string(whole.Pieces) +
                                 " pieces its sender's mail program broke it into");
    return out;
  }
  out.Message = ReadMessage(out.Text, SafeNameOptions());
  const std::string of = piece->Total > 0 ? " of " + std::to_string(piece->Total) : std::string();
  const std::vector<int>& gone = whole.Missing;
  const std::string missing = gone.empty()                        ? "its other pieces are"
                              : gone.size() == 1 && gone[0] == 0 ? "its last piece is"
                              : gone.size() == 1                  ? "piece " + MissingText(gone) + " is"
                                                                  : "pieces " + MissingText(gone) + " are";
  out.Message.Notes.push_back("piece " + std::to_string(piece->Number) + of + " of a message broken apart; " +
                              missing + " not in this store");
  return out;
}

} // namespace postvue
