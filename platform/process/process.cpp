// Starting and opening processes: CreateProcessA and WinExec with Windows
// command lines, process handles over pidfds, exit codes, termination.
//
// The program word names one of the suite's programs ("vtconsole.EXE") or
// any program: it is looked for beside the calling program, in the current
// directory and along PATH, without regard to case, "x" and "x.exe" alike.
// The child gets its exact command line in QX_CMDLINE and the show state in
// QX_SHOWWINDOW; argv is the Windows split of the command line, so ordinary
// tools run too. No descriptor of ours reaches the child unless handles are
// inherited; a detached child has its own session and /dev/null for stdio.
#include <windows.h>

#include <ntsecapi.h>

#include "cmdline.h"
#include "qx/accounts.h"
#include "process_internal.h"
#include "qx/env.h"
#include "qx/errors.h"
#include "qx/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <pthread.h>
#include <sys/wait.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <sys/syscall.h>
#include <sched.h>
#include <mutex>
#include <memory>

extern char **environ;

namespace qx {
namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWithExe(const std::string &lower) {
  return lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0;
}

bool IsExecutableFile(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string DirectoryOfThisProgram() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Looks in one directory for `name`, without regard to case, with or
// without ".exe". Sets found_file when a match exists but cannot be run.
std::string FindInDirectory(const std::string &dir, const std::string &name, bool &found_file) {
  if (dir.empty()) return {};
  const std::string exact = dir + "/" + name;
  if (IsExecutableFile(exact)) return exact;
  const std::string lower = Lower(name);
  const std::string stem = EndsWithExe(lower) ? lower.substr(0, lower.size() - 4) : lower;
  DIR *d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string best;
  while (const dirent *e = ::readdir(d)) {
    const std::string entry = Lower(e->d_name);
    if (entry != stem && entry != stem + ".exe") continue;
    const std::string path = dir + "/" + e->d_name;
    if (IsExecutableFile(path)) {
      // The name without ".exe" (how the suite installs) wins over one with it.
      if (best.empty() || entry == stem) best = path;
    } else {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) found_file = true;
    }
  }
  ::closedir(d);
  return best;
}

// Resolves a program word to a host path; error is the Win32 error otherwise.
std::string ResolveProgram(std::string word, DWORD &error) {
  error = ERROR_FILE_NOT_FOUND;
  if (word.empty()) return {};
  std::replace(word.begin(), word.end(), '\\', '/');
  bool found_file = false;
  const size_t slash = word.rfind('/');
  // A Windows path ("C:/qx/vtconsole.exe"): the drive does not name a host
  // directory, so the program is looked for by its name like a bare word.
  const bool windows_path = word.size() > 1 && word[1] == ':';
  if (slash != std::string::npos && !windows_path) {
    const std::string dir = slash == 0 ? "/" : word.substr(0, slash);
    std::string path = FindInDirectory(dir, word.substr(slash + 1), found_file);
    if (path.empty())
      error = found_file ? ERROR_ACCESS_DENIED
                         : (::access(dir.c_str(), F_OK) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return path;
  }
  const std::string name = slash == std::string::npos ? word : word.substr(slash + 1);
  std::vector<std::string> dirs = {DirectoryOfThisProgram(), "."};
  if (const char *path = std::getenv("PATH")) {
    std::string p = path;
    size_t start = 0;
    for (;;) {
      const size_t colon = p.find(':', start);
      dirs.push_back(p.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  for (const std::string &dir : dirs) {
    std::string found = FindInDirectory(dir.empty() ? "." : dir, name, found_file);
    if (!found.empty()) return found;
  }
  if (found_file) error = ERROR_ACCESS_DENIED;
  return {};
}

// The child's environment: ours (or the caller's block), without our
// start variables, plus the command line and show state for the child.
std::vector<std::string> ChildEnvironment(const char *block, const std::string &command_line, int show) {
  std::vector<std::string> env;
  auto keep = [&](const char *entry) {
    if (std::strncmp(entry, "QX_CMDLINE=", 11) == 0 || std::strncmp(entry, "QX_SHOWWINDOW=", 14) == 0) return;
    env.emplace_back(entry);
  };
  if (block) {
    for (const char *p = block; *p; p += std::strlen(p) + 1) keep(p);
  } else {
    for (char **e = environ; e && *e; ++e) keep(*e);
  }
  env.push_back("QX_CMDLINE=" + command_line);
  if (show >= 0) env.push_back("QX_SHOWWINDOW=" + std::to_string(show));
  return env;
}

std::vector<char *> Pointers(std::vector<std::string> &strings) {
  std::vector<char *> out;
  for (std::string &s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

struct SpawnRequest {
  std::string program;
  std::string command_line;
  bool detached = false;
  bool inherit = false;
  int show = -1;
  const char *environment = nullptr;
  const char *directory = nullptr;
  int std_fds[3] = {-1, -1, -1};  // STARTF_USESTDHANDLES: what becomes the child's 0, 1 and 2
  // CreateProcessAsUser: the identity the child takes before it runs the program.
  bool as_user = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

DWORD SpawnError(int rc) {
  return rc == ENOEXEC   ? 193 /* ERROR_BAD_EXE_FORMAT */
         : rc == EACCES  ? ERROR_ACCESS_DENIED
         : rc == ENOENT  ? ERROR_FILE_NOT_FOUND
         : rc == ENOTDIR ? ERROR_DIRECTORY
         : rc == EPERM   ? ERROR_PRIVILEGE_NOT_HELD
                         : ERROR_NOT_ENOUGH_MEMORY;
}

// The child side of a start under another identity: between fork and exec,
// only calls safe in a child of a threaded process. The groups, then the
// group, then the user are set before the program runs, so nothing of it
// ever runs with ours. A failure is written as errno on report_fd.
[[noreturn]] void BecomeUserAndExec(const SpawnRequest &req, char *const argv[], char *const envp[], int report_fd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, nullptr);
  sigaction(SIGCHLD, &dfl, nullptr);
  int failed = 0;
  if (req.detached) ::setsid();
  // No descriptor of ours reaches the other user, not even our standard
  // ones: what is not given is /dev/null.
  const int null_fd = ::open("/dev/null", O_RDWR);
  for (int target = 0; target < 3; ++target)
    if (null_fd >= 0 && req.std_fds[target] < 0) ::dup2(null_fd, target);
  if (null_fd > 2) ::close(null_fd);
  for (int target = 0; target < 3 && !failed; ++target) {
    const int fd = req.std_fds[target];
    if (fd < 0) continue;
    if (fd == target) {
      ::fcntl(fd, F_SETFD, 0);
    } else if (::dup2(fd, target) < 0) {
      failed = errno;
    }
  }
  if (!req.inherit) {
    // Everything above the standard three closes; report_fd closes at exec.
    if (report_fd > 3) ::close_range(3, static_cast<unsigned>(report_fd) - 1, 0);
    ::close_range(static_cast<unsigned>(report_fd) + 1, ~0u, 0);
  }
  if (!failed && ::setgroups(req.groups.size(), req.groups.data()) != 0) failed = errno;
  if (!failed && ::setgid(req.gid) != 0) failed = errno;
  if (!failed && ::setuid(req.uid) != 0) failed = errno;
  if (!failed && req.directory && *req.directory && ::chdir(req.directory) != 0) failed = errno;
  if (!failed) {
    ::execve(req.program.c_str(), argv, envp);
    failed = errno;
  }
  [[maybe_unused]] const ssize_t written = ::write(report_fd, &failed, sizeof failed);
  ::_exit(127);
}

// fork and exec under the request's identity; the child's errno comes back
// through a pipe that closes at exec.
pid_t SpawnAsUser(const SpawnRequest &req, char *const argv[], char *const envp[], DWORD &error) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  const pid_t pid = ::fork();
  if (pid == 0) BecomeUserAndExec(req, argv, envp, report[1]);
  ::close(report[1]);
  int child_errno = 0;
  ssize_t got = 0;
  if (pid > 0) {
    do got = ::read(report[0], &child_errno, sizeof child_errno);
    while (got < 0 && errno == EINTR);
  }
  ::close(report[0]);
  if (pid < 0) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  if (got == sizeof child_errno) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    error = SpawnError(child_errno);
    return 0;
  }
  return pid;
}

// Why the program cannot be run, checked before the child is made: 0, or
// the error CreateProcess gives. A program is an ELF image or a script
// whose interpreter can be run.
DWORD ImageError(const std::string &program, int depth = 0) {
  const int fd = ::open(program.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
  char head[256];
  const ssize_t got = ::read(fd, head, sizeof head - 1);
  ::close(fd);
  if (got >= 4 && std::memcmp(head, "\177ELF", 4) == 0) return 0;
  if (got < 3 || head[0] != '#' || head[1] != '!' || depth > 0) return 193;  // ERROR_BAD_EXE_FORMAT
  head[got] = '\0';
  const char *p = head + 2;
  while (*p == ' ' || *p == '\t') ++p;
  const char *end = p;
  while (*end && *end != ' ' && *end != '\t' && *end != '\n') ++end;
  const std::string interpreter(p, end);
  if (interpreter.empty() || ::access(interpreter.c_str(), X_OK) != 0) return ERROR_FILE_NOT_FOUND;
  return ImageError(interpreter, depth + 1);
}

// What a child needs from its start to its exec, owned here until the
// kernel clears `running` (at the child's exec or end): the child shares our
// memory meanwhile and reads only this.
struct LaunchBlock {
  std::vector<std::string> argv, env;
  std::vector<char *> argv_ptrs, env_ptrs;
  std::string program, directory;
  int std_fds[3] = {-1, -1, -1};
  bool detached = false;
  bool inherit = false;
  bool handlers_cleared = false;  // the kernel reset our handlers at the clone
  std::unique_ptr<char[]> stack;
  // Plain pointers into the above: all the child reads.
  const char *program_path = nullptr;
  const char *directory_path = nullptr;  // null: stay where we are
  char *const *argv_vector = nullptr;
  char *const *env_vector = nullptr;
  pid_t running = -1;  // CLONE_CHILD_CLEARTID: 0 once the child no longer uses this
};

constexpr size_t kLaunchStack = 64 * 1024;

std::mutex g_launch_lock;
std::vector<std::unique_ptr<LaunchBlock>> g_launches;  // children not yet past exec

#if defined(__x86_64__)
// A system call without the C library: the child runs on our memory and our
// thread's TLS, so it must not even set errno.
__attribute__((always_inline)) inline long RawCall(long number, long a = 0, long b = 0, long c = 0, long d = 0) {
  long result;
  register long r10 __asm__("r10") = d;
  __asm__ volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10) : "rcx", "r11", "memory");
  return result;
}

struct KernelSigaction {
  void *handler;
  unsigned long flags;
  void *restorer;
  unsigned long mask;
};

// The child, from clone to exec, on its own stack and our memory: only raw
// system calls on the block. Signals arrive blocked; every handler of ours
// goes back to the default (and SIGPIPE and SIGCHLD, which we may ignore)
// before they are let through at exec. Where the kernel already reset the
// handlers at the clone, only those two are left; otherwise each of the 64
// is looked at, a system call each.
__attribute__((no_sanitize("address", "undefined"), noinline)) int LaunchChild(void *arg) {
  const LaunchBlock *b = static_cast<const LaunchBlock *>(arg);
  KernelSigaction dfl{};  // SIG_DFL is 0
  for (long sig = 1; sig <= 64; ++sig) {
    const bool always = sig == SIGPIPE || sig == SIGCHLD;
    if (sig == SIGKILL || sig == SIGSTOP || (b->handlers_cleared && !always)) continue;
    KernelSigaction old{};
    if (!always && RawCall(SYS_rt_sigaction, sig, 0, reinterpret_cast<long>(&old), 8) != 0) continue;
    const bool caught =
        (old.flags & SA_SIGINFO) || (old.handler != nullptr && old.handler != reinterpret_cast<void *>(1));
    if (caught || always) RawCall(SYS_rt_sigaction, sig, reinterpret_cast<long>(&dfl), 0, 8);
  }
  if (b->detached) {
    RawCall(SYS_setsid);
    const long modes[3] = {O_RDONLY, O_WRONLY, O_WRONLY};
    for (long target = 0; target < 3; ++target) {
      const long fd = RawCall(SYS_open, reinterpret_cast<long>("/dev/null"), modes[target]);
      if (fd >= 0 && fd != target) {
        RawCall(SYS_dup2, fd, target);
        RawCall(SYS_close, fd);
      }
    }
  }
  for (long target = 0; target < 3; ++target) {
    const long fd = b->std_fds[target];
    if (fd < 0) continue;
    if (fd == target) {
      RawCall(SYS_fcntl, fd, F_SETFD, 0);
    } else if (RawCall(SYS_dup2, fd, target) < 0) {
      RawCall(SYS_exit_group, 127);
    }
  }
  if (!b->inherit) RawCall(SYS_close_range, 3, ~0u, 0);
  if (b->directory_path && RawCall(SYS_chdir, reinterpret_cast<long>(b->directory_path)) != 0)
    RawCall(SYS_exit_group, 127);
  const unsigned long none = 0;
  RawCall(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&none), 0, 8);
  RawCall(SYS_execve, reinterpret_cast<long>(b->program_path), reinterpret_cast<long>(b->argv_vector),
          reinterpret_cast<long>(b->env_vector));
  RawCall(SYS_exit_group, 127);
  return 127;
}

// clone3's arguments as far as they are used (the first version of the record).
struct CloneArgs {
  std::uint64_t flags, pidfd, child_tid, parent_tid, exit_signal, stack, stack_size, tls;
};
constexpr std::uint64_t kCloneClearSighand = 0x100000000ULL;  // CLONE_CLEAR_SIGHAND, Linux 5.5
constexpr long kSysClone3 = 435;

// clone3 with the child running fn(arg) on the stack the record gives and
// ending with its result; the child's pid, or -errno. The child starts on
// an empty stack, so it is called from here, in registers only.
__attribute__((no_sanitize("address", "undefined"), noinline)) long Clone3(CloneArgs *args, int (*fn)(void *),
                                                                           void *arg) {
  long result;
  register int (*child_fn)(void *) __asm__("r12") = fn;
  register void *child_arg __asm__("r13") = arg;
  __asm__ volatile(
      "syscall\n\t"
      "test %%rax, %%rax\n\t"
      "jnz 1f\n\t"
      "mov %%r13, %%rdi\n\t"
      "call *%%r12\n\t"
      "mov %%eax, %%edi\n\t"
      "mov $231, %%eax\n\t" /* exit_group */
      "syscall\n\t"
      "hlt\n\t"
      "1:\n\t"
      : "=a"(result)
      : "a"(kSysClone3), "D"(args), "S"(sizeof *args), "r"(child_fn), "r"(child_arg)
      : "rcx", "r11", "memory");
  return result;
}
#endif

// Starts the child without waiting for it: a process sharing our memory on a
// stack of its own until its exec (no copy of our page tables, unlike fork),
// its block freed by a later start once the kernel has marked it done.
// Returns the pid, or -1.
pid_t Launch(const SpawnRequest &req, std::vector<std::string> &argv, std::vector<std::string> &env) {
  auto block = std::make_unique<LaunchBlock>();
  block->argv = std::move(argv);
  block->env = std::move(env);
  block->argv_ptrs = Pointers(block->argv);
  block->env_ptrs = Pointers(block->env);
  block->program = req.program;
  block->directory = req.directory ? req.directory : "";
  std::copy(std::begin(req.std_fds), std::end(req.std_fds), block->std_fds);
  block->detached = req.detached;
  block->inherit = req.inherit;
  block->stack = std::make_unique_for_overwrite<char[]>(kLaunchStack);
  block->program_path = block->program.c_str();
  block->directory_path = block->directory.empty() ? nullptr : block->directory.c_str();
  block->argv_vector = block->argv_ptrs.data();
  block->env_vector = block->env_ptrs.data();
  std::lock_guard guard(g_launch_lock);
  std::erase_if(g_launches, [](const auto &done) { return __atomic_load_n(&done->running, __ATOMIC_ACQUIRE) == 0; });
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);  // none of our handlers runs in the child
#if defined(__x86_64__)
  char *top = block->stack.get() + kLaunchStack;
  top -= reinterpret_cast<uintptr_t>(top) % 16;
  // clone3 resets our handlers in the child itself (ignored signals stay
  // ignored, as through exec), which spares the child 64 system calls; a
  // kernel without it gets the plain clone.
  CloneArgs args{};
  args.flags = CLONE_VM | CLONE_CHILD_CLEARTID | kCloneClearSighand;
  args.child_tid = reinterpret_cast<std::uint64_t>(&block->running);
  args.exit_signal = SIGCHLD;
  args.stack = reinterpret_cast<std::uint64_t>(block->stack.get());
  args.stack_size = static_cast<std::uint64_t>(top - block->stack.get());
  block->handlers_cleared = true;
  long started = Clone3(&args, LaunchChild, block.get());
  if (started == -ENOSYS || started == -EINVAL || started == -E2BIG) {
    block->handlers_cleared = false;
    started = ::clone(LaunchChild, top, CLONE_VM | CLONE_CHILD_CLEARTID | SIGCHLD, block.get(), nullptr, nullptr,
                      &block->running);
  } else if (started < 0) {
    errno = static_cast<int>(-started);
    started = -1;
  }
  const pid_t pid = static_cast<pid_t>(started);
#else
#error "the process launcher's child is written for x86-64 system calls"
#endif
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid > 0) g_launches.push_back(std::move(block));
  return pid;
}

// Starts the child; returns its pid and a pidfd, or 0 with error set.
pid_t Spawn(const SpawnRequest &req, int &pidfd, DWORD &error) {
  std::vector<std::string> argv = SplitCommandLine(req.command_line);
  std::vector<std::string> env = ChildEnvironment(req.environment, req.command_line, req.show);
  if (req.as_user) {
    std::vector<char *> argv_ptrs = Pointers(argv);
    std::vector<char *> env_ptrs = Pointers(env);
    const pid_t pid = SpawnAsUser(req, argv_ptrs.data(), env_ptrs.data(), error);
    if (pid != 0) pidfd = PidfdOpen(pid);
    return pid;
  }

  if (const DWORD image_error = ImageError(req.program)) {
    error = image_error;
    return 0;
  }
  // The caller goes on as soon as the child exists instead of waiting,
  // blocked, until the child has been scheduled and reached exec (a
  // super-server starting a daemon per connection waited there longest when
  // the machine was busy). The image was checked above, so what is left to
  // fail at exec is rare; the child then ends at once with 127.
  const pid_t pid = Launch(req, argv, env);
  if (pid < 0) {
    error = ERROR_NOT_ENOUGH_MEMORY;  // no process to be had (the user's process limit)
    return 0;
  }
  // Until the reaper collects it the child is at worst a zombie, so its
  // pidfd can always be had.
  pidfd = PidfdOpen(pid);
  return pid;
}

bool IsZombieOrGone(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);  // no stdio buffer: OpenProcess is on every hand-over
  if (fd < 0) return true;
  char buf[512]{};
  const ssize_t got = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  const size_t n = got > 0 ? static_cast<size_t>(got) : 0;
  const char *close_paren = nullptr;
  for (size_t i = n; i > 0; --i)
    if (buf[i - 1] == ')') {
      close_paren = buf + i - 1;
      break;
    }
  if (!close_paren || close_paren[1] != ' ') return false;
  const char state = close_paren[2];
  return state == 'Z' || state == 'X';
}

