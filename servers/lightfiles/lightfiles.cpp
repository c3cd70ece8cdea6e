/* lightfiles: the TFTP daemon (UDP 69). Started on the first datagram, it
 * serves read and write requests of up to 100 peers at once on the one
 * socket it was handed, in 512-byte blocks with lock-step acknowledgements,
 * and ends when no transfer is left. Reads come from the read root ("-r
 * DIR"), writes go to the write root ("-w DIR"); without a root that
 * direction is refused.
 *
 * Each transfer answers its peer from a socket of its own on the same port,
 * connected to the peer (see OpenLink); on the wire it is still the one port
 * the request came to.
 *
 * Files are opened beneath the root's directory by the kernel
 * (RESOLVE_BENEATH): neither "..", an absolute name nor a symbolic link
 * reaches outside it, and only regular files are read or written. */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "blocks.h"
#include "tftp.h"

namespace {

constexpr int kMaxTransfers = 100;
constexpr UINT kCheckTimer = 1; /* drops idle transfers; ends the daemon when none is left */
constexpr UINT kCheckMs = 10000;
constexpr UINT kResendTimer = 2;
constexpr UINT kResendMs = 2000;
constexpr UINT kLingerTimerBase = 1000; /* + the transfer's timer number */
constexpr UINT kLingerMs = 2000;
constexpr time_t kIdleDropSeconds = 30;
constexpr time_t kIdleResendSeconds = 5;
constexpr time_t kEarlyAckSeconds = 4;

enum TransferFlags { kReading = 1, kWriting = 2, kLastSent = 4, kFinished = 8 };

/* One descriptor, closed when the transfer goes. */
struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  explicit Descriptor(int f) : fd(f) {}
  Descriptor(Descriptor &&o) noexcept : fd(o.fd) { o.fd = -1; }
  Descriptor &operator=(Descriptor &&o) noexcept {
    if (this != &o) {
      Close();
      fd = o.fd;
      o.fd = -1;
    }
    return *this;
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

/* A socket of the layer, closed (and its event registration cancelled) when
 * its owner goes. */
struct SocketHandle {
  SOCKET s = INVALID_SOCKET;
  SocketHandle() = default;
  explicit SocketHandle(SOCKET k) : s(k) {}
  SocketHandle(SocketHandle &&o) noexcept : s(o.s) { o.s = INVALID_SOCKET; }
  SocketHandle &operator=(SocketHandle &&o) noexcept {
    if (this != &o) {
      Close();
      s = o.s;
      o.s = INVALID_SOCKET;
    }
    return *this;
  }
  SocketHandle(const SocketHandle &) = delete;
  SocketHandle &operator=(const SocketHandle &) = delete;
  ~SocketHandle() { Close(); }
  void Close() {
    if (s != INVALID_SOCKET) WsCloseSocket(s);
    s = INVALID_SOCKET;
  }
};

struct Transfer {
  uint32_t address = 0; /* network order, as received */
  uint16_t port = 0;
  SocketHandle link; /* its own socket on our port, connected to the peer; none: the shared one */
  Descriptor file;
  TftpBlockReader reader; /* a reading transfer's blocks, read ahead */
  TftpBlockWriter writer; /* a writing transfer's blocks, gathered */
  int flags = 0;
  time_t lastActivity = 0;
  uint32_t block = 0; /* the current block; the wire carries it modulo 65,536 */
  int64_t position = 0;
  UINT timer = 0; /* its linger timer's number, stable while it lives */
};

struct Roots {
  Descriptor read;
  Descriptor write;
};

std::vector<Transfer> g_Transfers;
Roots g_Roots;

/* The root's directory, held open so later renames of the path change
 * nothing: a host path as it stands, a Windows path as the layer maps it. */
Descriptor OpenRoot(const char *path) {
  if (path[0] == '/') return Descriptor(open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
  char before[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof before, before);
  Descriptor root;
  if (SetCurrentDirectoryA(path)) root = Descriptor(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  SetCurrentDirectoryA(before);
  return root;
}

/* "-r DIR", "-rDIR", "-R ..." and the same for "-w"; other words are ignored. */
void ReadOptions() {
  for (int i = 0; i < g_DaemonArgCount; i++) {
    const char *word = g_DaemonArgs[i];
    if (word[0] != '-' || !word[1] || !strchr("RrWw", word[1])) continue;
    const char *dir = word[2] ? word + 2 : (i + 1 < g_DaemonArgCount ? g_DaemonArgs[++i] : nullptr);
    if (!dir) continue;
    Descriptor root = OpenRoot(dir);
    if (word[1] == 'R' || word[1] == 'r')
      g_Roots.read = std::move(root);
    else
      g_Roots.write = std::move(root);
  }
}

int OpenBeneath(int root, const std::string &relative, int flags) {
  struct open_how how {};
  how.flags = (uint64_t)(flags | O_CLOEXEC | O_NOCTTY);
  how.mode = (flags & O_CREAT) ? 0644 : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return (int)syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
}

void SendTo(const char *packet, int length, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = port;
  WsSendTo(g_DaemonSocket, packet, length, 0, (const sockaddr *)&to, sizeof to);
}

void SendTo(const std::string &packet, uint32_t address, uint16_t port) {
  SendTo(packet.data(), (int)packet.size(), address, port);
}

/* The socket the next answer of a peer is looked for on first: the link of
 * the transfer we last sent to (or the shared socket when it has none). */
SOCKET g_AnswerHint = INVALID_SOCKET;

/* A packet of a transfer goes out on its link when it has one. A connected
 * socket reports a peer's closed port (from an earlier datagram) on its next
 * send, which then sends nothing; the report is taken and the packet sent
 * again, so a peer that comes back is served as on the shared socket. */
void SendToPeer(Transfer &t, const char *packet, int length) {
  if (t.link.s == INVALID_SOCKET) {
    SendTo(packet, length, t.address, t.port);
    g_AnswerHint = g_DaemonSocket;
    return;
  }
  if (WsSend(t.link.s, packet, length, 0) < 0 && WSAGetLastError() == WSAECONNREFUSED)
    WsSend(t.link.s, packet, length, 0);
  g_AnswerHint = t.link.s;
}

void SendToPeer(Transfer &t, const std::string &packet) { SendToPeer(t, packet.data(), (int)packet.size()); }

bool SetReuse(SOCKET s, BOOL on) {
  return WsSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on) == 0;
}

/* A socket bound to the port the daemon serves and connected to one peer.
 * The kernel delivers that peer's datagrams to it (a connected socket is the
 * closer match) and every other peer's to the shared socket, so no request
 * is lost; the peer still sees one port. Its sends skip the route look-up an
 * unconnected socket makes for every datagram, which in a lock-step transfer
 * is a good part of each block's time. Sharing the port needs SO_REUSEADDR
 * on both sockets only while the link is bound: cleared again at once, so no
 * other program can bind the port afterwards. Any failure leaves the
 * transfer on the shared socket, as before. */
SocketHandle OpenLink(HWND window, uint32_t address, uint16_t port) {
  sockaddr_in local{};
  int localLength = sizeof local;
  if (getsockname(g_DaemonSocket, (sockaddr *)&local, &localLength) != 0 || local.sin_family != AF_INET) return {};
  SocketHandle link(WsSocket(AF_INET, SOCK_DGRAM, 0));
  if (link.s == INVALID_SOCKET) return {};
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = address;
  peer.sin_port = port;
  const bool shared = SetReuse(g_DaemonSocket, TRUE);
  const bool linked = shared && SetReuse(link.s, TRUE) && WsBind(link.s, (const sockaddr *)&local, sizeof local) == 0 &&
                      WsConnect(link.s, (const sockaddr *)&peer, sizeof peer) == 0;
  SetReuse(g_DaemonSocket, FALSE);
  if (!linked) return {};
  SetReuse(link.s, FALSE);
  if (WSAAsyncSelect(link.s, window, WM_DAEMON_READ, FD_READ) != 0) return {};
  return link;
}

void SendError(int code, uint32_t address, uint16_t port) { SendTo(TftpErrorPacket(code), address, port); }

Transfer *Find(uint32_t address, uint16_t port) {
  for (Transfer &t : g_Transfers)
    if (t.address == address && t.port == port) return &t;
  return nullptr;
}

UINT FreeTimerNumber() {
  for (UINT n = 0;; n++) {
    bool used = false;
    for (const Transfer &t : g_Transfers) used = used || t.timer == n;
    if (!used) return n;
  }
}

/* Ends transfer i: the blocks it has gathered are written (every block
 * acknowledged is in the file, whatever ended the transfer), its timer is
 * killed, and its file and link close as it leaves the table. */
void Forget(HWND window, size_t i) {
  Transfer &t = g_Transfers[i];
  t.writer.Flush(t.file.fd);
  KillTimer(window, kLingerTimerBase + t.timer);
  g_AnswerHint = INVALID_SOCKET;
  g_Transfers.erase(g_Transfers.begin() + (long)i);
}

void Remove(HWND window, const Transfer *gone) {
  for (size_t i = 0; i < g_Transfers.size(); i++)
    if (&g_Transfers[i] == gone) return Forget(window, i);
}

void SendBlock(Transfer &t) {
  unsigned char packet[4 + kTftpBlock];
  const int got = t.reader.Read(t.file.fd, t.position, packet + 4);
  if (got < kTftpBlock) t.flags |= kLastSent;
  TftpPutHead(packet, kTftpData, t.block);
  SendToPeer(t, (const char *)packet, 4 + got);
  t.lastActivity = time(nullptr);
}

/* A new peer's request; an error leaves no transfer behind. */
void NewRequest(HWND window, const unsigned char *packet, int length, uint32_t address, uint16_t port) {
  const int opcode = TftpOpcodeOf(packet, length);
  if (opcode == kTftpError) return; /* never answer an error with an error */
  if (opcode == kTftpData) return SendError(kTftpUnknownId, address, port);
  if (opcode != kTftpRrq && opcode != kTftpWrq) return SendError(kTftpIllegal, address, port);
  if ((int)g_Transfers.size() >= kMaxTransfers) return SendError(kTftpDiskFull, address, port);
  std::string name, mode, relative;
  if (!TftpRequestName(packet, length, &name, &mode)) return SendError(kTftpIllegal, address, port);
  const bool reading = opcode == kTftpRrq;
  const Descriptor &root = reading ? g_Roots.read : g_Roots.write;
  if (root.fd < 0 || !TftpRelativePath(name, &relative)) return SendError(kTftpAccess, address, port);

  Descriptor file(OpenBeneath(root.fd, relative, reading ? O_RDONLY : O_WRONLY | O_CREAT | O_EXCL));
  if (file.fd < 0) {
    const int error = errno;
    if (error == EEXIST) return SendError(kTftpExists, address, port);
    if (error == EXDEV || error == EACCES || error == EPERM || error == ELOOP)
      return SendError(kTftpAccess, address, port);
    return SendError(kTftpNotFound, address, port);
  }
  struct stat info {};
  if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return SendError(kTftpNotFound, address, port);

  Transfer t;
  t.address = address;
  t.port = port;
  t.file = std::move(file);
  t.flags = reading ? kReading : kWriting;
  t.block = reading ? 1 : 0;
  t.timer = FreeTimerNumber();
  t.lastActivity = time(nullptr);
  t.link = OpenLink(window, address, port);
  g_Transfers.push_back(std::move(t));
  Transfer &added = g_Transfers.back();
  if (reading)
    SendBlock(added);
  else
    SendToPeer(added, TftpAckPacket(0));
}

void ReadingPacket(HWND window, Transfer &t, int opcode, int block) {
  if (opcode == kTftpRrq) { /* the request again: its first answer was lost */
    SendBlock(t);
    return;
  }
  const uint32_t current = t.block & 0xFFFF;
  if ((uint32_t)block == current) {
    if (t.flags & kLastSent) return Remove(window, &t);
    t.block++;
    t.position += kTftpBlock;
    return SendBlock(t);
  }
  /* An earlier block's ACK, within half the number space behind: a late
   * duplicate. Resent only when our own send is old, so that duplicates do
   * not double every block (the sorcerer's apprentice). */
  const uint32_t behind = (current - (uint32_t)block) & 0xFFFF;
  if (behind < 0x8000 && time(nullptr) - t.lastActivity < kEarlyAckSeconds) return;
  SendBlock(t);
}

void WritingPacket(HWND window, Transfer &t, int opcode, int block, const unsigned char *packet, int length) {
  if (opcode == kTftpData && !(t.flags & kFinished) && TftpIsNext(t.block, block)) {
    /* The last block is acknowledged only once the whole file is written. */
    const bool last = length < 4 + kTftpBlock;
    if (!t.writer.Add(t.file.fd, packet + 4, length - 4) || (last && !t.writer.Flush(t.file.fd))) {
      SendToPeer(t, TftpErrorPacket(kTftpDiskFull));
      return Remove(window, &t);
    }
    t.block++;
    if (last) {
      t.flags |= kFinished;
      t.file.Close();
      SetTimer(window, kLingerTimerBase + t.timer, kLingerMs, nullptr);
    }
  }
  /* Every DATA (the next, a duplicate or one past a gap, which is not
   * written) and a repeated WRQ get the ACK of the current block. */
  SendToPeer(t, TftpAckPacket(t.block));
  t.lastActivity = time(nullptr);
}

constexpr int kDatagramsPerMessage = 32; /* then the queue's other messages get their turn */

void HandleDatagram(HWND window, const unsigned char *packet, int length, const sockaddr_in &from) {
  if (from.sin_family != AF_INET) return;
  Transfer *t = Find(from.sin_addr.s_addr, from.sin_port);
  if (!t) return NewRequest(window, packet, length, from.sin_addr.s_addr, from.sin_port);
  const int opcode = TftpOpcodeOf(packet, length);
  const int block = TftpBlockOf(packet, length);
  if (opcode == kTftpError) return Remove(window, t); /* the peer gave up */
  if ((t->flags & kReading) && (opcode == kTftpAck || opcode == kTftpRrq) && (block >= 0 || opcode == kTftpRrq))
    return ReadingPacket(window, *t, opcode, block);
  if ((t->flags & kWriting) && ((opcode == kTftpData && block >= 0) || opcode == kTftpWrq))
    return WritingPacket(window, *t, opcode, block, packet, length);
  SendToPeer(*t, TftpErrorPacket(kTftpIllegal)); /* the transfer stays */
}

/* Lock-step peers answer within microseconds: while transfers run, a
 * receive that finds nothing waits on the sockets before the thread goes
 * back to its queue (a wake-up through the queue costs more). The wait is
 * long enough that arming it is rarely the CPU's next timer event: a wait
 * of a couple of milliseconds reprograms the timer on nearly every block,
 * which costs more than the block (about a quarter of the transfer's time
 * in a virtual machine). A peer that has stopped costs at most this much
 * before the queue's timers run. */
constexpr int kAnswerWaitMs = 20;

int g_NextLink = 0; /* where the search for a readable socket starts, so every socket gets its turn */

struct Datagram {
  unsigned char packet[kTftpDatagram];
  int length = -1;
  sockaddr_in from{};
};

bool ReceiveOn(SOCKET s, Datagram *d) {
  int fromLength = sizeof d->from;
  d->length = WsRecvFrom(s, (char *)d->packet, sizeof d->packet, 0, (sockaddr *)&d->from, &fromLength);
  return d->length >= 0;
}

/* The next waiting datagram from any socket: first the link the last answer
 * is expected on, then whichever socket is readable, waiting for one while
 * transfers run. A receive that fails on a link (an unreachable peer
 * reported by the network) just finds nothing there. */
bool ReceiveAny(Datagram *d) {
  if (g_AnswerHint != INVALID_SOCKET && ReceiveOn(g_AnswerHint, d)) return true;
  static std::vector<pollfd> sockets; /* kept between calls: no allocation per wait */
  sockets.clear();
  sockets.push_back(pollfd{(int)g_DaemonSocket, POLLIN, 0});
  for (const Transfer &t : g_Transfers)
    if (t.link.s != INVALID_SOCKET) sockets.push_back(pollfd{(int)t.link.s, POLLIN, 0});
  if (poll(sockets.data(), sockets.size(), g_Transfers.empty() ? 0 : kAnswerWaitMs) <= 0) return false;
  const size_t count = sockets.size();
  for (size_t k = 0; k < count; k++) {
    const pollfd &p = sockets[(g_NextLink + k) % count];
    if (p.revents == 0) continue;
    g_NextLink = (int)((g_NextLink + k + 1) % count);
    if (ReceiveOn((SOCKET)p.fd, d)) return true;
  }
  return false;
}

/* Drains the waiting datagrams. A receive re-enables FD_READ, so a socket's
 * next datagram posts WM_DAEMON_READ again; after a batch the message is
 * posted by hand so that timers run between batches. */
void ReadDatagrams(HWND window) {
  for (int i = 0; i < kDatagramsPerMessage; i++) {
    Datagram d;
    if (!ReceiveAny(&d)) return; /* nothing more waiting */
    HandleDatagram(window, d.packet, d.length, d.from);
  }
  PostMessageA(window, WM_DAEMON_READ, 0, 0);
}

void DropIdle(HWND window) {
  const time_t now = time(nullptr);
  for (size_t i = 0; i < g_Transfers.size();) {
    if (now - g_Transfers[i].lastActivity > kIdleDropSeconds) {
      Forget(window, i);
    } else {
      i++;
    }
  }
  if (g_Transfers.empty()) DestroyWindow(window);
}

void ResendStale() {
  const time_t now = time(nullptr);
  for (Transfer &t : g_Transfers) {
    if (now - t.lastActivity <= kIdleResendSeconds) continue;
    if (t.flags & kReading)
      SendBlock(t);
    else
      SendToPeer(t, TftpAckPacket(t.block));
  }
}

void EndLinger(HWND window, UINT timer) {
  KillTimer(window, kLingerTimerBase + timer);
  for (Transfer &t : g_Transfers)
    if (t.timer == timer && (t.flags & kFinished)) return Remove(window, &t);
}

LRESULT CALLBACK LightfilesWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      ReadOptions();
      WSAAsyncSelect(g_DaemonSocket, window, WM_DAEMON_READ, FD_READ);
      SetTimer(window, kCheckTimer, kCheckMs, nullptr);
      SetTimer(window, kResendTimer, kResendMs, nullptr);
      return 0;
    case WM_DAEMON_READ: ReadDatagrams(window); return 0;
    case WM_TIMER:
      if (wParam == kCheckTimer)
        DropIdle(window);
      else if (wParam == kResendTimer)
        ResendStale();
      else if (wParam >= kLingerTimerBase)
        EndLinger(window, (UINT)(wParam - kLingerTimerBase));
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == DAEMON_CMD_QUIT) DestroyWindow(window);
      return 0;
    case WM_DAEMON_START: return 0;
    case WM_DESTROY:
      KillTimer(window, kCheckTimer);
      KillTimer(window, kResendTimer);
      while (!g_Transfers.empty()) Forget(window, g_Transfers.size() - 1);
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

const DAEMON_INFO kLightfiles = {"lightfiles", LightfilesWndProc, TRUE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return DaemonWinMain(&kLightfiles, instance, previous, commandLine, show);
}
