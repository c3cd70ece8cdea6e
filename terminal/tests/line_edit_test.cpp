// ICH, DCH and ECH at the end of a row that is full to its last column, in
// both column modes. At 132 columns the row is as wide as the grid, so a cell
// moved or blanked one too far lands in the next row: every case checks the
// row below and the notifications as well as the edited row.
#include <gtest/gtest.h>

#include <string>

#include "term_harness.h"

namespace {

// Row r of the pattern: column c holds a letter that names both.
char PatternAt(int row, int col) { return static_cast<char>((row == 0 ? 'A' : 'a') + col % 26); }

std::string PatternRow(int row, int cols) {
  std::string text;
  for (int c = 0; c < cols; ++c) text += PatternAt(row, c);
  return text;
}

struct EditCase {
  const char *final;  // the control's final byte
  int fromEnd;        // cursor column counted back from the last one
  int count;
  const char *tail;  // the last two cells after it: x and y are the old ones, ' ' a blank
};

const EditCase kEdits[] = {
    {"@", 0, 1, "x "}, {"@", 0, 255, "x "}, {"@", 1, 1, " x"}, {"@", 1, 2, "  "}, {"@", 1, 255, "  "},
    {"P", 0, 1, "x "}, {"P", 0, 255, "x "}, {"P", 1, 1, "y "}, {"P", 1, 2, "  "}, {"P", 1, 255, "  "},
    {"X", 0, 1, "x "}, {"X", 0, 255, "x "}, {"X", 1, 1, " y"}, {"X", 1, 2, "  "}, {"X", 1, 255, "  "},
};

TEST(LineEdit, AtTheEndOfAFullRowInBothColumnModes) {
  for (int cols : {80, 132}) {
    for (const EditCase &c : kEdits) {
      SCOPED_TRACE(std::to_string(cols) + " columns, CSI " + std::to_string(c.count) + " " + c.final + " at last-" +
                   std::to_string(c.fromEnd));
      TestTerminal t;
      if (cols == 132) t.Push("\x1b[?3h");
      ASSERT_EQ(t.st().s.columns, cols);
      std::string top = PatternRow(0, cols), below = PatternRow(1, cols);
      t.Push("\x1b[1;1H" + top + "\x1b[2;1H" + below);
      int col = cols - 1 - c.fromEnd;
      t.Push("\x1b[1;" + std::to_string(col + 1) + "H\x1b[" + std::to_string(c.count) + c.final);

      std::string expected = top.substr(0, cols - 2);
      for (const char *p = c.tail; *p; ++p) expected += *p == 'x' ? top[cols - 2] : *p == 'y' ? top[cols - 1] : ' ';
      while (!expected.empty() && expected.back() == ' ') expected.pop_back();
      EXPECT_EQ(t.RowText(0), expected);
      EXPECT_EQ(t.RowText(1), below) << "the row below changed";
      EXPECT_EQ(t.RowText(2), "");
      EXPECT_EQ(t.st().cursorRow, 0);
      EXPECT_EQ(t.st().cursorCol, col) << "the cursor moved";
      EXPECT_FALSE(t.display.outOfGrid) << "a notification left the grid";
    }
  }
}

TEST(LineEdit, DoubleWidthRowEditsWholeCharacters) {
  // On a double-width row each character is two cells: the last character
  // starts at cell 78 and a count of one covers both of its cells.
  for (const char *final : {"@", "P", "X"}) {
    SCOPED_TRACE(std::string("CSI ") + final);
    TestTerminal t;
    t.Push("\x1b[2;1H" + PatternRow(1, 80) + "\x1b[1;1H\x1b#6" + PatternRow(0, 40));
    t.Push(std::string("\x1b[1;40H\x1b[") + final);
    EXPECT_EQ(t.term->screen.cells[0][76].ch, PatternAt(0, 38));
    EXPECT_EQ(t.term->screen.cells[0][78].ch, ' ');
    EXPECT_EQ(t.term->screen.cells[0][79].ch, ' ');
    EXPECT_EQ(t.RowText(1), PatternRow(1, 80));
    EXPECT_EQ(t.st().cursorCol, 78);
  }
}

}  // namespace
