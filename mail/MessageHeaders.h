// What a stored message's header looks like: where it ends, the test that
// tells a message from other bytes, and the value of one header line. The
// readers cut a message's header with the first, recovery uses the others to
// find messages, and the mbox export to take a sender's address.
#pragma once

#include <string>
#include <string_view>

namespace postvue {

// The line breaks that a header's blank line is made of.
enum class THeaderBreaks {
  // CR LF alone, after a line of its own: the first CR LF CR LF. The
  // readers cut a stored message's header so, as the mail program does.
  CrLf,
  // CR LF, lone CR or lone LF, as SplitLines cuts lines; an empty first line
  // is a blank line too. The tests below, which judge bytes from anywhere.
  Any,
};

// Where the header of text ends: the offset of the blank line that follows
// its header lines (the line break that makes it), or npos when there is none.
std::size_t HeaderEnd(std::string_view text, THeaderBreaks breaks);

// Whether text begins as a stored message does: a whole header field line
// ("Name:", a name of letters, digits, "-", "_" and "."), then header or
// continuation lines up to the blank line. A last line cut by the end of text
// is not judged, so the first kilobyte of a message will do.
bool LooksLikeMessage(std::string_view text);

// The value of the first header line named name (letter case ignored), before
// the blank line; surrounding blanks removed, continuation lines not joined.
std::string HeaderField(std::string_view text, std::string_view name);

// The address in a From line's value: within angle brackets, else the word
// with an "@"; empty when there is neither.
std::string_view AddressIn(std::string_view value);

} // namespace postvue
