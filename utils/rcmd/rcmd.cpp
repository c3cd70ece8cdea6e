// The r-command connection (see rcmd.h): reserved ports, the start-up
// handshake, and one reader that drains the command's standard output and
// error stream together while the program's windows keep being served.
#include "rcmd.h"

#include <qxcommon.h>
#include <queryclient.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int g_RcmdError = 0;

namespace {

constexpr long kSliceMicros = 50000;  // between two looks at the message queue
constexpr int kPieceSize = 4096;      // bytes received at a time from either stream
constexpr DWORD kCallBackMs = 60000;  // a service that neither connects back nor closes
constexpr const char *kConnectCaption = "Connect Error";

// One output stream of the command: bytes received and not yet taken.
struct Stream {
  SOCKET socket = INVALID_SOCKET;
  std::string bytes;
  size_t taken = 0;
  bool ended = false;
  int error = 0;           // why it ended: 0 the peer's end, else a Winsock number
  size_t notKept = 0;      // error-stream bytes past RCMD_HELD_ERRORS_MAX
  bool noteGiven = false;  // the line saying so was given
  size_t Left() const { return bytes.size() - taken; }
};

Stream g_out;                      // standard output, on the control connection
Stream g_err;                      // the error stream, on the connection the service made
SOCKET g_listen = INVALID_SOCKET;  // waits for the error-stream connection
struct in_addr g_serviceAddress {};
int g_errorPort = 0;

void CloseSocket(SOCKET &s) {
  if (s == INVALID_SOCKET) return;
  WsCloseSocket(s);
  s = INVALID_SOCKET;
}

void ResetStream(Stream &s) {
  CloseSocket(s.socket);
  s = Stream{};
}

void EndStream(Stream &s, int error) {
  s.ended = true;
  s.error = error;
  CloseSocket(s.socket);
}

// Reads what the socket has now; a held error stream stops keeping bytes at
// its limit but still drains, so the command never waits on it.
void Receive(Stream &s) {
  char piece[kPieceSize];
  const int got = WsRecv(s.socket, piece, sizeof piece, 0);
  if (got > 0) {
    const size_t room = RCMD_HELD_ERRORS_MAX > s.bytes.size() ? RCMD_HELD_ERRORS_MAX - s.bytes.size() : 0;
    const size_t keep = static_cast<size_t>(got) < room ? static_cast<size_t>(got) : room;
    s.bytes.append(piece, keep);
    s.notKept += static_cast<size_t>(got) - keep;
    return;
  }
  if (got == 0) {
    EndStream(s, 0);
    return;
  }
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) EndStream(s, error);
}

// Drops what was taken once it is most of the buffer, so that a long run
// does not keep every byte it ever read.
void Compact(Stream &s) {
  if (s.taken > kPieceSize && s.taken * 2 > s.bytes.size()) {
    s.bytes.erase(0, s.taken);
    s.taken = 0;
  }
}

bool Open(const Stream &s) { return s.socket != INVALID_SOCKET && !s.ended; }

// One slice of waiting: every pending window message, then whatever either
// stream has (both are always drained), or a sleep of at most a slice on
// them. FALSE when WM_QUIT came (posted again for the program's own loop).
bool PumpStreams() {
  if (PumpMessages()) return false;
  fd_set readable;
  FD_ZERO(&readable);
  if (Open(g_out)) FD_SET(g_out.socket, &readable);
  if (Open(g_err)) FD_SET(g_err.socket, &readable);
  if (g_listen != INVALID_SOCKET) FD_SET(g_listen, &readable);
  struct timeval timeout {
    0, kSliceMicros
  };
  if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) return true;
  if (Open(g_out) && FD_ISSET(g_out.socket, &readable)) Receive(g_out);
  if (Open(g_err) && FD_ISSET(g_err.socket, &readable)) Receive(g_err);
  return true;
}

// The next line of a stream into buffer (CR dropped, LF not stored), at
// most size - 1 bytes. The length; -1 when the stream ended with nothing
// left; -2 when more bytes are needed first.
int TakeLine(Stream &s, char *buffer, int size) {
  int length = 0;
  size_t at = s.taken;
  while (at < s.bytes.size()) {
    const char c = s.bytes[at++];
    if (c == '\n') {
      s.taken = at;
      buffer[length] = '\0';
      return length;
    }
    if (c == '\r') continue;
    buffer[length++] = c;
    if (length == size - 1) {  // a long line is given in pieces, nothing dropped
      if (at < s.bytes.size() && s.bytes[at] == '\n') ++at;
      s.taken = at;
      buffer[length] = '\0';
      return length;
    }
  }
  if (!s.ended) return -2;
  s.taken = at;
  buffer[length] = '\0';
  return length > 0 ? length : -1;
}

