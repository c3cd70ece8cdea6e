// Mail store benchmarks: add 10,000 messages to a folder, list a folder,
// rebuild its index, and scan the headers of every message. Listing and
// rebuilding run at 10,000 and 100,000 messages to show they grow linearly.
// Opening: the message list's rows of a 100,000-message folder built and
// sorted against reading its index file alone; a 10 MB message's first page
// and its whole scan (what the viewer reads before it shows) against reading
// the file alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "displayline.h"
#include "mailstore.h"
#include "msgsort.h"

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

// Reads a whole file in 64 KiB pieces: the floor any opening can reach.
size_t ReadWhole(const std::string &path) {
  size_t total = 0;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    static char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) total += n;
    std::fclose(f);
  }
  return total;
}

std::string HostPath(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

void BM_ReadIndexFile(benchmark::State &state) {
  const std::string index = HostPath(IndexPath(Folder(static_cast<int>(state.range(0)))));
  for (auto _ : state) benchmark::DoNotOptimize(ReadWhole(index));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What the list window does before it shows its first screen: one pass over
// the index keeps the first screen's keys, newest first, and their rows are built.
void BM_FirstListScreen(benchmark::State &state) {
  const std::string &folder = Folder(static_cast<int>(state.range(0)));
  FixedWidth measure;
  std::vector<MSG_KEY> keys;
  for (auto _ : state) {
    ChooseFirstKeys(folder, 64, kSortDate, true, keys);
    benchmark::DoNotOptimize(BuildEntries(folder, keys, 0, keys.size(), measure));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Every key read and ordered, as when the user first scrolls past the first screen.
void BM_WholeListOrdered(benchmark::State &state) {
  const std::string &folder = Folder(static_cast<int>(state.range(0)));
  std::vector<MSG_KEY> keys;
  for (auto _ : state) {
    LoadMessageKeys(folder, keys);
    SortMessageKeys(keys, kSortDate, true);
    benchmark::DoNotOptimize(keys.back().date);
  }
}

// Every row built and sorted, as the From and Subject orders need.
void BM_ListAllRowsSorted(benchmark::State &state) {
  const std::string &folder = Folder(static_cast<int>(state.range(0)));
  FixedWidth measure;
  for (auto _ : state) {
    BuildMessageList(folder, measure);
    SortMessageEntries(CurrentMessageList(), kSortFrom, false);
    benchmark::DoNotOptimize(CurrentMessageList().front().rowText);
  }
  FreeMessageList();
}

// A 10 MB message: a quoted-printable text body of 76-character lines with
// soft breaks every other line.
const std::string &BigMessage() {
  static std::string path;
  if (!path.empty()) return path;
  path = BenchRoot() + "/big.msg";
  FILE *f = std::fopen(path.c_str(), "wb");
  std::fputs(
      "From: a@example.com\r\nSubject: big\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n",
      f);
  const std::string soft = std::string(60, 'q') + " caf=E9 and=\r\n", hard = std::string(70, 'h') + "\r\n";
  for (size_t written = 0; written < 10u * 1024 * 1024; written += soft.size() + hard.size()) {
    std::fputs(soft.c_str(), f);
    std::fputs(hard.c_str(), f);
  }
  std::fclose(f);
  return path;
}

void BM_ReadBigMessage(benchmark::State &state) {
  const std::string &path = BigMessage();
  for (auto _ : state) benchmark::DoNotOptimize(ReadWhole(path));
}

// What the viewer reads before it shows: its first 200 display lines (the
// lines to the one selected at opening are among them), then the first
// screen's 40 lines read again and decoded as they are painted.
void BM_BigMessageFirstPage(benchmark::State &state) {
  const std::string &path = BigMessage();
  for (auto _ : state) {
    MessageFile f(path);
    uint32_t position = 0, flags = 0;
    std::vector<std::pair<uint32_t, uint32_t>> lines;
    for (bool first = true; lines.size() < 200; first = false) {
      if (!NextDisplayLine(f, kSummaryMime, position, first, &flags)) break;
      lines.emplace_back(position, flags);
    }
    for (size_t i = 0; i < 40 && i < lines.size(); ++i)
      benchmark::DoNotOptimize(DisplayLineAt(f, lines[i].first, lines[i].second));
  }
}

// Every display line of the message found, as the viewer does while it waits for input.
void BM_BigMessageAllLines(benchmark::State &state) {
  const std::string &path = BigMessage();
  size_t count = 0;
  for (auto _ : state) {
    MessageFile f(path);
    uint32_t position = 0, flags = 0;
    count = 0;
    for (bool first = true;; first = false) {
      if (!NextDisplayLine(f, kSummaryMime, position, first, &flags)) break;
      ++count;
    }
  }
  state.counters["lines"] = static_cast<double>(count);
}

}  // namespace

BENCHMARK(BM_ReadIndexFile)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstListScreen)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeListOrdered)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAllRowsSorted)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBigMessage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BigMessageFirstPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BigMessageAllLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddMessages)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListFolder)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildFolder)->Arg(10000)->Arg(100000)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanHeaders)->Arg(10000)->Unit(benchmark::kMillisecond);
