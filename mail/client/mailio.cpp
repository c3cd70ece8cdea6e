// Mail protocol I/O: pumping send and receive loops, the buffered DATA sender,
// the SMTP reply reader with telnet refusal, and the SMTP result texts.
#include "mailio.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

MAIL_IO_STATE g_io;

constexpr unsigned char kIac = 255, kWill = 251, kWont = 252, kDo = 253, kDont = 254;

// One pumping loop: window messages first, then (queue empty) the cancel flag,
// then one try of the socket call. Returns the call's result, or `cancelled`
// / `quit` when those ended the loop.
template <typename Call>
int Pumped(SocketHandle s, bool forWrite, Call call, int cancelled, int quit) {
  MailTransport *t = g_io.transport;
  if (!t) return kSocketError;
  for (;;) {
    if (!t->PumpMessages()) return quit;
    if (g_io.cancel) return cancelled;
    int r = call(t);
    if (r >= 0 || t->LastError() != kWsaWouldBlock) return r;
    t->WaitForWork(s, forWrite);
  }
}

// Telnet negotiation inside a reply: refuse every option.
void AnswerTelnet(SocketHandle s) {
  int verb = ReadReplyByte(s);
  if (verb < 0) return;
  unsigned char answer;
  if (verb == kWill || verb == kWont)
    answer = kDont;
  else if (verb == kDo || verb == kDont)
    answer = kWont;
  else
    return;  // any other command byte is dropped with the IAC
  int option = ReadReplyByte(s);
  if (option < 0) return;
  const char reply[3] = {static_cast<char>(kIac), static_cast<char>(answer), static_cast<char>(option)};
  SendPumping(s, reply, 3);
}

void AppendReplyText(char c) {
  if (g_io.replyText.size() < 131) g_io.replyText += c;
}

// One line of the conversation list: a reply line as the server sent it, cut
// at a length no list entry needs to exceed.
constexpr size_t kMaxShownLine = 1024;

}  // namespace

MAIL_IO_STATE &MailIo() { return g_io; }
void SetMailTransport(MailTransport *transport) { g_io.transport = transport; }
void SetConversationView(ConversationView *view) { g_io.conversation = view; }

void ResetMailIo() {
  g_io.cancel = 0;
  g_io.replyCount = g_io.replyIndex = 0;
  g_io.replyText.clear();
  g_io.sendFill = 0;
}

int RecvPumping(SocketHandle s, char *buffer, int size) {
  if (!buffer || size <= 0) return kSocketError;
  int r = Pumped(
      s, false, [&](MailTransport *t) { return t->Recv(s, buffer, size); }, 0, 0);
  return r < 0 ? kSocketError : r;
}

int SendPumping(SocketHandle s, const char *data, int length) {
  int sent = 0;
  while (sent < length) {
    int r = Pumped(
        s, true, [&](MailTransport *t) { return t->Send(s, data + sent, length - sent); }, -2, -3);
    if (r == -2) return length;  // cancelled: as if all was sent
    if (r <= 0) break;           // WM_QUIT or an error: a short count
    sent += r;
  }
  return sent;
}

int ReadReplyByte(SocketHandle s) {
  if (g_io.replyCount == 0) {
    int r = Pumped(
        s, false,
        [&](MailTransport *t) { return t->Recv(s, reinterpret_cast<char *>(g_io.replyBytes), sizeof g_io.replyBytes); },
        -2, -3);
    if (r == -2) return '\n';
    if (r <= 0) return -1;
    g_io.replyCount = r;
    g_io.replyIndex = 0;
  }
  --g_io.replyCount;
  return g_io.replyBytes[g_io.replyIndex++];
}

int SendBuffered(SocketHandle s, const char *data, int length) {
  int taken = 0;
  while (taken < length) {
    int room = static_cast<int>(sizeof g_io.sendBuffer) - g_io.sendFill;
    int piece = length - taken < room ? length - taken : room;
    std::memcpy(g_io.sendBuffer + g_io.sendFill, data + taken, static_cast<size_t>(piece));
    g_io.sendFill += piece;
    if (g_io.sendFill == static_cast<int>(sizeof g_io.sendBuffer)) {
      int sent = SendPumping(s, g_io.sendBuffer, g_io.sendFill);
      g_io.sendFill = 0;
      if (sent < static_cast<int>(sizeof g_io.sendBuffer)) return taken + sent;
    }
    taken += piece;
  }
  return taken;
}

void FlushSendBuffer(SocketHandle s, bool send) {
  if (send && g_io.sendFill > 0) SendPumping(s, g_io.sendBuffer, g_io.sendFill);
  g_io.sendFill = 0;
}

