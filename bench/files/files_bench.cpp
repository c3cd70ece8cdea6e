// Costs of the files part's hot paths: reading a message file line by line in
// text mode (against binary mode), one INI lookup in a file of a few hundred
// keys and in one section of up to 100,000 keys, mapping a four-level Windows
// path to a host path, looking up a name missing from a directory of 10,000
// files, with capitals and all lower case (with the heap the directory's
// cached names take, per file), and
// creating files one by one in
// one directory (at 1,000 and 10,000 files, to show the cost grows linearly),
// and scanning the headers of a 1,000-message mail folder through the layer
// against the same scan with the C library's fopen/fgets.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <unistd.h>

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

// A key missing from one section of 1,000, 10,000 and 100,000 keys: the cost
// grows with the section (each lookup once walked the section per line read).
void BM_IniLookupLargeSection(benchmark::State &state) {
  const std::string name = "C:\\QXBIG" + std::to_string(state.range(0)) + ".INI";
  FILE *f = fopen(name.c_str(), "wb");
  fputs("[Big]\r\n", f);
  for (int64_t k = 0; k < state.range(0); ++k) fprintf(f, "Key%lld=some value\r\n", static_cast<long long>(k));
  fclose(f);
  char buf[64];
  for (auto _ : state)
    benchmark::DoNotOptimize(GetPrivateProfileStringA("Big", "Missing", "", buf, sizeof buf, name.c_str()));
}
BENCHMARK(BM_IniLookupLargeSection)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_HostPath(benchmark::State &state) {
  MessageFile();
  std::string host;
  DWORD error;
  for (auto _ : state) benchmark::DoNotOptimize(qx::HostPath("c:\\qxtcp\\mail\\inbox\\M1.MSG", host, error));
}
BENCHMARK(BM_HostPath);

// A directory of n empty files made with host calls, so the layer has not seen
// it: "File123.Txt" and the like, or with lower_case "m123.msg" as a mail store names them.
std::string LargeDirectory(const char *name, int n, bool lower_case) {
  std::string dir = g_tree.root + "/drive_c/" + name;
  std::filesystem::create_directories(dir);
  for (int i = 0; i < n; ++i) {
    const std::string file = lower_case ? "/m" + std::to_string(i) + ".msg" : "/File" + std::to_string(i) + ".Txt";
    if (int fd = open((dir + file).c_str(), O_WRONLY | O_CREAT, 0666); fd >= 0) close(fd);
  }
  return dir;
}

constexpr int kLargeFiles = 10000;

// A name missing from a new directory of kLargeFiles files (made once), and
// the heap its first lookup keeps, per file: the directory's cached names
// (only those with capitals are kept). Blocks from the heap and blocks mapped
// on their own (large ones) both count.
struct MissingName {
  std::string path;
  double cache_bytes_per_file = 0;
  MissingName(const char *dir_name, bool lower_case) : path(std::string("c:\\") + dir_name + "\\NOT-THERE.TXT") {
    LargeDirectory(dir_name, kLargeFiles, lower_case);
    auto heap = [] {
      const struct mallinfo2 m = mallinfo2();
      return static_cast<double>(m.uordblks + m.hblkhd);
    };
    std::string host;
    DWORD error;
    const double before = heap();
    qx::HostPath(path, host, error);
    cache_bytes_per_file = (heap() - before) / kLargeFiles;
  }
};

void LookUpMissing(benchmark::State &state, const MissingName &missing) {
  std::string host;
  DWORD error;
  for (auto _ : state) benchmark::DoNotOptimize(qx::HostPath(missing.path, host, error));
  state.counters["cache_bytes_per_file"] = missing.cache_bytes_per_file;
}

void BM_MissingNameInLargeDirectory(benchmark::State &state) {
  static const MissingName missing("Large", false);
  LookUpMissing(state, missing);
}
BENCHMARK(BM_MissingNameInLargeDirectory);

void BM_MissingNameInLowerCaseDirectory(benchmark::State &state) {
  static const MissingName missing("Lower", true);
  LookUpMissing(state, missing);
}
BENCHMARK(BM_MissingNameInLowerCaseDirectory);

