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

namespace {

/* A lock-step client sends its next request within microseconds of our
 * answer: the daemon waits this long for it on the socket before going back
 * to its queue (a wake-up through the queue costs more than the request), and
 * answers at most this many datagrams per message, so that its timer and
 * other messages still run between batches. */
constexpr long kNextRequestWaitMicros = 2000;
constexpr int kAnswersPerMessage = 64;

bool NextRequestArrives(void) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(g_DaemonSocket, &readable);
  timeval wait{0, kNextRequestWaitMicros};
  return select(0, &readable, nullptr, nullptr, &wait) > 0;
}

/* Answers the datagram, and those that follow at once; a failed answer ends
 * the daemon, else the idle time starts again. */
LRESULT OnDatagramRead(HWND window) {
  for (int answered = 0;;) {
    if (!g_DatagramAnswer || !g_DatagramAnswer(window)) {
      DestroyWindow(window);
      return 0;
    }
    if (++answered == kAnswersPerMessage || !NextRequestArrives()) break;
  }
  KillTimer(window, DAEMON_IDLE_TIMER);
  SetTimer(window, DAEMON_IDLE_TIMER, DaemonIdleMs(), nullptr);
  return 0;
}

}  // namespace

LRESULT CALLBACK DatagramWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DAEMON_READ: return OnDatagramRead(window);
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