int ReadSmtpReply(bool quit, SocketHandle s, int verbose) {
  g_io.replyText.clear();
  int firstCode = -1;
  int lines = 0;
  long replyBytes = 0;
  for (;;) {
    int code = 0, column = 0;
    bool continuation = false, keepLine = verbose > 0;
    std::string shown;  // this line's kept text, for the conversation list
    for (;;) {
      int c = ReadReplyByte(s);
      if (c == kIac) {
        AnswerTelnet(s);
        continue;
      }
      if (c < 0 || ++replyBytes > kMaxReplyBytes) {
        if (quit) return 221;
        if (verbose > 0) {
          g_io.replyText = "421 Service not available, remote server has closed connection\n";
          ShowConversationLine(g_io.replyText);
        }
        return 421;
      }
      if (c == '\n') break;
      if (c == '\r') continue;
      char ch = static_cast<char>(c);
      // Without Verbose only the text of failure replies (4xx, 5xx) is kept,
      // from after the code and its blank, for the error boxes.
      if (column == 0 && verbose <= 0) keepLine = ch == '5' || ch == '4';
      if (keepLine && (verbose > 0 || column >= 4)) {
        AppendReplyText(ch);
        if (shown.size() < kMaxShownLine) shown += ch;
      }
      if (column < 3 && ch >= '0' && ch <= '9') code = code * 10 + (ch - '0');
      if (column == 3 && ch == '-') continuation = true;
      ++column;
    }
    if (g_io.cancel) return kReplyCancelled;
    // The reply text (for error boxes) gathers the reply's lines up to 131
    // characters; the list shows each line on its own, so a long reply's
    // later lines are not lost from the conversation.
    if (keepLine && column > 0) {
      AppendReplyText('\n');
      ShowConversationLine(shown);
    }
    ++lines;
    if (continuation && lines >= 2 && firstCode >= 0) code = 0;  // from the second continuation on
    if (!continuation && (firstCode < 0 || code == firstCode)) return firstCode < 0 ? code : firstCode;
    if (firstCode < 0) firstCode = code;
  }
}

int SmtpCommand(const char *format, const char *argument, SocketHandle s, int verbose) {
  // The one "%s" of the format takes the argument; CR and LF in it become blanks
  // so that an argument can never start a second command.
  std::string arg = argument ? argument : "";
  for (char &c : arg)
    if (c == '\r' || c == '\n') c = ' ';
  std::string command;
  for (const char *p = format; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      command += arg;
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      command += '%';
      ++p;
    } else
      command += *p;
  }
  if (command.size() > 1021) command.resize(1021);  // wsprintf's 1024-character limit
  if (verbose > 0) ShowConversationLine("---> " + command);
  command += "\r\n";
  SendPumping(s, command.data(), static_cast<int>(command.size()));
  return ReadSmtpReply(std::strcmp(format, "QUIT") == 0, s, verbose);
}

std::string SmtpErrorText(int code) {
  static const std::array<const char *, 14> kTexts = {"Sendmail successful",
                                                      "ETHDEV driver not loaded",
                                                      "Unable to open input file for reading",
                                                      "Unable to get IP address of mailhost",
                                                      "Bad Initial response from host",
                                                      "Bad response to HELO",
                                                      "Bad response to MAIL FROM:",
                                                      "Bad response to RCPT TO:",
                                                      "Bad response to DATA",
                                                      "Bad response to DATA termination",
                                                      "Bad response to QUIT",
                                                      "Message Cancelled by User",
                                                      "Remote host not running SMTP Server",
                                                      "Unknown error number"};
  if (code <= 0) {
    int index = -code;
    if (index >= static_cast<int>(kTexts.size())) index = 13;
    return kTexts[static_cast<size_t>(index)];
  }
  std::string text = std::strerror(code);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void ShowConversationLine(const std::string &text) {
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (g_io.conversation) g_io.conversation->AddLine(line);
}

void CloseConversation(bool verbose) {
  if (g_io.conversation) g_io.conversation->Close(verbose);
}

int ServicePort(const char *name) {
  if (g_io.transport) {
    int port = g_io.transport->LookupServicePort(name);
    if (port > 0) return port;
  }
  if (std::strcmp(name, "smtp") == 0) return 25;
  if (std::strcmp(name, "pop-3") == 0) return 110;
  if (std::strcmp(name, "pop-2") == 0) return 109;
  return 0;
}

std::string FormatIpAddr(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                (address >> 24) & 0xFF);
  return text;
}
