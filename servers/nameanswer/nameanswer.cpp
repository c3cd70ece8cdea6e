/* nameanswer: the IEN 116 trivial name daemon (UDP 42). Answers each request
 * with the IPv4 address of the host name, or "Unknown machine". */
#include <qxcommon.h>
#include <qxdaemon.h>

#include "ien116.h"

namespace {

BOOL AnswerNameQuery(HWND window) {
  unsigned char request[IEN116_REQUEST_MAX];
  sockaddr_in from{};
  int got = DatagramReceive(window, (char *)request, sizeof request, &from);
  if (got < 0) {
    if (WSAGetLastError() != WSAEMSGSIZE) return TRUE; /* nothing to answer; the daemon goes on */
    got = sizeof request;
  }
  char name[IEN116_REQUEST_MAX];
  if (!Ien116Name(request, got, name, sizeof name)) return TRUE; /* a length past the datagram: dropped */
  const hostent *host = gethostbyname(name);
  const unsigned char *address = nullptr;
  if (host && host->h_length == 4 && host->h_addr_list && host->h_addr_list[0])
    address = (const unsigned char *)host->h_addr_list[0];
  unsigned char reply[IEN116_REPLY_MAX];
  int length = Ien116Reply(request, address, reply);
  WsSendTo(g_DaemonSocket, (const char *)reply, length, 0, (const sockaddr *)&from, sizeof from);
  return TRUE;
}

const DAEMON_INFO kNameanswer = {"nameanswer", DatagramWndProc, TRUE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  g_DatagramAnswer = AnswerNameQuery;
  return DaemonWinMain(&kNameanswer, instance, previous, commandLine, show);
}
