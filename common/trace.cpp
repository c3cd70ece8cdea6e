// Socket-call wrappers and the "qxdebug.log" trace: each wrapper makes its
// Winsock call, returns the result unchanged and, while tracing is on, writes
// one entry; identical receive or send errors in a row are collapsed.
#include "qxcommon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

FILE *g_DebugLog = nullptr;
int g_TraceOn = 0;
int g_RepeatCount = 0;
int g_LastRecvError = 0;
int g_LastSendError = 0;

namespace {

// One buffer per thread, so a second thread's address text never overwrites
// the one a first thread is still formatting.
thread_local char t_addrText[32];

constexpr int kDumpLineWidth = 79;
constexpr int kDumpCharColumn = 50;
constexpr int kDumpBytesPerLine = 16;

// The wrappers keep the call's error for the caller: nothing a logger does
// (file writes through the layer) may change what WSAGetLastError answers.
class KeepWsaError {
 public:
  KeepWsaError() : error_(WSAGetLastError()) {}
  ~KeepWsaError() { WSASetLastError(error_); }
  int error() const { return error_; }

 private:
  int error_;
};

void Flush() { std::fflush(g_DebugLog); }

// The log stays open for the life of the process; at exit it is closed, so
// the entries still waiting for a flush reach the file.
void CloseLogAtExit() {
  if (!g_DebugLog) return;
  g_TraceOn = 0;
  fclose(g_DebugLog);
  g_DebugLog = nullptr;
}

// Rule for every entry other than receive and send errors: a pending
// collapse is reported first and the counter drops to 0.
void EndRepeat() {
  if (g_RepeatCount > 1) {
    std::fprintf(g_DebugLog, "Last message was repeated %ld times\n", static_cast<long>(g_RepeatCount));
    g_RepeatCount = 0;
  }
}

// Receive and send errors: a repeat of the same code of the same kind is
// only counted; otherwise the entry is written. Returns true to write.
bool CountRepeat(int &lastError, int error) {
  if (g_RepeatCount != 0 && error == lastError) {
    ++g_RepeatCount;
    return false;
  }
  if (g_RepeatCount > 1)
    std::fprintf(g_DebugLog, "Last message was repeated %ld times\n", static_cast<long>(g_RepeatCount));
  g_RepeatCount = 1;
  lastError = error;
  return true;
}

// Address text of a caller's buffer of the given length: only the bytes the
// caller declared are read, the rest count as zero.
const char *AddrTextOf(const struct sockaddr *addr, int len) {
  struct sockaddr_in in {};
  if (addr && len > 0) std::memcpy(&in, addr, std::min<size_t>(static_cast<size_t>(len), sizeof in));
  return TraceAddrText(&in);
}

// The first 32-bit value of an option buffer, zero-extended when the
// option is shorter (one-byte options, a null buffer).
long FirstWord(const char *optval, int optlen) {
  uint32_t value = 0;
  if (optval && optlen > 0) std::memcpy(&value, optval, std::min<size_t>(static_cast<size_t>(optlen), 4));
  return static_cast<long>(static_cast<int32_t>(value));
}

unsigned Sock(SOCKET s) { return static_cast<unsigned>(s); }

}  // namespace

const char *TraceAddrText(const struct sockaddr_in *addr) {
  const auto *a = reinterpret_cast<const unsigned char *>(&addr->sin_addr);
  const auto *p = reinterpret_cast<const unsigned char *>(&addr->sin_port);
  std::snprintf(t_addrText, sizeof t_addrText, "%u.%u.%u.%u,%u", a[0], a[1], a[2], a[3],
                static_cast<unsigned>(p[0]) * 256u + p[1]);
  return t_addrText;
}

