// DuplicateHandle: in-process duplicates of table handles and sockets, and a
// socket taken from another process, as a daemon takes the super-server's.
//
// A handle below 0x10000 is a socket (a descriptor number); a table handle is
// never that small. Another process's socket is asked of that process over a
// Unix socket in the user's runtime directory, and it sends the descriptor
// with SCM_RIGHTS. Only sockets are handed out, only to children this process
// started, of its own user, after both ends have checked each other's
// credentials, and only a socket this process offered to that very child
// (QxOfferSocketToNextChild before CreateProcess), once, while it still holds
// that socket under that number. A forged hand-over word naming another
// descriptor or another process, or a late taker whose socket number was
// closed and reused, gets nothing.
#include <windows.h>
#include <qxhandover.h>

#include "process_internal.h"
#include "qx/env.h"
#include "qx/unixsock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <system_error>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace qx {
namespace {

constexpr std::uint32_t kLendMagic = 0x48445851;  // "QXDH"
constexpr int kLendTimeoutMs = 5000;

struct LendRequest {
  std::uint32_t magic;
  std::int32_t fd;
};
struct LendReply {
  std::uint32_t magic;
  std::int32_t error;  // errno of the lending side, 0 with a descriptor attached
};

bool IsSocketFd(int fd) {
  struct stat st {};
  return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string LenderDirectory() { return RuntimeDir() + "/dup"; }

void SetTimeouts(int fd) {
  timeval tv{kLendTimeoutMs / 1000, (kLendTimeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void ServeOne(int conn) {
  SetTimeouts(conn);
  ucred peer{};
  socklen_t len = sizeof peer;
  LendRequest req{};
  LendReply reply{kLendMagic, 0};
  // Lent only to our own children of our own user: the daemons we started.
  // A spawn still in progress registers its child first.
  { std::unique_lock registered(SpawnLock()); }
  std::shared_ptr<ChildRecord> child;
  if (::getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != ::getuid() ||
      !(child = FindChild(peer.pid))) {
    reply.error = EPERM;
  } else if (::recv(conn, &req, sizeof req, MSG_WAITALL) != static_cast<ssize_t>(sizeof req) ||
             req.magic != kLendMagic) {
    return;
  } else if (!IsSocketFd(req.fd)) {
    reply.error = EBADF;
  } else if (!TakeOfferedSocket(*child, req.fd)) {
    reply.error = EPERM;
  }
  msghdr msg{};
  iovec iov{&reply, sizeof reply};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
  if (reply.error == 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &req.fd, sizeof(int));
  }
  ::sendmsg(conn, &msg, MSG_NOSIGNAL);
  Trace("lent socket %d to process %d: %d", static_cast<int>(req.fd), static_cast<int>(peer.pid),
        static_cast<int>(reply.error));
}

void LenderLoop(int listener) {
  for (;;) {
    const int conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      ::usleep(10000);
      continue;
    }
    ServeOne(conn);
    ::close(conn);
  }
}

std::string g_lender_name;

void RemoveLenderSocket() {
  if (g_lender_name.empty()) return;
  const std::string path = LenderDirectory() + "/" + g_lender_name;
  ::unlink(path.c_str());
}

// Takes a descriptor from the lender of process pid; -1 with errno otherwise.
int BorrowSocket(pid_t pid, int fd) {
  sockaddr_un addr{};
  const socklen_t alen = RuntimeSocketAddress(LenderDirectory(), std::to_string(pid), addr);
  if (alen == 0) {
    errno = ENOENT;
    return -1;
  }
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  SetTimeouts(s);
  int result = -1;
  int err = ECONNREFUSED;
  do {
    if (::connect(s, reinterpret_cast<sockaddr *>(&addr), alen) != 0) {
      err = errno;
      break;
    }
    // The endpoint must belong to that very process and to our user.
    ucred peer{};
    socklen_t len = sizeof peer;
    if (::getsockopt(s, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.pid != pid || peer.uid != ::getuid()) {
      err = EPERM;
      break;
    }
    LendRequest req{kLendMagic, fd};
    if (::send(s, &req, sizeof req, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof req)) {
      err = errno;
      break;
    }
    LendReply reply{};
    iovec iov{&reply, sizeof reply};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(s, &msg, MSG_CMSG_CLOEXEC | MSG_WAITALL);
    int received = -1;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int)))
        std::memcpy(&received, CMSG_DATA(c), sizeof(int));
    if (n != static_cast<ssize_t>(sizeof reply) || reply.magic != kLendMagic || reply.error != 0 || received < 0 ||
        (msg.msg_flags & MSG_CTRUNC)) {
      if (received >= 0) ::close(received);
      err = (n == static_cast<ssize_t>(sizeof reply) && reply.error) ? reply.error : EPROTO;
      break;
    }
    result = received;
  } while (false);
  ::close(s);
  if (result < 0) errno = err;
  return result;
}

thread_local std::vector<SocketOffer> t_offers;  // offered by this thread to its next child

HANDLE SocketHandle(int fd) { return QX_HANDLE_FROM(HANDLE, static_cast<DWORD>(fd)); }

BOOL DuplicateLocalSocket(int fd, LPHANDLE target, DWORD options) {
  if (!IsSocketFd(fd)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0 || copy >= 0x10000) {
    if (copy >= 0) ::close(copy);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return FALSE;
  }
  if (options & DUPLICATE_CLOSE_SOURCE) ::close(fd);
  *target = SocketHandle(copy);
  return TRUE;
}

BOOL TakeRemoteSocket(const ProcessObject &source, int fd, LPHANDLE target) {
  if (!(source.access() & PROCESS_DUP_HANDLE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // Always asked of the source, never taken behind its back (pidfd_getfd
  // would take any descriptor at all): the source lends only what it offered.
  const int got = BorrowSocket(source.pid(), fd);
  if (got < 0) {
    const int err = errno;
    Trace("DuplicateHandle of socket %d of process %d failed: %s", fd, static_cast<int>(source.pid()),
          std::strerror(err));
    SetLastError(err == EPERM || err == EACCES || err == ENOENT || err == ECONNREFUSED ? ERROR_ACCESS_DENIED
                                                                                       : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!IsSocketFd(got) || got >= 0x10000) {  // only sockets cross between processes
    ::close(got);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *target = SocketHandle(got);
  return TRUE;
}

// Handles are only made in this process. The usual target, the pseudo handle,
// needs no process object (which would read /proc and open a pidfd).
bool TargetIsThisProcess(HANDLE target_process) {
  if (IsCurrentProcessHandle(target_process)) return true;
  auto to = ProcessFromHandle(target_process);
  if (!to) return false;
  if (to->pid() != ::getpid()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  return true;
}

}  // namespace

void AttachOfferedSockets(ChildRecord *child) {
  if (child && !t_offers.empty()) {
    std::lock_guard guard(child->offers_lock);
    child->offers.insert(child->offers.end(), t_offers.begin(), t_offers.end());
  }
  t_offers.clear();
}

bool TakeOfferedSocket(ChildRecord &child, int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  std::lock_guard guard(child.offers_lock);
  for (auto it = child.offers.begin(); it != child.offers.end(); ++it)
    if (it->fd == fd) {
      const bool same = it->device == st.st_dev && it->inode == st.st_ino;
      child.offers.erase(it);  // one attempt per offer
      return same;
    }
  return false;
}

void StartSocketLender() {
  // Tried again at the next start until it works: a failure (no thread to be
  // had at the process limit, no runtime directory) only means no socket is
  // lent to the children started meanwhile; it never ends this process.
  static std::mutex lock;
  static bool started = false;
  std::lock_guard guard(lock);
  if (started) return;
  if (!EnsurePrivateDir(LenderDirectory())) return;
  const std::string name = std::to_string(::getpid());
  sockaddr_un addr{};
  const socklen_t alen = RuntimeSocketAddress(LenderDirectory(), name, addr);
  if (alen == 0) return;
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  ::unlink((LenderDirectory() + "/" + name).c_str());  // left by an ended process with our id
  if (::bind(s, reinterpret_cast<sockaddr *>(&addr), alen) != 0 || ::listen(s, 16) != 0) {
    ::close(s);
    return;
  }
  try {
    std::thread(LenderLoop, s).detach();
  } catch (const std::system_error &) {
    Trace("socket lender not started: %s", std::strerror(errno));
    ::close(s);
    ::unlink((LenderDirectory() + "/" + name).c_str());
    return;
  }
  g_lender_name = name;
  static bool hooked = (std::atexit(RemoveLenderSocket), true);
  (void)hooked;
  started = true;
}

}  // namespace qx

using namespace qx;

extern "C" {

WINBASEAPI BOOL WINAPI QxOfferSocketToNextChild(UINT_PTR socket) {
  const int fd = static_cast<int>(socket);
  struct stat st {};
  if (socket >= 0x10000 || !IsSocketFd(fd) || ::fstat(fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  t_offers.push_back(SocketOffer{fd, st.st_dev, st.st_ino});
  return TRUE;
}

WINBASEAPI BOOL WINAPI DuplicateHandle(HANDLE source_process, HANDLE source, HANDLE target_process, LPHANDLE target,
                                       DWORD, BOOL, DWORD options) {
  if (!target) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto from = ProcessFromHandle(source_process);
  if (!from || !TargetIsThisProcess(target_process)) return FALSE;
  const DWORD value = QX_HANDLE_VALUE(source);
  if (from->pid() != ::getpid()) {
    if (IsTableHandle(source) || value == 0 || value >= 0x10000) {
      SetLastError(ERROR_NOT_SUPPORTED);  // only sockets cross between processes
      return FALSE;
    }
    return TakeRemoteSocket(*from, static_cast<int>(value), target);
  }
  if (IsCurrentProcessHandle(source)) {
    DWORD error = 0;
    auto self = OpenProcessObject(::getpid(), PROCESS_ALL_ACCESS, error);
    if (!self) {
      SetLastError(error);
      return FALSE;
    }
    *target = InsertHandle(self);
    return *target ? TRUE : FALSE;
  }
  if (IsTableHandle(source)) {
    ObjectRef object = LookupHandle(source);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    HANDLE copy = InsertHandle(object);  // the same object under a second handle
    if (!copy) {
      SetLastError(ERROR_NO_SYSTEM_RESOURCES);
      return FALSE;
    }
    if (options & DUPLICATE_CLOSE_SOURCE) RemoveHandle(source);
    *target = copy;
    return TRUE;
  }
  if (value == 0 || value >= 0x10000) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return DuplicateLocalSocket(static_cast<int>(value), target, options);
}

}  // extern "C"
