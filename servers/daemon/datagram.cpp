/* The window procedure of the datagram daemons (quote, name, time): answer
 * each datagram as it comes, end after a quiet spell or a failed answer. */
#include "qxdaemon.h"

#include <qxcommon.h>

#include <cstdlib>

DATAGRAM_ANSWER g_DatagramAnswer = nullptr;

UINT DaemonIdleMs(void) {
  /* Only the tests shorten the idle time; nothing else reads this variable. */
  const char *text = getenv("QX_TEST_DAEMON_IDLE_MS");
  if (text && *text) {
    long ms = strtol(text, nullptr, 10);
    if (ms > 0 && ms < DAEMON_IDLE_MS) return (UINT)ms;
  }
  return DAEMON_IDLE_MS;
}

int DatagramReceive(HWND window, char *buffer, int size, struct sockaddr_in *from) {
  int fromLength = sizeof *from;
  int got = WsRecvFrom(g_DaemonSocket, buffer, size, 0, (struct sockaddr *)from, &fromLength);
  WSAAsyncSelect(g_DaemonSocket, window, WM_DAEMON_READ, FD_READ);
  return got;
}

LRESULT CALLBACK DatagramWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DAEMON_READ:
      if (!g_DatagramAnswer || !g_DatagramAnswer(window)) {
        DestroyWindow(window);
      } else {
        KillTimer(window, DAEMON_IDLE_TIMER);
        SetTimer(window, DAEMON_IDLE_TIMER, DaemonIdleMs(), nullptr);
      }
      return 0;
    case WM_TIMER: DestroyWindow(window); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == DAEMON_CMD_QUIT) DestroyWindow(window);
      return 0;
    case WM_DAEMON_START: return 0;
    case WM_DESTROY:
      KillTimer(window, DAEMON_IDLE_TIMER);
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}