void TraceHexDump(const char *data, int length) {
  static const char kDigits[] = "0123456789ABCDEF";
  char line[kDumpLineWidth + 1];
  std::memset(line, ' ', kDumpLineWidth);
  line[kDumpLineWidth] = '\0';
  int column = 0;
  for (int n = 0; n < length; ++n) {
    const unsigned char byte = static_cast<unsigned char>(data[n]);
    line[3 * column + 1] = kDigits[byte >> 4];
    line[3 * column + 2] = kDigits[byte & 0x0F];
    line[kDumpCharColumn + column] = (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
    if (++column == kDumpBytesPerLine) {
      std::fprintf(g_DebugLog, "%s\n", line);
      std::memset(line, ' ', kDumpLineWidth);
      column = 0;
    }
  }
  if (column > 0) std::fprintf(g_DebugLog, "%s\n", line);
  Flush();
}

void TraceAccept(SOCKET result, SOCKET s, const struct sockaddr *addr, const int *addrlen) {
  EndRepeat();
  if (result == INVALID_SOCKET)
    std::fprintf(g_DebugLog, "Accept Error: Socket = %u, Error = %u\n", Sock(s), WSAGetLastError());
  else if (addr)
    std::fprintf(g_DebugLog, "Accept Success: Socket = %u, New Socket = %u, Addr = %s\n", Sock(s), Sock(result),
                 AddrTextOf(addr, addrlen ? *addrlen : 0));
  else
    std::fprintf(g_DebugLog, "Accept Success: Socket = %u, New Socket = %u\n", Sock(s), Sock(result));
  Flush();
}

void TraceBind(int result, SOCKET s, const struct sockaddr *addr, int namelen) {
  EndRepeat();
  if (result == SOCKET_ERROR)
    std::fprintf(g_DebugLog, "Bind Error: Socket = %u, Addr = %s, Error = %u\n", Sock(s), AddrTextOf(addr, namelen),
                 WSAGetLastError());
  else
    std::fprintf(g_DebugLog, "Bind Success: Socket = %u, Addr = %s\n", Sock(s), AddrTextOf(addr, namelen));
  Flush();
}

void TraceClose(int result, SOCKET s) {
  EndRepeat();
  if (result == SOCKET_ERROR)
    std::fprintf(g_DebugLog, "Close Error: Socket = %u, Error = %u\n", Sock(s), WSAGetLastError());
  else
    std::fprintf(g_DebugLog, "Close Success: Socket = %u\n", Sock(s));
  Flush();
}

void TraceConnect(int result, SOCKET s, const struct sockaddr *addr, int namelen) {
  EndRepeat();
  if (result == SOCKET_ERROR)
    std::fprintf(g_DebugLog, "Connect Error: Socket = %u, Addr = %s, Error = %u\n", Sock(s), AddrTextOf(addr, namelen),
                 WSAGetLastError());
  else
    std::fprintf(g_DebugLog, "Connect Success: Socket = %u, Addr = %s\n", Sock(s), AddrTextOf(addr, namelen));
  Flush();
}

void TraceIoctl(int result, SOCKET s, long cmd, const u_long *argp) {
  EndRepeat();
  // Commands are Winsock's 32-bit values; the argument is read as the 32-bit
  // value it is on Winsock, and a null argument prints 0.
  const unsigned long command = static_cast<uint32_t>(cmd);
  const long arg = argp ? static_cast<long>(static_cast<int32_t>(*argp)) : 0;
  if (result == SOCKET_ERROR)
    std::fprintf(g_DebugLog, "IoctlSocket Error: Socket = %u, Cmd = %lX, Arg = %ld, Error = %u\n", Sock(s), command,
                 arg, WSAGetLastError());
  else
    std::fprintf(g_DebugLog, "IoctlSocket Success: Socket = %u, Cmd = %lX, Arg = %ld\n", Sock(s), command, arg);
  Flush();
}

void TraceSocket(SOCKET result, int af, int type, int protocol) {
  EndRepeat();
  if (result == INVALID_SOCKET)
    std::fprintf(g_DebugLog, "Socket Error: Family = %u, Type = %u, Protocol = %u, Error = %u\n",
                 static_cast<unsigned>(af), static_cast<unsigned>(type), static_cast<unsigned>(protocol),
                 WSAGetLastError());
  else
    std::fprintf(g_DebugLog, "Socket Success: Family = %u, Type = %u, Protocol = %u, New Socket = %u\n",
                 static_cast<unsigned>(af), static_cast<unsigned>(type), static_cast<unsigned>(protocol), Sock(result));
  Flush();
}

void TraceRecv(int result, SOCKET s, const char *buf, int len, int flags, const struct sockaddr *from,
               const int *fromlen) {
  if (result == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (CountRepeat(g_LastRecvError, error))
      std::fprintf(g_DebugLog, "Recv Error: Socket = %u, Flags = %x, Error = %u\n", Sock(s),
                   static_cast<unsigned>(flags), static_cast<unsigned>(error));
    return;  // error entries reach the file with the next flush
  }
  EndRepeat();
  if (from)
    std::fprintf(g_DebugLog, "Recv Success: Socket = %u, Flags = %x, Addr = %s, Len = %u\n", Sock(s),
                 static_cast<unsigned>(flags), AddrTextOf(from, fromlen ? *fromlen : 0), static_cast<unsigned>(result));
  else
    std::fprintf(g_DebugLog, "Recv Success: Socket = %u, Flags = %x, Len = %u\n", Sock(s), static_cast<unsigned>(flags),
                 static_cast<unsigned>(result));
  // Never dump more than the caller's buffer holds.
  TraceHexDump(buf, buf ? std::clamp(result, 0, std::max(len, 0)) : 0);
}

void TraceSend(int result, SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to, int tolen) {
  if (result == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (CountRepeat(g_LastSendError, error))
      std::fprintf(g_DebugLog, "Send Error: Socket = %u, Flags = %x, Error = %u\n", Sock(s),
                   static_cast<unsigned>(flags), static_cast<unsigned>(error));
    return;
  }
  EndRepeat();
  if (to)
    std::fprintf(g_DebugLog, "Send Success: Socket = %u, Flags = %x, Addr = %s, Sent %u of %u\n", Sock(s),
                 static_cast<unsigned>(flags), AddrTextOf(to, tolen), static_cast<unsigned>(result),
                 static_cast<unsigned>(len));
  else
    std::fprintf(g_DebugLog, "Send Success: Socket = %u, Flags = %x, Sent %u of %u\n", Sock(s),
                 static_cast<unsigned>(flags), static_cast<unsigned>(result), static_cast<unsigned>(len));
  TraceHexDump(buf, buf ? std::clamp(result, 0, std::max(len, 0)) : 0);
}

void TraceSetSockOpt(int result, SOCKET s, int level, int optname, const char *optval, int optlen) {
  EndRepeat();
  const long value = FirstWord(optval, optlen);
  // The success entry keeps its "Error = %u" field; it shows 0 (no error).
  std::fprintf(g_DebugLog, "SetSockOpt %s: Socket = %u, Level = %u, Optname = %u, Optval = %ld, Error = %u\n",
               result == SOCKET_ERROR ? "Error" : "Success", Sock(s), static_cast<unsigned>(level),
               static_cast<unsigned>(optname), value,
               result == SOCKET_ERROR ? static_cast<unsigned>(WSAGetLastError()) : 0u);
  Flush();
}

void TraceShutdown(int result, SOCKET s, int how) {
  EndRepeat();
  if (result == SOCKET_ERROR)
    std::fprintf(g_DebugLog, "Shutdown Error: Socket = %u, How = %u, Error = %u\n", Sock(s), static_cast<unsigned>(how),
                 WSAGetLastError());
  else
    std::fprintf(g_DebugLog, "Shutdown Success: Socket = %u, How = %u\n", Sock(s), static_cast<unsigned>(how));
  Flush();
}

// ---- Wrappers: the call, then one test of g_TraceOn. ----

SOCKET WsAccept(SOCKET s, struct sockaddr *addr, int *addrlen) {
  SOCKET result = accept(s, addr, addrlen);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceAccept(result, s, addr, addrlen);
  }
  return result;
}

