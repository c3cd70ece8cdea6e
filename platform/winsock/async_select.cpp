// WSAAsyncSelect: the registered message goes to the registered window with
// wParam = socket and lParam = WSAMAKESELECTREPLY(event, error).
//
// Where the events are watched: each thread of this process that owns
// windows with registrations gets an epoll set of its own, attached to its
// message queue as a message source (qx/message_source.h). The thread's own
// message wait wakes when a socket is ready, turns readiness into messages and
// posts them to itself, so an event costs one thread wake-up. Registrations
// whose window is not one of this process's, or whose thread has no queue (or
// has ended), go to one watcher thread per process that posts the messages.
//
// Winsock's re-enabling rule is kept: once an event is posted it is not
// posted again until the call that re-enables it (recv/recvfrom for FD_READ,
// recv with MSG_OOB for FD_OOB, accept for FD_ACCEPT, a send that would block
// for FD_WRITE); if the condition still holds then, it is posted again at
// once. FD_CONNECT and FD_CLOSE come at most once. A socket whose events are
// all spent is not polled at all, so nothing is level-triggered and the
// watcher never spins. The watcher waits in epoll with one-shot entries: a
// call that re-enables an event re-arms the entry itself, so the watcher
// wakes once per event and not again for the re-enabling.
#include "ws_internal.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace qx::ws {
namespace {

enum class SockKind { Unknown, Idle, Listening, Datagram, Connecting, Connected, Dead };

struct Registration {
  HWND hwnd = nullptr;
  UINT msg = 0;
  long events = 0;  // what the caller asked for
  long armed = 0;   // what may be posted now
  SockKind kind = SockKind::Unknown;
  bool eof = false;  // the peer closed or the connection failed
  bool close_sent = false;
  bool data_unarmed = false;  // data waits but FD_READ is spent: stop polling for input
  bool parked = false;        // polled with nothing to post: wait for a re-enabling call
  bool oobinline = false;
  bool in_epoll = false;
  bool epoll_active = false;      // a one-shot entry that has not fired since it was armed
  std::uint64_t epoll_armed = 0;  // the events and data of that entry (to skip arming it again the same)
  int set_fd = -1;                // the epoll set watching the socket (a thread's or the watcher's)
  std::uint32_t generation = 0;
};

struct Post {
  HWND hwnd;
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
};

struct Registry {
  std::mutex lock;
  std::unordered_map<int, Registration> sockets;
  std::unordered_set<int> connecting;  // connects started without completion seen
  std::uint32_t next_generation = 1;
  int epoll_fd = -1;  // the watcher thread's set
  bool watcher_started = false;
  std::unordered_map<DWORD, int> thread_sets;  // thread id -> its epoll set
};

std::atomic<int> g_registered{0};

Registry &TheRegistry() {
  static Registry *registry = new Registry;  // never destroyed: the watcher outlives statics
  return *registry;
}

SockKind ProbeKind(int fd, const Registry &r) {
  int type = 0, listening = 0;
  socklen_t n = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &n) != 0) return SockKind::Dead;
  if (type != SOCK_STREAM) return SockKind::Datagram;
  n = sizeof listening;
  ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &n);
  if (listening) return SockKind::Listening;
  if (r.connecting.count(fd)) return SockKind::Connecting;
  sockaddr_storage peer{};
  n = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &n) == 0) return SockKind::Connected;
  return SockKind::Idle;  // nothing can happen until listen or connect
}

bool OobInline(int fd) {
  int v = 0;
  socklen_t n = sizeof v;
  return ::getsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &v, &n) == 0 && v;
}

