// The date of a Date header line (RFC 5322, with the obsolete and the
// common sloppy forms old mail has), as the sender's clock showed it.
#pragma once

#include <optional>
#include <string_view>

namespace postvue {

struct TMailDate {
  double Local = 0.0;   // days since 30 December 1899, the sender's wall-clock time
  int ZoneMinutes = 0;  // the sender's offset from UTC; 0 when the line names none
  double Utc() const { return Local - ZoneMinutes / 1440.0; }
};

// The date of text ("Tue, 1 Jul 2003 10:52:37 +0200", "1 Jul 03 10:52 PDT",
// "Tue Jul  1 10:52:37 2003"); none when it holds no valid day, month, year
// and time. Comments are ignored, two-digit years read as 1950 to 2049.
std::optional<TMailDate> ParseMailDate(std::string_view text);

} // namespace postvue
