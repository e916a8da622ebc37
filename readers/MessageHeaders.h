// What a stored message's header looks like: the test that tells a message
// from other bytes, and the value of one header line. Recovery uses them to
// find messages, and the mbox export to take a sender.
#pragma once

#include <string>
#include <string_view>

namespace postvue {

// Whether text begins as a stored message does: a whole header field line
// ("Name:", a name of letters, digits, "-", "_" and "."), then header or
// continuation lines up to the blank line. A last line cut by the end of text
// is not judged, so the first kilobyte of a message will do.
bool LooksLikeMessage(std::string_view text);

// The value of the first header line named name (letter case ignored), before
// the blank line; surrounding blanks removed, continuation lines not joined.
std::string HeaderField(std::string_view text, std::string_view name);

} // namespace postvue
