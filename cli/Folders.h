// Where the folders of a store folder go when they are exported or
// recovered: a place below the output folder for each, nested as the tree.
#pragma once

#include "StoreFolder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace postvue::cli {

// "Outlook Express/Local Folders/Inbox": the names from the top down to folder i.
std::string FolderPath(const TStoreFolder& tree, std::size_t i);
// "Outlook Express/Local Folders/Inbox (Inbox.dbx)": which folder a message
// speaks of (the folder's path from the top, its store file).
std::string FolderLabel(const TStoreFolder& tree, std::size_t i);

// The tree of storeDir, its notes on standard error. A folder with neither a
// folder list nor a store is no store folder (most likely the wrong folder):
// raises then.
TStoreFolder ReadTree(const std::string& storeDir);

enum class TLayout {
  Eml,     // a directory per folder, its subfolders inside it
  Mbox,    // an mbox file per folder, its subfolders in "NAME.sbd" beside it
  Recover, // as Eml, keeping "removed" in each directory free for recover's own
  Attachments, // as Eml, a directory per message with attachments inside each
};

struct TFolderPlan {
  TLayout Layout = TLayout::Eml;
  TStoreFolder Tree;
  std::vector<std::string> Targets; // of each folder: its directory, or its mbox file
  std::uint64_t TotalBytes = 0;     // of every store file: a run's progress counts them

  // "Local Folders/Inbox (Inbox.dbx): ", what failures of folder i begin with.
  std::string Label(std::size_t i) const;
  std::uint64_t StoreBytes(std::size_t i) const;
  // Makes folder i's directory, or with Mbox the directory of its subfolders
  // when it has any. Raises EFCreateError when that cannot be a folder.
  void MakeDirectory(std::size_t i) const;
};

// Reads the tree of storeDir (its notes go to standard error), makes outDir
// (as PrepareFolder does) and finds each folder its place there: its name
// made safe as export names are, or a free variant of it where a sibling has
// that name already (they may differ only in what was unsafe) or something
// is in the way. No file that is there is replaced, no link followed.
TFolderPlan PlanStoreFolder(const std::string& storeDir, const std::string& outDir, TLayout layout);

// Every folder of a store folder into its place in outDir, as layout lays
// them out (Eml, Mbox or Attachments): one report, one summary.
int RunExportFolder(const std::string& storeDir, const std::string& outDir, TLayout layout);

} // namespace postvue::cli
