// PumpMessages and SendAllPumping with a real window and a loopback peer
// that reads slowly; the busy-wait delay's calibration.
#include "common_fixture.h"

#include <atomic>
#include <ctime>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

using namespace commontest;
using namespace qxtest;

namespace {

WinsockSession g_winsock;

constexpr UINT kTick = WM_USER + 1;    // posted by the peer thread while it reads
constexpr UINT kQuit = WM_USER + 2;    // the window answers with PostQuitMessage
constexpr UINT kNested = WM_USER + 3;  // the window sends on socket wParam itself
int g_nestedResult = -1;
int g_ticks = 0;
std::vector<UINT> g_seen;

LRESULT CALLBACK TestProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kTick) ++g_ticks;
  if (msg >= WM_USER) g_seen.push_back(msg);
  if (msg == kQuit) PostQuitMessage(0);
  if (msg == kNested) g_nestedResult = SendAllPumping(static_cast<SOCKET>(wparam), "NESTED", 6);
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

class Pump : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = TestProc;
      wc.lpszClassName = "QxCommonPumpTest";
      return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    hwnd = CreateWindowA("QxCommonPumpTest", "pump", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    Drain();
    g_ticks = 0;
    g_seen.clear();
    g_SockError = 0;
  }
  void TearDown() override {
    DestroyWindow(hwnd);
    Drain();
  }
  static void Drain() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  // A non-blocking client with a small send buffer, and its accepted peer.
  void Connect(SOCKET &client, SOCKET &server) {
    ConnectedPair(client, server);
    int small = 4096;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char *>(&small), sizeof small);
    u_long on = 1;
    ioctlsocket(client, FIONBIO, &on);
  }
  HWND hwnd = nullptr;
};

std::vector<char> Pattern(size_t n) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return v;
}

TEST_F(Pump, PumpMessagesDispatchesAllPendingThenReturnsZero) {
  for (int i = 0; i < 3; ++i) PostMessageA(hwnd, kTick, 0, 0);
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_EQ(g_ticks, 3);
  EXPECT_EQ(PumpMessages(), 0);
}

TEST_F(Pump, PumpMessagesStopsAtQuitAndPostsItAgain) {
  PostMessageA(hwnd, kTick, 0, 0);
  PostQuitMessage(7);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(g_ticks, 1);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 0u);  // posted again with 0
}

TEST_F(Pump, SendOfNothingNeitherPumpsNorSends) {
  SOCKET client, server;
  Connect(client, server);
  PostMessageA(hwnd, kTick, 0, 0);
  EXPECT_EQ(SendAllPumping(client, "x", 0), 0);
  EXPECT_EQ(g_ticks, 0);
  u_long pending = 0;
  Sleep(20);
  ioctlsocket(server, FIONREAD, &pending);
  EXPECT_EQ(pending, 0u);
  closesocket(client);
  closesocket(server);
}

TEST_F(Pump, SlowPeerGetsWholeBufferWhileMessagesAreDispatched) {
  SOCKET client, server;
  Connect(client, server);
  const std::vector<char> data = Pattern(1 << 20);
  std::vector<char> got;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    char buf[4096];
    while (got.size() < data.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const int n = recv(server, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
      PostMessageA(hwnd, kTick, 0, 0);
    }
    done = true;
  });
  const int sent = SendAllPumping(client, data.data(), static_cast<int>(data.size()));
  reader.join();
  EXPECT_EQ(sent, static_cast<int>(data.size()));
  EXPECT_TRUE(got == data);
  EXPECT_EQ(g_SockError, WSAEWOULDBLOCK);  // the peer was slow: sends would block
  EXPECT_GT(g_ticks, 0);                   // and the window ran meanwhile
  closesocket(client);
  closesocket(server);
}

TEST_F(Pump, HandlerSendingOnTheSameSocketGoesAfterTheBuffer) {
  SOCKET client, server;
  Connect(client, server);
  const std::vector<char> data = Pattern(1 << 20);
  std::vector<char> got;
  std::thread reader([&] {
    char buf[4096];
    bool asked = false;
    while (got.size() < data.size() + 6) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const int n = recv(server, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
      if (!asked) PostMessageA(hwnd, kNested, static_cast<WPARAM>(client), 0);
      asked = true;
    }
  });
  g_nestedResult = -1;
  const int sent = SendAllPumping(client, data.data(), static_cast<int>(data.size()));
  reader.join();
  EXPECT_EQ(sent, static_cast<int>(data.size()));
  EXPECT_EQ(g_nestedResult, 6);
  std::vector<char> want = data;
  want.insert(want.end(), {'N', 'E', 'S', 'T', 'E', 'D'});
  EXPECT_TRUE(got == want) << "the handler's bytes must not land inside the buffer";
  closesocket(client);
  closesocket(server);
}

TEST_F(Pump, QuitStopsTheSendAndStaysPosted) {
  SOCKET client, server;
  Connect(client, server);
  const std::vector<char> data = Pattern(8 << 20);  // far more than the buffers hold
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostMessageA(hwnd, kQuit, 0, 0);
  });
  const int sent = SendAllPumping(client, data.data(), static_cast<int>(data.size()));
  poster.join();
  EXPECT_LT(sent, static_cast<int>(data.size()));
  EXPECT_GT(sent, 0);
  MSG m;
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);  // the main loop still ends
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  closesocket(client);
  closesocket(server);
}

