#include "ReaderFactory.h"

#include "DbxReader.h"
#include "Exceptions.h"
#include "MbxReader.h"

namespace postvue {

std::unique_ptr<TMailbaseReader> NewReader(TStoreFormat format) {
  if (format == sfMBX) return std::make_unique<TMBXReader>();
  if (format == sfDBX) return std::make_unique<TDBXReader>();
  throw EMailbaseReaderException(kUnsupportedFormat);
}

} // namespace postvue
