// WSAAsyncGetHostByName/ByAddr and WSACancelAsyncRequest: answers laid out in
// the caller's buffer, the size needed when it is too small, resolver errors,
// and cancelled requests that neither write the buffer nor post.
//
// The process moves into a private network namespace first, so a name the
// hosts file does not know fails at once instead of asking a DNS server.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>
#include <sched.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr UINT kLookupDone = 0x7123;

struct Reply {
  WORD length = 0;
  WORD error = 0;
};
std::map<UINT_PTR, Reply> g_replies;

LRESULT CALLBACK RecordProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kLookupDone) {
    g_replies[wparam] = Reply{WSAGETASYNCBUFLEN(lparam), WSAGETASYNCERROR(lparam)};
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

class OfflineNetwork : public ::testing::Environment {
 public:
  void SetUp() override {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
      std::fprintf(stderr, "note: no private network namespace; unknown names may reach DNS\n");
  }
};
const auto *const g_env = ::testing::AddGlobalTestEnvironment(new OfflineNetwork);

class AsyncLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data_), 0);
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordProc;
    wc.lpszClassName = "QxAsyncLookupTest";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, "QxAsyncLookupTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd_, nullptr);
    g_replies.clear();
  }
  void TearDown() override {
    DestroyWindow(hwnd_);
    WSACleanup();
  }

  // Pumps until the task's reply came (or 10 s passed).
  bool WaitFor(HANDLE task) {
    const auto id = reinterpret_cast<UINT_PTR>(task);
    const DWORD end = GetTickCount() + 10000;
    while (!g_replies.count(id) && static_cast<LONG>(end - GetTickCount()) > 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    return g_replies.count(id) != 0;
  }

  WSADATA data_{};
  HWND hwnd_ = nullptr;
};

TEST_F(AsyncLookup, NameAndAddressAnsweredInTheBuffer) {
  alignas(8) char by_name[MAXGETHOSTSTRUCT];
  alignas(8) char by_addr[MAXGETHOSTSTRUCT];
  HANDLE t1 = WSAAsyncGetHostByName(hwnd_, kLookupDone, "localhost", by_name, sizeof by_name);
  const ULONG loopback = inet_addr("127.0.0.1");
  HANDLE t2 = WSAAsyncGetHostByAddr(hwnd_, kLookupDone, reinterpret_cast<const char *>(&loopback), 4, AF_INET, by_addr,
                                    sizeof by_addr);
  ASSERT_NE(t1, nullptr);
  ASSERT_NE(t2, nullptr);
  ASSERT_NE(t1, t2);
  ASSERT_TRUE(WaitFor(t1));
  ASSERT_TRUE(WaitFor(t2));

  const Reply r1 = g_replies[reinterpret_cast<UINT_PTR>(t1)];
  EXPECT_EQ(r1.error, 0);
  EXPECT_GT(r1.length, sizeof(hostent));
  EXPECT_LE(r1.length, sizeof by_name);
  const auto *h = reinterpret_cast<const hostent *>(by_name);
  EXPECT_EQ(h->h_addrtype, AF_INET);
  EXPECT_EQ(h->h_length, 4);
  ASSERT_NE(h->h_addr_list[0], nullptr);
  EXPECT_EQ(std::memcmp(h->h_addr_list[0], &loopback, 4), 0);
  // Every pointer of the entry lies inside the caller's buffer.
  auto inside = [&](const void *p) { return p >= by_name && p < by_name + r1.length; };
  EXPECT_TRUE(inside(h->h_name));
  EXPECT_TRUE(inside(h->h_addr_list));
  EXPECT_TRUE(inside(h->h_addr_list[0]));

  const Reply r2 = g_replies[reinterpret_cast<UINT_PTR>(t2)];
  EXPECT_EQ(r2.error, 0);
  const auto *a = reinterpret_cast<const hostent *>(by_addr);
  EXPECT_STREQ(a->h_name, "localhost");
}

