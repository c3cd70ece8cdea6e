// Events, mutexes and semaphores on eventfd descriptors, so that every one of
// them can be waited with poll() together with sockets and message queues.
//
// Named objects are shared between processes of the same user: the process
// that creates a name serves the object's eventfd on an AF_UNIX socket under
// RuntimeDir()/obj, and a process that opens the name receives the same
// eventfd (SCM_RIGHTS), so a SetEvent in one process wakes a waiter in another.
// The signal state lives in the eventfd counter itself (signalled while it is
// non-zero), which is what makes the sharing exact for events.
#include <windows.h>

#include "qx/env.h"
#include "qx/sync.h"
#include "qx/unixsock.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qx {
namespace {

DWORD CurrentTid() { return static_cast<DWORD>(syscall(SYS_gettid)); }

bool FdReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

bool FdTake(int fd) {  // takes the whole counter (or one unit of a semaphore fd)
  std::uint64_t v;
  return read(fd, &v, sizeof v) == static_cast<ssize_t>(sizeof v);
}

void FdAdd(int fd, std::uint64_t n) {
  ssize_t r = write(fd, &n, sizeof n);
  (void)r;  // an eventfd write fails only on counter overflow, which callers bound
}

// Kinds as they travel between processes.
enum NamedKind : std::uint8_t { kNamedEvent = 1, kNamedMutex = 2, kNamedSemaphore = 3 };

class FdObject : public UndoableObject {
 public:
  FdObject(ObjectKind kind, int fd) : UndoableObject(kind), fd_(fd) {}
  ~FdObject() override;
  int WaitFd() const override { return fd_; }
  int fd() const { return fd_; }
  std::string published_path;  // set when this process serves the name

