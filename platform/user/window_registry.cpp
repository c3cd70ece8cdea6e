// Windows across processes of the same user.
//
// Every window gets an HWND value unique on the machine while it lives: a
// random 31-bit value claimed by creating RuntimeDir()/hwnd/<value> with
// link() (atomic and exclusive). The record holds the owner's pid, thread id
// and start time, the class name and the title, which is what IsWindow,
// FindWindowA, GetWindowTextA and EnumWindows read for other processes. A
// record whose process has ended (or whose pid now belongs to another
// process, told apart by the start time) is stale and is removed on sight.
//
// Each process with windows has one message endpoint, an AF_UNIX datagram
// socket at RuntimeDir()/msg/<pid> with SO_PASSCRED. PostMessageA to another
// process's window sends {hwnd, msg, wParam, lParam} there; the receiver
// checks the sender's uid (from the kernel, not from the datagram), and
// queues the message on the thread that owns the window, naming the sending
// pid. Only numbers cross: messages whose parameters point into the sender's
// memory are refused.
//
// Receiving: every thread with windows watches the endpoint in its message
// waits (qx/message_source.h), so a message usually wakes only the thread it
// is for. A receiving thread of the process delivers, a moment later, what no
// waiting thread took (their threads are busy elsewhere), so the endpoint
// never stays full. That thread is started by the first post another process
// makes to this one: most processes with windows (a daemon serving one
// connection) are never posted to, and a thread start is a good part of
// such a process's life. Reading and queueing happen under one lock, which
// keeps the messages of one sender in order.
//
// Sending: a post remembers what it looked up about the target window (its
// process and a socket connected to that process's endpoint). The next post
// to that window trusts it while the record file under the window's value is
// the one read (same inode and change time: a destroyed window's record is
// removed, a changed one replaced); otherwise it looks the window up again. A
// process that has ended refuses the connected socket's datagrams even when
// its record was left behind, and the post fails as for a destroyed window.
#include <windows.h>

#include "qx/env.h"
#include "qx/unixsock.h"
#include "user_internal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <system_error>
#include <unordered_map>
#include <thread>
#include <unistd.h>

namespace qx {
namespace {

constexpr size_t kMaxRecord = 4096;
constexpr size_t kMaxTitle = 1024;  // title kept in the record (the window keeps all of it)
constexpr size_t kMaxClass = 256;
constexpr std::uint32_t kMagic = 0x51584D31;  // "QXM1"

struct Wire {
  std::uint32_t magic;
  std::uint32_t hwnd;
  std::uint32_t msg;
  std::uint32_t pad;
  std::uint64_t wparam;
  std::int64_t lparam;
};

// Never destroyed: the exit handler that removes our records still needs it.
const std::string &HwndDir() {
  static const std::string *dir = [] {
    auto *d = new std::string(RuntimeDir() + "/hwnd");
    EnsurePrivateDir(*d);
    return d;
  }();
  return *dir;
}

// Never destroyed: the exit handler that removes our records still needs it.
const std::string &MsgDir() {
  static const std::string *dir = [] {
    auto *d = new std::string(RuntimeDir() + "/msg");
    EnsurePrivateDir(*d);
    return d;
  }();
  return *dir;
}

std::string RecordPath(HWND hwnd) {
  char name[16];
  std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(QX_HANDLE_VALUE(hwnd)));
  return HwndDir() + "/" + name;
}

// Process start time (clock ticks since boot), field 22 of /proc/<pid>/stat;
// 0 when the process does not exist.
unsigned long long StartTime(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return 0;
  buf[n] = '\0';
  const char *p = std::strrchr(buf, ')');
  if (!p) return 0;
  // After ')': state is field 3; the start time is field 22.
  int field = 2;
  for (; *p && field < 22; ++p)
    if (*p == ' ') ++field;
  return std::strtoull(p, nullptr, 10);
}

unsigned long long SelfStart() {
  static const unsigned long long start = StartTime(getpid());
  return start;
}

std::string Serialise(const Window &w) {
  std::string cls = w.cls ? w.cls->name.substr(0, kMaxClass) : "";
  std::string title = w.title.substr(0, kMaxTitle);
  char head[160];
  std::snprintf(head, sizeof head, "qxwnd1 %d %u %llu %d %d %zu %zu\n", static_cast<int>(getpid()),
                static_cast<unsigned>(w.tid), SelfStart(), w.parent ? 0 : 1, w.message_only ? 1 : 0, cls.size(),
                title.size());
  return head + cls + title;
}

bool Parse(const std::string &data, RemoteWindow &out, unsigned long long &start) {
  int pid, top, msg_only;
  unsigned tid;
  size_t cls_len, title_len;
  int used = 0;
  if (std::sscanf(data.c_str(), "qxwnd1 %d %u %llu %d %d %zu %zu\n%n", &pid, &tid, &start, &top, &msg_only, &cls_len,
                  &title_len, &used) != 7 ||
      used <= 0)
    return false;
  if (cls_len > kMaxClass || title_len > kMaxTitle || static_cast<size_t>(used) + cls_len + title_len != data.size())
    return false;
  out.pid = pid;
  out.tid = tid;
  out.top_level = top != 0;
  out.message_only = msg_only != 0;
  out.class_name = data.substr(static_cast<size_t>(used), cls_len);
  out.title = data.substr(static_cast<size_t>(used) + cls_len, title_len);
  return true;
}

bool ReadRecord(const std::string &path, std::string &data, struct stat *file = nullptr) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  if (file && fstat(fd, file) != 0) {
    close(fd);
    return false;
  }
  data.resize(kMaxRecord + 1);
  ssize_t n = read(fd, data.data(), data.size());
  close(fd);
  if (n <= 0 || static_cast<size_t>(n) > kMaxRecord) return false;
  data.resize(static_cast<size_t>(n));
  return true;
}

