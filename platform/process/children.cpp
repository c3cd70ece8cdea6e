// Children of this process: one reaper thread waits on the pidfds of all
// children the layer started and collects each as it ends, so that no ended
// daemon lingers as a zombie and a later OpenProcess on its id fails. The
// reaper keeps a child's record until the child has been collected; handles
// keep it after that for its exit code.
#include "process_internal.h"
#include "qx/env.h"
#include "qx/process.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <system_error>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace qx {
namespace {

struct Reaper {
  std::mutex lock;
  std::condition_variable collected;  // notified whenever a child has been collected
  std::unordered_map<pid_t, std::shared_ptr<ChildRecord>> children;
  int wake_fd = -1;
  bool started = false;
};

Reaper &TheReaper() {
  static Reaper *reaper = new Reaper;  // never destroyed: its thread outlives statics
  return *reaper;
}

DWORD ExitCodeOf(const siginfo_t &info) {
  if (info.si_code == CLD_EXITED) return static_cast<DWORD>(info.si_status) & 0xff;
  return 128u + static_cast<DWORD>(info.si_status);  // ended by a signal, as shells report it
}

void Collect(Reaper &r, const std::shared_ptr<ChildRecord> &child) {
  if (child->exited) return;
  siginfo_t info{};
  if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(child->pidfd), &info, WEXITED | WNOHANG) != 0) {
    if (errno != ECHILD) return;  // not ended yet
    // Collected elsewhere (a waitpid in the program): the exit code is lost.
    if (!child->terminated) child->exit_code = 0;
  } else if (info.si_pid == 0) {
    return;  // not ended yet
  } else if (!child->terminated) {
    child->exit_code = ExitCodeOf(info);
  }
  // The pidfd goes with the collection, not with the last reference to the
  // record (the reaper's list of the round holds one a moment longer).
  ::close(child->pidfd);
  child->pidfd = -1;
  child->exited = true;
  r.children.erase(child->pid);
  r.collected.notify_all();
}

void ReaperLoop() {
  Reaper &r = TheReaper();
  std::vector<pollfd> fds;
  std::vector<std::shared_ptr<ChildRecord>> watched;
  for (;;) {
    fds.clear();
    watched.clear();
    fds.push_back({r.wake_fd, POLLIN, 0});
    {
      std::lock_guard guard(r.lock);
      for (auto &[pid, child] : r.children) {
        fds.push_back({child->pidfd, POLLIN, 0});
        watched.push_back(child);
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents & POLLIN) {
      std::uint64_t n;
      [[maybe_unused]] ssize_t rd = ::read(r.wake_fd, &n, sizeof n);
    }
    std::lock_guard guard(r.lock);
    for (size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents) Collect(r, watched[i - 1]);
  }
}

}  // namespace

ChildRecord::~ChildRecord() {
  if (pidfd >= 0) ::close(pidfd);
}

std::shared_ptr<ChildRecord> FindChild(pid_t pid) {
  Reaper &r = TheReaper();
  std::lock_guard guard(r.lock);
  auto it = r.children.find(pid);
  return it == r.children.end() ? nullptr : it->second;
}

bool WaitCollected(const std::shared_ptr<ChildRecord> &child, int ms) {
  Reaper &r = TheReaper();
  std::unique_lock guard(r.lock);
  // Without a reaper thread (none could be started) nobody else collects it.
  if (!r.started && !child->exited) Collect(r, child);
  return r.collected.wait_for(guard, std::chrono::milliseconds(ms), [&] { return child->exited.load(); });
}

std::shared_ptr<ChildRecord> RegisterChild(pid_t pid, int pidfd) {
  auto child = std::make_shared<ChildRecord>();
  child->pid = pid;
  child->pidfd = pidfd;
  Reaper &r = TheReaper();
  std::lock_guard guard(r.lock);
  if (!r.started) {
    if (r.wake_fd < 0) r.wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    try {
      std::thread(ReaperLoop).detach();
      r.started = true;
    } catch (const std::system_error &) {
      // No thread to be had now (the user's process limit): the child is
      // kept, and the next child started tries again and collects it too.
      Trace("reaper thread not started: %s", std::strerror(errno));
    }
  }
  r.children[pid] = child;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(r.wake_fd, &one, sizeof one);
  return child;
}

std::shared_mutex &SpawnLock() {
  static auto *lock = new std::shared_mutex;  // never destroyed: the lender thread outlives statics
  return *lock;
}

void AdoptChild(int pid, int pidfd) {
  const int own = ::fcntl(pidfd, F_DUPFD_CLOEXEC, 3);
  if (own >= 0) RegisterChild(pid, own);
}

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int PidfdGetfd(int pidfd, int fd) { return static_cast<int>(::syscall(SYS_pidfd_getfd, pidfd, fd, 0)); }
int PidfdSendSignal(int pidfd, int sig) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

}  // namespace qx
