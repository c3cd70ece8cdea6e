// The socket calls of Winsock 1.1 over BSD sockets. A SOCKET is the
// descriptor number; addresses have the same layout as Linux's sockaddr_in;
// options and ioctl commands are mapped from Winsock's numbers. Sends never
// raise SIGPIPE. Blocking calls on a thread with a blocking hook wait while
// running the hook (see blocking.cpp).
#include "ws_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx::ws {
namespace {

constexpr int kWsSolSocket = 0xffff;
constexpr int kWsIpprotoIp = 0;
constexpr int kWsIpprotoTcp = 6;
constexpr long kFionread = 0x4004667FL;
constexpr long kFionbio = 0x8004667EL;
constexpr long kSiocatmark = 0x40047307L;
constexpr int kWsSoDontLinger = static_cast<int>(~0x0080u);
constexpr int kAddrLen = static_cast<int>(sizeof(sockaddr_in));

enum class OptionKind { Bool, Int, Linger, DontLinger, Millis, Error, Discontiguous };

struct OptionMapping {
  int ws_level, ws_name;
  int level, name;
  OptionKind kind;
};

// Winsock option numbers and their Linux counterparts.
constexpr OptionMapping kOptions[] = {
    {kWsSolSocket, 0x0001, SOL_SOCKET, SO_DEBUG, OptionKind::Bool},
    {kWsSolSocket, 0x0002, SOL_SOCKET, SO_ACCEPTCONN, OptionKind::Bool},
    {kWsSolSocket, 0x0004, SOL_SOCKET, SO_REUSEADDR, OptionKind::Bool},
    {kWsSolSocket, 0x0008, SOL_SOCKET, SO_KEEPALIVE, OptionKind::Bool},
    {kWsSolSocket, 0x0010, SOL_SOCKET, SO_DONTROUTE, OptionKind::Bool},
    {kWsSolSocket, 0x0020, SOL_SOCKET, SO_BROADCAST, OptionKind::Bool},
    {kWsSolSocket, 0x0080, SOL_SOCKET, SO_LINGER, OptionKind::Linger},
    {kWsSolSocket, 0x0100, SOL_SOCKET, SO_OOBINLINE, OptionKind::Bool},
    {kWsSolSocket, kWsSoDontLinger, SOL_SOCKET, SO_LINGER, OptionKind::DontLinger},
    {kWsSolSocket, 0x1001, SOL_SOCKET, SO_SNDBUF, OptionKind::Int},
    {kWsSolSocket, 0x1002, SOL_SOCKET, SO_RCVBUF, OptionKind::Int},
    {kWsSolSocket, 0x1003, SOL_SOCKET, SO_SNDLOWAT, OptionKind::Int},
    {kWsSolSocket, 0x1004, SOL_SOCKET, SO_RCVLOWAT, OptionKind::Int},
    {kWsSolSocket, 0x1005, SOL_SOCKET, SO_SNDTIMEO, OptionKind::Millis},
    {kWsSolSocket, 0x1006, SOL_SOCKET, SO_RCVTIMEO, OptionKind::Millis},
    {kWsSolSocket, 0x1007, SOL_SOCKET, SO_ERROR, OptionKind::Error},
    {kWsSolSocket, 0x1008, SOL_SOCKET, SO_TYPE, OptionKind::Int},
    {kWsIpprotoTcp, 0x0001, IPPROTO_TCP, TCP_NODELAY, OptionKind::Bool},
    {kWsIpprotoIp, 1, IPPROTO_IP, IP_OPTIONS, OptionKind::Discontiguous},
    {kWsIpprotoIp, 2, IPPROTO_IP, IP_MULTICAST_IF, OptionKind::Discontiguous},
    {kWsIpprotoIp, 3, IPPROTO_IP, IP_MULTICAST_TTL, OptionKind::Int},
    {kWsIpprotoIp, 4, IPPROTO_IP, IP_MULTICAST_LOOP, OptionKind::Bool},
    {kWsIpprotoIp, 5, IPPROTO_IP, IP_ADD_MEMBERSHIP, OptionKind::Discontiguous},
    {kWsIpprotoIp, 6, IPPROTO_IP, IP_DROP_MEMBERSHIP, OptionKind::Discontiguous},
    {kWsIpprotoIp, 7, IPPROTO_IP, IP_TTL, OptionKind::Int},
    {kWsIpprotoIp, 8, IPPROTO_IP, IP_TOS, OptionKind::Int},
};

const OptionMapping *FindOption(int level, int name) {
  for (const OptionMapping &o : kOptions)
    if (o.ws_level == level && o.ws_name == name) return &o;
  return nullptr;
}

int Fd(SOCKET s) { return s > 0x7fffffffu ? -1 : static_cast<int>(s); }

bool IsNonBlocking(int fd) {
  // A socket with a WSAAsyncSelect registration is non-blocking (registering
  // made it so, and FIONBIO cannot undo it while the registration lasts): a
  // server's receive loop that drains its sockets costs no fcntl per call.
  if (HasRegistration(fd)) return true;
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK);
}

