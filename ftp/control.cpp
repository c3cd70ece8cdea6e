// The control connection: connecting, pumped sends and receives, the reply
// reader, bounded commands, login, PORT and the data-connection accept, and
// the current directory (PWD, CWD).
#include "ftpcore.h"

#include <common/qxcommon.h>

#include <cstdio>
#include <cstring>

#include <winsock.h>

FTP_PANE g_Panes[2];
int g_ActivePane = 0;
int g_Unattended = 0;
volatile int g_Abort = 0;
DWORD g_ReplyTimeoutMs = 120000;
DWORD g_AcceptTimeoutMs = 60000;
uint32_t g_LocalAddress = 0;

namespace {

FtpUi g_defaultUi;
FtpUi *g_ui = &g_defaultUi;

// The command and last-reply-line buffer: commands are formatted into it and
// every reply line read is copied into it.
char g_replyLine[256];
std::string g_firstLine;
int g_lineCount = 0;

constexpr unsigned short kFtpPort = 21;
constexpr int kIac = 255, kWill = 251, kDont = 254;
// How long one wait for the socket lasts before the queue is looked at again.
constexpr long kWaitMicroseconds = 20000;

bool ValidPane(int pane) { return pane == 0 || pane == 1; }

// Waits until the socket may be ready or a short time passes.
void WaitSocket(SOCKET s, bool forWrite) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{0, kWaitMicroseconds};
  select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &wait);
}

void SetStatus(const char *text) { g_ui->SetStatus(text); }

}  // namespace

bool FtpUi::PumpMessages() { return ::PumpMessages() == 0; }

void SetFtpUi(FtpUi *ui) { g_ui = ui ? ui : &g_defaultUi; }
FtpUi &Ui() { return *g_ui; }

const char *LastReplyLine() { return g_replyLine; }
const std::string &FirstReplyLine() { return g_firstLine; }
int ReplyLineCount() { return g_lineCount; }

SOCKET FtpConnect(int pane) {
  if (!ValidPane(pane)) return INVALID_SOCKET;
  FTP_PANE &p = g_Panes[pane];
  SetStatus("Connecting ...");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kFtpPort);
  address.sin_addr.s_addr = inet_addr(p.host);
  if (address.sin_addr.s_addr == INADDR_NONE) {
    const hostent *entry = gethostbyname(p.host);
    if (!entry || entry->h_addrtype != AF_INET || !entry->h_addr_list[0]) {
      char text[128];
      snprintf(text, sizeof text, "Unknown Host:\n%s", p.host);
      g_ui->ShowError(text, "Ftp");
      return INVALID_SOCKET;
    }
    memcpy(&address.sin_addr, entry->h_addr_list[0], 4);
  }
  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    g_ui->ShowError("Socket Error", "Ftp");
    return INVALID_SOCKET;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (WsBind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
    WsCloseSocket(s);
    g_ui->ShowError("Bind Error", "Ftp");
    return INVALID_SOCKET;
  }
  if (WsConnect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    WsCloseSocket(s);
    g_ui->ShowError("Connect Error", "Ftp");
    return INVALID_SOCKET;
  }
  u_long on = 1;
  WsIoctlSocket(s, FIONBIO, &on);
  p.control = s;
  g_ActivePane = pane;
  return s;
}

int FtpSendAll(SOCKET s, const char *data, int length) {
  int sent = 0;
  while (sent < length) {
    if (!g_ui->PumpMessages() || g_Abort) break;
    const int r = WsSend(s, data + sent, length - sent, 0);
    if (r > 0) {
      sent += r;
      continue;
    }
    if (r < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
      WaitSocket(s, true);
      continue;
    }
    break;
  }
  return sent;
}

int FtpRecv(SOCKET s, char *buffer, int size) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (!g_ui->PumpMessages() || g_Abort) return -1;
    const int r = WsRecv(s, buffer, size, 0);
    if (r >= 0) return r;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return r;
    if (GetTickCount() - start > g_ReplyTimeoutMs) return -1;
    WaitSocket(s, false);
  }
}