 protected:
  int fd_;
};

// ---- named object server --------------------------------------------------

struct Published {
  int listen_fd;
  int object_fd;
  std::uint8_t kind, flags;
  std::string name, path;
};

class NameServer {
 public:
  static NameServer &Get() {
    static NameServer *s = new NameServer;  // lives for the process
    return *s;
  }
  void Add(Published p) {
    std::lock_guard guard(lock_);
    entries_.push_back(std::move(p));
    Start();
    FdAdd(wake_fd_, 1);
  }
  void Remove(int object_fd) {
    std::lock_guard guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->object_fd != object_fd) continue;
      unlink(it->path.c_str());
      close(it->listen_fd);
      entries_.erase(it);
      FdAdd(wake_fd_, 1);
      return;
    }
  }

 private:
  NameServer() { wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
  void Start() {
    if (started_) return;
    started_ = true;
    std::thread([this] { Run(); }).detach();
  }
  void Run() {
    for (;;) {
      std::vector<pollfd> fds{{wake_fd_, POLLIN, 0}};
      {
        std::lock_guard guard(lock_);
        for (const auto &e : entries_) fds.push_back({e.listen_fd, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents) FdTake(wake_fd_);
      for (size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents & POLLIN) Serve(fds[i].fd);
    }
  }
  void Serve(int listen_fd) {
    // Look the descriptor up before accepting: it may have been closed (and
    // its number reused by the program) since poll() reported it.
    std::lock_guard guard(lock_);
    const Published *e = nullptr;
    for (const auto &p : entries_)
      if (p.listen_fd == listen_fd) e = &p;
    if (!e) return;
    int c = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);  // non-blocking listener
    if (c < 0) return;
    ucred cred{};
    socklen_t len = sizeof cred;
    // Only the same user may share an object (the directory is owner-only too).
    if (e && getsockopt(c, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid()) {
      std::string payload(1, static_cast<char>(e->kind));
      payload += static_cast<char>(e->flags);
      payload += e->name;
      iovec iov{payload.data(), payload.size()};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
      msghdr msg{};
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr *cm = CMSG_FIRSTHDR(&msg);
      cm->cmsg_level = SOL_SOCKET;
      cm->cmsg_type = SCM_RIGHTS;
      cm->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(cm), &e->object_fd, sizeof(int));
      sendmsg(c, &msg, MSG_NOSIGNAL);
    }
    close(c);
  }

  std::mutex lock_;
  std::vector<Published> entries_;
  int wake_fd_ = -1;
  bool started_ = false;
};

FdObject::~FdObject() {
  if (!published_path.empty()) NameServer::Get().Remove(fd_);
  close(fd_);
}

std::string ObjectDir() {
  std::string dir = RuntimeDir() + "/obj";
  EnsurePrivateDir(dir);
  return dir;
}

// Serialises create/open of names between processes.
class NameLock {
 public:
  NameLock() {
    fd_ = open((ObjectDir() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~NameLock() {
    if (fd_ >= 0) close(fd_);
  }

 private:
  int fd_;
};

struct Received {
  int fd = -1;
  std::uint8_t kind = 0, flags = 0;
};

// Asks the serving process for the object; false when nobody serves the name.
bool FetchNamed(const std::string &name, Received &out) {
  sockaddr_un addr;
  socklen_t alen = RuntimeSocketAddress(ObjectDir(), HashName(name), addr);
  if (!alen) return false;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  bool ok = false;
  if (connect(s, reinterpret_cast<sockaddr *>(&addr), alen) == 0) {
    char buf[2 + MAX_PATH + 8];
    iovec iov{buf, sizeof buf};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    pollfd p{s, POLLIN, 0};
    ssize_t n = poll(&p, 1, 2000) == 1 ? recvmsg(s, &msg, MSG_CMSG_CLOEXEC) : -1;
    int fd = -1;
    for (cmsghdr *cm = n > 0 ? CMSG_FIRSTHDR(&msg) : nullptr; cm; cm = CMSG_NXTHDR(&msg, cm))
      if (cm->cmsg_level == SOL_SOCKET && cm->cmsg_type == SCM_RIGHTS) std::memcpy(&fd, CMSG_DATA(cm), sizeof fd);
    // A different name with the same hash is not ours.
    if (fd >= 0 && n >= 2 && std::string(buf + 2, static_cast<size_t>(n) - 2) == name) {
      out.fd = fd;
      out.kind = static_cast<std::uint8_t>(buf[0]);
      out.flags = static_cast<std::uint8_t>(buf[1]);
      ok = true;
    } else if (fd >= 0) {
      close(fd);
    }
  }
  close(s);
  return ok;
}

bool PublishNamed(FdObject &object, const std::string &name, std::uint8_t kind, std::uint8_t flags) {
  sockaddr_un addr;
  std::string dir = ObjectDir();
  std::string file = HashName(name);
  socklen_t alen = RuntimeSocketAddress(dir, file, addr);
  if (!alen) return false;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return false;
  unlink((dir + "/" + file).c_str());  // stale: nobody answered on it
  if (bind(s, reinterpret_cast<sockaddr *>(&addr), alen) != 0 || listen(s, 16) != 0) {
    close(s);
    return false;
  }
  object.published_path = dir + "/" + file;
  NameServer::Get().Add(Published{s, object.fd(), kind, flags, name, object.published_path});
  return true;
}

// ---- the objects ------------------------------------------------------------

class Event final : public FdObject {
 public:
  Event(int fd, bool manual) : FdObject(ObjectKind::Event, fd), manual_(manual) {}
  bool TryAcquire() override { return manual_ ? FdReadable(fd_) : FdTake(fd_); }
  void UndoAcquire() override {
    if (!manual_) Set();
  }
  void Set() {
    if (!FdReadable(fd_)) FdAdd(fd_, 1);
  }
  void Reset() { FdTake(fd_); }
  bool manual() const { return manual_; }

 private:
  bool manual_;
};

class Mutex;
// Mutexes the thread owns; whatever it still owns when it ends is abandoned.
struct OwnedMutexes {
  std::vector<std::weak_ptr<Mutex>> list;
  ~OwnedMutexes() { AbandonMutexesOfCurrentThread(); }
};
thread_local OwnedMutexes t_owned_mutexes;

// The eventfd holds the "free" token; ownership and recursion are kept here.
class Mutex final : public FdObject, public std::enable_shared_from_this<Mutex> {
 public:
  explicit Mutex(int fd) : FdObject(ObjectKind::Mutex, fd) {}
  bool TryAcquire() override {
    std::lock_guard guard(lock_);
    DWORD me = CurrentTid();
    if (owner_ == me) {
      ++recursion_;
      acquired_abandoned_ = false;
      return true;
    }
    if (owner_ != 0 || !FdTake(fd_)) return false;
    owner_ = me;
    recursion_ = 1;
    acquired_abandoned_ = abandoned_;
    abandoned_ = false;
    // Keep the list short: drop mutexes that are gone or no longer held.
    std::erase_if(t_owned_mutexes.list, [&](const std::weak_ptr<Mutex> &w) {
      auto m = w.lock();
      return !m || m.get() == this || m->owner_.load() != me;
    });
    t_owned_mutexes.list.push_back(weak_from_this());
    return true;
  }
  bool Abandoned() const override {
    std::lock_guard guard(lock_);
    return acquired_abandoned_ && owner_ == CurrentTid();
  }
  void UndoAcquire() override { Release(); }
  bool Release() {
    std::lock_guard guard(lock_);
    if (owner_ != CurrentTid()) return false;
    if (--recursion_ == 0) {
      owner_ = 0;
      FdAdd(fd_, 1);
    }
    return true;
  }
  void AbandonIfOwnedBy(DWORD tid) {
    std::lock_guard guard(lock_);
    if (owner_ != tid) return;
    owner_ = 0;
    recursion_ = 0;
    abandoned_ = true;
    FdAdd(fd_, 1);
  }

 private:
  mutable std::mutex lock_;
  std::atomic<DWORD> owner_{0};  // read without the lock when pruning owned lists
  LONG recursion_ = 0;
  bool abandoned_ = false;
  bool acquired_abandoned_ = false;
};

// EFD_SEMAPHORE: each read takes one unit. The count is mirrored here to
// enforce the maximum (exact within a process; across processes each one
// checks against the releases it made itself).
class Semaphore final : public FdObject {
 public:
  Semaphore(int fd, LONG count, LONG maximum) : FdObject(ObjectKind::Semaphore, fd), count_(count), max_(maximum) {}
  bool TryAcquire() override {
    std::lock_guard guard(lock_);
    if (!FdTake(fd_)) return false;
    if (count_ > 0) --count_;
    return true;
  }
  void UndoAcquire() override {
    std::lock_guard guard(lock_);
    ++count_;
    FdAdd(fd_, 1);
  }
  bool Release(LONG n, LONG *previous) {
    std::lock_guard guard(lock_);
    if (n <= 0 || n > max_ - count_) return false;
    if (previous) *previous = count_;
    count_ += n;
    FdAdd(fd_, static_cast<std::uint64_t>(n));
    return true;
  }

 private:
  std::mutex lock_;
  LONG count_, max_;
};

bool ValidName(LPCSTR name) {
  if (!name) return true;
  size_t n = std::strlen(name);
  if (n > MAX_PATH) return false;
  return std::strchr(name, '\\') == nullptr;
}

// One object per name in this process, so that a mutex or semaphore opened
// twice keeps one owner and one count. (Outside the template below: each of
// its instantiations would otherwise have its own table.)
std::mutex g_local_names_lock;
std::map<std::string, std::pair<NamedKind, std::weak_ptr<FdObject>>> *LocalNames() {
  static auto *names = new std::map<std::string, std::pair<NamedKind, std::weak_ptr<FdObject>>>;
  return names;
}

// Creates or opens by name. make() builds a new object around a fresh fd;
// wrap() builds one around a received fd.
template <class Make, class Wrap>
HANDLE CreateNamed(LPCSTR name, NamedKind kind, std::uint8_t flags, bool open_only, Make make, Wrap wrap) {
  if (!ValidName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  std::shared_ptr<FdObject> object;
  bool existed = false;
  if (!name || !*name) {
    if (open_only) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    object = make();
  } else {
    NameLock lock;
    Received r;
    std::lock_guard local_guard(g_local_names_lock);
    auto *local = LocalNames();
    auto it = local->find(name);
    std::shared_ptr<FdObject> same = it == local->end() ? nullptr : it->second.second.lock();
    if (same) {
      if (it->second.first != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      object = same;
      existed = true;
    } else if (FetchNamed(name, r)) {
      if (r.kind != kind) {
        close(r.fd);
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      object = wrap(r.fd, r.flags);
      existed = true;
    } else if (open_only) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    } else {
      object = make();
      if (object && !PublishNamed(*object, name, kind, flags)) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
      }
    }
    if (object) (*local)[name] = {kind, object};
  }
  if (!object) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  HANDLE h = InsertHandle(object);
  if (!h) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

int NewEventFd(unsigned initial, int flags = 0) { return eventfd(initial, EFD_CLOEXEC | EFD_NONBLOCK | flags); }

}  // namespace

void AbandonMutexesOfCurrentThread() {
  DWORD me = CurrentTid();
  auto owned = std::move(t_owned_mutexes.list);
  t_owned_mutexes.list.clear();
  for (auto &w : owned)
    if (auto m = w.lock()) m->AbandonIfOwnedBy(me);
}

}  // namespace qx

using namespace qx;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCSTR name) {
  return CreateNamed(
      name, kNamedEvent, manual ? 1 : 0, false,
      [&]() -> std::shared_ptr<FdObject> {
        int fd = NewEventFd(initial ? 1 : 0);
        return fd < 0 ? nullptr : std::make_shared<Event>(fd, manual != FALSE);
      },
      [](int fd, std::uint8_t flags) -> std::shared_ptr<FdObject> { return std::make_shared<Event>(fd, flags & 1); });
}

HANDLE WINAPI OpenEventA(DWORD, BOOL, LPCSTR name) {
  return CreateNamed(
      name, kNamedEvent, 0, true, []() -> std::shared_ptr<FdObject> { return nullptr; },
      [](int fd, std::uint8_t flags) -> std::shared_ptr<FdObject> { return std::make_shared<Event>(fd, flags & 1); });
}

BOOL WINAPI SetEvent(HANDLE h) {
  auto e = Lookup<Event>(h, ObjectKind::Event);
  if (!e) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  e->Set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE h) {
  auto e = Lookup<Event>(h, ObjectKind::Event);
  if (!e) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  e->Reset();
  return TRUE;
}

// Releases what is waiting now (approximately: waiters that are woken and run
// before the reset) and leaves the event unsignalled.
BOOL WINAPI PulseEvent(HANDLE h) {
  auto e = Lookup<Event>(h, ObjectKind::Event);
  if (!e) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  e->Set();
  std::this_thread::yield();
  e->Reset();
  return TRUE;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCSTR name) {
  HANDLE h = CreateNamed(
      name, kNamedMutex, 0, false,
      []() -> std::shared_ptr<FdObject> {
        int fd = NewEventFd(1);
        return fd < 0 ? nullptr : std::make_shared<Mutex>(fd);
      },
      [](int fd, std::uint8_t) -> std::shared_ptr<FdObject> { return std::make_shared<Mutex>(fd); });
  if (h && initial_owner && GetLastError() != ERROR_ALREADY_EXISTS) {
    Lookup<Mutex>(h, ObjectKind::Mutex)->TryAcquire();
    SetLastError(ERROR_SUCCESS);
  }
  return h;
}

HANDLE WINAPI OpenMutexA(DWORD, BOOL, LPCSTR name) {
  return CreateNamed(
      name, kNamedMutex, 0, true, []() -> std::shared_ptr<FdObject> { return nullptr; },
      [](int fd, std::uint8_t) -> std::shared_ptr<FdObject> { return std::make_shared<Mutex>(fd); });
}

BOOL WINAPI ReleaseMutex(HANDLE h) {
  auto m = Lookup<Mutex>(h, ObjectKind::Mutex);
  if (!m) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  if (!m->Release()) return SetLastError(ERROR_NOT_OWNER), FALSE;
  return TRUE;
}

HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initial, LONG maximum, LPCSTR name) {
  if (maximum <= 0 || initial < 0 || initial > maximum) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateNamed(
      name, kNamedSemaphore, 0, false,
      [&]() -> std::shared_ptr<FdObject> {
        int fd = NewEventFd(static_cast<unsigned>(initial), EFD_SEMAPHORE);
        return fd < 0 ? nullptr : std::make_shared<Semaphore>(fd, initial, maximum);
      },
      [&](int fd, std::uint8_t) -> std::shared_ptr<FdObject> { return std::make_shared<Semaphore>(fd, 0, maximum); });
}

BOOL WINAPI ReleaseSemaphore(HANDLE h, LONG count, LPLONG previous) {
  auto s = Lookup<Semaphore>(h, ObjectKind::Semaphore);
  if (!s) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  if (!s->Release(count, previous)) return SetLastError(ERROR_TOO_MANY_POSTS), FALSE;
  return TRUE;
}

}  // extern "C"
