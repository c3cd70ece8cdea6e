// Posted-message round trips through the layer's queues, and what the same
// hand-over costs with a std::condition_variable, a pair of pipes or (between
// processes) Unix datagrams.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

LRESULT CALLBACK Quiet(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER) return static_cast<LRESULT>(w + 1);
  return DefWindowProcA(h, m, w, l);
}

HWND MakeWindow() {
  static bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Quiet;
    wc.lpszClassName = "QxBench";
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  return CreateWindowA("QxBench", "bench", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// Post to our own window, take it back with PeekMessage and dispatch it.
void BM_PostPeekSameThread(benchmark::State &state) {
  HWND h = MakeWindow();
  MSG m;
  for (auto _ : state) {
    PostMessageA(h, WM_USER, 1, 0);
    PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
    DispatchMessageA(&m);
  }
  DestroyWindow(h);
}
BENCHMARK(BM_PostPeekSameThread);

// Ping-pong: this thread posts to an echo thread, which posts back.
void BM_PostRoundTripThreads(benchmark::State &state) {
  DWORD me = GetCurrentThreadId();
  MSG m;
  PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD echo_tid = 0;
  std::thread echo([&] {
    MSG e;
    PeekMessageA(&e, nullptr, 0, 0, PM_NOREMOVE);
    echo_tid = GetCurrentThreadId();
    SetEvent(ready);
    while (GetMessageA(&e, nullptr, 0, 0) > 0) PostThreadMessageA(me, WM_USER, e.wParam, 0);
  });
  WaitForSingleObject(ready, INFINITE);
  for (auto _ : state) {
    PostThreadMessageA(echo_tid, WM_USER, 1, 0);
    GetMessageA(&m, nullptr, 0, 0);
  }
  PostThreadMessageA(echo_tid, WM_QUIT, 0, 0);
  echo.join();
  CloseHandle(ready);
}
BENCHMARK(BM_PostRoundTripThreads)->UseRealTime();

// SendMessageA to a window owned by another thread (waits for the result).
void BM_SendAcrossThreads(benchmark::State &state) {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HWND target = nullptr;
  std::thread owner([&] {
    target = MakeWindow();
    SetEvent(ready);
    MSG e;
    while (GetMessageA(&e, nullptr, 0, 0) > 0) DispatchMessageA(&e);
  });
  WaitForSingleObject(ready, INFINITE);
  for (auto _ : state) benchmark::DoNotOptimize(SendMessageA(target, WM_USER, 1, 0));
  DWORD tid = GetWindowThreadProcessId(target, nullptr);
  SendMessageA(target, WM_CLOSE, 0, 0);
  PostThreadMessageA(tid, WM_QUIT, 0, 0);
  owner.join();
  CloseHandle(ready);
}
BENCHMARK(BM_SendAcrossThreads)->UseRealTime();

// The same ping-pong with a mutex and condition variable.
void BM_CondVarRoundTrip(benchmark::State &state) {
  std::mutex lock;
  std::condition_variable cv;
  int turn = 0;  // 0: nobody, 1: echo's turn, 2: ours
  bool stop = false;
  std::thread echo([&] {
    std::unique_lock lk(lock);
    for (;;) {
      cv.wait(lk, [&] { return turn == 1 || stop; });
      if (stop) return;
      turn = 2;
      cv.notify_all();
    }
  });
  for (auto _ : state) {
    std::unique_lock lk(lock);
    turn = 1;
    cv.notify_all();
    cv.wait(lk, [&] { return turn == 2; });
  }
  {
    std::lock_guard lk(lock);
    stop = true;
  }
  cv.notify_all();
  echo.join();
}
BENCHMARK(BM_CondVarRoundTrip)->UseRealTime();

// The same ping-pong over two pipes.
void BM_PipeRoundTrip(benchmark::State &state) {
  int there[2], back[2];
  if (pipe(there) != 0 || pipe(back) != 0) {
    state.SkipWithError("pipe");
    return;
  }
  std::thread echo([&] {
    char c;
    while (read(there[0], &c, 1) == 1 && c != 'q')
      if (write(back[1], &c, 1) != 1) return;
  });
  char c = 'x';
  for (auto _ : state) {
    if (write(there[1], &c, 1) != 1 || read(back[0], &c, 1) != 1) state.SkipWithError("pipe i/o");
  }
  c = 'q';
  if (write(there[1], &c, 1) != 1) state.SkipWithError("pipe i/o");
  echo.join();
  for (int fd : {there[0], there[1], back[0], back[1]}) close(fd);
}
BENCHMARK(BM_PipeRoundTrip)->UseRealTime();

// Ping-pong with another process: posts cross as datagrams to the peer's
// message endpoint and back. The peer is this program started with "echo-peer".
char g_self[PATH_MAX];

void BM_PostRoundTripProcesses(benchmark::State &state) {
  int out[2];
  if (pipe(out) != 0) return state.SkipWithError("pipe");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    execl(g_self, g_self, "echo-peer", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char line[64] = {};
  ssize_t n = read(out[0], line, sizeof line - 1);
  close(out[0]);
  HWND peer = n > 0 ? QX_HANDLE_FROM(HWND, std::strtoul(line, nullptr, 10)) : nullptr;
  HWND home = MakeWindow();
  MSG m;
  if (!peer) state.SkipWithError("peer did not start");
  for (auto _ : state) {
    PostMessageA(peer, WM_USER + 1, QX_HANDLE_VALUE(home), 0);
    GetMessageA(&m, home, 0, 0);
  }
  if (peer) PostMessageA(peer, WM_CLOSE, 0, 0);
  int status;
  waitpid(pid, &status, 0);
  DestroyWindow(home);
}
BENCHMARK(BM_PostRoundTripProcesses)->UseRealTime();

// The plain counterpart of the post between processes: a datagram of the
// same size to another process's named Unix socket and one back, with
// sendto() naming the address each time as the posts do.
void BM_DatagramRoundTripProcesses(benchmark::State &state) {
  char dir_template[] = "/tmp/qx-bench-dgram-XXXXXX";
  if (!mkdtemp(dir_template)) return state.SkipWithError("mkdtemp");
  const std::string dir = dir_template;
  auto bound = [&](const char *name, sockaddr_un &addr) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/%s", dir.c_str(), name);
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  };
  sockaddr_un here_addr, there_addr;
  const int here = bound("here", here_addr), there = bound("there", there_addr);
  struct Datagram {
    std::uint32_t magic, hwnd, msg, pad;
    std::uint64_t wparam;
    std::int64_t lparam;
  } d{};
  pid_t pid = (here >= 0 && there >= 0) ? fork() : -1;
  if (pid == 0) {
    for (;;) {
      if (recv(there, &d, sizeof d, 0) != static_cast<ssize_t>(sizeof d) || d.msg == WM_CLOSE) _exit(0);
      sendto(there, &d, sizeof d, 0, reinterpret_cast<sockaddr *>(&here_addr), sizeof here_addr);
    }
  }
  if (pid < 0) state.SkipWithError("peer did not start");
  for (auto _ : state) {
    if (pid < 0) break;
    d.msg = WM_USER + 1;
    if (sendto(here, &d, sizeof d, 0, reinterpret_cast<sockaddr *>(&there_addr), sizeof there_addr) !=
            static_cast<ssize_t>(sizeof d) ||
        recv(here, &d, sizeof d, 0) != static_cast<ssize_t>(sizeof d)) {
      state.SkipWithError("datagram i/o");
      break;
    }
  }
  if (pid > 0) {
    d.msg = WM_CLOSE;
    sendto(here, &d, sizeof d, 0, reinterpret_cast<sockaddr *>(&there_addr), sizeof there_addr);
    int status;
    waitpid(pid, &status, 0);
  }
  for (int fd : {here, there})
    if (fd >= 0) close(fd);
  unlink(here_addr.sun_path);
  unlink(there_addr.sun_path);
  rmdir(dir.c_str());
}
BENCHMARK(BM_DatagramRoundTripProcesses)->UseRealTime();

LRESULT CALLBACK EchoProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER + 1) {
    PostMessageA(QX_HANDLE_FROM(HWND, w), WM_USER + 2, 0, 0);
    return 0;
  }
  if (m == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(h, m, w, l);
}

int EchoPeer() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = EchoProc;
  wc.lpszClassName = "QxBenchEcho";
  RegisterClassA(&wc);
  HWND h = CreateWindowA("QxBenchEcho", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  std::printf("%lu\n", static_cast<unsigned long>(QX_HANDLE_VALUE(h)));
  std::fflush(stdout);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "echo-peer") == 0) return EchoPeer();
  ssize_t n = readlink("/proc/self/exe", g_self, sizeof g_self - 1);
  g_self[n > 0 ? n : 0] = '\0';
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