short Interest(const Registration &reg) {
  if (reg.parked) return 0;
  short ev = 0;
  switch (reg.kind) {
    case SockKind::Listening:
      if (reg.armed & kFdAccept) ev |= POLLIN;
      break;
    case SockKind::Datagram:
      if (reg.armed & kFdRead) ev |= POLLIN;
      if (reg.armed & kFdWrite) ev |= POLLOUT;
      break;
    case SockKind::Connecting: ev |= POLLOUT; break;
    case SockKind::Connected:
      if (!reg.eof && !reg.data_unarmed && (reg.armed & (kFdRead | kFdClose))) ev |= POLLIN | POLLRDHUP;
      if (!reg.eof && (reg.armed & kFdOob)) ev |= POLLPRI;
      if (reg.armed & kFdWrite) ev |= POLLOUT;
      break;
    default: break;
  }
  return ev;
}

std::uint32_t EpollEvents(short poll_events) {
  std::uint32_t ev = 0;
  if (poll_events & POLLIN) ev |= EPOLLIN;
  if (poll_events & POLLOUT) ev |= EPOLLOUT;
  if (poll_events & POLLPRI) ev |= EPOLLPRI;
  if (poll_events & POLLRDHUP) ev |= EPOLLRDHUP;
  return ev;
}

short PollEvents(std::uint32_t ev) {
  short out = 0;
  if (ev & EPOLLIN) out |= POLLIN;
  if (ev & EPOLLOUT) out |= POLLOUT;
  if (ev & EPOLLPRI) out |= POLLPRI;
  if (ev & EPOLLRDHUP) out |= POLLRDHUP;
  if (ev & EPOLLHUP) out |= POLLHUP;
  if (ev & EPOLLERR) out |= POLLERR;
  return out;
}

// Puts the socket's one-shot epoll entry in line with what may be posted now;
// called with the lock held whenever a registration changes.
void Rearm(Registry &r, int fd, Registration &reg) {
  const short interest = Interest(reg);
  if (!interest) {
    // A fired one-shot entry is already silent; only a live one is removed.
    if (reg.in_epoll && reg.epoll_active) {
      ::epoll_ctl(reg.set_fd, EPOLL_CTL_DEL, fd, nullptr);
      reg.in_epoll = false;
    }
    reg.epoll_active = false;
    return;
  }
  epoll_event ev{};
  ev.events = EpollEvents(interest) | EPOLLONESHOT;
  ev.data.u64 = (std::uint64_t{reg.generation} << 32) | static_cast<std::uint32_t>(fd);
  // A live entry armed for the same events already reports what this one would
  // (a datagram daemon re-registers after every datagram it reads).
  const std::uint64_t armed = (std::uint64_t{ev.events} << 32) ^ ev.data.u64;
  if (reg.in_epoll && reg.epoll_active && reg.epoll_armed == armed) return;
  reg.epoll_active = true;
  reg.epoll_armed = armed;
  if (reg.in_epoll && ::epoll_ctl(reg.set_fd, EPOLL_CTL_MOD, fd, &ev) == 0) return;
  reg.in_epoll = ::epoll_ctl(reg.set_fd, EPOLL_CTL_ADD, fd, &ev) == 0 ||
                 (errno == EEXIST && ::epoll_ctl(reg.set_fd, EPOLL_CTL_MOD, fd, &ev) == 0);
}

void Forget(Registry &, int fd, Registration &reg) {
  if (reg.in_epoll) ::epoll_ctl(reg.set_fd, EPOLL_CTL_DEL, fd, nullptr);
  reg.in_epoll = reg.epoll_active = false;
}

void Queue(std::vector<Post> &posts, int fd, Registration &reg, long event, int error) {
  reg.armed &= ~event;
  if (!(reg.events & event)) return;
  posts.push_back({reg.hwnd, reg.msg, static_cast<WPARAM>(fd),
                   static_cast<LPARAM>(MAKELONG(static_cast<WORD>(event), static_cast<WORD>(error)))});
}

