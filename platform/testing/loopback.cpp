// Loopback socket pairs through the layer's Winsock.
#include "qxtest/loopback.h"

namespace qxtest {

WinsockSession::WinsockSession() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

WinsockSession::~WinsockSession() {
  if (ok_) WSACleanup();
}

sockaddr_in Loopback(u_short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

SOCKET Listener(u_short &port) {
  SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
  if (l == INVALID_SOCKET) return l;
  sockaddr_in a = Loopback(0);
  int len = sizeof a;
  if (bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(l, 5) != 0 ||
      getsockname(l, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
    closesocket(l);
    return INVALID_SOCKET;
  }
  port = ntohs(a.sin_port);
  return l;
}

bool ConnectedPair(SOCKET &client, SOCKET &server) {
  client = server = INVALID_SOCKET;
  u_short port = 0;
  SOCKET l = Listener(port);
  if (l == INVALID_SOCKET) return false;
  client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  if (client != INVALID_SOCKET && connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
    server = accept(l, nullptr, nullptr);
  closesocket(l);
  if (server != INVALID_SOCKET) return true;
  if (client != INVALID_SOCKET) closesocket(client);
  client = INVALID_SOCKET;
  return false;
}

}  // namespace qxtest