// Winsock's send/recv flags are BSD's; anything else is refused.
bool MapFlags(int ws_flags, int &flags) {
  if (ws_flags & ~(0x1 | 0x2 | 0x4)) return false;
  flags = 0;
  if (ws_flags & 0x1) flags |= MSG_OOB;
  if (ws_flags & 0x2) flags |= MSG_PEEK;
  if (ws_flags & 0x4) flags |= MSG_DONTROUTE;
  return true;
}

// Validates a caller's address for bind/connect/sendto.
bool CheckAddress(const sockaddr *addr, int len) { return addr && len >= kAddrLen; }

// Copies a kernel address out to the caller's buffer of *len bytes.
bool CopyAddressOut(const sockaddr_storage &from, socklen_t from_len, sockaddr *addr, int *len) {
  if (!addr) return true;
  if (!len || *len < kAddrLen) return false;
  const size_t n = std::min<size_t>(static_cast<size_t>(*len), from_len);
  std::memcpy(addr, &from, n);
  *len = static_cast<int>(n);
  return true;
}

// Temporarily makes a blocking socket non-blocking while a hooked call polls it.
class NonBlockingForCall {
 public:
  explicit NonBlockingForCall(int fd) : fd_(fd), flags_(fcntl(fd, F_GETFL)) {
    if (flags_ >= 0 && !(flags_ & O_NONBLOCK)) fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK);
  }
  ~NonBlockingForCall() {
    if (flags_ >= 0 && !(flags_ & O_NONBLOCK)) fcntl(fd_, F_SETFL, flags_);
  }
  NonBlockingForCall(const NonBlockingForCall &) = delete;
  NonBlockingForCall &operator=(const NonBlockingForCall &) = delete;

 private:
  int fd_;
  int flags_;
};

// Runs `attempt` (returns >= 0 when done, -1 with errno otherwise); on a
// blocking socket of a thread with a hook, waits with the hook between
// attempts that would block.
template <class Attempt>
long RunBlocking(int fd, bool blocking_socket, short wait_events, Attempt attempt) {
  if (!blocking_socket || !HookInstalled()) {
    long r;
    do {
      r = attempt(!blocking_socket);
    } while (r < 0 && errno == EINTR);
    return r;
  }
  BlockingScope scope;
  if (!scope.ok()) {
    errno = 0;
    return -2;  // error already set
  }
  for (;;) {
    const long r = attempt(true);
    if (r >= 0) return r;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return r;
    if (HookedWait(fd, wait_events) != 0) {
      errno = 0;
      return -2;
    }
  }
}

int FailResult(long r, int err) { return r == -2 ? kSocketError : FailErrno(err); }

}  // namespace
}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

WINBASEAPI SOCKET qxws_socket(int af, int type, int protocol) {
  if (!CheckStarted()) return kInvalidSocket;
  if (af != AF_INET) {
    Fail(kWSAEAFNOSUPPORT);
    return kInvalidSocket;
  }
  if (type != SOCK_STREAM && type != SOCK_DGRAM && type != SOCK_RAW) {
    Fail(kWSAESOCKTNOSUPPORT);
    return kInvalidSocket;
  }
  const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno(errno);
    return kInvalidSocket;
  }
  return static_cast<SOCKET>(fd);
}

