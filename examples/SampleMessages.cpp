#include "SampleMessages.h"

#include "DateTime.h"
#include "StoreWriter.h"

#include <cstdio>

namespace postvue::samples {

namespace {
using postvue::testing::FileTimeOf;

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicksPerDay = 86400 * kTicksPerSecond;

constexpr std::uint32_t kRead = 0x80;
constexpr std::uint32_t kMarked = 0x20;
constexpr std::uint32_t kAttachment = 0x4000;

// A sender's local time and zone, as the Date line writes it.
struct TDate {
  int Year, Month, Day, Hour, Minute, Second;
  int ZoneMinutes; // east of UTC
};

std::string DateText(std::uint64_t local, int zoneMinutes) {
  // Back to calendar fields by stepping days from a known year start.
  const std::uint64_t dayNumber = local / kTicksPerDay;
  const std::uint64_t second = local % kTicksPerDay / kTicksPerSecond;
  int year = 1601;
  while (FileTimeOf(year + 1, 1, 1) <= local) ++year;
  int month = 1;
  while (month < 12 && FileTimeOf(year, month + 1, 1) <= local) ++month;
  const int day = static_cast<int>((local - FileTimeOf(year, month, 1)) / kTicksPerDay) + 1;
  const int zone = zoneMinutes < 0 ? -zoneMinutes : zoneMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d", postvue::kWeekdayNames[(dayNumber + 1) % 7], // 1 Jan 1601 was a Monday
                day, postvue::kMonthNames[month - 1], year, static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60), zoneMinutes < 0 ? '-' : '+', zone / 60, zone % 60);
  return text;
}

std::uint64_t LocalTicks(const TDate& d) { return FileTimeOf(d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second); }

std::uint64_t UtcTicks(const TDate& d) {
  const std::int64_t shift = static_cast<std::int64_t>(d.ZoneMinutes) * 60 * static_cast<std::int64_t>(kTicksPerSecond);
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(LocalTicks(d)) - shift);
}

// Source texts are written with LF; stored messages use CR LF.
std::string CrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

struct TDraft {
  std::string FromName{};       // as listed (8-bit)
  std::string FromNameHeader{}; // as written in the From line; empty: FromName quoted
  std::string FromAddress{};
  std::string To{};
  std::string Cc{};
  std::string Subject{};       // as listed (8-bit)
  std::string SubjectHeader{}; // as written; empty: Subject
  TDate Date{};
  int DelaySeconds = 0; // from sending to receipt
  std::string MessageId{};
  std::uint32_t Flags = kRead;
  std::int32_t Priority = 3;
  std::string ContentHeaders{}; // MIME header lines after MIME-Version, LF-ended
  std::string Body{};           // LF line ends
  std::string ExtraHeaders{};   // more trace lines before From, LF-ended
};

TSampleMessage Compose(const TDraft& d, std::uint32_t number) {
  const std::uint64_t received = UtcTicks(d.Date) + static_cast<std::uint64_t>(d.DelaySeconds) * kTicksPerSecond;
  const std::string domain = d.FromAddress.substr(d.FromAddress.find('@') + 1);
  std::string h;
  h += "Received: from mail." + domain + " ([192.0.2." + std::to_string(10 + number) + "])\n";
  h += "\tby mx.example.com with SMTP; " + DateText(received, 0) + "\n";
  h += d.ExtraHeaders;
  if (d.FromName.empty())
    h += "From: " + d.FromAddress + "\n";
  else
    h += "From: " + (d.FromNameHeader.empty() ? "\"" + d.FromName + "\"" : d.FromNameHeader) + " <" +
         d.FromAddress + ">\n";
  h += "To: " + d.To + "\n";
  if (!d.Cc.empty()) h += "Cc: " + d.Cc + "\n";
  h += "Subject: " + (d.SubjectHeader.empty() ? d.Subject : d.SubjectHeader) + "\n";
  h += "Date: " + DateText(LocalTicks(d.Date), d.Date.ZoneMinutes) + "\n";
  h += "Message-ID: <" + d.MessageId + ">\n";
  h += "MIME-Version: 1.0\n";
  h += d.ContentHeaders.empty() ? "Content-Type: text/plain;\n\tcharset=\"iso-8859-1\"\nContent-Transfer-Encoding: 7bit\n"
                                : d.ContentHeaders;
  if (d.Priority == 1) h += "X-Priority: 1\nX-MSMail-Priority: High\nImportance: High\n";
  else if (d.Priority == 5) h += "X-Priority: 5\nX-MSMail-Priority: Low\nImportance: Low\n";
  else h += "X-Priority: 3\nX-MSMail-Priority: Normal\n";

  TSampleMessage m;
  m.SenderName = d.FromName;
  m.SenderAddress = d.FromAddress;
  m.Subject = d.Subject;
  m.Flags = d.Flags;
  m.Priority = d.Priority;
  m.Received = received;
  m.Number = number;
  m.Text = CrLf(h + "\n" + d.Body);
  return m;
}

