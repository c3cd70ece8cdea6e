// Windows and classes: creation messages, destruction order, subclassing,
// window longs and extra bytes, properties, text, tree and show state.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "qxtest/support.h"

namespace {

qxtest::PrivateRuntime g_runtime;

std::vector<std::string> g_events;

std::string Name(HWND h) {
  char buf[64];
  GetWindowTextA(h, buf, sizeof buf);
  return buf;
}

LRESULT CALLBACK RecordProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_NCCREATE: {
      auto *cs = reinterpret_cast<CREATESTRUCTA *>(lparam);
      g_events.push_back(std::string("nccreate ") + (cs->lpszName ? cs->lpszName : ""));
      if (cs->lpCreateParams == reinterpret_cast<LPVOID>(1)) return FALSE;
      break;
    }
    case WM_CREATE: {
      auto *cs = reinterpret_cast<CREATESTRUCTA *>(lparam);
      g_events.push_back("create " + Name(hwnd) + " " + std::to_string(cs->cx) + "x" + std::to_string(cs->cy));
      if (cs->lpCreateParams == reinterpret_cast<LPVOID>(2)) return -1;
      break;
    }
    case WM_DESTROY: g_events.push_back("destroy " + Name(hwnd)); break;
    case WM_NCDESTROY: g_events.push_back("ncdestroy " + Name(hwnd)); break;
    case WM_SIZE: g_events.push_back("size " + std::to_string(wparam)); break;
    case WM_SHOWWINDOW: g_events.push_back("show " + std::to_string(wparam)); break;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = RecordProc;
      wc.lpszClassName = "QxRecord";
      wc.cbWndExtra = 12;
      wc.cbClsExtra = 8;
      return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    g_events.clear();
  }
  HWND Make(const char *title, HWND parent = nullptr, DWORD style = 0, LPVOID param = nullptr, int id = 0) {
    return CreateWindowExA(0, "QxRecord", title, style | (parent ? WS_CHILD : 0), 0, 0, 50, 40, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, param);
  }
};

TEST_F(Windows, CreationSendsNcCreateCreateThenSize) {
  HWND h = Make("one");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(g_events, (std::vector<std::string>{"nccreate one", "create one 50x40", "size 0"}));
  DestroyWindow(h);
}

TEST_F(Windows, CreationRefusedByTheProcedure) {
  EXPECT_EQ(Make("no", nullptr, 0, reinterpret_cast<LPVOID>(1)), nullptr);
  EXPECT_EQ(Make("minus", nullptr, 0, reinterpret_cast<LPVOID>(2)), nullptr);
  EXPECT_EQ(g_events.back(), "ncdestroy minus");
  EXPECT_EQ(CreateWindowA("NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  EXPECT_EQ(CreateWindowA("QxRecord", "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(Windows, DestroyGoesParentFirstThenNcDestroyChildrenFirst) {
  HWND parent = Make("parent");
  HWND a = Make("a", parent, 0, nullptr, 1);
  Make("a1", a, 0, nullptr, 3);
  Make("b", parent, 0, nullptr, 2);
  g_events.clear();
  ASSERT_TRUE(DestroyWindow(parent));
  std::vector<std::string> want{"destroy parent", "destroy a", "destroy a1",  "ncdestroy a1",
                                "ncdestroy a",    "destroy b", "ncdestroy b", "ncdestroy parent"};
  EXPECT_EQ(g_events, want);
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(a));
  EXPECT_FALSE(DestroyWindow(parent));
}

TEST_F(Windows, CloseDestroysThroughDefWindowProc) {
  HWND h = Make("closing");
  SendMessageA(h, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(h));
}

WNDPROC g_old_proc = nullptr;
LRESULT CALLBACK Subclass(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_USER) return 1000 + CallWindowProcA(g_old_proc, hwnd, msg, wparam, lparam);
  return CallWindowProcA(g_old_proc, hwnd, msg, wparam, lparam);
}
LRESULT CALLBACK Base(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_USER) return 7;
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST_F(Windows, SubclassingWithLongAndLongPtr) {
  HWND h = Make("sub");
  SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Base));
  // The 32-bit form hands out a value that only CallWindowProcA and the
  // window-long calls understand, as Windows does for its proc handles.
  LONG token = GetWindowLongA(h, GWL_WNDPROC);
  g_old_proc = reinterpret_cast<WNDPROC>(static_cast<LONG_PTR>(token));
  SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass));
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 1007);
  // Restoring through the token puts Base back.
  SetWindowLongA(h, GWL_WNDPROC, token);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(Base));
  EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 7);
  DestroyWindow(h);
}

