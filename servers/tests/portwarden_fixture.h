// What the super-server's tests share: a private portwarden per test (its
// own directories, event log and ports), its table through pwtable, its
// events, its daemons, and the small clients that talk to it.
#pragma once

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "qxtest/support.h"

namespace pwtest {

using qxtest::BinDir;
using qxtest::ReadFile;

inline bool WaitFor(const std::function<bool()> &condition, int ms) { return qxtest::WaitUntil(condition, ms); }

using qxtest::Shell;

inline int TcpConnect(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons((uint16_t)port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{2, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (connect(s, (sockaddr *)&to, sizeof to) != 0) {
    close(s);
    return -1;
  }
  return s;
}

inline std::string ReadLine(int s) {
  std::string line;
  char c;
  while (recv(s, &c, 1, 0) == 1 && c != '\n') line += c;
  return line;
}

// One private super-server: its own directories, event log and ports.
class PortwardenTest : public ::testing::Test {
 protected:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool captureErrors_ = false; /* the service's standard error goes to Errors() */

  void SetUp() override {
    char pattern[] = "/tmp/qx-servers-XXXXXX";
    dir_ = mkdtemp(pattern);
    setenv("QX_HOME", (dir_ + "/home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (dir_ + "/machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    setenv("QX_EVENTLOG_FILE", (dir_ + "/events.txt").c_str(), 1);
    setenv("QX_WINDOWS_DIR", dir_.c_str(), 1);
    setenv("QX_TEST_DAEMON_IDLE_MS", "700", 1);
    unsetenv("QX_TEST_HANDOVER_MS");
    port_ = 20000 + (int)(getpid() % 2000) * 10;
  }

  void TearDown() override {
    Stop();
    KillDaemons();
    Shell("rm -rf '" + dir_ + "'");
  }

  void Table(const std::string &arguments) {
    int status = 0;
    std::string out = Shell("cd '" + dir_ + "' && '" + BinDir() + "/pwtable' " + arguments + " 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
  }

  // `files`, when given, is the service's limit of open descriptors.
  void Start(rlim_t files = 0) {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      if (captureErrors_) {
        int errors = open((dir_ + "/portwarden.err").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (errors >= 0) dup2(errors, 2);
      }
      rlimit limit{};
      getrlimit(RLIMIT_NOFILE, &limit);
      limit.rlim_cur = files;  // the hard limit stays, so the test can raise it again
      if (files && setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
      execl((BinDir() + "/portwarden").c_str(), "portwarden", (char *)nullptr);
      _exit(127);
    }
    ASSERT_GT(pid_, 0);
  }

  std::string Errors() { return ReadFile(dir_ + "/portwarden.err"); }

  void Stop() {
    qxtest::StopProcess(pid_);
    pid_ = -1;
  }

  // Every process started with this test's runtime directory: the daemons.
  void KillDaemons() { qxtest::KillProcessesOfRuntime(dir_ + "/run"); }

  // Processes of this test's runtime directory whose program is `name`.
  std::vector<pid_t> DaemonPids(const std::string &name) {
    std::vector<pid_t> pids;
    std::string mark = "QX_RUNTIME_DIR=" + dir_ + "/run";
    DIR *proc = opendir("/proc");
    while (dirent *e = proc ? readdir(proc) : nullptr) {
      pid_t pid = atoi(e->d_name);
      if (pid <= 0 || pid == getpid() || pid == pid_) continue;
      std::string environ = ReadFile("/proc/" + std::to_string(pid) + "/environ");
      std::string comm = ReadFile("/proc/" + std::to_string(pid) + "/comm");
      if ((environ + '\0').find(mark + '\0') != std::string::npos && comm == name + "\n") pids.push_back(pid);
    }
    if (proc) closedir(proc);
    return pids;
  }

  std::string Pwtable(const std::string &arguments, int *status) {
    return Shell("cd '" + dir_ + "' && '" + BinDir() + "/pwtable' " + arguments + " 2>&1", status);
  }

  int Events(int id, const std::string &text = "") {
    std::istringstream in(ReadFile(dir_ + "/events.txt"));
    std::string line;
    int count = 0;
    while (std::getline(in, line))
      if (line.find(" id=" + std::to_string(id) + " ") != std::string::npos && line.find(text) != std::string::npos)
        count++;
    return count;
  }

  bool WaitEvents(int id, int count, int ms = 5000, const std::string &text = "") {
    return WaitFor([&] { return Events(id, text) >= count; }, ms);
  }
};

}  // namespace pwtest
