#include "Json.h"

#include "Charset.h"

#include <charconv>
#include <cmath>

namespace postvue::cli {

namespace {
bool IsPlain(unsigned char b, bool utf8) { return b >= 0x20 && b != '"' && b != '\\' && b != 0x7F && (b < 0x80 || utf8); }

void AppendQuoted(std::string& out, std::string_view bytes, bool utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    // Plain bytes go in runs: a whole store's text passes through here.
    const std::size_t run = i;
    while (i < bytes.size() && IsPlain(static_cast<unsigned char>(bytes[i]), utf8)) ++i;
    out.append(bytes.substr(run, i - run));
    if (i == bytes.size()) break;
    const char c = bytes[i];
    const auto b = static_cast<unsigned char>(c);
    switch (b) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\b': out += "\\b"; break;
    case '\f': out += "\\f"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (b < 0x20 || b == 0x7F) {
        out += "\\u00";
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
      } else if (b >= 0x80 && !utf8) {
        AppendUtf8(out, b); // byte N as U+00NN
      } else {
        out += c;
      }
    }
  }
  out += '"';
}
} // namespace

void AppendJsonString(std::string& out, std::string_view bytes) { AppendQuoted(out, bytes, false); }

void AppendJsonUtf8(std::string& out, std::string_view text) { AppendQuoted(out, text, true); }

void AppendJsonNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

} // namespace postvue::cli
