// Connections of the mail client's sessions: the host's address and a stream
// socket connected to it, switched to non-blocking mode for the pumping loops.
#ifndef QX_MAIL_MAILNET_H
#define QX_MAIL_MAILNET_H

#include <cstdint>

#include "mailio.h"

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;  // INADDR_NONE
constexpr int kWsaConnRefused = 10061;        // WSAECONNREFUSED

// The first IPv4 address of gethostbyname (which also reads dotted
// addresses), or kNoAddress.
uint32_t HostAddress(const char *host);
// inet_addr first, then gethostbyname: SMTP's order.
uint32_t HostAddressOrDotted(const char *host);

struct MAIL_CONNECTION {
  SocketHandle socket = 0;
  int socketError = 0;   // nonzero: no socket could be made (the Winsock error)
  int connectError = 0;  // nonzero: connect failed (the Winsock error)
};
// A stream socket bound to port 0 and connected to address:port (host
// order); on success non-blocking. A failed connect closes the socket.
MAIL_CONNECTION ConnectMailHost(uint32_t address, int port);
void CloseMailSocket(SocketHandle s);

#endif
