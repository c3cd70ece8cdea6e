// Mail store benchmarks: add 10,000 messages to a folder, list a folder,
// rebuild its index, and scan the headers of every message. Listing and
// rebuilding run at 10,000 and 100,000 messages to show they grow linearly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "mailstore.h"

namespace fs = std::filesystem;

namespace {

std::string Message(int i) {
  return "Return-Path: <sender" + std::to_string(i % 97) +
         "@example.com>\r\n"
         "Received: from relay.example.com by mail.example.net; Tue, 5 Dec 1995 14:30:00 -0500\r\n"
         "From: \"Sender " +
         std::to_string(i % 97) + "\" <sender" + std::to_string(i % 97) +
         "@example.com>\r\n"
         "To: <rcpt@example.net>\r\nSubject: =?ISO-8859-1?Q?Message_number_" +
         std::to_string(i) +
         "?=\r\n"
         "Date: Tue, 5 Dec 1995 14:30:00 -0500\r\nMessage-ID: <" +
         std::to_string(i) +
         "@example.com>\r\n"
         "MIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\n"
         "A short body line for message " +
         std::to_string(i) + ".\r\n";
}

// The benchmark's own directory, removed when the program ends.
struct BenchDirectory {
  std::string path;
  BenchDirectory() {
    std::string base = (fs::temp_directory_path() / "qxmail-bench-XXXXXX").string();
    if (mkdtemp(base.data())) path = base;
  }
  ~BenchDirectory() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

std::string BenchRoot() {
  static BenchDirectory root;
  return root.path;
}

// Writes a message file; the store's paths ("dir\\m1.msg") are made host paths.
void WriteMessage(std::string path, int i) {
  for (char &c : path)
    if (c == '\\') c = '/';
  std::string text = Message(i);
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

// A folder of n messages with its index, made once per size.
const std::string &Folder(int n) {
  static std::map<int, std::string> folders;
  auto it = folders.find(n);
  if (it != folders.end()) return it->second;
  std::string folder = BenchRoot() + "/folder" + std::to_string(n);
  StoreCreateFolder(folder);
  for (int i = 1; i <= n; ++i) WriteMessage(MessagePath(folder, static_cast<uint64_t>(i)), i);
  RebuildFolder(folder);
  return folders[n] = folder;
}

struct FixedWidth : RowMeasure {
  int TextWidth(const std::string &text) override { return static_cast<int>(text.size()) * 8; }
};

void BM_AddMessages(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string folder = BenchRoot() + "/add" + std::to_string(round++);
    StoreCreateFolder(folder);
    std::vector<std::string> work;
    for (int i = 0; i < n; ++i) {
      work.push_back(folder + "/w" + std::to_string(i));
      WriteMessage(work.back(), i);
    }
    state.ResumeTiming();
    for (const auto &file : work) StoreAddMessage(file, folder);
    state.PauseTiming();
    fs::remove_all(folder);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_ListFolder(benchmark::State &state) {
  const std::string &folder = Folder(static_cast<int>(state.range(0)));
  FixedWidth measure;
  for (auto _ : state) benchmark::DoNotOptimize(BuildMessageList(folder, measure));
  FreeMessageList();
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_RebuildFolder(benchmark::State &state) {
  const std::string &folder = Folder(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(RebuildFolder(folder));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ScanHeaders(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const std::string &folder = Folder(n);
  for (auto _ : state) {
    for (int i = 1; i <= n; ++i) {
      HEADER_SUMMARY s;
      ReadMessageHeader(folder, static_cast<uint32_t>(i), s);
      benchmark::DoNotOptimize(s.date);
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
}

}  // namespace

BENCHMARK(BM_AddMessages)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListFolder)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildFolder)->Arg(10000)->Arg(100000)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanHeaders)->Arg(10000)->Unit(benchmark::kMillisecond);
