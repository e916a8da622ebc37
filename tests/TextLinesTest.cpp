#include "FilePaths.h"
#include "TextLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace postvue;

namespace {

struct TSplitCase {
  const char* Name;
  std::string Text;
  std::vector<std::string> Lines;
};

class SplitLinesTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitLinesTest, Lines) {
  const auto& c = GetParam();
  std::vector<std::string> lines;
  for (std::string_view line : SplitLines(c.Text)) lines.emplace_back(line);
  EXPECT_EQ(lines, c.Lines);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Breaks, SplitLinesTest,
    ::testing::Values(
        TSplitCase{"CrLf", "a\r\nb\r\nc", {"a", "b", "c"}},
        TSplitCase{"LoneCr", "a\rb\rc", {"a", "b", "c"}},
        TSplitCase{"LoneLf", "a\nb\nc", {"a", "b", "c"}},
        TSplitCase{"Mixed", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        TSplitCase{"LfCrIsTwoBreaks", "a\n\rb", {"a", "", "b"}},
        TSplitCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
        TSplitCase{"TrailingCrLf", "a\r\nb\r\n", {"a", "b"}},
        TSplitCase{"TrailingLoneCr", "a\r", {"a"}},
        TSplitCase{"TrailingLoneLf", "a\n", {"a"}},
        TSplitCase{"BlankLines", "a\r\n\r\n\r\nb", {"a", "", "", "b"}},
        TSplitCase{"OnlyABreak", "\r\n", {""}},
        TSplitCase{"Empty", "", {}},
        TSplitCase{"NoBreak", "just one", {"just one"}},
        TSplitCase{"ZeroEndsText", "a\r\nb\0c\r\nd"s, {"a", "b"}},
        TSplitCase{"ZeroRightAfterBreak", "a\r\n\0b"s, {"a"}},
        TSplitCase{"ZeroFirst", "\0a\r\nb"s, {}},
        TSplitCase{"CrBeforeZero", "a\r\0\nb"s, {"a"}}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TPathCase {
  const char* Name;
  std::string Path;
  std::string FileName, FileTitle, IdxPath;
};

class FilePartsTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(FilePartsTest, Parts) {
  const auto& c = GetParam();
  EXPECT_EQ(ExtractFileName(c.Path), c.FileName);
  EXPECT_EQ(ExtractFileTitle(c.Path), c.FileTitle);
  EXPECT_EQ(ChangeFileExt(c.Path, ".idx"), c.IdxPath);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FilePartsTest,
    ::testing::Values(TPathCase{"Plain", "/mail/Inbox.mbx", "Inbox.mbx", "Inbox", "/mail/Inbox.idx"},
                      TPathCase{"NoFolder", "Inbox.mbx", "Inbox.mbx", "Inbox", "Inbox.idx"},
                      TPathCase{"NoExtension", "/mail/Inbox", "Inbox", "Inbox", "/mail/Inbox.idx"},
                      TPathCase{"DotInFolder", "/my.mail/v1.2/Inbox", "Inbox", "Inbox", "/my.mail/v1.2/Inbox.idx"},
                      TPathCase{"DotsInName", "/my.mail/Inbox.old.mbx", "Inbox.old.mbx", "Inbox.old",
                                "/my.mail/Inbox.old.idx"},
                      TPathCase{"TrailingDot", "/mail/Inbox.", "Inbox.", "Inbox", "/mail/Inbox.idx"},
                      TPathCase{"FolderOnly", "/mail/", "", "", "/mail/.idx"}),
    [](const auto& info) { return std::string(info.param.Name); });

#ifdef _WIN32
TEST(FileParts, WindowsDelimiters) {
  EXPECT_EQ(ExtractFileTitle("C:\\Mail\\Inbox.mbx"), "Inbox");
  EXPECT_EQ(ExtractFileTitle("C:Inbox.mbx"), "Inbox");
  EXPECT_EQ(ChangeFileExt("C:\\my.mail\\Inbox", ".idx"), "C:\\my.mail\\Inbox.idx");
}
#endif

} // namespace
