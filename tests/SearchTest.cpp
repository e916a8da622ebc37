// Finding messages: the matching rules (letter case, accents, phrases,
// fields, dates), and the quick verdict on a raw text, which must find
// whatever decoding the whole message finds.
#include "ReadableMessage.h"
#include "Search.h"

#include <gtest/gtest.h>

using namespace postvue;

namespace {

bool Finds(std::string_view query, std::string_view subject, unsigned fields = sfAllFields) {
  TSearchQuery q = TSearchQuery::Parse(query);
  q.Fields = fields;
  return q.MatchesListTexts("Hans M\xC3\xBCller <hans@example.de>", subject);
}

TEST(Search, MatchingRules) {
  // Letter case and accents, whichever side has them.
  EXPECT_TRUE(Finds("cafe", "Caf\xC3\xA9 au lait"));
  EXPECT_TRUE(Finds("CAF\xC3\x89", "cafe au lait"));
  EXPECT_TRUE(Finds("cafe", "Cafe\xCC\x81 au lait")); // an accent as a mark of its own
  EXPECT_TRUE(Finds("muller", "Lunch"));              // in the sender
  EXPECT_TRUE(Finds("strasse", "Hauptstra\xC3\x9F" "e 5"));
  EXPECT_TRUE(Finds("stra\xC3\x9F" "e", "HAUPTSTRASSE 5"));
  EXPECT_TRUE(Finds("\xCE\xB1\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1", "\xCE\x91\xCE\x98\xCE\x89\xCE\x9D\xCE\x91")); // αθήνα, ΑΘΗΝΑ
  EXPECT_TRUE(Finds("\xD0\xB5\xD0\xBB\xD0\xBA\xD0\xB0", "\xD0\x81\xD0\x9B\xD0\x9A\xD0\x90"));               // елка, ЁЛКА
  EXPECT_FALSE(Finds("caff", "Caf\xC3\xA9"));
  // Every word, anywhere; a phrase only as written, blanks and line breaks alike.
  EXPECT_TRUE(Finds("lait cafe", "Caf\xC3\xA9 au lait"));
  EXPECT_FALSE(Finds("lait tea", "Caf\xC3\xA9 au lait"));
  EXPECT_TRUE(Finds("\"cafe au\"", "Caf\xC3\xA9 \t au lait"));
  EXPECT_FALSE(Finds("\"au cafe\"", "Caf\xC3\xA9 au lait"));
  EXPECT_TRUE(Finds("\"au lait", "Caf\xC3\xA9 au lait")); // an open quote runs to the end
  // Fields: the sender's name is not in the subject.
  EXPECT_FALSE(Finds("muller", "Lunch", sfSubject));
  EXPECT_TRUE(Finds("muller lunch", "Lunch", sfSubject | sfFrom));
  EXPECT_EQ(ParseSearchFields("from,Subject"), std::optional<unsigned>(sfFrom | sfSubject));
  EXPECT_EQ(ParseSearchFields("from,date"), std::nullopt);
  EXPECT_TRUE(TSearchQuery::Parse(" \"\"  ").Empty());

  // Dates: days since 30 December 1899; the until day is taken whole by the caller.
  EXPECT_EQ(ParseSearchDate("1900-01-01"), std::optional<double>(2));
  EXPECT_EQ(ParseSearchDate("2004-02-29"), std::optional<double>(38046));
  EXPECT_EQ(ParseSearchDate("2003-02-29"), std::nullopt);
  EXPECT_EQ(ParseSearchDate("2004-2-9"), std::nullopt);
  TSearchQuery range;
  range.Since = 38046;
  range.Until = 38047;
  EXPECT_FALSE(range.InDateRange(38045.99));
  EXPECT_TRUE(range.InDateRange(38046.0));
  EXPECT_TRUE(range.InDateRange(38046.999));
  EXPECT_FALSE(range.InDateRange(38047.0));
}

// Messages whose words the raw text hides (encodings, character sets, HTML,
// parameters) or shows only in part: the quick verdict must agree with a
// reading of the whole message, for words that are there and words that are not.
TEST(Search, QuickVerdictAgreesWithTheDecodedMessage) {
  const std::string head = "From: \"Anna Berg\" <anna@example.com>\r\nTo: bob@example.com\r\nSubject: ";
  const std::string messages[] = {
      head + "Plain\r\n\r\nThe invoice is attached.\r\n",
      head + "QP\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nThe inv=\r\noice and caf=E9.\r\n",
      head + "B64\r\nContent-Transfer-Encoding: base64\r\n\r\nVGhlIGludm9pY2UgaXMgaGVyZS4=\r\n",
      head + "=?iso-8859-1?q?Caf=E9_invoice?=\r\n\r\nNothing here.\r\n",
      head + "Latin\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nCaf\xE9 M\xFCller.\r\n",
      head + "Html\r\nContent-Type: text/html\r\n\r\n<p>The in<b>voice</b> for caf&eacute;</p>\r\n",
      head + "Utf7\r\nContent-Type: text/plain; charset=utf-7\r\n\r\n+AGk-nvoice\r\n",
      head + "Parts\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\nSee the file.\r\n--b\r\n"
             "Content-Type: application/pdf;\r\n name*0=\"inv\"; name*1=\"oice.pdf\"\r\n\r\n%PDF\r\n--b--\r\n",
      head + "Uu\r\n\r\nHere:\r\nbegin 644 invoice.txt\r\n#86)C\r\n`\r\nend\r\n",
      head + "Fwd\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\nSee below.\r\n--b\r\n"
             "Content-Type: message/rfc822\r\n\r\nSubject: =?utf-8?q?inv=6Fice?=\r\n\r\nInner.\r\n--b--\r\n",
      head + "Nameless\r\nContent-Type: image/png\r\n\r\nPNG\r\n",
      "From: jo@example.com (Jo Invoice)\r\nSubject: Comment\r\n\r\nNothing.\r\n",
      "From: ann smith@example.com\r\nSubject: Bare\r\n\r\nNothing.\r\n",
      "From: \"Anna\r\n Berg\" <anna@example.com>\r\nSubject : First\r\n invoice\r\nSubject: Second\r\n"
      "CC: carol@example.com,\r\n\tdan@example.com\r\n\r\nBody.\r\n",
      head + "No blank line",
  };
  const char* const queries[] = {"invoice", "cafe", "\"cafe m\xC3\xBCller\"", "inv", "attachment", "png",
                                 "annsmith", "anna invoice", "berg bob", "nothing jo", "missing", "\xC3\xA9",
                                 "\"first invoice\"", "second", "dan"};
  for (const std::string& raw : messages)
    for (const unsigned fields : {unsigned{sfAllFields}, unsigned{sfBody | sfAttachments}, unsigned{sfFrom | sfSubject}})
      for (const char* text : queries) {
        TSearchQuery query = TSearchQuery::Parse(text);
        query.Fields = fields;
        EXPECT_EQ(query.MatchesMessage(raw), query.MatchesReadable(ReadMessage(raw)))
            << "query " << text << ", fields " << fields << ", message:\n"
            << raw;
      }
  // The list's texts count for From and Subject.
  const TSearchQuery query = TSearchQuery::Parse("lunch invoice");
  EXPECT_TRUE(query.MatchesMessage(messages[0], "", "Lunch"));
  EXPECT_FALSE(query.MatchesMessage(messages[0]));
}

TEST(Search, RowsFilterAsEachRowWould) {
  TFoldedRows rows;
  rows.Add("Anna Berg", "Re: Caf\xC3\xA9");
  rows.Add("Bob", "Anna's cafe");
  rows.Add("Cafe Owner", "Anna");
  rows.Add("", "");
  for (const char* text : {"anna", "cafe", "anna cafe", "\"re: cafe\"", "bob", "", "x"})
    for (const unsigned fields : {unsigned{sfAllFields}, unsigned{sfFrom}, unsigned{sfSubject}}) {
      TSearchQuery query = TSearchQuery::Parse(text);
      query.Fields = fields;
      std::vector<std::uint32_t> each;
      for (std::uint32_t row = 0; row < rows.Size(); ++row)
        if (rows.Matches(row, query)) each.push_back(row);
      EXPECT_EQ(rows.Matching(query), each) << text << " in fields " << fields;
    }
  EXPECT_EQ(rows.Matching(TSearchQuery::Parse("anna cafe")), (std::vector<std::uint32_t>{0, 1, 2}));
}

} // namespace
