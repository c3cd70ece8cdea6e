// WSAAsyncSelect sequences for a listener, a client and a UDP socket: one
// message per event until the call that re-enables it, FD_CLOSE once,
// arming with data already waiting, cancelling, and registration from
// another thread.
#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kSocketMessage = 0x7FFF;

struct Event {
  SOCKET s;
  WORD event;
  WORD error;
};

std::vector<Event> g_events;

LRESULT CALLBACK RecordProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kSocketMessage) {
    g_events.push_back({static_cast<SOCKET>(wparam), WSAGETSELECTEVENT(lparam), WSAGETSELECTERROR(lparam)});
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Dispatches messages for `ms` milliseconds.
void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

// Pumps until `count` events of socket s have arrived (or 5 s), then a little
// longer so that an extra message would be seen.
std::vector<WORD> EventsOf(SOCKET s, size_t count) {
  const DWORD end = GetTickCount() + 5000;
  auto mine = [&] {
    std::vector<WORD> out;
    for (const Event &e : g_events)
      if (e.s == s) out.push_back(e.event);
    return out;
  };
  while (mine().size() < count && static_cast<LONG>(end - GetTickCount()) > 0) Pump(10);
  Pump(count ? 60 : 150);
  return mine();
}

// The events of socket s after a pause in which nothing more should come.
std::vector<WORD> Settled(SOCKET s) { return EventsOf(s, 0); }

class AsyncSelect : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data_), 0);
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordProc;
    wc.lpszClassName = "QxAsyncSelectTest";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, "QxAsyncSelectTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd_, nullptr);
    g_events.clear();
  }
  void TearDown() override {
    DestroyWindow(hwnd_);
    WSACleanup();
  }

  SOCKET Listener(sockaddr_in &addr) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    int len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
    EXPECT_EQ(listen(s, 5), 0);
    return s;
  }

  SOCKET Connect(const sockaddr_in &addr) {
    SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(c, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
    return c;
  }

  HWND hwnd_ = nullptr;
  WSADATA data_{};
};

using Seq = std::vector<WORD>;

TEST_F(AsyncSelect, ListenerGetsOneAcceptPerAcceptCall) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  ASSERT_EQ(WSAAsyncSelect(l, hwnd_, kSocketMessage, FD_ACCEPT), 0);
  SOCKET c1 = Connect(addr), c2 = Connect(addr);
  EXPECT_EQ(EventsOf(l, 1), Seq({FD_ACCEPT}));  // two waiting, one message
  SOCKET a1 = accept(l, nullptr, nullptr);
  ASSERT_NE(a1, INVALID_SOCKET);
  EXPECT_EQ(EventsOf(l, 2), Seq({FD_ACCEPT, FD_ACCEPT}));  // re-posted: one still waits
  SOCKET a2 = accept(l, nullptr, nullptr);
  ASSERT_NE(a2, INVALID_SOCKET);
  EXPECT_EQ(Settled(l).size(), 2u);
  EXPECT_EQ(accept(l, nullptr, nullptr), INVALID_SOCKET);  // the listener is non-blocking now
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  for (SOCKET s : {c1, c2, a1, a2, l}) closesocket(s);
}

TEST_F(AsyncSelect, ClientSequenceWithReenablingAndOneClose) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(WSAAsyncSelect(c, hwnd_, kSocketMessage, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE), 0);
  if (connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  }
  EXPECT_EQ(EventsOf(c, 2), Seq({FD_CONNECT, FD_WRITE}));
  EXPECT_EQ(g_events[0].error, 0);
  SOCKET a = accept(l, nullptr, nullptr);
  ASSERT_NE(a, INVALID_SOCKET);
  send(a, "abc", 3, 0);
  EXPECT_EQ(EventsOf(c, 3), Seq({FD_CONNECT, FD_WRITE, FD_READ}));
  send(a, "def", 3, 0);
  EXPECT_EQ(Settled(c).size(), 3u);  // no second FD_READ before recv
  char buf[16];
  EXPECT_EQ(recv(c, buf, 2, 0), 2);
  EXPECT_EQ(EventsOf(c, 4), Seq({FD_CONNECT, FD_WRITE, FD_READ, FD_READ}));  // data remains
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), 4);
  EXPECT_EQ(Settled(c).size(), 4u);
  closesocket(a);
  EXPECT_EQ(EventsOf(c, 5), Seq({FD_CONNECT, FD_WRITE, FD_READ, FD_READ, FD_CLOSE}));
  EXPECT_EQ(g_events.back().error, 0);
  EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
  EXPECT_EQ(Settled(c).size(), 5u);  // FD_CLOSE once, no FD_READ at end of data
  closesocket(c);
  closesocket(l);
}