// Decides what a poll result means for one socket; called with the lock held.
void Evaluate(int fd, Registration &reg, short revents, Registry &r, std::vector<Post> &posts) {
  const size_t before = posts.size();
  bool changed = false;
  switch (reg.kind) {
    case SockKind::Listening:
      if ((revents & POLLIN) && (reg.armed & kFdAccept)) Queue(posts, fd, reg, kFdAccept, 0);
      break;
    case SockKind::Datagram:
      if ((revents & (POLLIN | POLLERR)) && (reg.armed & kFdRead)) Queue(posts, fd, reg, kFdRead, 0);
      if ((revents & POLLOUT) && (reg.armed & kFdWrite)) Queue(posts, fd, reg, kFdWrite, 0);
      break;
    case SockKind::Connecting: {
      if (!(revents & (POLLOUT | POLLERR | POLLHUP))) break;
      int err = 0;
      socklen_t n = sizeof err;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &n);
      r.connecting.erase(fd);
      changed = true;
      if (err == 0) {
        reg.kind = SockKind::Connected;  // FD_WRITE follows on the next round
      } else {
        reg.kind = SockKind::Dead;
        reg.eof = true;
      }
      if (reg.armed & kFdConnect) Queue(posts, fd, reg, kFdConnect, err ? WsaErrorFromErrno(err) : 0);
      break;
    }
    case SockKind::Connected: {
      if ((revents & POLLPRI) && (reg.armed & kFdOob) && !reg.oobinline) Queue(posts, fd, reg, kFdOob, 0);
      if (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR | (reg.oobinline ? POLLPRI : 0))) {
        // Readable without a hang-up means data; otherwise a peek tells data
        // still to be read from the end of the connection.
        char c;
        const bool closing = revents & (POLLRDHUP | POLLHUP | POLLERR);
        const ssize_t got = closing ? ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) : 1;
        if (got > 0 && closing && !(reg.events & kFdRead)) {
          // Unread data never holds back FD_CLOSE from a caller not reading on messages.
          if (!reg.eof) reg.eof = changed = true;
          if (!reg.close_sent && (reg.armed & kFdClose)) {
            reg.close_sent = true;
            Queue(posts, fd, reg, kFdClose, 0);
          }
        } else if (got > 0) {
          // Either way input is not watched again until recv re-enables FD_READ.
          if (reg.armed & kFdRead) Queue(posts, fd, reg, kFdRead, 0);
          if (!reg.data_unarmed) reg.data_unarmed = changed = true;
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          const int err = got == 0 ? 0 : WsaErrorFromErrno(errno);
          if (!reg.eof) reg.eof = changed = true;
          if (!reg.close_sent && (reg.armed & kFdClose)) {
            reg.close_sent = true;
            Queue(posts, fd, reg, kFdClose, err);
          }
          if (err != 0) reg.armed &= ~kFdWrite;  // a reset connection takes no more data
        }
      }
      if ((revents & POLLOUT) && (reg.armed & kFdWrite)) Queue(posts, fd, reg, kFdWrite, 0);
      break;
    }
    default: break;
  }
  // Something was reported that changes nothing: stop polling this socket
  // until a call re-enables it, rather than spinning on a level condition.
  if (posts.size() == before && !changed && revents != 0) reg.parked = true;
}

constexpr int kBatch = 64;

// Turns the events that fired in one set into messages; called with the lock held.
void Harvest(Registry &r, const epoll_event *events, int n, std::vector<Post> &posts) {
  for (int i = 0; i < n; ++i) {
    const int fd = static_cast<int>(events[i].data.u64 & 0xffffffffu);
    const auto generation = static_cast<std::uint32_t>(events[i].data.u64 >> 32);
    auto it = r.sockets.find(fd);
    // A socket closed (and its number perhaps reused) meanwhile is skipped.
    if (it == r.sockets.end() || it->second.generation != generation) continue;
    it->second.epoll_active = false;  // one-shot: it fired
    Evaluate(fd, it->second, PollEvents(events[i].events), r, posts);
    Rearm(r, fd, it->second);
  }
}

void Deliver(const std::vector<Post> &posts) {
  if (!PostMessageA) return;
  for (const Post &p : posts) PostMessageA(p.hwnd, p.msg, p.wparam, p.lparam);
}

