/* burrowserve: the gopher daemon (TCP 70). For each connection it reads one
 * selector, asks gatekeeper whether the peer may have it, and sends the file
 * the selector names beneath the gopher root: a menu ("DEFAULT.GMN" for the
 * empty selector) or any other document, unchanged apart from a final Ctrl-Z
 * of text types and the end line. The gopher root is the daemon's working
 * directory, or the directory its first parameter names (a host or a
 * Windows path). */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "gatekeeper.h"
#include "selector.h"

namespace {

constexpr int kRequestBytes = 1460; /* a selector line longer than this is taken as cut there */
constexpr int kPiece = 4096;
const char kReadError[] = "3Gopher Server error reading from the network\t\t\t\t\r\n.\r\n";
const char kRefused[] = "3Gopher Server disallowing access\t\t\t\t\r\n.\r\n";
const char kWriteError[] = "3Gopher Server error writing to the network\t\t\t\t\r\n.\r\n";

void Send(SOCKET s, const std::string &text) { SockSendAll(s, text.data(), (int)text.size()); }

/* The request up to its line end, across as many segments as it comes in;
 * -1 when nothing came before an error, the peer's end or the idle time. */
int ReadRequest(SOCKET s, std::string *request) {
  char buffer[kRequestBytes];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SockPumpIdleMs());
  while ((int)request->size() < kRequestBytes && request->find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    int got = SockRecvPumpingFor(s, buffer, kRequestBytes - (int)request->size(), (DWORD)left.count());
    if (got <= 0) break;
    request->append(buffer, (size_t)got);
  }
  return request->empty() ? -1 : (int)request->size();
}

int g_Root = -1; /* the gopher root's directory */

/* The root: a host path as it stands, a Windows path as the layer maps it,
 * the working directory when the service names none. */
int OpenRoot(const char *path) {
  if (!path) return open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (path[0] == '/') return open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  char before[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof before, before);
  int root = SetCurrentDirectoryA(path) ? open(".", O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
  SetCurrentDirectoryA(before);
  return root;
}

/* The file beneath the gopher root, a regular one only. */
int OpenBeneathRoot(const std::string &relative) {
  if (g_Root < 0) return -1; /* a root that could not be opened holds nothing */
  struct open_how how {};
  how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  int fd = (int)syscall(SYS_openat2, g_Root, relative.c_str(), &how, sizeof how);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

/* Sends the file; false when the peer did not take a piece. */
bool SendFile(SOCKET s, int fd, int cls) {
  char piece[kPiece];
  char last[2] = {0, 0}; /* the last two bytes sent */
  ssize_t got;
  while ((got = read(fd, piece, sizeof piece)) > 0) {
    if (GopherDropsCtrlZ(cls) && piece[got - 1] == 26) got--;
    if (got == 0) continue;
    if (SockSendAll(s, piece, (int)got) != (int)got) {
      Send(s, kWriteError);
      return false;
    }
    last[0] = got > 1 ? piece[got - 2] : last[1];
    last[1] = piece[got - 1];
  }
  if (GopherSendsEndLine(cls)) Send(s, last[0] == '\r' && last[1] == '\n' ? ".\r\n" : "\r\n.\r\n");
  return true;
}

void Serve(SOCKET s) {
  sockaddr_in peer{};
  int peerLength = sizeof peer;
  getpeername(s, (sockaddr *)&peer, &peerLength);
  std::string request;
  if (ReadRequest(s, &request) < 0) {
    ValidateRequest(GATEKEEPER_GOPHER, &peer, nullptr, nullptr); /* only its log line */
    return Send(s, kReadError);
  }
  if (ValidateRequest(GATEKEEPER_GOPHER, &peer, request.c_str(), nullptr) == 0) return Send(s, kRefused);
  const std::string selector = GopherSelector(request);
  const int cls = GopherClass(selector);
  std::string relative;
  const int fd = GopherRelativePath(selector, &relative) ? OpenBeneathRoot(relative) : -1;
  if (fd < 0) return Send(s, GopherBadKeyReply(selector));
  SendFile(s, fd, cls);
  close(fd);
}

const DAEMON_INFO kBurrowserve = {"burrowserve", ConnectionWndProc, FALSE, TRUE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  /* The gopher root: the first parameter when the service has one. */
  DaemonSplitArguments(commandLine);
  g_Root = OpenRoot(g_DaemonArgCount > 0 ? g_DaemonArgs[0] : nullptr);
  g_ConnectionServe = Serve;
  return DaemonWinMain(&kBurrowserve, instance, previous, commandLine, show);
}