bool WriteTemp(const std::string &data, std::string &tmp) {
  static std::atomic<unsigned> counter{0};
  tmp = HwndDir() + "/.tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  close(fd);
  if (!ok) unlink(tmp.c_str());
  return ok;
}

bool Alive(const RemoteWindow &r, unsigned long long start) {
  return r.pid > 0 && StartTime(r.pid) == start && start != 0;
}

// Reads and checks a record; removes it when its process is gone. The record
// file's status and the process's start time go to file and start_out.
bool ReadLive(HWND, const std::string &path, RemoteWindow &out, struct stat *file = nullptr,
              unsigned long long *start_out = nullptr) {
  std::string data;
  unsigned long long start = 0;
  if (!ReadRecord(path, data, file) || !Parse(data, out, start)) return false;
  if (start_out) *start_out = start;
  if (!Alive(out, start)) {
    unlink(path.c_str());
    return false;
  }
  return true;
}

std::mutex g_own_lock;
std::vector<HWND> &OwnValues() {
  static auto *v = new std::vector<HWND>;
  return *v;
}

void RemoveOwnFiles() {
  std::lock_guard guard(g_own_lock);
  for (HWND h : OwnValues()) unlink(RecordPath(h).c_str());
  unlink((MsgDir() + "/" + std::to_string(getpid())).c_str());
}

// Messages whose parameters are pointers into the sender's memory: they
// cannot be posted to another process.
bool CarriesPointer(UINT msg) {
  switch (msg) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETMINMAXINFO:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_DELETEITEM:
    case WM_COMPAREITEM:
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
    case WM_COPYDATA:
    case WM_NCCALCSIZE:
    case WM_NOTIFY:
    case WM_HELP:
    case WM_MDICREATE:
    case WM_WININICHANGE:
    case WM_DEVMODECHANGE: return true;
    default: return false;
  }
}

int SenderSocket() {
  static int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd;
}

// Reading the endpoint and queueing what it holds: one reader at a time.
std::mutex g_receive_lock;
// Threads whose message waits watch the endpoint.
std::atomic<int> g_endpoint_watchers{0};
std::atomic<int> g_endpoint_fd{-1};
// The user the endpoint was made for: its socket file is that user's (mode
// 0600), and only that user's messages are taken.
uid_t g_endpoint_uid = 0;
// How long the receiving thread leaves a message to the waiting threads.
constexpr int kBackstopMs = 2;

