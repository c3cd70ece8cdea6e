// What the tests share: scratch folders, a private runtime directory for the
// layer's objects and windows, the headless display, files read and written
// whole, waits with a deadline, and helper processes that are always reaped.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qxtest {

// A fresh folder under /tmp named <prefix>-XXXXXX with the given mode (0755
// when another account, a server under test, must read it), removed with its
// contents when the object goes (kept when QX_KEEP_TEST_FILES is set).
class TempDir {
 public:
  explicit TempDir(const std::string &prefix = "qx-test", mode_t mode = 0700);
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The layer's runtime objects (named objects, windows, endpoints) in a folder
// of this test program's own. Made before the first call into the layer reads
// QX_RUNTIME_DIR; helper processes inherit it, so they meet the test's objects
// and no other test's.
class PrivateRuntime {
 public:
  PrivateRuntime();
  const std::string &dir() const { return dir_.path(); }

 private:
  TempDir dir_{"qx-test-rt"};
};

// Windows draw headless into memory, the automation channel is off and
// message boxes go to the program's own hooks, not to an answer from the
// environment. Sets the environment only; see HeadlessDisplay.
void UseHeadlessDisplay();

// The headless display in a private runtime: one test program never meets
// another's windows or clipboard.
class HeadlessDisplay {
 public:
  HeadlessDisplay();

 private:
  PrivateRuntime runtime_;
};

// A scratch folder the process works in while the object lives (both the C
// library's and the layer's current directory); the previous one comes back.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string &prefix = "qx-scratch");
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::filesystem::path dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::filesystem::path previous_;
};

// Where the programs and helpers are: QX_BIN_DIR under CTest, else beside the
// test program.
std::string BinDir();
// The source tree (QX_TEST_SOURCE_DIR under CTest, else ".").
std::string SourceDir();

// A whole file's bytes ("" when it cannot be read), and a file written whole.
std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &bytes);

// Runs a command through the shell and gives its standard output; its exit
// status goes to *exit_status when given (-1 when it did not exit normally).
std::string Shell(const std::string &command, int *exit_status = nullptr);

// True once ready() holds, looking again every few milliseconds; false when
// timeout_ms passed first.
bool WaitUntil(const std::function<bool()> &ready, int timeout_ms);

// Ends a child of this test: SIGTERM, then SIGKILL when it has not ended within
// timeout_ms; reaped either way.
void StopProcess(pid_t pid, int timeout_ms = 5000);

// Kills every process started with QX_RUNTIME_DIR=runtime_dir in its
// environment: what a test's service or super-server left running.
void KillProcessesOfRuntime(const std::string &runtime_dir);

// A helper process with its standard output on a pipe; killed and reaped when
// the object goes away.
class Child {
 public:
  explicit Child(const std::vector<std::string> &argv);
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  pid_t pid() const { return pid_; }

  // One line of the helper's output, or "" after timeout_ms or at its end.
  std::string ReadLine(int timeout_ms = 10000);
  // Exit status once the helper ended within timeout_ms (128 + signal when a
  // signal ended it); -1 if it did not end.
  int Wait(int timeout_ms = 10000);
  void Kill();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int pidfd_ = -1;
  std::string buffer_;
};

}  // namespace qxtest
