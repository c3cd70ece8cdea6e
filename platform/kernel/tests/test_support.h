// Test support shared by the kernel and USER tests: a private runtime
// directory for the whole test program, and helper processes with a pipe on
// their standard output, always reaped.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qxtest {

// Set before the first call into the layer reads QX_RUNTIME_DIR; helpers
// inherit it, so parent and helper share the same objects and windows.
struct PrivateRuntime {
  std::string dir;
  PrivateRuntime() {
    char tmpl[] = "/tmp/qx-test-rt-XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
    setenv("QX_RUNTIME_DIR", dir.c_str(), 1);
  }
  ~PrivateRuntime() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// Where the helper programs are: QX_BIN_DIR under CTest, else beside the test.
inline std::string BinDir() {
  if (const char *d = std::getenv("QX_BIN_DIR")) return d;
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

// A helper process; killed and reaped when the object goes away.
class Child {
 public:
  explicit Child(const std::vector<std::string> &argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      std::vector<char *> args;
      for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait(5000);
    }
    if (out_ >= 0) close(out_);
  }
  pid_t pid() const { return pid_; }

  // One line of the helper's output, or "" after timeout_ms or at its end.
  std::string ReadLine(int timeout_ms = 10000) {
    std::string line;
    for (;;) {
      auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) <= 0) return "";
      char buf[256];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return "";
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }

  // Exit status after the helper ended within timeout_ms; -1 if it did not.
  int Wait(int timeout_ms = 10000) {
    for (int waited = 0; pid_ > 0; waited += 10) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (waited >= timeout_ms) return -1;
      usleep(10000);
    }
    return -1;
  }

  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
};

}  // namespace qxtest
