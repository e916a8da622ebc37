#include "Recovery.h"

#include "Exceptions.h"
#include "ReaderFactory.h"
#include "RecoveryScan.h"
#include "FilePaths.h"

namespace postvue {

std::string HexText(std::uint64_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value);
  return "0x" + text;
}

TStoreRecovery::TStoreRecovery(const std::string& fileName, const TFileSource& files)
    : FileName(fileName), Files(files) {
  Stream = Files.Open(fileName, TShareMode::DenyNone);
  StoreFormat = RecogniseFormat(*Stream);
  if (StoreFormat == sfUnknown) throw EMailbaseReaderException(kUnsupportedFormat);
}

TStoreRecovery::~TStoreRecovery() = default;

TRecoverySummary TStoreRecovery::Run(TRecoverySink& sink) {
  Stream->DropCache();
  const std::unique_ptr<recovery::TRun> run =
      StoreFormat == sfDBX ? recovery::NewDbxRun(*Stream, sink)
                           : recovery::NewMbxRun(*Stream, sink, Files, Files.Find(ChangeFileExt(FileName, ".idx")));
  run->Execute();
  const std::uint64_t size = Stream->Size();
  sink.Progress(size, size);
  return run->Summary;
}

} // namespace postvue
