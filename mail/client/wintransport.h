// The mail client's transport for the protocol loops: Winsock on a
// non-blocking socket and the thread's window message queue.
#ifndef QX_MAIL_WINTRANSPORT_H
#define QX_MAIL_WINTRANSPORT_H

#include "mailio.h"

struct tagMSG;

class WinsockMailTransport : public MailTransport {
 public:
  // Lets the conversation dialog take its own messages (IsDialogMessage);
  // returns nonzero when it took the message.
  int (*dialogFilter)(const tagMSG *message) = nullptr;

  int Recv(SocketHandle s, char *buffer, int length) override;
  int Send(SocketHandle s, const char *data, int length) override;
  int LastError() override;
  int CloseSocket(SocketHandle s) override;
  bool PumpMessages() override;
  void WaitForWork(SocketHandle s, bool forWrite) override;
  int LookupServicePort(const char *name) override;
};

#endif
