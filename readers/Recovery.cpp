#include "Recovery.h"

#include "Exceptions.h"
#include "ReaderFactory.h"
#include "RecoveryScan.h"
#include "TextLines.h"

namespace postvue {

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