// Takes up to `limit` datagrams the endpoint holds (it is non-blocking) and
// queues them; the number read.
int Receive(int fd, int limit) {
  std::lock_guard guard(g_receive_lock);
  int taken = 0;
  for (; taken < limit; ++taken) {
    Wire wire{};
    iovec iov{&wire, sizeof wire};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return taken;
    }
    const ucred *cred = nullptr;
    for (cmsghdr *cm = CMSG_FIRSTHDR(&msg); cm; cm = CMSG_NXTHDR(&msg, cm))
      if (cm->cmsg_level == SOL_SOCKET && cm->cmsg_type == SCM_CREDENTIALS)
        cred = reinterpret_cast<const ucred *>(CMSG_DATA(cm));
    // Only whole records from the same user are taken; anything else is dropped.
    if (!cred || cred->uid != g_endpoint_uid || n != static_cast<ssize_t>(sizeof wire) || (msg.msg_flags & MSG_TRUNC) ||
        wire.magic != kMagic || CarriesPointer(wire.msg)) {
      Trace("message endpoint: dropped a datagram (%zd bytes)", n);
      continue;
    }
    HWND hwnd = QX_HANDLE_FROM(HWND, wire.hwnd);
    if (!FindLocalWindow(hwnd)) continue;  // destroyed meanwhile
    if (wire.msg == kActivationRequest) {
      DeliverActivationRequest(hwnd, static_cast<WPARAM>(wire.wparam));
      continue;
    }
    PostFromProcess(hwnd, wire.msg, static_cast<WPARAM>(wire.wparam), static_cast<LPARAM>(wire.lparam), cred->pid);
  }
  return taken;
}

// The receiving thread: delivers what the threads watching the endpoint leave.
void ReceiveLoop(int fd) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) <= 0) continue;
    if (g_endpoint_watchers.load(std::memory_order_relaxed) > 0) poll(nullptr, 0, kBackstopMs);
    Receive(fd, INT_MAX);
  }
}

// Starts the receiving thread once; a start that fails (no thread to be had
// now) is tried again at the next post that arrives.
std::atomic<bool> g_receiver_started{false};
std::mutex g_receiver_lock;
void StartReceiver(int fd) {
  if (g_receiver_started.load(std::memory_order_acquire)) return;
  std::lock_guard guard(g_receiver_lock);
  if (g_receiver_started.load(std::memory_order_relaxed)) return;
  try {
    std::thread([fd] { ReceiveLoop(fd); }).detach();
    g_receiver_started.store(true, std::memory_order_release);
  } catch (const std::system_error &) {
    Trace("message endpoint: receiving thread not started (%s)", std::strerror(errno));
  }
}

// A waiting thread's pump takes one message; its wait comes back at once
// for the next one, if any, after the queue has been looked at. The first
// post taken starts the receiving thread.
void ReceiveOne(int fd) {
  if (Receive(fd, 1) > 0) StartReceiver(fd);
}

void EndpointUnwatched(int) { g_endpoint_watchers.fetch_sub(1, std::memory_order_relaxed); }

// ---- the remembered targets of posts ----

// A socket connected to another process's endpoint: once that process has
// ended (or exec'd, or replaced its endpoint), sending on it is refused, even
// if its pid has been given out again.
struct PeerProcess {
  int sock = -1;
};

struct PostTarget {
  pid_t pid = 0;
  dev_t dev = 0;  // the record file read
  ino_t ino = 0;
  struct timespec ctime {};
};

constexpr size_t kMaxTargets = 64;
constexpr size_t kMaxPeers = 8;
constexpr int kFullWaitMs = 500;  // longest a post waits for room at a full endpoint

std::mutex g_post_lock;
std::unordered_map<std::uint32_t, PostTarget> g_targets;  // by window value
std::unordered_map<pid_t, PeerProcess> g_peers;

void ForgetPeer(pid_t pid) {
  auto it = g_peers.find(pid);
  if (it == g_peers.end()) return;
  close(it->second.sock);
  g_peers.erase(it);
  std::erase_if(g_targets, [pid](const auto &t) { return t.second.pid == pid; });
}

void ForgetAllPeers() {
  while (!g_peers.empty()) ForgetPeer(g_peers.begin()->first);
  g_targets.clear();
}

