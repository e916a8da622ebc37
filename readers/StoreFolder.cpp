#include "StoreFolder.h"

#include "ByteCursor.h"
#include "Charset.h"
#include "DbxReader.h"
#include "Exceptions.h"
#include "FileStream.h"
#include "TextLines.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace postvue {

namespace {
constexpr std::size_t kMaxText = 255;

const char* const kNotAFolderList = "File is not an Outlook Express 5 folder list.";
const char* const kFolderListName = "folders.dbx"; // letter case ignored, as Windows does
const char* const kDbxExtension = ".dbx";
const char* const kMbxExtension = ".mbx";

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Stem(std::string_view fileName) { return std::string(fileName.substr(0, fileName.rfind('.'))); }

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// A .dbx of another DatabaseKind (the offline store, the POP3 list) holds no
// messages. A file too short for a header, or with another magic, is taken
// as a damaged message store: reading it then says what is wrong with it.
bool IsOtherDatabase(const TFileSource& files, const std::string& path) {
  try {
    const std::unique_ptr<TFileStream> stream = files.Open(path, TShareMode::DenyNone);
    std::uint8_t bytes[8];
    stream->ReadAt(0, bytes, sizeof bytes);
    const dbx::TFileHeader header = dbx::DecodeFileHeader(bytes).Value; // the two fields the bytes reach
    return header.Magic == dbx::kMagic && header.DatabaseKind != dbx::kDatabaseKindMessages;
  } catch (const Exception&) {
    return false; // see above: reading it as a store reports the failure
  }
}

// A stored file name that could name anything but a file in the store
// folder itself (a path, a drive, "." or "..").
bool LeavesTheFolder(std::string_view name) {
  return name.find_first_of("/\\:") != std::string_view::npos || name == "." || name == "..";
}

struct TFile {
  std::string Name, Path;
  bool Store = false; // a message store (.dbx of messages, or .mbx)
  bool Mbx = false;
  bool Claimed = false;
};

struct TNode {
  std::string Name;
  std::int32_t File = -1;
  std::int32_t Parent = -1;
};

class TBuilder {
public:
  TBuilder(const std::string& dir, const TFileSource& files) : Dir(dir), Source(files) {}

  TStoreFolder Build() {
    ListFiles();
    std::vector<TFolderRecord> records;
    bool listed = false;
    if (const auto list = Lookup(kFolderListName); list >= 0) {
      try {
        records = ReadFolderList(Files[static_cast<std::size_t>(list)].Path, Source);
        listed = true;
      } catch (const Exception& e) {
        Note(Files[static_cast<std::size_t>(list)].Name + " cannot be read (" + ErrorBoxText(e.message()) +
             "): every message store is at the top level, under its own name");
      }
    } else if (std::any_of(Files.begin(), Files.end(), [](const TFile& f) { return f.Store && !f.Mbx; })) {
      Note("there is no Folders.dbx: every message store is at the top level, under its own name");
    }
    AddRecords(records);
    BreakLoops();
    AddUnlisted(listed);
    Place();
    return std::move(Result);
  }

private:
  void Note(std::string text) { Result.Notes.push_back(std::move(text)); }

  void ListFiles() {
    for (TFolderFile& listed : Source.List(Dir)) {
      TFile file;
      file.Name = std::move(listed.Name);
      file.Path = std::move(listed.Path);
      Files.push_back(std::move(file));
    }
    std::sort(Files.begin(), Files.end(), [](const TFile& a, const TFile& b) {
      const std::string la = FolderNameKey(a.Name), lb = FolderNameKey(b.Name);
      return la != lb ? la < lb : a.Name < b.Name;
    });
    for (std::size_t i = 0; i < Files.size(); ++i) {
      TFile& file = Files[i];
      const std::string lower = FolderNameKey(file.Name);
      ByLowerName.emplace(lower, static_cast<std::int32_t>(i)); // two names that differ in case: the first
      if (EndsWith(lower, kMbxExtension)) {
        file.Store = file.Mbx = true;
      } else if (EndsWith(lower, kDbxExtension) && lower != kFolderListName) {
        file.Store = !IsOtherDatabase(Source, file.Path);
        if (!file.Store) Note(file.Name + " is not a message store: skipped");
      }
    }
  }

  std::int32_t Lookup(const std::string& name) const {
    for (std::size_t i = 0; i < Files.size(); ++i)
      if (Files[i].Name == name) return static_cast<std::int32_t>(i);
    const auto found = ByLowerName.find(FolderNameKey(name));
    return found == ByLowerName.end() ? -1 : found->second;
  }

