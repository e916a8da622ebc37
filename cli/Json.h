// The few JSON pieces the listing needs.
#pragma once

#include <string>
#include <string_view>

namespace postvue::cli {

// A quoted JSON string of bytes taken as code points U+0000..U+00FF (the
// stores keep 8-bit text with no character set), written as UTF-8. Quote,
// backslash and control characters (below 0x20, and 0x7F) are escaped.
void AppendJsonString(std::string& out, std::string_view bytes);

// A quoted JSON string of UTF-8 text, escaped as AppendJsonString does.
void AppendJsonUtf8(std::string& out, std::string_view text);

// A number that reads back as the same double (shortest round-trip form);
// null for a value JSON cannot hold.
void AppendJsonNumber(std::string& out, double value);

} // namespace postvue::cli
