// The text output window on the headless display: what printing stores, the
// scroll positions and ranges as the window is sized and scrolled, placement
// in QXAPPS.INI, selection with the mouse and copy with the keyboard, and the
// cells as they are drawn.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qx/display.h"
#include "qxtest/controls.h"
#include "qxtest/drawing.h"
#include "qxtest/support.h"
#include "textwin.h"

namespace {

using qx::test::Pump;

HWND g_window = nullptr;
int g_closes = 0;

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TextWinProc(window, message, wParam, lParam);
  if (message == WM_CLOSE) ++g_closes;  // the program would destroy the window here
  if (message == WM_CLOSE) return 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string Trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// Starts every case on a fresh, empty newest line at column 0.
void FreshLine() {
  TextWinSetCursor(23, 0);
  TextWinPrint("\r\n");
}

int CellWidth() {
  HDC dc = GetDC(g_window);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  ReleaseDC(g_window, dc);
  return tm.tmMaxCharWidth;
}

int CellHeight() {
  HDC dc = GetDC(g_window);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  ReleaseDC(g_window, dc);
  return tm.tmHeight + tm.tmExternalLeading;
}

// Sizes the window so that its client area is columns x rows cells.
void SizeToCells(int columns, int rows) {
  RECT outer, client;
  GetWindowRect(g_window, &outer);
  GetClientRect(g_window, &client);
  const int fw = (outer.right - outer.left) - client.right, fh = (outer.bottom - outer.top) - client.bottom;
  SetWindowPos(g_window, nullptr, 0, 0, columns * CellWidth() + fw, rows * CellHeight() + fh,
               SWP_NOMOVE | SWP_NOZORDER);
  Pump();
}

class TextWinTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = new qxtest::TempDir("qx-textwin-home");
    setenv("QX_HOME", home_->path().c_str(), 1);
    scratch_ = new qxtest::ScratchDir("qx-textwin");
    TEXTWIN_CREATE create{"Finger", GetModuleHandleA(nullptr), nullptr, "AppIcon1", "finger", -1, -1, SW_SHOWNORMAL,
                          MainProc};
    g_window = TextWinCreate(create);
    Pump();
  }
  static inline qxtest::TempDir *home_ = nullptr;
  static inline qxtest::ScratchDir *scratch_ = nullptr;
};

TEST_F(TextWinTest, OpensAtTheDefaultPlaceAndKeepsWholeCells) {
  ASSERT_NE(g_window, nullptr);
  // No saved placement: QXAPPS.INI is made in the current directory.
  EXPECT_FALSE(qxtest::ReadFile((scratch_->dir() / "QXAPPS.INI").string()).find("Xl") != std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(scratch_->dir() / "QXAPPS.INI"));
  RECT client;
  GetClientRect(g_window, &client);
  EXPECT_EQ(client.right % CellWidth(), 0);
  EXPECT_EQ(client.bottom % CellHeight(), 0);
  EXPECT_LE(client.right, 80 * CellWidth());
  EXPECT_LE(client.bottom, 25 * CellHeight());
}

