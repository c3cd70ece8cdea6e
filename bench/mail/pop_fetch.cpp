// One POP retrieval from 127.0.0.1:PORT into MAILDIR (delete off), for the
// retrieval benchmark: prints the number of messages stored.
// Usage: mail_pop_fetch PORT MAILDIR USER PASSWORD
#include <cstdio>
#include <cstdlib>

#include "pop.h"
#include "settings.h"
#include "wintransport.h"

#include <winsock.h>

namespace {
class BenchTransport : public WinsockMailTransport {
 public:
  int port = 110;
  int LookupServicePort(const char *name) override { return name[4] == '3' ? port : 1; }
};
}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: mail_pop_fetch PORT MAILDIR USER PASSWORD\n");
    return 2;
  }
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) {
    std::fprintf(stderr, "mail_pop_fetch: Winsock did not start\n");
    return 1;
  }
  BenchTransport transport;
  transport.port = std::atoi(argv[1]);
  SetMailTransport(&transport);
  Settings().ownAddress = std::string(argv[3]) + "@127.0.0.1";
  int stored = POP_session(argv[3], argv[4], 0, "127.0.0.1", argv[2]);
  WSACleanup();
  if (stored < 0) {
    std::fprintf(stderr, "mail_pop_fetch: retrieval failed (%d): %s\n", stored,
                 PopErrorText(stored, "127.0.0.1").c_str());
    return 1;
  }
  std::printf("%d\n", stored);
  return 0;
}