void ShowConnectError(const std::string &text, const std::string &detail) {
  QueryShowError(kConnectCaption, text, detail);
}

// Binds s to the reserved port, without taking a port another socket holds.
bool BindPort(SOCKET s, int port, int *error) {
  struct sockaddr_in local {};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<unsigned short>(port));
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (WsBind(s, reinterpret_cast<const struct sockaddr *>(&local), sizeof local) == 0) return true;
  *error = WSAGetLastError();
  return false;
}

// Binds the control socket to port P and the error-stream socket to P + 1,
// trying pairs downwards from first to 512 and then from 1022 down, as
// rresvport does; the pair's first port, or 0 (error holds the last reason).
int BindReservedPair(SOCKET control, SOCKET errors, int first, int *error) {
  for (int tried = 0; tried <= RCMD_RESERVED_HIGH - 1 - RCMD_RESERVED_LOW; ++tried) {
    int port = first - tried;
    if (port < RCMD_RESERVED_LOW) port += RCMD_RESERVED_HIGH - RCMD_RESERVED_LOW;
    if (!BindPort(control, port, error)) {
      if (*error == WSAEACCES) return 0;  // no port of the range may be had
      continue;
    }
    if (BindPort(errors, port + 1, error)) return port;
    return -port;  // the control socket is bound: the caller makes new sockets
  }
  return 0;
}

// New sockets until a reserved pair binds; FALSE when none is free.
bool MakeBoundPair(SOCKET *control, SOCKET *errors, int *port) {
  int first = RcmdFirstPort(static_cast<long>(std::time(nullptr)));
  for (int attempt = 0; attempt < RCMD_RESERVED_HIGH - RCMD_RESERVED_LOW; ++attempt) {
    *control = WsSocket(AF_INET, SOCK_STREAM, 0);
    *errors = WsSocket(AF_INET, SOCK_STREAM, 0);
    if (*control == INVALID_SOCKET || *errors == INVALID_SOCKET) {
      CloseSocket(*control);
      CloseSocket(*errors);
      ShowConnectError("Unable to open socket", "No network socket could be made (error " +
                                                    std::to_string(WSAGetLastError()) +
                                                    "). Close other programs and try again.");
      return false;
    }
    int error = 0;
    const int bound = BindReservedPair(*control, *errors, first, &error);
    if (bound > 0) {
      *port = bound;
      return true;
    }
    CloseSocket(*control);
    CloseSocket(*errors);
    if (bound == 0) {
      ShowConnectError("Unable to bind a reserved port",
                       error == WSAEACCES
                           ? "The exec and shell services take commands only from local ports 512 to 1023, which "
                             "only an administrator (root) may use. Run the program as root."
                           : "Every local port from 512 to 1023 is in use (error " + std::to_string(error) +
                                 "). Wait a minute for old connections to clear and try again.");
      return false;
    }
    first = -bound - 1;  // the error-stream port of that pair was taken: go on below it
    if (first < RCMD_RESERVED_LOW) first = RCMD_RESERVED_HIGH - 1;
  }
  return false;
}

// True when the connection came from the service's host; another caller
// could otherwise write into the command's error stream.
bool FromService(SOCKET s) {
  struct sockaddr_in peer {};
  int size = sizeof peer;
  if (getpeername(s, reinterpret_cast<struct sockaddr *>(&peer), &size) == SOCKET_ERROR) return false;
  return peer.sin_addr.s_addr == g_serviceAddress.s_addr;
}

// Waits for the service to connect to the error-stream port, keeping what
// arrives on the control connection meanwhile (a refusal is sent there).
// TRUE with the error stream open; FALSE when the control connection ended,
// WM_QUIT came or the service did not call back in time.
bool AwaitErrorStream() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCallBackMs);
  for (;;) {
    struct sockaddr_in from {};
    int size = sizeof from;
    SOCKET accepted = WsAccept(g_listen, reinterpret_cast<struct sockaddr *>(&from), &size);
    if (accepted != INVALID_SOCKET) {
      if (FromService(accepted)) {
        CloseSocket(g_listen);
        u_long nonBlocking = 1;
        WsIoctlSocket(accepted, FIONBIO, &nonBlocking);
        g_err.socket = accepted;
        return true;
      }
      WsCloseSocket(accepted);
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      g_RcmdError = WSAGetLastError();
      return false;
    }
    if (!PumpStreams()) {
      g_RcmdError = 1;
      return false;
    }
    if (g_out.ended) {
      g_RcmdError = g_out.error;
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      g_RcmdError = WSAETIMEDOUT;
      return false;
    }
  }
}