// Each case prints on a fresh line; the rows it names are ring rows (23 the newest).
TEST_F(TextWinTest, PrintingInterpretsControlBytesWithoutWrapping) {
  struct Case {
    const char *name;
    std::string text;
    std::vector<std::pair<int, std::string>> rows;  // ring row, its text with trailing blanks cut
    int cursorRow, cursorColumn;
  };
  const std::string hundred(100, 'x');
  const std::vector<Case> cases = {
      {"long line keeps 80 columns", hundred + "\r\n", {{22, std::string(80, 'x')}, {23, ""}}, 23, 0},
      {"tab from column 2 to 8", "ab\tc", {{23, "ab      c"}}, 23, 9},
      {"tab at a multiple of 8 moves 8", "abcdefgh\tz", {{23, "abcdefgh        z"}}, 23, 17},
      {"tab at column 75 does nothing", std::string(75, '-') + "\tz", {{23, std::string(75, '-') + "z"}}, 23, 76},
      {"backspace blanks the cell", "abc\b", {{23, "ab"}}, 23, 2},
      {"backspace at column 0", "\b\bq", {{23, "q"}}, 23, 1},
      {"line feed keeps the column", "ab\ncd", {{22, "ab"}, {23, "  cd"}}, 23, 4},
      {"carriage return overwrites", "hello\rJ", {{23, "Jello"}}, 23, 1},
      {"bytes 0x80-0xFF and other controls stored", "\x80\xe9\x01\xff", {{23, "\x80\xe9\x01\xff"}}, 23, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FreshLine();
    TextWinPrint(c.text.c_str());
    for (const auto &[row, text] : c.rows) EXPECT_EQ(Trimmed(TextWinRowText(row)), text) << "row " << row;
    int row = -1, column = -1;
    TextWinGetCursor(&row, &column);
    EXPECT_EQ(row, c.cursorRow);
    EXPECT_EQ(column, c.cursorColumn);
  }
}

TEST_F(TextWinTest, TheRingKeepsTheLast24Lines) {
  for (int i = 1; i <= 30; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "\r\nline %02d", i);
    TextWinPrint(line);
  }
  for (int r = 0; r < 24; ++r) {
    char want[16];
    std::snprintf(want, sizeof want, "line %02d", r + 7);
    EXPECT_EQ(Trimmed(TextWinRowText(r)), want);
  }
}

TEST_F(TextWinTest, CursorStaysOnTheGridAndTheBottomLineNeverScrolls) {
  FreshLine();
  TextWinPrint("above");
  const std::string ringBefore = TextWinRowText(23);
  EXPECT_EQ(TextWinSetCursor(25, 0), 0);
  EXPECT_EQ(TextWinSetCursor(0, 80), 0);
  EXPECT_EQ(TextWinSetCursor(-1, 0), 0);
  int row = 0, column = 0;
  TextWinGetCursor(&row, &column);
  EXPECT_EQ(row, 23);
  EXPECT_EQ(column, 5);
  ASSERT_EQ(TextWinSetCursor(24, 0), 1);
  TextWinPrint("bottom\nline\r\n");
  EXPECT_EQ(Trimmed(TextWinRowText(24)), "bottomline");
  EXPECT_EQ(TextWinRowText(23), ringBefore);  // a line feed on the bottom line moves nothing
  TextWinGetCursor(&row, &column);
  EXPECT_EQ(row, 24);
  EXPECT_EQ(column, 0);
  EXPECT_EQ(TextWinRowText(25), "");
  TextWinSetCursor(24, 0);
  TextWinPrint(std::string(80, ' ').c_str());
  TextWinSetCursor(23, 0);
}

TEST_F(TextWinTest, ScrollRangesFollowTheWindowSize) {
  SizeToCells(80, 10);
  int low = 0, high = 0;
  GetScrollRange(g_window, SB_VERT, &low, &high);
  EXPECT_EQ(low, 8);
  EXPECT_EQ(high, 23);
  SendMessageA(g_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 8), 0);
  EXPECT_EQ(TextWinVPos(), 8);
  SizeToCells(80, 15);  // growing past V raises V to the new lowest position
  EXPECT_EQ(TextWinVPos(), 14);
  SendMessageA(g_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 23), 0);
  SizeToCells(80, 25);
  GetScrollRange(g_window, SB_VERT, &low, &high);
  EXPECT_EQ(low, -1);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(TextWinVPos(), 23);
  // A size off the cells snaps back to whole cells.
  RECT outer;
  GetWindowRect(g_window, &outer);
  SetWindowPos(g_window, nullptr, 0, 0, outer.right - outer.left - 3, outer.bottom - outer.top - 5,
               SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  RECT client;
  GetClientRect(g_window, &client);
  EXPECT_EQ(client.right % CellWidth(), 0);
  EXPECT_EQ(client.bottom % CellHeight(), 0);
}

