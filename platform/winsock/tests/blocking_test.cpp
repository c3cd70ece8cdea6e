// Blocking calls with a blocking hook: the hook runs while a call waits, a
// cancel from inside the hook ends the call with WSAEINTR, and a blocking
// call inside the hook is refused.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

namespace {

SOCKET g_peer = INVALID_SOCKET;
SOCKET g_blocked = INVALID_SOCKET;
int g_calls = 0;
int g_cancel_after = 0;
int g_send_after = 0;
BOOL g_was_blocking = FALSE;
int g_nested_error = 0;

INT_PTR WINAPI TestHook() {
  ++g_calls;
  g_was_blocking = WSAIsBlocking();
  if (g_calls == 1) {
    char b;
    g_nested_error = recv(g_blocked, &b, 1, 0) == SOCKET_ERROR ? WSAGetLastError() : 0;
  }
  if (g_cancel_after && g_calls == g_cancel_after) WSACancelBlockingCall();
  if (g_send_after && g_calls == g_send_after) send(g_peer, "late", 4, 0);
  return FALSE;
}

class BlockingHook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data_), 0);
    SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    int len = sizeof addr;
    getsockname(l, reinterpret_cast<sockaddr *>(&addr), &len);
    listen(l, 1);
    g_peer = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(g_peer, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    g_blocked = accept(l, nullptr, nullptr);
    closesocket(l);
    g_calls = g_cancel_after = g_send_after = g_nested_error = 0;
    g_was_blocking = FALSE;
  }
  void TearDown() override {
    WSAUnhookBlockingHook();
    closesocket(g_peer);
    closesocket(g_blocked);
    WSACleanup();
  }
  WSADATA data_{};
};

TEST_F(BlockingHook, CancelFromTheHookEndsTheCallWithWsaeintr) {
  FARPROC previous = WSASetBlockingHook(reinterpret_cast<FARPROC>(&TestHook));
  EXPECT_NE(previous, nullptr);  // the default hook
  g_cancel_after = 3;
  char buf[8];
  EXPECT_EQ(recv(g_blocked, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINTR);
  EXPECT_EQ(g_calls, 3);
  EXPECT_TRUE(g_was_blocking);
  EXPECT_EQ(g_nested_error, WSAEINPROGRESS);
  EXPECT_FALSE(WSAIsBlocking());
  EXPECT_EQ(WSACancelBlockingCall(), SOCKET_ERROR);  // nothing blocks now
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST_F(BlockingHook, CallCompletesWhenDataArrivesWhileTheHookRuns) {
  WSASetBlockingHook(reinterpret_cast<FARPROC>(&TestHook));
  u_long on = 1;  // inside a hook only non-blocking calls may run
  ioctlsocket(g_peer, FIONBIO, &on);
  g_send_after = 4;
  char buf[8] = {};
  EXPECT_EQ(recv(g_blocked, buf, sizeof buf, 0), 4);
  EXPECT_STREQ(buf, "late");
  EXPECT_GE(g_calls, 4);
}

TEST_F(BlockingHook, WithoutAHookACallBlocksInTheKernel) {
  ASSERT_EQ(WSAUnhookBlockingHook(), 0);
  send(g_peer, "now", 3, 0);
  char buf[8] = {};
  EXPECT_EQ(recv(g_blocked, buf, sizeof buf, 0), 3);
  EXPECT_EQ(g_calls, 0);
}

TEST_F(BlockingHook, DefaultHookIsHandedBackAndCanBeReinstalled) {
  FARPROC def = WSASetBlockingHook(reinterpret_cast<FARPROC>(&TestHook));
  EXPECT_EQ(WSASetBlockingHook(def), reinterpret_cast<FARPROC>(&TestHook));
  EXPECT_EQ(WSASetBlockingHook(nullptr), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

}  // namespace