int WsBind(SOCKET s, const struct sockaddr *addr, int namelen) {
  int result = bind(s, addr, namelen);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceBind(result, s, addr, namelen);
  }
  return result;
}

int WsCloseSocket(SOCKET s) {
  int result = closesocket(s);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceClose(result, s);
  }
  return result;
}

int WsConnect(SOCKET s, const struct sockaddr *addr, int namelen) {
  int result = connect(s, addr, namelen);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceConnect(result, s, addr, namelen);
  }
  return result;
}

int WsIoctlSocket(SOCKET s, long cmd, u_long *argp) {
  int result = ioctlsocket(s, cmd, argp);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceIoctl(result, s, cmd, argp);
  }
  return result;
}

SOCKET WsSocket(int af, int type, int protocol) {
  SOCKET result = socket(af, type, protocol);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceSocket(result, af, type, protocol);
  }
  return result;
}

int WsRecv(SOCKET s, char *buf, int len, int flags) {
  int result = recv(s, buf, len, flags);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceRecv(result, s, buf, len, flags, nullptr, nullptr);
  }
  return result;
}

int WsRecvFrom(SOCKET s, char *buf, int len, int flags, struct sockaddr *from, int *fromlen) {
  int result = recvfrom(s, buf, len, flags, from, fromlen);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceRecv(result, s, buf, len, flags, from, fromlen);
  }
  return result;
}