int ReadReply(int quiet, int pane) {
  if (!ValidPane(pane) || g_Panes[pane].control == INVALID_SOCKET) return -1;
  const SOCKET s = g_Panes[pane].control;
  g_firstLine.clear();
  g_lineCount = 0;
  int firstCode = 0, continuations = 0;
  for (;;) {
    int code = 0, column = 0, filled = 0;
    char first = 0;
    for (;;) {
      unsigned char byte;
      const int c = FtpRecv(s, reinterpret_cast<char *>(&byte), 1) < 1 ? -1 : byte;
      if (c == '\n') break;
      if (c == kIac) {
        // Telnet commands inside a reply are dropped, never answered.
        unsigned char verb;
        if (FtpRecv(s, reinterpret_cast<char *>(&verb), 1) == 1 && verb >= kWill && verb <= kDont) {
          unsigned char option;
          FtpRecv(s, reinterpret_cast<char *>(&option), 1);
        }
        continue;
      }
      if (c < 0) {
        if (quiet) {
          snprintf(g_replyLine, sizeof g_replyLine, "221 ");
          return 0;
        }
        g_ui->ShowError("Remote host has dropped connection.", "FTP Error");
        return -1;
      }
      ++column;
      if (column <= 3 && c >= '0' && c <= '9') code = code * 10 + (c - '0');
      if (column == 4 && c == '-') {
        if (continuations == 0)
          continuations = 1;
        else {
          code = 0;
          ++continuations;
        }
      }
      if (column == 1) first = static_cast<char>(c);
      if (filled < 255) g_replyLine[filled++] = static_cast<char>(c);
    }
    if (filled > 0 && g_replyLine[filled - 1] == '\r') --filled;
    g_replyLine[filled] = 0;
    ++g_lineCount;
    if (g_lineCount == 1) {
      g_firstLine = g_replyLine;
    } else {
      if (g_lineCount == 2 && !g_Unattended) g_ui->InfoAdd(g_firstLine.c_str());
      if (!g_Unattended) g_ui->InfoAdd(g_replyLine);
    }
    SetStatus(g_replyLine);
    if (continuations == 0 || code == firstCode) {
      if (code == 421 || firstCode == 421) return -1;
      return first - '0';
    }
    if (firstCode == 0) firstCode = code;
  }
}

void ShowReplyError() { g_ui->ShowError(g_replyLine, "FTP Error"); }

void ClosePaneConnection(int pane) {
  if (!ValidPane(pane)) return;
  FTP_PANE &p = g_Panes[pane];
  if (p.control != INVALID_SOCKET) WsCloseSocket(p.control);
  p.control = INVALID_SOCKET;
  p.kind = kPaneClosed;
  p.entries.clear();
  ShowReplyError();
  g_ui->EnableOpenRemote();
}

int FtpCommand(int pane, const char *verb, const std::string *argument) {
  if (!ValidPane(pane) || g_Panes[pane].control == INVALID_SOCKET) return -1;
  if (argument && argument->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    g_ui->ShowError(
        "The name or text to send holds a line break or a zero byte, which would end the command early; "
        "nothing was sent.",
        "Ftp");
    return -1;
  }
  const int n = argument ? snprintf(g_replyLine, sizeof g_replyLine, "%s %s\r\n", verb, argument->c_str())
                         : snprintf(g_replyLine, sizeof g_replyLine, "%s\r\n", verb);
  if (n < 0 || n >= static_cast<int>(sizeof g_replyLine)) {
    g_replyLine[0] = 0;
    g_ui->ShowError("The command is longer than the 253 characters a command line may hold; nothing was sent.", "Ftp");
    return -1;
  }
  return FtpSendAll(g_Panes[pane].control, g_replyLine, n) == n ? 0 : -1;
}

int FtpCommandReply(int pane, const char *verb, const std::string *argument, int quiet) {
  if (FtpCommand(pane, verb, argument) != 0) return -1;
  return ReadReply(quiet, pane);
}

