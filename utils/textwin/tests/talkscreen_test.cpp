// The text window's talk form on the headless display: the cursor kept on the
// grid, the wrap at column 80, LF as CR LF, clearing to the end of a row
// without moving, the view following the cursor and the caret following the
// focus.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "qxtest/controls.h"
#include "qxtest/support.h"
#include "textwin.h"

namespace {

using qx::test::Pump;

HWND g_window = nullptr;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TextWinProc(window, message, wParam, lParam);
  if (message == WM_CLOSE) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string Trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

class TalkScreenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new qxtest::TempDir("qx-talkscreen-home");
    setenv("QX_HOME", home_->path().c_str(), 1);
    scratch_ = new qxtest::ScratchDir("qx-talkscreen");
    g_window = TextWinCreate(TEXTWIN_CREATE{"New Talk", GetModuleHandleA(nullptr), nullptr, "AppIcon1", "TalkMenu", -1,
                                            -1, SW_SHOWNORMAL, MainProc, 1});
    Pump();
  }
  static void TearDownTestSuite() {
    DestroyWindow(g_window);
    Pump();
    delete scratch_;
    delete home_;
  }
  static inline qxtest::TempDir *home_ = nullptr;
  static inline qxtest::ScratchDir *scratch_ = nullptr;
};

TEST_F(TalkScreenTest, CursorWrapAndLineFeed) {
  ASSERT_NE(g_window, nullptr);
  // The bottom line is on the grid; row 25 and column 80 are not.
  EXPECT_EQ(TextWinSetCursor(24, 0), 1);
  EXPECT_EQ(TextWinSetCursor(25, 0), 0);
  EXPECT_EQ(TextWinSetCursor(3, 80), 0);
  struct Case {
    const char *name;
    int row, column;
    std::string text;
    std::vector<std::pair<int, std::string>> rows;
    int cursorRow, cursorColumn;
  };
  const std::vector<Case> cases = {
      {"81 characters wrap to the next row",
       13,
       0,
       std::string(80, 'a') + "b",
       {{13, std::string(80, 'a')}, {14, "b"}},
       14,
       1},
      {"LF alone starts the next row at column 0", 5, 0, "ab\ncd", {{5, "ab"}, {6, "cd"}}, 6, 2},
      {"80 dashes from column 0 leave the cursor on the next row",
       12,
       0,
       std::string(80, '-'),
       {{12, std::string(80, '-')}},
       13,
       0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(TextWinSetCursor(c.row, c.column), 1);
    TextWinPrint(c.text.c_str());
    for (const auto &[row, text] : c.rows) EXPECT_EQ(Trimmed(TextWinRowText(row)), text) << "row " << row;
    int row = -1, column = -1;
    TextWinGetCursor(&row, &column);
    EXPECT_EQ(row, c.cursorRow);
    EXPECT_EQ(column, c.cursorColumn);
  }
}

TEST_F(TalkScreenTest, ClearToEndOfRowStaysOnTheRow) {
  TextWinSetCursor(23, 0);
  TextWinPrint("keep this part");
  TextWinSetCursor(23, 4);
  TalkClearToEol();
  EXPECT_EQ(Trimmed(TextWinRowText(23)), "keep");
  const std::string above = TextWinRowText(22);
  int row = -1, column = -1;
  TextWinGetCursor(&row, &column);
  EXPECT_EQ(row, 23);
  EXPECT_EQ(column, 4);
  EXPECT_EQ(TextWinRowText(22), above);  // nothing scrolled
}

TEST_F(TalkScreenTest, ViewFollowsTheCursorAndTheCaretTheFocus) {
  // Narrowed to 40 columns at horizontal position 0, the cursor at column 60
  // scrolls the view right until its column shows.
  SendMessageA(g_window, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
  RECT outer, client;
  GetWindowRect(g_window, &outer);
  GetClientRect(g_window, &client);
  HDC dc = GetDC(g_window);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  ReleaseDC(g_window, dc);
  const int cellWidth = tm.tmMaxCharWidth;
  SetWindowPos(g_window, nullptr, 0, 0, (outer.right - outer.left) - client.right + 40 * cellWidth,
               outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  ASSERT_EQ(TextWinHPos(), 0);
  TextWinSetCursor(5, 60);
  EXPECT_GT(TextWinHPos(), 0);
  EXPECT_LE(60 - TextWinHPos(), 39);
  // The caret is there while the window has the focus.
  SendMessageA(g_window, WM_SETFOCUS, 0, 0);
  POINT at{};
  ASSERT_TRUE(GetCaretPos(&at));
  EXPECT_EQ(at.x, (60 - TextWinHPos()) * cellWidth);
  SendMessageA(g_window, WM_KILLFOCUS, 0, 0);
}

}  // namespace
