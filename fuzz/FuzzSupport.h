// Shared by the fuzz targets: the readers take paths, so each input is written
// to a scratch folder of this process first.
#pragma once

#include "MailbaseReader.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace postvue::fuzz {

// The scratch folder (created once per process).
const std::string& ScratchDir();
// Writes bytes to name inside the scratch folder and returns its path.
std::string WriteScratch(const std::string& name, const std::uint8_t* data, std::size_t size);
void RemoveScratch(const std::string& name);

// Opens, loads and reads everything a user could ask of the reader: every
// record, every text and header. Reader failures are expected; anything else
// (a crash, a sanitizer report, a foreign exception) is a finding.
void Exercise(TMailbaseReader& reader, const std::string& path);

} // namespace postvue::fuzz
