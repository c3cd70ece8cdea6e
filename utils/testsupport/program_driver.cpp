// What the utilities' program tests share (see program_driver.h).
#include "program_driver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "qx/gdi.h"
#include "qxtest/automation.h"
#include "qxtest/netns.h"

namespace utiltest {
namespace {

namespace fs = std::filesystem;

qxtest::TempDir *g_world = nullptr;

std::string Bin(const std::string &name) { return qxtest::BinDir() + "/" + name; }

std::string ClipboardText() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE h = GetClipboardData(CF_TEXT)) {
    if (auto *p = static_cast<const char *>(GlobalLock(h))) text = p;
    GlobalUnlock(h);
  }
  CloseClipboard();
  return text;
}

void SetClipboardText(const std::string &text) {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    std::memcpy(GlobalLock(mem), text.c_str(), text.size() + 1);
    GlobalUnlock(mem);
    SetClipboardData(CF_TEXT, mem);
  }
  CloseClipboard();
}

}  // namespace

void EnterTestWorld(bool ownMountNamespace) {
  std::string error = qxtest::EnterOwnNetworkNamespace();
  ASSERT_TRUE(error.empty()) << error;
  if (ownMountNamespace) {
    error = qxtest::EnterOwnMountNamespace();
    ASSERT_TRUE(error.empty()) << error;
  }
  g_world = new qxtest::TempDir("qx-utils", 0755);
  for (const char *sub : {"home/drive_c/WINDOWS", "machine", "run", "work"}) fs::create_directories(*g_world / sub);
  fs::permissions(*g_world / "run", fs::perms::owner_all);
  setenv("QX_HOME", (*g_world / "home").c_str(), 1);
  setenv("QX_MACHINE_DIR", (*g_world / "machine").c_str(), 1);
  setenv("QX_RUNTIME_DIR", (*g_world / "run").c_str(), 1);
  setenv("QX_EVENTLOG_FILE", (*g_world / "events.txt").c_str(), 1);
  setenv("QX_CONSOLE_USER", "daemon", 1);
  setenv("QX_TEST_PUMP_IDLE_MS", "1500", 1);  // a silent server is given up quickly
  qxtest::UseHeadlessDisplay();
  setenv("QX_AUTOMATION", "1", 1);  // the programs are driven through it
  ASSERT_EQ(chdir((*g_world / "work").c_str()), 0);
}

std::string Sh(const std::string &command) {
  std::string out;
  if (FILE *p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) return "FAILED: " + command + "\n" + out;
  }
  return out;
}

void MustRun(const std::string &command) {
  const std::string out = Sh(command);
  ASSERT_EQ(out.rfind("FAILED", 0), std::string::npos) << out;
}

void KillOthersInOwnNetworkNamespace() {
  std::error_code ec;
  const fs::path own = fs::read_symlink("/proc/self/ns/net", ec);
  if (ec) return;
  for (const auto &entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::atoi(name.c_str()));
    std::error_code e;
    if (pid == getpid() || fs::read_symlink(entry.path() / "ns/net", e) != own || e) continue;
    kill(pid, SIGKILL);
  }
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

std::string WorldDir() { return g_world ? g_world->path() : ""; }

namespace {

// One command line straight to the program's automation socket (a process
// start for each command, as qxauto is, costs seconds on a loaded machine):
// "ok" for a bare ok, the value after "ok ", else the error as answered.
std::string Ask(pid_t pid, const std::string &line) {
  std::string answer = qxtest::AutomationCommand(static_cast<int>(pid), line);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  if (answer == "ok") return answer;
  return answer.rfind("ok", 0) == 0 ? answer.substr(3) : answer;
}

}  // namespace

std::string Auto(pid_t pid, const std::string &args) {
  // The words of args, one blank apart, as a command line gives them.
  std::string line;
  for (size_t at = args.find_first_not_of(" \t\n"); at != std::string::npos;) {
    const size_t end = args.find_first_of(" \t\n", at);
    line += (line.empty() ? "" : " ") + args.substr(at, end - at);
    at = end == std::string::npos ? end : args.find_first_not_of(" \t\n", end);
  }
  return Ask(pid, line);
}

std::string AutoWords(pid_t pid, const std::vector<std::string> &words) {
  std::string line;
  for (const std::string &word : words)
    if (!word.empty()) line += (line.empty() ? "" : " ") + word;
  return Ask(pid, line);
}

bool IsHandle(const std::string &answer) { return answer.rfind("0x", 0) == 0; }

bool PortOpen(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
  close(s);
  return open;
}

