// Lists the anonymous root of the FTP server on 127.0.0.1:21 the way a pane
// does (LIST, parse, PWD, then the pane's order: directories first, then by
// name) and prints the entry count and the time taken.
#include "ftpcore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) {
    fprintf(stderr, "bench_ftp_list: Winsock could not be started\n");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  strcpy(g_Panes[0].host, "127.0.0.1");
  if (FtpConnect(0) == INVALID_SOCKET) {
    fprintf(stderr, "bench_ftp_list: cannot connect to 127.0.0.1:21\n");
    return 1;
  }
  LOGIN_FIELDS fields{"anonymous", "", "", "bench@"};
  if (FtpLogin(0, fields) != 1 || ParseRemoteListing(0) != 1) {
    fprintf(stderr, "bench_ftp_list: login or listing failed: %s\n", LastReplyLine());
    return 1;
  }
  auto &entries = g_Panes[0].entries;
  std::stable_sort(entries.begin(), entries.end(), [](const ENTRY_NODE &a, const ENTRY_NODE &b) {
    const bool da = a.flags & kEntryDirectory, db = b.flags & kEntryDirectory;
    return da != db ? da : a.name < b.name;
  });
  FtpCommandReply(0, "QUIT", nullptr, 1);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (argc > 1 && strcmp(argv[1], "-v") == 0) printf("%zu entries in %.1f ms\n", entries.size(), ms);
  return 0;
}