WINBASEAPI int closesocket(SOCKET s) {
  if (!CheckStarted()) return kSocketError;
  const int fd = Fd(s);
  if (!IsSocket(fd)) return Fail(kWSAENOTSOCK);
  ForgetSocket(fd);
  if (::close(fd) != 0 && errno != EINTR) return FailErrno(errno);
  return 0;
}

WINBASEAPI int qxws_bind(SOCKET s, const sockaddr *addr, int len) {
  if (!CheckStarted()) return kSocketError;
  if (!CheckAddress(addr, len)) return Fail(kWSAEFAULT);
  if (::bind(Fd(s), addr, sizeof(sockaddr_in)) != 0) return FailErrno(errno);
  return 0;
}

WINBASEAPI int qxws_listen(SOCKET s, int backlog) {
  if (!CheckStarted()) return kSocketError;
  if (::listen(Fd(s), backlog < 1 ? 1 : backlog) != 0) return FailErrno(errno);
  NoteStateChange(Fd(s), false);
  return 0;
}

WINBASEAPI SOCKET qxws_accept(SOCKET s, sockaddr *addr, int *len) {
  if (!CheckStarted()) return kInvalidSocket;
  const int fd = Fd(s);
  if (addr && (!len || *len < kAddrLen)) {
    Fail(kWSAEFAULT);
    return kInvalidSocket;
  }
  const bool nonblocking = IsNonBlocking(fd);
  sockaddr_storage from{};
  socklen_t from_len = sizeof from;
  const long r = RunBlocking(fd, !nonblocking, POLLIN, [&](bool dontwait) -> long {
    if (dontwait && !nonblocking) {
      NonBlockingForCall nb(fd);
      return ::accept4(fd, reinterpret_cast<sockaddr *>(&from), &from_len, SOCK_CLOEXEC);
    }
    return ::accept4(fd, reinterpret_cast<sockaddr *>(&from), &from_len, SOCK_CLOEXEC);
  });
  const int err = errno;  // before Reenable, which makes calls of its own
  Reenable(fd, kFdAccept);
  if (r < 0) {
    FailResult(r, err);
    return kInvalidSocket;
  }
  const int nfd = static_cast<int>(r);
  // The new socket has the listener's properties: its non-blocking mode and
  // its WSAAsyncSelect registration.
  if (nonblocking) fcntl(nfd, F_SETFL, fcntl(nfd, F_GETFL) | O_NONBLOCK);
  HWND hwnd;
  UINT msg;
  long events;
  if (RegistrationOf(fd, hwnd, msg, events)) Register(nfd, hwnd, msg, events);
  CopyAddressOut(from, from_len, addr, len);
  return static_cast<SOCKET>(nfd);
}

WINBASEAPI int qxws_connect(SOCKET s, const sockaddr *addr, int len) {
  if (!CheckStarted()) return kSocketError;
  if (!CheckAddress(addr, len)) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  if (IsNonBlocking(fd)) {
    if (::connect(fd, addr, sizeof(sockaddr_in)) == 0) {
      NoteStateChange(fd, false);
      return 0;
    }
    const int err = errno;
    if (err == EINPROGRESS) NoteStateChange(fd, true);
    return FailErrno(err);
  }
  if (!HookInstalled()) {
    // Not retried on EINTR: the connection goes on by itself then.
    const int r = ::connect(fd, addr, sizeof(sockaddr_in));
    const int err = errno;
    NoteStateChange(fd, false);
    return r == 0 ? 0 : FailErrno(err);
  }
  BlockingScope scope;
  if (!scope.ok()) return kSocketError;
  NonBlockingForCall nb(fd);
  if (::connect(fd, addr, sizeof(sockaddr_in)) == 0) {
    NoteStateChange(fd, false);
    return 0;
  }
  if (errno != EINPROGRESS) return FailErrno(errno);
  if (HookedWait(fd, POLLOUT) != 0) return kSocketError;
  int err = 0;
  socklen_t err_len = sizeof err;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len);
  NoteStateChange(fd, false);
  return err == 0 ? 0 : FailErrno(err);
}

