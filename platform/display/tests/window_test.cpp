// Windows on the headless display: painting and invalid regions, ScrollWindow,
// the caret and the frame (golden PNG), mouse messages and double clicks,
// window scroll bars, the message box on a display and automation from
// another process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "display_internal.h"
#include "qxtest/drawing.h"

namespace {

// Tests draw headless unless QX_DISPLAY asks for a real display.
const bool kHeadless = (setenv("QX_DISPLAY", "headless", 0), true);

struct Seen {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  RECT paint{};
};
std::vector<Seen> g_seen;
bool g_paint_stripes = false;

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_GETMINMAXINFO: {
      auto *mmi = reinterpret_cast<MINMAXINFO *>(lp);
      mmi->ptMaxSize = POINT{300, 200};  // the largest size this window wants
      mmi->ptMaxTrackSize = POINT{300, 200};
      g_seen.push_back({m, wp, lp});
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      Seen s{m, wp, lp, ps.rcPaint};
      g_seen.push_back(s);
      if (g_paint_stripes) {
        for (int y = ps.rcPaint.top; y < ps.rcPaint.bottom; ++y) {
          RECT r{0, y, 200, y + 1};
          HBRUSH b = CreateSolidBrush(RGB(y * 2 % 256, 0, 0));
          FillRect(dc, &r, b);
          DeleteObject(b);
        }
      }
      EndPaint(h, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_CHAR:
    case WM_USER:
    case WM_SIZE: g_seen.push_back({m, wp, lp}); break;
    default: break;
  }
  return DefWindowProcA(h, m, wp, lp);
}

void Register(const char *name, UINT style) {
  WNDCLASSA wc{};
  wc.style = style;
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = name;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.hCursor = LoadCursorA(nullptr, IDC_IBEAM);
  RegisterClassA(&wc);
}

void Pump() {
  MSG m;
  for (int round = 0; round < 500 && (round < 3 || qx::display::InputPending()); ++round) {
    if (qx::display::DriverStarted()) qx::Display().PumpInput();
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
}

std::vector<Seen> Only(UINT msg) {
  std::vector<Seen> out;
  for (const Seen &s : g_seen)
    if (s.msg == msg) out.push_back(s);
  return out;
}

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Register("PaintTest", 0);
    Register("DblTest", CS_DBLCLKS);
  }
  HWND Make(const char *cls, DWORD style = WS_OVERLAPPEDWINDOW, int w = 240, int h = 160) {
    HWND hwnd = CreateWindowA(cls, "Test Window", style, 20, 30, w, h, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    Pump();
    g_seen.clear();
    return hwnd;
  }
  void TearDown() override {
    g_paint_stripes = false;
    for (auto &w : qx::LocalWindows())
      if (!w->parent) DestroyWindow(w->hwnd);
    Pump();
  }
};

TEST_F(Windows, FrameTakesTheClientArea) {
  HWND h = Make("PaintTest");
  RECT wr, cr;
  GetWindowRect(h, &wr);
  GetClientRect(h, &cr);
  EXPECT_EQ(wr.right - wr.left, 240);
  EXPECT_EQ(cr.right, 240 - 2 * GetSystemMetrics(SM_CXFRAME));
  EXPECT_EQ(cr.bottom, 160 - 2 * GetSystemMetrics(SM_CYFRAME) - GetSystemMetrics(SM_CYCAPTION));
  RECT adj{0, 0, cr.right, cr.bottom};
  AdjustWindowRect(&adj, WS_OVERLAPPEDWINDOW, FALSE);
  EXPECT_EQ(adj.right - adj.left, 240);
  EXPECT_EQ(adj.bottom - adj.top, 160);
  POINT p{0, 0};
  ClientToScreen(h, &p);
  EXPECT_EQ(p.x, 20 + GetSystemMetrics(SM_CXFRAME));
  EXPECT_EQ(WindowFromPoint(POINT{p.x + 5, p.y + 5}), h);
  EXPECT_EQ(WindowFromPoint(POINT{2000, 2000}), nullptr);
}

LRESULT CALLBACK RedChild(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT r;
    GetClientRect(h, &r);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &r, red);
    DeleteObject(red);
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProcA(h, m, wp, lp);
}