TEST_F(Pump, OtherErrorStopsWithShortCountAndCode) {
  SOCKET client, server;
  Connect(client, server);
  LINGER abort{1, 0};
  setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<char *>(&abort), sizeof abort);
  closesocket(server);  // reset
  Sleep(20);
  const std::vector<char> data = Pattern(1 << 20);
  const int sent = SendAllPumping(client, data.data(), static_cast<int>(data.size()));
  EXPECT_LT(sent, static_cast<int>(data.size()));
  EXPECT_NE(g_SockError, 0);
  EXPECT_NE(g_SockError, WSAEWOULDBLOCK);
  closesocket(client);
}

// SockRecvPumping and SockSendAll: a wait serves the window, ends at WM_QUIT
// or after the idle time, and sleeps rather than spins meanwhile.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

TEST_F(Pump, ReceiveWaitsServingTheWindowThenReturnsWhatCame) {
  SOCKET client, server;
  Connect(client, server);
  std::thread peer([&] {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      PostMessageA(hwnd, kTick, 0, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    send(server, "hello\r\n", 7, 0);
  });
  char buffer[64];
  const int got = SockRecvPumping(client, buffer, sizeof buffer);
  peer.join();
  ASSERT_EQ(got, 7);
  EXPECT_EQ(std::string(buffer, 7), "hello\r\n");
  EXPECT_EQ(g_ticks, 3);
  closesocket(server);
  EXPECT_EQ(SockRecvPumping(client, buffer, sizeof buffer), 0);  // the peer's end
  closesocket(client);
}

TEST_F(Pump, ReceiveEndsAtQuitAndLeavesItPosted) {
  SOCKET client, server;
  Connect(client, server);
  PostMessageA(hwnd, kQuit, 0, 0);
  char buffer[8];
  EXPECT_EQ(SockRecvPumping(client, buffer, sizeof buffer), SOCK_PUMP_QUIT);
  MSG m;
  EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
  closesocket(client);
  closesocket(server);
}

TEST_F(Pump, SilentPeerEndsTheWaitsAfterTheIdleTimeWithoutSpinning) {
  SOCKET client, server;
  Connect(client, server);
  SockPumpSetIdleMs(600);
  char buffer[8];
  const auto started = std::chrono::steady_clock::now();
  const double cpu = ThreadCpuSeconds();
  EXPECT_EQ(SockRecvPumping(client, buffer, sizeof buffer), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(550));
  EXPECT_LT(ThreadCpuSeconds() - cpu, 0.3);  // asleep on the socket, not polling it

  // A peer that never reads: the send stops once nothing moved for the idle time.
  const std::vector<char> data = Pattern(16 << 20);
  const int sent = SockSendAll(client, data.data(), static_cast<int>(data.size()));
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<int>(data.size()));
  EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
  SockPumpSetIdleMs(0);
  closesocket(client);
  closesocket(server);
}

TEST_F(Pump, SendAllDeliversEverythingToASlowReader) {
  SOCKET client, server;
  Connect(client, server);
  const std::vector<char> data = Pattern(1 << 20);
  std::vector<char> got;
  std::thread reader([&] {
    char buf[4096];
    while (got.size() < data.size()) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      const int n = recv(server, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
  });
  EXPECT_EQ(SockSendAll(client, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  reader.join();
  EXPECT_TRUE(got == data);
  closesocket(client);
  closesocket(server);
}

// A reader that resets the connection in the middle of a send: the send ends
// at once with the reset, not after the idle time of waits that each came
// back at once (a daemon spun a core for a minute after such a client).
TEST_F(Pump, SendAllEndsAtOnceWhenThePeerResets) {
  SOCKET client, server;
  Connect(client, server);
  SockPumpSetIdleMs(5000);
  std::thread peer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the send has filled the buffers
    linger abort{1, 0};
    setsockopt(server, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abort), sizeof abort);
    closesocket(server);
  });
  const std::vector<char> data = Pattern(16 << 20);
  const double cpu = ThreadCpuSeconds();
  const int sent = SockSendAll(client, data.data(), static_cast<int>(data.size()));
  const int error = WSAGetLastError();
  peer.join();
  EXPECT_LT(sent, static_cast<int>(data.size()));
  EXPECT_TRUE(error == WSAECONNRESET || error == WSAECONNABORTED) << error;
  EXPECT_LT(ThreadCpuSeconds() - cpu, 0.5);
  SockPumpSetIdleMs(0);
  closesocket(client);
}

// CPU time this thread has used: the delay loop reads the clock, so its cost
// shows here whether or not the machine is busy.
std::chrono::microseconds ThreadCpuTime() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::chrono::microseconds(ts.tv_sec * 1'000'000 + ts.tv_nsec / 1000);
}

TEST(Delay, CalibrateThenWaitUnits) {
  const int loops = DelayCalibrate();
  ASSERT_GT(loops, 0);
  EXPECT_EQ(g_DelayLoops, loops);

  auto cpu = ThreadCpuTime();
  DelayUnits(0);
  DelayUnits(-3);
  EXPECT_LT((ThreadCpuTime() - cpu).count(), 5000) << "no units must cost nothing";
  cpu = ThreadCpuTime();
  DelayUnits(20);
  // About a millisecond a unit, counted in this thread's CPU time, so a busy
  // machine makes the delay longer, never shorter.
  const auto spent = (ThreadCpuTime() - cpu).count();
  EXPECT_GE(spent, 10'000);
  EXPECT_LT(spent, 60'000);

  g_DelayLoops = 0;
  cpu = ThreadCpuTime();
  DelayUnits(1000000);  // uncalibrated: returns at once
  EXPECT_LT((ThreadCpuTime() - cpu).count(), 5000);
  g_DelayLoops = loops;
}

}  // namespace