void WatcherLoop() {
  Registry &r = TheRegistry();
  epoll_event events[kBatch];
  std::vector<Post> posts;
  for (;;) {
    const int n = ::epoll_wait(r.epoll_fd, events, kBatch, -1);
    if (n <= 0) continue;
    posts.clear();
    {
      std::lock_guard guard(r.lock);
      Harvest(r, events, n, posts);
    }
    Deliver(posts);
  }
}

int WatcherSet(Registry &r) {
  if (!r.watcher_started) {
    r.epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
    std::thread(WatcherLoop).detach();
    r.watcher_started = true;
  }
  return r.epoll_fd;
}

// The pump of a thread's set: runs on that thread from its message wait.
void PumpThreadSet(int set_fd) {
  Registry &r = TheRegistry();
  epoll_event events[kBatch];
  std::vector<Post> posts;
  {
    std::lock_guard guard(r.lock);
    const int n = ::epoll_wait(set_fd, events, kBatch, 0);
    if (n <= 0) return;
    Harvest(r, events, n, posts);
  }
  Deliver(posts);
}

// A thread's queue ended: its registrations move to the watcher (their
// windows are gone with the thread, so their posts fail quietly there).
void ThreadSetEnded(int set_fd) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  for (auto it = r.thread_sets.begin(); it != r.thread_sets.end();) {
    if (it->second == set_fd)
      it = r.thread_sets.erase(it);
    else
      ++it;
  }
  for (auto &[fd, reg] : r.sockets) {
    if (reg.set_fd != set_fd) continue;
    Forget(r, fd, reg);
    reg.set_fd = WatcherSet(r);
    Rearm(r, fd, reg);
  }
  ::close(set_fd);
}

// The set that watches sockets registered for hwnd: the epoll set of the
// window's thread when the window is this process's and its thread has a
// message queue, else the watcher's. Called with the lock held.
int SetFor(Registry &r, HWND hwnd) {
  DWORD pid = 0;
  const DWORD tid = (GetWindowThreadProcessId && AttachMessageSource) ? GetWindowThreadProcessId(hwnd, &pid) : 0;
  if (tid == 0 || pid != static_cast<DWORD>(::getpid())) return WatcherSet(r);
  if (auto it = r.thread_sets.find(tid); it != r.thread_sets.end()) return it->second;
  const int set_fd = ::epoll_create1(EPOLL_CLOEXEC);
  if (set_fd < 0) return WatcherSet(r);
  if (!AttachMessageSource(tid, MessageSource{set_fd, PumpThreadSet, ThreadSetEnded})) {
    ::close(set_fd);
    return WatcherSet(r);
  }
  r.thread_sets.emplace(tid, set_fd);
  return set_fd;
}

}  // namespace

void Reenable(int fd, long events) {
  if (g_registered.load(std::memory_order_acquire) == 0) return;
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.sockets.find(fd);
  if (it == r.sockets.end()) return;
  Registration &reg = it->second;
  const long armed = reg.armed | (events & reg.events & ~(kFdClose | kFdConnect));
  const bool data_unarmed = (events & kFdRead) ? false : reg.data_unarmed;
  if (armed == reg.armed && data_unarmed == reg.data_unarmed && !reg.parked) return;  // nothing changes
  reg.armed = armed;
  reg.data_unarmed = data_unarmed;
  reg.parked = false;
  Rearm(r, fd, reg);
}

void NoteStateChange(int fd, bool connecting) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (connecting)
    r.connecting.insert(fd);
  else
    r.connecting.erase(fd);
  auto it = r.sockets.find(fd);
  if (it == r.sockets.end()) return;
  it->second.kind = ProbeKind(fd, r);
  it->second.parked = false;
  Rearm(r, fd, it->second);
}

void ForgetSocket(int fd) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  r.connecting.erase(fd);
  auto it = r.sockets.find(fd);
  if (it == r.sockets.end()) return;
  Forget(r, fd, it->second);
  r.sockets.erase(it);
  g_registered.fetch_sub(1, std::memory_order_release);
}