// The status of a window's record, looked up from a descriptor of the
// records' directory kept open (a shorter walk than the full path).
bool StatRecord(HWND hwnd, struct stat &st) {
  static const int dir_fd = open(HwndDir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  char name[16];
  std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(QX_HANDLE_VALUE(hwnd)));
  if (dir_fd < 0) return stat(RecordPath(hwnd).c_str(), &st) == 0;
  return fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool SameFile(const PostTarget &t, const struct stat &st) {
  return t.dev == st.st_dev && t.ino == st.st_ino && t.ctime.tv_sec == st.st_ctim.tv_sec &&
         t.ctime.tv_nsec == st.st_ctim.tv_nsec;
}

// The peer of a remembered target that still holds; called with g_post_lock.
PeerProcess *RememberedPeer(HWND hwnd) {
  auto it = g_targets.find(QX_HANDLE_VALUE(hwnd));
  if (it == g_targets.end()) return nullptr;
  struct stat st {};
  auto peer = g_peers.find(it->second.pid);
  if (peer == g_peers.end() || !StatRecord(hwnd, st) || !SameFile(it->second, st)) {
    g_targets.erase(it);
    return nullptr;
  }
  return &peer->second;
}

// Looks the window up and remembers it; called with g_post_lock. Null when
// the window is not another process's, with the last error set, or (with
// `uncached` filled) when it cannot be remembered.
PeerProcess *LookUpPeer(HWND hwnd, RemoteWindow &uncached, bool &found) {
  found = false;
  std::uint32_t v = QX_HANDLE_VALUE(hwnd);
  if (v < 0x20000u || v > 0x7FFFFFFFu || reinterpret_cast<UINT_PTR>(hwnd) != v) return nullptr;
  struct stat st {};
  unsigned long long start = 0;
  if (!ReadLive(hwnd, RecordPath(hwnd), uncached, &st, &start) || uncached.pid == getpid()) return nullptr;
  found = true;
  const pid_t pid = uncached.pid;
  auto peer = g_peers.find(pid);
  if (peer == g_peers.end()) {
    if (g_peers.size() >= kMaxPeers) ForgetAllPeers();
    PeerProcess made;
    sockaddr_un addr;
    socklen_t len = RuntimeSocketAddress(MsgDir(), std::to_string(pid), addr);
    made.sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (!len || made.sock < 0 || connect(made.sock, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
      if (made.sock >= 0) close(made.sock);
      return nullptr;
    }
    // Connected to the process the record names only if that process still
    // has the record's start time now that the connection is made.
    if (StartTime(pid) != start) {
      close(made.sock);
      return nullptr;
    }
    peer = g_peers.emplace(pid, made).first;
  }
  if (g_targets.size() >= kMaxTargets) g_targets.clear();
  g_targets[v] = PostTarget{pid, st.st_dev, st.st_ino, st.st_ctim};
  return &peer->second;
}

// Sends one message through a remembered peer; called with g_post_lock. A
// full endpoint empties within moments while its process runs (its receiving
// thread takes what its windows' threads leave): the post waits that long for
// room before it fails.
bool SendToPeer(pid_t pid, PeerProcess &peer, const Wire &wire) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (send(peer.sock, &wire, sizeof wire, MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof wire))
      return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    const DWORD waited = GetTickCount() - start;
    if (waited >= static_cast<DWORD>(kFullWaitMs)) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    pollfd p{peer.sock, POLLOUT, 0};
    poll(&p, 1, kFullWaitMs - static_cast<int>(waited));
  }
  ForgetPeer(pid);  // the endpoint is gone: so is the process with its windows
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}

// PostMessageA to a window that is not this process's.
BOOL PostToOtherProcess(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (CarriesPointer(msg)) {
    // Refused as before, whatever the window.
    RemoteWindow r;
    if (!LookupRemoteWindow(hwnd, r)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
    return SetLastError(ERROR_MESSAGE_SYNC_ONLY), FALSE;
  }
  Wire wire{
      kMagic, QX_HANDLE_VALUE(hwnd), msg, 0, static_cast<std::uint64_t>(wparam), static_cast<std::int64_t>(lparam)};
  std::lock_guard guard(g_post_lock);
  if (auto it = g_targets.find(QX_HANDLE_VALUE(hwnd)); it != g_targets.end()) {
    const pid_t pid = it->second.pid;
    if (PeerProcess *peer = RememberedPeer(hwnd)) return SendToPeer(pid, *peer, wire) ? TRUE : FALSE;
  }
  RemoteWindow r;
  bool found = false;
  PeerProcess *peer = LookUpPeer(hwnd, r, found);
  if (!found) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
  if (!peer) return PostRemote(hwnd, r, msg, wparam, lparam) ? TRUE : FALSE;
  return SendToPeer(r.pid, *peer, wire) ? TRUE : FALSE;
}

}  // namespace

