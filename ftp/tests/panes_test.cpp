// The panes' entry lists without a window: the order of a local directory,
// selection with Ctrl and Shift and its byte total, and hit-testing points
// against the column layout.
#include "ftpcore.h"
#include "peer_server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::vector<std::string> Names(int pane) {
  std::vector<std::string> names;
  for (const ENTRY_NODE &e : g_Panes[pane].entries)
    if (e.name != "." && e.name != "..") names.push_back(e.name);
  return names;
}

TEST(PaneLists, LocalNamesKeepTheirCaseDirectoriesFirstThenByteOrder) {
  qxtest::TempDir dir;
  for (const char *name : {"B", "a", "C"}) std::ofstream(dir.path() + "/" + name) << name;
  std::filesystem::create_directory(dir.path() + "/Dir");
  g_Panes[0] = FTP_PANE();
  g_Panes[0].kind = kPaneLocal;
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  QueryDirectory(0);
  RefreshPane(0);
  EXPECT_EQ(Names(0), (std::vector<std::string>{"Dir", "B", "C", "a"}));
  ASSERT_TRUE(SetCurrentDirectoryA("/"));
  g_Panes[0] = FTP_PANE();
}

class Selection : public ::testing::Test {
 protected:
  void SetUp() override {
    g_SelectionTotal = 0;
    for (int pane = 0; pane < 2; ++pane) {
      g_Panes[pane] = FTP_PANE();
      g_Panes[pane].kind = kPaneLocal;
      g_Anchor[pane] = -1;
      for (int i = 0; i < 12; ++i)
        g_Panes[pane].entries.push_back({0, static_cast<uint64_t>(1) << i, "e" + std::to_string(i)});
    }
  }
  void TearDown() override {
    g_Panes[0] = FTP_PANE();
    g_Panes[1] = FTP_PANE();
  }
  static std::vector<int> Marked(int pane) {
    std::vector<int> marked;
    for (size_t i = 0; i < g_Panes[pane].entries.size(); ++i)
      if (g_Panes[pane].entries[i].flags & kEntrySelected) marked.push_back(static_cast<int>(i));
    return marked;
  }
};

TEST_F(Selection, ClicksCtrlAndShiftWithTheirTotals) {
  EXPECT_EQ(SelectEntry(0, 10, false, false), "1024 bytes : e10");
  EXPECT_EQ(SelectEntry(0, 3, false, true), "Size of selected files 2040 bytes.");  // 3..10
  EXPECT_EQ(Marked(0), (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10}));
  // Ctrl adds one; Ctrl-Shift then counts only the newly marked entries.
  SelectEntry(0, 0, true, false);
  EXPECT_EQ(g_SelectionTotal, 2041u);
  SelectEntry(0, 4, true, true);  // 0..4: 1, 2 are new
  EXPECT_EQ(g_SelectionTotal, 2047u);
  // Ctrl on a marked entry removes it.
  SelectEntry(0, 4, true, false);
  EXPECT_EQ(g_SelectionTotal, 2047u - 16);
  // A plain click clears the rest; one in the other pane clears this pane.
  EXPECT_EQ(SelectEntry(0, 11, false, false), "2048 bytes : e11");
  EXPECT_EQ(Marked(0), std::vector<int>{11});
  SelectEntry(1, 0, false, false);
  EXPECT_TRUE(Marked(0).empty());
  EXPECT_EQ(g_SelectionTotal, 1u);
  EXPECT_EQ(SourcePane(), 1);
  // Below the last entry: nothing is selected.
  EXPECT_EQ(SelectEntry(1, -1, false, false), "");
  EXPECT_TRUE(Marked(1).empty());
  EXPECT_EQ(SourcePane(), -1);
}

TEST(PaneLayout, HitTest) {
  // Rows of 18 pixels below an empty band of one row; 5 rows a column;
  // columns of 60 + 18 pixels; the view starts at column 1; 12 entries.
  struct Case {
    int x, y, entry;
  } cases[] = {
      {5, 17, -1},                 // the top band
      {5, 18, 5},                  // first visible column, row 0 = entry 1 x 5 + 0
      {5, 107, 9},                 // row 4
      {5, 108, -1},                // past the last row
      {80, 18, 10},                // second visible column
      {80, 36, 11}, {80, 54, -1},  // below the last entry of the column
      {-3, 20, -1},
  };
  for (const Case &c : cases) EXPECT_EQ(HitTestEntry(c.x, c.y, 18, 5, 60, 1, 12), c.entry) << c.x << "," << c.y;
}

}  // namespace