TEST_F(Windows, LongsExtraBytesAndBounds) {
  HWND h = Make("longs", nullptr, WS_POPUP);
  EXPECT_EQ(SetWindowLongA(h, 0, 0x11223344), 0);
  EXPECT_EQ(GetWindowLongA(h, 0), 0x11223344);
  EXPECT_EQ(SetWindowLongA(h, 8, -5), 0);
  EXPECT_EQ(GetWindowLongA(h, 8), -5);
  SetLastError(0);
  EXPECT_EQ(GetWindowLongA(h, 9), 0);  // would read past cbWndExtra
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  EXPECT_EQ(SetWindowLongPtrA(h, 8, 1), 0);  // 8 bytes do not fit at 8 of 12
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  SetWindowLongPtrA(h, GWLP_USERDATA, 0x1234567890LL);
  EXPECT_EQ(GetWindowLongPtrA(h, GWLP_USERDATA), 0x1234567890LL);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE)) & WS_POPUP, static_cast<DWORD>(WS_POPUP));
  EXPECT_EQ(SetClassLongA(h, 4, 99), 0u);
  EXPECT_EQ(GetClassLongA(h, 4), 99u);
  EXPECT_EQ(GetClassLongA(h, 8), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
  EXPECT_EQ(GetClassLongA(h, GCL_CBWNDEXTRA), 12u);
  char cls[32];
  EXPECT_EQ(GetClassNameA(h, cls, sizeof cls), 8);
  EXPECT_STREQ(cls, "QxRecord");
  DestroyWindow(h);
}

TEST_F(Windows, PropertiesTextAndFind) {
  HWND h = Make("Finder Title");
  EXPECT_TRUE(SetPropA(h, "Key", reinterpret_cast<HANDLE>(5)));
  EXPECT_EQ(GetPropA(h, "KEY"), reinterpret_cast<HANDLE>(5));
  EXPECT_EQ(RemovePropA(h, "key"), reinterpret_cast<HANDLE>(5));
  EXPECT_EQ(GetPropA(h, "key"), nullptr);
  EXPECT_EQ(FindWindowA("QxRecord", "Finder Title"), h);
  EXPECT_EQ(FindWindowA(nullptr, "finder title"), h);
  EXPECT_EQ(FindWindowA("QxRecord", "Other"), nullptr);
  EXPECT_TRUE(SetWindowTextA(h, "Renamed"));
  EXPECT_EQ(GetWindowTextLengthA(h), 7);
  char small[4];
  EXPECT_EQ(GetWindowTextA(h, small, sizeof small), 3);
  EXPECT_STREQ(small, "Ren");
  EXPECT_EQ(FindWindowA("QxRecord", "Renamed"), h);
  DestroyWindow(h);
  EXPECT_EQ(FindWindowA("QxRecord", "Renamed"), nullptr);
}

TEST_F(Windows, TreeNavigationAndDialogIds) {
  HWND parent = Make("tree");
  HWND a = Make("a", parent, 0, nullptr, 10);
  HWND b = Make("b", parent, 0, nullptr, 20);
  EXPECT_EQ(GetParent(a), parent);
  EXPECT_EQ(GetWindow(parent, GW_CHILD), a);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
  EXPECT_EQ(GetWindow(b, GW_HWNDPREV), a);
  EXPECT_EQ(GetDlgItem(parent, 20), b);
  EXPECT_EQ(GetDlgCtrlID(a), 10);
  EXPECT_TRUE(IsChild(parent, a));
  std::vector<HWND> seen;
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM l) {
        reinterpret_cast<std::vector<HWND> *>(l)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen));
  EXPECT_EQ(seen, (std::vector<HWND>{a, b}));
  HWND other = Make("other");
  SetParent(b, other);
  EXPECT_EQ(GetParent(b), other);
  EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), nullptr);
  DestroyWindow(parent);
  DestroyWindow(other);
  EXPECT_FALSE(IsWindow(b));
}

