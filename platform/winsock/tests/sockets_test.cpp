// Winsock 1.1 calls over loopback: start-up, structure layouts, TCP and UDP
// exchanges, non-blocking errors, select, options, names and byte order.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

class Winsock : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data_), 0); }
  void TearDown() override { WSACleanup(); }

  // A listening TCP socket on a free loopback port.
  SOCKET Listener(sockaddr_in &addr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    int len = sizeof addr;
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    EXPECT_EQ(listen(s, 5), 0);
    return s;
  }

  // A connected pair: client and the accepted socket.
  void Pair(SOCKET &client, SOCKET &server) {
    sockaddr_in addr;
    SOCKET l = Listener(addr);
    client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    sockaddr_in peer{};
    int len = sizeof peer;
    server = accept(l, reinterpret_cast<sockaddr *>(&peer), &len);
    ASSERT_NE(server, INVALID_SOCKET);
    EXPECT_EQ(len, 16);
    EXPECT_EQ(peer.sin_addr.s_addr, inet_addr("127.0.0.1"));
    closesocket(l);
  }

  WSADATA data_{};
};

TEST(WinsockStartup, VersionsDescriptionAndReferenceCount) {
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  WSADATA d{};
  EXPECT_EQ(WSAStartup(0x0000, &d), WSAVERNOTSUPPORTED);
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &d), 0);
  EXPECT_EQ(d.wVersion, 0x0101);
  EXPECT_EQ(d.wHighVersion, 0x0101);
  EXPECT_GT(std::strlen(d.szDescription), 0u);
  EXPECT_STREQ(d.szSystemStatus, "Running");
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);  // a later version gets 1.1
  EXPECT_EQ(d.wVersion, 0x0101);
  EXPECT_EQ(WSACleanup(), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);  // still started once
  EXPECT_NE(s, INVALID_SOCKET);
  closesocket(s);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST(WinsockLayout, StructuresHaveWinsockShapes) {
  EXPECT_EQ(sizeof(SOCKET), 4u);
  EXPECT_EQ(sizeof(sockaddr_in), 16u);
  EXPECT_EQ(sizeof(sockaddr), 16u);
  EXPECT_EQ(sizeof(in_addr), 4u);
  EXPECT_EQ(sizeof(linger), 4u);
  EXPECT_EQ(sizeof(fd_set), 4u + 64u * 4u);
  EXPECT_EQ(offsetof(hostent, h_addrtype), 2 * sizeof(void *));
  EXPECT_EQ(sizeof(((hostent *)nullptr)->h_length), 2u);
  EXPECT_EQ(sizeof(((servent *)nullptr)->s_port), 2u);
  EXPECT_EQ(offsetof(WSADATA, szDescription), 4u);
  EXPECT_EQ(offsetof(WSADATA, iMaxSockets), 390u);
  EXPECT_EQ(WSAMAKESELECTREPLY(FD_CLOSE, WSAECONNRESET), MAKELONG(0x20, 10054));
}

TEST_F(Winsock, TcpExchangeShutdownAndPendingCount) {
  SOCKET c, s;
  Pair(c, s);
  ASSERT_EQ(send(c, "hello", 5, 0), 5);
  Sleep(20);
  u_long pending = 0;
  ASSERT_EQ(ioctlsocket(s, FIONREAD, &pending), 0);
  EXPECT_EQ(pending, 5u);
  char buf[16] = {};
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), 5);
  EXPECT_STREQ(buf, "hello");
  sockaddr_in peer{};
  int len = sizeof peer;
  ASSERT_EQ(getpeername(s, reinterpret_cast<sockaddr *>(&peer), &len), 0);
  EXPECT_EQ(std::string(inet_ntoa(peer.sin_addr)), "127.0.0.1");
  ASSERT_EQ(shutdown(c, 1), 0);
  EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0);  // the peer's end of data
  closesocket(c);
  closesocket(s);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(Winsock, NonBlockingCallsSayWouldBlock) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  u_long on = 1;
  ASSERT_EQ(ioctlsocket(l, FIONBIO, &on), 0);
  EXPECT_EQ(accept(l, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), 10035);
  SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
  const int r = connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  if (r != 0) {
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  }
  fd_set w;
  FD_ZERO(&w);
  FD_SET(c, &w);
  timeval tv{5, 0};
  EXPECT_EQ(select(0, nullptr, &w, nullptr, &tv), 1);
  EXPECT_TRUE(FD_ISSET(c, &w));
  char buf[4];
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  closesocket(c);
  closesocket(l);
}

