// Test automation from another process: each process with a display listens
// on a Unix socket "auto-<pid>.sock" in the runtime directory (owner-only) for
// one-line commands, and answers "ok ..." or "error ...". Keys and clicks go
// through the same input path as the SDL2 driver's events.
//
//   list                          top-level windows: "hwnd class|title" per line
//   find CLASS TITLE              hwnd of a top-level window ("-" matches any)
//   text HWND                     the window's text
//   type HWND TEXT                focus the window and type the text
//   key HWND SCAN EXT UP|DOWN     one physical key
//   click HWND X Y [left|right|middle|double]   click at a client point
//   drag HWND X Y HWND2 X2 Y2     press the left button at a client point of
//                                 one window, move to a point of another
//                                 (or the same) in steps, release there
//   scroll HWND v|h CODE [POS]    WM_VSCROLL/WM_HSCROLL as a scroll bar sends it
//                                 (a scroll bar control: to its parent)
//   png HWND PATH                 save the window (frame included) as PNG
//   answer ID                     answer the open message box (IDOK=1, IDYES=6, ...)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <future>
#include <sstream>
#include <string>
#include <thread>

#include "display_internal.h"
#include "qx/env.h"
#include "qx/unixsock.h"

namespace qx::display {
namespace {

HWND ParseHwnd(const std::string &s) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoul(s.c_str(), nullptr, 0)));
}

std::string Hex(HWND h) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%x", QX_HANDLE_VALUE(h));
  return buf;
}

// Runs on the display thread and waits for the answer (bounded, so a stuck program cannot hang the caller).
std::string OnDisplay(std::function<std::string()> f) {
  auto task = std::make_shared<std::packaged_task<std::string()>>(std::move(f));
  auto result = task->get_future();
  RunOnDisplayThread([task] { (*task)(); });
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
    return "error the program does not answer";
  return result.get();
}

std::string Rest(std::istringstream &in) {
  std::string rest;
  std::getline(in, rest);
  if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  return rest;
}

std::atomic<AutomationExtension> g_extension{nullptr};