TEST_F(TextWinTest, ScrollRequestsMoveWithinTheirLimits) {
  SizeToCells(40, 10);  // Vlow 9, Hmax 40
  struct Step {
    UINT message;
    WORD code;
    short thumb;
    int v, h;
  };
  const Step steps[] = {
      {WM_VSCROLL, SB_THUMBPOSITION, 23, 23, 0},
      {WM_VSCROLL, SB_LINEDOWN, 0, 23, 0},  // already at the newest line
      {WM_VSCROLL, SB_PAGEUP, 0, 18, 0},    // 5 rows at most
      {WM_VSCROLL, SB_LINEUP, 0, 17, 0},
      {WM_VSCROLL, SB_THUMBTRACK, 9, 9, 0},
      {WM_VSCROLL, SB_PAGEUP, 0, 8, 0},  // down to Vlow - 1
      {WM_VSCROLL, SB_LINEUP, 0, 8, 0},  // the oldest line is at the top
      {WM_VSCROLL, SB_PAGEDOWN, 0, 13, 0},
      {WM_VSCROLL, SB_THUMBPOSITION, 400, 23, 0},  // off the range: held at the newest line
      {WM_VSCROLL, SB_THUMBPOSITION, -30, 8, 0},
      {WM_VSCROLL, SB_THUMBPOSITION, 23, 23, 0},
      {WM_HSCROLL, SB_LINERIGHT, 0, 23, 1},
      {WM_HSCROLL, SB_PAGERIGHT, 0, 23, 11},
      {WM_HSCROLL, SB_THUMBTRACK, 38, 23, 38},
      {WM_HSCROLL, SB_PAGERIGHT, 0, 23, 40},  // Hmax
      {WM_HSCROLL, SB_LINERIGHT, 0, 23, 40},
      {WM_HSCROLL, SB_THUMBPOSITION, -1, 23, 40},  // a negative thumb is ignored
      {WM_HSCROLL, SB_PAGELEFT, 0, 23, 30},
      {WM_HSCROLL, SB_THUMBPOSITION, 0, 23, 0},
      {WM_HSCROLL, SB_LINELEFT, 0, 23, 0},
  };
  int index = 0;
  for (const Step &s : steps) {
    SCOPED_TRACE(index++);
    SendMessageA(g_window, s.message, MAKEWPARAM(s.code, static_cast<WORD>(s.thumb)), 0);
    EXPECT_EQ(TextWinVPos(), s.v);
    EXPECT_EQ(TextWinHPos(), s.h);
    EXPECT_EQ(GetScrollPos(g_window, SB_VERT), s.v);
    EXPECT_EQ(GetScrollPos(g_window, SB_HORZ), s.h);
  }
  SizeToCells(80, 25);
}

// Client point of the middle of a grid cell (the grid is anchored at the bottom).
POINT CellPoint(int gridRow, int column, bool leftEdge = false) {
  RECT client;
  GetClientRect(g_window, &client);
  const int top = client.bottom - 25 * CellHeight();
  return POINT{column * CellWidth() + (leftEdge ? 1 : CellWidth() / 2),
               top + gridRow * CellHeight() + CellHeight() / 2};
}

void Drag(POINT from, POINT to, bool shift = false) {
  using namespace qx::display;
  if (shift) InjectKey(qx::test::kShift, false, true);
  InjectMouseMove(ClientToScreenPoint(g_window, from));
  InjectMouseButton(ClientToScreenPoint(g_window, from), 1, true);
  InjectMouseMove(ClientToScreenPoint(g_window, to));
  InjectMouseButton(ClientToScreenPoint(g_window, to), 1, false);
  if (shift) InjectKey(qx::test::kShift, false, false);
  qxtest::WaitUntil(
      [] {
        Pump();
        return qx::test::InputDrained();
      },
      5000);
}

