// The control channel between service manager calls and a service's
// dispatcher (see service_channel.h).
#include "service_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qx/env.h"
#include "qx/errors.h"
#include "qx/unixsock.h"

namespace qx::svc {
namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string &out, unsigned char c, bool lower) {
  if (c > 0x20 && c < 0x7F && c != '%' && c != '/' && c != '&' && c != '\\') {
    out += lower ? static_cast<char>(std::tolower(c)) : static_cast<char>(c);
  } else {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char kMachineSocketDir[] = "/run/qx/svc";

bool MachineWide() {
  const char *forced = std::getenv("QX_RUNTIME_DIR");
  return !(forced && *forced);
}

// Socket file names stay short enough for an address in any directory: a
// long service name keeps its first characters and ends in a hash of the
// whole (lower-cased, as names are case-blind).
constexpr size_t kMaxFileName = 64;

std::string FileName(const std::string &service_name) {
  std::string file;
  for (unsigned char c : service_name) AppendEscaped(file, c, true);
  if (file.size() > kMaxFileName) {
    std::string folded;
    for (unsigned char c : service_name) folded += static_cast<char>(std::tolower(c));
    file = file.substr(0, kMaxFileName - 17) + "~" + HashName(folded);
  }
  return file;
}

}  // namespace

std::string SocketDir() {
  if (geteuid() == 0 && MachineWide()) {
    // Root's services are the machine's: other users may reach them to query
    // and send user controls (the dispatcher checks who asks for what).
    mkdir("/run/qx", 0755);
    mkdir(kMachineSocketDir, 0755);
    chmod(kMachineSocketDir, 0755);
    return kMachineSocketDir;
  }
  const std::string dir = RuntimeDir() + "/svc";
  EnsurePrivateDir(dir);
  return dir;
}

std::string SocketPath(const std::string &service_name) { return SocketDir() + "/" + FileName(service_name); }

namespace {

// Connects to the service's socket: this user's own, then (for users other
// than root) the machine's, where root's services listen.
int Connect(const std::string &service_name, DWORD &error) {
  std::vector<std::string> paths{SocketPath(service_name)};
  if (geteuid() != 0 && MachineWide()) paths.push_back(std::string(kMachineSocketDir) + "/" + FileName(service_name));
  error = ERROR_SERVICE_NOT_ACTIVE;
  for (const auto &path : paths) {
    sockaddr_un addr{};
    const socklen_t length = SocketFileAddress(path, addr);
    if (length == 0) continue;  // its directory is missing: nothing listens there
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = ERROR_NO_SYSTEM_RESOURCES;
      return -1;
    }
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), length) == 0) return fd;
    error = ErrorFromErrno(errno, HostCall::ConnectService);
    close(fd);
  }
  return -1;
}

}  // namespace

std::string FormatReply(DWORD error, const SERVICE_STATUS &s) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%u %u %u %u %u %u %u %u\n", error, s.dwServiceType, s.dwCurrentState,
                s.dwControlsAccepted, s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint);
  return buf;
}

bool ParseReply(const std::string &line, DWORD &error, SERVICE_STATUS &s) {
  unsigned v[8];
  if (std::sscanf(line.c_str(), "%u %u %u %u %u %u %u %u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]) != 8)
    return false;
  error = v[0];
  s = SERVICE_STATUS{v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
  return true;
}

DWORD Request(const std::string &service_name, const std::string &request, int timeout_ms, DWORD &service_error,
              SERVICE_STATUS &status) {
  DWORD connect_error = ERROR_SUCCESS;
  const int fd = Connect(service_name, connect_error);
  if (fd < 0) return connect_error;
  const std::string line = request + "\n";
  if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    close(fd);
    return ERROR_SERVICE_NOT_ACTIVE;
  }
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  DWORD result = ERROR_SERVICE_REQUEST_TIMEOUT;
  while (reply.size() < 256) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    char buf[128];
    ssize_t got = recv(fd, buf, sizeof buf, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      result = ERROR_SERVICE_NOT_ACTIVE;  // the service ended while answering
      break;
    }
    reply.append(buf, static_cast<size_t>(got));
    if (reply.find('\n') != std::string::npos) {
      result = ParseReply(reply, service_error, status) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
      break;
    }
  }
  close(fd);
  return result;
}

std::string EncodeArgs(DWORD count, const char *const *args) {
  std::string out;
  for (DWORD i = 0; i < count; ++i) {
    if (i) out += ' ';
    const char *a = args[i] ? args[i] : "";
    if (!*a) out += "%00";  // an empty argument still takes its place
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(a); *p; ++p) AppendEscaped(out, *p, false);
  }
  return out;
}

bool DecodeArgs(const char *text, std::string out[], size_t max, size_t &count) {
  count = 0;
  if (!text || !*text) return true;
  std::string current;
  for (const char *p = text;; ++p) {
    if (*p == ' ' || *p == '\0') {
      if (count >= max) return false;
      out[count++] = current;
      current.clear();
      if (*p == '\0') break;
      continue;
    }
    if (*p == '%') {
      int hi = HexDigit(p[1]);
      int lo = hi >= 0 ? HexDigit(p[2]) : -1;
      if (lo < 0) return false;
      if (hi || lo) current += static_cast<char>(hi * 16 + lo);
      p += 2;
    } else {
      current += *p;
    }
  }
  return true;
}

}  // namespace qx::svc
