// Check marks of menu items: the default mark of a checked item, and the
// bitmaps SetMenuItemBitmaps gives for the checked and unchecked states, seen
// in the pixels of an open popup menu.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "qxtest/controls.h"
#include "qx/display.h"
#include "qx/gdi.h"

namespace {

using namespace qx::test;

enum { IDM_WRAP = 1, IDM_RED, IDM_GREEN, IDM_PLAIN };

qx::gdi::Surface g_popup;
bool g_captured = false;

LRESULT CALLBACK MainProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_INITMENUPOPUP: SetTimer(h, 7, 10, nullptr); return 0;  // after the popup has painted
    case WM_TIMER:
      if (wp == 7) {
        KillTimer(h, 7);
        g_captured = qx::display::CaptureWindow(FindWindowA("#32768", nullptr), g_popup);
        Key(kEsc);  // closes the popup
        Key(kEsc);  // and leaves the menu bar
        return 0;
      }
      break;
    default: break;
  }
  return DefWindowProcA(h, m, wp, lp);
}

HBITMAP Solid(HDC screen, COLORREF colour) {
  const LONG dims = GetMenuCheckMarkDimensions();
  HBITMAP bm = CreateCompatibleBitmap(screen, LOWORD(dims), HIWORD(dims));
  HDC mem = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(mem, bm);
  RECT r{0, 0, LOWORD(dims), HIWORD(dims)};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(mem, &r, brush);
  DeleteObject(brush);
  SelectObject(mem, old);
  DeleteDC(mem);
  return bm;
}

// The first row of the check column (x 4..20) holding a pixel of the colour; -1 when none.
int RowOf(std::uint32_t pixel) {
  for (int y = 0; y < g_popup.height; ++y)
    for (int x = 4; x < 20 && x < g_popup.width; ++x)
      if ((g_popup.Get(x, y) & 0xFFFFFF) == pixel) return y;
  return -1;
}

TEST(MenuChecks, DefaultMarkAndItemBitmaps) {
  EXPECT_EQ(GetMenuCheckMarkDimensions(), MAKELONG(13, 13));
  WNDCLASSA wc{};
  wc.lpfnWndProc = MainProc;
  wc.lpszClassName = "QxMenuChecks";
  RegisterClassA(&wc);
  HMENU bar = CreateMenu(), view = CreatePopupMenu();
  AppendMenuA(view, MF_STRING, IDM_WRAP, "&Wrap");
  AppendMenuA(view, MF_STRING, IDM_RED, "&Red");
  AppendMenuA(view, MF_STRING, IDM_GREEN, "&Green");
  AppendMenuA(view, MF_STRING, IDM_PLAIN, "&Plain");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(view), "&View");
  HWND main = CreateWindowA("QxMenuChecks", "Checks", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 200, nullptr, bar,
                            nullptr, nullptr);
  ASSERT_NE(main, nullptr);
  SetActiveWindow(main);
  HDC screen = GetDC(nullptr);
  HBITMAP red = Solid(screen, RGB(255, 0, 0)), green = Solid(screen, RGB(0, 255, 0));
  ReleaseDC(nullptr, screen);

  CheckMenuItem(bar, IDM_WRAP, MF_CHECKED);
  ASSERT_TRUE(SetMenuItemBitmaps(bar, IDM_WRAP, MF_BYCOMMAND, nullptr, nullptr));  // the default marks
  ASSERT_TRUE(SetMenuItemBitmaps(view, 1, MF_BYPOSITION, nullptr, red));
  CheckMenuItem(bar, IDM_RED, MF_CHECKED);
  ASSERT_TRUE(SetMenuItemBitmaps(bar, IDM_GREEN, MF_BYCOMMAND, green, red));  // unchecked: green
  EXPECT_FALSE(SetMenuItemBitmaps(bar, 99, MF_BYCOMMAND, red, red));

  KeyWith(kAlt, ScanOf('v'));
  for (int round = 0; round < 200 && !g_captured; ++round) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    Pump();
  }
  ASSERT_TRUE(g_captured);
  // Wrap, the first item, is highlighted when the menu opens from the keyboard: its tick takes the highlight's text
  // colour.
  const COLORREF tick = GetSysColor(COLOR_HIGHLIGHTTEXT);
  const int mark = RowOf((GetRValue(tick) << 16) | (GetGValue(tick) << 8) | GetBValue(tick));
  const int red_row = RowOf(0xFF0000), green_row = RowOf(0x00FF00);
  EXPECT_GE(mark, 0);  // the checked Wrap item's tick
  EXPECT_GT(red_row, mark);
  EXPECT_GT(green_row, red_row);
  DestroyWindow(main);
  DeleteObject(red);
  DeleteObject(green);
}

}  // namespace
