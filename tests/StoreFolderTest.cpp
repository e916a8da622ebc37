// Reading the folder tree of a store folder, sound and damaged.
#include "StoreFolder.h"
#include "StoreWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace postvue;
using namespace postvue::testing;

namespace {

void WriteStore(const std::string& path, const std::string& ownName, std::size_t messages = 1) {
  std::vector<TTestMessage> list(messages);
  for (std::size_t i = 0; i < messages; ++i) {
    list[i].Subject = "Subject " + std::to_string(i);
    list[i].Text = "Subject: " + list[i].Subject + "\r\n\r\nBody\r\n";
  }
  TDbxOptions options;
  options.FolderName = ownName;
  MakeDbx(list, options).WriteFile(path);
}

// "name<TAB>file" per folder, indented two spaces a level.
std::string Shape(const TStoreFolder& tree) {
  std::string out;
  for (const auto& f : tree.Folders) {
    EXPECT_EQ(f.Depth, f.Parent < 0 ? 0u : tree.Folders[static_cast<std::size_t>(f.Parent)].Depth + 1);
    out += std::string(2 * f.Depth, ' ') + f.Name + "\t" + f.StoreFile + "\n";
  }
  return out;
}

bool HasNote(const TStoreFolder& tree, const std::string& part) {
  for (const auto& note : tree.Notes)
    if (note.find(part) != std::string::npos) return true;
  return false;
}

TEST(StoreFolder, FolderListGivesNestingNamesAndFiles) {
  TTempDir dir;
  // The store keeps its first name; the list's name (after a rename) wins.
  WriteStore(dir / "Inbox.dbx", "Inbox");
  WriteStore(dir / "Work.dbx", "Old name");
  WriteStore(dir / "Stray.dbx", "Found again");
  TDbxImage offline;
  offline.SetKind(0x26FE9D30);
  offline.WriteFile(dir / "Offline.dbx");
  MakeFolderList({{0, 0, "Outlook Express", ""},
                  {1, 0, "Local Folders", ""},
                  {4, 1, "Inbox", "Inbox.dbx"},
                  {5, 4, "Projects", "Work.dbx"},
                  {6, 1, "Drafts", ""}})
      .WriteFile(dir / "Folders.dbx");

  const TStoreFolder tree = ReadStoreFolder(dir.Path());
  EXPECT_EQ(Shape(tree), "Outlook Express\t\n"
                         "  Local Folders\t\n"
                         "    Inbox\tInbox.dbx\n"
                         "      Projects\tWork.dbx\n"
                         "    Drafts\t\n"
                         "Found again\tStray.dbx\n");
  EXPECT_EQ(tree.Folders[3].StorePath, (std::filesystem::path(dir.Path()) / "Work.dbx").string());
  EXPECT_TRUE(HasNote(tree, "Offline.dbx is not a message store"));
  EXPECT_TRUE(HasNote(tree, "Stray.dbx is not in Folders.dbx"));
}

// Without a usable list every message store still takes part, at the top
// level: under the name it keeps, else its file name.
class StoreFolderWithoutList : public ::testing::TestWithParam<const char*> {};

TEST_P(StoreFolderWithoutList, EveryStoreAtTheTop) {
  TTempDir dir;
  WriteStore(dir / "a.dbx", "Inbox");
  WriteStore(dir / "b.dbx", "", 0); // empty: the name is not even read
  MakeMbx({{"Subject: x\r\n\r\nBody\r\n"}}).WriteFile(dir / "Old Mail.mbx");
  if (std::string(GetParam()) == "damaged") {
    TDbxImage list = MakeFolderList({{1, 0, "Inbox", "a.dbx"}});
    list.U32(list.GetU32(0xE4), 0); // the index root's marker
    list.WriteFile(dir / "Folders.dbx");
  }

  const TStoreFolder tree = ReadStoreFolder(dir.Path());
  EXPECT_EQ(Shape(tree), "Inbox\ta.dbx\nb\tb.dbx\nOld Mail\tOld Mail.mbx\n");
  ASSERT_FALSE(tree.Notes.empty());
  EXPECT_NE(tree.Notes[0].find("every message store is at the top level"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(MissingOrDamaged, StoreFolderWithoutList, ::testing::Values("missing", "damaged"));

TEST(StoreFolder, LoopsAndLostParentsGoToTheTop) {
  TTempDir dir;
  std::vector<TTestFolder> folders = {{1, 2, "A", ""}, {2, 1, "B", ""}, {3, 3, "Self", ""}, {4, 99, "Orphan", ""}};
  // A chain deeper than paths should hold: the part beyond the limit starts again at the top.
  for (std::uint32_t i = 0; i <= kMaxFolderDepth + 1; ++i) folders.push_back({100 + i, i ? 99 + i : 0, "D", ""});
  MakeFolderList(folders).WriteFile(dir / "Folders.dbx");

  const TStoreFolder tree = ReadStoreFolder(dir.Path());
  std::string top;
  std::uint32_t deepest = 0;
  for (const auto& f : tree.Folders) {
    if (f.Parent < 0) top += f.Name + ",";
    deepest = std::max(deepest, f.Depth);
  }
  // The link that closes the loop is cut: B is found looping from A, and goes on top with A below it.
  EXPECT_EQ(top, "B,Self,Orphan,D,D (2),");
  EXPECT_EQ(tree.Folders[1].Name, "A");
  EXPECT_EQ(tree.Folders[1].Parent, 0);
  EXPECT_EQ(deepest, kMaxFolderDepth);
  EXPECT_TRUE(HasNote(tree, "folder \"B\": its chain of parents loops"));
  EXPECT_TRUE(HasNote(tree, "folder \"Self\": its chain of parents loops"));
  EXPECT_TRUE(HasNote(tree, "folder \"Orphan\": its parent (id 99) is not in the folder list"));
  EXPECT_TRUE(HasNote(tree, "nested more than 32 deep"));
}

TEST(StoreFolder, SameNamesBesideEachOtherGetFreeVariants) {
  TTempDir dir;
  MakeFolderList({{1, 0, "Inbox", ""}, {2, 0, "inbox", ""}, {3, 0, "Inbox (2)", ""}, {4, 1, "Inbox", ""}})
      .WriteFile(dir / "Folders.dbx");
  WriteStore(dir / "x.dbx", "Inbox"); // not in the list: at the top, beside them

  const TStoreFolder tree = ReadStoreFolder(dir.Path());
  EXPECT_EQ(Shape(tree), "Inbox\t\n  Inbox\t\ninbox (2)\t\nInbox (2) (2)\t\nInbox (3)\tx.dbx\n");
  EXPECT_TRUE(HasNote(tree, "folder \"inbox\": another folder beside it has this name: named \"inbox (2)\""));
}

TEST(StoreFolder, FilesOutsideTheFolderOrMissingAreNotRead) {
  TTempDir outer;
  const std::string dir = outer / "store";
  std::filesystem::create_directory(dir);
  WriteStore(outer / "x.dbx", "Outside"); // beside the store folder: must not be read
  WriteStore(outer / "store/Inbox.dbx", "Inbox");
  TDbxImage offline;
  offline.SetKind(0x26FE9D30);
  offline.WriteFile(outer / "store/Offline.dbx");
  MakeFolderList({{1, 0, "Up", "..\\x.dbx"},
                  {2, 0, "Slash", "../x.dbx"},
                  {3, 0, "Absolute", outer / "x.dbx"},
                  {4, 0, "Drive", "C:x.dbx"},
                  {5, 0, "Gone", "Gone.dbx"},
                  {6, 0, "Inbox", "INBOX.DBX"}, // names differ in case once copied off Windows
                  {7, 0, "Again", "Inbox.dbx"},
                  {8, 0, "Offline", "Offline.dbx"}})
      .WriteFile(outer / "store/Folders.dbx");

  const TStoreFolder tree = ReadStoreFolder(dir);
  EXPECT_EQ(Shape(tree), "Up\t\nSlash\t\nAbsolute\t\nDrive\t\nGone\t\nInbox\tInbox.dbx\nAgain\t\nOffline\t\n");
  EXPECT_TRUE(HasNote(tree, "folder \"Up\": its file \"..\\x.dbx\" is not in the store folder"));
  EXPECT_TRUE(HasNote(tree, "folder \"Absolute\": its file"));
  EXPECT_TRUE(HasNote(tree, "folder \"Gone\": its file \"Gone.dbx\" is missing"));
  EXPECT_TRUE(HasNote(tree, "folder \"Again\": its file \"Inbox.dbx\" belongs to another folder"));
  EXPECT_TRUE(HasNote(tree, "folder \"Offline\": its file \"Offline.dbx\" is not a message store"));
}

TEST(StoreFolder, RealStoreFolder) {
  const std::string dir = POSTVUE_REAL_STORES;
  if (!std::filesystem::exists(dir + "/Folders.dbx"))
    GTEST_SKIP() << "real store folder not present (needs ../shared): " << dir;
  const TStoreFolder tree = ReadStoreFolder(dir);
  // The folder also holds single stores from elsewhere; they come after the tree.
  const std::string shape = Shape(tree);
  EXPECT_EQ(shape.substr(0, shape.find("\n  Hotmail\t\n") + 12), "Outlook Express\t\n"
                                                                  "  Local Folders\t\n"
                                                                  "    Inbox\tInbox.dbx\n"
                                                                  "    Outbox\tOutbox.dbx\n"
                                                                  "    Sent Items\t\n"
                                                                  "    Deleted Items\t\n"
                                                                  "    Drafts\t\n"
                                                                  "  Hotmail\t\n");
  EXPECT_TRUE(HasNote(tree, "Offline.dbx is not a message store"));
}

} // namespace
