// The multiple-document interface: a frame with an MDICLIENT and document
// windows made through WM_MDICREATE; activation and its WM_MDIACTIVATE pairs,
// the Window menu's list, maximising, cascading and tiling, closing, the
// menu swap, and a person's clicks on a document window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "qx/display.h"
#include "qxtest/controls.h"

namespace {

using namespace qx::test;

constexpr UINT kFirstChild = 0xFF00;
constexpr UINT IDM_OPEN = 10, IDM_CASCADE = 11;

HWND g_client = nullptr;
std::vector<std::pair<HWND, HWND>> g_activations;  // (deactivated, activated) seen by the documents

LRESULT CALLBACK FrameProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_CREATE) {
    CLIENTCREATESTRUCT ccs{GetSubMenu(GetMenu(h), 1), kFirstChild};
    g_client = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 0, 0, h, nullptr,
                               nullptr, &ccs);
    return g_client ? 0 : -1;
  }
  return DefFrameProcA(h, g_client, m, wp, lp);
}

LRESULT CALLBACK DocumentProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_MDIACTIVATE && (reinterpret_cast<HWND>(lp) == h))
    g_activations.emplace_back(reinterpret_cast<HWND>(wp), reinterpret_cast<HWND>(lp));
  return DefMDIChildProcA(h, m, wp, lp);
}

HMENU MakeMenu(const char *windowTitle) {
  HMENU bar = CreateMenu(), file = CreatePopupMenu(), window = CreatePopupMenu();
  AppendMenuA(file, MF_STRING, IDM_OPEN, "&Open");
  AppendMenuA(window, MF_STRING, IDM_CASCADE, "&Cascade");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "&File");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(window), windowTitle);
  return bar;
}

std::vector<std::string> MenuTexts(HMENU menu) {
  std::vector<std::string> out;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    char text[128] = {};
    if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) {
      out.push_back("-");
      continue;
    }
    GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
    out.push_back(text);
  }
  return out;
}

// A window's rectangle in its parent's client coordinates.
RECT InParent(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  for (POINT &p : corners) ScreenToClient(GetParent(w), &p);
  return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

class Mdi : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = FrameProc;
    wc.lpszClassName = "QxMdiFrame";
    RegisterClassA(&wc);
    wc.lpfnWndProc = DocumentProc;
    wc.lpszClassName = "QxMdiDocument";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&wc);
    menu_ = MakeMenu("&Window");
    frame_ = CreateWindowA("QxMdiFrame", "Frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 640, 480, nullptr, menu_,
                           nullptr, nullptr);
    ASSERT_TRUE(frame_ && g_client);
    SetActiveWindow(frame_);
    Pump();
    g_activations.clear();
  }
  void TearDown() override {
    DestroyAll();
    g_client = nullptr;
  }
  HWND Open(const char *title, DWORD style = 0) {
    MDICREATESTRUCTA cs{"QxMdiDocument", title, nullptr, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT,   style, 0};
    HWND w = reinterpret_cast<HWND>(SendMessageA(g_client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&cs)));
    Pump();
    return w;
  }
  HWND Active(BOOL *maximized = nullptr) {
    return reinterpret_cast<HWND>(SendMessageA(g_client, WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(maximized)));
  }
  HMENU WindowMenu() { return GetSubMenu(GetMenu(frame_), 1); }
  HMENU menu_ = nullptr;
  HWND frame_ = nullptr;
};

