#include "Exceptions.h"

namespace postvue {

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
    return message + ".";
  return message;
}

std::string ReasonText(const std::error_code& code) {
  // The portable text where there is one, so a failure reads the same on every system.
  const std::error_condition portable = code.default_error_condition();
  std::string text = portable.category() == std::generic_category() ? portable.message() : code.message();
  // Windows ends its texts with a line break.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

} // namespace postvue
