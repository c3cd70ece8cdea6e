// bench_client: requests per second against a time service on loopback.
//   bench_client tcp PORT SECONDS CLIENTS   connections, each read to its close (4 bytes)
//   bench_client udp PORT SECONDS           one datagram, one 4-byte reply, in turn
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool TcpRequest(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  timeval tv{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  bool ok = false;
  if (connect(s, (sockaddr *)&a, sizeof a) == 0) {
    char buffer[16];
    int total = 0;
    ssize_t n;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) total += (int)n;
    ok = total == 4 && n == 0;
  }
  close(s);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: bench_client tcp|udp PORT SECONDS [CLIENTS]\n");
    return 2;
  }
  int port = atoi(argv[2]);
  double seconds = atof(argv[3]);
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::atomic<long> done{0}, failed{0};
  auto start = std::chrono::steady_clock::now();
  if (strcmp(argv[1], "tcp") == 0) {
    int clients = argc > 4 ? atoi(argv[4]) : 1;
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; i++)
      threads.emplace_back([&] {
        while (std::chrono::steady_clock::now() < end) {
          if (TcpRequest(port))
            done++;
          else {
            failed++;
            usleep(1000);
          }
        }
      });
    for (auto &t : threads) t.join();
  } else {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(port);
    timeval tv{1, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    connect(s, (sockaddr *)&a, sizeof a);
    while (std::chrono::steady_clock::now() < end) {
      char buffer[16];
      send(s, "x", 1, 0);
      if (recv(s, buffer, sizeof buffer, 0) == 4)
        done++;
      else
        failed++;
    }
    close(s);
  }
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("%s requests=%ld failed=%ld rate=%.0f/s\n", argv[1], done.load(), failed.load(), done / elapsed);
  return 0;
}
