// Downloads one file from the FTP server on 127.0.0.1:21 the way a copy
// between the panes does (binary, into a local directory, written as a
// ".part" file and renamed when complete) and prints the time taken, the
// rate and the process's peak memory.
// Usage: bench_ftp_download FILE LOCAL_DIR [-v]
#include "ftpcore.h"
#include "profiles.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: bench_ftp_download FILE LOCAL_DIR [-v]\n");
    return 2;
  }
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) {
    fprintf(stderr, "bench_ftp_download: Winsock could not be started\n");
    return 1;
  }
  g_Options.autoSelect = 1;  // binary, no questions
  g_Options.overwritePrompt = 0;
  g_Panes[1].kind = kPaneLocal;
  if (!SetCurrentDirectoryA(argv[2])) {
    fprintf(stderr, "bench_ftp_download: cannot enter %s\n", argv[2]);
    return 1;
  }
  QueryDirectory(1);
  const auto start = std::chrono::steady_clock::now();
  strcpy(g_Panes[0].host, "127.0.0.1");
  LOGIN_FIELDS fields{"anonymous", "", "", "bench@"};
  if (FtpConnect(0) == INVALID_SOCKET || FtpLogin(0, fields) != 1) {
    fprintf(stderr, "bench_ftp_download: cannot log in to 127.0.0.1:21: %s\n", LastReplyLine());
    return 1;
  }
  g_Panes[0].kind = kHostUnix;
  ENTRY_NODE file;
  file.name = argv[1];
  file.flags = kEntrySelected;
  g_Panes[0].entries.push_back(file);
  if (CopySelection(1) != 1) {
    fprintf(stderr, "bench_ftp_download: the copy of %s failed: %s\n", argv[1], LastReplyLine());
    return 1;
  }
  FtpCommandReply(0, "QUIT", nullptr, 1);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  if (argc > 3 && strcmp(argv[3], "-v") == 0)
    printf("%.2f s, peak memory %ld KB\n", seconds, static_cast<long>(usage.ru_maxrss));
  return 0;
}