TEST_F(Winsock, RefusedConnectAndClosedPeerNeverRaiseSigpipe) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  closesocket(l);
  SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
  closesocket(c);

  SOCKET a, b;
  Pair(a, b);
  closesocket(b);
  Sleep(20);
  int result = 0;
  for (int i = 0; i < 50 && result != SOCKET_ERROR; ++i) result = send(a, "x", 1, 0);
  ASSERT_EQ(result, SOCKET_ERROR);  // and we are still alive
  const int err = WSAGetLastError();
  EXPECT_TRUE(err == WSAECONNRESET || err == WSAECONNABORTED || err == WSAESHUTDOWN) << err;
  closesocket(a);
}

TEST_F(Winsock, OversizedDatagramFillsTheBufferAndFails) {
  SOCKET u = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(u, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  int len = sizeof addr;
  ASSERT_EQ(getsockname(u, reinterpret_cast<sockaddr *>(&addr), &len), 0);
  const std::string big(100, 'Q');
  ASSERT_EQ(sendto(u, big.data(), 100, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 100);
  ASSERT_EQ(sendto(u, "next", 4, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 4);
  char buf[10];
  sockaddr_in from{};
  int fromlen = sizeof from;
  EXPECT_EQ(recvfrom(u, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fromlen), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(std::string(buf, 10), std::string(10, 'Q'));
  EXPECT_EQ(from.sin_port, addr.sin_port);
  EXPECT_EQ(recvfrom(u, buf, sizeof buf, 0, nullptr, nullptr), 4);  // the rest was discarded
  fromlen = 4;
  EXPECT_EQ(recvfrom(u, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fromlen), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  closesocket(u);
}

TEST_F(Winsock, SelectUsesWinsockSets) {
  SOCKET c, s;
  Pair(c, s);
  fd_set r;
  FD_ZERO(&r);
  FD_SET(s, &r);
  FD_SET(s, &r);
  EXPECT_EQ(r.fd_count, 1u);
  timeval zero{0, 0};
  EXPECT_EQ(select(0, &r, nullptr, nullptr, &zero), 0);
  EXPECT_EQ(r.fd_count, 0u);
  send(c, "x", 1, 0);
  FD_SET(s, &r);
  FD_SET(c, &r);
  timeval tv{5, 0};
  EXPECT_EQ(select(0, &r, nullptr, nullptr, &tv), 1);
  EXPECT_TRUE(FD_ISSET(s, &r));
  EXPECT_FALSE(FD_ISSET(c, &r));
  FD_CLR(s, &r);
  EXPECT_EQ(r.fd_count, 0u);
  EXPECT_EQ(select(0, nullptr, nullptr, nullptr, &zero), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  closesocket(c);
  closesocket(s);
}

TEST_F(Winsock, OptionsUseWinsockNumbers) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  BOOL on = TRUE;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char *>(&on), sizeof on), 0);
  int value = 0, len = sizeof value;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char *>(&value), &len), 0);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char *>(&on), sizeof on), 0);
  ASSERT_EQ(getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char *>(&value), &len), 0);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<char *>(&on), sizeof on), 0);
  linger lg{1, 5};
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&lg), sizeof lg), 0);
  linger got{};
  len = sizeof got;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&got), &len), 0);
  EXPECT_EQ(got.l_onoff, 1);
  EXPECT_EQ(got.l_linger, 5);
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_DONTLINGER, reinterpret_cast<char *>(&on), sizeof on), 0);
  len = sizeof got;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&got), &len), 0);
  EXPECT_EQ(got.l_onoff, 0);
  int ms = 1500;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char *>(&ms), sizeof ms), 0);
  len = sizeof value;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char *>(&value), &len), 0);
  EXPECT_EQ(value, 1500);
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char *>(&value), &len), 0);
  EXPECT_EQ(value, SOCK_STREAM);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x7777, reinterpret_cast<char *>(&on), sizeof on), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
  len = 2;
  EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char *>(&value), &len), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  closesocket(s);
}

