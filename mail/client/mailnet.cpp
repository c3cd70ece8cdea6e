// Connections of the mail sessions through the common library's socket
// wrappers, so that "/debug" traces them like every other socket call.
#include "mailnet.h"

#include <cstring>

#include <qxcommon.h>

uint32_t HostAddress(const char *host) {
  if (!host || !*host) return kNoAddress;
  const hostent *entry = gethostbyname(host);
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list[0]) return kNoAddress;
  uint32_t address;
  std::memcpy(&address, entry->h_addr_list[0], 4);
  return address;
}

uint32_t HostAddressOrDotted(const char *host) {
  if (!host || !*host) return kNoAddress;
  uint32_t address = inet_addr(host);
  return address != kNoAddress ? address : HostAddress(host);
}

MAIL_CONNECTION ConnectMailHost(uint32_t address, int port) {
  MAIL_CONNECTION c;
  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    c.socketError = WSAGetLastError();
    if (c.socketError == 0) c.socketError = WSAENOBUFS;
    return c;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  WsBind(s, reinterpret_cast<sockaddr *>(&local), sizeof local);  // a failure here shows at connect
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<u_short>(port));
  peer.sin_addr.s_addr = address;
  if (WsConnect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
    c.connectError = WSAGetLastError();
    if (c.connectError == 0) c.connectError = WSAECONNREFUSED;
    WsCloseSocket(s);
    return c;
  }
  u_long on = 1;
  WsIoctlSocket(s, FIONBIO, &on);
  c.socket = static_cast<SocketHandle>(s);
  return c;
}

void CloseMailSocket(SocketHandle s) { WsCloseSocket(static_cast<SOCKET>(s)); }
