// A small program the process tests start: it reports what it was started
// with, or takes a socket from another process, as the first word says.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

// "report <file>": the command line, lpCmdLine, show state, session and open
// descriptors, one "key=value" a line; exits with 7.
int Report(const char *file, LPSTR args, int show) {
  // The descriptors are listed first: what the layer opens for its own use
  // afterwards (a watch on the folders a path went through) was not inherited.
  std::string fds;
  if (DIR *d = opendir("/proc/self/fd")) {
    const int own = dirfd(d);
    while (const dirent *e = readdir(d)) {
      if (e->d_name[0] == '.' || std::atoi(e->d_name) == own) continue;
      fds += std::string(fds.empty() ? "" : ",") + e->d_name;
    }
    closedir(d);
  }
  // "-": the report goes to the standard output (a socket the test holds).
  FILE *out = std::strcmp(file, "-") == 0 ? fdopen(1, "wb") : std::fopen(file, "wb");  // binary: no CR LF
  if (!out) return 90;
  std::fprintf(out, "cmdline=%s\n", GetCommandLineA());
  std::fprintf(out, "args=%s\n", args);
  std::fprintf(out, "show=%d\n", show);
  std::fprintf(out, "own_session=%d\n", getsid(0) == getpid() ? 1 : 0);
  char value[64];
  std::fprintf(out, "qx_cmdline_left=%d\n", GetEnvironmentVariableA("QX_CMDLINE", value, sizeof value) ? 1 : 0);
  std::fprintf(out, "fds=%s\n", fds.c_str());
  gid_t groups[64];
  const int count = getgroups(64, groups);
  std::string group_list;
  for (int i = 0; i < count; ++i) group_list += (i ? "," : "") + std::to_string(groups[i]);
  std::fprintf(out, "uid=%u\neuid=%u\ngid=%u\ngroups=%s\n", getuid(), geteuid(), getgid(), group_list.c_str());
  // The blocked and ignored signals it started with, as the kernel shows them.
  if (FILE *status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status))
      if (std::strncmp(line, "SigBlk:", 7) == 0 || std::strncmp(line, "SigIgn:", 7) == 0)
        std::fprintf(out, "%.6s=%s", line, line + 8 + std::strspn(line + 8, " \t"));
    std::fclose(status);
  }
  for (const char *name : {"HOME", "USER", "DISPLAY", "XAUTHORITY"}) {
    const char *setting = std::getenv(name);
    std::fprintf(out, "env_%s=%s\n", name, setting ? setting : "(unset)");
  }
  std::fclose(out);
  return 7;
}

// "take <socket> <pid>": takes the socket of process pid, sends a line on it.
int Take(const char *sock_text, const char *pid_text) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 80;
  HANDLE source = OpenProcess(PROCESS_DUP_HANDLE, FALSE, static_cast<DWORD>(std::atoi(pid_text)));
  if (!source) return 81;
  HANDLE mine = nullptr;
  const BOOL ok = DuplicateHandle(source, QX_HANDLE_FROM(HANDLE, std::atoi(sock_text)), GetCurrentProcess(), &mine, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS);
  CloseHandle(source);
  if (!ok) return 82;
  const SOCKET s = static_cast<SOCKET>(QX_HANDLE_VALUE(mine));
  const char line[] = "hello from the taker\r\n";
  if (send(s, line, static_cast<int>(sizeof line - 1), 0) != static_cast<int>(sizeof line - 1)) return 83;
  closesocket(s);
  WSACleanup();
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int show) {
  char copy[1024];
  lstrcpynA(copy, args, sizeof copy);
  char *words[8] = {};
  int n = 0;
  for (char *t = std::strtok(copy, " "); t && n < 8; t = std::strtok(nullptr, " ")) words[n++] = t;
  if (n >= 2 && std::strcmp(words[0], "report") == 0) return Report(words[1], args, show);
  if (n >= 3 && std::strcmp(words[0], "take") == 0) return Take(words[1], words[2]);
  if (n >= 1 && std::strcmp(words[0], "sleep") == 0) {
    for (;;) Sleep(1000);
  }
  if (n >= 2 && std::strcmp(words[0], "exit") == 0) return std::atoi(words[1]);
  return 99;
}