TEST_F(Windows, ChildWindowsPaintAtTheirPlaceAndStayInsideTheParent) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = RedChild;
  wc.lpszClassName = "RedChild";
  RegisterClassA(&wc);
  HWND parent = Make("PaintTest", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
  HWND child = CreateWindowA("RedChild", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 20, 300, 30, parent, nullptr,
                             nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  Pump();
  RECT wr;
  GetWindowRect(parent, &wr);
  auto at = [&](int x, int y) {  // a pixel of the parent's client area, as shown
    qx::gdi::Surface shot;
    qx::display::CaptureWindow(parent, shot);
    POINT p{x, y};
    ClientToScreen(parent, &p);
    return shot.Get(p.x - wr.left, p.y - wr.top);
  };
  EXPECT_EQ(at(10, 20), 0x000000u) << "the child's border";
  EXPECT_EQ(at(11, 21), 0xFF0000u) << "the child's client area, painted by the child";
  EXPECT_EQ(at(9, 21), 0xFFFFFFu);
  // The parent's DC leaves the child alone (WS_CLIPCHILDREN).
  HDC dc = GetDC(parent);
  RECT all;
  GetClientRect(parent, &all);
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
  EXPECT_EQ(GetPixel(dc, 11, 21), CLR_INVALID) << "outside the parent DC's visible area";
  ReleaseDC(parent, dc);
  EXPECT_EQ(at(11, 21), 0xFF0000u);
  EXPECT_EQ(at(9, 21), 0x808080u);
  // The child is cut at the parent's client edge: no red on the frame.
  EXPECT_NE(at(all.right, 21), 0xFF0000u);
  POINT in_child{5, 5};
  ClientToScreen(child, &in_child);
  EXPECT_EQ(WindowFromPoint(in_child), child);
}

TEST_F(Windows, MaximiseAsksForTheLargestSize) {
  HWND h = Make("PaintTest");
  RECT normal;
  GetWindowRect(h, &normal);
  ShowWindow(h, SW_MAXIMIZE);
  Pump();
  EXPECT_FALSE(Only(WM_GETMINMAXINFO).empty());
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 200);
  EXPECT_EQ(r.left, -GetSystemMetrics(SM_CXFRAME));
  ShowWindow(h, SW_RESTORE);
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, normal.left);
  EXPECT_EQ(r.right, normal.right);
}

TEST_F(Windows, InvalidRegionsAccumulateAndPaintComesOnceWhenTheQueueIsEmpty) {
  HWND h = Make("PaintTest");
  RECT a{10, 10, 20, 20}, b{50, 30, 60, 40};
  InvalidateRect(h, &a, FALSE);
  PostMessageA(h, WM_USER, 1, 0);
  InvalidateRect(h, &b, TRUE);
  PostMessageA(h, WM_USER, 2, 0);
  Pump();
  ASSERT_EQ(Only(WM_PAINT).size(), 1u);
  // The posted messages come before the paint.
  ASSERT_GE(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0].msg, static_cast<UINT>(WM_USER));
  EXPECT_EQ(g_seen[1].msg, static_cast<UINT>(WM_USER));
  const RECT r = Only(WM_PAINT)[0].paint;
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 10);
  EXPECT_EQ(r.right, 60);
  EXPECT_EQ(r.bottom, 40);
  g_seen.clear();
  Pump();
  EXPECT_TRUE(Only(WM_PAINT).empty()) << "painting validated the region";
}

TEST_F(Windows, ScrollWindowMovesPixelsAndInvalidatesOnlyTheUncoveredStrip) {
  g_paint_stripes = true;
  HWND h = Make("PaintTest");
  HDC dc = GetDC(h);
  const COLORREF row50 = GetPixel(dc, 5, 50);
  ReleaseDC(h, dc);
  g_paint_stripes = false;
  RECT cr;
  GetClientRect(h, &cr);
  ASSERT_TRUE(ScrollWindow(h, 0, -20, nullptr, nullptr));
  RECT u;
  ASSERT_TRUE(GetUpdateRect(h, &u, FALSE));
  EXPECT_EQ(u.top, cr.bottom - 20);
  EXPECT_EQ(u.bottom, cr.bottom);
  EXPECT_EQ(u.left, 0);
  EXPECT_EQ(u.right, cr.right);
  dc = GetDC(h);
  EXPECT_EQ(GetPixel(dc, 5, 30), row50) << "row 50 moved up to row 30";
  ReleaseDC(h, dc);
  Pump();
  ASSERT_EQ(Only(WM_PAINT).size(), 1u);
  EXPECT_EQ(Only(WM_PAINT)[0].paint.top, cr.bottom - 20);
}

