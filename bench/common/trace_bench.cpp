// Wrapper cost: a 64-byte send and receive over a loopback pair, directly,
// through the wrappers with tracing off (one test of g_TraceOn), and with
// tracing on (entries and hex dumps written to a log in /tmp).
#include <windows.h>
#include <winsock.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

#include "qxcommon.h"

namespace {

struct Pair {
  SOCKET a = INVALID_SOCKET, b = INVALID_SOCKET;
  Pair() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(l, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    listen(l, 1);
    int len = sizeof addr;
    getsockname(l, reinterpret_cast<sockaddr *>(&addr), &len);
    a = socket(AF_INET, SOCK_STREAM, 0);
    connect(a, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    b = accept(l, nullptr, nullptr);
    closesocket(l);
  }
  ~Pair() {
    closesocket(a);
    closesocket(b);
  }
};

char g_data[64] = "0123456789abcdefghijklmnopqrstuvwxyz";

void BM_Direct(benchmark::State &state) {
  Pair p;
  char buf[64];
  for (auto _ : state) {
    send(p.a, g_data, sizeof g_data, 0);
    benchmark::DoNotOptimize(recv(p.b, buf, sizeof buf, 0));
  }
}
BENCHMARK(BM_Direct);

void BM_WrappersTraceOff(benchmark::State &state) {
  Pair p;
  g_TraceOn = 0;
  char buf[64];
  for (auto _ : state) {
    WsSend(p.a, g_data, sizeof g_data, 0);
    benchmark::DoNotOptimize(WsRecv(p.b, buf, sizeof buf, 0));
  }
}
BENCHMARK(BM_WrappersTraceOff);

void BM_WrappersTraceOn(benchmark::State &state) {
  Pair p;
  char dir[] = "/tmp/qx-common-bench-XXXXXX";
  if (!mkdtemp(dir)) return;
  SetCurrentDirectoryA(dir);
  char line[] = "/debug";
  DebugLogOpen(GetModuleHandleA(nullptr), line);
  char buf[64];
  for (auto _ : state) {
    WsSend(p.a, g_data, sizeof g_data, 0);
    benchmark::DoNotOptimize(WsRecv(p.b, buf, sizeof buf, 0));
  }
  g_TraceOn = 0;
  fclose(g_DebugLog);
  g_DebugLog = nullptr;
  unlink((std::string(dir) + "/qxdebug.log").c_str());
  rmdir(dir);
}
BENCHMARK(BM_WrappersTraceOn);

}  // namespace

BENCHMARK_MAIN();
