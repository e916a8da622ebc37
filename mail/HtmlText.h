// HTML mail as text a person reads: paragraphs and line breaks, lists, one
// table row per line, entities, links as "text <url>". Scripts, styles,
// comments and the head are dropped; nothing is fetched or run.
#pragma once

#include <string>
#include <string_view>

namespace postvue {

// html in UTF-8 (its character set already decoded) as UTF-8 text, lines
// ended by LF.
std::string HtmlToText(std::string_view html);

} // namespace postvue