TEST_F(Windows, CaretAndFrameGolden) {
  HWND h = Make("PaintTest", WS_OVERLAPPEDWINDOW, 200, 90);
  SetWindowTextA(h, "Caret");
  HDC dc = GetDC(h);
  SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TextOutA(dc, 4, 4, "Hello", 5);
  ReleaseDC(h, dc);
  CreateCaret(h, nullptr, 8, 15);
  SetCaretPos(4 + 5 * 8, 4);
  ShowCaret(h);
  qx::gdi::Surface shot;
  ASSERT_TRUE(qx::display::CaptureWindow(h, shot));
  EXPECT_EQ(qx::test::CompareGolden(shot, "caret"), "");
  HideCaret(h);
  qx::gdi::Surface hidden;
  qx::display::CaptureWindow(h, hidden);
  EXPECT_NE(qx::test::CompareSurfaces(shot, hidden, 0, 0.0), "") << "hiding the caret restores the pixels under it";
  DestroyCaret();
}

TEST_F(Windows, MouseMessagesAndDoubleClicksPerClassStyle) {
  for (const char *cls : {"PaintTest", "DblTest"}) {
    SCOPED_TRACE(cls);
    HWND h = Make(cls);
    const POINT s = qx::display::ClientToScreenPoint(h, POINT{30, 40});
    for (int i = 0; i < 2; ++i) {
      qx::display::InjectMouseButton(s, 1, true);
      qx::display::InjectMouseButton(s, 1, false);
    }
    Pump();
    const bool dbl = std::string(cls) == "DblTest";
    EXPECT_EQ(Only(WM_LBUTTONDOWN).size(), dbl ? 1u : 2u);
    EXPECT_EQ(Only(WM_LBUTTONDBLCLK).size(), dbl ? 1u : 0u);
    ASSERT_FALSE(Only(WM_LBUTTONDOWN).empty());
    EXPECT_EQ(Only(WM_LBUTTONDOWN)[0].lp, MAKELPARAM(30, 40));
    EXPECT_EQ(Only(WM_LBUTTONDOWN)[0].wp & MK_LBUTTON, static_cast<WPARAM>(MK_LBUTTON));
    DestroyWindow(h);
  }
}

TEST_F(Windows, CaptureSendsMovesOutsideTheWindow) {
  HWND h = Make("PaintTest");
  SetCapture(h);
  qx::display::InjectMouseMove(POINT{900, 700});
  Pump();
  ReleaseCapture();
  ASSERT_EQ(Only(WM_MOUSEMOVE).size(), 1u);
  POINT c{900, 700};
  ScreenToClient(h, &c);
  EXPECT_EQ(Only(WM_MOUSEMOVE)[0].lp, MAKELPARAM(c.x, c.y));
}

TEST_F(Windows, WindowScrollBars) {
  HWND h = Make("PaintTest", WS_OVERLAPPEDWINDOW | WS_VSCROLL);
  RECT before;
  GetClientRect(h, &before);
  SetScrollRange(h, SB_VERT, 0, 50, TRUE);
  SetScrollPos(h, SB_VERT, 10, TRUE);
  EXPECT_EQ(GetScrollPos(h, SB_VERT), 10);
  EXPECT_EQ(SetScrollPos(h, SB_VERT, 99, TRUE), 10);
  EXPECT_EQ(GetScrollPos(h, SB_VERT), 50) << "clamped to the range";
  SCROLLINFO si{sizeof si, SIF_ALL};
  ASSERT_TRUE(GetScrollInfo(h, SB_VERT, &si));
  EXPECT_EQ(si.nMax, 50);
  RECT wr, cr;
  GetWindowRect(h, &wr);
  GetClientRect(h, &cr);
  EXPECT_EQ(cr.right, before.right);
  // A click on the lower arrow scrolls one line.
  g_seen.clear();
  const POINT arrow{wr.right - GetSystemMetrics(SM_CXFRAME) - 8, wr.bottom - GetSystemMetrics(SM_CYFRAME) - 8};
  qx::display::InjectMouseButton(arrow, 1, true);
  qx::display::InjectMouseButton(arrow, 1, false);
  Pump();
  ASSERT_FALSE(Only(WM_VSCROLL).empty());
  EXPECT_EQ(LOWORD(Only(WM_VSCROLL)[0].wp), SB_LINEDOWN);
  // An empty range hides the bar: the client area grows by its width.
  SetScrollRange(h, SB_VERT, 0, 0, TRUE);
  GetClientRect(h, &cr);
  EXPECT_EQ(cr.right, before.right + GetSystemMetrics(SM_CXVSCROLL));
}

