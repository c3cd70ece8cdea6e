// select() over Winsock's fd_set (a count and an array of sockets), done with
// poll(): the descriptor numbers are not limited by the C library's FD_SETSIZE.
#include "ws_internal.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace qx::ws {
namespace {

constexpr short kReadable = POLLIN | POLLHUP | POLLERR;  // recv will not block
constexpr short kWritable = POLLOUT | POLLERR;

struct Watched {
  SOCKET s;
  bool read = false, write = false, except = false;
};

bool AddSet(const WsFdSet *set, int which, std::vector<Watched> &out) {
  if (!set) return true;
  if (set->fd_count > kFdSetSize) return false;
  for (std::uint32_t i = 0; i < set->fd_count; ++i) {
    const SOCKET s = set->fd_array[i];
    Watched *w = nullptr;
    for (Watched &x : out)
      if (x.s == s) w = &x;
    if (!w) w = &out.emplace_back(Watched{s});
    (which == 0 ? w->read : which == 1 ? w->write : w->except) = true;
  }
  return true;
}

// A connect that failed shows in the exception set, as with Winsock. Told by
// the socket having no peer, so that SO_ERROR stays for the caller to read.
bool ConnectFailed(int fd) {
  sockaddr_storage peer{};
  socklen_t n = sizeof peer;
  return ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &n) != 0 && errno == ENOTCONN;
}

}  // namespace
}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

WINBASEAPI int __WSAFDIsSet(SOCKET s, WsFdSet *set) {
  if (!set) return 0;
  const std::uint32_t n = set->fd_count > kFdSetSize ? kFdSetSize : set->fd_count;
  for (std::uint32_t i = 0; i < n; ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

// FD_SET: adds a socket once, while the set has room.
WINBASEAPI void qxws_fd_set_add(SOCKET s, WsFdSet *set) {
  if (!set || set->fd_count > kFdSetSize) return;
  for (std::uint32_t i = 0; i < set->fd_count; ++i)
    if (set->fd_array[i] == s) return;
  if (set->fd_count < kFdSetSize) set->fd_array[set->fd_count++] = s;
}

// FD_CLR: removes a socket, keeping the order of the others.
WINBASEAPI void qxws_fd_set_remove(SOCKET s, WsFdSet *set) {
  if (!set || set->fd_count > kFdSetSize) return;
  for (std::uint32_t i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] != s) continue;
    for (std::uint32_t j = i + 1; j < set->fd_count; ++j) set->fd_array[j - 1] = set->fd_array[j];
    --set->fd_count;
    return;
  }
}

WINBASEAPI int qxws_select(int, WsFdSet *readfds, WsFdSet *writefds, WsFdSet *exceptfds, const timeval *timeout) {
  if (!CheckStarted()) return kSocketError;
  std::vector<Watched> watched;
  if (!AddSet(readfds, 0, watched) || !AddSet(writefds, 1, watched) || !AddSet(exceptfds, 2, watched))
    return Fail(kWSAEINVAL);
  if (watched.empty()) return Fail(kWSAEINVAL);
  if (timeout && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) return Fail(kWSAEINVAL);
  std::vector<pollfd> fds;
  for (const Watched &w : watched) {
    short ev = 0;
    if (w.read) ev |= POLLIN;
    if (w.write) ev |= POLLOUT;
    if (w.except) ev |= POLLPRI | POLLOUT;
    fds.push_back({static_cast<int>(w.s > 0x7fffffffu ? -1 : w.s), ev, 0});
    if (fds.back().fd < 0) return Fail(kWSAENOTSOCK);
  }
  long long ms = -1;
  if (timeout) ms = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
  if (ms > 0x7fffffff) ms = 0x7fffffff;
  int r;
  do {
    r = ::poll(fds.data(), fds.size(), static_cast<int>(ms));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return FailErrno(errno);
  for (const pollfd &p : fds)
    if (p.revents & POLLNVAL) return Fail(kWSAENOTSOCK);
  if (readfds) readfds->fd_count = 0;
  if (writefds) writefds->fd_count = 0;
  if (exceptfds) exceptfds->fd_count = 0;
  int count = 0;
  for (size_t i = 0; i < fds.size(); ++i) {
    const Watched &w = watched[i];
    const short re = fds[i].revents;
    if (w.read && (re & kReadable)) {
      readfds->fd_array[readfds->fd_count++] = w.s;
      ++count;
    }
    if (w.write && (re & kWritable) && !((re & POLLERR) && ConnectFailed(fds[i].fd))) {
      writefds->fd_array[writefds->fd_count++] = w.s;
      ++count;
    }
    if (w.except && ((re & POLLPRI) || ((re & POLLERR) && ConnectFailed(fds[i].fd)))) {
      exceptfds->fd_array[exceptfds->fd_count++] = w.s;
      ++count;
    }
  }
  return count;
}

}  // extern "C"