int FtpLogin(int pane, const LOGIN_FIELDS &fields) {
  FTP_PANE &p = g_Panes[pane];
  const int greeting = ReadReply(0, pane);
  if (greeting < 0) {
    // The server never greeted: the connection is of no use.
    if (p.control != INVALID_SOCKET) WsCloseSocket(p.control);
    p.control = INVALID_SOCKET;
    p.kind = kPaneClosed;
    return -1;
  }
  p.greeting = g_firstLine;
  // A line of "ftp.cfg" chosen by the greeting describes this server's
  // listings for the whole connection.
  p.ruleLine = SelectHostRule(p.greeting);
  if (!p.ruleLine.empty()) p.kind = kHostRules;
  if (greeting >= 3) {
    ClosePaneConnection(pane);
    return 0;
  }
  const std::string user = fields.user.empty() ? std::string("anonymous") : fields.user;
  const std::string password = fields.password.empty() ? fields.anonymousName : fields.password;
  int reply = FtpCommandReply(pane, "USER", &user);
  if (reply == 3) {
    reply = FtpCommandReply(pane, "PASS", &password);
    if (reply == 3) {
      reply = FtpCommandReply(pane, "ACCT", &fields.account);
    } else if (reply == 2 && !fields.account.empty()) {
      reply = FtpCommandReply(pane, "ACCT", &fields.account);
    }
  } else if (reply == 2 && !fields.account.empty()) {
    reply = FtpCommandReply(pane, "ACCT", &fields.account);
  }
  if (reply != 2) {
    if (p.control != INVALID_SOCKET) ClosePaneConnection(pane);
    return 0;
  }
  return 1;
}

std::string PortArgument(uint32_t address, unsigned short port) {
  char text[64];
  snprintf(text, sizeof text, "%u,%u,%u,%u,%u,%u", (address >> 24) & 255, (address >> 16) & 255, (address >> 8) & 255,
           address & 255, port >> 8, port & 255);
  return text;
}

namespace {

SOCKET FailDataPort(SOCKET s, const char *text) {
  WsCloseSocket(s);
  g_ui->ShowError(text, "Ftp");
  return INVALID_SOCKET;
}

// The address of the pane's control connection on this machine: the one
// address the server is sure to reach us at (the machine's name may resolve
// to another interface, or to 127.0.1.1).
uint32_t ControlLocalAddress(int pane) {
  sockaddr_in local{};
  int length = sizeof local;
  if (getsockname(g_Panes[pane].control, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
      local.sin_addr.s_addr != 0)
    return ntohl(local.sin_addr.s_addr);
  return g_LocalAddress;
}

bool ControlPeer(int pane, in_addr *peer) {
  sockaddr_in remote{};
  int length = sizeof remote;
  if (getpeername(g_Panes[pane].control, reinterpret_cast<sockaddr *>(&remote), &length) != 0) return false;
  *peer = remote.sin_addr;
  return true;
}

bool ControlReadable(int pane) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(g_Panes[pane].control, &set);
  timeval none{0, 0};
  return select(0, &set, nullptr, nullptr, &none) > 0;
}

// One accept on the listening socket: the data socket, or INVALID_SOCKET
// when no connection (from the right peer) is waiting.
SOCKET TryAccept(SOCKET listener, bool checkPeer, in_addr peer) {
  for (;;) {
    sockaddr_in from{};
    int length = sizeof from;
    SOCKET data = WsAccept(listener, reinterpret_cast<sockaddr *>(&from), &length);
    if (data == INVALID_SOCKET) return INVALID_SOCKET;
    if (!checkPeer || from.sin_addr.s_addr == peer.s_addr) return data;
    WsCloseSocket(data);  // someone else: not our data connection
  }
}

}  // namespace

SOCKET OpenDataPort(int pane) {
  if (!ValidPane(pane) || g_Panes[pane].control == INVALID_SOCKET) return INVALID_SOCKET;
  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    g_ui->ShowError("Socket Error", "Ftp");
    return INVALID_SOCKET;
  }
  u_long on = 1;
  WsIoctlSocket(s, FIONBIO, &on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (WsBind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) return FailDataPort(s, "Bind Error");
  if (listen(s, 5) != 0) return FailDataPort(s, "Bind Error");
  int length = sizeof local;
  getsockname(s, reinterpret_cast<sockaddr *>(&local), &length);
  const std::string argument = PortArgument(ControlLocalAddress(pane), ntohs(local.sin_port));
  if (FtpCommandReply(pane, "PORT", &argument) != 2) return FailDataPort(s, "Port Error");
  WsIoctlSocket(s, FIONBIO, &on);
  return s;
}