  // The record's file, when it names one the folder holds that is a message
  // store no other folder took; else -1, with a note why.
  std::int32_t FileOf(const TFolderRecord& record, const std::string& name) {
    if (record.StoreFile.empty()) return -1;
    const std::string stored = Windows1252ToUtf8(record.StoreFile);
    const std::string what = "folder " + Quoted(name) + ": its file " + Quoted(stored);
    if (LeavesTheFolder(record.StoreFile)) {
      Note(what + " is not in the store folder: left without a file");
      return -1;
    }
    std::int32_t file = Lookup(record.StoreFile); // names copied to another system may be UTF-8 now
    if (file < 0) file = Lookup(stored);
    if (file < 0) {
      Note(what + " is missing: left without a file");
      return -1;
    }
    TFile& f = Files[static_cast<std::size_t>(file)];
    if (!f.Store) {
      Note(what + " is not a message store: left without a file");
      return -1;
    }
    if (f.Claimed) {
      Note(what + " belongs to another folder already: left without a file");
      return -1;
    }
    f.Claimed = true;
    return file;
  }

  void AddRecords(const std::vector<TFolderRecord>& records) {
    std::unordered_map<std::uint32_t, std::int32_t> byId; // the first of records with one id
    for (std::size_t i = 0; i < records.size(); ++i) byId.emplace(records[i].Id, static_cast<std::int32_t>(i));
    for (const TFolderRecord& record : records) {
      TNode node;
      node.Name = Windows1252ToUtf8(record.Name);
      if (node.Name.empty())
        node.Name = record.StoreFile.empty() ? "Folder " + std::to_string(record.Id)
                                             : Stem(Windows1252ToUtf8(record.StoreFile));
      node.File = FileOf(record, node.Name);
      const auto parent = byId.find(record.ParentId);
      const auto self = static_cast<std::int32_t>(Nodes.size());
      if (parent == byId.end()) {
        // Parent 0 with no record of id 0 is the top; any other id should be there.
        if (record.ParentId != 0)
          Note("folder " + Quoted(node.Name) + ": its parent (id " + std::to_string(record.ParentId) +
               ") is not in the folder list: moved to the top level");
      } else if (parent->second == self && record.Id == 0) {
        // The top record of the list: it has neither id nor parent.
      } else {
        node.Parent = parent->second; // a folder that is its own parent is a loop of one
      }
      Nodes.push_back(std::move(node));
    }
  }

  // A walk up from each folder that comes back onto itself found a loop:
  // the link that closes it is cut, so that folder goes to the top level
  // and the others of the loop stay below it. Each folder is walked once.
  void BreakLoops() {
    enum : std::uint8_t { kNew, kOnWalk, kDone };
    std::vector<std::uint8_t> state(Nodes.size(), kNew);
    std::vector<std::int32_t> walk;
    for (std::size_t i = 0; i < Nodes.size(); ++i) {
      walk.clear();
      std::int32_t at = static_cast<std::int32_t>(i);
      while (at >= 0 && state[static_cast<std::size_t>(at)] == kNew) {
        state[static_cast<std::size_t>(at)] = kOnWalk;
        walk.push_back(at);
        at = Nodes[static_cast<std::size_t>(at)].Parent;
      }
      if (at >= 0 && state[static_cast<std::size_t>(at)] == kOnWalk) {
        TNode& closing = Nodes[static_cast<std::size_t>(walk.back())];
        closing.Parent = -1;
        Note("folder " + Quoted(closing.Name) + ": its chain of parents loops: moved to the top level");
      }
      for (const std::int32_t n : walk) state[static_cast<std::size_t>(n)] = kDone;
    }
  }

  // The message stores no folder took, at the top level: a .dbx under the
  // name it keeps itself, else its file name; an .mbx under its file name.
  void AddUnlisted(bool listed) {
    for (std::size_t i = 0; i < Files.size(); ++i) {
      TFile& file = Files[i];
      if (!file.Store || file.Claimed) continue;
      file.Claimed = true;
      TNode node;
      node.File = static_cast<std::int32_t>(i);
      if (!file.Mbx) {
        TDBXReader reader;
        reader.UseFiles(Source);
        try {
          reader.SetFileName(file.Path);
        } catch (const Exception&) {
          // The name may still have been read; the store's own failure is
          // reported when its messages are read.
        }
        node.Name = Windows1252ToUtf8(reader.GetFolderName());
      }
      if (node.Name.empty()) node.Name = Stem(file.Name);
      if (listed && !file.Mbx) Note(file.Name + " is not in Folders.dbx: at the top level as " + Quoted(node.Name));
      Nodes.push_back(std::move(node));
    }
  }

