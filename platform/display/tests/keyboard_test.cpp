// Physical keys through the input path: scan code, extended flag, virtual key
// and characters as a window procedure sees them in WM_KEYDOWN, WM_SYSKEYDOWN,
// WM_CHAR, WM_SYSCHAR and WM_DEADCHAR.
#include <gtest/gtest.h>

#include <cstdlib>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "display_internal.h"
#include "keyboard.h"

namespace {

// Tests draw headless unless QX_DISPLAY asks for a real display.
const bool kHeadless = (setenv("QX_DISPLAY", "headless", 0), true);

struct Seen {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if ((m >= WM_KEYDOWN && m <= WM_SYSDEADCHAR)) g_seen.push_back({m, wp, lp});
  if (m == WM_SYSKEYDOWN || m == WM_SYSCHAR || m == WM_SYSKEYUP) return 0;  // no system menu here
  return DefWindowProcA(h, m, wp, lp);
}

class Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    qx::input::ResetKeyboard();
    qx::input::SetLayout(qx::input::Layout::US);
    static bool registered = false;
    if (!registered) {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.lpszClassName = "KeyTest";
      registered = RegisterClassA(&wc) != 0;
    }
    hwnd_ = CreateWindowA("KeyTest", "keys", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(hwnd_, SW_SHOW);
    SetFocus(hwnd_);
    Pump();
    g_seen.clear();
  }
  void TearDown() override { DestroyWindow(hwnd_); }

  static void Pump() {
    MSG m;
    for (int round = 0; round < 500 && (round < 3 || qx::display::InputPending()); ++round) {
      if (qx::display::DriverStarted()) qx::Display().PumpInput();
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
      }
    }
  }
  static void Press(BYTE scan, bool ext) {
    qx::display::InjectKey(scan, ext, true);
    qx::display::InjectKey(scan, ext, false);
  }
  static void Down(BYTE scan, bool ext = false) { qx::display::InjectKey(scan, ext, true); }
  static void Up(BYTE scan, bool ext = false) { qx::display::InjectKey(scan, ext, false); }

  static std::string Chars(UINT kind = WM_CHAR) {
    std::string s;
    for (const Seen &e : g_seen)
      if (e.msg == kind) s += static_cast<char>(e.wp);
    return s;
  }
  static const Seen *First(UINT msg) {
    for (const Seen &e : g_seen)
      if (e.msg == msg) return &e;
    return nullptr;
  }

  HWND hwnd_ = nullptr;
};

struct KeyCase {
  const char *name;
  BYTE scan;
  bool ext;
  std::vector<BYTE> held;  // modifier scan codes held down (0x2A shift, 0x1D ctrl, 0x38 alt)
  bool caps, numlock;
  UINT down_msg;
  UINT vk;
  std::string chars;  // WM_CHAR or WM_SYSCHAR characters
};

