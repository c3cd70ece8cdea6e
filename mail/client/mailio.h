// Mail protocol I/O: lines exchanged on a non-blocking socket while window
// messages are pumped, the SMTP reply reader, the conversation text and the
// SMTP result codes with their texts.
#ifndef QX_MAIL_MAILIO_H
#define QX_MAIL_MAILIO_H

#include <cstdint>
#include <string>

using SocketHandle = uintptr_t;

constexpr int kWsaWouldBlock = 10035;  // WSAEWOULDBLOCK
constexpr int kSocketError = -1;       // SOCKET_ERROR

// What the pumping loops need of Winsock and of the window message queue. The
// program's transport sits on the Winsock wrappers and PeekMessage; tests plug
// in their own. Recv and Send behave as recv/send on a non-blocking socket.
class MailTransport {
 public:
  virtual ~MailTransport() = default;
  virtual int Recv(SocketHandle s, char *buffer, int length) = 0;
  virtual int Send(SocketHandle s, const char *data, int length) = 0;
  virtual int LastError() = 0;  // WSAGetLastError after a failed call
  virtual int CloseSocket(SocketHandle s) = 0;
  // Dispatches every queued window message (IsDialogMessage for the
  // conversation window first). Returns false when WM_QUIT was taken; the
  // transport posts it again so that the main loop still ends.
  virtual bool PumpMessages() = 0;
  // Sleeps until the socket may be ready or a window message arrives (or a
  // short time passes), so that waiting does not spin the processor.
  virtual void WaitForWork(SocketHandle s, bool forWrite) = 0;
  // getservbyname(name, NULL)'s port in host order, or 0 when unknown.
  virtual int LookupServicePort(const char *name) { return 0; }
};

// The conversation window ("Verbose", "NonVerbose", "retrieving"); the dialog
// itself is drawn by the program, which gets each line through AddLine.
class ConversationView {
 public:
  virtual ~ConversationView() = default;
  virtual void AddLine(const std::string &text) = 0;
  // Ends the conversation: with verbose the user dismisses it with "&OK".
  virtual void Close(bool verbose) = 0;
};

// One transport state per process.
struct MAIL_IO_STATE {
  MailTransport *transport = nullptr;
  ConversationView *conversation = nullptr;  // none when no dialog is shown
  volatile int cancel = 0;                   // set by the dialog's Cancel button
  unsigned char replyBytes[132] = {};
  int replyCount = 0;
  int replyIndex = 0;
  std::string replyText;  // last reply kept for display and error boxes (<= 131)
  char sendBuffer[2048] = {};
  int sendFill = 0;
};
MAIL_IO_STATE &MailIo();
void SetMailTransport(MailTransport *transport);
void SetConversationView(ConversationView *view);
// Empties the reply and send buffers and clears the cancel flag: a new session.
void ResetMailIo();

int RecvPumping(SocketHandle s, char *buffer, int size);
int SendPumping(SocketHandle s, const char *data, int length);
int ReadReplyByte(SocketHandle s);
int SendBuffered(SocketHandle s, const char *data, int length);
void FlushSendBuffer(SocketHandle s, bool send);
int ReadSmtpReply(bool quit, SocketHandle s, int verbose);
int SmtpCommand(const char *format, const char *argument, SocketHandle s, int verbose);
std::string SmtpErrorText(int code);
void ShowConversationLine(const std::string &text);
void CloseConversation(bool verbose);
int ServicePort(const char *name);
std::string FormatIpAddr(uint32_t address);

constexpr int kReplyCancelled = 999;
constexpr int kSmtpCancelledResult = -11;
// A reply longer than this is treated as a broken connection (a hostile or
// runaway server cannot keep the reader forever).
constexpr int kMaxReplyBytes = 64 * 1024;

#endif