  // Depth first from the top-level folders, in order; a folder nested too
  // deep starts again at the top level, after the others.
  void Place() {
    std::vector<std::vector<std::int32_t>> children(Nodes.size());
    std::vector<std::int32_t> tops;
    for (std::size_t i = 0; i < Nodes.size(); ++i) {
      const std::int32_t parent = Nodes[i].Parent;
      (parent < 0 ? tops : children[static_cast<std::size_t>(parent)]).push_back(static_cast<std::int32_t>(i));
    }
    std::unordered_map<std::int32_t, TSiblings> taken; // per parent
    std::vector<std::pair<std::int32_t, std::int32_t>> stack;                 // node, parent in Folders
    for (std::size_t t = 0; t < tops.size(); ++t) {
      stack.assign(1, {tops[t], -1});
      while (!stack.empty()) {
        const auto [n, parent] = stack.back();
        stack.pop_back();
        const TNode& node = Nodes[static_cast<std::size_t>(n)];
        const std::uint32_t depth = parent < 0 ? 0 : Result.Folders[static_cast<std::size_t>(parent)].Depth + 1;
        if (depth > kMaxFolderDepth) {
          Note("folder " + Quoted(node.Name) + ": nested more than " + std::to_string(kMaxFolderDepth) +
               " deep: moved to the top level");
          tops.push_back(n);
          continue;
        }
        TStoreFolderEntry entry;
        entry.Name = FreeName(taken[parent], node.Name);
        entry.Parent = parent;
        entry.Depth = depth;
        if (node.File >= 0) {
          entry.StoreFile = Files[static_cast<std::size_t>(node.File)].Name;
          entry.StorePath = Files[static_cast<std::size_t>(node.File)].Path;
        }
        const auto at = static_cast<std::int32_t>(Result.Folders.size());
        Result.Folders.push_back(std::move(entry));
        const auto& kids = children[static_cast<std::size_t>(n)];
        for (auto k = kids.rbegin(); k != kids.rend(); ++k) stack.emplace_back(*k, at);
      }
    }
  }

  struct TSiblings {
    std::unordered_set<std::string> Keys;
    // The variant to try next for a name: a list of many alike costs no more
    // than one try each.
    std::unordered_map<std::string, unsigned> NextVariant;
  };

  // name, or the first of "name (2)", "name (3)", ... that no sibling has.
  std::string FreeName(TSiblings& siblings, const std::string& name) {
    std::string free = name;
    if (!siblings.Keys.insert(FolderNameKey(name)).second) {
      unsigned& n = siblings.NextVariant.try_emplace(FolderNameKey(name), 2).first->second;
      do free = name + " (" + std::to_string(n++) + ")";
      while (!siblings.Keys.insert(FolderNameKey(free)).second);
    }
    if (free != name)
      Note("folder " + Quoted(name) + ": another folder beside it has this name: named " + Quoted(free));
    return free;
  }

  const std::string Dir;
  const TFileSource& Source;
  std::vector<TFile> Files; // by name
  std::unordered_map<std::string, std::int32_t> ByLowerName;
  std::vector<TNode> Nodes; // the folder list's records in order, then the stores it leaves out
  TStoreFolder Result;
};
} // namespace

std::vector<TFolderRecord> ReadFolderList(const std::string& fileName, const TFileSource& files) {
  const std::unique_ptr<TFileStream> opened = files.Open(fileName, TShareMode::DenyNone);
  TFileStream& stream = *opened;
  const std::vector<std::uint32_t> offsets = ReadDbxIndex(stream, dbx::kDatabaseKindFolders, kNotAFolderList);
  std::vector<TFolderRecord> records;
  records.reserve(offsets.size());
  TReadBudget budget(stream.Size());
  std::vector<std::uint8_t> body;
  for (const std::uint32_t offset : offsets) {
    dbx::TProperties properties = ReadDbxObject(stream, offset, body, budget);
    TFolderRecord& record = records.emplace_back();
    for (unsigned i = 0; i < properties.Count(); ++i) {
      std::uint8_t id = 0;
      std::uint32_t v = 0;
      if (!properties.Entry(i, id, v)) continue; // skipped, as in a message-info object
      std::string_view text;
      switch (id) {
      case dbx::kPropertyFolderId: record.Id = v; break;
      case dbx::kPropertyFolderParent: record.ParentId = v; break;
      case dbx::kPropertyFolderName:
        if (properties.String(v, kMaxText, text)) record.Name = text;
        break;
      case dbx::kPropertyFolderFile:
        if (properties.String(v, kMaxText, text)) record.StoreFile = text;
        break;
      default: break; // flags, kinds and accounts: not needed for the tree
      }
    }
  }
  return records;
}

std::string FolderNameKey(std::string_view name) { return AsciiLowerCase(name); }

TStoreFolder ReadStoreFolder(const std::string& dir, const TFileSource& files) { return TBuilder(dir, files).Build(); }

} // namespace postvue
