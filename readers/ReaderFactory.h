// The concrete reader for a recognised store format.
#pragma once

#include "MailbaseReader.h"

#include <memory>

namespace postvue {

inline constexpr const char* kUnsupportedFormat = "File is not in supported format.";

// A new TDBXReader or TMBXReader, not yet opened. Raises
// EMailbaseReaderException "File is not in supported format." for sfUnknown.
std::unique_ptr<TMailbaseReader> NewReader(TStoreFormat format);

} // namespace postvue