// Without a usable runtime directory windows still work inside the process:
// they get values below the shared range, which no other process looks up.
HWND LocalOnlyValue() {
  static std::atomic<std::uint32_t> next{0x10100};
  std::uint32_t v = next++;
  if (v >= 0x20000u) return nullptr;
  static bool told =
      (Trace("window registry unusable under %s: windows are local to this process", RuntimeDir().c_str()), true);
  (void)told;
  return QX_HANDLE_FROM(HWND, v);
}

// Links the written record under a free random value; link() is atomic and
// exclusive. Null when no value could be claimed; errno tells why.
template <typename LinkTo>
HWND ClaimValue(LinkTo link_to) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::uint32_t r = 0;
    if (getrandom(&r, sizeof r, 0) != static_cast<ssize_t>(sizeof r)) return nullptr;
    // 0x20000..0x7FFFFFFF: positive, above the small values of the layer's
    // special windows, and never the broadcast or message-only values.
    std::uint32_t value = 0x20000u + r % (0x7FFFFFFFu - 0x20000u);
    HWND candidate = QX_HANDLE_FROM(HWND, value);
    std::string path = RecordPath(candidate);
    if (link_to(path)) return candidate;
    if (errno != EEXIST) return nullptr;
    RemoteWindow old;
    ReadLive(candidate, path, old);  // removes the record if it is stale, for next time
  }
  errno = EEXIST;
  return nullptr;
}

// The record written to an unnamed file and then linked: one file creation
// instead of a temporary name made and removed per window. False (with
// nothing claimed) where the file system or /proc cannot do it.
bool ClaimUnnamed(const std::string &data, HWND &result) {
  const int fd = open(HwndDir().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool usable = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  if (usable) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    result = ClaimValue([&](const std::string &path) {
      if (linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
      if (errno != EEXIST) usable = false;
      return false;
    });
  }
  close(fd);
  return usable;
}

HWND RegisterWindowValue(const Window &w) {
  std::string data = Serialise(w);
  HWND result = nullptr;
  if (!ClaimUnnamed(data, result)) {
    std::string tmp;
    if (!WriteTemp(data, tmp)) return LocalOnlyValue();
    result = ClaimValue([&](const std::string &path) { return link(tmp.c_str(), path.c_str()) == 0; });
    unlink(tmp.c_str());
  }
  if (result) {
    static bool hooked = (std::atexit(RemoveOwnFiles), true);
    (void)hooked;
    std::lock_guard guard(g_own_lock);
    OwnValues().push_back(result);
  }
  return result;
}

void UpdateWindowRecord(const Window &w) {
  std::string tmp;
  if (!WriteTemp(Serialise(w), tmp)) return;
  if (rename(tmp.c_str(), RecordPath(w.hwnd).c_str()) != 0) unlink(tmp.c_str());
}

void UnregisterWindowValue(HWND hwnd) {
  unlink(RecordPath(hwnd).c_str());
  std::lock_guard guard(g_own_lock);
  std::erase(OwnValues(), hwnd);
}

bool LookupRemoteWindow(HWND hwnd, RemoteWindow &out) {
  std::uint32_t v = QX_HANDLE_VALUE(hwnd);
  if (v < 0x20000u || v > 0x7FFFFFFFu || reinterpret_cast<UINT_PTR>(hwnd) != v) return false;
  if (!ReadLive(hwnd, RecordPath(hwnd), out)) return false;
  return out.pid != getpid();  // our own windows are known locally, live or not
}

std::vector<std::pair<HWND, RemoteWindow>> RemoteWindows() {
  std::vector<std::pair<HWND, RemoteWindow>> out;
  DIR *d = opendir(HwndDir().c_str());
  if (!d) return out;
  std::vector<std::string> names;
  while (dirent *e = readdir(d))
    if (e->d_name[0] != '.' && std::strlen(e->d_name) == 8) names.emplace_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const auto &name : names) {
    char *end = nullptr;
    unsigned long v = std::strtoul(name.c_str(), &end, 16);
    if (!end || *end) continue;
    HWND h = QX_HANDLE_FROM(HWND, v);
    RemoteWindow r;
    if (LookupRemoteWindow(h, r)) out.emplace_back(h, std::move(r));
  }
  return out;
}

