// Scratch folders, the private runtime, the headless display, files and waits.
#include "qxtest/support.h"

#include <windows.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace qxtest {

TempDir::TempDir(const std::string &prefix, mode_t mode) {
  std::string name = "/tmp/" + prefix + "-XXXXXX";
  if (!mkdtemp(name.data())) return;
  path_ = name;
  if (mode != 0700) chmod(path_.c_str(), mode);
}

TempDir::~TempDir() {
  if (path_.empty() || std::getenv("QX_KEEP_TEST_FILES")) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

PrivateRuntime::PrivateRuntime() {
  if (!dir_.path().empty()) setenv("QX_RUNTIME_DIR", dir_.path().c_str(), 1);
}

void UseHeadlessDisplay() {
  unsetenv("DISPLAY");
  setenv("QX_DISPLAY", "headless", 1);
  setenv("QX_AUTOMATION", "0", 1);
  unsetenv("QX_MSGBOX");
  unsetenv("QX_MSGBOX_ANSWER");
}

HeadlessDisplay::HeadlessDisplay() { UseHeadlessDisplay(); }

ScratchDir::ScratchDir(const std::string &prefix) : dir_(prefix) {
  std::error_code ec;
  previous_ = std::filesystem::current_path(ec);
  std::filesystem::current_path(dir_.path(), ec);
  SetCurrentDirectoryA(dir_.path().c_str());  // the layer keeps its own current directory
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  SetCurrentDirectoryA(previous_.c_str());
}

std::string BinDir() {
  if (const char *d = std::getenv("QX_BIN_DIR")) return d;
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string SourceDir() {
  const char *s = std::getenv("QX_TEST_SOURCE_DIR");
  return s ? s : ".";
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string Shell(const std::string &command, int *exit_status) {
  std::string out;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (exit_status) *exit_status = -1;
    return "cannot run " + command;
  }
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int rc = pclose(pipe);
  if (exit_status) *exit_status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool WaitUntil(const std::function<bool()> &ready, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void StopProcess(pid_t pid, int timeout_ms) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (!WaitUntil([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, timeout_ms)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

void KillProcessesOfRuntime(const std::string &runtime_dir) {
  const std::string mark = "QX_RUNTIME_DIR=" + runtime_dir;
  DIR *proc = opendir("/proc");
  while (dirent *e = proc ? readdir(proc) : nullptr) {
    pid_t pid = atoi(e->d_name);
    if (pid <= 0 || pid == getpid()) continue;
    // The environment is NUL-separated: the mark must be a whole entry.
    std::string environ = ReadFile("/proc/" + std::to_string(pid) + "/environ");
    if (('\0' + environ + '\0').find('\0' + mark + '\0') != std::string::npos) kill(pid, SIGKILL);
  }
  if (proc) closedir(proc);
}

}  // namespace qxtest