std::string Paragraphs(const std::vector<std::string>& paragraphs) {
  std::string text;
  for (const auto& p : paragraphs) text += p + "\n\n";
  return text;
}

std::string Html(const std::vector<std::string>& paragraphs) {
  std::string html = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\n<HTML><HEAD>\n"
                     "<META http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">\n"
                     "</HEAD>\n<BODY bgColor=#ffffff>\n";
  for (const auto& p : paragraphs) html += "<DIV><FONT face=Arial size=2>" + p + "</FONT></DIV>\n<DIV>&nbsp;</DIV>\n";
  return html + "</BODY></HTML>\n";
}

// A small attachment: a travel plan as comma-separated values.
std::string Itinerary() {
  static const char* const kCities[] = {"Lisbon", "Porto", "Coimbra", "Evora", "Faro", "Lagos", "Sintra"};
  std::string csv = "Day,Date,City,Hotel,Notes\r\n";
  for (int day = 1; day <= 14; ++day) {
    char line[128];
    std::snprintf(line, sizeof line, "%d,2003-09-%02d,%s,Hotel %c%c,%s\r\n", day, day, kCities[(day - 1) / 2],
                  'A' + day % 7, 'a' + day * 3 % 26,
                  day % 3 == 0 ? "train in the morning" : day % 3 == 1 ? "walking tour" : "free day");
    csv += line;
  }
  return csv;
}
} // namespace

std::string Base64Lines(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t chunk = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= static_cast<std::uint8_t>(bytes[i + 2]);
    encoded += kAlphabet[chunk >> 18 & 63];
    encoded += kAlphabet[chunk >> 12 & 63];
    encoded += i + 1 < bytes.size() ? kAlphabet[chunk >> 6 & 63] : '=';
    encoded += i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=';
  }
  std::string lines;
  for (std::size_t i = 0; i < encoded.size(); i += 76) lines += encoded.substr(i, 76) + "\r\n";
  return lines;
}

