// The host's screen kept aside and put back: the run-length stream's form,
// and a round trip that must give back every cell, line width, the cursor
// and the current attribute whatever was drawn over them meanwhile.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "term_harness.h"

namespace {

std::vector<BYTE> Encode(TestTerminal &t) {
  std::vector<BYTE> out(ScreenEncode(*t.term, t.st().screenRows, 80, nullptr));
  ScreenEncode(*t.term, t.st().screenRows, 80, out.data());
  return out;
}

TEST(SavedScreen, StreamForm) {
  TestTerminal blank(25);
  EXPECT_EQ(Encode(blank), (std::vector<BYTE>{0x27, 0xD0, 0x00, 0x20, 0x20, 0x00})) << "one run of 2000 blanks";

  TestTerminal colour(20);
  for (auto &row : colour.term->screen.cells)
    for (auto &cell : row) cell = {'x', ATTR_COLOUR | 0x21};  // equal colour cells never join
  EXPECT_EQ(Encode(colour).size(), 20u * 80 * 2 + 2);

  TestTerminal mixed(20);
  mixed.Push("ab\x1B[1mcc");
  const std::vector<BYTE> m = Encode(mixed);
  const std::vector<BYTE> head = {0x00, 'a', 0x00, 'b', 0x20, 2, ATTR_BOLD, 'c'};
  ASSERT_GE(m.size(), head.size());
  EXPECT_EQ(std::vector<BYTE>(m.begin(), m.begin() + 8), head);
}

TEST(SavedScreen, RoundTripIsExactOnEveryRowCount) {
  for (const int rows : {20, 24, 25, 36, 45}) {
    const auto last_row = static_cast<size_t>(rows - 1);
    TestTerminal t(rows);
    std::mt19937 random(rows);
    // A host screen: random text in mono and colour attributes, double-width
    // lines, the cursor on the last row with a wrap pending.
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < 80; ++c) {
        const BYTE attr = random() % 3 == 0 ? static_cast<BYTE>(ATTR_COLOUR | (random() % 64))
                                            : static_cast<BYTE>(random() % 2 ? ATTR_BOLD | ATTR_REVERSE : 0);
        t.term->screen.cells[r][c] = {static_cast<BYTE>(random() % 3 ? 'a' + random() % 3 : ' '), attr};
      }
    t.st().lineAttribute[1] = LINE_DOUBLE;
    t.st().lineAttribute[last_row] = LINE_DOUBLE;
    t.Push("\x1B[" + std::to_string(rows) + ";80H\x1B[4mZ");
    ASSERT_EQ(t.st().wrapPending, 1);
    const TERM_SCREEN before = t.term->screen;
    const TERM_STATE state = t.st();

    TERM_SAVED_SCREEN saved;
    ScreenSave(*t.term, saved);
    t.Push("\x1B[0m\x1B#6\x1B[2J\x1B[Hscribbled over");  // what Set-Up does to the grid
    ScreenRestore(*t.term, saved);

    for (int r = 0; r < rows; ++r)
      ASSERT_EQ(std::memcmp(before.cells[r], t.term->screen.cells[r], sizeof before.cells[r]), 0)
          << rows << " row " << r;
    EXPECT_EQ(std::memcmp(state.lineAttribute, t.st().lineAttribute, rows), 0) << rows;
    EXPECT_EQ(t.st().cursorRow, state.cursorRow) << rows;
    EXPECT_EQ(t.st().cursorCol, state.cursorCol) << rows;
    EXPECT_EQ(t.st().wrapPending, 1) << rows;
    EXPECT_EQ(t.st().s.attribute, state.s.attribute) << rows;
    EXPECT_FALSE(saved.valid) << "a restore forgets what it put back";
  }
}

TEST(SavedScreen, ColumnChangeAndNothingSaved) {
  TestTerminal t(24);
  t.Push("\x1B[1;70Hseventy");
  TERM_SAVED_SCREEN saved;
  ScreenSave(*t.term, saved);
  t.st().s.columns = 132;  // Set-Up switched to 132 columns
  for (auto &row : t.term->screen.cells)
    for (auto &cell : row) cell = {'#', 0};
  ScreenRestore(*t.term, saved);
  EXPECT_EQ(t.RowText(0).substr(69, 7), "seventy");
  EXPECT_EQ(t.term->screen.cells[0][100].ch, ' ') << "the new columns come back blank";
  EXPECT_EQ(t.term->screen.cells[1][0].ch, ' ') << "rows decode at the width they were saved with";

  TERM_SAVED_SCREEN none;
  t.Push("\x1B[5;5Hx");
  ScreenRestore(*t.term, none);
  EXPECT_EQ(t.RowText(4), "");
  EXPECT_EQ(t.st().cursorRow, 0);
  EXPECT_EQ(t.st().cursorCol, 0);
}

}  // namespace
