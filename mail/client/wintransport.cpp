// The mail client's transport: Winsock calls on the session's non-blocking
// socket through the common library's wrappers (so "/debug" traces the mail
// conversation), and the window messages pumped while a call would block.
#include "wintransport.h"

// Last, so that the layer's names are not undone by standard headers.
#include <qxcommon.h>

namespace {
// How long a wait for the socket lasts before the message queue is looked at
// again: short enough for a responsive window, long enough not to spin.
constexpr long kWaitMicroseconds = 20000;
}  // namespace

int WinsockMailTransport::Recv(SocketHandle s, char *buffer, int length) {
  return WsRecv(static_cast<SOCKET>(s), buffer, length, 0);
}

int WinsockMailTransport::Send(SocketHandle s, const char *data, int length) {
  return WsSend(static_cast<SOCKET>(s), data, length, 0);
}

int WinsockMailTransport::LastError() { return WSAGetLastError(); }

int WinsockMailTransport::CloseSocket(SocketHandle s) { return WsCloseSocket(static_cast<SOCKET>(s)); }

bool WinsockMailTransport::PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // the main loop still ends
      return false;
    }
    if (dialogFilter && dialogFilter(&message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

void WinsockMailTransport::WaitForWork(SocketHandle s, bool forWrite) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(s), &set);
  timeval wait{0, kWaitMicroseconds};
  select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &wait);
}

int WinsockMailTransport::LookupServicePort(const char *name) {
  const servent *entry = getservbyname(name, nullptr);
  return entry ? ntohs(static_cast<u_short>(entry->s_port)) : 0;
}
