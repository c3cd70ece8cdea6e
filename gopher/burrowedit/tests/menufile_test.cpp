// The menu file and the editor's display rows without a window: lines to rows
// and back, the document's row operations, and files of every kind of line
// end opened and saved again byte for byte.
#include "menufile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "itemtypes.h"

namespace {

struct Recorded {
  std::vector<int> messages;
  LineProblem Sink() {
    return [this](int m) { messages.push_back(m); };
  }
};

TEST(TypeList, EditorOffersTheSharedTableInItsOrder) {
  const std::vector<std::string> expected = {"Text File[0]",
                                             "Directory[1]",
                                             "CSO name server[2]",
                                             "Mac HQX file[4]",
                                             "PC binary[5]",
                                             "Text Index (Gopher menu)[7]",
                                             "Telnet Session[8]",
                                             "Binary File[9]",
                                             "Sounds[s]",
                                             "Event (not in 2.06)[e]",
                                             "Image (other than GIF)[I]",
                                             "MIME multipart/mixed[M]",
                                             "TN3270 Session[T]",
                                             "Calendar (not in 2.06)[c]",
                                             "GIF image[g]",
                                             "HTML[h]",
                                             "Information line[i]"};
  EXPECT_EQ(EditorTypeDescriptions(), expected);
  // Every type the editor offers but 'e' and 'c' is one the client knows.
  for (const std::string &d : EditorTypeDescriptions()) {
    const char c = d[d.find('[') + 1];
    EXPECT_EQ(TypeIndexOf(static_cast<unsigned char>(c)) == kTypeUnknown, c == 'e' || c == 'c') << d;
  }
  std::string out;
  EXPECT_TRUE(LookupTypeDescription('1', out));
  EXPECT_EQ(out, "Directory[1]");
  EXPECT_FALSE(LookupTypeDescription('x', out));
  EXPECT_EQ(out, "UNKNOWN[x]");
}

TEST(LineToRow, TableOfLines) {
  struct Case {
    const char *line;
    const char *row;  // "" when refused
    int message;      // 0 when none
  };
  const Case cases[] = {
      {"1Docs\t1DEFAULT.GMN\th\t70", "Directory[1]\tDocs\tDEFAULT.GMN\th\t70", 0},
      // The selector's first character goes whatever it is.
      {"0About\t/about.txt\thost\t70", "Text File[0]\tAbout\tabout.txt\thost\t70", 0},
      {"xOdd\txsel\thost\t70", "UNKNOWN[x]\tOdd\tsel\thost\t70", 0},
      {"", "", 0},
      {"1234567", "", kMsgTooShort},
      {"1abc\td\te", "", kMsgTooShort},  // exactly 8 characters
      {"1abcdefgh", "", kMsgNeedsThreeTabs},
      {"1Docs\t1sel\thost\t70\textra", "", kMsgNeedsThreeTabs},
      // Adjacent TABs count as one; the second is then dropped with the
      // character after the first TAB, so the selector keeps its first
      // character.
      {"0Disp\t\tsel\thost\t70", "Text File[0]\tDisp\tsel\thost\t70", 0},
      // Three TABs in a row leave empty fields but still count two.
      {"1Docs\t\t\t70", "", kMsgNeedsThreeTabs},
      // A line that begins with a TAB has no type: four TABs, not an item
      // (its row began "UNKNOWN[<TAB>]", one field too many).
      {"\tDocs\t1sel\thost\t70", "", kMsgNeedsThreeTabs},
  };
  for (const Case &c : cases) {
    Recorded r;
    EXPECT_EQ(LineToRow(c.line, r.Sink()), c.row) << c.line;
    EXPECT_EQ(r.messages, c.message ? std::vector<int>{c.message} : std::vector<int>{}) << c.line;
  }
}

TEST(RowToLine, PutsTheTypeBackIntoTheSelector) {
  EXPECT_EQ(RowToLine("Directory[1]\tDocs\tDEFAULT.GMN\th\t70"), "1Docs\t1DEFAULT.GMN\th\t70\r\n");
  EXPECT_EQ(RowToLine("UNKNOWN[x]\tOdd\tsel\thost\t70"), "xOdd\txsel\thost\t70\r\n");
  EXPECT_EQ(RowToLine("Text Index (Gopher menu)[7]\tFind\tsearch\th\t70"), "7Find\t7search\th\t70\r\n");
  // Every offered type survives a trip through a row.
  for (const std::string &d : EditorTypeDescriptions()) {
    const std::string line = RowToLine(d + "\tShown\tname\thost\t7070");
    EXPECT_EQ(LineToRow(line.substr(0, line.size() - 2), nullptr), d + "\tShown\tname\thost\t7070");
  }
}

TEST(Rows, SplitAndBuild) {
  const MenuItemFields f = SplitRow("Directory[1]\tDocs\tDEFAULT.GMN\th\t70\textra");
  EXPECT_EQ(f.type, "Directory[1]");
  EXPECT_EQ(f.display, "Docs");
  EXPECT_EQ(f.resource, "DEFAULT.GMN");
  EXPECT_EQ(f.host, "h");
  EXPECT_EQ(f.port, "70\textra");
  EXPECT_EQ(BuildRow(f), "Directory[1]\tDocs\tDEFAULT.GMN\th\t70\textra");
  const MenuItemFields short_ = SplitRow("Directory[1]\tDocs");
  EXPECT_EQ(short_.display, "Docs");
  EXPECT_TRUE(short_.resource.empty() && short_.host.empty() && short_.port.empty());
}

TEST(Rows, InsertSetDelete) {
  MenuRows m;
  for (const char *r : {"a[0]\t0", "a[0]\t1", "a[0]\t2", "a[0]\t3", "a[0]\t4", "a[0]\t5"})
    EXPECT_TRUE(m.SetItem(m.GetItemCount(), r));
  EXPECT_FALSE(m.SetItem(0, ""));
  // Deleting rows 1, 3 and 4 as the view does: index minus the rows already gone.
  const int selected[] = {1, 3, 4};
  for (int i = 0; i < 3; ++i) m.DeleteItem(selected[i] - i);
  ASSERT_EQ(m.GetItemCount(), 3);
  EXPECT_EQ(m.GetItem(0), "a[0]\t0");
  EXPECT_EQ(m.GetItem(1), "a[0]\t2");
  EXPECT_EQ(m.GetItem(2), "a[0]\t5");
  m.InsertItem(1, "b[1]\tnew");
  EXPECT_EQ(m.GetItem(1), "b[1]\tnew");
  EXPECT_EQ(m.GetItem(9), "");
}

// Files opened and saved with nothing edited come back byte for byte.
TEST(RoundTrip, UneditedFilesComeBackUnchanged) {
  const std::string longDisplay(20000, 'D');
  const std::string files[] = {
      "1Docs\t1DEFAULT.GMN\thost\t70\r\n0About\t0about.txt\thost\t70\r\n",                     // CR LF
      "1Docs\t1DEFAULT.GMN\thost\t70\n0About\t0about.txt\thost\t70\n",                         // LF
      "1Docs\t1DEFAULT.GMN\thost\t70\r0About\t0about.txt\thost\t70\r",                         // CR
      "1Docs\t1DEFAULT.GMN\thost\t70\n0About\t0about.txt\thost\t70\r\n9Bin\t9x.bin\th\t70\r",  // mixed
      "1Docs\t1DEFAULT.GMN\thost\t70\r\n\x1A",                                                 // Ctrl-Z at the end
      "1Docs\t1DEFAULT.GMN\thost\t70\x1A",
      "0" + longDisplay + "\t0long.txt\thost\t70\r\n",          // overlong line
      "0About\t/about.txt\thost\t70\r\n",                       // a selector not beginning with the type
      "1Docs\t\t\t70\r\n0About\t0about.txt\t\t70\r\n\r\n\r\n",  // empty fields and blank lines
      "iJust some words\r\nshort\r\n1Docs\t1D.GMN\th\t70",      // lines that are not items, no final line end
      "\r\n\r\n\r\n",
      "",
  };
  for (const std::string &file : files) {
    MenuRows m;
    m.Load(file, nullptr);
    EXPECT_EQ(m.Save(), file) << file.substr(0, 80);
  }
}

TEST(RoundTrip, LineEndsAndWhatLoads) {
  struct Case {
    std::string file;
    int rows;
    std::vector<int> messages;
  };
  const Case cases[] = {
      {"1Docs\t1DEFAULT.GMN\thost\t70\n0About\t0about.txt\thost\t70\n", 2, {}},
      {"1Docs\t1DEFAULT.GMN\thost\t70\r\n0About\t0about.txt\thost\t70", 2, {}},
      {"\r\n\r\n\r\n", 0, {}},
      {"1Docs\t1DEFAULT.GMN\thost\t70\r\n\x1A", 1, {}},
      {"short\r\n1Docs\t1D.GMN\th\t70\r\n1abcdefghijk\r\n", 1, {kMsgTooShort, kMsgNeedsThreeTabs}},
  };
  for (const Case &c : cases) {
    Recorded r;
    MenuRows m;
    m.Load(c.file, r.Sink());
    EXPECT_EQ(m.GetItemCount(), c.rows) << c.file;
    EXPECT_EQ(r.messages, c.messages) << c.file;
  }
}

// Edited rows are written in the menu form; what was not edited, and lines
// that are not items, keep their bytes and their place.
TEST(RoundTrip, EditsKeepEverythingElse) {
  MenuRows m;
  m.Load("comment line\n0About\t/about.txt\thost\t70\n1Docs\t1D.GMN\th\t70", nullptr);
  ASSERT_EQ(m.GetItemCount(), 2);
  m.SetItem(1, "Directory[1]\tDocuments\tD.GMN\th\t70");
  m.SetItem(m.GetItemCount(), "HTML[h]\tWeb\tURL:x\th\t70");
  EXPECT_EQ(m.Save(),
            "comment line\n0About\t/about.txt\thost\t70\n1Documents\t1D.GMN\th\t70\r\nhWeb\thURL:x\th\t70\r\n");
  // Setting a row to its own text keeps its bytes.
  m.SetItem(0, m.GetItem(0));
  // Deleting the first row keeps the comment ahead of what follows.
  m.DeleteItem(0);
  EXPECT_EQ(m.Save(), "comment line\n1Documents\t1D.GMN\th\t70\r\nhWeb\thURL:x\th\t70\r\n");
  // A row added behind a last line without a line end starts a line of its own.
  MenuRows n;
  n.Load("1Docs\t1D.GMN\th\t70\x1A", nullptr);
  n.SetItem(1, "Text File[0]\tNew\tnew.txt\th\t70");
  EXPECT_EQ(n.Save(), "1Docs\t1D.GMN\th\t70\r\n0New\t0new.txt\th\t70\r\n\x1A");
}

TEST(Lines, SplitKeepsEachEnd) {
  const TextLines t = SplitLines("a\r\nb\nc\rd");
  EXPECT_EQ(t.lines, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(t.ends, (std::vector<std::string>{"\r\n", "\n", "\r", ""}));
  EXPECT_TRUE(SplitLines("").lines.empty());
}

}  // namespace
