// A store folder: the folder of one mail identity, holding a .dbx per mail
// folder and Folders.dbx with the tree of their names (for Outlook Express 4,
// an .mbx with its .idx per folder). Reading it gives the tree of folders with
// the store file of each, whatever shape the folder list is in: a missing or
// damaged list, or one that loops, names parents that are not there, repeats
// names or names files elsewhere, still gives every message store once, at a
// place of its own, and a note for everything that was not as it should be.
#pragma once

#include "FileStream.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postvue {

// One record of Folders.dbx, as stored (8-bit texts).
struct TFolderRecord {
  std::uint32_t Id = 0, ParentId = 0;
  std::string Name;
  std::string StoreFile; // empty: the folder has no file of its own
};

// The folder records of a Folders.dbx in the order of its index. A damaged
// file raises as a damaged message store does (the same index checks).
std::vector<TFolderRecord> ReadFolderList(const std::string& fileName, const TFileSource& files = DiskFiles());

struct TStoreFolderEntry {
  std::string Name;         // UTF-8; no sibling has the same name, letter case ignored
  std::int32_t Parent = -1; // index of the parent in Folders; -1 at the top level
  std::uint32_t Depth = 0;  // 0 at the top level
  std::string StoreFile;    // the store's file name as on disk; empty: no file
  std::string StorePath;    // the folder's path and StoreFile; empty: no file
};

struct TStoreFolder {
  // Every folder before its children; siblings in the folder list's order,
  // then the stores it leaves out, by file name.
  std::vector<TStoreFolderEntry> Folders;
  // What was skipped, moved or renamed, and why: one sentence each.
  std::vector<std::string> Notes;
};

// A name as folder names are compared: letter case ignored (ASCII), as the
// file systems of Windows do.
std::string FolderNameKey(std::string_view name);

// Folders deeper than this go to the top level: a hostile list must not nest
// beyond what paths can hold.
constexpr std::uint32_t kMaxFolderDepth = 32;

// Reads the folder dir (a UTF-8 path) of files (the disk unless given).
// Raises EFOpenError with dir when it is not a folder that can be listed;
// every other failure becomes a note.
TStoreFolder ReadStoreFolder(const std::string& dir, const TFileSource& files = DiskFiles());

} // namespace postvue