WINBASEAPI int qxws_recv(SOCKET s, char *buf, int len, int ws_flags) {
  if (!CheckStarted()) return kSocketError;
  int flags;
  if (!MapFlags(ws_flags, flags)) return Fail(kWSAEOPNOTSUPP);
  if (len < 0 || (!buf && len > 0)) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  // The common case, data waiting, costs one call whatever the socket's mode.
  long r = ::recv(fd, buf, static_cast<size_t>(len), flags | MSG_DONTWAIT);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && !IsNonBlocking(fd)) {
    r = RunBlocking(fd, true, POLLIN, [&](bool dontwait) -> long {
      return ::recv(fd, buf, static_cast<size_t>(len), flags | (dontwait ? MSG_DONTWAIT : 0));
    });
  }
  const int err = errno;
  Reenable(fd, (flags & MSG_OOB) ? kFdOob : kFdRead);
  if (r < 0) return r == -2 ? kSocketError : FailErrno(err);
  return static_cast<int>(r);
}

// A datagram longer than the buffer fills it and fails with WSAEMSGSIZE; the
// rest of it is gone, as with Winsock.
WINBASEAPI int qxws_recvfrom(SOCKET s, char *buf, int len, int ws_flags, sockaddr *from, int *fromlen) {
  if (!CheckStarted()) return kSocketError;
  int flags;
  if (!MapFlags(ws_flags, flags)) return Fail(kWSAEOPNOTSUPP);
  if (len < 0 || (!buf && len > 0)) return Fail(kWSAEFAULT);
  if (from && (!fromlen || *fromlen < kAddrLen)) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  sockaddr_storage peer{};
  msghdr msg{};
  iovec iov{buf, static_cast<size_t>(len)};
  auto attempt = [&](bool dontwait) -> long {
    msg = msghdr{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    return ::recvmsg(fd, &msg, flags | (dontwait ? MSG_DONTWAIT : 0));
  };
  // A datagram already waiting costs one call whatever the socket's mode.
  long r = attempt(true);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && !IsNonBlocking(fd))
    r = RunBlocking(fd, true, POLLIN, attempt);
  const int err = errno;
  Reenable(fd, (flags & MSG_OOB) ? kFdOob : kFdRead);
  if (r < 0) return FailResult(r, err);
  if (from) {
    if (msg.msg_namelen == 0) {  // a connected stream socket: the peer's address
      socklen_t n = sizeof peer;
      ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &n);
      msg.msg_namelen = n;
    }
    CopyAddressOut(peer, msg.msg_namelen, from, fromlen);
  }
  if (msg.msg_flags & MSG_TRUNC) return Fail(kWSAEMSGSIZE);
  return static_cast<int>(r);
}

WINBASEAPI int qxws_send(SOCKET s, const char *buf, int len, int ws_flags) {
  if (!CheckStarted()) return kSocketError;
  int flags;
  if (!MapFlags(ws_flags & ~0x2, flags)) return Fail(kWSAEOPNOTSUPP);
  if (len < 0 || (!buf && len > 0)) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  // First without waiting: when it all goes, the socket's mode does not matter.
  ssize_t first = ::send(fd, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL | MSG_DONTWAIT);
  if (first == len) return len;
  int err = errno;
  if (first < 0 && err != EAGAIN && err != EWOULDBLOCK && err != EINTR) return FailErrno(err);
  size_t sent = first > 0 ? static_cast<size_t>(first) : 0;
  if (IsNonBlocking(fd)) {
    if (sent > 0) return static_cast<int>(sent);
    Reenable(fd, kFdWrite);  // a send that would block re-enables FD_WRITE
    return FailErrno(EWOULDBLOCK);
  }
  // A blocking socket: the rest goes too, waiting in the kernel or with the hook.
  const long r = RunBlocking(fd, true, POLLOUT, [&](bool dontwait) -> long {
    while (sent < static_cast<size_t>(len)) {
      const ssize_t n =
          ::send(fd, buf + sent, static_cast<size_t>(len) - sent, flags | MSG_NOSIGNAL | (dontwait ? MSG_DONTWAIT : 0));
      if (n < 0) return -1;
      sent += static_cast<size_t>(n);
    }
    return static_cast<long>(sent);
  });
  if (r < 0) {
    if (sent > 0 && r == -1) return static_cast<int>(sent);
    return r == -2 ? kSocketError : FailErrno(errno);
  }
  return static_cast<int>(r);
}