std::vector<TSampleMessage> SampleDbxMessages() {
  std::vector<TDraft> drafts;

  drafts.push_back({.FromName = "Alice Example",
                    .FromAddress = "alice@example.com",
                    .To = "\"Sam Reader\" <sam.reader@example.com>",
                    .Subject = "Welcome to the team",
                    .Date = {2001, 3, 14, 9, 26, 53, 60},
                    .DelaySeconds = 47,
                    .MessageId = "000801c0ac6b$3f2a1e40$0a00a8c0@example.com",
                    .Body = Paragraphs({
                        "Hi Sam,",
                        "welcome aboard! Your desk is the one by the window on the second floor,\n"
                        "and your badge will be ready at the front desk on Monday morning.",
                        "The team meets every Tuesday at 10:00 in the small conference room.\n"
                        "Bring questions; nobody expects you to know the build system yet.",
                        "Best regards,\nAlice",
                    })});

  drafts.push_back({.FromAddress = "bob@example.org",
                    .To = "sam.reader@example.com",
                    .Cc = "alice@example.com",
                    .Subject = "Quarterly report draft - please review",
                    .Date = {2002, 6, 3, 17, 45, 10, -240},
                    .DelaySeconds = 312,
                    .MessageId = "20020603174510.61733.qmail@example.org",
                    .Flags = 0,
                    .Priority = 1,
                    .Body = Paragraphs({
                        "Sam,",
                        "the draft of the quarterly report is on the shared drive under\n"
                        "Reports/2002/Q2. Could you check the figures in section 3 before\n"
                        "Wednesday? The totals in table 3.2 do not add up in my copy.",
                        "Things to look at:\n"
                        "  - revenue by region (table 3.1)\n"
                        "  - cost of sales, especially the freight line\n"
                        "  - the headcount numbers, which still show March",
                        "Thanks,\nBob",
                    })});

  {
    const std::vector<std::string> text = {
        "Hi everyone,",
        "we are back from two weeks in Portugal, tired and happy. The weather was\n"
        "kind to us except for one rainy afternoon in Porto, which we spent in a\n"
        "bookshop with a staircase that looks like it belongs in a fairy tale.",
        "I have put the best photos on the family web page; the password is the\n"
        "same as last year. The itinerary is attached in case anyone wants to do\n"
        "the same trip: it worked well, although Sintra deserves more than a day.",
        "Coimbra was the surprise of the trip. The old university library is\n"
        "small, dark and beautiful, and the students in their black capes made\n"
        "the whole town feel like a film set. We ate grilled sardines every day\n"
        "in Lagos and never got tired of them.",
        "The drive along the coast from Faro to Lagos takes about an hour and a\n"
        "half if you do not stop; we stopped at every beach and took all day.",
        "Love,\nCarol",
    };
    TDraft d{.FromName = "Carol Martin",
             .FromAddress = "carol.martin@example.net",
             .To = "\"Sam Reader\" <sam.reader@example.com>, \"Family\" <family@example.net>",
             .Subject = "Photos from the trip",
             .Date = {2003, 9, 21, 20, 12, 5, 120},
             .DelaySeconds = 95,
             .MessageId = "001f01c3806a$5c7e9a20$6401a8c0@laptop",
             .Flags = kRead | kAttachment,
             .ContentHeaders = "Content-Type: multipart/mixed;\n"
                               "\tboundary=\"----=_NextPart_000_0019_01C3807B.1F9B4E20\"\n",
             .Body = {}};
    std::string& b = d.Body;
    b += "This is a multi-part message in MIME format.\n\n";
    b += "------=_NextPart_000_0019_01C3807B.1F9B4E20\n";
    b += "Content-Type: multipart/alternative;\n\tboundary=\"----=_NextPart_001_001A_01C3807B.1F9B4E20\"\n\n\n";
    b += "------=_NextPart_001_001A_01C3807B.1F9B4E20\n";
    b += "Content-Type: text/plain;\n\tcharset=\"iso-8859-1\"\nContent-Transfer-Encoding: 7bit\n\n";
    b += Paragraphs(text);
    b += "------=_NextPart_001_001A_01C3807B.1F9B4E20\n";
    b += "Content-Type: text/html;\n\tcharset=\"iso-8859-1\"\nContent-Transfer-Encoding: 7bit\n\n";
    b += Html(text) + "\n";
    b += "------=_NextPart_001_001A_01C3807B.1F9B4E20--\n\n";
    b += "------=_NextPart_000_0019_01C3807B.1F9B4E20\n";
    b += "Content-Type: text/plain;\n\tname=\"itinerary.csv\"\nContent-Transfer-Encoding: base64\n"
         "Content-Disposition: attachment;\n\tfilename=\"itinerary.csv\"\n\n";
    std::string encoded = Base64Lines(Itinerary());
    for (std::size_t at; (at = encoded.find("\r\n")) != std::string::npos;) encoded.replace(at, 2, "\n");
    b += encoded + "\n";
    b += "------=_NextPart_000_0019_01C3807B.1F9B4E20--\n\n";
    drafts.push_back(d);
  }

  drafts.push_back({.FromName = "Dan Okafor",
                    .FromAddress = "dan.okafor@example.com",
                    .To = "project-team@example.com",
                    .Subject = "Reminder: project kickoff on Monday",
                    .Date = {2004, 1, 9, 8, 0, 0, -480},
                    .DelaySeconds = 21,
                    .MessageId = "4.0.1.20040109080000.00a9c3b0@mail.example.com",
                    .Flags = kRead | kMarked,
                    .Body = Paragraphs({
                        "Hello all,",
                        "a reminder that the kickoff meeting for the new warehouse system is on\n"
                        "Monday, 12 January, at 9:30 in room B-204. Coffee from 9:15.",
                        "Agenda:\n"
                        "  1. Goals and scope (Dan)\n"
                        "  2. Timeline and milestones (Priya)\n"
                        "  3. Open questions",
                        "Dan",
                    })});

  drafts.push_back({.FromName = "Ren\xE9"
                                "e Dubois",
                    .FromNameHeader = "=?windows-1252?Q?Ren=E9e_Dubois?=",
                    .FromAddress = "renee@example.org",
                    .To = "sam.reader@example.com",
                    .Subject = "\x93"
                               "Caf\xE9\x94 menu for Friday",
                    .SubjectHeader = "=?windows-1252?Q?=93Caf=E9=94_menu_for_Friday?=",
                    .Date = {2004, 11, 26, 12, 30, 0, 60},
                    .DelaySeconds = 8,
                    .MessageId = "41A712F8.7060504@example.org",
                    .ContentHeaders = "Content-Type: text/plain;\n\tcharset=\"windows-1252\"\n"
                                      "Content-Transfer-Encoding: quoted-printable\n",
                    .Body = Paragraphs({
                        "Bonjour Sam,",
                        "the =93Caf=E9=94 on the ground floor has a new menu for Friday:\n"
                        "cr=E8me de l=E9gumes, quiche lorraine and a tarte aux pommes.",
                        "=C0 bient=F4t,\nRen=E9e",
                    })});

  {
    std::vector<std::string> news = {"Dear gardener,",
                                     "spring is here, and with it the busiest weeks of the gardening year. In\n"
                                     "this issue: what to sow in March, how to divide perennials, and a\n"
                                     "reader's question about roses that refuse to bloom."};
    static const char* const kCrops[] = {"Broad beans", "Peas", "Spinach", "Radishes", "Onion sets",
                                         "Early potatoes", "Lettuce", "Parsnips"};
    std::string table = "What to sow this month:";
    for (int i = 0; i < 8; ++i) {
      char line[96];
      std::snprintf(line, sizeof line, "\n  %-16s %s, rows %d cm apart", kCrops[i],
                    i % 2 ? "under cover" : "outdoors", 20 + 5 * i);
      table += line;
    }
    news.push_back(table);
    news.push_back("Dividing perennials: lift the clump with a fork, split it with two forks\n"
                   "back to back, and replant the young outer pieces. Throw away the woody\n"
                   "centre. Water well, even if rain is forecast.");
    news.push_back("To unsubscribe, reply to this message with the word UNSUBSCRIBE in the\nsubject line.");
    drafts.push_back({.FromName = "Example Gardening News",
                      .FromAddress = "newsletter@example.net",
                      .To = "subscribers@example.net",
                      .Subject = "Newsletter: spring planting guide",
                      .Date = {2005, 3, 1, 6, 0, 0, 0},
                      .DelaySeconds = 1802,
                      .MessageId = "news.2005-03.0001@example.net",
                      .Flags = 0,
                      .Priority = 5,
                      .Body = Paragraphs(news)});
  }

  drafts.push_back({.FromName = "Frank Li",
                    .FromAddress = "frank.li@example.com",
                    .To = "\"Sam Reader\" <sam.reader@example.com>",
                    .Subject = "Re: lunch on Thursday?",
                    .Date = {1999, 12, 31, 23, 58, 0, -300},
                    .DelaySeconds = 130,
                    .MessageId = "386D8A28.3F1C2B5E@example.com",
                    .Body = "Thursday works. The noodle place on Fifth?\n\n"
                            "Frank\n\n"
                            "Sam Reader wrote:\n"
                            "> Lunch on Thursday, once the world has survived the new year?\n"
                            "> I am free from 12:00.\n"});

  drafts.push_back({.FromName = "IT Helpdesk",
                    .FromAddress = "helpdesk@example.com",
                    .To = "all-staff@example.com",
                    .Subject = "Scheduled maintenance this weekend",
                    .Date = {2006, 7, 14, 15, 20, 0, 0},
                    .DelaySeconds = 3,
                    .MessageId = "maint-20060714@helpdesk.example.com",
                    .Body = Paragraphs({
                        "Dear colleagues,",
                        "the mail server will be unavailable on Saturday, 15 July, from 22:00\n"
                        "until Sunday 04:00 while we replace its disks. Messages sent to you in\n"
                        "that time will be delivered when the server is back.",
                        "IT Helpdesk, extension 4357",
                    })});

  drafts.push_back({.FromAddress = "grace@example.org",
                    .To = "sam.reader@example.com",
                    .Subject = "Fwd: conference schedule",
                    .Date = {2007, 2, 2, 10, 11, 12, 0},
                    .DelaySeconds = 64,
                    .MessageId = "45C30E48.2030806@example.org",
                    .Flags = 0,
                    .Body = "FYI, the schedule for next month. Our talk is on day two.\n\n"
                            "Grace\n\n"
                            "-------- Original Message --------\n"
                            "Subject: conference schedule\n"
                            "Date: Thu, 01 Feb 2007 16:40:00 +0000\n"
                            "From: Program Committee <program@example.org>\n\n"
                            "Day 1  09:00  Opening\n"
                            "       10:30  Storage formats that outlive their programs\n"
                            "Day 2  09:00  Reading old mail archives\n"
                            "       14:00  Panel: keeping data readable for thirty years\n"});

  drafts.push_back({.FromName = "Henry Park",
                    .FromAddress = "henry.park@example.com",
                    .To = "sam.reader@example.com",
                    .Subject = "Thank you!",
                    .Date = {2008, 8, 8, 18, 30, 45, 540},
                    .DelaySeconds = 12,
                    .MessageId = "000001c8f95b$8e1d2a00$0200a8c0@home",
                    .Body = "Thank you for the book, it arrived today. Looking forward to reading it\n"
                            "on holiday.\n\nHenry\n"});

  std::vector<TSampleMessage> messages;
  for (std::size_t i = 0; i < drafts.size(); ++i) messages.push_back(Compose(drafts[i], static_cast<std::uint32_t>(i + 1)));
  return messages;
}

