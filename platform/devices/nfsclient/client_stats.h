// The NFS client's statistics as the client driver's device gives them to
// the counter library: request 0x70020 takes a one-byte command (0 start,
// 2 collect, 1 stop) and a collect answers seven 32-bit words. They come from
// the Linux NFS client's own totals, /proc/net/rpc/nfs (QX_NFS_STATS_FILE
// names another file of that format):
//   d0 RPC calls made, d1 calls sent again, d2 READs since the last collect,
//   d3 WRITEs since the last collect, d4 credential refreshes, d5 NFS calls
//   since the last collect, d6 network packets.
// Words 2, 3 and 5 are differences, because the counter library adds them up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qxnfs {

constexpr DWORD kStatisticsRequest = 0x70020;
constexpr std::uint8_t kStatisticsStart = 0, kStatisticsStop = 1, kStatisticsCollect = 2;
constexpr size_t kStatisticsReply = 28;

struct ClientTotals {
  std::uint64_t packets = 0, calls = 0, retransmissions = 0, refreshes = 0;
  std::uint64_t reads = 0, writes = 0, nfs_calls = 0;
};

// Reads the file's text; false when it has no "rpc" line (not the client's
// statistics). Lines it does not know are passed over; a line's counters are
// read only as far as its own count and the line go.
bool ParseClientStatistics(const std::string &text, ClientTotals &totals);

// The statistics file: QX_NFS_STATS_FILE, else /proc/net/rpc/nfs.
std::string ClientStatisticsPath();

// One open of the device: its commands and the totals of its last collect.
class ClientStatistics {
 public:
  explicit ClientStatistics(std::string path = ClientStatisticsPath()) : path_(std::move(path)) {}
  // 0 or a Win32 error; a collect puts the seven words (host order) in `out`.
  DWORD Command(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out);

 private:
  // The totals now: all zero while the client has no statistics file (the
  // kernel makes it when the NFS client is first loaded).
  DWORD Read(ClientTotals &totals) const;
  std::string path_;
  bool started_ = false;
  ClientTotals last_;
};

}  // namespace qxnfs
