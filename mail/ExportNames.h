// The names that exports give their files and folders: UTF-8 names that the
// file systems of Windows and Linux alike take, so an export copies from one
// to the other intact.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace postvue {

// text (UTF-8) fit for a file name: what is unsafe in one replaced, blanks
// at either end removed, and a text too long for a name (with room for a
// number, a variant and an extension) cut, at a blank where one is near, with
// "…" at its end. Export names and store-folder directories use it.
std::string SafeFileName(std::string_view text);

// "NNNN - Subject.eml": the index zero-padded to the width that the largest
// index of count needs (at least 4), then subject (UTF-8 text, NamingSubject)
// with what is unsafe in a file name replaced.
std::string ExportFileName(std::int32_t index, std::int32_t count, std::string_view subject);

// A folder's name (UTF-8) as a directory or file name that every system
// takes: never empty, "." or "..", no dot at its end (Windows drops it), no
// device name (CON, COM1, ...).
std::string FolderFileName(const std::string& name);

// name, or for a variant above 1 the same with " (variant)" before its
// extension: "NNNN - Subject (2).eml", the free variant of a taken name.
std::string VariantName(const std::string& name, int variant);

} // namespace postvue
