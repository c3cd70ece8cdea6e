// The 3270 engine as a network client for the comparison with s3270: it
// connects to a TN3270 host on loopback, negotiates through the terminal's
// telnet layer, collects records as vtconsole does, and takes commands on
// standard input, one a line, answering each with a line "ok":
//     keys HEX     a keyboard string, as the key map hands it over
//     screen       the screen rows ("row TEXT") and "cursor ROW COLUMN"
//     quit
//   tn3270_client PORT MODEL
#include <poll.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "telnet.h"
#include "tn3270_harness.h"

namespace {

int g_Socket = -1;
bool g_Started = false;

bool Start3270() {
  g_Started = true;
  return true;
}

void SendAll(const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(g_Socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      std::fprintf(stderr, "tn3270_client: the host connection failed while sending\n");
      std::exit(1);
    }
    sent += (size_t)n;
  }
}

std::string FromHex(const char *hex) {
  std::string out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    const char two[3] = {hex[i], hex[i + 1], 0};
    out.push_back((char)std::strtoul(two, nullptr, 16));
  }
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tn3270_client PORT MODEL\n");
    return 2;
  }
  const int model = std::atoi(argv[2]);
  Tn3270Harness h(model);
  h.recordSink = [](const std::string &record) {
    std::string wire;
    TelnetEncodeRecord((const BYTE *)record.data(), record.size(), true, wire);
    SendAll(wire);
  };
  TN3270_RECORD record;
  const Tn3270ParseProc parse = [&h](const BYTE *bytes, int count, int eor) {
    return Tn3270Dispatch(h.e, (void *)bytes, 0, count, 0, TN3270_OP_HOSTDATA << 8 | eor);
  };
  TELNET_STATE tn;
  std::snprintf(tn.termTypes[0], sizeof tn.termTypes[0], "IBM-3278-%d", model);

  g_Socket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons((unsigned short)std::atoi(argv[1]));
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(g_Socket, (sockaddr *)&peer, sizeof peer) != 0) {
    std::fprintf(stderr, "tn3270_client: cannot connect to port %s\n", argv[1]);
    return 1;
  }
  char line[8192];
  std::string input;
  for (;;) {
    pollfd fds[2] = {{g_Socket, POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(fds, 2, 30000) <= 0) return 1;
    if (fds[0].revents) {
      unsigned char buffer[4096];
      const ssize_t got = recv(g_Socket, buffer, sizeof buffer, 0);
      if (got <= 0) return 0;
      std::string answers;
      for (ssize_t i = 0; i < got; ++i) {
        const int data = TelnetReceive(tn, buffer[i], answers, Start3270);
        if (data == TELNET_END_OF_RECORD) Tn3270RecordHand(record, 1, parse);
        if (data >= 0) Tn3270RecordByte(record, (BYTE)data, parse);
      }
      if (!answers.empty()) SendAll(answers);
      continue;
    }
    if (!fds[1].revents) continue;
    const ssize_t got = read(0, line, sizeof line - 1);
    if (got <= 0) return 0;
    input.append(line, (size_t)got);
    size_t end;
    while ((end = input.find('\n')) != std::string::npos) {
      const std::string command = input.substr(0, end);
      input.erase(0, end + 1);
      if (command.rfind("keys ", 0) == 0) {
        h.Keys(FromHex(command.c_str() + 5));
      } else if (command == "screen") {
        for (int r = 0; r < h.e.rows; ++r) std::printf("row %s\n", h.Row(r).c_str());
        std::printf("cursor %d %d\n", h.cursorRow, h.cursorCol);
      } else if (command == "quit") {
        return 0;
      }
      std::printf("ok\n");
      std::fflush(stdout);
    }
  }
}
