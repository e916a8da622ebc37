// Shared by the fuzz targets: inputs are read from memory, as files of their
// own, through the readers' file source.
#pragma once

#include "FileStream.h"
#include "MailbaseReader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace postvue::fuzz {

// The input as one file: files.Files[name].
TMemoryFiles OneFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// The input as an .mbx and its .idx: the first four bytes (little-endian)
// give the length of the .mbx part, the rest is the .idx. With nothing left
// for the .idx there is none (not even an empty one) when noEmptyIndex.
TMemoryFiles MbxPair(const std::uint8_t* data, std::size_t size, bool noEmptyIndex);

// Opens, loads and reads everything a user could ask of the reader: every
// record, every text and header. Reader failures are expected; anything else
// (a crash, a sanitizer report, a foreign exception) is a finding.
void Exercise(TMailbaseReader& reader, const TFileSource& files, const std::string& path);

// Recovers every message of the store at path. Recovery reports damage to
// its sink and never raises once the store is open: an exception from the
// run itself is a finding.
void Recover(const TFileSource& files, const std::string& path);

} // namespace postvue::fuzz