int g_box_answer = 0;
void CALLBACK AnswerLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND box = qx::display::OpenMessageBox();
  if (box) PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(g_box_answer), 0);
}

void CALLBACK PressEnterLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  qx::display::InjectKey(0x1C, false, true);
  qx::display::InjectKey(0x1C, false, false);
}

TEST_F(Windows, MessageBoxOnTheDisplayIsModalAndAnswered) {
  setenv("QX_MSGBOX", "display", 1);
  HWND owner = Make("PaintTest");
  g_box_answer = IDNO;
  SetTimer(nullptr, 0, 50, AnswerLater);
  EXPECT_EQ(MessageBoxA(owner, "Save the changes?", "Question", MB_YESNOCANCEL | MB_ICONQUESTION), IDNO);
  EXPECT_TRUE(IsWindowEnabled(owner)) << "the owner is enabled again";
  // Enter answers with the default button.
  SetTimer(nullptr, 0, 50, PressEnterLater);
  EXPECT_EQ(MessageBoxA(owner, "Really?", "Question", MB_YESNO | MB_DEFBUTTON2), IDNO);
  SetTimer(nullptr, 0, 50, PressEnterLater);
  EXPECT_EQ(MessageBoxA(owner, "Done.", "Note", MB_OK), IDOK);
  unsetenv("QX_MSGBOX");
}

TEST_F(Windows, AutomationFromAnotherProcess) {
  HWND h = Make("PaintTest");
  SetWindowTextA(h, "Automated");
  SetFocus(h);
  const char *bin = std::getenv("QX_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  const std::string png = std::string(::testing::TempDir()) + "automated.png";
  std::vector<std::string> replies;
  const std::string qxauto = std::string(bin) + "/qxauto -p " + std::to_string(getpid()) + " ";
  std::thread peer([&] {
    for (const std::string &cmd : {std::string("find PaintTest -"), std::string("text 0"), std::string("type 0 Hi!"),
                                   std::string("png 0 ") + png}) {
      std::string c = cmd;
      if (c.find(" 0") != std::string::npos && !replies.empty() && replies[0].rfind("ok ", 0) == 0) {
        const std::string hw = replies[0].substr(3, replies[0].find('\n') - 3);
        c.replace(c.find(" 0"), 2, " " + hw);
      }
      FILE *p = popen((qxauto + c).c_str(), "r");
      std::string out;
      char buf[256];
      while (p && fgets(buf, sizeof buf, p)) out += buf;
      if (p) pclose(p);
      replies.push_back(out);
    }
  });
  // The program goes on pumping messages while the other process drives it.
  for (int i = 0; i < 1500 && replies.size() < 4; ++i) {
    Pump();
    usleep(10000);
  }
  peer.join();
  Pump();
  ASSERT_EQ(replies.size(), 4u);
  EXPECT_EQ(replies[0].rfind("ok 0x", 0), 0u) << replies[0];
  EXPECT_EQ(replies[1], "ok Automated\n");
  EXPECT_EQ(replies[2], "ok\n");
  EXPECT_EQ(replies[3], "ok\n");
  std::string typed;
  for (const Seen &s : Only(WM_CHAR)) typed += static_cast<char>(s.wp);
  EXPECT_EQ(typed, "Hi!");
  EXPECT_EQ(access(png.c_str(), R_OK), 0);
}

}  // namespace
