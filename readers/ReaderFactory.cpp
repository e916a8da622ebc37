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

std::unique_ptr<TMailbaseReader> NewReaderFor(const std::string& path) {
  TMailbaseReader probe;
  probe.SetFileName(path);
  return NewReader(probe.Format);
}

void OpenStore(TMailbaseReader& reader, const std::string& path,
               const std::function<void(const Exception& failure)>& empty) {
  try {
    reader.SetFileName(path);
  } catch (const Exception& e) {
    // Open fails on a count of 0 only once the store is recognised as such.
    if (!empty || !(reader.Active && reader.GetCount() == 0)) throw;
    empty(e);
    return;
  }
  reader.Load();
}

// By the reader's kind, not its Format: a reader whose open failed has none.
bool FolderNameIsFileName(const TMailbaseReader& reader) { return dynamic_cast<const TMBXReader*>(&reader) != nullptr; }

std::string FolderNameText(TMailbaseReader& reader, std::string (*storeText)(std::string_view bytes)) {
  const std::string name = reader.GetFolderName();
  return FolderNameIsFileName(reader) ? name : storeText(name);
}

} // namespace postvue