int WsSend(SOCKET s, const char *buf, int len, int flags) {
  int result = send(s, buf, len, flags);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceSend(result, s, buf, len, flags, nullptr, 0);
  }
  return result;
}

int WsSendTo(SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to, int tolen) {
  int result = sendto(s, buf, len, flags, to, tolen);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceSend(result, s, buf, len, flags, to, tolen);
  }
  return result;
}

int WsSetSockOpt(SOCKET s, int level, int optname, const char *optval, int optlen) {
  int result = setsockopt(s, level, optname, optval, optlen);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceSetSockOpt(result, s, level, optname, optval, optlen);
  }
  return result;
}

int WsShutdown(SOCKET s, int how) {
  int result = shutdown(s, how);
  if (g_TraceOn) {
    KeepWsaError keep;
    TraceShutdown(result, s, how);
  }
  return result;
}

// ---- Start-up ----

void DebugLogOpen(HINSTANCE instance, LPSTR commandLine) {
  static const char kSwitch[] = "/debug";
  constexpr size_t kSwitchLen = sizeof kSwitch - 1;
  if (!commandLine) return;
  char *at = std::strstr(commandLine, kSwitch);  // exact case
  if (!at) return;
  // The rest, with its NUL, moves over the switch; the blanks around stay.
  std::memmove(at, at + kSwitchLen, std::strlen(at + kSwitchLen) + 1);

  FILE *log = fopen("qxdebug.log", "w");
  if (!log) return;
  // Fully buffered: the entries that are not flushed (receive and send
  // errors, a daemon's start-up) wait for the next entry that is.
  setvbuf(log, nullptr, _IOFBF, 4096);
  char module[257] = "";
  GetModuleFileNameA(instance, module, 256);
  const time_t now = std::time(nullptr);
  const char *when = std::ctime(&now);
  std::fprintf(log, "%s - %s", module, when ? when : "\n");
  std::fflush(log);
  static const bool closeRegistered = std::atexit(CloseLogAtExit) == 0;
  (void)closeRegistered;
  g_DebugLog = log;
  g_TraceOn = 1;
}

void TraceDaemonStartup(SOCKET s) {
  if (!g_TraceOn) return;
  KeepWsaError keep;
  // An address that cannot be read prints as 0.0.0.0,0.
  struct sockaddr_in local {
  }, peer{};
  int length = 16;
  getsockname(s, reinterpret_cast<struct sockaddr *>(&local), &length);
  std::fprintf(g_DebugLog, " Daemon Startup: Socket - %d, Sockname - %s\n", static_cast<int>(s), TraceAddrText(&local));
  length = 16;
  getpeername(s, reinterpret_cast<struct sockaddr *>(&peer), &length);
  std::fprintf(g_DebugLog, " Daemon Startup: Socket - %d, Peername - %s\n", static_cast<int>(s), TraceAddrText(&peer));
}
