// The commands over a whole store folder: its folder tree, and every folder's
// messages exported into a tree of directories that follows it.
#include "Commands.h"

#include "Folders.h"

#include "Console.h"
#include "Exceptions.h"
#include "Json.h"
#include "StoreFolder.h"
#include "FilePaths.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
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


namespace fs = std::filesystem;

const char* const kSubfolders = ".sbd";

// Whether path may be a folder's directory: absent, or a folder already.
bool FreeForDirectory(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(PathFromUtf8(path), ec);
  return !fs::exists(status) || fs::is_directory(status);
}

bool Absent(const std::string& path) {
  std::error_code ec;
  return !fs::exists(fs::symlink_status(PathFromUtf8(path), ec));
}

} // namespace

std::string FolderPath(const TStoreFolder& tree, std::size_t i) {
  std::string path;
  for (const std::string& name : PathOf(tree, i)) path += (path.empty() ? "" : "/") + name;
  return path;
}

std::string FolderLabel(const TStoreFolder& tree, std::size_t i) {
  std::string label = FolderPath(tree, i);
  const TStoreFolderEntry& folder = tree.Folders[i];
  if (!folder.StoreFile.empty()) label += " (" + folder.StoreFile + ")";
  return label;
}

TStoreFolder ReadTree(const std::string& storeDir) {
  TStoreFolder tree = ReadStoreFolder(storeDir);
  for (const std::string& note : tree.Notes) ReportError(note);
  if (tree.Folders.empty()) throw Exception("there is no mail store in " + storeDir);
  return tree;
}

// Every folder of the plan, each store by the single-store export into its
// folder's place: one report, one summary, progress over all the stores.
int RunExportFolder(const std::string& storeDir, const std::string& outDir, TLayout layout) {
  const TFolderPlan plan = PlanStoreFolder(storeDir, outDir, layout);
  TExportReport report;
  std::uint64_t done = 0;
  try {
    for (std::size_t i = 0; i < plan.Tree.Folders.size(); ++i) {
      const TStoreFolderEntry& folder = plan.Tree.Folders[i];
      report.Share({done, plan.StoreBytes(i), plan.TotalBytes});
      done += plan.StoreBytes(i);
      try {
        plan.MakeDirectory(i);
        std::unique_ptr<TMailbaseReader> reader;
        if (!folder.StorePath.empty()) reader = LoadStore(folder.StorePath, true);
        if (layout == TLayout::Mbox)
          ExportMbox(reader.get(), plan.Targets[i], report, plan.Label(i), TMboxName::New); // none: an empty mbox
        else if (reader && layout == TLayout::Attachments)
          ExportAttachments(*reader, plan.Targets[i] + "/", report, plan.Label(i));
        else if (reader)
          ExportMessages(*reader, plan.Targets[i] + "/", report, plan.Label(i));
      } catch (const Exception& e) {
        // The output tree is one place: what no file there may have stops the run, said once.
        if (FailsEveryNewFile(e)) report.Stop(e, plan.Label(i), plan.Targets[i]);
        // One folder that cannot be read or written must not cost the others; the summary and the exit status tell.
        report.Error(e, plan.Label(i));
      }
    }
  } catch (const TRunStopped&) {
    // Said already; the summary still tells what was written before.
  }
  return report.Finish();
}

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
  if (json)
    WriteStdout(out);
  else
    WriteText(stdout, out);
  return failed ? 1 : 0;
}

std::string TFolderPlan::Label(std::size_t i) const { return FolderLabel(Tree, i) + ": "; }

std::uint64_t TFolderPlan::StoreBytes(std::size_t i) const {
  const std::string& path = Tree.Folders[i].StorePath;
  std::error_code ec;
  const std::uintmax_t size = path.empty() ? 0 : fs::file_size(PathFromUtf8(path), ec);
  return ec ? 0 : size;
}

void TFolderPlan::MakeDirectory(std::size_t i) const {
  std::string path = Targets[i];
  if (Layout == TLayout::Mbox) {
    // In tree order a folder's first child comes right after it.
    const bool hasChildren = i + 1 < Tree.Folders.size() && Tree.Folders[i + 1].Parent == static_cast<std::int32_t>(i);
    if (!hasChildren) return;
    path += kSubfolders;
  }
  std::error_code made, ec;
  const fs::path folder = PathFromUtf8(path);
  if (!fs::create_directory(folder, made) && !fs::is_directory(fs::symlink_status(folder, ec)))
    throw made ? EFCreateError(path, made) : EFCreateError(path);
}

TFolderPlan PlanStoreFolder(const std::string& storeDir, const std::string& outDir, TLayout layout) {
  TFolderPlan plan;
  plan.Layout = layout;
  plan.Tree = ReadTree(storeDir);
  const std::string prefix = PrepareFolder(outDir);
  struct TSiblings {
    std::unordered_set<std::string> Keys;
    std::unordered_map<std::string, int> NextVariant; // many names alike cost one try each
  };
  std::unordered_map<std::string, TSiblings> taken; // per directory
  for (std::size_t i = 0; i < plan.Tree.Folders.size(); ++i) {
    const TStoreFolderEntry& folder = plan.Tree.Folders[i];
    plan.TotalBytes += plan.StoreBytes(i);
    const std::string base =
        folder.Parent < 0 ? prefix
                          : plan.Targets[static_cast<std::size_t>(folder.Parent)] +
                                (layout == TLayout::Mbox ? kSubfolders : "") + "/";
    auto [names, fresh] = taken.try_emplace(base);
    TSiblings& siblings = names->second;
    if (fresh && layout == TLayout::Recover) siblings.Keys.insert(kRemovedFolder);
    const std::string safe = FolderFileName(folder.Name);
    int& variant = siblings.NextVariant.try_emplace(FolderNameKey(safe), 1).first->second;
    std::string name = variant == 1 ? safe : safe + " (" + std::to_string(variant) + ")";
    for (;;) {
      const std::string key = FolderNameKey(name);
      const bool free = layout == TLayout::Mbox
                            ? !siblings.Keys.contains(key) && !siblings.Keys.contains(key + kSubfolders) &&
                                  Absent(base + name) && FreeForDirectory(base + name + kSubfolders)
                            : !siblings.Keys.contains(key) && FreeForDirectory(base + name);
      ++variant;
      if (free) {
        siblings.Keys.insert(key);
        if (layout == TLayout::Mbox) siblings.Keys.insert(key + kSubfolders);
        break;
      }
      name = safe + " (" + std::to_string(variant) + ")";
    }
    if (name != safe) ReportError(plan.Label(i) + "written as " + base + name + " (the name was taken)");
    plan.Targets.push_back(base + name);
  }
  return plan;
}



} // namespace postvue::cli