TEST_F(Winsock, OutOfBandMarkAndInlineOption) {
  SOCKET c, s;
  Pair(c, s);
  u_long mark = 0;
  ASSERT_EQ(ioctlsocket(s, SIOCATMARK, &mark), 0);
  EXPECT_EQ(mark, 1u);  // TRUE: no urgent data waits
  ASSERT_EQ(send(c, "X", 1, MSG_OOB), 1);
  Sleep(20);
  ASSERT_EQ(ioctlsocket(s, SIOCATMARK, &mark), 0);
  EXPECT_EQ(mark, 0u);
  char b = 0;
  EXPECT_EQ(recv(s, &b, 1, MSG_OOB), 1);
  EXPECT_EQ(b, 'X');
  closesocket(c);
  closesocket(s);
}

TEST(WinsockText, AddressTextAndByteOrder) {
  struct Case {
    const char *text;
    ULONG host_order;
  } cases[] = {
      {"127.0.0.1", 0x7f000001},       {"1.2.3", 0x01020003},  {"1.2", 0x01000002},
      {"16909060", 0x01020304},        {"0x7f.1", 0x7f000001}, {"0.0.0.0", 0},
      {"255.255.255.255", 0xffffffff},
  };
  for (const Case &c : cases) EXPECT_EQ(ntohl(inet_addr(c.text)), c.host_order) << c.text;
  for (const char *bad : {"", "abc", "256.1.1.1", "1.2.3.4.5", "1..2"}) EXPECT_EQ(inet_addr(bad), INADDR_NONE) << bad;
  in_addr a;
  a.s_addr = inet_addr("10.20.30.40");
  EXPECT_STREQ(inet_ntoa(a), "10.20.30.40");
  EXPECT_EQ(a.S_un.S_un_b.s_b1, 10);
  EXPECT_EQ(a.S_un.S_un_b.s_b4, 40);
  EXPECT_EQ(htons(0x1234), 0x3412);
  EXPECT_EQ(ntohs(htons(23)), 23);
  EXPECT_EQ(htonl(0x01020304u), 0x04030201u);
}

TEST_F(Winsock, HostAndServiceDatabases) {
  hostent *h = gethostbyname("localhost");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->h_addrtype, AF_INET);
  EXPECT_EQ(h->h_length, 4);
  ASSERT_NE(h->h_addr, nullptr);
  EXPECT_EQ(static_cast<unsigned char>(h->h_addr[0]), 127);
  h = gethostbyname("10.1.2.3");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(std::memcmp(h->h_addr_list[0], "\x0a\x01\x02\x03", 4), 0);
  EXPECT_EQ(h->h_addr_list[1], nullptr);
  EXPECT_EQ(gethostbyname("no-such-host.invalid"), nullptr);
  EXPECT_GE(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_LE(WSAGetLastError(), WSANO_DATA);
  const ULONG lo = inet_addr("127.0.0.1");
  h = gethostbyaddr(reinterpret_cast<const char *>(&lo), 4, AF_INET);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(h->h_name, nullptr);

  servent *sv = getservbyname("telnet", "tcp");
  ASSERT_NE(sv, nullptr) << "needs /etc/services (netbase)";
  EXPECT_EQ(ntohs(static_cast<u_short>(sv->s_port)), 23);
  EXPECT_STREQ(sv->s_proto, "tcp");
  sv = getservbyport(htons(79), "tcp");
  ASSERT_NE(sv, nullptr);
  EXPECT_STREQ(sv->s_name, "finger");
  EXPECT_EQ(getservbyname("no-such-service", "tcp"), nullptr);

  char name[256];
  ASSERT_EQ(gethostname(name, sizeof name), 0);
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_EQ(gethostname(name, 1), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

}  // namespace
