// Costs of the files part's hot paths: reading a message file line by line in
// text mode (against binary mode), one INI lookup in a file of a few hundred
// keys, and mapping a four-level Windows path to a host path.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "qx/paths.h"

namespace {

// A private tree, set before the layer first looks at QX_HOME.
struct Tree {
  std::string root;
  Tree() {
    char tmpl[] = "/tmp/qx-files-bench-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", root.c_str(), 1);
  }
  ~Tree() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
} g_tree;

const char *MessageFile() {
  static const char *name = [] {
    CreateDirectoryA("C:\\QXTCP", nullptr);
    CreateDirectoryA("C:\\QXTCP\\Mail", nullptr);
    CreateDirectoryA("C:\\QXTCP\\Mail\\Inbox", nullptr);
    FILE *f = fopen("C:\\QXTCP\\Mail\\Inbox\\m1.msg", "wt");
    for (int i = 0; i < 50000; ++i) fprintf(f, "Line %d of a stored message body, about seventy bytes long.\n", i);
    fclose(f);
    return "C:\\QXTCP\\Mail\\Inbox\\m1.msg";
  }();
  return name;
}

void ReadLines(benchmark::State &state, const char *mode) {
  const char *name = MessageFile();
  size_t bytes = 0;
  for (auto _ : state) {
    FILE *f = fopen(name, mode);
    setvbuf(f, nullptr, _IOFBF, 8192);
    char line[1024];
    while (fgets(line, sizeof line, f)) bytes += std::strlen(line);
    fclose(f);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_TextModeLines(benchmark::State &state) { ReadLines(state, "rt"); }
void BM_BinaryModeLines(benchmark::State &state) { ReadLines(state, "rb"); }
BENCHMARK(BM_TextModeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinaryModeLines)->Unit(benchmark::kMillisecond);

void BM_IniLookup(benchmark::State &state) {
  static bool made = [] {
    for (int s = 0; s < 10; ++s)
      for (int k = 0; k < 30; ++k)
        WritePrivateProfileStringA(("Section" + std::to_string(s)).c_str(), ("Key" + std::to_string(k)).c_str(),
                                   "some value", "QXBENCH.INI");
    return true;
  }();
  (void)made;
  char buf[64];
  for (auto _ : state)
    benchmark::DoNotOptimize(GetPrivateProfileStringA("section9", "key29", "", buf, sizeof buf, "QXBENCH.INI"));
}
BENCHMARK(BM_IniLookup);

void BM_HostPath(benchmark::State &state) {
  MessageFile();
  std::string host;
  DWORD error;
  for (auto _ : state)
    benchmark::DoNotOptimize(qx::HostPath("c:\\qxtcp\\mail\\inbox\\M1.MSG", host, error));
}
BENCHMARK(BM_HostPath);

}  // namespace
