/* servers_testd: a TCP daemon for the tests, built on the shared daemon
 * start-up. It greets with "ok" and its argument words, then holds the
 * connection until the client closes it. With the word "bogus" it first posts
 * WM_DAEMON_EXITED for slots 32 and -1 to the super-server. */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <cstring>
#include <string>

namespace {

const UINT WM_TESTD_SOCKET = WM_USER + 10;

LRESULT CALLBACK TestdWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DAEMON_START: {
      std::string greeting = "ok";
      for (int i = 0; i < g_DaemonArgCount; i++) {
        greeting += ' ';
        greeting += g_DaemonArgs[i];
        if (strcmp(g_DaemonArgs[i], "bogus") == 0) {
          PostMessageA(g_PortwardenWindow, WM_DAEMON_EXITED, 32, 0);
          PostMessageA(g_PortwardenWindow, WM_DAEMON_EXITED, (WPARAM)-1, 0);
        }
      }
      greeting += '\n';
      WSAAsyncSelect(g_DaemonSocket, window, WM_TESTD_SOCKET, FD_READ | FD_CLOSE);
      if (SendAllPumping(g_DaemonSocket, greeting.data(), (int)greeting.size()) != (int)greeting.size())
        DestroyWindow(window);
      return 0;
    }
    case WM_TESTD_SOCKET: {
      char buffer[256];
      int got = WsRecv(g_DaemonSocket, buffer, sizeof buffer, 0);
      if (WSAGETSELECTEVENT(lParam) == FD_CLOSE || got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
        DestroyWindow(window);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

const DAEMON_INFO kTestd = {"servers_testd", TestdWndProc, FALSE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return DaemonWinMain(&kTestd, instance, previous, commandLine, show);
}
