// Plain side of the echo benchmark: loopback pairs, the client's round trip
// and the echo server written directly on poll().
#include "echo_common.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qxbench {

bool MakeTcpPair(int &client, int &server) {
  const int l = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(l, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(l, 1) != 0 ||
      ::getsockname(l, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
    return false;
  client = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return false;
  server = ::accept(l, nullptr, nullptr);
  ::close(l);
  const int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return server >= 0;
}

bool RoundTrip(int client, std::size_t n) {
  char buf[4096] = {};
  if (n > sizeof buf || ::send(client, buf, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) return false;
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(client, buf + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

void CloseFd(int fd) { ::close(fd); }

void PlainPollEchoServer(int server) {
  char buf[4096];
  for (;;) {
    pollfd p{server, POLLIN, 0};
    if (::poll(&p, 1, -1) < 0) continue;
    const ssize_t n = ::recv(server, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    if (n > 0) ::send(server, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
  }
  ::close(server);
}

}  // namespace qxbench
