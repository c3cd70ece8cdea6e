// Private QX_HOME, QX_MACHINE_DIR and QX_RUNTIME_DIR for one test process,
// made before the layer first reads them and removed at exit; plus helpers to
// run the suite's programs and read files.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace advapi_test {

class PrivateDirs {
 public:
  PrivateDirs() {
    char tmpl[] = "/tmp/qx-advapi-XXXXXX";
    root_ = mkdtemp(tmpl);
    setenv("QX_HOME", (root_ + "/home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (root_ + "/machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    setenv("QX_EVENTLOG_FILE", (root_ + "/events.log").c_str(), 1);
    setenv("QX_SERVICE_START_TIMEOUT_MS", "15000", 1);
  }
  ~PrivateDirs() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  const std::string &root() const { return root_; }

 private:
  std::string root_;
};

inline PrivateDirs &Dirs() {
  static PrivateDirs dirs;
  return dirs;
}

inline std::string BinDir() {
  const char *d = std::getenv("QX_BIN_DIR");
  return d ? d : ".";
}

// Starts a program of the build (argv[0] names it) and returns its pid.
inline pid_t Spawn(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  std::string path = BinDir() + "/" + args[0];
  argv.push_back(path.data());
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char *>(args[i].c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return pid;
}

inline int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int RunTool(const std::vector<std::string> &args) {
  pid_t pid = Spawn(args);
  return pid ? Wait(pid) : -1;
}

// Runs a program and returns what it wrote on standard output.
inline std::string Capture(const std::vector<std::string> &args, int *exit_code = nullptr) {
  const std::string out = Dirs().root() + "/capture.txt";
  std::string line = "'" + BinDir() + "/" + args[0] + "'";
  for (size_t i = 1; i < args.size(); ++i) {
    std::string quoted;
    for (char c : args[i]) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += " '" + quoted + "'";
  }
  int rc = std::system((line + " > '" + out + "'").c_str());
  if (exit_code) *exit_code = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  std::ifstream in(out, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace advapi_test
