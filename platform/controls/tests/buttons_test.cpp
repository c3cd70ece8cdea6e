// BUTTON, STATIC and SCROLLBAR controls: check states of each button kind,
// clicks and their notifications, static texts, and the scroll bar's range,
// position and the scroll codes its clicks send.
#include <gtest/gtest.h>

#include "qxtest/controls.h"

using namespace qx::test;

namespace {

std::vector<std::pair<int, int>> g_scrolls;  // (code, position) received by the parent

LRESULT CALLBACK ScrollParent(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_HSCROLL || m == WM_VSCROLL) g_scrolls.push_back({LOWORD(wp), static_cast<short>(HIWORD(wp))});
  return DefWindowProcA(h, m, wp, lp);
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override { parent_ = MakeParent(); }
  void TearDown() override { DestroyAll(); }
  HWND parent_ = nullptr;
};

struct ClickCase {
  DWORD style;
  std::vector<UINT> after_clicks;  // BM_GETCHECK after each of three clicks
};

TEST_F(Controls, ClicksChangeTheAutomaticKindsOnly) {
  const ClickCase cases[] = {
      {BS_PUSHBUTTON, {0, 0, 0}}, {BS_CHECKBOX, {0, 0, 0}},        {BS_AUTOCHECKBOX, {1, 0, 1}},
      {BS_AUTO3STATE, {1, 2, 0}}, {BS_AUTORADIOBUTTON, {1, 1, 1}},
  };
  for (const ClickCase &c : cases) {
    HWND b = MakeChild(parent_, "Button", c.style, 50, 10, 10, 100, 20, "&Go");
    Notices().clear();
    std::vector<UINT> got;
    for (int i = 0; i < 3; ++i) {
      SendMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
      SendMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
      got.push_back(static_cast<UINT>(SendMessageA(b, BM_GETCHECK, 0, 0)));
    }
    EXPECT_EQ(got, c.after_clicks) << "style " << c.style;
    EXPECT_EQ(CodesFrom(50), (std::vector<int>{BN_CLICKED, BN_CLICKED, BN_CLICKED}));
    DestroyWindow(b);
  }
  // A release outside the button is no click.
  HWND b = MakeChild(parent_, "Button", BS_PUSHBUTTON, 51, 10, 10, 100, 20, "Stay");
  Notices().clear();
  SendMessageA(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageA(b, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 5));
  SendMessageA(b, WM_LBUTTONUP, 0, MAKELPARAM(300, 5));
  EXPECT_TRUE(CodesFrom(51).empty());
  // Space presses the focused button.
  SetFocus(b);
  Key(kSpace);
  Pump();
  EXPECT_EQ(CodesFrom(51), (std::vector<int>{BN_CLICKED}));
}

TEST_F(Controls, ThreeStateOnlyWhereTheStyleAllowsIt) {
  HWND two = MakeChild(parent_, "Button", BS_CHECKBOX, 52);
  HWND three = MakeChild(parent_, "Button", BS_3STATE, 53);
  SendMessageA(two, BM_SETCHECK, BST_INDETERMINATE, 0);
  SendMessageA(three, BM_SETCHECK, BST_INDETERMINATE, 0);
  EXPECT_EQ(SendMessageA(two, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(three, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
  SendMessageA(three, BM_SETSTATE, TRUE, 0);
  EXPECT_TRUE(SendMessageA(three, BM_GETSTATE, 0, 0) & BST_PUSHED);
}

TEST_F(Controls, StaticTextAndFont) {
  HWND s = MakeChild(parent_, "Static", SS_LEFT, 60, 10, 10, 100, 20, "Host:");
  EXPECT_EQ(TextOf(s), "Host:");
  SetWindowTextA(s, "Port:");
  EXPECT_EQ(TextOf(s), "Port:");
  HFONT f = static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
  SendMessageA(s, WM_SETFONT, reinterpret_cast<WPARAM>(f), TRUE);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(s, WM_GETFONT, 0, 0)), f);
  EXPECT_EQ(SendMessageA(s, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
}

TEST_F(Controls, ScrollBarRangePositionAndClicks) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ScrollParent;
  wc.lpszClassName = "QxScrollParent";
  RegisterClassA(&wc);
  HWND p = CreateWindowA("QxScrollParent", "s", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                         nullptr, nullptr);
  HWND sb =
      CreateWindowA("ScrollBar", "", WS_CHILD | WS_VISIBLE | SBS_HORZ, 10, 10, 200, 16, p, nullptr, nullptr, nullptr);
  ASSERT_NE(sb, nullptr);
  SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 99, 10, 50, 0};
  SetScrollInfo(sb, SB_CTL, &si, TRUE);
  EXPECT_EQ(GetScrollPos(sb, SB_CTL), 50);
  EXPECT_EQ(SetScrollPos(sb, SB_CTL, 500, TRUE), 50);
  EXPECT_EQ(GetScrollPos(sb, SB_CTL), 90);  // the last position still shows a whole page
  int lo = 0, hi = 0;
  ASSERT_TRUE(GetScrollRange(sb, SB_CTL, &lo, &hi));
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 99);
  g_scrolls.clear();
  SendMessageA(sb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 8));  // left arrow
  SendMessageA(sb, WM_LBUTTONUP, 0, MAKELPARAM(3, 8));
  SendMessageA(sb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(196, 8));  // right arrow
  SendMessageA(sb, WM_LBUTTONUP, 0, MAKELPARAM(196, 8));
  SendMessageA(sb, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 8));  // trough before the thumb
  SendMessageA(sb, WM_LBUTTONUP, 0, MAKELPARAM(30, 8));
  ASSERT_EQ(g_scrolls.size(), 6u);
  EXPECT_EQ(g_scrolls[0].first, SB_LINELEFT);
  EXPECT_EQ(g_scrolls[1].first, SB_ENDSCROLL);
  EXPECT_EQ(g_scrolls[2].first, SB_LINERIGHT);
  EXPECT_EQ(g_scrolls[4].first, SB_PAGELEFT);
  DestroyWindow(p);
}

}  // namespace
