// The viewer's choice pop-up on a headless display: the pointer picks the
// half (highlight drawn navy), a click tells the parent which, and leaving the
// window or pressing a key closes it without a choice.
#include <gtest/gtest.h>

#include <vector>

#include "choicepop.h"
#include "test_support.h"

using namespace mailtest;

namespace {

const HeadlessDisplay g_headless;

std::vector<LPARAM> g_chosen;
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == kChoicePopupControl && HIWORD(wParam) == kChoicePopupChosen)
    g_chosen.push_back(lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

class ChoicePopupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = ParentProc;
      wc.lpszClassName = "QxChoiceParent";
      return RegisterClassA(&wc) != 0 && RegisterChoicePopup(GetModuleHandleA(nullptr));
    }();
    ASSERT_TRUE(registered);
    g_chosen.clear();
    parent = CreateWindowA("QxChoiceParent", "viewer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                           nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
  }
  void TearDown() override {
    DestroyWindow(parent);
    Pump();
  }
  static void Pump() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  HWND Open(int initial, bool shift = false) {
    return ShowChoicePopup(parent, "Save to disk", "Display", initial, POINT{200, 150}, shift);
  }
  static LPARAM At(int x, int y) { return MAKELPARAM(x, y); }
  // The colour at the middle of a half, as painted.
  static COLORREF HalfColour(HWND popup, int half) {
    UpdateWindow(popup);
    RECT r;
    GetClientRect(popup, &r);
    HDC dc = GetDC(popup);
    const COLORREF c = GetPixel(dc, r.right / 2 + 20, half == 1 ? r.bottom / 4 : r.bottom * 3 / 4);
    ReleaseDC(popup, dc);
    return c;
  }
  HWND parent = nullptr;
};

}  // namespace

TEST_F(ChoicePopupTest, ClickReportsTheHalfUnderThePointer) {
  struct Case {
    const char *what;
    int initial;
    bool shift;
    int moveToHalf;  // 0: no move
    LPARAM chosen;
  };
  const Case cases[] = {
      {"initial upper", 1, false, 0, 1},  {"initial lower", 2, false, 0, 2},  {"shift swaps upper", 1, true, 0, 2},
      {"moved to lower", 1, false, 2, 2}, {"moved to upper", 2, false, 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    g_chosen.clear();
    HWND popup = Open(c.initial, c.shift);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetCapture(), popup);
    RECT r;
    GetClientRect(popup, &r);
    if (c.moveToHalf) SendMessageA(popup, WM_MOUSEMOVE, 0, At(2, c.moveToHalf == 1 ? 1 : r.bottom - 2));
    SendMessageA(popup, WM_LBUTTONDOWN, MK_LBUTTON, At(2, 2));
    Pump();
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_EQ(g_chosen, std::vector<LPARAM>{c.chosen});
  }
}

TEST_F(ChoicePopupTest, LeavingOrAKeyClosesWithoutAChoice) {
  HWND popup = Open(1);
  ASSERT_NE(popup, nullptr);
  RECT r;
  GetClientRect(popup, &r);
  SendMessageA(popup, WM_MOUSEMOVE, 0, At(r.right + 5, 2));
  Pump();
  EXPECT_FALSE(IsWindow(popup));
  popup = Open(2);
  SendMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
  Pump();
  EXPECT_FALSE(IsWindow(popup));
  popup = Open(1);
  SendMessageA(popup, WM_SYSKEYDOWN, VK_MENU, 0);
  Pump();
  EXPECT_FALSE(IsWindow(popup));
  EXPECT_TRUE(g_chosen.empty());
  EXPECT_NE(GetCapture(), popup);
}

TEST_F(ChoicePopupTest, SizeAndHighlightAsDrawn) {
  HWND popup = Open(1);
  ASSERT_NE(popup, nullptr);
  SIZE up{}, low{};
  HDC dc = GetDC(parent);
  GetTextExtentPoint32A(dc, "Save to disk", 12, &up);
  GetTextExtentPoint32A(dc, "Display", 7, &low);
  ReleaseDC(parent, dc);
  RECT w;
  GetWindowRect(popup, &w);
  EXPECT_EQ(w.right - w.left, std::max(up.cx, low.cx) + 4);
  EXPECT_EQ(w.bottom - w.top, up.cy + low.cy + 5);
  // The pointer (200, 150) lies in the upper half, centred across.
  EXPECT_EQ((w.left + w.right) / 2, 200);
  EXPECT_LT(w.top, 150);
  EXPECT_LT(150, w.top + (w.bottom - w.top) / 2);
  EXPECT_EQ(HalfColour(popup, 1), RGB(0, 0, 128));
  EXPECT_EQ(HalfColour(popup, 2), RGB(255, 255, 128));
  RECT r;
  GetClientRect(popup, &r);
  SendMessageA(popup, WM_MOUSEMOVE, 0, At(2, r.bottom - 2));
  EXPECT_EQ(HalfColour(popup, 1), RGB(255, 255, 128));
  EXPECT_EQ(HalfColour(popup, 2), RGB(0, 0, 128));
  DestroyWindow(popup);
}
