// The window core on a platform that only writes down what it is asked to
// do: the order of a load's steps and its closing steps on every way out,
// View and Save of the selected row, without any widget.
#include "StoreWriter.h"
#include "TestSupport.h"
#include "ViewerCore.h"

#include <vector>

using namespace postvue;
using namespace postvue::testing;

namespace {

class TFakeViewer : public TViewerCore {
public:
  std::vector<std::string> Steps;
  std::string Selected;   // the selected row's "#" text
  std::string SavePath;   // what the save dialog answers
  std::vector<std::string> Shown, Errors;

  void Load(const std::string& path) {
    RunGuarded([&] { LoadStore(path); });
  }
  void View() {
    RunGuarded([&] { ViewSelected(); });
  }
  void Save() {
    RunGuarded([&] { SaveSelected(); });
  }

protected:
  void ShowWaitCursor() override { Steps.push_back("wait cursor"); }
  void RestoreCursor() override { Steps.push_back("restore cursor"); }
  void BeginRows() override { Steps.push_back("begin rows"); }
  void AddRows(TMailbaseReader& reader, std::int32_t count, const TLocaleFormat&) override {
    std::string row = "rows:";
    TMessageRecord record;
    for (std::int32_t i = 0; i < count; ++i) {
      reader.GetMessage(i, record);
      row += ' ' + record.Subject.Str();
    }
    Steps.push_back(row);
  }
  void EndRows() override { Steps.push_back("end rows"); }
  void SetPanel(int panel, const std::string& text) override {
    Steps.push_back("panel " + std::to_string(panel) + ": " + text);
  }
  void RepaintNow() override { Steps.push_back("repaint"); }
  void SetCaption(const std::string& text) override { Steps.push_back("caption: " + text); }
  TLocaleFormat UserFormat() override { return {}; }
  std::string SelectedNumberText() override { return Selected; }
  std::string AskSavePath() override {
    Steps.push_back("save dialog");
    return SavePath;
  }
  void ShowMessageText(const std::string& text) override { Shown.push_back(text); }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
};

class ViewerCore : public ::testing::Test {
protected:
  TTempDir Dir;
  std::string Store() {
    TTestMessage first, second;
    first.Subject = "first";
    first.Text = "Subject: first\r\n\r\none";
    second.Subject = "second";
    second.Text = "Subject: second\nFrom: x\n\ntwo\nlines";
    TDbxOptions options;
    options.FolderName = "Kept";
    MakeDbx({first, second}, options).WriteFile(Dir / "store.dbx");
    return Dir / "store.dbx";
  }
};

TEST_F(ViewerCore, LoadShowsTheStoreInItsSteps) {
  TFakeViewer viewer;
  const std::string path = Store();
  viewer.Load(path);
  EXPECT_EQ(viewer.Errors, std::vector<std::string>{});
  const std::vector<std::string> expected = {"wait cursor",     "begin rows",           "panel 0: Loading...",
                                             "repaint",         "rows: first second",   "caption: Postvue - [Kept]",
                                             "panel 0: Count: 2", "panel 1: " + path,   "end rows",
                                             "restore cursor"};
  EXPECT_EQ(viewer.Steps, expected);
}

// However a load fails, the rows' bracket closes and the cursor comes back;
// without a reader the window shows no store, with one it names it.
TEST_F(ViewerCore, FailedLoadRunsItsClosingSteps) {
  TFakeViewer viewer;
  viewer.Load(Store());
  const std::string other = Dir / "notes.txt";
  WriteFileBytes(other, "just some text");
  viewer.Steps.clear();
  viewer.Load(other);
  EXPECT_EQ(viewer.Errors, std::vector<std::string>{"File is not in supported format."});
  EXPECT_EQ(viewer.CurrentReader(), nullptr);
  const std::vector<std::string> noStore = {"wait cursor", "begin rows",  "panel 0: Loading...", "repaint",
                                            "caption: Postvue", "panel 0: ", "panel 1: ",       "end rows",
                                            "restore cursor"};
  EXPECT_EQ(viewer.Steps, noStore);

  TDbxImage image = MakeDbx({}, TDbxOptions{"Empty", 51, 512});
  image.WriteFile(Dir / "empty.dbx");
  viewer.Steps.clear();
  viewer.Errors.clear();
  viewer.Load(Dir / "empty.dbx");
  ASSERT_EQ(viewer.Errors.size(), 1u);
  EXPECT_NE(viewer.CurrentReader(), nullptr); // the reader that refused its store stays
  const std::vector<std::string> refused = {"wait cursor", "begin rows", "panel 0: Loading...", "repaint",
                                            "caption: Postvue - []", "panel 0: Count: 0",
                                            "panel 1: " + Dir / "empty.dbx", "end rows", "restore cursor"};
  EXPECT_EQ(viewer.Steps, refused);
}

TEST_F(ViewerCore, ViewAndSaveTheSelectedRow) {
  TFakeViewer viewer;
  viewer.Load(Store());
  viewer.View(); // no row selected: nothing happens
  EXPECT_TRUE(viewer.Shown.empty());
  viewer.Selected = "1";
  viewer.View();
  EXPECT_EQ(viewer.Shown, std::vector<std::string>{"Subject: second\nFrom: x\n\ntwo\nlines"});

  viewer.Steps.clear();
  viewer.Save(); // the dialog cancelled: nothing written, nothing changed
  EXPECT_EQ(viewer.Steps, std::vector<std::string>{"save dialog"});

  viewer.Steps.clear();
  viewer.SavePath = Dir / "saved.eml";
  viewer.Save();
  EXPECT_EQ(viewer.Errors, std::vector<std::string>{});
  EXPECT_EQ(ReadFileBytes(Dir / "saved.eml"), "Subject: second\r\nFrom: x\r\n\r\ntwo\r\nlines\r\n");
  const std::vector<std::string> saved = {"save dialog", "panel 0: Saving...", "repaint", "wait cursor",
                                          "panel 0: Count: 2", "restore cursor"};
  EXPECT_EQ(viewer.Steps, saved);

  viewer.Steps.clear();
  viewer.SavePath = Dir / "no such folder/saved.eml";
  viewer.Save(); // a failed save still restores the cursor and the count
  ASSERT_EQ(viewer.Errors.size(), 1u);
  EXPECT_EQ(viewer.Steps, saved);
}

} // namespace
