// Helper process for the USER tests: a program with one hidden window that
// reports on standard output what reaches it from other processes.
//   user_peer window TITLE
//     prints "hwnd <value>", then one line "msg <message> <wParam> <lParam> <sender pid>"
//     for each private message (WM_USER and above); WM_CLOSE ends it with exit 0.
//     Message 0x7FF0 replaces the window: a new one is made (its "hwnd <value>"
//     printed) and the old one destroyed, and the program goes on.
//   user_peer focus TITLE
//     a shown window with a child: prints "hwnd <value>" and "child <value>",
//     then "activate <state>" for each WM_ACTIVATE and "focus <hwnd>" for each
//     WM_SETFOCUS; WM_CLOSE ends it with exit 0.
//   user_peer post HWND MSG WPARAM
//     posts one message to HWND and exits 0 (1 with "error <code>" when it fails).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qx/window.h"

namespace {

constexpr UINT kReplaceWindow = 0x7FF0;
bool g_replacing = false;

HWND MakePeerWindow(const char *title) {
  HWND hwnd = CreateWindowA("QxPeerClass", title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                            nullptr, nullptr, nullptr);
  if (hwnd) {
    std::printf("hwnd %lu\n", static_cast<unsigned long>(QX_HANDLE_VALUE(hwnd)));
    std::fflush(stdout);
  }
  return hwnd;
}

LRESULT CALLBACK PeerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kReplaceWindow) {
    MakePeerWindow("replacement");
    g_replacing = true;
    DestroyWindow(hwnd);
    g_replacing = false;
    return 0;
  }
  if (msg >= WM_USER) {
    std::printf("msg %#x %lu %ld %d\n", msg, static_cast<unsigned long>(wparam), static_cast<long>(lparam),
                static_cast<int>(qx::CurrentMessageSenderPid()));
    std::fflush(stdout);
    return 0;
  }
  if (msg == WM_DESTROY) {
    if (!g_replacing) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

int RunWindow(const char *title) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PeerProc;
  wc.lpszClassName = "QxPeerClass";
  if (!RegisterClassA(&wc)) return 2;
  if (!MakePeerWindow(title)) return 3;
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return static_cast<int>(m.wParam);
}

LRESULT CALLBACK FocusProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_ACTIVATE) {
    std::printf("activate %u\n", static_cast<unsigned>(LOWORD(wparam)));
    std::fflush(stdout);
  } else if (msg == WM_SETFOCUS) {
    std::printf("focus %lu\n", static_cast<unsigned long>(QX_HANDLE_VALUE(hwnd)));
    std::fflush(stdout);
    return 0;
  } else if (msg == WM_DESTROY && !GetParent(hwnd)) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

int RunFocusWindow(const char *title) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = FocusProc;
  wc.lpszClassName = "QxFocusPeer";
  if (!RegisterClassA(&wc)) return 2;
  HWND hwnd =
      CreateWindowA("QxFocusPeer", title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr, nullptr, nullptr);
  HWND child = CreateWindowA("QxFocusPeer", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, hwnd, nullptr, nullptr, nullptr);
  if (!hwnd || !child) return 3;
  ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
  std::printf("hwnd %lu\nchild %lu\n", static_cast<unsigned long>(QX_HANDLE_VALUE(hwnd)),
              static_cast<unsigned long>(QX_HANDLE_VALUE(child)));
  std::fflush(stdout);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  return static_cast<int>(m.wParam);
}

int Post(const char *hwnd, const char *msg, const char *wparam) {
  HWND target = QX_HANDLE_FROM(HWND, std::strtoul(hwnd, nullptr, 0));
  if (!PostMessageA(target, static_cast<UINT>(std::strtoul(msg, nullptr, 0)), std::strtoul(wparam, nullptr, 0), 0)) {
    std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::strcmp(argv[1], "window") == 0) return RunWindow(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "focus") == 0) return RunFocusWindow(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "post") == 0) return Post(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: user_peer window TITLE | post HWND MSG WPARAM\n");
  return 2;
}
