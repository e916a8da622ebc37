// A message's MIME structure: one walk over its raw text gives a tree of
// offsets into it (each part's header block and body, its children). Nothing
// is decoded here; a malformed message gives a tree and notes, never an
// exception. Header fields, their parameters (RFC 2045/2231) and encoded
// words (RFC 2047) are read through the functions below.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// Bounds on the work one message can cause: deeper parts and parts past the
// count are read as plain text, with a note.
inline constexpr std::size_t kMaxMimeDepth = 64;
inline constexpr std::size_t kMaxMimeParts = 10000;

struct TMimePart {
  std::size_t HeaderStart = 0, HeaderEnd = 0; // the header lines, without the blank line
  std::size_t BodyStart = 0, BodyEnd = 0;
  std::string Type = "text", Subtype = "plain"; // lower case
  std::size_t Depth = 0;
  std::vector<std::size_t> Children; // indexes into TMimeTree::Parts; a message/rfc822 part has its message
};

struct TMimeTree {
  std::vector<TMimePart> Parts; // Parts[0] is the message itself
  std::vector<std::string> Notes;
};

TMimeTree ParseMime(std::string_view text);

// One header field, its folded lines joined (line breaks removed, the
// blanks kept) and blanks around the value trimmed.
struct THeaderField {
  std::string_view Name;
  std::string Value;
};
std::vector<THeaderField> HeaderFields(std::string_view header);
// The first field named name (letter case ignored), unfolded; empty when none.
std::string FieldValue(std::string_view header, std::string_view name);

// A Content-Type or Content-Disposition value: its first word (lower case)
// and its parameters, names lower case, values unquoted; RFC 2231 pieces
// joined and their %XX text decoded to UTF-8 (Decoded set then).
struct TParameter {
  std::string Name, Value;
  bool Decoded = false;
};
struct TFieldValue {
  std::string Value;
  std::vector<TParameter> Parameters;
  const TParameter* Find(std::string_view name) const;
};
TFieldValue ParseFieldValue(std::string_view value);

// Header text for people, in UTF-8: encoded words decoded (adjacent ones
// joined, malformed ones kept as written), other 8-bit bytes read as UTF-8
// where they are valid UTF-8 and no charset is given, else in charset (the
// message's declared one; empty or unknown reads as Windows-1252).
std::string DecodeHeaderText(std::string_view text, std::string_view charset = {});

// A parameter's value for people: RFC 2231 text as decoded, else as header text.
std::string ParameterText(const TParameter& parameter, std::string_view charset = {});

// An address list (From, To, Cc) for people: "Name <address>" or
// "address" for each, joined by ", "; comments and quotes removed.
std::string AddressListText(std::string_view value, std::string_view charset = {});

} // namespace postvue
