// The NFS client counter library against qxnfsdev, the client driver's
// stand-in, reading a statistics file of the format of /proc/net/rpc/nfs
// that the test changes as a working client would: the 388-byte object word
// by word, counters that move, the requests answered and refused, a driver
// that is not there, and perfhost printing the counters.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <winperf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "nfs_test_env.h"
#include "qxtest/support.h"

namespace {

const nfstest::Machine &g_machine = nfstest::TheMachine();

constexpr DWORD kFirstCounter = 1000, kFirstHelp = 1001;
const char kStats[] =
    "net 1200 1180 20 2\nrpc 4321 11 4321\n"
    "proc3 22 0 7 0 0 0 0 30 20 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
// The client has since read 8 times, written twice and made 3 other calls.
const char kStatsLater[] =
    "net 1300 1280 20 2\nrpc 4334 12 4334\n"
    "proc3 22 0 10 0 0 0 0 38 22 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";

uint32_t Word(const std::vector<BYTE> &b, size_t at) {
  uint32_t v;
  memcpy(&v, b.data() + at, 4);
  return v;
}
uint64_t Quad(const std::vector<BYTE> &b, size_t at) {
  uint64_t v;
  memcpy(&v, b.data() + at, 8);
  return v;
}

std::vector<WCHAR> Wide(const char *text) {
  std::vector<WCHAR> w;
  for (; *text; ++text) w.push_back(WCHAR(*text));
  w.push_back(0);
  return w;
}

void SetValue(const char *key_name, const char *name, DWORD type, const void *data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size), 0);
  RegCloseKey(key);
}

class ClientCounters : public ::testing::Test {
 protected:
  std::string stats_ = g_machine.root + "/nfs-stats";
  pid_t driver_ = -1;
  HMODULE library_ = nullptr;
  PM_OPEN_PROC *open_ = nullptr;
  PM_COLLECT_PROC *collect_ = nullptr;
  PM_CLOSE_PROC *close_ = nullptr;

  void SetUp() override {
    const char *perf = "SYSTEM\\CurrentControlSet\\Services\\QXNFS\\performance";
    SetValue(perf, "First Counter", REG_DWORD, &kFirstCounter, 4);
    SetValue(perf, "First Help", REG_DWORD, &kFirstHelp, 4);
    for (auto [name, value] : {std::pair{"Library", "clientcounters.DLL"},
                               {"Open", "OpenNFSClientPerformanceData"},
                               {"Collect", "CollectNFSClientPerformanceData"},
                               {"Close", "CloseNFSClientPerformanceData"}})
      SetValue(perf, name, REG_SZ, value, DWORD(strlen(value) + 1));
    nfstest::Machine::Write(stats_, kStats);
    setenv("QX_NFS_STATS_FILE", stats_.c_str(), 1);
    StartDriver();
    library_ = LoadLibraryA("clientcounters.DLL");
    ASSERT_NE(library_, nullptr);
    open_ = reinterpret_cast<PM_OPEN_PROC *>(GetProcAddress(library_, "OpenNFSClientPerformanceData"));
    collect_ = reinterpret_cast<PM_COLLECT_PROC *>(GetProcAddress(library_, "CollectNFSClientPerformanceData"));
    close_ = reinterpret_cast<PM_CLOSE_PROC *>(GetProcAddress(library_, "CloseNFSClientPerformanceData"));
    ASSERT_TRUE(open_ && collect_ && close_);
  }
  void TearDown() override {
    if (close_) close_();
    if (library_) FreeLibrary(library_);
    StopDriver();
  }

  void StartDriver() {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    driver_ = fork();
    if (driver_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::string program = qxtest::BinDir() + "/qxnfsdev";
      execl(program.c_str(), program.c_str(), (char *)nullptr);
      _exit(127);
    }
    close(out[1]);
    char line[16] = "";
    ssize_t got = read(out[0], line, sizeof line - 1);
    close(out[0]);
    ASSERT_GT(got, 0) << "qxnfsdev did not start";
    ASSERT_EQ(std::string(line, 5), "ready");
  }
  void StopDriver() {
    if (driver_ > 0) qxtest::StopProcess(driver_);
    driver_ = -1;
  }

  // One collect: its result, and the bytes written.
  DWORD Collect(const char *request, std::vector<BYTE> &bytes, DWORD room = 4096) {
    std::vector<WCHAR> name = Wide(request);
    bytes.assign(room, 0xEE);
    LPVOID at = bytes.data();
    DWORD length = room, objects = 99;
    DWORD result = collect_(name.data(), &at, &length, &objects);
    EXPECT_EQ(static_cast<BYTE *>(at) - bytes.data(), ptrdiff_t(length)) << request;
    EXPECT_EQ(objects, length ? 1u : 0u) << request;
    bytes.resize(length);
    return result;
  }
};

