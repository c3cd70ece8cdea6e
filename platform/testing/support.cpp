// Scratch folders, the private runtime, the headless display, files and waits.
#include "qxtest/support.h"

#include <windows.h>

#include <sys/stat.h>

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

bool WaitUntil(const std::function<bool()> &ready, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace qxtest