EchoRequestCapture::EchoRequestCapture(const std::string &ns, const std::string &interface) {
  child_ = std::make_unique<qxtest::Child>(std::vector<std::string>{
      "/bin/sh", "-c",
      "exec ${1:+ip netns exec \"$1\"} tshark -n -l -i \"$0\" -f 'icmp[icmptype] == 8' -c 1 -a duration:60 "
      "-T fields -e ip.ttl -e ip.len -e data.data 2>&1",
      interface, ns});
  // tshark says "Capturing on" before its dumpcap has opened the interface,
  // and a request sent then is never seen; "Capture started." comes once
  // dumpcap captures with the filter in place.
  for (int i = 0; i < 8 && !ready_; ++i) ready_ = child_->ReadLine(15000).find("Capture started.") != std::string::npos;
}

std::string EchoRequestCapture::Fields(int ms) {
  for (std::string line; !(line = child_->ReadLine(ms)).empty();) {
    if (line.empty() || line[0] < '0' || line[0] > '9') continue;  // tshark's own remarks
    std::string fields;
    for (char c : line)
      if (c != ':') fields += c;
    return fields;
  }
  return "";
}

DrivenProgram::DrivenProgram(const std::string &name, const std::string &windowClass, const std::string &title,
                             const std::vector<std::string> &args)
    : errors_(WorldDir() + "/" + name + ".err") {
  std::vector<std::string> argv = {"/bin/sh", "-c", "e=$1; shift; exec \"$0\" \"$@\" 2>\"$e\"", Bin(name), errors_};
  argv.insert(argv.end(), args.begin(), args.end());
  child_ = std::make_unique<qxtest::Child>(argv);
  qxtest::WaitUntil([&] { return IsHandle(window_ = AutoWords(pid(), {"find", windowClass, title})); }, 15000);
}

std::string DrivenProgram::Errors() const { return qxtest::ReadFile(errors_); }

std::string DrivenProgram::AwaitDialog(const std::string &title) const {
  std::string dialog;
  return qxtest::WaitUntil(
             [&] {
               // Dialogs only: a main window whose caption differs only in case
               // ("lpq") matches the title too, and has none of the dialog's items.
               return IsHandle(dialog = AutoWords(pid(), {"find", "#32770", title}));
             },
             15000)
             ? dialog
             : "";
}

void DrivenProgram::Fill(const std::string &dialog, const std::vector<std::pair<int, std::string>> &items,
                         int button) const {
  for (const auto &[id, text] : items)
    EXPECT_EQ(Auto("settext " + Auto("item " + dialog + " " + std::to_string(id)) + " " + text), "ok") << id;
  EXPECT_EQ(Auto("press " + Auto("item " + dialog + " " + std::to_string(button))), "ok");
}

bool DrivenProgram::AwaitMenu(int id) const {
  return qxtest::WaitUntil([&] { return Auto("menu " + window_ + " " + std::to_string(id)) == "ok"; }, 20000);
}

std::string WindowShown(const std::string &window) {
  const std::string marker = "<nothing copied>";
  SetClipboardText(marker);
  HWND w = reinterpret_cast<HWND>(std::strtoul(window.c_str(), nullptr, 0));
  // From above the first cell to past the last: everything the window holds.
  PostMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, 0));
  PostMessageA(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(32000, 32000));
  PostMessageA(w, WM_LBUTTONUP, 0, MAKELPARAM(32000, 32000));
  PostMessageA(w, WM_COPY, 0, 0);
  std::string text = marker;
  qxtest::WaitUntil([&] { return (text = ClipboardText()) != marker; }, 10000);
  return text;
}

std::string DrivenProgram::Shown() const { return WindowShown(window_); }

std::string DrivenProgram::Copied() const {
  const std::string marker = "<nothing copied>";
  SetClipboardText(marker);
  PostMessageA(reinterpret_cast<HWND>(std::strtoul(window_.c_str(), nullptr, 0)), WM_COPY, 0, 0);
  std::string text = marker;
  qxtest::WaitUntil([&] { return (text = ClipboardText()) != marker; }, 10000);
  return text;
}

size_t DrivenProgram::PixelsOf(std::uint32_t rgb) const {
  const std::string png = WorldDir() + "/window.png";
  if (Auto("png " + window_ + " " + png) != "ok") return 0;
  qx::gdi::Surface shot;
  if (!qx::gdi::ReadPng(png, shot)) return 0;
  size_t count = 0;
  for (std::uint32_t px : shot.px)
    if ((px & 0xFFFFFF) == rgb) ++count;
  return count;
}

int DrivenProgram::Exit(const std::string &dialogTitle, int exitCommand) {
  const std::string dialog = AutoWords(pid(), {"find", "-", dialogTitle});
  if (IsHandle(dialog)) Auto("press " + Auto("item " + dialog + " 2"));
  AwaitMenu(exitCommand);
  return child_->Wait(10000);
}

}  // namespace utiltest
