// Any bytes as the Folders.dbx of a store folder, and as a store it names.
// Whatever the list holds, the tree must stay a tree: parents before their
// children, no deeper than the limit, no two names alike beside each other,
// no store file in two folders.
#include "FuzzSupport.h"
#include "StoreFolder.h"

#include <cstdlib>
#include <set>
#include <string>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  postvue::TMemoryFiles store;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  store.Files["store/Folders.dbx"] = bytes;
  store.Files["store/a.dbx"] = bytes;
  const postvue::TStoreFolder tree = postvue::ReadStoreFolder("store", store);
  std::set<std::pair<std::int32_t, std::string>> names;
  std::set<std::string> files;
  for (std::size_t i = 0; i < tree.Folders.size(); ++i) {
    const postvue::TStoreFolderEntry& f = tree.Folders[i];
    const bool parentFirst = f.Parent < static_cast<std::int32_t>(i);
    const bool depthRight = f.Parent < 0 ? f.Depth == 0 : f.Depth == tree.Folders[static_cast<std::size_t>(f.Parent)].Depth + 1;
    if (!parentFirst || !depthRight || f.Depth > postvue::kMaxFolderDepth || !names.insert({f.Parent, postvue::FolderNameKey(f.Name)}).second ||
        (!f.StoreFile.empty() && !files.insert(f.StoreFile).second))
      std::abort();
  }
  return 0;
}
