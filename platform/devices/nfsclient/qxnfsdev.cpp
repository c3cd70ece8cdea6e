// qxnfsdev: stands for the NFS client product's driver, which lies outside the
// suite: it serves the device "\Device\QXNFS" to the user's processes (the
// export and RPC service listers open it as "\\.\QXNFS_RPC") and carries their
// RPC calls (request 0x7400C) over UDP. A call to the portmapper goes to port
// 111; any other program's port is asked of the server's portmapper first.
// Request 0x70020 gives the Linux NFS client's statistics (client_stats.h),
// 0x7C01C takes the driver settings block (driver_settings.h).
//
// Usage: qxnfsdev          serves until it is stopped; prints "ready" once it
//                          serves, and "settings W0 ... W9" (the ten words)
//                          for each settings block it takes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <random>

#include "qx/devices.h"
#include "client_stats.h"
#include "driver_settings.h"
#include "rpc_device.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned short kPortmapperPort = 111;
constexpr int kTries = 3;  // each waits kTryMs for the answer, then sends again
constexpr int kTryMs = 1000;
constexpr size_t kMaxDatagram = 65536;

// A UDP socket closed when it goes.
class UdpSocket {
 public:
  UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~UdpSocket() {
    if (fd_ >= 0) close(fd_);
  }
  UdpSocket(const UdpSocket &) = delete;
  UdpSocket &operator=(const UdpSocket &) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

std::uint32_t NextXid() {
  static std::mt19937 random{std::random_device{}()};
  return random();
}

// One call to server:port, sent again while no answer comes; the error the
// device reports, 0 with the result body on success.
DWORD Exchange(const qxnfs::RpcCall &call, unsigned short port, std::string &body) {
  UdpSocket s;
  if (s.fd() < 0) return ERROR_NOT_ENOUGH_MEMORY;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = call.server;
  if (connect(s.fd(), reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) return ERROR_BAD_NETPATH;
  const std::uint32_t xid = NextXid();
  const std::string datagram = qxnfs::EncodeCall(xid, call);
  std::string answer(kMaxDatagram, '\0');
  for (int attempt = 0; attempt < kTries; ++attempt) {
    send(s.fd(), datagram.data(), datagram.size(), 0);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTryMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{s.fd(), POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      const ssize_t got = recv(s.fd(), answer.data(), answer.size(), 0);
      if (got < 0) {
        if (errno == ECONNREFUSED) return ERROR_NOT_SUPPORTED;  // nothing listens on that port
        continue;
      }
      const qxnfs::ReplyKind kind = qxnfs::DecodeReply(answer.substr(0, static_cast<size_t>(got)), xid, body);
      if (kind != qxnfs::ReplyKind::kNotOurs) return qxnfs::ErrorOfReply(kind);
    }
  }
  return ERROR_TIMEOUT;
}

// The UDP port of the call's program on its server, asked of the portmapper.
DWORD PortOf(const qxnfs::RpcCall &call, unsigned short &port) {
  qxnfs::RpcCall getport{call.server, 100000, 2, 3, {}};
  for (std::uint32_t word : {call.program, call.version, 17u, 0u})
    for (int shift = 24; shift >= 0; shift -= 8) getport.arguments.push_back(static_cast<char>((word >> shift) & 0xFF));
  std::string body;
  if (const DWORD error = Exchange(getport, kPortmapperPort, body)) return error;
  if (body.size() < 4) return ERROR_GEN_FAILURE;
  const std::uint32_t found = (static_cast<unsigned char>(body[0]) << 24) |
                              (static_cast<unsigned char>(body[1]) << 16) | (static_cast<unsigned char>(body[2]) << 8) |
                              static_cast<unsigned char>(body[3]);
  if (found == 0 || found > 0xFFFF) return ERROR_NOT_SUPPORTED;  // not registered
  port = static_cast<unsigned short>(found);
  return 0;
}

qxnfs::DriverSettings g_settings;  // the driver's, shared by every open

// Takes a settings block and says what the driver now holds.
DWORD TakeSettings(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) {
  const DWORD error = g_settings.Apply(in, out);
  if (error) return error;
  std::string line = "settings";
  for (std::uint32_t word : g_settings.Words()) line += " " + std::to_string(word);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return 0;
}

class RpcFile : public qx::DeviceFile {
 public:
  DWORD IoControl(DWORD code, const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) override {
    if (code == qxnfs::kStatisticsRequest) return statistics_.Command(in, out);
    if (code == qxnfs::kSettingsRequest) return TakeSettings(in, out);
    if (code != qxnfs::kRpcCallRequest) return ERROR_INVALID_FUNCTION;
    qxnfs::RpcCall call;
    std::string why;
    if (!qxnfs::ParseRequest(in, call, why)) return ERROR_INVALID_PARAMETER;
    unsigned short port = kPortmapperPort;
    if (call.program != 100000)
      if (const DWORD error = PortOf(call, port)) return error;
    std::string body;
    if (const DWORD error = Exchange(call, port, body)) return error;
    // A body longer than the caller's buffer: what fits, and ERROR_MORE_DATA.
    const size_t room = out.size();
    out.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(std::min(room, body.size())));
    return body.size() > room ? ERROR_MORE_DATA : 0;
  }

 private:
  qxnfs::ClientStatistics statistics_;  // each open keeps its own last collect
};

class RpcProvider : public qx::DeviceProvider {
 public:
  DWORD Open(const std::string &, DWORD, std::shared_ptr<qx::DeviceFile> &file) override {
    file = std::make_shared<RpcFile>();
    return 0;
  }
};

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: qxnfsdev  (serves the NFS client's RPC device until stopped)\n");
    return 2;
  }
  const DWORD error = qx::ServeDevice("\\Device\\QXNFS", std::make_shared<RpcProvider>());
  if (error) {
    std::fprintf(stderr,
                 "qxnfsdev: the device \\Device\\QXNFS could not be served (error %u%s). Stop the other qxnfsdev "
                 "first.\n",
                 static_cast<unsigned>(error), error == ERROR_ALREADY_EXISTS ? ": another process serves it" : "");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}