TEST_F(AsyncSelect, ArmingWithDataWaitingPostsReadAndResetGivesCloseWithError) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  SOCKET c = Connect(addr);
  SOCKET a = accept(l, nullptr, nullptr);
  send(a, "x", 1, 0);
  Sleep(20);
  ASSERT_EQ(WSAAsyncSelect(c, hwnd_, kSocketMessage, FD_READ | FD_CLOSE), 0);
  EXPECT_EQ(EventsOf(c, 1), Seq({FD_READ}));
  char b;
  EXPECT_EQ(recv(c, &b, 1, 0), 1);
  linger abort_close{1, 0};
  setsockopt(a, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&abort_close), sizeof abort_close);
  closesocket(a);
  EXPECT_EQ(EventsOf(c, 2), Seq({FD_READ, FD_CLOSE}));
  EXPECT_EQ(g_events.back().error, WSAECONNRESET);
  closesocket(c);
  closesocket(l);
}

TEST_F(AsyncSelect, FailedConnectReportsItsError) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  closesocket(l);
  SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(WSAAsyncSelect(c, hwnd_, kSocketMessage, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE), 0);
  connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  EXPECT_EQ(EventsOf(c, 1), Seq({FD_CONNECT}));
  EXPECT_EQ(g_events[0].error, WSAECONNREFUSED);
  closesocket(c);
}