TEST_F(Windows, ShowStatesMinimiseMaximiseHide) {
  HWND h = Make("shown");
  EXPECT_FALSE(IsWindowVisible(h));
  struct Step {
    int cmd;
    bool visible, iconic, zoomed;
  } steps[] = {
      {SW_SHOWNORMAL, true, false, false}, {SW_SHOWMINIMIZED, true, true, false}, {SW_SHOWMAXIMIZED, true, false, true},
      {SW_RESTORE, true, false, false},    {SW_MINIMIZE, true, true, false},      {SW_HIDE, false, true, false},
      {SW_SHOW, true, true, false},        {SW_SHOWNORMAL, true, false, false},
  };
  for (const auto &s : steps) {
    ShowWindow(h, s.cmd);
    EXPECT_EQ(IsWindowVisible(h) != FALSE, s.visible) << s.cmd;
    EXPECT_EQ(IsIconic(h) != FALSE, s.iconic) << s.cmd;
    EXPECT_EQ(IsZoomed(h) != FALSE, s.zoomed) << s.cmd;
  }
  HWND child = Make("child", h, WS_VISIBLE);
  EXPECT_TRUE(IsWindowVisible(child));
  ShowWindow(h, SW_HIDE);
  EXPECT_FALSE(IsWindowVisible(child));  // hidden with its parent
  DestroyWindow(h);
}

TEST_F(Windows, PositionAndClientRect) {
  HWND h = Make("pos");
  HWND c = Make("c", h);
  MoveWindow(h, 100, 50, 300, 200, TRUE);
  MoveWindow(c, 10, 20, 30, 40, TRUE);
  RECT r;
  GetClientRect(h, &r);
  EXPECT_EQ(r.right, 300);
  EXPECT_EQ(r.bottom, 200);
  GetWindowRect(c, &r);
  EXPECT_EQ(r.left, 110);
  EXPECT_EQ(r.top, 70);
  POINT p{0, 0};
  ClientToScreen(c, &p);
  EXPECT_EQ(p.x, 110);
  ScreenToClient(h, &p);
  EXPECT_EQ(p.x, 10);
  DestroyWindow(h);
}

TEST_F(Windows, ClassesRegisterOnceAndUnregisterWhenUnused) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "QxTemp";
  ATOM atom = RegisterClassA(&wc);
  ASSERT_NE(atom, 0);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  HWND h = CreateWindowA(MAKEINTRESOURCE(atom), "by atom", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(UnregisterClassA("qxtemp", nullptr));
  DestroyWindow(h);
  EXPECT_TRUE(UnregisterClassA("qxtemp", nullptr));
  WNDCLASSA info;
  EXPECT_FALSE(GetClassInfoA(nullptr, "QxTemp", &info));
}

TEST_F(Windows, FocusAndActivation) {
  HWND a = Make("fa");
  HWND b = Make("fb");
  SetFocus(a);
  EXPECT_EQ(GetFocus(), a);
  EXPECT_EQ(SetFocus(b), a);
  ShowWindow(a, SW_SHOW);  // activation moves the focus to the activated window
  EXPECT_EQ(GetActiveWindow(), a);
  EXPECT_EQ(GetFocus(), a);
  DestroyWindow(b);
  EXPECT_EQ(GetFocus(), a);
  DestroyWindow(a);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST(RegisteredMessages, SameStringSameNumber) {
  UINT a = RegisterWindowMessageA("QxSomething");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterWindowMessageA("qxsomething"), a);
  EXPECT_NE(RegisterWindowMessageA("QxOther"), a);
}

}  // namespace
