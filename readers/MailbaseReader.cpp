#include "MailbaseReader.h"

#include "ByteCursor.h"
#include "DbxFormat.h"
#include "Exceptions.h"
#include "MbxFormat.h"

#include <cerrno>
#include <new>
#include <string>
#include <system_error>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace postvue {

TMailbaseReader::~TMailbaseReader() = default;

std::string TMailbaseReader::GetFolderName() { throw EAbstractError(); }
std::string TMailbaseReader::GetMessageHeader(std::int32_t) { throw EAbstractError(); }
std::string TMailbaseReader::GetMessageText(std::int32_t) { throw EAbstractError(); }
std::int32_t TMailbaseReader::GetCount() { throw EAbstractError(); }
void TMailbaseReader::GetMessage(std::int32_t, TMessageRecord&) { throw EAbstractError(); }
void TMailbaseReader::Load() { throw EAbstractError(); }

void TMailbaseReader::Open(const std::string& fileName) {
  Active = false;
  FileName = fileName;
  Stream.reset(); // the previous file is closed before the next is opened
  Format = sfUnknown;
  Stream = Files->Open(fileName, TShareMode::DenyNone);
  Format = RecogniseFormat(*Stream);
  Stream->Seek(0);
  Active = true; // also for an unknown format: the caller decides
}

TStoreFormat RecogniseFormat(TFileStream& stream) {
  std::uint8_t magic[4];
  stream.ReadAt(0, magic, sizeof magic);
  TByteCursor cursor(magic);
  const std::uint32_t value = cursor.U32();
  if (value == mbx::kMagic) return sfMBX;
  if (value == dbx::kMagic) return sfDBX;
  return sfUnknown;
}

void TMailbaseReader::SetFileName(const std::string& fileName) { Open(fileName); }

const TMessageRecord& TMailbaseReader::MessageAt(std::int32_t Index) const {
  static const TMessageRecord kNone{};
  return Index >= 0 && static_cast<std::size_t>(Index) < Messages.size() ? Messages[static_cast<std::size_t>(Index)]
                                                                          : kNone;
}

void TMailbaseReader::CopyMessage(std::int32_t Index, TMessageRecord& Record) const { Record = MessageAt(Index); }

// The array is the bulk of a large load and is written once, front to back:
// in huge pages where the system offers them, it costs one page fault per
// 2 MiB instead of one per 4 KiB.
TPrefault TMailbaseReader::ReserveMessages(std::size_t count) {
  std::vector<TMessageRecord>().swap(Messages); // the former block goes before the next is taken
  try {
    Messages.reserve(count);
  } catch (const std::bad_alloc&) {
    // Every record has its fixed size: say what the store asks for, not just that it failed.
    const std::uint64_t megabytes = (static_cast<std::uint64_t>(count) * sizeof(TMessageRecord) + (1 << 20) - 1) >> 20;
    throw Exception("Not enough memory for the list of " + std::to_string(count) + " messages: it needs " +
                        std::to_string(megabytes) + " MB",
                    std::error_code(ENOMEM, std::generic_category()));
  }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = 2 << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(Messages.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + count * sizeof(TMessageRecord)) & ~(kHugePage - 1);
  if (last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE); // advice only
    return TPrefault(reinterpret_cast<void*>(first), last - first);
  }
#endif
  return {};
}

TPrefault::TPrefault([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // From the end backwards, in huge pages, so that the thread and the caller
  // (who writes from the front) meet somewhere in the middle instead of
  // taking turns at the same pages. A system without the advice refuses it,
  // and the pages are made as they are first written.
  try {
    Worker = std::thread([begin, bytes] {
      constexpr std::size_t kStep = 2 << 20;
      auto* const start = static_cast<char*>(begin);
      for (std::size_t end = bytes; end > 0;) {
        const std::size_t from = end > kStep ? end - kStep : 0;
        if (::madvise(start + from, end - from, MADV_POPULATE_WRITE) != 0) return;
        end = from;
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had: the pages are made as they are first written.
  }
#endif
}

TPrefault::~TPrefault() {
  if (Worker.joinable()) Worker.join();
}

} // namespace postvue