TEST_F(Keyboard, PhysicalKeysToMessages) {
  const KeyCase cases[] = {
      {"a", 0x1E, false, {}, false, false, WM_KEYDOWN, 'A', "a"},
      {"Shift+a", 0x1E, false, {0x2A}, false, false, WM_KEYDOWN, 'A', "A"},
      {"Caps Lock a", 0x1E, false, {}, true, false, WM_KEYDOWN, 'A', "A"},
      {"Caps Lock Shift+a", 0x1E, false, {0x2A}, true, false, WM_KEYDOWN, 'A', "a"},
      {"Caps Lock 1", 0x02, false, {}, true, false, WM_KEYDOWN, '1', "1"},
      {"Shift+1", 0x02, false, {0x2A}, false, false, WM_KEYDOWN, '1', "!"},
      {"Shift+'", 0x28, false, {0x2A}, false, false, WM_KEYDOWN, VK_OEM_7, "\""},
      {"Ctrl+C", 0x2E, false, {0x1D}, false, false, WM_KEYDOWN, 'C', "\x03"},
      {"Ctrl+[", 0x1A, false, {0x1D}, false, false, WM_KEYDOWN, VK_OEM_4, "\x1B"},
      {"Alt+F", 0x21, false, {0x38}, false, false, WM_SYSKEYDOWN, 'F', "f"},
      {"Enter", 0x1C, false, {}, false, false, WM_KEYDOWN, VK_RETURN, "\r"},
      {"Ctrl+Enter", 0x1C, false, {0x1D}, false, false, WM_KEYDOWN, VK_RETURN, "\n"},
      {"Backspace", 0x0E, false, {}, false, false, WM_KEYDOWN, VK_BACK, "\b"},
      {"Esc", 0x01, false, {}, false, false, WM_KEYDOWN, VK_ESCAPE, "\x1B"},
      {"F1", 0x3B, false, {}, false, false, WM_KEYDOWN, VK_F1, ""},
      {"F10", 0x44, false, {}, false, false, WM_SYSKEYDOWN, VK_F10, ""},
      {"F11", 0x57, false, {}, false, false, WM_KEYDOWN, VK_F11, ""},
      {"keypad 7, Num Lock off", 0x47, false, {}, false, false, WM_KEYDOWN, VK_HOME, ""},
      {"keypad 7, Num Lock on", 0x47, false, {}, false, true, WM_KEYDOWN, VK_NUMPAD7, "7"},
      {"keypad . Num Lock off", 0x53, false, {}, false, false, WM_KEYDOWN, VK_DELETE, ""},
      {"keypad 5 Num Lock off", 0x4C, false, {}, false, false, WM_KEYDOWN, VK_CLEAR, ""},
      {"keypad *", 0x37, false, {}, false, false, WM_KEYDOWN, VK_MULTIPLY, "*"},
      {"keypad -", 0x4A, false, {}, false, true, WM_KEYDOWN, VK_SUBTRACT, "-"},
      {"keypad /", 0x35, true, {}, false, false, WM_KEYDOWN, VK_DIVIDE, "/"},
      {"keypad Enter", 0x1C, true, {}, false, false, WM_KEYDOWN, VK_RETURN, "\r"},
      {"Home", 0x47, true, {}, false, true, WM_KEYDOWN, VK_HOME, ""},
      {"Up", 0x48, true, {}, false, false, WM_KEYDOWN, VK_UP, ""},
      {"Page Up", 0x49, true, {}, false, false, WM_KEYDOWN, VK_PRIOR, ""},
      {"Left", 0x4B, true, {}, false, false, WM_KEYDOWN, VK_LEFT, ""},
      {"Right", 0x4D, true, {}, false, false, WM_KEYDOWN, VK_RIGHT, ""},
      {"End", 0x4F, true, {}, false, false, WM_KEYDOWN, VK_END, ""},
      {"Down", 0x50, true, {}, false, false, WM_KEYDOWN, VK_DOWN, ""},
      {"Page Down", 0x51, true, {}, false, false, WM_KEYDOWN, VK_NEXT, ""},
      {"Insert", 0x52, true, {}, false, false, WM_KEYDOWN, VK_INSERT, ""},
      {"Delete", 0x53, true, {}, false, false, WM_KEYDOWN, VK_DELETE, ""},
      {"Right Ctrl", 0x1D, true, {}, false, false, WM_KEYDOWN, VK_CONTROL, ""},
      {"Right Alt", 0x38, true, {}, false, false, WM_SYSKEYDOWN, VK_MENU, ""},
      {"Scroll Lock", 0x46, false, {}, false, false, WM_KEYDOWN, VK_SCROLL, ""},
  };
  for (const KeyCase &c : cases) {
    SCOPED_TRACE(c.name);
    qx::input::ResetKeyboard();
    if (c.caps) Press(0x3A, false);
    if (c.numlock) Press(0x45, true);
    for (BYTE m : c.held) Down(m);
    Pump();
    g_seen.clear();
    Press(c.scan, c.ext);
    for (BYTE m : c.held) Up(m);
    Pump();
    const Seen *d = First(c.down_msg);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->wp, c.vk);
    EXPECT_EQ((d->lp >> 16) & 0xFF, c.scan) << "scan code in bits 16-23";
    EXPECT_EQ(((d->lp >> 24) & 1) != 0, c.ext) << "extended flag in bit 24";
    EXPECT_EQ(d->lp & 0xFFFF, 1) << "repeat count";
    EXPECT_EQ((d->lp >> 30) & 3, 0) << "fresh key: previous state and transition clear";
    const bool alt = std::find(c.held.begin(), c.held.end(), 0x38) != c.held.end() || (c.scan == 0x38);
    EXPECT_EQ(((d->lp >> 29) & 1) != 0, alt) << "context code: Alt down";
    const bool sys_chars = c.down_msg == WM_SYSKEYDOWN;
    EXPECT_EQ(Chars(sys_chars ? WM_SYSCHAR : WM_CHAR), c.chars);
    const UINT up = sys_chars || c.scan == 0x38 ? WM_SYSKEYUP : WM_KEYUP;
    const Seen *u = nullptr;
    for (const Seen &e : g_seen)
      if ((e.msg == WM_KEYUP || e.msg == WM_SYSKEYUP) && e.wp == c.vk) u = &e;
    ASSERT_NE(u, nullptr);
    if (c.held.empty()) {
      EXPECT_EQ(u->msg, up);
    }
    EXPECT_EQ((u->lp >> 30) & 3, 3) << "release: previous state and transition set";
  }
}

TEST_F(Keyboard, AutoRepeatSetsThePreviousStateBit) {
  Down(0x1E);
  Down(0x1E);
  Up(0x1E);
  Pump();
  std::vector<LPARAM> downs;
  for (const Seen &e : g_seen)
    if (e.msg == WM_KEYDOWN) downs.push_back(e.lp);
  ASSERT_EQ(downs.size(), 2u);
  EXPECT_EQ((downs[0] >> 30) & 1, 0);
  EXPECT_EQ((downs[1] >> 30) & 1, 1);
  EXPECT_EQ(Chars(), "aa");
}

