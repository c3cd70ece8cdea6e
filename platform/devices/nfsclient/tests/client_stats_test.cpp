// The NFS client statistics of request 0x70020: the checked-in file of the
// format of /proc/net/rpc/nfs, the seven words and their differences across
// collects, and files that are missing, damaged or hostile.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "client_stats.h"
#include "driver_settings.h"
#include "qxtest/support.h"

namespace {

using qxnfs::ClientStatistics;
using qxnfs::ClientTotals;

std::string Fixture() {
  std::ifstream in(qxtest::SourceDir() + "/platform/devices/nfsclient/tests/fixtures/proc-net-rpc-nfs");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Scratch {
  std::string path;
  Scratch() {
    char pattern[] = "/tmp/qx-nfsstats-XXXXXX";
    int fd = mkstemp(pattern);
    close(fd);
    path = pattern;
  }
  ~Scratch() { unlink(path.c_str()); }
  void Write(const std::string &text) const { std::ofstream(path, std::ios::binary) << text; }
};

std::vector<uint32_t> Collect(ClientStatistics &s, DWORD *error = nullptr) {
  std::vector<uint8_t> out(28);
  DWORD e = s.Command({qxnfs::kStatisticsCollect}, out);
  if (error) *error = e;
  std::vector<uint32_t> words(7);
  if (e == 0) std::memcpy(words.data(), out.data(), 28);
  return words;
}

TEST(ClientStatistics, TheRealFormatGivesTheTotals) {
  ClientTotals t;
  ASSERT_TRUE(qxnfs::ParseClientStatistics(Fixture(), t));
  EXPECT_EQ(t.packets, 1200u);
  EXPECT_EQ(t.calls, 4321u);
  EXPECT_EQ(t.retransmissions, 11u);
  EXPECT_EQ(t.refreshes, 4321u);
  EXPECT_EQ(t.reads, 100u + 30u + 5u);
  EXPECT_EQ(t.writes, 50u + 20u + 3u);
  EXPECT_EQ(t.nfs_calls, 281u);
}

TEST(ClientStatistics, CollectsAnswerTotalsAndWhatGrew) {
  Scratch file;
  file.Write(Fixture());
  ClientStatistics s(file.path);
  std::vector<uint8_t> none;
  DWORD error = 0;
  Collect(s, &error);
  EXPECT_EQ(error, DWORD(ERROR_NOT_READY)) << "a collect before start";
  ASSERT_EQ(s.Command({qxnfs::kStatisticsStart}, none), 0u);
  EXPECT_EQ(Collect(s), (std::vector<uint32_t>{4321, 11, 0, 0, 4321, 0, 1200}));

  // The client reads 8 times, writes twice and makes 3 more other calls.
  std::string more = Fixture();
  auto bump = [&](const std::string &from, const std::string &to) { more.replace(more.find(from), from.size(), to); };
  bump("rpc 4321 11 4321", "rpc 4334 12 4334");
  bump("proc3 22 0 7 0 0 0 0 30 20", "proc3 22 0 10 0 0 0 0 38 22");
  file.Write(more);
  EXPECT_EQ(Collect(s), (std::vector<uint32_t>{4334, 12, 8, 2, 4334, 13, 1200}));
  EXPECT_EQ(Collect(s), (std::vector<uint32_t>{4334, 12, 0, 0, 4334, 0, 1200})) << "nothing grew";

  // Totals that go down (the client loaded again) count from zero.
  file.Write("net 5 5 0 0\nrpc 9 0 9\nproc3 22 0 0 0 0 0 0 4 1\n");
  EXPECT_EQ(Collect(s), (std::vector<uint32_t>{9, 0, 4, 1, 9, 5, 5}));

  // A buffer too small, a command that is not one byte, a stop.
  std::vector<uint8_t> small(27);
  EXPECT_EQ(s.Command({qxnfs::kStatisticsCollect}, small), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(s.Command({2, 2}, none), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(s.Command({7}, none), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(s.Command({qxnfs::kStatisticsStop}, none), 0u);
  Collect(s, &error);
  EXPECT_EQ(error, DWORD(ERROR_NOT_READY));
}

TEST(ClientStatistics, MissingDamagedAndHostileFiles) {
  std::vector<uint8_t> none;
  {
    // No NFS client loaded yet: the file does not exist, every total is zero.
    ClientStatistics s("/tmp/qx-no-such-nfs-statistics");
    ASSERT_EQ(s.Command({qxnfs::kStatisticsStart}, none), 0u);
    EXPECT_EQ(Collect(s), std::vector<uint32_t>(7, 0));
  }
  Scratch file;
  ClientStatistics s(file.path);
  file.Write("net 1 2 3 4\n");
  EXPECT_EQ(s.Command({qxnfs::kStatisticsStart}, none), DWORD(ERROR_INVALID_DATA)) << "no rpc line";
  struct Case {
    const char *why, *text;
    std::vector<uint32_t> words;
  } cases[] = {
      {"a count past the line", "rpc 1 2 3\nproc3 4000000000 1 2 3 4 5 6 7 8\n", {1, 2, 7, 8, 3, 36, 0}},
      {"a line cut short", "rpc 5\nproc2 18 1 2\n", {5, 0, 0, 0, 0, 3, 0}},
      {"words that are not numbers", "rpc x y z\nnet -\n", {0, 0, 0, 0, 0, 0, 0}},
      {"totals past 32 bits", "rpc 4294967297 0 0\n", {1, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    file.Write(c.text);
    ClientStatistics fresh(file.path);
    file.Write("rpc 0 0 0\n");
    ASSERT_EQ(fresh.Command({qxnfs::kStatisticsStart}, none), 0u) << c.why;
    file.Write(c.text);
    EXPECT_EQ(Collect(fresh), c.words) << c.why;
  }
}

TEST(DriverSettings, TheBlockIsTakenWholeAndAnsweredWithOneByte) {
  qxnfs::DriverSettings settings;
  std::vector<uint8_t> block(40), out(1);
  for (size_t i = 0; i < block.size(); i += 4) block[i] = uint8_t(i / 4 + 1);
  ASSERT_EQ(settings.Apply(block, out), 0u);
  EXPECT_EQ(out, std::vector<uint8_t>{1});
  EXPECT_EQ(settings.Words()[2], 3u) << "the retries word";
  std::vector<uint8_t> short_block(39), none;
  EXPECT_EQ(settings.Apply(short_block, out), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(settings.Apply(block, none), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(settings.Words()[2], 3u) << "a refused block changes nothing";
}

}  // namespace
