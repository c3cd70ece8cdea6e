// A small client of the suite's shape for the trace tests: started with
// "/debug" and a port, it connects to a loopback server through the
// wrappers, sends one line while pumping, and reads until the server closes.
#include <windows.h>
#include <winsock.h>

#include <cstdlib>

#include "qxcommon.h"

namespace {

// Waits until the socket has something to read (data or the close).
bool WaitReadable(SOCKET s) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  struct timeval timeout {
    10, 0
  };
  return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  DebugLogOpen(instance, commandLine);
  const int port = std::atoi(commandLine);
  WSADATA data;
  if (port <= 0 || port > 65535 || WSAStartup(MAKEWORD(1, 1), &data) != 0) return 2;

  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  WsBind(s, reinterpret_cast<sockaddr *>(&local), sizeof local);
  int one = 1;
  WsSetSockOpt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char *>(&one), sizeof one);
  sockaddr_in server = local;
  server.sin_port = htons(static_cast<u_short>(port));
  if (WsConnect(s, reinterpret_cast<sockaddr *>(&server), sizeof server) != 0) return 3;
  u_long on = 1;
  WsIoctlSocket(s, FIONBIO, &on);

  // The server speaks only after our line: these three reads would block.
  char buf[512];
  for (int i = 0; i < 3; ++i) WsRecv(s, buf, sizeof buf, 0);
  static const char kLine[] = "HELO qx\r\n";
  if (SendAllPumping(s, kLine, sizeof kLine - 1) != sizeof kLine - 1) return 4;
  while (WaitReadable(s) && WsRecv(s, buf, sizeof buf, 0) > 0) {
  }
  WsShutdown(s, 1);
  WsCloseSocket(s);
  WSACleanup();
  return 0;
}