TEST_F(Keyboard, LockKeysToggleAndStateIsVisible) {
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
  Press(0x3A, false);
  Pump();
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 1);
  Down(0x2A);
  Pump();
  EXPECT_LT(GetKeyState(VK_SHIFT), 0);
  EXPECT_LT(GetKeyState(VK_LSHIFT), 0);
  EXPECT_GE(GetKeyState(VK_RSHIFT), 0);
  Up(0x2A);
  Pump();
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);
  BYTE state[256];
  ASSERT_TRUE(GetKeyboardState(state));
  EXPECT_EQ(state[VK_CAPITAL] & 1, 1);
  // ToAscii with a state the caller changed: Caps Lock inverted.
  WORD ch = 0;
  EXPECT_EQ(ToAscii('A', 0x1E, state, &ch, 0), 1);
  EXPECT_EQ(ch, 'A');
  state[VK_CAPITAL] ^= 1;
  EXPECT_EQ(ToAscii('A', 0x1E, state, &ch, 0), 1);
  EXPECT_EQ(ch, 'a');
  EXPECT_EQ(ToAscii('1', 0x02, state, &ch, 0), 1);
  EXPECT_EQ(ch, '1');
  EXPECT_EQ(ToAscii(VK_F1, 0x3B, state, &ch, 0), 0);
  EXPECT_EQ(ToAscii('A', 0x1E | 0x8000, state, &ch, 0), 0) << "key releases give nothing";
}

TEST_F(Keyboard, DeadKeysOfTheInternationalLayout) {
  qx::input::SetLayout(qx::input::Layout::USInternational);
  Press(0x28, false);  // '
  Press(0x12, false);  // e
  Pump();
  EXPECT_EQ(Chars(WM_DEADCHAR), "'");
  EXPECT_EQ(Chars(), "\xE9");
  g_seen.clear();
  Press(0x28, false);
  Press(0x39, false);  // space: the accent itself
  Pump();
  EXPECT_EQ(Chars(), "'");
  g_seen.clear();
  Press(0x28, false);
  Press(0x2D, false);  // x does not combine: both characters
  Pump();
  EXPECT_EQ(Chars(), "'x");
  g_seen.clear();
  Down(0x2A);
  Press(0x29, false);  // ~
  Up(0x2A);
  Press(0x31, false);  // n
  Pump();
  EXPECT_EQ(Chars(), "\xF1");
  EXPECT_EQ(MapVirtualKeyA(VK_OEM_7, MAPVK_VK_TO_CHAR), 0x80000000u | '\'');
}

TEST(KeyboardTables, MapVirtualKeyAndVkKeyScan) {
  qx::input::SetLayout(qx::input::Layout::US);
  EXPECT_EQ(MapVirtualKeyA('A', MAPVK_VK_TO_VSC), 0x1Eu);
  EXPECT_EQ(MapVirtualKeyA(VK_NUMPAD7, MAPVK_VK_TO_VSC), 0x47u);
  EXPECT_EQ(MapVirtualKeyA(0x1E, MAPVK_VSC_TO_VK), static_cast<UINT>('A'));
  EXPECT_EQ(MapVirtualKeyA(0x36, MAPVK_VSC_TO_VK_EX), static_cast<UINT>(VK_RSHIFT));
  EXPECT_EQ(MapVirtualKeyA('A', MAPVK_VK_TO_CHAR), static_cast<UINT>('A'));
  EXPECT_EQ(VkKeyScanA('a'), 'A');
  EXPECT_EQ(VkKeyScanA('A'), 0x100 | 'A');
  EXPECT_EQ(VkKeyScanA('!'), 0x100 | '1');
  EXPECT_EQ(VkKeyScanA('/'), VK_OEM_2);
  EXPECT_EQ(VkKeyScanA('\x03'), 0x200 | 'C');
  char name[32];
  EXPECT_GT(GetKeyNameTextA(0x01480000 /* Up, extended */, name, sizeof name), 0);
  EXPECT_STREQ(name, "Up");
}

// A key injected by the automation wakes a thread waiting in
// MsgWaitForMultipleObjects as a real key does: whether it was injected
// before the wait began or while the thread waits, and also under a mask of
// keys only.
TEST_F(Keyboard, InjectedKeysEndAMessageWait) {
  struct Case {
    const char *what;
    bool during_wait;
    DWORD mask;
  };
  const Case cases[] = {
      {"injected before the wait", false, QS_ALLINPUT},
      {"injected while waiting", true, QS_ALLINPUT},
      {"injected while waiting, keys only", true, QS_KEY},
  };
  for (const Case &c : cases) {
    std::thread injector;
    if (c.during_wait) {
      injector = std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Down(0x1E);
      });
    } else {
      Down(0x1E);
    }
    const auto start = std::chrono::steady_clock::now();
    const DWORD r = MsgWaitForMultipleObjects(0, nullptr, FALSE, 10000, c.mask);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (injector.joinable()) injector.join();
    EXPECT_EQ(r, WAIT_OBJECT_0) << c.what;
    EXPECT_LT(waited, std::chrono::seconds(5)) << c.what;
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE)) << c.what;
    EXPECT_EQ(m.wParam, static_cast<WPARAM>('A')) << c.what;
    Up(0x1E);
    Pump();
  }
}

}  // namespace
