// Layer side of the echo benchmark: the same echo written as the suite's
// servers are, a window procedure driven by WSAAsyncSelect messages.
#include <windows.h>
#include <winsock.h>

#include "echo_common.h"

namespace qxbench {
namespace {

constexpr UINT kSocketMessage = 0x7FFF;

LRESULT CALLBACK EchoProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg != kSocketMessage) return DefWindowProcA(hwnd, msg, wparam, lparam);
  const SOCKET s = static_cast<SOCKET>(wparam);
  switch (WSAGETSELECTEVENT(lparam)) {
    case FD_READ: {
      char buf[4096];
      const int n = recv(s, buf, sizeof buf, 0);
      if (n > 0) send(s, buf, n, 0);
      break;
    }
    case FD_CLOSE: PostQuitMessage(0); break;
  }
  return 0;
}

}  // namespace

void AsyncSelectEchoServer(int server) {
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
  WNDCLASSA wc{};
  wc.lpfnWndProc = EchoProc;
  wc.lpszClassName = "QxEchoBench";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "QxEchoBench", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  WSAAsyncSelect(static_cast<SOCKET>(server), hwnd, kSocketMessage, FD_READ | FD_CLOSE);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  closesocket(static_cast<SOCKET>(server));
  DestroyWindow(hwnd);
  WSACleanup();
}

}  // namespace qxbench
