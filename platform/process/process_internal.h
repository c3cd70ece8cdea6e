// Internals shared by the files of the process part.
#pragma once

#include <windows.h>

#include "qx/handles.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qx {

// A socket offered to a child: its descriptor and the identity of the socket
// behind it when offered, so a number closed and reused is never lent.
struct SocketOffer {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
};

// One process this process started: reaped by the layer when it ends.
struct ChildRecord {
  pid_t pid = 0;
  int pidfd = -1;  // owned; closed when the record dies
  std::mutex offers_lock;
  std::vector<SocketOffer> offers;  // sockets this child may take, once each
  std::atomic<bool> exited{false};
  std::atomic<DWORD> exit_code{STILL_ACTIVE};
  std::atomic<bool> terminated{false};  // TerminateProcess chose the exit code
  ~ChildRecord();
};

// The record of a child still known to the reaper (or null).
std::shared_ptr<ChildRecord> FindChild(pid_t pid);
// Registers a child just started; the record takes over pidfd.
std::shared_ptr<ChildRecord> RegisterChild(pid_t pid, int pidfd);
// Waits up to ms for the reaper to collect a child that has ended; true once
// its exit code is known.
bool WaitCollected(const std::shared_ptr<ChildRecord> &child, int ms);
// Sockets offered by this thread to the next child it starts: moved into
// that child's record when it is registered, dropped when the start fails.
void AttachOfferedSockets(ChildRecord *child);
// Takes the child's offer of descriptor fd if it still names the socket offered.
bool TakeOfferedSocket(ChildRecord &child, int fd);

// Held shared from the start of a spawn until its child is registered; taken
// whole by whoever must not look a new child up before its record exists.
std::shared_mutex &SpawnLock();

// A HANDLE to a process: a child of ours (with its exit code) or any other
// process opened by id.
class ProcessObject : public KernelObject {
 public:
  ProcessObject(pid_t pid, int pidfd, std::shared_ptr<ChildRecord> child, DWORD access);
  ~ProcessObject() override;
  int WaitFd() const override { return pidfd_; }
  bool TryAcquire() override;
  pid_t pid() const { return pid_; }
  int pidfd() const { return pidfd_; }
  DWORD access() const { return access_; }
  const std::shared_ptr<ChildRecord> &child() const { return child_; }
  bool Running() const;

 private:
  pid_t pid_;
  int pidfd_;  // owned
  std::shared_ptr<ChildRecord> child_;
  DWORD access_;
};

// The thread handle of PROCESS_INFORMATION: waits like its process.
class ProcessThreadObject : public KernelObject {
 public:
  explicit ProcessThreadObject(std::shared_ptr<ProcessObject> process)
      : KernelObject(ObjectKind::Thread), process_(std::move(process)) {}
  int WaitFd() const override { return process_->WaitFd(); }
  bool TryAcquire() override { return process_->TryAcquire(); }

 private:
  std::shared_ptr<ProcessObject> process_;
};

constexpr intptr_t kCurrentProcessPseudo = -1;
bool IsCurrentProcessHandle(HANDLE h);

// The process opened by a handle (real or the current-process pseudo handle);
// null with ERROR_INVALID_HANDLE set otherwise.
std::shared_ptr<ProcessObject> ProcessFromHandle(HANDLE h);

// Opens a process by id without checks of access; null when it has ended.
std::shared_ptr<ProcessObject> OpenProcessObject(pid_t pid, DWORD access, DWORD &error);

// Starts the endpoint that hands sockets of this process to same-user
// processes that cannot take them with pidfd_getfd.
void StartSocketLender();

// The command line and show state this process was started with.
const std::string &StartCommandLine();

// pidfd helpers (raw system calls).
int PidfdOpen(pid_t pid);
int PidfdGetfd(int pidfd, int fd);
int PidfdSendSignal(int pidfd, int sig);

}  // namespace qx
