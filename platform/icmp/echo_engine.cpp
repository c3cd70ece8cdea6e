// ICMP echo requests over Linux ICMP datagram sockets or raw sockets, with the
// status codes of ICMP.DLL for what comes back (see qx/icmp.h).
//
// A handle owns one socket. On a raw socket every ICMP packet of the machine
// is seen, so replies are matched by the handle's identifier and sequence
// number, and a router's error by the echo header it quotes. On a datagram
// socket the kernel keeps the identifier and delivers only this socket's
// replies; routers' errors come on the socket's error queue with the request
// they answer, matched by sequence number. Every length read from a packet
// is checked against the bytes received before it is used.
#include <windows.h>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "qx/env.h"
#include "qx/handles.h"
#include "qx/icmp.h"
#include "qxwin/icmp.h"

namespace qx::icmp {
namespace {

enum class Backend { kDgram, kRaw };
constexpr size_t kMaxPacket = 65536 + 512;
constexpr DWORD kSliceMs = 100;  // how often a wait checks that its handle is still open

ULONGLONG NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000;
}

std::uint16_t Checksum(const std::uint8_t *p, size_t n) {
  std::uint32_t sum = 0;
  for (size_t i = 0; i + 1 < n; i += 2) sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
  if (n & 1) sum += static_cast<std::uint32_t>(p[n - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::uint16_t Get16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// The IP_ status of an ICMP error message.
DWORD StatusOf(unsigned type, unsigned code) {
  switch (type) {
    case ICMP_DEST_UNREACH:
      switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_UNR_TOS: return IP_DEST_NET_UNREACHABLE;
        case ICMP_PROT_UNREACH: return IP_DEST_PROT_UNREACHABLE;
        case ICMP_PORT_UNREACH: return IP_DEST_PORT_UNREACHABLE;
        case ICMP_FRAG_NEEDED: return IP_PACKET_TOO_BIG;
        case ICMP_SR_FAILED: return IP_BAD_ROUTE;
        default: return IP_DEST_HOST_UNREACHABLE;  // host unreachable, unknown, prohibited
      }
    case ICMP_TIME_EXCEEDED: return code == ICMP_EXC_FRAGTIME ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case ICMP_PARAMETERPROB: return IP_PARAM_PROBLEM;
    case ICMP_SOURCE_QUENCH: return IP_SOURCE_QUENCH;
    default: return IP_GENERAL_FAILURE;
  }
}

// The IP_ status of a failure the local stack reports.
DWORD StatusOfErrno(int err) {
  switch (err) {
    case ENETUNREACH:
    case ENETDOWN: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN: return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    case EACCES:
    case EINVAL: return IP_BAD_DESTINATION;
    case ENOBUFS:
    case ENOMEM: return IP_NO_RESOURCES;
    default: return IP_GENERAL_FAILURE;
  }
}

class EchoHandle : public KernelObject {
 public:
  EchoHandle(int fd, Backend backend, std::uint16_t id)
      : KernelObject(ObjectKind::Other), fd_(fd), backend_(backend), id_(id) {}
  ~EchoHandle() override { close(fd_); }

  Backend backend() const { return backend_; }

  DWORD Send(std::uint32_t destination, const void *data, size_t size, const EchoOptions &options) {
    std::lock_guard guard(lock_);
    const int ttl = static_cast<int>(std::clamp(options.ttl, 1u, 255u));
    const int tos = static_cast<int>(options.tos & 0xFF);
    const int pmtu = options.dont_fragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    setsockopt(fd_, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
    setsockopt(fd_, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu);
    setsockopt(fd_, IPPROTO_IP, IP_OPTIONS, options.ip_options.empty() ? nullptr : options.ip_options.data(),
               static_cast<socklen_t>(options.ip_options.size()));
    std::vector<std::uint8_t> packet(8 + size);
    ++seq_;
    packet[0] = ICMP_ECHO;
    packet[4] = static_cast<std::uint8_t>(id_ >> 8);
    packet[5] = static_cast<std::uint8_t>(id_);
    packet[6] = static_cast<std::uint8_t>(seq_ >> 8);
    packet[7] = static_cast<std::uint8_t>(seq_);
    if (size) std::memcpy(packet.data() + 8, data, size);
    const std::uint16_t sum = Checksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    destination_ = destination;
    pending_ = true;
    sent_at_ = NowMs();
    while (sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
      if (errno == EINTR) continue;
      pending_ = false;
      return StatusOfErrno(errno);
    }
    return 0;
  }

  // Waits for the answer to the last request until the deadline, or until
  // `alive` says the handle was closed.
  template <class Alive>
  bool Await(DWORD timeout_ms, EchoResult &result, Alive alive) {
    std::lock_guard guard(lock_);
    if (!pending_) return false;
    const ULONGLONG deadline = NowMs() + timeout_ms;
    for (;;) {
      const ULONGLONG now = NowMs();
      if (now >= deadline || !alive()) return false;
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(std::min<ULONGLONG>(deadline - now, kSliceMs)));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      const bool got = backend_ == Backend::kRaw ? ReadRaw(result) : ReadDgram(result, (p.revents & POLLERR) != 0);
      if (got) {
        pending_ = false;
        result.round_trip_ms = static_cast<DWORD>(NowMs() - sent_at_);
        return true;
      }
    }
  }

 private:
  // One packet from the raw socket; true when it answers the pending request.
  bool ReadRaw(EchoResult &result) {
    std::vector<std::uint8_t> buf(kMaxPacket);
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    const ssize_t n =
        recvfrom(fd_, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &from_len);
    if (n < static_cast<ssize_t>(sizeof(iphdr))) return false;
    const auto *ip = reinterpret_cast<const iphdr *>(buf.data());
    const size_t ihl = ip->ihl * 4u;
    if (ihl < sizeof(iphdr) || static_cast<size_t>(n) < ihl + 8 || ip->protocol != IPPROTO_ICMP) return false;
    const std::uint8_t *icmp = buf.data() + ihl;
    const size_t icmp_len = static_cast<size_t>(n) - ihl;
    const unsigned type = icmp[0];
    if (type == ICMP_ECHOREPLY) {
      if (Get16(icmp + 4) != id_ || Get16(icmp + 6) != seq_) return false;
      result.status = IP_SUCCESS;
      result.data.assign(icmp + 8, icmp + icmp_len);
    } else if (type == ICMP_DEST_UNREACH || type == ICMP_TIME_EXCEEDED || type == ICMP_PARAMETERPROB ||
               type == ICMP_SOURCE_QUENCH) {
      // The quoted request: its IP header, then at least 8 bytes of our echo header.
      if (icmp_len < 8 + sizeof(iphdr)) return false;
      const auto *inner = reinterpret_cast<const iphdr *>(icmp + 8);
      const size_t inner_ihl = inner->ihl * 4u;
      if (inner_ihl < sizeof(iphdr) || icmp_len < 8 + inner_ihl + 8 || inner->protocol != IPPROTO_ICMP ||
          inner->daddr != destination_)
        return false;
      const std::uint8_t *quoted = icmp + 8 + inner_ihl;
      if (quoted[0] != ICMP_ECHO || Get16(quoted + 4) != id_ || Get16(quoted + 6) != seq_) return false;
      result.status = StatusOf(type, icmp[1]);
      result.data.clear();
    } else {
      return false;
    }
    result.from = from.sin_addr.s_addr;
    result.ttl = ip->ttl;
    result.tos = ip->tos;
    result.flags = (ntohs(ip->frag_off) & IP_DF) ? IP_FLAG_DF : 0;
    return true;
  }

  // The datagram socket: an echo reply, or (error queue) a router's error.
  bool ReadDgram(EchoResult &result, bool error_waiting) {
    std::vector<std::uint8_t> buf(kMaxPacket);
    alignas(cmsghdr) char control[512];
    sockaddr_in from{};
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const bool from_errors = error_waiting;
    const ssize_t n = recvmsg(fd_, &msg, MSG_DONTWAIT | (from_errors ? MSG_ERRQUEUE : 0));
    if (n < 8) return false;
    if (Get16(buf.data() + 6) != seq_) return false;
    result.ttl = result.tos = result.flags = 0;
    if (!from_errors) {
      if (buf[0] != ICMP_ECHOREPLY) return false;
      for (cmsghdr *cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
        if (cm->cmsg_level != IPPROTO_IP) continue;
        int value = 0;
        if (cm->cmsg_type == IP_TTL && cm->cmsg_len >= CMSG_LEN(sizeof(int))) {
          std::memcpy(&value, CMSG_DATA(cm), sizeof value);
          result.ttl = static_cast<unsigned>(value);
        } else if (cm->cmsg_type == IP_TOS && cm->cmsg_len >= CMSG_LEN(1)) {
          result.tos = *CMSG_DATA(cm);
        }
      }
      result.status = IP_SUCCESS;
      result.from = from.sin_addr.s_addr;
      result.data.assign(buf.begin() + 8, buf.begin() + n);
      return true;
    }
    if (buf[0] != ICMP_ECHO) return false;  // the error queue gives back our own request
    for (cmsghdr *cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm)) {
      if (cm->cmsg_level != IPPROTO_IP || cm->cmsg_type != IP_RECVERR ||
          cm->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
        continue;
      sock_extended_err ee;
      std::memcpy(&ee, CMSG_DATA(cm), sizeof ee);
      if (ee.ee_origin == SO_EE_ORIGIN_ICMP) {
        result.status = StatusOf(ee.ee_type, ee.ee_code);
      } else if (ee.ee_origin == SO_EE_ORIGIN_LOCAL) {
        result.status = StatusOfErrno(static_cast<int>(ee.ee_errno));
      } else {
        continue;
      }
      result.from = 0;
      if (cm->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
        sockaddr_in offender;
        std::memcpy(&offender, CMSG_DATA(cm) + sizeof(sock_extended_err), sizeof offender);
        if (offender.sin_family == AF_INET) result.from = offender.sin_addr.s_addr;
      }
      result.data.clear();
      return true;
    }
    return false;
  }

  int fd_;
  Backend backend_;
  std::uint16_t id_;
  std::uint16_t seq_ = 0;
  std::mutex lock_;
  bool pending_ = false;
  std::uint32_t destination_ = 0;
  ULONGLONG sent_at_ = 0;
};

int OpenDgram() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
  setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
  setsockopt(fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  return fd;
}

int OpenRaw() {
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return -1;
  // Only echo replies and the errors that can answer an echo request.
  icmp_filter filter{};
  filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
                  (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
  setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  return fd;
}

std::shared_ptr<EchoHandle> HandleOf(HANDLE h) { return Lookup<EchoHandle>(h, ObjectKind::Other); }

}  // namespace

HANDLE CreateEchoHandle() {
  const char *forced = std::getenv("QX_ICMP_BACKEND");
  const bool only_dgram = forced && std::strcmp(forced, "dgram") == 0;
  const bool only_raw = forced && std::strcmp(forced, "raw") == 0;
  int fd = -1;
  int dgram_error = 0;
  Backend backend = Backend::kDgram;
  if (!only_raw) {
    fd = OpenDgram();
    dgram_error = errno;
  }
  if (fd < 0 && !only_dgram) {
    fd = OpenRaw();
    backend = Backend::kRaw;
  }
  if (fd < 0) {
    const int err = errno;
    Trace(
        "ICMP: no socket for echo requests (datagram: %s; raw: %s); let the user's group send pings "
        "(sysctl net.ipv4.ping_group_range) or give the program CAP_NET_RAW",
        std::strerror(dgram_error), only_dgram ? "not tried" : std::strerror(err));
    SetLastError(err == EPERM || err == EACCES || dgram_error == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  std::uint16_t id = 0;
  if (getrandom(&id, sizeof id, 0) != static_cast<ssize_t>(sizeof id)) id = static_cast<std::uint16_t>(getpid());
  HANDLE h = InsertHandle(std::make_shared<EchoHandle>(fd, backend, id));
  if (!h) {
    close(fd);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  }
  return h;
}

DWORD SendRequest(HANDLE handle, std::uint32_t destination, const void *data, size_t size, const EchoOptions &options) {
  auto echo = HandleOf(handle);
  if (!echo) return ERROR_INVALID_HANDLE;
  if (size > 65500 || (size && !data)) return ERROR_INVALID_PARAMETER;
  if (destination == 0) return IP_BAD_DESTINATION;
  return echo->Send(destination, data, size, options);
}

bool AwaitAnswer(HANDLE handle, DWORD timeout_ms, EchoResult &result) {
  auto echo = HandleOf(handle);
  if (!echo) return false;
  const KernelObject *self = echo.get();
  return echo->Await(timeout_ms, result, [&] { return LookupHandle(handle).get() == self; });
}

std::string BackendOf(HANDLE handle) {
  auto echo = HandleOf(handle);
  if (!echo) return {};
  return echo->backend() == Backend::kRaw ? "raw" : "dgram";
}

}  // namespace qx::icmp