std::vector<TSampleMessage> SampleMbxMessages() {
  std::vector<TDraft> drafts;

  drafts.push_back({.FromName = "Ivy Chen",
                    .FromAddress = "ivy.chen@example.com",
                    .To = "design-group@example.com",
                    .Subject = "Meeting notes",
                    .Date = {1998, 2, 10, 16, 5, 33, -360},
                    .DelaySeconds = 40,
                    .MessageId = "34E0D1B5.6A4C@example.com",
                    .Body = Paragraphs({
                        "Notes from today's design review:",
                        "  * the login page keeps its current layout\n"
                        "  * search moves to the top bar\n"
                        "  * Leo checks whether the old browsers can cope with frames",
                        "Next review: 24 February.",
                        "Ivy",
                    })});

  drafts.push_back({.FromAddress = "jack@example.org",
                    .To = "everyone@example.org",
                    .Subject = "Lost & found: blue umbrella",
                    .Date = {1998, 3, 2, 8, 45, 0, 0},
                    .DelaySeconds = 600,
                    .MessageId = "199803020845.IAA01234@example.org",
                    .Flags = 0,
                    .Priority = 5,
                    .Body = "Someone left a blue umbrella in the lobby on Friday. It is now at the\n"
                            "reception desk.\n\nJack\n"});

  {
    // Many trace lines: the header block is longer than one 1024-byte chunk.
    std::string trace;
    for (int hop = 1; hop <= 9; ++hop) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "Received: from relay%d.example.net (relay%d.example.net [198.51.100.%d])\n"
                    "\tby relay%d.example.net (8.8.8/8.8.8) with ESMTP id QAA%05d;\n"
                    "\tMon, 30 Nov 1998 16:%02d:%02d -0500\n",
                    hop, hop, 20 + hop, hop + 1, 1000 + 37 * hop, 10 + hop, 7 * hop % 60);
      trace += line;
    }
    std::string figures = "Budget figures for 1999, in thousands:\n\n";
    static const char* const kLines[] = {"Salaries", "Rent", "Travel", "Equipment", "Training", "Software",
                                         "Marketing", "Reserve"};
    for (int i = 0; i < 8; ++i) {
      char line[96];
      std::snprintf(line, sizeof line, "  %-12s %6d %6d %6d %6d\n", kLines[i], 120 + 13 * i, 118 + 11 * i,
                    125 + 7 * i, 131 + 5 * i);
      figures += line;
    }
    drafts.push_back({.FromName = "Karen White",
                      .FromAddress = "karen.white@example.net",
                      .To = "\"Finance\" <finance@example.net>",
                      .Cc = "ivy.chen@example.com",
                      .Subject = "Budget figures for 1999",
                      .Date = {1998, 11, 30, 16, 2, 11, -300},
                      .DelaySeconds = 900,
                      .MessageId = "3662F8F3.B0A0E5C1@example.net",
                      .Flags = kRead | kMarked,
                      .Priority = 1,
                      .Body = figures + "\nThe columns are the four quarters. Please send corrections by Friday.\n\n"
                                        "Karen\n",
                      .ExtraHeaders = trace});
  }

  drafts.push_back({.FromName = "Leo Grant",
                    .FromAddress = "leo@example.com",
                    .To = "ivy.chen@example.com",
                    .Subject = "Re: Meeting notes",
                    .Date = {1998, 2, 11, 9, 12, 0, -360},
                    .DelaySeconds = 25,
                    .MessageId = "34E1C2A0.1B7D@example.com",
                    .Body = "Frames work in every browser we support, with one exception that\n"
                            "nobody here uses. I will write it up.\n\nLeo\n\n"
                            "Ivy Chen wrote:\n> Next review: 24 February.\n"});

  std::vector<TSampleMessage> messages;
  for (std::size_t i = 0; i < drafts.size(); ++i) messages.push_back(Compose(drafts[i], static_cast<std::uint32_t>(i + 1)));
  return messages;
}

} // namespace postvue::samples
