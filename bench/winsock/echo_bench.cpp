// Loopback echo, one 64-byte message per iteration: the server side written
// on plain poll() against the same server driven by WSAAsyncSelect messages
// through the platform layer. The ratio of the two is the layer's cost per
// message.
#include <benchmark/benchmark.h>

#include "echo_common.h"

#include <thread>

namespace {

template <void (*Server)(int)>
void EchoRoundTrips(benchmark::State &state) {
  int client = -1, server = -1;
  if (!qxbench::MakeTcpPair(client, server)) {
    state.SkipWithError("no loopback pair");
    return;
  }
  std::thread echo(Server, server);
  const auto size = static_cast<std::size_t>(state.range(0));
  qxbench::RoundTrip(client, size);  // the server is up and armed
  for (auto _ : state) {
    if (!qxbench::RoundTrip(client, size)) {
      state.SkipWithError("echo failed");
      break;
    }
  }
  qxbench::CloseFd(client);
  echo.join();
  state.SetItemsProcessed(state.iterations());
}

void BM_EchoPlainPoll(benchmark::State &state) { EchoRoundTrips<qxbench::PlainPollEchoServer>(state); }
void BM_EchoAsyncSelect(benchmark::State &state) { EchoRoundTrips<qxbench::AsyncSelectEchoServer>(state); }

BENCHMARK(BM_EchoPlainPoll)->Arg(64)->UseRealTime();
BENCHMARK(BM_EchoAsyncSelect)->Arg(64)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
