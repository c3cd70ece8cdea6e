// Costs of the memory part's hot paths: a global block's whole life, a lock
// and unlock pair, LoadStringA in a table of a few hundred strings, and
// finding a named mapping that this process already holds.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A string table of the size a larger program carries.
const std::vector<std::string> &Texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (int i = 0; i < 400; ++i) t.push_back("Message text number " + std::to_string(i));
    return t;
  }();
  return texts;
}

const std::vector<QX_RESOURCE> &Strings() {
  static const std::vector<QX_RESOURCE> entries = [] {
    std::vector<QX_RESOURCE> e;
    for (size_t i = 0; i < Texts().size(); ++i)
      e.push_back(
          QX_RESOURCE{RT_STRING, MAKEINTRESOURCE(i + 1), Texts()[i].c_str(), static_cast<DWORD>(Texts()[i].size())});
    return e;
  }();
  return entries;
}

void BM_GlobalAllocLockFree(benchmark::State &state) {
  for (auto _ : state) {
    HGLOBAL h = GlobalAlloc(GHND, 64);
    benchmark::DoNotOptimize(GlobalLock(h));
    GlobalUnlock(h);
    GlobalFree(h);
  }
}
BENCHMARK(BM_GlobalAllocLockFree);

void BM_GlobalLockUnlock(benchmark::State &state) {
  HGLOBAL h = GlobalAlloc(GHND, 64);
  for (auto _ : state) {
    benchmark::DoNotOptimize(GlobalLock(h));
    GlobalUnlock(h);
  }
  GlobalFree(h);
}
BENCHMARK(BM_GlobalLockUnlock);

void BM_LoadStringLastOf400(benchmark::State &state) {
  static const bool registered = [] {
    QxRegisterResources(&Strings(), Strings().data(), static_cast<UINT>(Strings().size()));
    return true;
  }();
  benchmark::DoNotOptimize(registered);
  char buffer[128];
  for (auto _ : state) benchmark::DoNotOptimize(LoadStringA(nullptr, 400, buffer, sizeof buffer));
}
BENCHMARK(BM_LoadStringLastOf400);

void BM_HeapAllocFree(benchmark::State &state) {
  HANDLE heap = GetProcessHeap();
  for (auto _ : state) {
    void *p = HeapAlloc(heap, 0, 64);
    benchmark::DoNotOptimize(p);
    HeapFree(heap, 0, p);
  }
}
BENCHMARK(BM_HeapAllocFree);

void BM_NamedMappingOpenClose(benchmark::State &state) {
  HANDLE held = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "qx-bench-mapping");
  for (auto _ : state) {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, "qx-bench-mapping");
    CloseHandle(h);
  }
  CloseHandle(held);
}
BENCHMARK(BM_NamedMappingOpenClose);

}  // namespace
