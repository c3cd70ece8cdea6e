/* clockanswer: the RFC 868 time daemon. Over UDP (37) it answers every
 * datagram with the 4-byte time until idle for 15 seconds; handed a TCP
 * connection (a table row with TCP 37) it sends the time once and closes. */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <ctime>

#include "rfc868.h"

namespace {

bool SendTime(const sockaddr_in *to) {
  unsigned char value[4];
  Rfc868Bytes((long long)time(nullptr), value);
  int sent = to ? WsSendTo(g_DaemonSocket, (const char *)value, 4, 0, (const sockaddr *)to, sizeof *to)
                : WsSend(g_DaemonSocket, (const char *)value, 4, 0);
  return sent == 4;
}

BOOL AnswerTime(HWND window) {
  char request[256];
  sockaddr_in from{};
  int got = DatagramReceive(window, request, 255, &from);
  if (got < 0 && WSAGetLastError() != WSAEMSGSIZE) return WSAGetLastError() == WSAEWOULDBLOCK;
  return SendTime(&from);
}

/* The handed socket's kind never changes: asked once. */
bool IsStreamSocket() {
  static const bool stream = [] {
    int type = 0;
    int length = sizeof type;
    return getsockopt(g_DaemonSocket, SOL_SOCKET, SO_TYPE, (char *)&type, &length) == 0 && type == SOCK_STREAM;
  }();
  return stream;
}

LRESULT CALLBACK ClockWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DAEMON_START && IsStreamSocket()) {
    SendTime(nullptr);
    WsShutdown(g_DaemonSocket, 1);
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DAEMON_READ && IsStreamSocket()) return 0; /* the stream form has nothing to read */
  return DatagramWndProc(window, message, wParam, lParam);
}

const DAEMON_INFO kClockanswer = {"clockanswer", ClockWndProc, TRUE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  g_DatagramAnswer = AnswerTime;
  return DaemonWinMain(&kClockanswer, instance, previous, commandLine, show);
}
