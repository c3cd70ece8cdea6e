// The NFS client's statistics for request 0x70020.
#include "client_stats.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qxnfs {

namespace {

constexpr size_t kMaxFile = 64 * 1024;  // the real file is well under 2 KiB
constexpr size_t kMaxCounters = 256;    // per line

// The counters of a "procN COUNT c0 c1 ..." or "rpc c0 c1 c2" line, as far as
// both the line and its count go.
std::vector<std::uint64_t> Counters(std::istringstream &words, bool counted) {
  std::vector<std::uint64_t> values;
  std::uint64_t count = kMaxCounters;
  std::string word;
  if (counted) {
    if (!(words >> word)) return values;
    count = std::min<std::uint64_t>(strtoull(word.c_str(), nullptr, 10), kMaxCounters);
  }
  while (values.size() < count && words >> word) values.push_back(strtoull(word.c_str(), nullptr, 10));
  return values;
}

std::uint64_t At(const std::vector<std::uint64_t> &v, size_t i) { return i < v.size() ? v[i] : 0; }
std::uint64_t Sum(const std::vector<std::uint64_t> &v) {
  std::uint64_t total = 0;
  for (std::uint64_t x : v) total += x;
  return total;
}

// What grew since the last collect; a total that went down (the client's
// module loaded again) counts from zero.
std::uint32_t Grown(std::uint64_t now, std::uint64_t before) {
  return static_cast<std::uint32_t>(now >= before ? now - before : now);
}

void PutWord(std::vector<std::uint8_t> &out, size_t index, std::uint32_t value) {
  std::memcpy(out.data() + 4 * index, &value, 4);
}

}  // namespace

bool ParseClientStatistics(const std::string &text, ClientTotals &totals) {
  totals = ClientTotals();
  bool has_rpc = false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string head;
    if (!(words >> head)) continue;
    if (head == "net") {
      totals.packets = At(Counters(words, false), 0);
    } else if (head == "rpc") {
      std::vector<std::uint64_t> v = Counters(words, false);
      totals.calls = At(v, 0);
      totals.retransmissions = At(v, 1);
      totals.refreshes = At(v, 2);
      has_rpc = true;
    } else if (head == "proc2" || head == "proc3" || head == "proc4") {
      std::vector<std::uint64_t> v = Counters(words, true);
      // READ and WRITE: procedures 6 and 8 of version 2, 6 and 7 of version
      // 3, operations 1 and 2 of the version 4 client.
      size_t read = head == "proc4" ? 1 : 6, write = head == "proc2" ? 8 : head == "proc3" ? 7 : 2;
      totals.reads += At(v, read);
      totals.writes += At(v, write);
      totals.nfs_calls += Sum(v);
    }
  }
  return has_rpc;
}

std::string ClientStatisticsPath() {
  const char *path = getenv("QX_NFS_STATS_FILE");
  return path && *path ? path : "/proc/net/rpc/nfs";
}

DWORD ClientStatistics::Read(ClientTotals &totals) const {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    totals = ClientTotals();
    return errno == ENOENT ? 0 : ERROR_ACCESS_DENIED;
  }
  std::string text(kMaxFile, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return ParseClientStatistics(text, totals) ? 0 : ERROR_INVALID_DATA;
}

DWORD ClientStatistics::Command(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) {
  if (in.size() != 1) return ERROR_INVALID_PARAMETER;
  switch (in[0]) {
    case kStatisticsStart: {
      out.clear();
      if (DWORD error = Read(last_)) return error;
      started_ = true;
      return 0;
    }
    case kStatisticsStop:
      out.clear();
      started_ = false;
      return 0;
    case kStatisticsCollect: {
      if (!started_) return ERROR_NOT_READY;
      if (out.size() < kStatisticsReply) return ERROR_INSUFFICIENT_BUFFER;
      ClientTotals now;
      if (DWORD error = Read(now)) return error;
      out.assign(kStatisticsReply, 0);
      PutWord(out, 0, static_cast<std::uint32_t>(now.calls));
      PutWord(out, 1, static_cast<std::uint32_t>(now.retransmissions));
      PutWord(out, 2, Grown(now.reads, last_.reads));
      PutWord(out, 3, Grown(now.writes, last_.writes));
      PutWord(out, 4, static_cast<std::uint32_t>(now.refreshes));
      PutWord(out, 5, Grown(now.nfs_calls, last_.nfs_calls));
      PutWord(out, 6, static_cast<std::uint32_t>(now.packets));
      last_ = now;
      return 0;
    }
    default: return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace qxnfs
