// Keeping windows alive while the program waits: dispatch what is pending,
// send a whole buffer on a non-blocking socket while pumping, and a
// calibrated busy-wait delay.
#include "qxcommon.h"

#include <ctime>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

int g_SockError = 0;
int g_DelayLoops = 0;

namespace {

// How long a would-block send waits for the socket to drain before it looks
// at the message queue again: short enough that windows stay responsive,
// long enough that a slow peer does not turn the loop into a busy spin.
constexpr long kWritableWaitMicros = 10000;

void WaitWritable(SOCKET s) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(s, &writable);
  struct timeval timeout {
    0, kWritableWaitMicros
  };
  select(0, nullptr, &writable, nullptr, &timeout);
}

// Takes one pending message: 0 none, 1 dispatched, -1 WM_QUIT (posted again
// so that the program's main loop still ends).
int DispatchOne() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return 0;
  if (msg.message == WM_QUIT) {
    PostQuitMessage(0);
    return -1;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return 1;
}

// A SendAllPumping in progress. A window procedure that runs while it pumps
// and sends on the same socket must not put its bytes into the middle of
// the buffer being sent (that would corrupt a telnet stream): its bytes are
// queued here and go out after the outer buffer, in order.
struct SendInProgress {
  SOCKET s;
  std::string queued;
};
thread_local std::vector<SendInProgress *> t_sends;

// Sends the whole buffer, pumping; stops at WM_QUIT or a hard error.
int SendBuffer(SOCKET s, const char *data, int count) {
  int sent = 0;
  while (sent < count) {
    const int pumped = DispatchOne();
    if (pumped < 0) break;
    if (pumped > 0) continue;  // every pending message before each attempt
    const int result = WsSend(s, data + sent, count - sent, 0);
    if (result == SOCKET_ERROR) {
      g_SockError = WSAGetLastError();
      if (g_SockError != WSAEWOULDBLOCK) break;
      WaitWritable(s);
      continue;
    }
    if (result == 0) {
      WaitWritable(s);  // nothing taken: the remainder stays, try again
      continue;
    }
    sent += result;
  }
  return sent;
}

uint64_t ClockRead() { return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()); }

}  // namespace

int PumpMessages(void) {
  for (;;) {
    switch (DispatchOne()) {
      case 0: return 0;
      case -1: return 1;
      default: break;
    }
  }
}

int SendAllPumping(SOCKET s, const char *data, int count) {
  if (count <= 0) return 0;
  for (SendInProgress *outer : t_sends) {
    if (outer->s == s) {
      outer->queued.append(data, static_cast<size_t>(count));
      return count;
    }
  }
  SendInProgress me{s, {}};
  t_sends.push_back(&me);
  const int sent = SendBuffer(s, data, count);
  // Then what handlers queued meanwhile; more may be queued while this goes.
  bool whole = sent == count;
  while (whole && !me.queued.empty()) {
    const std::string chunk = std::move(me.queued);
    me.queued.clear();
    whole = SendBuffer(s, chunk.data(), static_cast<int>(chunk.size())) == static_cast<int>(chunk.size());
  }
  t_sends.pop_back();
  return sent;
}

uint64_t ThreadCpuNanos() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

// The clock is the monotonic one: a unit is about a millisecond of clock
// reads, counted over a few milliseconds once. The window is this thread's
// own CPU time, not the wall clock: time lost to other threads would count
// too few reads and make every later delay too short on a busy machine.
int DelayCalibrate(void) {
  constexpr uint64_t kWindowNanos = 5'000'000;  // 5 ms
  constexpr uint64_t kReadsPerCheck = 4096;  // the CPU clock (a system call) is read seldom: the loop stays a read loop
  g_DelayLoops = 0;
  const uint64_t start = ThreadCpuNanos();
  uint64_t reads = 0;
  volatile uint64_t sink = 0;
  do {
    for (uint64_t i = 0; i < kReadsPerCheck; ++i) sink = ClockRead();
    reads += kReadsPerCheck;
  } while (ThreadCpuNanos() - start < kWindowNanos);
  (void)sink;
  const uint64_t perUnit = reads / 5;
  g_DelayLoops = perUnit > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(perUnit);
  return g_DelayLoops;
}

void DelayUnits(int n) {
  if (n <= 0 || g_DelayLoops <= 0) return;
  const uint64_t total = static_cast<uint64_t>(n) * static_cast<uint64_t>(g_DelayLoops);
  volatile uint64_t sink = 0;
  for (uint64_t i = 0; i < total; ++i) sink = ClockRead();
  (void)sink;
}
