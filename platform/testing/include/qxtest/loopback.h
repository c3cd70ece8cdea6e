// Socket pairs over the loopback interface through the layer's Winsock.
#pragma once

#include <winsock.h>

namespace qxtest {

// WSAStartup for the object's life.
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

sockaddr_in Loopback(u_short port);
// A listening TCP socket on a free loopback port (INVALID_SOCKET on failure).
SOCKET Listener(u_short &port);
// A connected TCP pair over loopback: the client and the accepted server end.
// False (both INVALID_SOCKET) when any step failed.
bool ConnectedPair(SOCKET &client, SOCKET &server);

}  // namespace qxtest