std::string ClipboardText() {
  std::string text;
  if (!OpenClipboard(g_window)) return "<no clipboard>";
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (auto *p = static_cast<const char *>(GlobalLock(h))) text = p;
    GlobalUnlock(h);
  }
  CloseClipboard();
  return text;
}

void SetClipboardText(const char *text) {
  OpenClipboard(g_window);
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, strlen(text) + 1);
  strcpy(static_cast<char *>(GlobalLock(mem)), text);
  GlobalUnlock(mem);
  SetClipboardData(CF_TEXT, mem);
  CloseClipboard();
}

void CopyKeys(bool insert) {
  qx::test::KeyWith(qx::test::kCtrl, insert ? 0x52 : qx::test::ScanOf('c'), insert);
  qxtest::WaitUntil(
      [] {
        Pump();
        return qx::test::InputDrained();
      },
      5000);
}

TEST_F(TextWinTest, MouseSelectionCopiesTheCellsAsText) {
  SizeToCells(80, 25);
  SendMessageA(g_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 23), 0);
  SendMessageA(g_window, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
  for (const char *line : {"\r\nfirst line   ", "\r\nsecond line", "\r\nthird line", "\r\nLogin: fred"})
    TextWinPrint(line);
  TextWinSetCursor(24, 0);
  TextWinPrint("bottom");
  TextWinSetCursor(23, 11);
  // Grid rows 20..23 show "first line" .. "Login: fred" (ring rows at V 23).
  struct Case {
    const char *name;
    POINT from, to;
    bool shift, insertKey;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"part of one line", CellPoint(23, 0, true), CellPoint(23, 5, true), false, false, "Login"},
      {"backwards drag", CellPoint(23, 11, true), CellPoint(23, 7, true), false, true, "fred"},
      {"across lines, blanks at line ends cut", CellPoint(20, 6, true), CellPoint(22, 5, true), false, false,
       "line\r\nsecond line\r\nthird"},
      {"into the bottom line", CellPoint(23, 7, true), CellPoint(24, 6, true), false, false, "fred\r\nbottom"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SetClipboardText("old");
    Drag(c.from, c.to, c.shift);
    CopyKeys(c.insertKey);
    EXPECT_EQ(ClipboardText(), c.want);
  }
  // Shift+click extends the last selection from its anchor.
  Drag(CellPoint(21, 0, true), CellPoint(21, 6, true));
  Drag(CellPoint(22, 5, true), CellPoint(22, 5, true), true);
  CopyKeys(false);
  EXPECT_EQ(ClipboardText(), "second line\r\nthird");
  // A click selects nothing, and copying then leaves the clipboard alone.
  SetClipboardText("kept");
  Drag(CellPoint(22, 3), CellPoint(22, 3));
  CopyKeys(false);
  EXPECT_EQ(ClipboardText(), "kept");
  // Scrolled back in a shorter window, the same cells select older lines.
  SizeToCells(80, 10);
  SendMessageA(g_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 22), 0);
  ASSERT_EQ(TextWinVPos(), 22);
  Drag(CellPoint(23, 0, true), CellPoint(23, 5, true));
  CopyKeys(false);
  EXPECT_EQ(ClipboardText(), "third");
  SendMessageA(g_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 23), 0);
  SizeToCells(80, 25);
  // Printing drops the selection: the rows it named have moved.
  Drag(CellPoint(23, 0, true), CellPoint(23, 5, true));
  TextWinPrint("\r\nnew");
  EXPECT_EQ(TextWinSelectedText(), "");
}