TEST_F(ClientCounters, TheObjectCarriesTheDriversCountersAndTheyMove) {
  ASSERT_EQ(open_(nullptr), 0u);
  std::vector<BYTE> b;
  ASSERT_EQ(Collect("Global", b), 0u);
  ASSERT_EQ(b.size(), 388u);
  // The object header.
  const uint32_t header[] = {388, 344, 64, kFirstCounter, 0, kFirstHelp, 0, 100, 7, 2, 0xFFFFFFFF, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(Word(b, 4 * i), header[i]) << "header word " << i;
  // The definitions: scale, type, size, offset.
  const uint32_t shapes[7][4] = {{1, 0x10000, 4, 4},
                                 {1, 0x10000, 4, 8},
                                 {0xFFFFFFFC, 0x10410500, 8, 12},
                                 {0xFFFFFFFC, 0x10410500, 8, 20},
                                 {1, 0x10000, 4, 28},
                                 {0, 0x10410500, 8, 32},
                                 {1, 0x10000, 4, 40}};
  for (uint32_t k = 0; k < 7; ++k) {
    size_t at = 64 + 40 * k;
    const uint32_t want[] = {40,
                             kFirstCounter + 2 * (k + 1),
                             0,
                             kFirstHelp + 2 * (k + 1),
                             0,
                             shapes[k][0],
                             100,
                             shapes[k][1],
                             shapes[k][2],
                             shapes[k][3]};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(Word(b, at + 4 * i), want[i]) << "counter " << k + 1 << " word " << i;
  }
  // The counter block: the driver's latest totals; nothing has grown yet.
  EXPECT_EQ(Word(b, 344), 44u);
  EXPECT_EQ(Word(b, 348), 4321u);
  EXPECT_EQ(Word(b, 352), 11u);
  EXPECT_EQ(Quad(b, 356), 0u);
  EXPECT_EQ(Quad(b, 364), 0u);
  EXPECT_EQ(Word(b, 372), 4321u);
  EXPECT_EQ(Quad(b, 376), 0u);
  EXPECT_EQ(Word(b, 384), 1200u);

  // The client works: counters 3, 4 and 6 add what grew, the others follow.
  nfstest::Machine::Write(stats_, kStatsLater);
  ASSERT_EQ(Collect("1000", b), 0u);
  ASSERT_EQ(b.size(), 388u);
  EXPECT_EQ(Word(b, 348), 4334u);
  EXPECT_EQ(Quad(b, 356), 8u);
  EXPECT_EQ(Quad(b, 364), 2u);
  EXPECT_EQ(Quad(b, 376), 13u);
  EXPECT_EQ(Word(b, 384), 1300u);
  ASSERT_EQ(Collect("Global", b), 0u);
  EXPECT_EQ(Quad(b, 356), 8u) << "totals keep what they added";

  // The driver goes away: the last values stay, nothing is added again.
  StopDriver();
  ASSERT_EQ(Collect("Global", b), 0u);
  EXPECT_EQ(Quad(b, 356), 8u);
  EXPECT_EQ(Word(b, 348), 4334u);
}

TEST_F(ClientCounters, RequestsAnsweredAndRefused) {
  ASSERT_EQ(open_(nullptr), 0u);
  std::vector<BYTE> b;
  struct Case {
    const char *request;
    size_t bytes;
  } cases[] = {{"Global", 388}, {"1000", 388},     {"3 1000", 388}, {"1000 40", 388}, {"2 1000 5", 388},
               {"Costly", 0},   {"Foreign 12", 0}, {"10000", 0},    {"100", 0},       {"", 0}};
  for (const Case &c : cases) {
    EXPECT_EQ(Collect(c.request, b), 0u) << c.request;
    EXPECT_EQ(b.size(), c.bytes) << c.request;
  }
  // A buffer too small for the object: ERROR_MORE_DATA, nothing written.
  EXPECT_EQ(Collect("Global", b, 387), DWORD(ERROR_MORE_DATA));
  EXPECT_TRUE(b.empty());
}

TEST_F(ClientCounters, OpenFailsWithoutTheDriverOrItsKey) {
  StopDriver();
  EXPECT_EQ(open_(nullptr), DWORD(ERROR_FILE_NOT_FOUND));
  StartDriver();
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\QXNFS\\performance");
  EXPECT_NE(open_(nullptr), 0u);
}

TEST_F(ClientCounters, PerfhostPrintsCountersThatMove) {
  std::string command = "'" + qxtest::BinDir() + "/perfhost' QXNFS 2 1500 2>&1";
  FILE *host = popen(command.c_str(), "r");
  ASSERT_NE(host, nullptr);
  char line[256];
  ASSERT_NE(fgets(line, sizeof line, host), nullptr);
  EXPECT_STREQ(line, "collect 1 object 1000: 4321 11 0 0 4321 0 1200\n");
  nfstest::Machine::Write(stats_, kStatsLater);
  ASSERT_NE(fgets(line, sizeof line, host), nullptr);
  EXPECT_STREQ(line, "collect 2 object 1000: 4334 12 8 2 4334 13 1300\n");
  EXPECT_EQ(pclose(host), 0);
}

}  // namespace
