// bench_udptime: the small UDP time server inetd starts ("dgram wait") on the
// first datagram: the bound socket is standard input; it answers every
// datagram with the 4-byte RFC 868 time until it has been idle for 15 s, as
// the super-server's time daemon does.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>

int main() {
  for (;;) {
    pollfd in{0, POLLIN, 0};
    if (poll(&in, 1, 15000) <= 0) return 0;
    char request[256];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    if (recvfrom(0, request, sizeof request, 0, (sockaddr *)&from, &fromLength) < 0) return 1;
    unsigned long long value = ((unsigned long long)time(nullptr) + 2208988800ULL) & 0xFFFFFFFFULL;
    unsigned char out[4] = {(unsigned char)(value >> 24), (unsigned char)(value >> 16), (unsigned char)(value >> 8),
                            (unsigned char)value};
    if (sendto(0, out, 4, 0, (sockaddr *)&from, fromLength) != 4) return 1;
  }
}