SOCKET AcceptData(SOCKET listener, int pane, const char *verb, const std::string *argument) {
  in_addr peer{};
  const bool checkPeer = ControlPeer(pane, &peer);
  if (FtpCommand(pane, verb, argument) != 0) {
    WsCloseSocket(listener);
    return INVALID_SOCKET;
  }
  SOCKET data = TryAccept(listener, checkPeer, peer);
  if (ReadReply(0, pane) != 1) {
    if (data != INVALID_SOCKET) WsCloseSocket(data);
    WsCloseSocket(listener);
    return INVALID_SOCKET;
  }
  const DWORD start = GetTickCount();
  while (data == INVALID_SOCKET) {
    if (!g_ui->PumpMessages() || g_Abort) break;
    data = TryAccept(listener, checkPeer, peer);
    if (data != INVALID_SOCKET) break;
    if (WSAGetLastError() != WSAEWOULDBLOCK) break;
    if (ControlReadable(pane)) {
      // The server gave up on the data connection (425 and the like).
      ReadReply(0, pane);
      ShowReplyError();
      break;
    }
    if (GetTickCount() - start > g_AcceptTimeoutMs) {
      g_ui->ShowError(
          "The server did not open the data connection within a minute; check that it can reach this "
          "machine (firewall, address translation).",
          "Ftp");
      break;
    }
    WaitSocket(listener, false);
  }
  WsCloseSocket(listener);
  if (data != INVALID_SOCKET) {
    u_long on = 1;
    WsIoctlSocket(data, FIONBIO, &on);
  }
  return data;
}

int CloseDataAndReply(int pane, SOCKET data) {
  if (data != INVALID_SOCKET) WsCloseSocket(data);
  return ReadReply(0, pane);
}

bool ParsePwdReply(const char *line, char quote, std::string *directory) {
  const char *open = strchr(line, quote);
  if (!open) return false;
  std::string text;
  for (const char *c = open + 1; *c; ++c) {
    if (*c != quote) {
      text += *c;
      continue;
    }
    // A doubled quote stands for one; a quote followed by other text than a
    // blank is one too (servers that do not double it); a quote before a
    // blank or the end of the line closes the name.
    if (quote == '"' && c[1] == quote) {
      text += quote;
      ++c;
      continue;
    }
    if (quote == '"' && c[1] && c[1] != ' ' && c[1] != '\t') {
      text += quote;
      continue;
    }
    *directory = text;
    return true;
  }
  return false;
}

int QueryDirectory(int pane) {
  if (!ValidPane(pane)) return 0;
  FTP_PANE &p = g_Panes[pane];
  if (p.kind == kPaneLocal) {
    p.prefixLength = 0;
    if (!GetCurrentDirectoryA(sizeof p.path, p.path)) p.path[0] = 0;
    return 1;
  }
  if (FtpCommandReply(pane, "PWD", nullptr) != 2) {
    ShowReplyError();
    return 0;
  }
  const char quote = p.kind == kHostRules ? RuleQuoteCharacter(p.ruleLine) : '"';
  std::string directory;
  if (!ParsePwdReply(g_replyLine, quote, &directory)) {
    g_ui->ShowError("Unable to parse returned directory", "Directory");
    return 0;
  }
  const std::string path = std::string(p.host) + ":" + directory;
  if (path.size() >= sizeof p.path) {
    g_ui->ShowError("The server's current directory is too long to show (more than 255 characters).", "Directory");
    return 0;
  }
  memcpy(p.path, path.c_str(), path.size() + 1);
  p.prefixLength = static_cast<int>(strlen(p.host)) + 1;
  return 1;
}

int ChangeDirectory(int pane, const std::string &directory, int report) {
  if (!ValidPane(pane)) return 0;
  FTP_PANE &p = g_Panes[pane];
  if (p.kind == kPaneLocal) {
    if (!SetCurrentDirectoryA(p.path) && p.path[0]) return 0;
    if (!SetCurrentDirectoryA(directory.c_str())) return 0;
    return QueryDirectory(pane);
  }
  if (FtpCommandReply(pane, "CWD", &directory) == 2) return QueryDirectory(pane);
  if (report) ShowReplyError();
  return 0;
}
