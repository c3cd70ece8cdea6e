// A daemon as the super-server starts them, for the hand-over test: its first
// word is "socket.pid.window.slot."; it takes the socket from the starting
// process, reports 0x7FFC, serves one line and reports 0x7FFE with its slot.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kSocketTaken = 0x7FFC;
constexpr UINT kDaemonExited = 0x7FFE;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR args, int) {
  // "show": a program that ignores its nCmdShow still shows as its starter
  // asked; the exit code tells whether its window ended up visible (21) or not (20).
  if (std::strncmp(args, "show", 4) == 0) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.lpszClassName = "QxShowProbe";
    RegisterClassA(&wc);
    HWND hwnd =
        CreateWindowExA(0, "QxShowProbe", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    return IsWindowVisible(hwnd) ? 21 : 20;
  }
  int numbers[4];
  const char *p = args;
  for (int &n : numbers) {
    const char *dot = std::strchr(p, '.');
    if (!dot) return 1;
    n = std::atoi(p);
    p = dot + 1;
  }
  const SOCKET handed = static_cast<SOCKET>(numbers[0]);
  const HWND server = QX_HANDLE_FROM(HWND, numbers[2]);
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 2;
  HANDLE source = OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(numbers[1]));
  HANDLE mine = nullptr;
  const BOOL ok = source && DuplicateHandle(source, QX_HANDLE_FROM(HANDLE, handed), GetCurrentProcess(), &mine, 0,
                                            FALSE, DUPLICATE_SAME_ACCESS);
  if (source) CloseHandle(source);
  PostMessageA(server, kSocketTaken, handed, 0);
  int rc = 0;
  if (ok) {
    const SOCKET s = static_cast<SOCKET>(QX_HANDLE_VALUE(mine));
    char line[80];
    const int n = std::snprintf(line, sizeof line, "served by daemon, parameters \"%s\"\r\n", p + (*p == ' '));
    if (send(s, line, n, 0) != n) rc = 4;
    closesocket(s);
  } else {
    rc = 3;
  }
  WSACleanup();
  PostMessageA(server, kDaemonExited, static_cast<WPARAM>(numbers[3]), 0);
  return rc;
}
