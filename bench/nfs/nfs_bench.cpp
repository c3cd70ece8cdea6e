// Timed client for bench/nfs/run.sh. Each mode prints one line "<what> <value> <unit>".
//   udp SIZE BYTES         a responder process answers each small request with SIZE
//                          bytes: the plain datagram rate READ is measured against
//   read EXPORT NAME BYTES sequential 8 KB READs of a file through sharehost
//   write EXPORT NAME BYTES sequential 8 KB WRITEs to a new file (each on disk before its reply)
//   getattr EXPORT N       GETATTR calls of the export's directory
//   lookup EXPORT NAME N   LOOKUP calls of one name
//   sync DIR N             8 KB writes made durable by fdatasync, then by O_DSYNC
//   getattr3 MOUNTPORT EXPORT N, lookup3 MOUNTPORT EXPORT NAME N
//                          the same calls in NFS version 3 (another server on 2049)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rpc_call_builder.h"

using rpctest::CallBuilder;
using rpctest::Word;
using Clock = std::chrono::steady_clock;

namespace {

int g_socket = -1;
uint32_t g_xid = 1;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

sockaddr_in Loopback(int port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return to;
}

// One call to port 2049 (or another); the reply, retransmitted after a second of silence.
std::string Call(uint32_t program, uint32_t version, uint32_t procedure, const std::string &args, int port = 2049) {
  uint32_t xid = ++g_xid;
  std::string datagram =
      CallBuilder::Call(xid, program, version, procedure).AuthUnix("bench", 65534, 65534).bytes + args;
  sockaddr_in to = Loopback(port);
  for (int attempt = 0; attempt < 5; ++attempt) {
    sendto(g_socket, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    pollfd p{g_socket, POLLIN, 0};
    while (poll(&p, 1, 1000) == 1) {
      char buffer[9000];
      ssize_t got = recv(g_socket, buffer, sizeof buffer, 0);
      if (got >= 28 && Word(std::string(buffer, 4), 0) == xid) return std::string(buffer, size_t(got));
    }
  }
  fprintf(stderr, "nfs_bench: no reply from the server on 127.0.0.1:%d\n", port);
  exit(1);
}

std::string Mount(const std::string &path) {
  std::string reply = Call(100005, 1, 1, CallBuilder().Opaque(path).bytes);
  if (Word(reply, 24) != 0 || reply.size() < 60) {
    fprintf(stderr, "nfs_bench: MNT %s refused (status %u)\n", path.c_str(), Word(reply, 24));
    exit(1);
  }
  return reply.substr(28, 32);
}

std::string Lookup(const std::string &dir, const std::string &name) {
  std::string reply = Call(100003, 2, 4, dir + CallBuilder().Opaque(name).bytes);
  if (Word(reply, 24) != 0) {
    fprintf(stderr, "nfs_bench: LOOKUP %s failed (status %u)\n", name.c_str(), Word(reply, 24));
    exit(1);
  }
  return reply.substr(28, 32);
}

int Udp(size_t size, uint64_t bytes) {
  int pair[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
  pid_t responder = fork();
  if (responder == 0) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at = Loopback(0);
    bind(s, reinterpret_cast<sockaddr *>(&at), sizeof at);
    socklen_t len = sizeof at;
    getsockname(s, reinterpret_cast<sockaddr *>(&at), &len);
    write(pair[1], &at.sin_port, sizeof at.sin_port);
    std::string reply(size, 'r');
    for (;;) {
      char request[512];
      sockaddr_in from{};
      socklen_t from_len = sizeof from;
      ssize_t got = recvfrom(s, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&from), &from_len);
      if (got < 4) continue;
      memcpy(reply.data(), request, 4);
      sendto(s, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr *>(&from), from_len);
    }
  }
  in_port_t port = 0;
  read(pair[0], &port, sizeof port);
  sockaddr_in to = Loopback(0);
  to.sin_port = port;
  std::string request(100, 'q');
  char buffer[9000];
  uint64_t got_bytes = 0;
  auto start = Clock::now();
  for (uint32_t i = 0; got_bytes < bytes; ++i) {
    memcpy(request.data(), &i, 4);
    sendto(g_socket, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    ssize_t n = recv(g_socket, buffer, sizeof buffer, 0);
    if (n > 0) got_bytes += size_t(n) > 100 ? size_t(n) - 100 : 0;  // the READ reply's header and attributes
  }
  double s = Seconds(start);
  kill(responder, SIGKILL);
  waitpid(responder, nullptr, 0);
  printf("udp %.1f MB/s\n", double(got_bytes) / s / 1e6);
  return 0;
}

// The big-endian word at p.
uint32_t WordAt(const char *p) {
  const auto *u = reinterpret_cast<const unsigned char *>(p);
  return (uint32_t(u[0]) << 24) | (uint32_t(u[1]) << 16) | (uint32_t(u[2]) << 8) | u[3];
}
void PutWord(char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = char(v >> (24 - 8 * i));
}

// Sequential READs, the call made once and its xid and offset changed in
// place, the reply read where it lies: the client costs no more per call
// than the plain datagram client it is compared with.
int Read(const std::string &exported, const std::string &name, uint64_t bytes) {
  std::string file = Lookup(Mount(exported), name);
  std::string call = CallBuilder::Call(0, 100003, 2, 6).AuthUnix("bench", 65534, 65534).bytes + file +
                     CallBuilder().Long(0).Long(8192).Long(0).bytes;
  const size_t offset_at = call.size() - 12;
  sockaddr_in to = Loopback(2049);
  char reply[9000];
  timeval second{1, 0};  // a lost datagram is sent again after a second
  setsockopt(g_socket, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  uint64_t done = 0;
  auto start = Clock::now();
  for (uint32_t offset = 0; done < bytes;) {
    const uint32_t xid = ++g_xid;
    PutWord(call.data(), xid);
    PutWord(call.data() + offset_at, offset);
    ssize_t got = 0;
    for (int attempt = 0; attempt < 5 && got == 0; ++attempt) {
      sendto(g_socket, call.data(), call.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
      for (ssize_t n; got == 0 && (n = recv(g_socket, reply, sizeof reply, 0)) > 0;)
        if (n >= 100 && WordAt(reply) == xid) got = n;
    }
    if (got == 0) {
      fprintf(stderr, "nfs_bench: no reply to READ at %u\n", offset);
      return 1;
    }
    uint32_t length = WordAt(reply + 24 + 4 + 68);
    if (WordAt(reply + 24) != 0 || length == 0) break;
    done += length;
    offset += length;
  }
  double s = Seconds(start);
  printf("read %.1f MB/s (%llu bytes)\n", double(done) / s / 1e6, (unsigned long long)done);
  return done >= bytes ? 0 : 1;
}

int Write(const std::string &exported, const std::string &name, uint64_t bytes) {
  std::string dir = Mount(exported);
  // CREATE with every sattr field left alone but the mode.
  std::string reply = Call(100003, 2, 9,
                           dir + CallBuilder()
                                     .Opaque(name)
                                     .Long(0644)
                                     .Long(~0u)
                                     .Long(~0u)
                                     .Long(~0u)
                                     .Long(~0u)
                                     .Long(~0u)
                                     .Long(~0u)
                                     .Long(~0u)
                                     .bytes);
  if (Word(reply, 24) != 0) {
    fprintf(stderr, "nfs_bench: CREATE %s failed (status %u)\n", name.c_str(), Word(reply, 24));
    return 1;
  }
  std::string file = reply.substr(28, 32), block(8192, 'w');
  auto start = Clock::now();
  uint64_t done = 0;
  for (uint32_t offset = 0; done < bytes; offset += 8192, done += 8192) {
    reply = Call(100003, 2, 8, file + CallBuilder().Long(0).Long(offset).Long(0).Opaque(block).bytes);
    if (Word(reply, 24) != 0) {
      fprintf(stderr, "nfs_bench: WRITE at %u failed (status %u)\n", offset, Word(reply, 24));
      return 1;
    }
  }
  printf("write %.1f MB/s (%llu bytes)\n", double(done) / Seconds(start) / 1e6, (unsigned long long)done);
  return 0;
}

int Rate(const char *what, const std::string &args, uint32_t procedure, long count) {
  auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    std::string reply = Call(100003, 2, procedure, args);
    if (Word(reply, 24) != 0) {
      fprintf(stderr, "nfs_bench: %s failed (status %u)\n", what, Word(reply, 24));
      return 1;
    }
  }
  printf("%s %.0f calls/s\n", what, double(count) / Seconds(start));
  return 0;
}

// NFS version 3: MNT gives a handle of up to 64 bytes, sent as variable-length opaque data.
std::string Mount3(int mount_port, const std::string &path) {
  std::string reply = Call(100005, 3, 1, CallBuilder().Opaque(path).bytes, mount_port);
  uint32_t length = Word(reply, 28);
  if (Word(reply, 24) != 0 || length > 64 || reply.size() < 32 + length) {
    fprintf(stderr, "nfs_bench: MNT version 3 of %s refused (status %u)\n", path.c_str(), Word(reply, 24));
    exit(1);
  }
  return CallBuilder().Opaque(reply.substr(32, length)).bytes;
}

int Rate3(const char *what, const std::string &args, uint32_t procedure, long count) {
  auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    std::string reply = Call(100003, 3, procedure, args);
    if (Word(reply, 24) != 0) {
      fprintf(stderr, "nfs_bench: %s failed (status %u)\n", what, Word(reply, 24));
      return 1;
    }
  }
  printf("%s %.0f calls/s\n", what, double(count) / Seconds(start));
  return 0;
}

int Sync(const std::string &dir, int count) {
  std::string data(8192, 'w'), path = dir + "/nfs_bench_sync";
  for (int dsync = 0; dsync < 2; ++dsync) {
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | (dsync ? O_DSYNC : 0), 0644);
    auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      if (pwrite(fd, data.data(), data.size(), off_t(i) * 8192) != ssize_t(data.size())) return 1;
      if (!dsync) fdatasync(fd);
    }
    printf("%s %.1f us/write\n", dsync ? "o_dsync" : "fdatasync", Seconds(start) * 1e6 / count);
    close(fd);
  }
  unlink(path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  g_socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (mode == "udp" && argc == 4) return Udp(size_t(atol(argv[2])), uint64_t(atoll(argv[3])));
  if (mode == "read" && argc == 5) return Read(argv[2], argv[3], uint64_t(atoll(argv[4])));
  if (mode == "write" && argc == 5) return Write(argv[2], argv[3], uint64_t(atoll(argv[4])));
  if (mode == "getattr" && argc == 4) return Rate("getattr", Mount(argv[2]), 1, atol(argv[3]));
  if (mode == "lookup" && argc == 5)
    return Rate("lookup", Mount(argv[2]) + CallBuilder().Opaque(argv[3]).bytes, 4, atol(argv[4]));
  if (mode == "sync" && argc == 4) return Sync(argv[2], atoi(argv[3]));
  if (mode == "getattr3" && argc == 5) return Rate3("getattr3", Mount3(atoi(argv[2]), argv[3]), 1, atol(argv[4]));
  if (mode == "lookup3" && argc == 6)
    return Rate3("lookup3", Mount3(atoi(argv[2]), argv[3]) + CallBuilder().Opaque(argv[4]).bytes, 3, atol(argv[5]));
  fprintf(stderr,
          "usage: nfs_bench udp SIZE BYTES | read EXPORT NAME BYTES | write EXPORT NAME BYTES | getattr EXPORT N | "
          "lookup EXPORT NAME N | "
          "sync DIR N | getattr3 MOUNTPORT EXPORT N | lookup3 MOUNTPORT EXPORT NAME N\n");
  return 2;
}
