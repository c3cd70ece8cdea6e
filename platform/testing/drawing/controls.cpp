// Helpers of the tests of controls, dialogs and windows that use them (see
// qxtest/controls.h).
#include "qxtest/controls.h"

#include <string>

#include "qx/display.h"
#include "qx/window.h"
#include "qxtest/support.h"

namespace qx::test {
namespace {

// Every test process draws headless into its own runtime directory, so the
// shared clipboard and window records of one test never meet another's.
const qxtest::HeadlessDisplay g_headless;

LRESULT CALLBACK ParentProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COMMAND && lp) Notices().push_back({LOWORD(wp), static_cast<int>(static_cast<short>(HIWORD(wp)))});
  return DefWindowProcA(h, m, wp, lp);
}

}  // namespace

std::vector<Notice> &Notices() {
  static std::vector<Notice> n;
  return n;
}

std::vector<int> CodesFrom(int id) {
  std::vector<int> out;
  for (const Notice &n : Notices())
    if (n.id == id) out.push_back(n.code);
  return out;
}

HWND MakeParent(int w, int h) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ParentProc;
    wc.lpszClassName = "QxTestParent";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassA(&wc);
    registered = true;
  }
  HWND p = CreateWindowA("QxTestParent", "Controls", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, w, h, nullptr, nullptr,
                         nullptr, nullptr);
  SetActiveWindow(p);
  Pump();
  return p;
}

HWND MakeChild(HWND parent, const char *cls, DWORD style, int id, int x, int y, int w, int h, const char *text) {
  return CreateWindowA(cls, text, style | WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void Pump() {
  MSG m;
  for (int round = 0; round < 4; ++round) {
    if (display::DriverStarted()) Display().PumpInput();
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
}

bool InputDrained() { return !display::InputPending() && HIWORD(GetQueueStatus(QS_INPUT | QS_POSTMESSAGE)) == 0; }

void DestroyAll() {
  for (auto &w : LocalWindows())
    if (!w->parent) DestroyWindow(w->hwnd);
  Pump();
  Notices().clear();
}

void Key(BYTE scan, bool ext) {
  display::InjectKey(scan, ext, true);
  display::InjectKey(scan, ext, false);
}

void KeyWith(BYTE modifier, BYTE scan, bool ext) {
  display::InjectKey(modifier, false, true);
  Key(scan, ext);
  display::InjectKey(modifier, false, false);
}

void Type(const std::string &text) { display::TypeText(text); }

BYTE ScanOf(char letter) {
  static const char kRow1[] = "qwertyuiop", kRow2[] = "asdfghjkl", kRow3[] = "zxcvbnm";
  for (int i = 0; kRow1[i]; ++i)
    if (kRow1[i] == letter) return static_cast<BYTE>(0x10 + i);
  for (int i = 0; kRow2[i]; ++i)
    if (kRow2[i] == letter) return static_cast<BYTE>(0x1E + i);
  for (int i = 0; kRow3[i]; ++i)
    if (kRow3[i] == letter) return static_cast<BYTE>(0x2C + i);
  return 0;
}

std::string TextOf(HWND h) {
  const int n = GetWindowTextLengthA(h);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(h, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

}  // namespace qx::test
