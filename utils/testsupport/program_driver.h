// What the utilities' program tests share: a program of the suite started in
// the test's runtime directory and driven through the layer's automation
// socket (the commands of `qxauto`), its message boxes (written on standard error by the headless
// layer) kept in a file, and the text of its output window read back by
// selecting everything and copying it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qxtest/support.h"

namespace utiltest {

// A network and (optionally) mount namespace of the test's own, a scratch tree
// for the layer (home, machine, runtime) and the headless display with the
// automation channel on; the process works in "work" under the tree.
void EnterTestWorld(bool ownMountNamespace);
// The scratch tree of EnterTestWorld.
std::string WorldDir();

// Runs a shell command: its output, or "FAILED: " with the command and its
// output when it exits non-zero. MustRun fails the test in the second case.
std::string Sh(const std::string &command);
void MustRun(const std::string &command);

// Kills every other process in the test's own network namespace (servers
// that fork and clear their environment, like lpd), then reaps what it can.
void KillOthersInOwnNetworkNamespace();

// One automation command (as qxauto takes it) to process pid, sent from this
// process: "ok" for a bare ok, the value after "ok " (several lines for
// lists), or "error ..." (the program's, or "error connect" when it has no
// automation socket).
std::string Auto(pid_t pid, const std::string &args);
// The same with each word passed whole (a title with blanks is one word).
std::string AutoWords(pid_t pid, const std::vector<std::string> &words);
bool IsHandle(const std::string &answer);
// What a text output window (by its handle) shows: all of it selected, then copied.
std::string WindowShown(const std::string &window);
// True once something accepts TCP connections on 127.0.0.1:port.
bool PortOpen(int port);

// Debian's tshark on an interface (of a named network namespace, or the
// test's own when ns is empty) for the first ICMP echo request it sees, at
// most 60 s. Ready() once it captures; Fields() gives "TTL<TAB>IP length<TAB>
// the echo's data in hex" (no separators), "" when nothing came within ms.
class EchoRequestCapture {
 public:
  EchoRequestCapture(const std::string &ns, const std::string &interface);
  bool Ready() const { return ready_; }
  std::string Fields(int ms);

 private:
  std::unique_ptr<qxtest::Child> child_;
  bool ready_ = false;
};

class DrivenProgram {
 public:
  // Starts BinDir()/name (with its arguments) and waits for its top-level
  // window (class or "-", title).
  DrivenProgram(const std::string &name, const std::string &windowClass, const std::string &title,
                const std::vector<std::string> &args = {});
  pid_t pid() const { return child_->pid(); }
  const std::string &window() const { return window_; }
  std::string Errors() const;
  std::string Auto(const std::string &args) const { return utiltest::Auto(pid(), args); }
  // The handle of a dialog with this title once it is open ("" after 15 s).
  std::string AwaitDialog(const std::string &title) const;
  // Sets the text of the dialog's items, then presses the button.
  void Fill(const std::string &dialog, const std::vector<std::pair<int, std::string>> &items, int button) const;
  // Chooses a menu command as soon as it is offered (not greyed); false after 20 s.
  bool AwaitMenu(int id) const;
  // What the text output window shows: all of it selected, then copied.
  std::string Shown() const;
  // What the main window puts on the clipboard for WM_COPY.
  std::string Copied() const;
  // How many pixels of a picture of the main window have exactly this colour (0xRRGGBB).
  size_t PixelsOf(std::uint32_t rgb) const;
  // The exit code once the program ended within ms (-1 if it did not).
  int WaitExit(int ms) { return child_->Wait(ms); }
  // Cancels an open dialog of this title, chooses the Exit command; the exit code.
  int Exit(const std::string &dialogTitle, int exitCommand);

 private:
  std::string errors_;
  std::unique_ptr<qxtest::Child> child_;
  std::string window_;
};

}  // namespace utiltest