void BM_CreateFilesOneByOne(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = "C:\\Create" + std::to_string(n) + "_" + std::to_string(round++);
    CreateDirectoryA(dir.c_str(), nullptr);
    state.ResumeTiming();
    for (int i = 0; i < n; ++i) {
      std::string name = dir + "\\New" + std::to_string(i) + ".Msg";
      HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CreateFilesOneByOne)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

// A mail folder of 1,000 stored messages (header lines, a blank line, a body),
// as the mail client keeps them.
constexpr int kFolderMessages = 1000;
const char *const kFolder = "C:\\QXTCP\\Mail\\Folders\\Archive";

const std::string &MailFolder() {
  static const std::string host = [] {
    CreateDirectoryA("C:\\QXTCP", nullptr);
    CreateDirectoryA("C:\\QXTCP\\Mail", nullptr);
    CreateDirectoryA("C:\\QXTCP\\Mail\\Folders", nullptr);
    CreateDirectoryA(kFolder, nullptr);
    std::string dir;
    DWORD error;
    qx::HostPath(kFolder, dir, error);
    for (int i = 1; i <= kFolderMessages; ++i) {
      FILE *f = (fopen)((dir + "/m" + std::to_string(i) + ".msg").c_str(), "wb");
      if (!f) continue;
      fprintf(f, "Return-Path: <sender%d@example.org>\r\nReceived: from relay.example.org by mail.example.net\r\n", i);
      fprintf(f, "Message-ID: <%d.4711@example.org>\r\nDate: Fri, 11 Dec 1998 10:%02d:00 +0100\r\n", i, i % 60);
      fprintf(f, "From: Sender %d <sender%d@example.org>\r\nTo: reader@example.net\r\n", i, i);
      fprintf(f, "Subject: Message number %d of the archive\r\nMIME-Version: 1.0\r\n", i);
      fprintf(f, "Content-Type: text/plain; charset=us-ascii\r\n\r\n");
      for (int line = 0; line < 40; ++line)
        fprintf(f, "Body line %d of message %d, not read by the scan.\r\n", line, i);
      fclose(f);
    }
    return dir;
  }();
  return host;
}

// Reads a message's header lines (up to the blank line) from an open stream
// and closes it, with the runtime's fgets or (host) the C library's.
size_t ScanHeader(FILE *f, bool host) {
  char line[1024];
  size_t bytes = 0;
  while ((host ? (fgets)(line, sizeof line, f) : fgets(line, sizeof line, f)) && line[0] != '\r' && line[0] != '\n')
    bytes += std::strlen(line);
  fclose(f);
  return bytes;
}

// The folder's headers through the layer: Windows paths, found without regard
// to case, opened with the runtime's fopen and its share modes.
void BM_ScanHeadersLayer(benchmark::State &state) {
  MailFolder();
  const std::string folder = kFolder;
  size_t bytes = 0;
  for (auto _ : state) {
    for (int i = 1; i <= kFolderMessages; ++i) {
      FILE *f = fopen((folder + "\\m" + std::to_string(i) + ".msg").c_str(), "rb");
      if (!f) return state.SkipWithError("a message did not open through the layer");
      bytes += ScanHeader(f, false);
    }
  }
  state.SetItemsProcessed(state.iterations() * kFolderMessages);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ScanHeadersLayer)->Unit(benchmark::kMillisecond);

// The same scan with the C library's fopen on the host paths.
void BM_ScanHeadersPlain(benchmark::State &state) {
  const std::string folder = MailFolder();
  size_t bytes = 0;
  for (auto _ : state) {
    for (int i = 1; i <= kFolderMessages; ++i) {
      FILE *f = (fopen)((folder + "/m" + std::to_string(i) + ".msg").c_str(), "rb");
      if (!f) return state.SkipWithError("a message did not open");
      bytes += ScanHeader(f, true);
    }
  }
  state.SetItemsProcessed(state.iterations() * kFolderMessages);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ScanHeadersPlain)->Unit(benchmark::kMillisecond);

}  // namespace
