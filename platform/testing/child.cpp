// Helper processes of the tests: output on a pipe, an end waited for through a
// process descriptor, never left behind.
#include "qxtest/support.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace qxtest {

Child::Child(const std::vector<std::string> &argv) {
  int fds[2];
  if (argv.empty() || pipe2(fds, O_CLOEXEC) != 0) return;
  std::vector<char *> args;
  for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 1);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return;
  }
  out_ = fds[0];
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait(5000);
  }
  if (out_ >= 0) close(out_);
  if (pidfd_ >= 0) close(pidfd_);
}

std::string Child::ReadLine(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "";
    char buf[256];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return "";
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

int Child::Wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (r < 0 && errno != EINTR) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return -1;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left));  // readable once the process has ended
    } else {
      usleep(10000);
    }
  }
}

void Child::Kill() {
  if (pid_ > 0) kill(pid_, SIGKILL);
}

}  // namespace qxtest