WINBASEAPI int qxws_sendto(SOCKET s, const char *buf, int len, int ws_flags, const sockaddr *to, int tolen) {
  if (!CheckStarted()) return kSocketError;
  int flags;
  if (!MapFlags(ws_flags & ~0x2, flags)) return Fail(kWSAEOPNOTSUPP);
  if (len < 0 || (!buf && len > 0)) return Fail(kWSAEFAULT);
  if (to && !CheckAddress(to, tolen)) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  auto attempt = [&](bool dontwait) -> long {
    return ::sendto(fd, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL | (dontwait ? MSG_DONTWAIT : 0), to,
                    to ? sizeof(sockaddr_in) : 0);
  };
  long r = attempt(true);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && !IsNonBlocking(fd))
    r = RunBlocking(fd, true, POLLOUT, attempt);
  if (r < 0) {
    const int err = errno;
    if (r == -1 && (err == EAGAIN || err == EWOULDBLOCK)) Reenable(fd, kFdWrite);
    return FailResult(r, err);
  }
  return static_cast<int>(r);
}

WINBASEAPI int qxws_shutdown(SOCKET s, int how) {
  if (!CheckStarted()) return kSocketError;
  if (how < 0 || how > 2) return Fail(kWSAEINVAL);
  if (::shutdown(Fd(s), how) != 0) return FailErrno(errno);
  return 0;
}

WINBASEAPI int qxws_getsockname(SOCKET s, sockaddr *name, int *len) {
  if (!CheckStarted()) return kSocketError;
  if (!name || !len || *len < kAddrLen) return Fail(kWSAEFAULT);
  sockaddr_storage addr{};
  socklen_t n = sizeof addr;
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr *>(&addr), &n) != 0) return FailErrno(errno);
  CopyAddressOut(addr, n, name, len);
  return 0;
}

WINBASEAPI int qxws_getpeername(SOCKET s, sockaddr *name, int *len) {
  if (!CheckStarted()) return kSocketError;
  if (!name || !len || *len < kAddrLen) return Fail(kWSAEFAULT);
  sockaddr_storage addr{};
  socklen_t n = sizeof addr;
  if (::getpeername(Fd(s), reinterpret_cast<sockaddr *>(&addr), &n) != 0) return FailErrno(errno);
  CopyAddressOut(addr, n, name, len);
  return 0;
}

WINBASEAPI int qxws_setsockopt(SOCKET s, int level, int name, const char *optval, int optlen) {
  if (!CheckStarted()) return kSocketError;
  const OptionMapping *o = FindOption(level, name);
  if (!o)
    return Fail(level == kWsSolSocket || level == kWsIpprotoTcp || level == kWsIpprotoIp ? kWSAENOPROTOOPT
                                                                                         : kWSAEINVAL);
  if (optlen < 0 || (!optval && optlen > 0)) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  int value = 0;
  // A BOOL or int option may come as a single byte from old code.
  auto read_int = [&]() -> bool {
    if (optlen >= 4)
      std::memcpy(&value, optval, 4);
    else if (optlen >= 1)
      value = static_cast<unsigned char>(optval[0]);
    else
      return false;
    return true;
  };
  int r;
  switch (o->kind) {
    case OptionKind::Bool:
    case OptionKind::Int:
    case OptionKind::Error:
      if (!read_int()) return Fail(kWSAEFAULT);
      if (o->kind == OptionKind::Bool) value = value != 0;
      r = ::setsockopt(fd, o->level, o->name, &value, sizeof value);
      break;
    case OptionKind::Linger: {
      if (optlen < static_cast<int>(sizeof(WsLinger))) return Fail(kWSAEFAULT);
      WsLinger wl;
      std::memcpy(&wl, optval, sizeof wl);
      linger l{wl.l_onoff != 0, wl.l_linger};
      r = ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      break;
    }
    case OptionKind::DontLinger: {
      if (!read_int()) return Fail(kWSAEFAULT);
      linger l{value == 0, 0};
      r = ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      break;
    }
    case OptionKind::Millis: {
      if (!read_int()) return Fail(kWSAEFAULT);
      const DWORD ms = static_cast<DWORD>(value);
      timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
      r = ::setsockopt(fd, o->level, o->name, &tv, sizeof tv);
      break;
    }
    case OptionKind::Discontiguous:
    default: r = ::setsockopt(fd, o->level, o->name, optval, static_cast<socklen_t>(optlen)); break;
  }
  if (r != 0) return FailErrno(errno);
  return 0;
}

