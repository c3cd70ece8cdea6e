// Costs of the registry and event log as the services use them: reading a
// value of an open key, a durable value write (one transaction, synced),
// opening a key four levels down, and reporting one event to the log file.
// Runs in a private directory tree made at start and removed at exit.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct PrivateTree {
  PrivateTree() {
    char tmpl[] = "/tmp/qx-advapi-bench-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (root + "/machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/run").c_str(), 1);
    setenv("QX_EVENTLOG_FILE", (root + "/events.log").c_str(), 1);
  }
  ~PrivateTree() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string root;
} g_tree;

const char kKey[] = "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion";

HKEY OpenBenchKey() {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  const char dir[] = "c:\\spool";
  RegSetValueExA(key, "QXNFSServerSpoolDir", 0, REG_SZ, reinterpret_cast<const BYTE *>(dir), sizeof dir);
  return key;
}

void BM_QueryValue(benchmark::State &state) {
  HKEY key = OpenBenchKey();
  char buf[256];
  for (auto _ : state) {
    DWORD size = sizeof buf, type = 0;
    benchmark::DoNotOptimize(
        RegQueryValueExA(key, "QXNFSServerSpoolDir", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_QueryValue);

void BM_SetValueDurable(benchmark::State &state) {
  HKEY key = OpenBenchKey();
  DWORD v = 0;
  for (auto _ : state) {
    ++v;
    benchmark::DoNotOptimize(RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_SetValueDurable)->Unit(benchmark::kMicrosecond);

void BM_OpenCloseDeepKey(benchmark::State &state) {
  RegCloseKey(OpenBenchKey());
  for (auto _ : state) {
    HKEY key = nullptr;
    benchmark::DoNotOptimize(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key));
    RegCloseKey(key);
  }
}
BENCHMARK(BM_OpenCloseDeepKey);

void BM_ReportEvent(benchmark::State &state) {
  HANDLE source = RegisterEventSourceA(nullptr, "QXportwarden32");
  const char *strings[] = {"Incoming connect from 127.0.0.1 for whoanswer at Thu Dec 10 13:45:01 2026\n\r"};
  for (auto _ : state)
    benchmark::DoNotOptimize(ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 106, nullptr, 1, 0, strings, nullptr));
  DeregisterEventSource(source);
}
BENCHMARK(BM_ReportEvent);

}  // namespace
