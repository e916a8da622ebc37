// The concrete reader for a recognised store format, and the one way a store
// is opened: by the viewers and by postvue-cli alike.
#pragma once

#include "Charset.h"
#include "MailbaseReader.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace postvue {

class Exception;

inline constexpr const char* kUnsupportedFormat = "File is not in supported format.";

// A new TDBXReader or TMBXReader, not yet opened. Raises
// EMailbaseReaderException "File is not in supported format." for sfUnknown.
std::unique_ptr<TMailbaseReader> NewReader(TStoreFormat format);

// The reader for the store at path (UTF-8), not yet opened: a bare probe
// recognises the format and closes its file before the reader opens it anew.
// Raises what the probe's open raises, and as NewReader does.
std::unique_ptr<TMailbaseReader> NewReaderFor(const std::string& path);

// Opens the store at path with reader (from NewReaderFor) and loads its
// records. The caller holds the reader first, so that one that fails to
// open or load is still there to give its folder name and count. A sound
// store that holds no message fails to open with the reader's own failure;
// given empty, that failure goes to empty instead, and the reader stays
// open with a count of 0 and nothing loaded.
void OpenStore(TMailbaseReader& reader, const std::string& path,
               const std::function<void(const Exception& failure)>& empty = {});

// Whether reader's folder name is its file's name (an .mbx store: UTF-8, as
// the path was given) rather than the store's own 8-bit bytes (a .dbx store).
bool FolderNameIsFileName(const TMailbaseReader& reader);

// The reader's folder name as text (UTF-8): the file's name as it is, or the
// stored bytes through storeText (the 8-bit texts as the viewer shows them).
std::string FolderNameText(TMailbaseReader& reader,
                           std::string (*storeText)(std::string_view bytes) = Windows1252ToUtf8);

} // namespace postvue