std::string Printable(const std::string &text) {
  std::string shown;
  for (char c : text) shown += (static_cast<unsigned char>(c) < 0x20 && c != '\t') ? ' ' : c;
  while (!shown.empty() && shown.back() == ' ') shown.pop_back();
  const size_t first = shown.find_first_not_of(' ');
  return first == std::string::npos ? "" : shown.substr(first);
}

// What the service said instead of running the command: the text it sent on
// the control connection, or that it closed without a word.
void ShowRefusal(HWND, LPCSTR caption) {
  std::string said = RcmdRestOfLine();
  if (said.empty() && g_out.Left()) said = g_out.bytes.substr(g_out.taken);
  said = Printable(said);
  if (g_RcmdError == 1) return;  // the program is ending
  std::string detail;
  if (!said.empty())
    detail = "The remote host refused to run it: \"" + said + "\". Check the user name, the password and the command.";
  else if (g_RcmdError == 0)
    detail =
        "The remote host closed the connection without running it: it refused the user name or password, or does "
        "not let this user run commands. Check them and try again.";
  else
    detail = "The connection failed (error " + std::to_string(g_RcmdError) + "). Try again.";
  QueryShowError(caption, "Error sending command", detail);
}

}  // namespace

BOOL RcmdParseOptions(LPCSTR commandLine, BOOL allowPassword, RCMD_OPTIONS *options) {
  *options = RCMD_OPTIONS{};
  const char *p = commandLine ? commandLine : "";
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return TRUE;
    const char *start = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    const std::string word(start, p);
    if (word[0] != '/' && word[0] != '-') continue;
    char *target = nullptr;
    switch (word.size() > 1 ? word[1] : '\0') {
      case 'l':
      case 'L': target = options->remoteUser; break;
      case 'u':
      case 'U': target = options->localUser; break;
      case 'p':
      case 'P':
        if (allowPassword) target = options->password;
        break;
      default: break;
    }
    if (!target) return FALSE;
    const std::string value = word.size() > 3 ? word.substr(3) : "";
    std::snprintf(target, RCMD_FIELD_LEN, "%s", value.c_str());
  }
}

std::string RcmdLocalSideUser(const RCMD_OPTIONS &options) {
  if (options.remoteUser[0]) return options.remoteUser;
  char name[RCMD_FIELD_LEN] = "";
  const DWORD got = GetEnvironmentVariableA("USERNAME", name, sizeof name);
  if (got > 0 && got < sizeof name) return name;
  return "guest";
}

int RcmdFirstPort(long now) { return static_cast<int>(now % 423) + 600; }

