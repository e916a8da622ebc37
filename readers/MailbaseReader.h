// The base of every store reader and the format probe.
#pragma once

#include "DateTime.h"
#include "FileStream.h"
#include "MessageRecord.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace postvue {

enum TStoreFormat : std::int32_t { sfUnknown = 0, sfMBX = 1, sfDBX = 2 };

// The pages of a block made ready ahead of their first use, on a thread of
// its own that the guard waits for when it goes: the system clears every
// page it gives, a tenth of loading a large store, and another processor
// can do that while the records are decoded.
class TPrefault {
public:
  TPrefault() = default;
  TPrefault(void* begin, std::size_t bytes);
  TPrefault(TPrefault&&) = default;
  TPrefault& operator=(TPrefault&&) = delete;
  ~TPrefault();

private:
  std::thread Worker;
};

// Instantiable on its own: a bare TMailbaseReader is the probe whose Open
// recognises a store's format. Its other operations raise "Abstract Error".
class TMailbaseReader {
public:
  TMailbaseReader() = default;
  virtual ~TMailbaseReader();
  TMailbaseReader(const TMailbaseReader&) = delete;
  TMailbaseReader& operator=(const TMailbaseReader&) = delete;

  virtual std::string GetFolderName();
  virtual std::string GetMessageHeader(std::int32_t Index);
  virtual std::string GetMessageText(std::int32_t Index);
  virtual std::int32_t GetCount();
  virtual void GetMessage(std::int32_t Index, TMessageRecord& Record);
  virtual void Open(const std::string& FileName);
  virtual void Load();
  virtual void SetFileName(const std::string& FileName);
  // Record Index as loaded, read in place where GetMessage copies it (a
  // listing of 100,000 messages copied 223 MB of records); an all-zero
  // record when there is none.
  const TMessageRecord& MessageAt(std::int32_t Index) const;

  // Where Open finds the store and its companion files; the disk unless set.
  // The source must outlive the reader's use of it.
  void UseFiles(const TFileSource& files) { Files = &files; }

  std::string FileName;
  bool Active = false;
  TStoreFormat Format = sfUnknown;

protected:
  // Copies record Index of Messages, or clears the caller's record when there is none.
  void CopyMessage(std::int32_t Index, TMessageRecord& Record) const;
  // Empties Messages and gives it room for count records in a fresh block.
  // Where the system allows, the block's pages are made on another processor
  // while the caller fills it, until the returned guard goes. Without the
  // memory for them, raises an Exception that says how many records need how
  // much, with the system's reason.
  [[nodiscard]] TPrefault ReserveMessages(std::size_t count);

  std::unique_ptr<TFileStream> Stream;
  std::vector<TMessageRecord> Messages;
  const TFileSource* Files = &DiskFiles();
};

// The format named by a store's first four bytes (raises "Stream read error"
// when the file holds fewer).
TStoreFormat RecogniseFormat(TFileStream& stream);

} // namespace postvue