std::string Command(const std::string &line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb == "list") {
    return OnDisplay([] {
      std::string out = "ok";
      for (auto &w : LocalWindows()) {
        if (w->parent || w->message_only) continue;
        char cls[256] = {};
        GetClassNameA(w->hwnd, cls, sizeof cls);
        out += "\n" + Hex(w->hwnd) + " " + cls + "|" + w->title;
      }
      return out;
    });
  }
  if (verb == "find") {
    std::string cls, title;
    in >> cls;
    title = Rest(in);
    HWND h = FindWindowA(cls == "-" ? nullptr : cls.c_str(), title.empty() || title == "-" ? nullptr : title.c_str());
    return h ? "ok " + Hex(h) : "error no such window";
  }
  std::string hs;
  in >> hs;
  HWND hwnd = ParseHwnd(hs);
  if (verb == "answer") {
    const int id = static_cast<int>(std::strtol(hs.c_str(), nullptr, 0));
    return OnDisplay([id] {
      HWND box = OpenMessageBox();
      if (!box) return std::string("error no message box is open");
      PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(id), 0);
      return std::string("ok");
    });
  }
  if (!IsWindow(hwnd)) return "error no such window";
  if (verb == "text") {
    char buf[4096] = {};
    GetWindowTextA(hwnd, buf, sizeof buf);
    return std::string("ok ") + buf;
  }
  if (verb == "type") {
    const std::string text = Rest(in);
    return OnDisplay([hwnd, text] {
      HWND top = hwnd;
      while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
      SetActiveWindow(top);
      SetFocus(hwnd);
      TypeText(text);
      return std::string("ok");
    });
  }
  if (verb == "key") {
    int scan = 0, ext = 0;
    std::string dir;
    in >> scan >> ext >> dir;
    InjectKey(static_cast<BYTE>(scan), ext != 0, dir != "up");
    return "ok";
  }
  if (verb == "click") {
    int x = 0, y = 0;
    std::string button = "left";
    in >> x >> y >> button;
    const POINT p = ClientToScreenPoint(hwnd, POINT{x, y});
    const int b = button == "right" ? 2 : button == "middle" ? 3 : 1;
    InjectMouseMove(p);
    for (int i = 0; i < (button == "double" ? 2 : 1); ++i) {
      InjectMouseButton(p, b, true);
      InjectMouseButton(p, b, false);
    }
    return "ok";
  }
  if (verb == "drag") {
    int x = 0, y = 0, x2 = 0, y2 = 0;
    std::string target;
    in >> x >> y >> target >> x2 >> y2;
    HWND to = ParseHwnd(target);
    if (!to) return "error no target window";
    const POINT from = ClientToScreenPoint(hwnd, POINT{x, y});
    const POINT end = ClientToScreenPoint(to, POINT{x2, y2});
    // Each step gets time to be handled, as a hand's would: the press
    // usually takes the capture before the pointer moves on.
    InjectMouseMove(from);
    InjectMouseButton(from, 1, true);
    for (int step = 1; step <= 4; ++step) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      InjectMouseMove(POINT{from.x + (end.x - from.x) * step / 4, from.y + (end.y - from.y) * step / 4});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    InjectMouseButton(end, 1, false);
    return "ok";
  }
  if (verb == "scroll") {
    // What a scroll bar sends its window: WM_VSCROLL or WM_HSCROLL with a
    // scroll code (SB_LINEUP = 0 ... SB_THUMBPOSITION = 4 ...) and a position.
    std::string bar;
    int code = 0, pos = 0;
    in >> bar >> code >> pos;
    if (bar != "v" && bar != "h") return "error the bar is v or h";
    const UINT message = bar == "v" ? WM_VSCROLL : WM_HSCROLL;
    return OnDisplay([hwnd, message, code, pos] {
      // A scroll bar control tells its parent, naming itself; a window's own bar tells the window.
      char cls[16] = "";
      GetClassNameA(hwnd, cls, sizeof cls);
      const bool control = strcasecmp(cls, "ScrollBar") == 0 && GetParent(hwnd);
      SendMessageA(control ? GetParent(hwnd) : hwnd, message, MAKEWPARAM(code, pos),
                   control ? reinterpret_cast<LPARAM>(hwnd) : 0);
      return std::string("ok");
    });
  }
  if (verb == "png") {
    const std::string path = Rest(in);
    if (path.empty()) return "error no file name";
    return OnDisplay(
        [hwnd, path] { return SaveWindowPng(hwnd, path) ? std::string("ok") : std::string("error cannot write"); });
  }
  if (AutomationExtension extra = g_extension.load()) {
    const std::string rest = Rest(in);
    std::string answer = OnDisplay([extra, verb, hwnd, rest] { return extra(verb, hwnd, rest); });
    if (!answer.empty()) return answer;
  }
  return "error unknown command";
}

void Serve(int listener) {
  for (;;) {
    int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) {
      if (errno == EINTR) continue;
      return;
    }
    // Only the same user reaches the owner-only directory; the peer is checked as well.
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(c, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
      close(c);
      continue;
    }
    timeval tv{5, 0};
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string line;
    char ch;
    while (line.size() < 4096 && read(c, &ch, 1) == 1 && ch != '\n') line += ch;
    const std::string reply = Command(line) + "\n";
    (void)!write(c, reply.data(), reply.size());
    close(c);
  }
}

}  // namespace

std::string AutomationSocketPath(pid_t pid) { return RuntimeDir() + "/auto-" + std::to_string(pid) + ".sock"; }

void SetAutomationExtension(AutomationExtension extension) { g_extension.store(extension); }

void StartAutomation() {
  const char *off = std::getenv("QX_AUTOMATION");
  if (off && std::strcmp(off, "0") == 0) return;
  if (!EnsurePrivateDir(RuntimeDir())) return;
  const std::string path = AutomationSocketPath(getpid());
  sockaddr_un addr{};
  const socklen_t length = SocketFileAddress(path, addr);
  if (length == 0) return;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  unlink(path.c_str());
  if (bind(s, reinterpret_cast<sockaddr *>(&addr), length) != 0 || listen(s, 4) != 0) {
    close(s);
    return;
  }
  chmod(path.c_str(), 0600);
  // The socket file goes away with the process.
  static std::string g_path = path;
  std::atexit([] { unlink(g_path.c_str()); });
  std::thread(Serve, s).detach();
}

}  // namespace qx::display