uid_t OwnerOf(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d", static_cast<int>(pid));
  struct stat st {};
  return ::stat(path, &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

}  // namespace

ProcessObject::ProcessObject(pid_t pid, int pidfd, std::shared_ptr<ChildRecord> child, DWORD access)
    : KernelObject(ObjectKind::Process), pid_(pid), pidfd_(pidfd), child_(std::move(child)), access_(access) {}

ProcessObject::~ProcessObject() {
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool ProcessObject::Running() const {
  if (child_) return !child_->exited;
  if (pid_ == ::getpid()) return true;
  pollfd p{pidfd_, POLLIN, 0};
  return ::poll(&p, 1, 0) == 0;
}

bool ProcessObject::TryAcquire() {
  // A process stays signalled once it has ended; nothing is taken.
  if (child_ && !child_->exited) {
    pollfd p{pidfd_, POLLIN, 0};
    if (::poll(&p, 1, 0) == 0) return false;
    // Ended: the reaper, woken by the same end, collects it at once; the
    // exit code is there for the caller when this returns.
    WaitCollected(child_, 200);
    return true;
  }
  return !Running();
}

bool IsCurrentProcessHandle(HANDLE h) { return reinterpret_cast<intptr_t>(h) == kCurrentProcessPseudo; }

std::shared_ptr<ProcessObject> OpenProcessObject(pid_t pid, DWORD access, DWORD &error) {
  if (pid <= 0 || IsZombieOrGone(pid)) {
    error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  const int fd = PidfdOpen(pid);
  if (fd < 0) {
    error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  return std::make_shared<ProcessObject>(pid, fd, FindChild(pid), access);
}

std::shared_ptr<ProcessObject> ProcessFromHandle(HANDLE h) {
  if (IsCurrentProcessHandle(h)) {
    static std::shared_ptr<ProcessObject> self = [] {
      DWORD error;
      return OpenProcessObject(::getpid(), PROCESS_ALL_ACCESS, error);
    }();
    return self;
  }
  auto process = Lookup<ProcessObject>(h, ObjectKind::Process);
  if (!process) SetLastError(ERROR_INVALID_HANDLE);
  return process;
}

}  // namespace qx

using namespace qx;

// The files part maps Windows paths (weak: a build may leave it out).
namespace qx {
bool HostPath(std::string_view path, std::string &host, DWORD &error) __attribute__((weak));
}  // namespace qx

namespace {

// The standard handles of STARTF_USESTDHANDLES: sockets (a handle below
// 0x10000 is a socket's descriptor) or none; false for any other handle.
bool StandardDescriptors(LPSTARTUPINFOA startup, SpawnRequest &req) {
  if (!startup || !(startup->dwFlags & STARTF_USESTDHANDLES)) return true;
  const HANDLE given[3] = {startup->hStdInput, startup->hStdOutput, startup->hStdError};
  for (int i = 0; i < 3; ++i) {
    if (!given[i] || given[i] == INVALID_HANDLE_VALUE) continue;
    const uintptr_t value = QX_HANDLE_VALUE(given[i]);
    if (value >= 0x10000 || ::fcntl(static_cast<int>(value), F_GETFD) < 0) return false;
    req.std_fds[i] = static_cast<int>(value);
  }
  return true;
}

// The user, primary group and groups a token names, as ids.
bool TokenIdentity(HANDLE token, uid_t &uid, gid_t &gid, std::vector<gid_t> &groups) {
  std::vector<unsigned char> buffer(4096);
  DWORD needed = 0;
  if (!GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) return false;
  if (!SidToUid(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, uid)) return Fail(ERROR_INVALID_PARAMETER);
  if (!GetTokenInformation(token, TokenPrimaryGroup, buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
    return false;
  if (!SidToGid(reinterpret_cast<TOKEN_PRIMARY_GROUP *>(buffer.data())->PrimaryGroup, gid))
    return Fail(ERROR_INVALID_PARAMETER);
  if (!GetTokenInformation(token, TokenGroups, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.resize(needed);
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
      return false;
  }
  const auto *list = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
  groups.clear();
  for (DWORD i = 0; i < list->GroupCount; ++i) {
    gid_t g = 0;
    if (SidToGid(list->Groups[i].Sid, g)) groups.push_back(g);
  }
  return true;
}

BOOL StartProcess(LPCSTR application, LPCSTR command_line, BOOL inherit, DWORD flags, LPVOID environment,
                  LPCSTR directory, int show, LPPROCESS_INFORMATION info, SpawnRequest req = {}) {
  // Sockets offered for this start never outlive it: a start that fails early drops them.
  struct DropOffers {
    ~DropOffers() { AttachOfferedSockets(nullptr); }
  } drop_offers;
  std::string line = command_line ? command_line : (application ? application : "");
  if (line.empty() && !application) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (flags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  DWORD error = 0;
  req.program = ResolveProgram(application ? std::string(application) : ProgramWord(line), error);
  // A Windows system program ("NOTEPAD file", "DOSPRMPT.PIF"): the desktop's own.
  if (req.program.empty() && !application && error == ERROR_FILE_NOT_FOUND) {
    std::string host_line;
    if (SystemProgramCommand(line, req.program, host_line)) line = host_line;
  }
  if (req.program.empty()) {
    SetLastError(error);
    return FALSE;
  }
  req.command_line = line;
  req.detached = (flags & DETACHED_PROCESS) != 0;
  req.inherit = inherit != FALSE;
  req.show = show;
  req.environment = static_cast<const char *>(environment);
  // The directory is a Windows path ("C:\\work"); the child starts in its host directory.
  std::string host_directory;
  if (directory && *directory) {
    DWORD dir_error = 0;
    if (!HostPath || !HostPath(directory, host_directory, dir_error)) host_directory = directory;
    struct stat st {};
    if (::stat(host_directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
    req.directory = host_directory.c_str();
  }
  // A child may ask for a socket of ours (DuplicateHandle) as soon as it runs:
  // be ready to lend it first.
  StartSocketLender();
  int pidfd = -1;
  std::shared_ptr<ChildRecord> child;
  pid_t pid = 0;
  {
    // The lender waits for this lock, so a quick child never asks before it is registered.
    std::shared_lock spawning(SpawnLock());
    pid = Spawn(req, pidfd, error);
    if (pid != 0 && pidfd >= 0) child = RegisterChild(pid, ::fcntl(pidfd, F_DUPFD_CLOEXEC, 3));
    AttachOfferedSockets(child.get());  // the offers go to this child, or nowhere
  }
  if (pid == 0) {
    SetLastError(error);
    return FALSE;
  }
  Trace("CreateProcess %d: %s", static_cast<int>(pid), line.c_str());
  if (info) {
    auto process = std::make_shared<ProcessObject>(pid, pidfd, child, PROCESS_ALL_ACCESS);
    info->hProcess = InsertHandle(process);
    info->hThread = InsertHandle(std::make_shared<ProcessThreadObject>(process));
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
  } else if (pidfd >= 0) {
    ::close(pidfd);
  }
  return TRUE;
}

}  // namespace

extern "C" {

WINBASEAPI BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES,
                                      LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags, LPVOID environment,
                                      LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  const int show = (startup && (startup->dwFlags & STARTF_USESHOWWINDOW)) ? startup->wShowWindow : -1;
  SpawnRequest req;
  if (!StandardDescriptors(startup, req)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return StartProcess(application, command_line, inherit, flags, environment, directory, show, info, req);
}

// The child runs as the token's user, with its primary group and groups.
// Only root may start a process as someone else.
WINBASEAPI BOOL WINAPI CreateProcessAsUserA(HANDLE token, LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES,
                                            LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags, LPVOID environment,
                                            LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  SpawnRequest req;
  if (!TokenIdentity(token, req.uid, req.gid, req.groups)) return FALSE;
  if (req.uid != ::geteuid() && ::geteuid() != 0) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  req.as_user = true;
  if (!StandardDescriptors(startup, req)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const int show = (startup && (startup->dwFlags & STARTF_USESHOWWINDOW)) ? startup->wShowWindow : -1;
  return StartProcess(application, command_line, inherit, flags, environment, directory, show, info, req);
}

// Success is a value above 31; failures are the small codes of WinExec.
WINBASEAPI UINT WINAPI WinExec(LPCSTR command_line, UINT show) {
  if (!command_line) return ERROR_FILE_NOT_FOUND;
  PROCESS_INFORMATION info{};
  if (!StartProcess(nullptr, command_line, FALSE, 0, nullptr, nullptr, static_cast<int>(show), &info)) {
    const DWORD e = GetLastError();
    if (e == ERROR_PATH_NOT_FOUND) return 3;
    if (e == ERROR_ACCESS_DENIED) return 5;
    if (e == 193) return 11;  // not a program
    if (e == ERROR_NOT_ENOUGH_MEMORY) return 0;
    return 2;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 33;
}

WINBASEAPI HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD pid) {
  DWORD error = 0;
  constexpr DWORD kOwnerOnly = PROCESS_DUP_HANDLE | PROCESS_TERMINATE | PROCESS_VM_READ | PROCESS_VM_WRITE |
                               PROCESS_VM_OPERATION | PROCESS_CREATE_THREAD | PROCESS_SET_INFORMATION;
  if (pid == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Another user's process is not ours to take handles from or to end.
  if ((access & kOwnerOnly) && ::geteuid() != 0 && OwnerOf(static_cast<pid_t>(pid)) != ::geteuid()) {
    SetLastError(IsZombieOrGone(static_cast<pid_t>(pid)) ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto process = OpenProcessObject(static_cast<pid_t>(pid), access, error);
  if (!process) {
    SetLastError(error);
    return nullptr;
  }
  HANDLE h = InsertHandle(process);
  if (!h) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return h;
}

WINBASEAPI HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(kCurrentProcessPseudo); }
WINBASEAPI DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

WINBASEAPI BOOL WINAPI GetExitCodeProcess(HANDLE h, LPDWORD code) {
  auto process = ProcessFromHandle(h);
  if (!process) return FALSE;
  if (!code) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (process->child()) {
    if (!process->child()->exited) process->TryAcquire();  // ended but not yet collected?
    *code = process->child()->exited ? process->child()->exit_code.load() : STILL_ACTIVE;
    return TRUE;
  }
  // Not our child: whether it runs is known, its exit code is not.
  *code = process->Running() ? STILL_ACTIVE : 0;
  return TRUE;
}

WINBASEAPI BOOL WINAPI TerminateProcess(HANDLE h, UINT exit_code) {
  if (IsCurrentProcessHandle(h)) {
    std::fflush(nullptr);
    ::_exit(static_cast<int>(exit_code & 0xff));
  }
  auto process = ProcessFromHandle(h);
  if (!process) return FALSE;
  if (!(process->access() & PROCESS_TERMINATE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!process->Running()) {
    SetLastError(ERROR_ACCESS_DENIED);  // as Win32 answers for an ended process
    return FALSE;
  }
  if (process->child() && !process->child()->exited) {
    process->child()->exit_code = exit_code;
    process->child()->terminated = true;
  }
  if (PidfdSendSignal(process->pidfd(), SIGKILL) != 0) {
    return qx::Fail(qx::ErrorFromErrno(errno, qx::HostCall::Signal));
  }
  return TRUE;
}

WINBASEAPI void WINAPI ExitProcess(UINT exit_code) {
  std::fflush(nullptr);
  std::exit(static_cast<int>(exit_code & 0xff));
}

}  // extern "C"
