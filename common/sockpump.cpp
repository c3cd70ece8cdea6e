// Receiving and sending on a socket while the program's windows keep being
// served: the daemons (gopher, LPD, finger) and the talk and utility clients
// wait here instead of spinning on a non-blocking socket. A wait sleeps on
// the socket's readiness in short slices and looks at the message queue
// between them, and gives up when the peer has been silent for the idle time.
#include "qxcommon.h"

#include <chrono>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// Between two looks at the message queue the thread sleeps on the socket
// for at most this long: windows answer within it, and an idle wait costs
// twenty wake-ups a second, not a core.
constexpr long kSliceMicros = 50000;

DWORD g_IdleMs = 0; /* 0: not set by the program; the default or the test setting */

// Takes one pending message: 0 none, 1 dispatched, -1 WM_QUIT (posted again
// so that the program's own loop still ends).
int DispatchPending() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return 0;
  if (msg.message == WM_QUIT) {
    PostQuitMessage((int)msg.wParam);
    return -1;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return 1;
}

// Sleeps until the socket can be read (or written), for at most one slice.
// A closed or failed socket counts as ready: the next call reports it. A
// connection the peer reset shows in the exception set, not among the
// writable sockets, so a wait to write watches both; otherwise it would
// come back at once, not ready, until the idle time ran out.
bool WaitReady(SOCKET s, bool forWrite, long micros) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set failed = set;
  struct timeval timeout {
    0, micros
  };
  int ready = forWrite ? select(0, nullptr, &set, &failed, &timeout) : select(0, &set, nullptr, nullptr, &timeout);
  return ready != 0; /* an error of select itself: let the socket call say what it is */
}

long SliceUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left < kSliceMicros ? (long)left : kSliceMicros;
}

}  // namespace

DWORD SockPumpIdleMs(void) {
  if (g_IdleMs) return g_IdleMs;
  /* Only the tests shorten the idle time; nothing else sets this variable. */
  if (const char *text = getenv("QX_TEST_PUMP_IDLE_MS")) {
    long ms = strtol(text, nullptr, 10);
    if (ms > 0 && ms < SOCK_PUMP_IDLE_MS) return (DWORD)ms;
  }
  return SOCK_PUMP_IDLE_MS;
}

void SockPumpSetIdleMs(DWORD ms) { g_IdleMs = ms; }

int SockRecvPumpingFor(SOCKET s, char *buffer, int size, DWORD waitMs) {
  if (!buffer || size <= 0) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const int pumped = DispatchPending();
    if (pumped < 0) return SOCK_PUMP_QUIT;
    if (pumped > 0) continue; /* every pending message before the socket */
    const long slice = SliceUntil(deadline);
    if (!WaitReady(s, false, slice)) {
      if (slice == 0) {
        WSASetLastError(WSAETIMEDOUT);
        return SOCKET_ERROR;
      }
      continue;
    }
    const int got = WsRecv(s, buffer, size, 0);
    if (got >= 0) return got;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return SOCKET_ERROR;
  }
}

int SockRecvPumping(SOCKET s, char *buffer, int size) { return SockRecvPumpingFor(s, buffer, size, SockPumpIdleMs()); }

int SockSendAll(SOCKET s, const char *data, int length) {
  int sent = 0;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(SockPumpIdleMs());
  while (sent < length) {
    const int pumped = DispatchPending();
    if (pumped < 0) break;
    if (pumped > 0) continue;
    const long slice = SliceUntil(deadline);
    if (!WaitReady(s, true, slice)) {
      if (slice == 0) { /* the peer took nothing for the whole idle time */
        WSASetLastError(WSAETIMEDOUT);
        break;
      }
      continue;
    }
    const int result = WsSend(s, data + sent, length - sent, 0);
    if (result == SOCKET_ERROR) {
      if (WSAGetLastError() != WSAEWOULDBLOCK) break;
      continue;
    }
    sent += result;
    if (result > 0) deadline = Clock::now() + std::chrono::milliseconds(SockPumpIdleMs());
  }
  return sent;
}