bool PostRemote(HWND hwnd, const RemoteWindow &w, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (CarriesPointer(msg)) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return false;
  }
  sockaddr_un addr;
  socklen_t len = RuntimeSocketAddress(MsgDir(), std::to_string(w.pid), addr);
  int fd = SenderSocket();
  if (!len || fd < 0) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return false;
  }
  Wire wire{
      kMagic, QX_HANDLE_VALUE(hwnd), msg, 0, static_cast<std::uint64_t>(wparam), static_cast<std::int64_t>(lparam)};
  if (sendto(fd, &wire, sizeof wire, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&addr), len) ==
      static_cast<ssize_t>(sizeof wire))
    return true;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
  } else {
    // No endpoint: the process has ended (or never had windows); the window is gone.
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  }
  return false;
}

void EnsureMessageEndpoint() {
  static std::once_flag once;
  std::call_once(once, [] {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    g_endpoint_uid = getuid();
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    sockaddr_un addr;
    std::string name = std::to_string(getpid());
    socklen_t len = RuntimeSocketAddress(MsgDir(), name, addr);
    unlink((MsgDir() + "/" + name).c_str());  // left by an ended process with our pid
    if (!len || bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
      Trace("message endpoint: cannot bind (%s)", std::strerror(errno));
      close(fd);
      return;
    }
    chmod((MsgDir() + "/" + name).c_str(), 0600);
    SetFdFlags(fd, true);
    g_endpoint_fd.store(fd);
  });
  // The calling thread makes windows: its message waits watch the endpoint.
  thread_local bool watching = false;
  const int fd = g_endpoint_fd.load();
  if (watching || fd < 0) return;
  if (AttachMessageSource(GetCurrentThreadId(), MessageSource{fd, ReceiveOne, EndpointUnwatched})) {
    watching = true;
    g_endpoint_watchers.fetch_add(1, std::memory_order_relaxed);
  }
}

bool PostFromProcess(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, pid_t sender) {
  auto w = FindLocalWindow(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  DWORD tid;
  {
    std::lock_guard guard(WindowLock());
    tid = w->tid;
  }
  auto q = QueueOfThread(tid);
  if (!q) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return PostToQueue(*q, hwnd, msg, wparam, lparam, sender);
}

}  // namespace qx

using namespace qx;

namespace {
// This process's id, named on every local post: kept, and taken afresh in a
// child of fork.
pid_t g_self_pid = 0;
void ForgetPidInChild() { g_self_pid = 0; }
pid_t SelfPid() {
  if (g_self_pid == 0) {
    static const bool hooked = (pthread_atfork(nullptr, nullptr, ForgetPidInChild), true);
    (void)hooked;
    g_self_pid = getpid();
  }
  return g_self_pid;
}
}  // namespace

extern "C" {

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (!hwnd) return PostToQueue(*CurrentQueue(), nullptr, msg, wparam, lparam, SelfPid()) ? TRUE : FALSE;
  if (hwnd == HWND_BROADCAST) {
    for (const auto &w : LocalWindows())
      if (!w->parent && !w->message_only) PostFromProcess(w->hwnd, msg, wparam, lparam, SelfPid());
    if (!CarriesPointer(msg))
      for (auto &[h, r] : RemoteWindows())
        if (r.top_level && !r.message_only) PostRemote(h, r, msg, wparam, lparam);
    return TRUE;
  }
  if (FindLocalWindow(hwnd)) return PostFromProcess(hwnd, msg, wparam, lparam, SelfPid()) ? TRUE : FALSE;
  return PostToOtherProcess(hwnd, msg, wparam, lparam);
}

}  // extern "C"