SOCKET RcmdConnect(HWND, LPCSTR host, unsigned short port, LPCSTR) {
  RcmdClose();
  g_out = Stream{};
  g_err = Stream{};
  struct in_addr address {};
  if (!QueryResolveHost(host, &address)) {
    ShowConnectError(std::string("Unknown host \"") + host + "\"; try again.",
                     "No address was found for this name. Check its spelling, or give the host's address.");
    return INVALID_SOCKET;
  }
  SOCKET control = INVALID_SOCKET, errors = INVALID_SOCKET;
  int localPort = 0;
  if (!MakeBoundPair(&control, &errors, &localPort)) return INVALID_SOCKET;
  u_long nonBlocking = 1;
  if (listen(errors, 5) == SOCKET_ERROR || WsIoctlSocket(errors, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    WsCloseSocket(control);
    WsCloseSocket(errors);
    ShowConnectError("Unable to open socket", "The error-stream port could not be opened (error " +
                                                  std::to_string(WSAGetLastError()) + "). Try again.");
    return INVALID_SOCKET;
  }
  const int connected = QueryConnect(control, address, port, QUERY_CONNECT_MS);
  if (connected != 0) {
    WsCloseSocket(control);
    WsCloseSocket(errors);
    if (connected == SOCK_PUMP_QUIT) return INVALID_SOCKET;
    if (connected == WSAECONNREFUSED)
      ShowConnectError("Connection refused by remote host.",
                       "The host does not run the " + std::string(port == RCMD_EXEC_PORT ? "exec" : "shell") +
                           " service (port " + std::to_string(port) + "). Check the host, or ask its administrator.");
    else
      ShowConnectError("Unable to connect to remote host.", "The host did not answer on port " + std::to_string(port) +
                                                                ": " + QueryErrorWords(connected) + " (error " +
                                                                std::to_string(connected) + "). Try again later.");
    return INVALID_SOCKET;
  }
  g_out.socket = control;
  g_listen = errors;
  g_serviceAddress = address;
  g_errorPort = localPort + 1;
  return control;
}

BOOL RcmdStart(HWND owner, LPCSTR caption, LPCSTR localUser, LPCSTR user, LPCSTR command, LPCSTR password) {
  g_RcmdError = 0;
  const std::string port = std::to_string(g_errorPort);
  if (!RcmdSendBytes(port.c_str(), static_cast<int>(port.size()) + 1) || !AwaitErrorStream()) {
    ShowRefusal(owner, caption);
    RcmdClose();
    return FALSE;
  }
  std::string startup;
  for (const char *text : {password ? user : localUser, password ? password : user, command}) {
    startup += text;
    startup += '\0';
  }
  if (!RcmdSendBytes(startup.data(), static_cast<int>(startup.size()))) {
    ShowRefusal(owner, caption);
    RcmdClose();
    return FALSE;
  }
  const int answer = RcmdReadByte();
  if (answer != 0) {  // a refusal (1 and its text) or no answer at all
    ShowRefusal(owner, caption);
    RcmdClose();
    return FALSE;
  }
  return TRUE;
}

int RcmdReadByte(void) {
  while (!g_out.Left()) {
    if (g_out.ended) {
      g_RcmdError = g_out.error;
      return -1;
    }
    if (!PumpStreams()) {
      g_RcmdError = 1;
      return -1;
    }
  }
  const int byte = static_cast<unsigned char>(g_out.bytes[g_out.taken++]);
  Compact(g_out);
  return byte;
}

int RcmdRead(char *buffer, int count) {
  if (count <= 0) return 0;
  while (!g_out.Left()) {
    if (g_out.ended) {
      g_RcmdError = g_out.error;
      return g_out.error ? -1 : 0;
    }
    if (!PumpStreams()) {
      g_RcmdError = 1;
      return -1;
    }
  }
  const size_t n = g_out.Left() < static_cast<size_t>(count) ? g_out.Left() : static_cast<size_t>(count);
  std::memcpy(buffer, g_out.bytes.data() + g_out.taken, n);
  g_out.taken += n;
  Compact(g_out);
  return static_cast<int>(n);
}

int RcmdReadLine(char *buffer, int size) {
  if (!buffer || size < 2) return -1;
  for (;;) {
    Stream &s = (g_out.ended && !g_out.Left()) ? g_err : g_out;
    if (&s == &g_err && g_err.socket == INVALID_SOCKET && !g_err.ended) g_err.ended = true;  // never connected
    const int length = TakeLine(s, buffer, size);
    if (length >= 0) {
      Compact(s);
      return length;
    }
    if (length == -1) {
      if (&s == &g_out) continue;  // on to the error stream
      if (g_err.notKept && !g_err.noteGiven) {
        g_err.noteGiven = true;
        std::snprintf(buffer, static_cast<size_t>(size), "(%zu more bytes of error output were not kept)",
                      g_err.notKept);
        return static_cast<int>(std::strlen(buffer));
      }
      g_RcmdError = g_err.error;
      return -1;
    }
    if (!PumpStreams()) {
      g_RcmdError = 1;
      return -1;
    }
  }
}

std::string RcmdRestOfLine(void) {
  std::string line;
  for (;;) {
    const int c = RcmdReadByte();
    if (c < 0 || c == '\n') return line;
    if (c != '\r' && line.size() < RCMD_LINE_LEN) line += static_cast<char>(c);
  }
}

BOOL RcmdSendBytes(const char *data, int count) {
  if (!Open(g_out)) return FALSE;
  if (SendAllPumping(g_out.socket, data, count) == count) return TRUE;
  g_RcmdError = g_SockError ? g_SockError : 1;
  return FALSE;
}

BOOL RcmdSendInput(LPCSTR text) {
  if (!text) {
    RcmdClose();
    return TRUE;
  }
  const std::string line = std::string(text) + "\n";
  return RcmdSendBytes(line.data(), static_cast<int>(line.size()));
}

BOOL RcmdConnected(void) { return Open(g_out); }

void RcmdClose(void) {
  ResetStream(g_out);
  ResetStream(g_err);
  g_out.ended = g_err.ended = true;
  CloseSocket(g_listen);
}
