#include "ExportNames.h"

#include "Charset.h"
#include "TextLines.h"

#include <algorithm>

namespace postvue {

namespace {
constexpr std::size_t kMinIndexWidth = 4;
// Characters, and bytes of UTF-8: with the number, a variant and the
// extension a name stays within the 255 bytes (or UTF-16 units) file systems allow.
constexpr std::size_t kMaxSubjectInName = 80;
constexpr std::size_t kMaxSubjectBytes = 200;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6"; // ends a name that was cut

// The bytes of the UTF-8 character that begins with lead (the text is valid UTF-8).
std::size_t Utf8Length(unsigned char lead) { return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// One UTF-8 character that no file system takes in a name, or that would
// hide in one: controls, the separators and wildcards of the platforms, and
// the replacement character that stands for bytes that meant nothing.
bool IsUnsafeInFileName(std::string_view character) {
  static constexpr std::string_view kReserved = "<>:\"/\\|?*";
  const auto lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1)
    return lead < 0x20 || lead == 0x7F || kReserved.find(character[0]) != std::string_view::npos;
  if (lead == 0xC2) return static_cast<unsigned char>(character[1]) < 0xA0; // C1 controls
  return character == "\xEF\xBF\xBD";
}

// The bytes of text's longest start of at most characters characters and bytes bytes.
std::size_t FittingPrefix(std::string_view text, std::size_t characters, std::size_t bytes) {
  std::size_t end = 0;
  for (std::size_t counted = 0; end < text.size() && counted < characters; ++counted) {
    const std::size_t length = Utf8Length(static_cast<unsigned char>(text[end]));
    if (end + length > bytes) break;
    end += length;
  }
  return end;
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Windows opens the device instead of a file for these names, also with an
// extension and with blanks before it: every name it reserves, the serial
// and printer ports numbered 0 to 9 and with the superscript digits 1 to 3
// among them.
bool IsDeviceName(std::string_view name) {
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  const std::string lower = AsciiLowerCase(name);
  for (const std::string_view device : {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"})
    if (lower == device) return true;
  if (lower.size() < 4 || !(lower.starts_with("com") || lower.starts_with("lpt"))) return false;
  const std::string_view number = std::string_view(lower).substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}
} // namespace

std::string SafeFileName(std::string_view decoded) {
  std::string safe;
  for (std::size_t i = 0; i < decoded.size();) {
    const std::string_view character(decoded.data() + i, Utf8Length(static_cast<unsigned char>(decoded[i])));
    safe += IsUnsafeInFileName(character) ? std::string_view("_") : character;
    i += character.size();
  }
  const std::string_view part = TrimSpaces(safe);
  if (FittingPrefix(part, kMaxSubjectInName, kMaxSubjectBytes) == part.size()) return std::string(part);
  // Cut, and shown to be: the ellipsis takes the room of one character.
  const std::size_t end = FittingPrefix(part, kMaxSubjectInName - 1, kMaxSubjectBytes - kEllipsis.size());
  std::size_t cut = end;
  if (part[end] != ' ') { // else the cut falls between words already
    // At the last blank before, unless that would lose too much of the name.
    const std::size_t blank = part.rfind(' ', end);
    if (blank != std::string_view::npos && CharacterCount(part.substr(blank, end - blank)) <= kMaxSubjectInName / 3)
      cut = blank;
  }
  return std::string(TrimSpaces(part.substr(0, cut))) + std::string(kEllipsis);
}

std::string ExportFileName(std::int32_t index, std::int32_t count, std::string_view subject) {
  const std::string number = std::to_string(index);
  const std::size_t width = std::max(kMinIndexWidth, std::to_string(count > 0 ? count - 1 : 0).size());
  std::string name(width > number.size() ? width - number.size() : 0, '0');
  name += number;

  const std::string part = SafeFileName(subject);
  if (!part.empty()) {
    name += " - ";
    name += part;
  }
  return name + ".eml";
}

std::string FolderFileName(const std::string& name) {
  std::string safe = SafeFileName(name);
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
  if (safe.empty() || IsDeviceName(safe)) safe.insert(0, 1, '_');
  return safe;
}

std::string VariantName(const std::string& name, int variant) {
  if (variant == 1) return name;
  const std::size_t dot = std::min(name.rfind('.'), name.size());
  return name.substr(0, dot) + " (" + std::to_string(variant) + ")" + name.substr(dot);
}

} // namespace postvue