TEST_F(AsyncSelect, UdpReadIsReenabledByRecvfrom) {
  SOCKET u = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(bind(u, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  int len = sizeof addr;
  getsockname(u, reinterpret_cast<sockaddr *>(&addr), &len);
  ASSERT_EQ(WSAAsyncSelect(u, hwnd_, kSocketMessage, FD_READ), 0);
  SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
  sendto(sender, "one", 3, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  sendto(sender, "two", 3, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  EXPECT_EQ(EventsOf(u, 1), Seq({FD_READ}));
  char buf[8];
  EXPECT_EQ(recvfrom(u, buf, sizeof buf, 0, nullptr, nullptr), 3);
  EXPECT_EQ(EventsOf(u, 2), Seq({FD_READ, FD_READ}));
  EXPECT_EQ(recvfrom(u, buf, sizeof buf, 0, nullptr, nullptr), 3);
  EXPECT_EQ(Settled(u).size(), 2u);
  // Cancelled: a datagram now brings nothing, and the socket stays non-blocking.
  ASSERT_EQ(WSAAsyncSelect(u, hwnd_, 0, 0), 0);
  sendto(sender, "three", 5, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  EXPECT_EQ(Settled(u).size(), 2u);
  closesocket(sender);
  closesocket(u);
}

TEST_F(AsyncSelect, WriteIsReenabledByASendThatWouldBlock) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  SOCKET c = Connect(addr);
  SOCKET a = accept(l, nullptr, nullptr);
  ASSERT_EQ(WSAAsyncSelect(c, hwnd_, kSocketMessage, FD_WRITE), 0);
  EXPECT_EQ(EventsOf(c, 1), Seq({FD_WRITE}));
  const std::string chunk(65536, 'w');
  int sent = 0;
  while (send(c, chunk.data(), static_cast<int>(chunk.size()), 0) != SOCKET_ERROR) sent++;
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(Settled(c).size(), 1u);
  char buf[65536];
  u_long on = 1;
  ioctlsocket(a, FIONBIO, &on);
  while (recv(a, buf, sizeof buf, 0) > 0) {
  }
  EXPECT_EQ(EventsOf(c, 2), Seq({FD_WRITE, FD_WRITE}));
  for (SOCKET s : {c, a, l}) closesocket(s);
}

TEST_F(AsyncSelect, LastCleanupEndsRegistrations) {
  SOCKET u = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(bind(u, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  int len = sizeof addr;
  getsockname(u, reinterpret_cast<sockaddr *>(&addr), &len);
  ASSERT_EQ(WSAAsyncSelect(u, hwnd_, kSocketMessage, FD_READ), 0);
  ASSERT_EQ(WSACleanup(), 0);
  WSADATA again;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &again), 0);
  SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
  sendto(sender, "one", 3, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  EXPECT_EQ(Settled(u).size(), 0u);
  closesocket(sender);
  closesocket(u);
}

TEST_F(AsyncSelect, RegistrationFromAnotherThreadReachesTheWindowsThread) {
  sockaddr_in addr;
  SOCKET l = Listener(addr);
  std::thread([&] { EXPECT_EQ(WSAAsyncSelect(l, hwnd_, kSocketMessage, FD_ACCEPT), 0); }).join();
  SOCKET c = Connect(addr);
  EXPECT_EQ(EventsOf(l, 1), Seq({FD_ACCEPT}));
  closesocket(c);
  closesocket(l);  // ends the registration
  EXPECT_EQ(WSAAsyncSelect(l, hwnd_, kSocketMessage, FD_ACCEPT), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace

namespace {

// A window on a thread of its own that records its socket events and waits in
// GetMessage, the way a server's thread does.
struct WindowThread {
  HWND hwnd = nullptr;
  DWORD tid = 0;
  std::vector<WORD> events;
  HANDLE got_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread thread;

  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    auto *self = reinterpret_cast<WindowThread *>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (msg == kSocketMessage && self) {
      self->events.push_back(WSAGETSELECTEVENT(l));
      SetEvent(self->got_event);
      return 0;
    }
    return DefWindowProcA(h, msg, w, l);
  }

  WindowThread() {
    thread = std::thread([this] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.lpszClassName = "QxAsyncSelectThread";
      RegisterClassA(&wc);
      hwnd = CreateWindowExA(0, "QxAsyncSelectThread", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      tid = GetCurrentThreadId();
      SetEvent(ready);
      MSG m;
      while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    });
    WaitForSingleObject(ready, 5000);
  }
  void End() {
    if (!thread.joinable()) return;
    PostThreadMessageA(tid, WM_QUIT, 0, 0);
    thread.join();
  }
  ~WindowThread() {
    End();
    CloseHandle(got_event);
    CloseHandle(ready);
  }
};

// A bound UDP socket and a sender aimed at it.
struct UdpPair {
  SOCKET receiver = socket(AF_INET, SOCK_DGRAM, 0);
  SOCKET sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  UdpPair() {
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(bind(receiver, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    int len = sizeof addr;
    getsockname(receiver, reinterpret_cast<sockaddr *>(&addr), &len);
  }
  void Send() { sendto(sender, "x", 1, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr); }
  ~UdpPair() {
    closesocket(sender);
    closesocket(receiver);
  }
};

}  // namespace

// The window's thread is already blocked in GetMessage when another thread
// registers the socket: its wait must take the socket in and wake for it.
TEST_F(AsyncSelect, ThreadBlockedInGetMessageWakesForItsSocket) {
  WindowThread owner;
  ASSERT_NE(owner.hwnd, nullptr);
  UdpPair udp;
  Sleep(20);  // the owner is in GetMessage
  ASSERT_EQ(WSAAsyncSelect(udp.receiver, owner.hwnd, kSocketMessage, FD_READ), 0);
  udp.Send();
  ASSERT_EQ(WaitForSingleObject(owner.got_event, 5000), WAIT_OBJECT_0);
  owner.End();
  EXPECT_EQ(owner.events, Seq({FD_READ}));
}

// A registration outlives the thread of its window; registered again for a
// window of another thread, its events go there and nowhere else.
TEST_F(AsyncSelect, RegistrationMovesBetweenThreadsAndOutlivesAnEndedOne) {
  UdpPair udp;
  {
    WindowThread first;
    ASSERT_EQ(WSAAsyncSelect(udp.receiver, first.hwnd, kSocketMessage, FD_READ), 0);
    first.End();  // its window and queue go with the thread
  }
  udp.Send();
  Sleep(50);
  WindowThread second;
  ASSERT_EQ(WSAAsyncSelect(udp.receiver, second.hwnd, kSocketMessage, FD_READ), 0);
  ASSERT_EQ(WaitForSingleObject(second.got_event, 5000), WAIT_OBJECT_0);  // the datagram waiting
  char buf[8];
  EXPECT_EQ(recv(udp.receiver, buf, sizeof buf, 0), 1);
  ASSERT_EQ(WSAAsyncSelect(udp.receiver, hwnd_, kSocketMessage, FD_READ), 0);
  udp.Send();
  EXPECT_EQ(EventsOf(udp.receiver, 1), Seq({FD_READ}));
  second.End();
  EXPECT_EQ(second.events, Seq({FD_READ}));
}