void ForgetAllRegistrations() {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  for (auto &[fd, reg] : r.sockets) Forget(r, fd, reg);
  g_registered.fetch_sub(static_cast<int>(r.sockets.size()), std::memory_order_release);
  r.sockets.clear();
  r.connecting.clear();
}

bool RegistrationOf(int fd, HWND &hwnd, UINT &msg, long &events) {
  if (g_registered.load(std::memory_order_acquire) == 0) return false;
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.sockets.find(fd);
  if (it == r.sockets.end()) return false;
  hwnd = it->second.hwnd;
  msg = it->second.msg;
  events = it->second.events;
  return true;
}

bool HasRegistration(int fd) {
  HWND h;
  UINT m;
  long e;
  return RegistrationOf(fd, h, m, e);
}

int Register(int fd, HWND hwnd, UINT msg, long events) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.sockets.find(fd);
  // The same window again (a daemon re-arms after every datagram it reads):
  // the socket is already non-blocking and keeps its set and, for a datagram
  // socket, its kind; nothing of it is asked of the system again.
  const bool again = it != r.sockets.end() && it->second.hwnd == hwnd && it->second.set_fd >= 0 && events != 0;
  if (!again) {
    // WSAAsyncSelect makes the socket non-blocking, also when it cancels.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (!(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)) return FailErrno(errno);
  }
  if (events == 0) {  // cancels
    if (it != r.sockets.end()) {
      Forget(r, fd, it->second);
      r.sockets.erase(it);
      g_registered.fetch_sub(1, std::memory_order_release);
    }
    return 0;
  }
  const int set_fd = again ? it->second.set_fd : SetFor(r, hwnd);
  if (it == r.sockets.end()) {
    it = r.sockets.emplace(fd, Registration{}).first;
    g_registered.fetch_add(1, std::memory_order_release);
  }
  Registration &reg = it->second;
  if (reg.set_fd != set_fd) Forget(r, fd, reg);  // moves to another thread's set
  const bool close_sent = reg.close_sent;        // FD_CLOSE is told once per socket
  const bool eof = reg.eof;
  const SockKind kind = reg.kind;
  const bool in_epoll = reg.in_epoll, epoll_active = reg.epoll_active;
  const std::uint64_t epoll_armed = reg.epoll_armed;
  const std::uint32_t generation = reg.generation;
  reg = Registration{};
  reg.in_epoll = in_epoll;
  reg.epoll_active = epoll_active;
  reg.epoll_armed = epoll_armed;
  reg.set_fd = set_fd;
  reg.hwnd = hwnd;
  reg.msg = msg;
  reg.events = events & kFdAll;
  reg.close_sent = close_sent;
  reg.eof = eof;
  reg.armed = reg.events & ~(close_sent ? static_cast<long>(kFdClose) : 0L);
  reg.kind = (kind == SockKind::Dead || (again && kind == SockKind::Datagram)) ? kind : ProbeKind(fd, r);
  reg.oobinline = reg.kind != SockKind::Datagram && OobInline(fd);  // out-of-band data is a stream's
  // A socket registered again keeps its generation: its entry's events are its own.
  reg.generation = again && generation ? generation : r.next_generation++;
  Rearm(r, fd, reg);
  return 0;
}

}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

WINBASEAPI int WINAPI WSAAsyncSelect(SOCKET s, HWND hwnd, UINT msg, long events) {
  if (!CheckStarted()) return kSocketError;
  const int fd = s > 0x7fffffffu ? -1 : static_cast<int>(s);
  // A socket registered already needs no look at its descriptor.
  if (!HasRegistration(fd) && !IsSocket(fd)) return Fail(kWSAENOTSOCK);
  if ((events & ~kFdAll) != 0) return Fail(kWSAEINVAL);
  if (events != 0 && (hwnd == nullptr || (IsWindow && !IsWindow(hwnd)))) return Fail(kWSAEINVAL);
  return Register(fd, hwnd, msg, events);
}

}  // extern "C"