WINBASEAPI int qxws_getsockopt(SOCKET s, int level, int name, char *optval, int *optlen) {
  if (!CheckStarted()) return kSocketError;
  const OptionMapping *o = FindOption(level, name);
  if (!o)
    return Fail(level == kWsSolSocket || level == kWsIpprotoTcp || level == kWsIpprotoIp ? kWSAENOPROTOOPT
                                                                                         : kWSAEINVAL);
  if (!optval || !optlen || *optlen < 0) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  auto put = [&](const void *data, int n) -> int {
    if (*optlen < n) return Fail(kWSAEFAULT);
    std::memcpy(optval, data, static_cast<size_t>(n));
    *optlen = n;
    return 0;
  };
  switch (o->kind) {
    case OptionKind::Linger:
    case OptionKind::DontLinger: {
      linger l{};
      socklen_t n = sizeof l;
      if (::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &n) != 0) return FailErrno(errno);
      if (o->kind == OptionKind::DontLinger) {
        const int v = !l.l_onoff;
        return put(&v, 4);
      }
      WsLinger wl{static_cast<std::uint16_t>(l.l_onoff != 0), static_cast<std::uint16_t>(l.l_linger)};
      return put(&wl, sizeof wl);
    }
    case OptionKind::Millis: {
      timeval tv{};
      socklen_t n = sizeof tv;
      if (::getsockopt(fd, o->level, o->name, &tv, &n) != 0) return FailErrno(errno);
      const int ms = static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
      return put(&ms, 4);
    }
    case OptionKind::Discontiguous: {
      socklen_t n = static_cast<socklen_t>(*optlen);
      if (::getsockopt(fd, o->level, o->name, optval, &n) != 0) return FailErrno(errno);
      *optlen = static_cast<int>(n);
      return 0;
    }
    default: {
      int v = 0;
      socklen_t n = sizeof v;
      if (::getsockopt(fd, o->level, o->name, &v, &n) != 0) return FailErrno(errno);
      if (o->kind == OptionKind::Error && v != 0) v = WsaErrorFromErrno(v);
      if (o->kind == OptionKind::Bool) v = v != 0;
      return put(&v, 4);
    }
  }
}

WINBASEAPI int ioctlsocket(SOCKET s, long cmd, unsigned long *argp) {
  if (!CheckStarted()) return kSocketError;
  if (!argp) return Fail(kWSAEFAULT);
  const int fd = Fd(s);
  if (!IsSocket(fd)) return Fail(kWSAENOTSOCK);
  switch (cmd & 0xffffffffL) {
    case kFionbio & 0xffffffffL: {
      // A socket under WSAAsyncSelect stays non-blocking.
      if (*argp == 0 && HasRegistration(fd)) return Fail(kWSAEINVAL);
      const int flags = fcntl(fd, F_GETFL);
      const int want = *argp ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
      if (flags < 0 || fcntl(fd, F_SETFL, want) != 0) return FailErrno(errno);
      return 0;
    }
    case kFionread & 0xffffffffL: {
      int n = 0;
      if (::ioctl(fd, FIONREAD, &n) != 0) return FailErrno(errno);
      *argp = static_cast<unsigned long>(n < 0 ? 0 : n);
      return 0;
    }
    case kSiocatmark & 0xffffffffL: {
      // Winsock answers TRUE when no out-of-band data waits to be read.
      int oobinline = 0;
      socklen_t n = sizeof oobinline;
      ::getsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &oobinline, &n);
      if (oobinline) {
        int atmark = 0;
        if (::ioctl(fd, SIOCATMARK, &atmark) != 0) return FailErrno(errno);
        *argp = atmark ? 0 : 1;
      } else {
        char c;
        const ssize_t r = ::recv(fd, &c, 1, MSG_OOB | MSG_PEEK | MSG_DONTWAIT);
        *argp = r > 0 ? 0 : 1;
      }
      return 0;
    }
    default: return Fail(kWSAEINVAL);
  }
}

}  // extern "C"
