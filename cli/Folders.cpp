// The commands over a whole store folder: its folder tree, and every folder's
// messages exported into a tree of directories that follows it.
#include "Commands.h"

#include "Exceptions.h"
#include "Json.h"
#include "StoreFolder.h"

#include <algorithm>
#include <string>
#include <vector>

namespace postvue::cli {

namespace {

// The names from the top level down to folder i.
std::vector<std::string> PathOf(const TStoreFolder& tree, std::size_t i) {
  std::vector<std::string> path;
  for (auto at = static_cast<std::int32_t>(i); at >= 0; at = tree.Folders[static_cast<std::size_t>(at)].Parent)
    path.push_back(tree.Folders[static_cast<std::size_t>(at)].Name);
  std::reverse(path.begin(), path.end());
  return path;
}

// "Outlook Express/Local Folders/Inbox (Inbox.dbx)": which folder a message speaks of.
std::string FolderLabel(const TStoreFolder& tree, std::size_t i) {
  std::string label;
  for (const std::string& name : PathOf(tree, i)) label += (label.empty() ? "" : "/") + name;
  const TStoreFolderEntry& folder = tree.Folders[i];
  if (!folder.StoreFile.empty()) label += " (" + folder.StoreFile + ")";
  return label;
}

TStoreFolder ReadTree(const std::string& storeDir) {
  TStoreFolder tree = ReadStoreFolder(storeDir);
  for (const std::string& note : tree.Notes) ReportError(note);
  return tree;
}
} // namespace

int RunFolders(const std::string& storeDir, bool json) {
  const TStoreFolder tree = ReadTree(storeDir);
  bool failed = false;
  std::string out = json ? "{\n  \"folders\": [" : "";
  for (std::size_t i = 0; i < tree.Folders.size(); ++i) {
    const TStoreFolderEntry& folder = tree.Folders[i];
    std::string count = "0", error;
    if (!folder.StorePath.empty()) try {
        count = std::to_string(std::max(LoadStore(folder.StorePath, true)->GetCount(), 0));
      } catch (const Exception& e) {
        // One unreadable store must not hide the others; the exit status tells.
        error = ErrorBoxText(e.message());
        ReportError(FolderLabel(tree, i) + ": " + error);
        failed = true;
        count = json ? "null" : "?";
      }
    if (json) {
      out += i == 0 ? "\n    {\"name\": " : ",\n    {\"name\": ";
      AppendJsonUtf8(out, folder.Name);
      out += ", \"path\": [";
      const std::vector<std::string> path = PathOf(tree, i);
      for (std::size_t k = 0; k < path.size(); ++k) {
        if (k > 0) out += ", ";
        AppendJsonUtf8(out, path[k]);
      }
      out += "], \"count\": " + count + ", \"file\": ";
      if (folder.StoreFile.empty())
        out += "null";
      else
        AppendJsonUtf8(out, folder.StoreFile);
      if (!error.empty()) {
        out += ", \"error\": ";
        AppendJsonUtf8(out, error);
      }
      out += '}';
    } else {
      out.append(2 * static_cast<std::size_t>(folder.Depth), ' ');
      AppendField(out, folder.Name);
      out += '\t' + count + '\t' + (folder.StoreFile.empty() ? std::string("no file") : folder.StoreFile) + '\n';
    }
  }
  if (json) {
    out += tree.Folders.empty() ? "],\n  \"notes\": [" : "\n  ],\n  \"notes\": [";
    for (std::size_t k = 0; k < tree.Notes.size(); ++k) {
      out += k == 0 ? "\n    " : ",\n    ";
      AppendJsonUtf8(out, tree.Notes[k]);
    }
    out += tree.Notes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  }
  WriteStdout(out);
  return failed ? 1 : 0;
}

} // namespace postvue::cli