TEST_F(Mdi, CreateActivateAndTheWindowMenu) {
  RECT frameClient{}, clientRect{};
  GetClientRect(frame_, &frameClient);
  GetClientRect(g_client, &clientRect);
  EXPECT_EQ(clientRect.right, frameClient.right);  // DefFrameProc sized the client
  EXPECT_EQ(clientRect.bottom, frameClient.bottom);

  HWND a = Open("Alpha"), b = Open("Beta"), c = Open("Gamma");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(GetDlgCtrlID(a), static_cast<int>(kFirstChild));
  EXPECT_EQ(GetDlgCtrlID(c), static_cast<int>(kFirstChild + 2));
  EXPECT_TRUE(GetWindowLongA(a, GWL_EXSTYLE) & WS_EX_MDICHILD);
  EXPECT_EQ(Active(), c);
  EXPECT_EQ(GetFocus(), c);
  EXPECT_EQ(g_activations, (std::vector<std::pair<HWND, HWND>>{{nullptr, a}, {a, b}, {b, c}}));
  EXPECT_EQ(MenuTexts(WindowMenu()), (std::vector<std::string>{"&Cascade", "-", "&1 Alpha", "&2 Beta", "&3 Gamma"}));
  EXPECT_TRUE(GetMenuState(WindowMenu(), kFirstChild + 2, MF_BYCOMMAND) & MF_CHECKED);

  // Choosing a listed window activates it and moves the check.
  SendMessageA(frame_, WM_COMMAND, kFirstChild, 0);
  EXPECT_EQ(Active(), a);
  EXPECT_TRUE(GetMenuState(WindowMenu(), kFirstChild, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_FALSE(GetMenuState(WindowMenu(), kFirstChild + 2, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_EQ(GetWindow(g_client, GW_CHILD), a);  // on top of its siblings

  // A new title shows in the list.
  SetWindowTextA(b, "Beta 2");
  EXPECT_EQ(MenuTexts(WindowMenu())[3], "&2 Beta 2");

  // Next visits every window and comes back.
  std::vector<HWND> visited;
  for (int i = 0; i < 3; ++i) {
    SendMessageA(g_client, WM_MDINEXT, 0, 0);
    visited.push_back(Active());
  }
  EXPECT_EQ(visited.back(), a);
  EXPECT_NE(visited[0], visited[1]);
  EXPECT_NE(visited[0], a);
  EXPECT_NE(visited[1], a);
}

TEST_F(Mdi, CloseRenumbersAndActivatesTheMostRecent) {
  HWND a = Open("Alpha"), b = Open("Beta"), c = Open("Gamma");
  SendMessageA(g_client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(a), 0);
  SendMessageA(g_client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(c), 0);
  // Closing the active one hands over to the one active before it.
  SendMessageA(c, WM_CLOSE, 0, 0);
  Pump();
  EXPECT_FALSE(IsWindow(c));
  EXPECT_EQ(Active(), a);
  EXPECT_EQ(MenuTexts(WindowMenu()), (std::vector<std::string>{"&Cascade", "-", "&1 Alpha", "&2 Beta"}));
  // A window destroyed by its program leaves the list too.
  DestroyWindow(a);
  Pump();
  EXPECT_EQ(Active(), b);
  EXPECT_EQ(MenuTexts(WindowMenu()), (std::vector<std::string>{"&Cascade", "-", "&1 Beta"}));
  // Choosing the first listed window now reaches the one that was second.
  SendMessageA(frame_, WM_COMMAND, kFirstChild, 0);
  EXPECT_EQ(Active(), b);
  SendMessageA(g_client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(b), 0);
  Pump();
  EXPECT_EQ(Active(), nullptr);
  EXPECT_EQ(MenuTexts(WindowMenu()), (std::vector<std::string>{"&Cascade"}));
  EXPECT_TRUE(IsWindow(frame_));
}

TEST_F(Mdi, MaximisedWindowFillsTheClientAndPassesOn) {
  HWND a = Open("Alpha"), b = Open("Beta");
  SendMessageA(g_client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(b), 0);
  Pump();
  BOOL maximized = FALSE;
  EXPECT_EQ(Active(&maximized), b);
  EXPECT_TRUE(maximized);
  EXPECT_TRUE(IsZoomed(b));
  RECT client{}, inner{};
  GetClientRect(g_client, &client);
  GetClientRect(b, &inner);
  EXPECT_EQ(inner.right, client.right);
  EXPECT_EQ(inner.bottom, client.bottom);
  POINT origin{0, 0};
  ClientToScreen(b, &origin);
  ScreenToClient(g_client, &origin);
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
  // The frame growing grows the maximised window with it.
  SetWindowPos(frame_, nullptr, 0, 0, 700, 520, SWP_NOMOVE | SWP_NOZORDER);
  Pump();
  GetClientRect(g_client, &client);
  GetClientRect(b, &inner);
  EXPECT_EQ(inner.right, client.right);
  // Activating another maximises it and restores the first.
  SendMessageA(g_client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(a), 0);
  EXPECT_TRUE(IsZoomed(a));
  EXPECT_FALSE(IsZoomed(b));
  // A window opened now opens maximised.
  HWND c = Open("Gamma");
  EXPECT_TRUE(IsZoomed(c));
  EXPECT_FALSE(IsZoomed(a));
  SendMessageA(g_client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(c), 0);
  EXPECT_FALSE(IsZoomed(c));
  EXPECT_EQ(Active(&maximized), c);
  EXPECT_FALSE(maximized);
}

TEST_F(Mdi, CascadeAndTile) {
  HWND w[4] = {Open("One"), Open("Two"), Open("Three"), Open("Four")};
  SendMessageA(g_client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(w[1]), 0);
  SendMessageA(g_client, WM_MDICASCADE, 0, 0);
  Pump();
  // Each window one step lower and further right than the one under it;
  // the active one on top, at the last step.
  const RECT top = InParent(w[1]);
  EXPECT_EQ(GetWindow(g_client, GW_CHILD), w[1]);
  int below = 0;
  for (HWND x : w) {
    const RECT r = InParent(x);
    EXPECT_EQ(r.left, r.top) << "cascaded windows step down as far as right";
    if (x != w[1]) {
      EXPECT_LT(r.left, top.left);
      ++below;
    }
    EXPECT_EQ(r.right - r.left, top.right - top.left);
  }
  EXPECT_EQ(below, 3);

  RECT client{};
  GetClientRect(g_client, &client);
  for (UINT how : {static_cast<UINT>(MDITILE_VERTICAL), static_cast<UINT>(MDITILE_HORIZONTAL)}) {
    SendMessageA(g_client, WM_MDITILE, how, 0);
    Pump();
    long area = 0;
    for (int i = 0; i < 4; ++i) {
      const RECT r = InParent(w[i]);
      EXPECT_GE(r.left, 0);
      EXPECT_GE(r.top, 0);
      EXPECT_LE(r.right, client.right);
      EXPECT_LE(r.bottom, client.bottom);
      area += (r.right - r.left) * (r.bottom - r.top);
      for (int j = i + 1; j < 4; ++j) {
        RECT both{}, other = InParent(w[j]);
        EXPECT_FALSE(IntersectRect(&both, &r, &other)) << "tiled windows " << i << " and " << j << " overlap";
      }
    }
    EXPECT_EQ(area, client.right * client.bottom) << "tiled windows cover the client";
  }
  // Four windows tile as two by two either way; three vertically as columns.
  SendMessageA(g_client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(w[3]), 0);
  SendMessageA(g_client, WM_MDITILE, MDITILE_VERTICAL, 0);
  Pump();
  const RECT r0 = InParent(w[0]), r1 = InParent(w[1]), r2 = InParent(w[2]);
  EXPECT_LT(r0.right - r0.left + r1.right - r1.left + r2.right - r2.left, 3 * client.right);

  // A minimised window leaves the cascade and sits along the bottom.
  SendMessageA(w[2], WM_SYSCOMMAND, SC_MINIMIZE, 0);
  SendMessageA(g_client, WM_MDICASCADE, 0, 0);
  Pump();
  EXPECT_TRUE(IsIconic(w[2]));
  EXPECT_EQ(InParent(w[2]).bottom, client.bottom);
  EXPECT_LT(InParent(w[0]).bottom, InParent(w[2]).top + 1);
}

TEST_F(Mdi, SetMenuMovesTheWindowList) {
  HWND a = Open("Alpha");
  HMENU other = MakeMenu("&Windows");
  const HMENU old = reinterpret_cast<HMENU>(SendMessageA(g_client, WM_MDISETMENU, reinterpret_cast<WPARAM>(other),
                                                         reinterpret_cast<LPARAM>(GetSubMenu(other, 1))));
  EXPECT_EQ(old, menu_);
  EXPECT_EQ(GetMenu(frame_), other);
  EXPECT_EQ(MenuTexts(GetSubMenu(other, 1)), (std::vector<std::string>{"&Cascade", "-", "&1 Alpha"}));
  EXPECT_EQ(MenuTexts(GetSubMenu(menu_, 1)), (std::vector<std::string>{"&Cascade"}));
  SendMessageA(g_client, WM_MDISETMENU, reinterpret_cast<WPARAM>(menu_),
               reinterpret_cast<LPARAM>(GetSubMenu(menu_, 1)));
  EXPECT_EQ(MenuTexts(GetSubMenu(menu_, 1)), (std::vector<std::string>{"&Cascade", "-", "&1 Alpha"}));
  DestroyMenu(other);
  EXPECT_EQ(Active(), a);
}

// A person's clicks: inside an inactive document window activates it; its
// caption's close button closes it and leaves the frame open.
TEST_F(Mdi, ClicksActivateAndClose) {
  HWND a = Open("Alpha"), b = Open("Beta");
  SendMessageA(g_client, WM_MDITILE, MDITILE_VERTICAL, 0);
  Pump();
  ASSERT_EQ(Active(), b);
  const POINT inA = qx::display::ClientToScreenPoint(a, POINT{20, 20});
  qx::display::InjectMouseMove(inA);
  qx::display::InjectMouseButton(inA, 1, true);
  qx::display::InjectMouseButton(inA, 1, false);
  Pump();
  EXPECT_EQ(Active(), a);

  RECT r{};
  GetWindowRect(b, &r);
  const int frame = GetSystemMetrics(SM_CXFRAME);
  const POINT close{r.right - frame - 8, r.top + frame + GetSystemMetrics(SM_CYCAPTION) / 2};
  qx::display::InjectMouseMove(close);
  qx::display::InjectMouseButton(close, 1, true);
  qx::display::InjectMouseButton(close, 1, false);
  Pump();
  Pump();
  EXPECT_FALSE(IsWindow(b));
  EXPECT_TRUE(IsWindow(frame_));
  EXPECT_EQ(Active(), a);
}

}  // namespace