TEST_F(AsyncLookup, ErrorsArriveInTheReply) {
  // A buffer too small for the entry: WSAENOBUFS with the size needed.
  char tiny[16];
  HANDLE small = WSAAsyncGetHostByName(hwnd_, kLookupDone, "localhost", tiny, sizeof tiny);
  char buf[MAXGETHOSTSTRUCT];
  HANDLE unknown = WSAAsyncGetHostByName(hwnd_, kLookupDone, "no-such-host.invalid", buf, sizeof buf);
  ASSERT_TRUE(WaitFor(small));
  ASSERT_TRUE(WaitFor(unknown));
  const Reply rs = g_replies[reinterpret_cast<UINT_PTR>(small)];
  EXPECT_EQ(rs.error, WSAENOBUFS);
  EXPECT_GT(rs.length, sizeof tiny);
  const Reply ru = g_replies[reinterpret_cast<UINT_PTR>(unknown)];
  EXPECT_TRUE(ru.error == WSAHOST_NOT_FOUND || ru.error == WSATRY_AGAIN || ru.error == WSANO_RECOVERY ||
              ru.error == WSANO_DATA)
      << ru.error;

  // Refused at the call: no buffer, a family other than AF_INET.
  EXPECT_EQ(WSAAsyncGetHostByName(hwnd_, kLookupDone, "localhost", nullptr, 100), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  const ULONG any = 0;
  EXPECT_EQ(WSAAsyncGetHostByAddr(hwnd_, kLookupDone, reinterpret_cast<const char *>(&any), 4, 23, buf, sizeof buf),
            nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST_F(AsyncLookup, CancelledRequestsStaySilent) {
  // Many requests at once, then all but the first cancelled: a cancel either
  // succeeds (the request was still queued or resolving, and then it never
  // writes its buffer or posts) or fails with WSAEALREADY (it had answered,
  // and its message comes). With this many, some are still queued.
  constexpr int kCount = 64;
  std::vector<std::vector<char>> buffers(kCount, std::vector<char>(MAXGETHOSTSTRUCT, '\x5A'));
  std::vector<HANDLE> tasks;
  for (int i = 0; i < kCount; ++i) {
    tasks.push_back(WSAAsyncGetHostByName(hwnd_, kLookupDone, "localhost", buffers[i].data(), MAXGETHOSTSTRUCT));
    ASSERT_NE(tasks.back(), nullptr);
  }
  std::vector<bool> cancelled(kCount, false);
  int cancels = 0;
  for (int i = 1; i < kCount; ++i) {
    if (WSACancelAsyncRequest(tasks[i]) == 0) {
      cancelled[i] = true;
      ++cancels;
    } else {
      EXPECT_EQ(WSAGetLastError(), WSAEALREADY) << i;
    }
  }
  EXPECT_GT(cancels, 0);
  for (int i = 0; i < kCount; ++i) {
    if (!cancelled[i]) {
      ASSERT_TRUE(WaitFor(tasks[i])) << i;
    }
  }
  // Requests made after them all: once these answer, every resolver that
  // could still have been busy with a cancelled request has finished it.
  char last[MAXGETHOSTSTRUCT];
  for (int round = 0; round < 8; ++round) {
    ASSERT_TRUE(WaitFor(WSAAsyncGetHostByName(hwnd_, kLookupDone, "localhost", last, sizeof last)));
  }
  for (int i = 0; i < kCount; ++i) {
    if (!cancelled[i]) continue;
    EXPECT_EQ(g_replies.count(reinterpret_cast<UINT_PTR>(tasks[i])), 0u) << i;
    EXPECT_EQ(std::string(buffers[i].begin(), buffers[i].end()), std::string(MAXGETHOSTSTRUCT, '\x5A')) << i;
  }

  // An answered request can no longer be cancelled; a made-up handle never could.
  EXPECT_EQ(WSACancelAsyncRequest(tasks[0]), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEALREADY);
  EXPECT_EQ(WSACancelAsyncRequest(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7FFFFFF0))), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

}  // namespace