// The pixels of one grid cell in the window's capture.
std::vector<std::uint32_t> CellPixels(const qx::gdi::Surface &s, HWND window, int gridRow, int column) {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  RECT outer;
  GetWindowRect(window, &outer);
  RECT client;
  GetClientRect(window, &client);
  const int x0 = origin.x - outer.left + column * CellWidth();
  const int y0 = origin.y - outer.top + client.bottom - 25 * CellHeight() + gridRow * CellHeight();
  std::vector<std::uint32_t> px;
  for (int y = y0; y < y0 + CellHeight(); ++y)
    for (int x = x0; x < x0 + CellWidth(); ++x) px.push_back(s.Get(x, y));
  return px;
}

bool HasInk(const std::vector<std::uint32_t> &px, std::uint32_t background) {
  for (auto p : px)
    if ((p & 0xFFFFFF) != (background & 0xFFFFFF)) return true;
  return false;
}

TEST_F(TextWinTest, CellsAreDrawnThroughTheAnsiCodePage) {
  SizeToCells(80, 25);
  SendMessageA(g_window, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 23), 0);
  FreshLine();
  TextWinPrint("e\xe9\x80 x");
  TextWinSetCursor(23, 0);
  UpdateWindow(g_window);
  Pump();
  qx::gdi::Surface s(1, 1, 0);
  ASSERT_TRUE(qx::display::CaptureWindow(g_window, s));
  const auto blank = CellPixels(s, g_window, 23, 3);
  const std::uint32_t background = blank.front();
  EXPECT_FALSE(HasInk(blank, background));
  const auto plainE = CellPixels(s, g_window, 23, 0), acuteE = CellPixels(s, g_window, 23, 1),
             euro = CellPixels(s, g_window, 23, 2);
  EXPECT_TRUE(HasInk(plainE, background));
  EXPECT_TRUE(HasInk(acuteE, background));  // 0xE9: e with acute accent
  EXPECT_TRUE(HasInk(euro, background));    // 0x80: the euro sign
  EXPECT_NE(plainE, acuteE);
  // Selected cells are drawn in the text colour's inverse.
  TextWinSelect(23, 0, 23, 1);
  UpdateWindow(g_window);
  Pump();
  ASSERT_TRUE(qx::display::CaptureWindow(g_window, s));
  const auto selected = CellPixels(s, g_window, 23, 0);
  EXPECT_NE(selected, plainE);
  EXPECT_NE(selected.front() & 0xFFFFFF, background & 0xFFFFFF);
  TextWinSelect(0, 0, 0, 0);
}

TEST_F(TextWinTest, PlacementIsSavedOnCloseAndReadBack) {
  SetWindowPos(g_window, nullptr, 33, 44, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Pump();
  RECT r;
  GetWindowRect(g_window, &r);
  SendMessageA(g_window, WM_CLOSE, 0, 0);
  EXPECT_EQ(g_closes, 1);
  const std::string ini = (scratch_->dir() / "QXAPPS.INI").string();
  EXPECT_EQ(GetPrivateProfileIntA("finger", "Xl", -5, ini.c_str()), 33u);
  EXPECT_EQ(GetPrivateProfileIntA("FINGER", "Yt", -5, ini.c_str()), 44u);  // sections ignore case
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("finger", "Cx", 0, ini.c_str())), r.right - r.left - 1);
  EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA("finger", "Cy", 0, ini.c_str())), r.bottom - r.top - 1);
  int x = 0, y = SW_SHOWNORMAL, w = 0, h = 0;
  TextWinLoadPlacement(&x, &y, &w, &h, "finger");
  EXPECT_EQ(x, 33);
  EXPECT_EQ(y, 44);
  EXPECT_EQ(w, r.right - r.left);
  EXPECT_EQ(h, r.bottom - r.top);
  // Missing keys give the defaults: the system's place and size.
  TextWinLoadPlacement(&x, &y, &w, &h, "nothing");
  EXPECT_EQ(x, static_cast<int>(CW_USEDEFAULT));
  EXPECT_EQ(y, 44);  // the y passed in (the show command) stays
  EXPECT_EQ(w, static_cast<int>(CW_USEDEFAULT));
  EXPECT_EQ(h, 0);
}

}  // namespace
